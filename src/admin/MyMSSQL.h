#pragma once

#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

namespace db {
class Connection;
struct ServerMessage;
} // namespace db
class ServerDisk;

// Server operations on whole databases. Each takes the connection and works on it alone.

// While a backup or restore runs: called every 10 ms (processes window messages), and with each
// percentage the server reports ("40 percent processed.").
struct ServerProgress
{
    std::function<void()> pump;
    // step names what the percentage measures: empty for the operation itself, "Проверка" for
    // the verification that follows a backup.
    std::function<void(int percent, const QString& step)> percent;
    QString step;
    // Asked while the server works: true cancels the running statement, whose error then takes
    // the usual way out (a batch run that was sent a signal). Never throws.
    std::function<bool()> stopRequested;
};

// The newest backup file of a database in the server's backup history, or "" when it has none.
// Errors pass on.
QString LastBackupFile(db::Connection& connection, const QString& databaseName);

// "<name>_ddmmyy.bak".
QString DefaultBackupFileName(const QString& databaseName, const QDate& today);

// The BACKUP statement for a database, file and description at the given local time; copyOnly
// adds COPY_ONLY (a copy taken aside leaves the differential base of the regular backups alone).
QString BackupStatement(const QString& databaseName, const QString& backupFile,
                        const QString& description, const QDateTime& now, bool copyOnly = false);
// Creates the backup file's folder, here or through the server when the file is the server's.
// Throws MyException with the folder error.
void MakeBackupFolder(const QString& backupFile, ServerDisk& disk);
// Creates the backup file's folder, then backs up asynchronously and, when verify is set, has the
// server read the file back (RESTORE VERIFYONLY). A backup file already at a local path is kept
// aside until then and put back when either fails. Throws MyException with the folder, backup or
// verification error (the server's error attached, and whose disk or rights are at fault when the
// server says). Returns why an existing backup could not be kept aside (the server wrote over it),
// or an empty text.
QString MSSQLBackupDB(const QString& databaseName, const QString& backupFile,
                      const QString& description, db::Connection& connection, ServerDisk& disk,
                      const ServerProgress& progress, bool verify = false, bool copyOnly = false);

// Has the server read the backup file whole and check it (RESTORE VERIFYONLY). Throws
// MyException naming the file, with the server's error, when the backup is not sound.
void MSSQLVerifyBackup(const QString& backupFile, db::Connection& connection,
                       const ServerProgress& progress);

// "REMOVABLE" unless the backup file lies on the drive of the application or of the system.
QString IsRemovableDrive(const QString& backupFile, const QString& apprNamePathName,
                         const QString& systemDir);
// "C:" for a drive path, "\\server\share" for a network path, "" for a relative path; on this
// system an absolute local path gives the root of its file system.
QString DrivePart(const QString& path);
// A path with a drive letter or a network path names a place on a Windows server when the program
// runs elsewhere: local checks on it mean nothing.
bool IsServerSidePath(const QString& path);

// The RESTORE statement: every file of the backup moved into the restore folder, under the
// file name it had where the backup was taken, or under targetName when one is given.
struct BackupFileEntry
{
    QString logicalName;
    QString physicalName;
    QChar type = u'D'; // "D" data, "L" log, as RESTORE FILELISTONLY says
    QString targetName;
};
// The names a copy's files get beside its original: "<name>.mdf", "<name>_log.ldf", further
// data files "<name>_<n>.ndf" and logs "<name>_log_<n>.ldf"; characters no file name may hold
// become "_".
QStringList CopyFileNames(const QString& databaseName, const QList<BackupFileEntry>& files);
QString RestoreStatement(const QString& databaseName, const QString& backupFile,
                         const QString& restoreFolder, const QList<BackupFileEntry>& files,
                         bool replace);
// A restore checked and ready to send.
struct RestorePlan
{
    QString databaseName;
    QString backupFile; // macros expanded
    QString folder;     // macros expanded, with its trailing separator
    QList<BackupFileEntry> files;
    bool replace = false;
};
// Asks everything that can refuse a restore before anything changes: the backup file and the
// folder where they are (here, or through the server; the folder is made), the backup's file
// list, and where each file goes. A file goes over an existing one only when that is the
// replaced database's own (the server's file list says); otherwise the files are named after the
// new database, and when those names are taken too the restore is refused naming the file.
// Throws MyException with the backup-file, folder or refusal text; the file list's error
// unchanged unless it says whose disk or rights are at fault.
RestorePlan PrepareRestore(const QString& databaseName, const QString& backupFile,
                           const QString& restoreFolder, bool replace, db::Connection& connection,
                           ServerDisk& disk, const ServerProgress& progress);
// Sends the restore, after prefix in the same batch, and waits for it. Throws MyException with
// the restore error.
void RunRestore(const RestorePlan& plan, db::Connection& connection, ServerDisk& disk,
                const ServerProgress& progress, const QString& prefix = {});
// Both of the above.
void MSSQLRestoreDB(const QString& databaseName, const QString& backupFile,
                    const QString& restoreFolder, bool replace, db::Connection& connection,
                    ServerDisk& disk, const ServerProgress& progress);

// The percentage of a server's progress message (3211, "N percent processed." in the login's
// language), if it is one.
std::optional<int> ProgressPercent(const db::ServerMessage& message);

// Attaches a database from its data file and, when logFile is not empty, its log file; then
// registers its start-up procedure. A server refusal throws MyException "Ошибка подключение базы
// данных." with the server's error (and whose disk or rights are at fault when it says so, when
// disk is given); other failures pass on unchanged. Returns the warning of
// MSSQLCreateAutoExec.
QString MSSQLAttachDB(const QString& databaseName, const QString& dataFile, const QString& logFile,
                      db::Connection& connection, ServerDisk* disk = nullptr);
// When the database has an AutoExecute object: "<name>_AutoExec" in master, run at server
// start-up. A failure does not undo the attach: it comes back as the operator's warning (the
// transaction rolled back while it is open); empty when all is done.
QString MSSQLCreateAutoExec(const QString& databaseName, db::Connection& connection,
                            ServerDisk* disk = nullptr);
// Detaches the database; a non-zero return throws MyException, a failed call the server's error.
// prefix: statements sent in the same batch before the detach (taking the database from others).
void MSSQLDetachDB(const QString& databaseName, db::Connection& connection,
                   const QString& prefix = {});
// Attaches from master, then, for a Windows login, gives the login a DBUsers row copied from "sa".
// Returns the attach's warning.
QString AddUserToDBUsers(db::Connection& connection, const QString& databaseName,
                         const QString& dataFile, bool windowsLogin, const QString& logFile,
                         ServerDisk* disk = nullptr);
