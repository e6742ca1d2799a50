// Text and code pages as a client meets them on a server of either collation: literals without
// N and everything stored into char, varchar and text keep only what the database's code page
// holds ('?' for the rest); N literals and Unicode parameters keep every character; statement
// paths are literals too, so a path without N loses what the code page lacks.
#include "OdbcClient.h"
#include "SqlsimProcess.h"
#include "TdsBuffer.h"
#include "TdsTypes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString cyrillic = u"Cyrillic_General_CI_AS"_s;
const QString latin1 = u"Latin1_General_CI_AS"_s;

QVariant firstCell(const OdbcResult& result)
{
    return result.resultSets.value(0).rows.value(0).value(0);
}

} // namespace

class CodePageTest : public QObject
{
    Q_OBJECT

    SqlsimProcess m_cyrillic;
    SqlsimProcess m_latin1;
    QTemporaryDir m_folder;
    int m_table = 0;

    SqlsimProcess& server(const QString& collation)
    {
        return collation == latin1 ? m_latin1 : m_cyrillic;
    }

    bool connect(OdbcClient& client, const QString& collation)
    {
        SqlsimProcess& sim = server(collation);
        return client.connect(sim.port(), u"sa"_s, sim.password(), u"cp"_s);
    }

    static void prepare(SqlsimProcess& sim, const QString& collation)
    {
        const QStringList args =
            collation == cyrillic ? QStringList() : QStringList{u"--collation"_s, collation};
        QVERIFY2(sim.start(args), sim.stderrText().constData());
        OdbcClient client;
        QVERIFY2(client.connect(sim.port(), u"sa"_s, sim.password()),
                 qPrintable(client.lastError()));
        const OdbcResult r = client.exec(u"CREATE DATABASE cp"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        prepare(m_cyrillic, cyrillic);
        prepare(m_latin1, latin1);
    }

    void cleanupTestCase()
    {
        for (SqlsimProcess* sim : {&m_cyrillic, &m_latin1}) {
            sim->stop();
            const QByteArray errors = sim->stderrText();
            QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
        }
    }

    void unknownCollationRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("no such alphabet") << u"Klingon_General_CI_AS"_s;
        QTest::newRow("not a collation name") << u"Latin1"_s;
        // A collation the simulator cannot compare by: it would hide case-sensitivity faults.
        QTest::newRow("case-sensitive") << u"Latin1_General_CS_AS"_s;
    }
    void unknownCollationRefused()
    {
        QFETCH(QString, name);
        SqlsimProcess sim;
        QVERIFY(!sim.start({u"--collation"_s, name}));
        QVERIFY2(sim.stderrText().contains(name.toUtf8()), sim.stderrText().constData());
    }

    // A value written into a column of each kind and read back.
    void storedText_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("columnType");
        QTest::addColumn<QString>("value");      // an expression; "?" is the parameter
        QTest::addColumn<QVariant>("parameter"); // sent as Unicode (WVARCHAR)
        QTest::addColumn<QString>("expected");

        const QVariant none;
        for (const QString& c : {cyrillic, latin1}) {
            const bool lat = c == latin1;
            const QByteArray tag = lat ? "latin1: " : "cyrillic: ";
            const auto row = [&](const char* name) {
                return &(QTest::newRow(tag + name) << c);
            };
            *row("literal into varchar") << u"varchar(20)"_s << u"'café Архив'"_s << none
                                         << (lat ? u"café ?????"_s : u"caf? Архив"_s);
            // The literal is varchar before it reaches the column: N-columns do not help it.
            *row("literal into nvarchar") << u"nvarchar(20)"_s << u"'café Архив'"_s << none
                                          << (lat ? u"café ?????"_s : u"caf? Архив"_s);
            *row("N literal into nvarchar")
                << u"nvarchar(20)"_s << u"N'café Архив'"_s << none << u"café Архив"_s;
            *row("N literal into varchar") << u"varchar(20)"_s << u"N'café Архив'"_s << none
                                           << (lat ? u"café ?????"_s : u"caf? Архив"_s);
            *row("N literal into char, padded")
                << u"char(6)"_s << u"N'Жé'"_s << none << (lat ? u"?é    "_s : u"Ж?    "_s);
            *row("N literal into text")
                << u"text"_s << u"N'Ωé'"_s << none << (lat ? u"?é"_s : u"??"_s);
            *row("a surrogate pair is one character")
                << u"varchar(20)"_s << u"N'a\U0001F600b'"_s << none << u"a?b"_s;
            *row("in both code pages") << u"varchar(20)"_s << u"N'€ «x»'"_s << none << u"€ «x»"_s;
            *row("Unicode parameter into nvarchar")
                << u"nvarchar(20)"_s << u"?"_s << QVariant(u"café Архив"_s) << u"café Архив"_s;
            *row("Unicode parameter into varchar")
                << u"varchar(20)"_s << u"?"_s << QVariant(u"café Архив"_s)
                << (lat ? u"café ?????"_s : u"caf? Архив"_s);
            *row("convert to varchar")
                << u"nvarchar(20)"_s << u"CONVERT(varchar(20), N'café Архив')"_s << none
                << (lat ? u"café ?????"_s : u"caf? Архив"_s);
            *row("bytes read in the code page")
                << u"varchar(20)"_s << u"CONVERT(varchar(20), 0xC6E9)"_s << none
                << (lat ? u"Æé"_s : u"Жй"_s);
            *row("text written in the code page")
                << u"varchar(20)"_s << u"CONVERT(varchar(20), CONVERT(varbinary(20), 'Жé'))"_s
                << none << (lat ? u"?é"_s : u"Ж?"_s);
        }
    }
    void storedText()
    {
        QFETCH(QString, collation);
        QFETCH(QString, columnType);
        QFETCH(QString, value);
        QFETCH(QVariant, parameter);
        QFETCH(QString, expected);

        OdbcClient client;
        QVERIFY2(connect(client, collation), qPrintable(client.lastError()));
        const QString table = u"t%1"_s.arg(++m_table);
        OdbcResult r = client.exec(u"CREATE TABLE %1 (v %2)"_s.arg(table, columnType));
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString insert = u"INSERT INTO %1 (v) VALUES (%2)"_s.arg(table, value);
        r = parameter.isNull() ? client.exec(insert) : client.execParams(insert, {parameter});
        QVERIFY2(r.ok, qPrintable(r.error));
        r = client.exec(u"SELECT v FROM "_s + table);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(firstCell(r).toString(), expected);
    }

    // What a client asks to learn the collation and its code page.
    void properties_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QVariant>("expected");

        for (const QString& c : {cyrillic, latin1}) {
            const QByteArray tag = c == latin1 ? "latin1: " : "cyrillic: ";
            const qint64 codePage = c == latin1 ? 1252 : 1251;
            const auto row = [&](const char* name) {
                return &(QTest::newRow(tag + name) << c);
            };
            *row("server") << u"SERVERPROPERTY('Collation')"_s << QVariant(c);
            *row("database") << u"DATABASEPROPERTYEX('cp', 'Collation')"_s << QVariant(c);
            *row("no such database")
                << u"DATABASEPROPERTYEX('nothere', 'Collation')"_s << QVariant();
            *row("sys.databases")
                << u"(SELECT collation_name FROM sys.databases WHERE name = 'cp')"_s << QVariant(c);
            *row("code page of the current database")
                << u"COLLATIONPROPERTY(CONVERT(nvarchar(128), DATABASEPROPERTYEX(DB_NAME(), "
                   u"'Collation')), 'CodePage')"_s
                << QVariant(codePage);
            *row("Cyrillic code page")
                << u"COLLATIONPROPERTY('Cyrillic_General_CS_AS', 'CodePage')"_s
                << QVariant(qint64(1251));
            *row("Latin1 code page") << u"COLLATIONPROPERTY('SQL_Latin1_General_CP1_CI_AS', "
                                        u"'CodePage')"_s
                                     << QVariant(qint64(1252));
            *row("LCID") << u"COLLATIONPROPERTY('Latin1_General_CI_AS', 'LCID')"_s
                         << QVariant(qint64(1033));
            *row("comparison style") << u"COLLATIONPROPERTY('Cyrillic_General_CI_AS', "
                                        u"'ComparisonStyle')"_s
                                     << QVariant(qint64(196609));
            *row("unknown name") << u"COLLATIONPROPERTY('Klingon_General_CI_AS', 'CodePage')"_s
                                 << QVariant();
            *row("unknown property")
                << u"COLLATIONPROPERTY('Latin1_General_CI_AS', 'Colour')"_s << QVariant();
        }
    }
    void properties()
    {
        QFETCH(QString, collation);
        QFETCH(QString, expression);
        QFETCH(QVariant, expected);

        OdbcClient client;
        QVERIFY2(connect(client, collation), qPrintable(client.lastError()));
        const OdbcResult r = client.exec(u"SELECT "_s + expression);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QVariant value = firstCell(r);
        if (expected.isNull())
            QVERIFY2(value.isNull(), qPrintable(value.toString()));
        else
            QCOMPARE(value.toString(), expected.toString());
    }

    // A backup path is a literal: without N a name outside the code page arrives as '?'s.
    void backupPath_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("prefix");  // "N" or ""
        QTest::addColumn<QString>("folder");  // under the test's folder, made beforehand; the
                                              // backup goes there as Архив.bak
        QTest::addColumn<QString>("written"); // the file the server writes; empty: it fails

        QTest::newRow("cyrillic: literal") << cyrillic << QString() << u"c1"_s << u"Архив.bak"_s;
        QTest::newRow("latin1: literal") << latin1 << QString() << u"l1"_s << u"?????.bak"_s;
        QTest::newRow("latin1: N literal") << latin1 << u"N"_s << u"l2"_s << u"Архив.bak"_s;
        QTest::newRow("latin1: literal, Cyrillic folder")
            << latin1 << QString() << u"l3/Архив"_s << QString();
        QTest::newRow("latin1: N literal, Cyrillic folder")
            << latin1 << u"N"_s << u"l4/Архив"_s << u"Архив.bak"_s;
    }
    void backupPath()
    {
        QFETCH(QString, collation);
        QFETCH(QString, prefix);
        QFETCH(QString, folder);
        QFETCH(QString, written);

        const QString dir = m_folder.filePath(folder);
        QVERIFY(QDir().mkpath(dir));
        OdbcClient client;
        QVERIFY2(connect(client, collation), qPrintable(client.lastError()));
        const OdbcResult r = client.exec(
            u"BACKUP DATABASE cp TO DISK = %1'%2' WITH INIT"_s.arg(prefix, dir + u"/Архив.bak"_s));
        if (written.isEmpty()) {
            QVERIFY(!r.ok);
            QCOMPARE(r.nativeError, 3201);
            return;
        }
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{written});
        // The history names the collation the database was backed up with.
        const OdbcResult history = client.exec(
            u"SELECT TOP 1 collation_name FROM msdb.dbo.backupset ORDER BY backup_set_id DESC"_s);
        QCOMPARE(firstCell(history).toString(), collation);
    }

    // A variable holds what its type holds, and a statement names a database by that.
    void variable_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("assignment"); // @n's type, then SET
        QTest::addColumn<QString>("expected");
        QTest::newRow("cyrillic: varchar")
            << cyrillic << u"varchar(128) SET @n = 'café'"_s << u"caf?"_s;
        QTest::newRow("latin1: varchar")
            << latin1 << u"varchar(128) SET @n = 'Склад'"_s << u"?????"_s;
        QTest::newRow("latin1: nvarchar")
            << latin1 << u"nvarchar(128) SET @n = N'Склад'"_s << u"Склад"_s;
    }
    void variable()
    {
        QFETCH(QString, collation);
        QFETCH(QString, assignment);
        QFETCH(QString, expected);
        OdbcClient client;
        QVERIFY2(connect(client, collation), qPrintable(client.lastError()));
        const QString declare = u"DECLARE @n "_s + assignment + u' ';
        QCOMPARE(firstCell(client.exec(declare + u"SELECT @n"_s)).toString(), expected);
        const OdbcResult r = client.exec(
            declare + u"BACKUP DATABASE @n TO DISK = N'%1'"_s.arg(m_folder.filePath(u"v.bak"_s)));
        QCOMPARE(serverText(r.error), u"Database '%1' does not exist. Make sure that the name is "
                                      "entered correctly."_s.arg(expected));
    }

    // A VARCHAR parameter's bytes read by the code page of the collation it arrives with.
    void varcharParameter_data()
    {
        QTest::addColumn<QByteArray>("collationBytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Cyrillic_General_CI_AS") << QByteArray("\x19\x04\xD0\x00\x00", 5) << u"Жй"_s;
        QTest::newRow("SQL_Latin1_General_CP1_CI_AS")
            << QByteArray("\x09\x04\xD0\x00\x34", 5) << u"Æé"_s;
        QTest::newRow("Latin1_General_CI_AS") << QByteArray("\x09\x04\xD0\x00\x00", 5) << u"Æé"_s;
    }
    void varcharParameter()
    {
        QFETCH(QByteArray, collationBytes);
        QFETCH(QString, expected);
        sqlsim::tds::TdsWriter w;
        w.bVarchar(u"@p"_s);
        w.u8(0);
        w.u8(sqlsim::tds::type::BigVarChar);
        w.u16(20);
        w.bytes(collationBytes);
        w.u16(2);
        w.bytes(QByteArray("\xC6\xE9", 2));
        sqlsim::tds::TdsReader in(w.data());
        const sqlsim::Param p = sqlsim::tds::readParam(in);
        QCOMPARE(std::get<QString>(p.value), expected);
    }

    // The collation bytes a server sends (captured from SQL Server for the SQL collation).
    void collationBytes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("Cyrillic") << cyrillic << QByteArray("\x19\x04\xD0\x00\x00", 5);
        QTest::newRow("Latin1") << latin1 << QByteArray("\x09\x04\xD0\x00\x00", 5);
        QTest::newRow("SQL Latin1")
            << u"SQL_Latin1_General_CP1_CI_AS"_s << QByteArray("\x09\x04\xD0\x00\x34", 5);
        QTest::newRow("accent-insensitive")
            << u"Latin1_General_CI_AI"_s << QByteArray("\x09\x04\xF0\x00\x00", 5);
        QTest::newRow("binary") << u"Latin1_General_BIN2"_s
                                << QByteArray("\x09\x04\x00\x01\x00", 5);
    }
    void collationBytes()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const std::optional<sqlsim::Collation> collation = sqlsim::findCollation(name);
        QVERIFY(collation);
        QCOMPARE(collation->tdsBytes().toHex(' '), bytes.toHex(' '));
    }
};

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
