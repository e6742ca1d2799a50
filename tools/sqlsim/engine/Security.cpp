// The statements and procedures that change who may do what: CREATE / ALTER / DROP LOGIN,
// ALTER SERVER ROLE, CREATE / DROP USER, ALTER ROLE, GRANT and REVOKE of server and database
// permissions, and the older sp_addsrvrolemember, sp_dropsrvrolemember, sp_addrolemember and
// sp_droprolemember.
#include "SecurityArgs.h"
#include "TokenCursor.h"

using namespace Qt::StringLiterals;

namespace sqlsim {

using namespace security;

namespace {

// The statement's own tokens, read again here: the parser only finds where it ends.
class Tokens : public TokenCursor
{
public:
    explicit Tokens(const QString& text) : TokenCursor(tokenize(text)) {}

    bool atEnd() const { return peek().kind == Token::End || peek().isSymbol(u";"); }
    void expectEnd()
    {
        if (!atEnd())
            syntaxError();
    }
    QString name()
    {
        const Token& t = peek();
        if (t.kind == Token::QuotedName) {
            next();
            return t.value;
        }
        if (t.kind != Token::Word)
            syntaxError();
        next();
        return t.text;
    }
    // A name or a string, as option values are written.
    QString value()
    {
        const Token& t = peek();
        if (t.kind == Token::String || t.kind == Token::NString) {
            next();
            return t.value;
        }
        return name();
    }
    // Words up to a comma or one of the stop words: a permission's name.
    QString words(const QStringList& stops)
    {
        QStringList out;
        while (peek().kind == Token::Word && !peek().isSymbol(u",")) {
            bool stop = false;
            for (const QString& s : stops)
                stop = stop || peek().isWord(s);
            if (stop)
                break;
            out << next().text;
        }
        if (out.isEmpty())
            syntaxError();
        return out.join(u' ');
    }
};

[[noreturn]] void notFound(const QString& action, const QString& what, const QString& name)
{
    // "Cannot %S_MSG the %S_MSG '%.*ls', because it does not exist or you do not have
    // permission." (15151, database-engine-events-and-errors-15000-to-15999)
    throw SqlError(15151, u"Cannot %1 the %2 '%3', because it does not exist or you do not have "
                          "permission."_s.arg(action, what, name));
}

[[noreturn]] void specialPrincipal(const QString& name)
{
    throw SqlError(15405, u"Cannot use the special principal '%1'."_s.arg(name), 11);
}

bool isSystemUser(const QString& name)
{
    for (const char* n : {"dbo", "guest", "INFORMATION_SCHEMA", "sys", "public"})
        if (same(name, QString::fromLatin1(n)))
            return true;
    return false;
}

} // namespace

// ---- statements

void SessionImpl::runSecurity(const Stmt& s, Frame& frame)
{
    Tokens t(s.text);
    const Token& first = t.next();
    const LoginEntry me = currentLogin();
    const QSet<QString> server = effectiveServerPermissions(me.roles, me.permissions);
    const auto finish = [&] {
        m_rowcount = 0;
        done(frame, std::nullopt);
    };
    const auto currentEntry = [&] {
        const auto entry = m_server.database(m_currentDb);
        if (!entry)
            throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is "
                                "entered correctly."_s.arg(m_currentDb));
        return *entry;
    };
    // Users, role members and grants live in the current database's file.
    const auto writeDatabase = [&](const QString& sql, const QList<Value>& binds) {
        const auto alias = schemaFor(m_currentDb);
        if (!alias)
            throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is "
                                "entered correctly."_s.arg(m_currentDb));
        const QString schema = Translator::quote(*alias);
        atomically([&] {
            for (const QString& create : databasePrincipalTables(schema))
                execSql(create);
            execSql(QString(sql).replace(u"%S"_s, schema), binds);
        });
    };

    // CREATE LOGIN / ALTER LOGIN (learn.microsoft.com/sql/t-sql/statements/
    // create-login-transact-sql, alter-login-transact-sql): ALTER ANY LOGIN, held by
    // securityadmin; refused with 15247.
    if ((first.isWord(u"create") || first.isWord(u"alter")) && t.peek().isWord(u"login")) {
        const bool create = first.isWord(u"create");
        t.next();
        const QString name = t.name();
        LoginEntry login;
        if (create) {
            if (!server.contains(u"ALTER ANY LOGIN"_s))
                noPermission();
            if (t.peek().isWord(u"from"))
                throw SqlError(40000, u"sqlsim does not support logins made FROM WINDOWS or "
                                      "from certificates; declare them in the --logins file."_s);
            if (m_server.loginEntry(name))
                throw SqlError(15025, u"The server principal '%1' already exists."_s.arg(name));
            login.name = name;
            login.sid = randomSid();
            login.created = QDateTime::currentDateTime();
        } else {
            const auto existing = m_server.loginEntry(name);
            // Its own password, default database and language a login may change itself.
            if (!existing || (existing->sid != me.sid && !server.contains(u"ALTER ANY LOGIN"_s)))
                notFound(u"alter"_s, u"login"_s, name);
            login = *existing;
        }
        t.expectWord(u"with");
        bool password = false;
        do {
            const QString option = t.name().toUpper();
            t.expectSymbol(u"=");
            if (option == u"PASSWORD"_s) {
                const Token& v = t.next();
                if (v.kind != Token::String && v.kind != Token::NString)
                    t.syntaxError();
                if (t.acceptWord(u"hashed"))
                    throw SqlError(40000, u"sqlsim does not support HASHED passwords."_s);
                t.acceptWord(u"must_change");
                login.passwordHash = hashPassword(v.value);
                password = true;
            } else if (option == u"DEFAULT_DATABASE"_s) {
                // Not checked here: a login whose default database is gone fails with 4064.
                login.defaultDatabase = t.value();
            } else if (option == u"DEFAULT_LANGUAGE"_s) {
                login.defaultLanguage = t.value();
            } else if (option == u"CHECK_POLICY"_s || option == u"CHECK_EXPIRATION"_s) {
                if (!t.acceptWord(u"on") && !t.acceptWord(u"off"))
                    t.syntaxError();
            } else if (option == u"OLD_PASSWORD"_s && !create) {
                const Token& v = t.next();
                if ((v.kind != Token::String && v.kind != Token::NString) ||
                    (!login.passwordHash.isEmpty() &&
                     !passwordMatches(login.passwordHash, v.value)))
                    throw SqlError(15151, u"Cannot alter the login '%1', because it does not exist "
                                          "or you do not have permission."_s.arg(name));
            } else if (option == u"SID"_s && create) {
                const Token& v = t.next();
                if (v.kind != Token::Binary)
                    t.syntaxError();
                login.sid = QByteArray::fromHex(v.text.mid(2).toLatin1());
                if (m_server.loginBySid(login.sid))
                    throw SqlError(15433, u"Supplied parameter sid is in use."_s);
            } else {
                throw SqlError(40000,
                               u"sqlsim does not support the login option '%1'."_s.arg(option));
            }
        } while (t.acceptSymbol(u","));
        t.expectEnd();
        if (create && !password)
            t.syntaxError();
        if (create) {
            if (!m_server.addLogin(login))
                throw SqlError(15025, u"The server principal '%1' already exists."_s.arg(name));
        } else {
            if (login.fromFile && password)
                throw SqlError(40000, u"sqlsim takes the password of a login of the --logins "
                                      "file from that file."_s);
            m_server.updateLogin(login);
        }
        finish();
        return;
    }

    // DROP LOGIN (learn.microsoft.com/sql/t-sql/statements/drop-login-transact-sql): "A login
    // that is currently logged in cannot be dropped", nor one that owns a database.
    if (first.isWord(u"drop") && t.peek().isWord(u"login")) {
        t.next();
        const QString name = t.name();
        t.expectEnd();
        const auto login = m_server.loginEntry(name);
        if (!login || !server.contains(u"ALTER ANY LOGIN"_s) || same(name, u"sa"_s))
            notFound(u"drop"_s, u"login"_s, name);
        if (m_server.loggedIn(name))
            throw SqlError(15434,
                           u"Could not drop login '%1' as the user is currently logged in."_s.arg(
                               login->name));
        for (const DatabaseEntry& e : m_server.databases())
            if (e.ownerSid == login->sid)
                throw SqlError(15174,
                               u"Login '%1' owns one or more database(s). Change the owner "
                               "of the database(s) before dropping the login."_s.arg(login->name));
        m_server.removeLogin(name);
        finish();
        return;
    }

    // ALTER SERVER ROLE ... ADD | DROP MEMBER (learn.microsoft.com/sql/t-sql/statements/
    // alter-server-role-transact-sql): "To add a member to a fixed server role, you must be a
    // member of that fixed server role, or be a member of the sysadmin fixed server role."
    if (first.isWord(u"alter") && t.peek().isWord(u"server") && t.peek(1).isWord(u"role")) {
        t.next();
        t.next();
        const QString role = t.name();
        bool add = false;
        if (t.acceptWord(u"add"))
            add = true;
        else if (!t.acceptWord(u"drop"))
            t.syntaxError();
        t.expectWord(u"member");
        const QString member = t.name();
        t.expectEnd();
        const QString key = role.toLower();
        if (!isFixedServerRole(key) || key == u"public"_s ||
            !(me.isSysadmin() || me.roles.contains(key)))
            notFound(u"alter"_s, u"server role"_s, role);
        if (same(member, u"sa"_s))
            specialPrincipal(member);
        auto login = m_server.loginEntry(member);
        if (!login)
            notFound(add ? u"add"_s : u"drop"_s, u"principal"_s, member);
        if (add)
            login->roles.insert(key);
        else
            login->roles.remove(key);
        m_server.updateLogin(*login);
        finish();
        return;
    }

    // CREATE USER ... [ FOR | FROM LOGIN ... ] [ WITH DEFAULT_SCHEMA = ... ]
    // (learn.microsoft.com/sql/t-sql/statements/create-user-transact-sql): ALTER ANY USER in
    // the database, held by db_owner and db_accessadmin.
    if (first.isWord(u"create") && t.peek().isWord(u"user")) {
        t.next();
        const QString name = t.name();
        QString loginName = name;
        QString schema = u"dbo"_s;
        if (t.acceptWord(u"for") || t.acceptWord(u"from")) {
            if (!t.acceptWord(u"login"))
                throw SqlError(40000, u"sqlsim does not support users mapped to certificates or "
                                      "keys."_s);
            loginName = t.name();
        } else if (t.peek().isWord(u"without")) {
            throw SqlError(40000, u"sqlsim does not support users without a login."_s);
        }
        if (t.acceptWord(u"with")) {
            if (!t.name().toUpper().startsWith(u"DEFAULT_SCHEMA"_s))
                t.syntaxError();
            t.expectSymbol(u"=");
            schema = t.name();
        }
        t.expectEnd();
        const DatabaseEntry entry = currentEntry();
        if (!hasDatabasePermission(entry.files.name, u"ALTER ANY USER"_s))
            noPermission();
        const DatabasePrincipals principals = principalsOf(entry);
        if (isSystemUser(name) || isFixedDatabaseRole(name) || principals.userByName(name))
            throw SqlError(15023, u"User, group, or role '%1' already exists in the current "
                                  "database."_s.arg(name));
        const auto login = m_server.loginEntry(loginName);
        if (!login)
            throw SqlError(15007, u"'%1' is not a valid login or you do not have permission."_s.arg(
                                      loginName));
        if (same(login->name, u"sa"_s) && entry.ownerSid != login->sid)
            specialPrincipal(login->name);
        if (entry.ownerSid == login->sid || principals.userBySid(login->sid))
            throw SqlError(15063, u"The login already has an account under a different user "
                                  "name."_s);
        writeDatabase(u"INSERT INTO %S.sqlsim_users (name, sid, principal_id, type, "
                      "default_schema, created) VALUES (?1, ?2, (SELECT max(5, coalesce(max("
                      "principal_id), 0) + 1) FROM %S.sqlsim_users), ?3, ?4, ?5)"_s,
                      {name, login->sid, login->isWindows() ? u"U"_s : u"S"_s, schema,
                       QDateTime::currentDateTime().toString(Qt::ISODateWithMs)});
        finish();
        return;
    }

    // DROP USER (learn.microsoft.com/sql/t-sql/statements/drop-user-transact-sql).
    if (first.isWord(u"drop") && t.peek().isWord(u"user")) {
        t.next();
        const bool ifExists = t.peek().isWord(u"if") && t.peek(1).isWord(u"exists");
        if (ifExists) {
            t.next();
            t.next();
        }
        const QString name = t.name();
        t.expectEnd();
        const DatabaseEntry entry = currentEntry();
        const bool allowed = hasDatabasePermission(entry.files.name, u"ALTER ANY USER"_s);
        if (allowed && isSystemUser(name))
            throw SqlError(15150, u"Cannot drop the user '%1'."_s.arg(name));
        const DatabasePrincipals principals = principalsOf(entry);
        const DatabaseUser* user = principals.userByName(name);
        if (!user && ifExists && allowed) {
            finish();
            return;
        }
        if (!user || !allowed)
            notFound(u"drop"_s, u"user"_s, name);
        writeDatabase(u"DELETE FROM %S.sqlsim_role_members WHERE member = ?1"_s, {user->name});
        writeDatabase(u"DELETE FROM %S.sqlsim_permissions WHERE grantee = ?1"_s, {user->name});
        writeDatabase(u"DELETE FROM %S.sqlsim_users WHERE name = ?1"_s, {user->name});
        finish();
        return;
    }

    // ALTER ROLE ... ADD | DROP MEMBER (learn.microsoft.com/sql/t-sql/statements/
    // alter-role-transact-sql): members of fixed database roles are changed by db_owner.
    if (first.isWord(u"alter") && t.peek().isWord(u"role")) {
        t.next();
        const QString role = t.name();
        bool add = false;
        if (t.acceptWord(u"add"))
            add = true;
        else if (!t.acceptWord(u"drop"))
            t.syntaxError();
        t.expectWord(u"member");
        const QString member = t.name();
        t.expectEnd();
        alterRoleMember(role, member, add, false);
        finish();
        return;
    }

    // GRANT / REVOKE of server permissions (learn.microsoft.com/sql/t-sql/statements/
    // grant-server-permissions-transact-sql) and database permissions (.../
    // grant-database-permissions-transact-sql).
    if (first.isWord(u"grant") || first.isWord(u"revoke")) {
        const bool grant = first.isWord(u"grant");
        // REVOKE GRANT OPTION FOR ... takes the permission away too.
        if (!grant && t.peek().isWord(u"grant") && t.peek(1).isWord(u"option") &&
            t.peek(2).isWord(u"for")) {
            t.next();
            t.next();
            t.next();
        }
        QStringList permissions;
        do
            permissions << t.words({u"on"_s, u"to"_s, u"from"_s});
        while (t.acceptSymbol(u","));
        // Permissions on objects are not played.
        if (t.peek().isWord(u"on"))
            throw SqlError(40000, u"sqlsim does not support '%1'."_s.arg(s.name));
        if (!t.acceptWord(u"to") && !(!grant && t.acceptWord(u"from")))
            t.syntaxError();
        QStringList grantees;
        do
            grantees << t.name();
        while (t.acceptSymbol(u","));
        if (grant && t.acceptWord(u"with")) {
            t.expectWord(u"grant");
            t.expectWord(u"option");
        }
        if (!grant)
            t.acceptWord(u"cascade");
        if (t.peek().isWord(u"as"))
            throw SqlError(40000, u"sqlsim does not support GRANT ... AS."_s);
        t.expectEnd();
        bool serverScope = false;
        bool databaseScope = false;
        QStringList names;
        for (const QString& p : permissions) {
            if (const QString n = serverPermissionName(p); !n.isEmpty()) {
                serverScope = true;
                names << n;
            } else if (const QString d = databasePermissionName(p); !d.isEmpty()) {
                databaseScope = true;
                names << d;
            } else {
                throw SqlError(102, u"Incorrect syntax near '%1'."_s.arg(p.section(u' ', -1)));
            }
        }
        if (serverScope && databaseScope)
            throw SqlError(4620, u"All permissions in a grant/deny/revoke statement should be at "
                                 "the same scope (e.g., server or database)"_s);
        if (serverScope) {
            // "Permissions at the server scope can be granted only when the current database
            // is master."
            if (!same(m_currentDb, u"master"_s))
                throw SqlError(4621, u"Permissions at the server scope can only be granted when "
                                     "the current database is master"_s);
            if (!server.contains(u"CONTROL SERVER"_s))
                throw SqlError(4613, u"Grantor does not have GRANT permission."_s);
            for (const QString& g : grantees) {
                auto login = m_server.loginEntry(g);
                if (!login)
                    notFound(u"find"_s, u"login"_s, g);
                if (same(login->name, u"sa"_s) || login->sid == me.sid)
                    throw SqlError(4624, u"Cannot grant, deny, or revoke permissions to sa, dbo, "
                                         "entity owner, information_schema, sys, or yourself."_s);
                for (const QString& n : std::as_const(names)) {
                    if (grant)
                        login->permissions.insert(n);
                    else
                        login->permissions.remove(n);
                }
                m_server.updateLogin(*login);
            }
            finish();
            return;
        }
        const DatabaseEntry entry = currentEntry();
        if (names.contains(u"CREATE DATABASE"_s) && !same(entry.files.name, u"master"_s))
            throw SqlError(4619, u"CREATE DATABASE permission can only be granted in the master "
                                 "database."_s);
        const DatabaseRights rights = databaseRights(entry.files.name);
        if (!rights.roles.contains(u"db_owner"_s) && !rights.roles.contains(u"db_securityadmin"_s))
            throw SqlError(4613, u"Grantor does not have GRANT permission."_s);
        const DatabasePrincipals principals = principalsOf(entry);
        for (const QString& g : grantees) {
            if (same(g, u"dbo"_s) || same(g, u"sys"_s) || same(g, u"INFORMATION_SCHEMA"_s))
                throw SqlError(4624, u"Cannot grant, deny, or revoke permissions to sa, dbo, "
                                     "entity owner, information_schema, sys, or yourself."_s);
            const DatabaseUser* user = principals.userByName(g);
            const bool known = user || same(g, u"guest"_s) || isFixedDatabaseRole(g);
            if (!known)
                notFound(u"find"_s, u"user"_s, g);
            const QString grantee = user ? user->name : g.toLower();
            for (const QString& n : std::as_const(names))
                writeDatabase(grant ? u"INSERT OR IGNORE INTO %S.sqlsim_permissions (grantee, "
                                      "permission) VALUES (?1, ?2)"_s
                                    : u"DELETE FROM %S.sqlsim_permissions WHERE grantee = ?1 AND "
                                      "permission = ?2"_s,
                              {grantee, n});
        }
        finish();
        return;
    }
    // KILL session_id (learn.microsoft.com/sql/t-sql/language-elements/kill-transact-sql):
    // "Requires the ALTER ANY CONNECTION permission", held by sysadmin and processadmin.
    if (first.isWord(u"kill")) {
        const Token& spid = t.next();
        if (spid.kind != Token::Integer)
            throw SqlError(
                40000, u"sqlsim does not support '%1' other than KILL session_id."_s.arg(s.name));
        t.expectEnd();
        if (!server.contains(u"ALTER ANY CONNECTION"_s))
            throw SqlError(6102, u"User does not have permission to use the KILL statement."_s, 14);
        const int id = spid.text.toInt();
        if (id == m_spid)
            throw SqlError(6104, u"Cannot use KILL to kill your own process."_s);
        if (!m_server.killSession(id))
            throw SqlError(6106, u"Process ID %1 is not an active process ID."_s.arg(id));
        finish();
        return;
    }
    throw SqlError(40000, u"sqlsim does not support '%1'."_s.arg(s.name));
}

void SessionImpl::alterRoleMember(const QString& role, const QString& member, bool add,
                                  bool procedure)
{
    const auto entry = m_server.database(m_currentDb);
    if (!entry)
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(m_currentDb));
    const QString key = role.toLower();
    // sp_addrolemember names its errors (learn.microsoft.com/sql/relational-databases/
    // system-stored-procedures/sp-addrolemember-transact-sql): 15014 for no such role, 15410
    // for no such member; ALTER ROLE answers 15151 for both.
    if (!isFixedDatabaseRole(key)) {
        if (procedure)
            throw SqlError(15014,
                           u"The role '%1' does not exist in the current database."_s.arg(role));
        notFound(u"alter"_s, u"role"_s, role);
    }
    if (key == u"public"_s)
        throw SqlError(15081, u"Membership of the public role cannot be changed."_s);
    // "Adding members to fixed database roles requires membership in the db_owner fixed
    // database role."
    if (!databaseRights(entry->files.name).roles.contains(u"db_owner"_s)) {
        if (procedure)
            noPermission();
        notFound(u"alter"_s, u"role"_s, role);
    }
    if (same(member, u"dbo"_s))
        specialPrincipal(member);
    const DatabasePrincipals principals = principalsOf(*entry);
    const DatabaseUser* user = principals.userByName(member);
    if (!user) {
        if (procedure)
            throw SqlError(15410,
                           u"User or role '%1' does not exist in this database."_s.arg(member), 11);
        notFound(add ? u"add"_s : u"drop"_s, u"principal"_s, member);
    }
    const auto alias = schemaFor(entry->files.name);
    if (!alias)
        return;
    const QString schema = Translator::quote(*alias);
    const QString canonicalRole = key;
    const QString name = user->name;
    atomically([&] {
        for (const QString& create : databasePrincipalTables(schema))
            execSql(create);
        if (add)
            execSql(u"INSERT OR IGNORE INTO %1.sqlsim_role_members (role, member) VALUES (?1, ?2)"_s
                        .arg(schema),
                    {canonicalRole, name});
        else
            execSql(
                u"DELETE FROM %1.sqlsim_role_members WHERE role = ?1 AND member = ?2"_s.arg(schema),
                {canonicalRole, name});
    });
}

// ---- procedures

bool SessionImpl::isSecurityProcedure(const QString& lower) const
{
    return lower == u"sp_addsrvrolemember"_s || lower == u"sp_dropsrvrolemember"_s ||
           lower == u"sp_addrolemember"_s || lower == u"sp_droprolemember"_s;
}

void SessionImpl::callSecurityProcedure(const QString& lower, QList<CallArg>& args, Frame& frame,
                                        CallResult& result)
{
    Q_UNUSED(frame);
    Q_UNUSED(result);
    const bool add = lower.startsWith(u"sp_add"_s);
    if (lower.endsWith(u"srvrolemember"_s)) {
        // sp_addsrvrolemember [ @loginame = ] 'login', [ @rolename = ] 'role'
        // (learn.microsoft.com/sql/relational-databases/system-stored-procedures/
        // sp-addsrvrolemember-transact-sql): not in a transaction; "Requires membership in the
        // role to which the new member is being added."
        if (m_trancount > 0)
            throw SqlError(15002, u"The procedure '%1' cannot be executed within a "
                                  "transaction."_s.arg(lower));
        const auto loginName = argText(args, u"@loginame"_s, 0);
        const auto role = argText(args, u"@rolename"_s, 1);
        const QString key = role.value_or(QString()).trimmed().toLower();
        if (!role || !fixedServerRoles().contains(key))
            throw SqlError(15402, u"'%1' is not a fixed server role."_s.arg(role.value_or(u""_s)),
                           11);
        const LoginEntry me = currentLogin();
        if (!me.isSysadmin() && !me.roles.contains(key))
            noPermission();
        if (loginName && same(*loginName, u"sa"_s))
            specialPrincipal(*loginName);
        auto login = loginName ? m_server.loginEntry(*loginName) : std::nullopt;
        if (!login)
            throw SqlError(15007, u"'%1' is not a valid login or you do not have "
                                  "permission."_s.arg(loginName.value_or(u""_s)));
        if (add)
            login->roles.insert(key);
        else
            login->roles.remove(key);
        m_server.updateLogin(*login);
        return;
    }
    // sp_addrolemember [ @rolename = ] 'role', [ @membername = ] 'security_account'
    const auto role = argText(args, u"@rolename"_s, 0);
    const auto member = argText(args, u"@membername"_s, 1);
    alterRoleMember(role.value_or(QString()), member.value_or(QString()), add, true);
}

} // namespace sqlsim
