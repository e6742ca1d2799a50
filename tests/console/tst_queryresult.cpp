// The console's result set over a cursor on bin/sqlsim: pages, the current record, the texts
// kept compactly, the model's contract, field texts in the regional settings and edits typed
// in them, and export without a result.
#include "DefaultLocale.h"
#include "ExportText.h"
#include "MyException.h"
#include "QueryResult.h"
#include "SimConnection.h"
#include "TextDecoding.h"
#include "Thrown.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(db::ColumnKind)

namespace {

const QLocale russian(QLocale::Russian, QLocale::Russia);

} // namespace

class TestQueryResult : public QObject
{
    Q_OBJECT

    SimSession m_session;
    db::Connection& m_connection = m_session.connection;

private slots:
    void initTestCase()
    {
        QVERIFY(m_session.start({}, u"sa"_s));
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
        result.forEachRecord([&](RecordFields fields) {
            seen << fields[0].toString();
            return true;
        });
        QCOMPARE(seen.size(), 1234);
        result.close();
        QCOMPARE(result.rowCount(), 0);
        QCOMPARE(result.currentRow(), -1);
    }

    // Export reads past the fetched rows without the grid asking, and without keeping them: the
    // grid ends where it ended, the connection is free, and a second export refuses rather than
    // hand over the kept rows alone.
    void recordsToTheEnd()
    {
        QueryResult result;
        QSignalSpy freed(&result, &QueryResult::readWhole);
        result.open(m_connection, u"SELECT i FROM dbo.t ORDER BY i"_s, 30);
        qsizetype count = 0;
        result.forEachRecord(
            [&](RecordFields fields) { return fields[0] == QString::number(++count); });
        QCOMPARE(count, 1234);
        QVERIFY(result.isComplete());
        QCOMPARE(result.fetchedCount(), QueryResult::pageSize);
        QCOMPARE(result.unkeptCount(), 1234 - QueryResult::pageSize);
        QCOMPARE(freed.size(), 1);
        QVERIFY(!result.canFetchMore({}));
        result.last();
        QCOMPARE(result.currentRow(), QueryResult::pageSize - 1);
        m_connection.execute(u"SELECT 1"_s); // free again

        const QString refusal = u"Записи этого результата, которых нет в таблице, уже прочитаны "
                                u"прошлой выгрузкой и не сохранены. Выполните запрос снова, "
                                u"чтобы выгрузить его целиком."_s;
        QBuffer file;
        file.open(QIODevice::WriteOnly);
        EXPECT_THROWN(error, Error, WriteExportFile(result, file));
        QCOMPARE(error.message, refusal);
        QCOMPARE(file.size(), 0);
        QVERIFY_THROWS_EXCEPTION(Error, ExportText(result));
        // A new query reads whole again.
        result.open(m_connection, u"SELECT i FROM dbo.t ORDER BY i"_s, 30);
        QCOMPARE(result.unkeptCount(), 0);
        QCOMPARE(ExportText(result).count(u"\r\n"_s), 1235);
    }

    // An export that stops early (a full disk, say) after passing rows on ends the reading: a
    // row read later must not join the grid after the gap.
    void exportStoppedAfterTheGrid()
    {
        QueryResult result;
        QSignalSpy freed(&result, &QueryResult::readWhole);
        result.open(m_connection, u"SELECT i FROM dbo.t ORDER BY i"_s, 30);
        qsizetype count = 0;
        result.forEachRecord([&](RecordFields) { return ++count < 700; });
        QCOMPARE(count, 700);
        QCOMPARE(result.fetchedCount(), QueryResult::pageSize);
        QVERIFY(result.isComplete());
        QCOMPARE(freed.size(), 1);
        result.fetchMore({});
        QCOMPARE(result.fetchedCount(), QueryResult::pageSize);
        QCOMPARE(result.record(QueryResult::pageSize - 1).value(0),
                 QString::number(QueryResult::pageSize));
        m_connection.execute(u"SELECT 1"_s);

        // Stopping within the rows the grid has reads nothing more.
        result.open(m_connection, u"SELECT i FROM dbo.t ORDER BY i"_s, 30);
        count = 0;
        result.forEachRecord([&](RecordFields) { return ++count < 10; });
        QCOMPARE(result.unkeptCount(), 0);
        QVERIFY(result.canFetchMore({}));
        result.last();
        QCOMPARE(result.fetchedCount(), 1234);
    }

    // The rows read past the grid give the export the very texts the kept rows give: every
    // kind of column, NULLs, bytes, long values (read one row at a time), characters of two
    // UTF-16 units.
    void exportStreamsTheRest_data()
    {
        QTest::addColumn<QString>("columns"); // over i from 1 to 1234
        QTest::newRow("read in blocks")
            << u"i, CAST(i * 1.25 AS decimal(12,2)) AS d, DATEADD(second, i * 37, CAST("
               u"'2024-01-01T00:00:00.123' AS datetime)) AS at, CAST(i / 7.0 AS float) AS f, "
               u"CASE WHEN i % 5 = 0 THEN NULL ELSE N'Ёлка ' + CAST(i AS nvarchar(9)) END AS s, "
               u"CAST(i AS varbinary(4)) AS b, CAST(i % 2 AS bit) AS flag, N'' AS empty"_s;
        QTest::newRow("a long text among them")
            << u"i, REPLICATE(CAST(N'я' AS nvarchar(max)), (i % 10) * 450) AS big, "
               u"CASE WHEN i % 3 = 0 THEN NULL ELSE N'после' END AS tail"_s;
        QTest::newRow("long bytes first")
            << u"CAST(REPLICATE(CAST('z' AS varchar(max)), i % 50) AS varbinary(max)) AS big, i"_s;
        QTest::newRow("characters outside the BMP")
            << u"i, N'😀' + CAST(i AS nvarchar(9)) + N'𝄞' AS pair"_s;
    }
    void exportStreamsTheRest()
    {
        QFETCH(QString, columns);
        const DefaultLocale locale(russian);
        const QString sql = u"WITH d AS (SELECT 1 AS i UNION ALL SELECT i + 1 FROM d WHERE i < "
                            u"1234) SELECT "_s +
                            columns + u" FROM d ORDER BY i OPTION (MAXRECURSION 0)"_s;
        QueryResult kept;
        kept.open(m_connection, sql, 30);
        kept.last();
        QCOMPARE(kept.fetchedCount(), 1234);
        const QString text = ExportText(kept);
        QBuffer keptFile;
        keptFile.open(QIODevice::WriteOnly);
        WriteExportFile(kept, keptFile);
        kept.close();

        QueryResult clipboard;
        clipboard.open(m_connection, sql, 30);
        QCOMPARE(ExportText(clipboard), text);
        QCOMPARE(clipboard.unkeptCount(), 1234 - QueryResult::pageSize);
        clipboard.close();

        QueryResult file;
        file.open(m_connection, sql, 30);
        QBuffer bytes;
        bytes.open(QIODevice::WriteOnly);
        WriteExportFile(file, bytes);
        QCOMPARE(bytes.data(), keptFile.data());
        QCOMPARE(file.fetchedCount(), QueryResult::pageSize);
    }

    // Grid texts by the column's type: the regional settings' form under a Russian locale, the
    // server's form unchanged under C.
    void localisedTexts_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<db::ColumnKind>("kind");
        QTest::addColumn<QString>("russian");
        QTest::addColumn<QString>("c"); // null: the driver's form differs from SQL Server's here

        using K = db::ColumnKind;
        QTest::newRow("int") << u"CAST(-1234567 AS int)"_s << K::Integer << u"-1234567"_s
                             << u"-1234567"_s;
        QTest::newRow("bigint") << u"CAST(9007199254740993 AS bigint)"_s << K::Integer
                                << u"9007199254740993"_s << u"9007199254740993"_s;
        QTest::newRow("decimal") << u"CAST(12.5 AS decimal(10,2))"_s << K::Decimal << u"12,50"_s
                                 << u"12.50"_s;
        QTest::newRow("numeric negative") << u"CAST(-1234567.891 AS numeric(20,4))"_s << K::Decimal
                                          << u"-1234567,8910"_s << u"-1234567.8910"_s;
        QTest::newRow("money") << u"CAST(12.5 AS money)"_s << K::Decimal << u"12,5000"_s
                               << u"12.5000"_s;
        QTest::newRow("float") << u"CAST(0.1 AS float)"_s << K::Float << u"0,1"_s
                               << u"0.10000000000000001"_s;
        QTest::newRow("float exponent") << u"CAST(2.5e-7 AS float)"_s << K::Float << u"2,5e-07"_s
                                        << u"2.4999999999999999e-07"_s;
        QTest::newRow("real") << u"CAST(0.1 AS real)"_s << K::Real << u"0,1"_s << u"0.100000001"_s;
        QTest::newRow("datetime") << u"CAST('2024-02-05T10:15:00.123' AS datetime)"_s << K::DateTime
                                  << u"05.02.2024 10:15:00,123"_s << u"2024-02-05 10:15:00.123"_s;
        QTest::newRow("datetime whole seconds")
            << u"CAST('2024-02-05T10:15:00' AS datetime)"_s << K::DateTime
            << u"05.02.2024 10:15:00"_s << u"2024-02-05 10:15:00.000"_s;
        QTest::newRow("smalldatetime") << u"CAST('2024-02-05T10:15:00' AS smalldatetime)"_s
                                       << K::DateTime << u"05.02.2024 10:15:00"_s << QString();
        QTest::newRow("datetime2") << u"CAST('2024-02-05 10:15:00.5' AS datetime2)"_s << K::DateTime
                                   << u"05.02.2024 10:15:00,5"_s << QString();
        QTest::newRow("bit") << u"CAST(1 AS bit)"_s << K::Bit << u"1"_s << u"1"_s;
        QTest::newRow("text with a point")
            << u"N'12.5 ₽'"_s << K::Text << u"12.5 ₽"_s << u"12.5 ₽"_s;
        QTest::newRow("binary") << u"0x00FF"_s << K::Binary << u"0x00FF"_s << u"0x00FF"_s;
    }
    void localisedTexts()
    {
        QFETCH(QString, expression);
        QFETCH(db::ColumnKind, kind);
        QFETCH(QString, russian);
        QFETCH(QString, c);

        const QString sql = u"SELECT "_s + expression + u" AS v, CAST(NULL AS decimal(5,2)) AS n"_s;
        QueryResult result;
        {
            const DefaultLocale locale(::russian);
            result.open(m_connection, sql, 30);
        }
        // The regional settings of the opening hold for the result's life.
        QCOMPARE(result.columnKind(0), kind);
        QCOMPARE(result.text(0, 0), russian);
        QCOMPARE(result.data(result.index(0, 0), Qt::EditRole).toString(), russian);
        QCOMPARE(result.record(0), (QStringList{russian, QString()}));
        QVERIFY(result.text(0, 1).isNull());
        if (!c.isNull()) {
            result.open(m_connection, sql, 30);
            QCOMPARE(result.text(0, 0), c);
        }
    }

    // The clipboard text and the file bytes carry the grid's texts.
    void exportUnderRussianLocale()
    {
        m_connection.execute(
            u"CREATE TABLE dbo.sale (name nvarchar(20), amount decimal(10,2), at datetime, "
            u"rate float); INSERT INTO dbo.sale VALUES (N'Ёлка', 1234.5, '2024-02-05T10:15:00', "
            u"0.1), (N'Шар', -0.75, '2023-12-31T23:59:59.997', NULL)"_s);
        const DefaultLocale locale(russian);
        QueryResult result;
        result.open(m_connection, u"SELECT name, amount, at, rate FROM dbo.sale ORDER BY at"_s, 30);
        const QString expected = u"name\tamount\tat\trate\r\n"
                                 u"Шар\t-0,75\t31.12.2023 23:59:59,997\t\r\n"
                                 u"Ёлка\t1234,50\t05.02.2024 10:15:00\t0,1\r\n"_s;
        QCOMPARE(ExportText(result), expected);
        QBuffer file;
        file.open(QIODevice::WriteOnly);
        WriteExportFile(result, file);
        QCOMPARE(file.data(), platform::encodeWindows1251(expected));
    }

    // A table without a key: the row is found by the values the server can compare, never by
    // a text, ntext, image or xml column (402/305 on the server); a table of nothing else
    // cannot be written back, and says why.
    void keylessWithLongValues_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("onlyLongValues");
        QTest::newRow("text") << u"text"_s << u"'длинный'"_s << false;
        QTest::newRow("ntext") << u"ntext"_s << u"N'длинный'"_s << false;
        QTest::newRow("image") << u"image"_s << u"0x0102"_s << false;
        QTest::newRow("xml") << u"xml"_s << u"N'<a>1</a>'"_s << false;
        QTest::newRow("nothing else") << u"ntext"_s << u"N'длинный'"_s << true;
    }
    void keylessWithLongValues()
    {
        QFETCH(QString, type);
        QFETCH(QString, value);
        QFETCH(bool, onlyLongValues);
        const QString table =
            u"dbo.long_"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_');
        const QString columns = onlyLongValues ? u"v %1, w %1"_s.arg(type)
                                               : u"id int, v %1, note nvarchar(10)"_s.arg(type);
        const QString values =
            onlyLongValues ? u"%1, %1"_s.arg(value) : u"1, %1, N'старое'"_s.arg(value);
        m_connection.execute(
            u"CREATE TABLE %1 (%2); INSERT INTO %1 VALUES (%3)"_s.arg(table, columns, values));
        QueryResult result;
        const QString sql = u"SELECT * FROM "_s + table;
        result.open(m_connection, sql, 30);
        QVERIFY(result.isComplete());
        QStringList statements;
        result.setEditTarget(FindEditTarget(m_connection, sql, result.fieldNames()),
                             [this, &statements](const BoundStatement& statement) {
                                 statements << statement.sql;
                                 return m_connection.executeParams(statement.sql, statement.values);
                             });
        if (onlyLongValues) {
            QVERIFY(!result.isEditable());
            QCOMPARE(result.editTarget().readOnlyReason,
                     u"у таблицы нет ключа, а столбцы типов text, ntext, image и xml сервер не "
                     u"сравнивает"_s);
            return;
        }
        QVERIFY2(result.isEditable(), qPrintable(result.editTarget().readOnlyReason));
        QCOMPARE(result.editTarget().incomparableColumns, QList<int>{1});
        QVERIFY(result.setData(result.index(0, 2), u"новое"_s));
        result.post();
        QCOMPARE(statements, QStringList{u"UPDATE "_s + table +
                                         u" SET [note] = ? WHERE [id] = ? AND [note] = ?"_s});
        auto rows = m_connection.openRecordSet(u"SELECT note FROM "_s + table, 30);
        rows->first();
        QCOMPARE(rows->fieldText(u"note"_s), u"новое"_s);
        rows->next();
        QVERIFY(rows->eof());
    }

    // Values typed in the Russian form reach the server in its own; a row is found again by
    // its exact original values, also those the grid shows rounded or reformatted.
    void editTypedInRussianForm_data()
    {
        QTest::addColumn<QString>("table");
        QTest::newRow("found by the key") << u"dbo.keyed"_s;
        QTest::newRow("found by every value") << u"dbo.unkeyed"_s;
    }
    void editTypedInRussianForm()
    {
        QFETCH(QString, table);
        const QString key = table == u"dbo.keyed"_s ? u" PRIMARY KEY"_s : QString();
        m_connection.execute(u"CREATE TABLE %1 (id int%2, amount decimal(10,2), at datetime, "
                             u"moment datetime, rate float, note nvarchar(20)); INSERT INTO %1 "
                             u"VALUES (1, 10, '2024-01-01 08:00:00.123', '2024-01-01 "
                             u"08:00:00.997', 0.1, N'старое')"_s.arg(table, key));
        const DefaultLocale locale(russian);
        QueryResult result;
        const QString sql = u"SELECT * FROM "_s + table;
        result.open(m_connection, sql, 30);
        QVERIFY(result.isComplete()); // the connection is free for the writes
        QStringList statements;
        result.setEditTarget(FindEditTarget(m_connection, sql, result.fieldNames()),
                             [this, &statements](const BoundStatement& statement) {
                                 statements << statement.sql;
                                 const qint64 rows =
                                     m_connection.executeParams(statement.sql, statement.values);
                                 if (rows != 1)
                                     throw Error(u"rows: %1"_s.arg(rows));
                                 return rows;
                             });
        QVERIFY2(result.isEditable(), qPrintable(result.editTarget().readOnlyReason));
        QCOMPARE(result.record(0),
                 (QStringList{u"1"_s, u"10,00"_s, u"01.01.2024 08:00:00,123"_s,
                              u"01.01.2024 08:00:00,997"_s, u"0,1"_s, u"старое"_s}));

        // Typed as shown (the float, the fraction) changes nothing; typed anew goes in the
        // server's form.
        QVERIFY(result.setData(result.index(0, 4), u"0,1"_s));
        QVERIFY(result.setData(result.index(0, 3), u"01.01.2024 08:00:00,997"_s));
        QVERIFY(result.setData(result.index(0, 1), u"12,5"_s));
        QVERIFY(result.setData(result.index(0, 2), u"05.02.2024 10:15"_s));
        QCOMPARE(result.text(0, 1), u"12,5"_s);
        QCOMPARE(result.text(0, 2), u"05.02.2024 10:15:00"_s);
        result.post();
        QVERIFY(!result.isModified());
        QCOMPARE(statements.size(), 1);
        QVERIFY2(statements[0].startsWith(u"UPDATE "_s + table +
                                          u" SET [amount] = ?, [at] = ? WHERE "_s),
                 qPrintable(statements[0]));
        auto rows = m_connection.openRecordSet(
            u"SELECT amount, at, moment, rate, note FROM "_s + table, 30);
        QCOMPARE(rows->fieldText(u"amount"_s), u"12.50"_s);
        QCOMPARE(rows->fieldText(u"at"_s), u"2024-02-05 10:15:00.000"_s);
        QCOMPARE(rows->fieldText(u"moment"_s), u"2024-01-01 08:00:00.997"_s);
        QCOMPARE(rows->fieldText(u"rate"_s), u"0.10000000000000001"_s);

        // The next edit finds the row by what was written, the float and the fraction exact.
        QVERIFY(result.setData(result.index(0, 5), u"новое"_s));
        result.post();
        rows = m_connection.openRecordSet(u"SELECT note FROM "_s + table, 30);
        QCOMPARE(rows->fieldText(u"note"_s), u"новое"_s);

        // A text the Russian form cannot read goes as typed; the server says what is wrong.
        QVERIFY(result.setData(result.index(0, 2), u"31.02.2024"_s));
        QCOMPARE(result.text(0, 2), u"31.02.2024"_s);
        // The conversion of a nvarchar to a datetime went out of range, in any language.
        EXPECT_SERVER_ERROR(error, 242, result.post());
        QVERIFY(result.isModified());
        result.cancel();
        QCOMPARE(result.text(0, 2), u"05.02.2024 10:15:00"_s);
        m_connection.execute(u"DROP TABLE "_s + table);
    }

    // Export needs an open result: none yet, a failed query, one closed.
    void exportWithoutResult_data()
    {
        QTest::addColumn<QStringList>("queries"); // run in order; the last one fails or none
        QTest::addColumn<bool>("close");
        QTest::newRow("never run") << QStringList{} << false;
        QTest::newRow("failed query") << QStringList{u"SELECT * FROM dbo.nosuch"_s} << false;
        QTest::newRow("failed after a good one")
            << QStringList{u"SELECT i FROM dbo.t"_s, u"SELECT * FROM dbo.nosuch"_s} << false;
        QTest::newRow("statement without rows")
            << QStringList{u"SELECT i FROM dbo.t"_s, u"UPDATE dbo.t SET e = N'' WHERE 1 = 0"_s}
            << false;
        QTest::newRow("closed") << QStringList{u"SELECT i FROM dbo.t"_s} << true;
    }
    void exportWithoutResult()
    {
        QFETCH(QStringList, queries);
        QFETCH(bool, close);
        QueryResult result;
        for (const QString& sql : queries) {
            try {
                result.open(m_connection, sql, 30);
            } catch (const Error&) {
            }
        }
        if (close)
            result.close();
        const QString message = u"Нет результата запроса: выполните запрос."_s;
        EXPECT_THROWN(text, Error, ExportText(result));
        QCOMPARE(text.message, message);
        QBuffer file;
        file.open(QIODevice::WriteOnly);
        EXPECT_THROWN(written, Error, WriteExportFile(result, file));
        QCOMPARE(written.message, message);
        QCOMPARE(file.size(), 0);
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
