// The server as installed: its edition (SERVERPROPERTY, @@VERSION, Express's size limit), a
// database's files and the space used in them (sys.database_files, FILEPROPERTY, sp_spaceused,
// with --extra-data-size standing in for gigabytes never written), the instance's registry
// values, the default folders each version reports, and a database a failed restore leaves
// RESTORING.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QVariant cell(const OdbcResult& r, int column = 0, int row = 0)
{
    return r.resultSets.value(0).rows.value(row).value(column);
}

// 10 GB less `megabytes`: how much --extra-data-size leaves under Express's limit.
QString belowTenGigabytes(int megabytes)
{
    return QString::number(10240 - megabytes);
}

} // namespace

class EditionsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_shared; // backups and detached files that several servers read

    // A started server and an sa session on it.
    bool start(SqlsimProcess& sim, OdbcClient& client, const QStringList& args)
    {
        if (!sim.start(args)) {
            qWarning("%s", sim.stderrText().constData());
            return false;
        }
        return client.connect(sim.port(), u"sa"_s, sim.password());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_shared.isValid());
        // A backup and a detached data file of a database with some 100 KB of data.
        SqlsimProcess sim;
        OdbcClient sa;
        QVERIFY(start(sim, sa, {}));
        for (const QString& sql :
             {u"CREATE DATABASE src"_s, u"CREATE TABLE src.dbo.t (v varchar(8000))"_s,
              u"INSERT INTO src.dbo.t SELECT REPLICATE('x', 8000) FROM "
              u"(SELECT 1 AS n UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4) a, "
              u"(SELECT 1 AS n UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4) b"_s,
              u"BACKUP DATABASE src TO DISK = N'%1/src.bak'"_s.arg(m_shared.path()),
              u"CREATE DATABASE att ON (NAME = att, FILENAME = N'%1/att.mdf') LOG ON (NAME = "
              u"att_log, FILENAME = N'%1/att_log.ldf')"_s.arg(m_shared.path()),
              u"EXEC sp_detach_db N'att'"_s}) {
            const OdbcResult r = sa.exec(sql);
            QVERIFY2(r.ok, qPrintable(sql + u": "_s + r.error));
        }
    }

    // "SERVERPROPERTY (Transact-SQL)", learn.microsoft.com/sql/t-sql/functions/
    // serverproperty-transact-sql: Edition, EngineEdition, EditionID; @@VERSION names it too.
    void serverProperties_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("edition");
        QTest::addColumn<qint64>("engineEdition");
        QTest::addColumn<qint64>("editionId");
        QTest::newRow("default: Express")
            << QStringList() << u"Express Edition (64-bit)"_s << 4LL << -1592396055LL;
        QTest::newRow("standard") << QStringList{u"--edition"_s, u"standard"_s}
                                  << u"Standard Edition (64-bit)"_s << 2LL << -1534726760LL;
        QTest::newRow("developer") << QStringList{u"--edition"_s, u"Developer"_s}
                                   << u"Developer Edition (64-bit)"_s << 3LL << -2117995310LL;
        QTest::newRow("enterprise") << QStringList{u"--edition"_s, u"enterprise"_s}
                                    << u"Enterprise Edition (64-bit)"_s << 3LL << 1804890536LL;
    }

    void serverProperties()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, edition);
        QFETCH(qint64, engineEdition);
        QFETCH(qint64, editionId);
        SqlsimProcess sim;
        OdbcClient sa;
        QVERIFY(start(sim, sa, args));
        const OdbcResult r =
            sa.exec(u"SELECT SERVERPROPERTY('Edition'), SERVERPROPERTY('EngineEdition'), "
                    "SERVERPROPERTY('EditionID'), @@VERSION"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(cell(r, 0).toString(), edition);
        QCOMPARE(cell(r, 1).toLongLong(), engineEdition);
        QCOMPARE(cell(r, 2).toLongLong(), editionId);
        QVERIFY2(cell(r, 3).toString().contains(u"\n\t"_s + edition + u" on "_s),
                 qPrintable(cell(r, 3).toString()));
    }

    void badOption_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("edition") << QStringList{u"--edition"_s, u"web"_s};
        QTest::newRow("language") << QStringList{u"--default-language"_s, u"klingon"_s};
        QTest::newRow("size") << QStringList{u"--extra-data-size"_s, u"-1"_s};
    }

    void badOption()
    {
        QFETCH(QStringList, args);
        SqlsimProcess sim;
        QVERIFY(!sim.start(args));
        const QByteArray error = sim.stderrText();
        QVERIFY2(error.contains("bad value for " + args.first().toUtf8()), error.constData());
    }

    // Express: "Maximum relational database size: 10 GB" (4 GB before 2008 R2), data files
    // only ("Editions and supported features of SQL Server 2019", learn.microsoft.com/sql/
    // sql-server/editions-and-components-of-sql-server-2019). CREATE DATABASE, a restore and an
    // attach that would pass it fail with 1827, as does a restore on Express of a bigger
    // database (then 3013); an insert that fills the file gets 1105 and is undone.
    void sizeLimit_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error"); // 0: it works
        QTest::addColumn<QString>("text");
        const QString limit10 =
            u"CREATE DATABASE or ALTER DATABASE failed because the resulting cumulative database "
            u"size would exceed your licensed limit of 10240 MB per database."_s;
        const QString restore =
            u"RESTORE DATABASE r FROM DISK = N'%1/src.bak' WITH MOVE 'src' TO N'%1/r_%2.mdf', "
            u"MOVE 'src_log' TO N'%1/r_%2.ldf'"_s.arg(m_shared.path());
        const QString attach =
            u"EXEC sp_attach_db N'a', N'%1/att.mdf', N'%1/att_log.ldf'"_s.arg(m_shared.path());
        // 256 rows of 8000 bytes, 2 MB, by doubling.
        QString insert = u"CREATE DATABASE g; CREATE TABLE g.dbo.t (v varchar(8000)); "
                         u"INSERT INTO g.dbo.t VALUES (REPLICATE('y', 8000));"_s;
        for (int i = 0; i < 8; ++i)
            insert += u" INSERT INTO g.dbo.t SELECT v FROM g.dbo.t;"_s;
        const QStringList nearLimit{u"--extra-data-size"_s, belowTenGigabytes(1)};
        const QStringList pastLimit{u"--extra-data-size"_s, u"10240"_s};
        QTest::newRow("express, create past")
            << pastLimit << u"CREATE DATABASE c"_s << 1827 << limit10;
        QTest::newRow("express, create near")
            << nearLimit << u"CREATE DATABASE c"_s << 0 << QString();
        QTest::newRow("express 2008, 4 GB")
            << QStringList{u"--version-year"_s, u"2008"_s, u"--extra-data-size"_s, u"4096"_s}
            << u"CREATE DATABASE c"_s << 1827 << QString(limit10).replace(u"10240"_s, u"4096"_s);
        QTest::newRow("express, restore past") << pastLimit << restore.arg(1) << 1827 << limit10;
        QTest::newRow("express, attach past") << pastLimit << attach << 1827 << limit10;
        QTest::newRow("express, insert fills it")
            << QStringList{u"--extra-data-size"_s, belowTenGigabytes(1)} << insert << 1105
            << u"Could not allocate space for object 'dbo.t' in database 'g' because the "
               u"'PRIMARY' filegroup is full. Create disk space by deleting unneeded files, "
               u"dropping objects in the filegroup, adding additional files to the filegroup, or "
               u"setting autogrowth on for existing files in the filegroup."_s;
        QTest::newRow("standard, past 10 GB: create")
            << QStringList{u"--edition"_s, u"standard"_s, u"--extra-data-size"_s, u"20480"_s}
            << u"CREATE DATABASE c"_s << 0 << QString();
        QTest::newRow("standard, past 10 GB: restore")
            << QStringList{u"--edition"_s, u"standard"_s, u"--extra-data-size"_s, u"20480"_s}
            << restore.arg(2) << 0 << QString();
        QTest::newRow("standard, past 10 GB: insert")
            << QStringList{u"--edition"_s, u"standard"_s, u"--extra-data-size"_s, u"20480"_s}
            << insert << 0 << QString();
    }

    void sizeLimit()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, sql);
        QFETCH(int, error);
        QFETCH(QString, text);
        SqlsimProcess sim;
        OdbcClient sa;
        QVERIFY(start(sim, sa, args));
        const OdbcResult r = sa.exec(sql);
        if (error == 0) {
            QVERIFY2(r.ok, qPrintable(r.error));
            return;
        }
        QVERIFY(!r.ok);
        QCOMPARE(r.nativeError, error);
        QCOMPARE(serverText(r.error), text);
        if (sql.startsWith(u"RESTORE"_s))
            QCOMPARE(r.messageNumbers.last(), 3013);
        if (error == 1105) {
            // The statement that filled it is undone: the rows of those before it stay.
            const OdbcResult rows = sa.exec(u"SELECT COUNT(*) FROM g.dbo.t"_s);
            const qint64 count = cell(rows).toLongLong();
            QVERIFY2(count > 0 && count < 256 && (count & (count - 1)) == 0,
                     qPrintable(QString::number(count)));
        } else {
            // Nothing made: no database, no file left behind.
            const OdbcResult dbs = sa.exec(u"SELECT COUNT(*) FROM sys.databases WHERE name IN "
                                           "('c', 'r', 'a')"_s);
            QCOMPARE(cell(dbs).toLongLong(), 0LL);
            QVERIFY(QFile::exists(m_shared.path() + u"/att.mdf"_s));
        }
    }

    // "sys.database_files", learn.microsoft.com/sql/relational-databases/system-catalog-views/
    // sys-database-files-transact-sql; "FILEPROPERTY", learn.microsoft.com/sql/t-sql/
    // functions/fileproperty-transact-sql. Sizes in 8-KB pages; what is not used is what
    // sp_spaceused calls unallocated.
    void databaseFiles_data()
    {
        QTest::addColumn<int>("extraMegabytes");
        QTest::newRow("as written") << 0;
        QTest::newRow("past 10 GB on paper") << 12288;
    }

    void databaseFiles()
    {
        QFETCH(int, extraMegabytes);
        SqlsimProcess sim;
        OdbcClient sa;
        QVERIFY(start(sim, sa,
                      {u"--edition"_s, u"standard"_s, u"--extra-data-size"_s,
                       QString::number(extraMegabytes)}));
        QVERIFY(sa.exec(u"RESTORE DATABASE f FROM DISK = N'%1/src.bak' WITH MOVE 'src' TO "
                        "N'%2/f.mdf', MOVE 'src_log' TO N'%2/f.ldf'"_s.arg(m_shared.path(),
                                                                           sim.dataDir()))
                    .ok);
        OdbcClient f;
        QVERIFY(f.connect(sim.port(), u"sa"_s, sim.password(), u"f"_s));
        OdbcResult r = f.exec(u"SELECT file_id, name, type, type_desc, size, physical_name, "
                              "FILEPROPERTY(name, 'SpaceUsed'), FILEPROPERTY(name, 'IsLogFile') "
                              "FROM sys.database_files ORDER BY file_id"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).rows.size(), 2);
        const qint64 mdfPages = (QFileInfo(sim.dataDir() + u"/f.mdf"_s).size() + 8191) / 8192;
        const qint64 extraPages = qint64(extraMegabytes) * 128;
        QCOMPARE(cell(r, 1).toString(), u"src"_s);
        QCOMPARE(cell(r, 2).toLongLong(), 0LL);
        QCOMPARE(cell(r, 3).toString(), u"ROWS"_s);
        QCOMPARE(cell(r, 4).toLongLong(), mdfPages + extraPages);
        QCOMPARE(cell(r, 5).toString(), sim.dataDir() + u"/f.mdf"_s);
        const qint64 used = cell(r, 6).toLongLong();
        QVERIFY2(used >= 12 && used <= mdfPages, qPrintable(QString::number(used)));
        QCOMPARE(cell(r, 7).toLongLong(), 0LL);
        QCOMPARE(cell(r, 1, 1).toString(), u"src_log"_s);
        QCOMPARE(cell(r, 3, 1).toString(), u"LOG"_s);
        QCOMPARE(cell(r, 7, 1).toLongLong(), 1LL);

        // The program's own sum of the data in use.
        r = f.exec(u"SELECT SUM(CAST(FILEPROPERTY(name,'SpaceUsed') AS bigint))*8192 FROM "
                   "sys.database_files WHERE type = 0"_s);
        QCOMPARE(cell(r).toLongLong(), used * 8192);
        // Another database's files by three-part name; a name no file has is NULL.
        r = sa.exec(u"SELECT COUNT(*), MIN(name) FROM f.sys.database_files; "
                    "SELECT FILEPROPERTY('src', 'SpaceUsed'), FILEPROPERTY('nothing', "
                    "'SpaceUsed')"_s);
        QCOMPARE(cell(r).toLongLong(), 2LL);
        QCOMPARE(cell(r, 1).toString(), u"src"_s);
        QVERIFY(r.resultSets.value(1).rows.value(0).value(0).isNull()); // master has no 'src'
        QVERIFY(r.resultSets.value(1).rows.value(0).value(1).isNull());

        // sp_spaceused: the data file's pages less those used are its unallocated space.
        r = f.exec(u"EXEC sp_spaceused"_s);
        const double unallocated =
            r.resultSets.value(0).rows.value(0).value(2).toString().chopped(3).toDouble();
        QCOMPARE(unallocated,
                 QString::number(double((mdfPages + extraPages - used) * 8192) / 1048576.0, 'f', 2)
                     .toDouble());
    }

    // xp_instance_regread: the instance's folders as setup wrote them, one row of Value and
    // Data; none for a value the key does not have.
    void registry_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("data"); // empty: no row
        const QString server = u"Software\\Microsoft\\MSSQLServer\\MSSQLServer"_s;
        const QString instance = u"C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\"
                                 u"MSSQL"_s;
        QTest::newRow("BackupDirectory")
            << server << u"BackupDirectory"_s << instance + u"\\Backup"_s;
        QTest::newRow("DefaultData") << server << u"DefaultData"_s << instance + u"\\DATA"_s;
        QTest::newRow("DefaultLog") << server << u"DefaultLog"_s << instance + u"\\DATA"_s;
        QTest::newRow("SQLDataRoot")
            << u"Software\\Microsoft\\MSSQLServer\\Setup"_s << u"SQLDataRoot"_s << instance;
        QTest::newRow("no such value") << server << u"Nothing"_s << QString();
    }

    void registry()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, data);
        QTemporaryDir root;
        SqlsimProcess sim;
        OdbcClient sa;
        QVERIFY(start(sim, sa, {u"--server-root"_s, root.path()}));
        const OdbcResult r = sa.exec(
            u"EXEC master.dbo.xp_instance_regread N'HKEY_LOCAL_MACHINE', N'%1', N'%2'"_s.arg(
                key, value));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.value(0).columns, (QStringList{u"Value"_s, u"Data"_s}));
        if (data.isEmpty()) {
            QVERIFY(r.resultSets.value(0).rows.isEmpty());
            return;
        }
        QCOMPARE(flatten(r.resultSets.value(0)), QStringList{value + u'|' + data});
    }

    // SERVERPROPERTY's default folders: the data and log ones came in updates of late 2015 (the
    // RTM builds played for 2014 and before have none), the backup one with SQL Server 2019.
    void defaultPaths_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<bool>("data");
        QTest::addColumn<bool>("backup");
        QTest::newRow("2012") << 2012 << false << false;
        QTest::newRow("2014") << 2014 << false << false;
        QTest::newRow("2016") << 2016 << true << false;
        QTest::newRow("2017") << 2017 << true << false;
        QTest::newRow("2019") << 2019 << true << true;
    }

    void defaultPaths()
    {
        QFETCH(int, year);
        QFETCH(bool, data);
        QFETCH(bool, backup);
        SqlsimProcess sim;
        OdbcClient sa;
        QVERIFY(start(sim, sa, {u"--version-year"_s, QString::number(year)}));
        const OdbcResult r = sa.exec(u"SELECT SERVERPROPERTY('InstanceDefaultDataPath'), "
                                     "SERVERPROPERTY('InstanceDefaultLogPath'), "
                                     "SERVERPROPERTY('InstanceDefaultBackupPath')"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(!cell(r, 0).isNull(), data);
        QCOMPARE(!cell(r, 1).isNull(), data);
        QCOMPARE(!cell(r, 2).isNull(), backup);
    }

    // A restore over an existing database that fails once it has begun writing leaves the
    // database RESTORING ("Restore and recovery overview", learn.microsoft.com/sql/relational-
    // databases/backup-restore/restore-and-recovery-overview-sql-server): nobody may use it
    // (927) until a restore succeeds. A restore refused before it wrote anything leaves it be.
    void failedRestore_data()
    {
        QTest::addColumn<bool>("midway"); // else refused before writing
        QTest::addColumn<QString>("state");
        QTest::newRow("dropped half way") << true << u"RESTORING"_s;
        QTest::newRow("no such backup") << false << u"ONLINE"_s;
    }

    void failedRestore()
    {
        QFETCH(bool, midway);
        QFETCH(QString, state);
        SqlsimProcess sim;
        OdbcClient sa;
        QVERIFY(start(sim, sa, {}));
        const QString restore = u"RESTORE DATABASE shop FROM DISK = N'%1' WITH REPLACE, MOVE "
                                "'src' TO N'%2/shop.mdf', MOVE 'src_log' TO N'%2/shop.ldf'"_s;
        const QString good = restore.arg(m_shared.path() + u"/src.bak"_s, sim.dataDir());
        QVERIFY(sa.exec(good).ok);
        if (midway)
            QVERIFY(sa.exec(u"EXEC sqlsim_fail_next_transfer"_s).ok);
        {
            OdbcClient doomed;
            QVERIFY(doomed.connect(sim.port(), u"sa"_s, sim.password()));
            const OdbcResult r = doomed.exec(
                midway ? good : restore.arg(m_shared.path() + u"/none.bak"_s, sim.dataDir()));
            QVERIFY(!r.ok);
        }
        OdbcResult r = sa.exec(u"SELECT state_desc, DATABASEPROPERTYEX(name, 'Status') FROM "
                               "sys.databases WHERE name = 'shop'"_s);
        QCOMPARE(cell(r, 0).toString(), state);
        QCOMPARE(cell(r, 1).toString(), state);
        r = sa.exec(u"USE shop"_s);
        QCOMPARE(r.ok, !midway);
        if (midway) {
            QCOMPARE(r.nativeError, 927);
            QCOMPARE(serverText(r.error),
                     u"Database 'shop' cannot be opened. It is in the middle of a restore."_s);
            OdbcClient in;
            QVERIFY(!in.connect(sim.port(), u"sa"_s, sim.password(), u"shop"_s));
            QVERIFY2(in.lastErrors().join(u'\n').contains(
                         u"Cannot open database \"shop\" requested by the login."_s),
                     qPrintable(in.lastErrors().join(u'\n')));
        }
        sa.exec(u"USE master"_s);
        // A restore that succeeds brings it back; so does a restart in between.
        QVERIFY(sim.restart());
        QVERIFY(sa.connect(sim.port(), u"sa"_s, sim.password()));
        r = sa.exec(u"SELECT state_desc FROM sys.databases WHERE name = 'shop'"_s);
        QCOMPARE(cell(r).toString(), state);
        r = sa.exec(good);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = sa.exec(u"SELECT state_desc FROM sys.databases WHERE name = 'shop'; "
                    "SELECT COUNT(*) FROM shop.dbo.t"_s);
        QCOMPARE(cell(r).toString(), u"ONLINE"_s);
        QCOMPARE(r.resultSets.value(1).rows.value(0).value(0).toLongLong(), 16LL);
    }
};

QTEST_GUILESS_MAIN(EditionsTest)
#include "tst_editions.moc"
