#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;
class OperatorUi;
namespace db {
class Connection;
}

// The application's files kept in a table of the database being backed up, so that a backup
// carries the program that belongs to its data, and written back into the installation folder
// after a restore. Paths in the table always use "\" (stored with every "\" doubled), whatever
// system wrote them.

using PumpMessages = std::function<void()>; // processes pending window messages; may be empty

inline const QString fileStoreTable = QStringLiteral("backup_files");

// The masks never stored: the lines of exclusion_mask_backup_file.txt in programDir when it exists,
// else the built-in default.udl, *.ldf, *.mdf, *.bak. A file that exists but cannot be read throws
// Error rather than storing what the operator meant to keep out.
QStringList LoadExclusionList(const QString& programDir);
// Whether the file name (without folder) matches one of the masks, tried in order; false without a
// list. Throws Error for a bad mask that is reached.
bool IsExcludedFile(const QString& fileName, const QStringList* exclusions);
// Every '"', "'" and "\" doubled.
QString EscapeSQLText(const QString& text);
QString VersionNumberText(const QString& versionText); // the digits in order; "" when none

// Probes of the server and of the connection's current database; none of them throws unless it says
// so. The first 25 characters of @@version ("Microsoft SQL Server 2008"), "" for another product.
QString GetServerVersion(db::Connection& connection);
int GetServerVersionYear(db::Connection& connection); // 0 when unknown
// The most data the server's edition lets a database hold: Express limits its data files (the
// log is not counted) to 10 GiB since 2008 R2 and to 4 GiB before; other editions have no
// ceiling (nullopt), as has a server that cannot be asked.
std::optional<qint64> GetMaxDBSize(db::Connection& connection);
// The same from SERVERPROPERTY's EngineEdition (4: Express) and ProductVersion ("10.50.1600.1");
// versionYear stands in for a version the server did not give.
std::optional<qint64> DatabaseSizeCeiling(int engineEdition, const QString& productVersion,
                                          int versionYear);
// Bytes in use in the current database's data files (dataOnly) or in all its files: what counts
// toward Express's ceiling, what a full backup holds. From sp_spaceused's database_size (the
// files' whole size) where the server cannot tell; 0 when unknown. Only a lost connection
// throws.
qint64 GetDBSpaceUsed(db::Connection& connection, bool dataOnly = true);
// sp_spaceused's sizes ("2.75 MB", "1024.00 KB") in bytes; 0 for another unit.
qint64 DatabaseSizeBytes(const QString& spaceUsedText);

// Whether text survives the single-byte code page of a non-Unicode server column (1251, 1252,
// ...; 65001 holds everything); nullopt when the code page is not one this system can check.
std::optional<bool> FitsCodePage(const QString& text, int codePage);

// Files left out of a storing because the path column, non-Unicode text in the database's code
// page, cannot hold their names: stored, they would come back under another name ("caf?.txt").
struct UnstoredNames
{
    int codePage = 0;
    QStringList paths; // relative, with "\"
};
// The operator's warning naming them; empty when there are none.
QString UnstoredNamesWarning(const UnstoredNames& unstored);

// Recreates the table in the current database and stores every file below installDir whose name
// holds a dot, less those matching the exclusions, those of maxSizeAddDB bytes or more (when it
// is above 0) and those whose relative path the database's code page cannot write (returned),
// each streamed from disk. Throws MyException when the folder is missing or the files do not
// fit; other errors pass on and leave the files stored so far.
UnstoredNames AddFilesToDB(const QString& installDir, const QString& tableName,
                           const QString& versionText, const QStringList& exclusions,
                           qint64 maxSizeAddDB, db::Connection& connection,
                           const PumpMessages& pump = {});

struct ExtractOptions
{
    PumpMessages pump;
    // Wraps the temporary file a stored file is written to; the wrapper's writes must reach the
    // file. Tests use it to make a write fail part way.
    std::function<std::unique_ptr<QIODevice>(QIODevice& file)> wrapOutput;
    // Rows not written end the extraction with MyException (the same list) instead of a
    // warning: a run without an operator has only its exit code to tell.
    bool failOnSkipped = false;
    // Free bytes of the disk a folder is on, asked after a failed write; tests replace it.
    std::function<std::optional<quint64>(const QString& folder)> freeBytes;
};

// Writes the stored files into installDir (created when missing). An installed file is replaced
// only by complete new content; a file it cannot replace is moved aside to its name + "___".
// When the store is older than installedVersionText and askVersion is set, the operator is asked
// first. Stored paths leading out of the folder are never written; rows not written are listed in
// one warning at the end. False when the table cannot be read (no store); true otherwise, also
// when the operator declined. Throws MyException when a folder cannot be created.
bool ExtractFilesFromDB(const QString& installDir, db::Connection& connection, bool askVersion,
                        const QString& installedVersionText, OperatorUi& operatorUi,
                        const PumpMessages& pump = {});
bool ExtractFilesFromDB(const QString& installDir, db::Connection& connection, bool askVersion,
                        const QString& installedVersionText, OperatorUi& operatorUi,
                        const ExtractOptions& options);
