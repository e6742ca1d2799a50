// Who is in a database, and taking it for one session: sysprocesses, sys.dm_exec_sessions,
// ALTER DATABASE ... SET SINGLE_USER / MULTI_USER / OFFLINE / ONLINE, as a restore or a detach
// over a database in use goes about it.
#include "OdbcClient.h"
#include "RawTdsClient.h"
#include "SqlsimProcess.h"

#include <QDeadlineTimer>
#include <QSysInfo>
#include <QtTest>
#include <sql.h>
#include <sqlext.h>

using namespace Qt::StringLiterals;

class SessionsTest : public QObject
{
    Q_OBJECT

private:
    SqlsimProcess m_sim;
    OdbcClient m_admin;
    QString m_backup;

    bool connect(OdbcClient& client, const QString& database = {})
    {
        return client.connect(m_sim.port(), u"sa"_s, m_sim.password(), database);
    }

    QString scalar(OdbcClient& client, const QString& sql)
    {
        const OdbcResult r = client.exec(sql);
        if (!r.ok || r.resultSets.isEmpty() || r.resultSets.first().rows.isEmpty())
            return u"<error: %1>"_s.arg(r.error);
        const QVariant v = r.resultSets.first().rows.first().first();
        return v.isNull() ? u"NULL"_s : v.toString();
    }

    QString userAccess()
    {
        return scalar(m_admin, u"SELECT user_access_desc FROM sys.databases WHERE name = "
                               "'sessdb'"_s) +
               u'/' + scalar(m_admin, u"SELECT DATABASEPROPERTYEX('sessdb', 'UserAccess')"_s);
    }

    // FreeTDS reports a connection the server closed as any error; the driver knows it is dead.
    static bool connectionDead(OdbcClient& client)
    {
        SQLUINTEGER dead = SQL_CD_FALSE;
        SQLGetConnectAttr(client.dbc(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
        return dead == SQL_CD_TRUE;
    }

    static QList<int> errorNumbers(const OdbcResult& r)
    {
        QList<int> out;
        for (qsizetype i = 0; i < r.messages.size(); ++i) {
            const int n = r.messageNumbers.value(i);
            // Informational numbers the statements here may send along.
            if (n != 0 && n != 5060 && n != 5701 && n != 3014 && n != 4035 && n != 3211)
                out << n;
        }
        return out;
    }

    void backToMultiUser()
    {
        m_admin.exec(u"USE master"_s);
        m_admin.exec(u"IF DB_ID(N'sessdb') IS NOT NULL ALTER DATABASE [sessdb] SET ONLINE"_s);
        m_admin.exec(u"ALTER DATABASE sessdb SET MULTI_USER"_s);
    }

    // sys.databases' state and collation, Status, sysdatabases' bit, DB_ID, sessions inside.
    QString databaseState()
    {
        const OdbcResult r = m_admin.exec(
            u"SELECT d.state, d.state_desc, d.collation_name, DATABASEPROPERTYEX('sessdb', "
            "'Status'), s.status & 512, DB_ID('sessdb') - d.database_id, (SELECT COUNT(*) FROM "
            "master.dbo.sysprocesses p WHERE p.dbid = d.database_id) FROM sys.databases d JOIN "
            "master.dbo.sysdatabases s ON s.dbid = d.database_id WHERE d.name = 'sessdb'"_s);
        return r.ok ? flatten(r.resultSets.value(0)).join(u'\n') : r.error;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY2(connect(m_admin), qPrintable(m_admin.lastError()));
        m_backup = m_sim.dataDir() + u"/sessdb.bak"_s;
        for (const QString& sql :
             {u"CREATE DATABASE sessdb"_s, u"CREATE TABLE sessdb.dbo.t (n int)"_s,
              u"BACKUP DATABASE sessdb TO DISK = N'%1' WITH INIT"_s.arg(m_backup)}) {
            const OdbcResult r = m_admin.exec(sql);
            QVERIFY2(r.ok, qPrintable(sql + u": "_s + r.error));
        }
    }

    void cleanupTestCase()
    {
        m_admin.disconnect();
        m_sim.stop();
        const QByteArray errors = m_sim.stderrText();
        QVERIFY2(!errors.contains("Sanitizer"), errors.constData());
    }

    void cleanup() { backToMultiUser(); }

    void sessionRow_data()
    {
        QTest::addColumn<bool>("byUse");
        QTest::addColumn<QString>("query");
        const QString processes =
            u"SELECT RTRIM(hostname), RTRIM(program_name), RTRIM(loginame), DB_NAME(dbid), "
            "RTRIM(hostprocess) FROM %1 WHERE spid = %2"_s;
        const QString sessions =
            u"SELECT host_name, program_name, login_name, DB_NAME(database_id), "
            "CAST(host_process_id AS varchar(10)) FROM sys.dm_exec_sessions "
            "WHERE session_id = %1 AND is_user_process = 1"_s;
        QTest::newRow("master.dbo.sysprocesses, database at login")
            << false << processes.arg(u"master.dbo.sysprocesses"_s);
        QTest::newRow("sys.sysprocesses, database by USE")
            << true << processes.arg(u"sys.sysprocesses"_s);
        QTest::newRow("master..sysprocesses") << true << processes.arg(u"master..sysprocesses"_s);
        QTest::newRow("sys.dm_exec_sessions, database at login") << false << sessions;
        QTest::newRow("sys.dm_exec_sessions, database by USE") << true << sessions;
    }

    // A client is shown with what its login told, in the database it is in, under the
    // session id it sees as @@SPID.
    void sessionRow()
    {
        QFETCH(bool, byUse);
        QFETCH(QString, query);
        OdbcClient holder;
        holder.setAppName(u"holder-app"_s);
        QVERIFY2(connect(holder, byUse ? QString() : u"sessdb"_s), qPrintable(holder.lastError()));
        if (byUse)
            QVERIFY(holder.exec(u"USE sessdb"_s).ok);
        const QString spid = scalar(holder, u"SELECT @@SPID"_s);
        QVERIFY2(spid.toInt() > 50, qPrintable(spid));

        const OdbcResult r = m_admin.exec(query.arg(spid));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        QCOMPARE(
            flatten(r.resultSets.first()),
            QStringList{u"%1|holder-app|sa|sessdb|%2"_s.arg(
                QSysInfo::machineHostName(), QString::number(QCoreApplication::applicationPid()))});
        // The session finds itself by @@SPID.
        QCOMPARE(scalar(holder, u"SELECT COUNT(*) FROM sys.dm_exec_sessions WHERE session_id = "
                                "@@SPID AND DB_NAME(database_id) = 'sessdb'"_s),
                 u"1"_s);
        holder.disconnect();
    }

    void sessionViewTypes_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QList<int>>("types");
        // SQL_SMALLINT 5, SQL_WCHAR -8, SQL_WVARCHAR -9, SQL_BIT -7, SQL_TYPE_TIMESTAMP 93
        QTest::newRow("sysprocesses")
            << u"SELECT spid, dbid, hostname, program_name, loginame, status, login_time "
               "FROM master.dbo.sysprocesses WHERE spid = @@SPID"_s
            << QList<int>{5, 5, -8, -8, -8, -8, 93};
        QTest::newRow("dm_exec_sessions")
            << u"SELECT session_id, database_id, host_name, program_name, login_name, "
               "is_user_process FROM sys.dm_exec_sessions WHERE session_id = @@SPID"_s
            << QList<int>{5, 5, -9, -9, -9, -7};
    }

    // The documented types: smallint ids, nchar names in sysprocesses, nvarchar in the view.
    void sessionViewTypes()
    {
        QFETCH(QString, query);
        QFETCH(QList<int>, types);
        const OdbcResult r = m_admin.exec(query);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.resultSets.size(), 1);
        QCOMPARE(r.resultSets.first().rows.size(), 1);
        QCOMPARE(r.resultSets.first().sqlTypes, types);
    }

    void sessionViewAccess_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("error");
        QTest::newRow("unqualified, in master")
            << u"USE master; SELECT COUNT(*) FROM sysprocesses"_s << 0;
        QTest::newRow("unqualified, in a user database")
            << u"USE sessdb; SELECT COUNT(*) FROM sysprocesses"_s << 208;
        QTest::newRow("dbo., in a user database")
            << u"USE sessdb; SELECT COUNT(*) FROM dbo.sysprocesses"_s << 208;
        QTest::newRow("sys., in a user database")
            << u"USE sessdb; SELECT COUNT(*) FROM sys.sysprocesses"_s << 0;
        QTest::newRow("three-part name, in a user database")
            << u"USE sessdb; SELECT COUNT(*) FROM master.dbo.sysprocesses"_s << 0;
        QTest::newRow("DELETE from sysprocesses")
            << u"DELETE FROM master.dbo.sysprocesses WHERE spid = @@SPID"_s << 259;
        QTest::newRow("UPDATE of sys.dm_exec_sessions")
            << u"UPDATE sys.dm_exec_sessions SET host_name = N'x'"_s << 259;
        QTest::newRow("INSERT into sys.sysprocesses")
            << u"INSERT INTO sys.sysprocesses (spid) VALUES (1)"_s << 259;
        QTest::newRow("UPDATE of sys.master_files")
            << u"UPDATE sys.master_files SET physical_name = N'x'"_s << 259;
    }

    // "To access sysprocesses, you must be in the master database context, or you must use
    // the master.dbo.sysprocesses three-part name." Nobody writes to the session views or to
    // sys.master_files, which every database shows.
    void sessionViewAccess()
    {
        QFETCH(QString, sql);
        QFETCH(int, error);
        const OdbcResult r = m_admin.exec(sql);
        m_admin.exec(u"USE master"_s);
        QCOMPARE(r.ok ? 0 : r.nativeError, error);
    }

    void terminationEndsOthers_data()
    {
        QTest::addColumn<QString>("clause");
        QTest::newRow("ROLLBACK IMMEDIATE") << u"WITH ROLLBACK IMMEDIATE"_s;
        QTest::newRow("ROLLBACK AFTER 0 SECONDS") << u"WITH ROLLBACK AFTER 0 SECONDS"_s;
        QTest::newRow("ROLLBACK AFTER 0") << u"WITH ROLLBACK AFTER 0"_s;
    }

    // The program's flow: from master, SINGLE_USER with a termination clause; the other
    // session's transaction is rolled back and its connection closed; nobody else gets in
    // until MULTI_USER.
    void terminationEndsOthers()
    {
        QFETCH(QString, clause);
        OdbcClient holder;
        QVERIFY2(connect(holder, u"sessdb"_s), qPrintable(holder.lastError()));
        QVERIFY(holder.exec(u"BEGIN TRAN; INSERT INTO t VALUES (1)"_s).ok);

        const OdbcResult alter = m_admin.exec(u"ALTER DATABASE sessdb SET SINGLE_USER "_s + clause);
        QVERIFY2(alter.ok, qPrintable(alter.error));
        QVERIFY2(alter.messages.contains(u"[FreeTDS][SQL Server]Nonqualified transactions are "
                                         "being rolled back. Estimated rollback completion: "
                                         "100%."_s),
                 qPrintable(alter.messages.join(u'\n')));
        QCOMPARE(userAccess(), u"SINGLE_USER/SINGLE_USER"_s);

        // The ended session's next request finds its connection gone.
        const OdbcResult after = holder.exec(u"SELECT 1"_s);
        QVERIFY(!after.ok);
        QVERIFY2(connectionDead(holder), qPrintable(after.sqlState + after.error));
        QCOMPARE(scalar(m_admin, u"SELECT COUNT(*) FROM sessdb.dbo.t"_s), u"0"_s);

        // A third client: refused by USE and at login while someone is in the database.
        OdbcClient first;
        QVERIFY2(connect(first, u"sessdb"_s), qPrintable(first.lastError()));
        OdbcClient third;
        QVERIFY(connect(third));
        const OdbcResult use = third.exec(u"USE sessdb"_s);
        QVERIFY(!use.ok);
        QCOMPARE(use.nativeError, 924);
        QCOMPARE(serverText(use.error),
                 u"Database 'sessdb' is already open and can only have one user at a time."_s);
        OdbcClient fourth;
        QVERIFY(!connect(fourth, u"sessdb"_s));
        QCOMPARE(fourth.lastNativeError(), 924);

        // Someone holds the single place: the options cannot change (5064) until they leave.
        const OdbcResult blocked = m_admin.exec(u"ALTER DATABASE sessdb SET MULTI_USER"_s);
        QCOMPARE(errorNumbers(blocked), (QList<int>{5064, 5069}));
        first.disconnect();

        QVERIFY(m_admin.exec(u"ALTER DATABASE sessdb SET MULTI_USER"_s).ok);
        QCOMPARE(userAccess(), u"MULTI_USER/MULTI_USER"_s);
        const OdbcResult again = third.exec(u"USE sessdb"_s);
        QVERIFY2(again.ok, qPrintable(again.error));
        QVERIFY(connect(fourth, u"sessdb"_s));
        third.disconnect();
        fourth.disconnect();
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QList<int>>("errors");
        QTest::newRow("NO_WAIT with a user in the database")
            << u"ALTER DATABASE sessdb SET SINGLE_USER WITH NO_WAIT"_s << QList<int>{5070, 5069};
        QTest::newRow("waiting, out of lock time")
            << u"SET LOCK_TIMEOUT 0; ALTER DATABASE sessdb SET SINGLE_USER"_s
            << QList<int>{1222, 5069};
        QTest::newRow("inside a transaction")
            << u"BEGIN TRAN; ALTER DATABASE sessdb SET SINGLE_USER WITH ROLLBACK IMMEDIATE"_s
            << QList<int>{226};
        QTest::newRow("no such database")
            << u"ALTER DATABASE nosuchdb SET SINGLE_USER WITH ROLLBACK IMMEDIATE"_s
            << QList<int>{5011, 5069};
        QTest::newRow("master")
            << u"ALTER DATABASE master SET SINGLE_USER WITH ROLLBACK IMMEDIATE"_s
            << QList<int>{5058, 5069};
        QTest::newRow("RESTRICTED_USER is not served")
            << u"ALTER DATABASE sessdb SET RESTRICTED_USER"_s << QList<int>{40000};
    }

    // Refused changes leave the database and the other session as they were.
    void refusals()
    {
        QFETCH(QString, sql);
        QFETCH(QList<int>, errors);
        OdbcClient holder;
        QVERIFY2(connect(holder, u"sessdb"_s), qPrintable(holder.lastError()));
        OdbcClient admin;
        QVERIFY(connect(admin));
        const OdbcResult r = admin.exec(sql);
        admin.exec(u"IF @@TRANCOUNT > 0 ROLLBACK"_s);
        QCOMPARE(errorNumbers(r), errors);
        QCOMPARE(userAccess(), u"MULTI_USER/MULTI_USER"_s);
        QVERIFY(holder.exec(u"SELECT 1"_s).ok);
        holder.disconnect();
        admin.disconnect();
    }

    // Without a termination clause the statement waits for the others to leave.
    void waitsForOthersToLeave()
    {
        OdbcClient holder;
        QVERIFY2(connect(holder, u"sessdb"_s), qPrintable(holder.lastError()));
        OdbcResult r;
        QThread* worker = QThread::create([&] {
            OdbcClient admin;
            if (connect(admin))
                r = admin.exec(u"ALTER DATABASE sessdb SET SINGLE_USER"_s);
            else
                r.ok = false;
            admin.disconnect();
        });
        worker->start();
        // Leaving is what lets it through, whenever the statement has begun waiting.
        holder.disconnect();
        QVERIFY(worker->wait(30000));
        delete worker;
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(userAccess(), u"SINGLE_USER/SINGLE_USER"_s);
    }

    void restoreOverSingleUser_data()
    {
        QTest::addColumn<bool>("backupSingleUser");
        QTest::addColumn<QString>("expected");
        QTest::newRow("backup of a multi-user database") << false << u"MULTI_USER"_s;
        QTest::newRow("backup of a single-user database") << true << u"SINGLE_USER"_s;
    }

    // From master: SINGLE_USER WITH ROLLBACK IMMEDIATE, RESTORE ... WITH REPLACE. The restored
    // database takes the user access recorded in the backup.
    void restoreOverSingleUser()
    {
        QFETCH(bool, backupSingleUser);
        QFETCH(QString, expected);
        const QString file = m_sim.dataDir() + u"/access.bak"_s;
        if (backupSingleUser)
            QVERIFY(m_admin.exec(u"ALTER DATABASE sessdb SET SINGLE_USER"_s).ok);
        OdbcResult r =
            m_admin.exec(u"BACKUP DATABASE sessdb TO DISK = N'%1' WITH INIT"_s.arg(file));
        QVERIFY2(r.ok, qPrintable(r.error));
        backToMultiUser();
        r = m_admin.exec(u"RESTORE HEADERONLY FROM DISK = N'%1'"_s.arg(file));
        QVERIFY2(r.ok, qPrintable(r.error));
        const ResultSet& header = r.resultSets.first();
        QCOMPARE(header.rows.first().at(header.columns.indexOf(u"IsSingleUser"_s)).toInt(),
                 backupSingleUser ? 1 : 0);

        OdbcClient holder;
        QVERIFY2(connect(holder, u"sessdb"_s), qPrintable(holder.lastError()));
        r = m_admin.exec(u"ALTER DATABASE sessdb SET SINGLE_USER WITH ROLLBACK IMMEDIATE"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = m_admin.exec(u"RESTORE DATABASE sessdb FROM DISK = N'%1' WITH REPLACE"_s.arg(file));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(userAccess(), expected + u'/' + expected);
        QVERIFY(!holder.exec(u"SELECT 1"_s).ok);
        QVERIFY(connectionDead(holder));
    }

    void offlineAdmitsNobody_data()
    {
        QTest::addColumn<QString>("sql"); // empty: a login to sessdb
        QTest::addColumn<QList<int>>("whileWaiting");
        QTest::addColumn<QList<int>>("offline");
        QTest::newRow("login") << QString() << QList<int>{4060, 18456} << QList<int>{4060, 18456};
        QTest::newRow("USE") << u"USE sessdb"_s << QList<int>{952} << QList<int>{942};
        QTest::newRow("three-part name")
            << u"SELECT COUNT(*) FROM sessdb.dbo.t"_s << QList<int>{952} << QList<int>{942};
        QTest::newRow("BACKUP") << u"BACKUP DATABASE sessdb TO DISK = N'offline.bak'"_s
                                << QList<int>{952, 3013} << QList<int>{942, 3013};
        QTest::newRow("SINGLE_USER") << u"ALTER DATABASE sessdb SET SINGLE_USER"_s
                                     << QList<int>{5059, 5069} << QList<int>{5011, 5069};
    }

    // While OFFLINE waits for the session inside, nobody new gets in; once that session has
    // left, the database is offline and nobody uses it. DB_ID still knows it.
    void offlineAdmitsNobody()
    {
        QFETCH(QString, sql);
        QFETCH(QList<int>, whileWaiting);
        QFETCH(QList<int>, offline);
        const auto errors = [&] {
            QList<int> numbers = errorNumbers(m_admin.exec(sql));
            RawTdsClient login; // every message, in the order sent
            for (const auto& m : login
                                     .connect(m_sim.port(), u"sa"_s, m_sim.password(),
                                              sql.isEmpty() ? u"sessdb"_s : QString())
                                     .errors)
                numbers << m.number;
            std::sort(numbers.begin(), numbers.end()); // FreeTDS puts the more severe first
            return numbers;
        };
        OdbcClient holder;
        QVERIFY2(connect(holder, u"sessdb"_s), qPrintable(holder.lastError()));
        OdbcClient alterer;
        QVERIFY(connect(alterer));
        const QString blocked = u"SELECT blocked FROM master.dbo.sysprocesses WHERE spid = "_s +
                                scalar(alterer, u"SELECT @@SPID"_s);
        OdbcResult alter;
        std::unique_ptr<QThread> worker(
            QThread::create([&] { alter = alterer.exec(u"ALTER DATABASE sessdb SET OFFLINE"_s); }));
        worker->start();
        // It waits once sysprocesses shows it blocked by the holder.
        const QString holderSpid = scalar(holder, u"SELECT @@SPID"_s);
        for (QDeadlineTimer guard(30000); scalar(m_admin, blocked) != holderSpid;)
            QVERIFY(!guard.hasExpired());
        QCOMPARE(errors(), whileWaiting);
        holder.disconnect();
        QVERIFY(worker->wait(30000));
        QVERIFY2(alter.ok, qPrintable(alter.error));
        QCOMPARE(errors(), offline);
        QCOMPARE(databaseState(), u"6|OFFLINE|NULL|OFFLINE|512|0|0"_s);
    }

    void programBatches_data()
    {
        const QString offline = u"ALTER DATABASE [sessdb] SET OFFLINE WITH ROLLBACK IMMEDIATE; "_s;
        const QString restore = offline + u"RESTORE DATABASE [sessdb] FROM DISK = N'%1' WITH "
                                          "REPLACE, STATS = 10"_s;
        QTest::addColumn<QString>("batch");
        QTest::addColumn<QString>("stateAfter"); // empty: detached
        QTest::addColumn<QString>("rows");
        QTest::newRow("restore") << restore.arg(m_backup) << u"ONLINE"_s << u"0"_s;
        QTest::newRow("failed restore") << restore.arg(u"missing.bak"_s) << u"OFFLINE"_s << u"1"_s;
        QTest::newRow("detach")
            << offline + u"DECLARE @status int; EXEC @status = master.dbo.sp_detach_db "
                         "@dbname = N'sessdb', @skipchecks = N'TRUE'; SELECT @status"_s
            << QString() << u"1"_s;
    }

    // The program's batches end the session inside, rolling back its transaction; its ONLINE
    // afterwards brings the database back (or changes nothing); detached files attach online.
    void programBatches()
    {
        QFETCH(QString, batch);
        QFETCH(QString, stateAfter);
        QFETCH(QString, rows);
        QVERIFY(
            m_admin.exec(u"DELETE FROM sessdb.dbo.t; INSERT INTO sessdb.dbo.t VALUES (1)"_s).ok);
        const QString data = scalar(m_admin, u"SELECT filename FROM sysdatabases WHERE name = "
                                             "'sessdb'"_s);
        OdbcClient holder;
        QVERIFY(connect(holder, u"sessdb"_s));
        QVERIFY(holder.exec(u"BEGIN TRAN; INSERT INTO t VALUES (2)"_s).ok);
        const OdbcResult r = m_admin.exec(batch);
        QCOMPARE(errorNumbers(r).isEmpty(), !batch.contains(u"missing"_s));
        QVERIFY(!holder.exec(u"SELECT 1"_s).ok && connectionDead(holder));
        QCOMPARE(databaseState().section(u'|', 1, 1), stateAfter);
        QVERIFY(m_admin
                    .exec(u"IF DB_ID(N'sessdb') IS NOT NULL ALTER DATABASE [sessdb] SET ONLINE "
                          "ELSE EXEC sp_attach_single_file_db 'sessdb', N'%1'"_s.arg(data))
                    .ok);
        QCOMPARE(databaseState(), u"0|ONLINE|Cyrillic_General_CI_AS|ONLINE|0|0|0"_s);
        QCOMPARE(scalar(m_admin, u"SELECT COUNT(*) FROM sessdb.dbo.t"_s), rows);
    }

    // sp_detach_db from master takes a single-user database; attached again, it is still
    // single-user, as its files say; a restart keeps the state, offline too.
    void detachAndRestartKeepState()
    {
        QVERIFY(
            m_admin.exec(u"ALTER DATABASE sessdb SET SINGLE_USER WITH ROLLBACK IMMEDIATE"_s).ok);
        const QString data = scalar(m_admin, u"SELECT filename FROM sysdatabases WHERE name = "
                                             "'sessdb'"_s);
        OdbcResult r = m_admin.exec(u"EXEC sp_detach_db 'sessdb'"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        r = m_admin.exec(u"EXEC sp_attach_single_file_db 'sessdb', N'%1'"_s.arg(data));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(userAccess(), u"SINGLE_USER/SINGLE_USER"_s);
        QVERIFY(m_admin.exec(u"ALTER DATABASE sessdb SET OFFLINE"_s).ok);

        m_admin.disconnect();
        QVERIFY2(m_sim.restart(), m_sim.stderrText().constData());
        QVERIFY(connect(m_admin));
        QCOMPARE(userAccess(), u"SINGLE_USER/SINGLE_USER"_s);
        QCOMPARE(databaseState(), u"6|OFFLINE|NULL|OFFLINE|512|0|0"_s);
    }
};

QTEST_GUILESS_MAIN(SessionsTest)
#include "tst_sessions.moc"
