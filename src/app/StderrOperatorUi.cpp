#include "StderrOperatorUi.h"

#include "MyException.h"

#include <QDir>
#include <cstdio>

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
#endif

using namespace Qt::StringLiterals;

namespace {

void printLine(const QString& text)
{
    printStderrLine(text);
}

const QString connectionFailure = u"Не удалось подключиться к базе данных."_s;

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
// Whether the X server named by DISPLAY lets us in, asked the way Qt's xcb platform asks it
// (authorisation included).
bool xDisplayAnswers()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

bool unixSocketAnswers(const QByteArray& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answers =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return answers;
}

// WAYLAND_DISPLAY is a socket name in XDG_RUNTIME_DIR, or an absolute path.
bool waylandDisplayAnswers()
{
    const QString name = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (name.isEmpty())
        return false;
    const QString path =
        QDir::isAbsolutePath(name) ? name : qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + name;
    return unixSocketAnswers(QFile::encodeName(path));
}
#endif

} // namespace

void printStderrLine(const QString& text)
{
    QString line = text;
    line.replace(u"\r\n"_s, u" "_s).replace(u'\n', u' ').replace(u'\r', u' ');
    line = line.trimmed();
    for (QChar& c : line)
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F)
            c = u'?';
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void StderrOperatorUi::showMessage(Icon, const QString& caption, const QString& text)
{
    printLine(caption + u": "_s + text);
}

bool StderrOperatorUi::askYesNo(Icon, const QString& caption, const QString& text)
{
    printLine(caption + u": "_s + text);
    printLine(u"Ответ без оператора: «Да»."_s);
    return true;
}

int StderrOperatorUi::askChoice(Icon, const QString& caption, const QString& text,
                                const QStringList& buttons)
{
    // Nobody can say which change to write or to drop: the answer that leaves everything as it is.
    printLine(caption + u": "_s + text);
    printLine(u"Ответ без оператора: «%1»."_s.arg(buttons.value(buttons.size() - 1)));
    return static_cast<int>(buttons.size()) - 1;
}

void StderrOperatorUi::note(const QString& text)
{
    printLine(text);
}

void StderrOperatorUi::startOperation(const QString& title)
{
    printLine(title);
}

QString chosenPlatform(const QStringList& arguments)
{
    const qsizetype option = arguments.indexOf(u"-platform"_s, 1);
    if (option > 0 && option + 1 < arguments.size())
        return arguments[option + 1];
    return qEnvironmentVariable("QT_QPA_PLATFORM");
}

bool hasNoDisplay(const QStringList& arguments)
{
    const QString platform = chosenPlatform(arguments);
    if (!platform.isEmpty())
        return platform.startsWith(u"offscreen"_s) || platform.startsWith(u"minimal"_s);
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !xDisplayAnswers() && !waylandDisplayAnswers();
#else
    return false;
#endif
}

QString noDisplayText()
{
    return u"Окну программы нужен дисплей, а он недоступен (DISPLAY и WAYLAND_DISPLAY не заданы "
           u"или дисплей не отвечает). Без окна работают резервное копирование (-backup_db) и "
           u"восстановление (-restore_db): dbsetup --help."_s;
}

QStringList unattendedErrorLines(const std::exception& error, const QString& module)
{
    if (const auto* advised = dynamic_cast<const AdvisedError*>(&error))
        return {applicationErrorText(MyException(advised->failure()), module), advised->advice()};
    const QString message = errorMessage(error);
    const QString separator = u"\r\n\r\n"_s;
    if (dynamic_cast<const MyException*>(&error) != nullptr &&
        message.startsWith(connectionFailure + separator)) {
        const QString reason = message.mid(connectionFailure.size() + separator.size());
        return {applicationErrorText(MyException(connectionFailure), module), reason};
    }
    return {applicationErrorText(error, module)};
}
