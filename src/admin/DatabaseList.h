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
    QString name;
    QString fileName; // the primary data file
};

// The user databases in the server's order, names and files trimmed. Makes "master" current.
// Errors of the query pass on.
QList<AttachedDatabase> ReadAttachedDatabases(db::Connection& connection);

// The probe that tells whether the selected database is the application's own: its DB_PROPERTY
// row "DB_Name" holding dbNameFileAdd.
QString FileStoreProbeStatement(const QString& dbNameFileAdd);

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
