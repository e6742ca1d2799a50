// A database's own files: sys.database_files and FILEPROPERTY, both about the database the
// statement names (the current one unless three-part), sized as sys.master_files sizes them.
#include "ServerImpl.h"
#include "Translator.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace sqlsim {

void SessionImpl::databaseFilesWanted(const QString& database)
{
    // "sys.database_files (Transact-SQL)", learn.microsoft.com/sql/relational-databases/
    // system-catalog-views/sys-database-files-transact-sql: one row a file of the database,
    // the columns of sys.master_files without database_id.
    masterFilesWanted();
    if (!m_databaseFilesMade) {
        serverViewExec(
            "CREATE TEMP TABLE IF NOT EXISTS sqlsim_database_files (file_id int NOT NULL, "
            "file_guid uniqueidentifier, type tinyint NOT NULL, type_desc nvarchar(60), "
            "data_space_id int NOT NULL, name nvarchar(128) NOT NULL, "
            "physical_name nvarchar(260) NOT NULL, state tinyint, state_desc nvarchar(60), "
            "size int NOT NULL, max_size int NOT NULL, growth int NOT NULL, "
            "is_media_read_only bit NOT NULL, is_read_only bit NOT NULL, is_sparse bit NOT NULL, "
            "is_percent_growth bit NOT NULL, is_name_reserved bit NOT NULL, "
            "is_persistent_log_buffer bit NOT NULL)");
        m_databaseFilesMade = true;
    }
    serverViewExec("DELETE FROM temp.sqlsim_database_files");
    const auto entry = m_server.database(database);
    if (!entry)
        return;
    serverViewInsert(
        "INSERT INTO temp.sqlsim_database_files SELECT file_id, file_guid, type, type_desc, "
        "data_space_id, name, physical_name, state, state_desc, size, max_size, growth, "
        "is_media_read_only, is_read_only, is_sparse, is_percent_growth, is_name_reserved, "
        "is_persistent_log_buffer FROM temp.sqlsim_master_files WHERE database_id = ?1 "
        "ORDER BY file_id",
        {qint64(entry->dbid)});
}

Value SessionImpl::fileProperty(const QString& file, const QString& raw)
{
    // "FILEPROPERTY (Transact-SQL)", learn.microsoft.com/sql/t-sql/functions/
    // fileproperty-transact-sql: a file of the current database by its logical name; NULL for
    // another name or property. SpaceUsed is in 8-KB pages.
    const QString p = raw.trimmed().toLower();
    const auto entry = m_server.database(m_currentDb);
    const auto alias = schemaFor(m_currentDb);
    if (!entry || !alias)
        return {};
    const QString name = file.trimmed();
    const bool data = name.compare(entry->files.dataLogicalName, Qt::CaseInsensitive) == 0;
    const bool log = !data && !entry->files.logFile.isEmpty() &&
                     name.compare(entry->files.logLogicalName, Qt::CaseInsensitive) == 0;
    if (!data && !log)
        return {};
    if (p == u"isreadonly")
        return qint64(0);
    if (p == u"isprimaryfile")
        return qint64(data ? 1 : 0);
    if (p == u"islogfile")
        return qint64(log ? 1 : 0);
    if (p != u"spaceused")
        return {};
    if (log)
        return (QFileInfo(entry->files.logFile).size() + 8191) / 8192;
    // The pages in use: the file's less its free list. --extra-data-size is free space.
    const QString schema = Translator::quote(*alias);
    const auto pragma = [&](const QString& what) -> qint64 {
        const auto v = scalarQuery(u"PRAGMA "_s + schema + u'.' + what);
        return v && std::holds_alternative<qint64>(*v) ? std::get<qint64>(*v) : 0;
    };
    const qint64 used =
        (pragma(u"page_count"_s) - pragma(u"freelist_count"_s)) * pragma(u"page_size"_s);
    return (used + 8191) / 8192;
}

} // namespace sqlsim
