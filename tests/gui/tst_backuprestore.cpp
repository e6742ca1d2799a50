// A backup with the application's files and a restore that brings them back, from the window,
// the operator's answers scripted, against bin/sqlsim.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "IniFile.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QUrl>

using namespace Qt::StringLiterals;

class TestBackupRestore : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;
    QTemporaryDir m_restored; // files of databases restored here outlive each test's folders

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        QVERIFY(m_sim.exec(u"CREATE DATABASE app"_s));
        QVERIFY(
            m_sim.exec(u"CREATE TABLE app.dbo.DB_PROPERTY (Name varchar(50), Value varchar(50)); "
                       u"INSERT INTO app.dbo.DB_PROPERTY VALUES ('DB_Name', 'ostrel_ts'); "
                       u"CREATE TABLE app.dbo.clients (name nvarchar(50)); "
                       u"INSERT INTO app.dbo.clients VALUES (N'ООО Ромашка')"_s));
    }

    void roundTrip()
    {
        ProgramFolder folder;
        const QString install = folder.path() + u"install/"_s;
        QVERIFY(writeFile(install + u"ostrel.exe"_s, "program"));
        QVERIFY(writeFile(install + u"bin/tool.dll"_s, QByteArray(70000, 't')));
        QVERIFY(writeFile(install + u"Шаблоны/счёт.xlt"_s, "шаблон"));
        QVERIFY(writeFile(install + u"empty.cfg"_s, QByteArray()));
        QVERIFY(writeFile(install + u"Data/app.mdf"_s, "never stored"));
        const QMap<QString, QByteArray> installed = fileTree(install);

        folder.write(u"settings.ini"_s,
                     m_sim.settings(u"[other]\ninstall_dir="_s + install +
                                    u"\ndb_name_file_add=ostrel_ts\nmax_size_file_add_db=0\n"
                                    u"appr_name_path_name=%install_dir%ostrel.exe\n"_s));
        ScriptedOperatorUi ui;
        dbsetupApp()->setErrorReporter(&ui);
        TFormDB form(ui, folder.path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.findChild<QTableWidget*>(u"ListDB"_s)->item(0, 0)->text(), u"app"_s);

        // Back up the selected database with its files.
        auto* fileInDB = form.findChild<QCheckBox*>(u"isFileInDB"_s);
        QVERIFY(fileInDB->isEnabled());
        fileInDB->setChecked(true);
        const QString backup = folder.path() + u"backups/app.bak"_s;
        ui.fileAnswers = {backup};
        QTest::mouseClick(form.findChild<QPushButton*>(u"BBackupDB"_s), Qt::LeftButton);
        QCOMPARE(ui.dialogs.size(), 1);
        QCOMPARE(ui.dialogs[0].title, u"Укажите имя файла для резервной копии"_s);
        QCOMPARE(ui.dialogs[0].folder, install);
        QCOMPARE(ui.dialogs[0].fileName,
                 u"app_"_s + QDate::currentDate().toString(u"ddMMyy"_s) + u".bak"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, u"Резервное копирование базы \"app\" успешно завершено.\r\n"
                                   u"Файл копии: "_s +
                                       backup);
        QVERIFY(QFile::exists(backup));
        QCOMPARE(ui.operations,
                 (QStringList{u"start: Создается резервная копия базы данных."_s, u"finish"_s}));
        QVERIFY(ui.notes.contains(u"Выполнено 100%"_s));
        QCOMPARE(form.findChild<QLabel*>(u"LProgress"_s)->text(), QString());
        // The progress window showed the server's steps, and was cleared at the end.
        QCOMPARE(ui.percents, (QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, -1}));

        // The installation changes: one file edited (and made read-only), one deleted, one added.
        QVERIFY(writeFile(install + u"bin/tool.dll"_s, "newer"));
        QFile::setPermissions(install + u"bin/tool.dll"_s, QFile::ReadOwner);
        QVERIFY(QFile::remove(install + u"Шаблоны/счёт.xlt"_s));
        QVERIFY(writeFile(install + u"local.log"_s, "kept"));

        // Restore under another name into another folder, files extracted.
        const QString data = folder.path() + u"restored/Data.2014"_s;
        form.findChild<QLineEdit*>(u"BackupFileName"_s)->setText(backup);
        form.findChild<QLineEdit*>(u"RestoreDBName"_s)->setText(u"app_copy"_s);
        form.findChild<QLineEdit*>(u"RestoreToDirectory"_s)->setText(data);
        form.findChild<QCheckBox*>(u"isRestoreFromDB"_s)->setChecked(true);
        ui.shown.clear();
        ui.percents.clear();
        ui.answers = {true};
        QTest::mouseClick(form.findChild<QPushButton*>(u"BRestoreDB"_s), Qt::LeftButton);
        // The restore reports its progress as the backup does.
        QCOMPARE(ui.percents, (QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, -1}));
        QCOMPARE(ui.shown.size(), 2);
        QCOMPARE(ui.shown[0].text, u"Вы хотите восстановить базу данных \"app_copy\"\r\nиз файла "
                                   u"резервной копии \""_s +
                                       backup + u"\"\r\nи поместить ее в папку \""_s + data +
                                       u"\"?\r\n"_s);
        QCOMPARE(ui.shown[1].text, u"База восстановлена."_s);
        QCOMPARE(ui.unexpectedQuestions, 0);
        QVERIFY(QFileInfo(data).isDir());
        QVERIFY(!QDir(data).entryList(QDir::Files).isEmpty());

        QMap<QString, QByteArray> expected = installed;
        expected.insert(u"local.log"_s, "kept"); // not in the store: untouched
        QCOMPARE(fileTree(install), expected);

        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"app_copy"_s));
        QCOMPARE(flatten(client.exec(u"SELECT name FROM dbo.clients"_s).resultSets.value(0)),
                 QStringList{u"ООО Ромашка"_s});
    }

    // A taken name without "Заменить": the warning, and no restore.
    // Closing the window while a backup runs waits for the backup, says so in the progress
    // window, shows the result with the window still there, and then closes it: no message
    // without a window, no program left running unseen.
    void closeDuringBackup()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = openForm(folder, ui, m_sim.settings());
        QVERIFY(selectListedRow(*form, u"app"_s));
        const QString backup = folder.path() + u"closing/app.bak"_s;
        ui.fileAnswers = {backup};
        ui.onProgress = [&form](int percent) {
            if (percent == 10)
                form->close();
        };
        clickControl(*form, u"BBackupDB"_s);
        QVERIFY(QFile::exists(backup));
        QCOMPARE(
            ui.operations,
            (QStringList{u"start: Создается резервная копия базы данных."_s,
                         u"note: Программа закроется, когда операция завершится."_s, u"finish"_s}));
        QCOMPARE(shownTexts(ui).size(), 1);
        QVERIFY(shownTexts(ui).first().startsWith(u"Резервное копирование базы \"app\" успешно"_s));
        QTRY_VERIFY(!form->isVisible());
    }

    // An idle window holds no database: another client restores over the database the list
    // has selected (and probed) without being told it is in use.
    void idleWindowHoldsNothing()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form =
            openForm(folder, ui, m_sim.settings(u"[other]\ndb_name_file_add=ostrel_ts\n"_s));
        QVERIFY(selectListedRow(*form, u"app"_s));
        QVERIFY(form->findChild<QCheckBox*>(u"isFileInDB"_s)->isEnabled()); // it was probed
        const QString backup = folder.path() + u"idle.bak"_s;
        QVERIFY(m_sim.exec(u"BACKUP DATABASE app TO DISK = N'"_s + backup + u"'"_s));
        QVERIFY(
            m_sim.exec(u"RESTORE DATABASE app FROM DISK = N'"_s + backup + u"' WITH REPLACE"_s));
        QVERIFY(shownTexts(ui).isEmpty());
    }

    void takenName()
    {
        ProgramFolder folder;
        folder.write(u"settings.ini"_s, m_sim.settings());
        ScriptedOperatorUi ui;
        dbsetupApp()->setErrorReporter(&ui);
        TFormDB form(ui, folder.path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.findChild<QLineEdit*>(u"RestoreDBName"_s)->setText(u"APP  "_s);
        const qsizetype before = m_sim.log().size();
        ui.answers = {true};
        QTest::mouseClick(form.findChild<QPushButton*>(u"BRestoreDB"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 2);
        QCOMPARE(ui.shown[1].icon, OperatorUi::Icon::Warning);
        QCOMPARE(ui.shown[1].text, u"База данных \"APP\" существует.\r\nДля ее замены поставьте "
                                   u"галочку заменить\r\n"_s);
        QCOMPARE(m_sim.log().size(), before);
    }

    // "Проверить копию": read from settings.ini, kept there when the operator clicks it, and a
    // ticked backup is read back by the server and said to be so.
    void verifyTick()
    {
        ProgramFolder folder;
        folder.write(u"settings.ini"_s, m_sim.settings(u"[other]\r\nverify_backup=1\r\n"_s));
        ScriptedOperatorUi ui;
        dbsetupApp()->setErrorReporter(&ui);
        TFormDB form(ui, folder.path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* tick = form.findChild<QCheckBox*>(u"isVerifyBackup"_s);
        QVERIFY(tick->isChecked());
        const auto stored = [&] {
            return platform::IniFile::load(folder.file(u"settings.ini"_s))
                .value(u"other"_s, u"verify_backup"_s);
        };
        QTest::mouseClick(tick, Qt::LeftButton);
        QVERIFY(!tick->isChecked());
        QCOMPARE(stored(), u"0"_s);
        QTest::mouseClick(tick, Qt::LeftButton);
        QCOMPARE(stored(), u"1"_s);
        // The connection settings around it are kept.
        QCOMPARE(
            platform::IniFile::load(folder.file(u"settings.ini"_s)).value(u"db"_s, u"password"_s),
            m_sim.password());

        const QString backup = folder.path() + u"verified.bak"_s;
        ui.fileAnswers = {backup};
        const qsizetype verifications = m_sim.count(u"batch: RESTORE VERIFYONLY"_s);
        QTest::mouseClick(form.findChild<QPushButton*>(u"BBackupDB"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, u"Резервное копирование базы \"app\" успешно завершено.\r\n"
                                   u"Файл копии: "_s +
                                       backup + u"\r\nРезервная копия проверена."_s);
        QCOMPARE(m_sim.count(u"batch: RESTORE VERIFYONLY"_s), verifications + 1);
    }

    // "Только копия" beside it: kept in settings.ini like it, and the backup it marks is taken
    // aside (COPY_ONLY).
    void copyOnlyTick()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = openForm(folder, ui, m_sim.settings(u"[other]\r\ncopy_only_backup=1\r\n"_s));
        auto* tick = form->findChild<QCheckBox*>(u"isCopyOnly"_s);
        QVERIFY(tick->isChecked());
        QTest::mouseClick(tick, Qt::LeftButton);
        QCOMPARE(platform::IniFile::load(folder.file(u"settings.ini"_s))
                     .value(u"other"_s, u"copy_only_backup"_s),
                 u"0"_s);
        QTest::mouseClick(tick, Qt::LeftButton);
        QVERIFY(selectListedRow(*form, u"app"_s));
        ui.fileAnswers = {folder.path() + u"aside.bak"_s};
        const auto copiesAside = [this] {
            return m_sim.log().join(u'\n').count(u"NOFORMAT , COPY_ONLY"_s);
        };
        const qsizetype before = copiesAside();
        clickControl(*form, u"BBackupDB"_s);
        QCOMPARE(copiesAside(), before + 1);
    }

    // A restore over a database others are in: with consent they are ended and the database is
    // usable by all afterwards; without it the server's refusal; a backup the server cannot read
    // is refused before anyone is asked about, let alone thrown out.
    void restoreOverDatabaseInUse_data()
    {
        QTest::addColumn<bool>("consent");
        QTest::addColumn<bool>("damaged");
        QTest::newRow("ended, restored") << true << false;
        QTest::newRow("damaged backup") << true << true;
        QTest::newRow("left alone") << false << false;
    }
    void restoreOverDatabaseInUse()
    {
        QFETCH(bool, consent);
        QFETCH(bool, damaged);
        ProgramFolder folder;
        folder.write(u"settings.ini"_s, m_sim.settings());
        const QString backup = folder.path() + u"app.bak"_s;
        QVERIFY(m_sim.exec(u"BACKUP DATABASE app TO DISK = N'"_s + backup + u"' WITH INIT"_s));
        if (damaged) {
            QFile file(backup);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.resize(file.size() / 2));
        }
        OdbcClient other;
        other.setAppName(u"other-client"_s);
        QVERIFY(other.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"app"_s));
        ScriptedOperatorUi ui;
        dbsetupApp()->setErrorReporter(&ui);
        TFormDB form(ui, folder.path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.findChild<QLineEdit*>(u"BackupFileName"_s)->setText(backup);
        form.findChild<QLineEdit*>(u"RestoreDBName"_s)->setText(u"app"_s);
        form.findChild<QLineEdit*>(u"RestoreToDirectory"_s)->setText(m_restored.path());
        form.findChild<QCheckBox*>(u"isReplaceDB"_s)->setChecked(true);
        ui.answers = {true, consent};
        QTest::mouseClick(form.findChild<QPushButton*>(u"BRestoreDB"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), damaged ? 2 : 3);
        // A login without VIEW SERVER STATE is told that it cannot see who else is in.
        const QString hidden = u"Учётной записи \""_s + SqlsimProcess::programLogin() +
                               u"\" не видны чужие подключения к базе: у неё нет права VIEW SERVER "
                               u"STATE."_s;
        const bool seesOthers = SqlsimProcess::programLogin() == u"sa"_s;
        if (!damaged)
            QVERIFY2(seesOthers ? ui.shown[1].text.startsWith(
                                      u"База используется другими подключениями: 1 (sa — "_s)
                                : ui.shown[1].text.startsWith(hidden),
                     qPrintable(ui.shown[1].text));
        if (consent && !damaged) {
            QCOMPARE(ui.shown[2].text, u"База восстановлена."_s);
        } else {
            // The server's refusal, in its own language: the file list of a damaged backup (it
            // names the file), or the database in use (the program names who is in it).
            QCOMPARE(ui.shown.last().icon, OperatorUi::Icon::Error);
            const QString expected = damaged ? backup
                                     : seesOthers
                                         ? u"Базу используют другие подключения: 1 (sa — "_s
                                         : hidden;
            QVERIFY2(ui.shown.last().text.contains(expected), qPrintable(ui.shown.last().text));
        }
        QCOMPARE(other.exec(u"SELECT 1"_s).ok, !consent || damaged);
        OdbcClient check;
        QVERIFY(check.connect(m_sim.port(), u"sa"_s, m_sim.password()));
        QCOMPARE(flatten(check
                             .exec(u"SELECT state_desc, user_access_desc FROM sys.databases "
                                   u"WHERE name = 'app'"_s)
                             .resultSets.value(0)),
                 QStringList{u"ONLINE|MULTI_USER"_s});
    }

    // The line under the file field says what the named backup holds, or why the server cannot
    // read it; typing asks the server only once the field is left.
    void backupInfoLine()
    {
        ProgramFolder folder;
        folder.write(u"settings.ini"_s, m_sim.settings());
        const QString backup = folder.path() + u"app.bak"_s;
        QVERIFY(m_sim.exec(u"BACKUP DATABASE app TO DISK = N'"_s + backup + u"' WITH INIT"_s));
        ScriptedOperatorUi ui;
        dbsetupApp()->setErrorReporter(&ui);
        TFormDB form(ui, folder.path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* field = form.findChild<QLineEdit*>(u"BackupFileName"_s);
        auto* info = form.findChild<QLabel*>(u"LBackupInfo"_s);

        field->setText(backup);
        const QString made = QDate::currentDate().toString(u"dd.MM.yyyy"_s);
        QVERIFY2(info->text().startsWith(u"База \"app\", копия от "_s + made),
                 qPrintable(info->text()));
        QVERIFY2(info->text().contains(u", версия 15."_s), qPrintable(info->text()));

        field->setText(folder.path() + u"none.bak"_s);
        QVERIFY2(info->text().startsWith(u"Сервер не может прочитать копию: "_s),
                 qPrintable(info->text()));
        QVERIFY2(info->text().contains(u"none.bak"_s), qPrintable(info->text()));

        field->clear();
        QCOMPARE(info->text(), QString());

        // Typed: nothing is asked until the operator leaves the field (Enter would press the
        // restore button).
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        field->setFocus();
        const qsizetype before = m_sim.count(u"batch: RESTORE HEADERONLY"_s);
        QTest::keyClicks(field, backup);
        QCOMPARE(m_sim.count(u"batch: RESTORE HEADERONLY"_s), before);
        QTest::keyClick(field, Qt::Key_Tab);
        QCOMPARE(m_sim.count(u"batch: RESTORE HEADERONLY"_s), before + 1);
        QVERIFY2(info->text().startsWith(u"База \"app\""_s), qPrintable(info->text()));
        QVERIFY(ui.shown.isEmpty());
    }

    // A file dropped from the desktop replaces the field's text with its full path.
    void droppedFile()
    {
        ProgramFolder folder;
        folder.write(u"settings.ini"_s, u"[db]\nserver=127.0.0.1,1\n"_s);
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        auto* field = form.findChild<QLineEdit*>(u"BackupFileName"_s);
        field->setText(u"typed"_s);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(u"/srv/backups/app.bak"_s)});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(field, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(field, &drop);
        QCOMPARE(field->text(), u"/srv/backups/app.bak"_s);
    }

    // The timer tidies a browsed backup file name half a second later.
    void browsedNameIsTidied()
    {
        ProgramFolder folder;
        folder.write(u"settings.ini"_s, u"[db]\nserver=127.0.0.1,1\n"_s);
        ScriptedOperatorUi ui;
        dbsetupApp()->setErrorReporter(&ui);
        TFormDB form(ui, folder.path());
        auto* field = form.findChild<QLineEdit*>(u"BackupFileName"_s);
        field->setText(u"C:\\\\old.bak"_s);
        ui.fileAnswers = {u"D:\\\\backups\\\\\\\\x.bak"_s};
        QTest::mouseClick(form.findChild<QToolButton*>(u"BackupFileNameBrowse"_s), Qt::LeftButton);
        QCOMPARE(field->text(), u"D:\\\\backups\\\\\\\\x.bak"_s);
        QVERIFY(form.backupFileTidyPending());
        QTRY_COMPARE(field->text(), u"D:\\backups\\x.bak"_s);
        QVERIFY(!form.backupFileTidyPending());
    }
};

DBSETUP_GUI_TEST_MAIN(TestBackupRestore)
#include "tst_backuprestore.moc"
