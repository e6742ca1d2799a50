#pragma once

#include "Connection.h"

namespace db {

// The connection's command timeout for the statements run on the connection itself, restored
// on every path.
class CommandTimeout
{
public:
    CommandTimeout(Connection& connection, int seconds)
        : m_connection(connection), m_old(connection.commandTimeout())
    {
        m_connection.setCommandTimeout(seconds);
    }
    ~CommandTimeout() { m_connection.setCommandTimeout(m_old); }
    CommandTimeout(const CommandTimeout&) = delete;
    CommandTimeout& operator=(const CommandTimeout&) = delete;

private:
    Connection& m_connection;
    int m_old;
};

} // namespace db
