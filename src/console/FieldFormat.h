#pragma once

#include "Connection.h"

#include <QList>
#include <QLocale>
#include <QString>
#include <optional>

namespace console {

// Field texts in the operator's regional settings. Values come from the server as text in the
// driver's fixed form (see db::ColumnKind); the grid, the clipboard and the export file show
// them in the locale's form, which is also the form the grid offers for editing, and what the
// operator types goes back in the server's form.
//
// The forms, with ru_RU for an example:
// - Integer, Bit, Text, Binary: as the server sends them, in every locale (no digit grouping).
// - Decimal: the server's digits, scale included, with the locale's decimal separator ("12,50").
// - Float, Real: the shortest digits that read back as the same double (float for Real), with
//   the locale's separator ("0,1", "1e+20").
// - Date: the locale's short date with a four-digit year ("05.02.2024").
// - DateTime: that date, a blank and the locale's long time without its time zone, which has
//   the seconds and the locale's clock ("05.02.2024 10:15:00"; en_US "2/5/2024 10:15:00 AM");
//   a fraction of a second that is not zero follows the seconds after the decimal separator,
//   every digit the server sent but trailing zeros ("10:15:00,123").
// - Time: the time alone, the same way.
// - DateTimeOffset: date and time as above, then the server's offset ("... 10:15:00 +03:00").
// The C/POSIX locale (no regional settings) shows every value as the server sends it.
// Digits are always ASCII; a text not in the server's form (an edit that never reached the
// server) is shown as it is.
class FieldFormat
{
public:
    explicit FieldFormat(const QLocale& locale = QLocale());

    // The text shown for a value in the server's form.
    QString display(db::ColumnKind kind, const QString& serverText) const;
    // The same appended to out, without allocating when out has room (a fraction of a second
    // that is not zero, or an offset, costs one small allocation).
    void appendDisplay(db::ColumnKind kind, QStringView serverText, QString& out) const;

    // What the operator typed, in the locale's form, as the server's form; a text the locale's
    // form cannot read goes as it is, so that the server's own error tells what is wrong. Also
    // takes a date with two-digit year (1930 to 2029), a time without seconds, and a date alone
    // for a DateTime. A DateTime gets at least three fraction digits ("2024-02-05
    // 10:15:00.000"), the form the driver gives a datetime in, so that the value written is
    // found again by the same text.
    QString toServer(db::ColumnKind kind, const QString& typed) const;

    // A date and time in the server's form ("2024-02-05 10:15:00.000") as a parameter the server
    // reads alike in every language: with "T" between date and time. A datetime parameter in the
    // form with a blank is read as year-day-month under DATEFORMAT dmy, which a Russian login
    // has. Any other text comes back as it is.
    static QString languageNeutral(const QString& serverText);

    // The locale's patterns in Qt's date-format notation, as shown (the fraction of a second
    // aside), so that they can be checked against Qt's own formatting.
    QString datePattern() const;
    QString timePattern() const;

    // One piece of a date or time pattern.
    struct Token
    {
        enum Kind
        {
            Literal,
            Day,
            Month,
            Year,
            Hour24,
            Hour12,
            Minute,
            Second,
            AmPm,
        };
        Kind kind = Literal;
        int width = 1;     // digits at least (padding): 1 or 2; 4 for the year
        QString text;      // a literal's characters
        bool upper = true; // AmPm: "AP" rather than "ap"
    };

    // A date and time as fields, the fraction of a second as its digits.
    struct Moment
    {
        int year = 1;
        int month = 1;
        int day = 1;
        int hour = 0;
        int minute = 0;
        int second = 0;
        QString fraction; // digits after the seconds, trailing zeros dropped
        QString offset;   // "+03:00"
    };

private:
    std::optional<Moment> parseLocal(db::ColumnKind kind, const QString& text) const;
    void appendLocalText(db::ColumnKind kind, const Moment& moment, QString& out) const;
    // The locale's decimal separator for the first "." in out from from on.
    void localiseDecimalPoint(QString& out, qsizetype from) const;

    bool m_verbatim = false; // the C locale: texts as the server sends them
    QString m_decimalPoint;
    QString m_minus;
    QString m_am;
    QString m_pm;
    QString m_amUpper;
    QString m_amLower;
    QString m_pmUpper;
    QString m_pmLower;
    QList<Token> m_date;
    QList<Token> m_time;
    QList<Token> m_timeNoSeconds;
};

} // namespace console
