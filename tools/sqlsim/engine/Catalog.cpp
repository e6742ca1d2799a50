#include "Catalog.h"

#include "Collation.h"
#include "ServerFiles.h"
#include "SqliteFunctions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace sqlsim::catalog {

namespace {

[[noreturn]] void fail(int number, const QString& text)
{
    throw SqlError(number, text);
}

QString q(const QString& s)
{
    QString t = s;
    t.replace(u'\'', u"''"_s);
    return u'\'' + t + u'\'';
}

// sysdatabases.status 4096: single user ("sys.sysdatabases", learn.microsoft.com/sql/
// relational-databases/system-compatibility-views/sys-sysdatabases-transact-sql); sys.databases
// shows it as user_access 1 SINGLE_USER ("sys.databases", same site).
constexpr int singleUserStatus = 4096;
// 512: offline (same page); sys.databases: state 6 OFFLINE, collation_name NULL.
constexpr int offlineStatus = 512;
// 32: loading (same page); sys.databases: state 1 RESTORING, collation_name NULL.
constexpr int restoringStatus = 32;

QString sysDatabasesView()
{
    return u"SELECT name, "
           "dbid AS database_id, NULL AS source_database_id, sid AS owner_sid, "
           "crdate AS create_date, cmptlevel AS compatibility_level, "
           "CASE WHEN status & 544 THEN NULL ELSE tsql_serverproperty('Collation') END "
           "AS collation_name, "
           "CAST(CASE WHEN status & 4096 THEN 1 ELSE 0 END AS tinyint) AS user_access, "
           "CAST(CASE WHEN status & 4096 THEN 'SINGLE_USER' ELSE 'MULTI_USER' END "
           "AS nvarchar(60)) AS user_access_desc, 0 AS is_read_only, "
           "CAST(CASE WHEN status & 32 THEN 1 WHEN status & 512 THEN 6 ELSE 0 END AS tinyint) "
           "AS state, CAST(CASE WHEN status & 32 THEN 'RESTORING' WHEN status & 512 THEN "
           "'OFFLINE' ELSE 'ONLINE' END AS nvarchar(60)) "
           "AS state_desc, 3 AS recovery_model, "
           "'SIMPLE' AS recovery_model_desc FROM sysdatabases"_s;
}

QString now()
{
    return storageDateTime(QDateTime::currentDateTime(), BaseType::DateTime);
}

} // namespace

Connection::Connection(const QString& path, bool create, int busyTimeoutMs)
{
    const int flags =
        SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
    const QByteArray p = path.toUtf8();
    const int rc = sqlite3_open_v2(p.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        fail(5120, u"Unable to open the physical file \"%1\". Operating system error 2: \"2(The "
                   "system cannot find the file specified.)\"."_s.arg(path));
    }
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    registerCollation(m_db);
}

Connection::~Connection()
{
    if (m_db)
        sqlite3_close_v2(m_db);
}

void Connection::exec(const QString& sql)
{
    char* err = nullptr;
    const QByteArray s = sql.toUtf8();
    const int rc = sqlite3_exec(m_db, s.constData(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        const QString text = err ? QString::fromUtf8(err) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_free(err);
        if (rc == SQLITE_NOTADB)
            fail(5172, text);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            fail(1222, u"Lock request time out period exceeded."_s);
        fail(40001, u"sqlsim catalogue error: %1"_s.arg(text));
    }
}

QStringList catalogStatements()
{
    return {
        u"CREATE TABLE IF NOT EXISTS sysobjects ("
        "name nvarchar(128) NOT NULL COLLATE TSQL, id int NOT NULL, "
        "xtype char(2) NOT NULL COLLATE TSQL, uid smallint, info smallint, status int, "
        "base_schema_ver int, replinfo int, parent_obj int NOT NULL, crdate datetime NOT NULL, "
        "ftcatid smallint, schema_ver int, stats_schema_ver int, type char(2) COLLATE TSQL, "
        "userstat smallint, sysstat smallint, indexdel smallint, refdate datetime NOT NULL, "
        "version int, deltrig int, instrig int, updtrig int, seltrig int, category int, "
        "cache smallint)"_s,
        u"CREATE TABLE IF NOT EXISTS sqlsim_modules ("
        "name TEXT NOT NULL PRIMARY KEY COLLATE TSQL, type TEXT NOT NULL, "
        "definition TEXT NOT NULL, created TEXT)"_s,
        u"CREATE TABLE IF NOT EXISTS sqlsim_files (kind TEXT NOT NULL PRIMARY KEY, "
        "logical_name TEXT NOT NULL)"_s,
        u"CREATE TABLE IF NOT EXISTS sqlsim_identity (name TEXT NOT NULL PRIMARY KEY COLLATE "
        "TSQL, seed INTEGER NOT NULL, increment INTEGER NOT NULL)"_s,
        u"CREATE VIEW IF NOT EXISTS sys_objects AS SELECT name, id AS object_id, "
        "NULL AS principal_id, 1 AS schema_id, parent_obj AS parent_object_id, type, "
        "CASE trim(type) WHEN 'U' THEN 'USER_TABLE' WHEN 'P' THEN 'SQL_STORED_PROCEDURE' "
        "ELSE 'OTHER' END AS type_desc, crdate AS create_date, refdate AS modify_date, "
        "0 AS is_ms_shipped FROM sysobjects"_s,
        // learn.microsoft.com/sql/relational-databases/system-dynamic-management-views/
        // sys-dm-server-services-transact-sql: the engine's service, automatic (2), running (4).
        u"CREATE VIEW IF NOT EXISTS sys_dm_server_services AS SELECT "
        "'SQL Server (MSSQLSERVER)' AS servicename, 2 AS startup_type, "
        "'Automatic' AS startup_type_desc, 4 AS status, 'Running' AS status_desc, "
        "tsql_serverproperty('ProcessID') AS process_id, NULL AS last_startup_time, "
        "'NT Service\\MSSQLSERVER' AS service_account, '\"C:\\Program Files\\Microsoft SQL "
        "Server\\MSSQL15.MSSQLSERVER\\MSSQL\\Binn\\sqlservr.exe\" -sMSSQLSERVER' AS filename, "
        "'N' AS is_clustered, '' AS cluster_nodename, "
        "'N' AS instant_file_initialization_enabled"_s,
        u"CREATE VIEW IF NOT EXISTS sys_tables AS SELECT * FROM sys_objects "
        "WHERE trim(type) = 'U'"_s,
        u"CREATE VIEW IF NOT EXISTS sys_procedures AS SELECT * FROM sys_objects "
        "WHERE trim(type) = 'P'"_s,
        u"CREATE VIEW IF NOT EXISTS information_schema_tables AS SELECT NULL AS TABLE_CATALOG, "
        "'dbo' AS TABLE_SCHEMA, name AS TABLE_NAME, 'BASE TABLE' AS TABLE_TYPE "
        "FROM sysobjects WHERE trim(type) = 'U'"_s,
        u"CREATE VIEW IF NOT EXISTS information_schema_routines AS SELECT NULL AS "
        "SPECIFIC_CATALOG, 'dbo' AS SPECIFIC_SCHEMA, name AS SPECIFIC_NAME, name AS ROUTINE_NAME, "
        "'PROCEDURE' AS ROUTINE_TYPE FROM sysobjects WHERE trim(type) = 'P'"_s,
    };
}

QString sysobjectsInsert(const QString& schema)
{
    // name, xtype/type as ?1 ?2; everything else as SQL Server fills it for user objects.
    return u"INSERT INTO %1.sysobjects (name, id, xtype, uid, info, status, base_schema_ver, "
           "replinfo, parent_obj, crdate, ftcatid, schema_ver, stats_schema_ver, type, userstat, "
           "sysstat, indexdel, refdate, version, deltrig, instrig, updtrig, seltrig, category, "
           "cache) VALUES (?1, (SELECT coalesce(max(id), 101575400) + 16 FROM %1.sysobjects), "
           "?2, 1, 0, 0, 0, 0, 0, tsql_getdate(0), 0, 0, 0, ?2, 1, 3, 0, tsql_getdate(0), 0, 0, "
           "0, 0, 0, 0, 0)"_s.arg(schema);
}

void writeLogFile(const QString& path, const QString& databaseName)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(5123,
             u"CREATE FILE encountered operating system error 3(The system cannot find the "
             "path specified.) while attempting to open or create the physical file '%1'."_s.arg(
                 serverfiles::shown(path)));
    // A log stands beside the data file; a page of header and nothing else.
    QByteArray page = "SQLSIM LOG 1\n" + databaseName.toUtf8() + "\n";
    page.resize(8192, '\0');
    f.write(page);
    f.close();
}

void createDatabaseFiles(const DatabaseFiles& files, DatabaseKind kind)
{
    for (const QString& path : {files.dataFile, files.logFile}) {
        if (QFileInfo::exists(path))
            fail(5170,
                 u"Cannot create file '%1' because it already exists. Change the file path "
                 "or the file name, and retry the operation."_s.arg(serverfiles::shown(path)));
        const QFileInfo info(path);
        if (!info.absoluteDir().exists())
            fail(5133, u"Directory lookup for the file \"%1\" failed with the operating system "
                       "error %2."_s.arg(serverfiles::shown(path),
                                         serverfiles::missingFolderError() == 3
                                             ? u"3(The system cannot find the path specified.)"_s
                                             : u"2(The system cannot find the file specified.)"_s));
    }
    {
        Connection db(files.dataFile, true);
        db.exec(u"PRAGMA page_size = 8192"_s);
        db.exec(u"PRAGMA journal_mode = DELETE"_s);
        QStringList statements = catalogStatements();
        if (kind == DatabaseKind::Master) {
            statements << u"CREATE TABLE IF NOT EXISTS sysdatabases ("
                          "name nvarchar(128) NOT NULL COLLATE TSQL, dbid smallint NOT NULL, "
                          "sid varbinary(85), mode smallint, status int, status2 int, "
                          "crdate datetime NOT NULL, reserved datetime, category int, "
                          "cmptlevel tinyint NOT NULL, filename nvarchar(260) COLLATE TSQL, "
                          "version smallint)"_s
                       << u"CREATE VIEW IF NOT EXISTS sys_databases AS "_s + sysDatabasesView();
        }
        if (kind == DatabaseKind::Msdb) {
            statements
                << u"CREATE TABLE IF NOT EXISTS backupmediaset ("
                   "media_set_id INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                   "media_uuid uniqueidentifier, media_family_count tinyint, "
                   "name nvarchar(128) COLLATE TSQL, description nvarchar(255) COLLATE TSQL, "
                   "software_name nvarchar(128) COLLATE TSQL, software_vendor_id int, "
                   "MTF_major_version tinyint, mirror_count tinyint, is_password_protected bit, "
                   "is_compressed bit, is_encrypted bit)"_s
                << u"CREATE TABLE IF NOT EXISTS backupmediafamily ("
                   "media_set_id int NOT NULL, family_sequence_number tinyint NOT NULL, "
                   "media_family_id uniqueidentifier, media_count int, "
                   "logical_device_name nvarchar(128) COLLATE TSQL, "
                   "physical_device_name nvarchar(260) COLLATE TSQL, device_type tinyint, "
                   "physical_block_size int, mirror tinyint NOT NULL)"_s
                << u"CREATE TABLE IF NOT EXISTS backupset ("
                   "backup_set_id INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, "
                   "backup_set_uuid uniqueidentifier NOT NULL, media_set_id int NOT NULL, "
                   "first_family_number tinyint, first_media_number smallint, "
                   "last_family_number tinyint, last_media_number smallint, "
                   "catalog_family_number tinyint, catalog_media_number smallint, "
                   "position int, expiration_date datetime, "
                   "software_vendor_id int, name nvarchar(128) COLLATE TSQL, "
                   "description nvarchar(255) COLLATE TSQL, user_name nvarchar(128) COLLATE TSQL, "
                   "software_major_version tinyint, software_minor_version tinyint, "
                   "software_build_version smallint, time_zone smallint, mtf_minor_version "
                   "tinyint, "
                   "first_lsn numeric(25,0), last_lsn numeric(25,0), checkpoint_lsn numeric(25,0), "
                   "database_backup_lsn numeric(25,0), database_creation_date datetime, "
                   "backup_start_date datetime, backup_finish_date datetime, "
                   "type char(1) COLLATE TSQL, sort_order smallint, code_page smallint, "
                   "compatibility_level tinyint, database_version int, "
                   "backup_size numeric(20,0), database_name nvarchar(128) COLLATE TSQL, "
                   "server_name nvarchar(128) COLLATE TSQL, machine_name nvarchar(128) COLLATE "
                   "TSQL, "
                   "flags int, unicode_locale int, unicode_compare_style int, "
                   "collation_name nvarchar(128) COLLATE TSQL, is_password_protected bit, "
                   "recovery_model nvarchar(60) COLLATE TSQL, has_bulk_logged_data bit, "
                   "is_snapshot bit, is_readonly bit, is_single_user bit, "
                   "has_backup_checksums bit, is_damaged bit, begins_log_chain bit, "
                   "has_incomplete_metadata bit, is_force_offline bit, is_copy_only bit, "
                   "first_recovery_fork_guid uniqueidentifier, "
                   "last_recovery_fork_guid uniqueidentifier, fork_point_lsn numeric(25,0), "
                   "database_guid uniqueidentifier, family_guid uniqueidentifier, "
                   "differential_base_lsn numeric(25,0), differential_base_guid uniqueidentifier, "
                   "compressed_backup_size numeric(20,0), key_algorithm nvarchar(32), "
                   "encryptor_thumbprint varbinary(20), encryptor_type nvarchar(32))"_s;
        }
        for (const QString& s : statements)
            db.exec(s);
        db.exec(u"INSERT OR REPLACE INTO sqlsim_files (kind, logical_name) VALUES ('D', %1), "
                "('L', %2)"_s.arg(q(files.dataLogicalName), q(files.logLogicalName)));
        // The catalogue tables themselves are not user objects.
    }
    writeLogFile(files.logFile, files.name);
}

DataFileInfo prepareDataFile(const QString& dataFile, const QString& databaseName)
{
    const QFileInfo info(dataFile);
    if (!info.exists() || !info.isFile())
        fail(5120, u"Unable to open the physical file \"%1\". Operating system error 2: \"2(The "
                   "system cannot find the file specified.)\"."_s.arg(dataFile));
    Connection db(dataFile);
    // Reading the schema tells whether it is a database at all.
    {
        sqlite3_stmt* st = nullptr;
        const int rc =
            sqlite3_prepare_v2(db.handle(), "SELECT count(*) FROM sqlite_master", -1, &st, nullptr);
        int step = rc == SQLITE_OK ? sqlite3_step(st) : rc;
        sqlite3_finalize(st);
        if (rc != SQLITE_OK || (step != SQLITE_ROW && step != SQLITE_DONE)) {
            if (step == SQLITE_BUSY || step == SQLITE_LOCKED)
                fail(1222, u"Lock request time out period exceeded."_s);
            fail(5172, u"The header for file '%1' is not a valid database file header. The FILE "
                       "SIZE property is incorrect."_s.arg(dataFile));
        }
    }
    db.exec(u"BEGIN IMMEDIATE"_s);
    try {
        for (const QString& s : catalogStatements())
            db.exec(s);
        // sysobjects follows the tables and procedures really present.
        db.exec(u"DELETE FROM sysobjects WHERE trim(type) = 'U' AND name NOT IN "
                "(SELECT name FROM sqlite_master WHERE type = 'table')"_s);
        db.exec(u"DELETE FROM sysobjects WHERE trim(type) = 'P' AND name NOT IN "
                "(SELECT name FROM sqlsim_modules)"_s);
        const QString insert =
            u"INSERT INTO sysobjects (name, id, xtype, uid, info, status, base_schema_ver, "
            "replinfo, parent_obj, crdate, ftcatid, schema_ver, stats_schema_ver, type, userstat, "
            "sysstat, indexdel, refdate, version, deltrig, instrig, updtrig, seltrig, category, "
            "cache) SELECT name, (SELECT coalesce(max(id), 101575400) FROM sysobjects) + 16 * "
            "(row_number() OVER (ORDER BY name)), '%1', 1, 0, 0, 0, 0, 0, '%2', 0, 0, 0, '%1', 1, "
            "3, 0, '%2', 0, 0, 0, 0, 0, 0, 0 FROM %3 WHERE name NOT IN (SELECT name FROM "
            "sysobjects)%4"_s;
        db.exec(insert.arg(u"U "_s, now(), u"sqlite_master"_s,
                           u" AND type = 'table' AND name NOT LIKE 'sqlite%' AND name NOT LIKE "
                           "'sqlsim%' AND name <> 'sysobjects' AND name <> 'sysdatabases'"
                           " AND name NOT LIKE 'backupmedia%' AND name <> 'backupset'"_s));
        db.exec(insert.arg(u"P "_s, now(), u"sqlsim_modules"_s, QString()));
        db.exec(u"COMMIT"_s);
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    DataFileInfo out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db.handle(), "SELECT kind, logical_name FROM sqlsim_files", -1, &st,
                           nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            const QString kind =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            const QString name =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
            if (kind == u"D")
                out.dataLogicalName = name;
            else if (kind == u"L")
                out.logLogicalName = name;
        }
    }
    sqlite3_finalize(st);
    if (out.dataLogicalName.isEmpty())
        out.dataLogicalName = databaseName;
    if (out.logLogicalName.isEmpty())
        out.logLogicalName = databaseName + u"_log"_s;
    return out;
}

void writeLogicalNames(const QString& dataFile, const QString& dataLogical,
                       const QString& logLogical)
{
    Connection db(dataFile);
    db.exec(u"INSERT OR REPLACE INTO sqlsim_files (kind, logical_name) VALUES ('D', %1), "
            "('L', %2)"_s.arg(q(dataLogical), q(logLogical)));
}

void writeSysdatabases(const QString& masterFile, const QList<SysdatabasesRow>& rows)
{
    Connection db(masterFile);
    db.exec(u"BEGIN IMMEDIATE"_s);
    try {
        db.exec(u"DELETE FROM sysdatabases"_s);
        for (const SysdatabasesRow& r : rows) {
            const int status = (r.system ? 65544 : 65536) | (r.singleUser ? singleUserStatus : 0) |
                               (r.offline ? offlineStatus : 0) |
                               (r.restoring ? restoringStatus : 0);
            const QStringList values = {q(r.name),
                                        QString::number(r.dbid),
                                        QString::number(status),
                                        QString::number(r.system ? 1090520064 : 1627389952),
                                        q(storageDateTime(r.created, BaseType::DateTime)),
                                        QString::number(r.cmptlevel),
                                        q(serverfiles::shown(r.filename)),
                                        QString::number(r.version)};
            db.exec(u"INSERT INTO sysdatabases (name, dbid, sid, mode, status, status2, crdate, "
                    "reserved, category, cmptlevel, filename, version) VALUES ("_s +
                    values.mid(0, 2).join(u", "_s) + u", X'"_s +
                    QString::fromLatin1(r.ownerSid.toHex()) + u"', 0, "_s +
                    values.mid(2, 3).join(u", "_s) + u", '1900-01-01 00:00:00.000', 0, "_s +
                    values.mid(5).join(u", "_s) + u')');
        }
        db.exec(u"COMMIT"_s);
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void refreshMasterViews(const QString& masterFile)
{
    Connection db(masterFile);
    db.exec(u"BEGIN IMMEDIATE"_s);
    try {
        db.exec(u"DROP VIEW IF EXISTS sys_databases"_s);
        db.exec(u"CREATE VIEW sys_databases AS "_s + sysDatabasesView());
        db.exec(u"COMMIT"_s);
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool readSingleUser(const QString& dataFile)
{
    Connection db(dataFile);
    sqlite3_stmt* st = nullptr;
    bool on = false;
    if (sqlite3_prepare_v2(db.handle(),
                           "SELECT value FROM sqlsim_options WHERE name = 'user_access'", -1, &st,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        on = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) ==
             u"SINGLE_USER";
    sqlite3_finalize(st);
    return on;
}

void writeSingleUser(const QString& dataFile, bool on)
{
    Connection db(dataFile);
    db.exec(u"CREATE TABLE IF NOT EXISTS sqlsim_options (name TEXT NOT NULL PRIMARY KEY, "
            "value TEXT)"_s);
    db.exec(u"INSERT OR REPLACE INTO sqlsim_options (name, value) VALUES ('user_access', %1)"_s.arg(
        q(on ? u"SINGLE_USER"_s : u"MULTI_USER"_s)));
}

void recordBackup(const QString& msdbFile, const BackupRecord& r, const QString& userName,
                  const QString& serverName)
{
    Connection db(msdbFile);
    db.exec(u"BEGIN IMMEDIATE"_s);
    try {
        const QString start = storageDateTime(
            r.startDate.isValid() ? r.startDate : QDateTime::currentDateTime(), BaseType::DateTime);
        const QString finish =
            storageDateTime(r.finishDate.isValid() ? r.finishDate : QDateTime::currentDateTime(),
                            BaseType::DateTime);
        db.exec(u"INSERT INTO backupmediaset (media_uuid, media_family_count, name, description, "
                "software_name, software_vendor_id, MTF_major_version, mirror_count, "
                "is_password_protected, is_compressed, is_encrypted) VALUES "
                "(upper(hex(randomblob(16))), "
                "1, NULL, NULL, 'Microsoft SQL Server', 4608, 1, 1, 0, 0, 0)"_s);
        const qint64 mediaSet = sqlite3_last_insert_rowid(db.handle());
        db.exec(u"INSERT INTO backupmediafamily (media_set_id, family_sequence_number, "
                "media_family_id, media_count, logical_device_name, physical_device_name, "
                "device_type, physical_block_size, mirror) VALUES ("_s +
                QString::number(mediaSet) + u", 1, upper(hex(randomblob(16))), 1, NULL, "_s +
                q(r.physicalDeviceName) + u", 2, 512, 0)"_s);
        const QString set = QString::number(mediaSet);
        const QString size = QString::number(r.backupSize);
        db.exec(u"INSERT INTO backupset (backup_set_uuid, media_set_id, first_family_number, "
                "first_media_number, last_family_number, last_media_number, position, name, "
                "description, user_name, software_major_version, database_creation_date, "
                "backup_start_date, backup_finish_date, type, compatibility_level, "
                "database_version, backup_size, database_name, server_name, machine_name, "
                "collation_name, recovery_model, is_copy_only, compressed_backup_size) VALUES "
                "(upper(hex(randomblob(16))), "_s +
                QStringList{set, u"1, 1, 1, 1, 1"_s, r.name.isNull() ? u"NULL"_s : q(r.name),
                            r.description.isNull() ? u"NULL"_s : q(r.description), q(userName),
                            u"15"_s, q(start), q(start), q(finish), u"'D', 150, 904"_s, size,
                            q(r.databaseName), q(serverName), q(serverName),
                            q(serverCollation().name) + u", 'SIMPLE', "_s +
                                (r.copyOnly ? u"1"_s : u"0"_s),
                            size}
                    .join(u", "_s) +
                u')');
        db.exec(u"COMMIT"_s);
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace sqlsim::catalog
