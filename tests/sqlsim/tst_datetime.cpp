// date, time(n), datetime2(n) and datetimeoffset(n) as a client of the simulator meets them
// through FreeTDS's driver: their own ODBC types, SQL Server's rounding to the scale and its
// ranges, CONVERT's styles, and comparisons of a parameter with a column of each type by data
// type precedence (a string converts to the column's type; datetime meets datetime2 exactly;
// datetimeoffset compares by its UTC instant).
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QtTest>
#include <sql.h>
#include <sqlext.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int sqlTypeDate = 91;
constexpr int sqlTypeTimestamp = 93;
constexpr int sqlSsTime2 = -154;
constexpr int sqlSsTimestampOffset = -155;

QVariant cell(const OdbcResult& result)
{
    return result.resultSets.value(0).rows.value(0).value(0);
}

} // namespace

class DateTimeTest : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;
    OdbcClient m_client;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY2(m_client.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(m_client.lastError()));
        for (const QString& sql : {
                 u"CREATE DATABASE dates"_s,
                 u"USE dates"_s,
                 u"CREATE TABLE one (d date, t time(3), d2 datetime2(7), dto datetimeoffset(0), "
                 u"dt datetime, sd smalldatetime)"_s,
                 u"INSERT INTO one VALUES ('2024-02-05', '10:15:00.123', "
                 u"'2024-02-05 10:15:00.1234567', '2024-02-05 10:15:00 +03:00', "
                 u"'2024-02-05 10:15:00.003', '2024-02-05 10:15:29.999')"_s,
                 u"CREATE TABLE zones (id int, at datetimeoffset(0))"_s,
                 u"INSERT INTO zones VALUES (1, '2024-02-05 10:00 +03:00'), "
                 u"(2, '2024-02-05 08:30 +00:00'), (3, '2024-02-05 09:00 +05:00')"_s,
             }) {
            const OdbcResult r = m_client.exec(sql);
            QVERIFY2(r.ok, qPrintable(sql + u": "_s + r.error));
        }
    }

    void cleanupTestCase()
    {
        m_client.disconnect();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    // One value, as the driver reads it into text, and its ODBC type.
    void conversions_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("sqlType");
        const auto row = [](const char* tag, const QString& e, const QString& v, int type) {
            QTest::newRow(tag) << e << v << type;
        };
        row("datetime2 rounds to its scale",
            u"CAST('2024-02-05 10:15:00.1234567' AS datetime2(3))"_s, u"2024-02-05 10:15:00.123"_s,
            sqlTypeTimestamp);
        row("half a unit rounds up", u"CAST('2024-02-05 10:15:00.9999999' AS datetime2(0))"_s,
            u"2024-02-05 10:15:01"_s, sqlTypeTimestamp);
        row("into the next day", u"CAST('2024-02-05 23:59:59.9999999' AS datetime2(6))"_s,
            u"2024-02-06 00:00:00.000000"_s, sqlTypeTimestamp);
        row("datetime2 defaults to 7 digits", u"CAST('2024-02-05T10:15:00.5' AS datetime2)"_s,
            u"2024-02-05 10:15:00.5000000"_s, sqlTypeTimestamp);
        row("time rounds to its scale", u"CAST('10:15:00.1235' AS time(3))"_s, u"10:15:00.124"_s,
            sqlSsTime2);
        row("time(0) of half a second", u"CAST('12:00:00.5' AS time(0))"_s, u"12:00:01"_s,
            sqlSsTime2);
        row("time(0) under half a second", u"CAST('12:00:00.4999999' AS time(0))"_s, u"12:00:00"_s,
            sqlSsTime2);
        row("time(7) keeps 100 ns", u"CAST('00:00:00.0000001' AS time)"_s, u"00:00:00.0000001"_s,
            sqlSsTime2);
        // 29.998 seconds round down to the minute, 29.999 up (smalldatetime page's example).
        row("smalldatetime down", u"CAST('2007-05-08 12:35:29.998' AS smalldatetime)"_s,
            u"2007-05-08 12:35:00"_s, sqlTypeTimestamp);
        row("smalldatetime up", u"CAST('2007-05-08 12:35:29.999' AS smalldatetime)"_s,
            u"2007-05-08 12:36:00"_s, sqlTypeTimestamp);
        row("smalldatetime of a datetime2",
            u"CAST(CAST('2024-02-05 23:59:30' AS datetime2) AS smalldatetime)"_s,
            u"2024-02-06 00:00:00"_s, sqlTypeTimestamp);
        row("time of a datetime2",
            u"CAST(CAST('2024-02-05 10:15:00.1234567' AS datetime2) AS time)"_s,
            u"10:15:00.1234567"_s, sqlSsTime2);
        row("date of a datetime2", u"CAST(CAST('2024-02-05 10:15:00' AS datetime2) AS date)"_s,
            u"2024-02-05"_s, sqlTypeDate);
        row("first day", u"CONVERT(varchar(10), CAST('0001-01-01' AS date), 23)"_s, u"0001-01-01"_s,
            SQL_VARCHAR);
        row("last instant", u"CAST('9999-12-31 23:59:59.9999999' AS datetime2)"_s,
            u"9999-12-31 23:59:59.9999999"_s, sqlTypeTimestamp);
        // From compatibility level 130 on datetime's 1/300 second stays exact.
        row("datetime .003 in datetime2",
            u"CAST(CAST('2024-02-05 10:15:00.003' AS datetime) AS datetime2)"_s,
            u"2024-02-05 10:15:00.0033333"_s, sqlTypeTimestamp);
        row("datetime .007 in datetime2(4)",
            u"CAST(CAST('2024-02-05 10:15:00.007' AS datetime) AS datetime2(4))"_s,
            u"2024-02-05 10:15:00.0067"_s, sqlTypeTimestamp);
        row("datetime2 into datetime",
            u"CAST(CAST('2024-02-05 10:15:00.0016667' AS datetime2) AS datetime)"_s,
            u"2024-02-05 10:15:00.003"_s, sqlTypeTimestamp);
        row("datetimeoffset keeps its offset",
            u"CAST('2024-02-05 10:15:00.1234567 +03:00' AS datetimeoffset)"_s,
            u"2024-02-05 10:15:00.1234567 +03:00"_s, sqlSsTimestampOffset);
        row("datetimeoffset of a datetime2",
            u"CAST(CAST('2024-02-05 10:15' AS datetime2(0)) AS datetimeoffset(0))"_s,
            u"2024-02-05 10:15:00 +00:00"_s, sqlSsTimestampOffset);
        row("datetime2 of a datetimeoffset",
            u"CAST(CAST('2024-02-05 10:15 -05:00' AS datetimeoffset) AS datetime2(0))"_s,
            u"2024-02-05 10:15:00"_s, sqlTypeTimestamp);
        row("style 120", u"CONVERT(varchar(30), CAST('2024-02-05 10:15:00.5' AS datetime2), 120)"_s,
            u"2024-02-05 10:15:00"_s, SQL_VARCHAR);
        row("style 121", u"CONVERT(varchar(30), CAST('2024-02-05 10:15:00.5' AS datetime2), 121)"_s,
            u"2024-02-05 10:15:00.5000000"_s, SQL_VARCHAR);
        row("style 126",
            u"CONVERT(varchar(30), CAST('2024-02-05 10:15:00.5' AS datetime2(3)), 126)"_s,
            u"2024-02-05T10:15:00.500"_s, SQL_VARCHAR);
        row("style 127 in UTC",
            u"CONVERT(varchar(40), CAST('2024-02-05 10:15:00.5 +03:00' AS datetimeoffset(1)), 127)"_s,
            u"2024-02-05T07:15:00.5Z"_s, SQL_VARCHAR);
        row("datetimeoffset as text",
            u"CAST(CAST('2024-02-05T10:15:00Z' AS datetimeoffset(2)) AS varchar(40))"_s,
            u"2024-02-05 10:15:00.00 +00:00"_s, SQL_VARCHAR);
        row("time as text", u"CAST(CAST('10:15' AS time(1)) AS nvarchar(20))"_s, u"10:15:00.0"_s,
            SQL_WVARCHAR);
        // The forms the console writes back: style 121 with every digit of the type, and the
        // offset after a blank.
        row("style 121 of datetimeoffset(7)",
            u"CONVERT(nvarchar(40), CAST('2024-02-05 10:15:00.1234567 +03:00' AS "
            u"datetimeoffset), 121)"_s,
            u"2024-02-05 10:15:00.1234567 +03:00"_s, SQL_WVARCHAR);
        row("style 121 of time(7)", u"CONVERT(varchar(20), CAST('10:15' AS time), 121)"_s,
            u"10:15:00.0000000"_s, SQL_VARCHAR);
        row("style 23 of datetime2",
            u"CONVERT(varchar(10), CAST('2024-02-05 10:15' AS datetime2), 23)"_s, u"2024-02-05"_s,
            SQL_VARCHAR);
        row("style 126 of a whole second",
            u"CONVERT(varchar(30), CAST('2024-02-05 10:15' AS datetime2), 126)"_s,
            u"2024-02-05T10:15:00"_s, SQL_VARCHAR);
        row("style 120 of datetimeoffset",
            u"CONVERT(varchar(30), CAST('2024-02-05 10:15:00.5 +03:00' AS datetimeoffset), 120)"_s,
            u"2024-02-05 10:15:00"_s, SQL_VARCHAR);
        row("style 121 of smalldatetime",
            u"CONVERT(varchar(30), CAST('2024-02-05 10:15' AS smalldatetime), 121)"_s,
            u"2024-02-05 10:15:00.000"_s, SQL_VARCHAR);
        row("DATEADD to the 100 ns",
            u"DATEADD(mcs, 1, CAST('2024-02-05 10:15:00.1234567' AS datetime2))"_s,
            u"2024-02-05 10:15:00.1234577"_s, sqlTypeTimestamp);
        row("DATEADD wraps a time", u"DATEADD(hour, 15, CAST('10:15' AS time(0)))"_s, u"01:15:00"_s,
            sqlSsTime2);
        row("DATEPART nanosecond",
            u"DATEPART(ns, CAST('2024-02-05 10:15:00.1234567' AS datetime2))"_s, u"123456700"_s,
            SQL_INTEGER);
    }

    void conversions()
    {
        QFETCH(QString, expression);
        QFETCH(QString, expected);
        QFETCH(int, sqlType);
        const OdbcResult r = m_client.exec(u"SELECT "_s + expression);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r).toString(), expected);
        QCOMPARE(r.resultSets.value(0).sqlTypes.value(0), sqlType);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::addColumn<int>("number");
        QTest::newRow("no such day") << u"SELECT CAST('2024-02-30' AS date)"_s << 241;
        // The types' ranges: 0001-01-01 to 9999-12-31 (date, datetime2, datetimeoffset),
        // 1753 on for datetime, 1900-01-01 to 2079-06-06 for smalldatetime.
        QTest::newRow("date before 0001-01-01") << u"SELECT CAST('0000-12-31' AS date)"_s << 241;
        QTest::newRow("datetime2 after 9999")
            << u"SELECT CAST('10000-01-01 00:00' AS datetime2)"_s << 241;
        QTest::newRow("datetimeoffset before 0001-01-01")
            << u"SELECT CAST('0000-12-31 10:00 +01:00' AS datetimeoffset)"_s << 241;
        QTest::newRow("DATEADD before 0001-01-01")
            << u"SELECT DATEADD(day, -1, CAST('0001-01-01' AS date))"_s << 517;
        QTest::newRow("datetime before 1753") << u"SELECT CAST('1752-12-31' AS datetime)"_s << 242;
        QTest::newRow("smalldatetime before 1900")
            << u"SELECT CAST('1899-12-31' AS smalldatetime)"_s << 242;
        QTest::newRow("time of 24 hours") << u"SELECT CAST('24:00:00' AS time)"_s << 241;
        QTest::newRow("no time") << u"SELECT CAST('later' AS time)"_s << 241;
        QTest::newRow("eight digits") << u"SELECT CAST('10:15:00.12345678' AS time)"_s << 241;
        QTest::newRow("offset beyond 14 hours")
            << u"SELECT CAST('2024-02-05 10:00 +15:00' AS datetimeoffset)"_s << 241;
        QTest::newRow("before datetime")
            << u"SELECT CAST(CAST('1700-01-01' AS date) AS datetime)"_s << 242;
        QTest::newRow("after smalldatetime")
            << u"SELECT CAST(CAST('2079-06-07' AS datetime2) AS smalldatetime)"_s << 242;
        QTest::newRow("DATEADD past 9999")
            << u"SELECT DATEADD(year, 1, CAST('9999-06-01' AS date))"_s << 517;
        QTest::newRow("DATEADD hour to a date")
            << u"SELECT DATEADD(hour, 1, CAST('2024-02-05' AS date))"_s << 9810;
        QTest::newRow("time to date") << u"SELECT CAST(CAST('10:00' AS time) AS date)"_s << 529;
        QTest::newRow("int to datetime2") << u"SELECT CAST(1 AS datetime2)"_s << 529;
        QTest::newRow("datetime2 to int")
            << u"SELECT CAST(CAST('2024-02-05' AS datetime2) AS int)"_s << 529;
        QTest::newRow("datetime2 plus a number") << u"SELECT SYSDATETIME() + 1"_s << 206;
        QTest::newRow("scale 8") << u"DECLARE @t time(8)"_s << 1002;
    }

    void errors()
    {
        QFETCH(QString, batch);
        QFETCH(int, number);
        const OdbcResult r = m_client.exec(batch);
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, number);
    }

    // A parameter meets a column of each type: text converts to the column's type; a typed
    // parameter meets it in the type of higher precedence.
    void parameterComparisons_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<qint64>("rows");
        const auto row = [](const char* tag, const QString& c, const QVariant& v, qint64 n) {
            QTest::newRow(tag) << c << v << n;
        };
        row("date, text", u"d = ?"_s, u"2024-02-05"_s, 1);
        row("time(3), text", u"t = ?"_s, u"10:15:00.123"_s, 1);
        row("time(3), text rounded to the column", u"t = ?"_s, u"10:15:00.1234"_s, 1);
        row("datetime2(7), text", u"d2 = ?"_s, u"2024-02-05 10:15:00.1234567"_s, 1);
        row("datetime2(7), text one tick off", u"d2 = ?"_s, u"2024-02-05 10:15:00.1234568"_s, 0);
        row("datetimeoffset, text", u"dto = ?"_s, u"2024-02-05 10:15:00 +03:00"_s, 1);
        row("datetimeoffset, the same instant elsewhere", u"dto = ?"_s,
            u"2024-02-05 07:15:00 +00:00"_s, 1);
        row("datetimeoffset, the same clock elsewhere", u"dto = ?"_s,
            u"2024-02-05 10:15:00 +00:00"_s, 0);
        row("datetime, text", u"dt = ?"_s, u"2024-02-05 10:15:00.003"_s, 1);
        // The driver sends timestamps as datetime2.
        const QDateTime at(QDate(2024, 2, 5), QTime(10, 15, 0, 3));
        row("datetime, timestamp", u"dt = ?"_s, at, 0);
        row("datetime in datetime2, timestamp", u"dt > ?"_s, at, 1);
        row("date, timestamp", u"d < ?"_s, at, 1);
        row("datetimeoffset, timestamp", u"dto = ?"_s, QDateTime(QDate(2024, 2, 5), QTime(7, 15)),
            1);
        const QDateTime ms(QDate(2024, 2, 5), QTime(10, 15, 0, 123));
        row("datetime2(7), timestamp to the millisecond", u"d2 = ?"_s, ms, 0);
        row("datetime2(7) after the millisecond", u"d2 > ?"_s, ms, 1);
        row("datetime2(7) before the next", u"d2 < ?"_s, ms.addMSecs(1), 1);
        // A time meets datetime2 on 1900-01-01, long before the parameter; as text "10:15"
        // would sort after "2024".
        row("time in datetime2, timestamp", u"t < ?"_s, at, 1);
    }

    void parameterComparisons()
    {
        QFETCH(QString, condition);
        QFETCH(QVariant, value);
        QFETCH(qint64, rows);
        const OdbcResult r =
            m_client.execParams(u"SELECT COUNT(*) FROM one WHERE "_s + condition, {value});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r).toLongLong(), rows);
    }

    // Parameters declared in one of the types, as a client that names them sends them.
    void typedParameters_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("declaration");
        QTest::addColumn<QString>("value");
        QTest::addColumn<qint64>("rows");
        const auto row = [](const char* tag, const QString& c, const QString& d, const QString& v,
                            qint64 n) {
            QTest::newRow(tag) << c << d << v << n;
        };
        row("datetime meets datetime2 exactly", u"dt = @p"_s, u"datetime2"_s,
            u"2024-02-05 10:15:00.0033333"_s, 1);
        row("datetime2(7), all digits", u"d2 = @p"_s, u"datetime2(7)"_s,
            u"2024-02-05 10:15:00.1234567"_s, 1);
        row("datetime2(3) rounds before it compares", u"d2 = @p"_s, u"datetime2(3)"_s,
            u"2024-02-05 10:15:00.1234567"_s, 0);
        row("datetime2(3) of the same millisecond", u"CAST(d2 AS datetime2(3)) = @p"_s,
            u"datetime2(3)"_s, u"2024-02-05 10:15:00.1234567"_s, 1);
        row("datetimeoffset by its instant", u"dto = @p"_s, u"datetimeoffset(0)"_s,
            u"2024-02-05 02:15:00 -05:00"_s, 1);
        row("datetime2 in datetimeoffset is UTC", u"dto = @p"_s, u"datetime2(0)"_s,
            u"2024-02-05 07:15:00"_s, 1);
        row("date in datetime2", u"d = @p"_s, u"datetime2"_s, u"2024-02-05"_s, 1);
        row("time(7) of time(3)", u"t = @p"_s, u"time(7)"_s, u"10:15:00.1230000"_s, 1);
    }

    void typedParameters()
    {
        QFETCH(QString, condition);
        QFETCH(QString, declaration);
        QFETCH(QString, value);
        QFETCH(qint64, rows);
        const OdbcResult r = m_client.exec(
            u"EXEC sp_executesql N'SELECT COUNT(*) FROM one WHERE %1', N'@p %2', @p = '%3'"_s.arg(
                condition, declaration, value));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r).toLongLong(), rows);
    }

    void sortsByInstant_data()
    {
        QTest::addColumn<QString>("order");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("datetimeoffset by UTC") << u"at"_s << QStringList{u"3"_s, u"1"_s, u"2"_s};
        QTest::newRow("descending") << u"at DESC"_s << QStringList{u"2"_s, u"1"_s, u"3"_s};
    }

    void sortsByInstant()
    {
        QFETCH(QString, order);
        QFETCH(QStringList, ids);
        const OdbcResult r = m_client.exec(u"SELECT id FROM zones ORDER BY "_s + order);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets.value(0)), ids);
    }

    // What the driver reports of each column, and what sp_columns says of it.
    void describesColumns()
    {
        const OdbcResult r = m_client.exec(u"SELECT d, t, d2, dto, dt, sd FROM one"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).sqlTypes,
                 (QList<int>{sqlTypeDate, sqlSsTime2, sqlTypeTimestamp, sqlSsTimestampOffset,
                             sqlTypeTimestamp, sqlTypeTimestamp}));
        QCOMPARE(flatten(r.resultSets.value(0)),
                 QStringList{u"2024-02-05|10:15:00.123|2024-02-05 10:15:00.1234567|"
                             u"2024-02-05 10:15:00 +03:00|2024-02-05 10:15:00.003|"
                             u"2024-02-05 10:16:00"_s});
        const OdbcResult c = m_client.exec(u"EXEC sp_columns @table_name = N'one', @ODBCVer = 3"_s);
        QVERIFY2(c.ok, qPrintable(c.error));
        QStringList described;
        const ResultSet& set = c.resultSets.value(0);
        const auto at = [&](const QString& name) {
            return set.columns.indexOf(name);
        };
        for (const auto& row : set.rows)
            described << QStringList{row.value(at(u"COLUMN_NAME"_s)).toString(),
                                     row.value(at(u"DATA_TYPE"_s)).toString(),
                                     row.value(at(u"PRECISION"_s)).toString(),
                                     row.value(at(u"SCALE"_s)).toString()}
                             .join(u'|');
        QCOMPARE(described, (QStringList{u"d|91|10|"_s, u"t|-154|12|3"_s, u"d2|93|27|7"_s,
                                         u"dto|-155|26|0"_s, u"dt|93|23|3"_s, u"sd|93|16|0"_s}));
    }
};

QTEST_GUILESS_MAIN(DateTimeTest)
#include "tst_datetime.moc"
