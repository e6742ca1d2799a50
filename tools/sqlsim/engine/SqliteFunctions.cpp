#include "SqliteFunctions.h"

#include "Collation.h"
#include "Temporal.h"

#include <QRandomGenerator>
#include <QTimeZone>
#include <QUuid>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_map>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

// Results bigger than this are refused rather than built (REPLICATE('x', 2000000000)).
constexpr qsizetype maxResultChars = 64 * 1024 * 1024;

FunctionHost* hostOf(sqlite3_context* ctx)
{
    return static_cast<FunctionHost*>(sqlite3_user_data(ctx));
}

void resultError(sqlite3_context* ctx, const Message& m)
{
    const QByteArray e = encodeError(m);
    sqlite3_result_error(ctx, e.constData(), int(e.size()));
}

void resultError(sqlite3_context* ctx, int number, const QString& text)
{
    Message m;
    m.number = number;
    m.text = text;
    resultError(ctx, m);
}

void resultValue(sqlite3_context* ctx, const Value& v)
{
    if (const auto* i = std::get_if<qint64>(&v)) {
        sqlite3_result_int64(ctx, *i);
    } else if (const auto* d = std::get_if<double>(&v)) {
        sqlite3_result_double(ctx, *d);
    } else if (const auto* s = std::get_if<QString>(&v)) {
        const QByteArray u = s->toUtf8();
        sqlite3_result_text64(ctx, u.constData(), sqlite3_uint64(u.size()), SQLITE_TRANSIENT,
                              SQLITE_UTF8);
    } else if (const auto* b = std::get_if<QByteArray>(&v)) {
        sqlite3_result_blob64(ctx, b->constData(), sqlite3_uint64(b->size()), SQLITE_TRANSIENT);
    } else if (const auto* dt = std::get_if<QDateTime>(&v)) {
        const QByteArray u = storageDateTime(*dt, BaseType::DateTime2).toUtf8();
        sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
    } else {
        sqlite3_result_null(ctx);
    }
}

QString textArg(sqlite3_value* v)
{
    if (sqlite3_value_type(v) == SQLITE_BLOB) {
        const auto* p = static_cast<const char*>(sqlite3_value_blob(v));
        return QString::fromLatin1(p, sqlite3_value_bytes(v));
    }
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return p ? QString::fromUtf8(p, sqlite3_value_bytes(v)) : QString();
}

bool isNullArg(sqlite3_value* v)
{
    return sqlite3_value_type(v) == SQLITE_NULL;
}

// The TypeInfo of a declaration argument ('varchar(50)'). Cached per thread by its text:
// SQLite's auxiliary data is a list searched linearly, far too slow for an INSERT of a
// thousand rows with a conversion per value.
const TypeInfo* typeArg(sqlite3_context*, sqlite3_value** argv, int index)
{
    if (isNullArg(argv[index]))
        return nullptr;
    thread_local std::unordered_map<std::string, std::optional<TypeInfo>> cache;
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[index]));
    if (!text)
        return nullptr;
    const std::string key(text, size_t(sqlite3_value_bytes(argv[index])));
    auto it = cache.find(key);
    if (it == cache.end()) {
        if (cache.size() > 4096)
            cache.clear();
        it = cache.emplace(key, typeFromDecl(QString::fromStdString(key))).first;
    }
    return it->second ? &*it->second : nullptr;
}

std::optional<qint64> intArg(sqlite3_value* v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return sqlite3_value_int64(v);
    case SQLITE_FLOAT:
        return static_cast<qint64>(sqlite3_value_double(v));
    case SQLITE_NULL:
        return std::nullopt;
    default: {
        bool ok = false;
        const qint64 i = textArg(v).trimmed().toLongLong(&ok);
        if (ok)
            return i;
        const double d = textArg(v).trimmed().toDouble(&ok);
        return ok ? std::optional<qint64>(static_cast<qint64>(d)) : std::nullopt;
    }
    }
}

std::optional<QDateTime> dateArg(sqlite3_value* v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        return std::nullopt;
    case SQLITE_INTEGER:
        return QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC).addDays(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC)
            .addMSecs(std::llround(sqlite3_value_double(v) * 86400000.0));
    default:
        // Text of the string types has been converted to a date type by the translator.
        return parseDateTime(textArg(v));
    }
}

QString rtrimmed(const QString& s)
{
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == u' ')
        --n;
    return s.left(n);
}

// ---- arithmetic

void fnAdd(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    sqlite3_value* a = argv[0];
    sqlite3_value* b = argv[1];
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    if (ta == SQLITE_NULL || tb == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const bool texty = ta == SQLITE_TEXT || ta == SQLITE_BLOB;
    const bool textyB = tb == SQLITE_TEXT || tb == SQLITE_BLOB;
    if (ta == SQLITE_BLOB && tb == SQLITE_BLOB) {
        QByteArray r(static_cast<const char*>(sqlite3_value_blob(a)), sqlite3_value_bytes(a));
        r.append(static_cast<const char*>(sqlite3_value_blob(b)), sqlite3_value_bytes(b));
        sqlite3_result_blob64(ctx, r.constData(), sqlite3_uint64(r.size()), SQLITE_TRANSIENT);
        return;
    }
    if (texty && textyB) {
        const QString r = textArg(a) + textArg(b);
        resultValue(ctx, r);
        return;
    }
    try {
        // A string meets a number: the string converts to the number's type.
        auto numberOf = [&](sqlite3_value* v, int other) -> Value {
            const int t = sqlite3_value_type(v);
            if (t == SQLITE_INTEGER)
                return sqlite3_value_int64(v);
            if (t == SQLITE_FLOAT)
                return sqlite3_value_double(v);
            const Value text = textArg(v);
            return convertValue(
                text, TypeInfo::of(BaseType::VarChar, 8000),
                TypeInfo::of(other == SQLITE_FLOAT ? BaseType::Float : BaseType::BigInt),
                ConversionMode::Cast);
        };
        const Value va = numberOf(a, tb);
        const Value vb = numberOf(b, ta);
        if (std::holds_alternative<qint64>(va) && std::holds_alternative<qint64>(vb)) {
            qint64 r = 0;
            if (__builtin_add_overflow(std::get<qint64>(va), std::get<qint64>(vb), &r)) {
                resultError(
                    ctx, 8115,
                    u"Arithmetic overflow error converting expression to data type bigint."_s);
                return;
            }
            sqlite3_result_int64(ctx, r);
            return;
        }
        auto toD = [](const Value& v) {
            return std::holds_alternative<qint64>(v) ? static_cast<double>(std::get<qint64>(v))
                                                     : std::get<double>(v);
        };
        sqlite3_result_double(ctx, toD(va) + toD(vb));
    } catch (const SqlError& e) {
        resultError(ctx, e.message);
    }
}

void divMod(sqlite3_context* ctx, sqlite3_value** argv, bool mod)
{
    sqlite3_value* a = argv[0];
    sqlite3_value* b = argv[1];
    if (isNullArg(a) || isNullArg(b)) {
        sqlite3_result_null(ctx);
        return;
    }
    auto num = [](sqlite3_value* v) -> std::variant<qint64, double> {
        const int t = sqlite3_value_type(v);
        if (t == SQLITE_INTEGER)
            return sqlite3_value_int64(v);
        if (t == SQLITE_FLOAT)
            return sqlite3_value_double(v);
        bool ok = false;
        const QString s = textArg(v).trimmed();
        const qint64 i = s.toLongLong(&ok);
        if (ok)
            return i;
        return s.toDouble();
    };
    const auto x = num(a), y = num(b);
    const bool yZero =
        std::holds_alternative<qint64>(y) ? std::get<qint64>(y) == 0 : std::get<double>(y) == 0.0;
    if (yZero) {
        resultError(ctx, 8134, u"Divide by zero error encountered."_s);
        return;
    }
    if (std::holds_alternative<qint64>(x) && std::holds_alternative<qint64>(y)) {
        const qint64 xi = std::get<qint64>(x), yi = std::get<qint64>(y);
        if (xi == std::numeric_limits<qint64>::min() && yi == -1) {
            if (mod)
                sqlite3_result_int64(ctx, 0);
            else
                resultError(
                    ctx, 8115,
                    u"Arithmetic overflow error converting expression to data type bigint."_s);
            return;
        }
        sqlite3_result_int64(ctx, mod ? xi % yi : xi / yi);
        return;
    }
    auto d = [](const std::variant<qint64, double>& v) {
        return std::holds_alternative<qint64>(v) ? static_cast<double>(std::get<qint64>(v))
                                                 : std::get<double>(v);
    };
    sqlite3_result_double(ctx, mod ? std::fmod(d(x), d(y)) : d(x) / d(y));
}

void fnDiv(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    divMod(ctx, argv, false);
}

void fnMod(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    divMod(ctx, argv, true);
}

// ---- conversion

// tsql_cast(value, 'target', style, 'source' | NULL, try)
void fnCast(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const TypeInfo* target = typeArg(ctx, argv, 1);
    if (!target) {
        resultError(ctx, 243, u"Type %1 is not a defined system type."_s.arg(textArg(argv[1])));
        return;
    }
    const TypeInfo* source = typeArg(ctx, argv, 3);
    const int style = int(sqlite3_value_int(argv[2]));
    const bool tryCast = sqlite3_value_int(argv[4]) != 0;
    try {
        Value in = valueOf(argv[0]);
        // A value of a date type is in the storage form. Text of a string type is read by
        // convertValue under the session's DATEFORMAT; text of a type not known is taken as
        // stored.
        // Into a date type convertValue reads every stored form itself, to the 100 ns.
        if (source && source->isDateTime() && !isPreciseTemporal(source->base) &&
            !target->isDateTime()) {
            if (const auto* s = std::get_if<QString>(&in)) {
                if (const auto dt = parseDateTime(*s))
                    in = *dt;
            }
        }
        resultValue(ctx, convertValue(in, source ? std::optional<TypeInfo>(*source) : std::nullopt,
                                      *target, ConversionMode::Cast, style));
    } catch (const SqlError& e) {
        if (tryCast)
            sqlite3_result_null(ctx);
        else
            resultError(ctx, e.message);
    }
}

// tsql_conv(value, 'target', 'column', 'table'): the implicit conversion into a column.
void fnConv(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const TypeInfo* target = typeArg(ctx, argv, 1);
    if (!target || isNullArg(argv[0])) {
        sqlite3_result_value(ctx, argv[0]);
        return;
    }
    // The common cases need no work.
    const int t = sqlite3_value_type(argv[0]);
    if ((t == SQLITE_INTEGER && target->base == BaseType::BigInt) ||
        (t == SQLITE_FLOAT && target->base == BaseType::Float) ||
        (t == SQLITE_BLOB && target->isLob() && target->isBinary())) {
        sqlite3_result_value(ctx, argv[0]);
        return;
    }
    try {
        Value in = valueOf(argv[0]);
        // Text of the string types reaches a date column through tsql_cast, which reads it
        // under the session's DATEFORMAT: what arrives here is in a storage form, which
        // convertValue reads without a source type.
        resultValue(ctx, convertValue(in, std::nullopt, *target, ConversionMode::Column));
    } catch (const SqlError& e) {
        resultError(ctx, e.message);
    }
}

// ---- dates

void fnGetDate(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const bool utc = sqlite3_value_int(argv[0]) != 0;
    const QDateTime now = utc ? QDateTime::currentDateTimeUtc() : QDateTime::currentDateTime();
    resultValue(ctx, storageDateTime(now, BaseType::DateTime));
}

// tsql_sysdatetime(0 local datetime2, 1 UTC datetime2, 2 local datetimeoffset)
void fnSysDateTime(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const int kind = sqlite3_value_int(argv[0]);
    const QDateTime now = kind == 1   ? QDateTime::currentDateTimeUtc()
                          : kind == 2 ? QDateTime::currentDateTime().toOffsetFromUtc(
                                            QDateTime::currentDateTime().offsetFromUtc())
                                      : QDateTime::currentDateTime();
    resultValue(ctx,
                storageDateTime(now, kind == 2 ? BaseType::DateTimeOffset : BaseType::DateTime2));
}

QString canonicalPart(const QString& raw)
{
    const QString p = raw.trimmed().toLower();
    if (p == u"yy" || p == u"yyyy" || p == u"year")
        return u"year"_s;
    if (p == u"qq" || p == u"q" || p == u"quarter")
        return u"quarter"_s;
    if (p == u"mm" || p == u"m" || p == u"month")
        return u"month"_s;
    if (p == u"dy" || p == u"y" || p == u"dayofyear")
        return u"dayofyear"_s;
    if (p == u"dd" || p == u"d" || p == u"day")
        return u"day"_s;
    if (p == u"wk" || p == u"ww" || p == u"week")
        return u"week"_s;
    if (p == u"dw" || p == u"w" || p == u"weekday")
        return u"weekday"_s;
    if (p == u"hh" || p == u"hour")
        return u"hour"_s;
    if (p == u"mi" || p == u"n" || p == u"minute")
        return u"minute"_s;
    if (p == u"ss" || p == u"s" || p == u"second")
        return u"second"_s;
    if (p == u"ms" || p == u"millisecond")
        return u"millisecond"_s;
    if (p == u"mcs" || p == u"microsecond")
        return u"microsecond"_s;
    if (p == u"ns" || p == u"nanosecond")
        return u"nanosecond"_s;
    return {};
}

qint64 datePart(const QString& part, const QDateTime& dt)
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    if (part == u"year")
        return d.year();
    if (part == u"quarter")
        return (d.month() - 1) / 3 + 1;
    if (part == u"month")
        return d.month();
    if (part == u"dayofyear")
        return d.dayOfYear();
    if (part == u"day")
        return d.day();
    if (part == u"weekday")
        return d.dayOfWeek() % 7 + 1; // Sunday = 1
    if (part == u"week") {
        const QDate jan1(d.year(), 1, 1);
        const int offset = jan1.dayOfWeek() % 7; // days before the first Sunday-started week
        return (d.dayOfYear() - 1 + offset) / 7 + 1;
    }
    if (part == u"hour")
        return t.hour();
    if (part == u"minute")
        return t.minute();
    if (part == u"second")
        return t.second();
    return t.msec();
}

void fnDatePart(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const QString part = canonicalPart(textArg(argv[0]));
    if (part.isEmpty()) {
        resultError(ctx, 155, u"'%1' is not a recognized datepart option."_s.arg(textArg(argv[0])));
        return;
    }
    if (isNullArg(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto dt = dateArg(argv[1]);
    if (!dt) {
        resultError(ctx, 241,
                    u"Conversion failed when converting date and/or time from character string."_s);
        return;
    }
    // The fraction of a second to the 100 ns the precise types keep.
    const TypeInfo* source = typeArg(ctx, argv, 2);
    if (part == u"microsecond" || part == u"nanosecond" ||
        (part == u"millisecond" && source && isPreciseTemporal(source->base))) {
        const auto v = sqlite3_value_type(argv[1]) == SQLITE_TEXT
                           ? temporalFromStorage(textArg(argv[1]))
                           : std::nullopt;
        const qint64 within = v ? v->ticks % ticksPerSecond : qint64(dt->time().msec()) * 10'000;
        sqlite3_result_int64(ctx, part == u"millisecond"   ? within / 10'000
                                  : part == u"microsecond" ? within / 10
                                                           : within * 100);
        return;
    }
    sqlite3_result_int64(ctx, datePart(part, *dt));
}

// DATEADD on date, time, datetime2 and datetimeoffset: to the 100 ns, the result in the
// argument's type; a part the type lacks is refused (9810) and leaving 0001..9999 overflows
// (517) (learn.microsoft.com "DATEADD (Transact-SQL)", return types and arguments).
void dateAddPrecise(sqlite3_context* ctx, const QString& part, const QString& partText,
                    double amount, const QString& text, const TypeInfo& type)
{
    std::optional<Temporal> v = temporalFromStorage(text);
    if (!v) {
        resultError(ctx, 241,
                    u"Conversion failed when converting date and/or time from character string."_s);
        return;
    }
    const bool datePartName = part == u"year" || part == u"quarter" || part == u"month" ||
                              part == u"dayofyear" || part == u"day" || part == u"week";
    if ((type.base == BaseType::Time && datePartName) ||
        (type.base == BaseType::Date && !datePartName)) {
        resultError(
            ctx, 9810,
            u"The datepart %1 is not supported by date function dateadd for data type %2."_s.arg(
                partText.trimmed().toLower(), type.baseName()));
        return;
    }
    const qint64 n = static_cast<qint64>(std::trunc(amount));
    const QDate before = v->date;
    if (part == u"year")
        v->date = v->date.addYears(int(n));
    else if (part == u"quarter")
        v->date = v->date.addMonths(int(n * 3));
    else if (part == u"month")
        v->date = v->date.addMonths(int(n));
    else if (part == u"day" || part == u"dayofyear")
        v->date = v->date.addDays(n);
    else if (part == u"week")
        v->date = v->date.addDays(n * 7);
    else {
        const qint64 unit = part == u"hour"          ? 3600 * ticksPerSecond
                            : part == u"minute"      ? 60 * ticksPerSecond
                            : part == u"second"      ? ticksPerSecond
                            : part == u"millisecond" ? 10'000
                            : part == u"microsecond" ? 10
                                                     : 0;
        qint64 ticks = v->ticks + (unit != 0 ? n * unit : n / 100);
        qint64 days = ticks / ticksPerDay;
        ticks %= ticksPerDay;
        if (ticks < 0) {
            ticks += ticksPerDay;
            --days;
        }
        v->ticks = ticks;
        if (v->hasDate)
            v->date = v->date.addDays(days);
    }
    if (v->hasDate && (!v->date.isValid() || v->date.year() < 1 || v->date.year() > 9999 ||
                       (n > 0 && v->date < before) || (n < 0 && v->date > before))) {
        resultError(ctx, 517,
                    u"Adding a value to a '%1' column caused an overflow."_s.arg(type.baseName()));
        return;
    }
    if (type.base != BaseType::Date && !roundToScale(*v, type.scale)) {
        resultError(ctx, 517,
                    u"Adding a value to a '%1' column caused an overflow."_s.arg(type.baseName()));
        return;
    }
    resultValue(ctx, temporalStorage(*v, type.base));
}

void fnDateName(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const QString part = canonicalPart(textArg(argv[0]));
    if (part.isEmpty()) {
        resultError(ctx, 155, u"'%1' is not a recognized datepart option."_s.arg(textArg(argv[0])));
        return;
    }
    if (isNullArg(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto dt = dateArg(argv[1]);
    if (!dt) {
        resultError(ctx, 241,
                    u"Conversion failed when converting date and/or time from character string."_s);
        return;
    }
    static const char* const months[] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
    static const char* const days[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                       "Friday", "Saturday", "Sunday"};
    if (part == u"month")
        resultValue(ctx, QString::fromLatin1(months[dt->date().month() - 1]));
    else if (part == u"weekday")
        resultValue(ctx, QString::fromLatin1(days[dt->date().dayOfWeek() - 1]));
    else
        resultValue(ctx, QString::number(datePart(part, *dt)));
}

void fnDateAdd(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const QString part = canonicalPart(textArg(argv[0]));
    if (part.isEmpty() || part == u"weekday") {
        resultError(ctx, 155, u"'%1' is not a recognized dateadd option."_s.arg(textArg(argv[0])));
        return;
    }
    if (isNullArg(argv[1]) || isNullArg(argv[2])) {
        sqlite3_result_null(ctx);
        return;
    }
    if (const TypeInfo* type = typeArg(ctx, argv, 3);
        type && isPreciseTemporal(type->base) && sqlite3_value_type(argv[2]) == SQLITE_TEXT) {
        dateAddPrecise(ctx, part, textArg(argv[0]), sqlite3_value_double(argv[1]), textArg(argv[2]),
                       *type);
        return;
    }
    const auto dt = dateArg(argv[2]);
    if (!dt) {
        resultError(ctx, 241,
                    u"Conversion failed when converting date and/or time from character string."_s);
        return;
    }
    const double amount = sqlite3_value_double(argv[1]);
    const qint64 n = static_cast<qint64>(std::trunc(amount));
    QDateTime r = *dt;
    if (part == u"year")
        r = r.addYears(int(n));
    else if (part == u"quarter")
        r = r.addMonths(int(n * 3));
    else if (part == u"month")
        r = r.addMonths(int(n));
    else if (part == u"day" || part == u"dayofyear")
        r = r.addDays(n);
    else if (part == u"week")
        r = r.addDays(n * 7);
    else if (part == u"hour")
        r = r.addSecs(n * 3600);
    else if (part == u"minute")
        r = r.addSecs(n * 60);
    else if (part == u"second")
        r = r.addSecs(n);
    else
        r = r.addMSecs(std::llround(amount));
    const TypeInfo* source = typeArg(ctx, argv, 3);
    const BaseType base = source && source->isDateTime() ? source->base : BaseType::DateTime;
    if (!r.isValid() || r.date().year() < 1753 || r.date().year() > 9999) {
        resultError(ctx, 517, u"Adding a value to a 'datetime' column caused an overflow."_s);
        return;
    }
    resultValue(ctx, storageDateTime(r, base));
}

void fnDateDiff(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const QString part = canonicalPart(textArg(argv[0]));
    if (part.isEmpty()) {
        resultError(ctx, 155, u"'%1' is not a recognized datediff option."_s.arg(textArg(argv[0])));
        return;
    }
    if (isNullArg(argv[1]) || isNullArg(argv[2])) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto a = dateArg(argv[1]);
    const auto b = dateArg(argv[2]);
    if (!a || !b) {
        resultError(ctx, 241,
                    u"Conversion failed when converting date and/or time from character string."_s);
        return;
    }
    const QDate da = a->date(), db = b->date();
    qint64 r = 0;
    auto trunc = [](const QDateTime& d, qint64 unitMs) {
        const qint64 ms = QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC).msecsTo(d);
        return ms >= 0 ? ms / unitMs : -((-ms + unitMs - 1) / unitMs);
    };
    if (part == u"year")
        r = db.year() - da.year();
    else if (part == u"quarter")
        r = (db.year() * 4 + (db.month() - 1) / 3) - (da.year() * 4 + (da.month() - 1) / 3);
    else if (part == u"month")
        r = (db.year() * 12 + db.month()) - (da.year() * 12 + da.month());
    else if (part == u"day" || part == u"dayofyear" || part == u"weekday")
        r = da.daysTo(db);
    else if (part == u"week") {
        // Sunday starts a week.
        auto weekIndex = [](const QDate& d) {
            const qint64 days = QDate(1900, 1, 7).daysTo(d); // 1900-01-07 was a Sunday
            return days >= 0 ? days / 7 : -((-days + 6) / 7);
        };
        r = weekIndex(db) - weekIndex(da);
    } else if (part == u"hour")
        r = trunc(*b, 3600000) - trunc(*a, 3600000);
    else if (part == u"minute")
        r = trunc(*b, 60000) - trunc(*a, 60000);
    else if (part == u"second")
        r = trunc(*b, 1000) - trunc(*a, 1000);
    else
        r = a->msecsTo(*b);
    sqlite3_result_int64(ctx, r);
}

void fnIsDate(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (isNullArg(argv[0]) || sqlite3_value_type(argv[0]) != SQLITE_TEXT) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    // As the text would convert to datetime under the session's DATEFORMAT.
    // https://learn.microsoft.com/sql/t-sql/functions/isdate-transact-sql
    const QString s = textArg(argv[0]);
    const auto dt = s.trimmed().isEmpty()
                        ? std::nullopt
                        : parseDateText(s, BaseType::DateTime, threadDateFormat());
    sqlite3_result_int(ctx, dt && dt->date().year() >= 1753 ? 1 : 0);
}

// ---- strings

void fnLen(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const int t = sqlite3_value_type(argv[0]);
    if (t == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    if (t == SQLITE_BLOB) {
        sqlite3_result_int64(ctx, sqlite3_value_bytes(argv[0]));
        return;
    }
    sqlite3_result_int64(ctx, rtrimmed(textArg(argv[0])).size());
}

void fnDataLength(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const int t = sqlite3_value_type(argv[0]);
    switch (t) {
    case SQLITE_NULL:
        sqlite3_result_null(ctx);
        return;
    case SQLITE_BLOB:
        sqlite3_result_int64(ctx, sqlite3_value_bytes(argv[0]));
        return;
    case SQLITE_INTEGER: {
        const qint64 v = sqlite3_value_int64(argv[0]);
        sqlite3_result_int64(ctx, v >= std::numeric_limits<qint32>::min() &&
                                          v <= std::numeric_limits<qint32>::max()
                                      ? 4
                                      : 8);
        return;
    }
    case SQLITE_FLOAT:
        sqlite3_result_int64(ctx, 8);
        return;
    default: {
        const qint64 chars = textArg(argv[0]).size();
        sqlite3_result_int64(ctx, sqlite3_value_int(argv[1]) != 0 ? chars * 2 : chars);
    }
    }
}

template <typename F> void stringFunction(sqlite3_context* ctx, sqlite3_value* v, F f)
{
    if (isNullArg(v)) {
        sqlite3_result_null(ctx);
        return;
    }
    resultValue(ctx, f(textArg(v)));
}

void fnUpper(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    stringFunction(ctx, argv[0], [](const QString& s) { return s.toUpper(); });
}

void fnLower(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    stringFunction(ctx, argv[0], [](const QString& s) { return s.toLower(); });
}

void fnReverse(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    stringFunction(ctx, argv[0], [](const QString& s) {
        QString r = s;
        std::reverse(r.begin(), r.end());
        return r;
    });
}

void fnAscii(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (isNullArg(argv[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString s = textArg(argv[0]);
    if (s.isEmpty()) {
        sqlite3_result_null(ctx);
        return;
    }
    const QByteArray l = s.left(1).toLatin1();
    sqlite3_result_int(ctx, static_cast<quint8>(l.isEmpty() ? '?' : l[0]));
}

void fnChar(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const auto n = intArg(argv[0]);
    if (!n || *n < 0 || *n > 0xFFFF) {
        sqlite3_result_null(ctx);
        return;
    }
    resultValue(ctx, QString(QChar(static_cast<char16_t>(*n))));
}

void fnIsNumeric(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const int t = sqlite3_value_type(argv[0]);
    if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
        sqlite3_result_int(ctx, 1);
        return;
    }
    if (t != SQLITE_TEXT) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    QString s = textArg(argv[0]).trimmed();
    if (s.startsWith(u'$'))
        s = s.mid(1);
    bool ok = false;
    s.toDouble(&ok);
    sqlite3_result_int(ctx, ok && !s.isEmpty() ? 1 : 0);
}

void fnSpace(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const auto n = intArg(argv[0]);
    if (!n || *n < 0) {
        sqlite3_result_null(ctx);
        return;
    }
    if (*n > maxResultChars) {
        resultError(ctx, 40000, u"sqlsim refuses a result this large."_s);
        return;
    }
    resultValue(ctx, QString(qsizetype(*n), u' '));
}

void fnReplicate(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const auto n = intArg(argv[1]);
    if (isNullArg(argv[0]) || !n || *n < 0) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString s = textArg(argv[0]);
    // The third argument: the characters the result's type holds, or -1 for (max).
    const auto limit = intArg(argv[2]);
    qint64 count = *n;
    if (limit && *limit >= 0 && !s.isEmpty())
        count = std::min<qint64>(count, (*limit + s.size() - 1) / s.size());
    if (s.size() * count > maxResultChars) {
        resultError(ctx, 40000, u"sqlsim refuses a result this large."_s);
        return;
    }
    QString result = s.repeated(qsizetype(count));
    if (limit && *limit >= 0 && result.size() > *limit)
        result.truncate(*limit);
    resultValue(ctx, result);
}

void fnQuoteName(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (isNullArg(argv[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString s = textArg(argv[0]);
    if (s.size() > 128) {
        sqlite3_result_null(ctx);
        return;
    }
    QString q = argc > 1 && !isNullArg(argv[1]) ? textArg(argv[1]) : u"["_s;
    QChar open = q.isEmpty() ? u'[' : q[0];
    QChar close = open == u'['   ? u']'
                  : open == u'(' ? u')'
                  : open == u'<' ? u'>'
                  : open == u'{' ? u'}'
                                 : open;
    QString body = s;
    body.replace(close, QString(close) + close);
    resultValue(ctx, QString(open) + body + close);
}

void fnSubstring(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (isNullArg(argv[0]) || isNullArg(argv[1]) || isNullArg(argv[2])) {
        sqlite3_result_null(ctx);
        return;
    }
    const qint64 start = *intArg(argv[1]);
    const qint64 length = *intArg(argv[2]);
    if (length < 0) {
        resultError(ctx, 537,
                    u"Invalid length parameter passed to the LEFT or SUBSTRING function."_s);
        return;
    }
    const qint64 from = std::max<qint64>(start, 1);
    const qint64 to = start + length; // exclusive, 1-based
    if (sqlite3_value_type(argv[0]) == SQLITE_BLOB) {
        const QByteArray b(static_cast<const char*>(sqlite3_value_blob(argv[0])),
                           sqlite3_value_bytes(argv[0]));
        if (to <= from || from > b.size()) {
            sqlite3_result_blob(ctx, "", 0, SQLITE_STATIC);
            return;
        }
        resultValue(ctx, b.mid(qsizetype(from - 1), qsizetype(to - from)));
        return;
    }
    const QString s = textArg(argv[0]);
    if (to <= from || from > s.size()) {
        resultValue(ctx, QString(u""_s));
        return;
    }
    resultValue(ctx, s.mid(qsizetype(from - 1), qsizetype(to - from)));
}

void fnLeft(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const auto n = intArg(argv[1]);
    if (isNullArg(argv[0]) || !n) {
        sqlite3_result_null(ctx);
        return;
    }
    if (*n < 0) {
        resultError(ctx, 536, u"Invalid length parameter passed to the left function."_s);
        return;
    }
    resultValue(ctx, textArg(argv[0]).left(qsizetype(std::min<qint64>(*n, maxResultChars))));
}

void fnRight(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const auto n = intArg(argv[1]);
    if (isNullArg(argv[0]) || !n) {
        sqlite3_result_null(ctx);
        return;
    }
    if (*n < 0) {
        resultError(ctx, 536, u"Invalid length parameter passed to the right function."_s);
        return;
    }
    resultValue(ctx, textArg(argv[0]).right(qsizetype(std::min<qint64>(*n, maxResultChars))));
}

void fnCharIndex(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (isNullArg(argv[0]) || isNullArg(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString needle = textArg(argv[0]);
    const QString hay = textArg(argv[1]);
    qint64 start = argc > 2 && !isNullArg(argv[2]) ? *intArg(argv[2]) : 1;
    if (start < 1)
        start = 1;
    if (needle.isEmpty() || start > hay.size()) {
        sqlite3_result_int(ctx, 0);
        return;
    }
    const qsizetype i = hay.indexOf(needle, qsizetype(start - 1), Qt::CaseInsensitive);
    sqlite3_result_int64(ctx, i < 0 ? 0 : i + 1);
}

void fnPatIndex(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (isNullArg(argv[0]) || isNullArg(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    QString pattern = textArg(argv[0]);
    const QString s = textArg(argv[1]);
    const bool anywhere = pattern.startsWith(u'%');
    if (anywhere)
        pattern = pattern.mid(1);
    // The match may end anywhere when the pattern ends with %.
    for (qsizetype i = 0; i <= s.size(); ++i) {
        if (likeMatch(pattern, s.mid(i))) {
            sqlite3_result_int64(ctx, i + 1);
            return;
        }
        if (!anywhere)
            break;
    }
    sqlite3_result_int(ctx, 0);
}

void fnReplace(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (isNullArg(argv[0]) || isNullArg(argv[1]) || isNullArg(argv[2])) {
        sqlite3_result_null(ctx);
        return;
    }
    QString s = textArg(argv[0]);
    const QString from = textArg(argv[1]);
    const QString to = textArg(argv[2]);
    if (from.isEmpty()) {
        resultValue(ctx, s);
        return;
    }
    if (to.size() > from.size() &&
        s.size() / from.size() * (to.size() - from.size()) > maxResultChars) {
        resultError(ctx, 40000, u"sqlsim refuses a result this large."_s);
        return;
    }
    s.replace(from, to, Qt::CaseInsensitive);
    resultValue(ctx, s);
}

void fnStuff(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (isNullArg(argv[0]) || isNullArg(argv[1]) || isNullArg(argv[2])) {
        sqlite3_result_null(ctx);
        return;
    }
    QString s = textArg(argv[0]);
    const qint64 start = *intArg(argv[1]);
    const qint64 length = *intArg(argv[2]);
    if (start < 1 || start > s.size() || length < 0) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString ins = isNullArg(argv[3]) ? QString() : textArg(argv[3]);
    s.replace(qsizetype(start - 1), qsizetype(std::min<qint64>(length, s.size() - start + 1)), ins);
    resultValue(ctx, s);
}

void fnConcat(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    QString out;
    for (int i = 0; i < argc; ++i) {
        if (isNullArg(argv[i]))
            continue;
        const int t = sqlite3_value_type(argv[i]);
        if (t == SQLITE_FLOAT)
            out += formatFloat(sqlite3_value_double(argv[i]));
        else
            out += textArg(argv[i]);
        if (out.size() > maxResultChars) {
            resultError(ctx, 40000, u"sqlsim refuses a result this large."_s);
            return;
        }
    }
    resultValue(ctx, out);
}

void fnStr(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (isNullArg(argv[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const double v = sqlite3_value_double(argv[0]);
    const qint64 length = argc > 1 ? intArg(argv[1]).value_or(10) : 10;
    const qint64 decimals = argc > 2 ? std::clamp<qint64>(intArg(argv[2]).value_or(0), 0, 16) : 0;
    if (length <= 0 || length > 8000) {
        sqlite3_result_null(ctx);
        return;
    }
    QString s = QString::number(v, 'f', int(decimals));
    if (s.size() > length) {
        // Fewer decimals first, then stars.
        const qsizetype dot = s.indexOf(u'.');
        if (dot >= 0 && dot <= length)
            s = QString::number(v, 'f', int(std::max<qint64>(0, length - dot - 1)));
        if (s.size() > length)
            s = QString(qsizetype(length), u'*');
    }
    resultValue(ctx, s.rightJustified(qsizetype(length), u' '));
}

void fnRound(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (isNullArg(argv[0]) || isNullArg(argv[1])) {
        sqlite3_result_null(ctx);
        return;
    }
    const qint64 digits = *intArg(argv[1]);
    const bool truncate = argc > 2 && !isNullArg(argv[2]) && sqlite3_value_int(argv[2]) != 0;
    const int t = sqlite3_value_type(argv[0]);
    if (t == SQLITE_INTEGER) {
        qint64 v = sqlite3_value_int64(argv[0]);
        if (digits < 0 && digits > -19) {
            qint64 p = 1;
            for (qint64 i = 0; i < -digits; ++i)
                p *= 10;
            const qint64 rem = v % p;
            v -= rem;
            if (!truncate && std::llabs(rem) * 2 >= p)
                v += rem < 0 ? -p : p;
        }
        sqlite3_result_int64(ctx, v);
        return;
    }
    if (t == SQLITE_TEXT) {
        // Decimal text keeps its scale: ROUND(12.3456, 2) = 12.3500.
        const QString s = textArg(argv[0]).trimmed();
        const qsizetype dot = s.indexOf(u'.');
        const int scale = dot < 0 ? 0 : int(s.size() - dot - 1);
        if (digits >= 0 && digits < scale && !truncate) {
            if (const auto r = normalizeDecimal(s, 0, int(digits))) {
                QString out = *r;
                if (!out.contains(u'.'))
                    out += u'.';
                out += QString(scale - int(digits), u'0');
                resultValue(ctx, out);
                return;
            }
        }
    }
    const double v = sqlite3_value_double(argv[0]);
    const double p = std::pow(10.0, double(digits));
    double r = v * p;
    r = truncate ? std::trunc(r) : std::round(r);
    sqlite3_result_double(ctx, r / p);
}

void fnRand(sqlite3_context* ctx, int, sqlite3_value**)
{
    sqlite3_result_double(ctx, QRandomGenerator::global()->generateDouble());
}

void fnNewId(sqlite3_context* ctx, int, sqlite3_value**)
{
    resultValue(ctx, QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
}

// ---- catalogue functions (through the session)

void fnObjectId(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (isNullArg(argv[0])) {
        sqlite3_result_null(ctx);
        return;
    }
    const QString type = argc > 1 && !isNullArg(argv[1]) ? textArg(argv[1]).trimmed() : QString();
    const auto id = hostOf(ctx)->objectId(textArg(argv[0]), type);
    if (id)
        sqlite3_result_int64(ctx, *id);
    else
        sqlite3_result_null(ctx);
}

void fnObjectName(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    const auto id = intArg(argv[0]);
    if (!id) {
        sqlite3_result_null(ctx);
        return;
    }
    std::optional<qint64> db;
    if (argc > 1)
        db = intArg(argv[1]);
    resultValue(ctx, hostOf(ctx)->objectName(*id, db));
}

void fnDbId(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    const QString name = argc > 0 && !isNullArg(argv[0]) ? textArg(argv[0]) : QString();
    const auto id = hostOf(ctx)->databaseId(name);
    if (id)
        sqlite3_result_int64(ctx, *id);
    else
        sqlite3_result_null(ctx);
}

void fnDbName(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const auto id = intArg(argv[0]);
    resultValue(ctx, id ? hostOf(ctx)->databaseName(*id) : Value());
}

bool isCollationProperty(const QString& property)
{
    return property.trimmed().compare(u"collation"_s, Qt::CaseInsensitive) == 0;
}

void fnServerProperty(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const QString property = textArg(argv[0]);
    if (isCollationProperty(property)) {
        resultValue(ctx, serverCollation().name);
        return;
    }
    resultValue(ctx, hostOf(ctx)->serverProperty(property));
}

void fnVolumeStat(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const std::optional<qint64> database = intArg(argv[0]);
    const std::optional<qint64> file = intArg(argv[1]);
    const std::optional<qint64> which = intArg(argv[2]);
    if (!database || !file || !which) {
        sqlite3_result_null(ctx);
        return;
    }
    resultValue(ctx, hostOf(ctx)->volumeStat(*database, *file, int(*which)));
}

void fnDatabaseProperty(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const QString database = textArg(argv[0]);
    const QString property = textArg(argv[1]);
    const Value value = hostOf(ctx)->databaseProperty(database, property);
    // Every database has the server's collation: CREATE DATABASE takes no COLLATE here, and a
    // backup does not carry one.
    if (isCollationProperty(property) && !isNull(value)) {
        resultValue(ctx, serverCollation().name);
        return;
    }
    resultValue(ctx, value);
}

void fnFileProperty(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    resultValue(ctx, hostOf(ctx)->fileProperty(textArg(argv[0]), textArg(argv[1])));
}

// COLLATIONPROPERTY(name, property): CodePage, LCID, ComparisonStyle, Version; NULL for a name
// that is no collation or a property that is not one of these (its documentation page).
void fnCollationProperty(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const std::optional<Collation> collation = findCollation(textArg(argv[0]).trimmed());
    const QString property = textArg(argv[1]).trimmed().toLower();
    if (!collation) {
        sqlite3_result_null(ctx);
    } else if (property == u"codepage") {
        sqlite3_result_int64(ctx, collation->codePage);
    } else if (property == u"lcid") {
        sqlite3_result_int64(ctx, collation->lcid);
    } else if (property == u"comparisonstyle") {
        sqlite3_result_int64(ctx, collation->comparisonStyle());
    } else if (property == u"version") {
        sqlite3_result_int64(ctx, 0);
    } else {
        sqlite3_result_null(ctx);
    }
}

void fnIdentCurrent(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    resultValue(ctx, hostOf(ctx)->identCurrent(textArg(argv[0])));
}

void fnHasDbAccess(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    const auto id = hostOf(ctx)->databaseId(textArg(argv[0]));
    if (id)
        sqlite3_result_int(ctx, 1);
    else
        sqlite3_result_null(ctx);
}

void fnConstOne(sqlite3_context* ctx, int, sqlite3_value**)
{
    sqlite3_result_int(ctx, 1);
}

void fnNull(sqlite3_context* ctx, int, sqlite3_value**)
{
    sqlite3_result_null(ctx);
}

void fnDbo(sqlite3_context* ctx, int, sqlite3_value**)
{
    sqlite3_result_text(ctx, "dbo", 3, SQLITE_STATIC);
}

void fnSid(sqlite3_context* ctx, int, sqlite3_value**)
{
    const char sid = 1;
    sqlite3_result_blob(ctx, &sid, 1, SQLITE_TRANSIENT);
}

// ---- a scalar subquery's one value

struct SingleState
{
    sqlite3_value* value;
    qint64 rows;
};

void singleStep(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    auto* state = static_cast<SingleState*>(sqlite3_aggregate_context(ctx, sizeof(SingleState)));
    if (!state)
        return;
    if (++state->rows == 1) {
        state->value = sqlite3_value_dup(argv[0]);
        return;
    }
    resultError(ctx, 512,
                u"Subquery returned more than 1 value. This is not permitted when the "
                "subquery follows =, !=, <, <= , >, >= or when the subquery is used as "
                "an expression."_s);
}

void singleFinal(sqlite3_context* ctx)
{
    auto* state = static_cast<SingleState*>(sqlite3_aggregate_context(ctx, 0));
    if (!state || !state->value) {
        sqlite3_result_null(ctx);
        return;
    }
    sqlite3_result_value(ctx, state->value);
    sqlite3_value_free(state->value);
    state->value = nullptr;
}

// ---- LIKE

struct LikeToken
{
    enum Kind
    {
        Char,
        One,
        Any,
        Set
    };
    Kind kind = Char;
    QChar c;
    QList<std::pair<QChar, QChar>> ranges;
    bool negated = false;
};

QList<LikeToken> compileLike(const QString& pattern, QChar escape)
{
    QList<LikeToken> out;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        LikeToken t;
        if (!escape.isNull() && c == escape && i + 1 < pattern.size()) {
            t.c = pattern[++i].toCaseFolded();
        } else if (c == u'%') {
            if (!out.isEmpty() && out.last().kind == LikeToken::Any)
                continue;
            t.kind = LikeToken::Any;
        } else if (c == u'_') {
            t.kind = LikeToken::One;
        } else if (c == u'[') {
            const qsizetype close = pattern.indexOf(u']', i + 2);
            if (close < 0) {
                t.c = c; // an unclosed [ is itself
            } else {
                t.kind = LikeToken::Set;
                qsizetype k = i + 1;
                if (pattern[k] == u'^') {
                    t.negated = true;
                    ++k;
                }
                for (; k < close; ++k) {
                    const QChar a = pattern[k].toCaseFolded();
                    if (k + 2 < close && pattern[k + 1] == u'-') {
                        t.ranges.append({a, pattern[k + 2].toCaseFolded()});
                        k += 2;
                    } else {
                        t.ranges.append({a, a});
                    }
                }
                i = close;
            }
        } else {
            t.c = c.toCaseFolded();
        }
        out.append(t);
    }
    return out;
}

bool tokenMatches(const LikeToken& t, QChar ch)
{
    const QChar c = ch.toCaseFolded();
    switch (t.kind) {
    case LikeToken::Char:
        return t.c == c;
    case LikeToken::One:
        return true;
    case LikeToken::Set: {
        bool in = false;
        for (const auto& [lo, hi] : t.ranges)
            if (c >= lo && c <= hi)
                in = true;
        return in != t.negated;
    }
    case LikeToken::Any:
        return true;
    }
    return false;
}

// Wildcard matching with backtracking to the last %: O(n*m) at worst.
bool matchTokens(const QList<LikeToken>& p, const QString& s)
{
    qsizetype pi = 0, si = 0, starP = -1, starS = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi].kind == LikeToken::Any) {
            starP = pi++;
            starS = si;
        } else if (pi < p.size() && tokenMatches(p[pi], s[si])) {
            ++pi;
            ++si;
        } else if (starP >= 0) {
            pi = starP + 1;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi].kind == LikeToken::Any)
        ++pi;
    return pi == p.size();
}

void fnLike(sqlite3_context* ctx, int argc, sqlite3_value** argv)
{
    if (isNullArg(argv[0]) || isNullArg(argv[1]) || (argc > 2 && isNullArg(argv[2]))) {
        sqlite3_result_null(ctx);
        return;
    }
    QChar escape;
    if (argc > 2) {
        const QString e = textArg(argv[2]);
        if (e.size() != 1) {
            resultError(
                ctx, 506,
                u"The invalid escape character \"%1\" was specified in a LIKE predicate."_s.arg(e));
            return;
        }
        escape = e[0];
    }
    auto* compiled = static_cast<QList<LikeToken>*>(sqlite3_get_auxdata(ctx, 0));
    if (!compiled) {
        auto* fresh = new QList<LikeToken>(compileLike(textArg(argv[0]), escape));
        sqlite3_set_auxdata(ctx, 0, fresh,
                            [](void* p) { delete static_cast<QList<LikeToken>*>(p); });
        compiled = static_cast<QList<LikeToken>*>(sqlite3_get_auxdata(ctx, 0));
        if (!compiled) {
            // SQLite dropped it at once (out of memory): match without the cache.
            const auto local = compileLike(textArg(argv[0]), escape);
            sqlite3_result_int(ctx, matchTokens(local, textArg(argv[1])) ? 1 : 0);
            return;
        }
    }
    const int t = sqlite3_value_type(argv[1]);
    QString value =
        t == SQLITE_FLOAT ? formatFloat(sqlite3_value_double(argv[1])) : textArg(argv[1]);
    sqlite3_result_int(ctx, matchTokens(*compiled, value) ? 1 : 0);
}

// ---- collation

int lowerAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

int tsqlCollate(void*, int len1, const void* p1, int len2, const void* p2)
{
    const auto* a = static_cast<const unsigned char*>(p1);
    const auto* b = static_cast<const unsigned char*>(p2);
    while (len1 > 0 && a[len1 - 1] == ' ')
        --len1;
    while (len2 > 0 && b[len2 - 1] == ' ')
        --len2;
    bool ascii = true;
    const int n = std::min(len1, len2);
    for (int i = 0; i < n; ++i) {
        if (a[i] >= 0x80 || b[i] >= 0x80) {
            ascii = false;
            break;
        }
        const int ca = lowerAscii(a[i]), cb = lowerAscii(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (ascii) {
        bool restAscii = true;
        for (int i = n; i < len1; ++i)
            restAscii = restAscii && a[i] < 0x80;
        for (int i = n; i < len2; ++i)
            restAscii = restAscii && b[i] < 0x80;
        if (restAscii)
            return len1 == len2 ? 0 : (len1 < len2 ? -1 : 1);
    }
    const QString sa = QString::fromUtf8(reinterpret_cast<const char*>(a), len1);
    const QString sb = QString::fromUtf8(reinterpret_cast<const char*>(b), len2);
    const int r = sa.compare(sb, Qt::CaseInsensitive);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

} // namespace

bool likeMatch(const QString& pattern, const QString& text, QChar escape)
{
    return matchTokens(compileLike(pattern, escape), text);
}

QByteArray encodeError(const Message& m)
{
    return "\x01" + QByteArray::number(m.number) + "\x01" + QByteArray::number(m.severity) +
           "\x01" + m.text.toUtf8();
}

std::optional<Message> decodeError(const char* text)
{
    if (!text || text[0] != '\x01')
        return std::nullopt;
    const QList<QByteArray> parts = QByteArray(text + 1).split('\x01');
    if (parts.size() < 3)
        return std::nullopt;
    Message m;
    m.number = parts[0].toInt();
    m.severity = parts[1].toInt();
    QByteArray rest = parts[2];
    for (qsizetype i = 3; i < parts.size(); ++i)
        rest += '\x01' + parts[i];
    m.text = QString::fromUtf8(rest);
    return m;
}

Value valueOf(sqlite3_value* v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
        return sqlite3_value_double(v);
    case SQLITE_TEXT:
        return textArg(v);
    case SQLITE_BLOB: {
        const int n = sqlite3_value_bytes(v);
        return QByteArray(static_cast<const char*>(sqlite3_value_blob(v)), n);
    }
    default:
        return {};
    }
}

Value columnValue(sqlite3_stmt* stmt, int column)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(stmt, column);
    case SQLITE_TEXT: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        return QString::fromUtf8(p, sqlite3_column_bytes(stmt, column));
    }
    case SQLITE_BLOB: {
        const void* p = sqlite3_column_blob(stmt, column);
        const int n = sqlite3_column_bytes(stmt, column);
        return QByteArray(static_cast<const char*>(p), n);
    }
    default:
        return {};
    }
}

void bindValue(sqlite3_stmt* stmt, int index, const Value& v)
{
    if (const auto* i = std::get_if<qint64>(&v)) {
        sqlite3_bind_int64(stmt, index, *i);
    } else if (const auto* d = std::get_if<double>(&v)) {
        sqlite3_bind_double(stmt, index, *d);
    } else if (const auto* s = std::get_if<QString>(&v)) {
        const QByteArray u = s->toUtf8();
        sqlite3_bind_text64(stmt, index, u.constData(), sqlite3_uint64(u.size()), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
    } else if (const auto* b = std::get_if<QByteArray>(&v)) {
        sqlite3_bind_blob64(stmt, index, b->constData(), sqlite3_uint64(b->size()),
                            SQLITE_TRANSIENT);
    } else if (const auto* dt = std::get_if<QDateTime>(&v)) {
        const QByteArray u = storageDateTime(*dt, BaseType::DateTime2).toUtf8();
        sqlite3_bind_text(stmt, index, u.constData(), int(u.size()), SQLITE_TRANSIENT);
    } else {
        sqlite3_bind_null(stmt, index);
    }
}

void registerCollation(sqlite3* db)
{
    sqlite3_create_collation(db, "TSQL", SQLITE_UTF8, nullptr, tsqlCollate);
}

void registerFunctions(sqlite3* db, FunctionHost* host)
{
    registerCollation(db);
    struct Fn
    {
        const char* name;
        int args;
        void (*fn)(sqlite3_context*, int, sqlite3_value**);
        bool deterministic;
    };
    static const Fn functions[] = {
        {"tsql_add", 2, fnAdd, true},
        {"tsql_div", 2, fnDiv, true},
        {"tsql_mod", 2, fnMod, true},
        {"tsql_cast", 5, fnCast, true},
        {"tsql_conv", 4, fnConv, true},
        {"tsql_getdate", 1, fnGetDate, false},
        {"tsql_sysdatetime", 1, fnSysDateTime, false},
        {"getdate", 0,
         [](sqlite3_context* c, int, sqlite3_value**) {
             resultValue(c, storageDateTime(QDateTime::currentDateTime(), BaseType::DateTime));
         },
         false},
        {"tsql_datepart", 3, fnDatePart, true},
        {"tsql_datename", 3, fnDateName, true},
        {"tsql_dateadd", 4, fnDateAdd, true},
        {"tsql_datediff", 3, fnDateDiff, true},
        {"tsql_isdate", 1, fnIsDate, true},
        {"tsql_len", 2, fnLen, true},
        {"tsql_datalength", 2, fnDataLength, true},
        {"tsql_upper", 1, fnUpper, true},
        {"tsql_lower", 1, fnLower, true},
        {"tsql_reverse", 1, fnReverse, true},
        {"tsql_ascii", 1, fnAscii, true},
        {"tsql_char", 1, fnChar, true},
        {"tsql_isnumeric", 1, fnIsNumeric, true},
        {"tsql_space", 1, fnSpace, true},
        {"tsql_replicate", 3, fnReplicate, true},
        {"tsql_quotename", 1, fnQuoteName, true},
        {"tsql_quotename", 2, fnQuoteName, true},
        {"tsql_substring", 3, fnSubstring, true},
        {"tsql_left", 2, fnLeft, true},
        {"tsql_right", 2, fnRight, true},
        {"tsql_charindex", 2, fnCharIndex, true},
        {"tsql_charindex", 3, fnCharIndex, true},
        {"tsql_patindex", 2, fnPatIndex, true},
        {"tsql_replace", 3, fnReplace, true},
        {"tsql_stuff", 4, fnStuff, true},
        {"tsql_concat", -1, fnConcat, true},
        {"tsql_str", 1, fnStr, true},
        {"tsql_str", 2, fnStr, true},
        {"tsql_str", 3, fnStr, true},
        {"tsql_round", 2, fnRound, true},
        {"tsql_round", 3, fnRound, true},
        {"tsql_rand", 0, fnRand, false},
        {"tsql_newid", 0, fnNewId, false},
        {"tsql_object_id", 1, fnObjectId, false},
        {"tsql_object_id", 2, fnObjectId, false},
        {"tsql_object_name", 1, fnObjectName, false},
        {"tsql_object_name", 2, fnObjectName, false},
        {"tsql_db_id", 0, fnDbId, false},
        {"tsql_db_id", 1, fnDbId, false},
        {"tsql_db_name", 1, fnDbName, false},
        {"tsql_serverproperty", 1, fnServerProperty, false},
        {"tsql_volume_stat", 3, fnVolumeStat, false},
        {"tsql_databasepropertyex", 2, fnDatabaseProperty, false},
        {"tsql_fileproperty", 2, fnFileProperty, false},
        {"tsql_collationproperty", 2, fnCollationProperty, true},
        {"tsql_ident_current", 1, fnIdentCurrent, false},
        {"tsql_has_dbaccess", 1, fnHasDbAccess, false},
        {"tsql_is_srvrolemember", 1, fnConstOne, false},
        {"tsql_is_srvrolemember", 2, fnConstOne, false},
        {"tsql_is_member", 1, fnConstOne, false},
        {"tsql_user_id", 0, fnConstOne, false},
        {"tsql_user_id", 1, fnConstOne, false},
        {"tsql_suser_sid", 0, fnSid, false},
        {"tsql_suser_sid", 1, fnSid, false},
        {"tsql_schema_name", 1, fnDbo, false},
        {"tsql_col_length", 2, fnNull, false},
        {"tsql_objectproperty", 2, fnNull, false},
        {"like", 2, fnLike, true},
        {"like", 3, fnLike, true},
    };
    for (const Fn& f : functions) {
        const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
        sqlite3_create_function_v2(db, f.name, f.args, flags, host, f.fn, nullptr, nullptr,
                                   nullptr);
    }
    sqlite3_create_function_v2(db, "tsql_single", 1, SQLITE_UTF8, nullptr, nullptr, singleStep,
                               singleFinal, nullptr);
}

} // namespace sqlsim
