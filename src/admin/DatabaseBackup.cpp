#include "DatabaseBackup.h"

#include "Connection.h"
#include "FileHelpers.h"
#include "MyException.h"
#include "OperationFailure.h"
#include "PathText.h"
#include "PreviousBackup.h"
#include "ServerDisk.h"
#include "ServerRights.h"
#include "StatementText.h"
#include "TextDecoding.h"

#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr int historyTimeoutSeconds = 3600;
constexpr int backupTimeoutSeconds = 3600;

QString withoutTrailingSeparator(QString folder)
{
    while (!folder.isEmpty() && pathtext::isSeparator(folder.back()))
        folder.chop(1);
    return folder;
}

} // namespace

QString LastBackupFile(db::Connection& connection, const QString& databaseName)
{
    const QString sql =
        u"select top 1 description,backup_set_id, backup_finish_date, database_name, "
        u"physical_device_name \r\n"
        u"from msdb.dbo.backupset bs inner join msdb.dbo.backupmediafamily bm on "
        u"(bm.media_set_id=bs.media_set_id )\r\n"
        u"where database_name=N'"_s +
        sqltext::literalBody(databaseName) + u"' order by backup_set_id desc\r\n"_s;
    if (!connection.isOpen())
        connection.open();
    const auto rows = connection.openRecordSet(sql, historyTimeoutSeconds);
    rows->first();
    if (rows->eof())
        return {};
    return platform::trimBlanks(rows->fieldText(u"physical_device_name"_s)).toString();
}

QString DefaultBackupFileName(const QString& databaseName, const QDate& today)
{
    return databaseName + u'_' + today.toString(u"ddMMyy"_s) + u".bak"_s;
}

QString BackupStatement(const QString& databaseName, const QString& backupFile,
                        const QString& description, const QDateTime& now, bool copyOnly)
{
    const QString name = sqltext::literalBody(databaseName);
    // nvarchar and an N literal: a name outside the server's code page would otherwise reach it
    // as another name ("café" as "caf?" on a Cyrillic server).
    return u"declare @DBName nvarchar(128)\r\nset @DBName=N'"_s + name + u"'"_s +
           u"BACKUP DATABASE @DBName TO  DISK = N'"_s + sqltext::literalBody(backupFile) + u"' "_s +
           u" WITH  INIT, "_s + u" DESCRIPTION="_s + u"'"_s + sqltext::literalBody(description) +
           u"'"_s + u", "_s + u" NOUNLOAD ,  NAME = N'"_s + name + u" backup on "_s +
           now.toString(u"dd-MM-yyyy HH:mm"_s) + u"',  NOSKIP ,  STATS = 10,  NOFORMAT "_s +
           (copyOnly ? u", COPY_ONLY"_s : QString());
}

void MakeBackupFolder(const QString& backupFile, ServerDisk& disk)
{
    const qsizetype cut = pathtext::lastSeparator(backupFile);
    const QString folder = cut < 0 ? QString() : backupFile.left(cut + 1);
    // A folder on the server's disk is the server's to make: one made here would be the
    // operator's, on the wrong machine or out of the service's reach.
    const bool onServer = disk.isServerPath(backupFile);
    if (onServer && !folder.isEmpty())
        admin::makeServerFolder(disk, folder, withoutTrailingSeparator(folder));
    else if (!onServer && !ForceDirs(folder))
        throw MyException(admin::folderError(withoutTrailingSeparator(folder)));
}

namespace {

const QString previousBackIn = u"Прежняя резервная копия возвращена на место."_s;

void verifyBackup(const QString& backupFile, db::Connection& connection,
                  const ServerProgress& progress)
{
    if (!connection.isOpen())
        connection.open();
    // Its percentages are told apart from the backup's.
    ServerProgress checking = progress;
    checking.step = u"Проверка"_s;
    RunWithProgress(connection,
                    u"RESTORE VERIFYONLY FROM DISK = N'"_s + sqltext::literalBody(backupFile) +
                        u"' WITH STATS = 10"_s,
                    checking);
}

QString notVerified(const QString& backupFile)
{
    return u"Резервная копия \""_s + backupFile + u"\" не прошла проверку."_s;
}

// The line that says where the previous backup is after a failure: back under its name, or
// where it had to stay.
QString previousLine(std::optional<PreviousBackup>& previous)
{
    if (previous && !previous->notKept().isEmpty())
        return u"\r\n"_s + previous->notKept();
    if (!previous || previous->asidePath().isEmpty())
        return {};
    const QString kept = previous->restore();
    return u"\r\n"_s + (kept.isEmpty() ? previousBackIn : kept);
}

} // namespace

QString MSSQLBackupDB(const QString& databaseName, const QString& backupFile,
                      const QString& description, db::Connection& connection, ServerDisk& disk,
                      const ServerProgress& progress, bool verify, bool copyOnly)
{
    MakeBackupFolder(backupFile, disk);
    const bool onServer = disk.isServerPath(backupFile);
    const QString sql = BackupStatement(databaseName, backupFile, description,
                                        QDateTime::currentDateTime(), copyOnly);
    connection.setCommandTimeout(backupTimeoutSeconds);
    std::optional<PreviousBackup> previous;
    try {
        // The server overwrites a file in place from its start, so a backup that fails part-way
        // would take the operator's previous one with it. A file only the server sees is the
        // server's to keep.
        if (!onServer)
            previous.emplace(backupFile);
        RunWithProgress(connection, sql, progress);
    } catch (const std::exception& error) {
        throw admin::failure(u"Не удалось создать резервную копию базы \""_s + databaseName +
                                 u"\"."_s + previousLine(previous),
                             &disk, error, backupFile, neededRight::backup);
    }
    // The previous backup goes only once the new one is known to be sound.
    if (verify) {
        try {
            verifyBackup(backupFile, connection, progress);
        } catch (const std::exception& error) {
            throw admin::failure(notVerified(backupFile) + previousLine(previous), &disk, error,
                                 backupFile, neededRight::readBackup);
        }
    }
    if (!previous)
        return {};
    previous->discard();
    return previous->notKept();
}

void MSSQLVerifyBackup(const QString& backupFile, db::Connection& connection,
                       const ServerProgress& progress)
{
    try {
        verifyBackup(backupFile, connection, progress);
    } catch (const std::exception& error) {
        throw MyException({}, notVerified(backupFile), &error);
    }
}
