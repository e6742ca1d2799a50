// Logins, roles and permissions as SQL Server has them: what a login outside sysadmin is refused
// (with SQL Server's error), what dbcreator and db_backupoperator allow, what such a login sees
// of the server, and principals that survive a restart and travel inside a backup.
#include "OdbcClient.h"
#include "SqlsimProcess.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <map>
#include <memory>

using namespace Qt::StringLiterals;

class Security : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    SqlsimProcess m_sim;
    std::map<QString, std::unique_ptr<OdbcClient>> m_clients;

    // One connection per login, made on first use.
    OdbcClient* as(const QString& login)
    {
        static const QHash<QString, QString> passwords = {
            {u"operator"_s, u"Op-Pass1"_s},
            {u"watcher"_s, u"Wa-Pass1"_s},
            {u"plain"_s, u"Pl-Pass1"_s},
            {u"oldstyle"_s, u"Old;Pass=1; x"_s},
        };
        auto& client = m_clients[login];
        if (!client) {
            client = std::make_unique<OdbcClient>();
            const QString password = login == u"sa"_s ? m_sim.password() : passwords.value(login);
            if (!client->connect(m_sim.port(), login, password))
                qWarning("%s: %s", qPrintable(login), qPrintable(client->lastError()));
        }
        return client.get();
    }

    QString scalar(const QString& login, const QString& sql)
    {
        const OdbcResult r = as(login)->exec(sql);
        if (!r.ok)
            return u"error %1"_s.arg(r.nativeError);
        return flatten(r.resultSets.value(0)).value(0);
    }

    QString file(const QString& name) const { return QDir(m_sim.dataDir()).filePath(name); }

    void disconnectAll() { m_clients.clear(); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile logins(m_dir.filePath(u"logins.txt"_s));
        QVERIFY(logins.open(QIODevice::WriteOnly));
        // The older form keeps its whole password (";" and "=" included) and stays sysadmin.
        logins.write("operator=Op-Pass1; server_roles=dbcreator; database_roles=db_backupoperator\n"
                     "watcher=Wa-Pass1; server_permissions=VIEW SERVER STATE\n"
                     "plain=Pl-Pass1; server_roles=\n"
                     "oldstyle=Old;Pass=1; x\n");
        logins.close();
        QVERIFY2(m_sim.start({u"--logins"_s, logins.fileName()}), m_sim.stderrText().constData());
        const OdbcResult r = as(u"sa"_s)->exec(
            u"CREATE DATABASE shop\r\nUSE shop\r\nCREATE TABLE t (a int)\r\nINSERT t VALUES (1)\r\n"
            "USE master\r\nBACKUP DATABASE shop TO DISK = N'%1'"_s.arg(file(u"sa-shop.bak"_s)));
        QVERIFY2(r.ok, qPrintable(r.error));
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        const QString bak = file(u"sa-shop.bak"_s);
        QTest::newRow("backup") << u"plain"_s
                                << u"BACKUP DATABASE shop TO DISK = N'%1'"_s.arg(file(u"p.bak"_s))
                                << 262
                                << u"BACKUP DATABASE permission denied in database 'shop'."_s;
        QTest::newRow("restore new")
            << u"plain"_s << u"RESTORE DATABASE other FROM DISK = N'%1'"_s.arg(bak) << 262
            << u"CREATE DATABASE permission denied in database 'master'."_s;
        QTest::newRow("restore filelistonly")
            << u"plain"_s << u"RESTORE FILELISTONLY FROM DISK = N'%1'"_s.arg(bak) << 262
            << QString();
        QTest::newRow("restore over, db_backupoperator only")
            << u"plain"_s << u"RESTORE DATABASE shop FROM DISK = N'%1' WITH REPLACE"_s.arg(bak)
            << 3110 << u"User does not have permission to RESTORE database 'shop'."_s;
        QTest::newRow("attach") << u"plain"_s
                                << u"CREATE DATABASE x ON (FILENAME = N'%1') FOR ATTACH"_s.arg(
                                       file(u"x.mdf"_s))
                                << 262 << QString();
        QTest::newRow("detach, not db_owner")
            << u"operator"_s << u"EXEC sp_detach_db N'shop'"_s << 15247
            << u"User does not have permission to perform this action."_s;
        QTest::newRow("alter database")
            << u"plain"_s << u"ALTER DATABASE shop SET OFFLINE"_s << 5011 << QString();
        QTest::newRow("sp_procoption")
            << u"operator"_s << u"EXEC sp_procoption N'p', N'startup', N'on'"_s << 15247
            << QString();
        QTest::newRow("use without a user")
            << u"plain"_s << u"USE shop"_s << 916
            << u"The server principal \"plain\" is not able to access the database \"shop\" under "
               "the current security context."_s;
        QTest::newRow("msdb history")
            << u"operator"_s << u"SELECT * FROM msdb.dbo.backupset"_s << 229 << QString();
        QTest::newRow("dm_server_services")
            << u"operator"_s << u"SELECT * FROM sys.dm_server_services"_s << 300
            << u"VIEW SERVER STATE permission was denied on object 'server', database 'master'."_s;
        QTest::newRow("kill") << u"operator"_s << u"KILL 51"_s << 6102
                              << u"User does not have permission to use the KILL statement."_s;
        QTest::newRow("xp_create_subdir")
            << u"operator"_s << u"EXEC xp_create_subdir N'%1'"_s.arg(file(u"sub"_s)) << 229
            << QString();
        QTest::newRow("xp_fixeddrives")
            << u"operator"_s << u"EXEC xp_fixeddrives"_s << 229 << QString();
        QTest::newRow("create login")
            << u"operator"_s << u"CREATE LOGIN y WITH PASSWORD = N'Y-Pass1'"_s << 15247
            << QString();
        QTest::newRow("server role")
            << u"operator"_s << u"ALTER SERVER ROLE sysadmin ADD MEMBER operator"_s << 15151
            << QString();
    }

    void refusals()
    {
        QFETCH(QString, login);
        QFETCH(QString, sql);
        QFETCH(int, number);
        QFETCH(QString, text);
        const OdbcResult r = as(login)->exec(sql);
        QVERIFY(!r.ok);
        // The refusal, then (for BACKUP, RESTORE and the like) the statement's own end.
        QVERIFY2(r.messageNumbers.contains(number), qPrintable(r.messages.join(u'\n')));
        if (!text.isEmpty())
            QCOMPARE(serverText(r.messages.value(r.messageNumbers.indexOf(number))), text);
        // Refused, nothing done: the database is still there and online for sa.
        QCOMPARE(scalar(u"sa"_s, u"SELECT DATABASEPROPERTYEX(N'shop', 'Status')"_s), u"ONLINE"_s);
    }

    // dbcreator with db_backupoperator in every user database: the flows a backup operator runs.
    void backupOperatorFlow_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("owner"); // of opcopy afterwards ("" when it is gone)
        const QString copy = file(u"op-shop.bak"_s);
        const QString move = u"MOVE N'shop' TO N'%1', MOVE N'shop_log' TO N'%2'"_s.arg(
            file(u"opcopy.mdf"_s), file(u"opcopy_log.ldf"_s));
        QTest::newRow("backup of sa's database")
            << u"BACKUP DATABASE shop TO DISK = N'%1' WITH INIT"_s.arg(copy) << QString();
        QTest::newRow("restore as a new database")
            << u"RESTORE DATABASE opcopy FROM DISK = N'%1' WITH %2"_s.arg(copy, move)
            << u"operator"_s;
        QTest::newRow("restore over its own")
            << u"RESTORE DATABASE opcopy FROM DISK = N'%1' WITH REPLACE, %2"_s.arg(copy, move)
            << u"operator"_s;
        QTest::newRow("detach its own") << u"EXEC sp_detach_db N'opcopy'"_s << QString();
        QTest::newRow("attach")
            << u"CREATE DATABASE opcopy ON (FILENAME = N'%1') LOG ON (FILENAME = "
               "N'%2') FOR ATTACH"_s.arg(file(u"opcopy.mdf"_s), file(u"opcopy_log.ldf"_s))
            << u"operator"_s;
        QTest::newRow("use it") << u"USE opcopy\r\nSELECT count(*) FROM t\r\nUSE master"_s
                                << u"operator"_s;
    }

    void backupOperatorFlow()
    {
        QFETCH(QString, sql);
        QFETCH(QString, owner);
        const OdbcResult r = as(u"operator"_s)->exec(sql);
        QVERIFY2(r.ok, qPrintable(r.error));
        const QString found =
            scalar(u"sa"_s, u"SELECT SUSER_SNAME(sid) FROM master.dbo.sysdatabases "
                            "WHERE name = N'opcopy'"_s);
        QCOMPARE(found, owner);
    }

    // Without VIEW SERVER STATE a login sees only its own session.
    void sessionsSeen_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<bool>("seesOthers");
        QTest::newRow("sa") << u"sa"_s << true;
        QTest::newRow("VIEW SERVER STATE") << u"watcher"_s << true;
        QTest::newRow("dbcreator") << u"operator"_s << false;
        QTest::newRow("public") << u"plain"_s << false;
    }

    void sessionsSeen()
    {
        QFETCH(QString, login);
        QFETCH(bool, seesOthers);
        as(u"sa"_s);
        as(u"plain"_s);
        for (const QString& view : {u"master.dbo.sysprocesses"_s, u"sys.dm_exec_sessions"_s}) {
            const QString own = scalar(
                login, u"SELECT count(*) FROM %1 WHERE %2 = @@SPID"_s.arg(
                           view, view.endsWith(u"sysprocesses"_s) ? u"spid"_s : u"session_id"_s));
            QCOMPARE(own, u"1"_s);
            const qint64 all = scalar(login, u"SELECT count(*) FROM "_s + view).toLongLong();
            QVERIFY2(seesOthers ? all > 1 : all == 1, qPrintable(view));
        }
    }

    void fileExists_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("row");
        QTest::newRow("sa, a file") << u"sa"_s << u"sa-shop.bak"_s << u"1|0|1"_s;
        QTest::newRow("sa, a folder") << u"sa"_s << QString() << u"0|1|1"_s;
        QTest::newRow("sa, no file") << u"sa"_s << u"none.bak"_s << u"0|0|1"_s;
        // Outside sysadmin the server looks as the caller, who sees no file at all.
        QTest::newRow("dbcreator, a file") << u"operator"_s << u"sa-shop.bak"_s << u"0|0|0"_s;
        QTest::newRow("public, a folder") << u"plain"_s << QString() << u"0|0|0"_s;
    }

    void fileExists()
    {
        QFETCH(QString, login);
        QFETCH(QString, name);
        QFETCH(QString, row);
        const QString path = name.isEmpty() ? m_sim.dataDir() : file(name);
        const OdbcResult r = as(login)->exec(u"EXEC master.dbo.xp_fileexist N'%1'"_s.arg(path));
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets.value(0)), QStringList{row});
    }

    void functions_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("value");
        QTest::newRow("sa sysadmin") << u"sa"_s << u"IS_SRVROLEMEMBER('sysadmin')"_s << u"1"_s;
        QTest::newRow("older form sysadmin")
            << u"oldstyle"_s << u"IS_SRVROLEMEMBER('sysadmin')"_s << u"1"_s;
        QTest::newRow("operator sysadmin")
            << u"operator"_s << u"IS_SRVROLEMEMBER('sysadmin')"_s << u"0"_s;
        QTest::newRow("operator dbcreator")
            << u"operator"_s << u"IS_SRVROLEMEMBER('dbcreator')"_s << u"1"_s;
        QTest::newRow("another's role")
            << u"plain"_s << u"IS_SRVROLEMEMBER('dbcreator', 'operator')"_s << u"1"_s;
        QTest::newRow("no such role") << u"sa"_s << u"IS_SRVROLEMEMBER('nosuch')"_s << u"NULL"_s;
        QTest::newRow("state, granted")
            << u"watcher"_s << u"HAS_PERMS_BY_NAME(NULL, NULL, 'VIEW SERVER STATE')"_s << u"1"_s;
        QTest::newRow("state, not granted")
            << u"operator"_s << u"HAS_PERMS_BY_NAME(NULL, NULL, 'VIEW SERVER STATE')"_s << u"0"_s;
        QTest::newRow("state, sysadmin")
            << u"sa"_s << u"HAS_PERMS_BY_NAME(NULL, NULL, 'VIEW SERVER STATE')"_s << u"1"_s;
        QTest::newRow("create any database, dbcreator")
            << u"operator"_s << u"HAS_PERMS_BY_NAME(NULL, NULL, 'CREATE ANY DATABASE')"_s << u"1"_s;
        QTest::newRow("create database, public")
            << u"plain"_s << u"HAS_PERMS_BY_NAME('master', 'DATABASE', 'CREATE DATABASE')"_s
            << u"0"_s;
        QTest::newRow("backup, db_backupoperator")
            << u"operator"_s << u"HAS_PERMS_BY_NAME('shop', 'DATABASE', 'BACKUP DATABASE')"_s
            << u"1"_s;
        QTest::newRow("backup, public")
            << u"plain"_s << u"HAS_PERMS_BY_NAME('shop', 'DATABASE', 'BACKUP DATABASE')"_s
            << u"0"_s;
        QTest::newRow("no such permission")
            << u"sa"_s << u"HAS_PERMS_BY_NAME(NULL, NULL, 'FLY')"_s << u"NULL"_s;
        QTest::newRow("sa db_owner") << u"sa"_s << u"IS_MEMBER('db_owner')"_s << u"1"_s;
        QTest::newRow("guest db_owner") << u"plain"_s << u"IS_MEMBER('db_owner')"_s << u"0"_s;
        QTest::newRow("suser_sname") << u"operator"_s << u"SUSER_SNAME()"_s << u"operator"_s;
        QTest::newRow("db access") << u"plain"_s << u"HAS_DBACCESS('shop')"_s << u"0"_s;
    }

    void functions()
    {
        QFETCH(QString, login);
        QFETCH(QString, expression);
        QFETCH(QString, value);
        QCOMPARE(scalar(login, u"SELECT "_s + expression), value);
    }

    // The statements that change who may do what, in order, with the errors SQL Server gives
    // (0: it succeeds).
    void administration_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("number");
        QTest::newRow("create login")
            << u"sa"_s << u"CREATE LOGIN temp1 WITH PASSWORD = N'Tp-Pass1'"_s << 0;
        QTest::newRow("login taken")
            << u"sa"_s << u"CREATE LOGIN TEMP1 WITH PASSWORD = N'Tp-Pass1'"_s << 15025;
        QTest::newRow("user in shop")
            << u"sa"_s << u"USE shop\r\nCREATE USER temp1 FOR LOGIN temp1"_s << 0;
        QTest::newRow("user taken")
            << u"sa"_s << u"USE shop\r\nCREATE USER temp1 FOR LOGIN temp1"_s << 15023;
        QTest::newRow("second user of a login")
            << u"sa"_s << u"USE shop\r\nCREATE USER temp2 FOR LOGIN temp1"_s << 15063;
        QTest::newRow("user of no login")
            << u"sa"_s << u"USE shop\r\nCREATE USER nobody FOR LOGIN nobody"_s << 15007;
        QTest::newRow("no such role")
            << u"sa"_s << u"USE shop\r\nALTER ROLE db_nosuch ADD MEMBER temp1"_s << 15151;
        QTest::newRow("role of a database not owned")
            << u"operator"_s << u"USE shop\r\nALTER ROLE db_owner ADD MEMBER temp1"_s << 15151;
        QTest::newRow("sp_addrolemember, no such member")
            << u"sa"_s << u"USE shop\r\nEXEC sp_addrolemember N'db_owner', N'nobody'"_s << 15410;
        QTest::newRow("sp_addrolemember")
            << u"sa"_s << u"USE shop\r\nEXEC sp_addrolemember N'db_owner', N'temp1'"_s << 0;
        QTest::newRow("server grant outside master")
            << u"sa"_s << u"USE shop\r\nGRANT VIEW SERVER STATE TO temp1"_s << 4621;
        QTest::newRow("server grant without the right")
            << u"operator"_s << u"GRANT VIEW SERVER STATE TO temp1"_s << 4613;
        QTest::newRow("grant to sa") << u"sa"_s << u"GRANT VIEW SERVER STATE TO sa"_s << 4624;
        QTest::newRow("mixed scopes")
            << u"sa"_s << u"GRANT VIEW SERVER STATE, BACKUP DATABASE TO temp1"_s << 4620;
        QTest::newRow("drop another's database") << u"plain"_s << u"DROP DATABASE shop"_s << 3701;
        QTest::newRow("drop login logged in") << u"sa"_s << u"DROP LOGIN plain"_s << 15434;
        QTest::newRow("drop user") << u"sa"_s << u"USE shop\r\nDROP USER temp1"_s << 0;
        QTest::newRow("drop login") << u"sa"_s << u"USE master\r\nDROP LOGIN temp1"_s << 0;
        QTest::newRow("drop login again") << u"sa"_s << u"DROP LOGIN temp1"_s << 15151;
    }

    void administration()
    {
        QFETCH(QString, login);
        QFETCH(QString, sql);
        QFETCH(int, number);
        as(u"plain"_s);
        const OdbcResult r = as(login)->exec(sql + u"\r\nUSE master"_s);
        if (number == 0)
            QVERIFY2(r.ok, qPrintable(r.error));
        else
            QVERIFY2(r.messageNumbers.contains(number), qPrintable(r.messages.join(u'\n')));
    }

    // What the catalogue views of principals show a login that may not see the others.
    void principalViews_data()
    {
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("rows");
        const QString sqlLogins =
            u"SELECT name FROM sys.server_principals WHERE type = 'S' ORDER BY name"_s;
        QTest::newRow("logins, public")
            << u"plain"_s << sqlLogins << QStringList{u"plain"_s, u"sa"_s};
        QTest::newRow("logins, sysadmin")
            << u"sa"_s << sqlLogins
            << QStringList{u"oldstyle"_s, u"operator"_s, u"plain"_s, u"sa"_s, u"watcher"_s};
        QTest::newRow("own roles")
            << u"operator"_s
            << u"SELECT r.name FROM sys.server_role_members m JOIN sys.server_principals r ON "
               "r.principal_id = m.role_principal_id"_s
            << QStringList{u"dbcreator"_s};
        QTest::newRow("database user of the file")
            << u"operator"_s << u"SELECT USER_NAME(), IS_MEMBER('db_backupoperator')"_s
            << QStringList{u"guest|0"_s};
        QTest::newRow("user of the file in a user database")
            << u"operator"_s
            << u"USE shop\r\nSELECT USER_NAME(), IS_MEMBER('db_backupoperator')\r\nUSE master"_s
            << QStringList{u"operator|1"_s};
        QTest::newRow("owner of a restored database")
            << u"operator"_s
            << u"USE opcopy\r\nSELECT USER_NAME(), IS_MEMBER('db_owner')\r\nUSE master"_s
            << QStringList{u"dbo|1"_s};
    }

    void principalViews()
    {
        QFETCH(QString, login);
        QFETCH(QString, query);
        QFETCH(QStringList, rows);
        const OdbcResult r = as(login)->exec(query);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets.value(0)), rows);
    }

    // CREATE LOGIN, CREATE USER, ALTER ROLE, ALTER SERVER ROLE and GRANT survive a restart, and
    // the user with its roles travels inside the database's backup.
    void principalsPersist()
    {
        OdbcResult r = as(u"sa"_s)->exec(
            u"CREATE LOGIN clerk WITH PASSWORD = N'Cl-Pass1', DEFAULT_LANGUAGE = us_english, "
            "DEFAULT_DATABASE = shop\r\n"
            "ALTER SERVER ROLE dbcreator ADD MEMBER clerk\r\n"
            "GRANT VIEW SERVER STATE TO clerk\r\n"
            "USE shop\r\nCREATE USER clerk FOR LOGIN clerk\r\n"
            "ALTER ROLE db_backupoperator ADD MEMBER clerk\r\nUSE master\r\n"
            "BACKUP DATABASE shop TO DISK = N'%1' WITH INIT"_s.arg(file(u"users.bak"_s)));
        QVERIFY2(r.ok, qPrintable(r.error));
        disconnectAll();
        QVERIFY2(m_sim.restart(), m_sim.stderrText().constData());
        r = as(u"sa"_s)->exec(u"RESTORE DATABASE shop2 FROM DISK = N'%1' WITH MOVE N'shop' TO "
                              "N'%2', MOVE N'shop_log' TO N'%3'"_s.arg(file(u"users.bak"_s),
                                                                       file(u"shop2.mdf"_s),
                                                                       file(u"shop2_log.ldf"_s)));
        QVERIFY2(r.ok, qPrintable(r.error));

        OdbcClient clerk;
        QVERIFY2(clerk.connect(m_sim.port(), u"clerk"_s, u"Cl-Pass1"_s),
                 qPrintable(clerk.lastError()));
        QCOMPARE(clerk.currentCatalog(), u"shop"_s);
        r = clerk.exec(u"SELECT IS_MEMBER('db_backupoperator'), IS_MEMBER('db_owner'), "
                       "IS_SRVROLEMEMBER('dbcreator'), HAS_PERMS_BY_NAME(NULL, NULL, "
                       "'VIEW SERVER STATE'), USER_NAME()\r\n"
                       "USE shop2\r\nSELECT IS_MEMBER('db_backupoperator'), USER_NAME()"_s);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(flatten(r.resultSets.value(0)), QStringList{u"1|0|1|1|clerk"_s});
        QCOMPARE(flatten(r.resultSets.value(1)), QStringList{u"1|clerk"_s});
        clerk.disconnect();
    }

    void cleanupTestCase()
    {
        disconnectAll();
        m_sim.stop();
    }
};

QTEST_GUILESS_MAIN(Security)
#include "tst_security.moc"
