// Transactions: BEGIN, COMMIT, ROLLBACK and SAVE TRANSACTION, and the SQLite transaction that
// carries the session's once it writes.
#include "SessionImpl.h"

using namespace Qt::StringLiterals;

namespace sqlsim {

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

} // namespace sqlsim
