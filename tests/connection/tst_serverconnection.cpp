#include "Connection.h"
#include "ConnectionStringTranslation.h"
#include "MyException.h"
#include "ServerConnection.h"
#include "SqlsimProcess.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The panel of a test: plain fields; the tick's change handler connects, as the window's does.
class FakePanel : public ConnectionPanel
{
public:
    QString serverText, userText, passwordText;
    bool tick = false;
    QList<bool> statuses;
    QStringList reasons;
    int handlerRuns = 0;
    ServerConnection* connection = nullptr;

    QString server() const override { return serverText; }
    void setServer(const QString& text) override { serverText = text; }
    QString userName() const override { return userText; }
    void setUserName(const QString& text) override { userText = text; }
    QString password() const override { return passwordText; }
    void setPassword(const QString& text) override { passwordText = text; }
    bool isAuthorization() const override { return tick; }
    void setAuthorization(bool on) override
    {
        if (on == tick)
            return;
        tick = on;
        ++handlerRuns;
        if (connection != nullptr)
            connection->ConnectServer();
    }
    void showConnected(bool connected, const QString& reason) override
    {
        statuses.append(connected);
        reasons.append(reason);
    }
};

// The window's side: the panel, the connection and the texts the window keeps.
struct Scene
{
    db::Connection connection;
    FakePanel panel;
    QString connectString;
    QString current;
    ServerConnection server{connection, panel, connectString, current};
};

} // namespace

class TestServerConnection : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    SqlsimProcess m_sim;

    QString serverText() const { return u"127.0.0.1,%1"_s.arg(m_sim.port()); }

private slots:
    void initTestCase()
    {
        QVERIFY(writeFile(m_dir.filePath(u"logins"_s), "tricky=a;b}c\nCORP\\ivanov=Win-Pass1\n"));
        QVERIFY2(m_sim.start({u"--logins"_s, m_dir.filePath(u"logins"_s)}), m_sim.stderrText());
    }

    void buildString_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("windows");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sql login") << u".\\sqlexpress"_s << u"sa"_s << u"pw"_s << false
                                   << u"Data Source=.\\sqlexpress;User ID=sa;Password=pw"_s;
        QTest::newRow("empty password") << u"srv"_s << u"sa"_s << QString() << false
                                        << u"Data Source=srv;User ID=sa;Password="_s;
        QTest::newRow("windows login leaves user and password out")
            << u"srv"_s << u"sa"_s << u"pw"_s << true
            << u"Data Source=srv;Integrated Security=SSPI;"_s;
        QTest::newRow("domain user stays as typed")
            << u"srv"_s << u"CORP\\ivanov"_s << u"pw"_s << false
            << u"Data Source=srv;User ID=CORP\\ivanov;Password=pw"_s;
    }

    void buildString()
    {
        QFETCH(QString, server);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, windows);
        QFETCH(QString, expected);
        QCOMPARE(BuildConnectString(server, user, password, windows), expected);
    }

    void awkwardPasswordsSurviveTheString_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("semicolon") << u"a;b"_s;
        QTest::newRow("braces") << u"a;b}c{"_s;
        QTest::newRow("outer blanks") << u" pw "_s;
        QTest::newRow("quotes") << u"it's \"x\""_s;
    }

    void awkwardPasswordsSurviveTheString()
    {
        QFETCH(QString, password);
        const QString text = BuildConnectString(u"srv"_s, u"sa"_s, password, false);
        bool found = false;
        for (const auto& [key, value] : db::parseAdoConnectionString(text)) {
            if (key.compare(u"Password"_s, Qt::CaseInsensitive) == 0) {
                QCOMPARE(value, password);
                found = true;
            }
        }
        QVERIFY(found);
        QCOMPARE(SplitConnectString(text).password, password);
    }

    void split_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("dataSource");
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("sspi");
        QTest::newRow("blanks around keys")
            << u" Data Source =srv; user id=sa"_s << u"srv"_s << u"sa"_s << QString() << false;
        QTest::newRow("blank after = stays")
            << u"Data Source= srv;User ID=sa"_s << u" srv"_s << u"sa"_s << QString() << false;
        QTest::newRow("SSPI in capitals") << u"Integrated Security=SSPI;Data Source=s"_s << u"s"_s
                                          << QString() << QString() << true;
        QTest::newRow("sspi in lower case")
            << u"integrated security=sspi"_s << QString() << QString() << QString() << false;
        QTest::newRow("later key wins, = in value")
            << u"Password=a;PASSWORD=b=c;User ID=u;Data Source=d"_s << u"d"_s << u"u"_s << u"b=c"_s
            << false;
        QTest::newRow("pieces without =")
            << u"junk;;Data Source=d"_s << u"d"_s << QString() << QString() << false;
        QTest::newRow("double quotes: ; inside, the quote doubled")
            << u"Password=\"Semi;Pa\"\"ss}1\";User ID=sa"_s << QString() << u"sa"_s
            << u"Semi;Pa\"ss}1"_s << false;
        QTest::newRow("single quotes, blanks around them")
            << u"Data Source= 'a;b''c' ;User ID=u"_s << u"a;b'c"_s << u"u"_s << QString() << false;
    }

    void split()
    {
        QFETCH(QString, text);
        QFETCH(QString, dataSource);
        QFETCH(QString, userId);
        QFETCH(QString, password);
        QFETCH(bool, sspi);
        const ParsedConnectString parsed = SplitConnectString(text);
        QCOMPARE(parsed.dataSource, dataSource);
        QCOMPARE(parsed.userId, userId);
        QCOMPARE(parsed.password, password);
        QCOMPARE(parsed.integratedSecurity, sspi);
    }

    // What a string says about encryption outlives the parse: the panel has no field for it.
    void options_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("options");
        QTest::newRow("none") << u"Data Source=s;User ID=u;Password=p"_s << QString();
        QTest::newRow("as written, in order")
            << u"Use Encryption for Data=True;Data Source=s;User ID=u; Trust Server Certificate "
               u"= False"_s
            << u"Use Encryption for Data=True;Trust Server Certificate=False"_s;
        QTest::newRow("ODBC names and the server SPN")
            << u"Encrypt=Mandatory;TrustServerCertificate=yes;ServerSPN=MSSQLSvc/h:1433"_s
            << u"Encrypt=Mandatory;TrustServerCertificate=yes;ServerSPN=MSSQLSvc/h:1433"_s;
        QTest::newRow("quoted") << u"Encrypt = \"no\" ;ServerSPN='MSSQLSvc/h;1'"_s
                                << u"Encrypt=no;ServerSPN=\"MSSQLSvc/h;1\""_s;
        QTest::newRow("other keys stay out")
            << u"Persist Security Info=True;Encrypt=no;Application Name=x"_s << u"Encrypt=no"_s;
    }
    void options()
    {
        QFETCH(QString, text);
        QFETCH(QString, options);
        QCOMPARE(SplitConnectString(text).options, options);
    }

    // Today's simulator does not encrypt: asking for no encryption logs in as before, and what
    // FreeTDS cannot do is refused with the reason on the panel.
    void encryptionKeywords_data()
    {
        QTest::addColumn<QString>("keywords");
        QTest::addColumn<QString>("reason"); // empty: connects
        QTest::newRow("Encrypt=no") << u"Encrypt=no"_s << QString();
        QTest::newRow("Encrypt=Optional") << u"Encrypt=Optional"_s << QString();
        QTest::newRow("Use Encryption for Data=False")
            << u"Use Encryption for Data=False"_s << QString();
        QTest::newRow("Use Encryption for Data=False, trusted")
            << u"Use Encryption for Data=False;Trust Server Certificate=True"_s << QString();
        QTest::newRow("Encrypt=strict") << u"Encrypt=strict"_s << u"TDS 8.0"_s;
        // Encryption and a checked certificate unless told otherwise: the simulator's
        // certificate, if it offers one, is signed by no authority the test trusts.
        QTest::newRow("MSOLEDBSQL19")
            << u"Provider=MSOLEDBSQL19"_s << u"не подписан центром из файла"_s;
        QTest::newRow("Encrypt=perhaps")
            << u"Encrypt=perhaps"_s << u"Недопустимое значение \"perhaps\""_s;
    }
    void encryptionKeywords()
    {
        QFETCH(QString, keywords);
        QFETCH(QString, reason);
        // Files another user made where the driver's settings once went stop no login.
        QStringList decoys;
        const auto removeDecoys = qScopeGuard([&] {
            for (const QString& decoy : decoys)
                QFile::remove(decoy);
        });
        for (int i = 1; i <= 64; ++i) {
            decoys << QDir::temp().filePath(
                u"dbsetup-freetds-%1-%2.conf"_s.arg(QCoreApplication::applicationPid()).arg(i));
            QVERIFY(writeFile(decoys.last(), "[dbsetup_verified]\n"));
        }
        const QString authorities = m_dir.filePath(u"no-authority.pem"_s);
        QVERIFY(writeFile(authorities, "not a certificate\n"));
        qputenv("DBSETUP_CA_FILE", QFile::encodeName(authorities));
        const auto restore = qScopeGuard([] { qunsetenv("DBSETUP_CA_FILE"); });
        Scene s;
        s.server.ParseConnectString(u"Provider=SQLOLEDB.1;User ID=sa;Password="_s +
                                    m_sim.password() + u";Data Source="_s + serverText() + u';' +
                                    keywords);
        QCOMPARE(s.server.ConnectServer(), reason.isEmpty());
        QCOMPARE(s.connection.isOpen(), reason.isEmpty());
        if (reason.isEmpty()) {
            QVERIFY2(s.connectString.endsWith(u';' + keywords), qPrintable(s.connectString));
            return;
        }
        QVERIFY2(s.panel.reasons.value(0).contains(reason), qPrintable(s.panel.reasons.value(0)));
        QCOMPARE(s.server.lastFailure(), s.panel.reasons.value(0));
        if (keywords.contains(u"MSOLEDBSQL19"_s)) { // the login went through FreeTDS's own file
            QVERIFY2(s.panel.reasons.value(0).contains(authorities),
                     qPrintable(s.panel.reasons.value(0)));
            // ... which lives only as long as the login.
            QVERIFY(!qEnvironmentVariableIsSet("FREETDSCONF"));
            const QString mine = u"dbsetup-freetds-%1-*"_s.arg(QCoreApplication::applicationPid());
            QCOMPARE(QDir::temp().entryList({mine}, QDir::Dirs | QDir::Hidden), QStringList());
        }
    }

    // A string with other encryption settings is another connection, even when the panel's
    // fields stay the same.
    void changedOptionsReconnect()
    {
        Scene s;
        const QString base = u"Provider=SQLOLEDB.1;User ID=sa;Password="_s + m_sim.password() +
                             u";Data Source="_s + serverText();
        s.server.ParseConnectString(base + u";Encrypt=no"_s);
        QVERIFY(s.server.ConnectServer());
        s.server.ParseConnectString(base + u";Encrypt=strict"_s);
        QVERIFY(!s.server.ConnectServer());
        QCOMPARE(s.panel.statuses, (QList<bool>{true, false}));
        QVERIFY(!s.connection.isOpen());
    }

    // DOMAIN\name with a password: FreeTDS logs in by NTLM, the password never travels.
    void domainUserLogsInByNtlm_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("connects");
        QTest::newRow("right password") << u"Win-Pass1"_s << true;
        QTest::newRow("wrong password") << u"Win-Pass2"_s << false;
    }
    void domainUserLogsInByNtlm()
    {
        QFETCH(QString, password);
        QFETCH(bool, connects);
        Scene s;
        s.panel.serverText = serverText();
        s.panel.userText = u"CORP\\ivanov"_s;
        s.panel.passwordText = password;
        QCOMPARE(s.server.ConnectServer(), connects);
        if (connects) {
            QVERIFY(s.connection.isOpen());
            return;
        }
        QVERIFY2(s.panel.reasons.value(0).contains(u"Login failed for user 'CORP\\ivanov'"_s,
                                                   Qt::CaseInsensitive),
                 qPrintable(s.panel.reasons.value(0)));
    }

    // FreeTDS says only "Unable to connect to data source" when Kerberos has no ticket; the
    // panel says what is missing.
    void windowsLoginWithoutTicketSaysWhy()
    {
        const QByteArray oldCache = qgetenv("KRB5CCNAME");
        const QByteArray oldConfig = qgetenv("KRB5_CONFIG");
        // A realm set up, but no ticket: what an operator sees before kinit.
        const QString config = m_dir.filePath(u"krb5.conf"_s);
        QVERIFY(writeFile(config, "[libdefaults]\n  default_realm = CORP.INVALID\n"));
        qputenv("KRB5CCNAME", "FILE:/nonexistent/krb5cc_dbsetup");
        qputenv("KRB5_CONFIG", QFile::encodeName(config));
        const auto restore = qScopeGuard([&] {
            oldCache.isNull() ? qunsetenv("KRB5CCNAME") : qputenv("KRB5CCNAME", oldCache);
            oldConfig.isNull() ? qunsetenv("KRB5_CONFIG") : qputenv("KRB5_CONFIG", oldConfig);
        });
        Scene s;
        s.panel.serverText = serverText();
        s.panel.tick = true;
        QVERIFY(!s.server.ConnectServer());
        const QString reason = s.panel.reasons.value(0);
        QVERIFY2(reason.contains(u"Нет действующего билета Kerberos"_s), qPrintable(reason));
        QVERIFY2(reason.contains(u"kinit"_s), qPrintable(reason));
    }

    // A server that cannot be reached is not blamed on Kerberos.
    void windowsLoginToNoServerBlamesTheNetwork()
    {
        Scene s;
        s.panel.serverText = u"127.0.0.1,1"_s;
        s.panel.tick = true;
        QVERIFY(!s.server.ConnectServer());
        QVERIFY2(!s.panel.reasons.value(0).contains(u"Kerberos"_s),
                 qPrintable(s.panel.reasons.value(0)));
    }

    void connectServer()
    {
        Scene s;
        s.connectString = u"old"_s;

        s.panel.serverText = serverText();
        s.panel.userText = u"sa"_s;
        s.panel.passwordText = u"wrong"_s;
        QVERIFY(!s.server.ConnectServer());
        QVERIFY(!s.connection.isOpen());
        QCOMPARE(s.connectString, u"old"_s);
        QCOMPARE(s.panel.statuses, QList<bool>{false});
        // The server's refusal is the reason the panel shows, the password nowhere in it.
        QVERIFY2(s.panel.reasons.value(0).contains(u"Login failed for user 'sa'"_s),
                 qPrintable(s.panel.reasons.value(0)));
        QVERIFY(!s.panel.reasons.value(0).contains(u"wrong"_s));

        s.panel.passwordText = m_sim.password();
        QVERIFY(s.server.ConnectServer());
        QVERIFY(s.connection.isOpen());
        QCOMPARE(s.connectString,
                 BuildConnectString(s.panel.serverText, u"sa"_s, m_sim.password(), false));
        QCOMPARE(s.panel.statuses, (QList<bool>{false, true}));
        QCOMPARE(s.panel.reasons.value(1), QString());

        // Unchanged fields: no reconnection, the status is not touched.
        QVERIFY(s.server.ConnectServer());
        QCOMPARE(s.panel.statuses.size(), 2);

        // Any change of the string reconnects, the case of the server name included.
        s.panel.serverText = u"LOCALHOST,%1"_s.arg(m_sim.port());
        QVERIFY(s.server.ConnectServer());
        QCOMPARE(s.panel.statuses.size(), 3);
        QVERIFY(s.connectString.contains(u"LOCALHOST"_s));

        // Another provider cannot be set on an open connection; the current database stays.
        s.current = u"before"_s;
        QVERIFY_THROWS_EXCEPTION(
            Error, s.server.ParseConnectString(u"Provider=MSDASQL;User ID=sa;Data Source=x;"
                                               u"Initial Catalog=after"_s));
        QCOMPARE(s.current, u"before"_s);
        s.server.ParseConnectString(u"Provider=SQLOLEDB.1;User ID=sa;Data Source="_s +
                                    serverText() + u";Initial Catalog=after"_s);
        QCOMPARE(s.current, u"after"_s);
    }

    void awkwardPasswordLogsIn()
    {
        Scene s;
        s.panel.serverText = serverText();
        s.panel.userText = u"tricky"_s;
        s.panel.passwordText = u"a;b}c"_s;
        QVERIFY(s.server.ConnectServer());
        QVERIFY(s.connection.isOpen());
    }

    void parseConnectString()
    {
        Scene s;
        s.current = u"ostrel_ts"_s;
        s.panel.connection = &s.server;
        s.panel.serverText = u"keep"_s;
        s.panel.passwordText = u"keep"_s;

        s.server.ParseConnectString(u"Data Source=elsewhere;Integrated Security=SSPI;"_s);
        QCOMPARE(s.panel.serverText, u"keep"_s); // no user id: nothing changes
        QCOMPARE(s.current, u"ostrel_ts"_s);

        s.server.ParseConnectString(u"Provider=SQLOLEDB.1;User ID=sa;Data Source="_s +
                                    serverText());
        QCOMPARE(s.panel.serverText, serverText());
        QCOMPARE(s.panel.userText, u"sa"_s);
        QCOMPARE(s.panel.passwordText, QString()); // no password in the text empties the field
        QCOMPARE(s.current, QString());
        QCOMPARE(s.panel.handlerRuns, 0); // the tick did not change

        s.server.ParseConnectString(u"User ID=sa;Data Source=x;Integrated Security=SSPI"_s);
        QVERIFY(s.panel.tick);
        QCOMPARE(s.panel.handlerRuns, 1);
        QCOMPARE(s.connection.provider(), u"SQLOLEDB.1"_s); // none given: kept
    }

    void loadUdlFile()
    {
        QStringEncoder toUtf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        const QString udl = m_dir.filePath(u"db.udl"_s);
        QVERIFY(writeFile(udl, toUtf16(u"[oledb]\r\n; Everything after this line is an OLE DB "
                                       u"initstring\r\nProvider=SQLOLEDB.1;Password=pw;Persist "
                                       u"Security Info=True;User ID=оператор;Initial "
                                       u"Catalog=ostrel_ts2;Data Source=srv\\sql\r\n"_s)));
        Scene s;
        s.server.LoadConnectString(m_dir.filePath(u"missing.udl"_s));
        QVERIFY(s.panel.serverText.isEmpty());
        s.server.LoadConnectString(udl);
        QCOMPARE(s.panel.serverText, u"srv\\sql"_s);
        QCOMPARE(s.panel.userText, u"оператор"_s);
        QCOMPARE(s.panel.passwordText, u"pw"_s);
        QCOMPARE(s.current, u"ostrel_ts2"_s);
        QVERIFY(!s.connection.isOpen()); // loading does not connect
    }
};

QTEST_GUILESS_MAIN(TestServerConnection)
#include "tst_serverconnection.moc"
