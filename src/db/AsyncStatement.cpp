#include "ConnectionImpl.h"

using namespace Qt::StringLiterals;

namespace db {

using namespace odbc;

void Connection::executeAsync(const QString& sql, MessageHandler onMessage)
{
    d->requireIdle();
    auto run = std::make_unique<AsyncRun>();
    run->onMessage = std::move(onMessage);
    auto stmt = std::make_shared<Statement>(d->hdbc(), d->commandTimeout);
    run->stmt = stmt->get();
    AsyncRun* shared = run.get();
    stmt->messages = [shared](const ServerMessage& message) {
        std::lock_guard lock(shared->mutex);
        shared->pending.append(message);
    };
    run->thread = std::thread([shared, stmt, sql]() {
        try {
            std::vector<SQLWCHAR> text = wide(sql);
            drain(*stmt, SQLExecDirectW(stmt->get(), text.data(), SQL_NTS));
        } catch (const DbError& e) {
            std::lock_guard lock(shared->mutex);
            shared->error = e;
        } catch (const std::exception& e) {
            std::lock_guard lock(shared->mutex);
            shared->error = DbError(QString::fromUtf8(e.what()));
        }
        {
            // cancel() calls SQLCancel under this lock: the handle is gone only after.
            std::lock_guard lock(shared->mutex);
            shared->stmt = nullptr;
        }
        shared->done = true;
    });
    d->async = std::move(run);
}

bool Connection::isExecuting()
{
    if (!d->async)
        return false;
    d->deliverMessages();
    return !d->async->done;
}

void Connection::waitForAsync()
{
    if (std::optional<DbError> error = d->finishAsync(true))
        throw *error;
}

void Connection::cancel()
{
    if (!d->async)
        return;
    std::lock_guard lock(d->async->mutex);
    if (const SQLHSTMT stmt = d->async->stmt; stmt != nullptr && !d->async->done)
        SQLCancel(stmt);
}

void Connection::interrupt()
{
    std::lock_guard lock(d->runningMutex);
    if (d->running != nullptr)
        SQLCancel(d->running);
}

} // namespace db
