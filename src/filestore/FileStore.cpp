#include "FileStore.h"

#include "CommandTimeout.h"
#include "Connection.h"
#include "FileHelpers.h"
#include "MyException.h"
#include "PathMacros.h"
#include "PathText.h"
#include "ServerProbes.h"
#include "StoredPath.h"
#include "TextDecoding.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

constexpr int storeTimeoutSeconds = 3600;

} // namespace

std::optional<bool> FitsCodePage(const QString& text, int codePage)
{
    if (codePage == 65001)
        return true;
    if (codePage == 1251)
        return platform::decodeWindows1251(platform::encodeWindows1251(text)) == text;
    return platform::fitsCodePage(text, codePage);
}

QString UnstoredNamesWarning(const UnstoredNames& unstored)
{
    if (unstored.paths.isEmpty())
        return {};
    return u"Файлы не сохранены в базе: имя нельзя записать в кодировке базы (%1):\r\n"_s.arg(
               unstored.codePage) +
           unstored.paths.join(u"\r\n"_s);
}

UnstoredNames AddFilesToDB(const QString& installDir, const QString& tableName,
                           const QString& versionText, const QStringList& exclusions,
                           qint64 maxSizeAddDB, db::Connection& connection,
                           const PumpMessages& pump)
{
    using filestore::ensureOpen;
    const QString expanded = ExpandMacros(installDir);
    const QString folder =
        expanded.isEmpty() ? QString() : pathtext::withTrailingSeparator(expanded);
    if (folder.isEmpty() || !QFileInfo(filestore::localPath(folder)).isDir())
        throw MyException(u"Не найден каталог \""_s + folder + u"\"."_s);

    const db::CommandTimeout timeout(connection, storeTimeoutSeconds);
    try {
        ensureOpen(connection);
        connection.executeNoRecords(storesql::dropTable(tableName));
    } catch (const std::exception&) {
        // Usually there was no table yet; the create statement tells of anything worse.
    }
    const QString version = VersionNumberText(versionText);
    ensureOpen(connection);
    connection.executeNoRecords(storesql::createTable(tableName));

    QStringList files;
    FindFilesRecursive(folder, u"*.*"_s, files, true, false, FileAttr::AnyFile, 0);
    // Only ordinary files are an installation's content: reading a pipe or a device would wait
    // for ever or never end.
    files.removeIf([](const QString& file) {
        const QFileInfo info(file);
        return info.exists() && !info.isFile();
    });

    // Excluded files are counted too: the room check comes before the exclusion list is read.
    qint64 total = 0;
    for (qsizetype i = files.size() - 1; i >= 0; --i) {
        const qint64 size = GetFileSizeByName(files.at(i));
        if (maxSizeAddDB > 0 && size >= maxSizeAddDB)
            files.removeAt(i);
        else
            total += std::max<qint64>(size, 0);
    }
    const std::optional<qint64> ceiling = GetMaxDBSize(connection);
    if (ceiling && *ceiling - GetDBSpaceUsed(connection) < total)
        throw MyException(u"Размер файлов превышает допустимый размер базы данных."_s);

    UnstoredNames unstored;
    unstored.codePage = DatabaseCodePage(connection);

    for (const QString& file : files) {
        if (IsExcludedFile(file.mid(pathtext::lastSeparator(file) + 1), &exclusions))
            continue;
        QString relative = file.mid(folder.size());
        // Stored with Windows separators, so that a store written here reads back anywhere.
        relative.replace(u'/', u'\\');
        const QString stored = filestore::trimControls(relative);
        // A code page that cannot be checked: stored as it comes, the server decides.
        const std::optional<bool> fits = FitsCodePage(stored, unstored.codePage);
        if (fits && !*fits) {
            unstored.paths.append(stored);
            continue;
        }
        const QString sql = storesql::insertFile(tableName, filestore::storedPathText(stored),
                                                 version, u"binaryData"_s);
        QFile data(filestore::localPath(file));
        if (!data.open(QIODevice::ReadOnly))
            throw Error(u"Не удалось открыть файл \""_s + file + u"\": "_s + data.errorString());
        ensureOpen(connection);
        connection.executeWithStream(sql, u"binaryData"_s, data, storeTimeoutSeconds);
        if (pump)
            pump();
    }
    return unstored;
}
