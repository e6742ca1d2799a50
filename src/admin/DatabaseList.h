#pragma once

#include "NameValueList.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace db {
class Connection;
class RecordSet;
} // namespace db

// The databases attached to the server, as the attach tab lists them.
struct AttachedDatabase
{
    QString name;     // as the list shows it: trimmed
    QString fileName; // the primary data file, trimmed
    // The name exactly as the server gave it: " prod" and "prod" are two databases, and an
    // operation on a row must reach the one the row stands for.
    QString exactName;
};

// The user databases in the server's order. Makes "master" current. Errors of the query pass on.
QList<AttachedDatabase> ReadAttachedDatabases(db::Connection& connection);

// The probe that tells whether the selected database is the application's own: its DB_PROPERTY
// row "DB_Name" holding dbNameFileAdd.
QString FileStoreProbeStatement(const QString& dbNameFileAdd);
// Runs the probe in the database on a statement of its own and says whether the row is there;
// false when the database has no such table or cannot be entered. The connection is left in the
// database.
bool IsApplicationDatabase(db::Connection& connection, const QString& database,
                           const QString& dbNameFileAdd);

// The data and log file of a catalogue entry for a database name (case ignored): each the first
// path when its folder exists (asked of folderExists; by default on this machine), otherwise the
// default path. Nothing for an unknown name.
struct CatalogueFiles
{
    QString dataFile;
    QString logFile;
};
std::optional<CatalogueFiles>
FilesFromCatalogue(const NameValueList& catalogue, const QString& name,
                   const std::function<bool(const QString& folder)>& folderExists = {});

// The folder part of a path: everything before its last separator ("" when there is none).
QString FolderOf(const QString& path);
