#include "InstanceLookup.h"

#if !defined(Q_OS_WIN)

#include "DbError.h"

#include <QElapsedTimer>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace db {

namespace {

constexpr qsizetype maxInstanceNameBytes = 32;
constexpr int resendMs = 1000;

class Socket
{
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

QString serverName(const QString& host, const QString& instance)
{
    return host + u'\\' + instance;
}

enum class Outcome
{
    Answered,
    Refused,     // the host says nothing listens there
    Unreachable, // the host cannot be reached at all (error in errno)
    Silent
};

Outcome failure()
{
    return errno == ECONNREFUSED ? Outcome::Refused : Outcome::Unreachable;
}

// One address of the host: a connected UDP socket, so that a refusal (ICMP port unreachable)
// comes back as ECONNREFUSED instead of a silent wait.
Outcome ask(const addrinfo& address, const QByteArray& request, const QElapsedTimer& clock,
            int timeoutMs, QByteArray& reply)
{
    Socket socket(
        ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol));
    if (socket.fd() < 0 || ::connect(socket.fd(), address.ai_addr, address.ai_addrlen) != 0)
        return failure();
    qint64 nextSend = 0;
    while (clock.elapsed() < timeoutMs) {
        if (clock.elapsed() >= nextSend) {
            if (::send(socket.fd(), request.constData(), static_cast<size_t>(request.size()), 0) <
                0)
                return failure();
            nextSend = clock.elapsed() + resendMs;
        }
        pollfd p{socket.fd(), POLLIN, 0};
        const qint64 wait = std::min(nextSend, qint64(timeoutMs)) - clock.elapsed();
        const int ready = ::poll(&p, 1, static_cast<int>(std::max<qint64>(wait, 0)));
        if (ready < 0 && errno != EINTR)
            return failure();
        if (ready <= 0)
            continue;
        QByteArray buffer(65535, Qt::Uninitialized);
        const ssize_t n = ::recv(socket.fd(), buffer.data(), static_cast<size_t>(buffer.size()), 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return failure();
        }
        reply = buffer.left(n);
        return Outcome::Answered;
    }
    return Outcome::Silent;
}

} // namespace

QByteArray instanceRequest(const QString& instance)
{
    QByteArray request(1, '\x04');
    request += instance.toLatin1().left(maxInstanceNameBytes);
    return request;
}

quint16 instancePortFromReply(const QByteArray& reply, const QString& instance)
{
    if (reply.size() < 3 || reply.at(0) != '\x05')
        return 0;
    const auto declared = static_cast<qsizetype>(static_cast<quint8>(reply.at(1)) |
                                                 (static_cast<quint8>(reply.at(2)) << 8));
    const QString text = QString::fromLatin1(reply.mid(3, declared));
    // Each instance is a run of "Key;Value;" pairs ending in an empty field.
    for (const QString& block : text.split(u";;"_s)) {
        const QStringList fields = block.split(u';');
        QString name;
        QString tcp;
        for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
            if (fields[i].compare(u"InstanceName"_s, Qt::CaseInsensitive) == 0)
                name = fields[i + 1];
            else if (fields[i].compare(u"tcp"_s, Qt::CaseInsensitive) == 0)
                tcp = fields[i + 1];
        }
        if (name.compare(instance, Qt::CaseInsensitive) != 0)
            continue;
        bool ok = false;
        const uint port = tcp.toUInt(&ok);
        return ok && port > 0 && port <= 65535 ? static_cast<quint16>(port) : 0;
    }
    return 0;
}

quint16 lookupInstancePort(const QString& host, const QString& instance, int timeoutMs,
                           quint16 browserPort)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const QByteArray service = QByteArray::number(browserPort);
    if (const int rc =
            ::getaddrinfo(host.toUtf8().constData(), service.constData(), &hints, &found);
        rc != 0)
        throw DbError(u"Компьютер \"%1\" не найден: %2."_s.arg(
            host, QString::fromLocal8Bit(::gai_strerror(rc))));
    const QByteArray request = instanceRequest(instance);
    QElapsedTimer clock;
    clock.start();
    bool silent = false;
    QString unreachable;
    QByteArray reply;
    bool answered = false;
    for (const addrinfo* a = found; a != nullptr && !answered; a = a->ai_next) {
        switch (ask(*a, request, clock, timeoutMs, reply)) {
        case Outcome::Answered:
            answered = true;
            break;
        case Outcome::Silent:
            silent = true;
            break;
        case Outcome::Unreachable:
            unreachable = QString::fromLocal8Bit(std::strerror(errno));
            break;
        case Outcome::Refused:
            break;
        }
    }
    ::freeaddrinfo(found);
    if (!answered) {
        if (!unreachable.isEmpty())
            throw DbError(u"Сервер \"%1\" не найден: компьютер \"%2\" недоступен (%3)."_s.arg(
                serverName(host, instance), host, unreachable));
        if (silent)
            throw DbError(
                u"Сервер \"%1\" не найден: служба SQL Server Browser на компьютере \"%2\" не ответила."_s
                    .arg(serverName(host, instance), host));
        throw DbError(
            u"Сервер \"%1\" не найден: на компьютере \"%2\" не работает служба SQL Server Browser (UDP-порт %3)."_s
                .arg(serverName(host, instance), host)
                .arg(browserPort));
    }
    const quint16 port = instancePortFromReply(reply, instance);
    if (port == 0)
        throw DbError(
            u"Сервер \"%1\" не принимает соединения по TCP/IP."_s.arg(serverName(host, instance)));
    return port;
}

} // namespace db

#endif
