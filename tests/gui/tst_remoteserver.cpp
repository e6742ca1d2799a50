// The operator's jobs on a server on another machine (sqlsim --server-root), in the demo's own
// configuration ("scripts/demo --prepare" with the sample databases on the server's drive D:,
// identity probe on): every browse button shows the server's disks, the files land there, and a
// path of this machine is refused with the server's words and whose disk it is.
#include "DBWorkU.h"
#include "GuiFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

const QString dataFolder =
    u"C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL\\DATA\\"_s;
const QString backupFolder =
    u"C:\\Program Files\\Microsoft SQL Server\\MSSQL15.MSSQLSERVER\\MSSQL\\Backup\\"_s;

} // namespace

class TestRemoteServer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_disks; // the server machine's drives, outliving the simulator
    LoggedSqlsim m_sim;
    ProgramFolder m_folder;

    QString onServer(const QString& relative) const { return m_disks.filePath(relative); }

    QStringList query(const QString& sql)
    {
        OdbcClient client;
        if (!client.connect(m_sim.port(), u"sa"_s, m_sim.password()))
            return {};
        return flatten(client.exec(sql).resultSets.value(0));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_disks.isValid());
        QVERIFY(QDir(m_disks.path()).mkpath(u"D/Data"_s));
        QVERIFY2(m_sim.start({u"--server-root"_s, m_disks.path()}),
                 m_sim.process().stderrText().constData());
        QProcess prepare;
        prepare.start(u"bash"_s, {QStringLiteral(DBSETUP_SOURCE_DIR "/scripts/demo"),
                                  u"--prepare"_s, m_folder.path(), QString::number(m_sim.port()),
                                  m_sim.password(), u"D:\\Data"_s});
        QVERIFY(prepare.waitForFinished(120000));
        QVERIFY2(prepare.exitStatus() == QProcess::NormalExit && prepare.exitCode() == 0,
                 prepare.readAllStandardError().constData());
    }

    void operatorJobs()
    {
        ScriptedOperatorUi ui;
        auto form = openForm(m_folder, ui, QString());
        QVERIFY(form);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(shownTexts(ui).join(u'\n')));
        QCOMPARE(listedNames(*form),
                 (QStringList{u"ostrel_ts"_s, u"ostrel_ts_2023"_s, u"sklad"_s}));
        auto* fileInDB = control<QCheckBox>(*form, u"isFileInDB"_s);
        QVERIFY2(fileInDB->isEnabled(), "the identity probe of the sample database");
        // The installation folder is not on the server: the restore folder is the server's.
        QCOMPARE(control<QLineEdit>(*form, u"RestoreToDirectory"_s)->text(), dataFolder);

        // Detach, then attach back from the catalogue, whose paths the server confirms.
        QVERIFY(selectListedRow(*form, u"sklad"_s));
        ui.answers = {true};
        clickControl(*form, u"BDeleteDB"_s);
        QCOMPARE(listedNames(*form), (QStringList{u"ostrel_ts"_s, u"ostrel_ts_2023"_s}));
        control<QComboBox>(*form, u"DBName"_s)->setEditText(u"sklad"_s);
        QCOMPARE(control<QLineEdit>(*form, u"DBFileName"_s)->text(), u"D:\\Data\\sklad.mdf"_s);
        QCOMPARE(control<QLineEdit>(*form, u"DBLogFileName"_s)->text(),
                 u"D:\\Data\\sklad_log.ldf"_s);
        ui.shown.clear();
        clickControl(*form, u"bAttachDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"База подключена"_s});

        // The data file's button browses the server, from the field's folder.
        control<QComboBox>(*form, u"DBName"_s)->setEditText(u"ostrel_ts_test"_s);
        ui.fileAnswers = {u"D:\\Data\\ostrel_ts_test.mdf"_s};
        clickControl(*form, u"DBFileNameBrowse"_s);
        QCOMPARE(ui.serverDialogs.size(), 1);
        QCOMPARE(ui.serverDialogs[0].kind, OperatorUi::ServerChoice::OpenFile);
        QCOMPARE(ui.serverDialogs[0].dialog.filter, u"Файл данных|*.MDF|Все файлы (*.*)|*.*"_s);
        QCOMPARE(ui.serverDialogs[0].dialog.folder, u"D:\\Data\\"_s);
        QCOMPARE(ui.serverDrives, (QStringList{u"C:\\"_s, u"D:\\"_s}));
        QVERIFY2(ui.serverListing.contains(u"ostrel_ts_test.mdf"_s),
                 qPrintable(ui.serverListing.join(u' ')));
        control<QLineEdit>(*form, u"DBLogFileName"_s)->clear();
        ui.shown.clear();
        clickControl(*form, u"bAttachDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"База подключена"_s});
        QVERIFY(query(u"SELECT name FROM sysdatabases"_s).contains(u"ostrel_ts_test"_s));

        // A backup from the server's backup folder into a folder it does not have yet.
        QVERIFY(selectListedRow(*form, u"ostrel_ts"_s));
        fileInDB->setChecked(true);
        const QString backup = u"D:\\Backups\\Nightly\\ostrel_ts.bak"_s;
        ui.shown.clear();
        ui.fileAnswers = {backup};
        clickControl(*form, u"BBackupDB"_s);
        QCOMPARE(ui.serverDialogs.last().kind, OperatorUi::ServerChoice::SaveFile);
        QCOMPARE(ui.serverDialogs.last().dialog.title, u"Укажите имя файла для резервной копии"_s);
        QCOMPARE(ui.serverDialogs.last().dialog.folder, backupFolder);
        QVERIFY(ui.serverDialogs.last().dialog.fileName.startsWith(u"ostrel_ts_"_s));
        QCOMPARE(shownTexts(ui), QStringList{u"Резервное копирование базы \"ostrel_ts\" успешно "
                                             u"завершено.\r\nФайл копии: "_s +
                                             backup});
        QVERIFY(QFileInfo(onServer(u"D/Backups/Nightly/ostrel_ts.bak"_s)).isFile());
        // The next backup's dialog starts where this one went.
        ui.fileAnswers = {std::nullopt};
        clickControl(*form, u"BBackupDB"_s);
        QCOMPARE(ui.serverDialogs.last().dialog.folder, u"D:\\Backups\\Nightly\\"_s);

        // The restore tab: the backup chosen on the server, restored into a new server folder.
        control<QTabWidget>(*form, u"Page"_s)->setCurrentIndex(1);
        control<QLineEdit>(*form, u"BackupFileName"_s)->setText(backup);
        ui.fileAnswers = {backup};
        clickControl(*form, u"BackupFileNameBrowse"_s);
        QCOMPARE(ui.serverDialogs.last().kind, OperatorUi::ServerChoice::OpenFile);
        QCOMPARE(ui.serverDialogs.last().dialog.folder, u"D:\\Backups\\Nightly\\"_s);
        QCOMPARE(ui.serverListing, QStringList{u"ostrel_ts.bak"_s});
        // The restore folder's dialog: where the database to be replaced has its files, else
        // the server's default, and the operator's own folder once there is one.
        const auto restoreFolderStart = [&](const QString& name) {
            control<QLineEdit>(*form, u"RestoreDBName"_s)->setText(name);
            ui.fileAnswers = {std::nullopt};
            clickControl(*form, u"RestoreToDirectoryBrowse"_s);
            return ui.serverDialogs.last().dialog.folder;
        };
        QCOMPARE(control<QLineEdit>(*form, u"RestoreToDirectory"_s)->text(), dataFolder);
        QCOMPARE(restoreFolderStart(u"OSTREL_TS "_s), u"D:\\Data\\"_s);
        QCOMPARE(restoreFolderStart(u"ostrel_copy"_s), dataFolder);
        ui.fileAnswers = {u"D:\\Copies\\Two"_s};
        clickControl(*form, u"RestoreToDirectoryBrowse"_s);
        QCOMPARE(ui.serverDialogs.last().kind, OperatorUi::ServerChoice::Folder);
        QCOMPARE(ui.serverDialogs.last().dialog.title, u"Восстановить базу в папку"_s);
        QCOMPARE(control<QLineEdit>(*form, u"RestoreToDirectory"_s)->text(), u"D:\\Copies\\Two"_s);
        ui.shown.clear();
        ui.answers = {true};
        clickControl(*form, u"BRestoreDB"_s);
        QCOMPARE(shownTexts(ui).mid(1), QStringList{u"База восстановлена."_s});
        QVERIFY(QFileInfo(onServer(u"D/Copies/Two/ostrel_ts.mdf"_s)).isFile());
        QCOMPARE(query(u"SELECT count(*) FROM ostrel_copy.dbo.orders"_s), QStringList{u"14"_s});
        QCOMPARE(restoreFolderStart(u"ostrel_ts"_s), u"D:\\Copies\\Two"_s);

        // No dialog of this machine's disk was opened on the way.
        QVERIFY(ui.dialogs.isEmpty());
    }

    // A path of this machine, typed where the server's is meant.
    void pathOfThisMachineRefused()
    {
        ScriptedOperatorUi ui;
        auto form = openForm(m_folder, ui, QString());
        QVERIFY(form);
        QVERIFY(selectListedRow(*form, u"ostrel_ts"_s));
        ui.fileAnswers = {m_folder.path() + u"backups/ostrel_ts.bak"_s};
        clickControl(*form, u"BBackupDB"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Error);
        const QString text = ui.shown[0].text;
        QVERIFY2(text.startsWith(u"Не удалось создать путь \""_s + m_folder.path() +
                                 u"backups\".\r\nПуть \""_s),
                 qPrintable(text));
        QVERIFY2(text.contains(u"не найден на диске сервера (сервер работает на другом компьютере "
                               u"и видит только свои диски). Служба SQL Server работает под "
                               u"учётной записью \"NT Service\\MSSQLSERVER\""_s),
                 qPrintable(text));
        QVERIFY2(text.contains(u"xp_create_subdir() returned error 3"_s), qPrintable(text));
        QVERIFY(!QFileInfo::exists(m_folder.path() + u"backups"_s));
    }
};

DBSETUP_GUI_TEST_MAIN(TestRemoteServer)
#include "tst_remoteserver.moc"
