// Start-up of the main window: the frame, settings.ini, the UDL file, the first connection and
// the catalogue, and the connection panel's handlers, against bin/sqlsim.
#include "DBWorkU.h"
#include "GuiFixture.h"

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
        QCOMPARE(form.minimumSize(), form.size()); // the layout is drawn for the default size
        QVERIFY(form.maximumSize().width() > form.width());
        QVERIFY(form.windowFlags() & Qt::WindowMaximizeButtonHint);

        const auto* page = form.findChild<QTabWidget*>(u"Page"_s);
        QCOMPARE(page->count(), 3);
        QCOMPARE(page->tabText(0), u"Подключить/отключить базу"_s);
        QCOMPARE(page->tabText(1), u"Восстановить базу"_s);
        QCOMPARE(page->tabText(2), u"SQL запрос"_s);
        QCOMPARE(page->currentWidget()->objectName(), u"TabAttachDB"_s);
        QCOMPARE(form.findChild<QWidget*>(u"PanelDB"_s)->height(), 105);
        QVERIFY(ui.shown.isEmpty());
    }

    // The connection panel's controls lie inside it, none over another, and each shows whole.
    void panelControlsFit()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto* panel = form.findChild<QWidget*>(u"PanelDB"_s);
        QList<const QWidget*> controls;
        for (const QString& name : {u"LDBConnect"_s, u"Server"_s, u"BRefreshConnect"_s,
                                    u"BevelDB"_s, u"UserName"_s, u"Password"_s})
            controls << control<QWidget>(form, name);
        for (const QWidget* w : controls) {
            QCOMPARE(w->parentWidget(), panel);
            QVERIFY2(panel->rect().contains(w->geometry()), qPrintable(w->objectName()));
            QVERIFY2(w->width() >= w->minimumSizeHint().width() || qobject_cast<const QLabel*>(w),
                     qPrintable(w->objectName()));
        }
        // The frame holds the credentials; nothing else overlaps.
        for (const QWidget* a : controls)
            for (const QWidget* b : controls) {
                if (a == b || a->objectName() == u"BevelDB"_s || b->objectName() == u"BevelDB"_s)
                    continue;
                QVERIFY2(!a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + u" over "_s + b->objectName()));
            }
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
        QCOMPARE(form.session().installDir(), QString());
        QCOMPARE(form.session().maxSizeAddDB(), qint64(10485760));
        QCOMPARE(field(form, u"RestoreToDirectory"_s)->text(), u"Data"_s);
        QCOMPARE(form.session().currentDBName(), u"ostrel_ts"_s);
        QCOMPARE(form.findChild<QComboBox*>(u"DBName"_s)->currentText(), u"ostrel_ts"_s);
        QCOMPARE(field(form, u"RestoreDBName"_s)->text(), u"ostrel_ts"_s);
        QCOMPARE(statusText(form), u"Соединение не было установлено"_s);
        QCOMPARE(statusColour(form), QColor(Qt::red));
        QVERIFY(!form.session().connection().isOpen());
        QCOMPARE(form.session().connection().commandTimeout(), 3600);
        QVERIFY(ui.shown.isEmpty()); // a failed connection is no error
    }

    // The tick from settings.ini behaves as the operator's click: the credentials are unavailable
    // while it is on, and it tried to connect.
    void authorizationFlag_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("on");
        QTest::newRow("on") << u"1"_s << true;
        QTest::newRow("off") << u"0"_s << false;
    }
    void authorizationFlag()
    {
        QFETCH(QString, value);
        QFETCH(bool, on);
        ProgramFolder folder;
        folder.write(u"settings.ini"_s,
                     u"[db]\nserver=127.0.0.1,1\nis_authorization="_s + value + u'\n');
        ScriptedOperatorUi ui;
        TFormDB form(ui, folder.path());
        QCOMPARE(form.findChild<QCheckBox*>(u"isAuthorization"_s)->isChecked(), on);
        QCOMPARE(field(form, u"UserName"_s)->isEnabled(), !on);
        QCOMPARE(field(form, u"Password"_s)->isEnabled(), !on);
        QCOMPARE(statusColour(form), QColor(Qt::red));
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
        QCOMPARE(form.session().maxSizeAddDB(), qint64(0));               // after it: untouched
        QCOMPARE(form.session().currentDBName(), QString());
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
        QCOMPARE(form.session().currentDBName(), u"shop"_s);
        QCOMPARE(form.findChild<QComboBox*>(u"DBName"_s)->currentText(), u"shop"_s);
        QCOMPARE(field(form, u"RestoreDBName"_s)->text(), u"shop"_s);
        QVERIFY(form.session().connection().isOpen());
        QCOMPARE(statusText(form), u"Соединение установлено"_s);
        QCOMPARE(statusColour(form), QColor(Qt::blue));
        QCOMPARE(field(form, u"BackupFileName"_s)->text(), backupFile);
        QVERIFY(form.backupFileTidyPending());
        // The password is kept for reconnecting, and no label or tooltip ever shows it.
        QVERIFY(form.session().connectString().contains(u"Password="_s + sim.password()));
        for (const QLabel* label : form.findChildren<QLabel*>())
            QVERIFY2(!label->text().contains(sim.password()) &&
                         !label->toolTip().contains(sim.password()),
                     qPrintable(label->objectName()));
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
        QVERIFY(!form.backupFileTidyPending());
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
        QCOMPARE(form.session().listDBPath().names(), QStringList{u"shop"_s});
    }
};

DBSETUP_GUI_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
