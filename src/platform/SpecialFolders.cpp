#include "SpecialFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace platform {

QString executableDir()
{
    return QCoreApplication::applicationDirPath();
}

QString tempDir()
{
    return QDir::tempPath();
}

QString documentsDir()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!dir.isEmpty())
        QDir().mkpath(dir);
    return dir;
}

QString appDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString programFilesDir()
{
    return u"/opt"_s;
}

QString programFilesX86Dir()
{
    return u"/opt"_s;
}

QString systemDir()
{
    return u"/usr/lib"_s;
}

bool isWow64()
{
    return false;
}

} // namespace platform
