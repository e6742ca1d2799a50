#include "SqlTypes.h"

#include "Collation.h"
#include "Temporal.h"
#include "XmlText.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>
#include <QUuid>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

constexpr int textLength = 2147483647;
constexpr int ntextLength = 1073741823;

struct IntRange
{
    qint64 min;
    qint64 max;
};

IntRange intRange(BaseType base)
{
    switch (base) {
    case BaseType::Bit:
        return {0, 1};
    case BaseType::TinyInt:
        return {0, 255};
    case BaseType::SmallInt:
        return {-32768, 32767};
    case BaseType::Int:
        return {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()};
    default:
        return {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    }
}

QString sourceName(const Value& value, const std::optional<TypeInfo>& source)
{
    if (source)
        return sqlTypeName(*source);
    if (std::holds_alternative<qint64>(value))
        return u"int"_s;
    if (std::holds_alternative<double>(value))
        return u"float"_s;
    if (std::holds_alternative<QByteArray>(value))
        return u"varbinary"_s;
    if (std::holds_alternative<QDateTime>(value))
        return u"datetime"_s;
    return u"varchar"_s;
}

[[noreturn]] void fail(int number, const QString& text)
{
    throw SqlError(number, text);
}

QString quoteForMessage(const QString& text)
{
    return text.size() > 200 ? text.left(200) : text;
}

// Integer text as SQL Server reads it: blanks around, an optional sign, digits.
std::optional<qint64> parseIntegerText(const QString& raw, bool* overflow)
{
    const QString text = raw.trimmed();
    if (text.isEmpty())
        return qint64(0);
    int i = 0;
    bool negative = false;
    if (text[0] == u'+' || text[0] == u'-') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i >= text.size())
        return std::nullopt;
    quint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const quint64 digit = static_cast<quint64>(c.unicode() - u'0');
        if (magnitude > (std::numeric_limits<quint64>::max() - digit) / 10) {
            *overflow = true;
            return std::nullopt;
        }
        magnitude = magnitude * 10 + digit;
    }
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    if (magnitude > limit) {
        *overflow = true;
        return std::nullopt;
    }
    if (negative)
        return magnitude == limit ? std::numeric_limits<qint64>::min()
                                  : -static_cast<qint64>(magnitude);
    return static_cast<qint64>(magnitude);
}

std::optional<double> parseFloatText(const QString& raw)
{
    const QString text = raw.trimmed();
    if (text.isEmpty())
        return 0.0;
    static const QRegularExpression re(u"^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"_s);
    if (!re.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double d = text.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return std::nullopt;
    return d;
}

qint64 bigEndianInt(const QByteArray& bytes)
{
    quint64 v = 0;
    const qsizetype start = bytes.size() > 8 ? bytes.size() - 8 : 0;
    for (qsizetype i = start; i < bytes.size(); ++i)
        v = (v << 8) | static_cast<quint8>(bytes[i]);
    return static_cast<qint64>(v);
}

QByteArray intBytes(qint64 v, int size)
{
    QByteArray out(size, '\0');
    quint64 u = static_cast<quint64>(v);
    for (int i = size - 1; i >= 0; --i) {
        out[i] = static_cast<char>(u & 0xFF);
        u >>= 8;
    }
    return out;
}

int intSize(const std::optional<TypeInfo>& source, qint64 v)
{
    if (source) {
        switch (source->base) {
        case BaseType::TinyInt:
        case BaseType::Bit:
            return 1;
        case BaseType::SmallInt:
            return 2;
        case BaseType::BigInt:
            return 8;
        case BaseType::Int:
            return 4;
        default:
            break;
        }
    }
    return v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max() ? 4
                                                                                              : 8;
}

QByteArray utf16Bytes(const QString& s)
{
    QByteArray out;
    out.reserve(s.size() * 2);
    for (const QChar c : s) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
    }
    return out;
}

QString fromUtf16Bytes(const QByteArray& b)
{
    QString out;
    out.reserve(b.size() / 2);
    for (qsizetype i = 0; i + 1 < b.size(); i += 2)
        out.append(QChar(static_cast<char16_t>(static_cast<quint8>(b[i]) |
                                               (static_cast<quint8>(b[i + 1]) << 8))));
    return out;
}

std::optional<QString> parseGuid(const QString& raw)
{
    QString text = raw.trimmed();
    if (text.size() == 38 && text.startsWith(u'{') && text.endsWith(u'}'))
        text = text.mid(1, 36);
    static const QRegularExpression re(
        u"^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"_s);
    if (!re.match(text).hasMatch())
        return std::nullopt;
    return text.toUpper();
}

QString guidFromBytes(const QByteArray& b)
{
    if (b.size() < 16)
        return {};
    auto hex = [&](std::initializer_list<int> idx) {
        QString s;
        for (int i : idx)
            s += u"%1"_s.arg(static_cast<quint8>(b[i]), 2, 16, QChar(u'0'));
        return s;
    };
    return (hex({3, 2, 1, 0}) + u'-' + hex({5, 4}) + u'-' + hex({7, 6}) + u'-' + hex({8, 9}) +
            u'-' + hex({10, 11, 12, 13, 14, 15}))
        .toUpper();
}

QDateTime baseDate()
{
    return QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC);
}

bool inRange(const QDateTime& dt, BaseType base)
{
    const QDate d = dt.date();
    switch (base) {
    case BaseType::DateTime:
        return d >= QDate(1753, 1, 1) && d <= QDate(9999, 12, 31);
    case BaseType::SmallDateTime:
        return d >= QDate(1900, 1, 1) && d <= QDate(2079, 6, 6);
    default:
        return d >= QDate(1, 1, 1) && d <= QDate(9999, 12, 31);
    }
}

QString dateTypeName(BaseType base)
{
    return TypeInfo::of(base).baseName();
}

// The order in which CONVERT reads the parts of a numeric date with this style; without a style
// (or with one that names no order) the session's DATEFORMAT decides.
// https://learn.microsoft.com/sql/t-sql/functions/cast-and-convert-transact-sql#date-and-time-styles
QString styleDateOrder(int style)
{
    switch (style) {
    case 1:
    case 101:
    case 10:
    case 110:
        return u"mdy"_s;
    case 3:
    case 103:
    case 4:
    case 104:
    case 5:
    case 105:
        return u"dmy"_s;
    case 2:
    case 102:
    case 11:
    case 111:
    case 12:
    case 112:
    case 20:
    case 120:
    case 21:
    case 121:
    case 23:
    case 126:
    case 127:
        return u"ymd"_s;
    default:
        return threadDateFormat();
    }
}

QString padRight(const QString& s, int n)
{
    return s.size() >= n ? s : s + QString(n - s.size(), u' ');
}

QString rtrimSpaces(const QString& s)
{
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == u' ')
        --n;
    return s.left(n);
}

} // namespace

// ---- TypeInfo

TypeInfo TypeInfo::of(BaseType base, int length, int precision, int scale)
{
    TypeInfo t;
    t.base = base;
    t.length = length;
    t.precision = precision;
    t.scale = scale;
    return t;
}

ColumnType TypeInfo::columnType() const
{
    ColumnType c;
    switch (base) {
    case BaseType::Bit:
        c.type = SqlType::Bit;
        break;
    case BaseType::TinyInt:
        c.type = SqlType::TinyInt;
        break;
    case BaseType::SmallInt:
        c.type = SqlType::SmallInt;
        break;
    case BaseType::Int:
        c.type = SqlType::Int;
        break;
    case BaseType::BigInt:
        c.type = SqlType::BigInt;
        break;
    case BaseType::Real:
        c.type = SqlType::Real;
        break;
    case BaseType::Float:
        c.type = SqlType::Float;
        break;
    case BaseType::Decimal:
    case BaseType::Numeric:
        c.type = SqlType::Decimal;
        c.precision = precision;
        c.scale = scale;
        break;
    case BaseType::Money:
        c.type = SqlType::Decimal;
        c.precision = 19;
        c.scale = 4;
        break;
    case BaseType::SmallMoney:
        c.type = SqlType::Decimal;
        c.precision = 10;
        c.scale = 4;
        break;
    case BaseType::DateTime:
        c.type = SqlType::DateTime;
        break;
    case BaseType::SmallDateTime:
        c.type = SqlType::DateTime;
        c.length = 4;
        break;
    case BaseType::Date:
        c.type = SqlType::Date;
        break;
    case BaseType::Time:
        c.type = SqlType::Time;
        c.scale = scale;
        break;
    case BaseType::DateTime2:
        c.type = SqlType::DateTime2;
        c.scale = scale;
        break;
    case BaseType::DateTimeOffset:
        c.type = SqlType::DateTimeOffset;
        c.scale = scale;
        break;
    case BaseType::Char:
        c.type = SqlType::Char;
        c.length = length;
        break;
    case BaseType::VarChar:
        c.type = SqlType::VarChar;
        c.length = length;
        break;
    case BaseType::Text:
        c.type = SqlType::Text;
        c.length = textLength;
        break;
    case BaseType::NChar:
        c.type = SqlType::NChar;
        c.length = length;
        break;
    case BaseType::NVarChar:
        c.type = SqlType::NVarChar;
        c.length = length;
        break;
    case BaseType::SysName:
        c.type = SqlType::NVarChar;
        c.length = 128;
        break;
    case BaseType::NText:
        c.type = SqlType::NText;
        c.length = ntextLength;
        break;
    case BaseType::Binary:
        c.type = SqlType::Binary;
        c.length = length;
        break;
    case BaseType::VarBinary:
        c.type = SqlType::VarBinary;
        c.length = length;
        break;
    case BaseType::Image:
        c.type = SqlType::Image;
        c.length = textLength;
        break;
    case BaseType::UniqueIdentifier:
        c.type = SqlType::UniqueIdentifier;
        c.length = 16;
        break;
    case BaseType::Xml:
        c.type = SqlType::Xml;
        c.length = ColumnType::max;
        break;
    }
    return c;
}

QString TypeInfo::baseName() const
{
    switch (base) {
    case BaseType::Bit:
        return u"bit"_s;
    case BaseType::TinyInt:
        return u"tinyint"_s;
    case BaseType::SmallInt:
        return u"smallint"_s;
    case BaseType::Int:
        return u"int"_s;
    case BaseType::BigInt:
        return u"bigint"_s;
    case BaseType::Real:
        return u"real"_s;
    case BaseType::Float:
        return u"float"_s;
    case BaseType::Decimal:
        return u"decimal"_s;
    case BaseType::Numeric:
        return u"numeric"_s;
    case BaseType::Money:
        return u"money"_s;
    case BaseType::SmallMoney:
        return u"smallmoney"_s;
    case BaseType::DateTime:
        return u"datetime"_s;
    case BaseType::SmallDateTime:
        return u"smalldatetime"_s;
    case BaseType::Date:
        return u"date"_s;
    case BaseType::DateTime2:
        return u"datetime2"_s;
    case BaseType::Time:
        return u"time"_s;
    case BaseType::DateTimeOffset:
        return u"datetimeoffset"_s;
    case BaseType::Char:
        return u"char"_s;
    case BaseType::VarChar:
        return u"varchar"_s;
    case BaseType::Text:
        return u"text"_s;
    case BaseType::NChar:
        return u"nchar"_s;
    case BaseType::NVarChar:
        return u"nvarchar"_s;
    case BaseType::NText:
        return u"ntext"_s;
    case BaseType::SysName:
        return u"sysname"_s;
    case BaseType::Binary:
        return u"binary"_s;
    case BaseType::VarBinary:
        return u"varbinary"_s;
    case BaseType::Image:
        return u"image"_s;
    case BaseType::UniqueIdentifier:
        return u"uniqueidentifier"_s;
    case BaseType::Xml:
        return u"xml"_s;
    }
    return u"int"_s;
}

QString TypeInfo::declText() const
{
    const QString name = baseName();
    switch (base) {
    case BaseType::Decimal:
    case BaseType::Numeric:
        return u"%1(%2,%3)"_s.arg(name).arg(precision).arg(scale);
    case BaseType::Char:
    case BaseType::VarChar:
    case BaseType::NChar:
    case BaseType::NVarChar:
    case BaseType::Binary:
    case BaseType::VarBinary:
        return length == ColumnType::max ? name + u"(max)"_s : u"%1(%2)"_s.arg(name).arg(length);
    case BaseType::Time:
    case BaseType::DateTime2:
    case BaseType::DateTimeOffset:
        return u"%1(%2)"_s.arg(name).arg(scale);
    default:
        return name;
    }
}

QString TypeInfo::storageDecl() const
{
    QString d = declText();
    if (d.endsWith(u"(max)"_s))
        d = d.chopped(5) + u"(-1)"_s;
    return d;
}

bool TypeInfo::isInteger() const
{
    return base == BaseType::Bit || base == BaseType::TinyInt || base == BaseType::SmallInt ||
           base == BaseType::Int || base == BaseType::BigInt;
}

bool TypeInfo::isExactNumeric() const
{
    return base == BaseType::Decimal || base == BaseType::Numeric || base == BaseType::Money ||
           base == BaseType::SmallMoney;
}

bool TypeInfo::isApproxNumeric() const
{
    return base == BaseType::Real || base == BaseType::Float;
}

bool TypeInfo::isDateTime() const
{
    return base == BaseType::DateTime || base == BaseType::SmallDateTime ||
           base == BaseType::Date || base == BaseType::DateTime2 || base == BaseType::Time ||
           base == BaseType::DateTimeOffset;
}

bool TypeInfo::isString() const
{
    return base == BaseType::Char || base == BaseType::VarChar || base == BaseType::Text ||
           isUnicode();
}

bool TypeInfo::isUnicode() const
{
    return base == BaseType::NChar || base == BaseType::NVarChar || base == BaseType::NText ||
           base == BaseType::SysName;
}

bool TypeInfo::isFixedLength() const
{
    return base == BaseType::Char || base == BaseType::NChar || base == BaseType::Binary;
}

bool TypeInfo::isBinary() const
{
    return base == BaseType::Binary || base == BaseType::VarBinary || base == BaseType::Image;
}

bool TypeInfo::isLob() const
{
    return base == BaseType::Text || base == BaseType::NText || base == BaseType::Image ||
           base == BaseType::Xml || length == ColumnType::max;
}

QString sqlTypeName(const TypeInfo& type)
{
    return type.baseName();
}

TypeInfo typeOfColumnType(const ColumnType& c)
{
    switch (c.type) {
    case SqlType::Bit:
        return TypeInfo::of(BaseType::Bit);
    case SqlType::TinyInt:
        return TypeInfo::of(BaseType::TinyInt);
    case SqlType::SmallInt:
        return TypeInfo::of(BaseType::SmallInt);
    case SqlType::Int:
        return TypeInfo::of(BaseType::Int);
    case SqlType::BigInt:
        return TypeInfo::of(BaseType::BigInt);
    case SqlType::Real:
        return TypeInfo::of(BaseType::Real);
    case SqlType::Float:
        return TypeInfo::of(BaseType::Float);
    case SqlType::Decimal:
        return TypeInfo::of(BaseType::Decimal, 0, c.precision > 0 ? c.precision : 18, c.scale);
    case SqlType::DateTime:
        return TypeInfo::of(c.length == 4 ? BaseType::SmallDateTime : BaseType::DateTime);
    case SqlType::Date:
        return TypeInfo::of(BaseType::Date);
    case SqlType::Time:
        return TypeInfo::of(BaseType::Time, 0, 0, c.scale);
    case SqlType::DateTime2:
        return TypeInfo::of(BaseType::DateTime2, 0, 0, c.scale);
    case SqlType::DateTimeOffset:
        return TypeInfo::of(BaseType::DateTimeOffset, 0, 0, c.scale);
    case SqlType::Char:
        return TypeInfo::of(BaseType::Char, c.length > 0 ? c.length : 1);
    case SqlType::VarChar:
        return TypeInfo::of(BaseType::VarChar, c.length != 0 ? c.length : 1);
    case SqlType::Text:
        return TypeInfo::of(BaseType::Text);
    case SqlType::NChar:
        return TypeInfo::of(BaseType::NChar, c.length > 0 ? c.length : 1);
    case SqlType::NVarChar:
        return TypeInfo::of(BaseType::NVarChar, c.length != 0 ? c.length : 1);
    case SqlType::NText:
        return TypeInfo::of(BaseType::NText);
    case SqlType::Binary:
        return TypeInfo::of(BaseType::Binary, c.length > 0 ? c.length : 1);
    case SqlType::VarBinary:
        return TypeInfo::of(BaseType::VarBinary, c.length != 0 ? c.length : 1);
    case SqlType::Image:
        return TypeInfo::of(BaseType::Image);
    case SqlType::UniqueIdentifier:
        return TypeInfo::of(BaseType::UniqueIdentifier);
    case SqlType::Xml:
        return TypeInfo::of(BaseType::Xml);
    }
    return TypeInfo::of(BaseType::Int);
}

TypeInfo parseTypeName(const QString& rawName, const QString& arg1, const QString& arg2,
                       TypeContext context, int columnNumber)
{
    QString name = rawName.simplified().toLower();
    if (name.startsWith(u"sys."_s))
        name = name.mid(4);
    const int defaultLength = context == TypeContext::Cast ? 30 : 1;
    auto unknown = [&]() -> TypeInfo {
        if (context == TypeContext::Cast)
            fail(243, u"Type %1 is not a defined system type."_s.arg(rawName));
        fail(2715,
             u"Column, parameter, or variable #%1: Cannot find data type %2."_s.arg(columnNumber)
                 .arg(rawName));
    };
    auto number = [&](const QString& text, int fallback) {
        if (text.isEmpty())
            return fallback;
        if (text.compare(u"max"_s, Qt::CaseInsensitive) == 0)
            return int(ColumnType::max);
        bool ok = false;
        const int n = text.toInt(&ok);
        if (!ok || n <= 0)
            fail(1001, u"Line 1: Length or precision specification %1 is invalid."_s.arg(text));
        return n;
    };
    auto sized = [&](BaseType base, int maxLength) {
        const int n = number(arg1, defaultLength);
        if (n != ColumnType::max && n > maxLength)
            fail(131, u"The size (%1) given to the type '%2' exceeds the maximum allowed for any "
                      "data type (%3)."_s.arg(n)
                          .arg(TypeInfo::of(base).baseName())
                          .arg(maxLength));
        if (!arg2.isEmpty())
            unknown();
        return TypeInfo::of(base, n);
    };
    auto noArgs = [&](BaseType base) {
        if (!arg1.isEmpty())
            fail(2716, u"Column, parameter, or variable #%1: Cannot specify a column width on "
                       "data type %2."_s.arg(columnNumber)
                           .arg(TypeInfo::of(base).baseName()));
        return TypeInfo::of(base);
    };

    if (name == u"bit")
        return noArgs(BaseType::Bit);
    if (name == u"tinyint")
        return noArgs(BaseType::TinyInt);
    if (name == u"smallint")
        return noArgs(BaseType::SmallInt);
    if (name == u"int" || name == u"integer")
        return noArgs(BaseType::Int);
    if (name == u"bigint")
        return noArgs(BaseType::BigInt);
    if (name == u"real")
        return noArgs(BaseType::Real);
    if (name == u"float" || name == u"double precision") {
        const int n = arg1.isEmpty() ? 53 : number(arg1, 53);
        return TypeInfo::of(n <= 24 ? BaseType::Real : BaseType::Float);
    }
    if (name == u"decimal" || name == u"dec" || name == u"numeric") {
        const int p = arg1.isEmpty() ? 18 : number(arg1, 18);
        bool ok = true;
        const int s = arg2.isEmpty() ? 0 : arg2.toInt(&ok);
        if (p > 38 || p < 1)
            fail(2750, u"Column or parameter #%1: Specified column precision %2 is greater than "
                       "the maximum precision of 38."_s.arg(columnNumber)
                           .arg(p));
        if (!ok || s < 0 || s > p)
            fail(183,
                 u"The scale (%1) for column '%2' must be within the range %3 to %4."_s.arg(arg2)
                     .arg(rawName)
                     .arg(0)
                     .arg(p));
        return TypeInfo::of(name == u"numeric" ? BaseType::Numeric : BaseType::Decimal, 0, p, s);
    }
    if (name == u"money")
        return noArgs(BaseType::Money);
    if (name == u"smallmoney")
        return noArgs(BaseType::SmallMoney);
    if (name == u"datetime")
        return noArgs(BaseType::DateTime);
    if (name == u"smalldatetime")
        return noArgs(BaseType::SmallDateTime);
    if (name == u"date")
        return noArgs(BaseType::Date);
    if (name == u"datetime2" || name == u"time" || name == u"datetimeoffset") {
        // Fractional seconds precision 0 to 7, 7 when not given (learn.microsoft.com
        // "time (Transact-SQL)", "datetime2", "datetimeoffset").
        const BaseType base = name == u"time"        ? BaseType::Time
                              : name == u"datetime2" ? BaseType::DateTime2
                                                     : BaseType::DateTimeOffset;
        bool ok = true;
        const int scale = arg1.isEmpty() ? 7 : arg1.toInt(&ok);
        if (!arg2.isEmpty())
            return unknown();
        if (!ok || scale < 0 || scale > 7)
            fail(1002, u"Line 1: Specified scale %1 is invalid."_s.arg(arg1));
        return TypeInfo::of(base, 0, 0, scale);
    }
    if (name == u"char" || name == u"character")
        return sized(BaseType::Char, 8000);
    if (name == u"varchar" || name == u"char varying" || name == u"character varying")
        return sized(BaseType::VarChar, 8000);
    if (name == u"text")
        return noArgs(BaseType::Text);
    if (name == u"nchar" || name == u"national char" || name == u"national character")
        return sized(BaseType::NChar, 4000);
    if (name == u"nvarchar" || name == u"national char varying" ||
        name == u"national character varying")
        return sized(BaseType::NVarChar, 4000);
    if (name == u"ntext" || name == u"national text")
        return noArgs(BaseType::NText);
    if (name == u"sysname")
        return noArgs(BaseType::SysName);
    if (name == u"binary")
        return sized(BaseType::Binary, 8000);
    if (name == u"varbinary" || name == u"binary varying")
        return sized(BaseType::VarBinary, 8000);
    if (name == u"image")
        return noArgs(BaseType::Image);
    if (name == u"uniqueidentifier")
        return noArgs(BaseType::UniqueIdentifier);
    if (name == u"xml")
        return noArgs(BaseType::Xml);
    if (name == u"timestamp" || name == u"rowversion")
        return TypeInfo::of(BaseType::Binary, 8);
    return unknown();
}

std::optional<TypeInfo> typeFromDecl(const QString& decl)
{
    static const QRegularExpression re(
        u"^\\s*([A-Za-z][A-Za-z0-9 ]*?)\\s*(?:\\(\\s*(-?[A-Za-z0-9]+)\\s*(?:,\\s*([0-9]+)\\s*)?\\))?\\s*$"_s);
    const auto m = re.match(decl);
    if (!m.hasMatch())
        return std::nullopt;
    try {
        QString name = m.captured(1);
        if (name.compare(u"integer"_s, Qt::CaseInsensitive) == 0)
            name = u"int"_s;
        const QString length = m.captured(2) == u"-1" ? u"max"_s : m.captured(2);
        return parseTypeName(name, length, m.captured(3), TypeContext::Declaration);
    } catch (const SqlError&) {
        return std::nullopt;
    }
}

// ---- dates

namespace {

thread_local QString t_dateFormat;

int digitsAt(const QString& s, qsizetype pos, int count)
{
    int v = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = s[pos + i];
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c.unicode() - u'0');
    }
    return v;
}

// The storage forms "yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss" and "yyyy-MM-dd" come
// back on every read: they are parsed without regular expressions.
std::optional<QDateTime> parseStorageForm(const QString& s)
{
    const qsizetype n = s.size();
    if ((n != 23 && n != 19 && n != 10) || s[4] != u'-' || s[7] != u'-')
        return std::nullopt;
    const int y = digitsAt(s, 0, 4), mo = digitsAt(s, 5, 2), d = digitsAt(s, 8, 2);
    if (y < 0 || mo < 0 || d < 0)
        return std::nullopt;
    int h = 0, mi = 0, sec = 0, ms = 0;
    if (n >= 19) {
        if ((s[10] != u' ' && s[10] != u'T') || s[13] != u':' || s[16] != u':')
            return std::nullopt;
        h = digitsAt(s, 11, 2);
        mi = digitsAt(s, 14, 2);
        sec = digitsAt(s, 17, 2);
        if (h < 0 || mi < 0 || sec < 0)
            return std::nullopt;
        if (n == 23) {
            if (s[19] != u'.')
                return std::nullopt;
            ms = digitsAt(s, 20, 3);
            if (ms < 0)
                return std::nullopt;
        }
    }
    const QDate date(y, mo, d);
    const QTime time(h, mi, sec, ms);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

// The time part: hh:mm[:ss[.fffffff]] [AM|PM], or a bare hh AM; empty is midnight. As 100 ns
// ticks; *fractionDigits gets the digits after "." (more than the types take are refused by the
// caller).
std::optional<qint64> parseTimeTicks(const QString& raw, int* fractionDigits = nullptr)
{
    if (fractionDigits)
        *fractionDigits = 0;
    const QString t = raw.trimmed();
    if (t.isEmpty())
        return 0;
    static const QRegularExpression re(
        u"^(\\d{1,2})(?::(\\d{1,2})(?::(\\d{1,2})(?:([.:])(\\d{1,9}))?)?)?\\s*([AaPp][Mm])?$"_s);
    const auto m = re.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    if (m.captured(2).isEmpty() && m.captured(6).isEmpty())
        return std::nullopt;
    int h = m.captured(1).toInt();
    const int mi = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    const int s = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    qint64 fraction = 0;
    if (!m.captured(5).isEmpty()) {
        // "." is a fraction; SQL Server reads hh:mm:ss:mmm as milliseconds too.
        const QString f = m.captured(5);
        if (m.captured(4) == u"."_s) {
            if (fractionDigits)
                *fractionDigits = int(f.size());
            fraction = (f + u"0000000"_s).left(7).toLongLong();
        } else {
            fraction = (f + u"000"_s).left(3).toLongLong() * 10'000;
        }
    }
    const QString ampm = m.captured(6).toUpper();
    if (!ampm.isEmpty()) {
        if (h < 1 || h > 12)
            return std::nullopt;
        if (ampm == u"AM" && h == 12)
            h = 0;
        else if (ampm == u"PM" && h != 12)
            h += 12;
    }
    if (h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    return ((h * 60LL + mi) * 60 + s) * ticksPerSecond + fraction;
}

// Two-digit years with the server's default cutoff of 2049.
// https://learn.microsoft.com/sql/database-engine/configure-windows/configure-the-two-digit-year-cutoff-server-configuration-option
int fullYear(const QString& y)
{
    const int v = y.toInt();
    return y.size() <= 2 ? v + (v < 50 ? 2000 : 1900) : v;
}

// "Dec 25 2014 10:00AM", "25 Dec 2014", "December 25, 2014": the month's name decides.
std::optional<Temporal> parseNamedMonth(const QString& text, bool* outOfRange, int* digits)
{
    static const QStringList months = {u"jan"_s, u"feb"_s, u"mar"_s, u"apr"_s, u"may"_s, u"jun"_s,
                                       u"jul"_s, u"aug"_s, u"sep"_s, u"oct"_s, u"nov"_s, u"dec"_s};
    static const QRegularExpression named1(
        u"^([A-Za-z]+)\\s+(\\d{1,2}),?\\s+(\\d{2,4})(?:\\s+(.*))?$"_s);
    static const QRegularExpression named2(
        u"^(\\d{1,2})\\s+([A-Za-z]+),?\\s+(\\d{2,4})(?:\\s+(.*))?$"_s);
    for (const auto* re : {&named1, &named2}) {
        const auto m = re->match(text);
        if (!m.hasMatch())
            continue;
        const bool first = re == &named1;
        const qsizetype month =
            months.indexOf((first ? m.captured(1) : m.captured(2)).left(3).toLower());
        const auto time = parseTimeTicks(m.captured(4), digits);
        if (month < 0 || !time)
            return std::nullopt;
        const QDate date(fullYear(m.captured(3)), int(month) + 1,
                         (first ? m.captured(2) : m.captured(1)).toInt());
        if (!date.isValid()) {
            *outOfRange = true;
            return std::nullopt;
        }
        Temporal v;
        v.date = date;
        v.ticks = *time;
        return v;
    }
    return std::nullopt;
}

} // namespace

void setThreadDateFormat(const QString& format)
{
    t_dateFormat = format;
}

QString threadDateFormat()
{
    return t_dateFormat.isEmpty() ? u"mdy"_s : t_dateFormat;
}

// The string literal formats of each type, and what SET DATEFORMAT changes in them:
// https://learn.microsoft.com/sql/t-sql/data-types/datetime-transact-sql#supported-string-literal-formats-for-datetime
// https://learn.microsoft.com/sql/t-sql/data-types/date-transact-sql#supported-string-literal-formats-for-date
// https://learn.microsoft.com/sql/t-sql/statements/set-dateformat-transact-sql
std::optional<Temporal> parseTemporalText(const QString& raw, BaseType target,
                                          const QString& dateFormat, bool* outOfRange)
{
    bool ignored = false;
    bool& range = outOfRange ? *outOfRange : ignored;
    range = false;
    QString text = raw.trimmed();
    const bool precise = isPreciseTemporal(target);
    // A time zone offset ends the text: +hh:mm or -hh:mm from -14:00 to +14:00, or Z after an
    // ISO 8601 time; the types without one ignore it, datetime and smalldatetime take none
    // (learn.microsoft.com "datetimeoffset (Transact-SQL)", supported string literal formats).
    int offset = 0;
    if (precise) {
        static const QRegularExpression zone(u"^(.*?)\\s*(?:([+-])(\\d{1,2}):(\\d{2})|(Z))$"_s);
        if (const auto m = zone.match(text); m.hasMatch() && m.captured(1).contains(u':')) {
            if (!m.captured(5).isEmpty() && !m.captured(1).contains(u'T'))
                return std::nullopt;
            const int hh = m.captured(3).toInt(), mm = m.captured(4).toInt();
            offset = (m.captured(2) == u"-"_s ? -1 : 1) * (hh * 60 + mm);
            if (mm > 59 || std::abs(offset) > 14 * 60)
                return std::nullopt;
            text = m.captured(1).trimmed();
        }
    }
    int digits = 0;
    // The fraction digits each type takes: seven for the precise types.
    const auto withOffset = [&](std::optional<Temporal> v) -> std::optional<Temporal> {
        if (!v || (precise && digits > 7))
            return std::nullopt;
        v->offset = offset;
        return v;
    };
    if (text.isEmpty()) {
        Temporal v;
        return withOffset(v);
    }
    auto make = [&](int y, int mo, int d, const QString& timeText) -> std::optional<Temporal> {
        const auto time = parseTimeTicks(timeText, &digits);
        if (!time)
            return std::nullopt;
        const QDate date(y, mo, d);
        if (!date.isValid()) {
            range = true;
            return std::nullopt;
        }
        Temporal v;
        v.date = date;
        v.ticks = *time;
        v.hasTime = !timeText.trimmed().isEmpty();
        return withOffset(v);
    };

    // ISO 8601 with its T, and unseparated yyyymmdd: the same under every DATEFORMAT.
    static const QRegularExpression isoT(u"^(\\d{4})-(\\d{1,2})-(\\d{1,2})T(.+)$"_s);
    if (const auto m = isoT.match(text); m.hasMatch())
        return make(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                    m.captured(4));
    static const QRegularExpression unseparated(u"^(\\d{4})(\\d{2})(\\d{2})(?:\\s+(.*))?$"_s);
    if (const auto m = unseparated.match(text); m.hasMatch())
        return make(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                    m.captured(4));

    // Numbers with / - . between them. A part of four digits is the year wherever it stands,
    // and month and day keep the order they have in the DATEFORMAT: "2024-02-05" is year, day,
    // month under dmy. With only one- and two-digit parts the DATEFORMAT names each of them.
    static const QRegularExpression numeric(
        u"^(\\d{1,4})([/.\\-])(\\d{1,4})\\2(\\d{1,4})(?:\\s+(.*))?$"_s);
    if (const auto m = numeric.match(text); m.hasMatch()) {
        static const QStringList orders = {u"mdy"_s, u"dmy"_s, u"ymd"_s,
                                           u"ydm"_s, u"myd"_s, u"dym"_s};
        const QString order =
            orders.contains(dateFormat.toLower()) ? dateFormat.toLower() : u"mdy"_s;
        const QStringList parts = {m.captured(1), m.captured(3), m.captured(4)};
        qsizetype yearAt = -1;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            if (parts[i].size() == 3)
                return std::nullopt; // years have two digits or four
            if (parts[i].size() == 4) {
                if (yearAt >= 0)
                    return std::nullopt;
                yearAt = i;
            }
        }
        if (yearAt < 0) {
            return make(fullYear(parts[order.indexOf(u'y')]), parts[order.indexOf(u'm')].toInt(),
                        parts[order.indexOf(u'd')].toInt(), m.captured(5));
        }
        bool dayFirst = order.indexOf(u'd') < order.indexOf(u'm');
        // date and datetime2 know no ydm: a year in front is followed by month and day.
        if (yearAt == 0 && target != BaseType::DateTime && target != BaseType::SmallDateTime)
            dayFirst = false;
        QStringList rest = parts;
        rest.removeAt(yearAt);
        return make(parts[yearAt].toInt(), rest[dayFirst ? 1 : 0].toInt(),
                    rest[dayFirst ? 0 : 1].toInt(), m.captured(5));
    }

    // Month names are read alike under every DATEFORMAT.
    if (const auto named = parseNamedMonth(text, &range, &digits))
        return withOffset(named);
    if (range)
        return std::nullopt;
    // A time alone is that time on 1900-01-01.
    if (const auto t = parseTimeTicks(text, &digits)) {
        Temporal v;
        v.ticks = *t;
        v.hasDate = false;
        return withOffset(v);
    }
    return std::nullopt;
}

std::optional<QDateTime> parseDateText(const QString& raw, BaseType target,
                                       const QString& dateFormat, bool* outOfRange)
{
    const auto v = parseTemporalText(raw, target, dateFormat, outOfRange);
    if (!v)
        return std::nullopt;
    return toDateTime(*v);
}

std::optional<QDateTime> parseDateTime(const QString& raw)
{
    if (const auto fast = parseStorageForm(raw))
        return fast;
    if (const auto stored = temporalFromStorage(raw))
        return toDateTime(*stored);
    return parseDateText(raw, BaseType::DateTime2, u"mdy"_s);
}

QString storageDateTime(const QDateTime& in, BaseType base)
{
    if (base == BaseType::Time || base == BaseType::DateTime2 || base == BaseType::DateTimeOffset)
        return temporalStorage(temporalOf(in), base);
    QDateTime dt(in.date(), in.time(), Qt::UTC);
    switch (base) {
    case BaseType::Date:
        return dt.date().toString(u"yyyy-MM-dd"_s);
    case BaseType::SmallDateTime: {
        // Rounded to the minute, as smalldatetime keeps it.
        const int secs = dt.time().second();
        dt = dt.addMSecs(-qint64(secs) * 1000 - dt.time().msec());
        if (secs >= 30)
            dt = dt.addSecs(60);
        return dt.toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s);
    }
    case BaseType::DateTime: {
        // datetime keeps 1/300 second: .000, .003, .007.
        const int ms = dt.time().msec();
        const qint64 ticks = std::llround(ms * 0.3);
        const qint64 rounded = std::llround(static_cast<double>(ticks) / 0.3);
        dt = dt.addMSecs(rounded - ms);
        return dt.toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s);
    }
    default:
        return dt.toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s);
    }
}

QString formatDateTimeStyle(const QDateTime& dt, int style, BaseType base)
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    static const char* const monthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QString mon = QString::fromLatin1(monthNames[d.month() - 1]);
    auto two = [](int v) {
        return u"%1"_s.arg(v, 2, 10, QChar(u'0'));
    };
    auto four = [](int v) {
        return u"%1"_s.arg(v, 4, 10, QChar(u'0'));
    };
    auto hm12 = [&]() {
        int h = t.hour() % 12;
        if (h == 0)
            h = 12;
        return u"%1:%2%3"_s.arg(h, 2, 10, QChar(u' '))
            .arg(two(t.minute()))
            .arg(t.hour() < 12 ? u"AM"_s : u"PM"_s);
    };
    const QString hms = two(t.hour()) + u':' + two(t.minute()) + u':' + two(t.second());
    const QString ms3 = u"%1"_s.arg(t.msec(), 3, 10, QChar(u'0'));
    const QString yy = two(d.year() % 100);
    const QString yyyy = four(d.year());
    const bool century =
        style >= 100 || style == 20 || style == 21 || style == 23 || style == 126 || style == 127;
    const QString y = century ? yyyy : yy;
    switch (style % 100) {
    case 1:
        return two(d.month()) + u'/' + two(d.day()) + u'/' + y;
    case 2:
        return y + u'.' + two(d.month()) + u'.' + two(d.day());
    case 3:
        return two(d.day()) + u'/' + two(d.month()) + u'/' + y;
    case 4:
        return two(d.day()) + u'.' + two(d.month()) + u'.' + y;
    case 5:
        return two(d.day()) + u'-' + two(d.month()) + u'-' + y;
    case 6:
        return two(d.day()) + u' ' + mon + u' ' + y;
    case 7:
        return mon + u' ' + two(d.day()) + u", "_s + y;
    case 8:
    case 24:
        return hms;
    case 10:
        return two(d.month()) + u'-' + two(d.day()) + u'-' + y;
    case 11:
        return y + u'/' + two(d.month()) + u'/' + two(d.day());
    case 12:
        return y + two(d.month()) + two(d.day());
    case 14:
        return hms + u'.' + ms3;
    case 20:
        return yyyy + u'-' + two(d.month()) + u'-' + two(d.day()) + u' ' + hms;
    case 21:
    case 25:
        return yyyy + u'-' + two(d.month()) + u'-' + two(d.day()) + u' ' + hms + u'.' + ms3;
    case 23:
        return yyyy + u'-' + two(d.month()) + u'-' + two(d.day());
    case 26:
    case 27:
        return yyyy + u'-' + two(d.month()) + u'-' + two(d.day()) + u'T' + hms +
               (t.msec() != 0 ? u'.' + ms3 : QString());
    case 9:
    case 13: {
        const QString day =
            style % 100 == 9 ? mon + u' ' + u"%1"_s.arg(d.day(), 2, 10, QChar(u' ')) + u' ' + yyyy
                             : two(d.day()) + u' ' + mon + u' ' + yyyy;
        int h = t.hour() % 12;
        if (h == 0)
            h = 12;
        return day + u' ' + u"%1"_s.arg(h, 2, 10, QChar(u' ')) + u':' + two(t.minute()) + u':' +
               two(t.second()) + u':' + ms3 + (t.hour() < 12 ? u"AM"_s : u"PM"_s);
    }
    default:
        break;
    }
    if (base == BaseType::Date)
        return yyyy + u'-' + two(d.month()) + u'-' + two(d.day());
    if (base == BaseType::DateTime2)
        return yyyy + u'-' + two(d.month()) + u'-' + two(d.day()) + u' ' + hms + u'.' + ms3 +
               u"0000"_s;
    // Style 0 / 100: "Dec 25 2014 10:00AM".
    return mon + u' ' + u"%1"_s.arg(d.day(), 2, 10, QChar(u' ')) + u' ' + yyyy + u' ' + hm12();
}

// ---- numbers

std::optional<QString> normalizeDecimal(const QString& raw, int precision, int scale,
                                        bool* overflow)
{
    if (overflow)
        *overflow = false;
    const QString text = raw.trimmed();
    // [+-]digits[.digits]
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    const qsizetype intStart = i;
    while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128)
        ++i;
    QString intPart = text.mid(intStart, i - intStart);
    QString frac;
    if (i < text.size() && text[i] == u'.') {
        const qsizetype fracStart = ++i;
        while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128)
            ++i;
        frac = text.mid(fracStart, i - fracStart);
    }
    if (i != text.size() || (intPart.isEmpty() && frac.isEmpty()))
        return std::nullopt;
    bool carry = false;
    if (frac.size() > scale) {
        carry = frac[scale] >= u'5';
        frac = frac.left(scale);
    } else {
        frac += QString(scale - frac.size(), u'0');
    }
    QString digits = intPart + frac;
    if (carry) {
        // Half away from zero.
        qsizetype k = digits.size() - 1;
        while (k >= 0) {
            if (digits[k] == u'9') {
                digits[k] = u'0';
                --k;
            } else {
                digits[k] = QChar(digits[k].unicode() + 1);
                break;
            }
        }
        if (k < 0)
            digits.prepend(u'1');
    }
    QString newInt = digits.left(digits.size() - scale);
    const QString newFrac = digits.right(scale);
    while (newInt.size() > 1 && newInt[0] == u'0')
        newInt.remove(0, 1);
    if (newInt.isEmpty())
        newInt = u"0"_s;
    const int intDigits = newInt == u"0" ? 0 : int(newInt.size());
    if (precision > 0 && intDigits > precision - scale) {
        if (overflow)
            *overflow = true;
        return std::nullopt;
    }
    QString out = newInt;
    if (scale > 0)
        out += u'.' + newFrac;
    const bool zero =
        std::none_of(out.begin(), out.end(), [](QChar c) { return c >= u'1' && c <= u'9'; });
    if (negative && !zero)
        out.prepend(u'-');
    return out;
}

QString formatFloat(double value)
{
    if (value == 0)
        return u"0"_s;
    QString s = QString::number(value, 'g', 6);
    // SQL Server writes three exponent digits: 1.23457e+006.
    const qsizetype e = s.indexOf(u'e');
    if (e >= 0) {
        const QChar sign = s[e + 1];
        QString digits = s.mid(e + 2);
        while (digits.size() < 3)
            digits.prepend(u'0');
        s = s.left(e + 1) + sign + digits;
    }
    return s;
}

QString valueToText(const Value& value)
{
    if (const auto* i = std::get_if<qint64>(&value))
        return QString::number(*i);
    if (const auto* d = std::get_if<double>(&value)) {
        QString s = QString::number(*d, 'g', 15);
        return s;
    }
    if (const auto* s = std::get_if<QString>(&value))
        return *s;
    if (const auto* b = std::get_if<QByteArray>(&value))
        return QString::fromLatin1(*b);
    if (const auto* dt = std::get_if<QDateTime>(&value))
        return storageDateTime(*dt, BaseType::DateTime2);
    return {};
}

// ---- conversion

namespace {

// xml takes text and binary and gives them back, explicitly only; nothing else converts either
// way, text and ntext included (learn.microsoft.com "CAST and CONVERT (Transact-SQL)",
// conversion chart; "xml (Transact-SQL)" limitations). A refused conversion is 529 in CAST,
// 206 where it would be implicit; an explicit-only one written implicitly is 257.
Value convertXml(const Value& value, const std::optional<TypeInfo>& source, const TypeInfo& target,
                 ConversionMode mode)
{
    const QString from = sourceName(value, source);
    const bool explicitCast = mode == ConversionMode::Cast;
    const auto refuse = [&]() -> Value {
        if (explicitCast)
            fail(529, u"Explicit conversion from data type %1 to %2 is not allowed."_s.arg(
                          from, target.baseName()));
        fail(206, u"Operand type clash: %1 is incompatible with %2"_s.arg(from, target.baseName()));
    };
    const bool sourceIsXml = source && source->base == BaseType::Xml;
    if (target.base == BaseType::Xml) {
        if (sourceIsXml)
            return valueToText(value);
        if (const auto* bytes = std::get_if<QByteArray>(&value)) {
            if (source && !source->isBinary())
                return refuse();
            return checkedXml(xmlTextOfBytes(*bytes), true);
        }
        const auto* text = std::get_if<QString>(&value);
        if (!text || (source && !source->isString()))
            return refuse();
        return checkedXml(*text, !source || source->isUnicode());
    }
    // From xml.
    const bool textTarget =
        target.isString() && target.base != BaseType::Text && target.base != BaseType::NText;
    const bool binaryTarget = target.base == BaseType::Binary || target.base == BaseType::VarBinary;
    if (!textTarget && !binaryTarget)
        return refuse();
    if (!explicitCast)
        fail(257, u"Implicit conversion from data type xml to %1 is not allowed. Use the CONVERT "
                  "function to run this query."_s.arg(target.baseName()));
    const QString text = valueToText(value);
    if (binaryTarget) {
        // Binary xml text is UTF-16 with its byte-order mark.
        QByteArray bytes("\xFF\xFE", 2);
        bytes += QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        return convertValue(bytes, TypeInfo::of(BaseType::VarBinary, ColumnType::max), target,
                            mode);
    }
    return convertValue(text, TypeInfo::of(BaseType::NVarChar, ColumnType::max), target, mode);
}

// A value converted to a date type: text of the string types as SQL Server reads a string (the
// session's DATEFORMAT or CONVERT's style), a value of a date type exactly (datetime's 1/300
// second included, as from compatibility level 130 on), then rounded to the target's precision.
// learn.microsoft.com "CAST and CONVERT (Transact-SQL)" (conversion chart; time and date do not
// convert to each other, numbers only to datetime and smalldatetime), "datetime2", "time",
// "datetimeoffset" (Converting date and time data).
Value convertTemporal(const Value& value, const std::optional<TypeInfo>& source,
                      const TypeInfo& target, ConversionMode mode, int style)
{
    const QString from = sourceName(value, source);
    const BaseType to = target.base;
    const bool precise = isPreciseTemporal(to);
    const auto refuse = [&](const QString& name) -> Value {
        if (mode == ConversionMode::Cast)
            fail(529, u"Explicit conversion from data type %1 to %2 is not allowed."_s.arg(
                          name, target.baseName()));
        fail(206, u"Operand type clash: %1 is incompatible with %2"_s.arg(name, target.baseName()));
    };
    const bool sourceIsDate = source && source->isDateTime();
    if (source && ((source->base == BaseType::Time && to == BaseType::Date) ||
                   (source->base == BaseType::Date && to == BaseType::Time)))
        return refuse(source->baseName());
    Temporal v;
    if (const auto* d = std::get_if<QDateTime>(&value)) {
        v = temporalOf(*d);
    } else if (const auto* i = std::get_if<qint64>(&value)) {
        if (precise)
            return refuse(from);
        v = temporalOf(baseDate().addDays(*i));
    } else if (const auto* f = std::get_if<double>(&value)) {
        if (precise)
            return refuse(from);
        v = temporalOf(baseDate().addMSecs(std::llround(*f * 86400000.0)));
    } else if (std::holds_alternative<QByteArray>(value)) {
        fail(529, u"Explicit conversion from data type varbinary to %1 is not allowed."_s.arg(
                      target.baseName()));
    } else {
        // Text of a date type, or of a type not known here, is a stored value; text of the
        // string types is read as SQL Server reads a string.
        const QString text = std::get<QString>(value);
        bool outOfRange = false;
        std::optional<Temporal> parsed;
        if (sourceIsDate || !source) {
            parsed = temporalFromStorage(text);
            if (!parsed)
                parsed = parseTemporalText(text, to, u"mdy"_s);
        } else {
            parsed = parseTemporalText(text, to, styleDateOrder(style), &outOfRange);
        }
        if (!parsed) {
            if (outOfRange && !precise)
                fail(242, u"The conversion of a %1 data type to a %2 data type resulted in an "
                          "out-of-range value."_s.arg(from, dateTypeName(to)));
            fail(241, u"Conversion failed when converting date and/or time from character "
                      "string."_s);
        }
        v = *parsed;
    }
    if (!v.hasDate)
        v.date = QDate(1900, 1, 1);
    if (to != BaseType::DateTimeOffset)
        v.offset = 0;
    if (to == BaseType::Date)
        v.ticks = 0;
    bool fits = true;
    if (to == BaseType::DateTime || to == BaseType::SmallDateTime)
        roundToDateTime(v, to);
    else if (to != BaseType::Date)
        fits = roundToScale(v, target.scale);
    if (!fits || !v.date.isValid() || !inRange(QDateTime(v.date, QTime(0, 0), Qt::UTC), to) ||
        (to == BaseType::SmallDateTime && v.date == QDate(2079, 6, 6) && v.ticks > 0))
        fail(242, u"The conversion of a %1 data type to a %2 data type resulted in an "
                  "out-of-range value."_s.arg(from, dateTypeName(to)));
    if (to == BaseType::Time)
        v.hasDate = false;
    return temporalStorage(v, to);
}

} // namespace

Value convertValue(const Value& value, const std::optional<TypeInfo>& source,
                   const TypeInfo& target, ConversionMode mode, int style)
{
    if (isNull(value))
        return {};
    const QString from = sourceName(value, source);
    if (target.base == BaseType::Xml || (source && source->base == BaseType::Xml))
        return convertXml(value, source, target, mode);
    const bool sourceIsDate =
        std::holds_alternative<QDateTime>(value) || (source && source->isDateTime());
    const bool sourceIsDecimal = source && source->isExactNumeric();
    // Of the date types only datetime and smalldatetime become numbers (conversion chart).
    if (source && isPreciseTemporal(source->base) && target.isNumeric())
        fail(mode == ConversionMode::Cast ? 529 : 206,
             mode == ConversionMode::Cast
                 ? u"Explicit conversion from data type %1 to %2 is not allowed."_s.arg(
                       source->baseName(), target.baseName())
                 : u"Operand type clash: %1 is incompatible with %2"_s.arg(source->baseName(),
                                                                           target.baseName()));

    auto dateOf = [&]() -> QDateTime {
        if (const auto* dt = std::get_if<QDateTime>(&value))
            return *dt;
        const auto parsed = parseDateTime(valueToText(value));
        return parsed ? *parsed : baseDate();
    };

    // Integers (and bit).
    if (target.isInteger()) {
        const IntRange range = intRange(target.base);
        qint64 v = 0;
        if (const auto* i = std::get_if<qint64>(&value)) {
            v = *i;
        } else if (const auto* d = std::get_if<double>(&value)) {
            if (target.base == BaseType::Bit)
                return qint64(*d != 0 ? 1 : 0);
            if (!std::isfinite(*d) || std::trunc(*d) < -9.2e18 || std::trunc(*d) > 9.2e18)
                fail(8115,
                     u"Arithmetic overflow error converting expression to data type %1."_s.arg(
                         target.baseName()));
            v = static_cast<qint64>(std::trunc(*d));
        } else if (const auto* b = std::get_if<QByteArray>(&value)) {
            v = bigEndianInt(*b);
        } else if (const auto* dt = std::get_if<QDateTime>(&value)) {
            v = baseDate().daysTo(QDateTime(dt->date(), QTime(0, 0), Qt::UTC));
        } else {
            const QString text = std::get<QString>(value);
            if (sourceIsDate) {
                v = baseDate().daysTo(dateOf());
            } else if (target.base == BaseType::Bit) {
                const QString t = text.trimmed();
                if (t.compare(u"true"_s, Qt::CaseInsensitive) == 0)
                    return qint64(1);
                if (t.compare(u"false"_s, Qt::CaseInsensitive) == 0)
                    return qint64(0);
                bool overflow = false;
                if (const auto parsed = parseIntegerText(t, &overflow))
                    return qint64(*parsed != 0 ? 1 : 0);
                if (const auto real = parseFloatText(t); real && source && source->isNumeric())
                    return qint64(*real != 0 ? 1 : 0);
                fail(245,
                     u"Conversion failed when converting the %1 value '%2' to data type bit."_s.arg(
                         from, quoteForMessage(text)));
            } else if (sourceIsDecimal || (source && source->isApproxNumeric())) {
                const auto real = parseFloatText(text);
                v = real ? static_cast<qint64>(std::trunc(*real)) : 0;
            } else {
                bool overflow = false;
                const auto parsed = parseIntegerText(text, &overflow);
                if (!parsed) {
                    if (overflow)
                        fail(248, u"The conversion of the %1 value '%2' overflowed an %3 column. "
                                  "Use a larger integer column."_s.arg(from, quoteForMessage(text),
                                                                       target.baseName()));
                    fail(245,
                         u"Conversion failed when converting the %1 value '%2' to data type %3."_s
                             .arg(from, quoteForMessage(text), target.baseName()));
                }
                v = *parsed;
            }
        }
        if (target.base == BaseType::Bit)
            return qint64(v != 0 ? 1 : 0);
        if (v < range.min || v > range.max)
            fail(8115, u"Arithmetic overflow error converting expression to data type %1."_s.arg(
                           target.baseName()));
        return v;
    }

    // Approximate numbers.
    if (target.isApproxNumeric()) {
        double d = 0;
        if (const auto* i = std::get_if<qint64>(&value)) {
            d = static_cast<double>(*i);
        } else if (const auto* f = std::get_if<double>(&value)) {
            d = *f;
        } else if (std::holds_alternative<QByteArray>(value)) {
            fail(529, u"Explicit conversion from data type varbinary to %1 is not allowed."_s.arg(
                          target.baseName()));
        } else if (sourceIsDate) {
            const QDateTime dt = dateOf();
            d = static_cast<double>(baseDate().msecsTo(dt)) / 86400000.0;
        } else {
            const auto parsed = parseFloatText(std::get<QString>(value));
            if (!parsed)
                fail(8114, u"Error converting data type %1 to %2."_s.arg(from, target.baseName()));
            d = *parsed;
        }
        if (target.base == BaseType::Real)
            d = static_cast<double>(static_cast<float>(d));
        return d;
    }

    // Exact numbers: canonical text at the target scale.
    if (target.isExactNumeric()) {
        const TypeInfo t = target.base == BaseType::Money ? TypeInfo::of(target.base, 0, 19, 4)
                           : target.base == BaseType::SmallMoney
                               ? TypeInfo::of(target.base, 0, 10, 4)
                               : target;
        QString text;
        if (const auto* i = std::get_if<qint64>(&value))
            text = QString::number(*i);
        else if (const auto* f = std::get_if<double>(&value))
            text = QString::number(*f, 'f', std::min(t.scale + 2, 17));
        else if (std::holds_alternative<QByteArray>(value))
            fail(8114, u"Error converting data type varbinary to numeric."_s);
        else if (sourceIsDate)
            fail(529, u"Explicit conversion from data type datetime to %1 is not allowed."_s.arg(
                          target.baseName()));
        else {
            text = std::get<QString>(value).trimmed();
            if (text.isEmpty() &&
                (target.base == BaseType::Money || target.base == BaseType::SmallMoney))
                text = u"0"_s;
            // Scientific notation arrives from float sources.
            if (text.contains(u'e', Qt::CaseInsensitive) && source && source->isApproxNumeric()) {
                const auto d = parseFloatText(text);
                if (d)
                    text = QString::number(*d, 'f', std::min(t.scale + 2, 17));
            }
        }
        bool overflow = false;
        const auto normalized = normalizeDecimal(text, t.precision, t.scale, &overflow);
        if (!normalized) {
            if (overflow)
                fail(8115, u"Arithmetic overflow error converting %1 to data type numeric."_s.arg(
                               std::holds_alternative<QString>(value) ? from : u"expression"_s));
            fail(8114, u"Error converting data type %1 to numeric."_s.arg(from));
        }
        return *normalized;
    }

    // Dates and times.
    if (target.isDateTime())
        return convertTemporal(value, source, target, mode, style);

    // Binary.
    if (target.isBinary()) {
        QByteArray bytes;
        if (const auto* b = std::get_if<QByteArray>(&value)) {
            bytes = *b;
        } else if (const auto* i = std::get_if<qint64>(&value)) {
            bytes = intBytes(*i, intSize(source, *i));
        } else if (std::holds_alternative<double>(value)) {
            fail(529, u"Explicit conversion from data type float to %1 is not allowed."_s.arg(
                          target.baseName()));
        } else if (const auto* s = std::get_if<QString>(&value)) {
            if (mode == ConversionMode::Column)
                fail(257, u"Implicit conversion from data type %1 to %2 is not allowed. Use the "
                          "CONVERT function to run this query."_s.arg(from, target.baseName()));
            if (source && source->base == BaseType::UniqueIdentifier) {
                const QUuid uuid(*s);
                const QByteArray rfc = uuid.toRfc4122();
                bytes = rfc;
                // GUIDs keep their first three groups little-endian.
                std::reverse(bytes.begin(), bytes.begin() + 4);
                std::reverse(bytes.begin() + 4, bytes.begin() + 6);
                std::reverse(bytes.begin() + 6, bytes.begin() + 8);
            } else if (style == 1 || style == 2) {
                QString hex = s->trimmed();
                if (style == 1 && hex.startsWith(u"0x"_s, Qt::CaseInsensitive))
                    hex = hex.mid(2);
                bytes = QByteArray::fromHex(hex.toLatin1());
            } else if (source && source->isUnicode()) {
                bytes = utf16Bytes(*s);
            } else {
                bytes = encodeCodePage(*s, serverCollation().codePage);
            }
        } else {
            fail(529, u"Explicit conversion from data type datetime to %1 is not allowed."_s.arg(
                          target.baseName()));
        }
        if (target.length != ColumnType::max && !target.isLob() && bytes.size() > target.length) {
            if (mode == ConversionMode::Column)
                fail(8152, u"String or binary data would be truncated."_s);
            bytes.truncate(target.length);
        }
        if (target.base == BaseType::Binary && bytes.size() < target.length)
            bytes.append(QByteArray(target.length - bytes.size(), '\0'));
        return bytes;
    }

    if (target.base == BaseType::UniqueIdentifier) {
        if (const auto* b = std::get_if<QByteArray>(&value)) {
            if (b->size() < 16)
                fail(8169, u"Conversion failed when converting from a character string to "
                           "uniqueidentifier."_s);
            return guidFromBytes(*b);
        }
        if (!std::holds_alternative<QString>(value))
            fail(529,
                 u"Explicit conversion from data type %1 to uniqueidentifier is not allowed."_s.arg(
                     from));
        const auto guid = parseGuid(std::get<QString>(value));
        if (!guid)
            fail(8169, u"Conversion failed when converting from a character string to "
                       "uniqueidentifier."_s);
        return *guid;
    }

    // Text.
    QString text;
    if (const auto* i = std::get_if<qint64>(&value)) {
        text = QString::number(*i);
        if (source && source->base == BaseType::Bit)
            text = *i != 0 ? u"1"_s : u"0"_s;
    } else if (const auto* f = std::get_if<double>(&value)) {
        text = sourceIsDecimal ? QString::number(*f, 'f', source->scale) : formatFloat(*f);
        if (source && source->base == BaseType::Money)
            text = QString::number(*f, 'f', style == 2 ? 4 : 2);
    } else if (const auto* b = std::get_if<QByteArray>(&value)) {
        if (style == 1 || style == 2)
            text = (style == 1 ? u"0x"_s : QString()) + QString::fromLatin1(b->toHex().toUpper());
        else if (target.isUnicode())
            text = fromUtf16Bytes(*b);
        else
            text = decodeCodePage(*b, serverCollation().codePage);
    } else if (const auto* dt = std::get_if<QDateTime>(&value)) {
        text = formatDateTimeStyle(*dt, style, source ? source->base : BaseType::DateTime);
    } else {
        text = std::get<QString>(value);
        if (sourceIsDate && isPreciseTemporal(source->base)) {
            if (const auto stored = temporalFromStorage(text))
                text = formatTemporal(*stored, *source, style);
        } else if (sourceIsDate) {
            if (const auto parsed = parseDateTime(text))
                text = formatDateTimeStyle(*parsed, style, source->base);
        } else if (sourceIsDecimal && source->base == BaseType::Money) {
            if (const auto n = normalizeDecimal(text, 0, style == 2 ? 4 : 2))
                text = *n;
        } else if (sourceIsDecimal) {
            if (const auto n = normalizeDecimal(text, 0, source->scale))
                text = *n;
        }
    }
    // Unicode text put into char, varchar or text keeps only what the code page holds, the
    // rest '?' ("Collation and Unicode support", "char and varchar").
    if (!target.isUnicode())
        text = throughServerCodePage(text);
    if (target.base == BaseType::SysName && text.size() > 128)
        text = text.left(128);
    if (target.length > 0 && !target.isLob() && text.size() > target.length) {
        const bool numeric = std::holds_alternative<qint64>(value) ||
                             std::holds_alternative<double>(value) ||
                             (source && source->isNumeric());
        if (mode == ConversionMode::Column) {
            // Trailing blanks beyond the length go silently, as with ANSI_PADDING.
            if (rtrimSpaces(text).size() > target.length)
                fail(8152, u"String or binary data would be truncated."_s);
            text = text.left(target.length);
        } else if (numeric && mode == ConversionMode::Cast) {
            text = u"*"_s;
        } else {
            text = text.left(target.length);
        }
    }
    if (target.base == BaseType::Char || target.base == BaseType::NChar)
        text = padRight(text, target.length);
    return text;
}

Value sqliteOperand(const Value& stored, const TypeInfo& type)
{
    const auto* text = std::get_if<QString>(&stored);
    if (!text || !type.isExactNumeric())
        return stored;
    int digits = 0;
    bool fraction = false;
    bool nonZeroFraction = false;
    for (const QChar c : *text) {
        if (c.isDigit())
            ++digits;
        if (c == u'.')
            fraction = true;
        else if (fraction && c != u'0')
            nonZeroFraction = true;
    }
    if (digits > 15)
        return stored;
    if (!nonZeroFraction) {
        bool ok = false;
        const qint64 i = text->section(u'.', 0, 0).toLongLong(&ok);
        if (ok)
            return i;
    }
    bool ok = false;
    const double d = text->toDouble(&ok);
    return ok ? Value(d) : stored;
}

Value wireValue(const Value& stored, const TypeInfo& type)
{
    if (isNull(stored))
        return {};
    try {
        if (type.isInteger()) {
            if (const auto* i = std::get_if<qint64>(&stored))
                return type.base == BaseType::Bit ? qint64(*i != 0) : *i;
            return convertValue(stored, std::nullopt, TypeInfo::of(BaseType::BigInt),
                                ConversionMode::Cast);
        }
        if (type.isApproxNumeric()) {
            if (const auto* i = std::get_if<qint64>(&stored))
                return static_cast<double>(*i);
            if (std::holds_alternative<double>(stored))
                return stored;
            return convertValue(stored, std::nullopt, TypeInfo::of(BaseType::Float),
                                ConversionMode::Cast);
        }
        if (type.isExactNumeric()) {
            const TypeInfo t = type.base == BaseType::Money ? TypeInfo::of(type.base, 0, 19, 4)
                               : type.base == BaseType::SmallMoney
                                   ? TypeInfo::of(type.base, 0, 10, 4)
                                   : type;
            if (const auto* d = std::get_if<double>(&stored)) {
                QString text = QString::number(*d, 'f', t.scale);
                if (text.startsWith(u'-') && std::none_of(text.begin(), text.end(), [](QChar c) {
                        return c >= u'1' && c <= u'9';
                    }))
                    text.remove(0, 1);
                return text;
            }
            if (const auto* i = std::get_if<qint64>(&stored)) {
                QString text = QString::number(*i);
                if (t.scale > 0)
                    text += u'.' + QString(t.scale, u'0');
                return text;
            }
            const QString text = valueToText(stored);
            if (const auto n = normalizeDecimal(text, 0, t.scale))
                return *n;
            return text;
        }
        if (isPreciseTemporal(type.base)) {
            std::optional<Temporal> v;
            if (const auto* dt = std::get_if<QDateTime>(&stored))
                v = temporalOf(*dt);
            else if (const auto* s = std::get_if<QString>(&stored))
                v = temporalFromStorage(*s);
            if (!v)
                return stored;
            if (type.base != BaseType::Date && !roundToScale(*v, type.scale))
                return stored;
            return temporalStorage(*v, type.base);
        }
        if (type.isDateTime()) {
            if (std::holds_alternative<QDateTime>(stored))
                return stored;
            if (const auto* s = std::get_if<QString>(&stored)) {
                if (const auto dt = parseDateTime(*s))
                    return *dt;
            }
            return stored;
        }
        if (type.isBinary()) {
            QByteArray b;
            if (const auto* bytes = std::get_if<QByteArray>(&stored))
                b = *bytes;
            else if (const auto* s = std::get_if<QString>(&stored))
                b = s->toUtf8();
            else if (const auto* i = std::get_if<qint64>(&stored))
                b = intBytes(*i, intSize(std::nullopt, *i));
            if (type.base == BaseType::Binary && b.size() < type.length)
                b.append(QByteArray(type.length - b.size(), '\0'));
            return b;
        }
        if (type.base == BaseType::UniqueIdentifier)
            return valueToText(stored).toUpper();
        // Text: char(n) comes back padded.
        QString text;
        if (const auto* d = std::get_if<double>(&stored))
            text = formatFloat(*d);
        else if (const auto* b = std::get_if<QByteArray>(&stored))
            text = type.isUnicode() ? QString::fromUtf8(*b) : QString::fromLatin1(*b);
        else
            text = valueToText(stored);
        if (type.base == BaseType::Char || type.base == BaseType::NChar)
            text = padRight(text, type.length);
        return text;
    } catch (const SqlError&) {
        return stored;
    }
}

} // namespace sqlsim
