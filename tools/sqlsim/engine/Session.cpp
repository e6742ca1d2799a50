#include "Collation.h"
#include "Parser.h"
#include "ServerFiles.h"
#include "ServerImpl.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QSysInfo>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

// Watches what goes to the client: the wire needs a DONE after anything else, and the engine
// needs to know whether a called operation reported an error.
class ReplyProxy : public ReplySink
{
public:
    explicit ReplyProxy(ReplySink& inner) : m_inner(inner) {}

    void message(const Message& m) override
    {
        m_pending = true;
        m_inner.message(m);
    }
    void columns(const QList<Column>& c) override
    {
        m_pending = true;
        m_inner.columns(c);
    }
    void row(const QList<Value>& v) override { m_inner.row(v); }
    void setTextSize(qint64 bytes) override { m_inner.setTextSize(bytes); }
    void done(DoneKind kind, std::optional<qint64> rowCount, bool error) override
    {
        m_pending = false;
        ++m_dones;
        m_inner.done(kind, rowCount, error);
    }
    void databaseChanged(const QString& n, const QString& o) override
    {
        m_pending = true;
        m_inner.databaseChanged(n, o);
    }
    void transactionBegan(quint64 d) override
    {
        m_pending = true;
        m_inner.transactionBegan(d);
    }
    void transactionCommitted(quint64 d) override
    {
        m_pending = true;
        m_inner.transactionCommitted(d);
    }
    void transactionRolledBack(quint64 d) override
    {
        m_pending = true;
        m_inner.transactionRolledBack(d);
    }
    void returnStatus(int s) override
    {
        m_pending = true;
        m_inner.returnStatus(s);
    }
    void returnValue(int o, const Param& p) override
    {
        m_pending = true;
        m_inner.returnValue(o, p);
    }
    bool cancelled() override { return m_inner.cancelled(); }
    void flush() override { m_inner.flush(); }
    [[noreturn]] void dropConnection() override
    {
        m_inner.dropConnection();
        std::abort();
    }

    int dones() const { return m_dones; }
    bool pending() const { return m_pending; }

private:
    ReplySink& m_inner;
    int m_dones = 0;
    bool m_pending = false;
};

struct StatementGuard
{
    sqlite3_stmt* st = nullptr;
    ~StatementGuard() { sqlite3_finalize(st); }
};

TypeInfo inferType(const QList<QList<Value>>& rows, int column)
{
    bool anyInt = false, anyReal = false, anyText = false, anyBlob = false, wide = false;
    qsizetype maxLen = 0;
    for (const auto& r : rows) {
        const Value& v = r[column];
        if (const auto* i = std::get_if<qint64>(&v)) {
            anyInt = true;
            if (*i < std::numeric_limits<qint32>::min() || *i > std::numeric_limits<qint32>::max())
                wide = true;
        } else if (std::holds_alternative<double>(v)) {
            anyReal = true;
        } else if (const auto* s = std::get_if<QString>(&v)) {
            anyText = true;
            maxLen = std::max(maxLen, s->size());
        } else if (std::holds_alternative<QByteArray>(v)) {
            anyBlob = true;
        }
    }
    if (anyBlob)
        return TypeInfo::of(BaseType::VarBinary, ColumnType::max);
    if (anyText)
        return TypeInfo::of(BaseType::NVarChar, maxLen > 4000 ? int(ColumnType::max) : 4000);
    if (anyReal)
        return TypeInfo::of(BaseType::Float);
    if (anyInt)
        return TypeInfo::of(wide ? BaseType::BigInt : BaseType::Int);
    return TypeInfo::of(BaseType::Int);
}

} // namespace

// ---- life cycle

SessionImpl::SessionImpl(ServerImpl& server, const QString& login, const QString& database,
                         const ClientInfo& client)
    : m_server(server), m_spid(server.nextSpid()), m_login(login), m_client(client),
      m_loginTime(QDateTime::currentDateTime()), m_lastBatch(m_loginTime)
{
    if (sqlite3_open_v2(":memory:", &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw SqlError(701, u"There is insufficient system memory to run this query."_s);
    }
    registerFunctions(m_db, this);
    registerSecurityFunctions();
    // "name" is always an identifier, never a string, as in T-SQL.
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_exec(m_db, "PRAGMA temp_store = MEMORY; PRAGMA foreign_keys = ON", nullptr, nullptr,
                 nullptr);
    // A long query stops when the client sends an attention.
    sqlite3_progress_handler(
        m_db, 200000,
        [](void* self) -> int {
            auto* session = static_cast<SessionImpl*>(self);
            return session->m_killed || (session->m_reply && session->m_reply->cancelled()) ? 1 : 0;
        },
        this);
    applyBusyTimeout();
    m_language = &m_server.sessionLanguage(login, client.language);
    m_dateFormat = m_language.load()->dateFormat;
    try {
        makeLanguageView();
    } catch (...) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
    const auto entry = m_server.database(database);
    if (!entry) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(database));
    }
    try {
        // The files of a database nobody may enter stay untouched.
        m_server.enterDatabase(entry->files.name, this);
        attachDatabase(*entry);
    } catch (...) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
    {
        std::lock_guard lock(m_published);
        m_currentDb = entry->files.name;
    }
    try {
        m_server.addSession(this);
    } catch (...) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
}

SessionImpl::~SessionImpl()
{
    // Its locks on the files go before it leaves: whoever waits for it to leave writes there
    // next, and could otherwise sleep in SQLite's busy handler.
    std::lock_guard busy(m_busy);
    if (m_sqliteTx)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_server.removeSession(this);
}

QString SessionImpl::currentDatabase() const
{
    std::lock_guard lock(m_published);
    return m_currentDb;
}

void SessionImpl::setTerminator(std::function<void()> terminate)
{
    std::lock_guard lock(m_published);
    m_terminate = std::move(terminate);
}

void SessionImpl::terminate()
{
    m_killed = true;
    std::function<void()> terminate;
    {
        std::lock_guard lock(m_published);
        terminate = m_terminate;
    }
    if (terminate)
        terminate();
}

bool SessionImpl::isIn(const QString& databaseLower) const
{
    std::lock_guard lock(m_published);
    return m_currentDb.toLower() == databaseLower;
}

SessionSnapshot SessionImpl::snapshot() const
{
    SessionSnapshot out;
    out.spid = m_spid;
    out.login = m_login;
    out.client = m_client;
    out.loginTime = m_loginTime;
    out.running = m_running;
    out.openTransactions = m_openTransactions;
    out.blockedBy = m_blockedBy;
    QString database;
    out.language = m_language.load()->name;
    {
        std::lock_guard lock(m_published);
        out.dateFormat = m_dateFormat;
        out.lastBatch = m_lastBatch;
        database = m_currentDb;
    }
    if (const auto entry = m_server.database(database))
        out.dbid = entry->dbid;
    return out;
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

bool SessionImpl::uses(const QString& databaseLower) const
{
    std::lock_guard lock(m_published);
    return m_currentDb.toLower() == databaseLower || m_attached.contains(databaseLower);
}

bool SessionImpl::tryRelease(const QString& databaseLower)
{
    std::unique_lock busy(m_busy, std::try_to_lock);
    if (!busy.owns_lock() || m_sqliteTx)
        return false;
    if (m_currentDb.toLower() == databaseLower)
        return false;
    if (m_attached.contains(databaseLower))
        detachAlias(databaseLower);
    return true;
}

void SessionImpl::applyBusyTimeout()
{
    sqlite3_busy_timeout(m_db, m_lockTimeout < 0 ? 10000 : m_lockTimeout);
}

QString SessionImpl::attachDatabase(const DatabaseEntry& entry)
{
    const QString key = entry.files.name.toLower();
    if (!QFileInfo::exists(entry.files.dataFile))
        throw SqlError(945, u"Database '%1' cannot be opened due to inaccessible files or "
                            "insufficient memory or disk space.  See the SQL Server errorlog for "
                            "details."_s.arg(entry.files.name));
    const QString alias = u"db%1"_s.arg(m_nextAlias++);
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = (u"ATTACH DATABASE ?1 AS "_s + Translator::quote(alias)).toUtf8();
    int rc = sqlite3_prepare_v2(m_db, sql.constData(), -1, &st, nullptr);
    if (rc == SQLITE_OK) {
        const QByteArray path = entry.files.dataFile.toUtf8();
        sqlite3_bind_text(st, 1, path.constData(), int(path.size()), SQLITE_TRANSIENT);
        rc = sqlite3_step(st);
    }
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE && rc != SQLITE_OK) {
        if (QString::fromUtf8(sqlite3_errmsg(m_db)).contains(u"too many attached"_s))
            throw SqlError(40002, u"sqlsim cannot open more than 10 databases in one session at "
                                  "once."_s);
        throw SqlError(945, u"Database '%1' cannot be opened due to inaccessible files or "
                            "insufficient memory or disk space.  See the SQL Server errorlog for "
                            "details."_s.arg(entry.files.name));
    }
    const QByteArray pragma =
        (u"PRAGMA "_s + Translator::quote(alias) + u".synchronous = OFF"_s).toUtf8();
    sqlite3_exec(m_db, pragma.constData(), nullptr, nullptr, nullptr);
    std::lock_guard lock(m_published);
    m_attached.insert(key, alias);
    return alias;
}

void SessionImpl::detachAlias(const QString& lower)
{
    QString alias;
    {
        std::lock_guard lock(m_published);
        alias = m_attached.value(lower);
    }
    if (alias.isEmpty())
        return;
    const QByteArray sql = (u"DETACH DATABASE "_s + Translator::quote(alias)).toUtf8();
    if (sqlite3_exec(m_db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK) {
        std::lock_guard lock(m_published);
        m_attached.remove(lower);
    }
}

void SessionImpl::detachIdle()
{
    if (m_sqliteTx)
        return;
    QStringList keys;
    {
        std::lock_guard lock(m_published);
        keys = m_attached.keys();
    }
    const QString current = m_currentDb.toLower();
    for (const QString& k : keys)
        if (k != current)
            detachAlias(k);
}

void SessionImpl::releaseDatabase(const QString& name)
{
    const QString key = name.toLower();
    if (key != m_currentDb.toLower() && !m_sqliteTx)
        detachAlias(key);
    m_server.releaseEverywhere(name, this);
}

void SessionImpl::setCurrentDatabase(const QString& name)
{
    {
        std::lock_guard lock(m_published);
        m_currentDb = name;
    }
    m_server.sessionsChanged();
}

std::optional<QString> SessionImpl::schemaFor(const QString& database)
{
    const QString key = database.toLower();
    {
        std::lock_guard lock(m_published);
        const auto it = m_attached.find(key);
        if (it != m_attached.end())
            return *it;
    }
    const auto entry = m_server.database(database);
    if (!entry)
        return std::nullopt;
    requireAccess(entry->files.name);
    QString alias;
    m_server.enterDatabase(entry->files.name, this, [&] { alias = attachDatabase(*entry); });
    return alias;
}

// ---- requests

void SessionImpl::beginRequest(ReplySink& reply)
{
    m_running = true;
    {
        std::lock_guard lock(m_published);
        m_lastBatch = QDateTime::currentDateTime();
    }
    m_reply = &reply;
    setThreadDateFormat(m_dateFormat);
    setTextSize(m_textSize);
}

void SessionImpl::setDateFormat(const QString& order)
{
    {
        std::lock_guard lock(m_published);
        m_dateFormat = order;
    }
    setThreadDateFormat(order);
}

void SessionImpl::setTextSize(int bytes)
{
    m_textSize = bytes;
    if (m_reply)
        m_reply->setTextSize(bytes < 0 ? -1 : bytes);
}

void SessionImpl::endRequest()
{
    detachIdle();
    m_reply = nullptr;
    m_frame = nullptr;
    m_openTransactions = m_trancount;
    m_running = false;
}

void SessionImpl::executeBatch(const QString& sql, ReplySink& reply)
{
    std::lock_guard busy(m_busy);
    ReplyProxy out(reply);
    beginRequest(out);
    std::vector<StmtPtr> statements;
    bool parsed = false;
    try {
        statements = parseBatch(sql);
        parsed = true;
    } catch (const SqlError& e) {
        Message m = e.message;
        m_error = m.number;
        out.message(m);
        out.done(DoneKind::Statement, std::nullopt, true);
    }
    if (parsed) {
        Frame frame;
        m_frame = &frame;
        try {
            for (const StmtPtr& s : statements) {
                const Flow flow = runStatement(*s, frame);
                if (flow == Flow::Return)
                    break;
            }
        } catch (const BatchAborted&) {
        } catch (const Cancelled&) {
            endRequest();
            return;
        }
        if (out.dones() == 0 || out.pending())
            out.done(DoneKind::Statement, std::nullopt, false);
    }
    endRequest();
}

void SessionImpl::checkCancel()
{
    if ((m_reply && m_reply->cancelled()) || m_killed)
        throw Cancelled();
}

SessionImpl::Flow SessionImpl::runStatement(const Stmt& s, Frame& frame)
{
    checkCancel();
    m_statementLine = s.line;
    try {
        const Flow flow = runStatementInner(s, frame);
        if (s.kind != Stmt::If && s.kind != Stmt::While && s.kind != Stmt::Block &&
            s.kind != Stmt::Declare && s.kind != Stmt::Exec)
            m_error = 0;
        return flow;
    } catch (const SqlError& e) {
        m_error = e.message.number;
        sendError(e.message, &s, frame);
        done(frame, std::nullopt, true);
        if (e.abortBatch)
            throw BatchAborted();
        return Flow::Next;
    }
}

void SessionImpl::sendError(const Message& message, const Stmt* s, const Frame& frame)
{
    Message m = message;
    if (s && m.line <= 1)
        m.line = s->line;
    if (m.procedure.isEmpty())
        m.procedure = frame.procedure;
    if (m.severity <= 10)
        m.severity = 16;
    m_reply->message(m);
}

void SessionImpl::sendInfo(int number, const QString& text, int severity)
{
    Message m;
    m.number = number;
    m.severity = severity;
    m.state = 1;
    m.text = text;
    if (m_frame)
        m.procedure = m_frame->procedure;
    m_reply->message(m);
}

void SessionImpl::done(const Frame& frame, std::optional<qint64> count, bool error)
{
    m_reply->done(frame.doneKind, count, error);
}

std::optional<qint64> SessionImpl::countOf(qint64 rows) const
{
    if (m_nocount)
        return std::nullopt;
    return rows;
}

SessionImpl::Flow SessionImpl::runStatementInner(const Stmt& s, Frame& frame)
{
    switch (s.kind) {
    case Stmt::Select:
        runSelect(s, frame);
        return Flow::Next;
    case Stmt::Insert:
        runInsert(s, frame);
        return Flow::Next;
    case Stmt::Update:
    case Stmt::Delete:
        runUpdateDelete(s, frame);
        return Flow::Next;
    case Stmt::CreateTable:
        runCreateTable(s, frame);
        return Flow::Next;
    case Stmt::DropTable:
        runDropTable(s, frame);
        return Flow::Next;
    case Stmt::AlterTable:
        runAlterTable(s, frame);
        return Flow::Next;
    case Stmt::CreateIndex:
        runCreateIndex(s, frame);
        return Flow::Next;
    case Stmt::DropIndex:
        runDropIndex(s, frame);
        return Flow::Next;
    case Stmt::Truncate:
        runTruncate(s, frame);
        return Flow::Next;
    case Stmt::Use:
        m_rowcount = 0;
        runUse(s, frame);
        return Flow::Next;
    case Stmt::Declare:
        runDeclare(s, frame);
        return Flow::Next;
    case Stmt::SetVariable: {
        std::optional<TypeInfo> type;
        const Value v = evaluate(s.expr, &type);
        assign(frame, s.variable, v, type, s.op);
        m_rowcount = 1;
        return Flow::Next;
    }
    case Stmt::SetOption:
        runSetOption(s, frame);
        m_rowcount = 0;
        return Flow::Next;
    case Stmt::If: {
        if (evaluateCondition(s.expr))
            return runStatement(*s.thenStmt, frame);
        if (s.elseStmt)
            return runStatement(*s.elseStmt, frame);
        return Flow::Next;
    }
    case Stmt::While: {
        while (evaluateCondition(s.expr)) {
            checkCancel();
            const Flow f = runStatement(*s.thenStmt, frame);
            if (f == Flow::Break)
                break;
            if (f == Flow::Return)
                return f;
        }
        return Flow::Next;
    }
    case Stmt::Block:
        for (const StmtPtr& inner : s.body) {
            const Flow f = runStatement(*inner, frame);
            if (f != Flow::Next)
                return f;
        }
        return Flow::Next;
    case Stmt::Break:
        return Flow::Break;
    case Stmt::Continue:
        return Flow::Continue;
    case Stmt::Return:
        if (s.expr) {
            if (frame.nestLevel == 0)
                throw SqlError(178, u"A RETURN statement with a return value cannot be used in "
                                    "this context."_s);
            std::optional<TypeInfo> type;
            const Value v = convertValue(evaluate(s.expr, &type), type, TypeInfo::of(BaseType::Int),
                                         ConversionMode::Variable);
            frame.returnStatus = isNull(v) ? 0 : int(std::get<qint64>(v));
        }
        return Flow::Return;
    case Stmt::Print:
        m_rowcount = 0;
        runPrint(s, frame);
        return Flow::Next;
    case Stmt::Raiserror:
        m_rowcount = 0;
        runRaiserror(s, frame);
        return Flow::Next;
    case Stmt::Exec:
        runExec(s, frame);
        return Flow::Next;
    case Stmt::BeginTran:
        m_rowcount = 0;
        runBeginTran(s, frame);
        return Flow::Next;
    case Stmt::CommitTran:
        m_rowcount = 0;
        runCommit(s, frame);
        return Flow::Next;
    case Stmt::RollbackTran:
        runRollback(s, frame);
        return Flow::Next;
    case Stmt::SaveTran:
        runSave(s, frame);
        return Flow::Next;
    case Stmt::CreateProc:
        runCreateProc(s, frame);
        return Flow::Next;
    case Stmt::DropProc:
        runDropProc(s, frame);
        return Flow::Next;
    case Stmt::CreateDatabase:
        runCreateDatabase(s, frame);
        return Flow::Next;
    case Stmt::DropDatabase:
        runDropDatabase(s, frame);
        return Flow::Next;
    case Stmt::Backup:
        runBackup(s, frame);
        return Flow::Next;
    case Stmt::Restore:
        runRestore(s, frame);
        return Flow::Next;
    case Stmt::AlterDatabase:
        runAlterDatabase(s, frame);
        return Flow::Next;
    case Stmt::Security:
        runSecurity(s, frame);
        return Flow::Next;
    case Stmt::Unsupported:
        throw SqlError(40000, u"sqlsim does not support '%1'."_s.arg(s.name));
    }
    return Flow::Next;
}

// ---- SQLite access

SqlError SessionImpl::sqliteError(int rc, const Translation* t, const QString& context) const
{
    const QString text = QString::fromUtf8(sqlite3_errmsg(m_db));
    if (const auto m = decodeError(sqlite3_errmsg(m_db)))
        return SqlError(*m);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED || text.contains(u"database is locked"_s))
        return SqlError(1222, u"Lock request time out period exceeded."_s);
    if (rc == SQLITE_INTERRUPT) {
        if (m_reply && m_reply->cancelled())
            throw Cancelled();
        return SqlError(3980, u"The request failed to run because the batch is aborted."_s);
    }
    static const QRegularExpression noTable(u"^no such table: (?:([^.]+)\\.)?(.+)$"_s);
    static const QRegularExpression noColumn(u"^no such column: (.+)$"_s);
    static const QRegularExpression exists(
        u"^(?:table|index|view) \"?([^\"]+)\"? already exists"_s);
    static const QRegularExpression notNull(u"^NOT NULL constraint failed: ([^.]+)\\.(.+)$"_s);
    static const QRegularExpression unique(u"^UNIQUE constraint failed: ([^.]+)\\."_s);
    static const QRegularExpression check(u"^CHECK constraint failed: (.+)$"_s);
    static const QRegularExpression ambiguous(u"^ambiguous column name: (.+)$"_s);
    static const QRegularExpression noFunction(u"^no such function: (.+)$"_s);
    if (const auto m = noTable.match(text); m.hasMatch()) {
        QString name = m.captured(2);
        if (t) {
            const QString key = (m.captured(1) + u'.' + name).toLower();
            name = t->tableNames.value(key, t->tableNames.value(u"."_s + name.toLower(), name));
            for (auto it = t->tableNames.begin(); it != t->tableNames.end(); ++it)
                if (it.key().endsWith(u'.' + m.captured(2).toLower()))
                    name = it.value();
        }
        return SqlError(208, u"Invalid object name '%1'."_s.arg(name));
    }
    if (const auto m = noColumn.match(text); m.hasMatch()) {
        QString col = m.captured(1);
        if (col.contains(u'.'))
            return SqlError(4104,
                            u"The multi-part identifier \"%1\" could not be bound."_s.arg(col));
        return SqlError(207, u"Invalid column name '%1'."_s.arg(col));
    }
    if (const auto m = exists.match(text); m.hasMatch())
        return SqlError(2714, u"There is already an object named '%1' in the database."_s.arg(
                                  m.captured(1).section(u'.', -1)));
    if (const auto m = notNull.match(text); m.hasMatch()) {
        const QString table = t && !t->target.isEmpty() ? t->target : m.captured(1);
        return SqlError(515, u"Cannot insert the value NULL into column '%1', table '%2'; column "
                             "does not allow nulls. %3 fails."_s.arg(
                                 m.captured(2), table, context.isEmpty() ? u"INSERT"_s : context));
    }
    if (const auto m = unique.match(text); m.hasMatch()) {
        const QString table = m.captured(1);
        return SqlError(2627, u"Violation of PRIMARY KEY constraint 'PK_%1'. Cannot insert "
                              "duplicate key in object 'dbo.%1'."_s.arg(table));
    }
    if (text.startsWith(u"FOREIGN KEY constraint failed"_s))
        return SqlError(547, u"The %1 statement conflicted with the FOREIGN KEY constraint. The "
                             "conflict occurred in database '%2'."_s.arg(
                                 context.isEmpty() ? u"INSERT"_s : context, m_currentDb));
    if (const auto m = check.match(text); m.hasMatch())
        return SqlError(547,
                        u"The %1 statement conflicted with the CHECK constraint \"%2\". The "
                        "conflict occurred in database '%3'."_s.arg(
                            context.isEmpty() ? u"INSERT"_s : context, m.captured(1), m_currentDb));
    if (const auto m = ambiguous.match(text); m.hasMatch())
        return SqlError(209, u"Ambiguous column name '%1'."_s.arg(m.captured(1).section(u'.', -1)));
    if (const auto m = noFunction.match(text); m.hasMatch())
        return SqlError(195,
                        u"'%1' is not a recognized built-in function name."_s.arg(m.captured(1)));
    if (text.contains(u"do not have the same number of result columns"_s))
        return SqlError(205, u"All queries combined using a UNION, INTERSECT or EXCEPT operator "
                             "must have an equal number of expressions in their target lists."_s);
    if (text.contains(u"sub-select returns"_s) || text.contains(u"row value misused"_s))
        return SqlError(116, u"Only one expression can be specified in the select list when the "
                             "subquery is not introduced with EXISTS."_s);
    if (text.contains(u"term out of range"_s))
        return SqlError(108, u"The ORDER BY position number is out of range of the number of "
                             "items in the select list."_s);
    if (text.contains(u"misuse of aggregate"_s) ||
        text.contains(u"aggregate functions are not allowed"_s))
        return SqlError(147, u"An aggregate may not appear in the WHERE clause unless it is in a "
                             "subquery contained in a HAVING clause or a select list, and the "
                             "column being aggregated is an outer reference."_s);
    if (text.contains(u"string or blob too big"_s))
        return SqlError(8152, u"String or binary data would be truncated."_s);
    if (text.contains(u"too many attached"_s))
        return SqlError(40002, u"sqlsim cannot open more than 10 databases in one session at "
                               "once."_s);
    return SqlError(40001, u"sqlsim could not run the statement: %1"_s.arg(text));
}

sqlite3_stmt* SessionImpl::prepare(const QString& sql, const Translation* t)
{
    sqlite3_stmt* st = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(m_db, utf8.constData(), int(utf8.size()), &st, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(st);
        throw sqliteError(rc, t);
    }
    return st;
}

void SessionImpl::bindAll(sqlite3_stmt* st, const QList<Value>& binds)
{
    for (qsizetype i = 0; i < binds.size(); ++i)
        bindValue(st, int(i + 1), binds[i]);
}

qint64 SessionImpl::execute(const Translation& t, const QString& context)
{
    StatementGuard g;
    g.st = prepare(t.sql, &t);
    bindAll(g.st, t.binds);
    int rc;
    while ((rc = sqlite3_step(g.st)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE)
        throw sqliteError(rc, &t, context);
    return sqlite3_changes64(m_db);
}

void SessionImpl::execSql(const QString& sql, const QList<Value>& binds)
{
    Translation t;
    t.sql = sql;
    t.binds = binds;
    execute(t);
}

std::optional<Value> SessionImpl::scalarQuery(const QString& sql, const QList<Value>& binds)
{
    Translation t;
    t.sql = sql;
    t.binds = binds;
    StatementGuard g;
    g.st = prepare(sql, &t);
    bindAll(g.st, binds);
    const int rc = sqlite3_step(g.st);
    if (rc == SQLITE_ROW)
        return columnValue(g.st, 0);
    if (rc != SQLITE_DONE)
        throw sqliteError(rc, &t);
    return std::nullopt;
}

void SessionImpl::ensureWriteTransaction()
{
    if (m_trancount > 0 && !m_sqliteTx) {
        const int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            throw sqliteError(rc, nullptr);
        m_sqliteTx = true;
    }
}

void SessionImpl::atomically(const std::function<void()>& body)
{
    ensureWriteTransaction();
    if (m_sqliteTx) {
        execSql(u"SAVEPOINT sqlsim_statement"_s);
        try {
            body();
        } catch (...) {
            sqlite3_exec(m_db, "ROLLBACK TO sqlsim_statement; RELEASE sqlsim_statement", nullptr,
                         nullptr, nullptr);
            throw;
        }
        execSql(u"RELEASE sqlsim_statement"_s);
        return;
    }
    const int rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw sqliteError(rc, nullptr);
    try {
        body();
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    const int crc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (crc != SQLITE_OK) {
        const SqlError e = sqliteError(crc, nullptr);
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw e;
    }
}

// ---- expressions and variables

const Variable* SessionImpl::variable(const QString& name) const
{
    if (!m_frame)
        return nullptr;
    const auto it = m_frame->vars.find(name.toLower());
    return it == m_frame->vars.end() ? nullptr : &*it;
}

Variable* SessionImpl::findVariable(const QString& name)
{
    if (!m_frame)
        return nullptr;
    const auto it = m_frame->vars.find(name.toLower());
    return it == m_frame->vars.end() ? nullptr : &*it;
}

Variable SessionImpl::systemVariable(const QString& raw)
{
    const QString name = raw.toLower();
    auto make = [](BaseType b, Value v, int length = 0) {
        Variable var;
        var.type = TypeInfo::of(b, length);
        var.value = std::move(v);
        return var;
    };
    if (name == u"@@version")
        return make(BaseType::NVarChar, m_server.versionString(), 300);
    if (name == u"@@spid")
        return make(BaseType::SmallInt, qint64(m_spid));
    if (name == u"@@rowcount")
        return make(BaseType::Int, m_rowcount);
    if (name == u"@@error")
        return make(BaseType::Int, qint64(m_error));
    if (name == u"@@trancount")
        return make(BaseType::Int, qint64(m_trancount));
    if (name == u"@@identity") {
        Variable v;
        v.type = TypeInfo::of(BaseType::Numeric, 0, 38, 0);
        if (m_hasIdentity)
            v.value = QString::number(m_identity);
        return v;
    }
    if (name == u"@@servername")
        return make(BaseType::NVarChar, m_server.serverName(), 128);
    if (name == u"@@servicename")
        return make(BaseType::NVarChar, u"MSSQLSERVER"_s, 128);
    if (name == u"@@language")
        return make(BaseType::NVarChar, m_language.load()->name, 128);
    if (name == u"@@langid")
        return make(BaseType::SmallInt, qint64(m_language.load()->langid));
    if (name == u"@@datefirst")
        return make(BaseType::TinyInt, qint64(m_language.load()->dateFirst));
    if (name == u"@@textsize")
        return make(BaseType::Int, qint64(m_textSize));
    if (name == u"@@max_connections")
        return make(BaseType::Int, qint64(32767));
    if (name == u"@@microsoftversion")
        return make(BaseType::Int, qint64(m_server.programVersion()));
    if (name == u"@@options")
        return make(BaseType::Int, qint64(5496));
    if (name == u"@@nestlevel")
        return make(BaseType::Int, qint64(m_frame ? m_frame->nestLevel : 0));
    if (name == u"@@procid")
        return make(BaseType::Int, qint64(0));
    if (name == u"@@fetch_status")
        return make(BaseType::Int, qint64(-1));
    if (name == u"@@lock_timeout")
        return make(BaseType::Int, qint64(m_lockTimeout));
    if (name == u"@@dbts")
        return make(BaseType::VarBinary, QByteArray(8, '\0'), 8);
    if (name == u"@@max_precision")
        return make(BaseType::TinyInt, qint64(38));
    throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(raw));
}

QString SessionImpl::constantFunction(const QString& name)
{
    if (name == u"suser_sname" || name == u"suser_name" || name == u"original_login" ||
        name == u"system_user")
        return m_login;
    if (name == u"host_name")
        return QSysInfo::machineHostName();
    if (name == u"app_name")
        return QString();
    // USER_NAME(), CURRENT_USER: dbo, guest or the login's user in the current database.
    return databaseRights(m_currentDb).userName;
}

Value SessionImpl::evaluate(const ExprPtr& e, std::optional<TypeInfo>* type)
{
    // Constants and variables need no round trip through SQLite.
    switch (e->kind) {
    case Expr::Null:
        if (type)
            *type = std::nullopt;
        return {};
    case Expr::Integer: {
        bool ok = false;
        const qint64 v = e->text.toLongLong(&ok);
        if (ok) {
            if (type)
                *type = TypeInfo::of(v >= std::numeric_limits<qint32>::min() &&
                                             v <= std::numeric_limits<qint32>::max()
                                         ? BaseType::Int
                                         : BaseType::BigInt);
            return v;
        }
        break;
    }
    case Expr::String:
        if (type)
            *type = TypeInfo::of(e->unicode ? BaseType::NVarChar : BaseType::VarChar,
                                 std::max(1, int(e->text.size())));
        return e->text;
    case Expr::Variable: {
        const Variable* v = variable(e->text);
        if (!v)
            throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(e->text));
        if (type)
            *type = v->type;
        return v->value;
    }
    default:
        break;
    }
    Translator tr(*this);
    const Translation t = tr.scalar(e);
    if (type)
        *type = tr.scalarType(e);
    StatementGuard g;
    g.st = prepare(t.sql, &t);
    bindAll(g.st, t.binds);
    const int rc = sqlite3_step(g.st);
    if (rc == SQLITE_ROW)
        return columnValue(g.st, 0);
    if (rc != SQLITE_DONE)
        throw sqliteError(rc, &t);
    return {};
}

bool SessionImpl::evaluateCondition(const ExprPtr& e)
{
    const Value v = evaluate(e);
    if (const auto* i = std::get_if<qint64>(&v))
        return *i != 0;
    if (const auto* d = std::get_if<double>(&v))
        return *d != 0;
    return false;
}

QString SessionImpl::evaluateText(const ExprPtr& e)
{
    std::optional<TypeInfo> type;
    const Value v = evaluate(e, &type);
    if (isNull(v))
        return {};
    const Value text = convertValue(v, type, TypeInfo::of(BaseType::NVarChar, ColumnType::max),
                                    ConversionMode::Cast);
    return valueToText(text);
}

void SessionImpl::assign(Frame& frame, const QString& name, const Value& value,
                         const std::optional<TypeInfo>& source, const QString& op)
{
    auto it = frame.vars.find(name.toLower());
    if (it == frame.vars.end())
        throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(name));
    Value v = value;
    std::optional<TypeInfo> src = source;
    if (op != u"=") {
        const QChar o = op[0];
        const QString sql = o == u'+'   ? u"SELECT tsql_add(?1, ?2)"_s
                            : o == u'/' ? u"SELECT tsql_div(?1, ?2)"_s
                                        : u"SELECT (?1 %1 ?2)"_s.arg(o);
        v = scalarQuery(
                sql, {sqliteOperand(it->value, it->type), src ? sqliteOperand(value, *src) : value})
                .value_or(Value());
        src = std::nullopt;
    }
    it->value = convertValue(v, src, it->type, ConversionMode::Variable);
}

// ---- SELECT

void SessionImpl::runSelect(const Stmt& s, Frame& frame)
{
    if (s.select->into) {
        runSelectInto(s, frame);
        return;
    }
    Translator tr(*this);
    const Translation t = tr.select(*s.select);
    StatementGuard g;
    g.st = prepare(t.sql, &t);
    bindAll(g.st, t.binds);
    if (!t.assignments.isEmpty()) {
        qint64 rows = 0;
        int rc;
        while ((rc = sqlite3_step(g.st)) == SQLITE_ROW) {
            ++rows;
            for (qsizetype i = 0; i < t.assignments.size(); ++i) {
                assign(frame, t.assignments[i], columnValue(g.st, int(i)), t.assignTypes.value(i),
                       t.assignOps[i]);
            }
            if ((rows & 255) == 0)
                checkCancel();
        }
        if (rc != SQLITE_DONE)
            throw sqliteError(rc, &t);
        m_rowcount = rows;
        done(frame, countOf(rows));
        return;
    }
    streamResult(g.st, t, frame);
}

void SessionImpl::streamResult(sqlite3_stmt* st, const Translation& t, Frame& frame)
{
    const int n = sqlite3_column_count(st);
    QList<Column> columns;
    QList<std::optional<TypeInfo>> types;
    bool unknown = false;
    for (int i = 0; i < n; ++i) {
        const QString name = QString::fromUtf8(sqlite3_column_name(st, i));
        const char* decl = sqlite3_column_decltype(st, i);
        std::optional<TypeInfo> type;
        if (decl)
            type = typeFromDecl(QString::fromUtf8(decl));
        if (!type) {
            const auto it = t.hints.find(name.toLower());
            if (it != t.hints.end())
                type = *it;
        }
        if (!type)
            unknown = true;
        Column c;
        c.name = t.unnamed.contains(name.toLower()) ? QString() : name;
        columns << c;
        types << type;
    }
    qint64 rows = 0;
    int rc = SQLITE_ROW;
    if (unknown) {
        // Types come from the values: read everything first.
        QList<QList<Value>> buffer;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            QList<Value> r;
            r.reserve(n);
            for (int i = 0; i < n; ++i)
                r << columnValue(st, i);
            buffer << r;
            if ((buffer.size() & 255) == 0)
                checkCancel();
        }
        if (rc != SQLITE_DONE)
            throw sqliteError(rc, &t);
        for (int i = 0; i < n; ++i)
            if (!types[i])
                types[i] = inferType(buffer, i);
        for (int i = 0; i < n; ++i)
            columns[i].type = types[i]->columnType();
        m_reply->columns(columns);
        for (const QList<Value>& raw : buffer) {
            QList<Value> r;
            r.reserve(n);
            for (int i = 0; i < n; ++i)
                r << wireValue(raw[i], *types[i]);
            m_reply->row(r);
            if ((++rows & 255) == 0)
                checkCancel();
        }
    } else {
        for (int i = 0; i < n; ++i)
            columns[i].type = types[i]->columnType();
        bool sentColumns = false;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            if (!sentColumns) {
                m_reply->columns(columns);
                sentColumns = true;
            }
            QList<Value> r;
            r.reserve(n);
            for (int i = 0; i < n; ++i)
                r << wireValue(columnValue(st, i), *types[i]);
            m_reply->row(r);
            if ((++rows & 255) == 0)
                checkCancel();
        }
        if (rc != SQLITE_DONE) {
            const SqlError e = sqliteError(rc, &t);
            if (sentColumns) {
                // The result set has begun: end it before the error.
                m_rowcount = rows;
            }
            throw e;
        }
        if (!sentColumns)
            m_reply->columns(columns);
    }
    m_rowcount = rows;
    done(frame, countOf(rows));
}

// ---- simple statements

void SessionImpl::runUse(const Stmt& s, Frame& frame)
{
    if (frame.nestLevel > 0)
        throw SqlError(154, u"a USE database statement is not allowed in a procedure, function or "
                            "trigger."_s);
    const auto entry = m_server.database(s.name);
    if (!entry)
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(s.name));
    // Checked even when an earlier three-part name left the file open here.
    m_server.enterDatabase(entry->files.name, this);
    requireAccess(entry->files.name);
    if (!schemaFor(entry->files.name))
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(s.name));
    const QString old = m_currentDb;
    setCurrentDatabase(entry->files.name);
    m_reply->databaseChanged(entry->files.name, old);
    sendInfo(5701, u"Changed database context to '%1'."_s.arg(entry->files.name));
    done(frame, std::nullopt);
}

void SessionImpl::runDeclare(const Stmt& s, Frame& frame)
{
    for (const auto& d : s.declarations) {
        const QString key = d.name.toLower();
        if (frame.vars.contains(key))
            throw SqlError(
                134, u"The variable name '%1' has already been declared. Variable names "
                     "must be unique within a query batch or stored procedure."_s.arg(d.name));
        Variable v;
        v.type = d.type;
        frame.vars.insert(key, v);
        if (d.init) {
            std::optional<TypeInfo> type;
            const Value value = evaluate(d.init, &type);
            assign(frame, key, value, type);
        }
    }
}

void SessionImpl::runSetOption(const Stmt& s, Frame&)
{
    const QString option = s.words.value(0);
    const QString value = s.value.toUpper();
    const bool on = value == u"ON";
    auto numberValue = [&]() -> qint64 {
        if (!s.variable.isEmpty()) {
            const Variable* v = variable(s.variable);
            if (!v)
                throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(s.variable));
            const Value n = convertValue(v->value, v->type, TypeInfo::of(BaseType::BigInt),
                                         ConversionMode::Cast);
            return isNull(n) ? 0 : std::get<qint64>(n);
        }
        bool ok = false;
        const qint64 n = s.value.toLongLong(&ok);
        if (!ok)
            throw SqlError(102, u"Incorrect syntax near '%1'."_s.arg(s.value));
        return n;
    };
    if (option == u"NOCOUNT") {
        m_nocount = on;
        return;
    }
    if (option == u"LANGUAGE") {
        runSetLanguage(s);
        return;
    }
    if (option == u"DATEFORMAT") {
        // SET DATEFORMAT { format | @format_var }
        // https://learn.microsoft.com/sql/t-sql/statements/set-dateformat-transact-sql
        QString given = s.value;
        if (!s.variable.isEmpty()) {
            const Variable* v = variable(s.variable);
            if (!v)
                throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(s.variable));
            given = valueToText(v->value).trimmed();
        }
        const QString f = given.toLower();
        static const QStringList formats = {u"mdy"_s, u"dmy"_s, u"ymd"_s,
                                            u"ydm"_s, u"myd"_s, u"dym"_s};
        if (!formats.contains(f))
            throw SqlError(2741, u"SET DATEFORMAT date order '%1' not supported."_s.arg(given));
        setDateFormat(f);
        return;
    }
    if (option == u"LOCK_TIMEOUT") {
        m_lockTimeout = int(std::clamp<qint64>(numberValue(), -1, 600000));
        applyBusyTimeout();
        return;
    }
    if (option == u"TEXTSIZE") {
        // The parser has checked the number. 0 is the default of 4096 again; -1 means no limit,
        // and @@TEXTSIZE then reports -1; no value is longer than 2147483647 bytes. The pages
        // name no other negative number: such a number is kept as given and limits nothing.
        // https://learn.microsoft.com/sql/t-sql/statements/set-textsize-transact-sql
        // https://learn.microsoft.com/sql/relational-databases/native-client/features/filestream-support
        const qint64 n = numberValue();
        setTextSize(n == 0 ? defaultTextSize : int(n));
        return;
    }
    if (option == u"ROWCOUNT") {
        if (numberValue() != 0)
            throw SqlError(40000, u"sqlsim does not support 'SET ROWCOUNT' with a limit."_s);
        return;
    }
    if (option == u"IDENTITY_INSERT") {
        Translator tr(*this);
        const ResolvedTable r = tr.resolveTable(s.table);
        const QList<TableColumn> cols = tableColumns(r.schema, r.table);
        if (cols.isEmpty())
            throw SqlError(1088, u"Cannot find the object \"%1\" because it does not exist or you "
                                 "do not have permissions."_s.arg(s.table.text));
        if (std::none_of(cols.begin(), cols.end(), [](const TableColumn& c) { return c.identity; }))
            throw SqlError(8106, u"Table '%1' does not have the identity property. Cannot perform "
                                 "SET operation."_s.arg(s.table.text));
        const QString key = (r.schema + u'.' + r.table).toLower();
        if (on)
            m_identityInsert.insert(key);
        else
            m_identityInsert.remove(key);
        return;
    }
    if ((option == u"IMPLICIT_TRANSACTIONS" || option == u"FMTONLY" || option == u"NOEXEC" ||
         option == u"PARSEONLY" || option == u"SHOWPLAN_ALL" || option == u"SHOWPLAN_TEXT" ||
         option == u"SHOWPLAN_XML") &&
        on)
        throw SqlError(40000, u"sqlsim does not support 'SET %1 ON'."_s.arg(option));
    static const QStringList accepted = {u"ANSI_NULLS"_s,
                                         u"ANSI_PADDING"_s,
                                         u"ANSI_WARNINGS"_s,
                                         u"ANSI_NULL_DFLT_ON"_s,
                                         u"ANSI_NULL_DFLT_OFF"_s,
                                         u"ANSI_DEFAULTS"_s,
                                         u"ARITHABORT"_s,
                                         u"ARITHIGNORE"_s,
                                         u"CONCAT_NULL_YIELDS_NULL"_s,
                                         u"CURSOR_CLOSE_ON_COMMIT"_s,
                                         u"NUMERIC_ROUNDABORT"_s,
                                         u"QUOTED_IDENTIFIER"_s,
                                         u"XACT_ABORT"_s,
                                         u"NO_BROWSETABLE"_s,
                                         u"DEADLOCK_PRIORITY"_s,
                                         u"DATEFIRST"_s,
                                         u"LANGUAGE"_s,
                                         u"TRANSACTION ISOLATION LEVEL"_s,
                                         u"STATISTICS"_s,
                                         u"CONTEXT_INFO"_s,
                                         u"REMOTE_PROC_TRANSACTIONS"_s,
                                         u"FORCEPLAN"_s,
                                         u"QUERY_GOVERNOR_COST_LIMIT"_s,
                                         u"IMPLICIT_TRANSACTIONS"_s,
                                         u"FMTONLY"_s,
                                         u"NOEXEC"_s,
                                         u"PARSEONLY"_s,
                                         u"SHOWPLAN_ALL"_s,
                                         u"SHOWPLAN_TEXT"_s,
                                         u"SHOWPLAN_XML"_s,
                                         u"ROWCOUNT"_s};
    for (const QString& w : s.words)
        if (!accepted.contains(w))
            throw SqlError(195, u"'%1' is not a recognized SET option."_s.arg(w));
}

void SessionImpl::runPrint(const Stmt& s, Frame&)
{
    sendInfo(0, evaluateText(s.expr), 0);
}

void SessionImpl::runRaiserror(const Stmt& s, Frame&)
{
    if (s.exprs.size() < 3)
        throw SqlError(102, u"Incorrect syntax near ')'."_s);
    std::optional<TypeInfo> msgType;
    const Value msg = evaluate(s.exprs[0], &msgType);
    const Value sevValue = convertValue(evaluate(s.exprs[1]), std::nullopt,
                                        TypeInfo::of(BaseType::Int), ConversionMode::Cast);
    const Value stateValue = convertValue(evaluate(s.exprs[2]), std::nullopt,
                                          TypeInfo::of(BaseType::Int), ConversionMode::Cast);
    const int severity =
        isNull(sevValue) ? 16 : int(std::clamp<qint64>(std::get<qint64>(sevValue), 0, 25));
    const int state =
        isNull(stateValue) ? 1 : int(std::clamp<qint64>(std::get<qint64>(stateValue), 0, 255));
    Message m;
    m.severity = severity > 18 ? 16 : severity;
    m.state = state;
    if (const auto* id = std::get_if<qint64>(&msg)) {
        if (*id < 13000 || *id == 50000)
            throw SqlError(2732, u"Error number %1 is invalid. The number must be from 13000 "
                                 "through 2147483647 and it cannot be 50000."_s.arg(*id));
        m.number = 18054;
        m.text = u"Error %1, severity %2, state %3 was raised, but no message with that error "
                 "number was found in sys.messages. If error is larger than 50000, make sure the "
                 "user-defined message is added using sp_addmessage."_s.arg(
                     QString::number(*id), QString::number(severity), QString::number(state));
    } else {
        m.number = 50000;
        // printf-style substitution of the remaining arguments
        const QString format = valueToText(msg);
        QString out;
        size_t arg = 3;
        static const QRegularExpression placeholder(
            u"%([-+ 0#]*)(\\d*|\\*)(?:\\.(\\d+|\\*))?(h|l|I64)?([diosuxX])"_s);
        qsizetype pos = 0;
        while (pos < format.size()) {
            if (format[pos] == u'%' && pos + 1 < format.size() && format[pos + 1] == u'%') {
                out += u'%';
                pos += 2;
                continue;
            }
            if (format[pos] == u'%') {
                const auto mm = placeholder.match(format, pos, QRegularExpression::NormalMatch,
                                                  QRegularExpression::AnchorAtOffsetMatchOption);
                if (mm.hasMatch()) {
                    QString value;
                    if (arg < s.exprs.size()) {
                        const Value a = evaluate(s.exprs[arg++]);
                        value = isNull(a) ? u"(null)"_s : valueToText(a);
                        const QChar conv = mm.captured(5)[0];
                        if ((conv == u'x' || conv == u'X') && std::holds_alternative<qint64>(a))
                            value = QString::number(std::get<qint64>(a), 16);
                        if (conv == u'X')
                            value = value.toUpper();
                    } else {
                        value = u"(null)"_s;
                    }
                    const int width = mm.captured(2).toInt();
                    if (width > 0 && value.size() < width)
                        value = mm.captured(1).contains(u'-') ? value.leftJustified(width)
                                                              : value.rightJustified(width);
                    out += value;
                    pos += mm.capturedLength();
                    continue;
                }
            }
            out += format[pos++];
        }
        m.text = out.left(2047);
    }
    if (severity <= 10) {
        m.severity = severity;
        if (m_frame)
            m.procedure = m_frame->procedure;
        m_reply->message(m);
        return;
    }
    throw SqlError(m);
}

// ---- transactions

void SessionImpl::runBeginTran(const Stmt&, Frame& frame)
{
    if (++m_trancount == 1) {
        m_txDescriptor = m_server.nextTransactionDescriptor();
        m_reply->transactionBegan(m_txDescriptor);
    }
    done(frame, std::nullopt);
}

void SessionImpl::commitAll()
{
    if (m_sqliteTx) {
        const int rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            const SqlError e = sqliteError(rc, nullptr);
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            m_sqliteTx = false;
            m_trancount = 0;
            m_savepoints.clear();
            throw e;
        }
    }
    m_sqliteTx = false;
    m_trancount = 0;
    m_savepoints.clear();
}

void SessionImpl::rollbackAll()
{
    if (m_sqliteTx)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_sqliteTx = false;
    m_trancount = 0;
    m_savepoints.clear();
}

void SessionImpl::runCommit(const Stmt&, Frame& frame)
{
    if (m_trancount == 0)
        throw SqlError(3902, u"The COMMIT TRANSACTION request has no corresponding BEGIN "
                             "TRANSACTION."_s);
    if (m_trancount > 1) {
        --m_trancount;
    } else {
        const quint64 d = m_txDescriptor;
        commitAll();
        m_reply->transactionCommitted(d);
    }
    done(frame, std::nullopt);
}

void SessionImpl::runRollback(const Stmt& s, Frame& frame)
{
    if (m_trancount == 0)
        throw SqlError(3903, u"The ROLLBACK TRANSACTION request has no corresponding BEGIN "
                             "TRANSACTION."_s);
    if (!s.name.isEmpty()) {
        const qsizetype i = m_savepoints.lastIndexOf(s.name.toLower());
        if (i >= 0) {
            if (m_sqliteTx)
                execSql(u"ROLLBACK TO "_s + Translator::quote(u"sp_"_s + s.name.toLower()));
            m_savepoints = m_savepoints.mid(0, i + 1);
            done(frame, std::nullopt);
            return;
        }
    }
    const quint64 d = m_txDescriptor;
    rollbackAll();
    m_reply->transactionRolledBack(d);
    done(frame, std::nullopt);
}

void SessionImpl::runSave(const Stmt& s, Frame& frame)
{
    if (m_trancount == 0)
        throw SqlError(628,
                       u"Cannot issue SAVE TRANSACTION when there is no active transaction."_s);
    ensureWriteTransaction();
    execSql(u"SAVEPOINT "_s + Translator::quote(u"sp_"_s + s.name.toLower()));
    m_savepoints << s.name.toLower();
    done(frame, std::nullopt);
}

void SessionImpl::beginTransaction(ReplySink& reply)
{
    std::lock_guard busy(m_busy);
    ReplyProxy out(reply);
    beginRequest(out);
    if (++m_trancount == 1) {
        m_txDescriptor = m_server.nextTransactionDescriptor();
        out.transactionBegan(m_txDescriptor);
    }
    out.done(DoneKind::Statement, std::nullopt, false);
    endRequest();
}

void SessionImpl::commitTransaction(bool beginNew, ReplySink& reply)
{
    std::lock_guard busy(m_busy);
    ReplyProxy out(reply);
    beginRequest(out);
    bool failed = false;
    if (m_trancount == 0) {
        Message m;
        m.number = 3902;
        m.text = u"The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."_s;
        out.message(m);
        failed = true;
    } else {
        const quint64 d = m_txDescriptor;
        try {
            commitAll();
            out.transactionCommitted(d);
        } catch (const SqlError& e) {
            out.message(e.message);
            out.transactionRolledBack(d);
            failed = true;
        }
    }
    if (beginNew) {
        m_trancount = 1;
        m_txDescriptor = m_server.nextTransactionDescriptor();
        out.transactionBegan(m_txDescriptor);
    }
    out.done(DoneKind::Statement, std::nullopt, failed);
    endRequest();
}

void SessionImpl::rollbackTransaction(bool beginNew, ReplySink& reply)
{
    std::lock_guard busy(m_busy);
    ReplyProxy out(reply);
    beginRequest(out);
    bool failed = false;
    if (m_trancount == 0) {
        Message m;
        m.number = 3903;
        m.text = u"The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."_s;
        out.message(m);
        failed = true;
    } else {
        const quint64 d = m_txDescriptor;
        rollbackAll();
        out.transactionRolledBack(d);
    }
    if (beginNew) {
        m_trancount = 1;
        m_txDescriptor = m_server.nextTransactionDescriptor();
        out.transactionBegan(m_txDescriptor);
    }
    out.done(DoneKind::Statement, std::nullopt, failed);
    endRequest();
}

// ---- catalogue lookups for the translator and the functions

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

std::optional<qint64> SessionImpl::objectId(const QString& rawName, const QString& type)
{
    // [db.][schema.]name; #temp names live in this session.
    QStringList parts;
    QString cur;
    bool inBracket = false;
    for (const QChar c : rawName.trimmed()) {
        if (c == u'[' && !inBracket) {
            inBracket = true;
        } else if (c == u']' && inBracket) {
            inBracket = false;
        } else if (c == u'.' && !inBracket) {
            parts << cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts << cur;
    const QString name = parts.last();
    if (name.isEmpty())
        return std::nullopt;
    if (name.startsWith(u'#')) {
        const auto v = scalarQuery(u"SELECT rowid FROM temp.sqlite_master WHERE type = 'table' "
                                   "AND name = ?1 COLLATE NOCASE"_s,
                                   {name});
        if (!v)
            return std::nullopt;
        return -qint64(qHash(name.toLower()) & 0x3FFFFFFF) - 1;
    }
    const QString database = parts.size() >= 3 && !parts[parts.size() - 3].isEmpty()
                                 ? parts[parts.size() - 3]
                                 : m_currentDb;
    QString alias;
    {
        std::lock_guard lock(m_published);
        alias = m_attached.value(database.toLower());
    }
    if (alias.isEmpty())
        return std::nullopt;
    QString sql = u"SELECT id FROM "_s + Translator::quote(alias) +
                  u".sysobjects WHERE name = ?1 COLLATE TSQL"_s;
    QList<Value> binds = {name};
    if (!type.isEmpty()) {
        sql += u" AND type = ?2 COLLATE TSQL"_s;
        binds << type;
    }
    try {
        const auto v = scalarQuery(sql, binds);
        if (v && std::holds_alternative<qint64>(*v))
            return std::get<qint64>(*v);
    } catch (const SqlError&) {
    }
    return std::nullopt;
}

Value SessionImpl::objectName(qint64 id, std::optional<qint64> dbid)
{
    QString database = m_currentDb;
    if (dbid) {
        const auto e = m_server.databaseById(int(*dbid));
        if (!e)
            return {};
        database = e->files.name;
    }
    QString alias;
    {
        std::lock_guard lock(m_published);
        alias = m_attached.value(database.toLower());
    }
    if (alias.isEmpty())
        return {};
    try {
        const auto v = scalarQuery(u"SELECT name FROM "_s + Translator::quote(alias) +
                                       u".sysobjects WHERE id = ?1"_s,
                                   {id});
        return v.value_or(Value());
    } catch (const SqlError&) {
        return {};
    }
}

std::optional<qint64> SessionImpl::databaseId(const QString& name)
{
    const auto e = m_server.database(name.isEmpty() ? m_currentDb : name);
    if (!e)
        return std::nullopt;
    return e->dbid;
}

Value SessionImpl::databaseName(qint64 id)
{
    const auto e = m_server.databaseById(int(id));
    if (!e)
        return {};
    return e->files.name;
}

Value SessionImpl::volumeStat(qint64 databaseId, qint64 fileId, int which)
{
    const auto e = m_server.databaseById(int(databaseId));
    if (!e || (fileId != 1 && fileId != 2))
        return {};
    const QString path = fileId == 1 ? e->files.dataFile : e->files.logFile;
    if (!QFileInfo::exists(path))
        return {};
    if (!serverfiles::hasRoot()) {
        const QStorageInfo volume(path);
        if (which == 0)
            return volume.rootPath();
        return which == 1 ? volume.bytesTotal()
                          : serverfiles::reportedFreeBytes(volume.bytesAvailable());
    }
    // Under a root the volume is the drive: "C:\" for C:\Data\x.mdf.
    const QString shown = serverfiles::shown(path);
    for (const serverfiles::Drive& d : serverfiles::drives(m_server.options().dataDir)) {
        if (!shown.startsWith(d.name + u":\\"_s, Qt::CaseInsensitive))
            continue;
        if (which == 0)
            return d.name + u":\\"_s;
        return which == 1 ? d.totalBytes : d.availableBytes;
    }
    return {};
}

Value SessionImpl::serverProperty(const QString& raw)
{
    const QString p = raw.trimmed().toLower();
    const QString version = m_server.productVersion();
    if (p == u"productversion")
        return version;
    if (p == u"productmajorversion")
        return version.section(u'.', 0, 0);
    if (p == u"productminorversion")
        return version.section(u'.', 1, 1);
    if (p == u"productlevel")
        return u"RTM"_s;
    if (p == u"edition")
        return editionText(m_server.edition());
    if (p == u"engineedition")
        return engineEdition(m_server.edition());
    if (p == u"editionid")
        return editionId(m_server.edition());
    if (p == u"machinename" || p == u"servername")
        return m_server.serverName();
    if (p == u"instancename")
        return {};
    if (p == u"collation")
        return sqlsim::serverCollation().name;
    if (p == u"isintegratedsecurityonly" || p == u"isclustered" || p == u"isfulltextinstalled" ||
        p == u"issingleuser" || p == u"ishadrenabled")
        return qint64(0);
    if (p == u"processid")
        return qint64(QCoreApplication::applicationPid());
    // learn.microsoft.com/sql/t-sql/functions/serverproperty-transact-sql: the default folders,
    // each with a trailing separator. The data and log ones came "in updates beginning in late
    // 2015": the RTM builds played for 2014 and earlier answer NULL.
    if (p == u"instancedefaultdatapath" || p == u"instancedefaultlogpath") {
        if (m_server.options().versionYear < 2016)
            return {};
        return serverfiles::defaultDataPath(m_server.options().dataDir);
    }
    // InstanceDefaultBackupPath came with SQL Server 2019; older servers answer NULL.
    if (p == u"instancedefaultbackuppath") {
        if (m_server.options().versionYear < 2019)
            return {};
        return serverfiles::defaultBackupPath(m_server.options().dataDir);
    }
    return {};
}

Value SessionImpl::databaseProperty(const QString& database, const QString& raw)
{
    const auto entry = m_server.database(database);
    if (!entry)
        return {};
    const QString p = raw.trimmed().toLower();
    // An offline database is "not started": the properties read from the database itself are
    // NULL (learn.microsoft.com/sql/t-sql/functions/databasepropertyex-transact-sql).
    if (p == u"status")
        return entry->restoring ? u"RESTORING"_s : entry->offline ? u"OFFLINE"_s : u"ONLINE"_s;
    if ((entry->offline || entry->restoring) && (p == u"collation" || p == u"version"))
        return {};
    if (p == u"recovery")
        return u"SIMPLE"_s;
    if (p == u"collation")
        return sqlsim::serverCollation().name;
    if (p == u"updateability")
        return u"READ_WRITE"_s;
    // DATABASEPROPERTYEX 'UserAccess': SINGLE_USER, RESTRICTED_USER or MULTI_USER
    // (learn.microsoft.com/sql/t-sql/functions/databasepropertyex-transact-sql).
    if (p == u"useraccess")
        return entry->singleUser ? u"SINGLE_USER"_s : u"MULTI_USER"_s;
    if (p == u"version")
        return qint64(m_server.databaseVersion());
    if (p == u"isautoshrink" || p == u"isautoclose")
        return qint64(0);
    return {};
}

Value SessionImpl::identCurrent(const QString& table)
{
    QString alias;
    {
        std::lock_guard lock(m_published);
        alias = m_attached.value(m_currentDb.toLower());
    }
    try {
        const auto v = scalarQuery(u"SELECT seq FROM "_s + Translator::quote(alias) +
                                       u".sqlite_sequence WHERE name = ?1 COLLATE NOCASE"_s,
                                   {table.section(u'.', -1)});
        if (v && std::holds_alternative<qint64>(*v))
            return QString::number(std::get<qint64>(*v));
    } catch (const SqlError&) {
    }
    return {};
}

} // namespace sqlsim
