#pragma once

#include "SqlTypes.h"
#include "Transfer.h"

#include <QString>
#include <memory>
#include <sqlite3.h>

// The database files and the catalogue tables inside them: sysobjects in every database,
// sysdatabases in master, the backup history in msdb.
namespace sqlsim::catalog {

enum class DatabaseKind
{
    User,
    Master,
    Model,
    Msdb,
    Tempdb
};

// An open SQLite connection to one file, closed on destruction.
class Connection
{
public:
    // Throws SqlError when the file cannot be opened as a database.
    explicit Connection(const QString& path, bool create = false, int busyTimeoutMs = 10000);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* handle() const { return m_db; }
    // Runs statements without results; throws SqlError with SQLite's text on failure.
    void exec(const QString& sql);

private:
    sqlite3* m_db = nullptr;
};

struct SysdatabasesRow
{
    QString name;
    int dbid = 0;
    QString filename;
    QDateTime created;
    int cmptlevel = 150;
    int version = 904;
    bool system = false;
    bool singleUser = false;
    bool offline = false;
    bool restoring = false;
    QByteArray ownerSid = QByteArray(1, '\x01'); // sid: the owner's
};

// A new, empty database: the data file with its catalogue and the companion log file. Throws
// SqlError 5170 when a file exists already, 5123 when it cannot be created.
void createDatabaseFiles(const DatabaseFiles& files, DatabaseKind kind);

void writeLogFile(const QString& path, const QString& databaseName);

// Checks that a file is one of our data files (or at least a SQLite database), adds the
// catalogue tables when they are missing, brings sysobjects up to date, and reads the logical
// file names kept inside it. Throws SqlError 5120 when the file is missing, 5172 when it is
// not a database.
struct DataFileInfo
{
    QString dataLogicalName;
    QString logLogicalName;
};
DataFileInfo prepareDataFile(const QString& dataFile, const QString& databaseName);
// Records the logical names inside the data file (after CREATE DATABASE or attach).
void writeLogicalNames(const QString& dataFile, const QString& dataLogical,
                       const QString& logLogical);

void writeSysdatabases(const QString& masterFile, const QList<SysdatabasesRow>& rows);
// Brings master's sys.databases view up to this version's definition (a master made by an
// older simulator keeps its old one otherwise).
void refreshMasterViews(const QString& masterFile);

// The database's user access (ALTER DATABASE ... SET SINGLE_USER), kept in its data file as
// SQL Server keeps it in the database: a backup carries it to the restored database.
bool readSingleUser(const QString& dataFile);
void writeSingleUser(const QString& dataFile, bool on);
void recordBackup(const QString& msdbFile, const BackupRecord& record, const QString& userName,
                  const QString& serverName);

// The catalogue tables of a database (sysobjects, the procedure store, the views).
QStringList catalogStatements();

// The columns sysobjects gets for a new object.
QString sysobjectsInsert(const QString& schema);

} // namespace sqlsim::catalog
