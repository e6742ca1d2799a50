// Asking the SQL Server Browser for the port of a named instance.
#include "DbError.h"
#include "InstanceLookup.h"

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

// A Browser on a loopback port of its own: answers one request with a prepared reply (or not
// at all) and keeps what it was asked.
class FakeBrowser
{
public:
    explicit FakeBrowser(QByteArray answer) : m_answer(std::move(answer))
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
            if (!m_answer.isEmpty())
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
    void portFromReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("instance");
        QTest::addColumn<int>("port");
        const QByteArray one =
            "ServerName;DB1;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0.2000.5;tcp;49170;;";
        QTest::newRow("one instance") << reply(one) << u"SQLEXPRESS"_s << 49170;
        QTest::newRow("name case ignored") << reply(one) << u"sqlexpress"_s << 49170;
        QTest::newRow("another instance") << reply(one) << u"OTHER"_s << 0;
        QTest::newRow("second of two")
            << reply("ServerName;DB1;InstanceName;A;IsClustered;No;tcp;1500;;"
                     "ServerName;DB1;InstanceName;B;IsClustered;No;np;\\\\DB1\\pipe;tcp;1600;;")
            << u"B"_s << 1600;
        QTest::newRow("no tcp")
            << reply("ServerName;DB1;InstanceName;A;IsClustered;No;np;\\\\DB1\\pipe;;") << u"A"_s
            << 0;
        QTest::newRow("port out of range")
            << reply("ServerName;DB1;InstanceName;A;tcp;70000;;") << u"A"_s << 0;
        QTest::newRow("wrong kind") << QByteArray("\x04"
                                                  "A")
                                    << u"A"_s << 0;
        QTest::newRow("cut short") << reply(one).left(2) << u"SQLEXPRESS"_s << 0;
        QTest::newRow("length beyond the data") << QByteArray("\x05\xff\xff"
                                                              "InstanceName;A;tcp;1500;;",
                                                              28)
                                                << u"A"_s << 1500;
    }
    void portFromReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, instance);
        QFETCH(int, port);
        QCOMPARE(int(db::instancePortFromReply(reply, instance)), port);
    }

    void asksTheBrowser()
    {
        FakeBrowser browser(reply("ServerName;H;InstanceName;SQLEXPRESS;tcp;14330;;"));
        QCOMPARE(db::lookupInstancePort(u"127.0.0.1"_s, u"SQLEXPRESS"_s, 5000, browser.port()),
                 quint16(14330));
        QCOMPARE(browser.request, QByteArray("\x04SQLEXPRESS"));
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
        try {
            db::lookupInstancePort(u"127.0.0.1"_s, u"X"_s, 300, port);
            QFAIL("no error");
        } catch (const db::DbError& e) {
            QVERIFY2(e.message().contains(u"\"127.0.0.1\\X\""_s), qPrintable(e.message()));
            QVERIFY2(e.message().contains(expected), qPrintable(e.message()));
        }
    }
};

QTEST_GUILESS_MAIN(TestInstanceLookup)
#include "tst_instancelookup.moc"
