#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>
#include <variant>

// What the engine hands to the wire and takes from it: SQL Server's types, values and messages.
namespace sqlsim {

enum class SqlType
{
    Bit,
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    Real,
    Float,
    Decimal,  // also numeric
    DateTime, // length 4: smalldatetime
    Date,
    Time,           // scale: digits of a second's fraction, 0..7
    DateTime2,      // scale as time
    DateTimeOffset, // scale as time
    Char,
    VarChar, // length -1: varchar(max)
    Text,
    NChar,
    NVarChar, // length -1: nvarchar(max)
    NText,
    Binary,
    VarBinary, // length -1: varbinary(max)
    Image,
    UniqueIdentifier,
    Xml, // untyped xml: UTF-16 text on the wire
};

struct ColumnType
{
    SqlType type = SqlType::Int;
    int length = 0; // characters for text types, bytes for binary types, -1 for (max)
    int precision = 0;
    int scale = 0;

    static constexpr int max = -1;
    friend bool operator==(const ColumnType&, const ColumnType&) = default;
};

// A cell or parameter value. Decimal values travel as their exact text ("-12.50"), date, time,
// datetime2 and datetimeoffset values as the engine stores them ("2024-02-05",
// "10:15:00.1230000", "2024-02-05 10:15:00.1234567", "2024-02-05 07:15:00.0000000 +03:00",
// the last in UTC); the wire layer converts any value to the declared column type.
using Value = std::variant<std::monostate, qint64, double, QString, QByteArray, QDateTime>;

inline bool isNull(const Value& value)
{
    return std::holds_alternative<std::monostate>(value);
}

struct Column
{
    QString name;
    ColumnType type;
    bool nullable = true;
};

// An RPC parameter or an output value.
struct Param
{
    QString name; // with "@", or empty for a positional parameter
    ColumnType type;
    Value value;
    bool output = false;
};

// An INFO (severity 10 or lower) or ERROR message, as SQL Server sends it.
struct Message
{
    int number = 0;
    int state = 1;
    int severity = 16;
    QString text;
    QString procedure;
    int line = 1;
};

} // namespace sqlsim
