#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

struct sqlite3;

// Who may do what: logins and their fixed server roles and server permissions (kept in the
// server state), and each database's users, role memberships and permissions (kept in its data
// file, so that a backup carries them as SQL Server's does).
namespace sqlsim {

// ---- the fixed roles and the permissions they carry
// learn.microsoft.com/sql/relational-databases/security/authentication-access/server-level-roles
// and .../database-level-roles

// sysadmin, serveradmin, ..., bulkadmin (lower case; public not among them).
const QStringList& fixedServerRoles();
bool isFixedServerRole(const QString& name); // public too
int serverRolePrincipalId(const QString& role);
// A server permission as SQL Server spells it ("VIEW SERVER STATE"), or empty when unknown.
QString serverPermissionName(const QString& words);
// Server permissions of the roles and grants, with what they imply.
QSet<QString> effectiveServerPermissions(const QSet<QString>& roles, const QSet<QString>& granted);

// db_owner, db_accessadmin, ... (lower case; public not among them).
const QStringList& fixedDatabaseRoles();
bool isFixedDatabaseRole(const QString& name); // public too
int databaseRolePrincipalId(const QString& role);
QString databasePermissionName(const QString& words);
// Database permissions of these fixed roles and grants ("CONTROL" stands for all of them).
QSet<QString> effectiveDatabasePermissions(const QSet<QString>& roles,
                                           const QSet<QString>& granted);

// ---- logins

struct LoginEntry
{
    QString name;
    QByteArray passwordHash; // as sys.sql_logins.password_hash: 0x0200, salt, SHA-512
    QByteArray sid;
    int principalId = 0;
    QString defaultDatabase = QStringLiteral("master");
    QString defaultLanguage; // empty: the server's default language
    QSet<QString> roles;       // fixed server roles, lower case
    QSet<QString> permissions; // server permissions granted
    bool fromFile = false;     // declared by --logins: redeclared at every start
    // --logins database_roles: a user of this login in every user database, in these roles.
    std::optional<QSet<QString>> fileDatabaseRoles;
    QDateTime created;

    bool isSysadmin() const { return roles.contains(QStringLiteral("sysadmin")); }
    bool isWindows() const { return name.contains(u'\\'); }
};

QByteArray hashPassword(const QString& password);
bool passwordMatches(const QByteArray& hash, const QString& password);
// A login of the --logins file keeps its SID across restarts, so that database users mapped to
// it stay mapped; sa's is 0x01.
QByteArray declaredLoginSid(const QString& name);
QByteArray randomSid();

// One line of the --logins file: "name=password" (a sysadmin, as every login was before roles)
// or "name=password; server_roles=dbcreator, ...; server_permissions=VIEW SERVER STATE, ...;
// database_roles=db_backupoperator, ..." (each part optional; a line with any of them has only
// what it names). database_roles stand for the administrator's CREATE USER and ALTER ROLE ...
// ADD MEMBER in every user database. Nothing for comments and blank lines; an error text for a
// line that cannot be read.
struct LoginLine
{
    QString name;
    QString password;
    std::optional<QSet<QString>> roles;         // fixed server roles; nothing: sysadmin
    QSet<QString> permissions;                  // server permissions
    std::optional<QSet<QString>> databaseRoles; // fixed database roles in every user database
};
std::optional<LoginLine> parseLoginLine(const QString& line, QString* error = nullptr);

// ---- database principals

struct DatabaseUser
{
    QString name;
    QByteArray sid;
    int principalId = 0;
    QString type; // S: SQL user, U: Windows user
    QString defaultSchema;
    QDateTime created;
};

struct DatabasePrincipals
{
    QList<DatabaseUser> users;
    QList<std::pair<QString, QString>> members; // (role, member)
    QList<std::pair<QString, QString>> grants;  // (grantee, permission)

    const DatabaseUser* userBySid(const QByteArray& sid) const;
    const DatabaseUser* userByName(const QString& name) const;
    QSet<QString> rolesOf(const QString& member) const; // lower case
    QSet<QString> grantedTo(const QStringList& principals) const;
};

// The tables that hold them in a data file, for a schema written as SQL ("db3").
QStringList databasePrincipalTables(const QString& schemaSql);
// Read through a connection where the file is `schemaSql`; a file made before they existed has
// none.
DatabasePrincipals readDatabasePrincipals(sqlite3* db, const QString& schemaSql);

} // namespace sqlsim
