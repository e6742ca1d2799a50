#include "TdsTypes.h"

#include <QRegularExpression>
#include <QUuid>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

using namespace Qt::StringLiterals;

namespace sqlsim::tds {

namespace {

__extension__ typedef unsigned __int128 U128;

constexpr int maxShortBytes = 8000; // longest non-(max) char/binary value
constexpr quint64 plpNull = ~quint64(0);
constexpr quint64 plpUnknownLength = ~quint64(0) - 1;
constexpr qint64 ticksPerDay = 300LL * 86400;
constexpr qint64 msPerDay = 86'400'000;

const qint64 julian1900 = QDate(1900, 1, 1).toJulianDay();
const qint64 julian0001 = QDate(1, 1, 1).toJulianDay();

U128 pow10(int exponent)
{
    U128 result = 1;
    for (int i = 0; i < exponent; ++i)
        result *= 10;
    return result;
}

// 10^38 - 1: the largest magnitude DECIMAL(38) holds.
const U128 maxDecimal = pow10(38) - 1;

int decimalBytes(int precision)
{
    if (precision <= 9)
        return 4;
    if (precision <= 19)
        return 8;
    if (precision <= 28)
        return 12;
    return 16;
}

struct Decimal
{
    U128 magnitude = 0;
    bool negative = false;
};

// Exact decimal text (with an optional exponent) scaled to `scale` digits after the point,
// rounded half away from zero.
std::optional<Decimal> parseDecimal(QStringView text, int scale)
{
    text = text.trimmed();
    qsizetype i = 0;
    Decimal result;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        result.negative = text[i] == u'-';
        ++i;
    }
    QString digits;
    qsizetype point = -1;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isDigit() && c.unicode() < 128)
            digits.append(c);
        else if (c == u'.' && point < 0)
            point = digits.size();
        else
            break;
    }
    if (digits.isEmpty())
        return std::nullopt;
    if (point < 0)
        point = digits.size();
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        bool ok = false;
        const int exponent = text.mid(i + 1).toInt(&ok);
        if (!ok || exponent < -400 || exponent > 400)
            return std::nullopt;
        point += exponent;
    } else if (i < text.size()) {
        return std::nullopt;
    }
    const qsizetype integerDigits = point + scale; // digits that stay left of the new point
    const auto digitAt = [&](qsizetype k) {
        return k >= 0 && k < digits.size() ? digits[k].unicode() - u'0' : 0;
    };
    U128 magnitude = 0;
    bool overflow = false;
    for (qsizetype k = 0; k < integerDigits; ++k) {
        magnitude = magnitude * 10 + static_cast<unsigned>(digitAt(k));
        if (magnitude > maxDecimal) {
            overflow = true;
            break;
        }
    }
    if (!overflow && integerDigits >= 0 && digitAt(integerDigits) >= 5)
        ++magnitude;
    result.magnitude = overflow || magnitude > maxDecimal ? maxDecimal : magnitude;
    if (result.magnitude == 0)
        result.negative = false;
    return result;
}

// A double converts by its shortest exact text, so 2.345 rounds to 2.35 as written.
std::optional<Decimal> toDecimal(const Value& value, int scale)
{
    if (const auto* n = std::get_if<qint64>(&value))
        return parseDecimal(QString::number(*n), scale);
    if (const auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d))
            return std::nullopt;
        return parseDecimal(QString::number(*d, 'g', QLocale::FloatingPointShortest), scale);
    }
    if (const auto* s = std::get_if<QString>(&value))
        return parseDecimal(*s, scale);
    if (const auto* b = std::get_if<QByteArray>(&value))
        return parseDecimal(QString::fromUtf8(*b), scale);
    return std::nullopt;
}

QString decimalText(U128 magnitude, bool negative, int scale)
{
    QString digits;
    const bool zero = magnitude == 0;
    while (magnitude > 0) {
        digits.prepend(QChar(u'0' + static_cast<int>(magnitude % 10)));
        magnitude /= 10;
    }
    if (digits.size() <= scale)
        digits.prepend(QString(scale + 1 - digits.size(), u'0'));
    if (scale > 0)
        digits.insert(digits.size() - scale, u'.');
    if (negative && !zero)
        digits.prepend(u'-');
    return digits;
}

QDateTime dateTimeFromParts(qint64 julianDay, qint64 msOfDay)
{
    msOfDay = std::clamp<qint64>(msOfDay, 0, msPerDay - 1);
    return QDateTime(QDate::fromJulianDay(julianDay),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(msOfDay)), Qt::UTC);
}

// date, time, datetime2 and datetimeoffset as the engine keeps them: "yyyy-MM-dd",
// "HH:mm:ss.fffffff", both joined by a blank, and " +hh:mm" after a UTC date and time.
struct WireTemporal
{
    qint64 days = 0;  // since 0001-01-01
    qint64 ticks = 0; // 100 ns since midnight
    int offset = 0;   // minutes
};

int digitsOf(QStringView s, qsizetype at, qsizetype count)
{
    if (at + count > s.size())
        return -1;
    int v = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return -1;
        v = v * 10 + (s[i].unicode() - u'0');
    }
    return v;
}

// The time part from `at` on: "HH:mm:ss" with an optional fraction of up to 7 digits; sets
// *end past it.
std::optional<qint64> wireTicks(QStringView s, qsizetype at, qsizetype* end)
{
    const int h = digitsOf(s, at, 2), mi = digitsOf(s, at + 3, 2), sec = digitsOf(s, at + 6, 2);
    if (h < 0 || mi < 0 || sec < 0 || s[at + 2] != u':' || s[at + 5] != u':' || h > 23 || mi > 59 ||
        sec > 59)
        return std::nullopt;
    qint64 ticks = ((h * 60LL + mi) * 60 + sec) * 10'000'000;
    qsizetype i = at + 8;
    if (i < s.size() && s[i] == u'.') {
        qint64 unit = 1'000'000;
        for (++i; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
            ticks += (s[i].unicode() - u'0') * unit;
            unit /= 10;
        }
    }
    *end = i;
    return ticks;
}

std::optional<WireTemporal> wireTemporal(const Value& value, SqlType type)
{
    WireTemporal t;
    if (const auto* dt = std::get_if<QDateTime>(&value)) {
        const QDateTime utc = type == SqlType::DateTimeOffset ? dt->toUTC() : *dt;
        t.days = utc.date().toJulianDay() - julian0001;
        t.ticks = qint64(utc.time().msecsSinceStartOfDay()) * 10'000;
        t.offset = type == SqlType::DateTimeOffset ? dt->offsetFromUtc() / 60 : 0;
        return t;
    }
    const auto* text = std::get_if<QString>(&value);
    if (!text)
        return std::nullopt;
    const QStringView s = *text;
    qsizetype at = 0;
    if (s.size() >= 10 && s[4] == u'-' && s[7] == u'-') {
        const QDate d(digitsOf(s, 0, 4), digitsOf(s, 5, 2), digitsOf(s, 8, 2));
        if (!d.isValid())
            return std::nullopt;
        t.days = d.toJulianDay() - julian0001;
        at = 11;
    }
    if (at < s.size()) {
        qsizetype end = at;
        const auto ticks = wireTicks(s, at, &end);
        if (!ticks)
            return std::nullopt;
        t.ticks = *ticks;
        if (end + 7 <= s.size() && s[end] == u' ' && (s[end + 1] == u'+' || s[end + 1] == u'-')) {
            const int hh = digitsOf(s, end + 2, 2), mm = digitsOf(s, end + 5, 2);
            if (hh < 0 || mm < 0)
                return std::nullopt;
            t.offset = (s[end + 1] == u'-' ? -1 : 1) * (hh * 60 + mm);
        }
    }
    return t;
}

// TIME's bytes: 3, 4 or 5 by scale (MS-TDS 2.2.5.5.1.8).
int timeBytes(int scale)
{
    return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

void writeUnsigned(TdsWriter& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.u8(static_cast<quint8>(value & 0xFF));
        value >>= 8;
    }
}

QDateTime parseDateTimeText(const QString& text)
{
    static const QRegularExpression pattern(
        uR"(^\s*(\d{4})-?(\d{2})-?(\d{2})(?:[ T](\d{1,2}):(\d{2})(?::(\d{2})(?:[.,](\d+))?)?)?\s*$)"_s);
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return {};
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const int ms = (m.captured(7) + u"000"_s).left(3).toInt();
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), ms);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

QByteArray utf16Bytes(const QString& text)
{
    TdsWriter out;
    out.utf16(text);
    return out.data();
}

QString fromUtf16Bytes(const QByteArray& bytes)
{
    TdsReader in(bytes);
    return in.utf16(bytes.size() / 2);
}

// The collation's UTF-8 flag (bit 26 of its first four bytes) decides how VARCHAR text reads;
// otherwise the code page of its LCID (MS-TDS 2.2.5.1.2), the server's when it is not known.
QString decodeVarchar(const QByteArray& bytes, const QByteArray& collation)
{
    const bool utf8 = collation.size() >= 4 && (static_cast<quint8>(collation[3]) & 0x04) != 0;
    if (utf8)
        return QString::fromUtf8(bytes);
    const int codePage = codePageOfTdsCollation(collation);
    return codePage != 0 ? decodeCodePage(bytes, codePage) : fromServerCodePage(bytes);
}

bool isPlpType(const ColumnType& t)
{
    return t.type == SqlType::Xml || (t.length == ColumnType::max &&
                                      (t.type == SqlType::VarChar || t.type == SqlType::NVarChar ||
                                       t.type == SqlType::VarBinary));
}

void writePlp(TdsWriter& out, const QByteArray& data)
{
    out.u64(static_cast<quint64>(data.size()));
    if (!data.isEmpty()) {
        out.u32(static_cast<quint32>(data.size()));
        out.bytes(data);
    }
    out.u32(0);
}

void writeTextPointerValue(TdsWriter& out, const QByteArray& data)
{
    out.u8(16);
    out.zeros(16); // text pointer
    out.zeros(8);  // timestamp
    out.i32(static_cast<qint32>(data.size()));
    out.bytes(data);
}

// SQL Server sends at most @@TEXTSIZE bytes of a text, ntext, image, varchar(max),
// nvarchar(max) or varbinary(max) value in a result, without a warning; UTF-16 text keeps whole
// code units. https://learn.microsoft.com/sql/t-sql/statements/set-textsize-transact-sql
void cutToTextSize(QByteArray& data, const ColumnType& t, qint64 textSize)
{
    if (textSize < 0 || data.size() <= textSize)
        return;
    const bool unicode = t.type == SqlType::NText || t.type == SqlType::NVarChar;
    data.truncate(unicode ? textSize & ~qint64(1) : textSize);
}

QByteArray fitted(QByteArray data, qsizetype maxBytes, bool padded, char pad)
{
    if (data.size() > maxBytes)
        data.truncate(maxBytes);
    if (padded && data.size() < maxBytes)
        data.append(maxBytes - data.size(), pad);
    return data;
}

// Column data of the character and binary types; nullopt: NULL.
std::optional<QByteArray> bytesFor(const ColumnType& t, const Value& value)
{
    if (isNull(value))
        return std::nullopt;
    switch (t.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::Text:
        return toServerCodePage(toText(value));
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::NText:
    case SqlType::Xml:
        return utf16Bytes(toText(value));
    case SqlType::Binary:
    case SqlType::VarBinary:
    case SqlType::Image:
        return toBytes(value);
    default:
        return std::nullopt;
    }
}

std::optional<QByteArray> guidBytes(const Value& value)
{
    if (const auto* bytes = std::get_if<QByteArray>(&value))
        return bytes->size() == 16 ? std::optional<QByteArray>(*bytes) : std::nullopt;
    if (!std::holds_alternative<QString>(value))
        return std::nullopt;
    const QString text = std::get<QString>(value).trimmed();
    const QUuid uuid = QUuid::fromString(text);
    if (uuid.isNull()) {
        QString digits = text;
        digits.remove(u'{').remove(u'}').remove(u'-');
        if (digits != QString(32, u'0'))
            return std::nullopt;
    }
    TdsWriter out;
    out.u32(uuid.data1);
    out.u16(uuid.data2);
    out.u16(uuid.data3);
    out.bytes(reinterpret_cast<const char*>(uuid.data4), 8);
    return out.data();
}

QString guidText(const QByteArray& bytes)
{
    TdsReader in(bytes);
    const quint32 d1 = in.u32();
    const quint16 d2 = in.u16();
    const quint16 d3 = in.u16();
    const QByteArray rest = in.bytes(8);
    return u"%1-%2-%3-%4-%5"_s.arg(d1, 8, 16, QChar(u'0'))
        .arg(d2, 4, 16, QChar(u'0'))
        .arg(d3, 4, 16, QChar(u'0'))
        .arg(QString::fromLatin1(rest.left(2).toHex()), QString::fromLatin1(rest.mid(2).toHex()))
        .toUpper();
}

void writeIntegerBytes(TdsWriter& out, qint64 value, int size)
{
    switch (size) {
    case 1:
        out.u8(static_cast<quint8>(std::clamp<qint64>(value, 0, 255)));
        break;
    case 2:
        out.u16(
            static_cast<quint16>(static_cast<qint16>(std::clamp<qint64>(value, -32768, 32767))));
        break;
    case 4:
        out.i32(static_cast<qint32>(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(),
                                                       std::numeric_limits<qint32>::max())));
        break;
    default:
        out.u64(static_cast<quint64>(value));
    }
}

int integerSize(SqlType t)
{
    switch (t) {
    case SqlType::TinyInt:
        return 1;
    case SqlType::SmallInt:
        return 2;
    case SqlType::Int:
        return 4;
    default:
        return 8;
    }
}

// ROW's encoding of NULL for this type, in bytes: what NBCROW saves.
int nullSize(const ColumnType& t)
{
    if (isPlpType(t))
        return 8;
    switch (t.type) {
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Binary:
    case SqlType::VarBinary:
        return 2;
    default:
        return 1;
    }
}

} // namespace

ColumnType wireType(const ColumnType& type)
{
    ColumnType t = type;
    switch (t.type) {
    case SqlType::VarChar:
    case SqlType::VarBinary:
        if (t.length <= 0 || t.length > maxShortBytes)
            t.length = ColumnType::max;
        break;
    case SqlType::NVarChar:
        if (t.length <= 0 || t.length > maxShortBytes / 2)
            t.length = ColumnType::max;
        break;
    case SqlType::Char:
    case SqlType::Binary:
        if (t.length > maxShortBytes) {
            t.type = t.type == SqlType::Char ? SqlType::VarChar : SqlType::VarBinary;
            t.length = ColumnType::max;
        } else if (t.length <= 0) {
            t.length = 1;
        }
        break;
    case SqlType::NChar:
        if (t.length > maxShortBytes / 2) {
            t.type = SqlType::NVarChar;
            t.length = ColumnType::max;
        } else if (t.length <= 0) {
            t.length = 1;
        }
        break;
    case SqlType::Decimal:
        if (t.precision <= 0 || t.precision > 38)
            t.precision = 18;
        t.scale = std::clamp(t.scale, 0, t.precision);
        break;
    case SqlType::Time:
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset:
        t.scale = std::clamp(t.scale, 0, 7);
        break;
    case SqlType::Date:
        t.scale = 0;
        break;
    case SqlType::DateTime:
        t.length = t.length == 4 ? 4 : 8;
        break;
    default:
        break;
    }
    return t;
}

ColumnType legacyType(const ColumnType& type)
{
    const ColumnType t = wireType(type);
    if (t.length != ColumnType::max)
        return t;
    switch (t.type) {
    case SqlType::VarChar:
        return {SqlType::Text};
    case SqlType::NVarChar:
        return {SqlType::NText};
    case SqlType::VarBinary:
        return {SqlType::Image};
    case SqlType::Xml:
        return {SqlType::NText};
    default:
        return t;
    }
}

void writeTypeInfo(TdsWriter& out, const ColumnType& type, bool inColumnMetadata,
                   bool tableNameParts)
{
    const ColumnType t = wireType(type);
    const bool max = t.length == ColumnType::max;
    const auto tableName = [&] {
        if (inColumnMetadata) {
            if (tableNameParts)
                out.u8(1);
            out.usVarchar(u"t"_s);
        }
    };
    switch (t.type) {
    case SqlType::Bit:
        out.u8(type::BitN);
        out.u8(1);
        break;
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::BigInt:
        out.u8(type::IntN);
        out.u8(static_cast<quint8>(integerSize(t.type)));
        break;
    case SqlType::Real:
        out.u8(type::FltN);
        out.u8(4);
        break;
    case SqlType::Float:
        out.u8(type::FltN);
        out.u8(8);
        break;
    case SqlType::Decimal:
        out.u8(type::DecimalN);
        out.u8(static_cast<quint8>(decimalBytes(t.precision) + 1));
        out.u8(static_cast<quint8>(t.precision));
        out.u8(static_cast<quint8>(t.scale));
        break;
    case SqlType::DateTime:
        // smalldatetime is DATETIMN of 4 bytes, datetime of 8 (MS-TDS 2.2.5.4.2).
        out.u8(type::DateTimeN);
        out.u8(static_cast<quint8>(t.length));
        break;
    case SqlType::Date:
        // DATENTYPE has no length in TYPE_INFO; the others carry their scale (MS-TDS 2.2.5.4.2).
        out.u8(type::Date);
        break;
    case SqlType::Time:
        out.u8(type::Time);
        out.u8(static_cast<quint8>(t.scale));
        break;
    case SqlType::DateTime2:
        out.u8(type::DateTime2);
        out.u8(static_cast<quint8>(t.scale));
        break;
    case SqlType::DateTimeOffset:
        out.u8(type::DateTimeOffset);
        out.u8(static_cast<quint8>(t.scale));
        break;
    case SqlType::Char:
        out.u8(type::BigChar);
        out.u16(static_cast<quint16>(t.length));
        out.bytes(serverCollation());
        break;
    case SqlType::VarChar:
        out.u8(type::BigVarChar);
        out.u16(max ? 0xFFFF : static_cast<quint16>(t.length));
        out.bytes(serverCollation());
        break;
    case SqlType::Text:
        out.u8(type::Text);
        out.u32(0x7FFFFFFF);
        out.bytes(serverCollation());
        tableName();
        break;
    case SqlType::NChar:
        out.u8(type::NChar);
        out.u16(static_cast<quint16>(t.length * 2));
        out.bytes(serverCollation());
        break;
    case SqlType::NVarChar:
        out.u8(type::NVarChar);
        out.u16(max ? 0xFFFF : static_cast<quint16>(t.length * 2));
        out.bytes(serverCollation());
        break;
    case SqlType::NText:
        out.u8(type::NText);
        out.u32(0x7FFFFFFE);
        out.bytes(serverCollation());
        tableName();
        break;
    case SqlType::Binary:
        out.u8(type::BigBinary);
        out.u16(static_cast<quint16>(t.length));
        break;
    case SqlType::VarBinary:
        out.u8(type::BigVarBinary);
        out.u16(max ? 0xFFFF : static_cast<quint16>(t.length));
        break;
    case SqlType::Image:
        out.u8(type::Image);
        out.u32(0x7FFFFFFF);
        tableName();
        break;
    case SqlType::UniqueIdentifier:
        out.u8(type::Guid);
        out.u8(16);
        break;
    case SqlType::Xml:
        // XML_INFO: SCHEMA_PRESENT 0, untyped xml (MS-TDS 2.2.5.5.3).
        out.u8(type::Xml);
        out.u8(0);
        break;
    }
}

void writeValue(TdsWriter& out, const ColumnType& type, const Value& value, qint64 textSize)
{
    const ColumnType t = wireType(type);
    switch (t.type) {
    case SqlType::Bit: {
        const std::optional<qint64> n = toInteger(value);
        if (!n) {
            out.u8(0);
        } else {
            out.u8(1);
            out.u8(*n != 0 ? 1 : 0);
        }
        return;
    }
    case SqlType::TinyInt:
    case SqlType::SmallInt:
    case SqlType::Int:
    case SqlType::BigInt: {
        const std::optional<qint64> n = toInteger(value);
        if (!n) {
            out.u8(0);
        } else {
            const int size = integerSize(t.type);
            out.u8(static_cast<quint8>(size));
            writeIntegerBytes(out, *n, size);
        }
        return;
    }
    case SqlType::Real:
    case SqlType::Float: {
        const std::optional<double> d = toDouble(value);
        if (!d) {
            out.u8(0);
        } else if (t.type == SqlType::Real) {
            out.u8(4);
            const auto f = static_cast<float>(*d);
            quint32 bits = 0;
            std::memcpy(&bits, &f, 4);
            out.u32(bits);
        } else {
            out.u8(8);
            quint64 bits = 0;
            std::memcpy(&bits, &*d, 8);
            out.u64(bits);
        }
        return;
    }
    case SqlType::Decimal: {
        const std::optional<Decimal> d = toDecimal(value, t.scale);
        if (!d) {
            out.u8(0);
            return;
        }
        const int size = decimalBytes(t.precision);
        out.u8(static_cast<quint8>(size + 1));
        out.u8(d->negative ? 0 : 1);
        U128 magnitude = d->magnitude;
        for (int i = 0; i < size; ++i) {
            out.u8(static_cast<quint8>(magnitude & 0xFF));
            magnitude >>= 8;
        }
        return;
    }
    case SqlType::DateTime: {
        const QDateTime dt = toDateTime(value);
        if (!dt.isValid()) {
            out.u8(0);
            return;
        }
        qint64 days = dt.date().toJulianDay() - julian1900;
        if (t.length == 4) {
            // Days since 1900-01-01 and minutes of the day, both unsigned 16 bits; the value
            // is already rounded to the minute (MS-TDS 2.2.5.5.1.8).
            out.u8(4);
            out.u16(static_cast<quint16>(std::clamp<qint64>(days, 0, 0xFFFF)));
            out.u16(static_cast<quint16>(dt.time().msecsSinceStartOfDay() / 60'000));
            return;
        }
        qint64 ticks = (static_cast<qint64>(dt.time().msecsSinceStartOfDay()) * 300 + 500) / 1000;
        if (ticks >= ticksPerDay) {
            ++days;
            ticks -= ticksPerDay;
        }
        out.u8(8);
        out.i32(static_cast<qint32>(std::clamp<qint64>(days, std::numeric_limits<qint32>::min(),
                                                       std::numeric_limits<qint32>::max())));
        out.u32(static_cast<quint32>(ticks));
        return;
    }
    case SqlType::Date:
    case SqlType::Time:
    case SqlType::DateTime2:
    case SqlType::DateTimeOffset: {
        // BYTELEN, then time(n) in 10^-n second units, date in days since 0001-01-01, and for
        // datetimeoffset the offset in minutes; date and time are UTC there (MS-TDS 2.2.5.5.1.8).
        const std::optional<WireTemporal> v = wireTemporal(value, t.type);
        if (!v) {
            out.u8(0);
            return;
        }
        const int scaleBytes = t.type == SqlType::Date ? 0 : timeBytes(t.scale);
        const int size = scaleBytes + (t.type == SqlType::Time ? 0 : 3) +
                         (t.type == SqlType::DateTimeOffset ? 2 : 0);
        out.u8(static_cast<quint8>(size));
        if (t.type != SqlType::Date) {
            const auto divisor = static_cast<qint64>(pow10(7 - t.scale));
            writeUnsigned(out, static_cast<quint64>(v->ticks / divisor), scaleBytes);
        }
        if (t.type != SqlType::Time)
            writeUnsigned(out, static_cast<quint64>(v->days), 3);
        if (t.type == SqlType::DateTimeOffset)
            out.u16(static_cast<quint16>(static_cast<qint16>(v->offset)));
        return;
    }
    case SqlType::UniqueIdentifier: {
        const std::optional<QByteArray> bytes = isNull(value) ? std::nullopt : guidBytes(value);
        if (!bytes) {
            out.u8(0);
        } else {
            out.u8(16);
            out.bytes(*bytes);
        }
        return;
    }
    case SqlType::Text:
    case SqlType::NText:
    case SqlType::Image: {
        std::optional<QByteArray> bytes = bytesFor(t, value);
        if (!bytes) {
            out.u8(0);
            return;
        }
        cutToTextSize(*bytes, t, textSize);
        writeTextPointerValue(out, *bytes);
        return;
    }
    case SqlType::Xml: {
        // Always whole: SET TEXTSIZE names the (max), text, ntext and image types only
        // (learn.microsoft.com "SET TEXTSIZE (Transact-SQL)"). PLP UTF-16LE (MS-TDS 2.2.5.2.3).
        const std::optional<QByteArray> bytes = bytesFor(t, value);
        if (!bytes)
            out.u64(plpNull);
        else
            writePlp(out, *bytes);
        return;
    }
    case SqlType::Char:
    case SqlType::VarChar:
    case SqlType::NChar:
    case SqlType::NVarChar:
    case SqlType::Binary:
    case SqlType::VarBinary: {
        std::optional<QByteArray> bytes = bytesFor(t, value);
        if (isPlpType(t)) {
            if (!bytes) {
                out.u64(plpNull);
                return;
            }
            cutToTextSize(*bytes, t, textSize);
            writePlp(out, *bytes);
            return;
        }
        if (!bytes) {
            out.u16(0xFFFF);
            return;
        }
        const bool unicode = t.type == SqlType::NChar || t.type == SqlType::NVarChar;
        const qsizetype maxBytes = unicode ? t.length * 2 : t.length;
        const bool padded =
            t.type == SqlType::Char || t.type == SqlType::NChar || t.type == SqlType::Binary;
        QByteArray data;
        if (unicode && padded) {
            QString text = fromUtf16Bytes(*bytes).left(t.length);
            text.append(QString(t.length - text.size(), u' '));
            data = utf16Bytes(text);
        } else {
            data =
                fitted(std::move(*bytes), maxBytes, padded, t.type == SqlType::Char ? ' ' : '\0');
            if (unicode && data.size() % 2 != 0)
                data.chop(1);
        }
        out.u16(static_cast<quint16>(data.size()));
        out.bytes(data);
        return;
    }
    }
}

void writeColumnMetadata(TdsWriter& out, const QList<Column>& columns, bool tds72)
{
    out.u8(0x81);
    out.u16(static_cast<quint16>(columns.size()));
    for (const Column& column : columns) {
        if (tds72)
            out.u32(0); // user type
        else
            out.u16(0);
        out.u16(column.nullable ? 0x0001 : 0x0000);
        writeTypeInfo(out, column.type, true, tds72);
        out.bVarchar(column.name);
    }
}

void writeRow(TdsWriter& out, const QList<Column>& columns, const QList<Value>& values,
              bool allowNbcRow, qint64 textSize)
{
    const qsizetype count = columns.size();
    static const Value nullValue;
    const auto valueAt = [&](qsizetype i) -> const Value& {
        return i < values.size() ? values[i] : nullValue;
    };
    qsizetype nullBytes = 0;
    for (qsizetype i = 0; i < count; ++i) {
        if (isNull(valueAt(i)))
            nullBytes += nullSize(wireType(columns[i].type));
    }
    const qsizetype bitmapBytes = (count + 7) / 8;
    if (allowNbcRow && nullBytes > 0 && bitmapBytes <= nullBytes) {
        out.u8(0xD2);
        QByteArray bitmap(bitmapBytes, '\0');
        for (qsizetype i = 0; i < count; ++i) {
            if (isNull(valueAt(i)))
                bitmap[i / 8] = static_cast<char>(bitmap[i / 8] | (1 << (i % 8)));
        }
        out.bytes(bitmap);
        for (qsizetype i = 0; i < count; ++i) {
            if (!isNull(valueAt(i)))
                writeValue(out, columns[i].type, valueAt(i), textSize);
        }
        return;
    }
    out.u8(0xD1);
    for (qsizetype i = 0; i < count; ++i)
        writeValue(out, columns[i].type, valueAt(i), textSize);
}

namespace {

qint64 readFixedInteger(TdsReader& in, int size)
{
    switch (size) {
    case 1:
        return in.u8();
    case 2:
        return static_cast<qint16>(in.u16());
    case 4:
        return in.i32();
    default:
        return static_cast<qint64>(in.u64());
    }
}

double readFloat(TdsReader& in, int size)
{
    if (size == 4) {
        const quint32 bits = in.u32();
        float f = 0;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    const quint64 bits = in.u64();
    double d = 0;
    std::memcpy(&d, &bits, 8);
    return d;
}

QString readMoney(TdsReader& in, int size)
{
    qint64 units = 0;
    if (size == 4) {
        units = in.i32();
    } else {
        const auto high = static_cast<quint64>(in.u32());
        const quint64 low = in.u32();
        units = static_cast<qint64>((high << 32) | low);
    }
    const bool negative = units < 0;
    const U128 magnitude = negative ? -static_cast<U128>(units) : static_cast<U128>(units);
    return decimalText(magnitude, negative, 4);
}

QDateTime readDateTime(TdsReader& in, int size)
{
    if (size == 4) {
        const quint16 days = in.u16();
        const quint16 minutes = in.u16();
        return dateTimeFromParts(julian1900 + days, qint64(minutes) * 60'000);
    }
    const qint32 days = in.i32();
    const quint32 ticks = in.u32();
    return dateTimeFromParts(julian1900 + days, (qint64(ticks) * 1000 + 150) / 300);
}

// TIME's value: units of 10^-scale seconds since midnight, as 100 ns ticks.
qint64 readTimeTicks(TdsReader& in, int scale)
{
    const QByteArray raw = in.bytes(timeBytes(scale));
    quint64 units = 0;
    for (qsizetype i = raw.size(); i-- > 0;)
        units = (units << 8) | static_cast<quint8>(raw[i]);
    return static_cast<qint64>(units) * static_cast<qint64>(pow10(7 - scale));
}

// The engine's forms of a date and time read from the wire (see Values.h).
QString storageDate(qint64 days)
{
    const QDate d = QDate::fromJulianDay(julian0001 + days);
    return u"%1-%2-%3"_s.arg(d.year(), 4, 10, QChar(u'0'))
        .arg(d.month(), 2, 10, QChar(u'0'))
        .arg(d.day(), 2, 10, QChar(u'0'));
}

QString storageTime(qint64 ticks)
{
    const qint64 seconds = ticks / 10'000'000;
    return u"%1:%2:%3.%4"_s.arg(seconds / 3600, 2, 10, QChar(u'0'))
        .arg(seconds / 60 % 60, 2, 10, QChar(u'0'))
        .arg(seconds % 60, 2, 10, QChar(u'0'))
        .arg(ticks % 10'000'000, 7, 10, QChar(u'0'));
}

qint64 readDateDays(TdsReader& in)
{
    const QByteArray raw = in.bytes(3);
    return static_cast<quint8>(raw[0]) | (static_cast<quint8>(raw[1]) << 8) |
           (static_cast<quint8>(raw[2]) << 16);
}

QByteArray readPlp(TdsReader& in, bool* null)
{
    const quint64 total = in.u64();
    *null = total == plpNull;
    QByteArray data;
    if (*null)
        return data;
    if (total != plpUnknownLength && total <= static_cast<quint64>(in.remaining()))
        data.reserve(static_cast<qsizetype>(total));
    for (;;) {
        const quint32 chunk = in.u32();
        if (chunk == 0)
            break;
        data.append(in.bytes(static_cast<qsizetype>(chunk)));
    }
    return data;
}

[[noreturn]] void badParameter(const char* what)
{
    throw ProtocolError(what);
}

void checkSize(bool ok)
{
    if (!ok)
        badParameter("parameter value of a length its type does not allow");
}

} // namespace

Param readParam(TdsReader& in)
{
    Param p;
    p.name = in.bVarchar();
    p.output = (in.u8() & 0x01) != 0;
    const quint8 code = in.u8();
    ColumnType& t = p.type;
    switch (code) {
    case type::Null:
        t.type = SqlType::Int;
        return p;
    case type::Int1:
    case type::Int2:
    case type::Int4:
    case type::Int8: {
        const int size = code == type::Int1   ? 1
                         : code == type::Int2 ? 2
                         : code == type::Int4 ? 4
                                              : 8;
        t.type = size == 1   ? SqlType::TinyInt
                 : size == 2 ? SqlType::SmallInt
                 : size == 4 ? SqlType::Int
                             : SqlType::BigInt;
        p.value = readFixedInteger(in, size);
        return p;
    }
    case type::Bit:
        t.type = SqlType::Bit;
        p.value = qint64(in.u8() != 0 ? 1 : 0);
        return p;
    case type::Flt4:
    case type::Flt8:
        t.type = code == type::Flt4 ? SqlType::Real : SqlType::Float;
        p.value = readFloat(in, code == type::Flt4 ? 4 : 8);
        return p;
    case type::Money:
    case type::Money4:
        t = {SqlType::Decimal, 0, code == type::Money ? 19 : 10, 4};
        p.value = readMoney(in, code == type::Money ? 8 : 4);
        return p;
    case type::DateTime:
    case type::DateTim4:
        t.type = SqlType::DateTime;
        t.length = code == type::DateTime ? 8 : 4;
        p.value = readDateTime(in, code == type::DateTime ? 8 : 4);
        return p;
    case type::IntN: {
        const int max = in.u8();
        checkSize(max == 1 || max == 2 || max == 4 || max == 8);
        t.type = max == 1   ? SqlType::TinyInt
                 : max == 2 ? SqlType::SmallInt
                 : max == 4 ? SqlType::Int
                            : SqlType::BigInt;
        const int size = in.u8();
        checkSize(size == 0 || size == 1 || size == 2 || size == 4 || size == 8);
        if (size != 0)
            p.value = readFixedInteger(in, size);
        return p;
    }
    case type::BitN: {
        checkSize(in.u8() == 1);
        t.type = SqlType::Bit;
        const int size = in.u8();
        checkSize(size <= 1);
        if (size == 1)
            p.value = qint64(in.u8() != 0 ? 1 : 0);
        return p;
    }
    case type::FltN: {
        const int max = in.u8();
        checkSize(max == 4 || max == 8);
        t.type = max == 4 ? SqlType::Real : SqlType::Float;
        const int size = in.u8();
        checkSize(size == 0 || size == 4 || size == 8);
        if (size != 0)
            p.value = readFloat(in, size);
        return p;
    }
    case type::MoneyN: {
        const int max = in.u8();
        checkSize(max == 4 || max == 8);
        t = {SqlType::Decimal, 0, max == 8 ? 19 : 10, 4};
        const int size = in.u8();
        checkSize(size == 0 || size == 4 || size == 8);
        if (size != 0)
            p.value = readMoney(in, size);
        return p;
    }
    case type::DateTimeN: {
        const int max = in.u8();
        checkSize(max == 4 || max == 8);
        t.type = SqlType::DateTime;
        t.length = max;
        const int size = in.u8();
        checkSize(size == 0 || size == 4 || size == 8);
        if (size != 0)
            p.value = readDateTime(in, size);
        return p;
    }
    case type::Guid: {
        checkSize(in.u8() == 16);
        t.type = SqlType::UniqueIdentifier;
        const int size = in.u8();
        checkSize(size == 0 || size == 16);
        if (size != 0)
            p.value = guidText(in.bytes(16));
        return p;
    }
    case type::DecimalN:
    case type::NumericN: {
        in.u8(); // longest value
        const int precision = in.u8();
        const int scale = in.u8();
        checkSize(precision >= 1 && precision <= 38 && scale <= precision);
        t = {SqlType::Decimal, 0, precision, scale};
        const int size = in.u8();
        checkSize(size == 0 || (size >= 2 && size <= 17));
        if (size != 0) {
            const bool positive = in.u8() != 0;
            const QByteArray raw = in.bytes(size - 1);
            U128 magnitude = 0;
            for (qsizetype i = raw.size(); i-- > 0;)
                magnitude = (magnitude << 8) | static_cast<quint8>(raw[i]);
            p.value = decimalText(magnitude, !positive, scale);
        }
        return p;
    }
    case type::Date: {
        t.type = SqlType::Date;
        const int size = in.u8();
        checkSize(size == 0 || size == 3);
        if (size != 0)
            p.value = storageDate(readDateDays(in));
        return p;
    }
    case type::Time:
    case type::DateTime2:
    case type::DateTimeOffset: {
        const int scale = in.u8();
        checkSize(scale <= 7);
        t.type = code == type::Time        ? SqlType::Time
                 : code == type::DateTime2 ? SqlType::DateTime2
                                           : SqlType::DateTimeOffset;
        t.scale = scale;
        const int size = in.u8();
        const int expected = timeBytes(scale) + (code == type::Time        ? 0
                                                 : code == type::DateTime2 ? 3
                                                                           : 5);
        checkSize(size == 0 || size == expected);
        if (size == 0)
            return p;
        const qint64 ticks = readTimeTicks(in, scale);
        checkSize(ticks < qint64(86'400) * 10'000'000);
        if (code == type::Time) {
            p.value = storageTime(ticks);
            return p;
        }
        QString text = storageDate(readDateDays(in)) + u' ' + storageTime(ticks);
        if (code == type::DateTimeOffset) {
            const auto minutes = static_cast<qint16>(in.u16());
            checkSize(minutes >= -840 && minutes <= 840);
            text += u"%1%2:%3"_s.arg(minutes < 0 ? u" -"_s : u" +"_s)
                        .arg(std::abs(minutes) / 60, 2, 10, QChar(u'0'))
                        .arg(std::abs(minutes) % 60, 2, 10, QChar(u'0'));
        }
        p.value = text;
        return p;
    }
    case type::BigVarChar:
    case type::BigChar:
    case type::NVarChar:
    case type::NChar:
    case type::BigVarBinary:
    case type::BigBinary: {
        const quint16 max = in.u16();
        const bool text = code != type::BigVarBinary && code != type::BigBinary;
        const bool unicode = code == type::NVarChar || code == type::NChar;
        const QByteArray collation = text ? in.bytes(5) : QByteArray();
        const bool plp = max == 0xFFFF;
        if (plp && (code == type::BigChar || code == type::NChar || code == type::BigBinary))
            badParameter("fixed-length type declared as (max)");
        switch (code) {
        case type::BigVarChar:
            t.type = SqlType::VarChar;
            break;
        case type::BigChar:
            t.type = SqlType::Char;
            break;
        case type::NVarChar:
            t.type = SqlType::NVarChar;
            break;
        case type::NChar:
            t.type = SqlType::NChar;
            break;
        case type::BigVarBinary:
            t.type = SqlType::VarBinary;
            break;
        default:
            t.type = SqlType::Binary;
        }
        t.length = plp ? ColumnType::max : unicode ? max / 2 : max;
        QByteArray data;
        if (plp) {
            bool null = false;
            data = readPlp(in, &null);
            if (null)
                return p;
        } else {
            const quint16 size = in.u16();
            if (size == 0xFFFF)
                return p;
            data = in.bytes(size);
        }
        if (!text)
            p.value = data;
        else if (unicode)
            p.value = fromUtf16Bytes(data);
        else
            p.value = decodeVarchar(data, collation);
        return p;
    }
    case type::Text:
    case type::NText:
    case type::Image: {
        in.u32(); // longest value
        const QByteArray collation = code == type::Image ? QByteArray() : in.bytes(5);
        t.type = code == type::Text    ? SqlType::Text
                 : code == type::NText ? SqlType::NText
                                       : SqlType::Image;
        const qint32 size = in.i32();
        if (size < 0)
            return p;
        const QByteArray data = in.bytes(size);
        if (code == type::Image)
            p.value = data;
        else if (code == type::NText)
            p.value = fromUtf16Bytes(data);
        else
            p.value = decodeVarchar(data, collation);
        return p;
    }
    case type::Xml: {
        // XML_INFO: a schema collection's database, owner and name when SCHEMA_PRESENT is 1;
        // the value is PLP UTF-16LE (MS-TDS 2.2.5.5.3).
        if (in.u8() != 0) {
            in.bVarchar();
            in.bVarchar();
            in.usVarchar();
        }
        t.type = SqlType::Xml;
        t.length = ColumnType::max;
        bool null = false;
        const QByteArray data = readPlp(in, &null);
        if (!null)
            p.value = fromUtf16Bytes(data);
        return p;
    }
    default:
        throw ProtocolError("parameter of a data type this server does not know");
    }
}

std::optional<qint64> toInteger(const Value& value)
{
    if (const auto* n = std::get_if<qint64>(&value))
        return *n;
    if (const auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d))
            return std::nullopt;
        return static_cast<qint64>(std::clamp(std::trunc(*d), -9.2e18, 9.2e18));
    }
    QString text;
    if (const auto* s = std::get_if<QString>(&value))
        text = s->trimmed();
    else if (const auto* b = std::get_if<QByteArray>(&value))
        text = QString::fromUtf8(*b).trimmed();
    else
        return std::nullopt;
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (ok)
        return n;
    const double d = text.toDouble(&ok);
    if (ok)
        return toInteger(Value(d));
    if (text.compare(u"true"_s, Qt::CaseInsensitive) == 0)
        return 1;
    if (text.compare(u"false"_s, Qt::CaseInsensitive) == 0)
        return 0;
    return std::nullopt;
}

std::optional<double> toDouble(const Value& value)
{
    if (const auto* n = std::get_if<qint64>(&value))
        return static_cast<double>(*n);
    if (const auto* d = std::get_if<double>(&value))
        return *d;
    QString text;
    if (const auto* s = std::get_if<QString>(&value))
        text = s->trimmed();
    else if (const auto* b = std::get_if<QByteArray>(&value))
        text = QString::fromUtf8(*b).trimmed();
    else
        return std::nullopt;
    bool ok = false;
    const double d = text.toDouble(&ok);
    return ok ? std::optional<double>(d) : std::nullopt;
}

QString toText(const Value& value)
{
    if (const auto* s = std::get_if<QString>(&value))
        return *s;
    if (const auto* n = std::get_if<qint64>(&value))
        return QString::number(*n);
    if (const auto* d = std::get_if<double>(&value))
        return QString::number(*d, 'g', QLocale::FloatingPointShortest);
    if (const auto* b = std::get_if<QByteArray>(&value))
        return QString::fromUtf8(*b);
    if (const auto* dt = std::get_if<QDateTime>(&value))
        return dt->toString(u"yyyy-MM-dd hh:mm:ss.zzz"_s);
    return {};
}

QByteArray toBytes(const Value& value)
{
    if (const auto* b = std::get_if<QByteArray>(&value))
        return *b;
    if (const auto* s = std::get_if<QString>(&value))
        return s->toUtf8();
    if (const auto* n = std::get_if<qint64>(&value)) {
        QByteArray out(8, '\0');
        qToBigEndian(*n, out.data());
        return out;
    }
    if (const auto* d = std::get_if<double>(&value)) {
        QByteArray out(8, '\0');
        quint64 bits = 0;
        std::memcpy(&bits, d, 8);
        qToBigEndian(bits, out.data());
        return out;
    }
    return toText(value).toUtf8();
}

QDateTime toDateTime(const Value& value)
{
    if (const auto* dt = std::get_if<QDateTime>(&value))
        return *dt;
    if (const auto* s = std::get_if<QString>(&value))
        return parseDateTimeText(*s);
    if (const auto* n = std::get_if<qint64>(&value))
        return dateTimeFromParts(julian1900 + *n, 0);
    if (const auto* d = std::get_if<double>(&value)) {
        if (!std::isfinite(*d) || std::abs(*d) > 3e6)
            return {};
        const double days = std::floor(*d);
        return dateTimeFromParts(julian1900 + static_cast<qint64>(days),
                                 std::llround((*d - days) * msPerDay));
    }
    return {};
}

QString toDecimalText(const Value& value, int scale)
{
    const std::optional<Decimal> d = toDecimal(value, scale);
    return d ? decimalText(d->magnitude, d->negative, scale) : QString();
}

QByteArray toServerCodePage(const QString& text)
{
    return encodeCodePage(text, sqlsim::serverCollation().codePage);
}

QString fromServerCodePage(const QByteArray& bytes)
{
    return decodeCodePage(bytes, sqlsim::serverCollation().codePage);
}

} // namespace sqlsim::tds
