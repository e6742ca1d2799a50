#pragma once

#include "ReplySink.h"

#include <QString>
#include <QUuid>
#include <memory>
#include <optional>
#include <utility>

// BACKUP DATABASE and RESTORE: the backup file format and the two operations. The statement
// parser fills the requests; the rest of the engine serves as TransferHost.
namespace sqlsim {

struct DatabaseFiles
{
    QString name;
    QString dataLogicalName; // e.g. "ostrel_ts"
    QString dataFile;        // local path of the data file (a SQLite database)
    QString logLogicalName;  // e.g. "ostrel_ts_log"
    QString logFile;         // local path of the companion log file
};

struct BackupRequest
{
    QString database; // after variable substitution
    QString disk;     // local path of the backup file
    bool init = false;
    bool format = false;
    QString description;
    QString name;
    int stats = 0; // percent step of the progress messages; 0: none
    bool copyOnly = false;
};

struct RestoreRequest
{
    QString database;
    QString disk;
    QList<std::pair<QString, QString>> moves; // logical file name -> local path
    bool replace = false;
    int file = 1; // the backup set within the file, from 1
    int stats = 0;
};

// One row of the backup history (msdb.dbo.backupset joined with backupmediafamily).
struct BackupRecord
{
    QString databaseName;
    QString name;
    QString description;
    QString physicalDeviceName;
    QDateTime startDate;
    QDateTime finishDate;
    qint64 backupSize = 0;
    bool copyOnly = false;
};

// The server's version as RESTORE HEADERONLY shows it (SoftwareVersionMajor, ...).
struct SoftwareVersion
{
    int major = 15;
    int minor = 0;
    int build = 2000;
    int compatibilityLevel = 150;
    int databaseVersion = 904;
};

class TransferHost
{
public:
    virtual ~TransferHost() = default;

    virtual std::optional<DatabaseFiles> findDatabase(const QString& name) = 0;
    // Some session other than the calling one has the database open.
    virtual bool usedByOtherSession(const QString& database) = 0;
    // The calling session's current database.
    virtual QString currentDatabase() = 0;
    // The name of the attached database that owns this file, if any.
    virtual std::optional<QString> databaseUsingFile(const QString& path) = 0;
    // Closes every handle the engine keeps on the database, so its files can be replaced.
    virtual void releaseDatabase(const QString& name) = 0;
    // Registers (or re-registers, after REPLACE) a restored database.
    virtual void attachRestored(const DatabaseFiles& files) = 0;
    virtual void recordBackup(const BackupRecord& record) = 0;
    virtual qint64 throttleBytesPerSecond() = 0;
    // True once: the next backup or restore is to drop the connection half way.
    virtual bool takeTransferFault() = 0;
    virtual SoftwareVersion softwareVersion() { return {}; }
    // ALTER DATABASE ... SET SINGLE_USER is in force (HEADERONLY's IsSingleUser).
    virtual bool isSingleUser(const QString& database)
    {
        Q_UNUSED(database);
        return false;
    }
    // Why the database cannot be read now (offline, say), if it cannot.
    virtual std::optional<Message> unavailable(const QString& database)
    {
        Q_UNUSED(database);
        return std::nullopt;
    }
    // Why a database whose data file holds this many bytes cannot be made here (Express's
    // limit), if it cannot.
    virtual std::optional<Message> databaseTooLarge(qint64 dataBytes)
    {
        Q_UNUSED(dataBytes);
        return std::nullopt;
    }
    // A RESTORE starts writing over this existing database: it is RESTORING from now on, and
    // stays so until a restore succeeds (attachRestored).
    virtual void restoreStarting(const QString& database) { Q_UNUSED(database); }
    // That restore failed: the old database is gone and the database stays RESTORING.
    virtual void restoreAbandoned(const QString& database) { Q_UNUSED(database); }
};

// Each answers on reply with SQL Server's messages (3211 progress, 3014 at the end, the errors
// of a failed operation followed by 3013) and ends with reply.done().
void runBackup(const BackupRequest& request, TransferHost& host, ReplySink& reply);
void runRestoreFileListOnly(const QString& disk, int file, TransferHost& host, ReplySink& reply);
void runRestoreHeaderOnly(const QString& disk, TransferHost& host, ReplySink& reply);
void runRestore(const RestoreRequest& request, TransferHost& host, ReplySink& reply);
// RESTORE VERIFYONLY: reads backup set `request.file` to its end and checks it as RESTORE would,
// writing nothing; 3262 "The backup set on file N is valid." when it is.
void runRestoreVerifyOnly(const RestoreRequest& request, TransferHost& host, ReplySink& reply);

// A path from a statement as a path of this machine (see ServerFiles.h).
QString localPath(const QString& statementPath);

// The identity of a database's file: FILELISTONLY's UniqueId and sys.master_files' file_guid.
// The same for every backup of one database.
QUuid fileGuid(const QString& database, const QString& logicalName);

} // namespace sqlsim
