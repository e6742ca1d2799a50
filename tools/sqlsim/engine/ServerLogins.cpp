// The server's logins: sa, those the --logins file declares, those CREATE LOGIN makes; kept in
// the server state with their roles and server permissions. And KILL of their sessions.
#include "ServerImpl.h"

#include <QFile>
#include <QJsonArray>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

QJsonArray toArray(const QSet<QString>& set)
{
    QStringList list(set.begin(), set.end());
    list.sort();
    return QJsonArray::fromStringList(list);
}

QSet<QString> toSet(const QJsonValue& value)
{
    QSet<QString> out;
    for (const QJsonValue& v : value.toArray())
        out << v.toString();
    return out;
}

} // namespace

void ServerImpl::loadLoginState(const QJsonObject& root)
{
    m_nextPrincipalId = std::max(256, root.value(u"nextPrincipalId"_s).toInt(256));
    for (const QJsonValue& v : root.value(u"logins"_s).toArray()) {
        const QJsonObject o = v.toObject();
        LoginEntry e;
        e.name = o.value(u"name"_s).toString();
        e.sid = QByteArray::fromHex(o.value(u"sid"_s).toString().toLatin1());
        e.principalId = o.value(u"principalId"_s).toInt();
        e.passwordHash = QByteArray::fromHex(o.value(u"passwordHash"_s).toString().toLatin1());
        e.defaultDatabase = o.value(u"defaultDatabase"_s).toString(u"master"_s);
        e.defaultLanguage = o.value(u"defaultLanguage"_s).toString();
        e.roles = toSet(o.value(u"roles"_s));
        e.permissions = toSet(o.value(u"permissions"_s));
        e.fromFile = o.value(u"fromFile"_s).toBool();
        e.created = QDateTime::fromString(o.value(u"created"_s).toString(), Qt::ISODateWithMs);
        if (e.name.isEmpty() || e.sid.isEmpty() || e.principalId <= 0)
            continue;
        m_logins.insert(e.name.toLower(), e);
        m_nextPrincipalId = std::max(m_nextPrincipalId, e.principalId + 1);
    }
}

void ServerImpl::saveLoginState(QJsonObject& root) const
{
    QJsonArray list;
    for (const LoginEntry& e : m_logins) {
        QJsonObject o;
        o.insert(u"name"_s, e.name);
        o.insert(u"sid"_s, QString::fromLatin1(e.sid.toHex()));
        o.insert(u"principalId"_s, e.principalId);
        // Declared logins take their password from the file (or --password) at every start.
        if (!e.fromFile)
            o.insert(u"passwordHash"_s, QString::fromLatin1(e.passwordHash.toHex()));
        o.insert(u"defaultDatabase"_s, e.defaultDatabase);
        o.insert(u"defaultLanguage"_s, e.defaultLanguage);
        o.insert(u"roles"_s, toArray(e.roles));
        o.insert(u"permissions"_s, toArray(e.permissions));
        o.insert(u"fromFile"_s, e.fromFile);
        o.insert(u"created"_s, e.created.toString(Qt::ISODateWithMs));
        list.append(o);
    }
    root.insert(u"logins"_s, list);
    root.insert(u"nextPrincipalId"_s, m_nextPrincipalId);
}

void ServerImpl::loadLogins()
{
    std::lock_guard lock(m_mutex);
    // A declared login is declared anew at every start: its password, roles and permissions
    // are what the file says now; its SID and its default database and language stay.
    const auto declare = [&](const QString& name, const QString& password,
                             const QSet<QString>& roles, const QSet<QString>& permissions,
                             const std::optional<QSet<QString>>& databaseRoles) {
        const QString key = name.toLower();
        LoginEntry e = m_logins.value(key);
        if (e.name.isEmpty() || !e.fromFile) {
            const LoginEntry created = e;
            e = LoginEntry();
            e.sid = declaredLoginSid(name);
            e.created = created.created.isValid() ? created.created : QDateTime::currentDateTime();
            e.principalId = key == u"sa"_s ? 1 : m_nextPrincipalId++;
        }
        e.name = name;
        e.fromFile = true;
        e.roles = roles;
        e.permissions = permissions;
        e.fileDatabaseRoles = databaseRoles;
        e.passwordHash.clear();
        m_logins.insert(key, e);
        m_declaredPasswords.insert(key, password);
    };
    // sa is always there and always sysadmin.
    declare(u"sa"_s, m_options.saPassword, {u"sysadmin"_s}, {}, std::nullopt);
    QSet<QString> declared{u"sa"_s};
    if (!m_options.loginsFile.isEmpty()) {
        QFile f(m_options.loginsFile);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "sqlsim: cannot read the logins file %s\n",
                         qPrintable(m_options.loginsFile));
        } else {
            const QStringList lines = QString::fromUtf8(f.read(1024 * 1024)).split(u'\n');
            for (qsizetype i = 0; i < lines.size(); ++i) {
                QString error;
                const std::optional<LoginLine> line = parseLoginLine(lines[i], &error);
                if (!line) {
                    if (!error.isEmpty())
                        std::fprintf(stderr, "sqlsim: %s line %d: %s\n",
                                     qPrintable(m_options.loginsFile), int(i + 1),
                                     qPrintable(error));
                    continue;
                }
                // "name=password" alone: a sysadmin, as every login was before roles.
                declare(line->name, line->password,
                        line->roles.value_or(QSet<QString>{u"sysadmin"_s}), line->permissions,
                        line->databaseRoles);
                declared << line->name.toLower();
            }
        }
    }
    // Gone from the file: gone from the server.
    for (auto it = m_logins.begin(); it != m_logins.end();) {
        if (it->fromFile && !declared.contains(it.key())) {
            m_declaredPasswords.remove(it.key());
            it = m_logins.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<LoginEntry> ServerImpl::authenticate(const QString& user,
                                                   const QString& password) const
{
    std::lock_guard lock(m_mutex);
    const QString key = user.toLower();
    const auto it = m_logins.constFind(key);
    if (it == m_logins.cend())
        return std::nullopt;
    const auto declared = m_declaredPasswords.constFind(key);
    const bool ok = declared != m_declaredPasswords.cend()
                        ? *declared == password
                        : passwordMatches(it->passwordHash, password);
    if (!ok)
        return std::nullopt;
    return *it;
}

std::optional<LoginEntry> ServerImpl::loginEntry(const QString& name) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_logins.constFind(name.toLower());
    if (it == m_logins.cend())
        return std::nullopt;
    return *it;
}

std::optional<LoginEntry> ServerImpl::loginBySid(const QByteArray& sid) const
{
    std::lock_guard lock(m_mutex);
    for (const LoginEntry& e : m_logins)
        if (!sid.isEmpty() && e.sid == sid)
            return e;
    return std::nullopt;
}

QList<LoginEntry> ServerImpl::loginEntries() const
{
    std::lock_guard lock(m_mutex);
    QList<LoginEntry> out = m_logins.values();
    std::sort(out.begin(), out.end(), [](const LoginEntry& a, const LoginEntry& b) {
        return a.principalId < b.principalId;
    });
    return out;
}

bool ServerImpl::addLogin(LoginEntry entry)
{
    std::lock_guard lock(m_mutex);
    const QString key = entry.name.toLower();
    if (m_logins.contains(key))
        return false;
    entry.principalId = m_nextPrincipalId++;
    m_logins.insert(key, entry);
    saveState();
    return true;
}

void ServerImpl::updateLogin(const LoginEntry& entry)
{
    std::lock_guard lock(m_mutex);
    m_logins.insert(entry.name.toLower(), entry);
    saveState();
}

bool ServerImpl::removeLogin(const QString& name)
{
    std::lock_guard lock(m_mutex);
    const QString key = name.toLower();
    m_declaredPasswords.remove(key);
    const bool removed = m_logins.remove(key) > 0;
    saveState();
    return removed;
}

bool ServerImpl::loggedIn(const QString& login) const
{
    std::lock_guard lock(m_mutex);
    for (const SessionHandle* s : m_sessions)
        if (s->loginName().compare(login, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool ServerImpl::killSession(int spid)
{
    std::lock_guard lock(m_mutex);
    for (SessionHandle* s : m_sessions) {
        if (s->spid() == spid) {
            s->terminate();
            return true;
        }
    }
    return false;
}

bool ServerImpl::mayEnter(const LoginEntry& login, const DatabaseEntry& database) const
{
    // sysadmin enters every database as dbo, and so does its owner (learn.microsoft.com/sql/
    // t-sql/functions/is-member-transact-sql; sys.databases.owner_sid).
    if (login.isSysadmin() || database.ownerSid == login.sid)
        return true;
    // guest may connect to master, tempdb and msdb, and that cannot be revoked there
    // (learn.microsoft.com/sql/relational-databases/policy-based-management/
    // guest-permissions-on-user-databases); elsewhere only when granted.
    const QString name = database.files.name.toLower();
    if (name == u"master"_s || name == u"tempdb"_s || name == u"msdb"_s)
        return true;
    if (login.fileDatabaseRoles && !database.system)
        return true; // a user in every user database (--logins database_roles)
    // What cannot be read is refused later for what it is (offline, files missing).
    if (database.offline)
        return true;
    try {
        catalog::Connection db(database.files.dataFile);
        const DatabasePrincipals principals = readDatabasePrincipals(db.handle(), u"main"_s);
        return principals.userBySid(login.sid) ||
               principals.grantedTo({u"guest"_s}).contains(u"CONNECT"_s);
    } catch (const SqlError&) {
        return true;
    }
}

} // namespace sqlsim
