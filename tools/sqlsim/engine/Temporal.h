#pragma once

#include "SqlTypes.h"

#include <QDate>

// date, time(n), datetime2(n) and datetimeoffset(n) to the 100 ns that SQL Server keeps, and
// datetime's exact 1/300 second. In SQLite each type is text of one fixed width, so that text
// order is time order: "2024-02-05", "10:15:00.1230000", "2024-02-05 10:15:00.1234567" and, for
// datetimeoffset, the UTC instant with the offset beside it, "2024-02-05 07:15:00.0000000 +03:00"
// (SQL Server compares and sorts datetimeoffset by the UTC instant,
// learn.microsoft.com/sql/t-sql/data-types/datetimeoffset-transact-sql).
namespace sqlsim {

constexpr qint64 ticksPerSecond = 10'000'000; // 100 ns
constexpr qint64 ticksPerDay = 86'400 * ticksPerSecond;

struct Temporal
{
    QDate date{1900, 1, 1}; // local date; 1900-01-01 for a time alone
    qint64 ticks = 0;       // 100 ns since local midnight
    int offset = 0;         // minutes east of UTC
    bool hasDate = true;
    bool hasTime = true;
};

// The four types that carry their own TDS type and 100 ns: date, time, datetime2,
// datetimeoffset.
bool isPreciseTemporal(BaseType base);

// Any storage form of a date type: date, time, datetime and smalldatetime ("yyyy-MM-dd
// HH:mm:ss.zzz", whose milliseconds stand for 1/300 second), datetime2, datetimeoffset.
std::optional<Temporal> temporalFromStorage(const QString& text);
// The storage form of `base`; the value is already of that type (rounded, in range).
QString temporalStorage(const Temporal& value, BaseType base);

// Rounds to `scale` digits of a second, half up as SQL Server rounds; past midnight the date
// moves on (a time alone wraps). False when that leaves 9999-12-31.
bool roundToScale(Temporal& value, int scale);
// datetime keeps 1/300 second; smalldatetime the minute.
void roundToDateTime(Temporal& value, BaseType base);

Temporal temporalOf(const QDateTime& dt);
QDateTime toDateTime(const Temporal& value); // local, to the millisecond

// Text in SQL Server's string literal formats for the date type `target`, as parseDateText
// reads it; date, time, datetime2 and datetimeoffset also take a fraction of seven digits and
// a time zone offset (+hh:mm, -hh:mm, Z).
std::optional<Temporal> parseTemporalText(const QString& text, BaseType target,
                                          const QString& dateFormat, bool* outOfRange = nullptr);

// CONVERT of a value of type `type` to text with `style`.
QString formatTemporal(const Temporal& value, const TypeInfo& type, int style);

} // namespace sqlsim
