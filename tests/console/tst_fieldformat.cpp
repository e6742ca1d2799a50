// Field texts in the operator's regional settings: what the grid and the export show for each
// column kind, and what an edit typed in that form sends to the server.
#include "FieldFormat.h"

#include <QDateTime>
#include <QTest>
#include <charconv>

using namespace Qt::StringLiterals;
using console::FieldFormat;
using db::ColumnKind;

Q_DECLARE_METATYPE(db::ColumnKind)

namespace {

double parsed(const QString& text)
{
    const QByteArray ascii = text.toLatin1();
    double value = 0;
    std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
    return value;
}

} // namespace

class TestFieldFormat : public QObject
{
    Q_OBJECT

private slots:
    void display_data();
    void display();
    void toServer_data();
    void toServer();
    void languageNeutral_data();
    void languageNeutral();
    void shownFormReadsBack_data();
    void shownFormReadsBack();
    void floatingShownFormReadsBack_data();
    void floatingShownFormReadsBack();
    void formattingAgreesWithQt_data();
    void formattingAgreesWithQt();
};

void TestFieldFormat::display_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<ColumnKind>("kind");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("shown");

    const auto row = [](const char* name, const QString& locale, ColumnKind kind,
                        const QString& server, const QString& shown) {
        QTest::newRow(name) << locale << kind << server << shown;
    };
    const QString ru = u"ru_RU"_s;
    row("ru integer", ru, ColumnKind::Integer, u"-1234567"_s, u"-1234567"_s);
    row("ru decimal", ru, ColumnKind::Decimal, u"12.50"_s, u"12,50"_s);
    row("ru decimal money scale", ru, ColumnKind::Decimal, u"-0.0010"_s, u"-0,0010"_s);
    row("ru decimal no scale", ru, ColumnKind::Decimal, u"5"_s, u"5"_s);
    row("ru decimal 38 digits", ru, ColumnKind::Decimal,
        u"12345678901234567890123456.789012345678"_s, u"12345678901234567890123456,789012345678"_s);
    row("ru float", ru, ColumnKind::Float, u"0.10000000000000001"_s, u"0,1"_s);
    row("ru float third", ru, ColumnKind::Float, u"0.33333333333333331"_s, u"0,3333333333333333"_s);
    row("ru float exponent", ru, ColumnKind::Float, u"2.4999999999999999e-07"_s, u"2,5e-07"_s);
    row("ru float large", ru, ColumnKind::Float, u"1e+20"_s, u"1e+20"_s);
    row("ru float whole", ru, ColumnKind::Float, u"123456789012"_s, u"123456789012"_s);
    row("ru real", ru, ColumnKind::Real, u"0.100000001"_s, u"0,1"_s);
    row("ru real max", ru, ColumnKind::Real, u"3.40282347e+38"_s, u"3,4028235e+38"_s);
    row("ru bit", ru, ColumnKind::Bit, u"1"_s, u"1"_s);
    row("ru text with a point", ru, ColumnKind::Text, u"12.5"_s, u"12.5"_s);
    row("ru binary", ru, ColumnKind::Binary, u"0x00FF"_s, u"0x00FF"_s);
    row("ru date", ru, ColumnKind::Date, u"2024-02-05"_s, u"05.02.2024"_s);
    row("ru date first year", ru, ColumnKind::Date, u"0001-01-01"_s, u"01.01.0001"_s);
    row("ru datetime", ru, ColumnKind::DateTime, u"2024-02-05 10:15:00.000"_s,
        u"05.02.2024 10:15:00"_s);
    row("ru datetime milliseconds", ru, ColumnKind::DateTime, u"2024-02-05 10:15:00.123"_s,
        u"05.02.2024 10:15:00,123"_s);
    row("ru datetime2 seven digits", ru, ColumnKind::DateTime, u"2024-02-05 10:15:00.1234567"_s,
        u"05.02.2024 10:15:00,1234567"_s);
    row("ru datetime2 trailing zeros", ru, ColumnKind::DateTime, u"2024-02-05 10:15:00.1200000"_s,
        u"05.02.2024 10:15:00,12"_s);
    row("ru smalldatetime", ru, ColumnKind::DateTime, u"2024-02-05 23:59:00"_s,
        u"05.02.2024 23:59:00"_s);
    row("ru time", ru, ColumnKind::Time, u"09:05:07.1234567"_s, u"09:05:07,1234567"_s);
    row("ru time whole", ru, ColumnKind::Time, u"23:59:59.0000000"_s, u"23:59:59"_s);
    row("ru datetimeoffset", ru, ColumnKind::DateTimeOffset,
        u"2024-02-05 10:15:00.1234567 +03:00"_s, u"05.02.2024 10:15:00,1234567 +03:00"_s);
    row("ru datetimeoffset west", ru, ColumnKind::DateTimeOffset,
        u"2024-02-05 10:15:00.0000000 -05:30"_s, u"05.02.2024 10:15:00 -05:30"_s);
    // Not the server's form (an edit that was refused, say): shown as it is.
    row("ru date not in form", ru, ColumnKind::DateTime, u"05.02.2024 25:00"_s,
        u"05.02.2024 25:00"_s);
    row("ru impossible date", ru, ColumnKind::Date, u"2024-02-30"_s, u"2024-02-30"_s);
    row("ru decimal not in form", ru, ColumnKind::Decimal, u"1.5E3"_s, u"1.5E3"_s);
    row("ru float not a number", ru, ColumnKind::Float, u"abc"_s, u"abc"_s);
    row("ru empty text", ru, ColumnKind::Decimal, u""_s, u""_s);

    const QString en = u"en_US"_s;
    row("en decimal", en, ColumnKind::Decimal, u"12.50"_s, u"12.50"_s);
    row("en integer no grouping", en, ColumnKind::Integer, u"1234567"_s, u"1234567"_s);
    row("en float", en, ColumnKind::Float, u"0.10000000000000001"_s, u"0.1"_s);
    row("en date four-digit year", en, ColumnKind::Date, u"2024-02-05"_s, u"2/5/2024"_s);
    row("en datetime afternoon", en, ColumnKind::DateTime, u"2024-12-25 14:05:09.123"_s,
        u"12/25/2024 2:05:09.123 PM"_s);
    row("en datetime midnight", en, ColumnKind::DateTime, u"2024-02-05 00:00:00.000"_s,
        u"2/5/2024 12:00:00 AM"_s);
    row("en time noon", en, ColumnKind::Time, u"12:30:00"_s, u"12:30:00 PM"_s);

    const QString c = u"C"_s;
    row("C decimal", c, ColumnKind::Decimal, u"12.50"_s, u"12.50"_s);
    row("C float", c, ColumnKind::Float, u"0.10000000000000001"_s, u"0.10000000000000001"_s);
    row("C date", c, ColumnKind::Date, u"2024-02-05"_s, u"2024-02-05"_s);
    row("C datetime", c, ColumnKind::DateTime, u"2024-02-05 10:15:00.000"_s,
        u"2024-02-05 10:15:00.000"_s);
    row("C time", c, ColumnKind::Time, u"10:15:00.1234567"_s, u"10:15:00.1234567"_s);

    row("de two-digit year widened", u"de_DE"_s, ColumnKind::Date, u"2024-02-05"_s,
        u"05.02.2024"_s);
    row("fi dots in the time", u"fi_FI"_s, ColumnKind::DateTime, u"2024-02-05 09:05:07.500"_s,
        u"5.2.2024 9.05.07,5"_s);
    row("zh time zone dropped", u"zh_CN"_s, ColumnKind::DateTime, u"2024-02-05 10:15:00.000"_s,
        u"2024/2/5 10:15:00"_s);
    row("ko trailing literals", u"ko_KR"_s, ColumnKind::Date, u"2024-02-05"_s, u"2024. 2. 5."_s);
}

void TestFieldFormat::display()
{
    QFETCH(QString, locale);
    QFETCH(ColumnKind, kind);
    QFETCH(QString, server);
    QFETCH(QString, shown);
    QCOMPARE(FieldFormat(QLocale(locale)).display(kind, server), shown);
}

void TestFieldFormat::toServer_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<ColumnKind>("kind");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("server");

    const auto row = [](const char* name, const QString& locale, ColumnKind kind,
                        const QString& typed, const QString& server) {
        QTest::newRow(name) << locale << kind << typed << server;
    };
    const QString ru = u"ru_RU"_s;
    row("ru decimal", ru, ColumnKind::Decimal, u"12,5"_s, u"12.5"_s);
    row("ru decimal negative", ru, ColumnKind::Decimal, u"-0,001"_s, u"-0.001"_s);
    row("ru decimal plus and blanks", ru, ColumnKind::Decimal, u" +7 "_s, u"7"_s);
    row("ru decimal no integer part", ru, ColumnKind::Decimal, u",5"_s, u".5"_s);
    // What the locale's form cannot read goes as typed: the server accepts it or says why.
    row("ru decimal with a point", ru, ColumnKind::Decimal, u"12.5"_s, u"12.5"_s);
    row("ru decimal grouped", ru, ColumnKind::Decimal, u"1 234,5"_s, u"1 234,5"_s);
    row("ru decimal exponent", ru, ColumnKind::Decimal, u"1,5E3"_s, u"1,5E3"_s);
    row("ru decimal letters", ru, ColumnKind::Decimal, u"abc"_s, u"abc"_s);
    row("ru decimal sign alone", ru, ColumnKind::Decimal, u"-"_s, u"-"_s);
    row("ru float", ru, ColumnKind::Float, u"0,1"_s, u"0.1"_s);
    row("ru float exponent", ru, ColumnKind::Float, u"-2,5e-7"_s, u"-2.5E-7"_s);
    row("ru float Cyrillic exponent", ru, ColumnKind::Float, u"1,5Е3"_s, u"1.5E3"_s);
    row("ru float exponent without digits", ru, ColumnKind::Float, u"1e"_s, u"1e"_s);
    row("ru real", ru, ColumnKind::Real, u"3,14"_s, u"3.14"_s);
    row("ru integer as typed", ru, ColumnKind::Integer, u"1,5"_s, u"1,5"_s);
    row("ru text as typed", ru, ColumnKind::Text, u"05.02.2024"_s, u"05.02.2024"_s);
    row("ru date", ru, ColumnKind::Date, u"05.02.2024"_s, u"2024-02-05"_s);
    row("ru date short fields", ru, ColumnKind::Date, u"5.2.2024"_s, u"2024-02-05"_s);
    row("ru date two-digit year", ru, ColumnKind::Date, u"05.02.24"_s, u"2024-02-05"_s);
    row("ru date two-digit year last century", ru, ColumnKind::Date, u"05.02.45"_s,
        u"1945-02-05"_s);
    row("ru date impossible", ru, ColumnKind::Date, u"31.02.2024"_s, u"31.02.2024"_s);
    row("ru date three-digit year", ru, ColumnKind::Date, u"05.02.202"_s, u"05.02.202"_s);
    row("ru date in the server's form", ru, ColumnKind::Date, u"2024-02-05"_s, u"2024-02-05"_s);
    row("ru datetime", ru, ColumnKind::DateTime, u"05.02.2024 10:15:00"_s,
        u"2024-02-05 10:15:00.000"_s);
    row("ru datetime without seconds", ru, ColumnKind::DateTime, u"05.02.2024 10:15"_s,
        u"2024-02-05 10:15:00.000"_s);
    row("ru datetime date alone", ru, ColumnKind::DateTime, u"05.02.2024"_s,
        u"2024-02-05 00:00:00.000"_s);
    row("ru datetime fraction", ru, ColumnKind::DateTime, u"05.02.2024 10:15:00,123"_s,
        u"2024-02-05 10:15:00.123"_s);
    row("ru datetime fraction with a point", ru, ColumnKind::DateTime, u"05.02.2024 10:15:00.5"_s,
        u"2024-02-05 10:15:00.500"_s);
    row("ru datetime seven digits", ru, ColumnKind::DateTime, u"05.02.2024 10:15:00,1234567"_s,
        u"2024-02-05 10:15:00.1234567"_s);
    row("ru datetime eight digits", ru, ColumnKind::DateTime, u"05.02.2024 10:15:00,12345678"_s,
        u"05.02.2024 10:15:00,12345678"_s);
    row("ru datetime hour 25", ru, ColumnKind::DateTime, u"05.02.2024 25:00:00"_s,
        u"05.02.2024 25:00:00"_s);
    row("ru datetime trailing words", ru, ColumnKind::DateTime, u"05.02.2024 10:15:00 утра"_s,
        u"05.02.2024 10:15:00 утра"_s);
    row("ru datetime no blank", ru, ColumnKind::DateTime, u"05.02.202410:15"_s,
        u"05.02.202410:15"_s);
    row("ru time", ru, ColumnKind::Time, u"10:15"_s, u"10:15:00"_s);
    row("ru time fraction", ru, ColumnKind::Time, u"9:05:07,1234567"_s, u"09:05:07.1234567"_s);
    row("ru datetimeoffset", ru, ColumnKind::DateTimeOffset, u"05.02.2024 10:15:00 +03:00"_s,
        u"2024-02-05 10:15:00 +03:00"_s);
    row("ru datetimeoffset without offset", ru, ColumnKind::DateTimeOffset,
        u"05.02.2024 10:15:00"_s, u"05.02.2024 10:15:00"_s);

    const QString en = u"en_US"_s;
    row("en decimal", en, ColumnKind::Decimal, u"12.5"_s, u"12.5"_s);
    row("en decimal grouped", en, ColumnKind::Decimal, u"1,234.5"_s, u"1,234.5"_s);
    row("en date", en, ColumnKind::Date, u"2/5/2024"_s, u"2024-02-05"_s);
    row("en datetime pm", en, ColumnKind::DateTime, u"2/5/2024 2:15:00 PM"_s,
        u"2024-02-05 14:15:00.000"_s);
    row("en datetime midnight lower case", en, ColumnKind::DateTime, u"2/5/2024 12:00:00 am"_s,
        u"2024-02-05 00:00:00.000"_s);
    row("en datetime 24-hour without marker", en, ColumnKind::DateTime, u"2/5/2024 14:15"_s,
        u"2024-02-05 14:15:00.000"_s);
    row("en datetime hour 13 pm", en, ColumnKind::DateTime, u"2/5/2024 13:15 PM"_s,
        u"2/5/2024 13:15 PM"_s);

    const QString c = u"C"_s;
    row("C date as typed", c, ColumnKind::Date, u"05.02.2024"_s, u"05.02.2024"_s);
    row("C decimal as typed", c, ColumnKind::Decimal, u"12,5"_s, u"12,5"_s);
}

void TestFieldFormat::toServer()
{
    QFETCH(QString, locale);
    QFETCH(ColumnKind, kind);
    QFETCH(QString, typed);
    QFETCH(QString, server);
    QCOMPARE(FieldFormat(QLocale(locale)).toServer(kind, typed), server);
}

// Parameters the server reads alike under every DATEFORMAT.
void TestFieldFormat::languageNeutral_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("parameter");
    QTest::newRow("datetime") << u"2024-02-05 10:15:00.123"_s << u"2024-02-05T10:15:00.123"_s;
    QTest::newRow("smalldatetime") << u"2024-02-05 10:15:00"_s << u"2024-02-05T10:15:00"_s;
    QTest::newRow("datetime2") << u"2024-02-05 10:15:00.1234567"_s
                               << u"2024-02-05T10:15:00.1234567"_s;
    QTest::newRow("already neutral") << u"2024-02-05T10:15:00"_s << u"2024-02-05T10:15:00"_s;
    QTest::newRow("typed text the server is to refuse")
        << u"05.02.2024 10:15"_s << u"05.02.2024 10:15"_s;
}

void TestFieldFormat::languageNeutral()
{
    QFETCH(QString, server);
    QFETCH(QString, parameter);
    QCOMPARE(FieldFormat::languageNeutral(server), parameter);
}

// Whatever the grid shows can be typed back: each locale's form reads as the same value.
void TestFieldFormat::shownFormReadsBack_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<ColumnKind>("kind");
    QTest::addColumn<QString>("server");

    const QList<std::pair<ColumnKind, QString>> values{
        {ColumnKind::Decimal, u"-12345.6789"_s},
        {ColumnKind::Date, u"2024-12-25"_s},
        {ColumnKind::Date, u"1753-01-01"_s},
        {ColumnKind::DateTime, u"2024-02-05 00:00:00.000"_s},
        {ColumnKind::DateTime, u"2024-12-25 12:30:59.997"_s},
        {ColumnKind::DateTime, u"2024-12-25 23:05:09.1234567"_s},
        {ColumnKind::Time, u"00:00:01.5"_s},
        {ColumnKind::Time, u"12:00:00"_s},
        {ColumnKind::DateTimeOffset, u"2024-12-25 23:05:09.25 -08:00"_s},
    };
    for (const char* locale : {"ru_RU", "en_US", "en_GB", "de_DE", "uk_UA", "fi_FI", "sv_SE",
                               "ja_JP", "zh_CN", "ko_KR", "hu_HU", "bg_BG", "ar_EG", "fa_IR"}) {
        for (const auto& [kind, server] : values)
            QTest::addRow("%s %s", locale, qPrintable(server))
                << QString::fromLatin1(locale) << kind << server;
    }
}

void TestFieldFormat::shownFormReadsBack()
{
    QFETCH(QString, locale);
    QFETCH(ColumnKind, kind);
    QFETCH(QString, server);
    const FieldFormat format{QLocale(locale)};
    QCOMPARE(format.toServer(kind, format.display(kind, server)), server);
}

void TestFieldFormat::floatingShownFormReadsBack_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<ColumnKind>("kind");
    QTest::addColumn<QString>("server");

    for (const char* locale : {"ru_RU", "en_US", "de_DE", "uk_UA"}) {
        for (const char* value : {"0.10000000000000001", "-2.4999999999999999e-07",
                                  "1.7976931348623157e+308", "4.9406564584124654e-324"})
            QTest::addRow("%s float %s", locale, value)
                << QString::fromLatin1(locale) << ColumnKind::Float << QString::fromLatin1(value);
        for (const char* value : {"0.100000001", "3.40282347e+38", "16777216"})
            QTest::addRow("%s real %s", locale, value)
                << QString::fromLatin1(locale) << ColumnKind::Real << QString::fromLatin1(value);
    }
}

void TestFieldFormat::floatingShownFormReadsBack()
{
    QFETCH(QString, locale);
    QFETCH(ColumnKind, kind);
    QFETCH(QString, server);
    const FieldFormat format{QLocale(locale)};
    const QString back = format.toServer(kind, format.display(kind, server));
    if (kind == ColumnKind::Real)
        QCOMPARE(static_cast<float>(parsed(back)), static_cast<float>(parsed(server)));
    else
        QCOMPARE(parsed(back), parsed(server));
}

// The locale's patterns are written as Qt itself writes them (padding, 12-hour clock, AM/PM).
void TestFieldFormat::formattingAgreesWithQt_data()
{
    QTest::addColumn<QString>("locale");
    for (const char* locale :
         {"ru_RU", "en_US", "en_GB", "de_DE", "fr_FR", "fi_FI", "ja_JP", "ko_KR", "hu_HU", "nl_NL"})
        QTest::newRow(locale) << QString::fromLatin1(locale);
}

void TestFieldFormat::formattingAgreesWithQt()
{
    QFETCH(QString, locale);
    const QLocale qt(locale);
    const FieldFormat format(qt);
    const QString pattern = format.datePattern() + u' ' + format.timePattern();
    for (const QDateTime& moment : {QDateTime(QDate(2024, 2, 5), QTime(0, 5, 9)),
                                    QDateTime(QDate(1999, 12, 31), QTime(23, 59, 0)),
                                    QDateTime(QDate(2024, 11, 25), QTime(12, 0, 0))}) {
        const QString server = moment.toString(u"yyyy-MM-dd HH:mm:ss"_s);
        QCOMPARE(format.display(ColumnKind::DateTime, server), qt.toString(moment, pattern));
    }
}

QTEST_GUILESS_MAIN(TestFieldFormat)
#include "tst_fieldformat.moc"
