#include "FileExtraction.h"

#include "Connection.h"
#include "DiskSpace.h"
#include "FileHelpers.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "PathMacros.h"
#include "PathText.h"
#include "ServerProbes.h"
#include "StoredPath.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <filesystem>
#include <system_error>

using namespace Qt::StringLiterals;
using filestore::connectionLost;
using filestore::ensureOpen;
using filestore::localPath;

namespace {

constexpr int extractTimeoutSeconds = 36000;
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

std::filesystem::path fsPath(const QString& path)
{
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QString folderError(const QString& folder)
{
    return u"Не удалось создать путь \""_s + folder + u"\"."_s;
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
        head.storedPath = filestore::trimControls(head.storedPath);
        return head;
    }

    // Throws MyException when the target's folder cannot be made; every other failure leaves
    // the row in the list of skipped files.
    void write(db::Connection::RowCursor& row, const Head& head)
    {
        const filestore::LocalTarget target = filestore::resolveStoredPath(head.storedPath);
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

bool ExtractFilesFromDB(const QString& installDir, db::Connection& connection,
                        const QString& installedVersionText, OperatorUi& operatorUi,
                        const PumpMessages& pump)
{
    ExtractOptions options;
    options.pump = pump;
    return ExtractFilesFromDB(installDir, connection, installedVersionText, operatorUi, options);
}

bool ExtractFilesFromDB(const QString& installDir, db::Connection& connection,
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
        connection.forEachRow(storesql::selectFilesSince(fileStoreTable, installed),
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
        // Only older files, if any: the caller decides on the first row, before anything is
        // written.
        bool first = true;
        try {
            ensureOpen(connection);
            connection.forEachRow(storesql::selectFiles(fileStoreTable), extractTimeoutSeconds,
                                  [&](db::Connection::RowCursor& row) {
                                      const Extractor::Head head = extractor.readHead(row);
                                      if (first) {
                                          first = false;
                                          if (options.acceptOlder &&
                                              !options.acceptOlder(installed, head.version))
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
