// BACKUP and RESTORE driven directly: a scripted host stands for the engine, a recording sink
// for the wire.
#include "BackupMedia.h"
#include "Transfer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <sqlite3.h>

using namespace Qt::StringLiterals;
using namespace sqlsim;

namespace {

struct Dropped
{};

class FakeHost : public TransferHost
{
public:
    QMap<QString, DatabaseFiles> databases; // by lower-case name
    QString current = u"master"_s;
    QStringList usedElsewhere;
    qint64 throttle = 0;
    bool fault = false;
    QList<BackupRecord> backups;
    QList<DatabaseFiles> attached;
    QStringList released;

    void add(const DatabaseFiles& files) { databases.insert(files.name.toLower(), files); }

    std::optional<DatabaseFiles> findDatabase(const QString& name) override
    {
        const auto it = databases.constFind(name.toLower());
        return it == databases.cend() ? std::nullopt : std::optional(*it);
    }
    bool usedByOtherSession(const QString& database) override
    {
        return usedElsewhere.contains(database, Qt::CaseInsensitive);
    }
    QString currentDatabase() override { return current; }
    std::optional<QString> databaseUsingFile(const QString& path) override
    {
        const QString wanted = QFileInfo(path).absoluteFilePath();
        for (const DatabaseFiles& db : std::as_const(databases)) {
            if (QFileInfo(db.dataFile).absoluteFilePath() == wanted ||
                QFileInfo(db.logFile).absoluteFilePath() == wanted)
                return db.name;
        }
        return std::nullopt;
    }
    void releaseDatabase(const QString& name) override { released.append(name); }
    void attachRestored(const DatabaseFiles& files) override
    {
        attached.append(files);
        add(files);
    }
    void recordBackup(const BackupRecord& record) override { backups.append(record); }
    qint64 throttleBytesPerSecond() override { return throttle; }
    bool takeTransferFault() override { return std::exchange(fault, false); }
};

struct Event
{
    enum Kind
    {
        MessageSent,
        ColumnsSent,
        RowSent,
        DoneSent,
        Flushed
    };
    explicit Event(Kind k) : kind(k) {}

    Kind kind;
    Message message;
    QList<Column> columns;
    QList<Value> row;
    DoneKind doneKind = DoneKind::Statement;
    std::optional<qint64> rowCount;
    bool error = false;
};

class RecordingSink : public ReplySink
{
public:
    QList<Event> events;
    int cancelAfter = -1; // cancelled() turns true after this many calls
    int cancelCalls = 0;
    bool dropped = false;
    std::function<void()> onFirstPoll; // runs while the operation is under way

    void message(const Message& m) override
    {
        Event e(Event::MessageSent);
        e.message = m;
        events.append(e);
    }
    void columns(const QList<Column>& c) override
    {
        Event e(Event::ColumnsSent);
        e.columns = c;
        events.append(e);
    }
    void row(const QList<Value>& values) override
    {
        Event e(Event::RowSent);
        e.row = values;
        events.append(e);
    }
    void done(DoneKind kind, std::optional<qint64> rowCount, bool error) override
    {
        Event e(Event::DoneSent);
        e.doneKind = kind;
        e.rowCount = rowCount;
        e.error = error;
        events.append(e);
    }
    void setTextSize(qint64) override {}
    void databaseChanged(const QString&, const QString&) override {}
    void transactionBegan(quint64) override {}
    void transactionCommitted(quint64) override {}
    void transactionRolledBack(quint64) override {}
    void returnStatus(int) override {}
    void returnValue(int, const Param&) override {}
    bool cancelled() override
    {
        if (onFirstPoll)
            std::exchange(onFirstPoll, nullptr)();
        return cancelAfter >= 0 && ++cancelCalls > cancelAfter;
    }
    void flush() override { events.append(Event(Event::Flushed)); }
    [[noreturn]] void dropConnection() override
    {
        dropped = true;
        throw Dropped{};
    }

    QList<int> numbers() const
    {
        QList<int> result;
        for (const Event& e : events) {
            if (e.kind == Event::MessageSent)
                result.append(e.message.number);
        }
        return result;
    }
    QStringList texts(int number) const
    {
        QStringList result;
        for (const Event& e : events) {
            if (e.kind == Event::MessageSent && e.message.number == number)
                result.append(e.message.text);
        }
        return result;
    }
    QList<QList<Value>> rows() const
    {
        QList<QList<Value>> result;
        for (const Event& e : events) {
            if (e.kind == Event::RowSent)
                result.append(e.row);
        }
        return result;
    }
    bool endedWithError() const
    {
        return !events.isEmpty() && events.last().kind == Event::DoneSent && events.last().error;
    }
    bool endedWell() const
    {
        return !events.isEmpty() && events.last().kind == Event::DoneSent && !events.last().error;
    }
};

QString text(const Value& v)
{
    return std::holds_alternative<QString>(v) ? std::get<QString>(v) : QString();
}

bool exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A database of `rows` rows of 1000 bytes each, plus a log file with bytes of its own.
DatabaseFiles makeDatabase(const QString& dir, const QString& name, int rows)
{
    DatabaseFiles db{name, name, dir + u'/' + name + u".mdf"_s, name + u"_log"_s,
                     dir + u'/' + name + u"_log.ldf"_s};
    sqlite3* h = nullptr;
    sqlite3_open(QFile::encodeName(db.dataFile).constData(), &h);
    exec(h, "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT)");
    exec(h, "BEGIN");
    for (int i = 0; i < rows; ++i) {
        const QByteArray sql = "INSERT INTO t VALUES(" + QByteArray::number(i) + ", '" +
                               name.toUtf8() + QByteArray(1000, char('a' + i % 26)) + "')";
        exec(h, sql.constData());
    }
    exec(h, "COMMIT");
    sqlite3_close(h);
    QFile log(db.logFile);
    log.open(QIODevice::WriteOnly);
    log.write(QByteArray("log of ") + name.toUtf8() + QByteArray(5000, '\x5A'));
    return db;
}

bool changeEveryRow(const QString& dataFile)
{
    sqlite3* h = nullptr;
    sqlite3_open(QFile::encodeName(dataFile).constData(), &h);
    const bool ok = exec(h, "UPDATE t SET id = id + 100000");
    sqlite3_close(h);
    return ok;
}

QStringList readRows(const QString& path)
{
    QStringList result;
    sqlite3* h = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &h, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(h, "SELECT id, v FROM t ORDER BY id", -1, &st, nullptr);
        while (st != nullptr && sqlite3_step(st) == SQLITE_ROW)
            result.append(
                QString::number(sqlite3_column_int64(st, 0)) + u':' +
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))));
        sqlite3_finalize(st);
    }
    sqlite3_close(h);
    return result;
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file under dir with its contents: a failed operation must leave this as it was.
QMap<QString, QByteArray> tree(const QString& dir)
{
    QMap<QString, QByteArray> result;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        result.insert(path, contents(path));
    }
    return result;
}

BackupRequest backupOf(const QString& database, const QString& disk)
{
    BackupRequest r;
    r.database = database;
    r.disk = disk;
    return r;
}

RestoreRequest restoreOf(const QString& database, const QString& disk,
                         QList<std::pair<QString, QString>> moves = {})
{
    RestoreRequest r;
    r.database = database;
    r.disk = disk;
    r.moves = std::move(moves);
    return r;
}

} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString dir() const { return m_dir.path(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    // BACKUP WITH INIT writes over the old backup where it lies: one that stops part-way leaves
    // the old one damaged, no file beside it, everything else as it was.
    void expectOverwrittenInPlace(const QMap<QString, QByteArray>& before, const QString& disk)
    {
        QMap<QString, QByteArray> after = tree(dir());
        QCOMPARE(after.keys(), before.keys());
        QVERIFY(after.value(disk) != before.value(disk));
        after.remove(disk);
        QMap<QString, QByteArray> rest = before;
        rest.remove(disk);
        QCOMPARE(after, rest);
        FakeHost reader;
        RecordingSink sink;
        runRestore(
            restoreOf(u"chk"_s, disk,
                      {{u"src"_s, path(u"chk.mdf"_s)}, {u"src_log"_s, path(u"chk_log.ldf"_s)}}),
            reader, sink);
        QVERIFY(sink.endedWithError());
        QVERIFY(reader.attached.isEmpty());
    }

private slots:
    void init() { QVERIFY(m_dir.isValid()); }
    void cleanup()
    {
        QDir(dir()).removeRecursively();
        QDir().mkpath(dir());
    }

    void backupRestoreRoundTrip()
    {
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 60));
        const QString disk = path(u"src.bak"_s);

        RecordingSink backup;
        BackupRequest request = backupOf(u"SRC"_s, disk);
        request.name = u"nightly"_s;
        runBackup(request, host, backup);
        QCOMPARE(backup.numbers(), QList<int>({4035, 4035, 3014}));
        QVERIFY(backup.endedWell());
        const qint64 dataPages = (QFileInfo(path(u"src.mdf"_s)).size() + 8191) / 8192;
        QCOMPARE(backup.texts(4035).first(),
                 u"Processed %1 pages for database 'src', file 'src' on file 1."_s.arg(dataPages));
        QCOMPARE(backup.texts(4035).last(),
                 u"Processed 1 pages for database 'src', file 'src_log' on file 1."_s);
        QVERIFY(QRegularExpression(
                    u"^BACKUP DATABASE successfully processed %1 pages in "
                    u"\\d+\\.\\d{3} seconds \\(\\d+\\.\\d{3} MB/sec\\)\\.$"_s.arg(dataPages + 1))
                    .match(backup.texts(3014).first())
                    .hasMatch());
        QCOMPARE(host.backups.size(), 1);
        QCOMPARE(host.backups[0].databaseName, u"src"_s);
        QCOMPARE(host.backups[0].name, u"nightly"_s);
        QCOMPARE(host.backups[0].physicalDeviceName, disk);
        QCOMPARE(host.backups[0].backupSize, QFileInfo(disk).size() - media::mediaHeaderSize);
        QVERIFY(!QFile::exists(disk + u".tmp"_s));

        RecordingSink list;
        runRestoreFileListOnly(disk, 1, host, list);
        QVERIFY(list.endedWell());
        QCOMPARE(list.events.first().columns.size(), 22);
        QCOMPARE(list.events.first().columns[0].name, u"LogicalName"_s);
        QCOMPARE(list.events.first().columns[21].name, u"SnapshotUrl"_s);
        const auto rows = list.rows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(text(rows[0][0]), u"src"_s);
        QCOMPARE(text(rows[0][1]), path(u"src.mdf"_s));
        QCOMPARE(text(rows[0][2]), u"D"_s);
        QCOMPARE(text(rows[0][3]), u"PRIMARY"_s);
        QCOMPARE(text(rows[1][0]), u"src_log"_s);
        QCOMPARE(text(rows[1][2]), u"L"_s);
        QVERIFY(isNull(rows[1][3]));
        QCOMPARE(text(rows[1][4]), QString::number(QFileInfo(path(u"src_log.ldf"_s)).size()));
        QCOMPARE(list.events.last().rowCount, std::optional<qint64>(2));

        RecordingSink restore;
        runRestore(
            restoreOf(u"copy"_s, disk,
                      {{u"SRC"_s, path(u"copy.mdf"_s)}, {u"src_log"_s, path(u"copy_log.ldf"_s)}}),
            host, restore);
        QCOMPARE(restore.numbers(), QList<int>({4035, 4035, 3014}));
        QVERIFY(restore.endedWell());
        QVERIFY(restore.texts(3014).first().startsWith(
            u"RESTORE DATABASE successfully processed %1 pages in "_s.arg(dataPages + 1)));
        QCOMPARE(readRows(path(u"copy.mdf"_s)), readRows(path(u"src.mdf"_s)));
        QCOMPARE(readRows(path(u"copy.mdf"_s)).size(), 60);
        QCOMPARE(contents(path(u"copy_log.ldf"_s)), contents(path(u"src_log.ldf"_s)));
        QCOMPARE(host.attached.size(), 1);
        QCOMPARE(host.attached[0].name, u"copy"_s);
        QCOMPARE(host.attached[0].dataLogicalName, u"src"_s);
        QCOMPARE(host.attached[0].dataFile, path(u"copy.mdf"_s));
        QCOMPARE(host.attached[0].logLogicalName, u"src_log"_s);
        QCOMPARE(host.attached[0].logFile, path(u"copy_log.ldf"_s));
        QVERIFY(host.released.isEmpty());
        QVERIFY(!QFile::exists(path(u"copy.mdf.tmp"_s)));
    }

    // WAL mode, committed rows still only in the log, a writer in the middle of a transaction:
    // the backup holds exactly what was committed.
    void backupIsConsistentSnapshot()
    {
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 5));
        sqlite3* writer = nullptr;
        sqlite3_open(QFile::encodeName(path(u"src.mdf"_s)).constData(), &writer);
        QVERIFY(exec(writer, "PRAGMA journal_mode=WAL"));
        QVERIFY(exec(writer, "PRAGMA wal_autocheckpoint=0"));
        QVERIFY(exec(writer, "INSERT INTO t VALUES(100, 'committed')"));
        QVERIFY(exec(writer, "BEGIN"));
        QVERIFY(exec(writer, "INSERT INTO t VALUES(101, 'uncommitted')"));

        RecordingSink backup;
        runBackup(backupOf(u"src"_s, path(u"src.bak"_s)), host, backup);
        exec(writer, "ROLLBACK");
        sqlite3_close(writer);
        QVERIFY(backup.endedWell());

        RecordingSink restore;
        runRestore(
            restoreOf(u"copy"_s, path(u"src.bak"_s),
                      {{u"src"_s, path(u"copy.mdf"_s)}, {u"src_log"_s, path(u"copy_log.ldf"_s)}}),
            host, restore);
        QVERIFY(restore.endedWell());
        const QStringList rows = readRows(path(u"copy.mdf"_s));
        QCOMPARE(rows.size(), 6);
        QCOMPARE(rows.last(), u"100:committed"_s);
    }

    void appendInitAndFileNumber()
    {
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 3));
        const QString disk = path(u"src.bak"_s);
        BackupRequest first = backupOf(u"src"_s, disk);
        first.name = u"first"_s;
        RecordingSink s1;
        runBackup(first, host, s1);
        sqlite3* h = nullptr;
        sqlite3_open(QFile::encodeName(path(u"src.mdf"_s)).constData(), &h);
        exec(h, "INSERT INTO t VALUES(50, 'later')");
        sqlite3_close(h);
        BackupRequest second = backupOf(u"src"_s, disk);
        second.name = u"second"_s;
        second.description = u"after the change"_s;
        RecordingSink s2;
        runBackup(second, host, s2);
        QVERIFY(s2.endedWell());
        QVERIFY(s2.texts(4035).first().endsWith(u"on file 2."_s));

        RecordingSink headers;
        runRestoreHeaderOnly(disk, host, headers);
        QVERIFY(headers.endedWell());
        const QList<Column> columns = headers.events.first().columns;
        QCOMPARE(columns[0].name, u"BackupName"_s);
        QCOMPARE(columns[5].name, u"Position"_s);
        QCOMPARE(columns[9].name, u"DatabaseName"_s);
        QCOMPARE(columns[17].name, u"BackupStartDate"_s);
        QCOMPARE(columns[18].name, u"BackupFinishDate"_s);
        auto rows = headers.rows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(text(rows[0][0]), u"first"_s);
        QVERIFY(isNull(rows[0][1]));
        QCOMPARE(text(rows[1][0]), u"second"_s);
        QCOMPARE(text(rows[1][1]), u"after the change"_s);
        QCOMPARE(std::get<qint64>(rows[1][5]), qint64(2));
        QCOMPARE(text(rows[1][9]), u"src"_s);
        QVERIFY(std::get<QDateTime>(rows[1][17]) <= std::get<QDateTime>(rows[1][18]));

        const QList<std::pair<QString, QString>> moves1 = {{u"src"_s, path(u"c1.mdf"_s)},
                                                           {u"src_log"_s, path(u"c1.ldf"_s)}};
        const QList<std::pair<QString, QString>> moves2 = {{u"src"_s, path(u"c2.mdf"_s)},
                                                           {u"src_log"_s, path(u"c2.ldf"_s)}};
        RestoreRequest r1 = restoreOf(u"c1"_s, disk, moves1);
        RestoreRequest r2 = restoreOf(u"c2"_s, disk, moves2);
        r2.file = 2;
        RecordingSink s3, s4;
        runRestore(r1, host, s3);
        runRestore(r2, host, s4);
        QVERIFY(s4.texts(4035).first().endsWith(u"on file 2."_s));
        QCOMPARE(readRows(path(u"c1.mdf"_s)).size(), 3);
        QCOMPARE(readRows(path(u"c2.mdf"_s)).size(), 4);

        for (const bool format : {false, true}) {
            BackupRequest fresh = backupOf(u"src"_s, disk);
            fresh.init = !format;
            fresh.format = format;
            RecordingSink s5, s6;
            runBackup(fresh, host, s5);
            QVERIFY(s5.texts(4035).first().endsWith(u"on file 1."_s));
            runRestoreHeaderOnly(disk, host, s6);
            QCOMPARE(s6.rows().size(), 1);
        }
    }

    void setHeaderVersions_data()
    {
        QTest::addColumn<bool>("singleUser");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<int>("expected"); // -1: refused, else the single-user flag read
        QTest::newRow("current, multi-user") << false << u"none"_s << 0;
        QTest::newRow("current, single-user") << true << u"none"_s << 1;
        QTest::newRow("older, without the flags byte") << false << u"older"_s << 0;
        QTest::newRow("current, flags byte missing") << true << u"cut"_s << -1;
        QTest::newRow("older, with a byte too many") << true << u"older-long"_s << -1;
    }

    // Backups written before the header carried the user access still read as multi-user.
    void setHeaderVersions()
    {
        QFETCH(bool, singleUser);
        QFETCH(QString, edit);
        QFETCH(int, expected);
        media::SetHeader header;
        header.databaseName = u"db"_s;
        header.files.append({u"db"_s, u"/db.mdf"_s, 'D', 8192});
        header.singleUser = singleUser;
        QByteArray bytes = media::encodeSetHeader(header);
        if (edit == u"older" || edit == u"older-long") {
            bytes[0] = 1; // version 1, little-endian
            bytes[1] = 0;
            if (edit == u"older")
                bytes.chop(1);
        } else if (edit == u"cut") {
            bytes.chop(1);
        }
        const std::optional<media::SetHeader> read = media::decodeSetHeader(bytes);
        QCOMPARE(read.has_value(), expected >= 0);
        if (read) {
            QCOMPARE(read->singleUser, expected == 1);
            QCOMPARE(read->databaseName, u"db"_s);
            QCOMPARE(read->files.size(), 1);
        }
    }

    void progress_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<int>("stats");
        QTest::addColumn<QStringList>("expected");
        const QStringList tens = {u"10"_s, u"20"_s, u"30"_s, u"40"_s, u"50"_s,
                                  u"60"_s, u"70"_s, u"80"_s, u"90"_s, u"100"_s};
        QTest::newRow("backup 10") << false << 10 << tens;
        QTest::newRow("restore 10") << true << 10 << tens;
        QTest::newRow("backup 25")
            << false << 25 << QStringList{u"25"_s, u"50"_s, u"75"_s, u"100"_s};
        QTest::newRow("restore 33") << true << 33 << QStringList{u"33"_s, u"66"_s, u"99"_s};
        QTest::newRow("none") << false << 0 << QStringList{};
    }
    void progress()
    {
        QFETCH(bool, restore);
        QFETCH(int, stats);
        QFETCH(QStringList, expected);
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 300)); // several chunks
        RecordingSink sink;
        BackupRequest b = backupOf(u"src"_s, path(u"src.bak"_s));
        b.stats = restore ? 0 : stats;
        runBackup(b, host, sink);
        if (restore) {
            sink.events.clear();
            RestoreRequest r = restoreOf(
                u"copy"_s, path(u"src.bak"_s),
                {{u"src"_s, path(u"copy.mdf"_s)}, {u"src_log"_s, path(u"copy_log.ldf"_s)}});
            r.stats = stats;
            runRestore(r, host, sink);
        }
        QVERIFY(sink.endedWell());
        QStringList seen;
        for (qsizetype i = 0; i < sink.events.size(); ++i) {
            const Event& e = sink.events[i];
            if (e.kind != Event::MessageSent || e.message.number != 3211)
                continue;
            QCOMPARE(e.message.severity, 0);
            const QString p = e.message.text.section(u' ', 0, 0);
            QCOMPARE(e.message.text, p + u" percent processed."_s);
            seen.append(p);
            // Each step is closed and sent on its own, so that the client sees it at once.
            QVERIFY(i + 2 < sink.events.size());
            QCOMPARE(sink.events[i + 1].kind, Event::DoneSent);
            QVERIFY(!sink.events[i + 1].error);
            QCOMPARE(sink.events[i + 2].kind, Event::Flushed);
        }
        QCOMPARE(seen, expected);
        // Progress comes before the summary.
        QCOMPARE(sink.numbers().mid(expected.size()), QList<int>({4035, 4035, 3014}));
    }

    void errors_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("terminating");
        const QString backup = u"BACKUP DATABASE is terminating abnormally."_s;
        const QString restore = u"RESTORE DATABASE is terminating abnormally."_s;
        QTest::newRow("backup unknown database")
            << u"backup unknown"_s << QList<int>{911, 3013}
            << u"Database 'nope' does not exist. Make sure that the name is entered correctly."_s
            << backup;
        QTest::newRow("backup folder missing")
            << u"backup no folder"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device '%D/missing/x.bak'. Operating system error 3(The system "
               u"cannot find the path specified.)."_s
            << backup;
        QTest::newRow("backup onto a folder")
            << u"backup onto folder"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device '%D'. Operating system error 5(Access is denied.)."_s
            << backup;
        QTest::newRow("backup tempdb")
            << u"backup tempdb"_s << QList<int>{3147, 3013}
            << u"Backup and restore operations are not allowed on database tempdb."_s << backup;
        QTest::newRow("append to a foreign file")
            << u"backup append foreign"_s << QList<int>{3241, 3013}
            << u"The media family on device '%D/foreign.bak' is incorrectly formed. SQL Server "
               u"cannot process this media family."_s
            << backup;
        QTest::newRow("filelist of missing file")
            << u"filelist missing"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device '%D/none.bak'. Operating system error 2(The system "
               u"cannot find the file specified.)."_s
            << u"RESTORE FILELIST is terminating abnormally."_s;
        QTest::newRow("headeronly of missing file")
            << u"headeronly missing"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device '%D/none.bak'. Operating system error 2(The system "
               u"cannot find the file specified.)."_s
            << u"RESTORE HEADERONLY is terminating abnormally."_s;
        QTest::newRow("restore missing file")
            << u"restore missing"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device '%D/none.bak'. Operating system error 2(The system "
               u"cannot find the file specified.)."_s
            << restore;
        QTest::newRow("restore foreign file")
            << u"restore foreign"_s << QList<int>{3241, 3013}
            << u"The media family on device '%D/foreign.bak' is incorrectly formed. SQL Server "
               u"cannot process this media family."_s
            << restore;
        QTest::newRow("restore set not on media")
            << u"restore file 2"_s << QList<int>{4038, 3013}
            << u"Cannot find file ID 2 on device '%D/src.bak'."_s << restore;
        QTest::newRow("restore current database")
            << u"restore current"_s << QList<int>{3102, 3013}
            << u"RESTORE cannot process database 'src' because it is in use by this session. It "
               u"is recommended that the master database be used when performing this "
               u"operation."_s
            << restore;
        QTest::newRow("restore database in use")
            << u"restore in use"_s << QList<int>{3101, 3013}
            << u"Exclusive access could not be obtained because the database is in use."_s
            << restore;
        QTest::newRow("restore over another database")
            << u"restore over other"_s << QList<int>{3154, 3013}
            << u"The backup set holds a backup of a database other than the existing 'other' "
               u"database."_s
            << restore;
        QTest::newRow("move of unknown logical file")
            << u"move unknown"_s << QList<int>{3234, 3013}
            << u"Logical file 'nope' is not part of database 'copy'. Use RESTORE FILELISTONLY to "
               u"list the logical file names."_s
            << restore;
        QTest::newRow("files of another database")
            << u"files in use"_s << QList<int>{1834, 3156, 1834, 3156, 3119, 3013}
            << u"The file '%D/src.mdf' cannot be overwritten.  It is being used by database "
               u"'src'."_s
            << restore;
        QTest::newRow("existing file without replace")
            << u"existing file"_s << QList<int>{3142, 3119, 3013}
            << u"File \"src\" cannot be restored over the existing \"%D/stray.mdf\". Reissue the "
               u"RESTORE statement using WITH REPLACE to overwrite pre-existing files, or WITH "
               u"MOVE "
               u"to identify an alternate location."_s
            << restore;
        QTest::newRow("target folder missing")
            << u"no target folder"_s << QList<int>{5133, 3156, 3119, 3013}
            << u"Directory lookup for the file \"%D/missing/copy.mdf\" failed with the operating "
               u"system error 2(The system cannot find the file specified.)."_s
            << restore;
        QTest::newRow("two files, one path")
            << u"same target"_s << QList<int>{3176, 3119, 3013}
            << u"File '%D/same.mdf' is claimed by 'src'(1) and 'src_log'(2). The WITH MOVE clause "
               u"can be used to relocate one or more files."_s
            << restore;
        QTest::newRow("restore master")
            << u"restore master"_s << QList<int>{3108, 3013}
            << u"To restore the master database, the server must be running in single-user mode. "
               u"For information on starting in single-user mode, see \"How to: Start an Instance "
               u"of SQL Server (sqlservr.exe)\" in Books Online."_s
            << restore;
    }
    void errors()
    {
        QFETCH(QString, scenario);
        QFETCH(QList<int>, numbers);
        QFETCH(QString, first);
        QFETCH(QString, terminating);

        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 3));
        host.add(makeDatabase(dir(), u"other"_s, 3));
        const QString disk = path(u"src.bak"_s);
        RecordingSink setup;
        runBackup(backupOf(u"src"_s, disk), host, setup);
        QVERIFY(setup.endedWell());
        QFile foreign(path(u"foreign.bak"_s));
        QVERIFY(foreign.open(QIODevice::WriteOnly));
        foreign.write("not a backup at all, just some text that is long enough");
        foreign.close();
        QFile stray(path(u"stray.mdf"_s));
        QVERIFY(stray.open(QIODevice::WriteOnly));
        stray.write("left over");
        stray.close();
        const auto before = tree(dir());
        const QList<std::pair<QString, QString>> moveBoth = {
            {u"src"_s, path(u"copy.mdf"_s)}, {u"src_log"_s, path(u"copy_log.ldf"_s)}};

        RecordingSink sink;
        if (scenario == u"backup unknown")
            runBackup(backupOf(u"nope"_s, path(u"x.bak"_s)), host, sink);
        else if (scenario == u"backup no folder")
            runBackup(backupOf(u"src"_s, path(u"missing/x.bak"_s)), host, sink);
        else if (scenario == u"backup onto folder")
            runBackup(backupOf(u"src"_s, dir()), host, sink);
        else if (scenario == u"backup tempdb")
            runBackup(backupOf(u"tempdb"_s, path(u"x.bak"_s)), host, sink);
        else if (scenario == u"backup append foreign")
            runBackup(backupOf(u"src"_s, path(u"foreign.bak"_s)), host, sink);
        else if (scenario == u"filelist missing")
            runRestoreFileListOnly(path(u"none.bak"_s), 1, host, sink);
        else if (scenario == u"headeronly missing")
            runRestoreHeaderOnly(path(u"none.bak"_s), host, sink);
        else if (scenario == u"restore missing")
            runRestore(restoreOf(u"copy"_s, path(u"none.bak"_s), moveBoth), host, sink);
        else if (scenario == u"restore foreign")
            runRestore(restoreOf(u"copy"_s, path(u"foreign.bak"_s), moveBoth), host, sink);
        else if (scenario == u"restore file 2") {
            RestoreRequest r = restoreOf(u"copy"_s, disk, moveBoth);
            r.file = 2;
            runRestore(r, host, sink);
        } else if (scenario == u"restore current") {
            host.current = u"SRC"_s;
            runRestore(restoreOf(u"src"_s, disk), host, sink);
        } else if (scenario == u"restore in use") {
            host.usedElsewhere = {u"src"_s};
            runRestore(restoreOf(u"src"_s, disk), host, sink);
        } else if (scenario == u"restore over other")
            runRestore(restoreOf(u"other"_s, disk, moveBoth), host, sink);
        else if (scenario == u"move unknown")
            runRestore(restoreOf(u"copy"_s, disk, {{u"nope"_s, path(u"n.mdf"_s)}}), host, sink);
        else if (scenario == u"files in use")
            runRestore(restoreOf(u"copy"_s, disk), host, sink);
        else if (scenario == u"existing file")
            runRestore(restoreOf(u"copy"_s, disk,
                                 {{u"src"_s, path(u"stray.mdf"_s)},
                                  {u"src_log"_s, path(u"copy_log.ldf"_s)}}),
                       host, sink);
        else if (scenario == u"no target folder")
            runRestore(restoreOf(u"copy"_s, disk,
                                 {{u"src"_s, path(u"missing/copy.mdf"_s)},
                                  {u"src_log"_s, path(u"copy_log.ldf"_s)}}),
                       host, sink);
        else if (scenario == u"same target")
            runRestore(
                restoreOf(u"copy"_s, disk,
                          {{u"src"_s, path(u"same.mdf"_s)}, {u"src_log"_s, path(u"same.mdf"_s)}}),
                host, sink);
        else if (scenario == u"restore master")
            runRestore(restoreOf(u"master"_s, disk, moveBoth), host, sink);
        else
            QFAIL("unknown scenario");

        QCOMPARE(sink.numbers(), numbers);
        QCOMPARE(sink.texts(numbers.first()).first(), QString(first).replace(u"%D"_s, dir()));
        QCOMPARE(sink.texts(3013), QStringList{terminating});
        for (const Event& e : sink.events) {
            if (e.kind == Event::MessageSent)
                QCOMPARE(e.message.severity, 16);
        }
        QVERIFY(sink.endedWithError());
        QVERIFY(host.attached.isEmpty());
        QVERIFY(host.released.isEmpty());
        QCOMPARE(host.backups.size(), 1);
        QCOMPARE(tree(dir()), before);
    }

    void damaged_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("listable"); // FILELISTONLY reads only the headers
        QTest::newRow("media magic") << u"flip 0"_s << false;
        QTest::newRow("set header") << u"flip 45"_s << false;
        QTest::newRow("file bytes") << u"flip middle"_s << true;
        QTest::newRow("file checksum") << u"flip last"_s << true;
        QTest::newRow("one byte short") << u"cut 1"_s << false;
        QTest::newRow("header only") << u"keep 60"_s << false;
        QTest::newRow("empty") << u"keep 0"_s << false;
        QTest::newRow("extra bytes") << u"append"_s << false;
    }
    void damaged()
    {
        QFETCH(QString, damage);
        QFETCH(bool, listable);
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 20));
        const QString disk = path(u"src.bak"_s);
        RecordingSink setup;
        runBackup(backupOf(u"src"_s, disk), host, setup);
        QByteArray bytes = contents(disk);
        const QString how = damage.section(u' ', 0, 0);
        const QString where = damage.section(u' ', 1, 1);
        if (how == u"flip") {
            const qsizetype at = where == u"middle" ? bytes.size() / 2
                                 : where == u"last" ? bytes.size() - 2
                                                    : where.toLongLong();
            bytes[at] = char(bytes[at] ^ 0x10);
        } else if (how == u"cut") {
            bytes.chop(where.toLongLong());
        } else if (how == u"keep") {
            bytes.truncate(where.toLongLong());
        } else {
            bytes.append("BSET");
        }
        QFile f(disk);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();

        const QString expected = u"The media family on device '%1' is incorrectly formed. SQL "
                                 u"Server cannot process this media family."_s.arg(disk);
        RecordingSink list;
        runRestoreFileListOnly(disk, 1, host, list);
        if (listable) {
            QVERIFY(list.endedWell());
        } else {
            QCOMPARE(list.numbers(), QList<int>({3241, 3013}));
            QCOMPARE(list.texts(3241).first(), expected);
        }
        const auto before = tree(dir());
        RecordingSink restore;
        RestoreRequest r =
            restoreOf(u"copy"_s, disk,
                      {{u"src"_s, path(u"copy.mdf"_s)}, {u"src_log"_s, path(u"copy_log.ldf"_s)}});
        r.stats = 10;
        runRestore(r, host, restore);
        QCOMPARE(restore.numbers().mid(restore.numbers().indexOf(3241)), QList<int>({3241, 3013}));
        QCOMPARE(restore.texts(3241).first(), expected);
        QVERIFY(restore.endedWithError());
        QVERIFY(host.attached.isEmpty());
        QCOMPARE(tree(dir()), before);
    }

    // Mutations of a valid file, and headers that claim absurd sizes: a clean refusal or a
    // correct answer, never a crash, a hang or a huge allocation.
    void hostileFiles()
    {
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 2));
        const QString disk = path(u"src.bak"_s);
        RecordingSink setup;
        runBackup(backupOf(u"src"_s, disk), host, setup);
        const QByteArray good = contents(disk);

        QList<QByteArray> variants;
        media::SetHeader huge;
        huge.databaseName = u"x"_s;
        huge.files.append({u"x"_s, u"/x"_s, 'D', media::maxFileSize});
        const QByteArray hugeHeader = media::encodeSetHeader(huge);
        variants.append(media::encodeMediaHeader(QUuid::createUuid()) +
                        media::encodeSetPrologue(hugeHeader) + QByteArray(100, 'x'));
        variants.append(media::encodeMediaHeader(QUuid::createUuid()) + "BSET" +
                        media::encodeU32(0xFFFFFFF0u) + QByteArray(100, 'x'));
        QRandomGenerator random(20240601);
        for (int i = 0; i < 300; ++i) {
            QByteArray v = good;
            const int flips = 1 + int(random.bounded(4));
            for (int k = 0; k < flips; ++k) {
                const int at = int(random.bounded(qMin<qsizetype>(v.size(), 200)));
                v[at] = char(random.bounded(256));
            }
            variants.append(v);
        }
        for (const QByteArray& v : std::as_const(variants)) {
            QFile f(disk);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(v);
            f.close();
            RecordingSink list, headers, restore;
            runRestoreFileListOnly(disk, 1, host, list);
            runRestoreHeaderOnly(disk, host, headers);
            runRestore(restoreOf(u"copy"_s, disk,
                                 {{u"src"_s, path(u"copy.mdf"_s)},
                                  {u"src_log"_s, path(u"copy_log.ldf"_s)}}),
                       host, restore);
            for (const RecordingSink* s : {&list, &headers, &restore})
                QVERIFY(s->endedWell() || s->endedWithError());
            if (restore.endedWell()) {
                // Only a mutation that left the data intact may restore.
                QCOMPARE(readRows(path(u"copy.mdf"_s)), readRows(path(u"src.mdf"_s)));
                host.databases.remove(u"copy"_s);
                QFile::remove(path(u"copy.mdf"_s));
                QFile::remove(path(u"copy_log.ldf"_s));
            }
        }
    }

    void attention_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<bool>("throttled");
        QTest::addColumn<bool>("init");
        QTest::newRow("backup") << false << false << false;
        QTest::newRow("backup throttled") << false << true << false;
        QTest::newRow("backup with init") << false << false << true;
        QTest::newRow("restore") << true << false << false;
        QTest::newRow("restore throttled") << true << true << false;
    }
    void attention()
    {
        QFETCH(bool, restore);
        QFETCH(bool, throttled);
        QFETCH(bool, init);
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 300));
        host.add(makeDatabase(dir(), u"dst"_s, 4));
        const QString disk = path(u"src.bak"_s);
        RecordingSink setup;
        runBackup(backupOf(u"src"_s, disk), host, setup);
        host.throttle = throttled ? 4 * 1024 * 1024 : 0;
        if (init) // a new backup that differs from the old one in every page
            QVERIFY(changeEveryRow(host.databases.value(u"src"_s).dataFile));
        const auto before = tree(dir());

        RecordingSink sink;
        sink.cancelAfter = 2;
        if (restore) {
            RestoreRequest r =
                restoreOf(u"dst"_s, disk,
                          {{u"src"_s, path(u"dst.mdf"_s)}, {u"src_log"_s, path(u"dst_log.ldf"_s)}});
            r.replace = true;
            r.stats = 1;
            runRestore(r, host, sink);
        } else {
            BackupRequest b = backupOf(u"src"_s, disk); // appends to the existing file
            b.stats = 1;
            b.init = init;
            runBackup(b, host, sink);
        }
        QVERIFY(sink.numbers().contains(3211)); // it was under way
        QCOMPARE(sink.numbers().mid(sink.numbers().indexOf(3204)), QList<int>({3204, 3013}));
        QCOMPARE(sink.texts(3204).first(), u"The backup or restore was aborted."_s);
        QVERIFY(sink.endedWithError());
        if (init)
            expectOverwrittenInPlace(before, disk);
        else
            QCOMPARE(tree(dir()), before); // no partial file, old backup and database untouched
        QVERIFY(host.attached.isEmpty());
    }

    void fault_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<bool>("init");
        QTest::newRow("backup") << false << false;
        QTest::newRow("backup with init") << false << true;
        QTest::newRow("restore") << true << false;
    }
    void fault()
    {
        QFETCH(bool, restore);
        QFETCH(bool, init);
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 300));
        host.add(makeDatabase(dir(), u"dst"_s, 4));
        const QString disk = path(u"src.bak"_s);
        RecordingSink setup;
        runBackup(backupOf(u"src"_s, disk), host, setup);
        if (init) // a new backup that differs from the old one in every page
            QVERIFY(changeEveryRow(host.databases.value(u"src"_s).dataFile));
        const auto before = tree(dir());
        host.fault = true;

        RecordingSink sink;
        try {
            if (restore) {
                RestoreRequest r = restoreOf(
                    u"dst"_s, disk,
                    {{u"src"_s, path(u"dst.mdf"_s)}, {u"src_log"_s, path(u"dst_log.ldf"_s)}});
                r.replace = true;
                r.stats = 10;
                runRestore(r, host, sink);
            } else {
                BackupRequest b = backupOf(u"src"_s, disk);
                b.stats = 10;
                b.init = init;
                runBackup(b, host, sink);
            }
            QFAIL("the connection was not dropped");
        } catch (const Dropped&) {
        }
        QVERIFY(sink.dropped);
        QVERIFY(!host.fault); // taken
        // Half way: some progress, not all of it.
        const QStringList steps = sink.texts(3211);
        QVERIFY(steps.contains(u"40 percent processed."_s));
        QVERIFY(!steps.contains(u"60 percent processed."_s));
        if (init)
            expectOverwrittenInPlace(before, disk);
        else
            QCOMPARE(tree(dir()), before);
        QVERIFY(host.attached.isEmpty());
    }

    // A second session's statement while the first is copying: it must not share its files.
    void concurrent_data()
    {
        QTest::addColumn<QString>("second");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("first");
        QTest::newRow("backup to the same device")
            << u"backup"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device '%D/other.bak'. Operating system error 32(The process "
               u"cannot access the file because it is being used by another process.)."_s;
        QTest::newRow("restore of the same database")
            << u"restore same"_s << QList<int>{3101, 3013}
            << u"Exclusive access could not be obtained because the database is in use."_s;
        QTest::newRow("restore into the same files")
            << u"restore files"_s << QList<int>{1834, 3156, 1834, 3156, 3119, 3013}
            << u"The file '%D/c1.mdf' cannot be overwritten.  It is being used by database "
               u"'c1'."_s;
    }
    void concurrent()
    {
        QFETCH(QString, second);
        QFETCH(QList<int>, numbers);
        QFETCH(QString, first);
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 3));
        host.add(makeDatabase(dir(), u"other"_s, 3));
        const QString disk = path(u"src.bak"_s);
        RecordingSink setup;
        runBackup(backupOf(u"src"_s, disk), host, setup);
        const QList<std::pair<QString, QString>> toC1 = {{u"src"_s, path(u"c1.mdf"_s)},
                                                         {u"src_log"_s, path(u"c1.ldf"_s)}};

        RecordingSink inner;
        RecordingSink outer;
        outer.onFirstPoll = [&] {
            if (second == u"backup")
                runBackup(backupOf(u"src"_s, path(u"other.bak"_s)), host, inner);
            else if (second == u"restore same")
                runRestore(restoreOf(u"c1"_s, disk, toC1), host, inner);
            else
                runRestore(restoreOf(u"c2"_s, disk, toC1), host, inner);
        };
        if (second == u"backup")
            runBackup(backupOf(u"other"_s, path(u"other.bak"_s)), host, outer);
        else
            runRestore(restoreOf(u"c1"_s, disk, toC1), host, outer);
        QVERIFY(outer.endedWell());
        QCOMPARE(inner.numbers(), numbers);
        QCOMPARE(inner.texts(numbers.first()).first(), QString(first).replace(u"%D"_s, dir()));
        // Claims end with the statement.
        RecordingSink later;
        if (second == u"backup")
            runBackup(backupOf(u"src"_s, path(u"other.bak"_s)), host, later);
        else
            runRestore(
                restoreOf(u"c2"_s, disk,
                          {{u"src"_s, path(u"c2.mdf"_s)}, {u"src_log"_s, path(u"c2.ldf"_s)}}),
                host, later);
        QVERIFY(later.endedWell());
    }

    void replaceExistingDatabase()
    {
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 7));
        host.add(makeDatabase(dir(), u"dst"_s, 2));
        const QString disk = path(u"src.bak"_s);
        RecordingSink setup;
        runBackup(backupOf(u"src"_s, disk), host, setup);
        // A journal left beside the old file must not be applied to the new one.
        QFile stale(path(u"dst.mdf-journal"_s));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray(600, '\x01'));
        stale.close();

        RestoreRequest r =
            restoreOf(u"dst"_s, disk,
                      {{u"src"_s, path(u"dst.mdf"_s)}, {u"src_log"_s, path(u"dst_log.ldf"_s)}});
        RecordingSink refused;
        runRestore(r, host, refused); // another database's backup needs REPLACE
        QCOMPARE(refused.numbers(), QList<int>({3154, 3013}));

        r.replace = true;
        RecordingSink sink;
        runRestore(r, host, sink);
        QVERIFY(sink.endedWell());
        QCOMPARE(host.released, QStringList{u"dst"_s});
        QCOMPARE(readRows(path(u"dst.mdf"_s)), readRows(path(u"src.mdf"_s)));
        QVERIFY(!QFile::exists(path(u"dst.mdf-journal"_s)));
        QVERIFY(!QFile::exists(path(u"dst.mdf.old"_s)));
        QVERIFY(!QFile::exists(path(u"dst.mdf.tmp"_s)));

        // The same database over its own files needs no REPLACE.
        RecordingSink again;
        runRestore(restoreOf(u"src"_s, disk), host, again);
        QVERIFY(again.endedWell());
        QCOMPARE(readRows(path(u"src.mdf"_s)).size(), 7);
    }

    void failedReplaceKeepsOldDatabase()
    {
        FakeHost host;
        host.add(makeDatabase(dir(), u"src"_s, 40));
        host.add(makeDatabase(dir(), u"dst"_s, 2));
        const QString disk = path(u"src.bak"_s);
        RecordingSink setup;
        runBackup(backupOf(u"src"_s, disk), host, setup);
        QByteArray bytes = contents(disk);
        bytes[bytes.size() - 100] = char(bytes[bytes.size() - 100] ^ 0x01); // in the log's bytes
        QFile f(disk);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        const QByteArray oldData = contents(path(u"dst.mdf"_s));
        const QByteArray oldLog = contents(path(u"dst_log.ldf"_s));

        RestoreRequest r =
            restoreOf(u"dst"_s, disk,
                      {{u"src"_s, path(u"dst.mdf"_s)}, {u"src_log"_s, path(u"dst_log.ldf"_s)}});
        r.replace = true;
        RecordingSink sink;
        runRestore(r, host, sink);
        QCOMPARE(sink.numbers(), QList<int>({3241, 3013}));
        QCOMPARE(contents(path(u"dst.mdf"_s)), oldData);
        QCOMPARE(contents(path(u"dst_log.ldf"_s)), oldLog);
        QVERIFY(!QFile::exists(path(u"dst.mdf.tmp"_s)));
        QVERIFY(!QFile::exists(path(u"dst_log.ldf.tmp"_s)));
        QVERIFY(host.attached.isEmpty());
    }

    void localPath_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unix") << u"/var/backups/a.bak"_s << u"/var/backups/a.bak"_s;
        QTest::newRow("backslashes") << u"/var\\backups\\a.bak"_s << u"/var/backups/a.bak"_s;
        QTest::newRow("drive") << u"C:\\Backup\\a.bak"_s << u"C:/Backup/a.bak"_s;
    }
    void localPath()
    {
        QFETCH(QString, given);
        QFETCH(QString, expected);
        QCOMPARE(sqlsim::localPath(given), expected);
    }
};

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
