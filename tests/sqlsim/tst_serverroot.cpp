// With --server-root the simulator plays a Windows server on another machine: statements name its
// files by drive letter, the files lie under the root, and a path on no drive is out of reach.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString dataFolder =
    u"C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL\\DATA\\"_s;
const QString backupFolder =
    u"C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL\\Backup\\"_s;

bool touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
}

} // namespace

class ServerRootTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    SqlsimProcess m_sim;
    OdbcClient m_admin;

    QString local(const QString& relative) const { return m_root.path() + u'/' + relative; }

    QString scalar(const QString& sql)
    {
        const OdbcResult r = m_admin.exec(sql);
        if (!r.ok || r.resultSets.isEmpty() || r.resultSets[0].rows.isEmpty())
            return u"<error: %1>"_s.arg(r.error);
        return r.resultSets[0].rows[0][0].toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // The machine has drives C: (made by the server) and D:, and no other.
        QVERIFY(QDir(m_root.path()).mkpath(u"D"_s));
        QVERIFY2(m_sim.start({u"--server-root"_s, m_root.path()}), m_sim.stderrText().constData());
        QVERIFY2(m_admin.connect(m_sim.port(), u"sa"_s, m_sim.password()),
                 qPrintable(m_admin.lastError()));
        const OdbcResult r = m_admin.exec(
            u"CREATE DATABASE src; USE src; CREATE TABLE t (id int); INSERT INTO t VALUES (7); "
            "USE master"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
    }

    void cleanupTestCase()
    {
        m_admin.disconnect();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    void defaultFolders_data()
    {
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("expected");
        QTest::newRow("data") << u"InstanceDefaultDataPath"_s << dataFolder;
        QTest::newRow("log") << u"InstanceDefaultLogPath"_s << dataFolder;
        QTest::newRow("backup") << u"InstanceDefaultBackupPath"_s << backupFolder;
    }

    void defaultFolders()
    {
        QFETCH(QString, property);
        QFETCH(QString, expected);
        QCOMPARE(scalar(u"SELECT SERVERPROPERTY('%1')"_s.arg(property)), expected);
    }

    void newDatabaseInDefaultFolder()
    {
        QCOMPARE(scalar(u"SELECT filename FROM master.dbo.sysdatabases WHERE name = 'src'"_s),
                 dataFolder + u"src.mdf"_s);
        QCOMPARE(scalar(u"SELECT physical_name FROM sys.master_files WHERE database_id = "
                        "DB_ID(N'src') AND type = 1"_s),
                 dataFolder + u"src_log.ldf"_s);
        QVERIFY(QFile::exists(local(
            u"C/Program Files/Microsoft SQL Server/MSSQL15.MSSQLSERVER/MSSQL/DATA/src.mdf"_s)));
    }

    void backupLandsUnderRoot_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("disk");
        QTest::addColumn<QString>("landsAt");
        QTest::newRow("made by xp_create_subdir")
            << u"C:\\Backup"_s << u"C:\\Backup\\x.bak"_s << u"C/Backup/x.bak"_s;
        QTest::newRow("forward slashes, other case")
            << u"C:\\Backup"_s << u"c:/BACKUP/Y.bak"_s << u"C/Backup/Y.bak"_s;
        QTest::newRow("several levels at once")
            << u"D:\\deep\\er\\still"_s << u"D:\\Deep\\Er\\Still\\z.bak"_s
            << u"D/deep/er/still/z.bak"_s;
        QTest::newRow(".. stops at the drive's root")
            << u"C:\\..\\..\\up"_s << u"C:\\..\\..\\..\\up\\u.bak"_s << u"C/up/u.bak"_s;
    }

    void backupLandsUnderRoot()
    {
        QFETCH(QString, folder);
        QFETCH(QString, disk);
        QFETCH(QString, landsAt);
        OdbcResult r = m_admin.exec(u"EXEC master.dbo.xp_create_subdir N'%1'"_s.arg(folder));
        QVERIFY2(r.ok, qPrintable(r.error));
        r = m_admin.exec(u"BACKUP DATABASE src TO DISK = N'%1' WITH INIT"_s.arg(disk));
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY2(QFile::exists(local(landsAt)), qPrintable(local(landsAt)));
        QVERIFY(!QFile::exists(QDir(m_root.path()).absoluteFilePath(u"../up"_s)));
        // The history keeps the file's Windows name, folders spelt as they are on disk.
        QString shown = landsAt;
        shown.replace(u'/', u'\\').insert(1, u':');
        QCOMPARE(scalar(u"SELECT TOP 1 physical_device_name FROM msdb.dbo.backupmediafamily "
                        "ORDER BY media_set_id DESC"_s),
                 shown);
    }

    void unreachablePath_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QString>("text");
        const QString notFound = u"3(The system cannot find the path specified.)"_s;
        // BACKUP and RESTORE: 3201 then 3013
        // (learn.microsoft.com/sql/relational-databases/errors-events).
        QTest::newRow("backup to a Linux path")
            << u"BACKUP DATABASE src TO DISK = N'/tmp/src.bak'"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device '/tmp/src.bak'. Operating system error %1."_s.arg(
                   notFound);
        QTest::newRow("restore from a Linux path")
            << u"RESTORE DATABASE other FROM DISK = N'/tmp/src.bak'"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device '/tmp/src.bak'. Operating system error %1."_s.arg(
                   notFound);
        QTest::newRow("file list from a relative path")
            << u"RESTORE FILELISTONLY FROM DISK = N'src.bak'"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device 'src.bak'. Operating system error %1."_s.arg(notFound);
        QTest::newRow("attach a Linux path")
            << u"EXEC sp_attach_db N'att', N'/var/data/att.mdf'"_s << QList<int>{5120}
            << u"Unable to open the physical file \"/var/data/att.mdf\". Operating system error "
               "3: \"%1\"."_s.arg(notFound);
        QTest::newRow("create a database on a Linux path")
            << u"CREATE DATABASE lx ON (NAME = lx, FILENAME = N'/tmp/lx.mdf') "
               "LOG ON (NAME = lx_log, FILENAME = N'/tmp/lx_log.ldf')"_s
            << QList<int>{5133, 1802}
            << u"Directory lookup for the file \"/tmp/lx.mdf\" failed with the operating system "
               "error %1."_s.arg(notFound);
        QTest::newRow("backup onto a drive the machine lacks")
            << u"BACKUP DATABASE src TO DISK = N'Q:\\src.bak'"_s << QList<int>{3201, 3013}
            << u"Cannot open backup device 'Q:\\src.bak'. Operating system error %1."_s.arg(
                   notFound);
        QTest::newRow("a subfolder on a drive the machine lacks")
            << u"EXEC xp_create_subdir N'Q:\\Backup'"_s << QList<int>{22048}
            << u"xp_create_subdir() returned error 3, 'The system cannot find the path "
               "specified.'"_s;
        QTest::newRow("create a subfolder on a Linux path")
            << u"EXEC xp_create_subdir N'%1'"_s.arg(local(u"outside"_s)) << QList<int>{22048}
            << u"xp_create_subdir() returned error 3, 'The system cannot find the path "
               "specified.'"_s;
    }

    void unreachablePath()
    {
        QFETCH(QString, sql);
        QFETCH(QList<int>, numbers);
        QFETCH(QString, text);
        const OdbcResult r = m_admin.exec(sql);
        QVERIFY(!r.ok);
        QList<int> got;
        for (int n : r.messageNumbers) {
            if (n != 0)
                got << n;
        }
        QCOMPARE(got, numbers);
        QCOMPARE(serverText(r.error), text);
        QVERIFY(!QFileInfo::exists(local(u"outside"_s)));
    }

    void restoreMovesToAnotherDrive()
    {
        OdbcResult r =
            m_admin.exec(u"BACKUP DATABASE src TO DISK = N'C:\\Backup\\move.bak' WITH INIT; "
                         "EXEC xp_create_subdir N'D:\\Data'"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = m_admin.exec(u"RESTORE FILELISTONLY FROM DISK = N'c:\\backup\\MOVE.BAK'"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        QCOMPARE(r.resultSets[0].rows.size(), 2);
        QCOMPARE(r.resultSets[0].rows[0][1].toString(), dataFolder + u"src.mdf"_s);
        QCOMPARE(r.resultSets[0].rows[1][1].toString(), dataFolder + u"src_log.ldf"_s);
        const QString logical = r.resultSets[0].rows[0][0].toString();
        const QString logLogical = r.resultSets[0].rows[1][0].toString();

        r = m_admin.exec(u"RESTORE DATABASE moved FROM DISK = N'C:\\Backup\\move.bak' WITH "
                         "MOVE N'%1' TO N'D:\\Data\\moved.mdf', "
                         "MOVE N'%2' TO N'd:\\data\\moved_log.ldf'"_s.arg(logical, logLogical));
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(QFile::exists(local(u"D/Data/moved.mdf"_s)));
        QVERIFY(QFile::exists(local(u"D/Data/moved_log.ldf"_s)));
        QCOMPARE(scalar(u"SELECT filename FROM master.dbo.sysdatabases WHERE name = 'moved'"_s),
                 u"D:\\Data\\moved.mdf"_s);
        QCOMPARE(scalar(u"SELECT id FROM moved.dbo.t"_s), u"7"_s);

        // A folder missing on the target drive: 5133 with error 3, as Windows reports it.
        r = m_admin.exec(u"RESTORE DATABASE lost FROM DISK = N'C:\\Backup\\move.bak' WITH "
                         "MOVE N'%1' TO N'E:\\nowhere\\lost.mdf', "
                         "MOVE N'%2' TO N'E:\\nowhere\\lost_log.ldf'"_s.arg(logical, logLogical));
        QVERIFY(!r.ok);
        QCOMPARE(r.messageNumbers.value(0), 5133);
        QCOMPARE(serverText(r.error),
                 u"Directory lookup for the file \"E:\\nowhere\\lost.mdf\" failed with the "
                 "operating system error 3(The system cannot find the path specified.)."_s);
    }

    void attachByWindowsName()
    {
        OdbcResult r =
            m_admin.exec(u"BACKUP DATABASE src TO DISK = N'C:\\Backup\\att.bak' WITH "
                         "INIT; RESTORE FILELISTONLY FROM DISK = N'C:\\Backup\\att.bak'"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        const ResultSet files = r.resultSets.last();
        r = m_admin.exec(
            u"RESTORE DATABASE att FROM DISK = N'C:\\Backup\\att.bak' WITH MOVE N'%1' TO "
            "N'C:\\Att\\att.mdf', MOVE N'%2' TO N'C:\\Att\\att_log.ldf'"_s.arg(
                files.rows[0][0].toString(), files.rows[1][0].toString()));
        QVERIFY(!r.ok); // C:\Att does not exist yet
        QVERIFY(m_admin.exec(u"EXEC xp_create_subdir N'C:\\Att'"_s).ok);
        r = m_admin.exec(
            u"RESTORE DATABASE att FROM DISK = N'C:\\Backup\\att.bak' WITH MOVE N'%1' TO "
            "N'C:\\Att\\att.mdf', MOVE N'%2' TO N'C:\\Att\\att_log.ldf'"_s.arg(
                files.rows[0][0].toString(), files.rows[1][0].toString()));
        QVERIFY2(r.ok, qPrintable(r.error));
        QVERIFY(m_admin.exec(u"EXEC sp_detach_db N'att'"_s).ok);
        r = m_admin.exec(
            u"EXEC sp_attach_db N'att', N'c:\\ATT\\Att.mdf', N'C:\\att\\att_log.ldf'"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(scalar(u"SELECT filename FROM master.dbo.sysdatabases WHERE name = 'att'"_s),
                 u"C:\\Att\\att.mdf"_s);
    }

    void fileExist_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("row");
        QTest::newRow("a file") << u"C:\\Probe\\a.txt"_s << u"1|0|1"_s;
        QTest::newRow("a file, other case and slashes") << u"c:/PROBE/A.TXT"_s << u"1|0|1"_s;
        QTest::newRow("a folder") << u"C:\\Probe"_s << u"0|1|1"_s;
        QTest::newRow("missing in a folder that exists") << u"C:\\Probe\\b.txt"_s << u"0|0|1"_s;
        QTest::newRow("missing with its folder") << u"C:\\Nope\\b.txt"_s << u"0|0|0"_s;
        QTest::newRow("a drive that is not there") << u"Q:\\a.txt"_s << u"0|0|0"_s;
        QTest::newRow("a Linux path that exists here") << u"/etc/hostname"_s << u"0|0|0"_s;
        QTest::newRow(".. cannot climb out") << u"C:\\..\\..\\C\\Probe\\a.txt"_s << u"0|0|0"_s;
    }

    void fileExist()
    {
        QFETCH(QString, path);
        QFETCH(QString, row);
        QVERIFY(touch(local(u"C/Probe/a.txt"_s)));
        const OdbcResult r = m_admin.exec(u"EXEC master..xp_fileexist N'%1'"_s.arg(path));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        QCOMPARE(r.resultSets[0].columns, (QStringList{u"File Exists"_s, u"File is a Directory"_s,
                                                       u"Parent Directory Exists"_s}));
        QCOMPARE(flatten(r.resultSets[0]), QStringList{row});
    }

    void fileExistIntoVariable_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("exists");
        QTest::newRow("a file") << u"C:\\Probe\\A.txt"_s << 1;
        QTest::newRow("a folder") << u"C:\\Probe"_s << 0;
        QTest::newRow("missing") << u"C:\\Probe\\none.txt"_s << 0;
    }

    void fileExistIntoVariable()
    {
        QFETCH(QString, path);
        QFETCH(int, exists);
        QVERIFY(touch(local(u"C/Probe/a.txt"_s)));
        const OdbcResult r = m_admin.exec(
            u"DECLARE @e int = -1; EXEC master.dbo.xp_fileexist N'%1', @e OUTPUT; SELECT @e"_s.arg(
                path));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1); // the SELECT's only
        QCOMPARE(r.resultSets[0].rows[0][0].toInt(), exists);
    }

    void dirTree_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("folders, every level")
            << u"N'C:\\Tree'"_s << QStringList{u"a|1"_s, u"deep|2"_s, u"B|1"_s};
        QTest::newRow("folders, one level")
            << u"N'c:\\tree', 1"_s << QStringList{u"a|1"_s, u"B|1"_s};
        QTest::newRow("with files")
            << u"N'C:\\Tree', 0, 1"_s
            << QStringList{u"a|1|0"_s, u"deep|2|0"_s, u"f2.txt|3|1"_s, u"B|1|0"_s, u"f1.txt|1|1"_s};
        QTest::newRow("a folder that is not there") << u"N'C:\\NoTree', 0, 1"_s << QStringList{};
        QTest::newRow("a Linux folder") << u"N'/etc', 1, 1"_s << QStringList{};
    }

    void dirTree()
    {
        QFETCH(QString, call);
        QFETCH(QStringList, rows);
        QVERIFY(touch(local(u"C/Tree/f1.txt"_s)));
        QVERIFY(touch(local(u"C/Tree/a/deep/f2.txt"_s)));
        QVERIFY(QDir().mkpath(local(u"C/Tree/B"_s)));
        const OdbcResult r = m_admin.exec(u"EXEC xp_dirtree %1"_s.arg(call));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        QCOMPARE(r.resultSets[0].columns.mid(0, 2), (QStringList{u"subdirectory"_s, u"depth"_s}));
        QCOMPARE(flatten(r.resultSets[0]), rows);
    }

    void fixedDrives()
    {
        QVERIFY(QDir().mkpath(local(u"F"_s)));
        QVERIFY(QDir().mkpath(local(u"not-a-drive"_s)));
        const OdbcResult r = m_admin.exec(u"EXEC xp_fixeddrives"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        const ResultSet& set = r.resultSets[0];
        QCOMPARE(set.columns, (QStringList{u"drive"_s, u"MB free"_s}));
        QStringList drives;
        for (const QList<QVariant>& row : set.rows)
            drives << row[0].toString();
        QVERIFY2(drives.contains(u"C"_s) && drives.contains(u"F"_s), qPrintable(drives.join(u',')));
        QVERIFY(!drives.contains(u"n"_s) && !drives.contains(u"N"_s));
        // Free space of the disk under the root, within what other writers may change meanwhile.
        const qint64 measured = QStorageInfo(local(u"C"_s)).bytesAvailable() / (1024 * 1024);
        const qint64 reported = set.rows[drives.indexOf(u"C"_s)][1].toLongLong();
        QVERIFY2(qAbs(reported - measured) < 64,
                 qPrintable(u"%1 against %2"_s.arg(reported).arg(measured)));
    }

    void volumeStats_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<int>("file");
        QTest::addColumn<QString>("mountPoint"); // empty: no row
        QTest::newRow("data file on C") << u"src"_s << 1 << u"C:\\"_s;
        QTest::newRow("log file on C") << u"src"_s << 2 << u"C:\\"_s;
        QTest::newRow("no such file") << u"src"_s << 3 << QString();
        QTest::newRow("no such database") << u"nosuch"_s << 1 << QString();
    }

    void volumeStats()
    {
        QFETCH(QString, database);
        QFETCH(int, file);
        QFETCH(QString, mountPoint);
        const OdbcResult r =
            m_admin.exec(u"SELECT volume_mount_point, total_bytes, available_bytes "
                         "FROM sys.dm_os_volume_stats(DB_ID(N'%1'), %2)"_s.arg(database)
                             .arg(file));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        const ResultSet& set = r.resultSets[0];
        QCOMPARE(set.columns,
                 (QStringList{u"volume_mount_point"_s, u"total_bytes"_s, u"available_bytes"_s}));
        if (mountPoint.isEmpty()) {
            QCOMPARE(set.rows.size(), 0);
            return;
        }
        QCOMPARE(set.rows.size(), 1);
        QCOMPARE(set.rows[0][0].toString(), mountPoint);
        const QStorageInfo disk(local(u"C"_s));
        QCOMPARE(set.rows[0][1].toLongLong(), disk.bytesTotal());
        QVERIFY(qAbs(set.rows[0][2].toLongLong() - disk.bytesAvailable()) < 64 * 1024 * 1024);
    }

    void serviceAccount()
    {
        const OdbcResult r =
            m_admin.exec(u"USE src; SELECT servicename, service_account, status_desc, process_id "
                         "FROM sys.dm_server_services; USE master"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        QCOMPARE(r.resultSets[0].rows.size(), 1);
        const QList<QVariant> row = r.resultSets[0].rows[0];
        QCOMPARE(row[0].toString(), u"SQL Server (MSSQLSERVER)"_s);
        QCOMPARE(row[1].toString(), u"NT Service\\MSSQLSERVER"_s);
        QCOMPARE(row[2].toString(), u"Running"_s);
        QCOMPARE(row[3].toLongLong(), scalar(u"SELECT SERVERPROPERTY('ProcessID')"_s).toLongLong());
    }

    void withoutRootDefaultsAreTheDataFolder()
    {
        SqlsimProcess plain;
        QVERIFY2(plain.start(), plain.stderrText().constData());
        OdbcClient client;
        QVERIFY(client.connect(plain.port(), u"sa"_s, plain.password()));
        const OdbcResult r = client.exec(
            u"SELECT SERVERPROPERTY('InstanceDefaultDataPath'), "
            "SERVERPROPERTY('InstanceDefaultLogPath'), SERVERPROPERTY('InstanceDefaultBackupPath')"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString folder = QDir(plain.dataDir()).absolutePath() + u'/';
        QCOMPARE(flatten(r.resultSets[0]), QStringList{folder + u'|' + folder + u'|' + folder});
        client.disconnect();
        plain.stop();
    }

    // SQL Server 2017 has no default backup path to tell.
    void olderServerHasNoDefaultBackupPath()
    {
        SqlsimProcess older;
        QTemporaryDir root;
        QVERIFY2(older.start({u"--server-root"_s, root.path(), u"--version-year"_s, u"2017"_s}),
                 older.stderrText().constData());
        OdbcClient client;
        QVERIFY(client.connect(older.port(), u"sa"_s, older.password()));
        const OdbcResult r = client.exec(
            u"SELECT ISNULL(CAST(SERVERPROPERTY('InstanceDefaultBackupPath') AS nvarchar(10)), "
            "'NULL')"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets[0]), QStringList{u"NULL"_s});
    }

    // A nearly full disk: reported so, and a backup that does not fit is a write failure.
    void nearlyFullDisk()
    {
        SqlsimProcess full;
        QTemporaryDir root;
        QVERIFY2(full.start({u"--server-root"_s, root.path(), u"--disk-free"_s, u"3145728"_s}),
                 full.stderrText().constData());
        OdbcClient client;
        QVERIFY(client.connect(full.port(), u"sa"_s, full.password()));
        OdbcResult r = client.exec(u"EXEC xp_fixeddrives"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets[0]), QStringList{u"C|3"_s});
        QVERIFY(client
                    .exec(u"CREATE DATABASE big; CREATE TABLE big.dbo.t (b varbinary(max)); "
                          "INSERT INTO big.dbo.t VALUES (CAST(REPLICATE(CAST('x' AS "
                          "varchar(max)), 4000000) AS varbinary(max)))"_s)
                    .ok);
        r = client.exec(u"SELECT available_bytes FROM sys.dm_os_volume_stats(DB_ID('big'), 1)"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets[0]), QStringList{u"3145728"_s});
        r = client.exec(u"BACKUP DATABASE big TO DISK = N'C:\\big.bak'"_s);
        QVERIFY(!r.ok);
        QCOMPARE(serverText(r.error), u"Write on \"C:\\big.bak\" failed: 112(There is not enough "
                                      "space on the disk.)"_s);
        QVERIFY(!QFileInfo::exists(root.filePath(u"C/big.bak"_s)));
    }
};

QTEST_GUILESS_MAIN(ServerRootTest)
#include "tst_serverroot.moc"
