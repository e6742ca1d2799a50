#include "ConnectionImpl.h"

using namespace Qt::StringLiterals;

namespace db {

using namespace odbc;

Connection::Impl::Impl() : env(SQL_HANDLE_ENV, SQL_NULL_HANDLE), provider(u"SQLOLEDB.1"_s)
{
    SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
}

void Connection::Impl::requireOpen() const
{
    if (!open)
        throw Error(u"Соединение с сервером закрыто."_s);
}

void Connection::Impl::requireIdle()
{
    requireOpen();
    if (async && !async->done)
        throw Error(u"На соединении ещё выполняется запрос."_s);
    if (cursorOpen)
        throw Error(u"На соединении открыт набор записей."_s);
    finishAsync(false);
}

std::optional<DbError> Connection::Impl::finishAsync(bool wait)
{
    if (!async)
        return std::nullopt;
    if (!wait && !async->done)
        return std::nullopt;
    if (async->thread.joinable())
        async->thread.join();
    deliverMessages();
    std::optional<DbError> error = std::move(async->error);
    async.reset();
    return error;
}

void Connection::Impl::deliverMessages()
{
    if (!async)
        return;
    QList<ServerMessage> messages;
    {
        std::lock_guard lock(async->mutex);
        messages.swap(async->pending);
    }
    if (async->onMessage)
        for (const ServerMessage& m : messages)
            async->onMessage(m);
}

void Connection::Impl::setAutocommit(bool on)
{
    const SQLRETURN rc = SQLSetConnectAttr(hdbc(), SQL_ATTR_AUTOCOMMIT,
                                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(
                                               on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                                           0);
    if (!succeeded(rc))
        throwDiagnostics(SQL_HANDLE_DBC, hdbc(), u"SQL_ATTR_AUTOCOMMIT"_s);
}

void Connection::Impl::endTransaction(SQLSMALLINT how)
{
    requireIdle();
    if (!transaction)
        throw Error(u"Транзакция не начата."_s);
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, hdbc(), how);
    if (!succeeded(rc))
        throwDiagnostics(SQL_HANDLE_DBC, hdbc(), u"SQLEndTran"_s);
    transaction = false;
    setAutocommit(true);
}

bool Connection::Impl::lost() const
{
    if (!open || (async && !async->done))
        return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    return succeeded(SQLGetConnectAttr(hdbc(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
           dead == SQL_CD_TRUE;
}

} // namespace db
