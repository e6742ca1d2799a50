#include "Temporal.h"

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

constexpr qint64 ticksPerMinute = 60 * ticksPerSecond;

int digits(QStringView s, qsizetype at, qsizetype count)
{
    if (at < 0 || at + count > s.size())
        return -1;
    int v = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return -1;
        v = v * 10 + (s[i].unicode() - u'0');
    }
    return v;
}

QString two(qint64 v)
{
    return u"%1"_s.arg(v, 2, 10, QChar(u'0'));
}

QString dateText(const QDate& d, QChar separator = u'-')
{
    return u"%1"_s.arg(d.year(), 4, 10, QChar(u'0')) + separator + two(d.month()) + separator +
           two(d.day());
}

QString timeText(qint64 ticks)
{
    const qint64 seconds = ticks / ticksPerSecond;
    return two(seconds / 3600) + u':' + two(seconds / 60 % 60) + u':' + two(seconds % 60);
}

// ".1234567" cut to the scale; nothing for scale 0.
QString fraction(qint64 ticks, int scale)
{
    if (scale <= 0)
        return {};
    return u'.' + u"%1"_s.arg(ticks % ticksPerSecond, 7, 10, QChar(u'0')).left(scale);
}

QString offsetText(int minutes)
{
    return (minutes < 0 ? u"-"_s : u"+"_s) + two(std::abs(minutes) / 60) + u':' +
           two(std::abs(minutes) % 60);
}

// datetime's milliseconds stand for 1/300 second: .003 is 1/300, .007 is 2/300.
qint64 dateTimeTicks(qint64 ms)
{
    const qint64 units = (ms * 3 + 5) / 10;
    return (units * 100'000 + 1) / 3;
}

qint64 unitOfDigits(int n) // 100 ns units of the n-th fraction digit
{
    qint64 unit = 1;
    for (int i = n; i < 7; ++i)
        unit *= 10;
    return unit;
}

// Moves a local value by whole minutes, across midnight.
void shiftMinutes(Temporal& v, qint64 minutes)
{
    qint64 ticks = v.ticks + minutes * ticksPerMinute;
    qint64 days = 0;
    while (ticks < 0) {
        ticks += ticksPerDay;
        --days;
    }
    days += ticks / ticksPerDay;
    v.ticks = ticks % ticksPerDay;
    v.date = v.date.addDays(days);
}

} // namespace

bool isPreciseTemporal(BaseType base)
{
    return base == BaseType::Date || base == BaseType::Time || base == BaseType::DateTime2 ||
           base == BaseType::DateTimeOffset;
}

std::optional<Temporal> temporalFromStorage(const QString& text)
{
    const QStringView s = text;
    Temporal v;
    qsizetype at = 0;
    if (s.size() >= 10 && s[4] == u'-' && s[7] == u'-') {
        v.date = QDate(digits(s, 0, 4), digits(s, 5, 2), digits(s, 8, 2));
        if (!v.date.isValid())
            return std::nullopt;
        if (s.size() == 10) {
            v.hasTime = false;
            return v;
        }
        if (s[10] != u' ' && s[10] != u'T')
            return std::nullopt;
        at = 11;
    } else {
        v.hasDate = false;
    }
    const int h = digits(s, at, 2), mi = digits(s, at + 3, 2), sec = digits(s, at + 6, 2);
    if (h < 0 || mi < 0 || sec < 0 || s[at + 2] != u':' || s[at + 5] != u':' || h > 23 || mi > 59 ||
        sec > 59)
        return std::nullopt;
    v.ticks = ((h * 60LL + mi) * 60 + sec) * ticksPerSecond;
    qsizetype i = at + 8;
    if (i < s.size() && s[i] == u'.') {
        const qsizetype start = ++i;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9')
            ++i;
        const int n = int(i - start);
        if (n == 0 || n > 7)
            return std::nullopt;
        const int f = digits(s, start, n);
        if (n == 3 && v.hasDate)
            v.ticks += dateTimeTicks(f); // datetime and smalldatetime keep three digits
        else
            v.ticks += f * unitOfDigits(n);
    }
    if (i == s.size())
        return v;
    // " +hh:mm" after the UTC instant of a datetimeoffset.
    if (s.size() - i != 7 || s[i] != u' ' || (s[i + 1] != u'+' && s[i + 1] != u'-') ||
        s[i + 4] != u':')
        return std::nullopt;
    const int oh = digits(s, i + 2, 2), om = digits(s, i + 5, 2);
    if (oh < 0 || om < 0)
        return std::nullopt;
    v.offset = (s[i + 1] == u'-' ? -1 : 1) * (oh * 60 + om);
    shiftMinutes(v, v.offset);
    return v;
}

QString temporalStorage(const Temporal& value, BaseType base)
{
    switch (base) {
    case BaseType::Date:
        return dateText(value.date);
    case BaseType::Time:
        return timeText(value.ticks) + fraction(value.ticks, 7);
    case BaseType::DateTimeOffset: {
        Temporal utc = value;
        shiftMinutes(utc, -value.offset);
        return dateText(utc.date) + u' ' + timeText(utc.ticks) + fraction(utc.ticks, 7) + u' ' +
               offsetText(value.offset);
    }
    case BaseType::DateTime:
    case BaseType::SmallDateTime: {
        const qint64 units = (value.ticks % ticksPerSecond * 3 + 50'000) / 100'000;
        return dateText(value.date) + u' ' + timeText(value.ticks) + u'.' +
               u"%1"_s.arg((units * 10 + 1) / 3, 3, 10, QChar(u'0'));
    }
    default:
        return dateText(value.date) + u' ' + timeText(value.ticks) + fraction(value.ticks, 7);
    }
}

bool roundToScale(Temporal& value, int scale)
{
    const qint64 unit = unitOfDigits(std::clamp(scale, 0, 7));
    value.ticks = (value.ticks + unit / 2) / unit * unit;
    if (value.ticks < ticksPerDay)
        return true;
    value.ticks -= ticksPerDay;
    if (!value.hasDate)
        return true;
    if (value.date == QDate(9999, 12, 31))
        return false;
    value.date = value.date.addDays(1);
    return true;
}

void roundToDateTime(Temporal& value, BaseType base)
{
    if (base == BaseType::SmallDateTime) {
        // 29.998 seconds and less round down, 29.999 and more up (learn.microsoft.com
        // smalldatetime (Transact-SQL)).
        const qint64 within = value.ticks % ticksPerMinute;
        value.ticks -= within;
        if (within >= 299'990'000)
            value.ticks += ticksPerMinute;
    } else {
        const qint64 units = (value.ticks * 3 + 50'000) / 100'000;
        value.ticks = (units * 100'000 + 1) / 3;
    }
    if (value.ticks >= ticksPerDay) {
        value.ticks -= ticksPerDay;
        value.date = value.date.addDays(1);
    }
}

Temporal temporalOf(const QDateTime& dt)
{
    Temporal v;
    v.date = dt.date();
    v.ticks = qint64(dt.time().msecsSinceStartOfDay()) * 10'000;
    v.offset = dt.timeSpec() == Qt::OffsetFromUTC ? dt.offsetFromUtc() / 60 : 0;
    return v;
}

QDateTime toDateTime(const Temporal& value)
{
    return QDateTime(value.date, QTime::fromMSecsSinceStartOfDay(int(value.ticks / 10'000)),
                     Qt::UTC);
}

// https://learn.microsoft.com/sql/t-sql/functions/cast-and-convert-transact-sql#date-and-time-styles:
// 20/120 "yyyy-mm-dd hh:mi:ss", 21/121 and 0 (the default for time, date, datetime2 and
// datetimeoffset) "yyyy-mm-dd hh:mi:ss.mmm" with the type's digits, 126 "yyyy-mm-ddThh:mi:ss.mmm"
// (no fraction when it is zero), 127 as 126 with Z for UTC (datetimeoffset in UTC).
QString formatTemporal(const Temporal& v, const TypeInfo& type, int style)
{
    const int scale = type.scale;
    const bool iso = style == 0 || style == 21 || style == 121 || style == 25 || style == 20 ||
                     style == 120 || style == 126 || style == 127 || style == 23;
    const bool whole = style == 20 || style == 120;
    const bool t = style == 126 || style == 127;
    const auto frac = [&](qint64 ticks) {
        if (whole || (t && ticks % ticksPerSecond == 0))
            return QString();
        return fraction(ticks, scale);
    };
    switch (type.base) {
    case BaseType::Date:
        if (iso)
            return dateText(v.date);
        break;
    case BaseType::Time:
        if (iso || style == 8 || style == 108 || style == 24)
            return timeText(v.ticks) +
                   (style == 8 || style == 108 || style == 24 ? QString() : frac(v.ticks));
        break;
    case BaseType::DateTime2:
        if (iso && style != 23)
            return dateText(v.date) + (t ? u'T' : u' ') + timeText(v.ticks) + frac(v.ticks);
        break;
    case BaseType::DateTimeOffset:
        if (style == 127) {
            Temporal utc = v;
            shiftMinutes(utc, -v.offset);
            return dateText(utc.date) + u'T' + timeText(utc.ticks) + frac(utc.ticks) + u'Z';
        }
        if (iso && style != 23)
            return dateText(v.date) + (t ? u'T' : u' ') + timeText(v.ticks) + frac(v.ticks) +
                   (whole || t ? QString() : u' ' + offsetText(v.offset));
        break;
    default:
        break;
    }
    return formatDateTimeStyle(toDateTime(v), style,
                               type.base == BaseType::Time ? BaseType::DateTime : type.base);
}

} // namespace sqlsim
