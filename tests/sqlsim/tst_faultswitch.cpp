// The fault switch that whole-program tests use: a request chosen by its text loses its
// connection before its answer or part way through its rows, and a login can be refused by a
// closed socket. Armed by statement or on the command line; each fault fires once.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sql.h>
#include <sqlext.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int tableRows = 40;

// What a client got from one statement before it ended: the rows it could fetch, and the first
// error, if any.
struct Outcome
{
    int rows = 0;
    bool failed = false;
    bool dead = false; // the driver knows the connection is gone
    QString state;
    QString text;
};

// The first diagnostic that is not a warning (FreeTDS puts an 01000 "Unexpected EOF" first).
QString diagnostic(SQLHSTMT stmt, QString* state)
{
    QString text;
    for (SQLSMALLINT record = 1; record < 20; ++record) {
        SQLWCHAR code[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::vector<SQLWCHAR> buffer(2048, 0);
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, record, code, &native,
                                          buffer.data(), SQLSMALLINT(buffer.size()), &length)))
            break;
        *state = QString(reinterpret_cast<const QChar*>(code), 5);
        text =
            QString(reinterpret_cast<const QChar*>(buffer.data()), qMin<qsizetype>(length, 2047));
        if (!state->startsWith(u"01"_s))
            break;
    }
    return text;
}

// Runs the statement by hand, fetching row by row, so that rows received before a drop count.
// A parameter, when given, makes the driver send an RPC instead of a batch.
Outcome run(OdbcClient& client, const QString& sql, std::optional<qint64> parameter = {})
{
    Outcome outcome;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(client.dbc()), &stmt);
    SQLBIGINT value = parameter.value_or(0);
    SQLLEN indicator = 0;
    if (parameter)
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &value, 0,
                         &indicator);
    std::vector<SQLWCHAR> text(size_t(sql.size()) + 1, 0);
    for (qsizetype i = 0; i < sql.size(); ++i)
        text[size_t(i)] = sql[i].unicode();
    SQLRETURN rc = SQLExecDirectW(stmt, text.data(), SQL_NTS);
    for (int guard = 0; guard < 1000 && rc != SQL_NO_DATA; ++guard) {
        if (!SQL_SUCCEEDED(rc))
            break;
        SQLSMALLINT columns = 0;
        SQLNumResultCols(stmt, &columns);
        while (columns > 0 && SQL_SUCCEEDED(rc = SQLFetch(stmt)))
            ++outcome.rows;
        if (columns > 0 && rc != SQL_NO_DATA)
            break;
        rc = SQLMoreResults(stmt);
    }
    if (rc == SQL_ERROR) {
        outcome.failed = true;
        outcome.text = diagnostic(stmt, &outcome.state);
    }
    SQLUINTEGER dead = SQL_CD_FALSE;
    SQLGetConnectAttr(static_cast<SQLHDBC>(client.dbc()), SQL_ATTR_CONNECTION_DEAD, &dead, 0,
                      nullptr);
    outcome.dead = dead == SQL_CD_TRUE;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return outcome;
}

bool isConnectionFailure(const Outcome& outcome)
{
    return outcome.failed && outcome.dead;
}

QString describe(const Outcome& outcome)
{
    return u"rows %1, failed %2, dead %3: %4 %5"_s.arg(outcome.rows)
        .arg(outcome.failed)
        .arg(outcome.dead)
        .arg(outcome.state, outcome.text);
}

} // namespace

class TestFaultSwitch : public QObject
{
    Q_OBJECT

    QTemporaryDir m_logDir;

    QString logPath() const { return m_logDir.filePath(u"requests.log"_s); }
    QStringList faultEntries() const
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll())
            .split(u'\n', Qt::SkipEmptyParts)
            .filter(QRegularExpression(u"^fault: "_s));
    }

    // A simulator with a table of tableRows rows and a request log of this test's own.
    bool startWithTable(SqlsimProcess& sim, const QStringList& arguments = {})
    {
        QFile::remove(logPath());
        if (!sim.start(QStringList{u"--log"_s, logPath()} + arguments))
            return false;
        OdbcClient client;
        if (!client.connect(sim.port(), u"sa"_s, sim.password()))
            return false;
        QString values;
        for (int i = 1; i <= tableRows; ++i)
            values += u"%1(%2, N'строка %2')"_s.arg(i == 1 ? QString() : u", "_s).arg(i);
        return client.exec(u"CREATE DATABASE shop"_s).ok &&
               client
                   .exec(u"CREATE TABLE shop.dbo.goods (id int, name nvarchar(50)); "
                         u"INSERT INTO shop.dbo.goods VALUES "_s +
                         values)
                   .ok;
    }

private slots:
    void initTestCase() { QVERIFY(m_logDir.isValid()); }

    // Armed on one connection, fired on another: the rows the client got, then the loss.
    void dropConnection_data()
    {
        QTest::addColumn<QString>("arm");       // the arming statement
        QTest::addColumn<QString>("statement"); // what the victim runs
        QTest::addColumn<bool>("rpc");          // with a parameter: an RPC, not a batch
        QTest::addColumn<int>("rowsBefore");    // rows the victim fetched before the drop
        QTest::addColumn<QString>("logged");    // the fault's log entry

        const QString select = u"select id, name from goods order by id"_s;
        QTest::newRow("batch, before any reply")
            << u"EXEC sqlsim_drop_connection N'from goods', 0"_s << select << false << 0
            << u"fault: connection closed before the reply to the request matching 'from goods'"_s;
        QTest::newRow("batch, after 5 rows")
            << u"EXEC sqlsim_drop_connection N'from goods', 5"_s << select << false << 5
            << u"fault: connection closed after 5 rows of the reply to the request matching "
               u"'from goods'"_s;
        QTest::newRow("text matched without regard to case")
            << u"EXEC sqlsim_drop_connection N'FROM GOODS', 1"_s << select << false << 1
            << u"fault: connection closed after 1 rows of the reply to the request matching "
               u"'FROM GOODS'"_s;
        QTest::newRow("named arguments")
            << u"EXEC sqlsim_drop_connection @after_rows = 2, @text = N'order by id'"_s << select
            << false << 2
            << u"fault: connection closed after 2 rows of the reply to the request matching "
               u"'order by id'"_s;
        QTest::newRow("rpc, before any reply")
            << u"EXEC sqlsim_drop_connection N'where id >', 0"_s
            << u"select id from goods where id > ? order by id"_s << true << 0
            << u"fault: connection closed before the reply to the request matching 'where id >'"_s;
        QTest::newRow("rpc, after 3 rows")
            << u"EXEC sqlsim_drop_connection N'sp_executesql', 3"_s
            << u"select id from goods where id > ? order by id"_s << true << 3
            << u"fault: connection closed after 3 rows of the reply to the request matching "
               u"'sp_executesql'"_s;
        QTest::newRow("rows of a later result set count too")
            << u"EXEC sqlsim_drop_connection N'top 2', 3"_s
            << u"select top 2 id from goods order by id; select id from goods order by id"_s
            << false << 3
            << u"fault: connection closed after 3 rows of the reply to the request matching "
               u"'top 2'"_s;
    }

    void dropConnection()
    {
        QFETCH(QString, arm);
        QFETCH(QString, statement);
        QFETCH(bool, rpc);
        QFETCH(int, rowsBefore);
        QFETCH(QString, logged);

        SqlsimProcess sim;
        QVERIFY2(startWithTable(sim), sim.stderrText().constData());
        OdbcClient armer;
        QVERIFY(armer.connect(sim.port(), u"sa"_s, sim.password()));
        const OdbcResult armed = armer.exec(arm);
        QVERIFY2(armed.ok, qPrintable(armed.error));
        // The arming statement holds the text itself, yet only a later request matches.
        QVERIFY(armer.exec(u"select 1"_s).ok);
        QVERIFY(faultEntries().isEmpty());

        OdbcClient victim;
        QVERIFY(victim.connect(sim.port(), u"sa"_s, sim.password(), u"shop"_s));
        const Outcome dropped =
            run(victim, statement, rpc ? std::optional<qint64>(0) : std::nullopt);
        QVERIFY2(isConnectionFailure(dropped), qPrintable(describe(dropped)));
        QCOMPARE(dropped.rows, rowsBefore);
        QCOMPARE(faultEntries(), QStringList{logged});

        // Fired once: the same request on a new connection gets its whole answer.
        OdbcClient again;
        QVERIFY(again.connect(sim.port(), u"sa"_s, sim.password(), u"shop"_s));
        const Outcome whole = run(again, statement, rpc ? std::optional<qint64>(0) : std::nullopt);
        QVERIFY2(!whole.failed, qPrintable(whole.text));
        QVERIFY(whole.rows >= tableRows);
        // The arming connection was never touched.
        QVERIFY(armer.exec(u"select 2"_s).ok);
        QCOMPARE(faultEntries().size(), 1);
    }

    // Requests that do not match pass, and the fault waits for one that does; a reply with fewer
    // rows than asked for ends normally and spends the fault.
    void faultWaitsForItsRequest()
    {
        SqlsimProcess sim;
        QVERIFY2(startWithTable(sim), sim.stderrText().constData());
        OdbcClient client;
        QVERIFY(client.connect(sim.port(), u"sa"_s, sim.password(), u"shop"_s));
        QVERIFY(client.exec(u"EXEC sqlsim_drop_connection N'goods where id < 3', 5"_s).ok);
        QVERIFY(client.exec(u"EXEC sqlsim_drop_connection N'name from goods', 0"_s).ok);

        OdbcClient other;
        QVERIFY(other.connect(sim.port(), u"sa"_s, sim.password(), u"shop"_s));
        const Outcome unrelated = run(other, u"select id from goods order by id"_s);
        QVERIFY(!unrelated.failed);
        QCOMPARE(unrelated.rows, tableRows);
        const Outcome fewer = run(other, u"select id from goods where id < 3"_s);
        QVERIFY2(!fewer.failed, qPrintable(fewer.text));
        QCOMPARE(fewer.rows, 2);
        QVERIFY(faultEntries().isEmpty());

        // The second fault is still armed.
        const Outcome dropped = run(other, u"select name from goods"_s);
        QVERIFY2(isConnectionFailure(dropped), qPrintable(describe(dropped)));
        QCOMPARE(faultEntries().size(), 1);
        QVERIFY(client.exec(u"select 1"_s).ok);
    }

    void badArguments_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::newRow("empty text") << u"EXEC sqlsim_drop_connection N'', 0"_s;
        QTest::newRow("no text") << u"EXEC sqlsim_drop_connection"_s;
        QTest::newRow("negative row count") << u"EXEC sqlsim_drop_connection N'x', -1"_s;
        QTest::newRow("unknown parameter") << u"EXEC sqlsim_drop_connection @what = N'x'"_s;
        QTest::newRow("login fault with an argument") << u"EXEC sqlsim_drop_next_login 1"_s;
    }

    void badArguments()
    {
        QFETCH(QString, statement);
        SqlsimProcess sim;
        QVERIFY2(startWithTable(sim), sim.stderrText().constData());
        OdbcClient client;
        QVERIFY(client.connect(sim.port(), u"sa"_s, sim.password()));
        QVERIFY(!client.exec(statement).ok);
        // Nothing was armed: every later request and login is answered.
        OdbcClient other;
        QVERIFY(other.connect(sim.port(), u"sa"_s, sim.password(), u"shop"_s));
        QCOMPARE(run(other, u"select id from goods"_s).rows, tableRows);
        QVERIFY(faultEntries().isEmpty());
    }

    // The next login, of whoever comes, meets a closed socket; the one after it is served.
    void dropNextLogin_data()
    {
        QTest::addColumn<bool>("fromCommandLine");
        QTest::newRow("armed by statement") << false;
        QTest::newRow("armed on the command line") << true;
    }

    void dropNextLogin()
    {
        QFETCH(bool, fromCommandLine);
        SqlsimProcess sim;
        QVERIFY2(sim.start(QStringList{u"--log"_s, logPath()} +
                           (fromCommandLine ? QStringList{u"--drop-next-login"_s} : QStringList())),
                 sim.stderrText().constData());
        QFile::resize(logPath(), 0);
        OdbcClient armer;
        if (!fromCommandLine) {
            QVERIFY(armer.connect(sim.port(), u"sa"_s, sim.password()));
            QVERIFY(armer.exec(u"EXEC sqlsim_drop_next_login"_s).ok);
        }
        OdbcClient refused;
        QVERIFY(!refused.connect(sim.port(), u"sa"_s, sim.password()));
        QVERIFY2(refused.lastSqlState().startsWith(u"08"_s), qPrintable(refused.lastError()));
        QCOMPARE(faultEntries(),
                 QStringList{u"fault: connection closed instead of answering a login"_s});
        OdbcClient served;
        QVERIFY(served.connect(sim.port(), u"sa"_s, sim.password()));
        QVERIFY(served.exec(u"select 1"_s).ok);
        if (!fromCommandLine)
            QVERIFY(armer.exec(u"select 1"_s).ok);
    }

    // Armed from the start: the first matching request of the run.
    void dropConnectionFromCommandLine()
    {
        SqlsimProcess sim;
        QVERIFY2(
            startWithTable(sim, {u"--drop-connection"_s, u"from goods"_s, u"--drop-after-rows"_s,
                                 u"7"_s, u"--drop-connection"_s, u"sysdatabases"_s}),
            sim.stderrText().constData());
        OdbcClient client;
        QVERIFY(client.connect(sim.port(), u"sa"_s, sim.password(), u"shop"_s));
        const Outcome first = run(client, u"select id from goods order by id"_s);
        QVERIFY2(isConnectionFailure(first), qPrintable(describe(first)));
        QCOMPARE(first.rows, 7);
        OdbcClient second;
        QVERIFY(second.connect(sim.port(), u"sa"_s, sim.password()));
        const Outcome list = run(second, u"select name from master.dbo.sysdatabases"_s);
        QVERIFY2(isConnectionFailure(list), qPrintable(describe(list)));
        QCOMPARE(list.rows, 0);
        QCOMPARE(faultEntries().size(), 2);
    }

    void badCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("rows without a text") << QStringList{u"--drop-after-rows"_s, u"3"_s};
        QTest::newRow("empty text") << QStringList{u"--drop-connection"_s, QString()};
        QTest::newRow("rows not a number")
            << QStringList{u"--drop-connection"_s, u"x"_s, u"--drop-after-rows"_s, u"some"_s};
    }

    void badCommandLine()
    {
        QFETCH(QStringList, arguments);
        SqlsimProcess sim;
        QVERIFY(!sim.start(arguments));
        QVERIFY2(sim.stderrText().contains("sqlsim: "), sim.stderrText().constData());
    }
};

QTEST_GUILESS_MAIN(TestFaultSwitch)
#include "tst_faultswitch.moc"
