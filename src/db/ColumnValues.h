#pragma once

// Values of a result as the program takes them: the kind of each column and the text or bytes of
// each value, read from the driver.
#include "Connection.h"
#include "OdbcStatement.h"

#include <QStringList>
#include <QVariant>

namespace db::odbc {

// Reads a whole value in chunks, passing each to sink; false for NULL.
template <typename Sink>
bool readLong(const Statement& stmt, SQLUSMALLINT column, SQLSMALLINT cType, Sink&& sink)
{
    // One buffer per thread for every value: a million-row result reads five million values.
    thread_local std::vector<char> buffer(static_cast<size_t>(chunkSize));
    const SQLLEN terminator = cType == SQL_C_WCHAR ? static_cast<SQLLEN>(sizeof(SQLWCHAR)) : 0;
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt.get(), column, cType, buffer.data(),
                                        static_cast<SQLLEN>(buffer.size()), &indicator);
        if (rc == SQL_NO_DATA)
            return true;
        stmt.check(rc, QStringLiteral("SQLGetData"));
        if (indicator == SQL_NULL_DATA)
            return false;
        const SQLLEN room = static_cast<SQLLEN>(buffer.size()) - terminator;
        const SQLLEN got = indicator == SQL_NO_TOTAL || indicator > room ? room : indicator;
        sink(buffer.data(), static_cast<qsizetype>(got));
        if (rc == SQL_SUCCESS)
            return true;
    }
}

bool isBinaryType(SQLSMALLINT type);
ColumnKind columnKind(SQLSMALLINT type);

// A whole value of the current row: text as QString, bytes as QByteArray, NULL as a null QVariant.
QVariant readValue(const Statement& stmt, SQLUSMALLINT column, SQLSMALLINT sqlType);

struct Columns
{
    QStringList names;
    QList<SQLSMALLINT> types;
    QList<SQLULEN> sizes;      // as SQLDescribeCol gives them: characters, digits or bytes
    QList<SQLSMALLINT> digits; // decimal digits: the scale, or the digits of a second's fraction
};

Columns describe(const Statement& stmt, SQLSMALLINT count);

} // namespace db::odbc
