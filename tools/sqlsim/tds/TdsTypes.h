#pragma once

#include "Collation.h"
#include "TdsBuffer.h"
#include "Values.h"

#include <optional>

// SQL Server's data types on the wire: TYPE_INFO and values out (columns, return values) and in
// (RPC parameters), and the conversions the engine relies on when a value's C++ type differs
// from the declared column type.
namespace sqlsim::tds {

namespace type {
constexpr quint8 Null = 0x1F;
constexpr quint8 Image = 0x22;
constexpr quint8 Text = 0x23;
constexpr quint8 Guid = 0x24;
constexpr quint8 IntN = 0x26;
constexpr quint8 Date = 0x28;
constexpr quint8 Time = 0x29;
constexpr quint8 DateTime2 = 0x2A;
constexpr quint8 DateTimeOffset = 0x2B;
constexpr quint8 Int1 = 0x30;
constexpr quint8 Bit = 0x32;
constexpr quint8 Int2 = 0x34;
constexpr quint8 Int4 = 0x38;
constexpr quint8 DateTim4 = 0x3A;
constexpr quint8 Flt4 = 0x3B;
constexpr quint8 Money = 0x3C;
constexpr quint8 DateTime = 0x3D;
constexpr quint8 Flt8 = 0x3E;
constexpr quint8 NText = 0x63;
constexpr quint8 BitN = 0x68;
constexpr quint8 DecimalN = 0x6A;
constexpr quint8 NumericN = 0x6C;
constexpr quint8 FltN = 0x6D;
constexpr quint8 MoneyN = 0x6E;
constexpr quint8 DateTimeN = 0x6F;
constexpr quint8 Money4 = 0x7A;
constexpr quint8 Int8 = 0x7F;
constexpr quint8 BigVarBinary = 0xA5;
constexpr quint8 BigVarChar = 0xA7;
constexpr quint8 BigBinary = 0xAD;
constexpr quint8 BigChar = 0xAF;
constexpr quint8 NVarChar = 0xE7;
constexpr quint8 NChar = 0xEF;
constexpr quint8 Xml = 0xF1;
} // namespace type

// The server collation (--collation; Cyrillic_General_CI_AS unless told), also that of every
// text column: every database has it.
inline QByteArray serverCollation()
{
    return sqlsim::serverCollation().tdsBytes();
}

// A column type as it can go on the wire: lengths beyond the non-(max) limits become (max),
// CHAR(0) becomes CHAR(1), a missing decimal precision becomes 18.
ColumnType wireType(const ColumnType& type);

// Before TDS 7.2 there are no (max) types: TEXT, NTEXT and IMAGE carry such columns.
ColumnType legacyType(const ColumnType& type);

// TYPE_INFO. In COLMETADATA the TEXT/NTEXT/IMAGE types also carry a table name, in parts
// from TDS 7.2 on.
void writeTypeInfo(TdsWriter& out, const ColumnType& type, bool inColumnMetadata,
                   bool tableNameParts = true);
// A value in the encoding of `type`, converted first where its C++ type differs; a value that
// does not convert (text that is no number or date) goes out as NULL. textSize (>= 0) cuts a
// text, ntext, image or (max) value to that many bytes, as SET TEXTSIZE does to result rows.
void writeValue(TdsWriter& out, const ColumnType& type, const Value& value, qint64 textSize = -1);

// tds72: 4-byte user types and table names in parts (TDS 7.2 on), else the older forms.
void writeColumnMetadata(TdsWriter& out, const QList<Column>& columns, bool tds72 = true);
// ROW, or NBCROW when the row has NULLs and the null bitmap is the shorter form; textSize as
// for writeValue.
void writeRow(TdsWriter& out, const QList<Column>& columns, const QList<Value>& values,
              bool allowNbcRow, qint64 textSize = -1);

// One RPC parameter: B_VARCHAR name, status, TYPE_INFO, value. Throws ProtocolError on a
// truncated or unknown encoding.
Param readParam(TdsReader& in);

// Conversions, best effort as SQL Server's implicit conversions are.
std::optional<qint64> toInteger(const Value& value);
std::optional<double> toDouble(const Value& value);
QString toText(const Value& value);
QByteArray toBytes(const Value& value);
// Invalid QDateTime for NULL and for text that is no date.
QDateTime toDateTime(const Value& value);
// The exact decimal text of a value at this scale ("-12.50"); empty for NULL or non-numbers.
QString toDecimalText(const Value& value, int scale);

// The code page of the server collation (unmappable characters become '?').
QByteArray toServerCodePage(const QString& text);
QString fromServerCodePage(const QByteArray& bytes);

} // namespace sqlsim::tds
