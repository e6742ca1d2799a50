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
    const QByteArray name = instance.toLatin1();
    // [MC-SQLR] 2.2.3 CLNT_UCAST_INST: 0x04, then the name, null-terminated, at most 32 bytes.
    if (name.size() > maxInstanceNameBytes || QString::fromLatin1(name) != instance ||
        name.contains('\0'))
        throw DbError(u"Имя экземпляра SQL Server \"%1\" недопустимо: оно длиннее %2 знаков или "
                      u"содержит недопустимые знаки."_s.arg(instance)
                          .arg(maxInstanceNameBytes));
    QByteArray request(1, '\x04');
    request += name;
    request += '\0';
    return request;
}

InstanceReply parseInstanceReply(const QByteArray& reply, const QString& instance)
{
    // [MC-SQLR] 2.2.5 SVR_RESP: 0x05, RESP_SIZE (u16, little-endian), RESP_DATA of that size.
    InstanceReply result;
    if (reply.size() < 3 || reply.at(0) != '\x05')
        return result;
    const auto declared = static_cast<qsizetype>(static_cast<quint8>(reply.at(1)) |
                                                 (static_cast<quint8>(reply.at(2)) << 8));
    if (declared != reply.size() - 3)
        return result;
    const QString text = QString::fromLatin1(reply.mid(3));
    if (!text.endsWith(u";;"_s))
        return result;
    // Each instance: "ServerName;S;InstanceName;I;IsClustered;No;Version;V" and the protocols it
    // listens on ("np;pipe", "tcp;port", "bv;…" with five values), then ";;".
    QStringList records = text.split(u";;"_s);
    records.removeLast(); // after the final ";;"
    bool sawInstance = false;
    for (const QString& record : std::as_const(records)) {
        const QStringList fields = record.split(u';');
        if (fields.size() < 4 || fields[0].compare(u"ServerName"_s, Qt::CaseInsensitive) != 0 ||
            fields[2].compare(u"InstanceName"_s, Qt::CaseInsensitive) != 0)
            return InstanceReply{};
        if (fields[3].compare(instance, Qt::CaseInsensitive) != 0)
            continue;
        sawInstance = true;
        for (qsizetype i = 4; i < fields.size();) {
            const QString key = fields[i].toLower();
            if (key == u"tcp"_s && i + 1 < fields.size()) {
                bool ok = false;
                const uint port = fields[i + 1].toUInt(&ok);
                if (!ok || port == 0 || port > 65535)
                    return InstanceReply{};
                return InstanceReply{InstanceReply::Found, static_cast<quint16>(port)};
            }
            i += key == u"bv"_s ? 6 : 2;
        }
    }
    result.status = sawInstance ? InstanceReply::NoTcp : InstanceReply::NoSuchInstance;
    return result;
}

quint16 lookupInstancePort(const QString& host, const QString& instance, int timeoutMs,
                           quint16 browserPort)
{
    const QByteArray request = instanceRequest(instance);
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
    const InstanceReply parsed = parseInstanceReply(reply, instance);
    switch (parsed.status) {
    case InstanceReply::Found:
        return parsed.port;
    case InstanceReply::Malformed:
        throw DbError(u"Сервер \"%1\" не найден: ответ службы SQL Server Browser на компьютере "
                      u"\"%2\" не удалось разобрать."_s.arg(serverName(host, instance), host));
    case InstanceReply::NoSuchInstance:
        throw DbError(u"Сервер \"%1\" не найден: на компьютере \"%2\" нет экземпляра SQL Server "
                      u"\"%3\"."_s.arg(serverName(host, instance), host, instance));
    case InstanceReply::NoTcp:
        break;
    }
    throw DbError(
        u"Сервер \"%1\" не принимает соединения по TCP/IP."_s.arg(serverName(host, instance)));
}

} // namespace db

#endif
