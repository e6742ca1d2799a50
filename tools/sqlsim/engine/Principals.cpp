#include "Principals.h"

#include "SqliteFunctions.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

QString normalWords(const QString& words)
{
    return words.simplified().toUpper();
}

// Server permissions that GRANT takes and HAS_PERMS_BY_NAME knows
// (learn.microsoft.com/sql/t-sql/statements/grant-server-permissions-transact-sql).
const QSet<QString>& serverPermissions()
{
    static const QSet<QString> names = {
        u"ADMINISTER BULK OPERATIONS"_s,
        u"ALTER ANY CONNECTION"_s,
        u"ALTER ANY CREDENTIAL"_s,
        u"ALTER ANY DATABASE"_s,
        u"ALTER ANY ENDPOINT"_s,
        u"ALTER ANY EVENT NOTIFICATION"_s,
        u"ALTER ANY LINKED SERVER"_s,
        u"ALTER ANY LOGIN"_s,
        u"ALTER ANY SERVER ROLE"_s,
        u"ALTER RESOURCES"_s,
        u"ALTER SERVER STATE"_s,
        u"ALTER SETTINGS"_s,
        u"ALTER TRACE"_s,
        u"AUTHENTICATE SERVER"_s,
        u"CONNECT ANY DATABASE"_s,
        u"CONNECT SQL"_s,
        u"CONTROL SERVER"_s,
        u"CREATE ANY DATABASE"_s,
        u"CREATE DDL EVENT NOTIFICATION"_s,
        u"CREATE ENDPOINT"_s,
        u"CREATE SERVER ROLE"_s,
        u"CREATE TRACE EVENT NOTIFICATION"_s,
        u"EXTERNAL ACCESS ASSEMBLY"_s,
        u"IMPERSONATE ANY LOGIN"_s,
        u"SELECT ALL USER SECURABLES"_s,
        u"SHUTDOWN"_s,
        u"UNSAFE ASSEMBLY"_s,
        u"VIEW ANY DATABASE"_s,
        u"VIEW ANY DEFINITION"_s,
        u"VIEW SERVER STATE"_s,
    };
    return names;
}

// Database permissions (learn.microsoft.com/sql/t-sql/statements/
// grant-database-permissions-transact-sql), the ones the simulator has a use for.
const QSet<QString>& databasePermissions()
{
    static const QSet<QString> names = {
        u"ALTER"_s,
        u"ALTER ANY ROLE"_s,
        u"ALTER ANY SCHEMA"_s,
        u"ALTER ANY USER"_s,
        u"BACKUP DATABASE"_s,
        u"BACKUP LOG"_s,
        u"CHECKPOINT"_s,
        u"CONNECT"_s,
        u"CONTROL"_s,
        u"CREATE DATABASE"_s,
        u"CREATE FUNCTION"_s,
        u"CREATE PROCEDURE"_s,
        u"CREATE ROLE"_s,
        u"CREATE SCHEMA"_s,
        u"CREATE TABLE"_s,
        u"CREATE VIEW"_s,
        u"DELETE"_s,
        u"EXECUTE"_s,
        u"INSERT"_s,
        u"REFERENCES"_s,
        u"SELECT"_s,
        u"SHOWPLAN"_s,
        u"TAKE OWNERSHIP"_s,
        u"UPDATE"_s,
        u"VIEW DATABASE STATE"_s,
        u"VIEW DEFINITION"_s,
    };
    return names;
}

} // namespace

const QStringList& fixedServerRoles()
{
    static const QStringList roles = {u"sysadmin"_s,   u"securityadmin"_s, u"serveradmin"_s,
                                      u"setupadmin"_s, u"processadmin"_s,  u"diskadmin"_s,
                                      u"dbcreator"_s,  u"bulkadmin"_s};
    return roles;
}

bool isFixedServerRole(const QString& name)
{
    const QString n = name.toLower();
    return n == u"public"_s || fixedServerRoles().contains(n);
}

int serverRolePrincipalId(const QString& role)
{
    // sys.server_principals numbers them so: public 2, sysadmin 3 ... bulkadmin 10.
    const QString n = role.toLower();
    if (n == u"public"_s)
        return 2;
    const qsizetype i = fixedServerRoles().indexOf(n);
    return i < 0 ? 0 : int(i) + 3;
}

QString serverPermissionName(const QString& words)
{
    const QString n = normalWords(words);
    return serverPermissions().contains(n) ? n : QString();
}

QSet<QString> effectiveServerPermissions(const QSet<QString>& roles, const QSet<QString>& granted)
{
    // What each fixed server role may do (server-level-roles, "Permissions of fixed
    // server-level roles"); every login is in public, which has CONNECT SQL and VIEW ANY
    // DATABASE.
    QSet<QString> out = granted;
    out << u"CONNECT SQL"_s << u"VIEW ANY DATABASE"_s;
    if (roles.contains(u"sysadmin"_s) || out.contains(u"CONTROL SERVER"_s))
        return serverPermissions();
    if (roles.contains(u"serveradmin"_s))
        out << u"ALTER ANY ENDPOINT"_s << u"ALTER RESOURCES"_s << u"ALTER SERVER STATE"_s
            << u"ALTER SETTINGS"_s << u"SHUTDOWN"_s << u"VIEW SERVER STATE"_s
            << u"CREATE ENDPOINT"_s;
    if (roles.contains(u"securityadmin"_s))
        out << u"ALTER ANY LOGIN"_s;
    if (roles.contains(u"processadmin"_s))
        out << u"ALTER ANY CONNECTION"_s << u"ALTER SERVER STATE"_s;
    if (roles.contains(u"setupadmin"_s))
        out << u"ALTER ANY LINKED SERVER"_s;
    if (roles.contains(u"bulkadmin"_s))
        out << u"ADMINISTER BULK OPERATIONS"_s;
    if (roles.contains(u"diskadmin"_s))
        out << u"ALTER RESOURCES"_s;
    if (roles.contains(u"dbcreator"_s))
        out << u"ALTER ANY DATABASE"_s << u"CREATE ANY DATABASE"_s;
    // Implied permissions (learn.microsoft.com/sql/relational-databases/security/
    // permissions-database-engine): ALTER SERVER STATE covers VIEW SERVER STATE, ALTER ANY
    // DATABASE covers CREATE ANY DATABASE.
    if (out.contains(u"ALTER SERVER STATE"_s))
        out << u"VIEW SERVER STATE"_s;
    if (out.contains(u"ALTER ANY DATABASE"_s))
        out << u"CREATE ANY DATABASE"_s;
    return out;
}

const QStringList& fixedDatabaseRoles()
{
    static const QStringList roles = {
        u"db_owner"_s,      u"db_accessadmin"_s,    u"db_securityadmin"_s,
        u"db_ddladmin"_s,   u"db_backupoperator"_s, u"db_datareader"_s,
        u"db_datawriter"_s, u"db_denydatareader"_s, u"db_denydatawriter"_s};
    return roles;
}

bool isFixedDatabaseRole(const QString& name)
{
    const QString n = name.toLower();
    return n == u"public"_s || fixedDatabaseRoles().contains(n);
}

int databaseRolePrincipalId(const QString& role)
{
    static const QHash<QString, int> ids = {
        {u"public"_s, 0},
        {u"db_owner"_s, 16384},
        {u"db_accessadmin"_s, 16385},
        {u"db_securityadmin"_s, 16386},
        {u"db_ddladmin"_s, 16387},
        {u"db_backupoperator"_s, 16389},
        {u"db_datareader"_s, 16390},
        {u"db_datawriter"_s, 16391},
        {u"db_denydatareader"_s, 16392},
        {u"db_denydatawriter"_s, 16393},
    };
    return ids.value(role.toLower(), -1);
}

QString databasePermissionName(const QString& words)
{
    const QString n = normalWords(words);
    return databasePermissions().contains(n) ? n : QString();
}

QSet<QString> effectiveDatabasePermissions(const QSet<QString>& roles, const QSet<QString>& granted)
{
    // database-level-roles: what each fixed database role may do.
    if (roles.contains(u"db_owner"_s) || granted.contains(u"CONTROL"_s))
        return databasePermissions();
    QSet<QString> out = granted;
    if (roles.contains(u"db_accessadmin"_s))
        out << u"ALTER ANY USER"_s << u"CREATE SCHEMA"_s;
    if (roles.contains(u"db_securityadmin"_s))
        out << u"ALTER ANY ROLE"_s << u"CREATE SCHEMA"_s << u"VIEW DEFINITION"_s;
    if (roles.contains(u"db_ddladmin"_s))
        out << u"ALTER ANY SCHEMA"_s << u"CREATE FUNCTION"_s << u"CREATE PROCEDURE"_s
            << u"CREATE SCHEMA"_s << u"CREATE TABLE"_s << u"CREATE VIEW"_s << u"REFERENCES"_s;
    if (roles.contains(u"db_backupoperator"_s))
        out << u"BACKUP DATABASE"_s << u"BACKUP LOG"_s << u"CHECKPOINT"_s;
    if (roles.contains(u"db_datareader"_s))
        out << u"SELECT"_s;
    if (roles.contains(u"db_datawriter"_s))
        out << u"INSERT"_s << u"UPDATE"_s << u"DELETE"_s;
    if (roles.contains(u"db_denydatareader"_s))
        out.remove(u"SELECT"_s);
    if (roles.contains(u"db_denydatawriter"_s)) {
        out.remove(u"INSERT"_s);
        out.remove(u"UPDATE"_s);
        out.remove(u"DELETE"_s);
    }
    return out;
}

// ---- logins

QByteArray hashPassword(const QString& password)
{
    // SQL Server 2012 and later: version 0x0200, a 4-byte salt, SHA-512 of the UTF-16LE
    // password followed by the salt (sys.sql_logins.password_hash).
    QByteArray salt(4, '\0');
    for (char& c : salt)
        c = char(QRandomGenerator::global()->bounded(256));
    QByteArray data(reinterpret_cast<const char*>(password.utf16()), password.size() * 2);
    return QByteArray("\x02\x00", 2) + salt +
           QCryptographicHash::hash(data + salt, QCryptographicHash::Sha512);
}

bool passwordMatches(const QByteArray& hash, const QString& password)
{
    if (hash.size() != 2 + 4 + 64 || !hash.startsWith(QByteArray("\x02\x00", 2)))
        return false;
    const QByteArray salt = hash.mid(2, 4);
    QByteArray data(reinterpret_cast<const char*>(password.utf16()), password.size() * 2);
    return QCryptographicHash::hash(data + salt, QCryptographicHash::Sha512) == hash.mid(6);
}

QByteArray declaredLoginSid(const QString& name)
{
    if (name.compare(u"sa"_s, Qt::CaseInsensitive) == 0)
        return QByteArray(1, '\x01');
    return QCryptographicHash::hash(name.toLower().toUtf8(), QCryptographicHash::Md5);
}

QByteArray randomSid()
{
    // A SQL login's SID is 16 bytes, a GUID (sys.server_principals.sid).
    QByteArray sid(16, '\0');
    for (char& c : sid)
        c = char(QRandomGenerator::global()->bounded(256));
    return sid;
}

std::optional<LoginLine> parseLoginLine(const QString& raw, QString* error)
{
    QString line = raw;
    if (line.endsWith(u'\r'))
        line.chop(1);
    if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#'))
        return std::nullopt;
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return std::nullopt;
    };
    const qsizetype equals = line.indexOf(u'=');
    if (equals <= 0)
        return fail(u"no \"=\" in \"%1\""_s.arg(line.trimmed()));
    LoginLine out;
    out.name = line.left(equals).trimmed();
    out.password = line.mid(equals + 1);
    // The password runs to the first "; server_roles=", "; server_permissions=" or
    // "; database_roles=": a password of the older form keeps every other character.
    static const QRegularExpression part(
        u";\\s*(server_roles|server_permissions|database_roles)\\s*="_s,
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch first = part.match(out.password);
    if (first.hasMatch()) {
        const QString parts = out.password.mid(first.capturedStart());
        out.password.truncate(first.capturedStart());
        out.roles = QSet<QString>();
        QRegularExpressionMatchIterator it = part.globalMatch(parts);
        QList<QRegularExpressionMatch> matches;
        while (it.hasNext())
            matches << it.next();
        for (qsizetype i = 0; i < matches.size(); ++i) {
            const qsizetype end =
                i + 1 < matches.size() ? matches[i + 1].capturedStart() : parts.size();
            const QString key = matches[i].captured(1).toLower();
            const QString list =
                parts.mid(matches[i].capturedEnd(), end - matches[i].capturedEnd());
            if (key == u"database_roles"_s && !out.databaseRoles)
                out.databaseRoles = QSet<QString>();
            for (const QString& item : list.split(u',', Qt::SkipEmptyParts)) {
                const QString word = item.trimmed();
                if (word.isEmpty() || word.compare(u"public"_s, Qt::CaseInsensitive) == 0)
                    continue;
                if (key == u"server_roles"_s && isFixedServerRole(word))
                    out.roles->insert(word.toLower());
                else if (key == u"database_roles"_s && isFixedDatabaseRole(word))
                    out.databaseRoles->insert(word.toLower());
                else if (const QString p = serverPermissionName(word);
                         key == u"server_permissions"_s && !p.isEmpty())
                    out.permissions.insert(p);
                else
                    return fail(u"\"%1\" is not one of the %2 (login %3)"_s.arg(
                        word,
                        key == u"server_roles"_s     ? u"fixed server roles"_s
                        : key == u"database_roles"_s ? u"fixed database roles"_s
                                                     : u"server permissions"_s,
                        out.name));
            }
        }
    }
    if (out.name.isEmpty())
        return fail(u"no login name in \"%1\""_s.arg(line.trimmed()));
    return out;
}

// ---- database principals

const DatabaseUser* DatabasePrincipals::userBySid(const QByteArray& sid) const
{
    for (const DatabaseUser& u : users)
        if (!sid.isEmpty() && u.sid == sid)
            return &u;
    return nullptr;
}

const DatabaseUser* DatabasePrincipals::userByName(const QString& name) const
{
    for (const DatabaseUser& u : users)
        if (u.name.compare(name, Qt::CaseInsensitive) == 0)
            return &u;
    return nullptr;
}

QSet<QString> DatabasePrincipals::rolesOf(const QString& member) const
{
    QSet<QString> out;
    for (const auto& [role, m] : members)
        if (m.compare(member, Qt::CaseInsensitive) == 0)
            out << role.toLower();
    return out;
}

QSet<QString> DatabasePrincipals::grantedTo(const QStringList& principals) const
{
    QSet<QString> out;
    for (const auto& [grantee, permission] : grants)
        for (const QString& p : principals)
            if (grantee.compare(p, Qt::CaseInsensitive) == 0)
                out << permission;
    return out;
}

QStringList databasePrincipalTables(const QString& schemaSql)
{
    return {
        u"CREATE TABLE IF NOT EXISTS %1.sqlsim_users (name TEXT NOT NULL PRIMARY KEY COLLATE "
        "TSQL, sid BLOB NOT NULL, principal_id INTEGER NOT NULL, type TEXT NOT NULL, "
        "default_schema TEXT, created TEXT)"_s.arg(schemaSql),
        u"CREATE TABLE IF NOT EXISTS %1.sqlsim_role_members (role TEXT NOT NULL COLLATE TSQL, "
        "member TEXT NOT NULL COLLATE TSQL, PRIMARY KEY (role, member))"_s.arg(schemaSql),
        u"CREATE TABLE IF NOT EXISTS %1.sqlsim_permissions (grantee TEXT NOT NULL COLLATE TSQL, "
        "permission TEXT NOT NULL, PRIMARY KEY (grantee, permission))"_s.arg(schemaSql),
    };
}

DatabasePrincipals readDatabasePrincipals(sqlite3* db, const QString& schemaSql)
{
    DatabasePrincipals out;
    const auto query = [&](const QString& sql, const std::function<void(sqlite3_stmt*)>& row) {
        sqlite3_stmt* st = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW)
                row(st);
        sqlite3_finalize(st);
    };
    const auto text = [](sqlite3_stmt* st, int column) {
        return valueToText(columnValue(st, column));
    };
    query(u"SELECT name, sid, principal_id, type, default_schema, created FROM "
          "%1.sqlsim_users ORDER BY principal_id"_s.arg(schemaSql),
          [&](sqlite3_stmt* st) {
              DatabaseUser u;
              u.name = text(st, 0);
              const Value sid = columnValue(st, 1);
              if (const auto* b = std::get_if<QByteArray>(&sid))
                  u.sid = *b;
              u.principalId = sqlite3_column_int(st, 2);
              u.type = text(st, 3);
              u.defaultSchema = text(st, 4);
              u.created = QDateTime::fromString(text(st, 5), Qt::ISODateWithMs);
              out.users << u;
          });
    query(u"SELECT role, member FROM %1.sqlsim_role_members"_s.arg(schemaSql),
          [&](sqlite3_stmt* st) {
              out.members.append({text(st, 0), text(st, 1)});
          });
    query(u"SELECT grantee, permission FROM %1.sqlsim_permissions"_s.arg(schemaSql),
          [&](sqlite3_stmt* st) {
              out.grants.append({text(st, 0), text(st, 1)});
          });
    return out;
}

} // namespace sqlsim
