// The batch mode's command line.
#include "CommandLine.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void mode_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("mode");
        QTest::newRow("backup") << QStringList{u"dbsetup"_s, u"-backup_db"_s}
                                << int(BatchMode::Backup);
        QTest::newRow("capitals") << QStringList{u"dbsetup"_s, u"-RESTORE_DB"_s}
                                  << int(BatchMode::Restore);
        QTest::newRow("shortened")
            << QStringList{u"dbsetup"_s, u"-backup"_s} << int(BatchMode::None);
        QTest::newRow("slash") << QStringList{u"dbsetup"_s, u"/backup_db"_s}
                               << int(BatchMode::None);
        QTest::newRow("none") << QStringList{u"dbsetup"_s} << int(BatchMode::None);
    }
    void mode()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, mode);
        QCOMPARE(int(batchModeOf(arguments)), mode);
    }

    // Only the first word asks for the usage or the version, in any case; anything else is the
    // window or a batch mode.
    void infoRequest_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("request");
        const auto row = [](const char* name, const QStringList& words, InfoRequest request) {
            QTest::newRow(name) << QStringList{u"dbsetup"_s} + words << int(request);
        };
        row("--help", {u"--help"_s}, InfoRequest::Help);
        row("-H", {u"-H"_s}, InfoRequest::Help);
        row("/?", {u"/?"_s}, InfoRequest::Help);
        row("-help", {u"-help"_s}, InfoRequest::Help);
        row("--VERSION", {u"--VERSION"_s}, InfoRequest::Version);
        row("-v", {u"-v"_s}, InfoRequest::Version);
        row("nothing", {}, InfoRequest::None);
        row("a batch mode", {u"-backup_db"_s}, InfoRequest::None);
        row("--help as an option", {u"-backup_db"_s, u"--help"_s}, InfoRequest::None);
        row("shortened", {u"--hel"_s}, InfoRequest::None);
        row("with a value", {u"--help:all"_s}, InfoRequest::None);
        row("an empty word", {QString()}, InfoRequest::None);
    }
    void infoRequest()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, request);
        QCOMPARE(int(infoRequestOf(arguments)), request);
    }

    // /verify and /close_connections: off unless given, in any case, a value ignored, the later
    // one winning.
    void addedFlags_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<bool>("closeConnections");
        QTest::newRow("defaults") << QStringList() << false << false;
        QTest::newRow("both on") << QStringList{u"/verify"_s, u"/close_connections"_s} << true
                                 << true;
        QTest::newRow("capitals, a value ignored")
            << QStringList{u"/VERIFY:no"_s, u"/Close_Connections:0"_s} << true << true;
        QTest::newRow("the later off wins")
            << QStringList{u"/verify"_s, u"/not_verify"_s, u"/close_connections"_s,
                           u"/not_close_connections"_s}
            << false << false;
        QTest::newRow("the later on wins")
            << QStringList{u"/not_verify"_s, u"/verify"_s, u"/not_close_connections"_s,
                           u"/close_connections"_s}
            << true << true;
    }
    void addedFlags()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, verify);
        QFETCH(bool, closeConnections);
        const BackupOptions backup =
            parseBackupOptions(QStringList{u"dbsetup"_s, u"-backup_db"_s} + options);
        const RestoreOptions restore =
            parseRestoreOptions(QStringList{u"dbsetup"_s, u"-restore_db"_s} + options);
        QCOMPARE(backup.verify, verify);
        QCOMPARE(restore.closeConnections, closeConnections);
    }

    void backupOptions()
    {
        const BackupOptions o = parseBackupOptions(
            {u"dbsetup"_s, u"-backup_db"_s, u"/DB_NAME:Shop"_s, u"/file:C:\\b\\x.bak"_s,
             u"/not_show_form"_s, u"/show_form:no"_s, u"/not_add_file"_s, u"/unknown:1"_s,
             u"/connection_string:Data Source=a;User ID=sa"_s, u"/install_dir"_s});
        QCOMPARE(o.dbName, u"Shop"_s);       // the value keeps its case
        QCOMPARE(o.file, u"C:\\b\\x.bak"_s); // everything after the first ":"
        QVERIFY(o.showProgress);             // a flag ignores its value; the later one wins
        QVERIFY(!o.addFiles);
        QCOMPARE(o.connectionString, u"Data Source=a;User ID=sa"_s);
        QCOMPARE(o.installDir, QString()); // no ":" gives an empty value

        const BackupOptions defaults = parseBackupOptions({u"dbsetup"_s, u"-backup_db"_s});
        QVERIFY(defaults.showProgress);
        QVERIFY(defaults.addFiles);
        QVERIFY(defaults.file.isEmpty());
    }

    void restoreOptions_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("extract");
        QTest::addColumn<bool>("replace");
        QTest::newRow("defaults") << QStringList() << false << true;
        QTest::newRow("restore_file turns extraction on")
            << QStringList{u"/restore_file"_s} << true << true;
        QTest::newRow("the later wins")
            << QStringList{u"/RESTORE_FILE"_s, u"/not_restore_file"_s} << false << true;
        QTest::newRow("not_replace_db") << QStringList{u"/not_replace_db"_s} << false << false;
    }
    void restoreOptions()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, extract);
        QFETCH(bool, replace);
        const RestoreOptions o = parseRestoreOptions(
            QStringList{u"dbsetup"_s, u"-restore_db"_s, u"/path_db:D:\\Data"_s} + options);
        QCOMPARE(o.extractFiles, extract);
        QCOMPARE(o.replace, replace);
        QCOMPARE(o.pathDb, u"D:\\Data"_s);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
