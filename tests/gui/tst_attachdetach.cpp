// Attach, detach and reconnect from the attach tab, against bin/sqlsim, statements read back
// from the simulator's log.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "ReconnectingClient.h"
#include "ServerRights.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>

using namespace Qt::StringLiterals;

namespace {

void click(const TFormDB& form, const QString& button)
{
    QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);
}

} // namespace

class TestAttachDetach : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;
    QTemporaryDir m_files;

    // The data file of a database made and detached here, ready to attach.
    QString detachedDatabase(const QString& name, const QString& extra = {})
    {
        if (!m_sim.exec(u"CREATE DATABASE [%1]"_s.arg(name)))
            return {};
        if (!extra.isEmpty() && !m_sim.exec(u"USE [%1]; "_s.arg(name) + extra))
            return {};
        OdbcClient client;
        client.connect(m_sim.port(), u"sa"_s, m_sim.password());
        const QString literal = QString(name).replace(u"'"_s, u"''"_s);
        const QString file = flatten(client
                                         .exec(u"SELECT filename FROM master.dbo.sysdatabases "
                                               u"WHERE name = N'%1'"_s.arg(literal))
                                         .resultSets.value(0))
                                 .value(0);
        client.exec(u"EXEC sp_detach_db N'%1'"_s.arg(literal));
        return file;
    }

    std::unique_ptr<TFormDB> open(ProgramFolder& folder, ScriptedOperatorUi& ui)
    {
        return openForm(folder, ui, m_sim.settings());
    }

    QStringList logSince(qsizetype from) const { return m_sim.log().mid(from); }

    QStringList databases()
    {
        OdbcClient client;
        client.connect(m_sim.port(), u"sa"_s, m_sim.password());
        return flatten(client
                           .exec(u"SELECT name FROM sys.databases WHERE database_id > 4 "
                                 u"ORDER BY name"_s)
                           .resultSets.value(0));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        QTemporaryDir logins;
        QVERIFY(writeFile(m_files.filePath(u"logins.txt"_s), "ivanov=Ivanov-Pass1\n"));
        QVERIFY2(m_sim.start({u"--logins"_s, m_files.filePath(u"logins.txt"_s)}),
                 m_sim.process().stderrText().constData());
    }

    void attach_data()
    {
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<bool>("attached");
        QTest::newRow("data file alone") << QString() << u"sp_attach_single_file_db"_s << true;
        QTest::newRow("with a log file") << u"%1"_s << u"sp_attach_db"_s << true;
        // Blanks count as a log file, which the server then cannot open.
        QTest::newRow("log field of blanks") << u"  "_s << u"sp_attach_db"_s << false;
    }
    void attach()
    {
        QFETCH(QString, log);
        QFETCH(QString, procedure);
        QFETCH(bool, attached);
        const QString name =
            u"att_"_s + QString::number(std::hash<std::string>{}(QTest::currentDataTag()) % 100000);
        const QString file = detachedDatabase(name);
        QVERIFY(!file.isEmpty());
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QVERIFY(form);
        const QStringList before = listedNames(*form);
        form->findChild<QComboBox*>(u"DBName"_s)->setEditText(name);
        form->findChild<QLineEdit*>(u"DBFileName"_s)->setText(file);
        const QString logFile =
            log == u"%1"_s ? QString(file).replace(u".mdf"_s, u"_log.ldf"_s) : log;
        form->findChild<QLineEdit*>(u"DBLogFileName"_s)->setText(logFile);
        const qsizetype mark = m_sim.log().size();
        click(*form, u"bAttachDB"_s);
        QCOMPARE(ui.shown.size(), 1);
        const QStringList sent = logSince(mark);
        if (attached) {
            QCOMPARE(ui.shown[0].text, u"База подключена"_s);
            QCOMPARE(listedNames(*form), before + QStringList{name});
            QCOMPARE(form->findChild<QTableWidget*>(u"ListDB"_s)->currentRow(), before.size());
            QVERIFY(databases().contains(name));
        } else {
            QVERIFY(ui.shown[0].text.startsWith(u"Ошибка подключение базы данных."_s));
            QCOMPARE(listedNames(*form), before);
        }
        QVERIFY2(std::any_of(
                     sent.begin(), sent.end(),
                     [&](const QString& e) { return e.startsWith(u"rpc: "_s + procedure + u' '); }),
                 qPrintable(sent.join(u'\n')));
        // No AutoExecute: nothing goes to master.
        QVERIFY(!sent.join(u'\n').contains(u"_AutoExec"_s));
    }

    // A database with an AutoExecute procedure gets its start-up procedure in master.
    void autoExec()
    {
        const QString file =
            detachedDatabase(u"autodb"_s, u"EXEC('CREATE PROCEDURE AutoExecute AS SELECT 1')"_s);
        QVERIFY(!file.isEmpty());
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        form->findChild<QComboBox*>(u"DBName"_s)->setEditText(u"autodb"_s);
        form->findChild<QLineEdit*>(u"DBFileName"_s)->setText(file);
        form->findChild<QLineEdit*>(u"DBLogFileName"_s)->clear();
        const qsizetype mark = m_sim.log().size();
        click(*form, u"bAttachDB"_s);
        QCOMPARE(ui.shown.value(0).text, u"База подключена"_s);
        const QString sent = logSince(mark).join(u'\n');
        QVERIFY2(sent.contains(
                     u"batch: IF EXISTS (SELECT name FROM sysobjects WHERE  name = "
                     u"N'autodb_AutoExec' AND type = 'P') \r\n DROP PROCEDURE [autodb_AutoExec]"_s),
                 qPrintable(sent));
        QVERIFY(sent.contains(
            u"batch: CREATE PROCEDURE [autodb_AutoExec] AS exec [autodb].dbo.AutoExecute"_s));
        QVERIFY(sent.contains(u"batch: sp_procoption N'autodb_AutoExec', N'startup', N'on'"_s));
        OdbcClient client;
        client.connect(m_sim.port(), u"sa"_s, m_sim.password());
        QCOMPARE(flatten(client
                             .exec(u"SELECT name FROM master.dbo.sysobjects WHERE name = "
                                   u"'autodb_AutoExec' AND type = 'P'"_s)
                             .resultSets.value(0)),
                 QStringList{u"autodb_AutoExec"_s});
    }

    // A login that may attach (dbcreator) but not set start-up procedures (sysadmin only): the
    // database is attached, and the operator is told what was not done, and why.
    void autoExecRefused()
    {
        const QString file =
            detachedDatabase(u"autodb2"_s, u"EXEC('CREATE PROCEDURE AutoExecute AS SELECT 1')"_s);
        QVERIFY(!file.isEmpty());
        QVERIFY(m_sim.exec(u"CREATE LOGIN keeper WITH PASSWORD = N'"_s + m_sim.password() +
                           u"'; ALTER SERVER ROLE dbcreator ADD MEMBER keeper"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        QString settings = m_sim.settings();
        settings.replace(QRegularExpression(u"user_name=[^\n]*"_s), u"user_name=keeper"_s);
        auto form = openForm(folder, ui, settings);
        form->findChild<QComboBox*>(u"DBName"_s)->setEditText(u"autodb2"_s);
        form->findChild<QLineEdit*>(u"DBFileName"_s)->setText(file);
        form->findChild<QLineEdit*>(u"DBLogFileName"_s)->clear();
        click(*form, u"bAttachDB"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Warning);
        const QString text = ui.shown[0].text;
        QVERIFY2(text.startsWith(u"База подключена\r\n\r\nПроцедура \"autodb2_AutoExec\" не "
                                 u"назначена для запуска при старте сервера: "_s),
                 qPrintable(text));
        QVERIFY2(text.endsWith(u"Учётной записи \"keeper\" не хватает прав: "_s +
                               neededRight::startupProcedure + u'.'),
                 qPrintable(text));
        QVERIFY(databases().contains(u"autodb2"_s));
    }

    // The DBUsers row is added for a Windows login only, copied from "sa".
    void userRow_data()
    {
        QTest::addColumn<bool>("windowsLogin");
        QTest::newRow("Windows login") << true;
        QTest::newRow("SQL Server login") << false;
    }
    void userRow()
    {
        QFETCH(bool, windowsLogin);
        const QString name = windowsLogin ? u"users_w"_s : u"users_s"_s;
        const QString file = detachedDatabase(
            name, u"CREATE TABLE DBUsers (Login nvarchar(128), UserExCode int, GtdCounter int, "
                  u"ElCopyCounter int); INSERT INTO DBUsers VALUES ('sa', 7, 8, 9)"_s);
        QVERIFY(!file.isEmpty());
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        // The login stands for the Windows account: suser_sname() names it.
        folder.write(u"settings.ini"_s,
                     u"[db]\nserver=127.0.0.1,%1\nuser_name=ivanov\npassword=Ivanov-Pass1\n"_s.arg(
                         m_sim.port()));
        dbsetupApp()->setErrorReporter(&ui);
        TFormDB form(ui, folder.path());
        QVERIFY(form.session().connection().isOpen());
        const qsizetype mark = m_sim.log().size();
        form.AddUserToDBUsers(name, file, windowsLogin, QString());
        OdbcClient client;
        client.connect(m_sim.port(), u"sa"_s, m_sim.password());
        const QStringList rows = flatten(
            client
                .exec(u"SELECT Login, UserExCode, GtdCounter, ElCopyCounter FROM [%1].dbo.DBUsers "
                      u"ORDER BY Login"_s.arg(name))
                .resultSets.value(0));
        if (windowsLogin)
            QCOMPARE(rows, (QStringList{u"ivanov|7|8|9"_s, u"sa|7|8|9"_s}));
        else
            QCOMPARE(rows, QStringList{u"sa|7|8|9"_s});
        QCOMPARE(logSince(mark).join(u'\n').contains(u"insert DBUsers"_s), windowsLogin);
    }

    void rejectedAttach()
    {
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        const QStringList before = listedNames(*form);
        form->findChild<QComboBox*>(u"DBName"_s)->setEditText(u"ghost"_s);
        form->findChild<QLineEdit*>(u"DBFileName"_s)->setText(m_files.filePath(u"none.mdf"_s));
        form->findChild<QLineEdit*>(u"DBLogFileName"_s)->clear();
        click(*form, u"bAttachDB"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Error);
        QVERIFY2(ui.shown[0].text.startsWith(u"Ошибка подключение базы данных.\r\n\r\n"_s),
                 qPrintable(ui.shown[0].text));
        QVERIFY(ui.shown[0].text.size() > 40); // the server's text follows
        QCOMPARE(listedNames(*form), before);
    }

    void detach()
    {
        for (const QString& name : {u"d1"_s, u"d2"_s})
            QVERIFY(m_sim.exec(u"CREATE DATABASE "_s + name));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        auto* list = form->findChild<QTableWidget*>(u"ListDB"_s);
        const QStringList before = listedNames(*form);
        const int last = list->rowCount() - 1;
        QCOMPARE(before.last(), u"d2"_s);
        list->setCurrentCell(last, 0);

        // No: nothing changes.
        const qsizetype mark = m_sim.log().size();
        ui.answers = {false};
        click(*form, u"BDeleteDB"_s);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].caption, u"Вынимание"_s);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Question);
        QCOMPARE(ui.shown[0].text, u"Вы действительно хотете отключить базу данных \"d2\"?"_s);
        QCOMPARE(m_sim.log().size(), mark);
        QCOMPARE(listedNames(*form), before);

        // Yes on the last row: no row is selected, so that the next click cannot fall on a
        // neighbour.
        ui.answers = {true};
        click(*form, u"BDeleteDB"_s);
        QCOMPARE(ui.shown.size(), 2);
        QCOMPARE(listedNames(*form), before.mid(0, last));
        QCOMPARE(list->currentRow(), -1);
        QVERIFY(!databases().contains(u"d2"_s));
    }

    // A database in use elsewhere: the server's message, and the list rebuilt all the same.
    void detachInUse()
    {
        QVERIFY(m_sim.exec(u"CREATE DATABASE busy"_s));
        OdbcClient other;
        other.setAppName(u"other-client"_s);
        QVERIFY(other.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"busy"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        auto* list = form->findChild<QTableWidget*>(u"ListDB"_s);
        list->setCurrentCell(int(listedNames(*form).indexOf(u"busy"_s)), 0);
        const qsizetype lists = m_sim.count(u"batch: SELECT * FROM master.dbo.sysdatabases"_s);
        // Yes to the detach, No to ending the other session.
        ui.answers = {true, false};
        click(*form, u"BDeleteDB"_s);
        QCOMPARE(ui.shown.size(), 3);
        QCOMPARE(ui.shown[1].icon, OperatorUi::Icon::Question);
        QVERIFY2(
            ui.shown[1].text.startsWith(u"База используется другими подключениями: 1 (sa — "_s),
            qPrintable(ui.shown[1].text));
        QVERIFY2(ui.shown[1].text.endsWith(u", other-client). Отключить их?"_s),
                 qPrintable(ui.shown[1].text));
        QCOMPARE(ui.shown[2].icon, OperatorUi::Icon::Error);
        QVERIFY2(ui.shown[2].text.contains(u"busy"_s), qPrintable(ui.shown[2].text));
        QCOMPARE(m_sim.count(u"batch: SELECT * FROM master.dbo.sysdatabases"_s), lists + 1);
        QVERIFY(listedNames(*form).contains(u"busy"_s));
        QVERIFY(other.exec(u"SELECT 1"_s).ok);
    }

    // With the operator's consent the other sessions are ended and the database detached.
    void detachEndingOtherSessions()
    {
        QVERIFY(m_sim.exec(u"CREATE DATABASE busy_ended"_s));
        OdbcClient other;
        other.setAppName(u"other-client"_s);
        QVERIFY(other.connect(m_sim.port(), u"sa"_s, m_sim.password(), u"busy_ended"_s));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        form->findChild<QTableWidget*>(u"ListDB"_s)
            ->setCurrentCell(int(listedNames(*form).indexOf(u"busy_ended"_s)), 0);
        ui.answers = {true, true};
        click(*form, u"BDeleteDB"_s);
        QCOMPARE(ui.shown.size(), 2);
        QVERIFY(ui.shown[1].text.startsWith(u"База используется другими подключениями: 1"_s));
        QVERIFY(!databases().contains(u"busy_ended"_s));
        QVERIFY(!listedNames(*form).contains(u"busy_ended"_s));
        QVERIFY(!other.exec(u"SELECT 1"_s).ok); // its session was ended
    }

    void reconnect_data()
    {
        QTest::addColumn<bool>("fileGone");
        QTest::newRow("reattached") << false;
        QTest::newRow("data file gone") << true;
    }
    void reconnect()
    {
        QFETCH(bool, fileGone);
        const QString name = fileGone ? u"gone_db"_s : u"again_db"_s;
        QVERIFY(m_sim.exec(u"CREATE DATABASE "_s + name));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        auto* list = form->findChild<QTableWidget*>(u"ListDB"_s);
        const int row = int(listedNames(*form).indexOf(name));
        list->setCurrentCell(row, 0);
        const QString file = list->item(row, 1)->text();
        if (fileGone) {
            // The listed file is taken away while the database stays attached.
            QVERIFY(QFile::rename(file, file + u".moved"_s));
        }
        click(*form, u"BReConnectDB"_s);
        QCOMPARE(ui.shown.size(), 1);
        if (fileGone) {
            QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Error);
            QVERIFY(ui.shown[0].text.startsWith(u"Ошибка подключение базы данных."_s));
            QVERIFY(!listedNames(*form).contains(name));
        } else {
            QCOMPARE(ui.shown[0].text, u"База переподключена"_s);
            QVERIFY(listedNames(*form).contains(name));
            // The highlight stays on the database acted on, wherever the server lists it now.
            QCOMPARE(list->item(list->currentRow(), 0)->text(), name);
        }
        if (fileGone)
            QCOMPARE(list->currentRow(), -1); // not on a neighbour the next click would hit
    }

    // " prod" and "prod" are two databases; the list shows both as "prod", and the row of
    // " prod" (file p1.mdf) detaches " prod".
    void namesDifferingByBlanks()
    {
        for (const auto& [name, file] : {std::pair{u" prod"_s, u"p1"_s}, {u"prod"_s, u"p2"_s}})
            QVERIFY(m_sim.exec(
                u"CREATE DATABASE [%1] ON (NAME = %2, FILENAME = '%3.mdf') LOG ON (NAME = %2_log, "
                u"FILENAME = '%3_log.ldf')"_s.arg(name, file, m_files.filePath(file))));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        auto* list = form->findChild<QTableWidget*>(u"ListDB"_s);
        int row = -1;
        for (int r = 0; r < list->rowCount(); ++r)
            if (list->item(r, 1)->text().endsWith(u"p1.mdf"_s))
                row = r;
        QVERIFY(row >= 0);
        QCOMPARE(list->item(row, 0)->text(), u"prod"_s); // shown trimmed
        list->setCurrentCell(row, 0);
        ui.answers = {true};
        click(*form, u"BDeleteDB"_s);
        QCOMPARE(shownTexts(ui), QStringList{u"Вы действительно хотете отключить базу данных "
                                             u"\"prod\"?"_s});
        const QStringList left = databases();
        QVERIFY2(left.contains(u"prod"_s) && !left.contains(u" prod"_s),
                 qPrintable(left.join(u'|')));
    }

    // An application that logs in again a millisecond after being thrown out: with the
    // operator's consent the detach (and the detach of a reconnect) goes in the same batch as
    // the closing, and the database is usable by all afterwards. Without it, a reconnect says
    // that the detach failed, and attaches nothing.
    void reconnectingApplication_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("consent");
        QTest::newRow("detach") << u"BDeleteDB"_s << true;
        QTest::newRow("reconnect") << u"BReConnectDB"_s << true;
        QTest::newRow("reconnect, left alone") << u"BReConnectDB"_s << false;
    }
    void reconnectingApplication()
    {
        QFETCH(QString, button);
        QFETCH(bool, consent);
        const QString name = u"held_%1_%2"_s.arg(button).arg(consent);
        QVERIFY(m_sim.exec(u"CREATE DATABASE "_s + name));
        ReconnectingClient app(m_sim.port(), m_sim.password(), name);
        QVERIFY(app.start());
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QVERIFY(selectListedRow(*form, name));
        const bool detach = button == u"BDeleteDB"_s;
        ui.answers = detach ? QList<bool>{true, consent} : QList<bool>{consent};
        click(*form, button);
        OdbcClient client;
        QVERIFY(client.connect(m_sim.port(), u"sa"_s, m_sim.password()));
        const QStringList access = flatten(
            client
                .exec(u"SELECT state_desc, user_access_desc FROM sys.databases WHERE name = '"_s +
                      name + u"'"_s)
                .resultSets.value(0));
        app.stop();
        const QStringList texts = shownTexts(ui);
        QVERIFY2(access == (detach ? QStringList() : QStringList{u"ONLINE|MULTI_USER"_s}),
                 qPrintable(access.join(u'|') + u'\n' + texts.join(u'\n')));
        // The question about the other session, then the outcome.
        QVERIFY2(texts.size() == 2, qPrintable(texts.join(u'\n')));
        QVERIFY2(texts.filter(u"База используется другими подключениями: 1 (sa — "_s).size() == 1,
                 qPrintable(texts.join(u'\n')));
        if (detach)
            return;
        if (consent) {
            QCOMPARE(texts.last(), u"База переподключена"_s);
        } else {
            QCOMPARE(ui.shown.last().icon, OperatorUi::Icon::Error);
            QVERIFY2(texts.last().contains(u"Cannot detach"_s), qPrintable(texts.last()));
            QVERIFY2(!texts.last().contains(u"Ошибка подключение"_s), qPrintable(texts.last()));
        }
    }

    // On a server without user databases the new row goes below the empty placeholder row.
    void attachBelowPlaceholder()
    {
        QVERIFY(m_sim.process().restart());
        const QString file = detachedDatabase(u"it's"_s);
        // Empty the server of every user database.
        OdbcClient client;
        client.connect(m_sim.port(), u"sa"_s, m_sim.password());
        for (const QString& n : databases())
            client.exec(u"EXEC sp_detach_db N'%1'"_s.arg(QString(n).replace(u"'"_s, u"''"_s)));
        ProgramFolder folder;
        ScriptedOperatorUi ui;
        auto form = open(folder, ui);
        QCOMPARE(listedNames(*form), QStringList{QString()});
        form->findChild<QComboBox*>(u"DBName"_s)->setEditText(u"it's"_s);
        form->findChild<QLineEdit*>(u"DBFileName"_s)->setText(file);
        click(*form, u"bAttachDB"_s);
        QCOMPARE(ui.shown.value(0).text, u"База подключена"_s);
        QCOMPARE(listedNames(*form), (QStringList{QString(), u"it's"_s}));
        QCOMPARE(form->findChild<QTableWidget*>(u"ListDB"_s)->currentRow(), 1);
        QCOMPARE(databases(), QStringList{u"it's"_s});
    }
};

DBSETUP_GUI_TEST_MAIN(TestAttachDetach)
#include "tst_attachdetach.moc"
