#include "ColumnValues.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace db::odbc {

bool isBinaryType(SQLSMALLINT type)
{
    return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

// SQL Server's own ODBC types for time and datetimeoffset (msodbcsql.h), which FreeTDS reports too.
constexpr SQLSMALLINT sqlSsTime2 = -154;
constexpr SQLSMALLINT sqlSsTimestampOffset = -155;

ColumnKind columnKind(SQLSMALLINT type)
{
    switch (type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return ColumnKind::Integer;
    case SQL_DECIMAL:
    case SQL_NUMERIC: // money and smallmoney too
        return ColumnKind::Decimal;
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return ColumnKind::Float;
    case SQL_REAL:
        return ColumnKind::Real;
    case SQL_BIT:
        return ColumnKind::Bit;
    case SQL_TYPE_DATE:
    case SQL_DATE: // also SQL_DATETIME, the verbose type no driver reports here
        return ColumnKind::Date;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        return ColumnKind::DateTime;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case sqlSsTime2:
        return ColumnKind::Time;
    case sqlSsTimestampOffset:
        return ColumnKind::DateTimeOffset;
    default:
        return isBinaryType(type) ? ColumnKind::Binary : ColumnKind::Text;
    }
}

QVariant readValue(const Statement& stmt, SQLUSMALLINT column, SQLSMALLINT sqlType)
{
    QByteArray data;
    const auto append = [&](const char* bytes, qsizetype n) {
        data.append(bytes, n);
    };
    if (isBinaryType(sqlType))
        return readLong(stmt, column, SQL_C_BINARY, append) ? QVariant(data) : QVariant();
    if (!readLong(stmt, column, SQL_C_WCHAR, append))
        return {};
    return QString(reinterpret_cast<const QChar*>(data.constData()), data.size() / 2);
}

Columns describe(const Statement& stmt, SQLSMALLINT count)
{
    Columns columns;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(count); ++c) {
        SQLWCHAR name[512] = {};
        SQLSMALLINT nameLength = 0;
        SQLSMALLINT type = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        stmt.check(SQLDescribeColW(stmt.get(), c, name, 512, &nameLength, &type, &size, &digits,
                                   &nullable),
                   u"SQLDescribeCol"_s);
        columns.names.append(fromWide(name, std::clamp<qsizetype>(nameLength, 0, 511)));
        columns.types.append(type);
        columns.sizes.append(size);
        columns.digits.append(digits);
    }
    return columns;
}

} // namespace db::odbc
