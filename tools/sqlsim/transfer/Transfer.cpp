#include "Transfer.h"

#include "BackupMedia.h"
#include "Collation.h"
#include "Crc32.h"
#include "ServerFiles.h"
#include "TransferMessages.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <sqlite3.h>
#include <thread>
#include <vector>

namespace sqlsim {
namespace {

using namespace Qt::StringLiterals;
using namespace transfer;

constexpr qint64 maxChunk = 64 * 1024;
// Names the identities derived for files and databases (UUID version 5).
constexpr QUuid idNamespace(0x6b1f0c52, 0x3a9e, 0x4f0e, 0x9a, 0x57, 0x2f, 0x7d, 0x1e, 0x3c, 0x8a,
                            0x41);
constexpr qint64 minChunk = 512;
// Longest sleep between two looks at the client's attention while throttled.
constexpr qint64 maxNapMs = 50;
// A session committing at this moment holds the data file briefly; wait that out.
constexpr int busyTimeoutMs = 5000;
// The DONE after each progress message. With FreeTDS's ODBC driver, an INFO followed by a DONE
// (MORE) reaches the application at once: SQLExecDirect returns with the first step and each
// SQLMoreResults waits for the next.
constexpr DoneKind progressDone = DoneKind::Statement;

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString absolutePath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool folderExists(const QString& path)
{
    return QFileInfo(QFileInfo(path).absolutePath()).isDir();
}

// Windows' error code for a file that cannot be opened for reading.
int readErrorCode(const QString& path)
{
    if (!folderExists(path))
        return 3;
    if (!QFileInfo::exists(path))
        return 2;
    return 5;
}

bool renameOver(const QString& from, const QString& to)
{
    // rename(2) replaces the target in one step.
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

void removeSidecars(const QString& dataFile)
{
    // A stale journal or write-ahead log beside a replaced data file would be applied to it.
    for (const QString& suffix : {u"-wal"_s, u"-shm"_s, u"-journal"_s})
        QFile::remove(dataFile + suffix);
}

// Files and database names that a BACKUP or RESTORE of some session is working on. Sessions run
// on threads of one process; without this, two of them would write the same temporary file.
class Claims
{
public:
    Claims() = default;
    Claims(const Claims&) = delete;
    Claims& operator=(const Claims&) = delete;
    ~Claims()
    {
        const std::lock_guard lock(mutex());
        for (const QString& key : std::as_const(m_keys))
            busy().remove(key);
    }

    // Claims every key for `owner`, or none: then the owner of the first key taken elsewhere.
    std::optional<QString> claim(const QStringList& keys, const QString& owner)
    {
        const std::lock_guard lock(mutex());
        for (const QString& key : keys) {
            const auto it = busy().constFind(key);
            if (it != busy().cend())
                return *it;
        }
        for (const QString& key : keys) {
            busy().insert(key, owner);
            m_keys.append(key);
        }
        return std::nullopt;
    }

    static QString fileKey(const QString& path) { return u"file:"_s + absolutePath(path); }
    static QString databaseKey(const QString& name) { return u"db:"_s + name.toLower(); }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static QHash<QString, QString>& busy()
    {
        static QHash<QString, QString> keys;
        return keys;
    }

    QStringList m_keys;
};

// Removes a file when it goes out of scope, unless kept: a failed, aborted or dropped transfer
// leaves no partial file behind.
class TempFile
{
public:
    explicit TempFile(QString path) : m_path(std::move(path)) {}
    ~TempFile() { discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const QString& path() const { return m_path; }
    QFile& file() { return m_file; }
    bool open(QIODevice::OpenMode mode)
    {
        m_file.setFileName(m_path);
        return m_file.open(mode);
    }
    void keep() { m_kept = true; }
    void discard()
    {
        if (m_kept)
            return;
        m_file.close();
        QFile::remove(m_path);
        m_kept = true;
    }

private:
    QString m_path;
    QFile m_file;
    bool m_kept = false;
};

// Moves bytes between files for BACKUP and RESTORE: progress messages every `stats` percent,
// pacing to the throttle, the client's attention between chunks, and the fault switch that
// drops the connection half way.
class Copier
{
public:
    enum class Result
    {
        Done,
        Cancelled,
        ReadFailed,
        WriteFailed
    };

    Copier(ReplySink& reply, qint64 total, int stats, qint64 bytesPerSecond, bool dropHalfWay,
           std::function<void()> cleanup)
        : m_reply(reply), m_total(total), m_stats(stats), m_rate(bytesPerSecond),
          m_drop(dropHalfWay), m_cleanup(std::move(cleanup)),
          m_chunk(bytesPerSecond > 0 ? qBound(minChunk, bytesPerSecond / 20, maxChunk) : maxChunk),
          m_nextPercent(stats)
    {
        m_clock.start();
    }

    Result copy(QIODevice& in, QIODevice& out, qint64 size, Crc32& crc)
    {
        QByteArray buffer;
        qint64 left = size;
        while (left > 0) {
            dropIfHalfWay();
            if (m_reply.cancelled())
                return Result::Cancelled;
            qint64 n = qMin(left, m_chunk);
            if (m_drop && m_done < m_total / 2)
                n = qMin(n, m_total / 2 - m_done);
            buffer.resize(qsizetype(n));
            if (in.read(buffer.data(), n) != n)
                return Result::ReadFailed;
            crc.update(buffer.constData(), n);
            if (out.write(buffer.constData(), n) != n)
                return Result::WriteFailed;
            m_done += n;
            left -= n;
            progress();
            if (!pace())
                return Result::Cancelled;
        }
        return Result::Done;
    }

    // After the last copy: the remaining progress steps (all of them for an empty transfer).
    void finish()
    {
        dropIfHalfWay();
        progress();
    }

private:
    void dropIfHalfWay()
    {
        if (m_drop && m_done >= m_total / 2) {
            m_cleanup();
            m_reply.dropConnection();
        }
    }

    void progress()
    {
        if (m_stats <= 0)
            return;
        const qint64 percent = m_total > 0 ? m_done * 100 / m_total : 100;
        while (m_nextPercent <= 100 && m_nextPercent <= percent) {
            m_reply.message(info(3211, u"%1 percent processed."_s.arg(m_nextPercent)));
            m_reply.done(progressDone, std::nullopt, false);
            m_reply.flush();
            m_nextPercent += m_stats;
        }
    }

    // Sleeps until the throttle allows what was copied; false when the client gave up meanwhile.
    bool pace()
    {
        if (m_rate <= 0)
            return true;
        const qint64 dueMs = m_done * 1000 / m_rate;
        for (qint64 ahead = dueMs - m_clock.elapsed(); ahead > 0;
             ahead = dueMs - m_clock.elapsed()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(qMin(ahead, maxNapMs)));
            if (m_reply.cancelled())
                return false;
        }
        return true;
    }

    ReplySink& m_reply;
    qint64 m_total;
    int m_stats;
    qint64 m_rate;
    bool m_drop;
    std::function<void()> m_cleanup;
    qint64 m_chunk;
    qint64 m_done = 0;
    int m_nextPercent;
    QElapsedTimer m_clock;
};

struct SnapshotError
{
    int osCode = 0;
};

// A consistent copy of a live SQLite database, whatever its journal mode: the backup API reads
// every page under one read transaction, including pages still in a write-ahead log.
std::optional<SnapshotError> snapshotDatabase(const QString& source, const QString& target)
{
    if (!QFileInfo(source).isFile())
        return SnapshotError{readErrorCode(source)};
    sqlite3* from = nullptr;
    sqlite3* to = nullptr;
    const auto closeBoth = [&] {
        sqlite3_close(from);
        sqlite3_close(to);
    };
    if (sqlite3_open_v2(QFile::encodeName(source).constData(), &from, SQLITE_OPEN_READWRITE,
                        nullptr) != SQLITE_OK ||
        sqlite3_open_v2(QFile::encodeName(target).constData(), &to,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        closeBoth();
        return SnapshotError{5};
    }
    sqlite3_busy_timeout(from, busyTimeoutMs);
    sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
    int rc = SQLITE_ERROR;
    if (backup != nullptr) {
        rc = sqlite3_backup_step(backup, -1);
        sqlite3_backup_finish(backup);
    }
    closeBoth();
    if (rc == SQLITE_DONE)
        return std::nullopt;
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        return SnapshotError{33};
    return SnapshotError{13};
}

qint64 pages(qint64 bytes)
{
    return (bytes + pageSize - 1) / pageSize;
}

// "298 pages in 0.046 seconds (50.525 MB/sec)."
QString throughput(qint64 totalPages, qint64 elapsedMs)
{
    const double seconds = double(qMax<qint64>(elapsedMs, 1)) / 1000.0;
    const double megabytes = double(totalPages) * double(pageSize) / (1024.0 * 1024.0);
    return u"%1 pages in %2 seconds (%3 MB/sec)."_s.arg(totalPages)
        .arg(seconds, 0, 'f', 3)
        .arg(megabytes / seconds, 0, 'f', 3);
}

void reportPages(ReplySink& reply, const QString& database, const QList<media::FileEntry>& files,
                 int position)
{
    for (const media::FileEntry& file : files)
        reply.message(
            info(4035, u"Processed %1 pages for database '%2', file '%3' on file %4."_s.arg(
                           QString::number(pages(file.size)), database, file.logicalName,
                           QString::number(position))));
}

qint64 totalPages(const QList<media::FileEntry>& files)
{
    qint64 total = 0;
    for (const media::FileEntry& file : files)
        total += pages(file.size);
    return total;
}

// Opens a media file for the RESTORE statements; on failure the messages to send are in errors.
std::optional<media::Media> openMedia(const QString& disk, QFile& file, QList<Message>& errors)
{
    file.setFileName(disk);
    if (!QFileInfo(disk).isFile() || !file.open(QIODevice::ReadOnly)) {
        errors.append(cannotOpenDevice(disk, readErrorCode(disk)));
        return std::nullopt;
    }
    std::optional<media::Media> media = media::readMedia(file);
    if (!media)
        errors.append(badMediaFamily(disk));
    return media;
}

QString nullable(const QString& text)
{
    return text.isEmpty() ? QString() : text;
}

Value textOrNull(const QString& text)
{
    return text.isNull() ? Value{} : Value{text};
}

Value localTime(const QDateTime& when)
{
    return when.isValid() ? Value{when.toLocalTime()} : Value{};
}

QString guidText(const QUuid& id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// LSNs are numeric(25,0); ours only need to grow from set to set.
QString lsn(int position, int step)
{
    return QString::number(36 + position) + u"00000"_s +
           QString::number(1000000 + step * 8).mid(1) + u"00001"_s;
}

ColumnType nvarchar(int length)
{
    return {SqlType::NVarChar, length, 0, 0};
}

ColumnType numeric(int precision)
{
    return {SqlType::Decimal, 0, precision, 0};
}

ColumnType of(SqlType type)
{
    return {type, 0, 0, 0};
}

} // namespace

QUuid fileGuid(const QString& database, const QString& logicalName)
{
    return QUuid::createUuidV5(idNamespace, database.toLower() + u'/' + logicalName.toLower());
}

QString localPath(const QString& statementPath)
{
    return serverfiles::toLocal(statementPath);
}

void runBackup(const BackupRequest& request, TransferHost& host, ReplySink& reply)
{
    QElapsedTimer clock;
    clock.start();
    const QDateTime startDate = QDateTime::currentDateTimeUtc();
    const auto failWith = [&](const QList<Message>& messages) {
        fail(reply, Statement::Backup, messages);
    };

    if (sameName(request.database, u"tempdb"_s))
        return failWith({notOnTempdb()});
    const std::optional<DatabaseFiles> db = host.findDatabase(request.database);
    if (!db)
        return failWith({noSuchDatabase(request.database)});
    if (const auto refusal = host.unavailable(db->name))
        return failWith({*refusal});

    const QString& disk = request.disk;
    const QFileInfo target(disk);
    if (!folderExists(disk))
        return failWith({cannotOpenDevice(disk, 3)});
    if (target.isDir())
        return failWith({cannotOpenDevice(disk, 5)});

    Claims claims;
    if (claims.claim({Claims::fileKey(disk)}, db->name))
        return failWith({cannotOpenDevice(disk, 32)});

    // Without INIT or FORMAT a new set goes after the ones already on the media.
    int position = 1;
    const bool append = !request.init && !request.format && target.isFile() && target.size() > 0;
    if (append) {
        QFile existing(disk);
        if (!existing.open(QIODevice::ReadOnly))
            return failWith({cannotOpenDevice(disk, 5)});
        const std::optional<media::Media> media = media::readMedia(existing);
        if (!media)
            return failWith({badMediaFamily(disk)});
        position = int(media->sets.size()) + 1;
        if (position > media::maxSets)
            return failWith({badMediaFamily(disk)});
    }

    // Snapshots first, so the sizes in the header are the sizes copied.
    QTemporaryDir snapshots;
    if (!snapshots.isValid())
        return failWith({cannotOpenDevice(disk, 5)});
    media::SetHeader header;
    header.name = nullable(request.name);
    header.description = nullable(request.description);
    header.databaseName = db->name;
    header.serverName = QSysInfo::machineHostName();
    header.userName = u"sa"_s;
    header.startDate = startDate;
    header.finishDate = startDate;
    header.databaseCreationDate = QFileInfo(db->dataFile).birthTime().isValid()
                                      ? QFileInfo(db->dataFile).birthTime().toUTC()
                                      : QFileInfo(db->dataFile).lastModified().toUTC();
    header.setGuid = QUuid::createUuid();
    header.singleUser = host.isSingleUser(db->name);
    header.copyOnly = request.copyOnly;
    QStringList sources;
    {
        const QString dataCopy = snapshots.filePath(u"data"_s);
        if (const auto failed = snapshotDatabase(db->dataFile, dataCopy))
            return failWith({readFailed(db->dataFile, failed->osCode)});
        header.files.append({db->dataLogicalName, serverfiles::shown(db->dataFile), 'D',
                             QFileInfo(dataCopy).size()});
        sources.append(dataCopy);
    }
    if (!db->logFile.isEmpty()) {
        const QString logCopy = snapshots.filePath(u"log"_s);
        if (!QFile::copy(db->logFile, logCopy))
            return failWith({readFailed(db->logFile, readErrorCode(db->logFile))});
        header.files.append(
            {db->logLogicalName, serverfiles::shown(db->logFile), 'L', QFileInfo(logCopy).size()});
        sources.append(logCopy);
    }

    // The media is written in place, as SQL Server writes it: INIT and FORMAT write over the
    // old backup from its first byte and cut the file where the new one ends, so a backup that
    // fails part-way leaves a damaged file where the old one was; an appended set goes after
    // the sets already there, which a failure leaves as they were ("BACKUP (Transact-SQL)",
    // INIT and NOINIT, learn.microsoft.com).
    // A disk without room: SQL Server stops with 3202 "There is not enough space on the disk."
    // (here before the first byte, so an old file stays as it was).
    if (serverfiles::exceedsFreeSpace(header.payloadSize()))
        return failWith({writeFailed(disk, 112)});
    const bool existed = target.exists();
    QFile file(disk);
    if (!file.open(QIODevice::ReadWrite))
        return failWith({cannotOpenDevice(disk, 5)});
    const qint64 oldSize = file.size();
    bool finished = false;
    const auto undo = [&] {
        if (finished)
            return;
        finished = true;
        if (!existed) {
            file.close();
            QFile::remove(disk);
        } else if (append) {
            file.resize(oldSize);
            file.close();
        } else {
            file.close();
        }
    };
    const auto failWriting = [&] {
        undo();
        failWith({writeFailed(disk, 112)});
    };
    if (append)
        file.seek(oldSize);
    else if (file.write(media::encodeMediaHeader(QUuid::createUuid())) != media::mediaHeaderSize)
        return failWriting();
    const qint64 setOffset = file.pos();
    QByteArray headerBytes = media::encodeSetHeader(header);
    if (file.write(media::encodeSetPrologue(headerBytes)) < 0)
        return failWriting();

    Copier copier(reply, header.payloadSize(), request.stats, host.throttleBytesPerSecond(),
                  host.takeTransferFault(), [&] {
                      undo();
                      snapshots.remove();
                  });
    Crc32 crc;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        QFile in(sources[i]);
        if (!in.open(QIODevice::ReadOnly)) {
            undo();
            return failWith({readFailed(header.files[i].physicalName, 5)});
        }
        switch (copier.copy(in, file, header.files[i].size, crc)) {
        case Copier::Result::Done:
            break;
        case Copier::Result::Cancelled:
            undo();
            return failWith({aborted()});
        case Copier::Result::ReadFailed:
            undo();
            return failWith({readFailed(header.files[i].physicalName, 13)});
        case Copier::Result::WriteFailed:
            return failWriting();
        }
    }
    copier.finish();

    // The finish time is known only now; the header keeps its length.
    header.finishDate = QDateTime::currentDateTimeUtc();
    const QByteArray finalHeader = media::encodeSetHeader(header);
    if (finalHeader.size() != headerBytes.size() || file.write(media::encodeU32(crc.value())) != 4)
        return failWriting();
    const qint64 end = file.pos();
    if (!file.seek(setOffset) || file.write(media::encodeSetPrologue(finalHeader)) < 0 ||
        !file.resize(end) || !file.flush())
        return failWriting();
    const qint64 setSize = end - setOffset;
    file.close();
    if (file.error() != QFileDevice::NoError)
        return failWriting();
    finished = true;

    reportPages(reply, db->name, header.files, position);
    reply.message(info(3014, u"BACKUP DATABASE successfully processed "_s +
                                 throughput(totalPages(header.files), clock.elapsed())));
    host.recordBackup({db->name, header.name, header.description, serverfiles::shown(disk),
                       header.startDate, header.finishDate, setSize, header.copyOnly});
    reply.done(DoneKind::Statement, std::nullopt, false);
}

void runRestoreFileListOnly(const QString& disk, int file, TransferHost& host, ReplySink& reply)
{
    Q_UNUSED(host);
    QFile device;
    QList<Message> errors;
    const std::optional<media::Media> media = openMedia(disk, device, errors);
    if (!media)
        return fail(reply, Statement::FileList, errors);
    if (file < 1 || file > media->sets.size())
        return fail(reply, Statement::FileList, {noSuchBackupSet(file, disk)});
    const media::SetLocation& set = media->sets[file - 1];

    reply.columns({
        {u"LogicalName"_s, nvarchar(128), true},
        {u"PhysicalName"_s, nvarchar(260), true},
        {u"Type"_s, {SqlType::Char, 1, 0, 0}, true},
        {u"FileGroupName"_s, nvarchar(128), true},
        {u"Size"_s, numeric(20), true},
        {u"MaxSize"_s, numeric(20), true},
        {u"FileId"_s, of(SqlType::BigInt), true},
        {u"CreateLSN"_s, numeric(25), true},
        {u"DropLSN"_s, numeric(25), true},
        {u"UniqueId"_s, of(SqlType::UniqueIdentifier), true},
        {u"ReadOnlyLSN"_s, numeric(25), true},
        {u"ReadWriteLSN"_s, numeric(25), true},
        {u"BackupSizeInBytes"_s, of(SqlType::BigInt), true},
        {u"SourceBlockSize"_s, of(SqlType::Int), true},
        {u"FileGroupId"_s, of(SqlType::Int), true},
        {u"LogGroupGUID"_s, of(SqlType::UniqueIdentifier), true},
        {u"DifferentialBaseLSN"_s, numeric(25), true},
        {u"DifferentialBaseGUID"_s, of(SqlType::UniqueIdentifier), true},
        {u"IsReadOnly"_s, of(SqlType::Bit), true},
        {u"IsPresent"_s, of(SqlType::Bit), true},
        {u"TDEThumbprint"_s, {SqlType::VarBinary, 32, 0, 0}, true},
        {u"SnapshotUrl"_s, nvarchar(360), true},
    });
    qint64 fileId = 0;
    for (const media::FileEntry& entry : set.header.files) {
        ++fileId;
        const bool data = entry.type == 'D';
        const QUuid uniqueId = fileGuid(set.header.databaseName, entry.logicalName);
        reply.row({
            entry.logicalName,
            entry.physicalName,
            QString(QChar::fromLatin1(entry.type)),
            data ? Value{u"PRIMARY"_s} : Value{},
            QString::number(entry.size),
            data ? u"35184372080640"_s : u"2199023255552"_s,
            fileId,
            u"0"_s,
            u"0"_s,
            guidText(uniqueId),
            u"0"_s,
            u"0"_s,
            entry.size,
            qint64(512),
            qint64(data ? 1 : 0),
            Value{},
            data ? Value{lsn(set.position, 0)} : Value{u"0"_s},
            data ? Value{guidText(set.header.setGuid)} : Value{guidText(QUuid())},
            qint64(0),
            qint64(1),
            Value{},
            Value{},
        });
    }
    reply.done(DoneKind::Statement, qint64(set.header.files.size()), false);
}

void runRestoreHeaderOnly(const QString& disk, TransferHost& host, ReplySink& reply)
{
    // SoftwareVersionMajor/Minor/Build: the server that wrote the set, here this one.
    const SoftwareVersion version = host.softwareVersion();
    QFile device;
    QList<Message> errors;
    const std::optional<media::Media> media = openMedia(disk, device, errors);
    if (!media)
        return fail(reply, Statement::HeaderOnly, errors);

    const ColumnType bit = of(SqlType::Bit);
    const ColumnType guid = of(SqlType::UniqueIdentifier);
    reply.columns({
        {u"BackupName"_s, nvarchar(128), true},
        {u"BackupDescription"_s, nvarchar(255), true},
        {u"BackupType"_s, of(SqlType::SmallInt), true},
        {u"ExpirationDate"_s, of(SqlType::DateTime), true},
        {u"Compressed"_s, bit, true},
        {u"Position"_s, of(SqlType::SmallInt), true},
        {u"DeviceType"_s, of(SqlType::TinyInt), true},
        {u"UserName"_s, nvarchar(128), true},
        {u"ServerName"_s, nvarchar(128), true},
        {u"DatabaseName"_s, nvarchar(128), true},
        {u"DatabaseVersion"_s, of(SqlType::Int), true},
        {u"DatabaseCreationDate"_s, of(SqlType::DateTime), true},
        {u"BackupSize"_s, numeric(20), true},
        {u"FirstLSN"_s, numeric(25), true},
        {u"LastLSN"_s, numeric(25), true},
        {u"CheckpointLSN"_s, numeric(25), true},
        {u"DatabaseBackupLSN"_s, numeric(25), true},
        {u"BackupStartDate"_s, of(SqlType::DateTime), true},
        {u"BackupFinishDate"_s, of(SqlType::DateTime), true},
        {u"SortOrder"_s, of(SqlType::SmallInt), true},
        {u"CodePage"_s, of(SqlType::SmallInt), true},
        {u"UnicodeLocaleId"_s, of(SqlType::Int), true},
        {u"UnicodeComparisonStyle"_s, of(SqlType::Int), true},
        {u"CompatibilityLevel"_s, of(SqlType::TinyInt), true},
        {u"SoftwareVendorId"_s, of(SqlType::Int), true},
        {u"SoftwareVersionMajor"_s, of(SqlType::Int), true},
        {u"SoftwareVersionMinor"_s, of(SqlType::Int), true},
        {u"SoftwareVersionBuild"_s, of(SqlType::Int), true},
        {u"MachineName"_s, nvarchar(128), true},
        {u"Flags"_s, of(SqlType::Int), true},
        {u"BindingID"_s, guid, true},
        {u"RecoveryForkID"_s, guid, true},
        {u"Collation"_s, nvarchar(128), true},
        {u"FamilyGUID"_s, guid, true},
        {u"HasBulkLoggedData"_s, bit, true},
        {u"IsSnapshot"_s, bit, true},
        {u"IsReadOnly"_s, bit, true},
        {u"IsSingleUser"_s, bit, true},
        {u"HasBackupChecksums"_s, bit, true},
        {u"IsDamaged"_s, bit, true},
        {u"BeginsLogChain"_s, bit, true},
        {u"HasIncompleteMetaData"_s, bit, true},
        {u"IsForceOffline"_s, bit, true},
        {u"IsCopyOnly"_s, bit, true},
        {u"FirstRecoveryForkID"_s, guid, true},
        {u"ForkPointLSN"_s, numeric(25), true},
        {u"RecoveryModel"_s, nvarchar(60), true},
        {u"DifferentialBaseLSN"_s, numeric(25), true},
        {u"DifferentialBaseGUID"_s, guid, true},
        {u"BackupTypeDescription"_s, nvarchar(60), true},
        {u"BackupSetGUID"_s, guid, true},
        {u"CompressedBackupSize"_s, of(SqlType::BigInt), true},
        {u"Containment"_s, of(SqlType::TinyInt), true},
        {u"KeyAlgorithm"_s, nvarchar(32), true},
        {u"EncryptorThumbprint"_s, {SqlType::VarBinary, 20, 0, 0}, true},
        {u"EncryptorType"_s, nvarchar(32), true},
    });
    for (const media::SetLocation& set : media->sets) {
        const media::SetHeader& h = set.header;
        const qint64 size = set.endOffset - set.offset;
        // The database's own identities, stable across its backups.
        const QString bindingId =
            guidText(QUuid::createUuidV5(idNamespace, u"binding/"_s + h.databaseName.toLower()));
        const QString forkId =
            guidText(QUuid::createUuidV5(idNamespace, u"fork/"_s + h.databaseName.toLower()));
        reply.row({
            textOrNull(h.name),
            textOrNull(h.description),
            qint64(1),
            Value{},
            qint64(0),
            qint64(set.position),
            qint64(2),
            h.userName,
            h.serverName,
            h.databaseName,
            qint64(version.databaseVersion),
            localTime(h.databaseCreationDate),
            QString::number(size),
            lsn(set.position, 1),
            lsn(set.position, 2),
            lsn(set.position, 1),
            u"0"_s,
            localTime(h.startDate),
            localTime(h.finishDate),
            qint64(52),
            qint64(0),
            qint64(1033),
            qint64(196609),
            qint64(version.compatibilityLevel),
            qint64(4608),
            qint64(version.major),
            qint64(version.minor),
            qint64(version.build),
            h.serverName,
            qint64(512),
            bindingId,
            forkId,
            sqlsim::serverCollation().name,
            guidText(media->familyGuid),
            qint64(0),
            qint64(0),
            qint64(0),
            qint64(h.singleUser ? 1 : 0),
            qint64(1),
            qint64(0),
            qint64(0),
            qint64(0),
            qint64(0),
            qint64(h.copyOnly ? 1 : 0),
            forkId,
            Value{},
            u"SIMPLE"_s,
            Value{},
            Value{},
            u"Database"_s,
            guidText(h.setGuid),
            size,
            qint64(0),
            Value{},
            Value{},
            Value{},
        });
    }
    reply.done(DoneKind::Statement, qint64(media->sets.size()), false);
}

namespace {

// The backup set a RESTORE statement names (WITH FILE = n), its media open on device; nothing,
// with the server's errors, for a missing or damaged file, a set that is not there, or a set
// that is no database backup of one data file and at most one log.
std::optional<media::SetLocation> openBackupSet(const RestoreRequest& request, QFile& device,
                                                QList<Message>& errors)
{
    const std::optional<media::Media> media = openMedia(request.disk, device, errors);
    if (!media)
        return std::nullopt;
    if (request.file < 1 || request.file > media->sets.size()) {
        errors = {noSuchBackupSet(request.file, request.disk)};
        return std::nullopt;
    }
    const media::SetLocation& set = media->sets[request.file - 1];
    const QList<media::FileEntry>& files = set.header.files;
    if (std::count_if(files.begin(), files.end(), [](auto& f) { return f.type == 'D'; }) != 1 ||
        std::count_if(files.begin(), files.end(), [](auto& f) { return f.type == 'L'; }) > 1) {
        errors = {badMediaFamily(request.disk)};
        return std::nullopt;
    }
    return set;
}

} // namespace

void runRestoreVerifyOnly(const RestoreRequest& request, TransferHost& host, ReplySink& reply)
{
    // "Verifies the backup but does not restore it, and checks to see that the backup set is
    // complete and the entire backup is readable" ("RESTORE VERIFYONLY (Transact-SQL)",
    // learn.microsoft.com/sql/t-sql/statements/restore-statements-verifyonly-transact-sql):
    // here every header and both CRCs, the same checks RESTORE makes before it writes.
    const auto failWith = [&](const QList<Message>& messages) {
        fail(reply, Statement::VerifyOnly, messages);
    };
    QFile device;
    QList<Message> errors;
    const std::optional<media::SetLocation> chosen = openBackupSet(request, device, errors);
    if (!chosen)
        return failWith(errors);
    const media::SetLocation& set = *chosen;
    const QList<media::FileEntry>& files = set.header.files;
    if (!device.seek(set.payloadOffset))
        return failWith({badMediaFamily(request.disk)});
    // Read to nowhere: the bytes only feed the CRC.
    class Discard : public QIODevice
    {
    protected:
        qint64 readData(char*, qint64) override { return -1; }
        qint64 writeData(const char*, qint64 size) override { return size; }
    } sink;
    sink.open(QIODevice::WriteOnly);
    Copier copier(reply, set.header.payloadSize(), request.stats, host.throttleBytesPerSecond(),
                  false, [] {});
    Crc32 crc;
    for (const media::FileEntry& file : files) {
        switch (copier.copy(device, sink, file.size, crc)) {
        case Copier::Result::Done:
            break;
        case Copier::Result::Cancelled:
            return failWith({aborted()});
        case Copier::Result::ReadFailed:
            // The set ends before its files do: a cut file.
            return failWith({readFailed(request.disk, 38)});
        case Copier::Result::WriteFailed:
            return failWith({badMediaFamily(request.disk)});
        }
    }
    copier.finish();
    const QByteArray stored = device.read(media::crcSize);
    if (stored.size() != media::crcSize)
        return failWith({readFailed(request.disk, 38)});
    if (media::decodeU32(stored.constData()) != crc.value())
        return failWith({badMediaFamily(request.disk)});
    reply.message(info(3262, u"The backup set on file %1 is valid."_s.arg(request.file)));
    reply.done(DoneKind::Statement, std::nullopt, false);
}

void runRestore(const RestoreRequest& request, TransferHost& host, ReplySink& reply)
{
    QElapsedTimer clock;
    clock.start();
    const auto failWith = [&](const QList<Message>& messages) {
        fail(reply, Statement::Restore, messages);
    };

    if (sameName(request.database, u"tempdb"_s))
        return failWith({notOnTempdb()});
    if (sameName(request.database, u"master"_s))
        return failWith({masterNeedsSingleUser()});

    QFile device;
    QList<Message> errors;
    const std::optional<media::SetLocation> chosen = openBackupSet(request, device, errors);
    if (!chosen)
        return failWith(errors);
    const media::SetLocation& set = *chosen;
    const QList<media::FileEntry>& files = set.header.files;

    // Another RESTORE of the same database, or into the same files, is under way.
    Claims claims;
    if (claims.claim({Claims::databaseKey(request.database)}, request.database))
        return failWith({noExclusiveAccess()});

    const std::optional<DatabaseFiles> existing = host.findDatabase(request.database);
    if (existing) {
        if (sameName(host.currentDatabase(), request.database))
            return failWith({inUseBySession(request.database)});
        if (host.usedByOtherSession(request.database))
            return failWith({noExclusiveAccess()});
        if (!request.replace && !sameName(set.header.databaseName, request.database))
            return failWith({otherDatabaseInSet(request.database)});
    }

    QList<Message> problems;
    for (const auto& [logical, path] : request.moves) {
        Q_UNUSED(path);
        if (std::none_of(files.begin(), files.end(),
                         [&](auto& f) { return sameName(f.logicalName, logical); }))
            problems.append(notInDatabase(logical, request.database));
    }
    if (!problems.isEmpty())
        return failWith(problems);

    // Where each file goes: its MOVE target, else where it was when it was backed up.
    QStringList targets;
    for (const media::FileEntry& entry : files) {
        QString target = localPath(entry.physicalName);
        for (const auto& [logical, path] : request.moves) {
            if (sameName(logical, entry.logicalName))
                target = path;
        }
        targets.append(absolutePath(target));
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString& target = targets[i];
        const QString& logical = files[i].logicalName;
        const qsizetype first = targets.indexOf(target);
        if (first < i) {
            problems.append(fileClaimedTwice(target, files[first].logicalName, int(first) + 1,
                                             logical, int(i) + 1));
            continue;
        }
        const QFileInfo info(target);
        if (!folderExists(target) || info.isDir()) {
            problems.append(directoryLookupFailed(
                target, info.isDir() ? 5 : serverfiles::missingFolderError()));
            problems.append(cannotRestoreTo(logical, target));
            continue;
        }
        std::optional<QString> owner = host.databaseUsingFile(target);
        if (!owner || sameName(*owner, request.database)) {
            if (const auto restoring = claims.claim({Claims::fileKey(target)}, request.database))
                owner = restoring;
        }
        if (owner && !sameName(*owner, request.database)) {
            problems.append(fileInUse(target, *owner));
            problems.append(cannotRestoreTo(logical, target));
            continue;
        }
        if (info.exists() && !owner && !request.replace)
            problems.append(wouldOverwrite(logical, target));
    }
    if (!problems.isEmpty()) {
        problems.append(planningFailed());
        return failWith(problems);
    }
    // A restore makes the database's files as CREATE DATABASE does, and Express refuses one
    // whose data would pass its limit the same way: 1827 ("Database Engine events and errors
    // (1000 to 1999)", learn.microsoft.com/sql/relational-databases/errors-events/
    // database-engine-events-and-errors-1000-to-1999), then 3013, before anything is written.
    qint64 dataBytes = 0;
    for (const media::FileEntry& entry : files)
        if (entry.type == 'D')
            dataBytes += entry.size;
    if (const auto tooLarge = host.databaseTooLarge(dataBytes))
        return failWith({*tooLarge});

    // The new files are written beside their targets and put in place only when all of them
    // are complete and verified; until then the existing database stays as it was.
    std::vector<std::unique_ptr<TempFile>> outs;
    for (qsizetype i = 0; i < targets.size(); ++i) {
        outs.push_back(std::make_unique<TempFile>(targets[i] + u".tmp"_s));
        if (!outs.back()->open(QIODevice::WriteOnly | QIODevice::Truncate))
            return failWith({directoryLookupFailed(targets[i], 5),
                             cannotRestoreTo(files[i].logicalName, targets[i]), planningFailed()});
    }
    // From here a restore over an existing database replaces it: "the database is offline for
    // the duration of the restore" ("Restore and recovery overview", learn.microsoft.com/sql/
    // relational-databases/backup-restore/restore-and-recovery-overview-sql-server), RESTORING
    // in sys.databases, and a failure leaves it so with the old database gone.
    if (existing)
        host.restoreStarting(request.database);
    bool abandoned = false;
    const auto discardAll = [&] {
        for (auto& out : outs)
            out->discard();
        if (existing && !abandoned) {
            abandoned = true;
            host.restoreAbandoned(request.database);
        }
    };
    Copier copier(reply, set.header.payloadSize(), request.stats, host.throttleBytesPerSecond(),
                  host.takeTransferFault(), discardAll);
    Crc32 crc;
    if (!device.seek(set.payloadOffset)) {
        discardAll();
        return failWith({badMediaFamily(request.disk)});
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        switch (copier.copy(device, outs[size_t(i)]->file(), files[i].size, crc)) {
        case Copier::Result::Done:
            break;
        case Copier::Result::Cancelled:
            discardAll();
            return failWith({aborted()});
        case Copier::Result::ReadFailed:
            discardAll();
            return failWith({badMediaFamily(request.disk)});
        case Copier::Result::WriteFailed:
            discardAll();
            return failWith({writeFailed(targets[i], 112)});
        }
    }
    copier.finish();
    const QByteArray stored = device.read(media::crcSize);
    if (stored.size() != media::crcSize || media::decodeU32(stored.constData()) != crc.value()) {
        discardAll();
        return failWith({badMediaFamily(request.disk)});
    }
    for (auto& out : outs) {
        out->file().close();
        if (out->file().error() != QFileDevice::NoError) {
            const QString path = out->path();
            discardAll();
            return failWith({writeFailed(path, 112)});
        }
    }

    if (existing)
        host.releaseDatabase(request.database);
    // Old files step aside first, so that a failure half way can put them back.
    QStringList asideDone;
    QStringList placedDone;
    const auto rollBack = [&] {
        for (const QString& target : placedDone)
            QFile::remove(target);
        for (const QString& target : asideDone)
            renameOver(target + u".old"_s, target);
        discardAll();
    };
    for (const QString& target : targets) {
        if (!QFileInfo::exists(target))
            continue;
        if (!renameOver(target, target + u".old"_s)) {
            rollBack();
            return failWith({writeFailed(target, 5)});
        }
        asideDone.append(target);
    }
    for (size_t i = 0; i < outs.size(); ++i) {
        if (!renameOver(outs[i]->path(), targets[qsizetype(i)])) {
            rollBack();
            return failWith({writeFailed(targets[qsizetype(i)], 5)});
        }
        outs[i]->keep();
        placedDone.append(targets[qsizetype(i)]);
    }
    for (const QString& target : asideDone)
        QFile::remove(target + u".old"_s);
    for (const QString& target : targets)
        removeSidecars(target);

    DatabaseFiles restored;
    restored.name = request.database;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (files[i].type == 'D') {
            restored.dataLogicalName = files[i].logicalName;
            restored.dataFile = targets[i];
        } else {
            restored.logLogicalName = files[i].logicalName;
            restored.logFile = targets[i];
        }
    }
    host.attachRestored(restored);

    reportPages(reply, request.database, files, request.file);
    reply.message(info(3014, u"RESTORE DATABASE successfully processed "_s +
                                 throughput(totalPages(files), clock.elapsed())));
    reply.done(DoneKind::Statement, std::nullopt, false);
}

} // namespace sqlsim
