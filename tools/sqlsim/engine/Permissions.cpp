// Who may do what, as SQL Server decides it: the login's fixed server roles and server
// permissions, and in each database its user, fixed database roles and permissions. The
// checks of the statements and procedures the program runs, the security functions and the
// catalogue views of principals.
#include "SecurityArgs.h"

#include <QFileInfo>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace sqlsim {

using namespace security;

namespace {

bool guestConnects(const QString& database)
{
    // guest may connect to master, tempdb and msdb (learn.microsoft.com/sql/
    // relational-databases/policy-based-management/guest-permissions-on-user-databases).
    return same(database, u"master"_s) || same(database, u"tempdb"_s) || same(database, u"msdb"_s);
}

} // namespace

// ---- the caller

LoginEntry SessionImpl::currentLogin() const
{
    if (auto e = m_server.loginEntry(m_login))
        return *e;
    // Not possible while it is logged in (DROP LOGIN refuses, 15434); nothing granted.
    LoginEntry e;
    e.name = m_login;
    e.sid = declaredLoginSid(m_login);
    return e;
}

bool SessionImpl::isSysadmin() const
{
    return currentLogin().isSysadmin();
}

bool SessionImpl::hasServerPermission(const QString& permission) const
{
    const LoginEntry login = currentLogin();
    return effectiveServerPermissions(login.roles, login.permissions).contains(permission);
}

QByteArray SessionImpl::ownerSid() const
{
    return currentLogin().sid;
}

DatabasePrincipals SessionImpl::principalsOf(const DatabaseEntry& entry)
{
    // Through this session's own connection when it has the file open: its uncommitted
    // CREATE USER counts for itself.
    QString alias;
    {
        std::lock_guard lock(m_published);
        alias = m_attached.value(entry.files.name.toLower());
    }
    if (!alias.isEmpty())
        return readDatabasePrincipals(m_db, Translator::quote(alias));
    try {
        catalog::Connection db(entry.files.dataFile);
        return readDatabasePrincipals(db.handle(), u"main"_s);
    } catch (const SqlError&) {
        return {};
    }
}

SessionImpl::DatabaseRights SessionImpl::databaseRights(const QString& database)
{
    DatabaseRights r;
    const auto entry = m_server.database(database);
    if (!entry)
        return r;
    const LoginEntry login = currentLogin();
    const QSet<QString> server = effectiveServerPermissions(login.roles, login.permissions);
    r.roles << u"public"_s;
    // sysadmin and the owner enter as dbo, a member of db_owner (learn.microsoft.com/sql/t-sql/
    // functions/is-member-transact-sql; sys.database_role_members lists dbo there).
    if (login.isSysadmin() || entry->ownerSid == login.sid) {
        r.access = true;
        r.dbo = true;
        r.userName = u"dbo"_s;
        r.roles << u"db_owner"_s;
        r.permissions = effectiveDatabasePermissions(r.roles, {});
        return r;
    }
    const DatabasePrincipals principals = principalsOf(*entry);
    QStringList grantees{u"public"_s};
    if (const DatabaseUser* user = principals.userBySid(login.sid)) {
        r.access = true;
        r.userName = user->name;
    } else if (login.fileDatabaseRoles && !entry->system) {
        // --logins database_roles: as if the administrator had made its user here and added it
        // to these roles.
        r.access = true;
        r.userName = login.name;
        r.roles += *login.fileDatabaseRoles;
    } else {
        r.userName = u"guest"_s;
        r.access = guestConnects(entry->files.name) ||
                   principals.grantedTo({u"guest"_s}).contains(u"CONNECT"_s);
    }
    grantees << r.userName;
    r.roles += principals.rolesOf(r.userName);
    for (const QString& role : std::as_const(r.roles))
        grantees << role;
    QSet<QString> granted = principals.grantedTo(grantees);
    if (r.access)
        granted << u"CONNECT"_s;
    // Server permissions reach into every database: ALTER ANY DATABASE is ALTER on each, CREATE
    // ANY DATABASE is CREATE DATABASE in master (learn.microsoft.com/sql/relational-databases/
    // security/permissions-database-engine).
    if (server.contains(u"ALTER ANY DATABASE"_s))
        granted << u"ALTER"_s;
    if (server.contains(u"CREATE ANY DATABASE"_s) && same(entry->files.name, u"master"_s))
        granted << u"CREATE DATABASE"_s;
    r.permissions = effectiveDatabasePermissions(r.roles, granted);
    return r;
}

bool SessionImpl::hasDatabasePermission(const QString& database, const QString& permission)
{
    return databaseRights(database).permissions.contains(permission);
}

void SessionImpl::requireAccess(const QString& database)
{
    const auto entry = m_server.database(database);
    // An offline database is refused for that, before anyone's rights are looked at.
    if (!entry || entry->offline)
        return;
    if (!databaseRights(entry->files.name).access)
        throw SqlError(916,
                       u"The server principal \"%1\" is not able to access the database \"%2\" "
                       "under the current security context."_s.arg(m_login, entry->files.name),
                       14);
}

void SessionImpl::refuse(const Message& first, const Message& last)
{
    Message m = first;
    if (m.line <= 1)
        m.line = m_statementLine;
    if (m.procedure.isEmpty() && m_frame)
        m.procedure = m_frame->procedure;
    m_reply->message(m);
    throw SqlError(last);
}

bool SessionImpl::seesSession(int spid) const
{
    // Without VIEW SERVER STATE a login sees only its own session (learn.microsoft.com/sql/
    // relational-databases/system-compatibility-views/sys-sysprocesses-transact-sql,
    // .../system-dynamic-management-views/sys-dm-exec-sessions-transact-sql).
    return spid == m_spid || hasServerPermission(u"VIEW SERVER STATE"_s);
}

// ---- statements

bool SessionImpl::mayCreateDatabase()
{
    // CREATE DATABASE, CREATE ANY DATABASE or ALTER ANY DATABASE (learn.microsoft.com/sql/
    // relational-databases/databases/attach-a-database, "Permissions"; CREATE DATABASE,
    // "Permissions").
    return hasDatabasePermission(u"master"_s, u"CREATE DATABASE"_s);
}

void SessionImpl::checkBackup(const QString& database)
{
    // BACKUP DATABASE permission: sysadmin, db_owner and db_backupoperator by default
    // (learn.microsoft.com/sql/t-sql/statements/backup-transact-sql, "Permissions"). A database
    // that is missing or offline is refused for that by BACKUP itself.
    const auto entry = m_server.database(database);
    if (!entry || entry->offline)
        return;
    if (hasDatabasePermission(entry->files.name, u"BACKUP DATABASE"_s))
        return;
    // 262 "%ls permission denied in database '%.*ls'." then 3013 (learn.microsoft.com/sql/
    // relational-databases/errors-events/database-engine-events-and-errors-0-to-999).
    refuse(message(262, 16,
                   u"BACKUP DATABASE permission denied in database '%1'."_s.arg(entry->files.name)),
           message(3013, 16, u"BACKUP DATABASE is terminating abnormally."_s));
}

void SessionImpl::checkRestore(const QString& kind, const QString& database,
                               const QString& terminating)
{
    const Message end = message(3013, 16, terminating + u" is terminating abnormally."_s);
    const Message noCreate =
        message(262, 16, u"CREATE DATABASE permission denied in database 'master'."_s);
    // FILELISTONLY, HEADERONLY, LABELONLY and VERIFYONLY need CREATE DATABASE permission since
    // SQL Server 2008 (learn.microsoft.com/sql/t-sql/statements/
    // restore-statements-for-restoring-recovering-and-managing-backups-transact-sql).
    if (kind != u"DATABASE"_s && kind != u"LOG"_s) {
        if (!mayCreateDatabase())
            refuse(noCreate, end);
        return;
    }
    // A new database needs CREATE DATABASE permission; over an existing one RESTORE is for
    // sysadmin, dbcreator and the database's owner, not db_owner's members, "because fixed
    // database role membership can be checked only when the database is accessible and
    // undamaged" (learn.microsoft.com/sql/t-sql/statements/restore-statements-transact-sql,
    // "Permissions"). Refused with 3110 (database-engine-events-and-errors-3000-to-3999).
    const auto entry = m_server.database(database);
    if (!entry) {
        if (!mayCreateDatabase())
            refuse(noCreate, end);
        return;
    }
    const LoginEntry login = currentLogin();
    if (login.isSysadmin() || login.roles.contains(u"dbcreator"_s) || entry->ownerSid == login.sid)
        return;
    refuse(message(3110, 14,
                   u"User does not have permission to RESTORE database '%1'."_s.arg(database)),
           end);
}

bool SessionImpl::mayAlterDatabase(const DatabaseEntry& entry)
{
    // ALTER permission on the database (learn.microsoft.com/sql/t-sql/statements/
    // alter-database-transact-sql-set-options, "Permissions"): sysadmin, the owner, ALTER ANY
    // DATABASE (dbcreator), db_owner. The members of db_owner cannot be known while the
    // database is offline.
    const LoginEntry login = currentLogin();
    if (login.isSysadmin() || entry.ownerSid == login.sid ||
        effectiveServerPermissions(login.roles, login.permissions)
            .contains(u"ALTER ANY DATABASE"_s))
        return true;
    return !entry.offline && hasDatabasePermission(entry.files.name, u"ALTER"_s);
}

bool SessionImpl::mayDropDatabase(const DatabaseEntry& entry)
{
    // CONTROL on the database, ALTER ANY DATABASE, or db_owner (learn.microsoft.com/sql/t-sql/
    // statements/drop-database-transact-sql, "Permissions").
    const LoginEntry login = currentLogin();
    if (login.isSysadmin() || entry.ownerSid == login.sid ||
        effectiveServerPermissions(login.roles, login.permissions)
            .contains(u"ALTER ANY DATABASE"_s))
        return true;
    return !entry.offline && hasDatabasePermission(entry.files.name, u"CONTROL"_s);
}

// ---- system procedures

bool SessionImpl::restrictedProcedure(const QString& lower, QList<CallArg>& args, Frame& frame,
                                      CallResult& result)
{
    if (lower == u"sp_procoption"_s) {
        // "Requires membership in the sysadmin fixed server role." (learn.microsoft.com/sql/
        // relational-databases/system-stored-procedures/sp-procoption-transact-sql)
        if (!isSysadmin())
            noPermission();
        return false;
    }
    if (lower == u"sp_detach_db"_s) {
        // "Requires membership in the sysadmin fixed server role or membership in the db_owner
        // role of the database." (.../sp-detach-db-transact-sql). The page names no error;
        // 15247 is what the security procedures answer.
        const auto name = argText(args, u"@dbname"_s, 0);
        const auto entry = name ? m_server.database(*name) : std::nullopt;
        if (entry && !isSysadmin() &&
            (entry->offline || !databaseRights(entry->files.name).roles.contains(u"db_owner"_s)))
            noPermission();
        return false;
    }
    if (lower == u"sp_attach_db"_s || lower == u"sp_attach_single_file_db"_s) {
        // Attaching is CREATE DATABASE ... FOR ATTACH.
        if (!mayCreateDatabase())
            throw SqlError(262, u"CREATE DATABASE permission denied in database 'master'."_s);
        return false;
    }
    // xp_instance_regread is granted to public in master and reads the instance's keys for any
    // login: it keeps to the common path.
    if (!lower.startsWith(u"xp_"_s) || isSysadmin())
        return false;
    // The extended procedures of the server's file system and what a login outside sysadmin
    // gets from them. None is documented; these are the answers reported:
    if (lower == u"xp_fixeddrives"_s || lower == u"xp_create_subdir"_s) {
        // Not granted to public: error 229 on the resource database's sys schema, as monitoring
        // tools report for xp_fixeddrives and as every extended procedure without a grant
        // answers (xp_cmdshell: "Requires CONTROL SERVER permission", learn.microsoft.com/sql/
        // relational-databases/system-stored-procedures/xp-cmdshell-transact-sql).
        throw SqlError(229,
                       u"The EXECUTE permission was denied on the object '%1', database "
                       "'mssqlsystemresource', schema 'sys'."_s.arg(lower),
                       14);
    }
    if (lower == u"xp_fileexist"_s) {
        // Runs, but under the caller's own security context, in which a SQL login sees no
        // file: 0, 0, 0 even for a folder that exists, as users of maintenance and backup
        // scripts running under dbcreator or db_backupoperator logins widely report.
        if (!argText(args, u"@filename"_s, 0))
            throw SqlError(22027, u"Usage:  EXECUTE xp_fileexist <filename> [, <file_exists INT> "
                                  "OUTPUT]"_s);
        const CallArg* out = args.size() > 1 ? &args[1] : nullptr;
        if (out && out->output) {
            Variable v;
            v.type = TypeInfo::of(BaseType::Int);
            v.value = qint64(0);
            result.outputs.append({*out, v});
            return true;
        }
        const TypeInfo integer = TypeInfo::of(BaseType::Int);
        sendRows({column(u"File Exists"_s, integer), column(u"File is a Directory"_s, integer),
                  column(u"Parent Directory Exists"_s, integer)},
                 {{qint64(0), qint64(0), qint64(0)}}, frame);
        return true;
    }
    if (lower == u"xp_dirtree"_s) {
        // Runs for public (which is why it is the classic way for a low-privileged login to
        // make the server reach a share) but, under the caller's context, lists nothing of a
        // local folder.
        const auto files = argText(args, u"@file"_s, 2);
        const bool withFiles = files && files->toLongLong() != 0;
        QList<Column> columns{column(u"subdirectory"_s, TypeInfo::of(BaseType::NVarChar, 512)),
                              column(u"depth"_s, TypeInfo::of(BaseType::Int))};
        if (withFiles)
            columns << column(u"file"_s, TypeInfo::of(BaseType::Int));
        sendRows(columns, {}, frame);
        return true;
    }
    return false;
}

// ---- catalogue views of principals

std::optional<QString> SessionImpl::serverViewTable(const QString& schema, const QString& table,
                                                    const QString& database)
{
    // msdb's backup and restore history tables (learn.microsoft.com/sql/relational-databases/
    // system-tables/backupset-transact-sql and its siblings) carry no grant to public: guest
    // enters msdb, but SELECT takes sysadmin, db_owner or db_datareader there, else 229
    // (database-engine-events-and-errors-0-to-999).
    static const QStringList history = {
        u"backupset"_s,       u"backupmediafamily"_s, u"backupmediaset"_s, u"backupfile"_s,
        u"backupfilegroup"_s, u"restorehistory"_s,    u"restorefile"_s,    u"restorefilegroup"_s};
    if (same(database, u"msdb"_s) && (schema.isEmpty() || schema == u"dbo"_s) &&
        history.contains(table) && !hasDatabasePermission(u"msdb"_s, u"SELECT"_s))
        throw SqlError(229,
                       u"The SELECT permission was denied on the object '%1', database 'msdb', "
                       "schema 'dbo'."_s.arg(table),
                       14);
    if (schema != u"sys"_s)
        return std::nullopt;
    if (table == u"dm_server_services"_s) {
        // "Requires VIEW SERVER STATE permission on the server." (learn.microsoft.com/sql/
        // relational-databases/system-dynamic-management-views/sys-dm-server-services-
        // transact-sql); refused with 300 then 297, as every server-scoped DMV is.
        if (!hasServerPermission(u"VIEW SERVER STATE"_s))
            refuse(
                message(300, 14,
                        u"VIEW SERVER STATE permission was denied on object 'server', "
                        "database 'master'."_s),
                message(297, 16, u"The user does not have permission to perform this action."_s));
        return std::nullopt;
    }
    static const QStringList views = {u"server_principals"_s, u"sql_logins"_s,
                                      u"server_role_members"_s, u"database_principals"_s,
                                      u"database_role_members"_s};
    if (!views.contains(table))
        return std::nullopt;
    if (table.startsWith(u"database_"_s)) {
        if (!m_server.database(database))
            return std::nullopt;
        requireAccess(database);
        fillSecurityView(table + u':' + database);
    } else {
        fillSecurityView(table);
    }
    return u"sqlsim_"_s + table;
}

void SessionImpl::fillSecurityView(const QString& request)
{
    const QString view = request.section(u':', 0, 0);
    const QString database = request.section(u':', 1);
    const auto run = [this](const QString& sql) {
        serverViewExec(sql.toUtf8().constData());
    };
    const auto insert = [this](const QString& sql, const QList<Value>& values) {
        serverViewInsert(sql.toUtf8().constData(), values);
    };
    // Columns of sys.server_principals, sys.sql_logins, sys.server_role_members,
    // sys.database_principals and sys.database_role_members (learn.microsoft.com/sql/
    // relational-databases/system-catalog-views/...).
    static const QString principalColumns =
        u"name nvarchar(128) NOT NULL, principal_id int NOT NULL, sid varbinary(85), "
        "type char(1) NOT NULL, type_desc nvarchar(60), is_disabled int, create_date datetime "
        "NOT NULL, modify_date datetime NOT NULL, default_database_name nvarchar(128), "
        "default_language_name nvarchar(128), credential_id int, owning_principal_id int, "
        "is_fixed_role bit NOT NULL"_s;
    if (!m_securityViewsMade.contains(view)) {
        if (view == u"server_principals"_s)
            run(u"CREATE TEMP TABLE IF NOT EXISTS sqlsim_server_principals ("_s + principalColumns +
                u')');
        else if (view == u"sql_logins"_s)
            run(u"CREATE TEMP TABLE IF NOT EXISTS sqlsim_sql_logins ("_s + principalColumns +
                u", is_policy_checked bit, is_expiration_checked bit, password_hash "
                "varbinary(256))"_s);
        else if (view == u"server_role_members"_s || view == u"database_role_members"_s)
            run(u"CREATE TEMP TABLE IF NOT EXISTS sqlsim_%1 (role_principal_id int NOT NULL, "
                "member_principal_id int NOT NULL)"_s.arg(view));
        else
            run(u"CREATE TEMP TABLE IF NOT EXISTS sqlsim_database_principals (name nvarchar(128) "
                "NOT NULL, principal_id int NOT NULL, type char(1) NOT NULL, type_desc "
                "nvarchar(60), default_schema_name nvarchar(128), create_date datetime NOT NULL, "
                "modify_date datetime NOT NULL, owning_principal_id int, sid varbinary(85), "
                "is_fixed_role bit NOT NULL, authentication_type int NOT NULL, "
                "authentication_type_desc nvarchar(60) NOT NULL, default_language_name "
                "nvarchar(128), default_language_lcid int)"_s);
        m_securityViewsMade << view;
    }
    run(u"DELETE FROM temp.sqlsim_%1"_s.arg(view));

    const LoginEntry me = currentLogin();
    const QSet<QString> server = effectiveServerPermissions(me.roles, me.permissions);
    // "Any login can see their own login name, the system logins, and the fixed server roles."
    // Seeing the others takes ALTER ANY LOGIN or VIEW ANY DEFINITION (sys-server-principals,
    // "Permissions").
    const bool seesLogins =
        server.contains(u"ALTER ANY LOGIN"_s) || server.contains(u"VIEW ANY DEFINITION"_s);
    const Value epoch =
        storageDateTime(QDateTime(QDate(2003, 4, 8), QTime(9, 10, 35)), BaseType::DateTime);
    if (view == u"server_principals"_s || view == u"sql_logins"_s ||
        view == u"server_role_members"_s) {
        const QList<LoginEntry> logins = m_server.loginEntries();
        if (view == u"server_role_members"_s) {
            for (const LoginEntry& l : logins) {
                if (!seesLogins && l.sid != me.sid)
                    continue;
                QStringList roles(l.roles.begin(), l.roles.end());
                roles.sort();
                for (const QString& role : roles)
                    insert(u"INSERT INTO temp.sqlsim_server_role_members VALUES (?1, ?2)"_s,
                           {qint64(serverRolePrincipalId(role)), qint64(l.principalId)});
            }
            return;
        }
        const bool logins_ = view == u"sql_logins"_s;
        const QString table = u"temp.sqlsim_"_s + view;
        if (!logins_) {
            QStringList roles = fixedServerRoles();
            roles.prepend(u"public"_s);
            for (const QString& role : roles)
                insert(u"INSERT INTO %1 VALUES (?1, ?2, ?3, 'R', 'SERVER_ROLE', 0, ?4, ?4, NULL, "
                       "NULL, NULL, ?5, 1)"_s.arg(table),
                       {role, qint64(serverRolePrincipalId(role)),
                        QByteArray(1, char(serverRolePrincipalId(role))), epoch,
                        role == u"public"_s ? Value{} : Value{qint64(1)}});
        }
        for (const LoginEntry& l : logins) {
            if (!seesLogins && l.sid != me.sid && !same(l.name, u"sa"_s))
                continue;
            if (logins_ && l.isWindows())
                continue;
            const Value created =
                l.created.isValid() ? storageDateTime(l.created, BaseType::DateTime) : epoch;
            QList<Value> values{l.name,
                                qint64(l.principalId),
                                l.sid,
                                l.isWindows() ? u"U"_s : u"S"_s,
                                l.isWindows() ? u"WINDOWS_LOGIN"_s : u"SQL_LOGIN"_s,
                                created,
                                l.defaultDatabase,
                                m_server.loginLanguage(l.name).name};
            QString sql = u"INSERT INTO %1 VALUES (?1, ?2, ?3, ?4, ?5, 0, ?6, ?6, ?7, ?8, NULL, "
                          "NULL, 0"_s.arg(table);
            if (logins_) {
                // The hash only for CONTROL SERVER (sys-sql-logins, "Permissions").
                sql += u", 1, 0, ?9"_s;
                values << (server.contains(u"CONTROL SERVER"_s)
                               ? Value{l.passwordHash.isEmpty() ? hashPassword(QString())
                                                                : l.passwordHash}
                               : Value{});
            }
            insert(sql + u')', values);
        }
        return;
    }

    // A database's principals: dbo, guest, its users and the fixed roles.
    const auto entry = m_server.database(database);
    if (!entry)
        return;
    const DatabasePrincipals principals = principalsOf(*entry);
    const DatabaseRights rights = databaseRights(entry->files.name);
    // "Any user can see their own user name, the system users, and the fixed database roles";
    // the others take ALTER ANY USER (sys-database-principals, "Permissions").
    const bool seesUsers = rights.permissions.contains(u"ALTER ANY USER"_s);
    const auto visible = [&](const QString& user) {
        return seesUsers || same(user, rights.userName) || same(user, u"dbo"_s) ||
               same(user, u"guest"_s);
    };
    const auto principalId = [&](const QString& name) -> int {
        if (same(name, u"dbo"_s))
            return 1;
        if (same(name, u"guest"_s))
            return 2;
        if (const DatabaseUser* u = principals.userByName(name))
            return u->principalId;
        return databaseRolePrincipalId(name);
    };
    if (view == u"database_role_members"_s) {
        // dbo in db_owner, then the members the database keeps.
        insert(u"INSERT INTO temp.sqlsim_database_role_members VALUES (16384, 1)"_s, {});
        for (const auto& [role, member] : principals.members)
            if (visible(member) && databaseRolePrincipalId(role) > 0)
                insert(u"INSERT INTO temp.sqlsim_database_role_members VALUES (?1, ?2)"_s,
                       {qint64(databaseRolePrincipalId(role)), qint64(principalId(member))});
        return;
    }
    const QString add = u"INSERT INTO temp.sqlsim_database_principals VALUES (?1, ?2, ?3, ?4, ?5, "
                        "?6, ?6, ?7, ?8, ?9, ?10, ?11, NULL, NULL)"_s;
    insert(add, {u"dbo"_s, qint64(1), u"S"_s, u"SQL_USER"_s, u"dbo"_s, epoch, Value{},
                 entry->ownerSid, qint64(0), qint64(1), u"INSTANCE"_s});
    insert(add, {u"guest"_s, qint64(2), u"S"_s, u"SQL_USER"_s, u"guest"_s, epoch, Value{},
                 QByteArray(1, '\0'), qint64(0), qint64(0), u"NONE"_s});
    for (const DatabaseUser& u : principals.users) {
        if (!visible(u.name))
            continue;
        const bool windows = u.type == u"U"_s;
        insert(add, {u.name, qint64(u.principalId), u.type,
                     windows ? u"WINDOWS_USER"_s : u"SQL_USER"_s, u.defaultSchema,
                     u.created.isValid() ? storageDateTime(u.created, BaseType::DateTime) : epoch,
                     Value{}, u.sid, qint64(0), qint64(windows ? 3 : 1),
                     windows ? u"WINDOWS"_s : u"INSTANCE"_s});
    }
    QStringList roles = fixedDatabaseRoles();
    roles.prepend(u"public"_s);
    for (const QString& role : roles)
        insert(add, {role, qint64(databaseRolePrincipalId(role)), u"R"_s, u"DATABASE_ROLE"_s,
                     Value{}, epoch, qint64(1), Value{}, qint64(role == u"public"_s ? 0 : 1),
                     qint64(0), u"NONE"_s});
}

// ---- functions

namespace {

SessionImpl* sessionOf(sqlite3_context* ctx)
{
    return static_cast<SessionImpl*>(sqlite3_user_data(ctx));
}

QString argString(sqlite3_value* v)
{
    return valueToText(valueOf(v));
}

void answer(sqlite3_context* ctx, const std::function<Value()>& compute)
{
    try {
        const Value v = compute();
        if (const auto* i = std::get_if<qint64>(&v))
            sqlite3_result_int64(ctx, *i);
        else if (const auto* s = std::get_if<QString>(&v)) {
            const QByteArray u = s->toUtf8();
            sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
        } else if (const auto* b = std::get_if<QByteArray>(&v))
            sqlite3_result_blob(ctx, b->constData(), int(b->size()), SQLITE_TRANSIENT);
        else
            sqlite3_result_null(ctx);
    } catch (const SqlError& e) {
        const QByteArray text = encodeError(e.message);
        sqlite3_result_error(ctx, text.constData(), int(text.size()));
    }
}

} // namespace

void SessionImpl::registerSecurityFunctions()
{
    struct Fn
    {
        const char* name;
        int args;
        void (*fn)(sqlite3_context*, int, sqlite3_value**);
    };
    // IS_SRVROLEMEMBER ( 'role' [ , 'login' ] ): 1, 0, or NULL for a role or login that is not
    // valid (learn.microsoft.com/sql/t-sql/functions/is-srvrolemember-transact-sql).
    static const auto isSrvRoleMember = [](sqlite3_context* ctx, int argc, sqlite3_value** argv) {
        SessionImpl* s = sessionOf(ctx);
        answer(ctx, [&]() -> Value {
            if (sqlite3_value_type(argv[0]) == SQLITE_NULL ||
                (argc > 1 && sqlite3_value_type(argv[1]) == SQLITE_NULL))
                return {};
            const QString role = argString(argv[0]).trimmed().toLower();
            if (!isFixedServerRole(role))
                return {};
            const auto login =
                argc > 1 ? s->m_server.loginEntry(argString(argv[1])) : s->currentLogin();
            if (!login)
                return {};
            return qint64(role == u"public"_s || login->roles.contains(role) ? 1 : 0);
        });
    };
    // IS_MEMBER ( 'role' ): the current user in a database role; NULL for a role that is not
    // valid, a server role, or a Windows group asked by a SQL login (learn.microsoft.com/sql/
    // t-sql/functions/is-member-transact-sql).
    static const auto isMember = [](sqlite3_context* ctx, int, sqlite3_value** argv) {
        SessionImpl* s = sessionOf(ctx);
        answer(ctx, [&]() -> Value {
            if (sqlite3_value_type(argv[0]) == SQLITE_NULL)
                return {};
            const QString role = argString(argv[0]).trimmed().toLower();
            if (role.contains(u'\\'))
                return s->currentLogin().isWindows() ? Value{qint64(0)} : Value{};
            if (!isFixedDatabaseRole(role))
                return {};
            return qint64(s->databaseRights(s->m_currentDb).roles.contains(role) ? 1 : 0);
        });
    };
    // HAS_PERMS_BY_NAME ( securable , securable_class , permission [...] ): 1 or 0, NULL when
    // the class or the permission is not valid (learn.microsoft.com/sql/t-sql/functions/
    // has-perms-by-name-transact-sql).
    static const auto hasPermsByName = [](sqlite3_context* ctx, int, sqlite3_value** argv) {
        SessionImpl* s = sessionOf(ctx);
        answer(ctx, [&]() -> Value {
            const bool noSecurable = sqlite3_value_type(argv[0]) == SQLITE_NULL;
            const QString securable = noSecurable ? QString() : argString(argv[0]);
            const QString cls = sqlite3_value_type(argv[1]) == SQLITE_NULL
                                    ? u"SERVER"_s
                                    : argString(argv[1]).trimmed().toUpper();
            if (sqlite3_value_type(argv[2]) == SQLITE_NULL)
                return {};
            const QString words = argString(argv[2]).simplified().toUpper();
            if (cls == u"SERVER"_s) {
                if (!noSecurable)
                    return {};
                const QString p = serverPermissionName(words);
                if (p.isEmpty() && words != u"ANY"_s)
                    return {};
                const LoginEntry me = s->currentLogin();
                const QSet<QString> have = effectiveServerPermissions(me.roles, me.permissions);
                return qint64(words == u"ANY"_s ? !have.isEmpty() : have.contains(p));
            }
            if (cls == u"DATABASE"_s || cls == u"OBJECT"_s) {
                const QString p = databasePermissionName(words);
                if (p.isEmpty() && words != u"ANY"_s)
                    return {};
                QString database = s->m_currentDb;
                if (cls == u"DATABASE"_s) {
                    if (!noSecurable)
                        database = securable;
                } else {
                    const QStringList parts = securable.split(u'.');
                    if (parts.size() == 3)
                        database = parts[0];
                    if (!s->m_functions.objectId(securable, u"U"_s))
                        return {};
                }
                const auto entry = s->m_server.database(database);
                if (!entry)
                    return {};
                const DatabaseRights rights = s->databaseRights(entry->files.name);
                if (words == u"ANY"_s)
                    return qint64(rights.access && !rights.permissions.isEmpty() ? 1 : 0);
                return qint64(rights.permissions.contains(p) ? 1 : 0);
            }
            return {};
        });
    };
    // LOGINPROPERTY ( 'login_name' , 'property_name' ): NULL for a login that is not a SQL
    // login, that the caller may not see, or a property it does not know
    // (learn.microsoft.com/sql/t-sql/functions/loginproperty-transact-sql).
    static const auto loginProperty = [](sqlite3_context* ctx, int, sqlite3_value** argv) {
        SessionImpl* s = sessionOf(ctx);
        answer(ctx, [&]() -> Value {
            const auto login = s->m_server.loginEntry(argString(argv[0]));
            if (!login || login->isWindows())
                return {};
            const LoginEntry me = s->currentLogin();
            const QSet<QString> have = effectiveServerPermissions(me.roles, me.permissions);
            if (login->sid != me.sid && !have.contains(u"ALTER ANY LOGIN"_s) &&
                !have.contains(u"VIEW ANY DEFINITION"_s))
                return {};
            const QString property = argString(argv[1]).trimmed().toLower();
            if (property == u"defaultdatabase"_s)
                return login->defaultDatabase;
            if (property == u"defaultlanguage"_s)
                return s->m_server.loginLanguage(login->name).name;
            if (property == u"passwordhash"_s)
                return have.contains(u"CONTROL SERVER"_s) && !login->passwordHash.isEmpty()
                           ? Value{login->passwordHash}
                           : Value{};
            if (property == u"passwordhashalgorithm"_s)
                return qint64(2);
            if (property == u"islocked"_s || property == u"isexpired"_s ||
                property == u"ismustchange"_s || property == u"badpasswordcount"_s ||
                property == u"lockouttime"_s || property == u"historylength"_s)
                return qint64(0);
            return {};
        });
    };
    // SUSER_SNAME ( server_user_sid ): the login of a SID, NULL for none.
    static const auto suserSname = [](sqlite3_context* ctx, int, sqlite3_value** argv) {
        SessionImpl* s = sessionOf(ctx);
        answer(ctx, [&]() -> Value {
            const Value sid = valueOf(argv[0]);
            const auto* bytes = std::get_if<QByteArray>(&sid);
            const auto login = bytes ? s->m_server.loginBySid(*bytes) : std::nullopt;
            return login ? Value{login->name} : Value{};
        });
    };
    // SUSER_SID ( [ 'login' ] ): the SID of the current login, or of the one named.
    static const auto suserSid = [](sqlite3_context* ctx, int argc, sqlite3_value** argv) {
        SessionImpl* s = sessionOf(ctx);
        answer(ctx, [&]() -> Value {
            const auto login =
                argc > 0 ? s->m_server.loginEntry(argString(argv[0])) : s->currentLogin();
            return login ? Value{login->sid} : Value{};
        });
    };
    // HAS_DBACCESS ( 'database_name' ): 1 when the user may enter it, 0 when not, NULL for no
    // such database (learn.microsoft.com/sql/t-sql/functions/has-dbaccess-transact-sql).
    static const auto hasDbAccess = [](sqlite3_context* ctx, int, sqlite3_value** argv) {
        SessionImpl* s = sessionOf(ctx);
        answer(ctx, [&]() -> Value {
            const auto entry = s->m_server.database(argString(argv[0]));
            if (!entry)
                return {};
            return qint64(s->databaseRights(entry->files.name).access ? 1 : 0);
        });
    };
    static const Fn functions[] = {
        {"tsql_is_srvrolemember", 1, isSrvRoleMember},
        {"tsql_is_srvrolemember", 2, isSrvRoleMember},
        {"tsql_is_member", 1, isMember},
        {"tsql_has_perms_by_name", 3, hasPermsByName},
        {"tsql_has_perms_by_name", 4, hasPermsByName},
        {"tsql_has_perms_by_name", 5, hasPermsByName},
        {"tsql_loginproperty", 2, loginProperty},
        {"tsql_suser_sname", 1, suserSname},
        {"tsql_suser_sid", 0, suserSid},
        {"tsql_suser_sid", 1, suserSid},
        {"tsql_has_dbaccess", 1, hasDbAccess},
    };
    for (const Fn& f : functions)
        sqlite3_create_function_v2(m_db, f.name, f.args, SQLITE_UTF8, this, f.fn, nullptr, nullptr,
                                   nullptr);
}

} // namespace sqlsim
