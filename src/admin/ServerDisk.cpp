#include "ServerDisk.h"

#include "Connection.h"
#include "DbError.h"
#include "MyMSSQL.h"
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

// The operating system's error on a path that says whose disk or rights are at fault: 5 (access
// denied) or 3 (path not found), from "Operating system error 5(Access is denied.)", "failed with
// the operating system error 3(...)", "returned the error '5(...)'" or "xp_create_subdir()
// returned error 5, ...".
std::optional<int> pathErrorCode(const QString& serverMessage)
{
    static const QRegularExpression osError(
        u"(?:operating system error|returned (?:the )?error)\\s*'?(\\d+)"_s,
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch code = osError.match(serverMessage);
    if (!code.hasMatch())
        return std::nullopt;
    const int number = code.captured(1).toInt();
    if (number != 5 && number != 3)
        return std::nullopt;
    return number;
}

} // namespace

ServerDisk::ServerDisk(db::Connection& connection) : m_connection(connection) {}

bool ServerDisk::isRemote()
{
    if (!m_connection.isOpen())
        return m_seesThisMachine.has_value() && !*m_seesThisMachine;
    const QString key = m_connection.provider() + u'\n' + m_connection.connectionString();
    if (key != m_askedFor) {
        m_askedFor = key;
        m_seesThisMachine = askSeesThisMachine();
    }
    return m_seesThisMachine.has_value() && !*m_seesThisMachine;
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

QString ServerDisk::defaultDataFolder()
{
    const QString folder = serverProperty(u"InstanceDefaultDataPath"_s);
    return folder.isEmpty() ? folder : ServerFolderWithSeparator(folder);
}

QString ServerDisk::defaultBackupFolder()
{
    const QString folder = serverProperty(u"InstanceDefaultBackupPath"_s);
    if (!folder.isEmpty())
        return ServerFolderWithSeparator(folder);
    // Before SQL Server 2019 the server does not say; an instance keeps its backups beside its
    // data folder ("...\MSSQL\DATA\" and "...\MSSQL\Backup\").
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
    if (!pathErrorCode(message))
        return {};
    QString account;
    const bool remote = isRemote();
    try {
        account = serviceAccount();
    } catch (const std::exception&) {
        // The connection went with the error: the hint goes without the name.
    }
    return ServerAccessHint(message, path, account, remote);
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

QString ServerAccessHint(const QString& serverMessage, const QString& path,
                         const QString& serviceAccount, bool remote)
{
    const std::optional<int> code = pathErrorCode(serverMessage);
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
