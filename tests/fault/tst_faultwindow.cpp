// Faults met from the window, in this process with the operator's answers scripted: the server
// connection dropped at each point where the program talks to the server, a disk that fills up,
// and a backup file that disappears just before the restore. Every one ends with a message, the
// progress window closed, the window usable afterwards, and the installation folder intact.
#include "DBWorkU.h"
#include "FullDisk.h"
#include "GuiFixture.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

constexpr int orderRows = 1200; // more than a page of the console's result

// The installation's files as the backup stores them.
QMap<QString, QByteArray> installedFiles()
{
    QByteArray binary;
    for (int i = 0; i < 70000; ++i)
        binary.append(static_cast<char>(i * 7 % 256));
    return {{u"ostrel.exe"_s, "the application"},
            {u"bin/tool.dll"_s, binary},
            {u"Шаблоны/счёт.xlt"_s, u"шаблон счёта"_s.toUtf8()},
            {u"readme.txt"_s, "read me"}};
}

enum class Point
{
    Connect,          // the login at start-up
    List,             // the list query of "Обновить подключение"
    BackupStatement,  // BACKUP DATABASE, before any answer
    BackupTransfer,   // half way through the backup
    RestoreTransfer,  // half way through the restore
    StoringDeclined,  // the first stored file; the operator does not go on
    StoringAccepted,  // the first stored file; the operator goes on with the backup
    ExtractionStart,  // the first read of the restored file store
    ExtractionMiddle, // after the first extracted file
    ConsoleQuery,     // "Выполнить запрос", before any row
    ConsolePage,      // the second page of the console's result
    Export,           // "Сохранить в Excel" reading the rest of the result
};

} // namespace

class TestFaultWindow : public QObject
{
    Q_OBJECT

    // One simulator, one program folder and one window per case.
    struct Scene
    {
        LoggedSqlsim sim;
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        std::unique_ptr<TFormDB> form;

        QString install() const { return folder.path() + u"install/"_s; }
        QString backupFile() const { return folder.path() + u"backups/app.bak"_s; }

        template <typename T> T* find(const QString& name) const
        {
            return form->findChild<T*>(name);
        }
        void click(const QString& button) const
        {
            QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton);
        }
        QString connectionLabel() const { return find<QLabel>(u"LDBConnect"_s)->text(); }
    };

    static void prepare(Scene& scene, const QStringList& simArguments = {})
    {
        QVERIFY2(scene.sim.start(simArguments), scene.sim.process().stderrText().constData());
        QVERIFY(scene.sim.exec(u"CREATE DATABASE app"_s));
        QVERIFY(scene.sim.exec(
            u"CREATE TABLE app.dbo.DB_PROPERTY (Name varchar(50), Value varchar(50)); "
            u"INSERT INTO app.dbo.DB_PROPERTY VALUES ('DB_Name', 'ostrel_ts'); "
            u"CREATE TABLE app.dbo.orders (id int, note nvarchar(40)); "
            u"WITH d AS (SELECT 1 AS i UNION ALL SELECT i + 1 FROM d WHERE i < %1) "
            u"INSERT INTO app.dbo.orders SELECT i, N'заказ ' + CAST(i AS nvarchar(10)) FROM d "
            u"OPTION (MAXRECURSION 0)"_s.arg(orderRows)));
        const QMap<QString, QByteArray> files = installedFiles();
        for (auto it = files.begin(); it != files.end(); ++it)
            QVERIFY(writeFile(scene.install() + it.key(), it.value()));
        scene.folder.write(u"settings.ini"_s,
                           scene.sim.settings(u"[other]\ninstall_dir="_s + scene.install() +
                                              u"\ndb_name_file_add=ostrel_ts\n"
                                              u"max_size_file_add_db=0\n"
                                              u"appr_name_path_name=%install_dir%ostrel.exe\n"_s));
    }

    static void openWindow(Scene& scene)
    {
        dbsetupApp()->setErrorReporter(&scene.ui);
        scene.form = std::make_unique<TFormDB>(scene.ui, scene.folder.path());
        scene.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(scene.form.get()));
    }

    // A backup carrying the installation's files, then an installation that has moved on, so
    // that an extraction changes what it writes.
    static void backupAndChange(Scene& scene)
    {
        scene.form->BackupDB(u"app"_s, scene.install(), scene.backupFile(), true, false);
        QVERIFY(QFile::exists(scene.backupFile()));
        QVERIFY(writeFile(scene.install() + u"bin/tool.dll"_s, "a newer library"));
        QVERIFY(writeFile(scene.install() + u"readme.txt"_s, "newer notes"));
        scene.ui.shown.clear();
        scene.ui.operations.clear();
    }

    // The window open on a server that holds a backup of the installation, which has moved on.
    static void openAfterBackup(Scene& scene)
    {
        prepare(scene);
        if (QTest::currentTestFailed())
            return;
        openWindow(scene);
        if (QTest::currentTestFailed())
            return;
        backupAndChange(scene);
    }

    static void restoreFromWindow(Scene& scene, const QString& name, bool extract)
    {
        scene.form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(1);
        scene.find<QLineEdit>(u"BackupFileName"_s)->setText(scene.backupFile());
        scene.find<QLineEdit>(u"RestoreDBName"_s)->setText(name);
        scene.find<QLineEdit>(u"RestoreToDirectory"_s)
            ->setText(scene.folder.path() + u"restored/"_s + name);
        scene.find<QCheckBox>(u"isReplaceDB"_s)->setChecked(true);
        scene.find<QCheckBox>(u"isRestoreFromDB"_s)->setChecked(extract);
        scene.ui.answers.append(true);
        scene.click(u"BRestoreDB"_s);
    }

    static void backupFromWindow(Scene& scene, bool withFiles)
    {
        scene.form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(0);
        auto* list = scene.find<QTableWidget>(u"ListDB"_s);
        QCOMPARE(list->item(list->currentRow(), 0)->text(), u"app"_s);
        auto* filesInDB = scene.find<QCheckBox>(u"isFileInDB"_s);
        QCOMPARE(filesInDB->isEnabled(), true);
        filesInDB->setChecked(withFiles);
        scene.ui.fileAnswers.append(scene.folder.path() + u"backups/window.bak"_s);
        scene.click(u"BBackupDB"_s);
    }

    static void runQuery(Scene& scene)
    {
        scene.form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(2);
        scene.find<QPlainTextEdit>(u"SQLText"_s)
            ->setPlainText(u"SELECT id, note FROM dbo.orders ORDER BY id"_s);
        scene.click(u"BOpenSQL"_s);
    }

    static QString exportFile(const Scene& scene)
    {
        return scene.folder.path() + u"exports/orders.xls"_s;
    }

    // After a fault: the window reconnects and lists the databases without a word.
    static void windowStillWorks(Scene& scene)
    {
        scene.ui.shown.clear();
        scene.form->findChild<QTabWidget*>(u"Page"_s)->setCurrentIndex(0);
        scene.click(u"BRefreshConnect"_s);
        QVERIFY2(scene.ui.shown.isEmpty(), qPrintable(scene.ui.shown.value(0).text));
        QCOMPARE(scene.connectionLabel(), u"Соединение установлено"_s);
        QVERIFY(listedNames(*scene.form).contains(u"app"_s));
        QVERIFY(scene.form->isEnabled());
        // And the console answers again, on its own session.
        runQuery(scene);
        QVERIFY2(scene.ui.shown.isEmpty(), qPrintable(scene.ui.shown.value(0).text));
        QCOMPARE(scene.form->session().console().result().fetchedCount(), QueryResult::pageSize);
    }

    // No temporary or set-aside file, and every file either as it was or as the backup holds it.
    static void installationIntact(const Scene& scene, const QMap<QString, QByteArray>& before)
    {
        const QMap<QString, QByteArray> now = fileTree(scene.install());
        const QMap<QString, QByteArray> stored = installedFiles();
        QCOMPARE(now.keys(), before.keys());
        for (auto it = now.begin(); it != now.end(); ++it) {
            QVERIFY2(it.value() == before.value(it.key()) || it.value() == stored.value(it.key()),
                     qPrintable(it.key()));
        }
    }

private slots:
    void serverDropped_data()
    {
        QTest::addColumn<int>("point");
        QTest::addColumn<QString>("arm");     // the fault, armed just before the operation
        QTest::addColumn<QString>("message"); // a pattern the last message must match
        QTest::addColumn<int>("icon");

        const auto row = [](const char* name, Point point, const QString& arm,
                            const QString& message, OperatorUi::Icon icon) {
            QTest::newRow(name) << static_cast<int>(point) << arm << message
                                << static_cast<int>(icon);
        };
        const QString lost =
            u"(?s).*(Соединение с сервером потеряно|Unexpected EOF from the server|"
            u"Communication link failure|Read from the server failed|"
            u"Write to the server failed).*"_s;
        row("connect", Point::Connect, u"EXEC sqlsim_drop_next_login"_s, QString(),
            OperatorUi::Icon::Plain);
        row("list query", Point::List, u"EXEC sqlsim_drop_connection N'sysdatabases', 0"_s, lost,
            OperatorUi::Icon::Error);
        row("backup statement", Point::BackupStatement,
            u"EXEC sqlsim_drop_connection N'BACKUP DATABASE', 0"_s,
            u"(?s)Не удалось создать резервную копию базы \"app\"\\.\r\n\r\n"_s + lost.mid(4),
            OperatorUi::Icon::Error);
        row("backup transfer", Point::BackupTransfer, u"EXEC sqlsim_fail_next_transfer"_s,
            u"(?s)Не удалось создать резервную копию базы \"app\"\\.\r\n\r\n.+"_s,
            OperatorUi::Icon::Error);
        row("restore transfer", Point::RestoreTransfer, u"EXEC sqlsim_fail_next_transfer"_s,
            u"(?s)Не удалось восстановить базу\\.\r\n\r\n.+"_s, OperatorUi::Icon::Error);
        row("storing files, declined", Point::StoringDeclined,
            u"EXEC sqlsim_drop_connection N'INSERT INTO backup_files', 0"_s,
            u"(?s)Список файлов не удалось загрузить в базу данных\\.\r\nОшибка: \".+\"\\.\r\n"
            u"Продолжить создание бэкапа\\?"_s,
            OperatorUi::Icon::Warning);
        row("storing files, accepted", Point::StoringAccepted,
            u"EXEC sqlsim_drop_connection N'INSERT INTO backup_files', 0"_s,
            u"Резервное копирование базы \"app\" успешно завершено\\.\r\nФайл копии: .*window\\.bak"_s,
            OperatorUi::Icon::Plain);
        row("extraction, first read", Point::ExtractionStart,
            u"EXEC sqlsim_drop_connection N'FROM backup_files WHERE version', 0"_s, lost,
            OperatorUi::Icon::Error);
        row("extraction, after a file", Point::ExtractionMiddle,
            u"EXEC sqlsim_drop_connection N'FROM backup_files WHERE version', 1"_s, lost,
            OperatorUi::Icon::Error);
        row("console query", Point::ConsoleQuery,
            u"EXEC sqlsim_drop_connection N'FROM dbo.orders', 0"_s, lost, OperatorUi::Icon::Error);
        row("console page", Point::ConsolePage,
            u"EXEC sqlsim_drop_connection N'FROM dbo.orders', 700"_s, lost,
            OperatorUi::Icon::Error);
        row("export", Point::Export, u"EXEC sqlsim_drop_connection N'FROM dbo.orders', 700"_s, lost,
            OperatorUi::Icon::Error);
    }

    void serverDropped()
    {
        QFETCH(int, point);
        QFETCH(QString, arm);
        QFETCH(QString, message);
        QFETCH(int, icon);
        const auto at = static_cast<Point>(point);

        Scene scene;
        prepare(scene);
        if (QTest::currentTestFailed())
            return;
        // The login fault meets the window's start-up; the others the operation below.
        if (at == Point::Connect)
            QVERIFY(scene.sim.exec(arm));
        openWindow(scene);
        if (QTest::currentTestFailed())
            return;
        if (at == Point::RestoreTransfer || at == Point::ExtractionStart ||
            at == Point::ExtractionMiddle) {
            backupAndChange(scene);
            if (QTest::currentTestFailed())
                return;
        }
        const QMap<QString, QByteArray> before = fileTree(scene.install());
        QVERIFY(writeFile(exportFile(scene), "an earlier export"));
        if (at != Point::Connect)
            QVERIFY(scene.sim.exec(arm));

        switch (at) {
        case Point::Connect:
            // A failed login is told by the status line, not by a box.
            QCOMPARE(scene.connectionLabel(), u"Соединение не было установлено"_s);
            QVERIFY2(scene.ui.shown.isEmpty(), qPrintable(scene.ui.shown.value(0).text));
            QCOMPARE(listedNames(*scene.form), QStringList{QString()});
            break;
        case Point::List:
            scene.click(u"BRefreshConnect"_s);
            break;
        case Point::BackupStatement:
        case Point::BackupTransfer:
            backupFromWindow(scene, false);
            QVERIFY(!QFile::exists(scene.folder.path() + u"backups/window.bak"_s));
            break;
        case Point::StoringDeclined:
        case Point::StoringAccepted:
            scene.ui.answers.append(at == Point::StoringAccepted);
            backupFromWindow(scene, true);
            QCOMPARE(scene.ui.shown.first().text.left(49),
                     u"Список файлов не удалось загрузить в базу данных."_s);
            QCOMPARE(QFile::exists(scene.folder.path() + u"backups/window.bak"_s),
                     at == Point::StoringAccepted);
            break;
        case Point::RestoreTransfer:
            restoreFromWindow(scene, u"app_copy"_s, false);
            break;
        case Point::ExtractionStart:
        case Point::ExtractionMiddle:
            restoreFromWindow(scene, u"app_copy"_s, true);
            // Never the "no files in the backup" warning, nor a success.
            for (const ScriptedOperatorUi::Shown& shown : std::as_const(scene.ui.shown)) {
                QVERIFY2(!shown.text.contains(u"не содержала файлы"_s), qPrintable(shown.text));
                QVERIFY2(shown.text != u"База восстановлена."_s, qPrintable(shown.text));
            }
            break;
        case Point::ConsoleQuery:
            runQuery(scene);
            QVERIFY(!scene.form->session().console().result().isOpen());
            break;
        case Point::ConsolePage:
            runQuery(scene);
            QVERIFY2(scene.ui.shown.isEmpty(), qPrintable(scene.ui.shown.value(0).text));
            QCOMPARE(scene.form->session().console().result().fetchedCount(),
                     QueryResult::pageSize);
            QTest::mouseClick(scene.find<QToolButton>(u"NavLast"_s), Qt::LeftButton);
            QVERIFY(scene.form->session().console().result().fetchedCount() < orderRows);
            break;
        case Point::Export:
            runQuery(scene);
            QVERIFY2(scene.ui.shown.isEmpty(), qPrintable(scene.ui.shown.value(0).text));
            scene.ui.fileAnswers.append(exportFile(scene));
            scene.ui.answers.append(true); // replace the earlier export
            scene.click(u"BSaveExcel"_s);
            break;
        }

        if (!message.isEmpty()) {
            QVERIFY(!scene.ui.shown.isEmpty());
            const ScriptedOperatorUi::Shown& last = scene.ui.shown.last();
            QVERIFY2(QRegularExpression(u"\\A"_s + message + u"\\z"_s).match(last.text).hasMatch(),
                     qPrintable(last.text));
            QCOMPARE(static_cast<int>(last.icon), icon);
            QVERIFY(!last.text.contains(scene.sim.password()));
        }
        QCOMPARE(scene.ui.runningOperations, 0);
        QCOMPARE(scene.ui.unexpectedQuestions, 0);
        QCOMPARE(scene.find<QLabel>(u"LProgress"_s)->text(), QString());
        // The fault fired, and once.
        QCOMPARE(scene.sim.log().filter(QRegularExpression(u"^fault: "_s)).size(),
                 arm.contains(u"fail_next_transfer"_s) ? 0 : 1);
        installationIntact(scene, before);
        QCOMPARE(readFile(exportFile(scene)), QByteArray("an earlier export"));
        QCOMPARE(QDir(scene.folder.path() + u"exports"_s).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"orders.xls"_s});
        windowStillWorks(scene);
    }

    // The disk fills up while a file is written: the installed file, or the earlier export,
    // stays as it was and nothing half written is left beside it.
    void diskFull_data()
    {
        QTest::addColumn<bool>("extraction"); // else the export
        QTest::newRow("extraction") << true;
        QTest::newRow("export") << false;
    }

    void diskFull()
    {
        QFETCH(bool, extraction);
        Scene scene;
        openAfterBackup(scene);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(writeFile(exportFile(scene), "an earlier export"));
        const QMap<QString, QByteArray> before = fileTree(scene.install());
        // Room for 1000 bytes in each file: only the library (70000 bytes) does not fit, and
        // the export of 1200 orders neither.
        scene.form->session().wrapOutput = [](QIODevice& file) -> std::unique_ptr<QIODevice> {
            return std::make_unique<FullDisk>(file, 1000);
        };

        if (extraction) {
            restoreFromWindow(scene, u"app_copy"_s, true);
            QCOMPARE(scene.ui.shown.size(), 3); // the question, the warning, the success
            QCOMPARE(scene.ui.shown[1].icon, OperatorUi::Icon::Warning);
            const QStringList lines = scene.ui.shown[1].text.split(u"\r\n"_s);
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines[0], u"Не все файлы программы извлечены из базы:"_s);
            QVERIFY2(lines[1].startsWith(u"bin\\\\tool.dll: "_s), qPrintable(lines[1]));
            QVERIFY2(lines[1].contains(u"No space left on device"_s), qPrintable(lines[1]));
            QCOMPARE(scene.ui.shown[2].text, u"База восстановлена."_s);
            // The small files came back; the library stays the installed one.
            QMap<QString, QByteArray> expected = installedFiles();
            expected.insert(u"bin/tool.dll"_s, before.value(u"bin/tool.dll"_s));
            QCOMPARE(fileTree(scene.install()), expected);
        } else {
            runQuery(scene);
            QVERIFY2(scene.ui.shown.isEmpty(), qPrintable(scene.ui.shown.value(0).text));
            scene.ui.fileAnswers.append(exportFile(scene));
            scene.ui.answers.append(true); // replace the earlier export
            scene.click(u"BSaveExcel"_s);
            QCOMPARE(scene.ui.shown.size(), 2);
            QCOMPARE(scene.ui.shown[1].icon, OperatorUi::Icon::Error);
            QVERIFY2(scene.ui.shown[1].text.contains(u"No space left on device"_s),
                     qPrintable(scene.ui.shown[1].text));
            QCOMPARE(fileTree(scene.install()), before);
        }
        QCOMPARE(readFile(exportFile(scene)), QByteArray("an earlier export"));
        QCOMPARE(QDir(scene.folder.path() + u"exports"_s).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"orders.xls"_s});
        QCOMPARE(scene.ui.runningOperations, 0);
        // With room again: the rows the failed export read past the grid's are gone, so the
        // export refuses until the query runs again, and then goes through.
        scene.form->session().wrapOutput = nullptr;
        scene.ui.shown.clear();
        if (!extraction) {
            scene.ui.fileAnswers.append(exportFile(scene));
            scene.click(u"BSaveExcel"_s);
            QCOMPARE(scene.ui.shown.size(), 1);
            QVERIFY2(scene.ui.shown[0].text.endsWith(u"Выполните запрос снова, чтобы выгрузить "
                                                     u"его целиком."_s),
                     qPrintable(scene.ui.shown[0].text));
            QCOMPARE(readFile(exportFile(scene)), QByteArray("an earlier export"));
            scene.ui.shown.clear();
            runQuery(scene);
            scene.ui.fileAnswers.append(exportFile(scene));
            scene.ui.answers.append(true);
            scene.click(u"BSaveExcel"_s);
            QCOMPARE(scene.ui.shown.size(), 1); // the question only
            QVERIFY(readFile(exportFile(scene)).startsWith("id\tnote\r\n1\t"));
            QCOMPARE(readFile(exportFile(scene)).count("\r\n"), orderRows + 1);
        }
    }

    // The backup file disappears after the program found it and before the RESTORE statement
    // (deleted from the first pump, which comes between the file list and the statement): the
    // restore fails with its own error, and the database it was to replace is untouched.
    void backupFileVanishes()
    {
        Scene scene;
        openAfterBackup(scene);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(scene.sim.exec(u"INSERT INTO app.dbo.orders VALUES (0, N'после копии')"_s));
        const qsizetype logBefore = scene.sim.log().size();

        db::Connection connection;
        connection.setConnectionString(scene.form->session().connection().connectionString());
        connection.open();
        ScriptedOperatorUi ui;
        FlowContext context{connection, ui, scene.folder.path(), QString(), 0, {}, {}};
        int pumps = 0;
        context.progress.pump = [&] {
            if (pumps++ == 0)
                QVERIFY(QFile::remove(scene.backupFile()));
        };
        try {
            RestoreDB(context, u"app"_s, scene.backupFile(),
                      scene.folder.path() + u"restored/app"_s, scene.install(), true, true, true,
                      false);
            QFAIL("the restore succeeded without its backup file");
        } catch (const std::exception& e) {
            QVERIFY2(errorMessage(e).startsWith(u"Не удалось восстановить базу.\r\n\r\n"_s),
                     e.what());
            QVERIFY2(errorMessage(e).size() > 35, e.what());
        }
        QVERIFY(pumps >= 1);
        QCOMPARE(ui.operations, (QStringList{u"start: Восстанавливается резервная копия базы "
                                             u"данных."_s,
                                             u"finish"_s}));
        QCOMPARE(ui.runningOperations, 0);
        // The statement did reach the server, after the file was gone.
        const QStringList log = scene.sim.log().mid(logBefore);
        const qsizetype fileList =
            log.indexOf(QRegularExpression(u"batch: RESTORE FILELISTONLY .*"_s));
        const qsizetype restore =
            log.indexOf(QRegularExpression(u"batch: restore database \\[app\\] .*"_s));
        QVERIFY2(fileList >= 0 && restore > fileList, qPrintable(log.join(u'\n')));
        // The database it was to replace: still there, with the row added after the backup.
        OdbcClient client;
        QVERIFY(client.connect(scene.sim.port(), u"sa"_s, scene.sim.password(), u"app"_s));
        const OdbcResult rows = client.exec(u"SELECT count(*) FROM dbo.orders"_s);
        QVERIFY2(rows.ok, qPrintable(rows.error));
        QCOMPARE(flatten(rows.resultSets.value(0)), QStringList{QString::number(orderRows + 1)});
        windowStillWorks(scene);
    }
};

DBSETUP_GUI_TEST_MAIN(TestFaultWindow)
#include "tst_faultwindow.moc"
