// Start-up of the main window: the frame, settings.ini, the UDL file, the first connection and
// the catalogue, and the connection panel's handlers, against bin/sqlsim.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "StartupSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

using namespace Qt::StringLiterals;

namespace {

QString text(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    return {};
}

QString statusText(const TFormDB& form)
{
    return form.findChild<QLabel*>(u"LDBConnect"_s)->text();
}

QColor statusColour(const TFormDB& form)
{
    return form.findChild<QLabel*>(u"LDBConnect"_s)->palette().color(QPalette::WindowText);
}

QLineEdit* field(const TFormDB& form, const QString& name)
{
    return form.findChild<QLineEdit*>(name);
}

QString udlText(const QString& connectionString)
{
    return u"[oledb]\r\n; Everything after this line is an OLE DB initstring\r\nProvider=SQLOLEDB.1;"_s +
           connectionString + u"\r\n"_s;
}

QByteArray utf16le(const QString& text)
{
    QByteArray bytes("\xff\xfe", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return bytes;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void frame()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QCOMPARE(form.windowTitle(),
                 u"Настройка базы данных. Версия: "_s + QStringLiteral(DBSETUP_VERSION));
        QCOMPARE(form.size(), QSize(643, 508));
        QCOMPARE(form.minimumSize(), form.maximumSize()); // the operator cannot resize it
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

        const auto* page = form.findChild<QTabWidget*>(u"Page"_s);
        QCOMPARE(page->count(), 3);
        QCOMPARE(page->tabText(0), u"Подключить/отключить базу"_s);
        QCOMPARE(page->tabText(1), u"Восстановить базу"_s);
        QCOMPARE(page->tabText(2), u"SQL запрос"_s);
        QCOMPARE(page->currentWidget()->objectName(), u"TabAttachDB"_s);
        QCOMPARE(form.findChild<QWidget*>(u"PanelDB"_s)->height(), 105);
        QVERIFY(ui.shown.isEmpty());
    }

    void panelLayout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("status") << u"LDBConnect"_s << QRect(8, 3, 541, 20);
        QTest::newRow("server") << u"Server"_s << QRect(8, 42, 161, 22);
        QTest::newRow("button") << u"BRefreshConnect"_s << QRect(8, 69, 137, 27);
        QTest::newRow("frame") << u"BevelDB"_s << QRect(180, 28, 337, 68);
        QTest::newRow("user") << u"UserName"_s << QRect(189, 69, 141, 22);
        QTest::newRow("password") << u"Password"_s << QRect(353, 69, 155, 22);
    }
    void panelLayout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        auto* w = form.findChild<QWidget*>(name);
        QVERIFY(w != nullptr);
        QCOMPARE(w->geometry(), geometry);
        QCOMPARE(w->parentWidget()->objectName(), u"PanelDB"_s);
    }

    // Every control is there from the start with its caption or default text.
    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        const QList<std::pair<const char*, QString>> rows = {
            {"LServer", u"Сервер"_s},
            {"LUserName", u"Имя пользователя"_s},
            {"LPassword", u"Пароль"_s},
            {"isAuthorization", u"Учетная запись Windows NT (2000, XP)"_s},
            {"BRefreshConnect", u"Обновить подключение"_s},
            {"LDBName", u"Имя базы данных"_s},
            {"LDBFileName", u"Файл данных (mdf)"_s},
            {"LDBLogFileName", u"Журнал транзакций (ldf)"_s},
            {"bAttachDB", u"&Подключить базу"_s},
            {"LListDB", u"Подключенные базы"_s},
            {"BDeleteDB", u"&Отключить базу"_s},
            {"BReConnectDB", u"&Переподключить базу"_s},
            {"BBackupDB", u"Создать резервную копию"_s},
            {"isFileInDB", u"Добавить файлы в базу"_s},
            {"LBackupFileName", u"Файл резервной копии"_s},
            {"LRestoreDBName", u"Восстановить базу под именем"_s},
            {"isReplaceDB", u"Заменить"_s},
            {"LRestoreToDirectory", u"Восстановить базу в папку"_s},
            {"isRestoreFromDB", u"Извлечь файлы из базы"_s},
            {"BRestoreDB", u"&Восстановить базу из резервной копии"_s},
            {"LDBNameSQL", u"База"_s},
            {"BOpenSQL", u"Выполнить запрос"_s},
            {"BExecSQL", u"Выполнить апдейт"_s},
            {"LWorkRecordCount", u"0"_s},
            {"BCopyBuffer", u"Копировать в буфер"_s},
            {"BSaveExcel", u"Сохранить в Excel"_s},
        };
        for (const auto& [name, caption] : rows)
            QTest::newRow(name) << QString::fromLatin1(name) << caption;
    }
    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        auto* w = form.findChild<QWidget*>(name);
        QVERIFY2(w != nullptr, qPrintable(name));
        QCOMPARE(text(w), caption);
    }

    void boxesStartUnavailable()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        for (const QString& name : {u"isFileInDB"_s, u"isRestoreFromDB"_s}) {
            auto* box = form.findChild<QCheckBox*>(name);
            QVERIFY(!box->isEnabled());
            QVERIFY(!box->isChecked());
        }
        QCOMPARE(field(form, u"Password"_s)->echoMode(), QLineEdit::Password);
    }

    // "Извлечь файлы из базы" is there once a backup file is named, unticked; gone without one.
    void extractionNeedsABackupFile()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        auto* box = form.findChild<QCheckBox*>(u"isRestoreFromDB"_s);
        QLineEdit* file = field(form, u"BackupFileName"_s);
        file->setText(u"/srv/backup/ostrel_ts.bak"_s);
        QVERIFY(box->isEnabled());
        QVERIFY(!box->isChecked());
        box->setChecked(true);
        file->setText(u"/srv/backup/other.bak"_s);
        QVERIFY(box->isChecked()); // the operator's tick stays while a file is named
        file->setText(u"  "_s);
        QVERIFY(!box->isEnabled());
        QVERIFY(!box->isChecked());
    }

    // No settings.ini and nothing listening: every default, and start-up completes.
    void startWithoutSettings()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QCOMPARE(field(form, u"Server"_s)->text(), u".\\sqlexpress"_s);
        QCOMPARE(field(form, u"UserName"_s)->text(), u"sa"_s);
        QCOMPARE(field(form, u"Password"_s)->text(), QString());
        QVERIFY(!form.findChild<QCheckBox*>(u"isAuthorization"_s)->isChecked());
        QCOMPARE(field(form, u"DBFileName"_s)->text(), QString());
        QCOMPARE(form._InstallDir, QString());
        QCOMPARE(form._MaxSizeAddDB, qint64(10485760));
        QCOMPARE(field(form, u"RestoreToDirectory"_s)->text(), u"Data"_s);
        QCOMPARE(form._CurrentDBName, u"ostrel_ts"_s);
        QCOMPARE(form.findChild<QComboBox*>(u"DBName"_s)->currentText(), u"ostrel_ts"_s);
        QCOMPARE(field(form, u"RestoreDBName"_s)->text(), u"ostrel_ts"_s);
        QCOMPARE(statusText(form), u"Соединение не было установлено"_s);
        QCOMPARE(statusColour(form), QColor(Qt::red));
        QVERIFY(!form.Connection.isOpen());
        QCOMPARE(form.Connection.commandTimeout(), 3600);
        QVERIFY(ui.shown.isEmpty()); // a failed connection is no error
    }

    void settingsRows_data()
    {
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("installDir");
        QTest::addColumn<qint64>("maxSize");
        QTest::addColumn<QString>("apprName");
        QTest::newRow("install_dir gains a separator")
            << u"install_dir=/opt/app"_s << u"/opt/app/"_s << qint64(10485760) << QString();
        QTest::newRow("install_dir keeps its separator")
            << u"install_dir=/opt/app/"_s << u"/opt/app/"_s << qint64(10485760) << QString();
        QTest::newRow("size zero")
            << u"max_size_file_add_db=0"_s << QString() << qint64(0) << QString();
        QTest::newRow("size empty")
            << u"max_size_file_add_db="_s << QString() << qint64(10485760) << QString();
        QTest::newRow("size not a number")
            << u"max_size_file_add_db=12MB"_s << QString() << qint64(10485760) << QString();
        QTest::newRow("size beyond 32 bits")
            << u"max_size_file_add_db=8589934592"_s << QString() << qint64(8589934592) << QString();
        QTest::newRow("first %install_dir% only")
            << u"install_dir=/opt/app\nappr_name_path_name=%install_dir%bin/a.exe|%install_dir%"_s
            << u"/opt/app/"_s << qint64(10485760) << u"/opt/app/bin/a.exe|%install_dir%"_s;
        QTest::newRow("%install_dir% case matters")
            << u"install_dir=/opt/app\nappr_name_path_name=%INSTALL_DIR%a.exe"_s << u"/opt/app/"_s
            << qint64(10485760) << u"%INSTALL_DIR%a.exe"_s;
    }
    void settingsRows()
    {
        QFETCH(QString, other);
        QFETCH(QString, installDir);
        QFETCH(qint64, maxSize);
        QFETCH(QString, apprName);
        ProgramFolder folder;
        folder.write(u"settings.ini"_s, u"[db]\nserver=127.0.0.1,1\n[other]\n"_s + other + u'\n');
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QVERIFY(ui.shown.isEmpty());
        QCOMPARE(form._InstallDir, installDir);
        QCOMPARE(form._MaxSizeAddDB, maxSize);
        QCOMPARE(form._ApprNamePathName, apprName);
        QCOMPARE(field(form, u"RestoreToDirectory"_s)->text(), installDir + u"Data"_s);
    }

    void authorizationFlag_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("1") << u"1"_s << true;
        QTest::newRow("0x1") << u"0x1"_s << true;
        QTest::newRow("-1") << u"-1"_s << true;
        QTest::newRow("0") << u"0"_s << false;
        QTest::newRow("true") << u"true"_s << false;
        QTest::newRow("yes") << u"yes"_s << false;
    }
    void authorizationFlag()
    {
        QFETCH(QString, value);
        QFETCH(bool, on);
        QCOMPARE(ParseIniFlag(value), on);
        ProgramFolder folder;
        folder.write(u"settings.ini"_s,
                     u"[db]\nserver=127.0.0.1,1\nis_authorization="_s + value + u'\n');
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QCOMPARE(form.findChild<QCheckBox*>(u"isAuthorization"_s)->isChecked(), on);
        // The tick's change handler ran: the credentials are unavailable while it is on.
        QCOMPARE(field(form, u"UserName"_s)->isEnabled(), !on);
        QCOMPARE(field(form, u"Password"_s)->isEnabled(), !on);
        // It tried to connect: the status is no longer the initial, uncoloured one.
        QCOMPARE(statusColour(form), QColor(Qt::red));
    }

    void installDirFromRegistry_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("installDir");
        QTest::newRow("registry wins")
            << u"\"Dir\"=\"/srv/from-registry\""_s << u"/srv/from-registry/"_s;
        QTest::newRow("empty value: install_dir") << u"\"Dir\"=\"\""_s << u"/opt/app/"_s;
        QTest::newRow("no value: install_dir") << u"\"Other\"=\"x\""_s << u"/opt/app/"_s;
    }
    void installDirFromRegistry()
    {
        QFETCH(QString, value);
        QFETCH(QString, installDir);
        ProgramFolder folder;
        folder.write(
            u"test.reg"_s,
            u"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel]\n"_s +
                value + u'\n');
        qputenv("DBSETUP_REGISTRY", folder.file(u"test.reg"_s).toUtf8());
        folder.write(u"settings.ini"_s,
                     u"[db]\nserver=127.0.0.1,1\n[other]\n"
                     u"install_dir_from_reg_key=HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Dir\n"
                     u"install_dir=/opt/app\n"_s);
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        qunsetenv("DBSETUP_REGISTRY");
        QCOMPARE(form._InstallDir, installDir);
    }

    // A registry value of another type ends the settings step there, reported; the window
    // still comes up, and nothing after that row (the connection included) happens.
    void settingsErrorSkipsTheRest()
    {
        ProgramFolder folder;
        folder.write(u"test.reg"_s,
                     u"Windows Registry Editor Version 5.00\n\n"
                     u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel]\n\"Dir\"=dword:00000001\n"_s);
        qputenv("DBSETUP_REGISTRY", folder.file(u"test.reg"_s).toUtf8());
        folder.write(u"settings.ini"_s,
                     u"[db]\nserver=127.0.0.1,1\n[other]\ndb_file_name=/data/a.mdf\n"
                     u"install_dir_from_reg_key=HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Dir\n"
                     u"max_size_file_add_db=5\n"_s);
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        qunsetenv("DBSETUP_REGISTRY");
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Error);
        QCOMPARE(ui.shown[0].caption, u"Настройка базы данных"_s);
        QCOMPARE(ui.shown[0].text, u"Invalid data type for 'Dir'"_s); // a quote gets no full stop
        QCOMPARE(field(form, u"DBFileName"_s)->text(), u"/data/a.mdf"_s); // before the error
        QCOMPARE(form._MaxSizeAddDB, qint64(0));                          // after it: untouched
        QCOMPARE(form._CurrentDBName, QString());
        QCOMPARE(statusText(form), u"Соединение не было установлено"_s);
        QCOMPARE(statusColour(form), form.palette().color(QPalette::WindowText));
    }

    // A restore name of its own wins over the current database in the restore field only.
    void restoreNameSetting()
    {
        ProgramFolder folder;
        folder.write(u"settings.ini"_s,
                     u"[db]\nserver=127.0.0.1,1\n[other]\nrestore_db_name=copy_db\n"_s);
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QCOMPARE(field(form, u"RestoreDBName"_s)->text(), u"copy_db"_s);
        QCOMPARE(form.findChild<QComboBox*>(u"DBName"_s)->currentText(), u"ostrel_ts"_s);
    }

    // Settings with a UDL file: the file's catalogue becomes the current database everywhere it
    // shows, the connection opens, and the newest backup of that database is offered.
    void udlFileConnects()
    {
        LoggedSqlsim sim;
        QVERIFY2(sim.start(), sim.process().stderrText().constData());
        QTemporaryDir backups;
        const QString backupFile = backups.filePath(u"shop_1.bak"_s);
        QVERIFY(sim.exec(u"CREATE DATABASE shop"_s));
        QVERIFY(sim.exec(u"BACKUP DATABASE shop TO DISK = '%1'"_s.arg(backupFile)));

        ProgramFolder folder;
        folder.write(
            u"settings.ini"_s,
            u"[db]\nserver=nowhere\nfile_udl=%install_dir%conn.udl\n[other]\ninstall_dir="_s +
                folder.path() + u'\n');
        QVERIFY(writeFile(
            folder.file(u"conn.udl"_s),
            utf16le(udlText(u"Password=%1;Persist Security Info=True;User ID=sa;"
                            u"Initial Catalog=shop;Data Source=127.0.0.1,%2"_s.arg(sim.password())
                                .arg(sim.port())))));
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QVERIFY(ui.shown.isEmpty());
        QCOMPARE(field(form, u"Server"_s)->text(), u"127.0.0.1,%1"_s.arg(sim.port()));
        QCOMPARE(form._CurrentDBName, u"shop"_s);
        QCOMPARE(form.findChild<QComboBox*>(u"DBName"_s)->currentText(), u"shop"_s);
        QCOMPARE(field(form, u"RestoreDBName"_s)->text(), u"shop"_s);
        QVERIFY(form.Connection.isOpen());
        QCOMPARE(statusText(form), u"Соединение установлено"_s);
        QCOMPARE(statusColour(form), QColor(Qt::blue));
        QCOMPARE(field(form, u"BackupFileName"_s)->text(), backupFile);
        QVERIFY(form.Timer1.isActive());
        QVERIFY(!form._ConnectString.contains(sim.password()) ||
                form._ConnectString.contains(u"Password="_s)); // kept, never shown
    }

    // Nothing listening: red status, no backup file, no timer; the catalogue is loaded all
    // the same, and a broken catalogue is reported without stopping start-up.
    void noServer_data()
    {
        QTest::addColumn<QByteArray>("catalogue");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("reports");
        QTest::newRow("catalogue") << QByteArray("<?xml version=\"1.0\"?>\n<dbs>"
                                                 "<db name=\"shop\"/><db name=\"stock\"/></dbs>")
                                   << QStringList{u"shop"_s, u"stock"_s} << 0;
        QTest::newRow("broken catalogue")
            << QByteArray("<dbs><db name=\"shop\">") << QStringList() << 1;
        QTest::newRow("no catalogue") << QByteArray() << QStringList() << 0;
    }
    void noServer()
    {
        QFETCH(QByteArray, catalogue);
        QFETCH(QStringList, names);
        QFETCH(int, reports);
        ProgramFolder folder;
        folder.write(u"settings.ini"_s, u"[db]\nserver=127.0.0.1,1\n"_s);
        if (!catalogue.isEmpty())
            QVERIFY(writeFile(folder.file(u"dbs.xml"_s), catalogue));
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QCOMPARE(statusText(form), u"Соединение не было установлено"_s);
        QCOMPARE(statusColour(form), QColor(Qt::red));
        QCOMPARE(field(form, u"BackupFileName"_s)->text(), QString());
        QVERIFY(!form.Timer1.isActive());
        QCOMPARE(ui.shown.size(), reports);
        auto* box = form.findChild<QComboBox*>(u"DBName"_s);
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        QCOMPARE(items, names);
        QCOMPARE(box->currentText(), u"ostrel_ts"_s); // the items do not replace the text
    }

    // A failed connection says why on the panel itself, a lost one turns the status red, and a
    // good one clears the reason.
    void connectionStatusReason()
    {
        LoggedSqlsim sim;
        QVERIFY2(sim.start(), sim.process().stderrText().constData());
        ProgramFolder folder;
        folder.write(
            u"settings.ini"_s,
            u"[db]\nserver=127.0.0.1,%1\nuser_name=sa\npassword=Wrong-Pass9\n"_s.arg(sim.port()));
        ScriptedOperatorUi ui;
        dbsetupApp()->setErrorReporter(&ui);
        TFormDB form(ui, folder.path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto* status = form.findChild<QLabel*>(u"LDBConnect"_s);
        const auto* reason = form.findChild<QLabel*>(u"LDBConnectReason"_s);
        QCOMPARE(statusText(form), u"Соединение не было установлено"_s);
        QCOMPARE(statusColour(form), QColor(Qt::red));
        QVERIFY(reason->isVisible());
        QVERIFY2(reason->text().contains(u"Login failed for user 'sa'."_s),
                 qPrintable(reason->text()));
        QCOMPARE(status->toolTip(), reason->text());
        QVERIFY(!reason->text().contains(u"Wrong-Pass9"_s));
        QVERIFY(ui.shown.isEmpty()); // a failed connection is no error box

        // The right password, then "Обновить подключение".
        field(form, u"Password"_s)->setText(sim.password());
        QTest::mouseClick(form.findChild<QPushButton*>(u"BRefreshConnect"_s), Qt::LeftButton);
        QCOMPARE(statusText(form), u"Соединение установлено"_s);
        QCOMPARE(statusColour(form), QColor(Qt::blue));
        QVERIFY(!reason->isVisible());
        QCOMPARE(status->toolTip(), QString());

        // The server drops the connection under the list's query: the error box, and red.
        QVERIFY(sim.exec(u"exec sqlsim_drop_connection N'master.dbo.sysdatabases', 0"_s));
        QTest::mouseClick(form.findChild<QPushButton*>(u"BRefreshConnect"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(statusText(form), u"Соединение не было установлено"_s);
        QCOMPARE(statusColour(form), QColor(Qt::red));
        QVERIFY(reason->isVisible());
        QVERIFY(!reason->text().isEmpty());

        // The next press reconnects.
        QTest::mouseClick(form.findChild<QPushButton*>(u"BRefreshConnect"_s), Qt::LeftButton);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(statusText(form), u"Соединение установлено"_s);
        QVERIFY(!reason->isVisible());
    }

    void catalogueFormat()
    {
        // Fails loudly if the catalogue format used above is not the one the program reads.
        ProgramFolder folder;
        QVERIFY(writeFile(folder.file(u"dbs.xml"_s), QByteArray("<dbs><db name=\"shop\"/></dbs>")));
        folder.write(u"settings.ini"_s, u"[db]\nserver=127.0.0.1,1\n"_s);
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QCOMPARE(form._ListDBPath.names(), QStringList{u"shop"_s});
    }
};

DBSETUP_GUI_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
