#include "ServerDisk.h"

#include "Connection.h"
#include "DbError.h"
#include "ServerPaths.h"
#include "StatementText.h"
#include "TextDecoding.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int askTimeoutSeconds = 60;

// xp_fileexist's columns: "File Exists", "File is a Directory", "Parent Directory Exists".
constexpr int fileExistsColumn = 0;
constexpr int isFolderColumn = 1;

QString quoted(const QString& text)
{
    return u"N'"_s + sqltext::literalBody(text) + u'\'';
}

// The drive letter a Windows path starts with, upper case; nothing for any other path.
std::optional<QChar> driveLetter(const QString& path)
{
    if (path.size() >= 2 && path[1] == u':' && path[0].isLetter() && path[0].unicode() < 128)
        return path[0].toUpper();
    return std::nullopt;
}

// "C:\Data\" -> "C:\Data": xp_create_subdir and xp_fileexist take a folder without its end.
QString withoutEndSeparator(QString folder)
{
    while (folder.size() > 1 && (folder.back() == u'\\' || folder.back() == u'/') &&
           !(folder.size() == 3 && folder[1] == u':'))
        folder.chop(1);
    return folder;
}

// The operating system's error code in a server message about a path, found by the message's
// number and the place of the code among its parameters, never by its wording (a Russian login
// reads these messages in Russian): "5(Access is denied.)" stands last in 3201, 5133, 5120,
// 3202 and 3203, first in 3634 and 5123; xp_create_subdir says "returned error 5, '…'".
std::optional<int> pathErrorCode(int number, const QString& text)
{
    static const QRegularExpression codeWithReason(u"(\\d+)\\("_s);
    static const QRegularExpression codeBeforeComma(u"(\\d+),"_s);
    QRegularExpressionMatch match;
    switch (number) {
    case 3201:
    case 3202:
    case 3203:
    case 5120:
    case 5133:
        for (QRegularExpressionMatchIterator it = codeWithReason.globalMatch(text); it.hasNext();)
            match = it.next();
        break;
    case 3634:
    case 5123:
        match = codeWithReason.match(text);
        break;
    case 22048:
        match = codeBeforeComma.match(text);
        break;
    default:
        return std::nullopt;
    }
    if (!match.hasMatch())
        return std::nullopt;
    const int code = match.captured(1).toInt();
    if (code != 5 && code != 3)
        return std::nullopt;
    return code;
}

} // namespace

ServerDisk::ServerDisk(db::Connection& connection) : m_connection(connection) {}

void ServerDisk::follow()
{
    const QString key = m_connection.provider() + u'\n' + m_connection.connectionString();
    if (key == m_askedFor)
        return;
    m_askedFor = key;
    m_machineAsked = false;
    m_seesThisMachine.reset();
    m_rights.reset();
}

bool ServerDisk::isRemote()
{
    if (m_connection.isOpen()) {
        follow();
        if (!m_machineAsked) {
            m_machineAsked = true;
            m_seesThisMachine = askSeesThisMachine();
        }
    }
    return m_seesThisMachine.has_value() && !*m_seesThisMachine;
}

bool ServerDisk::locationKnown()
{
    isRemote();
    return m_seesThisMachine.has_value();
}

const ServerRights& ServerDisk::rights()
{
    static const ServerRights unknown;
    if (!m_connection.isOpen())
        return m_rights ? *m_rights : unknown;
    follow();
    if (!m_rights)
        m_rights = AskServerRights(m_connection);
    return *m_rights;
}

bool ServerDisk::isServerPath(const QString& path)
{
    if (isRemote())
        return true;
    return !m_seesThisMachine.has_value() && IsServerSidePath(path);
}

std::optional<bool> ServerDisk::askSeesThisMachine()
{
    // A file of a unique name that only this machine has: a server that finds it shares the
    // disk with the program.
    QTemporaryFile probe(QDir::tempPath() + u"/dbsetup-probe-XXXXXX.tmp"_s);
    if (!probe.open())
        return std::nullopt;
    const QString path = QDir::toNativeSeparators(QFileInfo(probe.fileName()).absoluteFilePath());
    const std::optional<int> exists = fileExistColumn(path, fileExistsColumn);
    if (!exists)
        return std::nullopt;
    return *exists == 1;
}

std::optional<int> ServerDisk::fileExistColumn(const QString& path, int column)
{
    // To a login that is not sysadmin xp_fileexist answers 0 whether the file is there or not
    // (it looks with the login's own Windows rights, and a SQL Server login has none).
    if (!rights().serverProceduresTrusted())
        return std::nullopt;
    try {
        const auto rows = m_connection.openRecordSet(
            u"EXEC master.dbo.xp_fileexist "_s + quoted(path), askTimeoutSeconds);
        if (rows->isEmpty() || rows->columnCount() <= column)
            return std::nullopt;
        return rows->value(0, column).toInt();
    } catch (const db::DbError& error) {
        if (error.isConnectionLoss())
            throw;
        return std::nullopt;
    }
}

std::optional<bool> ServerDisk::fileExists(const QString& path)
{
    const auto exists = fileExistColumn(path, fileExistsColumn);
    if (!exists)
        return std::nullopt;
    return *exists == 1;
}

std::optional<bool> ServerDisk::folderExists(const QString& path)
{
    const auto isFolder = fileExistColumn(withoutEndSeparator(path), isFolderColumn);
    if (!isFolder)
        return std::nullopt;
    return *isFolder == 1;
}

void ServerDisk::makeFolder(const QString& folder)
{
    try {
        m_connection.execute(u"EXEC master.dbo.xp_create_subdir "_s +
                             quoted(withoutEndSeparator(folder)));
    } catch (const db::DbError& error) {
        // 22048: the operating system refused. Anything else (no right to run it, no such
        // procedure) leaves the folder to the statement that needs it.
        if (error.nativeError() == 22048 || error.isConnectionLoss())
            throw;
    }
}

std::optional<quint64> ServerDisk::freeBytes(const QString& path)
{
    // xp_fixeddrives reports each drive's free space in whole megabytes.
    const std::optional<QChar> drive = driveLetter(path);
    if (!drive)
        return std::nullopt;
    try {
        const auto rows =
            m_connection.openRecordSet(u"EXEC master.dbo.xp_fixeddrives"_s, askTimeoutSeconds);
        for (qsizetype row = 0; row < rows->recordCount(); ++row) {
            if (rows->value(row, 0).toString().trimmed().compare(*drive, Qt::CaseInsensitive) != 0)
                continue;
            return rows->value(row, 1).toULongLong() * 1024 * 1024;
        }
    } catch (const db::DbError& error) {
        if (error.isConnectionLoss())
            throw;
    }
    return std::nullopt;
}

QString ServerDisk::firstValue(const QString& sql)
{
    try {
        const auto rows = m_connection.openRecordSet(sql, askTimeoutSeconds);
        if (rows->isEmpty())
            return {};
        return platform::trimBlanks(rows->value(0, 0).toString()).toString();
    } catch (const db::DbError& error) {
        // A server that will not say (no right, no such view on an older version) says nothing.
        if (error.isConnectionLoss())
            throw;
        return {};
    }
}

QString ServerDisk::serverProperty(const QString& name)
{
    return firstValue(u"SELECT CAST(SERVERPROPERTY('"_s + name +
                      u"') AS nvarchar(260)) AS value"_s);
}

QString ServerDisk::registryValue(const QString& key, const QString& name)
{
    // The instance's own key, as the server reads it: "Value", "Data"; no row when unset.
    try {
        const auto rows = m_connection.openRecordSet(
            u"EXEC master.dbo.xp_instance_regread N'HKEY_LOCAL_MACHINE', "_s + quoted(key) +
                u", "_s + quoted(name),
            askTimeoutSeconds);
        if (rows->isEmpty() || rows->columnCount() < 2)
            return {};
        return platform::trimBlanks(rows->value(0, 1).toString()).toString();
    } catch (const db::DbError& error) {
        if (error.isConnectionLoss())
            throw;
        return {};
    }
}

QString ServerDisk::defaultDataFolder()
{
    QString folder = serverProperty(u"InstanceDefaultDataPath"_s);
    if (folder.isEmpty())
        folder =
            registryValue(u"Software\\Microsoft\\MSSQLServer\\MSSQLServer"_s, u"DefaultData"_s);
    if (folder.isEmpty()) {
        // Unset until someone changes it: the data folder under the instance's root.
        const QString root =
            registryValue(u"Software\\Microsoft\\MSSQLServer\\Setup"_s, u"SQLDataRoot"_s);
        if (!root.isEmpty())
            folder = ServerFolderWithSeparator(root) + u"DATA"_s;
    }
    return folder.isEmpty() ? folder : ServerFolderWithSeparator(folder);
}

QString ServerDisk::defaultBackupFolder()
{
    QString folder = serverProperty(u"InstanceDefaultBackupPath"_s);
    if (folder.isEmpty())
        folder =
            registryValue(u"Software\\Microsoft\\MSSQLServer\\MSSQLServer"_s, u"BackupDirectory"_s);
    if (!folder.isEmpty())
        return ServerFolderWithSeparator(folder);
    // A server that names neither keeps its backups beside its data folder ("...\MSSQL\DATA\"
    // and "...\MSSQL\Backup\").
    static const QRegularExpression dataEnd(u"([\\\\/])DATA[\\\\/]$"_s,
                                            QRegularExpression::CaseInsensitiveOption);
    QString data = defaultDataFolder();
    const QRegularExpressionMatch match = dataEnd.match(data);
    if (!match.hasMatch())
        return data;
    return data.left(match.capturedStart()) + match.captured(1) + u"Backup"_s + match.captured(1);
}

QString ServerDisk::serviceAccount()
{
    // VIEW SERVER STATE is needed to read it.
    return firstValue(u"SELECT service_account FROM sys.dm_server_services WHERE servicename LIKE "
                      u"N'SQL Server (%'"_s);
}

QString ServerDisk::accessHint(const std::exception& error, const QString& path)
{
    const QString message = errorMessage(error);
    const int number = serverErrorOf(error);
    if (!pathErrorCode(number, message))
        return {};
    QString account;
    const bool remote = isRemote();
    try {
        account = serviceAccount();
    } catch (const std::exception&) {
        // The connection went with the error: the hint goes without the name.
    }
    return ServerAccessHint(number, message, path, account, remote);
}

QString ServerDisk::rightsHint(const std::exception& error, const QString& needed)
{
    if (!IsPermissionError(serverErrorOf(error)))
        return {};
    try {
        return RightsHint(error, rights(), needed);
    } catch (const std::exception&) {
        // The connection went with the error: the hint names no login.
        return RightsHint(error, ServerRights{}, needed);
    }
}

QStringList ServerDisk::drives()
{
    const auto rows =
        m_connection.openRecordSet(u"EXEC master.dbo.xp_fixeddrives"_s, askTimeoutSeconds);
    QStringList out;
    for (qsizetype row = 0; row < rows->recordCount(); ++row) {
        const QString drive = rows->value(row, 0).toString().trimmed();
        if (drive.isEmpty())
            continue;
        out << (drive == u"/"_s ? drive : drive + u":\\"_s);
    }
    return out;
}

QList<OperatorUi::ServerFolders::Entry> ServerDisk::entries(const QString& folder)
{
    // Depth 1, files too: "subdirectory", "depth", "file" (1 for a file).
    const auto rows = m_connection.openRecordSet(
        u"EXEC master.dbo.xp_dirtree "_s + quoted(ServerFolderWithSeparator(folder)) + u", 1, 1"_s,
        askTimeoutSeconds);
    QList<Entry> out;
    for (qsizetype row = 0; row < rows->recordCount(); ++row)
        out.append({rows->value(row, 0).toString(), rows->value(row, 2).toInt() == 1});
    std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
        if (a.isFile != b.isFile)
            return !a.isFile;
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return out;
}

QString ServerAccessHint(int number, const QString& serverMessage, const QString& path,
                         const QString& serviceAccount, bool remote)
{
    const std::optional<int> code = pathErrorCode(number, serverMessage);
    if (!code)
        return {};
    // The path the server names ('C:\x.bak' or "C:\x.mdf"), else the one the statement named.
    static const QRegularExpression named(u"['\"]((?:[A-Za-z]:|\\\\\\\\|/)[^'\"]*)['\"]"_s);
    const QRegularExpressionMatch pathMatch = named.match(serverMessage);
    const QString where = pathMatch.hasMatch() ? pathMatch.captured(1) : path;
    const QString account = serviceAccount.isEmpty()
                                ? u"работает под своей учётной записью"_s
                                : u"работает под учётной записью \""_s + serviceAccount + u'"';
    if (*code == 5)
        return u"Нет доступа к \""_s + where + u"\": служба SQL Server "_s + account +
               u", и права на эту папку нужны этой учётной записи, а не оператору."_s;
    return u"Путь \""_s + where + u"\" не найден на диске сервера"_s +
           (remote ? u" (сервер работает на другом компьютере и видит только свои диски)"_s
                   : QString()) +
           u". Служба SQL Server "_s + account +
           u": папка должна быть на сервере и доступна этой учётной записи, а не оператору."_s;
}

QString ServerFolderWithSeparator(const QString& folder)
{
    if (folder.isEmpty() || folder.back() == u'\\' || folder.back() == u'/')
        return folder;
    return folder + (folder.startsWith(u'/') ? u'/' : u'\\');
}
