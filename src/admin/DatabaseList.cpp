#include "DatabaseList.h"

#include "Connection.h"
#include "PathMacros.h"
#include "PathText.h"
#include "StatementText.h"
#include "TextDecoding.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

// Every row of sysdatabases but the system databases and the old samples.
const QString listQuery = u"SELECT * FROM master.dbo.sysdatabases where name not in ('master', "
                          u"'model','msdb', 'Northwind', 'pubs', 'tempdb')"_s;
constexpr int listTimeoutSeconds = 3600;
constexpr int probeTimeout = 3600;

QString catalogueChoice(const QString& preferred, const QString& fallback,
                        const std::function<bool(const QString&)>& folderExists)
{
    const QString path = ExpandMacros(preferred);
    const QString folder = FolderOf(path);
    if (!folder.isEmpty() && (folderExists ? folderExists(folder) : QFileInfo(folder).isDir()))
        return path;
    return ExpandMacros(fallback);
}

} // namespace

QList<AttachedDatabase> ReadAttachedDatabases(db::Connection& connection)
{
    connection.setDefaultDatabase(u"master"_s);
    if (!connection.isOpen())
        connection.open();
    const std::unique_ptr<db::RecordSet> rows =
        connection.openRecordSet(listQuery, listTimeoutSeconds);
    QList<AttachedDatabase> list;
    list.reserve(rows->recordCount());
    for (rows->first(); !rows->eof(); rows->next()) {
        const QString name = rows->fieldText(u"Name"_s);
        list.append({platform::trimBlanks(name).toString(),
                     platform::trimBlanks(rows->fieldText(u"Filename"_s)).toString(), name});
    }
    return list;
}

QString FileStoreProbeStatement(const QString& dbNameFileAdd)
{
    return u"SELECT value FROM DB_PROPERTY WHERE Name='DB_Name' and Value=N'"_s +
           sqltext::literalBody(dbNameFileAdd) + u"'"_s;
}

bool IsApplicationDatabase(db::Connection& connection, const QString& database,
                           const QString& dbNameFileAdd)
{
    try {
        if (!connection.isOpen())
            connection.open();
        connection.setDefaultDatabase(database);
        return !connection.openRecordSet(FileStoreProbeStatement(dbNameFileAdd), probeTimeout)
                    ->isEmpty();
    } catch (const std::exception&) {
        // Not the application's database (no DB_PROPERTY at all), or not one to enter.
        return false;
    }
}

std::optional<CatalogueFiles>
FilesFromCatalogue(const NameValueList& catalogue, const QString& name,
                   const std::function<bool(const QString& folder)>& folderExists)
{
    const std::optional<QString> value = catalogue.value(name);
    if (!value)
        return std::nullopt;
    // Four fields, each followed by a TAB: data file, its default, log file, its default.
    QStringList fields = value->split(u'\t');
    fields.resize(std::max<qsizetype>(fields.size(), 4));
    return CatalogueFiles{catalogueChoice(fields[0], fields[1], folderExists),
                          catalogueChoice(fields[2], fields[3], folderExists)};
}

QString FolderOf(const QString& path)
{
    const qsizetype at = pathtext::lastSeparator(path);
    return at < 0 ? QString() : path.left(at + 1);
}
