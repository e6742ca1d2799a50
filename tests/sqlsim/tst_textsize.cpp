// @@TEXTSIZE as a client of the simulator meets it through FreeTDS's driver, which, unlike
// Microsoft's drivers, does not lift it: 4096 bytes of each text, ntext, image and (max) value
// in a result unless the session sets another limit; the other types, output parameters and
// everything the server does with the values itself stay whole.
#include "LongValues.h"
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QtTest>
#include <sql.h>
#include <sqlext.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype longLength = 10'000; // characters of text, bytes of binary values

const QString longText = nonRepeatingText(longLength, 11);
const QString longNText = nonRepeatingText(longLength, 12);
const QByteArray longBytes = nonRepeatingBytes(longLength, 13);

// The value a column holds in the test table: text or bytes.
QVariant stored(const QString& column)
{
    if (column == u"im"_s || column == u"vbm"_s)
        return longBytes;
    if (column == u"vb"_s)
        return longBytes.left(8000);
    if (column == u"v"_s)
        return longText.left(8000);
    if (column == u"nv"_s)
        return longNText.left(4000);
    return column.startsWith(u'n') ? longNText : longText;
}

// The first `count` characters or bytes of a value.
QVariant prefix(const QVariant& value, qsizetype count)
{
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray().left(count);
    return value.toString().left(count);
}

qsizetype lengthOf(const QVariant& value)
{
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray().size()
                                                   : value.toString().size();
}

} // namespace

class TextSizeTest : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;

    // A session as FreeTDS's driver leaves it: the server's own TEXTSIZE.
    bool plainSession(OdbcClient& client)
    {
        return client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"texts"_s,
                              OdbcClient::TextSize::ServerDefault);
    }

    // The value of `column` in the single row of `result`'s first set.
    static QVariant cell(const OdbcResult& result, int column = 0)
    {
        return result.resultSets.value(0).rows.value(0).value(column);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        OdbcClient client;
        QVERIFY2(client.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(client.lastError()));
        QVERIFY(client.exec(u"CREATE DATABASE texts"_s).ok);
        QVERIFY(client.exec(u"USE texts"_s).ok);
        OdbcResult r = client.exec(
            u"CREATE TABLE longs (id int PRIMARY KEY, t text, nt ntext, im image, vm varchar(max), "
            u"nvm nvarchar(max), vbm varbinary(max), v varchar(8000), nv nvarchar(4000), "
            u"vb varbinary(8000))"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = client.execParams(u"INSERT INTO longs VALUES (1, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s,
                              {longText, longNText, longBytes, longText, longNText, longBytes,
                               longText.left(8000), longNText.left(4000), longBytes.left(8000)});
        QVERIFY2(r.ok, qPrintable(r.error));
        r = client.exec(u"INSERT INTO longs (id, nvm, vbm) VALUES (2, N'', NULL)"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = client.exec(u"CREATE PROCEDURE cut_to_ten AS SET TEXTSIZE 10 "
                        u"SELECT nvm, @@TEXTSIZE FROM longs WHERE id = 1"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = client.exec(u"CREATE PROCEDURE long_out @value nvarchar(max) OUTPUT AS "
                        u"SELECT @value = nvm FROM longs WHERE id = 1"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
    }

    void cleanupTestCase()
    {
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    // Without SET TEXTSIZE: 4096 bytes of the long types, in the bytes each is sent in
    // (Windows-1251 for text and varchar, UTF-16 for ntext and nvarchar); the rest untouched.
    void defaultCut_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QVariant>("full");
        QTest::addColumn<qsizetype>("seen"); // characters or bytes the client gets
        for (const QString& column : {u"t"_s, u"vm"_s, u"im"_s, u"vbm"_s})
            QTest::newRow(qPrintable(column)) << column << stored(column) << qsizetype(4096);
        for (const QString& column : {u"nt"_s, u"nvm"_s})
            QTest::newRow(qPrintable(column)) << column << stored(column) << qsizetype(2048);
        QTest::newRow("varchar(8000)") << u"v"_s << stored(u"v"_s) << qsizetype(8000);
        QTest::newRow("nvarchar(4000)") << u"nv"_s << stored(u"nv"_s) << qsizetype(4000);
        QTest::newRow("varbinary(8000)") << u"vb"_s << stored(u"vb"_s) << qsizetype(8000);
        QTest::newRow("expression of a long type")
            << u"nvm + N'!'"_s << QVariant(longNText + u'!') << qsizetype(2048);
        QTest::newRow("long value cast to nvarchar(4000)")
            << u"CAST(nvm AS nvarchar(4000))"_s << QVariant(longNText.left(4000))
            << qsizetype(4000);
        QTest::newRow("short value of a long type")
            << u"CAST(N'коротко' AS nvarchar(max))"_s << QVariant(u"коротко"_s) << qsizetype(7);
    }

    void defaultCut()
    {
        QFETCH(QString, expression);
        QFETCH(QVariant, full);
        QFETCH(qsizetype, seen);
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        const OdbcResult r = client.exec(u"SELECT "_s + expression + u" FROM longs WHERE id = 1"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QVariant value = cell(r);
        QCOMPARE(lengthOf(value), seen);
        QCOMPARE(value, prefix(full, seen));
        // No warning tells the client that it got less.
        QVERIFY2(r.messages.isEmpty(), qPrintable(r.messages.join(u'\n')));
    }

    // SET TEXTSIZE before the SELECT: what @@TEXTSIZE reports and how much of an nvarchar(max)
    // and a varbinary(max) value comes back.
    void setTextSize_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<qint64>("reported");
        QTest::addColumn<qsizetype>("characters"); // of nvm
        QTest::addColumn<qsizetype>("bytes");      // of vbm

        QTest::newRow("login") << QString() << qint64(4096) << qsizetype(2048) << qsizetype(4096);
        QTest::newRow("100") << u"SET TEXTSIZE 100"_s << qint64(100) << qsizetype(50)
                             << qsizetype(100);
        QTest::newRow("odd: never half a character")
            << u"SET TEXTSIZE 101"_s << qint64(101) << qsizetype(50) << qsizetype(101);
        QTest::newRow("1: no whole character")
            << u"SET TEXTSIZE 1"_s << qint64(1) << qsizetype(0) << qsizetype(1);
        QTest::newRow("0 is the default again")
            << u"SET TEXTSIZE 100 SET TEXTSIZE 0"_s << qint64(4096) << qsizetype(2048)
            << qsizetype(4096);
        QTest::newRow("-1: no limit")
            << u"SET TEXTSIZE -1"_s << qint64(-1) << longLength << longLength;
        QTest::newRow("2147483647: no limit")
            << u"SET TEXTSIZE 2147483647"_s << qint64(2147483647) << longLength << longLength;
        QTest::newRow("another negative number: no limit")
            << u"SET TEXTSIZE -7"_s << qint64(-7) << longLength << longLength;
        QTest::newRow("int's lowest")
            << u"SET TEXTSIZE -2147483648"_s << qint64(-2147483648LL) << longLength << longLength;
        QTest::newRow("past the value")
            << u"SET TEXTSIZE 30000"_s << qint64(30000) << longLength << longLength;
        QTest::newRow("case and blanks")
            << u"set   textsize\r\n  12"_s << qint64(12) << qsizetype(6) << qsizetype(12);
    }

    void setTextSize()
    {
        QFETCH(QString, set);
        QFETCH(qint64, reported);
        QFETCH(qsizetype, characters);
        QFETCH(qsizetype, bytes);
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        const QString select = u"SELECT @@TEXTSIZE, nvm, vbm FROM longs WHERE id = 1"_s;
        // In the same batch, and in the batches that follow on the session.
        for (const QString& batch : {set + u'\n' + select, select}) {
            const OdbcResult r = client.exec(batch);
            QVERIFY2(r.ok, qPrintable(r.error));
            QCOMPARE(cell(r, 0).toLongLong(), reported);
            QCOMPARE(cell(r, 1).toString(), longNText.left(characters));
            QCOMPARE(cell(r, 2).toByteArray(), longBytes.left(bytes));
        }
    }

    // An odd limit leaves out the half character: the bytes on the wire, read as they came.
    void oddLimitOnUnicodeText_data()
    {
        QTest::addColumn<QString>("column");
        QTest::newRow("ntext") << u"nt"_s;
        QTest::newRow("nvarchar(max)") << u"nvm"_s;
    }

    void oddLimitOnUnicodeText()
    {
        QFETCH(QString, column);
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        QVERIFY(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, client.dbc(), &stmt)));
        std::u16string sql =
            (u"SET TEXTSIZE 101 SELECT "_s + column + u" FROM longs WHERE id = 1"_s)
                .toStdU16String();
        QVERIFY(
            SQL_SUCCEEDED(SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(sql.data()), SQL_NTS)));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(stmt)));
        QByteArray bytes(200, '\0');
        SQLLEN indicator = 0;
        QVERIFY(SQL_SUCCEEDED(
            SQLGetData(stmt, 1, SQL_C_BINARY, bytes.data(), bytes.size(), &indicator)));
        while (SQLMoreResults(stmt) != SQL_NO_DATA) {
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        QCOMPARE(indicator, SQLLEN(100));
        const QString text = longNText.left(50);
        QCOMPARE(bytes.left(100), QByteArray(reinterpret_cast<const char*>(text.utf16()), 100));
    }

    // NULL stays NULL and an empty value empty, whatever the limit.
    void nullAndEmpty()
    {
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        const OdbcResult r =
            client.exec(u"SET TEXTSIZE 1 SELECT nvm, vbm, t FROM longs WHERE id = 2"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r, 0), QVariant(QString(u""_s)));
        QVERIFY(cell(r, 1).isNull());
        QVERIFY(cell(r, 2).isNull());
    }

    // Numbers SQL Server's parser refuses: the batch does not run, the limit stays.
    void refused_data()
    {
        QTest::addColumn<QString>("set");
        QTest::addColumn<int>("native");
        QTest::addColumn<QString>("text");
        QTest::newRow("past int") << u"SET TEXTSIZE 2147483648"_s << 1080
                                  << u"The integer value 2147483648 is out of range."_s;
        QTest::newRow("below int") << u"SET TEXTSIZE -2147483649"_s << 1080
                                   << u"The integer value 2147483649 is out of range."_s;
        QTest::newRow("not whole")
            << u"SET TEXTSIZE 1.5"_s << 1080 << u"The integer value 1.5 is out of range."_s;
        QTest::newRow("variable") << u"DECLARE @n int = 10 SET TEXTSIZE @n"_s << 102
                                  << u"Incorrect syntax near '@n'."_s;
        QTest::newRow("text") << u"SET TEXTSIZE '10'"_s << 102
                              << u"Incorrect syntax near ''10''."_s;
        QTest::newRow("nothing") << u"SET TEXTSIZE"_s << 156
                                 << u"Incorrect syntax near the keyword 'SELECT'."_s;
    }

    void refused()
    {
        QFETCH(QString, set);
        QFETCH(int, native);
        QFETCH(QString, text);
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        QVERIFY(client.exec(u"SET TEXTSIZE 100"_s).ok);
        const OdbcResult r = client.exec(set + u"\nSELECT 1"_s);
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, native);
        QCOMPARE(serverText(r.error), text);
        QVERIFY(r.resultSets.isEmpty());
        QCOMPARE(cell(client.exec(u"SELECT @@TEXTSIZE"_s)).toLongLong(), 100);
    }

    // A limit set inside a procedure or dynamic SQL holds there and is undone when it returns.
    void scope_data()
    {
        QTest::addColumn<QString>("batch");
        QTest::newRow("procedure") << u"EXEC cut_to_ten"_s;
        QTest::newRow("EXEC of a string")
            << u"EXEC ('SET TEXTSIZE 10 SELECT nvm, @@TEXTSIZE FROM longs WHERE id = 1')"_s;
        QTest::newRow("sp_executesql in a batch")
            << u"EXEC sp_executesql N'SET TEXTSIZE 10 SELECT nvm, @@TEXTSIZE FROM longs "
               u"WHERE id = @id', N'@id int', 1"_s;
    }

    void scope()
    {
        QFETCH(QString, batch);
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        const OdbcResult r =
            client.exec(batch + u"\nSELECT @@TEXTSIZE, nvm FROM longs WHERE id = 1"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 2);
        QCOMPARE(cell(r, 0).toString(), longNText.left(5));
        QCOMPARE(cell(r, 1).toLongLong(), 10);
        const QList<QVariant> after = r.resultSets[1].rows.value(0);
        QCOMPARE(after.value(0).toLongLong(), 4096);
        QCOMPARE(after.value(1).toString(), longNText.left(2048));
    }

    // The driver's own sp_executesql for a statement with parameters is dynamic SQL as well: a
    // client that lifted TEXTSIZE that way would find it back at 4096 on its next statement.
    void parameterisedStatementIsAScope()
    {
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        OdbcResult r = client.execParams(
            u"SET TEXTSIZE -1 SELECT nvm, @@TEXTSIZE FROM longs WHERE id = ?"_s, {qint64(1)});
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r, 0).toString(), longNText);
        QCOMPARE(cell(r, 1).toLongLong(), -1);
        r = client.exec(u"SELECT nvm, @@TEXTSIZE FROM longs WHERE id = 1"_s);
        QCOMPARE(cell(r, 0).toString(), longNText.left(2048));
        QCOMPARE(cell(r, 1).toLongLong(), 4096);
    }

    // Only what goes to the client is cut: the server's own work sees whole values.
    void serverSideStaysWhole()
    {
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        OdbcResult r = client.exec(
            u"SET TEXTSIZE 10 "
            u"SELECT DATALENGTH(t), DATALENGTH(nt), DATALENGTH(im), DATALENGTH(nvm) FROM longs "
            u"WHERE id = 1 "
            u"SELECT id, nvm, vbm INTO copied FROM longs WHERE id = 1 "
            u"DECLARE @v nvarchar(max) SELECT @v = nvm FROM longs WHERE id = 1 "
            u"INSERT INTO copied (id, nvm) VALUES (3, @v)"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets.value(0)), QStringList{u"10000|20000|10000|20000"_s});
        OdbcClient reader;
        QVERIFY(reader.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"texts"_s));
        r = reader.exec(u"SELECT nvm, vbm FROM copied ORDER BY id"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r, 0).toString(), longNText);
        QCOMPARE(cell(r, 1).toByteArray(), longBytes);
        QCOMPARE(r.resultSets[0].rows.value(1).value(0).toString(), longNText);
        QVERIFY(client.exec(u"DROP TABLE copied"_s).ok);
    }

    // An output parameter is no result row: it comes back whole under the default limit.
    void outputParameterIsWhole()
    {
        OdbcClient client;
        QVERIFY2(plainSession(client), qPrintable(client.lastError()));
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        QVERIFY(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, client.dbc(), &stmt)));
        std::vector<SQLWCHAR> buffer(longLength + 1);
        SQLLEN indicator = 0;
        SQLRETURN rc = SQLBindParameter(
            stmt, 1, SQL_PARAM_OUTPUT, SQL_C_WCHAR, SQL_WLONGVARCHAR, longLength, 0, buffer.data(),
            static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &indicator);
        QVERIFY(SQL_SUCCEEDED(rc));
        std::u16string call = u"{call dbo.long_out(?)}";
        rc = SQLExecDirectW(stmt, reinterpret_cast<SQLWCHAR*>(call.data()), SQL_NTS);
        QVERIFY(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA);
        while (SQLMoreResults(stmt) != SQL_NO_DATA) {
        }
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        QCOMPARE(indicator, static_cast<SQLLEN>(longLength * 2));
        QCOMPARE(QString(reinterpret_cast<const QChar*>(buffer.data()), longLength), longNText);
    }

    // The test clients lift the limit as Microsoft's drivers do, so every other test reads long
    // values whole.
    void clientLiftsTheLimit()
    {
        OdbcClient client;
        QVERIFY2(client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"texts"_s),
                 qPrintable(client.lastError()));
        const OdbcResult r = client.exec(u"SELECT @@TEXTSIZE, t, nt, im FROM longs WHERE id = 1"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r, 0).toLongLong(), 2147483647);
        QCOMPARE(cell(r, 1).toString(), longText);
        QCOMPARE(cell(r, 2).toString(), longNText);
        QCOMPARE(cell(r, 3).toByteArray(), longBytes);
    }
};

QTEST_GUILESS_MAIN(TextSizeTest)
#include "tst_textsize.moc"
