#pragma once

// What the parts of the connection share: its handles and state, the worker of an asynchronous
// statement, and the statement a synchronous call waits for.
#include "Connection.h"
#include "OdbcStatement.h"

#include <QStringList>
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

namespace db {

struct AsyncRun
{
    std::thread thread;
    std::atomic<bool> done{false};
    std::mutex mutex;
    QList<ServerMessage> pending; // messages not yet handed over
    std::optional<DbError> error;
    Connection::MessageHandler onMessage;
    std::atomic<SQLHSTMT> stmt{nullptr};
};

class Connection::Impl
{
public:
    Impl();

    SQLHDBC hdbc() const { return dbc.get(); }

    void requireOpen() const;
    // Open, no asynchronous statement running and no cursor reading.
    void requireIdle();

    // Set while a cursor reads from the connection; the cursor's statement is released before
    // the connection closes.
    bool cursorOpen = false;
    std::function<void()> releaseCursor;

    // Joins a finished (or, with wait, a running) worker and hands over its messages.
    std::optional<DbError> finishAsync(bool wait);
    void deliverMessages();

    void setAutocommit(bool on);
    void endTransaction(SQLSMALLINT how);

    int effectiveTimeout(int timeoutSeconds) const
    {
        return timeoutSeconds < 0 ? commandTimeout : timeoutSeconds;
    }

    // The server dropped the connection under a statement: the handle is open but useless, so
    // callers that open a closed connection again must see it closed. Not asked while an
    // asynchronous statement runs: its own error tells of the loss.
    bool lost() const;

    odbc::Handle env;
    odbc::Handle dbc;
    bool open = false;
    bool transaction = false;
    QString provider;
    QString connectionString;
    QString database;
    int commandTimeout = 30;
    std::unique_ptr<AsyncRun> async;
    // The statement a synchronous call waits for, so that interrupt() can reach it from another
    // thread; the handle is freed only after it is taken out under the lock.
    std::mutex runningMutex;
    SQLHSTMT running = nullptr;
};

// Marks a statement as the one interrupt() stops while it is in scope.
class Running
{
public:
    Running(Connection::Impl& owner, SQLHSTMT stmt) : m_owner(owner)
    {
        std::lock_guard lock(m_owner.runningMutex);
        m_owner.running = stmt;
    }
    ~Running() { clear(); }
    // Before the statement is freed.
    void clear()
    {
        std::lock_guard lock(m_owner.runningMutex);
        m_owner.running = nullptr;
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    Connection::Impl& m_owner;
};

} // namespace db
