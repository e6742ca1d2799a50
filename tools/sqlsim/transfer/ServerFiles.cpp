#include "ServerFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStringList>
#include <QUrl>

namespace sqlsim::serverfiles {
namespace {

using namespace Qt::StringLiterals;

// A default instance of SQL Server 2019 keeps its files here.
const QString instanceFolder =
    u"C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL"_s;
// The folder under the root that no drive letter names: unreachable paths are put in it.
const QString nowhere = u"+unreachable"_s;

QString& rootPath()
{
    static QString root;
    return root;
}

// The entry of `folder` named `name` without regard to case, else `name` itself.
QString matchEntry(const QString& folder, const QString& name)
{
    const QDir dir(folder);
    if (!dir.exists())
        return name;
    const QStringList entries =
        dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& e : entries) {
        if (e == name)
            return e;
    }
    for (const QString& e : entries) {
        if (e.compare(name, Qt::CaseInsensitive) == 0)
            return e;
    }
    return name;
}

// "C:\a\..\b" as the drive letter and the components left once "." and ".." are applied; ".."
// at the drive's root stays there, as on Windows.
std::optional<std::pair<QChar, QStringList>> splitWindowsPath(const QString& path)
{
    if (path.size() < 2 || path[1] != u':' || !path[0].isLetter() || path[0].unicode() > 127)
        return std::nullopt;
    if (path.size() > 2 && path[2] != u'\\' && path[2] != u'/')
        return std::nullopt; // "C:x" is relative to the drive's current folder: none here
    QStringList parts;
    QString rest = path.mid(2);
    rest.replace(u'\\', u'/');
    for (const QString& part : rest.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"."_s)
            continue;
        if (part == u".."_s) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return std::pair{path[0].toUpper(), parts};
}

} // namespace

QString setRoot(const QString& root)
{
    QDir dir(root);
    if (!dir.exists() && !QDir().mkpath(root))
        return u"cannot create the server root %1"_s.arg(root);
    rootPath() = QDir::cleanPath(dir.absolutePath());
    // Drive C: is always there; other drives are the folders the test made.
    if (!QFileInfo(rootPath() + u"/C"_s).isDir() && !QFileInfo(rootPath() + u"/c"_s).isDir() &&
        !QDir().mkpath(rootPath() + u"/C"_s))
        return u"cannot create drive C: in the server root"_s;
    for (const QString& folder : {defaultDataPath({}), defaultBackupPath({})}) {
        if (!QDir().mkpath(toLocal(folder)))
            return u"cannot create %1 in the server root"_s.arg(folder);
    }
    return {};
}

qint64& freeSpaceLimit()
{
    static qint64 limit = -1;
    return limit;
}

void setFreeSpaceLimit(qint64 bytes)
{
    freeSpaceLimit() = bytes;
}

qint64 reportedFreeBytes(qint64 realBytes)
{
    return freeSpaceLimit() < 0 ? realBytes : std::min(realBytes, freeSpaceLimit());
}

bool exceedsFreeSpace(qint64 bytes)
{
    return freeSpaceLimit() >= 0 && bytes > freeSpaceLimit();
}

bool hasRoot()
{
    return !rootPath().isEmpty();
}

namespace {
// The folder of the drive a Windows path names, when the server has that drive.
std::optional<QString> driveFolder(const std::optional<std::pair<QChar, QStringList>>& split)
{
    if (!split)
        return std::nullopt;
    const QString folder = rootPath() + u'/' + matchEntry(rootPath(), QString(split->first));
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    return folder;
}
} // namespace

bool reachable(const QString& statementPath)
{
    // A drive letter the machine has no drive for is a path it cannot find (error 3), like a
    // path on no drive at all.
    return !hasRoot() || driveFolder(splitWindowsPath(statementPath)).has_value();
}

QString toLocal(const QString& statementPath)
{
    if (!hasRoot()) {
        QString path = statementPath;
        path.replace(u'\\', u'/');
        return path;
    }
    const auto split = splitWindowsPath(statementPath);
    const std::optional<QString> drive = driveFolder(split);
    if (!drive) {
        return rootPath() + u'/' + nowhere + u'/' +
               QString::fromLatin1(QUrl::toPercentEncoding(statementPath));
    }
    QString local = *drive;
    for (const QString& part : split->second)
        local += u'/' + matchEntry(local, part);
    return local;
}

QString shown(const QString& localPath)
{
    if (!hasRoot())
        return QDir::toNativeSeparators(localPath);
    const QString prefix = rootPath() + u'/';
    const QString clean = QDir::cleanPath(
        QFileInfo(localPath).isAbsolute() ? localPath : QFileInfo(localPath).absoluteFilePath());
    if (!clean.startsWith(prefix))
        return localPath; // already a server path, or one the server never had
    const QString rest = clean.mid(prefix.size());
    if (rest.startsWith(nowhere + u'/'))
        return QUrl::fromPercentEncoding(rest.mid(nowhere.size() + 1).toLatin1());
    const qsizetype slash = rest.indexOf(u'/');
    const QString drive = slash < 0 ? rest : rest.left(slash);
    const QString tail = slash < 0 ? QString() : rest.mid(slash);
    return drive.toUpper() + u':' + (tail.isEmpty() ? u"\\"_s : QString(tail).replace(u'/', u'\\'));
}

int missingFolderError()
{
    return hasRoot() ? 3 : 2;
}

QString defaultDataPath(const QString& dataDir)
{
    if (!hasRoot())
        return QDir::toNativeSeparators(QDir(dataDir).absolutePath()) + u'/';
    return instanceFolder + u"\\DATA\\"_s;
}

QString defaultBackupPath(const QString& dataDir)
{
    if (!hasRoot())
        return QDir::toNativeSeparators(QDir(dataDir).absolutePath()) + u'/';
    return instanceFolder + u"\\Backup\\"_s;
}

QList<Drive> drives(const QString& dataDir)
{
    QList<Drive> out;
    const auto add = [&](const QString& name, const QString& local) {
        const QStorageInfo volume(local);
        out.append({name, local, volume.bytesTotal(), reportedFreeBytes(volume.bytesAvailable())});
    };
    if (!hasRoot()) {
        add(u"/"_s, QDir(dataDir).absolutePath());
        return out;
    }
    const QFileInfoList entries =
        QDir(rootPath()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& e : entries) {
        const QString n = e.fileName();
        if (n.size() == 1 && n[0].isLetter() && n[0].unicode() < 128)
            add(n.toUpper(), e.absoluteFilePath());
    }
    return out;
}

QString newDatabaseFolder(const QString& dataDir)
{
    return hasRoot() ? toLocal(defaultDataPath(dataDir)) : dataDir;
}

} // namespace sqlsim::serverfiles
