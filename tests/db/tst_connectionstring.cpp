// ADO-style connection strings and their ODBC form.
#include "ConnectionStringTranslation.h"
#include "MyException.h"
#include "Thrown.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Any file that exists stands for the authorities' file: its content is the driver's matter.
// Named whole, as a build with relative source paths leaves QFINDTESTDATA nothing to find.
const QString authorities = QStringLiteral(DBSETUP_SOURCE_DIR "/tests/db/tst_connectionstring.cpp");

} // namespace

class TestConnectionString : public QObject
{
    Q_OBJECT

private slots:
    void translate_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("ado");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("odbc");
        const QString tail =
            u"TDS_Version=7.4;ClientCharset=UTF-8;Language=;Encryption=request;APP=dbsetup;"_s;
        QTest::newRow("dot") << u"SQLOLEDB.1"_s << u"Data Source=.;User ID=sa;Password=x"_s
                             << QString()
                             << u"DRIVER=FreeTDS;SERVER=localhost;"_s + tail + u"UID=sa;PWD=x;"_s;
        QTest::newRow("(local)") << u"SQLOLEDB"_s << u"Data Source=(local);User ID=sa;Password=x"_s
                                 << QString()
                                 << u"DRIVER=FreeTDS;SERVER=localhost;"_s + tail +
                                        u"UID=sa;PWD=x;"_s;
        QTest::newRow("empty server, empty password")
            << u"SQLNCLI11"_s << u"Data Source=;User ID=sa;Password="_s << QString()
            << u"DRIVER=FreeTDS;SERVER=localhost;"_s + tail + u"UID=sa;PWD={};"_s;
        QTest::newRow("instance") << u"MSOLEDBSQL"_s
                                  << u"Data Source=.\\SQLEXPRESS;User ID=sa;Password=x"_s
                                  << QString()
                                  << u"DRIVER=FreeTDS;SERVER=localhost\\SQLEXPRESS;"_s + tail +
                                         u"UID=sa;PWD=x;"_s;
        QTest::newRow("port") << u"SQLOLEDB.1"_s
                              << u"Data Source=127.0.0.1,14330;User ID=sa;Password=x"_s << QString()
                              << u"DRIVER=FreeTDS;SERVER=127.0.0.1;PORT=14330;"_s + tail +
                                     u"UID=sa;PWD=x;"_s;
        QTest::newRow("SSPI") << u"SQLOLEDB.1"_s << u"Data Source=srv;Integrated Security=SSPI;"_s
                              << QString()
                              << u"DRIVER=FreeTDS;SERVER=srv;"_s + tail +
                                     u"Trusted_Connection=Yes;"_s;
        // FreeTDS drops UID and PWD beside Trusted_Connection: they would only mislead.
        QTest::newRow("SSPI with a user")
            << u"SQLOLEDB.1"_s
            << u"Data Source=srv;Integrated Security=SSPI;User ID=D\\u;Password=p"_s << QString()
            << u"DRIVER=FreeTDS;SERVER=srv;"_s + tail + u"Trusted_Connection=Yes;"_s;
        QTest::newRow("SSPI with a server SPN")
            << u"SQLOLEDB.1"_s
            << u"Data Source=srv;Integrated Security=SSPI;Server SPN=MSSQLSvc/srv.corp:1433"_s
            << QString()
            << u"DRIVER=FreeTDS;SERVER=srv;"_s + tail +
                   u"Trusted_Connection=Yes;ServerSPN=MSSQLSvc/srv.corp:1433;"_s;
        // FreeTDS logs in by NTLM when the user name holds a backslash.
        QTest::newRow("DOMAIN\\name")
            << u"SQLOLEDB.1"_s << u"Data Source=srv;User ID=CORP\\ivanov;Password=x"_s << QString()
            << u"DRIVER=FreeTDS;SERVER=srv;"_s + tail + u"UID=CORP\\ivanov;PWD=x;"_s;
        QTest::newRow("quoted password")
            << u"SQLOLEDB.1"_s << u"Data Source=srv;User ID=sa;Password=\"a;b}c\""_s << QString()
            << u"DRIVER=FreeTDS;SERVER=srv;"_s + tail + u"UID=sa;PWD={a;b}c};"_s;
        QTest::newRow("blanks around keys")
            << u"SQLOLEDB.1"_s << u"  data source =srv; user id=sa ;PASSWORD=x"_s << QString()
            << u"DRIVER=FreeTDS;SERVER=srv;"_s + tail + u"UID=sa;PWD=x;"_s;
        QTest::newRow("driver override")
            << u"SQLOLEDB.1"_s << u"Data Source=srv;User ID=sa;Password=x"_s
            << u"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"_s
            << u"DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so;SERVER=srv;"_s + tail +
                   u"UID=sa;PWD=x;"_s;
    }
    void translate()
    {
        QFETCH(QString, provider);
        QFETCH(QString, ado);
        QFETCH(QString, driver);
        QFETCH(QString, odbc);
        QCOMPARE(db::toOdbcConnectionString(provider, ado, driver), odbc);
    }

    void namedInstanceGoesToTheResolver()
    {
        QStringList asked;
        const db::InstanceResolver resolve = [&](const QString& host, const QString& instance) {
            asked << host + u'|' + instance;
            return quint16(49170);
        };
        QCOMPARE(db::toOdbcConnectionString(u"SQLOLEDB.1"_s,
                                            u"Data Source=.\\SQLEXPRESS;User ID=sa;Password=x"_s,
                                            {}, resolve),
                 u"DRIVER=FreeTDS;SERVER=localhost;PORT=49170;TDS_Version=7.4;ClientCharset=UTF-8;"
                 u"Language=;Encryption=request;APP=dbsetup;UID=sa;PWD=x;"_s);
        QCOMPARE(asked, QStringList{u"localhost|SQLEXPRESS"_s});
        // An explicit port needs no lookup.
        db::toOdbcConnectionString(u"SQLOLEDB.1"_s, u"Data Source=h\\i,1500;User ID=sa"_s, {},
                                   resolve);
        QCOMPARE(asked.size(), 1);
    }

    // The providers' encryption keywords and defaults, as FreeTDS gets them.
    void encryption_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("keywords");
        QTest::addColumn<QString>("encryption");
        QTest::addColumn<bool>("verified");
        QTest::newRow("SQLOLEDB, nothing said")
            << u"SQLOLEDB.1"_s << QString() << u"request"_s << false;
        QTest::newRow("no provider") << QString() << QString() << u"request"_s << false;
        QTest::newRow("MSOLEDBSQL 18, nothing said")
            << u"MSOLEDBSQL"_s << QString() << u"request"_s << false;
        QTest::newRow("SQLNCLI11, nothing said")
            << u"SQLNCLI11"_s << QString() << u"request"_s << false;
        QTest::newRow("MSOLEDBSQL19, nothing said")
            << u"MSOLEDBSQL19"_s << QString() << u"require"_s << true;
        QTest::newRow("MSOLEDBSQL19.1, nothing said")
            << u"msoledbsql19.1"_s << QString() << u"require"_s << true;
        QTest::newRow("MSOLEDBSQL19, certificate trusted")
            << u"MSOLEDBSQL19"_s << u"TrustServerCertificate=yes"_s << u"require"_s << false;
        QTest::newRow("MSOLEDBSQL19, optional")
            << u"MSOLEDBSQL19"_s << u"Encrypt=Optional"_s << u"request"_s << false;
        QTest::newRow("MSOLEDBSQL19, use encryption false")
            << u"MSOLEDBSQL19"_s << u"Use Encryption for Data=False"_s << u"request"_s << false;
        QTest::newRow("SQLOLEDB, use encryption true")
            << u"SQLOLEDB.1"_s << u"Use Encryption for Data=True"_s << u"require"_s << true;
        QTest::newRow("SQLOLEDB, use encryption, trusted")
            << u"SQLOLEDB.1"_s << u"Use Encryption for Data=True;Trust Server Certificate=True"_s
            << u"require"_s << false;
        QTest::newRow("Encrypt=yes") << u"SQLNCLI10"_s << u"Encrypt=yes"_s << u"require"_s << true;
        QTest::newRow("Encrypt=Mandatory, blanks and case")
            << u"MSOLEDBSQL"_s << u" encrypt = MANDATORY ; trustservercertificate= No"_s
            << u"require"_s << true;
        QTest::newRow("Encrypt=no") << u"SQLOLEDB"_s << u"Encrypt=no"_s << u"request"_s << false;
        QTest::newRow("Encrypt=false")
            << u"MSOLEDBSQL19"_s << u"Encrypt=false"_s << u"request"_s << false;
        QTest::newRow("the later keyword wins")
            << u"SQLOLEDB.1"_s << u"Encrypt=yes;Use Encryption for Data=False"_s << u"request"_s
            << false;
        QTest::newRow("trust without encryption changes nothing")
            << u"SQLOLEDB.1"_s << u"TrustServerCertificate=yes"_s << u"request"_s << false;
    }
    void encryption()
    {
        QFETCH(QString, provider);
        QFETCH(QString, keywords);
        QFETCH(QString, encryption);
        QFETCH(bool, verified);
        const QString ado = u"Data Source=db1.corp,1500;User ID=sa;Password=x;"_s + keywords;
        const db::OdbcTarget target = db::toOdbcTarget(provider, ado, {}, {}, authorities);
        const QString odbc = target.connectionString;
        QVERIFY2(odbc.contains(u";Encryption="_s + encryption + u';'), qPrintable(odbc));
        QCOMPARE(odbc.count(u"Encryption="_s), 1);
        QVERIFY2(odbc.endsWith(u"UID=sa;PWD=x;"_s), qPrintable(odbc));
        if (!verified) {
            QVERIFY(target.freetdsConf.isEmpty());
            QVERIFY2(odbc.startsWith(u"DRIVER=FreeTDS;SERVER=db1.corp;PORT=1500;"_s),
                     qPrintable(odbc));
            return;
        }
        // The certificate is checked through a section of FreeTDS's configuration file, which
        // alone can name the authorities' file; the server is then named there, not here.
        QVERIFY2(odbc.startsWith(u"DRIVER=FreeTDS;SERVERNAME=dbsetup_verified;"_s),
                 qPrintable(odbc));
        QVERIFY(!odbc.contains(u"SERVER="_s));
        const QStringList lines = target.freetdsConf.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), u"[dbsetup_verified]"_s);
        const QStringList expected{u"host = db1.corp"_s, u"port = 1500"_s,
                                   u"encryption = require"_s, u"ca file = "_s + authorities,
                                   u"check certificate hostname = yes"_s};
        for (const QString& line : expected)
            QVERIFY2(lines.contains(u'\t' + line), qPrintable(target.freetdsConf));
    }

    // Values no provider knows, and strict encryption, which FreeTDS cannot do, stop the
    // connection with a reason rather than making it weaker than asked.
    void encryptionRefused_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("keywords");
        QTest::addColumn<QString>("reason");
        QTest::newRow("Encrypt=strict")
            << u"MSOLEDBSQL19"_s << u"Encrypt=strict"_s << u"строгого шифрования (TDS 8.0)"_s;
        QTest::newRow("Use Encryption for Data=Strict")
            << u"MSOLEDBSQL19.1"_s << u"Use Encryption for Data=Strict"_s
            << u"\"Use Encryption for Data=Strict\""_s;
        QTest::newRow("Encrypt=maybe")
            << u"SQLOLEDB.1"_s << u"Encrypt=maybe"_s << u"Недопустимое значение \"maybe\""_s;
        QTest::newRow("Encrypt empty")
            << u"SQLOLEDB.1"_s << u"Encrypt="_s << u"параметра подключения \"Encrypt\""_s;
        QTest::newRow("trust mandatory")
            << u"SQLOLEDB.1"_s << u"Encrypt=yes;TrustServerCertificate=mandatory"_s
            << u"\"TrustServerCertificate\": допустимы yes, no, true и false"_s;
        QTest::newRow("trust 1") << u"MSOLEDBSQL19"_s << u"Trust Server Certificate=1"_s
                                 << u"\"Trust Server Certificate\""_s;
    }
    void encryptionRefused()
    {
        QFETCH(QString, provider);
        QFETCH(QString, keywords);
        QFETCH(QString, reason);
        EXPECT_THROWN(refused, Error,
                      db::toOdbcTarget(provider,
                                       u"Data Source=srv;User ID=sa;Password=x;"_s + keywords, {},
                                       {}, authorities));
        QVERIFY2(refused.message.contains(reason), refused.describe());
    }

    // Microsoft's drivers, each in its own keywords: the named instance is left to the driver,
    // and what a driver cannot protect as asked is refused (an empty expectation) by name.
    void translateForMicrosoft_data()
    {
        QTest::addColumn<QString>("provider");
        QTest::addColumn<QString>("ado");
        QTest::addColumn<QStringList>("odbc"); // driver 18, driver 17, legacy "SQL Server"
        const auto ms = [](const char* version, const QString& server, const QString& encrypt,
                           const QString& login) {
            return u"DRIVER={ODBC Driver %1 for SQL Server};SERVER=tcp:%2;Encrypt=%3;APP=dbsetup;%4"_s
                .arg(QString::fromLatin1(version), server, encrypt, login);
        };
        const auto legacy = [](const QString& server, const QString& login) {
            return u"DRIVER={SQL Server};SERVER=%1;Network=dbmssocn;APP=dbsetup;%2"_s.arg(server,
                                                                                          login);
        };
        // refused: 'x' where driver 18, 17 or "SQL Server" (in that order) must refuse.
        const auto row = [&](const char* name, const QString& provider, const QString& ado,
                             const QString& server, const QString& encrypt, const QString& login,
                             const char* refused = "...", const QString& legacyLogin = {}) {
            const QStringList odbc{ms("18", server, encrypt, login),
                                   ms("17", server, encrypt, login),
                                   legacy(server, legacyLogin.isEmpty() ? login : legacyLogin)};
            QStringList expected;
            for (int i = 0; i < 3; ++i)
                expected << (refused[i] == 'x' ? QString() : odbc[i]);
            QTest::newRow(name) << provider << ado << expected;
        };
        const QString ole = u"SQLOLEDB.1"_s;
        const QString sa = u"UID=sa;PWD=x;"_s;
        const QString asSa = u";User ID=sa;Password=x"_s;
        const QString db1 = u"Data Source=db1"_s + asSa;
        row("host", ole, db1, u"db1"_s, u"no"_s, sa);
        row("host,port", ole, u"Data Source=db1,1500"_s + asSa, u"db1,1500"_s, u"no"_s, sa);
        row("instance", u"SQLNCLI11"_s, u"Data Source=db1\\SQLEXPRESS"_s + asSa,
            u"db1\\SQLEXPRESS"_s, u"no"_s, sa);
        row("tcp: given", ole, u"Data Source=tcp:db1,1500"_s + asSa, u"db1,1500"_s, u"no"_s, sa);
        row("dot", ole, u"Data Source=."_s + asSa, u"localhost"_s, u"no"_s, sa);
        row("(local) instance", ole, u"Data Source=(local)\\SQLEXPRESS"_s + asSa,
            u"localhost\\SQLEXPRESS"_s, u"no"_s, sa);
        row("password with ; } {", ole,
            u"Data Source=db1;User ID=sa;Password=\"a;b}c{d} ;DRIVER=x.so\""_s, u"db1"_s, u"no"_s,
            u"UID=sa;PWD={a;b}}c{d}} ;DRIVER=x.so};"_s);
        // The legacy driver has no ServerSPN.
        row("Windows login, SPN", ole,
            u"Data Source=db1;Integrated Security=SSPI;Server SPN=MSSQLSvc/db1:1433"_s, u"db1"_s,
            u"no"_s, u"Trusted_Connection=Yes;ServerSPN=MSSQLSvc/db1:1433;"_s, "...",
            u"Trusted_Connection=Yes;"_s);
        row("Encrypt=yes", ole, db1 + u";Encrypt=yes"_s, u"db1"_s, u"yes"_s, sa, "..x");
        row("Encrypt, trusted", u"MSOLEDBSQL"_s, db1 + u";Encrypt=yes;TrustServerCertificate=yes"_s,
            u"db1"_s, u"yes;TrustServerCertificate=yes"_s, sa, "..x");
        row("trusted, not encrypted", ole, db1 + u";Trust Server Certificate=True"_s, u"db1"_s,
            u"no;TrustServerCertificate=yes"_s, sa);
        row("MSOLEDBSQL19, nothing said", u"MSOLEDBSQL19"_s, db1, u"db1"_s, u"yes"_s, sa, "..x");
        row("MSOLEDBSQL19, optional", u"MSOLEDBSQL19"_s, db1 + u";Encrypt=Optional"_s, u"db1"_s,
            u"no"_s, sa);
        // Strict checks the certificate whatever TrustServerCertificate says.
        row("strict", u"MSOLEDBSQL19"_s, db1 + u";Encrypt=Strict;TrustServerCertificate=yes"_s,
            u"db1"_s, u"strict"_s, sa, ".xx");
    }
    void translateForMicrosoft()
    {
        QFETCH(QString, provider);
        QFETCH(QString, ado);
        QFETCH(QStringList, odbc);
        const QStringList drivers{u"ODBC Driver 18 for SQL Server"_s,
                                  u"ODBC Driver 17 for SQL Server"_s, u"SQL Server"_s};
        int lookups = 0;
        const db::InstanceResolver resolve = [&](const QString&, const QString&) {
            ++lookups;
            return quint16(49170);
        };
        for (qsizetype i = 0; i < drivers.size(); ++i) {
            const QString& driver = drivers[i];
            if (odbc[i].isEmpty()) {
                EXPECT_THROWN(refused, Error,
                              db::toOdbcConnectionString(provider, ado, driver, resolve));
                QVERIFY2(refused.message.contains(u'"' + driver + u'"'), refused.describe());
                continue;
            }
            // The system's store checks the certificate: no authorities' file, no FreeTDS file.
            const db::OdbcTarget target =
                db::toOdbcTarget(provider, ado, driver, resolve, u"/nonexistent/ca.crt"_s);
            QCOMPARE(target.connectionString, odbc[i]);
            QVERIFY(target.freetdsConf.isEmpty());
        }
        QCOMPARE(lookups, 0);
    }

    void dialect_data()
    {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<int>("dialect");
        using D = db::OdbcDialect;
        QTest::newRow("19") << u" ODBC Driver 19 for SQL Server "_s << int(D::Microsoft18);
        QTest::newRow("17, lower case")
            << u"odbc driver 17 for sql server"_s << int(D::Microsoft17);
        QTest::newRow("13") << u"ODBC Driver 13 for SQL Server"_s << int(D::Microsoft17);
        QTest::newRow("Native Client") << u"SQL Server Native Client 11.0"_s << int(D::Microsoft17);
    }
    void dialect()
    {
        QFETCH(QString, driver);
        QFETCH(int, dialect);
        QCOMPARE(int(db::odbcDialect(driver)), dialect);
    }

    void driverChoice_data()
    {
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QString>("override");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("driver");
        const QString d17 = u"ODBC Driver 17 for SQL Server"_s;
        const QString d18 = u"ODBC Driver 18 for SQL Server"_s;
        const QStringList all{u"SQL Server"_s, d17, d18, u"SQL Server Native Client 11.0"_s};
        QTest::newRow("override") << all << u" FreeTDS "_s << true << u"FreeTDS"_s;
        QTest::newRow("18, 17 and SQL Server") << all << QString() << true << d18;
        QTest::newRow("only 17") << QStringList{u"SQL Server"_s, d17} << QString() << true << d17;
        QTest::newRow("none") << QStringList() << QString() << true << u"SQL Server"_s;
        QTest::newRow("13 only") << QStringList{u"ODBC Driver 13 for SQL Server"_s} << QString()
                                 << true << u"SQL Server"_s;
        QTest::newRow("Linux") << all << QString() << false << u"FreeTDS"_s;
    }
    void driverChoice()
    {
        QFETCH(QStringList, installed);
        QFETCH(QString, override);
        QFETCH(bool, windows);
        QFETCH(QString, driver);
        QCOMPARE(
            db::chooseOdbcDriver(installed, override,
                                 windows ? db::OdbcPlatform::Windows : db::OdbcPlatform::Other),
            driver);
    }

    // Checking the certificate needs the authorities' file; without one nothing is connected.
    void verificationWithoutAuthoritiesFails()
    {
        EXPECT_THROWN(unverified, Error,
                      db::toOdbcTarget(u"MSOLEDBSQL19"_s,
                                       u"Data Source=srv;User ID=sa;Password=x"_s, {}, {},
                                       u"/nonexistent/ca.crt"_s));
        QVERIFY2(unverified.message.contains(u"/nonexistent/ca.crt"_s), unverified.describe());
        QVERIFY2(unverified.message.contains(u"TrustServerCertificate=yes"_s),
                 unverified.describe());
    }

    void unknownProviderFails()
    {
        QVERIFY_THROWS_EXCEPTION(
            Error, db::toOdbcConnectionString(u"Microsoft.Jet.OLEDB.4.0"_s, u"Data Source=x"_s));
    }

    // Whatever a value holds, quoting it for ADO and parsing it back gives it whole.
    void adoQuotingRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("unchanged");
        QTest::newRow("plain") << u"Sim-Pass1"_s << true;
        QTest::newRow("empty") << QString() << true;
        QTest::newRow("semicolon and brace") << u"a;b}c"_s << false;
        QTest::newRow("outer blank") << u" pw "_s << false;
        QTest::newRow("double quote") << u"a\"b"_s << false;
        QTest::newRow("both quotes") << u"a\"b'c;"_s << false;
        QTest::newRow("equals") << u"a=b"_s << true;
    }
    void adoQuotingRoundTrip()
    {
        QFETCH(QString, value);
        QFETCH(bool, unchanged);
        const QString quoted = db::quoteAdoValue(value);
        QCOMPARE(quoted == value, unchanged);
        const db::KeyValueList pairs =
            db::parseAdoConnectionString(u"Data Source=s;Password="_s + quoted + u";User ID=u"_s);
        QCOMPARE(pairs.size(), 3);
        QCOMPARE(pairs[1].first, u"password"_s);
        QCOMPARE(pairs[1].second, value);
        QCOMPARE(pairs[2].second, u"u"_s);
    }

    void odbcQuoting_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << u"sa"_s << u"sa"_s;
        QTest::newRow("semicolon") << u"a;b"_s << u"{a;b}"_s;
        QTest::newRow("closing brace") << u"a}"_s << u"{a}}"_s;
        QTest::newRow("leading blank") << u" a"_s << u"{ a}"_s;
        QTest::newRow("empty") << QString() << u"{}"_s;
    }
    void odbcQuoting()
    {
        QFETCH(QString, value);
        QFETCH(QString, quoted);
        QCOMPARE(db::quoteOdbcValue(value), quoted);
    }

    void odbcQuotingRefusesWhatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("brace and semicolon") << u"a};b"_s;
        // The driver gets a C string: everything after the NUL would be lost.
        QTest::newRow("NUL, braced") << u"a;b\u0000c"_s;
        QTest::newRow("NUL, plain") << u"/\u0001\u0000lib/libtdsodbc.so"_s;
    }
    void odbcQuotingRefusesWhatCannotBeWritten()
    {
        QFETCH(QString, value);
        QVERIFY_THROWS_EXCEPTION(Error, db::quoteOdbcValue(value));
    }

    // unixODBC's driver manager ends a braced value at the first "}" not doubled and lets a later
    // DRIVER, FILEDSN or DSN decide which library it loads; FreeTDS reads the same value whole.
    // A value that the manager would split into keys of its own is refused; other braces pass.
    void driverManagerCannotBeRedirected_data()
    {
        QTest::addColumn<QString>("ado");
        QTest::addColumn<QString>("driver");
        QTest::addColumn<bool>("refused");
        QTest::newRow("password names a driver")
            << u"Data Source=srv;User ID=sa;Password=\"a} ;DRIVER=/tmp/evil.so;x=\""_s << QString()
            << true;
        QTest::newRow("user names a file DSN")
            << u"Data Source=srv;User ID=\"u}\tFILEDSN=/tmp/x.dsn;\";Password=x"_s << QString()
            << true;
        QTest::newRow("server names a DSN")
            << u"Data Source=\"s} ;dsn=other\";User ID=sa;Password=x"_s << QString() << true;
        QTest::newRow("manager attributes")
            << u"Data Source=srv;User ID=sa;Password=\"x}\nDMConnAttr=[1]\\\""_s << QString()
            << true;
        QTest::newRow("driver override split")
            << u"Data Source=srv;User ID=sa;Password=x"_s << u"a}b"_s << true;
        QTest::newRow("brace inside password")
            << u"Data Source=srv;User ID=sa;Password=\"a;b}c\""_s << QString() << false;
        QTest::newRow("brace inside user, then a key")
            << u"Data Source=srv;User ID=\"a}b;c=d\""_s << QString() << false;
        QTest::newRow("doubled braces")
            << u"Data Source=srv;User ID=sa;Password=\"}}{{\""_s << QString() << false;
    }
    void driverManagerCannotBeRedirected()
    {
        QFETCH(QString, ado);
        QFETCH(QString, driver);
        QFETCH(bool, refused);
        bool thrown = false;
        try {
            db::toOdbcConnectionString(u"SQLOLEDB.1"_s, ado, driver);
        } catch (const Error&) {
            thrown = true;
        }
        QCOMPARE(thrown, refused);
    }

    void loginTimeout_data()
    {
        QTest::addColumn<QByteArray>("env");
        QTest::addColumn<int>("seconds");
        QTest::newRow("unset") << QByteArray() << 15;
        QTest::newRow("number") << QByteArray("3") << 3;
        QTest::newRow("zero") << QByteArray("0") << 15;
        QTest::newRow("garbage") << QByteArray("soon") << 15;
        QTest::newRow("negative") << QByteArray("-4") << 15;
    }
    void loginTimeout()
    {
        QFETCH(QByteArray, env);
        QFETCH(int, seconds);
        QCOMPARE(db::loginTimeoutFrom(env), seconds);
    }
};

QTEST_GUILESS_MAIN(TestConnectionString)
#include "tst_connectionstring.moc"
