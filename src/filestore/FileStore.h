#pragma once

#include "ExclusionList.h"
#include "StoreStatements.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace db {
class Connection;
}

// The application's files kept in a table of the database being backed up, so that a backup
// carries the program that belongs to its data, and written back into the installation folder
// after a restore (FileExtraction.h). The exclusion list and the table's name are what a caller
// of AddFilesToDB hands it; the server probes it asks are in ServerProbes.h.

using PumpMessages = std::function<void()>; // processes pending window messages; may be empty

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
// fit; other errors, a connection lost during a probe among them, pass on and leave the files
// stored so far.
UnstoredNames AddFilesToDB(const QString& installDir, const QString& tableName,
                           const QString& versionText, const QStringList& exclusions,
                           qint64 maxSizeAddDB, db::Connection& connection,
                           const PumpMessages& pump = {});
