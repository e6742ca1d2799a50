#include "ServerPaths.h"

#include "DiskSpace.h"

#include <QDir>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

bool IsServerSidePath(const QString& path)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(path);
    return false;
#else
    static const QRegularExpression drive(u"^[A-Za-z]:"_s);
    return drive.match(path).hasMatch() || path.startsWith(u"\\\\"_s);
#endif
}

QString DrivePart(const QString& path)
{
    static const QRegularExpression drive(u"^[A-Za-z]:"_s);
    if (drive.match(path).hasMatch())
        return path.left(2);
    if (path.startsWith(u"\\\\"_s) || path.startsWith(u"//"_s)) {
        // \\server\share
        const QStringList parts = path.mid(2).split(QRegularExpression(u"[\\\\/]"_s));
        return u"\\\\"_s + parts.value(0) + u'\\' + parts.value(1);
    }
    if (!QDir::isAbsolutePath(path))
        return {};
    return platform::mountRoot(path);
}

QString IsRemovableDrive(const QString& backupFile, const QString& apprNamePathName,
                         const QString& systemDir)
{
    const QString drive = DrivePart(backupFile);
    if (drive.compare(DrivePart(apprNamePathName), Qt::CaseInsensitive) == 0)
        return {};
    if (drive.compare(DrivePart(systemDir), Qt::CaseInsensitive) == 0)
        return {};
    return u"REMOVABLE"_s;
}
