// The console's result set over a cursor on bin/sqlsim: pages, the current record, the texts
// kept compactly, and the model's contract.
#include "QueryResult.h"
#include "SqlsimProcess.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

class TestQueryResult : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;
    db::Connection m_connection;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        m_connection.setConnectionString(u"Data Source=127.0.0.1,%1;User ID=sa;Password=%2"_s.arg(
            QString::number(m_sim.port()), m_sim.password()));
        m_connection.open();
        m_connection.execute(u"CREATE DATABASE q"_s);
        m_connection.setDefaultDatabase(u"q"_s);
        m_connection.execute(
            u"CREATE TABLE dbo.t (i int, s nvarchar(30), b varbinary(10), e nvarchar(5))"_s);
        m_connection.execute(
            u"WITH d AS (SELECT 1 AS i UNION ALL SELECT i + 1 FROM d WHERE i < 1234) INSERT INTO "
            u"dbo.t SELECT i, CASE WHEN i % 3 = 0 THEN NULL ELSE N'Ёлка ' + CAST(i AS nvarchar(9)) "
            u"END, CASE WHEN i = 2 THEN 0x00FF END, N'' FROM d OPTION (MAXRECURSION 0)"_s);
    }

    void pagesAndRecords()
    {
        QueryResult result;
        QSignalSpy moved(&result, &QueryResult::currentRowChanged);
        result.open(m_connection, u"SELECT i, s, b, e FROM dbo.t ORDER BY i"_s, 30);
        QCOMPARE(result.fieldNames(), (QStringList{u"i"_s, u"s"_s, u"b"_s, u"e"_s}));
        QCOMPARE(result.fetchedCount(), QueryResult::pageSize);
        QVERIFY(result.canFetchMore({}));
        // The cursor keeps the connection busy until the result is read or closed.
        QVERIFY_THROWS_EXCEPTION(Error, m_connection.execute(u"SELECT 1"_s));
        QAbstractItemModelTester tester(&result,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(result.currentRow(), 0);

        QCOMPARE(result.record(0), (QStringList{u"1"_s, u"Ёлка 1"_s, QString(), QString(u""_s)}));
        QVERIFY(result.text(0, 2).isNull());  // NULL
        QVERIFY(!result.text(0, 3).isNull()); // empty text
        QCOMPARE(result.text(1, 2), u"0x00FF"_s);
        QVERIFY(result.text(2, 1).isNull());

        result.next();
        QCOMPARE(result.currentRow(), 1);
        result.prior();
        result.prior(); // stays on the first
        QCOMPARE(result.currentRow(), 0);
        result.last();
        QCOMPARE(result.fetchedCount(), 1234);
        QCOMPARE(result.currentRow(), 1233);
        QVERIFY(result.isComplete());
        QCOMPARE(result.record(1233).value(1), u"Ёлка 1234"_s);
        QVERIFY(!moved.isEmpty());
        m_connection.execute(u"SELECT 1"_s); // free again

        QStringList seen;
        result.forEachRecord([&](const QStringList& fields) {
            seen << fields.value(0);
            return true;
        });
        QCOMPARE(seen.size(), 1234);
        result.close();
        QCOMPARE(result.rowCount(), 0);
        QCOMPARE(result.currentRow(), -1);
    }

    // Export reads past the fetched rows without the grid asking.
    void recordsToTheEnd()
    {
        QueryResult result;
        result.open(m_connection, u"SELECT i FROM dbo.t ORDER BY i"_s, 30);
        qsizetype count = 0;
        result.forEachRecord(
            [&](const QStringList& fields) { return fields.value(0) == QString::number(++count); });
        QCOMPARE(count, 1234);
        QVERIFY(result.isComplete());
    }

    void failedOpenLeavesItClosed()
    {
        QueryResult result;
        result.open(m_connection, u"SELECT i FROM dbo.t"_s, 30);
        QVERIFY_THROWS_EXCEPTION(db::DbError,
                                 result.open(m_connection, u"SELECT * FROM dbo.nosuch"_s, 30));
        QVERIFY(!result.isOpen());
        QCOMPARE(result.rowCount(), 0);
        QVERIFY_THROWS_EXCEPTION(Error,
                                 result.open(m_connection, u"UPDATE dbo.t SET e = N''"_s, 30));
        QVERIFY(!result.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestQueryResult)
#include "tst_queryresult.moc"
