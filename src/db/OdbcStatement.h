#pragma once

// The ODBC plumbing every part of the connection shares: handles, statements that run to their
// end, diagnostics turned into DbError, and UTF-16 texts for the wide API.
#include "DbError.h"

#include <QList>
#include <QString>
#include <functional>
// Microsoft's sql.h takes its types (HWND, DWORD, ...) from windows.h without including it.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <utility>
#include <vector>

namespace db::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's SQLWCHAR is UTF-16");

constexpr qsizetype chunkSize = 64 * 1024;

std::vector<SQLWCHAR> wide(const QString& text);
QString fromWide(const SQLWCHAR* text, qsizetype length);

inline bool succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

struct Diagnostic
{
    QString state;
    int native = 0;
    QString text;
};

QList<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle);
// The first error among the diagnostics, or a plain text when the driver gave none.
[[noreturn]] void throwDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const QString& fallback);

// One ODBC handle, freed with its owner.
class Handle
{
public:
    Handle() = default;
    Handle(SQLSMALLINT type, SQLHANDLE parent);
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept
        : m_type(other.m_type), m_handle(std::exchange(other.m_handle, nullptr))
    {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_type = other.m_type;
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    void reset()
    {
        if (m_handle != SQL_NULL_HANDLE)
            SQLFreeHandle(m_type, m_handle);
        m_handle = SQL_NULL_HANDLE;
    }
    SQLHANDLE get() const { return m_handle; }
    SQLSMALLINT type() const { return m_type; }

private:
    SQLSMALLINT m_type = SQL_HANDLE_ENV;
    SQLHANDLE m_handle = nullptr;
};

// A statement that reads every result to the end before it is freed: closing early would send
// an attention and make the server abort what it still does (a backup, say).
class Statement
{
public:
    Statement(SQLHDBC dbc, int timeoutSeconds) : m_handle(SQL_HANDLE_STMT, dbc), m_dbc(dbc)
    {
        SQLSetStmtAttr(
            m_handle.get(), SQL_ATTR_QUERY_TIMEOUT,
            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(std::max(timeoutSeconds, 0))), 0);
    }
    SQLHSTMT get() const { return m_handle.get(); }

    // Throws on SQL_ERROR; hands informational messages to the sink.
    SQLRETURN check(SQLRETURN rc, const QString& what) const
    {
        if (rc == SQL_ERROR || rc == SQL_INVALID_HANDLE)
            throwDiagnostics(SQL_HANDLE_STMT, get(), what);
        if (rc == SQL_SUCCESS_WITH_INFO && messages)
            for (const Diagnostic& d : diagnostics(SQL_HANDLE_STMT, get()))
                messages({d.native, serverMessage(d.text)});
        return rc;
    }

    // The message text without FreeTDS's "[FreeTDS][SQL Server]" prefix.
    static QString serverMessage(const QString& text)
    {
        const qsizetype i = text.lastIndexOf(u']');
        return i < 0 ? text : text.mid(i + 1);
    }

    // Whether the driver has lost the connection to the server (nothing more can come).
    bool connectionDead() const
    {
        SQLUINTEGER dead = SQL_CD_FALSE;
        return succeeded(SQLGetConnectAttr(m_dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
               dead == SQL_CD_TRUE;
    }

    std::function<void(const ServerMessage&)> messages;

private:
    Handle m_handle;
    SQLHDBC m_dbc;
};

// Runs rc's statement to its end: every result, SQLMoreResults until SQL_NO_DATA. The rows of the
// first result with columns go to onRows (nullptr: skipped); gives the last row count. counts,
// when given, gets every count reported by a result without columns, in order.
qint64 drain(const Statement& stmt, SQLRETURN rc,
             const std::function<void(SQLSMALLINT columns)>& onRows = {},
             QList<qint64>* counts = nullptr);

} // namespace db::odbc
