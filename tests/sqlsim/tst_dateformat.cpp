// SET DATEFORMAT as a client of the simulator meets it through FreeTDS's driver: text that
// converts to datetime or smalldatetime names its numeric parts in the session's order, so that
// under dmy "2024-02-05" is the 2nd of May, whether the text is a literal, a variable or a
// parameter, and wherever it converts (CAST, comparison, INSERT, UPDATE, assignment). ISO 8601
// with T, unseparated yyyymmdd, month names and, for a year in front, date and datetime2 read
// alike under every order. A SET DATEFORMAT inside a procedure or dynamic SQL lasts until it
// returns.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// The date part of a datetime expression as text, in one style whatever the type.
QString day(const QString& expression)
{
    return u"SELECT CONVERT(varchar(10), %1, 23)"_s.arg(expression);
}

QString outOfRange(const QString& from, const QString& to)
{
    return u"The conversion of a %1 data type to a %2 data type resulted in an out-of-range value."_s
        .arg(from, to);
}

const QString notADate =
    u"Conversion failed when converting date and/or time from character string."_s;

// The session's own reading of "2024-02-05" as datetime: which DATEFORMAT is in force.
const QString probe = day(u"CAST('2024-02-05' AS datetime)"_s);

QVariant cell(const OdbcResult& result, int set = 0)
{
    return result.resultSets.value(set).rows.value(0).value(0);
}

} // namespace

class DateFormatTest : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;

    // A new session in the test database, under this DATEFORMAT (set by a batch of its own, as
    // an operator's "SET DATEFORMAT dmy" stays for the session).
    bool session(OdbcClient& client, const QString& format)
    {
        if (!client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"dates"_s))
            return false;
        return client.exec(u"SET DATEFORMAT "_s + format).ok;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        OdbcClient client;
        QVERIFY2(client.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(client.lastError()));
        QVERIFY(client.exec(u"CREATE DATABASE dates"_s).ok);
        QVERIFY(client.exec(u"USE dates"_s).ok);
        for (const QString& sql : {
                 // Rows as the console finds them: no key, every original value in the WHERE.
                 u"CREATE TABLE events (at datetime, at_small smalldatetime, on_day date, "
                 u"at2 datetime2, note nvarchar(30))"_s,
                 u"INSERT INTO events VALUES ('2024-02-05T10:15:00', '2024-02-05T10:15:00', "
                 u"'20240205', '2024-02-05T10:15:00', N'2024-02-05 10:15:00.000')"_s,
                 u"CREATE TABLE w (d datetime, sd smalldatetime, dd date, d2 datetime2)"_s,
                 u"CREATE PROCEDURE in_dmy AS SET DATEFORMAT dmy "_s + probe,
                 u"CREATE PROCEDURE in_dmy_fails AS SET DATEFORMAT dmy "
                 u"SELECT CAST('2024-02-13' AS datetime)"_s,
                 u"CREATE PROCEDURE put_at @at datetime AS INSERT INTO w (d) VALUES (@at)"_s,
             }) {
            const OdbcResult r = client.exec(sql);
            QVERIFY2(r.ok, qPrintable(sql + u": "_s + r.error));
        }
    }

    void cleanupTestCase()
    {
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    // What a batch reads under a DATEFORMAT: one value, as text.
    void reading_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QString>("expected");
        const auto asDatetime = [](const QString& text) {
            return day(u"CAST('%1' AS datetime)"_s.arg(text));
        };
        const QString full =
            u"SELECT CONVERT(varchar(23), CAST('2024-02-05 10:15:00.000' AS datetime), 121)"_s;
        QTest::newRow("mdy: year, month, day") << u"mdy"_s << full << u"2024-02-05 10:15:00.000"_s;
        QTest::newRow("dmy: year, day, month") << u"dmy"_s << full << u"2024-05-02 10:15:00.000"_s;
        // A year in front keeps month and day in the order the setting gives them.
        const QString front = asDatetime(u"2024-02-05"_s);
        QTest::newRow("ymd") << u"ymd"_s << front << u"2024-02-05"_s;
        QTest::newRow("ydm") << u"ydm"_s << front << u"2024-05-02"_s;
        // The examples in SET DATEFORMAT's documentation.
        QTest::newRow("mdy, documented example")
            << u"mdy"_s << asDatetime(u"12/31/1998"_s) << u"1998-12-31"_s;
        QTest::newRow("ydm, documented example")
            << u"ydm"_s << asDatetime(u"1998/31/12"_s) << u"1998-12-31"_s;
        QTest::newRow("ymd, documented example")
            << u"ymd"_s << asDatetime(u"1998/12/31"_s) << u"1998-12-31"_s;
        QTest::newRow("dmy, documented datetime2 example")
            << u"dmy"_s
            << u"DECLARE @datevar datetime2 = '31/12/2008 09:01:01.1234567' "_s + day(u"@datevar"_s)
            << u"2008-12-31"_s;
        QTest::newRow("dmy, slashes") << u"dmy"_s << asDatetime(u"2024/02/05"_s) << u"2024-05-02"_s;
        QTest::newRow("dmy, dots") << u"dmy"_s << asDatetime(u"2024.02.05"_s) << u"2024-05-02"_s;
        QTest::newRow("dmy, day first")
            << u"dmy"_s << asDatetime(u"05.02.2024"_s) << u"2024-02-05"_s;
        QTest::newRow("mdy, month first")
            << u"mdy"_s << asDatetime(u"05.02.2024"_s) << u"2024-05-02"_s;
        QTest::newRow("ymd, year last")
            << u"ymd"_s << asDatetime(u"02/05/2024"_s) << u"2024-02-05"_s;
        // Two-digit years: the setting names every part.
        QTest::newRow("mdy, yy") << u"mdy"_s << asDatetime(u"02/05/24"_s) << u"2024-02-05"_s;
        QTest::newRow("dmy, yy") << u"dmy"_s << asDatetime(u"05/02/24"_s) << u"2024-02-05"_s;
        QTest::newRow("ymd, yy") << u"ymd"_s << asDatetime(u"24/02/05"_s) << u"2024-02-05"_s;
        QTest::newRow("ydm, yy") << u"ydm"_s << asDatetime(u"24/05/02"_s) << u"2024-02-05"_s;
        QTest::newRow("myd, yy") << u"myd"_s << asDatetime(u"02/24/05"_s) << u"2024-02-05"_s;
        QTest::newRow("dym, yy") << u"dym"_s << asDatetime(u"05/24/02"_s) << u"2024-02-05"_s;
        QTest::newRow("dmy, yy of the last century")
            << u"dmy"_s << asDatetime(u"05/02/50"_s) << u"1950-02-05"_s;
        QTest::newRow("dmy, smalldatetime")
            << u"dmy"_s
            << u"SELECT CONVERT(varchar(16), CAST('2024-02-05 10:15' AS smalldatetime), 120)"_s
            << u"2024-05-02 10:15"_s;
        QTest::newRow("dmy, nvarchar")
            << u"dmy"_s << day(u"CAST(N'2024-02-05' AS datetime)"_s) << u"2024-05-02"_s;
        // Forms every setting reads alike.
        QTest::newRow("dmy, ISO 8601 with T")
            << u"dmy"_s
            << u"SELECT CONVERT(varchar(23), CAST('2024-02-05T10:15:00.123' AS datetime), 121)"_s
            << u"2024-02-05 10:15:00.123"_s;
        QTest::newRow("dmy, unseparated")
            << u"dmy"_s << u"SELECT CONVERT(varchar(23), CAST('20240205 10:15' AS datetime), 121)"_s
            << u"2024-02-05 10:15:00.000"_s;
        QTest::newRow("dmy, month name")
            << u"dmy"_s << asDatetime(u"Feb 5 2024"_s) << u"2024-02-05"_s;
        QTest::newRow("ydm, day and month name")
            << u"ydm"_s << asDatetime(u"5 February 2024"_s) << u"2024-02-05"_s;
        QTest::newRow("dmy, date")
            << u"dmy"_s << day(u"CAST('2024-02-05' AS date)"_s) << u"2024-02-05"_s;
        QTest::newRow("dmy, date with slashes")
            << u"dmy"_s << day(u"CAST('2024/02/05' AS date)"_s) << u"2024-02-05"_s;
        QTest::newRow("ydm, date")
            << u"ydm"_s << day(u"CAST('2024-02-05' AS date)"_s) << u"2024-02-05"_s;
        QTest::newRow("dmy, date day first")
            << u"dmy"_s << day(u"CAST('05/02/2024' AS date)"_s) << u"2024-02-05"_s;
        QTest::newRow("dmy, datetime2")
            << u"dmy"_s << day(u"CAST('2024-02-05 10:15:00' AS datetime2)"_s) << u"2024-02-05"_s;
        QTest::newRow("dmy, datetimeoffset")
            << u"dmy"_s << day(u"CAST('2024-02-05 10:15:00 +03:00' AS datetimeoffset)"_s)
            << u"2024-02-05"_s;
        QTest::newRow("dmy, datetimeoffset day first")
            << u"dmy"_s << day(u"CAST('05.02.2024 10:15 -05:00' AS datetimeoffset)"_s)
            << u"2024-02-05"_s;
        QTest::newRow("dmy, time of a date and time")
            << u"dmy"_s
            << u"SELECT CAST(CAST('05/02/2024 10:15:30.1234567' AS time) AS varchar(16))"_s
            << u"10:15:30.1234567"_s;
        // A style names the order; DATEFORMAT is not asked.
        QTest::newRow("mdy, style 103")
            << u"mdy"_s << day(u"CONVERT(datetime, '13/02/2024', 103)"_s) << u"2024-02-13"_s;
        QTest::newRow("dmy, style 101")
            << u"dmy"_s << day(u"CONVERT(datetime, '02/13/2024', 101)"_s) << u"2024-02-13"_s;
        QTest::newRow("dmy, style 120")
            << u"dmy"_s << day(u"CONVERT(datetime, '2024-02-13 10:00:00', 120)"_s)
            << u"2024-02-13"_s;
        QTest::newRow("dmy, style 104")
            << u"mdy"_s << day(u"CONVERT(datetime, '13.02.2024', 104)"_s) << u"2024-02-13"_s;
        // Variables and comparisons convert their text the same way.
        QTest::newRow("dmy, datetime variable from text")
            << u"dmy"_s << u"DECLARE @d datetime = '2024-02-05' "_s + day(u"@d"_s)
            << u"2024-05-02"_s;
        QTest::newRow("dmy, datetime variable from an nvarchar variable")
            << u"dmy"_s
            << u"DECLARE @s nvarchar(30) = N'2024-02-05' DECLARE @d datetime SET @d = @s "_s +
                   day(u"@d"_s)
            << u"2024-05-02"_s;
        QTest::newRow("dmy, SELECT into a datetime variable")
            << u"dmy"_s << u"DECLARE @d datetime SELECT @d = '2024-02-05' "_s + day(u"@d"_s)
            << u"2024-05-02"_s;
        QTest::newRow("dmy, datetime compared with a literal")
            << u"dmy"_s
            << u"SELECT CASE WHEN CAST('20240502' AS datetime) = '2024-02-05' THEN 'equal' "
               u"ELSE 'differ' END"_s
            << u"equal"_s;
        QTest::newRow("dmy, datetime compared with an nvarchar variable")
            << u"dmy"_s
            << u"DECLARE @s nvarchar(30) = N'2024-02-05' SELECT CASE WHEN "
               u"CAST('20240502' AS datetime) = @s THEN 'equal' ELSE 'differ' END"_s
            << u"equal"_s;
        QTest::newRow("mdy, datetime compared with an nvarchar variable")
            << u"mdy"_s
            << u"DECLARE @s nvarchar(30) = N'2024-02-05' SELECT CASE WHEN "
               u"CAST('20240502' AS datetime) = @s THEN 'equal' ELSE 'differ' END"_s
            << u"differ"_s;
        // DATEPART reads text as datetime2, DATEADD as datetime.
        QTest::newRow("dmy, DATEPART")
            << u"dmy"_s << u"SELECT DATEPART(month, '2024-02-05')"_s << u"2"_s;
        QTest::newRow("dmy, MONTH") << u"dmy"_s << u"SELECT MONTH('2024-02-05')"_s << u"2"_s;
        QTest::newRow("dmy, DATEDIFF")
            << u"dmy"_s << u"SELECT DATEDIFF(day, '2024-02-05', '2024-02-06')"_s << u"1"_s;
        QTest::newRow("dmy, DATEADD")
            << u"dmy"_s << day(u"DATEADD(day, 1, '2024-02-05')"_s) << u"2024-05-03"_s;
        QTest::newRow("dmy, ISDATE of a day 13 as month")
            << u"dmy"_s << u"SELECT ISDATE('2024-02-13')"_s << u"0"_s;
        QTest::newRow("dmy, ISDATE of a month 13 as day")
            << u"dmy"_s << u"SELECT ISDATE('2024-13-02')"_s << u"1"_s;
        QTest::newRow("mdy, ISDATE") << u"mdy"_s << u"SELECT ISDATE('2024-02-13')"_s << u"1"_s;
        QTest::newRow("SET DATEFORMAT from a variable")
            << u"mdy"_s << u"DECLARE @f varchar(3) = 'dmy' SET DATEFORMAT @f "_s + probe
            << u"2024-05-02"_s;
    }

    void reading()
    {
        QFETCH(QString, format);
        QFETCH(QString, batch);
        QFETCH(QString, expected);
        OdbcClient client;
        QVERIFY2(session(client, format), qPrintable(client.lastError()));
        const OdbcResult r = client.exec(batch);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r).toString(), expected);
    }

    // A day that does not exist: 242 for datetime and smalldatetime, naming the text's type;
    // date and datetime2 say only that the text is no date (241).
    void refused_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        const QString varcharToDatetime = outOfRange(u"varchar"_s, u"datetime"_s);
        QTest::newRow("dmy, month 13")
            << u"dmy"_s << u"SELECT CAST('2024-02-13' AS datetime)"_s << 242 << varcharToDatetime;
        QTest::newRow("dmy, month 13 in nvarchar")
            << u"dmy"_s << u"SELECT CAST(N'2024-02-13' AS datetime)"_s << 242
            << outOfRange(u"nvarchar"_s, u"datetime"_s);
        QTest::newRow("dmy, smalldatetime")
            << u"dmy"_s << u"SELECT CAST('2024-02-13 10:15' AS smalldatetime)"_s << 242
            << outOfRange(u"varchar"_s, u"smalldatetime"_s);
        QTest::newRow("mdy, day first")
            << u"mdy"_s << u"SELECT CAST('13/02/2024' AS datetime)"_s << 242 << varcharToDatetime;
        QTest::newRow("mdy, day first with dots")
            << u"mdy"_s << u"SELECT CAST('31.02.2024' AS datetime)"_s << 242 << varcharToDatetime;
        QTest::newRow("mdy, 30 February")
            << u"mdy"_s << u"SELECT CAST('2024-02-30' AS datetime)"_s << 242 << varcharToDatetime;
        QTest::newRow("dmy, nvarchar variable")
            << u"dmy"_s
            << u"DECLARE @s nvarchar(30) = N'2024-02-13' DECLARE @d datetime = @s SELECT @d"_s
            << 242 << outOfRange(u"nvarchar"_s, u"datetime"_s);
        QTest::newRow("dmy, date month 13")
            << u"dmy"_s << u"SELECT CAST('2024-13-02' AS date)"_s << 241 << notADate;
        QTest::newRow("mdy, date day first")
            << u"mdy"_s << u"SELECT CAST('13/02/2024' AS date)"_s << 241 << notADate;
        QTest::newRow("dmy, documented datetime2 example")
            << u"dmy"_s << u"DECLARE @datevar datetime2 = '12/31/2008 09:01:01.1234567'"_s << 241
            << notADate;
        QTest::newRow("no date") << u"dmy"_s << u"SELECT CAST('2024-02-05x' AS datetime)"_s << 241
                                 << notADate;
        QTest::newRow("unknown order from a variable")
            << u"mdy"_s << u"DECLARE @f varchar(3) = 'xyz' SET DATEFORMAT @f"_s << 2741
            << u"SET DATEFORMAT date order 'xyz' not supported."_s;
    }

    void refused()
    {
        QFETCH(QString, format);
        QFETCH(QString, batch);
        QFETCH(int, number);
        QFETCH(QString, text);
        OdbcClient client;
        QVERIFY2(session(client, format), qPrintable(client.lastError()));
        const OdbcResult r = client.exec(batch);
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, number);
        QCOMPARE(serverText(r.error), text);
    }

    // The console's write-back: a parameterised statement (sp_executesql through FreeTDS) finds
    // a row by its original values sent as text, under the session's DATEFORMAT unless the
    // batch sets its own.
    void findByText_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QString>("value");
        QTest::addColumn<qint64>("rows"); // -1: refused with 242
        const QString byAt = u"UPDATE events SET note = note WHERE at = ?"_s;
        const QString console = u"2024-02-05 10:15:00.000"_s;
        QTest::newRow("mdy") << u"mdy"_s << byAt << console << qint64(1);
        QTest::newRow("dmy") << u"dmy"_s << byAt << console << qint64(0);
        QTest::newRow("dmy, text that reads as the row's day")
            << u"dmy"_s << byAt << u"2024-05-02 10:15:00.000"_s << qint64(1);
        QTest::newRow("dmy, day 13")
            << u"dmy"_s << byAt << u"2024-02-13 10:15:00.000"_s << qint64(-1);
        QTest::newRow("dmy, ISO 8601") << u"dmy"_s << byAt << u"2024-02-05T10:15:00"_s << qint64(1);
        QTest::newRow("dmy, unseparated") << u"dmy"_s << byAt << u"20240205 10:15"_s << qint64(1);
        QTest::newRow("dmy, ymd set in the batch")
            << u"dmy"_s << u"SET DATEFORMAT ymd; "_s + byAt << console << qint64(1);
        QTest::newRow("dmy, smalldatetime")
            << u"dmy"_s << u"UPDATE events SET note = note WHERE at_small = ?"_s << console
            << qint64(0);
        QTest::newRow("mdy, smalldatetime")
            << u"mdy"_s << u"UPDATE events SET note = note WHERE at_small = ?"_s << console
            << qint64(1);
        QTest::newRow("dmy, date")
            << u"dmy"_s << u"UPDATE events SET note = note WHERE on_day = ?"_s << u"2024-02-05"_s
            << qint64(1);
        QTest::newRow("dmy, datetime2")
            << u"dmy"_s << u"UPDATE events SET note = note WHERE at2 = ?"_s << console << qint64(1);
        QTest::newRow("dmy, BETWEEN")
            << u"dmy"_s << u"UPDATE events SET note = note WHERE at BETWEEN ? AND '20241231'"_s
            << u"2024-03-02"_s << qint64(1); // the 3rd of February
        QTest::newRow("dmy, IN") << u"dmy"_s << u"UPDATE events SET note = note WHERE at IN (?)"_s
                                 << u"2024-05-02 10:15"_s << qint64(1);
        QTest::newRow("dmy, text column")
            << u"dmy"_s << u"UPDATE events SET note = note WHERE at = note AND note = ?"_s
            << console << qint64(0);
        QTest::newRow("mdy, text column")
            << u"mdy"_s << u"UPDATE events SET note = note WHERE at = note AND note = ?"_s
            << console << qint64(1);
    }

    void findByText()
    {
        QFETCH(QString, format);
        QFETCH(QString, statement);
        QFETCH(QString, value);
        QFETCH(qint64, rows);
        OdbcClient client;
        QVERIFY2(session(client, format), qPrintable(client.lastError()));
        const OdbcResult r = client.execParams(statement, {value});
        if (rows < 0) {
            QVERIFY(!r.ok);
            QCOMPARE(r.nativeError, 242);
            QCOMPARE(serverText(r.error), outOfRange(u"nvarchar"_s, u"datetime"_s));
            return;
        }
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.rowCounts.value(r.rowCounts.size() - 1), rows);
        // The batch's own SET ends with it; the session's stays.
        const OdbcResult after = client.exec(probe);
        QCOMPARE(cell(after).toString(), format == u"mdy"_s ? u"2024-02-05"_s : u"2024-05-02"_s);
    }

    // What INSERT, UPDATE, assignments and procedure parameters store from text.
    void stored_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("statement");
        QTest::addColumn<QVariant>("value"); // bound to "?" when not null
        QTest::addColumn<QString>("column"); // read back as text
        QTest::addColumn<QString>("expected");
        const QVariant console = u"2024-02-05 10:15:00.000"_s;
        const QString d = u"CONVERT(varchar(23), d, 121)"_s;
        QTest::newRow("dmy, INSERT literal")
            << u"dmy"_s << u"INSERT INTO w (d) VALUES ('2024-02-05 10:15:00.000')"_s << QVariant()
            << d << u"2024-05-02 10:15:00.000"_s;
        QTest::newRow("dmy, INSERT parameter") << u"dmy"_s << u"INSERT INTO w (d) VALUES (?)"_s
                                               << console << d << u"2024-05-02 10:15:00.000"_s;
        QTest::newRow("mdy, INSERT parameter") << u"mdy"_s << u"INSERT INTO w (d) VALUES (?)"_s
                                               << console << d << u"2024-02-05 10:15:00.000"_s;
        QTest::newRow("dmy, INSERT SELECT parameter")
            << u"dmy"_s << u"INSERT INTO w (d) SELECT ?"_s << console << d
            << u"2024-05-02 10:15:00.000"_s;
        QTest::newRow("dmy, INSERT SELECT datetime column")
            << u"dmy"_s << u"INSERT INTO w (d) SELECT at FROM events"_s << QVariant() << d
            << u"2024-02-05 10:15:00.000"_s;
        QTest::newRow("dmy, INSERT SELECT text column")
            << u"dmy"_s << u"INSERT INTO w (d) SELECT note FROM events"_s << QVariant() << d
            << u"2024-05-02 10:15:00.000"_s;
        QTest::newRow("dmy, UPDATE parameter")
            << u"dmy"_s << u"INSERT INTO w (d) VALUES ('20240101') UPDATE w SET d = ?"_s << console
            << d << u"2024-05-02 10:15:00.000"_s;
        QTest::newRow("dmy, ymd set in the batch")
            << u"dmy"_s
            << u"INSERT INTO w (d) VALUES ('20240101') SET DATEFORMAT ymd; UPDATE w SET d = ?"_s
            << console << d << u"2024-02-05 10:15:00.000"_s;
        QTest::newRow("dmy, variable")
            << u"dmy"_s << u"DECLARE @d datetime = ? INSERT INTO w (d) VALUES (@d)"_s << console
            << d << u"2024-05-02 10:15:00.000"_s;
        QTest::newRow("dmy, procedure parameter")
            << u"dmy"_s << u"EXEC put_at ?"_s << console << d << u"2024-05-02 10:15:00.000"_s;
        QTest::newRow("dmy, ISO 8601 parameter")
            << u"dmy"_s << u"INSERT INTO w (d) VALUES (?)"_s << QVariant(u"2024-02-05T10:15:00"_s)
            << d << u"2024-02-05 10:15:00.000"_s;
        QTest::newRow("dmy, smalldatetime")
            << u"dmy"_s << u"INSERT INTO w (sd) VALUES (?)"_s << console
            << u"CONVERT(varchar(16), sd, 120)"_s << u"2024-05-02 10:15"_s;
        QTest::newRow("dmy, date")
            << u"dmy"_s << u"INSERT INTO w (dd) VALUES (?)"_s << QVariant(u"2024-02-05"_s)
            << u"CONVERT(varchar(10), dd, 23)"_s << u"2024-02-05"_s;
        QTest::newRow("dmy, datetime2") << u"dmy"_s << u"INSERT INTO w (d2) VALUES (?)"_s << console
                                        << u"CONVERT(varchar(10), d2, 23)"_s << u"2024-02-05"_s;
    }

    void stored()
    {
        QFETCH(QString, format);
        QFETCH(QString, statement);
        QFETCH(QVariant, value);
        QFETCH(QString, column);
        QFETCH(QString, expected);
        OdbcClient client;
        QVERIFY2(session(client, format), qPrintable(client.lastError()));
        QVERIFY(client.exec(u"DELETE FROM w"_s).ok);
        const OdbcResult r =
            value.isNull() ? client.exec(statement) : client.execParams(statement, {value});
        QVERIFY2(r.ok, qPrintable(r.error));
        const OdbcResult read = client.exec(u"SELECT "_s + column + u" FROM w"_s);
        QVERIFY2(read.ok, qPrintable(read.error));
        QCOMPARE(flatten(read.resultSets.value(0)), QStringList{expected});
    }

    // SET DATEFORMAT in a procedure or in dynamic SQL holds until that returns, also when it
    // fails; in the session's own batch it stays.
    void scope_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QVariant>("value"); // bound to "?" when not null
        QTest::addColumn<QString>("inside"); // the batch's last value; empty: none expected
        QTest::addColumn<QString>("after");  // the session's reading afterwards
        const QString nested = u"SET DATEFORMAT dmy "_s + probe;
        QString quoted = nested;
        quoted.replace(u"'"_s, u"''"_s);
        QTest::newRow("EXEC of a string")
            << u"EXEC('%1')"_s.arg(quoted) << QVariant() << u"2024-05-02"_s << u"2024-02-05"_s;
        QTest::newRow("sp_executesql") << u"EXEC sp_executesql N'%1'"_s.arg(quoted) << QVariant()
                                       << u"2024-05-02"_s << u"2024-02-05"_s;
        QTest::newRow("procedure")
            << u"EXEC in_dmy"_s << QVariant() << u"2024-05-02"_s << u"2024-02-05"_s;
        QTest::newRow("procedure that fails")
            << u"EXEC in_dmy_fails"_s << QVariant() << QString() << u"2024-02-05"_s;
        QTest::newRow("parameterised batch")
            << u"SET DATEFORMAT dmy; SELECT CONVERT(varchar(10), CAST(? AS datetime), 23)"_s
            << QVariant(u"2024-02-05"_s) << u"2024-05-02"_s << u"2024-02-05"_s;
        QTest::newRow("batch") << nested << QVariant() << u"2024-05-02"_s << u"2024-05-02"_s;
        // in_dmy gives back ydm, under which 24/05/02 is the 5th of February 2024 (2002 in dmy).
        QTest::newRow("procedure inside dynamic SQL")
            << u"EXEC('SET DATEFORMAT ydm EXEC in_dmy "_s +
                   day(u"CAST(''24/05/02'' AS datetime)"_s) + u"')"_s
            << QVariant() << u"2024-02-05"_s << u"2024-02-05"_s;
    }

    void scope()
    {
        QFETCH(QString, batch);
        QFETCH(QVariant, value);
        QFETCH(QString, inside);
        QFETCH(QString, after);
        OdbcClient client;
        QVERIFY2(session(client, u"mdy"_s), qPrintable(client.lastError()));
        const OdbcResult r =
            value.isNull() ? client.exec(batch) : client.execParams(batch, {value});
        if (inside.isEmpty()) {
            QVERIFY(!r.ok);
        } else {
            QVERIFY2(r.ok, qPrintable(r.error));
            QCOMPARE(r.resultSets.constLast().rows.value(0).value(0).toString(), inside);
        }
        const OdbcResult next = client.exec(probe);
        QVERIFY2(next.ok, qPrintable(next.error));
        QCOMPARE(cell(next).toString(), after);
    }
};

QTEST_GUILESS_MAIN(DateFormatTest)
#include "tst_dateformat.moc"
