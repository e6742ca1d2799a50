#include "DiskSpace.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace platform {

namespace {

// The storage of the nearest existing folder at or above the path; invalid when there is none.
QStorageInfo storageOf(const QString& path)
{
    if (path.isEmpty())
        return QStorageInfo();
    QString text = path;
#ifndef Q_OS_WIN
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
    QString current = QDir::cleanPath(QFileInfo(text).absoluteFilePath());
    // Each step drops one component, so the walk ends at the root at the latest.
    while (!current.isEmpty()) {
        const QFileInfo info(current);
        if (info.isDir())
            return QStorageInfo(current);
        const QString parent = info.absolutePath();
        if (parent == current)
            break;
        current = parent;
    }
    return QStorageInfo();
}

} // namespace

std::optional<quint64> freeBytes(const QString& path)
{
    const QStorageInfo storage = storageOf(path);
    if (!storage.isValid() || !storage.isReady())
        return std::nullopt;
    const qint64 bytes = storage.bytesFree();
    if (bytes < 0)
        return std::nullopt;
    return static_cast<quint64>(bytes);
}

QString mountRoot(const QString& path)
{
    const QStorageInfo storage = storageOf(path);
    if (!storage.isValid())
        return QString();
    return storage.rootPath();
}

} // namespace platform
