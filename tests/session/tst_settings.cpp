// settings.ini as the session reads it at start-up, window or batch: defaults, the installation
// folder and what is built from it, the size limit, flags, and a registry key that fails.
#include "ScriptedOperatorUi.h"
#include "Session.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // A program folder with this settings.ini (none when text is null) and test.reg.
    QString programFolder(const QString& text, const QString& registry = {})
    {
        static int count = 0;
        const QString folder = m_dir.filePath(QString::number(++count)) + u'/';
        if (!text.isNull())
            [&] {
                QVERIFY(writeFile(folder + u"settings.ini"_s, text.toUtf8()));
            }();
        if (!registry.isEmpty()) {
            [&] {
                QVERIFY(writeFile(folder + u"test.reg"_s,
                                  (u"Windows Registry Editor Version 5.00\n\n"
                                   u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel]\n"_s +
                                   registry + u'\n')
                                      .toUtf8()));
            }();
            qputenv("DBSETUP_REGISTRY", QFile::encodeName(folder + u"test.reg"_s));
        } else {
            qunsetenv("DBSETUP_REGISTRY");
        }
        return folder;
    }

private slots:
    void values_data()
    {
        QTest::addColumn<QString>("ini"); // null: no file at all
        QTest::addColumn<QString>("registry");
        QTest::addColumn<QString>("installDir");
        QTest::addColumn<qint64>("maxSize");
        QTest::addColumn<QString>("apprName");
        QTest::addColumn<QString>("restoreFolder");

        const qint64 tenMiB = 10485760;
        const QString noServer = u"[db]\nserver=127.0.0.1,1\n[other]\n"_s;
        const QString regKey =
            u"install_dir_from_reg_key=HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Dir\n"
            u"install_dir=/opt/app\n"_s;
        QTest::newRow("no settings.ini")
            << QString() << QString() << QString() << tenMiB << QString() << u"Data"_s;
        QTest::newRow("install_dir gains a separator")
            << noServer + u"install_dir=/opt/app"_s << QString() << u"/opt/app/"_s << tenMiB
            << QString() << u"/opt/app/Data"_s;
        QTest::newRow("install_dir keeps its separator")
            << noServer + u"install_dir=/opt/app/"_s << QString() << u"/opt/app/"_s << tenMiB
            << QString() << u"/opt/app/Data"_s;
        QTest::newRow("size zero") << noServer + u"max_size_file_add_db=0"_s << QString()
                                   << QString() << qint64(0) << QString() << u"Data"_s;
        QTest::newRow("size empty") << noServer + u"max_size_file_add_db="_s << QString()
                                    << QString() << tenMiB << QString() << u"Data"_s;
        QTest::newRow("size not a number") << noServer + u"max_size_file_add_db=12MB"_s << QString()
                                           << QString() << tenMiB << QString() << u"Data"_s;
        QTest::newRow("size beyond 32 bits")
            << noServer + u"max_size_file_add_db=8589934592"_s << QString() << QString()
            << qint64(8589934592) << QString() << u"Data"_s;
        QTest::newRow("size in hexadecimal")
            << noServer + u"max_size_file_add_db=0x10"_s << QString() << QString() << qint64(16)
            << QString() << u"Data"_s;
        QTest::newRow("first %install_dir% only")
            << noServer + u"install_dir=/opt/app\nappr_name_path_name=%install_dir%bin/a.exe|"
                          u"%install_dir%"_s
            << QString() << u"/opt/app/"_s << tenMiB << u"/opt/app/bin/a.exe|%install_dir%"_s
            << u"/opt/app/Data"_s;
        QTest::newRow("%install_dir% case matters")
            << noServer + u"install_dir=/opt/app\nappr_name_path_name=%INSTALL_DIR%a.exe"_s
            << QString() << u"/opt/app/"_s << tenMiB << u"%INSTALL_DIR%a.exe"_s
            << u"/opt/app/Data"_s;
        QTest::newRow("registry wins")
            << noServer + regKey << u"\"Dir\"=\"/srv/reg\""_s << u"/srv/reg/"_s << tenMiB
            << QString() << u"/srv/reg/Data"_s;
        QTest::newRow("empty registry value: install_dir")
            << noServer + regKey << u"\"Dir\"=\"\""_s << u"/opt/app/"_s << tenMiB << QString()
            << u"/opt/app/Data"_s;
        QTest::newRow("no registry value: install_dir")
            << noServer + regKey << u"\"Other\"=\"x\""_s << u"/opt/app/"_s << tenMiB << QString()
            << u"/opt/app/Data"_s;
    }
    void values()
    {
        QFETCH(QString, ini);
        QFETCH(QString, registry);
        QFETCH(QString, installDir);
        QFETCH(qint64, maxSize);
        QFETCH(QString, apprName);
        QFETCH(QString, restoreFolder);
        ScriptedOperatorUi ui;
        Session session(ui, programFolder(ini, registry));
        const Settings read = session.loadSettings();
        QVERIFY(!read.failure);
        QCOMPARE(session.installDir(), installDir);
        QCOMPARE(session.maxSizeAddDB(), maxSize);
        QCOMPARE(session.apprNamePathName(), apprName);
        QCOMPARE(session.restoreFolder(), restoreFolder);
        QCOMPARE(session.currentDBName(), u"ostrel_ts"_s);
        if (ini.isNull()) {
            QCOMPARE(session.login().server, u".\\sqlexpress"_s);
            QCOMPARE(session.login().userName, u"sa"_s);
        }
        QVERIFY(ui.shown.isEmpty()); // a failed connection is no error
    }

    // Only an integer other than zero turns a flag on; the Windows tick connects when it does.
    void flags_data()
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
    void flags()
    {
        QFETCH(QString, value);
        QFETCH(bool, on);
        ScriptedOperatorUi ui;
        Session session(ui, programFolder(u"[db]\nserver=127.0.0.1,1\nis_authorization="_s + value +
                                          u"\n[other]\nverify_backup="_s + value +
                                          u"\ncopy_only_backup="_s + value + u'\n'));
        int attempts = 0;
        connect(&session, &Session::connectionShown, this, [&attempts] { ++attempts; });
        const Settings read = session.loadSettings();
        QCOMPARE(read.verifyBackup, on);
        QCOMPARE(read.copyOnlyBackup, on);
        QCOMPARE(session.login().windowsLogin, on);
        QCOMPARE(attempts, on ? 1 : 0);
    }

    // A registry value of another type stops the reading there: the login is applied, nothing
    // after it, and no connection is tried.
    void registryFailureStopsReading()
    {
        ScriptedOperatorUi ui;
        Session session(
            ui,
            programFolder(u"[db]\nserver=127.0.0.1,1\nuser_name=op\n[other]\n"
                          u"db_file_name=/data/a.mdf\n"
                          u"install_dir_from_reg_key=HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvel\\Dir\n"
                          u"max_size_file_add_db=5\n"_s,
                          u"\"Dir\"=dword:00000001"_s));
        int attempts = 0;
        connect(&session, &Session::connectionShown, this, [&attempts] { ++attempts; });
        const Settings read = session.loadSettings();
        QVERIFY(read.failure);
        QCOMPARE(read.dbFileName, u"/data/a.mdf"_s);
        QCOMPARE(session.login().userName, u"op"_s);
        QCOMPARE(session.maxSizeAddDB(), qint64(0));
        QCOMPARE(session.currentDBName(), QString());
        QCOMPARE(attempts, 0);
        try {
            std::rethrow_exception(read.failure);
        } catch (const std::exception& error) {
            QCOMPARE(errorMessage(error), u"Invalid data type for 'Dir'"_s);
        }
    }

    // The operator's choices go back into [other], keeping what else the file says; a file that
    // cannot be written is said.
    void rememberSetting()
    {
        ScriptedOperatorUi ui;
        const QString folder = programFolder(u"[db]\nserver=srv\n"_s);
        Session session(ui, folder);
        session.rememberSetting(u"verify_backup"_s, u"1"_s);
        QCOMPARE(ReadSettingsFile(folder + u"settings.ini"_s).verifyBackup, true);
        QCOMPARE(ReadSettingsFile(folder + u"settings.ini"_s).server, u"srv"_s);
        QVERIFY(ui.shown.isEmpty());

        Session nowhere(ui, m_dir.filePath(u"missing/folder/"_s));
        nowhere.rememberSetting(u"verify_backup"_s, u"1"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Warning);
    }

    void cleanupTestCase() { qunsetenv("DBSETUP_REGISTRY"); }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
