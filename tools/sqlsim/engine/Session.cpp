// A session's life: its connection opened in the login's database and language, what the
// server sees of it from other threads, and its end.
#include "SessionImpl.h"

#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace sqlsim {

SessionImpl::SessionImpl(ServerImpl& server, const QString& login, const QString& database,
                         const ClientInfo& client)
    : m_server(server), m_functions(server, *this), m_spid(server.nextSpid()), m_login(login),
      m_client(client), m_loginTime(QDateTime::currentDateTime()), m_lastBatch(m_loginTime)
{
    if (sqlite3_open_v2(":memory:", &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw SqlError(701, u"There is insufficient system memory to run this query."_s);
    }
    registerFunctions(m_db, &m_functions);
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

} // namespace sqlsim
