#include "ServerRights.h"

#include "Connection.h"
#include "DbError.h"
#include "TextDecoding.h"

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace {

constexpr int askTimeoutSeconds = 60;

std::optional<bool> flag(const QVariant& value)
{
    // NULL: the server does not know the role or permission (a misspelt name, an old version).
    if (value.isNull() || !value.isValid())
        return std::nullopt;
    return value.toInt() == 1;
}

} // namespace

namespace neededRight {
// Each as the statement's documentation gives its permissions.
const QString backup = u"для резервного копирования нужна роль db_backupoperator или db_owner в "
                       u"этой базе (или роль сервера sysadmin)"_s;
const QString restoreNew = u"для восстановления новой базы нужно право CREATE DATABASE (роль "
                           u"сервера dbcreator или sysadmin)"_s;
const QString restoreOver = u"для восстановления поверх существующей базы нужна роль сервера "
                            u"dbcreator или sysadmin, либо владение этой базой"_s;
const QString readBackup = u"для чтения файла резервной копии нужно право CREATE DATABASE (роль "
                           u"сервера dbcreator или sysadmin)"_s;
const QString attach = u"для подключения базы нужно право CREATE DATABASE (роль сервера "
                       u"dbcreator или sysadmin)"_s;
const QString detach =
    u"для отключения базы нужна роль db_owner в этой базе (или роль сервера sysadmin)"_s;
const QString startupProcedure =
    u"чтобы назначить процедуру, запускаемую при старте сервера, нужна роль сервера sysadmin"_s;
const QString viewServerState = u"чтобы видеть чужие подключения к базе, нужно право VIEW "
                                u"SERVER STATE (или роль сервера sysadmin)"_s;
} // namespace neededRight

QString ServerRights::loginText() const
{
    return login.isEmpty() ? u"текущей учётной записи"_s : u"учётной записи \""_s + login + u'"';
}

ServerRights AskServerRights(db::Connection& connection)
{
    ServerRights rights;
    try {
        if (!connection.isOpen())
            connection.open();
        const auto rows = connection.openRecordSet(
            u"SELECT SUSER_SNAME() AS login, IS_SRVROLEMEMBER('sysadmin') AS sysadmin, "
            u"HAS_PERMS_BY_NAME(NULL, NULL, 'VIEW SERVER STATE') AS view_server_state"_s,
            askTimeoutSeconds);
        if (rows->isEmpty())
            return rights;
        rights.login = platform::trimBlanks(rows->value(0, 0).toString()).toString();
        rights.sysadmin = flag(rows->value(0, 1));
        rights.viewServerState = flag(rows->value(0, 2));
    } catch (const db::DbError& error) {
        // A server without these functions (before 2005) leaves the rights unknown.
        if (error.isConnectionLoss())
            throw;
    }
    return rights;
}

bool IsPermissionError(int number)
{
    // 229/230 object and column permission denied, 262 statement permission denied in a
    // database, 297 and 15247 "does not have permission to perform this action", 300 a
    // server-level permission denied, 916 no access to the database, 3110 RESTORE, 5011 ALTER
    // DATABASE.
    static constexpr std::array numbers{229, 230, 262, 297, 300, 916, 3110, 5011, 15247};
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

QString RightsHint(const std::exception& error, const ServerRights& rights, const QString& needed)
{
    const int number = serverErrorOf(error);
    if (!IsPermissionError(number))
        return {};
    const QString what = number == 5011
                             ? u"чтобы отключить другие подключения и перевести базу в OFFLINE, "
                               u"нужно право ALTER на эту базу (роль db_owner, dbcreator или "
                               u"sysadmin)"_s
                             : needed;
    QString login = rights.loginText();
    login[0] = login[0].toUpper();
    return login + u" не хватает прав: "_s + what + u'.';
}
