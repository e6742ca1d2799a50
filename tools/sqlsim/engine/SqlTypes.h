#pragma once

#include "Values.h"

#include <QString>
#include <optional>
#include <stdexcept>

// T-SQL data types as declared in statements, and the conversions between values of them.
// Values live in SQLite as INTEGER, REAL, TEXT or BLOB; a TypeInfo says how to read them back.
namespace sqlsim {

// An error to report to the client with SQL Server's number and text.
struct SqlError : std::exception
{
    explicit SqlError(Message m, bool abortsBatch = false)
        : message(std::move(m)), abortBatch(abortsBatch)
    {}
    SqlError(int number, const QString& text, int severity = 16, bool abortsBatch = false)
        : abortBatch(abortsBatch)
    {
        message.number = number;
        message.text = text;
        message.severity = severity;
    }
    const char* what() const noexcept override { return "sqlsim error"; }

    Message message;
    bool abortBatch = false;
};

enum class BaseType
{
    Bit,
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    Real,
    Float,
    Decimal,
    Numeric,
    Money,
    SmallMoney,
    DateTime,
    SmallDateTime,
    Date,
    DateTime2,
    Time,
    DateTimeOffset,
    Char,
    VarChar,
    Text,
    NChar,
    NVarChar,
    NText,
    SysName,
    Binary,
    VarBinary,
    Image,
    UniqueIdentifier,
    Xml,
};

struct TypeInfo
{
    BaseType base = BaseType::Int;
    int length = 0; // characters or bytes; ColumnType::max for (max)
    int precision = 0;
    int scale = 0; // also the fraction digits of time, datetime2 and datetimeoffset

    ColumnType columnType() const;
    // The type as T-SQL writes it: "varchar(50)", "decimal(10,2)", "int". Also the declared
    // type of a column in SQLite, from which it is read back.
    QString declText() const;
    // The declared type as SQLite's grammar takes it: "(max)" becomes "(-1)".
    QString storageDecl() const;
    QString baseName() const;

    bool isInteger() const;
    bool isExactNumeric() const; // decimal, numeric, money
    bool isApproxNumeric() const;
    bool isNumeric() const { return isInteger() || isExactNumeric() || isApproxNumeric(); }
    bool isDateTime() const; // the six date and time types, time alone included
    bool isString() const;
    bool isUnicode() const;
    bool isFixedLength() const; // char, nchar, binary
    bool isBinary() const;
    bool isLob() const; // text, ntext, image, (max), xml

    static TypeInfo of(BaseType base, int length = 0, int precision = 0, int scale = 0);
    friend bool operator==(const TypeInfo&, const TypeInfo&) = default;
};

// Where a type name is read, defaults differ: a bare varchar is varchar(1) in a declaration and
// varchar(30) in CAST and CONVERT.
enum class TypeContext
{
    Declaration,
    Cast
};

// Reads "varchar(50)", "DECIMAL (10, 2)", "nvarchar(max)", "sysname" ... Throws SqlError for an
// unknown type (2715) or a size out of range (131). columnNumber goes into the 2715 text.
TypeInfo parseTypeName(const QString& name, const QString& arg1, const QString& arg2,
                       TypeContext context, int columnNumber = 1);
// Reads a declared type back from SQLite (decltype); nullopt when it is none of ours.
std::optional<TypeInfo> typeFromDecl(const QString& decl);

// How a conversion treats text that does not fit.
enum class ConversionMode
{
    Cast,     // CAST/CONVERT: silent truncation
    Variable, // assignment to a variable or parameter: silent truncation
    Column,   // INSERT/UPDATE into a column: 8152
};

// Converts a value to the storage form of the target type (what goes into SQLite): integers as
// qint64, float as double, decimals as canonical text, dates as "yyyy-MM-dd HH:mm:ss.zzz",
// text as QString (char(n) padded), binary as QByteArray. Throws SqlError with SQL Server's
// conversion errors. source: the value's own type when known (decides e.g. datetime → text).
Value convertValue(const Value& value, const std::optional<TypeInfo>& source,
                   const TypeInfo& target, ConversionMode mode, int style = 0);

// A stored value as SQLite should compute with it: decimal text becomes a number when that
// loses nothing (15 significant digits), so that arithmetic and comparisons are numeric.
Value sqliteOperand(const Value& stored, const TypeInfo& type);

// The value as the wire wants it for a result column of this type.
Value wireValue(const Value& stored, const TypeInfo& type);

// The type SQL Server gives a value of unknown origin (an RPC parameter, a literal).
TypeInfo typeOfColumnType(const ColumnType& type);

// The DATEFORMAT of the session running on this thread (SET DATEFORMAT): the order, as "mdy",
// "dmy", "ymd", "ydm", "myd" or "dym", in which text converting to a date names its parts.
void setThreadDateFormat(const QString& format);
QString threadDateFormat();

// Text converting to the date type `target` as SQL Server reads a character string: numeric
// dates (2024-02-05, 05.02.2024, 2/5/24) in the order `dateFormat` gives, where a four-digit
// year is the year wherever it stands and month and day keep the order's own sequence, so that
// under dmy "2024-02-05" is the 2nd of May for datetime and smalldatetime; date and datetime2
// read a year in front as year-month-day always. ISO 8601 with T, unseparated yyyymmdd and
// month names read alike under every order. nullopt when the text is no date (241) or names a
// day that does not exist (then *outOfRange is set: 242 for datetime and smalldatetime).
std::optional<QDateTime> parseDateText(const QString& text, BaseType target,
                                       const QString& dateFormat, bool* outOfRange = nullptr);
// A value already of a date type, in the storage form or as any client wrote it to the wire:
// read without a session's DATEFORMAT (numeric forms as mdy).
std::optional<QDateTime> parseDateTime(const QString& text);
// Date and time helpers shared by the functions.
QString storageDateTime(const QDateTime& dt, BaseType base = BaseType::DateTime);
QString formatDateTimeStyle(const QDateTime& dt, int style, BaseType base);

// Decimal text helpers: canonical "-12.50" with the given scale, or nullopt when not a number.
std::optional<QString> normalizeDecimal(const QString& text, int precision, int scale,
                                        bool* overflow = nullptr);
QString formatFloat(double value); // as CAST(float AS varchar) does
QString valueToText(const Value& value);
QString sqlTypeName(const TypeInfo& type); // for error texts: "varchar", "int", ...

} // namespace sqlsim
