// Asking the SQL Server Browser for the port of a named instance.
#include "DbError.h"
#include "InstanceLookup.h"
#include "Thrown.h"

#include <QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray reply(const QByteArray& text)
{
    QByteArray out(1, '\x05');
    out += char(text.size() & 0xff);
    out += char(text.size() >> 8);
    return out + text;
}

// A Browser on a loopback port of its own: answers the one request it expects, byte for byte,
// with a prepared reply (or not at all) and keeps what it was asked. Like the service, it ignores
// a request it cannot read.
class FakeBrowser
{
public:
    explicit FakeBrowser(QByteArray answer, QByteArray expected = {})
        : m_answer(std::move(answer)), m_expected(std::move(expected))
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            QByteArray buffer(512, Qt::Uninitialized);
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buffer.data(), size_t(buffer.size()), 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n <= 0)
                return;
            request = buffer.left(n);
            if (!m_answer.isEmpty() && (m_expected.isEmpty() || request == m_expected))
                ::sendto(m_fd, m_answer.constData(), size_t(m_answer.size()), 0,
                         reinterpret_cast<sockaddr*>(&from), fromLength);
        });
    }
    ~FakeBrowser()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    quint16 port() const { return m_port; }
    QByteArray request;

private:
    QByteArray m_answer;
    QByteArray m_expected;
    int m_fd = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

// A loopback UDP port where nothing listens.
quint16 closedPort()
{
    FakeBrowser gone{QByteArray()};
    return gone.port();
}

} // namespace

class TestInstanceLookup : public QObject
{
    Q_OBJECT

private slots:
    void request_data()
    {
        QTest::addColumn<QString>("instance");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("usual") << u"SQLEXPRESS"_s << QByteArray("\x04SQLEXPRESS\0", 12);
        QTest::newRow("32 bytes, the most")
            << QString(32, u'A') << QByteArray(1, '\x04') + QByteArray(32, 'A') + '\0';
    }
    void request()
    {
        QFETCH(QString, instance);
        QFETCH(QByteArray, bytes);
        QCOMPARE(db::instanceRequest(instance), bytes);
    }

    void requestRefusesWhatCannotBeSent_data()
    {
        QTest::addColumn<QString>("instance");
        QTest::newRow("33 bytes") << QString(33, u'A');
        QTest::newRow("outside Latin-1") << u"ЭКЗЕМПЛЯР"_s;
    }
    void requestRefusesWhatCannotBeSent()
    {
        QFETCH(QString, instance);
        QVERIFY_THROWS_EXCEPTION(db::DbError, db::instanceRequest(instance));
    }

    void parseReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("instance");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("port");
        using R = db::InstanceReply;
        const QByteArray one =
            "ServerName;DB1;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0.2000.5;tcp;49170;;";
        QTest::newRow("one instance") << reply(one) << u"SQLEXPRESS"_s << int(R::Found) << 49170;
        QTest::newRow("name case ignored")
            << reply(one) << u"sqlexpress"_s << int(R::Found) << 49170;
        QTest::newRow("another instance")
            << reply(one) << u"OTHER"_s << int(R::NoSuchInstance) << 0;
        QTest::newRow("second of two")
            << reply("ServerName;DB1;InstanceName;A;IsClustered;No;Version;15.0.2000.5;"
                     "tcp;1500;;"
                     "ServerName;DB1;InstanceName;B;IsClustered;No;Version;15.0.2000.5;"
                     "np;\\\\DB1\\pipe\\MSSQL$B\\sql\\query;tcp;1600;;")
            << u"b"_s << int(R::Found) << 1600;
        // An instance named like a protocol is still only a name.
        QTest::newRow("instance named tcp")
            << reply("ServerName;DB1;InstanceName;tcp;IsClustered;No;Version;1;np;p;;"
                     "ServerName;DB1;InstanceName;X;IsClustered;No;Version;1;tcp;1700;;")
            << u"tcp"_s << int(R::NoTcp) << 0;
        QTest::newRow("banyan vines before tcp")
            << reply("ServerName;H;InstanceName;A;IsClustered;No;Version;1;"
                     "bv;tcp;g;tcp;g;tcp;tcp;1800;;")
            << u"A"_s << int(R::Found) << 1800;
        QTest::newRow("no tcp")
            << reply("ServerName;DB1;InstanceName;A;IsClustered;No;Version;15.0.2000.5;"
                     "np;\\\\DB1\\pipe\\sql\\query;;")
            << u"A"_s << int(R::NoTcp) << 0;
        QTest::newRow("port out of range")
            << reply("ServerName;DB1;InstanceName;A;IsClustered;No;tcp;70000;;") << u"A"_s
            << int(R::Malformed) << 0;
        QTest::newRow("port not a number")
            << reply("ServerName;DB1;InstanceName;A;IsClustered;No;tcp;x1433;;") << u"A"_s
            << int(R::Malformed) << 0;
        QTest::newRow("wrong kind") << QByteArray("\x04"
                                                  "A")
                                    << u"A"_s << int(R::Malformed) << 0;
        QTest::newRow("header only, cut short")
            << reply(one).left(2) << u"SQLEXPRESS"_s << int(R::Malformed) << 0;
        QTest::newRow("size beyond the data")
            << reply(one).chopped(1) << u"SQLEXPRESS"_s << int(R::Malformed) << 0;
        QTest::newRow("data beyond the size") << reply(one) + "ServerName;X;InstanceName;Y;tcp;1;;"
                                              << u"Y"_s << int(R::Malformed) << 0;
        QTest::newRow("size read little-endian")
            << reply(QByteArray("ServerName;H;InstanceName;A;IsClustered;No;Version;1;tcp;1500;") +
                     QByteArray(300, 'x') + ";;")
            << u"A"_s << int(R::Found) << 1500;
        QTest::newRow("no closing ;;")
            << reply("ServerName;H;InstanceName;A;IsClustered;No;Version;1;tcp;1500") << u"A"_s
            << int(R::Malformed) << 0;
        QTest::newRow("not an instance record")
            << reply("Hello;world;;") << u"A"_s << int(R::Malformed) << 0;
    }
    void parseReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, instance);
        QFETCH(int, status);
        QFETCH(int, port);
        const db::InstanceReply parsed = db::parseInstanceReply(reply, instance);
        QCOMPARE(int(parsed.status), status);
        QCOMPARE(int(parsed.port), port);
    }

    // The service answers only a request it can read: the exact bytes are what it gets.
    void asksTheBrowser()
    {
        FakeBrowser browser(reply("ServerName;H;InstanceName;SQLEXPRESS;IsClustered;No;"
                                  "Version;15.0.2000.5;tcp;14330;;"),
                            QByteArray("\x04SQLEXPRESS\0", 12));
        QCOMPARE(db::lookupInstancePort(u"127.0.0.1"_s, u"SQLEXPRESS"_s, 5000, browser.port()),
                 quint16(14330));
        QCOMPARE(browser.request, QByteArray("\x04SQLEXPRESS\0", 12));
    }

    void failuresSayWhy_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing listens")
            << QByteArray() << false << u"не работает служба SQL Server Browser"_s;
        QTest::newRow("no answer") << QByteArray() << true << u"не ответила"_s;
        QTest::newRow("no TCP") << reply("ServerName;H;InstanceName;X;np;p;;") << true
                                << u"не принимает соединения по TCP/IP"_s;
        QTest::newRow("other instance only") << reply("ServerName;H;InstanceName;Y;tcp;1500;;")
                                             << true << u"нет экземпляра SQL Server \"X\""_s;
        QTest::newRow("garbled") << QByteArray("\x05\x0a\x00garbage...", 13) << true
                                 << u"не удалось разобрать"_s;
    }
    void failuresSayWhy()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, listening);
        QFETCH(QString, expected);
        std::optional<FakeBrowser> browser;
        quint16 port = 0;
        if (listening) {
            browser.emplace(answer);
            port = browser->port();
        } else {
            port = closedPort();
        }
        EXPECT_THROWN(unanswered, db::DbError,
                      db::lookupInstancePort(u"127.0.0.1"_s, u"X"_s, 300, port));
        QVERIFY2(unanswered.message.contains(u"\"127.0.0.1\\X\""_s), unanswered.describe());
        QVERIFY2(unanswered.message.contains(expected), unanswered.describe());
    }
};

QTEST_GUILESS_MAIN(TestInstanceLookup)
#include "tst_instancelookup.moc"
