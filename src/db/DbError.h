#pragma once

#include "MyException.h"

#include <QString>

namespace db {

// An informational message of the server (a progress step, a completion): its number says what
// it is, whatever language the login reads the text in.
struct ServerMessage
{
    int number = 0;
    QString text;
};

// An error reported by the server or the ODBC driver: the message text whole, with the server's
// error number and the SQLSTATE. Errors of the program's own making are plain Error.
class DbError : public Error
{
public:
    DbError(QString message, int nativeError = 0, QString sqlState = {})
        : Error(std::move(message), nativeError), m_state(std::move(sqlState))
    {}
    int nativeError() const noexcept { return serverError(); }
    const QString& sqlState() const noexcept { return m_state; }
    // The connection to the server is gone (SQLSTATE class 08).
    bool isConnectionLoss() const { return m_state.startsWith(QLatin1String("08")); }
    // The statement was stopped at the client's request (Connection::interrupt).
    bool isCancelled() const { return m_state == QLatin1String("HY008"); }

private:
    QString m_state;
};

} // namespace db
