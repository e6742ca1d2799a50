// The window remembers where the operator's files went (the demo's configuration, bin/sqlsim):
// the restore tab offers the backup just made, and each file dialog opens in the folder of the
// last file of its kind, also after a restart, kept in the user's state.ini and nowhere else.
#include "DBWorkU.h"
#include "GuiFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSettings>

using namespace Qt::StringLiterals;

class TestLastFolders : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;
    ProgramFolder m_folder;

    std::unique_ptr<TFormDB> openWindow(ScriptedOperatorUi& ui)
    {
        return openForm(m_folder, ui, QString()); // the demo's own settings.ini
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        prepareDemo(m_sim, m_folder);
    }

    // A backup made in the window is the one the restore tab offers, unless the operator has
    // named another file there since the program last offered one.
    void backupOfferedForRestore()
    {
        QTemporaryDir dir;
        ScriptedOperatorUi ui;
        auto form = openWindow(ui);
        QVERIFY(form);
        QVERIFY(selectListedRow(*form, u"ostrel_ts"_s));
        auto* field = control<QLineEdit>(*form, u"BackupFileName"_s);
        const auto backUp = [&](const QString& name) {
            ui.fileAnswers = {dir.filePath(name)};
            clickControl(*form, u"BBackupDB"_s);
            return field->text();
        };
        QCOMPARE(backUp(u"first.bak"_s), dir.filePath(u"first.bak"_s));
        QCOMPARE(backUp(u"second.bak"_s), dir.filePath(u"second.bak"_s));
        field->setText(dir.filePath(u"own.bak"_s));
        QCOMPARE(backUp(u"third.bak"_s), dir.filePath(u"own.bak"_s));
        field->clear();
        QCOMPARE(backUp(u"fourth.bak"_s), dir.filePath(u"fourth.bak"_s));
        QCOMPARE(shownTexts(ui).size(), 4); // each backup's success, nothing else
    }

    // Each dialog: first where it opened before (the fallback), then in the folder of the file
    // just chosen, then so again in a new window. Backups made and backups restored share a
    // folder; so do data and log files.
    void dialogsStartWhereTheLastFileWent_data()
    {
        QTest::addColumn<QString>("browse");   // the button that opens the dialog
        QTest::addColumn<QString>("field");    // the field it fills, emptied first
        QTest::addColumn<bool>("installDir");  // the fallback: the installation, or nothing
        QTest::addColumn<QString>("stateKey"); // in state.ini's [files]
        QTest::newRow("backup") << u"BBackupDB"_s << QString() << true << u"backup_folder"_s;
        QTest::newRow("backup to restore")
            << u"BackupFileNameBrowse"_s << u"BackupFileName"_s << false << u"backup_folder"_s;
        QTest::newRow("export") << u"BSaveExcel"_s << QString() << false << u"export_folder"_s;
        QTest::newRow("data file")
            << u"DBFileNameBrowse"_s << u"DBFileName"_s << false << u"database_file_folder"_s;
        QTest::newRow("log file") << u"DBLogFileNameBrowse"_s << u"DBLogFileName"_s << false
                                  << u"database_file_folder"_s;
    }
    void dialogsStartWhereTheLastFileWent()
    {
        QFETCH(QString, browse);
        QFETCH(QString, field);
        QFETCH(bool, installDir);
        QFETCH(QString, stateKey);
        QTemporaryDir dir;
        const QString chosen = dir.filePath(u"chosen.file"_s);
        const QString folder = dir.path() + u'/';
        const QByteArray settingsBefore = readFile(m_folder.file(u"settings.ini"_s));

        ScriptedOperatorUi ui;
        const auto openDialog = [&](TFormDB& form, const std::optional<QString>& answer) {
            QVERIFY(selectListedRow(form, u"ostrel_ts"_s));
            if (!field.isEmpty())
                control<QLineEdit>(form, field)->clear();
            ui.fileAnswers = {answer};
            control<QAbstractButton>(form, browse)->click(); // on a tab not shown, maybe
        };
        auto form = openWindow(ui);
        QVERIFY(form);
        openDialog(*form, chosen);
        openDialog(*form, std::nullopt);
        form = openWindow(ui);
        QVERIFY(form);
        openDialog(*form, std::nullopt);
        QCOMPARE(ui.dialogs.size(), 3);
        QCOMPARE(ui.dialogs[0].folder, installDir ? form->session().installDir() : QString());
        QCOMPARE(ui.dialogs[1].folder, folder);
        QCOMPARE(ui.dialogs[2].folder, folder);
        const QSettings state(qEnvironmentVariable("XDG_CONFIG_HOME") + u"/dbsetup/state.ini"_s,
                              QSettings::IniFormat);
        QCOMPARE(state.value(u"files/"_s + stateKey), QVariant(folder));
        QCOMPARE(readFile(m_folder.file(u"settings.ini"_s)), settingsBefore);
    }
};

DBSETUP_GUI_TEST_MAIN(TestLastFolders)
#include "tst_lastfolders.moc"
