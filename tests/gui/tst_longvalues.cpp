// Long values come back whole through the window: application files of 100 KB and 20 MB go
// into a backup and are written back byte for byte after a restore, and a 10,000-character
// value of the console reaches the grid, the clipboard and the .xls file uncut. SQL Server
// (and bin/sqlsim, as strict) sends only 4096 bytes of such a value to a session that has not
// lifted its TEXTSIZE, without an error, so each check here fails if the program forgot to.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "LongValues.h"
#include "TextDecoding.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDirIterator>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

using namespace Qt::StringLiterals;

class TestLongValues : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;

    std::unique_ptr<TFormDB> open(ProgramFolder& folder, ScriptedOperatorUi& ui,
                                  const QString& more = {})
    {
        return openForm(folder, ui, m_sim.settings(more));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        QVERIFY(m_sim.exec(u"CREATE DATABASE app"_s));
        QVERIFY(
            m_sim.exec(u"CREATE TABLE app.dbo.DB_PROPERTY (Name varchar(50), Value varchar(50)); "
                       u"INSERT INTO app.dbo.DB_PROPERTY VALUES ('DB_Name', 'ostrel_ts')"_s));
    }

    void applicationFiles()
    {
        ProgramFolder folder;
        const QString install = folder.path() + u"install/"_s;
        QVERIFY(writeFile(install + u"ostrel.exe"_s, "program"));
        QVERIFY(writeFile(install + u"Отчёты/сводка.frx"_s, nonRepeatingBytes(100 * 1024 + 3, 1)));
        QVERIFY(writeFile(install + u"bin/core.dll"_s, nonRepeatingBytes(20 * 1024 * 1024 + 5, 2)));
        const QMap<QString, QByteArray> installed = fileTree(install);

        ScriptedOperatorUi ui;
        // The 20 MB file is above the default limit of 10485760 bytes.
        auto form = open(folder, ui,
                         u"[other]\ninstall_dir="_s + install +
                             u"\ndb_name_file_add=ostrel_ts\nmax_size_file_add_db=25000000\n"
                             u"appr_name_path_name=%install_dir%ostrel.exe\n"_s);
        QVERIFY(form);
        auto* fileInDB = form->findChild<QCheckBox*>(u"isFileInDB"_s);
        QVERIFY(fileInDB->isEnabled());
        fileInDB->setChecked(true);
        const QString backup = folder.path() + u"backups/app.bak"_s;
        ui.fileAnswers = {backup};
        QTest::mouseClick(form->findChild<QPushButton*>(u"BBackupDB"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, u"Резервное копирование базы \"app\" успешно завершено.\r\n"
                                   u"Файл копии: "_s +
                                       backup);

        QVERIFY(QFile::remove(install + u"Отчёты/сводка.frx"_s));
        QVERIFY(writeFile(install + u"bin/core.dll"_s, "an older build"));

        form->findChild<QLineEdit*>(u"BackupFileName"_s)->setText(backup);
        form->findChild<QLineEdit*>(u"RestoreDBName"_s)->setText(u"app_long"_s);
        form->findChild<QLineEdit*>(u"RestoreToDirectory"_s)->setText(folder.path() + u"data"_s);
        form->findChild<QCheckBox*>(u"isRestoreFromDB"_s)->setChecked(true);
        ui.shown.clear();
        ui.answers = {true};
        QTest::mouseClick(form->findChild<QPushButton*>(u"BRestoreDB"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 2);
        QCOMPARE(ui.shown[1].text, u"База восстановлена."_s);
        QCOMPARE(ui.unexpectedQuestions, 0);

        const QString difference = treeDifference(installed, fileTree(install));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    void consoleValue()
    {
        const QString value = nonRepeatingText(10'000, 3);
        QVERIFY(m_sim.exec(u"CREATE TABLE app.dbo.notes (id int, body nvarchar(max))"_s));
        {
            OdbcClient client;
            QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"app"_s));
            const OdbcResult r =
                client.execParams(u"INSERT INTO notes VALUES (1, ?)"_s, {QVariant(value)});
            QVERIFY2(r.ok, qPrintable(r.error));
        }

        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QVERIFY(form);
        form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(2);
        form->findChild<QPlainTextEdit*>(u"SQLText"_s)
            ->setPlainText(u"SELECT id, body FROM app.dbo.notes"_s);
        QTest::mouseClick(form->findChild<QPushButton*>(u"BOpenSQL"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));

        const QAbstractItemModel* grid = form->findChild<QTableView*>(u"ListLRecord"_s)->model();
        QCOMPARE(grid->rowCount(), 1);
        QCOMPARE(grid->data(grid->index(0, 1)).toString().size(), value.size());
        QCOMPARE(grid->data(grid->index(0, 1)).toString(), value);

        const QString text = u"id\tbody\r\n1\t"_s + value + u"\r\n"_s;
        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(form->findChild<QPushButton*>(u"BCopyBuffer"_s), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), text);

        const QString file = folder.path() + u"notes.xls"_s;
        ui.fileAnswers = {file};
        QTest::mouseClick(form->findChild<QPushButton*>(u"BSaveExcel"_s), Qt::LeftButton);
        QVERIFY2(ui.shown.isEmpty(), qPrintable(ui.shown.value(0).text));
        const QByteArray written = readFile(file);
        QCOMPARE(written.size(), text.size()); // one byte a character in Windows-1251
        QCOMPARE(written, platform::encodeWindows1251(text));
    }
};

DBSETUP_GUI_TEST_MAIN(TestLongValues)
#include "tst_longvalues.moc"
