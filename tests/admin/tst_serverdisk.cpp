// A server on another machine (bin/sqlsim --server-root): the program finds out that the server
// does not see its files, checks, makes and lists paths through the server, backs up, restores and
// attaches on the server's disks, and says whose disk and whose rights are at fault. And the
// same-machine server stays what it was.
#include "Connection.h"
#include "DatabaseFlows.h"
#include "MyException.h"
#include "MyMSSQL.h"
#include "ScriptedOperatorUi.h"
#include "ServerDisk.h"
#include "ServerRights.h"
#include "SimConnection.h"
#include "TestFiles.h"
#include "Thrown.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString instance = u"C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL"_s;
const QString serviceAccount = u"NT Service\\MSSQLSERVER"_s;

std::unique_ptr<db::Connection> connectTo(SqlsimProcess& sim)
{
    auto c = openConnection(sim, u"sa"_s);
    c->setCommandTimeout(3600);
    return c;
}

QString thrownText(const std::function<void()>& action)
{
    return thrownBy(action).message;
}

} // namespace

class TestServerDisk : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    SqlsimProcess m_remote; // a Windows server whose drives C: and D: are folders of m_dir
    SqlsimProcess m_local;  // the server on this machine

    QString root(const QString& relative = {}) const
    {
        return m_dir.filePath(u"root/"_s + relative);
    }

    FlowContext context(db::Connection& c, ScriptedOperatorUi& ui, ServerDisk* disk)
    {
        FlowContext context{c, ui, m_dir.filePath(u"program/"_s), QString(), 0, {}, {}};
        context.disk = disk;
        return context;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(m_dir.filePath(u"program"_s)));
        QVERIFY(QDir().mkpath(root(u"D/Data"_s)));
        QVERIFY2(m_remote.start({u"--server-root"_s, root()}), m_remote.stderrText().constData());
        QVERIFY2(m_local.start(), m_local.stderrText().constData());
        QVERIFY(m_remote.exec(u"CREATE DATABASE shop"_s));
        QVERIFY(m_remote.exec(u"CREATE TABLE shop.dbo.t (a int); INSERT INTO shop.dbo.t "
                              u"VALUES (1), (2)"_s));
    }

    void whereTheServerIs()
    {
        auto remote = connectTo(m_remote);
        ServerDisk remoteDisk(*remote);
        QVERIFY(remoteDisk.isRemote());
        QVERIFY(remoteDisk.isServerPath(u"/home/operator/x.bak"_s));

        auto local = connectTo(m_local);
        ServerDisk localDisk(*local);
        QVERIFY(!localDisk.isRemote());
        QVERIFY(!localDisk.isServerPath(m_dir.filePath(u"x.bak"_s)));
        // The probe file is gone once asked.
        const QStringList probes =
            QDir(QDir::tempPath()).entryList({u"dbsetup-probe-*"_s}, QDir::Files);
        QVERIFY2(probes.isEmpty(), qPrintable(probes.join(u' ')));
    }

    // A new connection string is a new question; the same one is not asked twice.
    void askedOncePerConnection()
    {
        auto c = connectTo(m_local);
        ServerDisk disk(*c);
        QVERIFY(!disk.isRemote());
        c->close();
        openOn(*c, m_remote, u"sa"_s);
        QVERIFY(disk.isRemote());
    }

    void serverAnswers()
    {
        auto c = connectTo(m_remote);
        ServerDisk disk(*c);
        QCOMPARE(disk.defaultDataFolder(), instance + u"\\DATA\\"_s);
        QCOMPARE(disk.defaultBackupFolder(), instance + u"\\Backup\\"_s);
        QCOMPARE(disk.serviceAccount(), serviceAccount);
        QCOMPARE(disk.drives(), (QStringList{u"C:\\"_s, u"D:\\"_s}));

        QCOMPARE(disk.folderExists(u"d:\\data"_s), std::optional<bool>(true));
        QCOMPARE(disk.folderExists(u"D:\\Data\\"_s), std::optional<bool>(true));
        QCOMPARE(disk.folderExists(u"D:\\Nothing"_s), std::optional<bool>(false));
        QCOMPARE(disk.fileExists(instance + u"\\DATA\\shop.mdf"_s), std::optional<bool>(true));
        QCOMPARE(disk.fileExists(u"D:\\Data"_s), std::optional<bool>(false));

        disk.makeFolder(u"D:\\New\\Deeper\\"_s);
        QVERIFY(QFileInfo(root(u"D/New/Deeper"_s)).isDir());
        disk.makeFolder(u"D:\\New\\Deeper"_s); // already there: no error
        const QString refused = thrownText([&] { disk.makeFolder(u"Q:\\NoDrive"_s); });
        QVERIFY2(refused.contains(u"xp_create_subdir() returned error 3"_s), qPrintable(refused));

        QVERIFY(writeFile(root(u"D/Data/b.BAK"_s), "b"));
        QVERIFY(writeFile(root(u"D/Data/a.bak"_s), "a"));
        QVERIFY(QDir().mkpath(root(u"D/Data/Old"_s)));
        QStringList listed;
        for (const auto& entry : disk.entries(u"D:\\Data"_s))
            listed << (entry.isFile ? entry.name : entry.name + u'\\');
        QCOMPARE(listed, (QStringList{u"Old\\"_s, u"a.bak"_s, u"b.BAK"_s}));

        const std::optional<quint64> free = disk.freeBytes(u"d:\\Data\\x.bak"_s);
        QVERIFY(free && *free > 0);
        QVERIFY(!disk.freeBytes(u"/srv/x.bak"_s)); // no drive of the server's
    }

    // Before SQL Server 2019 there is no default backup path: the folder beside DATA.
    void defaultBackupFolderOfAnOlderServer()
    {
        SqlsimProcess older;
        QTemporaryDir olderRoot;
        QVERIFY2(
            older.start({u"--server-root"_s, olderRoot.path(), u"--version-year"_s, u"2016"_s}),
            older.stderrText().constData());
        auto c = connectTo(older);
        ServerDisk disk(*c);
        QCOMPARE(disk.defaultBackupFolder(), instance + u"\\Backup\\"_s);
    }

    void backupIntoAServerFolderThatDidNotExist()
    {
        auto c = connectTo(m_remote);
        ServerDisk disk(*c);
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui, &disk);
        const QString file = u"D:\\Backups\\Nightly\\shop.bak"_s;
        BackupDB(ctx, u"shop"_s, QString(), file, false, true);
        QVERIFY(QFileInfo(root(u"D/Backups/Nightly/shop.bak"_s)).isFile());
        QCOMPARE(ui.shown.size(), 1);
        QVERIFY(ui.shown.first().text.endsWith(u"Файл копии: "_s + file));
        // Nothing of the server's path was made here.
        QVERIFY(!QFileInfo::exists(u"D:\\Backups"_s));
        QVERIFY(!QFileInfo::exists(u"D:"_s));
    }

    void restoreIntoAnotherServerFolder()
    {
        auto c = connectTo(m_remote);
        ServerDisk disk(*c);
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui, &disk);
        BackupDB(ctx, u"shop"_s, QString(), u"C:\\Backups\\shop.bak"_s, false, false);
        RestoreDB(ctx, u"shop_copy"_s, u"c:\\backups\\SHOP.bak"_s, u"D:\\Copies\\Two"_s, QString(),
                  false, false, true, false);
        QVERIFY(QFileInfo(root(u"D/Copies/Two/shop.mdf"_s)).isFile());
        QCOMPARE(m_remote.rows(u"SELECT filename FROM sysdatabases WHERE name = 'shop_copy'"_s),
                 QStringList{u"D:\\Copies\\Two\\shop.mdf"_s});
        QCOMPARE(m_remote.rows(u"SELECT count(*) FROM shop_copy.dbo.t"_s), QStringList{u"2"_s});
    }

    // What the server cannot reach is refused with the program's own texts, the server's error and
    // whose disk it is.
    void refusals_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("backup into a folder of this machine")
            << true << u"/home/operator/backups/shop.bak"_s << QString()
            << QStringList{u"Не удалось создать путь \"/home/operator/backups\"."_s,
                           u"Путь \"/home/operator/backups/\" не найден на диске сервера (сервер "
                           u"работает на другом компьютере и видит только свои диски)."_s,
                           u"учётной записью \"NT Service\\MSSQLSERVER\""_s,
                           u"xp_create_subdir() returned error 3"_s};
        QTest::newRow("backup onto a drive the server lacks")
            << true << u"Q:\\shop.bak"_s << QString()
            << QStringList{u"Не удалось создать путь \"Q:\"."_s,
                           u"Путь \"Q:\\\" не найден на диске сервера"_s,
                           u"xp_create_subdir() returned error 3"_s};
        QTest::newRow("restore from a file only this machine has")
            << false << QString() << u"D:\\Copies\\Three"_s
            << QStringList{u"Файл резервной копии \""_s, u"\" не найден."_s};
        QTest::newRow("restore into a folder of this machine")
            << false << u"C:\\Backups\\shop.bak"_s << u"/srv/restored"_s
            << QStringList{u"Не удалось создать путь \"/srv/restored\"."_s,
                           u"не найден на диске сервера"_s, u"xp_create_subdir()"_s};
    }
    void refusals()
    {
        QFETCH(bool, backup);
        QFETCH(QString, file);
        QFETCH(QString, folder);
        QFETCH(QStringList, expected);
        auto c = connectTo(m_remote);
        ServerDisk disk(*c);
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui, &disk);
        // A backup file that exists here and not on the server.
        const QString localFile = m_dir.filePath(u"here.bak"_s);
        QVERIFY(writeFile(localFile, "local"));
        if (!backup)
            BackupDB(ctx, u"shop"_s, QString(), u"C:\\Backups\\shop.bak"_s, false, false);
        const QString message = thrownText([&] {
            if (backup)
                BackupDB(ctx, u"shop"_s, QString(), file, false, true);
            else
                RestoreDB(ctx, u"shop_refused"_s, file.isEmpty() ? localFile : file, folder,
                          QString(), false, false, true, false);
        });
        for (const QString& part : expected)
            QVERIFY2(message.contains(part), qPrintable(message));
        QCOMPARE(ui.runningOperations, 0);
    }

    // The free space is the server volume's, with the program's message.
    void notEnoughSpaceOnTheServer()
    {
        SqlsimProcess full;
        QTemporaryDir fullRoot;
        QVERIFY2(full.start({u"--server-root"_s, fullRoot.path(), u"--disk-free"_s, u"1000"_s}),
                 full.stderrText().constData());
        QVERIFY(full.exec(u"CREATE DATABASE shop"_s));
        auto c = connectTo(full);
        ServerDisk disk(*c);
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui, &disk);
        // This machine has room: only the server's answer can refuse.
        ctx.freeBytes = [](const QString&) {
            return std::optional<quint64>(1ULL << 40);
        };
        const QString message = thrownText(
            [&] { BackupDB(ctx, u"shop"_s, QString(), u"C:\\shop.bak"_s, false, true); });
        QVERIFY2(message.startsWith(u"На диске не хватает свободного места для сохранения "
                                    u"бэкап-файла.\r\nРазмер бэкапа-файла "_s),
                 qPrintable(message));
        QVERIFY2(message.endsWith(u" MБ .\r\nСвободно на диске сервера C: 0 MБ."_s),
                 qPrintable(message));
        QVERIFY(!QFileInfo::exists(fullRoot.filePath(u"C/shop.bak"_s)));
    }

    void attachFromServerPaths()
    {
        QVERIFY(m_remote.exec(u"CREATE DATABASE stock ON (NAME = stock, FILENAME = "
                              u"'D:\\Data\\stock.mdf') LOG ON (NAME = stock_log, FILENAME = "
                              u"'D:\\Data\\stock_log.ldf')"_s));
        auto c = connectTo(m_remote);
        ServerDisk disk(*c);
        MSSQLDetachDB(u"stock"_s, *c);
        c->setDefaultDatabase(u"master"_s);
        MSSQLAttachDB(u"stock"_s, u"d:\\data\\STOCK.mdf"_s, u"D:\\Data\\stock_log.ldf"_s, *c,
                      &disk);
        QCOMPARE(m_remote.rows(u"SELECT count(*) FROM sysdatabases WHERE name = 'stock'"_s),
                 QStringList{u"1"_s});

        const QString message = thrownText(
            [&] { MSSQLAttachDB(u"lost"_s, u"D:\\Gone\\lost.mdf"_s, QString(), *c, &disk); });
        QVERIFY2(
            message.startsWith(u"Ошибка подключение базы данных.\r\nПуть \"D:\\Gone\\lost.mdf\" "
                               u"не найден на диске сервера"_s),
            qPrintable(message));
        QVERIFY2(message.contains(u"Operating system error 3"_s), qPrintable(message));
    }

    // The same machine: paths are this machine's, checked and made here, as before.
    void sameMachineUnchanged()
    {
        auto c = connectTo(m_local);
        ServerDisk disk(*c);
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui, &disk);
        QVERIFY(m_local.exec(u"IF DB_ID('shop') IS NULL CREATE DATABASE shop"_s));
        const QString file = m_dir.filePath(u"local/made/here/shop.bak"_s);
        BackupDB(ctx, u"shop"_s, QString(), file, false, false);
        QVERIFY(QFileInfo(file).isFile());
        const QString missing = m_dir.filePath(u"local/none.bak"_s);
        QCOMPARE(thrownText([&] {
                     RestoreDB(ctx, u"shop2"_s, missing, m_dir.filePath(u"r"_s), QString(), false,
                               false, false, false);
                 }),
                 u"Файл резервной копии \""_s + missing + u"\" не найден."_s);
    }

    // The right is named only when the server refused for lack of one, and after its text.
    void rightsHint_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("hint");
        const QString lacks = u" не хватает прав: "_s + neededRight::backup + u'.';
        QTest::newRow("BACKUP refused")
            << 262 << u"OFFICE\\ivanov"_s
            << u"Учётной записи \"OFFICE\\ivanov\" не хватает прав: "_s + neededRight::backup +
                   u'.';
        QTest::newRow("login unknown") << 15247 << QString() << u"Текущей учётной записи"_s + lacks;
        QTest::newRow("ALTER DATABASE refused before the operation")
            << 5011 << u"operator"_s
            << u"Учётной записи \"operator\" не хватает прав: чтобы отключить другие подключения и "
               u"перевести базу в OFFLINE, нужно право ALTER на эту базу (роль db_owner, dbcreator "
               u"или sysadmin)."_s;
        QTest::newRow("in use is no matter of rights") << 3101 << u"operator"_s << QString();
        QTest::newRow("no server error") << 0 << u"operator"_s << QString();
    }
    void rightsHint()
    {
        QFETCH(int, number);
        QFETCH(QString, login);
        QFETCH(QString, hint);
        ServerRights rights;
        rights.login = login;
        rights.sysadmin = false;
        QCOMPARE(RightsHint(Error(u"refused"_s, number), rights, neededRight::backup), hint);
        // Carried through the program's own error that wraps it.
        const Error cause(u"refused"_s, number);
        const MyException wrapped({}, u"Не удалось создать резервную копию."_s, &cause);
        QCOMPARE(RightsHint(wrapped, rights, neededRight::backup), hint);
    }

    void accessHint_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("account");
        QTest::addColumn<bool>("remote");
        QTest::addColumn<QString>("hint");

        const QString named = u"работает под учётной записью \"NT Service\\MSSQLSERVER\""_s;
        QTest::newRow("backup device, access denied")
            << 3201
            << u"[FreeTDS][SQL Server]Cannot open backup device 'C:\\Locked\\x.bak'. Operating "
               u"system error 5(Access is denied.)."_s
            << serviceAccount << true
            << u"Нет доступа к \"C:\\Locked\\x.bak\": служба SQL Server "_s + named +
                   u", и права на эту папку нужны этой учётной записи, а не оператору."_s;
        QTest::newRow("backup device, access denied, in Russian")
            << 3201
            << u"[FreeTDS][SQL Server]Не удается открыть устройство резервного копирования "
               u"\"C:\\Locked\\x.bak\". Ошибка операционной системы 5(Отказано в доступе.)."_s
            << serviceAccount << true
            << u"Нет доступа к \"C:\\Locked\\x.bak\": служба SQL Server "_s + named +
                   u", и права на эту папку нужны этой учётной записи, а не оператору."_s;
        QTest::newRow("directory lookup, not found, same machine")
            << 5133
            << u"Directory lookup for the file \"/var/opt/d/x.mdf\" failed with the operating "
               u"system error 3(The system cannot find the path specified.)."_s
            << u"mssql"_s << false
            << u"Путь \"/var/opt/d/x.mdf\" не найден на диске сервера. Служба SQL Server работает "
               u"под учётной записью \"mssql\": папка должна быть на сервере и доступна этой "
               u"учётной записи, а не оператору."_s;
        QTest::newRow("restore target, the account unknown")
            << 3634
            << u"The operating system returned the error '5(Access is denied.)' while attempting "
               u"'RestoreContainer::ValidateTargetForCreation' on 'D:\\R\\x.mdf'."_s
            << QString() << true
            << u"Нет доступа к \"D:\\R\\x.mdf\": служба SQL Server работает под своей учётной "
               u"записью, и права на эту папку нужны этой учётной записи, а не оператору."_s;
        QTest::newRow("no path in the message: the statement's")
            << 22048 << u"xp_create_subdir() returned error 5, 'Access is denied.'"_s
            << serviceAccount << true
            << u"Нет доступа к \"D:\\Given\": служба SQL Server "_s + named +
                   u", и права на эту папку нужны этой учётной записи, а не оператору."_s;
        QTest::newRow("another operating system error")
            << 3202
            << u"Write on \"C:\\x.bak\" failed: 112(There is not enough space on the disk.)"_s
            << serviceAccount << true << QString();
        QTest::newRow("file not found is not a folder matter")
            << 3201
            << u"Cannot open backup device 'C:\\x.bak'. Operating system error 2(The system cannot "
               u"find the file specified.)."_s
            << serviceAccount << true << QString();
        QTest::newRow("no operating system error")
            << 911 << u"Database 'x' does not exist."_s << serviceAccount << true << QString();
    }
    void accessHint()
    {
        QFETCH(int, number);
        QFETCH(QString, message);
        QFETCH(QString, account);
        QFETCH(bool, remote);
        QFETCH(QString, hint);
        QCOMPARE(ServerAccessHint(number, message, u"D:\\Given"_s, account, remote), hint);
    }

    void folderWithSeparator_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("windows") << u"C:\\Data"_s << u"C:\\Data\\"_s;
        QTest::newRow("windows, ended") << u"C:\\Data\\"_s << u"C:\\Data\\"_s;
        QTest::newRow("forward slash kept") << u"C:/Data/"_s << u"C:/Data/"_s;
        QTest::newRow("linux server") << u"/var/opt/mssql/data"_s << u"/var/opt/mssql/data/"_s;
        QTest::newRow("network") << u"\\\\nas\\share"_s << u"\\\\nas\\share\\"_s;
        QTest::newRow("empty") << QString() << QString();
    }
    void folderWithSeparator()
    {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(ServerFolderWithSeparator(folder), expected);
    }
};

QTEST_GUILESS_MAIN(TestServerDisk)
#include "tst_serverdisk.moc"
