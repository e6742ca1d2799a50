// The xml data type as a client of the simulator meets it through FreeTDS's driver: what a
// string becomes once stored, the parser's refusals, the conversions SQL Server refuses, the
// comparisons and sorts it refuses, the catalogue's description and values on the wire.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QtTest>
#include <sql.h>
#include <sqlext.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int sqlSsXml = -152; // SQL_SS_XML of Microsoft's ODBC headers

QVariant cell(const OdbcResult& result, int row = 0, int column = 0)
{
    return result.resultSets.value(0).rows.value(row).value(column);
}

} // namespace

class XmlTypeTest : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;
    OdbcClient m_client;

    OdbcResult exec(const QString& sql) { return m_client.exec(sql); }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY2(m_client.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(m_client.lastError()));
        QVERIFY(exec(u"CREATE DATABASE xmls"_s).ok);
        QVERIFY(exec(u"USE xmls"_s).ok);
        OdbcResult r = exec(u"CREATE TABLE docs (id int PRIMARY KEY, x xml NULL)"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = exec(u"INSERT INTO docs VALUES (1, N'<a>1</a>'), (2, '<b/>'), (3, NULL)"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
    }

    void cleanupTestCase()
    {
        m_client.disconnect();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    // A string converted to xml comes back as SQL Server serialises the stored instance, by
    // each way a value becomes xml: a column, CAST, a variable, a parameter.
    void storedForm_data()
    {
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("stored");
        QTest::newRow("element") << u"N'<a>1</a>'"_s << u"<a>1</a>"_s;
        QTest::newRow("empty element") << u"'<a/>'"_s << u"<a />"_s;
        QTest::newRow("empty pair") << u"'<a></a>'"_s << u"<a />"_s;
        QTest::newRow("declaration dropped")
            << u"'<?xml version=\"1.0\"?><a x=''1''/>'"_s << u"<a x=\"1\" />"_s;
        QTest::newRow("blank text dropped")
            << u"'<a>' + CHAR(10) + '  <b>t u</b>' + CHAR(10) + '</a>'"_s << u"<a><b>t u</b></a>"_s;
        QTest::newRow("cdata and references")
            << u"'<a><![CDATA[x<y]]>&#65;&amp;&gt;</a>'"_s << u"<a>x&lt;yA&amp;&gt;</a>"_s;
        QTest::newRow("attribute escapes")
            << u"'<a t=\"&quot;&lt;\" u=''\"''/>'"_s << u"<a t=\"&quot;&lt;\" u=\"&quot;\" />"_s;
        QTest::newRow("fragment") << u"'text<a/><b/>'"_s << u"text<a /><b />"_s;
        QTest::newRow("comment and instruction")
            << u"'<a><!-- c --><?p d?></a>'"_s << u"<a><!-- c --><?p d?></a>"_s;
        QTest::newRow("namespace")
            << u"'<p:a xmlns:p=\"urn:x\"/>'"_s << u"<p:a xmlns:p=\"urn:x\" />"_s;
        QTest::newRow("cyrillic") << u"N'<имя>значение</имя>'"_s << u"<имя>значение</имя>"_s;
        QTest::newRow("empty string") << u"''"_s << QString();
        QTest::newRow("from binary") << u"0x3C612F3E"_s << u"<a />"_s;
    }
    void storedForm()
    {
        QFETCH(QString, literal);
        QFETCH(QString, stored);

        OdbcResult r = exec(u"SELECT CAST(%1 AS xml)"_s.arg(literal));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r).toString(), stored);

        r = exec(u"DECLARE @x xml = CONVERT(xml, %1); SELECT @x"_s.arg(literal));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r).toString(), stored);

        r = exec(u"DELETE FROM docs WHERE id = 10; INSERT INTO docs VALUES (10, %1); "
                 u"SELECT x, CAST(x AS nvarchar(max)) FROM docs WHERE id = 10"_s.arg(literal));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r).toString(), stored);
        QCOMPARE(cell(r, 0, 1).toString(), stored);
    }

    // Text that is not well-formed XML fails where it is converted, with the place of the
    // fault counted from the text's start.
    void malformed_data()
    {
        QTest::addColumn<QString>("literal");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::newRow("unclosed") << u"'<a>'"_s << 9400
                                  << u"XML parsing: line 1, character 3, unexpected end of input"_s;
        QTest::newRow("unclosed inside") << u"N'<a><b></b>'"_s << 9400
                                         << u"XML parsing: line 1, character 10, unexpected end "
                                            "of input"_s;
        QTest::newRow("second line") << u"'<a>' + CHAR(10) + '<b>'"_s << 9400
                                     << u"XML parsing: line 2, character 3, unexpected end of "
                                        "input"_s;
        QTest::newRow("mismatched end") << u"'<a></b>'"_s << 9436
                                        << u"XML parsing: line 1, character 7, end tag does not "
                                           "match start tag"_s;
        QTest::newRow("end without start") << u"'</a>'"_s << 9436
                                           << u"XML parsing: line 1, character 4, end tag does "
                                              "not match start tag"_s;
        QTest::newRow("unquoted attribute")
            << u"'<a x=1/>'"_s << 9413
            << u"XML parsing: line 1, character 6, A string literal was expected"_s;
        QTest::newRow("control character")
            << u"N'<a>' + NCHAR(1) + N'</a>'"_s << 9420
            << u"XML parsing: line 1, character 4, illegal xml character"_s;
        QTest::newRow("bad name") << u"'<1a/>'"_s << 9455
                                  << u"XML parsing: line 1, character 2, illegal qualified name "
                                     "character"_s;
        QTest::newRow("8-bit encoding in nvarchar")
            << u"N'<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>'"_s << 9402
            << u"XML parsing: line 1, character 38, unable to switch the encoding"_s;
    }
    void malformed()
    {
        QFETCH(QString, literal);
        QFETCH(int, number);
        QFETCH(QString, message);
        for (const QString& sql : {u"SELECT CAST(%1 AS xml)"_s, u"DECLARE @x xml = %1"_s,
                                   u"INSERT INTO docs VALUES (11, %1)"_s}) {
            const OdbcResult r = exec(sql.arg(literal));
            QVERIFY2(!r.ok, qPrintable(sql));
            QCOMPARE(r.nativeError, number);
            QCOMPARE(serverText(r.error), message);
        }
        QCOMPARE(cell(exec(u"SELECT COUNT(*) FROM docs WHERE id = 11"_s)).toLongLong(), 0);
    }

    // Only text and binary become xml and only explicitly come back; text and ntext never.
    void refusedConversion_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::newRow("int to xml")
            << u"SELECT CAST(1 AS xml)"_s << 529
            << u"Explicit conversion from data type int to xml is not allowed."_s;
        QTest::newRow("xml to ntext")
            << u"SELECT CAST(x AS ntext) FROM docs"_s << 529
            << u"Explicit conversion from data type xml to ntext is not allowed."_s;
        QTest::newRow("xml to int")
            << u"SELECT CONVERT(int, x) FROM docs"_s << 529
            << u"Explicit conversion from data type xml to int is not allowed."_s;
        QTest::newRow("xml into nvarchar variable")
            << u"DECLARE @n nvarchar(max); SELECT @n = x FROM docs WHERE id = 1"_s << 257
            << u"Implicit conversion from data type xml to nvarchar is not allowed. Use the "
               "CONVERT function to run this query."_s;
        QTest::newRow("int into xml variable")
            << u"DECLARE @x xml = 5"_s << 206
            << u"Operand type clash: int is incompatible with xml"_s;
    }
    void refusedConversion()
    {
        QFETCH(QString, sql);
        QFETCH(int, number);
        QFETCH(QString, message);
        const OdbcResult r = exec(sql);
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, number);
        QCOMPARE(serverText(r.error), message);
    }

    // xml is neither compared nor sorted; IS NULL and the functions that take it still work.
    void refusedComparison_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        const QString from = u" FROM docs"_s;
        const auto where = [&](const QString& predicate) {
            return u"SELECT id FROM docs WHERE "_s + predicate;
        };
        QTest::newRow("=") << where(u"x = x"_s) << 305;
        QTest::newRow("<> string") << where(u"x <> N'<a>1</a>'"_s) << 305;
        QTest::newRow("string =") << where(u"'<b />' = x"_s) << 305;
        QTest::newRow("<") << where(u"x < x"_s) << 305;
        QTest::newRow(">") << where(u"x > x"_s) << 305;
        QTest::newRow("<=") << where(u"x <= x"_s) << 305;
        QTest::newRow(">=") << where(u"x >= x"_s) << 305;
        QTest::newRow("in") << where(u"x IN (N'<a>1</a>')"_s) << 305;
        QTest::newRow("not in") << where(u"x NOT IN (N'<a>1</a>')"_s) << 305;
        QTest::newRow("between") << where(u"x BETWEEN 'a' AND 'b'"_s) << 305;
        QTest::newRow("case when") << u"SELECT CASE x WHEN '<b />' THEN 1 END"_s + from << 305;
        QTest::newRow("order by") << u"SELECT id FROM docs ORDER BY x"_s << 305;
        QTest::newRow("group by") << u"SELECT COUNT(*) FROM docs GROUP BY x"_s << 305;
        QTest::newRow("distinct") << u"SELECT DISTINCT x FROM docs"_s << 421;
        QTest::newRow("union") << u"SELECT x FROM docs UNION SELECT x FROM docs"_s << 421;
        QTest::newRow("max") << u"SELECT MAX(x)"_s + from << 8117;
        QTest::newRow("like") << where(u"x LIKE '%a%'"_s) << 8116;
        QTest::newRow("len") << u"SELECT LEN(x)"_s + from << 8116;
        QTest::newRow("variable =") << u"DECLARE @x xml = '<a/>'; IF @x = @x SELECT 1"_s << 305;
    }
    void refusedComparison()
    {
        QFETCH(QString, sql);
        QFETCH(int, number);
        const OdbcResult r = exec(sql);
        QVERIFY2(!r.ok, qPrintable(sql));
        QCOMPARE(r.nativeError, number);
        if (number == 305)
            QCOMPARE(serverText(r.error), u"The XML data type cannot be compared or sorted, except "
                                          "when using the IS NULL operator."_s);
    }

    void allowedUse_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("is null") << u"SELECT id FROM docs WHERE x IS NULL AND id < 10"_s
                                 << QStringList{u"3"_s};
        QTest::newRow("is not null")
            << u"SELECT id FROM docs WHERE x IS NOT NULL AND id < 10 ORDER BY id"_s
            << QStringList{u"1"_s, u"2"_s};
        QTest::newRow("isnull") << u"SELECT ISNULL(x, '<none/>') FROM docs WHERE id = 3"_s
                                << QStringList{u"<none />"_s};
        QTest::newRow("coalesce") << u"SELECT COALESCE(x, N'') FROM docs WHERE id = 3"_s
                                  << QStringList{QString()};
        QTest::newRow("count") << u"SELECT COUNT(x) FROM docs WHERE id < 10"_s
                               << QStringList{u"2"_s};
        QTest::newRow("union all") << u"SELECT x FROM docs WHERE id = 2 UNION ALL "
                                      u"SELECT x FROM docs WHERE id = 2"_s
                                   << QStringList{u"<b />"_s, u"<b />"_s};
        QTest::newRow("compare as text")
            << u"SELECT id FROM docs WHERE CAST(x AS nvarchar(max)) = N'<b />'"_s
            << QStringList{u"2"_s};
    }
    void allowedUse()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, rows);
        const OdbcResult r = exec(sql);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets.value(0)), rows);
    }

    // The driver learns the type from COLMETADATA and reads the value as text: whole, past the
    // 4096 bytes that cut the (max) types under the server's default TEXTSIZE; NULL as NULL.
    void wire()
    {
        OdbcClient plain;
        QVERIFY2(plain.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"xmls"_s,
                               OdbcClient::TextSize::ServerDefault),
                 qPrintable(plain.lastError()));
        QString body;
        for (int i = 0; i < 1000; ++i)
            body += u"<i>%1</i>"_s.arg(i);
        const QString document = u"<list>"_s + body + u"</list>"_s;
        OdbcResult r = plain.execParams(u"INSERT INTO docs VALUES (20, ?)"_s, {document});
        QVERIFY2(r.ok, qPrintable(r.error));
        r = plain.exec(
            u"SELECT x, CAST(x AS nvarchar(max)) FROM docs WHERE id IN (20, 3) ORDER BY id"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        const ResultSet& set = r.resultSets.value(0);
        QVERIFY2(set.sqlTypes.value(0) == sqlSsXml || set.sqlTypes.value(0) == SQL_WLONGVARCHAR,
                 qPrintable(QString::number(set.sqlTypes.value(0))));
        QVERIFY(cell(r, 0, 0).isNull());
        QCOMPARE(cell(r, 1, 0).toString(), document);
        QCOMPARE(cell(r, 1, 1).toString().size(), 2048); // nvarchar(max) is cut, xml is not
        // ISNULL and COALESCE keep xml, the type of highest precedence.
        r = plain.exec(u"SELECT ISNULL(x, '<n/>'), COALESCE(x, N'') FROM docs WHERE id = 3"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).sqlTypes, QList<int>({set.sqlTypes[0], set.sqlTypes[0]}));
        plain.disconnect();
    }

    void parameter_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("number"); // 0: stored
        QTest::addColumn<QString>("stored");
        QTest::newRow("document") << u"<r><c a='1'/></r>"_s << 0 << u"<r><c a=\"1\" /></r>"_s;
        QTest::newRow("malformed") << u"<r><c></r>"_s << 9436 << QString();
    }
    void parameter()
    {
        QFETCH(QString, value);
        QFETCH(int, number);
        QFETCH(QString, stored);
        exec(u"DELETE FROM docs WHERE id = 21"_s);
        const OdbcResult r = m_client.execParams(u"INSERT INTO docs VALUES (21, ?)"_s, {value});
        QCOMPARE(r.nativeError, number);
        if (number == 0)
            QCOMPARE(cell(exec(u"SELECT x FROM docs WHERE id = 21"_s)).toString(), stored);
    }

    // sp_columns as ODBC's SQLColumns calls it: SQL_SS_XML for ODBC 3, SQL_WLONGVARCHAR for 2.
    void catalogue_data()
    {
        QTest::addColumn<int>("odbcVer");
        QTest::addColumn<qint64>("dataType");
        QTest::newRow("ODBC 3") << 3 << qint64(sqlSsXml);
        QTest::newRow("ODBC 2") << 2 << qint64(SQL_WLONGVARCHAR);
    }
    void catalogue()
    {
        QFETCH(int, odbcVer);
        QFETCH(qint64, dataType);
        const OdbcResult r =
            exec(u"EXEC sp_columns @table_name = N'docs', @column_name = N'x', @ODBCVer = %1"_s.arg(
                odbcVer));
        QVERIFY2(r.ok, qPrintable(r.error));
        const ResultSet& set = r.resultSets.value(0);
        QCOMPARE(set.rows.size(), 1);
        const QList<QVariant>& row = set.rows[0];
        QCOMPARE(row.value(set.columns.indexOf(u"TYPE_NAME"_s)).toString(), u"xml"_s);
        QCOMPARE(row.value(set.columns.indexOf(u"DATA_TYPE"_s)).toLongLong(), dataType);
        QCOMPARE(row.value(set.columns.indexOf(u"NULLABLE"_s)).toLongLong(), 1);

        // SQLGetTypeInfo lists it under the same number (beside ntext for ODBC 2), not
        // searchable.
        const OdbcResult info = exec(u"sp_datatype_info_100 %1, %2"_s.arg(dataType).arg(odbcVer));
        QVERIFY2(info.ok, qPrintable(info.error));
        const ResultSet& types = info.resultSets.value(0);
        const auto xml =
            std::find_if(types.rows.cbegin(), types.rows.cend(), [](const auto& typeRow) {
                return typeRow.value(0).toString() == u"xml"_s;
            });
        QVERIFY(xml != types.rows.cend());
        QCOMPARE(xml->value(types.columns.indexOf(u"SEARCHABLE"_s)).toLongLong(), 0);
    }
};

QTEST_GUILESS_MAIN(XmlTypeTest)
#include "tst_xmltype.moc"
