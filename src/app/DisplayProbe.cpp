#include "DisplayProbe.h"

#include "SpecialFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
#endif

using namespace Qt::StringLiterals;

namespace {

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

bool platformPluginFound(const QString& platform)
{
    const QString name = platform.section(u':', 0, 0).toLower();
    QStringList folders;
    if (const QString own = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.isEmpty())
        folders << own;
    for (const QString& path : QCoreApplication::libraryPaths())
        folders << path + u"/platforms"_s;
#ifdef Q_OS_WIN
    // Asked before Qt starts, when Qt knows only its own install folder: the package keeps its
    // plugins beside the program, where Qt looks once it runs.
    folders << platform::executableDir() + u"/platforms"_s;
#endif
    for (const QString& folder : std::as_const(folders))
        for (QString file : QDir(folder).entryList(QDir::Files)) {
            file = file.section(u'.', 0, 0).toLower();
            if (file.startsWith(u"lib"_s))
                file.remove(0, 3);
            if (file.startsWith(u'q') && file.mid(1).startsWith(name))
                return true;
        }
    return false;
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
        return platform.startsWith(u"offscreen"_s) || platform.startsWith(u"minimal"_s) ||
               !platformPluginFound(platform);
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !xDisplayAnswers() && !waylandDisplayAnswers();
#else
    return false;
#endif
}

QString noDisplayText()
{
#ifdef Q_OS_WIN
    return u"Окну программы нужен дисплей, а выбранная платформа Qt (QT_QPA_PLATFORM или "
           u"-platform) его не даёт. Без окна работают резервное копирование (-backup_db) и "
           u"восстановление (-restore_db): dbsetup --help."_s;
#else
    return u"Окну программы нужен дисплей, а он недоступен (DISPLAY и WAYLAND_DISPLAY не заданы "
           u"или дисплей не отвечает). Без окна работают резервное копирование (-backup_db) и "
           u"восстановление (-restore_db): dbsetup --help."_s;
#endif
}
