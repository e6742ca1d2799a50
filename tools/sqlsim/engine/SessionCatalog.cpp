// What the translator asks of the catalogue: a table's columns, a query's width, IDENTITY_INSERT,
// and the server's own views (sessions, files) filled into the connection's temp schema.
#include "ServerFiles.h"
#include "SessionImpl.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace sqlsim {

QList<TableColumn> SessionImpl::tableColumns(const QString& schema, const QString& table)
{
    QList<TableColumn> out;
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = (u"SELECT name, type, \"notnull\", dflt_value, pk FROM "_s +
                            Translator::quote(schema) + u".pragma_table_info(?1)"_s)
                               .toUtf8();
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return out;
    }
    const QByteArray t = table.toUtf8();
    sqlite3_bind_text(st, 1, t.constData(), int(t.size()), SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
        TableColumn c;
        c.name = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        c.decl = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        c.type = typeFromDecl(c.decl);
        c.notNull = sqlite3_column_int(st, 2) != 0;
        if (sqlite3_column_type(st, 3) != SQLITE_NULL)
            c.defaultSql =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 3)));
        c.keySeq = sqlite3_column_int(st, 4);
        c.primaryKey = c.keySeq != 0;
        c.identity = c.primaryKey && c.decl == u"INTEGER";
        out << c;
    }
    sqlite3_finalize(st);
    return out;
}

std::pair<ResolvedTable, QList<TableColumn>> SessionImpl::existingTable(const ObjectName& name)
{
    Translator tr(*this);
    ResolvedTable r = tr.resolveTable(name);
    QList<TableColumn> cols = tableColumns(r.schema, r.table);
    if (cols.isEmpty())
        throw SqlError(1088, u"Cannot find the object \"%1\" because it does not exist or you do "
                             "not have permissions."_s.arg(name.text));
    return {std::move(r), std::move(cols)};
}

int SessionImpl::resultColumnCount(const QString& sql, const QList<Value>&)
{
    sqlite3_stmt* st = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return -1;
    }
    const int n = sqlite3_column_count(st);
    sqlite3_finalize(st);
    return n;
}

bool SessionImpl::identityInsert(const QString& schema, const QString& table) const
{
    return m_identityInsert.contains((schema + u'.' + table).toLower());
}

void SessionImpl::serverViewExec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw SqlError(
            40001, u"sqlsim catalogue error: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
}

void SessionImpl::serverViewInsert(const char* sql, const QList<Value>& values)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        throw SqlError(
            40001, u"sqlsim catalogue error: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
    }
    bindAll(st, values);
    const int rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        throw SqlError(
            40001, u"sqlsim catalogue error: %1"_s.arg(QString::fromUtf8(sqlite3_errmsg(m_db))));
}

void SessionImpl::sessionViewsWanted()
{
    const auto run = [this](const char* sql) {
        serverViewExec(sql);
    };
    if (!m_sessionViewsMade) {
        // Columns and types of "sys.sysprocesses" and "sys.dm_exec_sessions"
        // (learn.microsoft.com/sql/relational-databases/system-compatibility-views/
        // sys-sysprocesses-transact-sql, .../system-dynamic-management-views/
        // sys-dm-exec-sessions-transact-sql).
        run("CREATE TEMP TABLE IF NOT EXISTS sqlsim_sysprocesses (spid smallint NOT NULL, "
            "kpid smallint NOT NULL, blocked smallint NOT NULL, waittype binary(2) NOT NULL, "
            "waittime bigint NOT NULL, lastwaittype nchar(32) NOT NULL, "
            "waitresource nchar(256) NOT NULL, dbid smallint NOT NULL, uid smallint, "
            "cpu int NOT NULL, physical_io bigint NOT NULL, memusage int NOT NULL, "
            "login_time datetime NOT NULL, last_batch datetime NOT NULL, ecid smallint NOT NULL, "
            "open_tran smallint NOT NULL, status nchar(30) NOT NULL, sid binary(86) NOT NULL, "
            "hostname nchar(128) NOT NULL, program_name nchar(128) NOT NULL, "
            "hostprocess nchar(10) NOT NULL, cmd nchar(26) NOT NULL, "
            "nt_domain nchar(128) NOT NULL, nt_username nchar(128) NOT NULL, "
            "net_address nchar(12) NOT NULL, net_library nchar(12) NOT NULL, "
            "loginame nchar(128) NOT NULL, context_info binary(128) NOT NULL, "
            "sql_handle binary(20) NOT NULL, stmt_start int NOT NULL, stmt_end int NOT NULL, "
            "request_id int NOT NULL, page_resource binary(8))");
        run("CREATE TEMP TABLE IF NOT EXISTS sqlsim_dm_exec_sessions (session_id smallint NOT "
            "NULL, login_time datetime NOT NULL, host_name nvarchar(128), "
            "program_name nvarchar(128), host_process_id int, client_version int, "
            "client_interface_name nvarchar(32), security_id varbinary(85) NOT NULL, "
            "login_name nvarchar(128) NOT NULL, nt_domain nvarchar(128), "
            "nt_user_name nvarchar(128), status nvarchar(30) NOT NULL, "
            "cpu_time int NOT NULL, memory_usage int NOT NULL, total_scheduled_time int NOT NULL, "
            "total_elapsed_time int NOT NULL, endpoint_id int NOT NULL, "
            "last_request_start_time datetime NOT NULL, last_request_end_time datetime, "
            "reads bigint NOT NULL, writes bigint NOT NULL, logical_reads bigint NOT NULL, "
            "is_user_process bit NOT NULL, text_size int NOT NULL, language nvarchar(128), "
            "date_format nvarchar(3), lock_timeout int NOT NULL, row_count bigint NOT NULL, "
            "prev_error int NOT NULL, original_login_name nvarchar(128) NOT NULL, "
            "database_id smallint NOT NULL, authenticating_database_id int, "
            "open_transaction_count int NOT NULL)");
        m_sessionViewsMade = true;
    }
    run("DELETE FROM temp.sqlsim_sysprocesses; DELETE FROM temp.sqlsim_dm_exec_sessions");
    const QList<SessionSnapshot> sessions = m_server.sessionSnapshots();
    const auto insert = [this](const char* sql, const QList<Value>& values) {
        serverViewInsert(sql, values);
    };
    for (SessionSnapshot row : sessions) {
        if (!seesSession(row.spid))
            continue;
        const bool self = row.spid == m_spid;
        if (self) {
            // This thread runs the statement: its own figures are at hand.
            row.openTransactions = m_trancount;
            row.running = true;
        }
        // A Windows login is "DOMAIN\user"; SQL logins leave both NT columns empty.
        const qsizetype slash = row.login.indexOf(u'\\');
        const QString ntDomain = slash > 0 ? row.login.left(slash) : QString(u""_s);
        const QString ntUser = slash > 0 ? row.login.mid(slash + 1) : QString(u""_s);
        const QByteArray sid =
            row.login.compare(u"sa"_s, Qt::CaseInsensitive) == 0
                ? QByteArray(1, '\x01')
                : QCryptographicHash::hash(row.login.toLower().toUtf8(), QCryptographicHash::Md5);
        const Value login = storageDateTime(row.loginTime, BaseType::DateTime);
        const Value last = storageDateTime(row.lastBatch, BaseType::DateTime);
        const QString hostProcess = QString::number(row.client.processId);
        // A request waiting for another session's hold on a database is "suspended", and
        // "blocked" names that session.
        const QString status = row.blockedBy != 0 ? u"suspended"_s
                               : row.running      ? u"runnable"_s
                                                  : u"sleeping"_s;
        insert("INSERT INTO temp.sqlsim_sysprocesses VALUES (?1, ?2, ?16, X'0000', 0, "
               "'MISCELLANEOUS', '', ?3, 1, 0, 0, 0, ?4, ?5, 0, ?6, ?7, ?8, ?9, ?10, ?11, ?12, "
               "?13, ?14, '', 'TCP/IP', ?15, zeroblob(128), zeroblob(20), 0, 0, 0, NULL)",
               {qint64(row.spid), qint64(row.running ? 1 : 0), qint64(row.dbid), login, last,
                qint64(row.openTransactions), status, sid, row.client.hostName, row.client.appName,
                hostProcess, row.running ? u"SELECT"_s : u"AWAITING COMMAND"_s, ntDomain, ntUser,
                row.login, qint64(row.blockedBy)});
        insert("INSERT INTO temp.sqlsim_dm_exec_sessions VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
               "?8, ?9, ?10, ?11, ?12, 0, 0, 0, 0, 4, ?13, ?14, 0, 0, 0, 1, ?15, ?18, "
               "?19, -1, 0, 0, ?9, ?16, 1, ?17)",
               {qint64(row.spid), login, row.client.hostName, row.client.appName,
                qint64(row.client.processId), qint64(0x74000004), row.client.libraryName, sid,
                row.login, ntDomain, ntUser, row.running ? u"running"_s : u"sleeping"_s, last,
                row.running ? Value{} : last, qint64(defaultTextSize), qint64(row.dbid),
                qint64(row.openTransactions), row.language, row.dateFormat});
    }
}

void SessionImpl::masterFilesWanted()
{
    if (!m_masterFilesMade) {
        // Columns and types of "sys.master_files" as SQL Server 2016 and later have them
        // (learn.microsoft.com/sql/relational-databases/system-catalog-views/
        // sys-master-files-transact-sql).
        serverViewExec(
            "CREATE TEMP TABLE IF NOT EXISTS sqlsim_master_files (database_id int NOT NULL, "
            "file_id int NOT NULL, file_guid uniqueidentifier, type tinyint NOT NULL, "
            "type_desc nvarchar(60), data_space_id int NOT NULL, name nvarchar(128) NOT NULL, "
            "physical_name nvarchar(260) NOT NULL, state tinyint, state_desc nvarchar(60), "
            "size int NOT NULL, max_size int NOT NULL, growth int NOT NULL, "
            "is_media_read_only bit NOT NULL, is_read_only bit NOT NULL, is_sparse bit NOT NULL, "
            "is_percent_growth bit NOT NULL, is_name_reserved bit NOT NULL, "
            "is_persistent_log_buffer bit NOT NULL, create_lsn numeric(25,0), "
            "drop_lsn numeric(25,0), read_only_lsn numeric(25,0), read_write_lsn numeric(25,0), "
            "differential_base_lsn numeric(25,0), differential_base_guid uniqueidentifier, "
            "differential_base_time datetime, redo_start_lsn numeric(25,0), "
            "redo_start_fork_guid uniqueidentifier, redo_target_lsn numeric(25,0), "
            "redo_target_fork_guid uniqueidentifier, backup_lsn numeric(25,0), credential_id int)");
        m_masterFilesMade = true;
    }
    serverViewExec("DELETE FROM temp.sqlsim_master_files");
    QList<DatabaseEntry> entries = m_server.databases();
    std::sort(entries.begin(), entries.end(),
              [](const DatabaseEntry& a, const DatabaseEntry& b) { return a.dbid < b.dbid; });
    for (const DatabaseEntry& e : entries) {
        struct File
        {
            qint64 id;
            QString logicalName;
            QString path;
        };
        QList<File> files{{1, e.files.dataLogicalName, e.files.dataFile}};
        if (!e.files.logFile.isEmpty())
            files.append({2, e.files.logLogicalName, e.files.logFile});
        for (const File& f : files) {
            const bool log = f.id == 2;
            // Sizes in 8-KB pages. New files grow by 64 MB; a data file without a limit has
            // max_size -1, a log 268435456 (2 TB), as FILELISTONLY's MaxSize says of them.
            const qint64 bytes = log ? QFileInfo(f.path).size() : m_server.dataFileBytes(e);
            const qint64 pages = (bytes + 8191) / 8192;
            serverViewInsert(
                "INSERT INTO temp.sqlsim_master_files VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?11, "
                "?12, ?9, ?10, 8192, 0, 0, 0, 0, 0, 0, NULL, NULL, NULL, NULL, NULL, NULL, "
                "NULL, NULL, NULL, NULL, NULL, NULL, NULL)",
                {qint64(e.dbid), f.id,
                 fileGuid(e.files.name, f.logicalName).toString(QUuid::WithoutBraces).toUpper(),
                 qint64(log ? 1 : 0), log ? u"LOG"_s : u"ROWS"_s, qint64(log ? 0 : 1),
                 f.logicalName, serverfiles::shown(f.path), pages, qint64(log ? 268435456 : -1),
                 qint64(e.restoring ? 1 : 0), e.restoring ? u"RESTORING"_s : u"ONLINE"_s});
        }
    }
}

// A database's own files, sized as sys.master_files sizes them.
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

} // namespace sqlsim
