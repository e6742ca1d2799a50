// The TDS layer against the real FreeTDS ODBC driver: a TdsListener in this process serves a
// scripted server whose answers come from the tables below.
#include "Engine.h"
#include "OdbcClient.h"
#include "RequestLog.h"
#include "TdsBuffer.h"
#include "TdsListener.h"
#include "TdsLogin.h"
#include "TdsReply.h"
#include "TdsTypes.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace sqlsim;

namespace {

constexpr int guardMs = 30'000; // only a broken wire waits this long
const QString saPassword = u"Sim-Pass1"_s;

// SQL Server's ODBC types of time and datetimeoffset, which FreeTDS reports too.
constexpr int sqlSsTime2 = -154;
constexpr int sqlSsTimestampOffset = -155;

// A cell of every type the engine can send, with what the client must read back.
struct TypeCase
{
    const char* tag;
    ColumnType type;
    Value value;
    QVariant expected;
    int odbcType;
};

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

QByteArray pseudoRandomBytes(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
    for (qsizetype i = size / 4 * 4; i < size; ++i)
        data[i] = static_cast<char>(i);
    return data;
}

const QList<TypeCase>& typeCases()
{
    static const QString longCyrillic = QString(100'000, QChar(0x0416)) + u"end"_s;
    static const QString longText = QString(10'000, u'x') + u"ж"_s;
    static const QList<TypeCase> cases = {
        {"bit", {SqlType::Bit}, qint64(1), qint64(1), SQL_BIT},
        {"tinyint", {SqlType::TinyInt}, qint64(255), qint64(255), SQL_TINYINT},
        {"smallint", {SqlType::SmallInt}, qint64(-32768), qint64(-32768), SQL_SMALLINT},
        {"int", {SqlType::Int}, qint64(-2147483647 - 1), qint64(-2147483647 - 1), SQL_INTEGER},
        {"bigint",
         {SqlType::BigInt},
         qint64(9223372036854775807LL),
         qint64(9223372036854775807LL),
         SQL_BIGINT},
        {"real", {SqlType::Real}, 1.5, 1.5, SQL_REAL},
        {"float", {SqlType::Float}, 3.141592653589793, 3.141592653589793, SQL_DOUBLE},
        {"decimal text", {SqlType::Decimal, 0, 10, 2}, u"12.50"_s, u"12.50"_s, SQL_NUMERIC},
        {"decimal 38",
         {SqlType::Decimal, 0, 38, 6},
         u"-12345678901234567890123456789012.123456"_s,
         u"-12345678901234567890123456789012.123456"_s,
         SQL_NUMERIC},
        {"decimal rounds", {SqlType::Decimal, 0, 10, 2}, u"2.345"_s, u"2.35"_s, SQL_NUMERIC},
        {"decimal from int", {SqlType::Decimal, 0, 5, 2}, qint64(-7), u"-7.00"_s, SQL_NUMERIC},
        {"decimal from double", {SqlType::Decimal, 0, 10, 3}, 0.125, u"0.125"_s, SQL_NUMERIC},
        {"datetime",
         {SqlType::DateTime},
         utc(2024, 2, 29, 13, 45, 30, 123),
         u"2024-02-29 13:45:30.123"_s,
         SQL_TYPE_TIMESTAMP},
        {"datetime from text",
         {SqlType::DateTime},
         u"2001-02-03 04:05:06.007"_s,
         u"2001-02-03 04:05:06.007"_s,
         SQL_TYPE_TIMESTAMP},
        {"datetime rounds to next day",
         {SqlType::DateTime},
         utc(1999, 12, 31, 23, 59, 59, 999),
         u"2000-01-01 00:00:00.000"_s,
         SQL_TYPE_TIMESTAMP},
        // date, time, datetime2 and datetimeoffset in their own TDS types, as the driver
        // reads them into text; datetimeoffset travels as UTC with its offset.
        {"date", {SqlType::Date}, u"1812-09-07"_s, u"1812-09-07"_s, SQL_TYPE_DATE},
        {"time(0)", {SqlType::Time, 0, 0, 0}, u"23:59:58.0000000"_s, u"23:59:58"_s, sqlSsTime2},
        {"time(3)", {SqlType::Time, 0, 0, 3}, u"10:15:00.1230000"_s, u"10:15:00.123"_s, sqlSsTime2},
        {"time(7)",
         {SqlType::Time, 0, 0, 7},
         u"10:15:00.1234567"_s,
         u"10:15:00.1234567"_s,
         sqlSsTime2},
        {"datetime2(0)",
         {SqlType::DateTime2, 0, 0, 0},
         u"2024-02-29 13:45:30.0000000"_s,
         u"2024-02-29 13:45:30"_s,
         SQL_TYPE_TIMESTAMP},
        {"datetime2(7)",
         {SqlType::DateTime2, 0, 0, 7},
         u"1812-09-07 00:00:00.0000001"_s,
         u"1812-09-07 00:00:00.0000001"_s,
         SQL_TYPE_TIMESTAMP},
        {"datetimeoffset(0)",
         {SqlType::DateTimeOffset, 0, 0, 0},
         u"2024-02-05 07:15:00.0000000 +03:00"_s,
         u"2024-02-05 10:15:00 +03:00"_s,
         sqlSsTimestampOffset},
        {"datetimeoffset(7) west",
         {SqlType::DateTimeOffset, 0, 0, 7},
         u"2024-02-05 23:00:00.1234567 -05:30"_s,
         u"2024-02-05 17:30:00.1234567 -05:30"_s,
         sqlSsTimestampOffset},
        {"smalldatetime",
         {SqlType::DateTime, 4},
         utc(2079, 6, 6, 23, 59, 0, 0),
         u"2079-06-06 23:59:00"_s,
         SQL_TYPE_TIMESTAMP},
        {"char pads", {SqlType::Char, 5}, u"ab"_s, u"ab   "_s, SQL_CHAR},
        {"varchar", {SqlType::VarChar, 20}, u"Привет €"_s, u"Привет €"_s, SQL_VARCHAR},
        {"varchar(max)", {SqlType::VarChar, ColumnType::max}, longText, longText, SQL_VARCHAR},
        {"text", {SqlType::Text}, u"some text"_s, u"some text"_s, SQL_LONGVARCHAR},
        {"nchar pads", {SqlType::NChar, 4}, u"Я"_s, u"Я   "_s, SQL_WCHAR},
        {"nvarchar", {SqlType::NVarChar, 50}, u"Привет, мир"_s, u"Привет, мир"_s, SQL_WVARCHAR},
        {"nvarchar(max)",
         {SqlType::NVarChar, ColumnType::max},
         longCyrillic,
         longCyrillic,
         SQL_WVARCHAR},
        {"ntext", {SqlType::NText}, u"Текст"_s, u"Текст"_s, SQL_WLONGVARCHAR},
        {"binary pads",
         {SqlType::Binary, 4},
         QByteArray("\x01\x02", 2),
         QByteArray("\x01\x02\x00\x00", 4),
         SQL_BINARY},
        {"varbinary",
         {SqlType::VarBinary, 10},
         QByteArray("\x00\xFF\x10", 3),
         QByteArray("\x00\xFF\x10", 3),
         SQL_VARBINARY},
        {"varbinary(max)",
         {SqlType::VarBinary, ColumnType::max},
         pseudoRandomBytes(100'000, 1),
         pseudoRandomBytes(100'000, 1),
         SQL_VARBINARY},
        {"image",
         {SqlType::Image},
         pseudoRandomBytes(70'000, 2),
         pseudoRandomBytes(70'000, 2),
         SQL_LONGVARBINARY},
        {"uniqueidentifier",
         {SqlType::UniqueIdentifier},
         u"6f9619ff-8b86-d011-b42d-00c04fc964fe"_s,
         u"6F9619FF-8B86-D011-B42D-00C04FC964FE"_s,
         SQL_GUID},
        {"int into nvarchar", {SqlType::NVarChar, 10}, qint64(42), u"42"_s, SQL_WVARCHAR},
        {"text into int", {SqlType::Int}, u" 123 "_s, qint64(123), SQL_INTEGER},
        {"bad text into int", {SqlType::Int}, u"abc"_s, QVariant(), SQL_INTEGER},
        {"double into int", {SqlType::Int}, -2.7, qint64(-2), SQL_INTEGER},
        {"text into bit", {SqlType::Bit}, u"1"_s, qint64(1), SQL_BIT},
        {"int into datetime",
         {SqlType::DateTime},
         qint64(1),
         u"1900-01-02 00:00:00.000"_s,
         SQL_TYPE_TIMESTAMP},
    };
    return cases;
}

// A row of many columns of mixed types, and what the client reads from each.
constexpr int wideColumns = 70;

ColumnType wideType(int i)
{
    switch (i % 5) {
    case 0:
        return {SqlType::Int};
    case 1:
        return {SqlType::NVarChar, 10};
    case 2:
        return {SqlType::VarBinary, ColumnType::max};
    case 3:
        return {SqlType::DateTime};
    default:
        return {SqlType::Decimal, 0, 10, 2};
    }
}

Value wideValue(int i)
{
    switch (i % 5) {
    case 0:
        return qint64(i * 10);
    case 1:
        return u"s%1"_s.arg(i);
    case 2:
        return QByteArray(i, 'b');
    case 3:
        return utc(2020, 1, 1, 0, 0, 0, 0).addDays(i);
    default:
        return u"%1.5"_s.arg(i);
    }
}

QVariant wideExpected(int i)
{
    switch (i % 5) {
    case 0:
        return qint64(i * 10);
    case 1:
        return u"s%1"_s.arg(i);
    case 2:
        return QByteArray(i, 'b');
    case 3:
        return utc(2020, 1, 1, 0, 0, 0, 0).addDays(i).toString(u"yyyy-MM-dd 00:00:00.000"_s);
    default:
        return u"%1.50"_s.arg(i);
    }
}

// What the scripted server saw and the switches the test holds.
struct Script
{
    std::mutex mutex;
    QStringList calls; // "rpc <name>", "begin", "commit 1", …
    QList<QList<Param>> rpcParams;
    QSemaphore started;
    QSemaphore gate;
    std::atomic<int> gateTimeouts = 0;
    std::atomic<int> spinEnds = 0;

    void record(const QString& call, const QList<Param>& params = {})
    {
        std::lock_guard lock(mutex);
        calls.append(call);
        rpcParams.append(params);
    }
    void waitGate()
    {
        if (!gate.tryAcquire(1, guardMs))
            ++gateTimeouts;
    }
};

Script script;

QByteArray bigCell()
{
    static const QByteArray data = pseudoRandomBytes(20 * 1024 * 1024 + 3, 7);
    return data;
}

class FakeSession final : public Session
{
public:
    explicit FakeSession(QString database) : m_database(std::move(database)) {}

    QString currentDatabase() const override { return m_database; }

    void executeBatch(const QString& sql, ReplySink& reply) override
    {
        static const QRegularExpression space(u"\\s+"_s);
        const QStringList words = sql.split(space, Qt::SkipEmptyParts);
        const QString command = words.value(0);
        const int arg = words.value(1).toInt();
        // The engine's part: the session's TEXTSIZE goes with every reply.
        reply.setTextSize(m_textSize);
        if (command.compare(u"set"_s, Qt::CaseInsensitive) == 0 &&
            words.value(1).compare(u"textsize"_s, Qt::CaseInsensitive) == 0) {
            m_textSize = words.value(2).toLongLong();
            reply.done(DoneKind::Statement, std::nullopt, false);
        } else if (command == u"ping"_s) {
            reply.columns({{u"answer"_s, {SqlType::Int}}});
            reply.row({qint64(42)});
            reply.done(DoneKind::Statement, 1, false);
        } else if (command == u"type"_s) {
            const TypeCase& c = typeCases().at(arg);
            reply.columns({{u"v"_s, c.type}});
            reply.row({c.value});
            reply.row({Value()});
            reply.done(DoneKind::Statement, 2, false);
        } else if (command == u"wide"_s) {
            // Past 64 columns the null bitmap outweighs even a (max) type's 8-byte NULL: one
            // NULL goes out in the plain ROW form.
            QList<Column> columns;
            QList<Value> values;
            for (int i = 0; i < wideColumns; ++i) {
                columns.append({u"c%1"_s.arg(i), wideType(i)});
                values.append(i == arg ? Value() : wideValue(i));
            }
            reply.columns(columns);
            reply.row(values);
            reply.done(DoneKind::Statement, 1, false);
        } else if (command == u"lob"_s) {
            reply.columns({{u"t"_s, {SqlType::NVarChar, ColumnType::max}},
                           {u"b"_s, {SqlType::VarBinary, ColumnType::max}},
                           {u"v"_s, {SqlType::VarChar, ColumnType::max}}});
            reply.row({u"длинный"_s, QByteArray("\x0A\x0B", 2), u"latin"_s});
            reply.row({Value(), Value(), Value()});
            reply.done(DoneKind::Statement, 2, false);
        } else if (command == u"multi"_s) {
            reply.columns({{u"a"_s, {SqlType::Int}}});
            reply.row({qint64(1)});
            reply.row({qint64(2)});
            reply.done(DoneKind::Statement, 2, false);
            reply.done(DoneKind::Statement, 5, false); // an UPDATE
            reply.message({0, 1, 0, u"a message"_s, {}, 1});
            reply.done(DoneKind::Statement, std::nullopt, false); // DDL: no count
            reply.columns({{u"b"_s, {SqlType::NVarChar, 10}}, {u"c"_s, {SqlType::Bit}}});
            reply.row({u"x"_s, qint64(0)});
            reply.done(DoneKind::Statement, 1, false);
        } else if (command == u"rows"_s) {
            reply.columns({{u"n"_s, {SqlType::Int}}, {u"s"_s, {SqlType::NVarChar, 40}}});
            for (int i = 0; i < arg && !reply.cancelled(); ++i)
                reply.row({qint64(i), u"row number %1"_s.arg(i)});
            reply.done(DoneKind::Statement, arg, false);
        } else if (command == u"error"_s) {
            reply.message({208, 1, 16, u"Invalid object name 'nowhere'."_s, {}, 1});
            reply.done(DoneKind::Statement, std::nullopt, true);
        } else if (command == u"use"_s) {
            const QString old = m_database;
            m_database = words.value(1);
            reply.databaseChanged(m_database, old);
            reply.message(
                {5701, 1, 0, u"Changed database context to '%1'."_s.arg(m_database), {}, 1});
            reply.done(DoneKind::Statement, std::nullopt, false);
        } else if (command == u"progress"_s) {
            reply.message({3211, 1, 0, u"10 percent processed."_s, {}, 1});
            reply.done(DoneKind::Statement, std::nullopt, false);
            reply.flush();
            script.waitGate();
            reply.message({3014, 1, 0, u"Finished."_s, {}, 1});
            reply.done(DoneKind::Statement, std::nullopt, false);
        } else if (command == u"spin"_s) {
            script.started.release();
            QDeadlineTimer guard(guardMs);
            while (!reply.cancelled() && !guard.hasExpired())
                std::this_thread::yield();
            ++script.spinEnds;
        } else if (command == u"block"_s) {
            script.started.release();
            script.waitGate();
            reply.columns({{u"done"_s, {SqlType::Int}}});
            reply.row({qint64(1)});
            reply.done(DoneKind::Statement, 1, false);
        } else if (command == u"drop"_s) {
            reply.columns({{u"n"_s, {SqlType::Int}}});
            reply.row({qint64(1)});
            reply.dropConnection();
        } else if (command == u"big"_s) {
            reply.columns(
                {{u"img"_s, {SqlType::Image}}, {u"bin"_s, {SqlType::VarBinary, ColumnType::max}}});
            reply.row({bigCell(), bigCell()});
            reply.done(DoneKind::Statement, 1, false);
        } else if (command == u"nodone"_s) {
            reply.message({50000, 1, 16, u"forgot the done"_s, {}, 1});
        } else if (command == u"throw"_s) {
            throw std::runtime_error("engine failure");
        } else {
            reply.message({2812, 62, 16, u"Unknown test command."_s, {}, 1});
            reply.done(DoneKind::Statement, std::nullopt, true);
        }
    }

    void executeRpc(const QString& procedure, const QList<Param>& params, ReplySink& reply) override
    {
        script.record(u"rpc "_s + procedure, params);
        if (procedure == u"sp_prepexec"_s) {
            Param handle = params.value(0);
            handle.value = qint64(++m_handles);
            reply.columns({{u"x"_s, {SqlType::Int}}});
            reply.row({params.value(3).value});
            reply.done(DoneKind::InProc, 1, false);
            reply.returnStatus(0);
            reply.returnValue(0, handle);
        } else if (procedure == u"sp_execute"_s) {
            reply.columns({{u"x"_s, {SqlType::Int}}});
            reply.row({params.value(1).value});
            reply.done(DoneKind::InProc, 1, false);
            reply.returnStatus(0);
        } else if (procedure == u"dbo.echo"_s) {
            // {? = call dbo.echo(?, ?)}: doubles the input into the output parameter.
            Param out = params.value(1);
            out.value = *tds::toInteger(params.value(0).value) * 2;
            reply.returnStatus(7);
            reply.returnValue(2, out);
        } else {
            reply.returnStatus(0);
        }
        reply.done(DoneKind::Proc, std::nullopt, false);
    }

    void beginTransaction(ReplySink& reply) override
    {
        script.record(u"begin"_s);
        reply.transactionBegan(++m_transaction);
        reply.done(DoneKind::Statement, std::nullopt, false);
    }
    void commitTransaction(bool beginNew, ReplySink& reply) override
    {
        script.record(u"commit %1"_s.arg(beginNew));
        reply.transactionCommitted(m_transaction);
        if (beginNew)
            reply.transactionBegan(++m_transaction);
        reply.done(DoneKind::Statement, std::nullopt, false);
    }
    void rollbackTransaction(bool beginNew, ReplySink& reply) override
    {
        script.record(u"rollback %1"_s.arg(beginNew));
        reply.transactionRolledBack(m_transaction);
        if (beginNew)
            reply.transactionBegan(++m_transaction);
        reply.done(DoneKind::Statement, std::nullopt, false);
    }

private:
    QString m_database;
    qint64 m_textSize = -1; // the wire alone cuts nothing
    int m_handles = 0;
    quint64 m_transaction = 0x1000;
};

class FakeServer final : public Server
{
public:
    using Server::login;
    std::variant<std::unique_ptr<Session>, Message>
    login(const QString& user, const QString& password, const QString& database) override
    {
        const bool known =
            (user == u"sa"_s && password == saPassword) ||
            (user.compare(u"OFFICE\\ivanov"_s, Qt::CaseInsensitive) == 0 && password == u"pw"_s);
        if (!known)
            return Message{18456, 1, 14, u"Login failed for user '%1'."_s.arg(user), {}, 1};
        if (database == u"missing"_s)
            return Message{4060,
                           1,
                           11,
                           u"Cannot open database \"missing\" requested by the login. The "
                           u"login failed."_s,
                           {},
                           1};
        return std::make_unique<FakeSession>(database.isEmpty() ? u"master"_s : database);
    }
    quint32 programVersion() const override { return 0x0F0007D0; }
};

// A statement handle freed on scope exit.
struct Statement
{
    explicit Statement(OdbcClient& client)
    {
        SQLAllocHandle(SQL_HANDLE_STMT, client.dbc(), &handle);
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    SQLRETURN exec(const QString& sql)
    {
        std::u16string text = sql.toStdU16String();
        return SQLExecDirectW(handle, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
    }
    // Every diagnostic of the last call: "STATE native text".
    QStringList diagnostics()
    {
        QStringList result;
        for (SQLSMALLINT record = 1;; ++record) {
            SQLWCHAR state[6] = {};
            SQLWCHAR text[1024] = {};
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, handle, record, state, &native, text,
                                              1024, &length)))
                break;
            result.append(
                u"%1 %2 %3"_s.arg(QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5),
                                  QString::number(native),
                                  QString::fromUtf16(reinterpret_cast<const char16_t*>(text),
                                                     std::min<int>(length, 1023))));
        }
        return result;
    }

    SQLHSTMT handle = SQL_NULL_HSTMT;
};

// Index of a type case by its tag, for the batch the fake understands.
int typeIndex(const QByteArray& tag)
{
    for (qsizetype i = 0; i < typeCases().size(); ++i) {
        if (tag == typeCases()[i].tag)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

class TdsWireTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void login_data();
    void login();
    void integratedLogin();
    void loginDatabaseAndUse();
    void valuesOut_data();
    void valuesOut();
    void rowWithNullInPlainRow();
    void bigCellsOut();
    void parametersIn_data();
    void parametersIn();
    void bigParameterIn();
    void multipleResultsKeepInSync();
    void errorsAndMissingDone();
    void progressArrivesBeforeTheStatementEnds();
    void onlyTheLastPacketEndsTheReply_data();
    void onlyTheLastPacketEndsTheReply();
    void cancelFromAnotherThread();
    void closingWithUnreadRowsStaysInSync();
    void twoClientsAtOnce();
    void droppedConnectionGivesAnError();
    void garbageClosesOnlyThatConnection();
    void preparedStatementsAndOutputParameters();
    void transactions();
    void largerPacketSize();
    void tsqlLogsIn_data();
    void tsqlLogsIn();
    void requestLog();
    void passwordMasking_data();
    void passwordMasking();
    void decimalText_data();
    void decimalText();
    void dateTimeText_data();
    void dateTimeText();
    void codePage();
    void dateTimeEncodings_data();
    void dateTimeEncodings();
    void hostileInputNeverCrashes();

private:
    OdbcClient& client();
    bool connectRaw(OdbcClient& c, const QString& extra);

    QTemporaryDir m_dir;
    FakeServer m_server;
    tds::RequestLog m_log;
    std::unique_ptr<tds::TdsListener> m_listener;
    std::unique_ptr<OdbcClient> m_client;
};

void TdsWireTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(m_log.open(m_dir.filePath(u"requests.log"_s)));
    tds::ConnectionSettings settings;
    settings.log = &m_log;
    settings.windowsPassword = [](const QString& account) -> std::optional<QString> {
        if (account.compare(u"OFFICE\\ivanov"_s, Qt::CaseInsensitive) == 0)
            return u"pw"_s;
        return std::nullopt;
    };
    m_listener = std::make_unique<tds::TdsListener>(m_server, settings);
    QString error;
    QVERIFY2(m_listener->listen(0, &error), qPrintable(error));
    QVERIFY(m_listener->port() != 0);
    m_listener->start();
}

void TdsWireTest::cleanupTestCase()
{
    m_client.reset();
    m_listener->stop();
    QCOMPARE(script.gateTimeouts.load(), 0);
}

void TdsWireTest::init()
{
    // Leftover permits from a failed case must not let the next one pass early.
    script.gate.tryAcquire(script.gate.available());
    script.started.tryAcquire(script.started.available());
}

OdbcClient& TdsWireTest::client()
{
    if (!m_client) {
        m_client = std::make_unique<OdbcClient>();
        if (!m_client->connect(m_listener->port(), u"sa"_s, saPassword))
            qWarning("connect: %s", qPrintable(m_client->lastError()));
    }
    return *m_client;
}

bool TdsWireTest::connectRaw(OdbcClient& c, const QString& extra)
{
    const std::u16string text =
        (OdbcClient::connectionString(m_listener->port(), u"sa"_s, saPassword) + extra)
            .toStdU16String();
    std::u16string copy = text;
    const SQLRETURN rc =
        SQLDriverConnectW(c.dbc(), nullptr, reinterpret_cast<SQLWCHAR*>(copy.data()), SQL_NTS,
                          nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    return SQL_SUCCEEDED(rc);
}

void TdsWireTest::login_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("native");

    QTest::newRow("sa") << u"sa"_s << saPassword << true << 0;
    QTest::newRow("wrong password") << u"sa"_s << u"nope"_s << false << 18456;
    QTest::newRow("unknown login") << u"somebody"_s << saPassword << false << 18456;
    QTest::newRow("non-latin password") << u"sa"_s << u"пароль"_s << false << 18456;
}

void TdsWireTest::login()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    QFETCH(int, native);

    OdbcClient c;
    QCOMPARE(c.connect(m_listener->port(), user, password), accepted);
    if (accepted) {
        const OdbcResult r = c.exec(u"ping"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).rows.value(0).value(0), QVariant(qint64(42)));
        return;
    }
    QCOMPARE(c.lastNativeError(), native);
    QVERIFY2(c.lastError().contains(u"Login failed for user '%1'."_s.arg(user)),
             qPrintable(c.lastError()));
    QVERIFY2(c.lastSqlState() == u"28000"_s || c.lastSqlState() == u"42000"_s,
             qPrintable(c.lastSqlState()));
}

void TdsWireTest::integratedLogin()
{
    // FreeTDS logs a DOMAIN\name user in with NTLM: the password never travels.
    OdbcClient good;
    QVERIFY2(good.connect(m_listener->port(), u"OFFICE\\ivanov"_s, u"pw"_s),
             qPrintable(good.lastError()));
    QVERIFY(good.exec(u"ping"_s).ok);

    OdbcClient bad;
    QVERIFY(!bad.connect(m_listener->port(), u"OFFICE\\ivanov"_s, u"wrong"_s));
    QCOMPARE(bad.lastNativeError(), 18456);
    QVERIFY2(bad.lastError().contains(u"OFFICE\\ivanov"_s, Qt::CaseInsensitive),
             qPrintable(bad.lastError()));

    OdbcClient unknown;
    QVERIFY(!unknown.connect(m_listener->port(), u"OFFICE\\petrov"_s, u"pw"_s));
    QCOMPARE(unknown.lastNativeError(), 18456);
}

void TdsWireTest::loginDatabaseAndUse()
{
    OdbcClient c;
    QVERIFY2(c.connect(m_listener->port(), u"sa"_s, saPassword, u"ostrel_ts"_s),
             qPrintable(c.lastError()));
    QCOMPARE(c.currentCatalog(), u"ostrel_ts"_s);
    const OdbcResult r = c.exec(u"use другая"_s);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(c.currentCatalog(), u"другая"_s);
    QVERIFY(r.messages.join(u'\n').contains(u"Changed database context to 'другая'."_s));

    OdbcClient missing;
    QVERIFY(!missing.connect(m_listener->port(), u"sa"_s, saPassword, u"missing"_s));
    // 4060, then 18456, which FreeTDS reports first.
    QCOMPARE(missing.lastNativeError(), 18456);
    QVERIFY(missing.lastErrors().value(1).contains(u"Cannot open database \"missing\""_s));
}

void TdsWireTest::valuesOut_data()
{
    QTest::addColumn<int>("index");
    for (const TypeCase& c : typeCases())
        QTest::newRow(c.tag) << typeIndex(c.tag);
}

void TdsWireTest::valuesOut()
{
    QFETCH(int, index);
    const TypeCase& c = typeCases().at(index);
    const OdbcResult r = client().exec(u"type %1"_s.arg(index));
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.resultSets.size(), 1);
    const ResultSet& set = r.resultSets[0];
    QCOMPARE(set.columns, QStringList{u"v"_s});
    QCOMPARE(set.sqlTypes.value(0), c.odbcType);
    QCOMPARE(set.rows.size(), 2);
    const QVariant got = set.rows[0].value(0);
    if (c.expected.typeId() == QMetaType::QString && got.typeId() == QMetaType::QString &&
        got.toString().size() > 200) {
        QCOMPARE(got.toString().size(), c.expected.toString().size());
        QVERIFY(got.toString() == c.expected.toString());
    } else if (c.expected.typeId() == QMetaType::QByteArray && got.toByteArray().size() > 200) {
        QVERIFY(got.toByteArray() == c.expected.toByteArray());
    } else {
        QCOMPARE(got, c.expected);
    }
    QVERIFY(set.rows[1].value(0).isNull()); // NULL in NBCROW form
}

void TdsWireTest::rowWithNullInPlainRow()
{
    for (int nullAt : {-1, 0, 1, 2, 3, 4, 69}) {
        const OdbcResult r = client().exec(u"wide %1"_s.arg(nullAt));
        QVERIFY2(r.ok, qPrintable(r.error));
        const QList<QVariant> row = r.resultSets.value(0).rows.value(0);
        QCOMPARE(row.size(), wideColumns);
        for (int i = 0; i < wideColumns; ++i)
            QCOMPARE(row[i], i == nullAt ? QVariant() : wideExpected(i));
    }
}

void TdsWireTest::bigCellsOut()
{
    const OdbcResult r = client().exec(u"big"_s);
    QVERIFY2(r.ok, qPrintable(r.error));
    const QList<QVariant> row = r.resultSets.value(0).rows.value(0);
    QCOMPARE(row.size(), 2);
    QCOMPARE(r.resultSets[0].sqlTypes, (QList<int>{SQL_LONGVARBINARY, SQL_VARBINARY}));
    QCOMPARE(row[0].toByteArray().size(), bigCell().size());
    QVERIFY(row[0].toByteArray() == bigCell());
    QVERIFY(row[1].toByteArray() == bigCell());
    QVERIFY(client().exec(u"ping"_s).ok);
}

void TdsWireTest::parametersIn_data()
{
    QTest::addColumn<int>("cType");
    QTest::addColumn<int>("sqlType");
    QTest::addColumn<int>("columnSize");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QByteArray>("buffer"); // the C value's bytes; empty: NULL
    QTest::addColumn<int>("expectedType");  // SqlType
    QTest::addColumn<int>("expectedLength");
    QTest::addColumn<QVariant>("expected"); // null: NULL

    const auto bytes = [](const auto& value) {
        return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
    };
    const auto utf16 = [](const QString& text) {
        return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    };
    const auto type = [](SqlType t) {
        return static_cast<int>(t);
    };

    QTest::newRow("integer") << SQL_C_SLONG << SQL_INTEGER << 10 << 0 << bytes(qint32(-42))
                             << type(SqlType::Int) << 0 << QVariant(qint64(-42));
    QTest::newRow("smallint") << SQL_C_SSHORT << SQL_SMALLINT << 5 << 0 << bytes(qint16(-300))
                              << type(SqlType::SmallInt) << 0 << QVariant(qint64(-300));
    QTest::newRow("tinyint") << SQL_C_UTINYINT << SQL_TINYINT << 3 << 0 << bytes(quint8(200))
                             << type(SqlType::TinyInt) << 0 << QVariant(qint64(200));
    QTest::newRow("bigint") << SQL_C_SBIGINT << SQL_BIGINT << 19 << 0
                            << bytes(qint64(-9'000'000'000'000LL)) << type(SqlType::BigInt) << 0
                            << QVariant(qint64(-9'000'000'000'000LL));
    QTest::newRow("bit") << SQL_C_BIT << SQL_BIT << 1 << 0 << bytes(quint8(1)) << type(SqlType::Bit)
                         << 0 << QVariant(qint64(1));
    QTest::newRow("double") << SQL_C_DOUBLE << SQL_DOUBLE << 15 << 0 << bytes(-1234.5625)
                            << type(SqlType::Float) << 0 << QVariant(-1234.5625);
    QTest::newRow("real") << SQL_C_FLOAT << SQL_REAL << 7 << 0 << bytes(1.25f)
                          << type(SqlType::Real) << 0 << QVariant(1.25);
    QTest::newRow("decimal") << SQL_C_CHAR << SQL_DECIMAL << 10 << 2 << QByteArray("12.50")
                             << type(SqlType::Decimal) << 0 << QVariant(u"12.50"_s);
    QTest::newRow("numeric 38") << SQL_C_CHAR << SQL_NUMERIC << 38 << 4
                                << QByteArray("-1234567890123456789012345678901234.5678")
                                << type(SqlType::Decimal) << 0
                                << QVariant(u"-1234567890123456789012345678901234.5678"_s);
    const SQL_TIMESTAMP_STRUCT timestamp{2024, 2, 29, 13, 45, 30, 123'000'000};
    // Dates and times keep their own types and come in the engine's storage forms.
    QTest::newRow("timestamp") << SQL_C_TYPE_TIMESTAMP << SQL_TYPE_TIMESTAMP << 23 << 3
                               << bytes(timestamp) << type(SqlType::DateTime2) << 0
                               << QVariant(u"2024-02-29 13:45:30.1230000"_s);
    const SQL_DATE_STRUCT date{1812, 9, 7};
    QTest::newRow("date") << SQL_C_TYPE_DATE << SQL_TYPE_DATE << 10 << 0 << bytes(date)
                          << type(SqlType::Date) << 0 << QVariant(u"1812-09-07"_s);
    const SQL_TIME_STRUCT time{23, 59, 58};
    QTest::newRow("time") << SQL_C_TYPE_TIME << SQL_TYPE_TIME << 8 << 0 << bytes(time)
                          << type(SqlType::Time) << 0 << QVariant(u"23:59:58.0000000"_s);
    QTest::newRow("varchar") << SQL_C_CHAR << SQL_VARCHAR << 20 << 0
                             << QString(u"Привет"_s).toUtf8() << type(SqlType::VarChar) << 20
                             << QVariant(u"Привет"_s);
    QTest::newRow("char") << SQL_C_CHAR << SQL_CHAR << 3 << 0 << QByteArray("abc")
                          << type(SqlType::Char) << 3 << QVariant(u"abc"_s);
    QTest::newRow("longvarchar") << SQL_C_CHAR << SQL_LONGVARCHAR << 9000 << 0
                                 << QByteArray(9000, 'q') << type(SqlType::VarChar) << -1
                                 << QVariant(QString(9000, u'q'));
    QTest::newRow("wvarchar") << SQL_C_WCHAR << SQL_WVARCHAR << 30 << 0 << utf16(u"Привет, мир"_s)
                              << type(SqlType::NVarChar) << 30 << QVariant(u"Привет, мир"_s);
    QTest::newRow("wchar") << SQL_C_WCHAR << SQL_WCHAR << 2 << 0 << utf16(u"Ж"_s)
                           << type(SqlType::NChar) << 2 << QVariant(u"Ж"_s);
    QTest::newRow("wlongvarchar") << SQL_C_WCHAR << SQL_WLONGVARCHAR << 50'000 << 0
                                  << utf16(QString(50'000, u'Щ')) << type(SqlType::NVarChar) << -1
                                  << QVariant(QString(50'000, u'Щ'));
    QTest::newRow("binary") << SQL_C_BINARY << SQL_BINARY << 4 << 0
                            << QByteArray("\x00\x01\x02\x03", 4) << type(SqlType::Binary) << 4
                            << QVariant(QByteArray("\x00\x01\x02\x03", 4));
    QTest::newRow("varbinary") << SQL_C_BINARY << SQL_VARBINARY << 100 << 0
                               << QByteArray("\xFF\x00\xFE", 3) << type(SqlType::VarBinary) << 100
                               << QVariant(QByteArray("\xFF\x00\xFE", 3));
    QTest::newRow("longvarbinary")
        << SQL_C_BINARY << SQL_LONGVARBINARY << 300'000 << 0 << pseudoRandomBytes(300'000, 3)
        << type(SqlType::VarBinary) << -1 << QVariant(pseudoRandomBytes(300'000, 3));
    const SQLGUID guid{
        0x6F9619FF, 0x8B86, 0xD011, {0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF}};
    QTest::newRow("guid") << SQL_C_GUID << SQL_GUID << 36 << 0 << bytes(guid)
                          << type(SqlType::UniqueIdentifier) << 0
                          << QVariant(u"6F9619FF-8B86-D011-B42D-00C04FC964FF"_s);
    QTest::newRow("null integer") << SQL_C_SLONG << SQL_INTEGER << 10 << 0 << QByteArray()
                                  << type(SqlType::Int) << 0 << QVariant();
    QTest::newRow("null wvarchar") << SQL_C_WCHAR << SQL_WVARCHAR << 10 << 0 << QByteArray()
                                   << type(SqlType::NVarChar) << 10 << QVariant();
    QTest::newRow("null longvarbinary")
        << SQL_C_BINARY << SQL_LONGVARBINARY << 10 << 0 << QByteArray() << type(SqlType::VarBinary)
        << -1 << QVariant();
}

void TdsWireTest::parametersIn()
{
    QFETCH(int, cType);
    QFETCH(int, sqlType);
    QFETCH(int, columnSize);
    QFETCH(int, digits);
    QFETCH(QByteArray, buffer);
    QFETCH(int, expectedType);
    QFETCH(int, expectedLength);
    QFETCH(QVariant, expected);

    Statement st(client());
    QByteArray data = buffer.isEmpty() ? QByteArray(8, '\0') : buffer;
    SQLLEN indicator = buffer.isEmpty() ? SQL_NULL_DATA : SQLLEN(buffer.size());
    QVERIFY(SQL_SUCCEEDED(
        SQLBindParameter(st.handle, 1, SQL_PARAM_INPUT, static_cast<SQLSMALLINT>(cType),
                         static_cast<SQLSMALLINT>(sqlType), static_cast<SQLULEN>(columnSize),
                         static_cast<SQLSMALLINT>(digits), data.data(), data.size(), &indicator)));
    const SQLRETURN rc = st.exec(u"params ?"_s);
    QVERIFY2(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA, qPrintable(st.diagnostics().join(u'\n')));
    while (SQL_SUCCEEDED(SQLMoreResults(st.handle))) {
    }

    std::lock_guard lock(script.mutex);
    QCOMPARE(script.calls.last(), u"rpc sp_executesql"_s);
    const QList<Param> params = script.rpcParams.last();
    QCOMPARE(params.size(), 3);
    QCOMPARE(std::get<QString>(params[0].value), u"params @P1"_s);
    const Param& p = params[2];
    QVERIFY(p.name.isEmpty());
    QVERIFY(!p.output);
    QCOMPARE(static_cast<int>(p.type.type), expectedType);
    if (expectedLength != 0)
        QCOMPARE(p.type.length, expectedLength);
    if (expected.isNull()) {
        QVERIFY(isNull(p.value));
        return;
    }
    QVariant got;
    std::visit(
        [&](const auto& v) {
            if constexpr (!std::is_same_v<std::decay_t<decltype(v)>, std::monostate>)
                got = QVariant::fromValue(v);
        },
        p.value);
    if (expected.typeId() == QMetaType::QByteArray || expected.toString().size() > 100)
        QVERIFY(got == expected);
    else
        QCOMPARE(got, expected);
}

void TdsWireTest::bigParameterIn()
{
    const QByteArray data = pseudoRandomBytes(20 * 1024 * 1024, 11);
    const OdbcResult r = client().execParams(u"params ?"_s, {data});
    QVERIFY2(r.ok, qPrintable(r.error));
    std::lock_guard lock(script.mutex);
    const QList<Param> params = script.rpcParams.last();
    QCOMPARE(params.size(), 3);
    QCOMPARE(params[2].type.type, SqlType::VarBinary);
    const QByteArray got = std::get<QByteArray>(params[2].value);
    QCOMPARE(got.size(), data.size());
    QVERIFY(got == data);
}

void TdsWireTest::multipleResultsKeepInSync()
{
    for (int round = 0; round < 3; ++round) {
        const OdbcResult r = client().exec(u"multi"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 2);
        QCOMPARE(r.resultSets[0].rows, (QList<QList<QVariant>>{{qint64(1)}, {qint64(2)}}));
        QCOMPARE(r.resultSets[1].rows, (QList<QList<QVariant>>{{u"x"_s, qint64(0)}}));
        QCOMPARE(r.rowCounts, (QList<qint64>{5, -1}));
        QVERIFY(r.messages.contains(u"[FreeTDS][SQL Server]a message"_s));
        // The next request gets its own answer, not the rest of this one.
        const OdbcResult next = client().exec(u"ping"_s);
        QCOMPARE(next.resultSets.value(0).rows.value(0).value(0), QVariant(qint64(42)));
    }
}

void TdsWireTest::errorsAndMissingDone()
{
    OdbcResult r = client().exec(u"error"_s);
    QVERIFY(!r.ok);
    QCOMPARE(r.nativeError, 208);
    QCOMPARE(r.sqlState, u"42S02"_s);
    QVERIFY(r.error.endsWith(u"Invalid object name 'nowhere'."_s));

    r = client().exec(u"nodone"_s); // the wire adds the DONE the engine left out
    QVERIFY(!r.ok);
    QCOMPARE(r.nativeError, 50000);

    r = client().exec(u"throw"_s);
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(u"engine failure"_s), qPrintable(r.error));

    QVERIFY(client().exec(u"ping"_s).ok);
}

void TdsWireTest::progressArrivesBeforeTheStatementEnds()
{
    Statement st(client());
    // The fake holds the statement open until the gate opens; the first message must already
    // be here, or SQLExecDirect would not have returned.
    SQLRETURN rc = st.exec(u"progress"_s);
    QCOMPARE(rc, SQLRETURN(SQL_SUCCESS_WITH_INFO));
    QVERIFY2(st.diagnostics().join(u'\n').contains(u"10 percent processed."_s),
             qPrintable(st.diagnostics().join(u'\n')));
    QCOMPARE(script.gate.available(), 0);
    script.gate.release();
    rc = SQLMoreResults(st.handle);
    QCOMPARE(rc, SQLRETURN(SQL_SUCCESS_WITH_INFO));
    QVERIFY(st.diagnostics().join(u'\n').contains(u"Finished."_s));
    QCOMPARE(SQLMoreResults(st.handle), SQLRETURN(SQL_NO_DATA));
    QVERIFY(client().exec(u"ping"_s).ok);
}

void TdsWireTest::onlyTheLastPacketEndsTheReply_data()
{
    QTest::addColumn<int>("steps");        // messages flushed before the reply ends
    QTest::addColumn<int>("messageChars"); // the length of each message's text

    QTest::newRow("one step") << 1 << 20;
    QTest::newRow("three steps") << 3 << 20;
    QTest::newRow("a step longer than a packet") << 2 << 3000;
}

void TdsWireTest::onlyTheLastPacketEndsTheReply()
{
    QFETCH(int, steps);
    QFETCH(int, messageChars);

    int fds[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    const int peer = fds[1];
    {
        tds::PacketChannel channel(fds[0]);
        tds::TdsReply reply(channel, u"SRV"_s, tds::tds74);
        for (int i = 0; i < steps; ++i) {
            reply.message({3211, 1, 0, QString(messageChars, u'p'), {}, 1});
            reply.done(DoneKind::Statement, std::nullopt, false);
            reply.flush();
        }
        reply.message({3014, 1, 0, u"Finished."_s, {}, 1});
        reply.done(DoneKind::Statement, std::nullopt, false);
        reply.finish();
    } // closes its end
    QByteArray wire;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(peer, buffer, sizeof buffer, 0)) > 0;)
        wire.append(buffer, n);
    ::close(peer);

    QList<quint8> statuses;
    QByteArray tokens;
    for (qsizetype at = 0; at < wire.size();) {
        QVERIFY(wire.size() - at >= 8);
        QCOMPARE(quint8(wire[at]), quint8(0x04));
        const qsizetype length = qFromBigEndian<quint16>(wire.constData() + at + 2);
        QVERIFY(length > 8 && at + length <= wire.size());
        statuses << quint8(wire[at + 1]);
        tokens += wire.mid(at + 8, length - 8);
        at += length;
    }
    // Each flush is a packet of its own, none but the last carries end-of-message: a client
    // that honours the bit reads the steps and the end as one reply.
    QVERIFY(statuses.size() > steps);
    QCOMPARE(statuses.last(), quint8(0x01));
    QCOMPARE(statuses.count(quint8(0x00)), statuses.size() - 1);
    // The DONE of every step announces that more follows; the last one does not.
    const QByteArray doneMore("\xFD\x01\x00", 3);
    const QByteArray doneFinal("\xFD\x00\x00", 3);
    QCOMPARE(tokens.count(doneMore), steps);
    QVERIFY(tokens.endsWith(doneFinal + QByteArray(10, '\0')));
}

void TdsWireTest::cancelFromAnotherThread()
{
    for (int round = 0; round < 2; ++round) {
        const int spinEnds = script.spinEnds;
        Statement st(client());
        SQLRETURN rc = SQL_SUCCESS;
        QStringList diagnostics;
        std::thread worker([&] {
            rc = st.exec(u"spin"_s);
            diagnostics = st.diagnostics();
        });
        const bool started = script.started.tryAcquire(1, guardMs);
        SQLCancel(st.handle);
        worker.join();
        QVERIFY(started);
        QCOMPARE(rc, SQLRETURN(SQL_ERROR));
        QVERIFY2(diagnostics.join(u'\n').startsWith(u"HY008"_s),
                 qPrintable(diagnostics.join(u'\n')));
        QCOMPARE(script.spinEnds.load(), spinEnds + 1); // the engine saw cancelled()
        const OdbcResult r = client().exec(u"ping"_s);
        QCOMPARE(r.resultSets.value(0).rows.value(0).value(0), QVariant(qint64(42)));
    }
}

void TdsWireTest::closingWithUnreadRowsStaysInSync()
{
    // Closing the cursor early sends an attention; whether it lands mid-reply or after it,
    // the connection must answer it and stay usable.
    for (const int rows : {10, 200'000}) {
        Statement st(client());
        QVERIFY(SQL_SUCCEEDED(st.exec(u"rows %1"_s.arg(rows))));
        QVERIFY(SQL_SUCCEEDED(SQLFetch(st.handle)));
        SQLINTEGER n = -1;
        SQLLEN indicator = 0;
        SQLGetData(st.handle, 1, SQL_C_SLONG, &n, 0, &indicator);
        QCOMPARE(n, 0);
        QVERIFY(SQL_SUCCEEDED(SQLCloseCursor(st.handle)));
        const OdbcResult r = client().exec(u"ping"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).rows.value(0).value(0), QVariant(qint64(42)));
    }
    const OdbcResult all = client().exec(u"rows 100000"_s);
    QCOMPARE(all.resultSets.value(0).rows.size(), 100'000);
    QCOMPARE(all.resultSets[0].rows.last(),
             (QList<QVariant>{qint64(99'999), u"row number 99999"_s}));
}

void TdsWireTest::twoClientsAtOnce()
{
    OdbcClient first;
    OdbcClient second;
    QVERIFY(first.connect(m_listener->port(), u"sa"_s, saPassword));
    QVERIFY(second.connect(m_listener->port(), u"sa"_s, saPassword));
    OdbcResult blocked;
    std::thread worker([&] { blocked = first.exec(u"block"_s); });
    QVERIFY(script.started.tryAcquire(1, guardMs));
    // The first connection's request is still running; the second one is served meanwhile.
    const OdbcResult r = second.exec(u"ping"_s);
    script.gate.release();
    worker.join();
    QCOMPARE(r.resultSets.value(0).rows.value(0).value(0), QVariant(qint64(42)));
    QVERIFY(blocked.ok);
    QCOMPARE(blocked.resultSets.value(0).rows.value(0).value(0), QVariant(qint64(1)));
}

void TdsWireTest::droppedConnectionGivesAnError()
{
    OdbcClient c;
    QVERIFY(c.connect(m_listener->port(), u"sa"_s, saPassword));
    const OdbcResult r = c.exec(u"drop"_s);
    QVERIFY(!r.ok);
    QVERIFY2(r.error.contains(u"EOF"_s), qPrintable(r.error));
    QVERIFY(!c.exec(u"ping"_s).ok);
    // Others go on.
    QVERIFY(client().exec(u"ping"_s).ok);
    OdbcClient again;
    QVERIFY(again.connect(m_listener->port(), u"sa"_s, saPassword));
}

void TdsWireTest::garbageClosesOnlyThatConnection()
{
    QVERIFY(client().exec(u"ping"_s).ok);
    const QList<QByteArray> garbage = {
        QByteArray(64, '\xEE'),
        QByteArray("\x12\x01\x00\x04\x00\x00\x00\x00", 8), // length shorter than the header
        QByteArray("\x01\x01\x00\x10\x00\x00\x01\x00hello", 13) +
            QByteArray(3, 'x'), // before login
        QByteArray("GET / HTTP/1.0\r\n\r\n"),
    };
    for (const QByteArray& bytes : garbage) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(fd >= 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_listener->port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        QCOMPARE(::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL),
                 ssize_t(bytes.size()));
        pollfd p{fd, POLLIN, 0};
        QCOMPARE(::poll(&p, 1, guardMs), 1);
        char buffer[64];
        QCOMPARE(::recv(fd, buffer, sizeof buffer, 0), ssize_t(0)); // closed, nothing sent
        ::close(fd);
    }
    QVERIFY(client().exec(u"ping"_s).ok);
}

void TdsWireTest::preparedStatementsAndOutputParameters()
{
    {
        Statement st(client());
        std::u16string sql = u"prepared ?";
        QVERIFY(SQL_SUCCEEDED(
            SQLPrepareW(st.handle, reinterpret_cast<SQLWCHAR*>(sql.data()), SQL_NTS)));
        SQLINTEGER value = 0;
        SQLLEN indicator = 0;
        QVERIFY(SQL_SUCCEEDED(SQLBindParameter(st.handle, 1, SQL_PARAM_INPUT, SQL_C_SLONG,
                                               SQL_INTEGER, 10, 0, &value, 0, &indicator)));
        for (const int v : {5, 6, 7}) {
            value = v;
            QVERIFY2(SQL_SUCCEEDED(SQLExecute(st.handle)),
                     qPrintable(st.diagnostics().join(u'\n')));
            SQLINTEGER got = 0;
            QVERIFY(SQL_SUCCEEDED(SQLFetch(st.handle)));
            SQLGetData(st.handle, 1, SQL_C_SLONG, &got, 0, &indicator);
            QCOMPARE(got, v);
            while (SQL_SUCCEEDED(SQLMoreResults(st.handle))) {
            }
            SQLCloseCursor(st.handle);
        }
    }
    {
        std::lock_guard lock(script.mutex);
        const qsizetype first = script.calls.lastIndexOf(u"rpc sp_prepexec"_s);
        QVERIFY(first >= 0);
        QCOMPARE(script.calls.mid(first),
                 (QStringList{u"rpc sp_prepexec"_s, u"rpc sp_execute"_s, u"rpc sp_execute"_s,
                              u"rpc sp_unprepare"_s}));
        // The handle that went out in RETURNVALUE comes back with every later call.
        for (qsizetype i = first + 1; i < script.calls.size(); ++i)
            QCOMPARE(tds::toInteger(script.rpcParams[i].value(0).value), std::optional<qint64>(1));
    }

    Statement st(client());
    SQLINTEGER status = 0;
    SQLINTEGER input = 21;
    SQLINTEGER output = 0;
    SQLLEN statusInd = 0;
    SQLLEN inputInd = 0;
    SQLLEN outputInd = 0;
    SQLBindParameter(st.handle, 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &status, 0,
                     &statusInd);
    SQLBindParameter(st.handle, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &input, 0,
                     &inputInd);
    SQLBindParameter(st.handle, 3, SQL_PARAM_INPUT_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0, &output,
                     0, &outputInd);
    const SQLRETURN rc = st.exec(u"{? = call dbo.echo(?, ?)}"_s);
    QVERIFY2(SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA, qPrintable(st.diagnostics().join(u'\n')));
    while (SQL_SUCCEEDED(SQLMoreResults(st.handle))) {
    }
    QCOMPARE(status, 7);
    QCOMPARE(output, 42);
}

void TdsWireTest::transactions()
{
    OdbcClient c;
    QVERIFY(c.connect(m_listener->port(), u"sa"_s, saPassword));
    const auto calls = [] {
        std::lock_guard lock(script.mutex);
        return script.calls;
    };
    const qsizetype before = calls().size();
    QVERIFY(c.setAutocommit(false));
    QVERIFY(c.exec(u"ping"_s).ok);
    QVERIFY(c.commit());
    QVERIFY(c.rollback());
    QVERIFY(c.setAutocommit(true));
    QVERIFY(c.exec(u"ping"_s).ok);
    const QStringList seen = calls().mid(before);
    QCOMPARE(seen.value(0), u"begin"_s);
    QCOMPARE(seen.value(1), u"commit 1"_s);
    QCOMPARE(seen.value(2), u"rollback 1"_s);
}

void TdsWireTest::largerPacketSize()
{
    OdbcClient c;
    QVERIFY(connectRaw(c, u"PacketSize=16384;"_s));
    SQLUINTEGER size = 0;
    SQLGetConnectAttr(c.dbc(), SQL_ATTR_PACKET_SIZE, &size, 0, nullptr);
    QCOMPARE(size, SQLUINTEGER(16384));
    const OdbcResult r = c.exec(u"big"_s);
    QVERIFY2(r.ok, qPrintable(r.error));
    QVERIFY(r.resultSets.value(0).rows.value(0).value(1).toByteArray() == bigCell());
    QCOMPARE(c.exec(u"rows 5000"_s).resultSets.value(0).rows.size(), 5000);
}

void TdsWireTest::tsqlLogsIn_data()
{
    // Older TDS versions have other token forms: 4-byte row counts and user types, no (max)
    // types, no NBCROW.
    QTest::addColumn<QString>("version");
    for (const char* version : {"7.0", "7.1", "7.2", "7.3", "7.4"})
        QTest::newRow(version) << QString::fromLatin1(version);
}

void TdsWireTest::tsqlLogsIn()
{
    QFETCH(QString, version);
    QProcess tsql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TDSVER"_s, version);
    env.insert(u"FREETDSCONF"_s, m_dir.filePath(u"none.conf"_s));
    tsql.setProcessEnvironment(env);
    tsql.start(u"tsql"_s, {u"-H"_s, u"127.0.0.1"_s, u"-p"_s, QString::number(m_listener->port()),
                           u"-U"_s, u"sa"_s, u"-P"_s, saPassword});
    if (!tsql.waitForStarted(guardMs))
        QSKIP("tsql (freetds-bin) is not installed");
    tsql.write("ping\ngo\nlob\ngo\nmulti\ngo\nexit\n");
    tsql.closeWriteChannel();
    QVERIFY(tsql.waitForFinished(guardMs));
    const QString out = QString::fromUtf8(tsql.readAllStandardOutput());
    const QString report = out + QString::fromUtf8(tsql.readAllStandardError());
    QVERIFY2(out.contains(u"answer"_s) && out.contains(u"42"_s), qPrintable(report));
    QVERIFY2(out.contains(u"длинный\t0a0b\tlatin"_s), qPrintable(report));
    QVERIFY2(out.contains(u"x\t0"_s), qPrintable(report)); // the last result of "multi"
    QVERIFY2(!report.contains(u"out of sync"_s), qPrintable(report));
}

void TdsWireTest::requestLog()
{
    OdbcClient c;
    QVERIFY(c.connect(m_listener->port(), u"sa"_s, saPassword));
    QVERIFY(!c.exec(u"hello\r\nsecond line"_s).ok); // unknown to the fake, logged all the same
    QVERIFY(c.execParams(u"params ?, ?"_s, {qint64(5), u"it's"_s}).ok);
    QFile file(m_dir.filePath(u"requests.log"_s));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.contains(u"\nbatch: hello\r\nsecond line\n"_s));
    QVERIFY2(text.contains(u"\nrpc: sp_executesql N'params @P1, @P2', N'@P1 BIGINT,@P2 "
                           u"NVARCHAR(4)', 5, N'it''s'\n"_s),
             qPrintable(text.right(400)));
    QVERIFY(text.contains(u"login: sa"_s));
    QVERIFY(!text.contains(saPassword));
}

void TdsWireTest::passwordMasking_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("logged");
    QTest::newRow("create login")
        << u"CREATE LOGIN [x] WITH PASSWORD = N'se''cret', CHECK_POLICY = OFF"_s
        << u"CREATE LOGIN [x] WITH PASSWORD = N'***', CHECK_POLICY = OFF"_s;
    QTest::newRow("alter login") << u"alter login x with password='a'"_s
                                 << u"alter login x with password='***'"_s;
    QTest::newRow("sp_addlogin") << u"exec sp_addlogin 'ivanov', 'pw1', 'master'"_s
                                 << u"exec sp_addlogin 'ivanov', '***', 'master'"_s;
    QTest::newRow("sp_password") << u"EXEC sp_password NULL, N'new', 'sa'"_s
                                 << u"EXEC sp_password '***', '***', 'sa'"_s;
    QTest::newRow("nothing to mask")
        << u"select password from t where a = 'b'"_s << u"select password from t where a = 'b'"_s;
}

void TdsWireTest::passwordMasking()
{
    QFETCH(QString, sql);
    QFETCH(QString, logged);
    QCOMPARE(tds::RequestLog::maskPasswords(sql), logged);
    QCOMPARE(
        tds::RequestLog::rpcEntry(u"sp_addlogin"_s, {{{}, {SqlType::NVarChar, 10}, u"ivanov"_s},
                                                     {{}, {SqlType::NVarChar, 10}, u"pw1"_s}}),
        u"rpc: sp_addlogin N'ivanov', '***'"_s);
}

void TdsWireTest::decimalText_data()
{
    QTest::addColumn<QVariant>("value"); // QString, qint64 or double
    QTest::addColumn<int>("scale");
    QTest::addColumn<QString>("text"); // empty: goes out as NULL

    QTest::newRow("rounds half up") << QVariant(u"1.005"_s) << 2 << u"1.01"_s;
    QTest::newRow("rounds half away from zero") << QVariant(u"-1.005"_s) << 2 << u"-1.01"_s;
    QTest::newRow("no negative zero") << QVariant(u"-0.001"_s) << 2 << u"0.00"_s;
    QTest::newRow("exponent") << QVariant(u"1.5e3"_s) << 1 << u"1500.0"_s;
    QTest::newRow("negative exponent") << QVariant(u"25E-3"_s) << 3 << u"0.025"_s;
    QTest::newRow("leading point") << QVariant(u".5"_s) << 0 << u"1"_s;
    QTest::newRow("trailing point") << QVariant(u"5."_s) << 1 << u"5.0"_s;
    QTest::newRow("spaces and plus") << QVariant(u" +42 "_s) << 0 << u"42"_s;
    QTest::newRow("not a number") << QVariant(u"12abc"_s) << 2 << QString();
    QTest::newRow("empty") << QVariant(u""_s) << 2 << QString();
    QTest::newRow("huge exponent") << QVariant(u"1e999"_s) << 0 << QString();
    QTest::newRow("beyond 38 digits is capped")
        << QVariant(u"123456789012345678901234567890123456789"_s) << 0
        << u"99999999999999999999999999999999999999"_s;
    QTest::newRow("integer") << QVariant(qint64(-5)) << 3 << u"-5.000"_s;
    QTest::newRow("min integer") << QVariant(qint64(std::numeric_limits<qint64>::min())) << 0
                                 << u"-9223372036854775808"_s;
    QTest::newRow("double") << QVariant(2.345) << 2 << u"2.35"_s;
    QTest::newRow("large double") << QVariant(1e20) << 0 << u"100000000000000000000"_s;
}

void TdsWireTest::decimalText()
{
    QFETCH(QVariant, value);
    QFETCH(int, scale);
    QFETCH(QString, text);
    Value v;
    if (value.typeId() == QMetaType::QString)
        v = value.toString();
    else if (value.typeId() == QMetaType::Double)
        v = value.toDouble();
    else
        v = value.toLongLong();
    QCOMPARE(tds::toDecimalText(v, scale), text);
}

void TdsWireTest::dateTimeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected"); // invalid: not a date

    QTest::newRow("space") << u"2024-02-29 10:11:12.5"_s << utc(2024, 2, 29, 10, 11, 12, 500);
    QTest::newRow("iso") << u"2024-02-29T10:11:12"_s << utc(2024, 2, 29, 10, 11, 12, 0);
    QTest::newRow("seven digits") << u"2024-02-29 10:11:12.1234567"_s
                                  << utc(2024, 2, 29, 10, 11, 12, 123);
    QTest::newRow("compact date") << u"20240229"_s << utc(2024, 2, 29, 0, 0, 0, 0);
    QTest::newRow("minutes") << u"2024-02-29 7:05"_s << utc(2024, 2, 29, 7, 5, 0, 0);
    QTest::newRow("no such day") << u"2023-02-29"_s << QDateTime();
    QTest::newRow("no such hour") << u"2023-02-28 25:00"_s << QDateTime();
    QTest::newRow("words") << u"yesterday"_s << QDateTime();
}

void TdsWireTest::dateTimeText()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const QDateTime got = tds::toDateTime(Value(text));
    QCOMPARE(got.isValid(), expected.isValid());
    if (expected.isValid())
        QCOMPARE(got, expected);
}

// MS-TDS 2.2.5.4.2 and 2.2.5.5.1.8: DATENTYPE without a length, the others with their scale;
// BYTELEN values of time (3, 4 or 5 bytes by scale), date (3) and offset (2), in both
// directions.
void TdsWireTest::dateTimeEncodings_data()
{
    QTest::addColumn<int>("type"); // SqlType
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QString>("stored"); // the engine's form; empty: NULL
    QTest::addColumn<QByteArray>("typeInfo");
    QTest::addColumn<QByteArray>("value"); // BYTELEN and the bytes, hex

    const auto row = [](const char* tag, SqlType t, int scale, const QString& stored,
                        const char* typeInfo, const char* value, int length = 0) {
        QTest::newRow(tag) << static_cast<int>(t) << length << scale << stored
                           << QByteArray(typeInfo) << QByteArray(value);
    };
    row("date 0001-01-01", SqlType::Date, 0, u"0001-01-01"_s, "28", "03000000");
    row("date", SqlType::Date, 0, u"2024-02-05"_s, "28", "0368460b");
    row("date 9999-12-31", SqlType::Date, 0, u"9999-12-31"_s, "28", "03dab937");
    row("date NULL", SqlType::Date, 0, QString(), "28", "00");
    row("time(0)", SqlType::Time, 0, u"10:15:00.0000000"_s, "2900", "03249000");
    row("time(2)", SqlType::Time, 2, u"10:15:00.1200000"_s, "2902", "031c4e38");
    row("time(3)", SqlType::Time, 3, u"10:15:00.1230000"_s, "2903", "041b0d3302");
    row("time(4)", SqlType::Time, 4, u"10:15:00.1234000"_s, "2904", "041283fe15");
    row("time(5)", SqlType::Time, 5, u"10:15:00.1234500"_s, "2905", "05b91ef1db00");
    row("time(7)", SqlType::Time, 7, u"23:59:59.9999999"_s, "2907", "05ffbf692ac9");
    row("datetime2(0)", SqlType::DateTime2, 0, u"2024-02-05 10:15:00.0000000"_s, "2a00",
        "0624900068460b");
    row("datetime2(3)", SqlType::DateTime2, 3, u"2024-02-05 10:15:00.1230000"_s, "2a03",
        "071b0d330268460b");
    row("datetime2(7)", SqlType::DateTime2, 7, u"2024-02-05 10:15:00.1234567"_s, "2a07",
        "08870030ea5568460b");
    row("datetime2 NULL", SqlType::DateTime2, 7, QString(), "2a07", "00");
    row("datetimeoffset(0)", SqlType::DateTimeOffset, 0, u"2024-02-05 07:15:00.0000000 +03:00"_s,
        "2b00", "08f4650068460bb400");
    row("datetimeoffset(7) west", SqlType::DateTimeOffset, 7,
        u"2024-02-05 23:00:00.1234567 -05:30"_s, "2b07", "0a872eb8c8c068460bb6fe");
    // DATETIMN: datetime in 8 bytes (days, 1/300 s), smalldatetime in 4 (days, minutes).
    row("datetime", SqlType::DateTime, 0, u"2024-02-05 10:15:00.003"_s, "6f08",
        "080db1000031eaa800", 8);
    row("smalldatetime", SqlType::DateTime, 0, u"2024-02-05 10:16:00.000"_s, "6f04", "040db16802",
        4);
    row("smalldatetime 2079-06-06", SqlType::DateTime, 0, u"2079-06-06 23:59:00.000"_s, "6f04",
        "04ffff9f05", 4);
}

void TdsWireTest::dateTimeEncodings()
{
    QFETCH(int, type);
    QFETCH(int, length);
    QFETCH(int, scale);
    QFETCH(QString, stored);
    QFETCH(QByteArray, typeInfo);
    QFETCH(QByteArray, value);
    const ColumnType column{static_cast<SqlType>(type), length, 0, scale};
    const Value v = stored.isEmpty() ? Value() : Value(stored);
    tds::TdsWriter info;
    tds::writeTypeInfo(info, column, true);
    QCOMPARE(info.data().toHex(), typeInfo);
    tds::TdsWriter out;
    tds::writeValue(out, column, v);
    QCOMPARE(out.data().toHex(), value);

    // The same bytes as an RPC parameter read back.
    const QByteArray param = QByteArray("\x00\x00", 2) + QByteArray::fromHex(typeInfo + value);
    tds::TdsReader in(param);
    const Param p = tds::readParam(in);
    QVERIFY(in.atEnd());
    QCOMPARE(static_cast<int>(p.type.type), type);
    QCOMPARE(p.type.length, length);
    QCOMPARE(p.type.scale, scale);
    if (stored.isEmpty())
        QVERIFY(isNull(p.value));
    else if (const auto* dt = std::get_if<QDateTime>(&p.value))
        QCOMPARE(dt->toString(u"yyyy-MM-dd HH:mm:ss.zzz"_s), stored);
    else
        QCOMPARE(std::get<QString>(p.value), stored);
}

void TdsWireTest::codePage()
{
    const QString text = u"AЖж€№"_s;
    const QByteArray bytes("A\xC6\xE6\x88\xB9");
    QCOMPARE(tds::toServerCodePage(text), bytes);
    QCOMPARE(tds::fromServerCodePage(bytes), text);
    QCOMPARE(tds::toServerCodePage(u"éx"_s), QByteArray("?x")); // not in the code page
}

void TdsWireTest::hostileInputNeverCrashes()
{
    // A valid RPC parameter list, then every truncation of it and random damage: each must
    // decode or throw ProtocolError, within its bounds.
    tds::TdsWriter w;
    const auto param = [&](quint8 code, const QByteArray& info, const QByteArray& value) {
        w.bVarchar(u"@p"_s);
        w.u8(0);
        w.u8(code);
        w.bytes(info);
        w.bytes(value);
    };
    param(tds::type::IntN, "\x04", QByteArray("\x04\x01\x00\x00\x00", 5));
    param(tds::type::NVarChar, QByteArray("\xFF\xFF", 2) + tds::serverCollation(),
          QByteArray("\x04\x00\x00\x00\x00\x00\x00\x00\x04\x00\x00\x00"
                     "a\0b\0\x00\x00\x00\x00",
                     20));
    param(tds::type::DecimalN, QByteArray("\x11\x26\x02", 3),
          QByteArray("\x05\x01\x10\x27\x00\x00", 6));
    param(tds::type::NText, QByteArray("\xFF\xFF\xFF\x7F", 4) + tds::serverCollation(),
          QByteArray("\x02\x00\x00\x00z\0", 6));
    param(tds::type::DateTime2, "\x07", QByteArray("\x08\x00\x00\x00\x00\x00\x00\x00\x00", 9));
    const QByteArray valid = w.data();
    {
        tds::TdsReader in(valid);
        QList<Param> params;
        while (!in.atEnd())
            params.append(tds::readParam(in));
        QCOMPARE(params.size(), 5);
        QCOMPARE(std::get<qint64>(params[0].value), qint64(1));
        QCOMPARE(std::get<QString>(params[1].value), u"ab"_s);
        QCOMPARE(std::get<QString>(params[2].value), u"100.00"_s);
        QCOMPARE(std::get<QString>(params[3].value), u"z"_s);
        QCOMPARE(std::get<QString>(params[4].value), u"0001-01-01 00:00:00.0000000"_s);
    }
    const auto decodeAll = [](const QByteArray& bytes) {
        try {
            tds::TdsReader in(bytes);
            while (!in.atEnd())
                tds::readParam(in);
        } catch (const tds::ProtocolError&) {
        }
    };
    for (qsizetype cut = 0; cut < valid.size(); ++cut)
        decodeAll(valid.left(cut));
    QRandomGenerator random(42);
    for (int round = 0; round < 20'000; ++round) {
        QByteArray damaged = valid;
        for (int k = 0; k < 3; ++k)
            damaged[random.bounded(int(damaged.size()))] = static_cast<char>(random.bounded(256));
        decodeAll(damaged);
    }
    // A PLP length of petabytes is not allocated up front.
    decodeAll(
        QByteArray("\x00\x00\xA5\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F\x00\x00\x10\x00\x00\x00", 17));

    // LOGIN7 records pointing outside themselves.
    QByteArray login(94, '\0');
    login[0] = 94;
    for (int round = 0; round < 5'000; ++round) {
        QByteArray damaged = login + QByteArray(random.bounded(40), 'x');
        for (int k = 0; k < 8; ++k)
            damaged[36 + random.bounded(58)] = static_cast<char>(random.bounded(256));
        try {
            tds::parseLogin7(damaged);
        } catch (const tds::ProtocolError&) {
        }
    }
    QVERIFY_THROWS_EXCEPTION(tds::ProtocolError, tds::parseLogin7(login.left(50)));

    // PRELOGIN option tables pointing outside themselves, or never ending.
    const QByteArray preLogin("\x00\x00\x0B\x00\x06" // VERSION at 11
                              "\x01\x00\x11\x00\x01" // ENCRYPTION at 17
                              "\xFF\x0F\x00\x07\xD0\x00\x00\x01",
                              18);
    QCOMPARE(tds::preLoginEncryption(preLogin), quint8(0x01));
    for (int round = 0; round < 5'000; ++round) {
        QByteArray damaged = preLogin.left(random.bounded(int(preLogin.size()) + 1));
        for (int k = 0; k < 3 && !damaged.isEmpty(); ++k)
            damaged[random.bounded(int(damaged.size()))] = static_cast<char>(random.bounded(256));
        try {
            tds::preLoginEncryption(damaged);
        } catch (const tds::ProtocolError&) {
        }
    }
}

QTEST_GUILESS_MAIN(TdsWireTest)
#include "tst_tdswire.moc"
