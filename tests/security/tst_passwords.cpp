// A password reaches the server and nothing else: with a distinctive one (";", "}", "'" and
// Cyrillic), every text the program produces, in the window and in batch runs, is searched for
// it and for the forms it takes on the way (braced, quotes doubled, cut at ";").
#include "BatchScene.h"
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "MyException.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

// Logs in as "revizor"; cut at ";" by a connection string, it no longer does.
const QString withSemicolon = u"Тайна7;Шифр}'{=42"_s;
// Logs in as "auditor" from a connection string or a UDL file too.
const QString withoutSemicolon = u"Ключ}'{Тайна=43"_s;
// No driver connection string can carry "};" inside a braced value: it never logs in.
const QString unquotable = u"Сейф};Код'9"_s;

QByteArray loginsFile()
{
    return (u"revizor="_s + withSemicolon + u"\nauditor="_s + withoutSemicolon + u"\nkeeper="_s +
            unquotable + u'\n')
        .toUtf8();
}

// The forms a password could leak in: as it is, braced for the driver, quoted for a connection
// string, and each piece a ";" would cut it into.
QStringList secretForms(const QString& password)
{
    QStringList forms{password, u'{' + QString(password).replace(u"}"_s, u"}}"_s) + u'}',
                      QString(password).replace(u"'"_s, u"''"_s), u'"' + password + u'"'};
    for (const QString& piece : password.split(u';'))
        if (piece.size() >= 4)
            forms << piece;
    return forms;
}

QStringList allSecrets()
{
    return secretForms(withSemicolon) + secretForms(withoutSemicolon) + secretForms(unquotable);
}

// The secret forms found in a text, for the failure message.
QStringList leaks(const QString& text)
{
    QStringList found;
    for (const QString& secret : allSecrets())
        if (text.contains(secret))
            found << secret;
    return found;
}

#define CHECK_NO_SECRET(what, text)                                                                \
    do {                                                                                           \
        const QString checked = (text);                                                            \
        QVERIFY2(leaks(checked).isEmpty(),                                                         \
                 qPrintable(QString::fromUtf8(what) + u": "_s + leaks(checked).join(u", "_s) +     \
                            u"\n"_s + checked));                                                   \
    } while (false)

// Every file below a folder but those named, as one text.
QString filesText(const QString& folder, const QStringList& except)
{
    QString text;
    const QDir root(folder);
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = root.relativeFilePath(it.next());
        if (!except.contains(path))
            text += path + u'\n' + QString::fromUtf8(readFile(it.filePath())) + u'\n';
    }
    return text;
}

} // namespace

class TestPasswords : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(writeFile(m_dir.filePath(u"logins.txt"_s), loginsFile()));
        QVERIFY2(m_sim.start({u"--logins"_s, m_dir.filePath(u"logins.txt"_s)}),
                 m_sim.process().stderrText().constData());
        QVERIFY(m_sim.exec(u"CREATE DATABASE ostrel_ts"_s));
    }

    void window_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password"); // in settings.ini
        QTest::addColumn<QString>("udl");      // a UDL file's connection, "" for none
        QTest::addColumn<bool>("serverGone");  // stopped once the window is up
        QTest::addColumn<bool>("connected");
        QTest::newRow("settings.ini, right password")
            << u"revizor"_s << withSemicolon << QString() << false << true;
        QTest::newRow("settings.ini, wrong password")
            << u"revizor"_s << withoutSemicolon << QString() << false << false;
        QTest::newRow("settings.ini, password that cannot be passed on")
            << u"keeper"_s << unquotable << QString() << false << false;
        QTest::newRow("server gone") << u"revizor"_s << withSemicolon << QString() << true << true;
        QTest::newRow("UDL file, right password")
            << u"sa"_s << u"wrong"_s << u"User ID=auditor;Password="_s + withoutSemicolon << false
            << true;
        QTest::newRow("UDL file, password cut at its semicolon")
            << u"sa"_s << u"wrong"_s << u"User ID=revizor;Password="_s + withSemicolon << false
            << false;
    }

    void window()
    {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, udl);
        QFETCH(bool, serverGone);
        QFETCH(bool, connected);

        ProgramFolder program;
        QString settings = u"[db]\nserver=127.0.0.1,%1\nuser_name=%2\npassword=%3\n"_s.arg(
            QString::number(m_sim.port()), user, password);
        if (!udl.isEmpty()) {
            QVERIFY(writeFile(program.file(u"conn.udl"_s),
                              udlFile(u"Provider=SQLOLEDB.1;Persist Security Info=True;"_s + udl +
                                      u";Initial Catalog=ostrel_ts;Data Source=127.0.0.1,"_s +
                                      QString::number(m_sim.port()))));
            settings += u"file_udl="_s + program.file(u"conn.udl"_s) + u'\n';
        }
        program.write(u"settings.ini"_s, settings);
        const qint64 logStart = QFileInfo(m_sim.logPath()).size();

        ScriptedOperatorUi ui;
        dbsetupApp()->setErrorReporter(&ui);
        QStringList errors; // texts of errors the flows threw
        {
            TFormDB form(ui, program.path());
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QCOMPARE(form.session().connection().isOpen(), connected);
            auto* status = form.findChild<QLabel*>(u"LDBConnect"_s);
            QCOMPARE(status->text(),
                     connected ? u"Соединение установлено"_s : u"Соединение не было установлено"_s);
            if (serverGone)
                m_sim.process().stop();

            // What the operator does next: reconnect, back up, restore, and the same flows
            // called directly so that their errors are seen as thrown.
            QTest::mouseClick(form.findChild<QPushButton*>(u"BRefreshConnect"_s), Qt::LeftButton);
            ui.fileAnswers = {m_dir.filePath(u"b.bak"_s)};
            QTest::mouseClick(form.findChild<QPushButton*>(u"BBackupDB"_s), Qt::LeftButton);
            form.findChild<QLineEdit*>(u"BackupFileName"_s)->setText(m_dir.filePath(u"b.bak"_s));
            ui.answers = {true};
            QTest::mouseClick(form.findChild<QPushButton*>(u"BRestoreDB"_s), Qt::LeftButton);
            const auto attempt = [&](const std::function<void()>& flow) {
                try {
                    flow();
                } catch (const std::exception& error) {
                    errors << QString::fromUtf8(error.what()) << errorMessage(error);
                }
            };
            attempt([&] {
                form.BackupDB(u"ostrel_ts"_s, {}, m_dir.filePath(u"c.bak"_s), false, true);
            });
            attempt([&] {
                form.RestoreDB(u"ostrel_copy"_s, m_dir.filePath(u"b.bak"_s), m_dir.path(), {}, true,
                               false, true, false);
            });
            attempt([&] {
                if (form.session().connection().isOpen())
                    form.session().connection().close();
                form.session().connection().open();
            });
            attempt([&] { form.RefreshListDB(); });
            CHECK_NO_SECRET("status line", status->text());
            CHECK_NO_SECRET("status line's tooltip", status->toolTip());
            CHECK_NO_SECRET("connection failure reason",
                            form.findChild<QLabel*>(u"LDBConnectReason"_s)->text());
            CHECK_NO_SECRET("window title", form.windowTitle());
        }
        if (serverGone)
            QVERIFY(m_sim.process().restart());

        QVERIFY(!errors.isEmpty() || connected);
        for (const auto& shown : ui.shown)
            CHECK_NO_SECRET("message", shown.caption + u'\n' + shown.text);
        CHECK_NO_SECRET("notes", ui.notes.join(u'\n'));
        CHECK_NO_SECRET("error", errors.join(u'\n'));
        QFile log(m_sim.logPath());
        QVERIFY(log.open(QIODevice::ReadOnly) && log.seek(logStart));
        CHECK_NO_SECRET("simulator log", QString::fromUtf8(log.readAll()));
        CHECK_NO_SECRET("program folder",
                        filesText(program.path(), {u"settings.ini"_s, u"conn.udl"_s}));
    }

    void batch_data()
    {
        QTest::addColumn<QString>("password");    // in settings.ini, as "revizor"
        QTest::addColumn<QStringList>("options"); // %cs% a connection string without password
        QTest::addColumn<QString>("udl");         // the UDL file's login and password, if any
        QTest::addColumn<bool>("serverGone");
        QTest::addColumn<int>("exitCode");
        const QString stored = u"/file:%dir%/b.bak"_s;
        QTest::newRow("backup, settings.ini password")
            << withSemicolon << QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, stored}
            << QString() << false << 0;
        QTest::newRow("restore, settings.ini password")
            << withSemicolon
            << QStringList{u"-restore_db"_s, u"/db_name:ostrel_copy"_s, stored,
                           u"/path_db:%dir%/data"_s}
            << QString() << false << 0;
        QTest::newRow("backup, wrong password")
            << withoutSemicolon << QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, stored}
            << QString() << false << 1;
        QTest::newRow("backup, /connection_string")
            << u"wrong"_s
            << QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, stored,
                           u"/connection_string:%cs%;User ID=auditor;Password="_s +
                               withoutSemicolon}
            << QString() << false << 0;
        QTest::newRow("backup, /connection_string cut at the semicolon")
            << u"wrong"_s
            << QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, stored,
                           u"/connection_string:%cs%;User ID=revizor;Password="_s + withSemicolon}
            << QString() << false << 1;
        QTest::newRow("backup, /connection_string with the password in quotes")
            << u"wrong"_s
            << QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, stored,
                           u"/connection_string:%cs%;User ID=revizor;Password = '"_s +
                               QString(withSemicolon).replace(u"'"_s, u"''"_s) + u"' "_s}
            << QString() << false << 0;
        QTest::newRow("restore, UDL file")
            << u"wrong"_s
            << QStringList{u"-restore_db"_s, u"/db_name:ostrel_copy"_s, stored,
                           u"/path_db:%dir%/data"_s, u"/file_udl:%udl%"_s}
            << u"User ID=auditor;Password="_s + withoutSemicolon << false << 0;
        QTest::newRow("backup, password that cannot be passed on")
            << unquotable << QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, stored}
            << QString() << false << 1;
        QTest::newRow("backup, server gone")
            << withSemicolon << QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, stored}
            << QString() << true << 1;
    }

    void batch()
    {
        QFETCH(QString, password);
        QFETCH(QStringList, options);
        QFETCH(QString, udl);
        QFETCH(bool, serverGone);
        QFETCH(int, exitCode);

        BatchScene scene;
        const QString logins = scene.path(u"logins.txt"_s);
        QVERIFY(writeFile(logins, loginsFile()));
        BATCH_STEP(scene.setUp(true, {u"--logins"_s, logins}));
        BATCH_STEP(scene.writeSettings({}, password, u"revizor"_s));
        for (const QString& secret : allSecrets())
            scene.addSecret(secret); // run() fails on any of them on stdout or stderr
        const QString dir = scene.path(u"work"_s);
        QVERIFY(QDir().mkpath(dir));
        // A backup to restore from, made by the server itself.
        QVERIFY(scene.exec(u"BACKUP DATABASE ostrel_ts TO DISK = "_s + sqlText(dir + u"/b.bak"_s)));
        const QString udlPath = scene.path(u"conn/default.udl"_s);
        if (!udl.isEmpty())
            QVERIFY(writeFile(udlPath, udlFile(u"Provider=SQLOLEDB.1;"_s + udl +
                                               u";Initial Catalog=ostrel_ts;Data Source="_s +
                                               scene.server())));
        options.replaceInStrings(u"%dir%"_s, dir);
        options.replaceInStrings(u"%udl%"_s, udlPath);
        options.replaceInStrings(u"%cs%"_s, u"Data Source="_s + scene.server());
        const qint64 logStart = QFileInfo(scene.logPath()).size();
        if (serverGone)
            scene.sim().stop();

        RunResult r;
        BATCH_STEP(scene.run(options, r));
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.err));
        CHECK_NO_SECRET("stderr", r.err);
        CHECK_NO_SECRET("stdout", r.out);
        CHECK_NO_SECRET("simulator log",
                        QString::fromUtf8(readFile(scene.logPath()).mid(logStart)));
        CHECK_NO_SECRET("program folder",
                        filesText(scene.programDir(), {u"settings.ini"_s, u"dbsetup"_s}));
    }
};

DBSETUP_GUI_TEST_MAIN(TestPasswords)
#include "tst_passwords.moc"
