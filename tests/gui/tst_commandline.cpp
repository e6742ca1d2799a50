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

    // --config is taken out wherever it stands, so that the mode is still the first word and the
    // options still the batch mode's; a folder that is a batch option's value is not taken.
    void configOption_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("error");
        QTest::addColumn<QStringList>("rest");
        const QStringList backup{u"dbsetup"_s, u"-backup_db"_s, u"/file:a.bak"_s};
        QTest::newRow("none") << backup << QString() << false << backup;
        QTest::newRow("before the mode")
            << QStringList{u"dbsetup"_s, u"--config"_s, u"/etc/ostrel"_s, u"-backup_db"_s,
                           u"/file:a.bak"_s}
            << u"/etc/ostrel"_s << false << backup;
        QTest::newRow("=, in capitals, after the options")
            << backup + QStringList{u"--CONFIG=/etc/my ostrel"_s} << u"/etc/my ostrel"_s << false
            << backup;
        QTest::newRow("the later one wins")
            << QStringList{u"dbsetup"_s, u"--config=/a"_s, u"--config"_s, u"/b"_s} << u"/b"_s
            << false << QStringList{u"dbsetup"_s};
        QTest::newRow("without a folder, last")
            << backup + QStringList{u"--config"_s} << QString() << true << backup;
        QTest::newRow("empty after =") << QStringList{u"dbsetup"_s, u"--config="_s} << QString()
                                       << true << QStringList{u"dbsetup"_s};
        QTest::newRow("a batch option's value")
            << QStringList{u"dbsetup"_s, u"-backup_db"_s, u"/file:--config"_s} << QString() << false
            << QStringList{u"dbsetup"_s, u"-backup_db"_s, u"/file:--config"_s};
    }
    void configOption()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, folder);
        QFETCH(bool, error);
        QFETCH(QStringList, rest);
        const ConfigOption option = takeConfigOption(arguments);
        QCOMPARE(option.folder, folder);
        QCOMPARE(!option.error.isEmpty(), error);
        QCOMPARE(arguments, rest);
    }

    // /verify and /close_connections: off unless given, in any case, the later one winning.
    void addedFlags_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<bool>("closeConnections");
        QTest::newRow("defaults") << QStringList() << false << false;
        QTest::newRow("both on") << QStringList{u"/verify"_s, u"/close_connections"_s} << true
                                 << true;
        QTest::newRow("capitals") << QStringList{u"/VERIFY"_s, u"/Close_Connections"_s} << true
                                  << true;
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

    // A command line a script can trust: what the mode does not know, or a value given to a flag,
    // is refused with one line naming the argument (and what was probably meant); a password
    // in it is not repeated.
    void strictOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error"); // "": accepted
        const auto row = [](const char* name, const QStringList& arguments, const QString& error) {
            QTest::newRow(name) << QStringList{u"dbsetup"_s} + arguments << error;
        };
        const QString help = u" Список параметров: dbsetup --help."_s;
        row("every backup option",
            {u"-backup_db"_s, u"/DB_NAME:x"_s, u"/file:C:\\b.bak"_s, u"/file_udl:u"_s,
             u"/install_dir"_s, u"/connection_string:a=b"_s, u"/add_file"_s, u"/not_add_file"_s,
             u"/verify"_s, u"/not_verify"_s, u"/copy_only"_s, u"/not_copy_only"_s, u"/show_form"_s,
             u"/not_show_form"_s, u"/no_dialogs"_s},
            QString());
        row("every restore option",
            {u"-restore_db"_s, u"/db_name:x"_s, u"/file:f"_s, u"/path_db:p"_s, u"/file_udl:u"_s,
             u"/install_dir:i"_s, u"/connection_string:a=b"_s, u"/replace_db"_s,
             u"/not_replace_db"_s, u"/restore_file"_s, u"/not_restore_file"_s,
             u"/close_connections"_s, u"/not_close_connections"_s, u"/show_form"_s,
             u"/not_show_form"_s, u"/NO_DIALOGS"_s},
            QString());
        row("the window: nothing checked", {u"/whatever"_s}, QString());
        row("a typo of /db_name", {u"-restore_db"_s, u"/dbname:scratch_copy2"_s},
            u"Неизвестный параметр \"/dbname:scratch_copy2\" режима -restore_db (может быть, "
            u"/db_name?)."_s +
                help);
        row("a typo of /verify", {u"-backup_db"_s, u"/verfy"_s},
            u"Неизвестный параметр \"/verfy\" режима -backup_db (может быть, /verify?)."_s + help);
        row("an option of the other mode", {u"-backup_db"_s, u"/path_db:D:\\Data"_s},
            u"Неизвестный параметр \"/path_db:D:\\Data\" режима -backup_db."_s + help);
        row("a connection string cut at a blank",
            {u"-backup_db"_s, u"/connection_string:Data"_s, u"Source=x;User"_s,
             u"ID=sa;Password=Secret-1;Initial"_s},
            u"Неизвестный параметр \"Source=x;User\" режима -backup_db."_s + help);
        row("a password in the unknown argument",
            {u"-backup_db"_s, u"/conection_string:Pwd=S-1;x=y"_s},
            u"Неизвестный параметр \"/conection_string:Pwd=***;x=y\" режима -backup_db (может "
            u"быть, /connection_string?)."_s +
                help);
        row("a flag given no", {u"-restore_db"_s, u"/replace_db:no"_s},
            u"Параметр \"/replace_db\" не принимает значения (\"/replace_db:no\"). Выключает его "
            u"/not_replace_db."_s +
                help);
        row("a flag given 0", {u"-restore_db"_s, u"/Close_Connections:0"_s},
            u"Параметр \"/close_connections\" не принимает значения (\"/Close_Connections:0\"). "
            u"Выключает его /not_close_connections."_s +
                help);
        row("an empty value is still a value", {u"-backup_db"_s, u"/no_dialogs:"_s},
            u"Параметр \"/no_dialogs\" не принимает значения (\"/no_dialogs:\")."_s + help);
    }
    void strictOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QCOMPARE(commandLineError(arguments), error);
    }

    // A first word that is no mode but looks like one is named; the window's own first words
    // and what is far from a mode are not.
    void mistypedMode_data()
    {
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("named");
        QTest::newRow("-backupdb") << u"-backupdb"_s << true;
        QTest::newRow("/backup_db") << u"/backup_db"_s << true;
        QTest::newRow("--restore-db") << u"--restore-db"_s << true;
        QTest::newRow("-restor_db") << u"-restor_db"_s << true;
        QTest::newRow("-backup_db: a mode") << u"-backup_db"_s << false;
        QTest::newRow("-platform") << u"-platform"_s << false;
        QTest::newRow("backup_db without - or /") << u"backup_db"_s << false;
    }
    void mistypedMode()
    {
        QFETCH(QString, word);
        QFETCH(bool, named);
        const QString text = mistypedModeText({u"dbsetup"_s, word});
        QCOMPARE(!text.isEmpty(), named);
        if (named)
            QVERIFY(text.startsWith(u'"' + word + u"\" — не режим программы"_s));
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
