#include "FileStore.h"

#include "CommandTimeout.h"
#include "Connection.h"
#include "DiskSpace.h"
#include "FileHelpers.h"
#include "FileMask.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "PathMacros.h"
#include "PathText.h"
#include "TextDecoding.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cmath>
#include <filesystem>
#include <system_error>

using namespace Qt::StringLiterals;

namespace {

constexpr int storeTimeoutSeconds = 3600;
constexpr int extractTimeoutSeconds = 36000;
const QString exclusionFileName = u"exclusion_mask_backup_file.txt"_s;
const QString defaultExclusions = u"default.udl\r\n*.ldf\r\n*.mdf\r\n*.bak"_s;
const QString setAsideSuffix = u"___"_s;
// Less room than this after a failed write: the disk is full.
constexpr quint64 fullDiskMargin = 1024 * 1024;
// The new content of a file being extracted waits under this name beside it. No dot: the store
// takes in only names with one, so a file a killed run left behind never travels in a backup.
const QString extractTempPrefix = u"~dbsetup-extract-"_s;

bool isExtractionLeftover(const QString& fileName)
{
    return fileName.startsWith(extractTempPrefix) && !fileName.contains(u'.');
}

// Files a killed extraction left behind go before the next one starts.
void removeExtractionLeftovers(const QString& folder)
{
    QDirIterator it(folder, {extractTempPrefix + u'*'},
                    QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isExtractionLeftover(it.fileName()))
            QFile::remove(path);
    }
}

void ensureOpen(db::Connection& connection)
{
    if (!connection.isOpen())
        connection.open();
}

// Blanks and control characters at both ends removed.
QString trimControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

// Paths from settings and macros may hold "\"; Linux only knows "/".
QString localPath(const QString& path)
{
#ifdef Q_OS_WIN
    return path;
#else
    QString result = path;
    result.replace(u'\\', u'/');
    return result;
#endif
}

std::filesystem::path fsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QStringList splitLines(const QString& text)
{
    QString normal = text;
    normal.replace(u"\r\n"_s, u"\n"_s);
    normal.replace(u'\r', u'\n');
    QStringList lines = normal.split(u'\n');
    // A line break ends the last line rather than starting an empty one.
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString exclusionText(const QByteArray& bytes)
{
    // UTF-16 written big-endian; everything else as configuration files are read.
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes.mid(2));
    return platform::decodeConfigText(bytes);
}

// The code page of the current database's non-Unicode text; 0 when the server does not say
// (a server without COLLATIONPROPERTY, a collation it does not describe).
int databaseCodePage(db::Connection& connection)
{
    try {
        ensureOpen(connection);
        const auto result = connection.openRecordSet(
            u"SELECT COLLATIONPROPERTY(CONVERT(nvarchar(128), DATABASEPROPERTYEX(DB_NAME(), "
            u"'Collation')), 'CodePage') AS CodePage"_s,
            storeTimeoutSeconds);
        if (result->isEmpty())
            return 0;
        bool ok = false;
        const int codePage = result->fieldText(u"CodePage"_s).toInt(&ok);
        return ok ? codePage : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

QString folderError(const QString& folder)
{
    return u"Не удалось создать путь \""_s + folder + u"\"."_s;
}

// ---- Extraction

// A stored path made local: the components between runs of "\" and "/", or why it must not be
// written.
struct LocalTarget
{
    QStringList components;
    QString refusal;
};

bool isDriveComponent(const QString& component)
{
    return component.size() >= 2 && component.at(1) == u':' && component.at(0).isLetter();
}

LocalTarget resolveStoredPath(const QString& storedPath)
{
    LocalTarget result;
    const QString outside = u"путь ведёт за пределы папки программы"_s;
    if (storedPath.isEmpty() || pathtext::isSeparator(storedPath.back())) {
        result.refusal = u"путь не называет файл"_s;
        return result;
    }
    if (pathtext::isSeparator(storedPath.front())) {
        result.refusal = outside;
        return result;
    }
    QString component;
    const auto take = [&] {
        if (!component.isEmpty())
            result.components.append(component);
        component.clear();
    };
    for (const QChar c : storedPath) {
        if (pathtext::isSeparator(c))
            take();
        else
            component.append(c);
    }
    take();
    for (qsizetype i = 0; i < result.components.size(); ++i) {
        QString& part = result.components[i];
        // Quotes were doubled on the way in, as the backslashes were.
        part.replace(u"\"\""_s, u"\""_s);
#ifdef Q_OS_WIN
        const bool foreign = part.contains(u':'); // a drive or an alternate data stream
#else
        const bool foreign = false;
#endif
        if (part == u"."_s || part == u".."_s || foreign || (i == 0 && isDriveComponent(part))) {
            result.refusal = outside;
            return result;
        }
        // No file system holds NUL in a name: such a row is skipped like any other that cannot
        // be written, instead of failing as a folder that cannot be made and stopping the rest.
        if (part.contains(QChar(0))) {
            result.refusal = u"путь содержит недопустимый символ"_s;
            return result;
        }
    }
    return result;
}

// Removes the temporary file unless it has been moved into place.
class TemporaryFileGuard
{
public:
    explicit TemporaryFileGuard(QString path) : m_path(std::move(path)) {}
    ~TemporaryFileGuard()
    {
        if (!m_path.isEmpty())
            QFile::remove(m_path);
    }
    TemporaryFileGuard(const TemporaryFileGuard&) = delete;
    TemporaryFileGuard& operator=(const TemporaryFileGuard&) = delete;
    void release() { m_path.clear(); }

private:
    QString m_path;
};

void makeWritable(const QString& path)
{
    const QFile::Permissions permissions = QFile::permissions(path);
    QFile::setPermissions(path, permissions | QFile::WriteOwner | QFile::WriteUser);
}

bool renameOver(const QString& from, const QString& to, QString* error)
{
    std::error_code code;
    std::filesystem::rename(fsPath(from), fsPath(to), code);
    if (code && error != nullptr)
        *error = QString::fromLocal8Bit(code.message());
    return !code;
}

bool connectionLost(const db::Connection& connection, const std::exception& error)
{
    const auto* dbError = dynamic_cast<const db::DbError*>(&error);
    return !connection.isOpen() || (dbError != nullptr && dbError->isConnectionLoss());
}

class Extractor
{
public:
    Extractor(QString folder, const ExtractOptions& options)
        : m_folder(std::move(folder)), m_options(options)
    {}

    // Path and version come first: the driver reads columns in increasing order only.
    struct Head
    {
        QString storedPath;
        QString version;
    };
    Head readHead(db::Connection::RowCursor& row)
    {
        if (m_pathColumn < 0)
            findColumns(row);
        Head head;
        if (m_pathColumn < m_versionColumn) {
            head.storedPath = row.text(m_pathColumn);
            head.version = row.text(m_versionColumn);
        } else {
            head.version = row.text(m_versionColumn);
            head.storedPath = row.text(m_pathColumn);
        }
        head.storedPath = trimControls(head.storedPath);
        return head;
    }

    // Throws MyException when the target's folder cannot be made; every other failure leaves
    // the row in the list of skipped files.
    void write(db::Connection::RowCursor& row, const Head& head)
    {
        const LocalTarget target = resolveStoredPath(head.storedPath);
        if (!target.refusal.isEmpty()) {
            skip(head, target.refusal);
        } else {
            const QString separator = pathtext::nativeSeparator();
            QString folder = m_folder;
            for (qsizetype i = 0; i + 1 < target.components.size(); ++i)
                folder += target.components.at(i) + separator;
            // Named with its trailing separator, so a folder whose name holds a dot is made too.
            if (!ForceDirs(folder))
                throw MyException(folderError(folder));
            QString reason;
            if (!replaceFile(row, folder, target.components.last(), reason))
                skip(head, reason);
        }
        if (m_options.pump)
            m_options.pump();
    }

    // One warning for all rows that were not written.
    // asError: the list ends the extraction as an error (never while another error leaves).
    void reportSkipped(OperatorUi& operatorUi, bool asError = false) const
    {
        if (m_skipped.isEmpty())
            return;
        const QString text =
            u"Не все файлы программы извлечены из базы:\r\n"_s + m_skipped.join(u"\r\n"_s);
        if (asError)
            throw MyException(text);
        operatorUi.showMessage(OperatorUi::Icon::Warning, u"Внимание"_s, text);
    }

private:
    void findColumns(db::Connection::RowCursor& row)
    {
        const int path = row.columnIndex(u"path"_s);
        const int version = row.columnIndex(u"version"_s);
        const int data = row.columnIndex(u"file_data"_s);
        if (path < 0 || version < 0 || data < 0 || data < path || data < version)
            throw Error(u"Таблица "_s + fileStoreTable +
                        u" не похожа на хранилище файлов программы."_s);
        m_pathColumn = path;
        m_versionColumn = version;
        m_dataColumn = data;
    }

    // Names the file, and says so when the disk is full: the system's own words for it may be
    // only "unknown error" (a write that stopped short).
    QString writeFailure(const QString& target, const QString& folder, const QString& error) const
    {
        const std::optional<quint64> free =
            m_options.freeBytes ? m_options.freeBytes(folder) : platform::freeBytes(folder);
        const QString why =
            free && *free < fullDiskMargin
                ? u"на диске не осталось свободного места (свободно %1 байт)"_s.arg(*free)
                : error;
        return u"не удалось записать файл \""_s + QDir::toNativeSeparators(target) + u"\": "_s +
               why;
    }

    void skip(const Head& head, const QString& reason)
    {
        m_skipped.append(head.storedPath + u": "_s + reason);
    }

    // The new content goes to a file beside the target first, so a failed write leaves the
    // installed file as it was.
    bool replaceFile(db::Connection::RowCursor& row, const QString& folder, const QString& name,
                     QString& reason)
    {
        const QString target = folder + name;
        const QFileInfo existing(target);
        if (existing.isDir()) {
            reason = u"на месте файла находится папка"_s;
            return false;
        }
        // A short name of its own in the same folder: the rename stays on one file system, and
        // a target name near the length limit leaves room.
        QFile out;
        for (int attempt = 0; attempt < 100 && !out.isOpen(); ++attempt) {
            out.setFileName(folder + extractTempPrefix +
                            QString::number(QRandomGenerator::global()->generate(), 36));
            if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
                !QFileInfo::exists(out.fileName()))
                break; // only a name already taken goes away by trying another
        }
        if (!out.isOpen()) {
            reason = u"не удалось создать файл: "_s + out.errorString();
            return false;
        }
        TemporaryFileGuard guard(out.fileName());
        try {
            std::unique_ptr<QIODevice> wrapper;
            if (m_options.wrapOutput)
                wrapper = m_options.wrapOutput(out);
            row.copyTo(m_dataColumn, wrapper ? *wrapper : out);
        } catch (const std::exception& e) {
            reason = writeFailure(target, folder, errorMessage(e));
            return false;
        }
        if (!out.flush()) {
            reason = writeFailure(target, folder, out.errorString());
            return false;
        }
        out.close();
        if (out.error() != QFileDevice::NoError) {
            reason = writeFailure(target, folder, out.errorString());
            return false;
        }

        const QString aside = target + setAsideSuffix;
        if (existing.exists()) {
            // The new file keeps what the old one allowed (an executable stays executable),
            // but is never left read-only.
            QFile::setPermissions(out.fileName(),
                                  existing.permissions() | QFile::WriteOwner | QFile::WriteUser);
            makeWritable(target);
        } else if (QFileInfo::exists(aside)) {
            // Nothing to set aside: a file left aside by an earlier run goes.
            makeWritable(aside);
            QFile::remove(aside);
        }
        QString error;
        if (renameOver(out.fileName(), target, &error)) {
            guard.release();
            return true;
        }
        // A program that is running cannot be replaced, but can be moved aside.
        if (QFileInfo::exists(aside)) {
            makeWritable(aside);
            QFile::remove(aside);
        }
        const bool movedAside = !QFileInfo::exists(aside) && QFile::rename(target, aside);
        if (renameOver(out.fileName(), target, &error)) {
            guard.release();
            return true;
        }
        if (movedAside)
            QFile::rename(aside, target);
        reason = u"не удалось заменить файл: "_s + error;
        return false;
    }

    QString m_folder;
    const ExtractOptions& m_options;
    int m_pathColumn = -1;
    int m_versionColumn = -1;
    int m_dataColumn = -1;
    QStringList m_skipped;
};

} // namespace

QStringList LoadExclusionList(const QString& programDir)
{
    const QString path = pathtext::withTrailingSeparator(programDir) + exclusionFileName;
    if (!QFileInfo::exists(localPath(path)))
        return splitLines(defaultExclusions);
    const std::optional<QByteArray> bytes = platform::readConfigFile(localPath(path));
    if (!bytes)
        throw Error(u"Не удалось прочитать файл \""_s + path + u"\"."_s);
    return splitLines(exclusionText(*bytes));
}

std::optional<bool> FitsCodePage(const QString& text, int codePage)
{
    if (codePage == 65001)
        return true;
    if (codePage == 1251)
        return platform::decodeWindows1251(platform::encodeWindows1251(text)) == text;
    if (codePage <= 0)
        return std::nullopt;
    QStringEncoder encoder(u"windows-%1"_s.arg(codePage).toLatin1().constData());
    QStringDecoder decoder(u"windows-%1"_s.arg(codePage).toLatin1().constData());
    if (!encoder.isValid() || !decoder.isValid())
        return std::nullopt;
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return false;
    const QString back = decoder.decode(bytes);
    return !decoder.hasError() && back == text;
}

QString UnstoredNamesWarning(const UnstoredNames& unstored)
{
    if (unstored.paths.isEmpty())
        return {};
    return u"Файлы не сохранены в базе: имя нельзя записать в кодировке базы (%1):\r\n"_s.arg(
               unstored.codePage) +
           unstored.paths.join(u"\r\n"_s);
}

bool IsExcludedFile(const QString& fileName, const QStringList* exclusions)
{
    if (exclusions == nullptr)
        return false;
    const QString name = fileName.toLower();
    for (const QString& mask : *exclusions) {
        if (MatchesMask(name, mask.toLower()))
            return true;
    }
    return false;
}

QString EscapeSQLText(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'"' || c == u'\'' || c == u'\\')
            result.append(c);
        result.append(c);
    }
    return result;
}

QString VersionNumberText(const QString& versionText)
{
    QString digits;
    for (const QChar c : versionText) {
        if (c >= u'0' && c <= u'9')
            digits.append(c);
    }
    return digits;
}

QString GetServerVersion(db::Connection& connection)
{
    QString text;
    try {
        ensureOpen(connection);
        const auto result =
            connection.openRecordSet(u"select @@version as Version"_s, storeTimeoutSeconds);
        if (result->isEmpty())
            return {};
        text = result->fieldText(u"Version"_s);
    } catch (const std::exception&) {
        return {};
    }
    if (!text.toLower().startsWith(u"microsoft sql server"_s))
        return {};
    return text.left(25);
}

int GetServerVersionYear(db::Connection& connection)
{
    const QString version = GetServerVersion(connection);
    if (version.size() < 4)
        return 0;
    bool ok = false;
    const int year = version.right(4).toInt(&ok);
    return ok ? year : 0;
}

std::optional<qint64> DatabaseSizeCeiling(int engineEdition, const QString& productVersion,
                                          int versionYear)
{
    // SERVERPROPERTY: EngineEdition 4 is Express. Its ceiling grew from 4 to 10 GB with
    // 2008 R2, version 10.50.
    constexpr int express = 4;
    if (engineEdition != express)
        return std::nullopt;
    constexpr qint64 gib = 1024LL * 1024 * 1024;
    const QStringList parts = productVersion.split(u'.');
    bool majorOk = false;
    bool minorOk = false;
    const int major = parts.value(0).toInt(&majorOk);
    const int minor = parts.value(1).toInt(&minorOk);
    const bool since2008R2 =
        majorOk && minorOk ? major > 10 || (major == 10 && minor >= 50) : versionYear > 2008;
    return since2008R2 ? 10 * gib : 4 * gib;
}

std::optional<qint64> GetMaxDBSize(db::Connection& connection)
{
    int engineEdition = 0;
    QString productVersion;
    try {
        ensureOpen(connection);
        const auto result = connection.openRecordSet(
            u"SELECT CAST(SERVERPROPERTY('EngineEdition') AS int) AS engine_edition, "
            u"CAST(SERVERPROPERTY('ProductVersion') AS nvarchar(128)) AS product_version"_s,
            storeTimeoutSeconds);
        if (result->isEmpty())
            return std::nullopt;
        engineEdition = result->fieldText(u"engine_edition"_s).toInt();
        productVersion = result->fieldText(u"product_version"_s);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return DatabaseSizeCeiling(engineEdition, productVersion,
                               productVersion.isEmpty() ? GetServerVersionYear(connection) : 0);
}

namespace {

// Pages in use, from the files themselves; nullopt where the server cannot say.
std::optional<qint64> usedPagesBytes(db::Connection& connection, bool dataOnly)
{
    try {
        const auto result = connection.openRecordSet(
            u"SELECT SUM(CAST(FILEPROPERTY(name, 'SpaceUsed') AS bigint)) * 8192 AS used "
            u"FROM sys.database_files"_s +
                (dataOnly ? u" WHERE type = 0"_s : QString()),
            storeTimeoutSeconds);
        bool ok = false;
        const qint64 used = result->isEmpty() ? 0 : result->fieldText(u"used"_s).toLongLong(&ok);
        if (ok && used >= 0)
            return used;
    } catch (const db::DbError& error) {
        if (error.isConnectionLoss())
            throw;
    }
    return std::nullopt;
}

} // namespace

qint64 GetDBSpaceUsed(db::Connection& connection, bool dataOnly)
{
    QString size;
    try {
        ensureOpen(connection);
    } catch (const std::exception&) {
        return 0; // no server to ask
    }
    try {
        if (const std::optional<qint64> used = usedPagesBytes(connection, dataOnly))
            return *used;
        const auto result = connection.openRecordSet(u"exec sp_spaceused"_s, storeTimeoutSeconds);
        if (result->isEmpty())
            return 0;
        size = result->fieldText(u"database_size"_s);
    } catch (const db::DbError& error) {
        if (error.isConnectionLoss())
            throw;
        return 0;
    }
    return DatabaseSizeBytes(size);
}

qint64 DatabaseSizeBytes(const QString& spaceUsedText)
{
    const QString unit = spaceUsedText.right(2);
    const long double number = StrToFloatAny(
        spaceUsedText.chopped(std::min<qsizetype>(3, spaceUsedText.size())), u"."_s, 0);
    long double bytes = 0;
    if (unit == u"MB"_s)
        bytes = number * 1024 * 1024;
    else if (unit == u"KB"_s)
        bytes = number * 1024;
    return static_cast<qint64>(std::llround(bytes));
}

UnstoredNames AddFilesToDB(const QString& installDir, const QString& tableName,
                           const QString& versionText, const QStringList& exclusions,
                           qint64 maxSizeAddDB, db::Connection& connection,
                           const PumpMessages& pump)
{
    const QString expanded = ExpandMacros(installDir);
    const QString folder =
        expanded.isEmpty() ? QString() : pathtext::withTrailingSeparator(expanded);
    if (folder.isEmpty() || !QFileInfo(localPath(folder)).isDir())
        throw MyException(u"Не найден каталог \""_s + folder + u"\"."_s);

    const db::CommandTimeout timeout(connection, storeTimeoutSeconds);
    try {
        ensureOpen(connection);
        connection.executeNoRecords(u"drop  table "_s + tableName);
    } catch (const std::exception&) {
        // Usually there was no table yet; the create statement tells of anything worse.
    }
    const QString version = VersionNumberText(versionText);
    ensureOpen(connection);
    connection.executeNoRecords(u"create table "_s + tableName +
                                u" (path char(255) not null, version int null, file_data IMAGE "
                                u"NULL)"_s);

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
    unstored.codePage = databaseCodePage(connection);

    for (const QString& file : files) {
        if (IsExcludedFile(file.mid(pathtext::lastSeparator(file) + 1), &exclusions))
            continue;
        QString relative = file.mid(folder.size());
        // Stored with Windows separators, so that a store written here reads back anywhere.
        relative.replace(u'/', u'\\');
        const QString stored = trimControls(relative);
        // A code page that cannot be checked: stored as it comes, the server decides.
        const std::optional<bool> fits = FitsCodePage(stored, unstored.codePage);
        if (fits && !*fits) {
            unstored.paths.append(stored);
            continue;
        }
        const QString sql =
            u"INSERT INTO "_s + tableName + u" (path, version, file_data) VALUES ("_s + u"'"_s +
            EscapeSQLText(stored) + u"',"_s + u"'"_s + version + u"',"_s + u":binaryData)"_s;
        QFile data(localPath(file));
        if (!data.open(QIODevice::ReadOnly))
            throw Error(u"Не удалось открыть файл \""_s + file + u"\": "_s + data.errorString());
        ensureOpen(connection);
        connection.executeWithStream(sql, u"binaryData"_s, data, storeTimeoutSeconds);
        if (pump)
            pump();
    }
    return unstored;
}

bool ExtractFilesFromDB(const QString& installDir, db::Connection& connection, bool askVersion,
                        const QString& installedVersionText, OperatorUi& operatorUi,
                        const PumpMessages& pump)
{
    ExtractOptions options;
    options.pump = pump;
    return ExtractFilesFromDB(installDir, connection, askVersion, installedVersionText, operatorUi,
                              options);
}

bool ExtractFilesFromDB(const QString& installDir, db::Connection& connection, bool askVersion,
                        const QString& installedVersionText, OperatorUi& operatorUi,
                        const ExtractOptions& options)
{
    const QString expanded = ExpandMacros(installDir);
    const QString folder =
        expanded.isEmpty() ? QString() : pathtext::withTrailingSeparator(expanded);
    if (folder.isEmpty() || !ForceDirs(folder))
        throw MyException(folderError(folder));
    removeExtractionLeftovers(localPath(folder));
    Extractor extractor(localPath(folder), options);

    // Without a version (no executable, or one without version information) every stored file
    // is at least as new.
    QString installed = VersionNumberText(installedVersionText);
    if (installed.isEmpty())
        installed = u"0"_s;

    bool anyRow = false;
    try {
        ensureOpen(connection);
        connection.forEachRow(u"SELECT * FROM "_s + fileStoreTable + u" WHERE version>="_s +
                                  installed + u";"_s,
                              extractTimeoutSeconds, [&](db::Connection::RowCursor& row) {
                                  anyRow = true;
                                  extractor.write(row, extractor.readHead(row));
                                  return true;
                              });
    } catch (const std::exception& error) {
        // A store that cannot be read means the backup carried none; a connection lost on the
        // way says nothing about the store, and must not pass for "no files".
        if (!anyRow && !connectionLost(connection, error))
            return false;
        extractor.reportSkipped(operatorUi);
        throw;
    }

    if (!anyRow) {
        // Only older files, if any: the operator decides on the first row, before anything is
        // written.
        bool first = true;
        try {
            ensureOpen(connection);
            connection.forEachRow(
                u"SELECT * FROM "_s + fileStoreTable, extractTimeoutSeconds,
                [&](db::Connection::RowCursor& row) {
                    const Extractor::Head head = extractor.readHead(row);
                    if (first) {
                        first = false;
                        if (askVersion &&
                            !operatorUi.askYesNo(
                                OperatorUi::Icon::Question, u"Внимание"_s,
                                u"Текущая версии программы \""_s + installed +
                                    u"\", версия программы в базе данных \""_s + head.version +
                                    u"\"."_s + u"\r\n"_s +
                                    u"Вы действительно хотите заменить новую версию старой? "_s))
                            return false;
                    }
                    extractor.write(row, head);
                    return true;
                });
        } catch (const std::exception&) {
            extractor.reportSkipped(operatorUi);
            throw;
        }
    }
    extractor.reportSkipped(operatorUi, options.failOnSkipped);
    return true;
}
