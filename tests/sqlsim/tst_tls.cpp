// Encryption as a server offers it: the PRELOGIN answer for each thing a client may ask, the
// TLS handshake inside PRELOGIN packets, login-only and whole-connection encryption, and a
// forced server turning away a client that cannot encrypt. bin/sqlsim over FreeTDS, and raw
// sockets where the bytes matter.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int guardMs = 30'000; // only a broken server waits this long

// A client's PRELOGIN as FreeTDS writes it, with the ENCRYPTION value given.
QByteArray preLoginPacket(quint8 encryption)
{
    QByteArray options;
    QByteArray data;
    const int tableSize = 5 * 5 + 1;
    const auto option = [&](quint8 token, const QByteArray& value) {
        const auto offset = static_cast<quint16>(tableSize + data.size());
        options.append(char(token));
        options.append(char(offset >> 8)).append(char(offset & 0xFF));
        options.append(char(value.size() >> 8)).append(char(value.size() & 0xFF));
        data.append(value);
    };
    option(0x00, QByteArray("\x09\x00\x00\x00\x00\x00", 6)); // VERSION
    option(0x01, QByteArray(1, char(encryption)));           // ENCRYPTION
    option(0x02, QByteArray(1, '\0'));                       // INSTOPT
    option(0x03, QByteArray(4, '\x01'));                     // THREADID
    option(0x04, QByteArray(1, '\0'));                       // MARS
    options.append('\xFF');
    const QByteArray payload = options + data;
    QByteArray packet("\x12\x01\x00\x00\x00\x00\x01\x00", 8);
    qToBigEndian(static_cast<quint16>(payload.size() + 8), packet.data() + 2);
    return packet + payload;
}

// A loopback connection to the simulator, read with a guard so that a fault fails, not hangs.
class RawClient
{
public:
    explicit RawClient(quint16 port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(m_fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    bool send(const QByteArray& bytes)
    {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) ==
               ssize_t(bytes.size());
    }
    // One whole packet (header included); empty when the server closed or said nothing.
    QByteArray packet()
    {
        QByteArray header = read(8);
        if (header.size() < 8)
            return {};
        const qsizetype length = qFromBigEndian<quint16>(header.constData() + 2);
        return header + read(length - 8);
    }
    // True when the server closes the connection without sending another byte.
    bool closedSilently()
    {
        char byte = 0;
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, guardMs) == 1 && ::recv(m_fd, &byte, 1, 0) == 0;
    }

private:
    QByteArray read(qsizetype count)
    {
        QByteArray bytes;
        while (bytes.size() < count) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, guardMs) != 1)
                break;
            char buffer[4096];
            const ssize_t n =
                ::recv(m_fd, buffer, size_t(std::min<qsizetype>(count - bytes.size(), 4096)), 0);
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        return bytes;
    }

    int m_fd;
    bool m_connected = false;
};

// The ENCRYPTION value of a server's PRELOGIN answer; -1 when there is none.
int answeredEncryption(const QByteArray& packet)
{
    const QByteArray payload = packet.mid(8);
    for (qsizetype i = 0; i + 4 < payload.size() && quint8(payload[i]) != 0xFF; i += 5) {
        const quint16 offset = qFromBigEndian<quint16>(payload.constData() + i + 1);
        const quint16 length = qFromBigEndian<quint16>(payload.constData() + i + 3);
        if (quint8(payload[i]) == 0x01 && length == 1 && offset < payload.size())
            return quint8(payload[offset]);
    }
    return -1;
}

} // namespace

class TestTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void preLoginAnswer_data();
    void preLoginAnswer();
    void clearLoginAfterAgreedEncryptionIsDropped();
    void freetdsEncryption_data();
    void freetdsEncryption();
    void progressAndLargeValuesOverTls();

private:
    SqlsimProcess& server(bool forced) { return forced ? m_forced : m_plain; }
    QString logOf(bool forced) const
    {
        return m_dir.filePath(forced ? u"forced.log"_s : u"plain.log"_s);
    }
    QStringList logLines(bool forced) const;
    // False with the driver's SQLSTATE in *state when the connection fails.
    bool connectWith(OdbcClient& client, bool forced, const QString& encryption,
                     QString* state = nullptr);

    QTemporaryDir m_dir;
    SqlsimProcess m_plain;
    SqlsimProcess m_forced;
};

void TestTls::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_plain.start({u"--log"_s, logOf(false)}), m_plain.stderrText().constData());
    QVERIFY2(m_forced.start({u"--log"_s, logOf(true), u"--force-encryption"_s}),
             m_forced.stderrText().constData());
}

QStringList TestTls::logLines(bool forced) const
{
    QFile file(logOf(forced));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

bool TestTls::connectWith(OdbcClient& client, bool forced, const QString& encryption,
                          QString* state)
{
    QString text =
        OdbcClient::connectionString(server(forced).port(), u"sa"_s, server(forced).password());
    if (!encryption.isEmpty())
        text += u"Encryption="_s + encryption + u';';
    std::u16string wide = text.toStdU16String();
    SQLSetConnectAttr(client.dbc(), SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(15), 0);
    const SQLRETURN rc =
        SQLDriverConnectW(client.dbc(), nullptr, reinterpret_cast<SQLWCHAR*>(wide.data()), SQL_NTS,
                          nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        SQLWCHAR code[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        SQLWCHAR message[512] = {};
        SQLGetDiagRecW(SQL_HANDLE_DBC, client.dbc(), 1, code, &native, message, 512, &length);
        if (state != nullptr)
            *state = QString::fromUtf16(reinterpret_cast<const char16_t*>(code), 5);
        return false;
    }
    // As OdbcClient::connect does: FreeTDS leaves the server's 4096-byte TEXTSIZE.
    return client.exec(u"SET TEXTSIZE 2147483647"_s).ok;
}

void TestTls::preLoginAnswer_data()
{
    QTest::addColumn<bool>("forced");
    QTest::addColumn<int>("client");
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closed"); // the server hangs up after answering

    QTest::newRow("off: login only") << false << 0x00 << 0x00 << false;
    QTest::newRow("on: everything") << false << 0x01 << 0x01 << false;
    QTest::newRow("not supported: clear text") << false << 0x02 << 0x02 << false;
    QTest::newRow("on with client certificate") << false << 0x81 << 0x01 << false;
    QTest::newRow("forced, off") << true << 0x00 << 0x03 << false;
    QTest::newRow("forced, on") << true << 0x01 << 0x03 << false;
    QTest::newRow("forced, not supported: refused") << true << 0x02 << 0x03 << true;
}

void TestTls::preLoginAnswer()
{
    QFETCH(bool, forced);
    QFETCH(int, client);
    QFETCH(int, answer);
    QFETCH(bool, closed);

    RawClient raw(server(forced).port());
    QVERIFY(raw.connected());
    QVERIFY(raw.send(preLoginPacket(quint8(client))));
    const QByteArray reply = raw.packet();
    QVERIFY(reply.size() > 8);
    QCOMPARE(quint8(reply[0]), quint8(0x04)); // a tabular result
    QCOMPARE(quint8(reply[1]), quint8(0x01)); // the whole answer in one packet
    QCOMPARE(answeredEncryption(reply), answer);
    if (closed)
        QVERIFY(raw.closedSilently());
}

void TestTls::clearLoginAfterAgreedEncryptionIsDropped()
{
    // Both sides agreed on an encrypted login; a LOGIN7 in clear text is not one.
    const qsizetype before = logLines(false).size();
    RawClient raw(m_plain.port());
    QVERIFY(raw.connected());
    QVERIFY(raw.send(preLoginPacket(0x00)));
    QCOMPARE(answeredEncryption(raw.packet()), 0x00);
    QByteArray login(94, '\0');
    login[0] = 94;
    qToLittleEndian<quint32>(0x74000004, login.data() + 4);
    QByteArray packet("\x10\x01\x00\x66\x00\x00\x01\x00", 8);
    QVERIFY(raw.send(packet + login));
    QVERIFY(raw.closedSilently());
    QCOMPARE(logLines(false).size(), before); // no login was taken
}

void TestTls::freetdsEncryption_data()
{
    QTest::addColumn<bool>("forced");
    QTest::addColumn<QString>("encryption"); // FreeTDS's setting; empty: its default
    QTest::addColumn<QString>("logged");     // how the server took the login; empty: refused

    QTest::newRow("default client") << false << QString() << u"login"_s;
    QTest::newRow("request") << false << u"request"_s << u"login"_s;
    QTest::newRow("require") << false << u"require"_s << u"all"_s;
    QTest::newRow("off") << false << u"off"_s << u"none"_s;
    QTest::newRow("forced, request") << true << u"request"_s << u"all"_s;
    QTest::newRow("forced, require") << true << u"require"_s << u"all"_s;
    QTest::newRow("forced, off") << true << u"off"_s << QString();
}

void TestTls::freetdsEncryption()
{
    QFETCH(bool, forced);
    QFETCH(QString, encryption);
    QFETCH(QString, logged);

    const qsizetype before = logLines(forced).size();
    OdbcClient client;
    QString state;
    const bool connected = connectWith(client, forced, encryption, &state);
    const QStringList added = logLines(forced).mid(before);
    if (logged.isEmpty()) {
        // The server hangs up after its answer; the driver reports a failed connection.
        QVERIFY(!connected);
        QCOMPARE(state, u"08001"_s);
        QCOMPARE(added, QStringList{u"login refused: the client cannot encrypt and the server "
                                    u"requires it"_s});
        return;
    }
    QVERIFY(connected);
    QCOMPARE(added.value(0), u"login: sa encryption="_s + logged);
    // Requests and answers of several packets, whichever way the stream goes after the login.
    const QString text = QString(30'000, QChar(0x0416)) + u"end"_s;
    const OdbcResult result = client.execParams(u"SELECT ? AS t, ? AS n"_s, {text, 42});
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.resultSets.value(0).rows.value(0), (QList<QVariant>{text, qint64(42)}));
    QVERIFY(client.exec(u"SELECT 1"_s).ok);
}

void TestTls::progressAndLargeValuesOverTls()
{
    // Flushed progress packets inside TLS records: every message of the backup reaches the
    // same statement, and the connection stays in step afterwards.
    OdbcClient client;
    QVERIFY(connectWith(client, true, u"require"_s));
    QVERIFY(client.exec(u"CREATE DATABASE tlsdb"_s).ok);
    QVERIFY(client.exec(u"CREATE TABLE tlsdb.dbo.t (v VARBINARY(MAX))"_s).ok);
    QVERIFY(
        client.execParams(u"INSERT INTO tlsdb.dbo.t VALUES (?)"_s, {QByteArray(300 * 1024, 'x')})
            .ok);
    const QString file = m_dir.filePath(u"tlsdb.bak"_s);
    const OdbcResult backup =
        client.exec(u"BACKUP DATABASE tlsdb TO DISK = N'%1' WITH STATS = 10"_s.arg(file));
    QVERIFY2(backup.ok, qPrintable(backup.error));
    const qsizetype steps = backup.messageNumbers.count(3211);
    QVERIFY2(steps >= 2, qPrintable(backup.messages.join(u'\n')));
    QVERIFY(backup.messages.join(u'\n').contains(u"100 percent processed."_s));
    const OdbcResult after = client.exec(u"SELECT DATALENGTH(v) FROM tlsdb.dbo.t"_s);
    QVERIFY2(after.ok, qPrintable(after.error));
    QCOMPARE(after.resultSets.value(0).rows.value(0).value(0).toLongLong(), 300 * 1024);
}

QTEST_GUILESS_MAIN(TestTls)
#include "tst_tls.moc"
