#pragma once

#include <QList>
#include <QString>
#include <optional>

// The server's file system as statements name it. By default the server shares this machine's
// file system and a statement's path is a path here ("\" accepted as a separator, as SQL Server on
// Linux accepts it). With a server root set, the server plays a Windows machine whose drives are
// the folders ROOT/C, ROOT/D, ...: "C:\Data\x.mdf" is ROOT/C/Data/x.mdf, names compare without
// regard to case, and a path on no drive cannot be reached.
namespace sqlsim::serverfiles {

// Set once, before the server starts. Creates ROOT/C and the default instance folders.
// Returns an error text, or an empty string.
QString setRoot(const QString& root);
bool hasRoot();

// A statement's path as a path of this machine. A path the server cannot reach maps to a path
// whose folder does not exist, so that every file operation on it fails as "path not found".
QString toLocal(const QString& statementPath);
// Whether toLocal() could place the path on one of the server's drives (always, without a root).
bool reachable(const QString& statementPath);
// A path of this machine as the server shows it (its Windows name under a root).
QString shown(const QString& localPath);

// The operating system error for a file whose folder is missing: 3 ("The system cannot find the
// path specified.") on Windows; SQL Server on Linux reports 2.
int missingFolderError();

// Default folders of the instance, as the server shows them, with a trailing separator as
// SERVERPROPERTY('InstanceDefault*Path') returns them. dataDir: the simulator's own data folder,
// the defaults when no root is set.
QString defaultDataPath(const QString& dataDir);
QString defaultBackupPath(const QString& dataDir);
// The server's drives: ROOT/C, ROOT/D, ... under a root (as "C", "D"), else the volume of the data
// folder (as "/").
struct Drive
{
    QString name;
    QString localRoot;
    qint64 totalBytes = 0;
    qint64 availableBytes = 0;
};
QList<Drive> drives(const QString& dataDir);

// A nearly full disk: every drive reports at most this many free bytes (xp_fixeddrives,
// sys.dm_os_volume_stats), and a backup larger than that fails as a full disk does. Negative: the
// real free space.
void setFreeSpaceLimit(qint64 bytes);
// The free bytes of a volume as the server reports them, the limit applied.
qint64 reportedFreeBytes(qint64 realBytes);
// Whether a file of this size would not fit under the limit.
bool exceedsFreeSpace(qint64 bytes);

// Where CREATE DATABASE puts files that it is not told where to put, as a path of this machine.
QString newDatabaseFolder(const QString& dataDir);

} // namespace sqlsim::serverfiles
