// The backup and restore flows against bin/sqlsim: the progress window closed on every way out,
// the free-space check, the add-files question, the no-files warning, names with quotes, and a
// connection lost half-way.
#include "Connection.h"
#include "DatabaseFlows.h"
#include "FileStore.h"
#include "MyException.h"
#include "MyMSSQL.h"
#include "ScriptedOperatorUi.h"
#include "ServerProbes.h"
#include "SimConnection.h"
#include "SqlsimProcess.h"
#include "TestFiles.h"
#include "Thrown.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString backupTitle = u"start: Создается резервная копия базы данных."_s;
const QString restoreTitle = u"start: Восстанавливается резервная копия базы данных."_s;

} // namespace

class TestBackupFlow : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // As the program's login, or as another (sa for what only an administrator may read).
    std::unique_ptr<db::Connection> connect(const QString& login = SqlsimProcess::programLogin())
    {
        auto c = openConnection(m_sim, login);
        c->setCommandTimeout(3600);
        return c;
    }

    FlowContext context(db::Connection& c, ScriptedOperatorUi& ui)
    {
        return FlowContext{c, ui, path(u"program/"_s), QString(), 0, {}, {}};
    }

    bool exec(const QString& sql) { return m_sim.exec(sql); }

    QStringList databases()
    {
        return m_sim.rows(u"SELECT name FROM sys.databases ORDER BY name"_s);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir().mkpath(path(u"program"_s)));
        QVERIFY(writeFile(path(u"app/bin/tool.dll"_s), "tool"));
        QVERIFY(writeFile(path(u"app/readme.txt"_s), "readme"));
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY(exec(u"CREATE DATABASE shop"_s));
        QVERIFY(exec(u"CREATE TABLE shop.dbo.t (a int); INSERT INTO shop.dbo.t VALUES (1)"_s));
    }

    // Verification reads the new backup back: said in the success message (and to a script);
    // a backup the server finds damaged names the file, with the server's words.
    void verifiedBackup()
    {
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        const QString file = path(u"verified/shop.bak"_s);
        BackupDB(ctx, u"shop"_s, QString(), file, false, true, true);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, u"Резервное копирование базы \"shop\" успешно завершено.\r\n"
                                   u"Файл копии: "_s +
                                       file + u"\r\nРезервная копия проверена."_s);
        QVERIFY(ui.notes.contains(u"Резервная копия проверена."_s));

        // Cut short, as a copy to a full stick would leave it.
        const QString damaged = path(u"verified/damaged.bak"_s);
        QVERIFY(QFile::copy(file, damaged));
        QFile cut(damaged);
        QVERIFY(cut.open(QIODevice::ReadWrite) && cut.resize(cut.size() - 100));
        cut.close();
        // The media family is incorrectly formed, in whatever language the server speaks.
        EXPECT_SERVER_ERROR(error, 3241, MSSQLVerifyBackup(damaged, *c, {}));
        QVERIFY2(error.message.startsWith(u"Резервная копия \""_s + damaged +
                                          u"\" не прошла проверку.\r\n\r\n"_s),
                 error.describe());
    }

    void emptyNameDoesNothing()
    {
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        BackupDB(ctx, QString(), path(u"app"_s), path(u"x.bak"_s), true, true);
        QVERIFY(ui.operations.isEmpty());
        QVERIFY(ui.shown.isEmpty());
        QVERIFY(!QFile::exists(path(u"x.bak"_s)));
    }

    // The size check passes at exactly the database's size and stops one byte short.
    void freeSpace_data()
    {
        QTest::addColumn<qint64>("shortBy");
        QTest::addColumn<bool>("made");
        QTest::newRow("exactly enough") << qint64(0) << true;
        QTest::newRow("one byte short") << qint64(1) << false;
    }
    void freeSpace()
    {
        QFETCH(qint64, shortBy);
        QFETCH(bool, made);
        auto c = connect();
        c->setDefaultDatabase(u"shop"_s);
        const qint64 size = GetDBSpaceUsed(*c, false);
        QVERIFY(size > 0);
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        QStringList asked;
        ctx.freeBytes = [&](const QString& p) -> std::optional<quint64> {
            asked << p;
            return quint64(size - shortBy);
        };
        const QString file = path(u"space/%1.bak"_s.arg(shortBy));
        try {
            BackupDB(ctx, u"shop"_s, path(u"app"_s), file, false, true);
            QVERIFY(made);
            QCOMPARE(ui.shown.size(), 1);
            QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Plain);
            QCOMPARE(ui.shown[0].caption, u"Настройка базы данных"_s);
            QCOMPARE(ui.shown[0].text, u"Резервное копирование базы \"shop\" успешно завершено.\r\n"
                                       u"Файл копии: "_s +
                                           file);
        } catch (const std::exception& e) {
            QVERIFY2(!made, e.what());
            const QString megabytes = QString::number(qRound(double(size) / 1048576.0));
            QCOMPARE(errorMessage(e), u"На диске не хватает свободного места для сохранения "
                                      u"бэкап-файла.\r\nРазмер бэкапа-файла "_s +
                                          megabytes + u" MБ ."_s);
            QVERIFY(ui.shown.isEmpty());
        }
        QCOMPARE(QFile::exists(file), made);
        QCOMPARE(asked, QStringList{file});
        QCOMPARE(ui.operations, (QStringList{backupTitle, u"finish"_s}));
    }

    // Storing the files fails (no installation folder): the operator decides.
    void addFilesQuestion_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("go on") << true;
        QTest::newRow("stop") << false;
    }
    void addFilesQuestion()
    {
        QFETCH(bool, answer);
        auto c = connect();
        ScriptedOperatorUi ui;
        ui.answers = {answer};
        FlowContext ctx = context(*c, ui);
        const QString file = path(u"question/%1.bak"_s.arg(answer));
        const QString missing = path(u"no-such-folder"_s);
        BackupDB(ctx, u"shop"_s, missing, file, true, false);
        QCOMPARE(ui.shown.size(), 1); // no success message without show-progress
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Warning);
        QCOMPARE(ui.shown[0].caption, u"Внимание"_s);
        QCOMPARE(ui.shown[0].text,
                 u"Список файлов не удалось загрузить в базу данных.\r\nОшибка: \"Не найден "
                 u"каталог \""_s +
                     missing + u"/\".\".\r\nПродолжить создание бэкапа?"_s);
        QCOMPARE(QFile::exists(file), answer);
        QVERIFY(ui.operations.isEmpty());
    }

    // The operator is told which files the database's code page kept out of the store; the
    // backup goes on without a question.
    void unstoredNamesWarned()
    {
        QVERIFY(writeFile(path(u"app-cafe/café.txt"_s), "cafe"));
        QVERIFY(writeFile(path(u"app-cafe/plain.txt"_s), "plain"));
        QVERIFY(exec(u"CREATE DATABASE cafe"_s)); // a store of its own
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        const QString file = path(u"cafe/cafe.bak"_s);
        BackupDB(ctx, u"cafe"_s, path(u"app-cafe"_s), file, true, false);
        QVERIFY(QFile::exists(file));
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Warning);
        QCOMPARE(ui.shown[0].caption, u"Внимание"_s);
        QCOMPARE(ui.shown[0].text, u"Файлы не сохранены в базе: имя нельзя записать в кодировке "
                                   u"базы (1251):\r\ncafé.txt"_s);
    }

    void backupFailureClosesTheProgressWindow()
    {
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        QVERIFY_THROWS_EXCEPTION(std::exception, BackupDB(ctx, u"nosuch"_s, path(u"app"_s),
                                                          path(u"nosuch.bak"_s), false, true));
        QCOMPARE(ui.operations, (QStringList{backupTitle, u"finish"_s}));
        // No folder part: the folder error names an empty folder.
        EXPECT_THROWN(error, std::exception,
                      BackupDB(ctx, u"shop"_s, path(u"app"_s), u"x.bak"_s, false, true));
        QCOMPARE(error.message, u"Не удалось создать путь \"\"."_s);
        QCOMPARE(ui.runningOperations, 0);
    }

    // A name with a quote or a bracket, or a reserved word, reaches the server as the name it
    // is through every statement of both flows, in the file's path too. The backup set is named
    // in the server's history as operators read it there.
    void awkwardNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("quote") << u"it's"_s;
        QTest::newRow("quote and bracket") << u"o'brien]x"_s;
        QTest::newRow("reserved word") << u"order"_s;
    }
    void awkwardNames()
    {
        QFETCH(QString, name);
        const QString copy = name + u" copy"_s;
        const auto bracketed = [](QString n) {
            return u'[' + n.replace(u']', u"]]"_s) + u']';
        };
        QVERIFY(exec(u"CREATE DATABASE "_s + bracketed(name)));
        QVERIFY(exec(u"CREATE TABLE %1.dbo.t (a int); INSERT INTO %1.dbo.t VALUES (7)"_s.arg(
            bracketed(name))));
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        const QString folder = path(u"awkward/"_s + name);
        const QString file = folder + u"/"_s + name + u".bak"_s;
        BackupDB(ctx, name, path(u"app"_s), file, false, false);
        QVERIFY(QFile::exists(file));
        const QString literal = QString(name).replace(u'\'', u"''"_s);
        const QStringList history = m_sim.rows(
            u"SELECT name FROM msdb.dbo.backupset WHERE database_name = N'"_s + literal + u"'"_s);
        QCOMPARE(history.size(), 1);
        QVERIFY2(QRegularExpression(u"^"_s + QRegularExpression::escape(name) +
                                    u" backup on \\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d$"_s)
                     .match(history[0])
                     .hasMatch(),
                 qPrintable(history[0]));
        RestoreDB(ctx, copy, file, folder + u"/data"_s, path(u"app"_s), false, false, false, false);
        QCOMPARE(m_sim.rows(u"SELECT a FROM %1.dbo.t"_s.arg(bracketed(copy))), QStringList{u"7"_s});
    }

    // Paths go to the server whole whatever its code page: a folder named in Cyrillic on a
    // server whose collation has no Cyrillic letters.
    void cyrillicFolder_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::newRow("Cyrillic server") << u"Cyrillic_General_CI_AS"_s;
        QTest::newRow("Latin1 server") << u"Latin1_General_CI_AS"_s;
    }
    void cyrillicFolder()
    {
        QFETCH(QString, collation);
        SqlsimProcess sim;
        QVERIFY2(sim.start({u"--collation"_s, collation}), sim.stderrText().constData());
        QVERIFY(sim.exec(u"CREATE DATABASE shop"_s));
        db::Connection c;
        openOn(c, sim, u"sa"_s);
        ScriptedOperatorUi ui;
        FlowContext ctx = context(c, ui);
        const QString folder = path(collation + u"/Архив"_s);
        const QString file = folder + u"/shop.bak"_s;
        BackupDB(ctx, u"shop"_s, path(u"app"_s), file, false, false);
        QVERIFY(QFile::exists(file));
        RestoreDB(ctx, u"shop_copy"_s, file, folder + u"/data"_s, path(u"app"_s), false, false,
                  false, false);
        QVERIFY(QFile::exists(folder + u"/data/shop.mdf"_s));
        QCOMPARE(sim.rows(u"SELECT name FROM sys.databases WHERE name = 'shop_copy'"_s),
                 QStringList{u"shop_copy"_s});
        c.close();
    }

    void restoreErrors()
    {
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        const QString missing = path(u"missing.bak"_s);
        {
            EXPECT_THROWN(error, std::exception,
                          RestoreDB(ctx, u"x"_s, missing, path(u"r"_s), path(u"app"_s), true, false,
                                    true, false));
            // Refused here; or by the server where the login's rights leave the check to it.
            const QString notFound = u"Файл резервной копии \""_s + missing + u"\" не найден."_s;
            const QString unread =
                u"Не удалось прочитать файл резервной копии \""_s + missing + u"\"."_s;
            QVERIFY2(error.message == notFound || error.message.startsWith(unread),
                     error.describe());
        }
        QCOMPARE(ui.operations, (QStringList{restoreTitle, u"finish"_s}));

        // Another existing database without Replace: the server refuses, its text attached.
        const QString file = path(u"shop-for-restore.bak"_s);
        BackupDB(ctx, u"shop"_s, path(u"app"_s), file, false, false);
        QVERIFY(exec(u"CREATE DATABASE taken"_s));
        EXPECT_THROWN(taken, std::exception,
                      RestoreDB(ctx, u"taken"_s, file, path(u"r"_s), path(u"app"_s), false, false,
                                false, false));
        QVERIFY2(taken.message.startsWith(u"Не удалось восстановить базу.\r\n\r\n"_s),
                 taken.describe());
        QVERIFY2(taken.message.size() > 35, taken.describe());
        // An empty folder: the folder error naming it.
        EXPECT_THROWN(
            noFolder, std::exception,
            RestoreDB(ctx, u"y"_s, file, QString(), path(u"app"_s), true, false, false, false));
        QCOMPARE(noFolder.message, u"Не удалось создать путь \"\"."_s);
    }

    // A backup without stored files, restored with extraction: restored, warned, then success.
    void noFilesWarning()
    {
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        const QString file = path(u"nofiles.bak"_s);
        BackupDB(ctx, u"shop"_s, path(u"app"_s), file, false, false);
        RestoreDB(ctx, u"shop_nofiles"_s, file, path(u"nofiles"_s), path(u"app"_s), true, true,
                  true, true);
        QCOMPARE(ui.shown.size(), 2);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Warning);
        QCOMPARE(ui.shown[0].text, u"Восстановление базы прошло успешно.\r\nРезервная копия не "
                                   u"содержала файлы программы.\r\n"_s);
        QCOMPARE(ui.shown[1].text, u"База восстановлена."_s);
        // The progress window was closed before the warning.
        QCOMPARE(ui.operations, (QStringList{restoreTitle, u"finish"_s}));
        QCOMPARE(c->defaultDatabase(), u"shop_nofiles"_s);
    }

    // The backup already in the file is the operator's only copy until the new one stands: a
    // backup that fails leaves it byte for byte and nothing beside it; one that succeeds leaves
    // only itself, under the name the server's history records.
    void previousBackupSurvives_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("arm");          // run just before the backup
        QTest::addColumn<bool>("leftByKilledRun"); // a ".previous" file is there already
        QTest::addColumn<bool>("succeeds");

        QTest::newRow("dropped half-way")
            << u"shop"_s << u"EXEC sqlsim_fail_next_transfer"_s << false << false;
        QTest::newRow("refused by the server") << u"tempdb"_s << QString() << false << false;
        QTest::newRow("succeeds") << u"shop"_s << QString() << false << true;
        QTest::newRow("dropped, a killed run's copy beside it")
            << u"shop"_s << u"EXEC sqlsim_fail_next_transfer"_s << true << false;
        QTest::newRow("succeeds, a killed run's copy beside it")
            << u"shop"_s << QString() << true << true;
    }
    void previousBackupSurvives()
    {
        QFETCH(QString, database);
        QFETCH(QString, arm);
        QFETCH(bool, leftByKilledRun);
        QFETCH(bool, succeeds);

        const QString folder = path(u"previous/"_s + QString::fromLatin1(QTest::currentDataTag()));
        const QString file = folder + u"/shop.bak"_s;
        const QString killedRunCopy = file + u".previous"_s;
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        // A real backup of another state, so that any mix-up of old and new shows.
        QVERIFY(exec(u"DELETE FROM shop.dbo.t WHERE a = 2"_s));
        BackupDB(ctx, u"shop"_s, path(u"app"_s), file, false, false);
        QFile oldFile(file);
        QVERIFY(oldFile.open(QIODevice::ReadOnly));
        const QByteArray old = oldFile.readAll();
        oldFile.close();
        QVERIFY(!old.isEmpty());
        if (leftByKilledRun)
            QVERIFY(writeFile(killedRunCopy, "an older backup"));
        QStringList before = QDir(folder).entryList(QDir::Files);
        QVERIFY(exec(u"INSERT INTO shop.dbo.t VALUES (2)"_s));
        if (!arm.isEmpty())
            QVERIFY(exec(arm));

        bool failed = false;
        try {
            BackupDB(ctx, database, path(u"app"_s), file, false, false);
        } catch (const std::exception& e) {
            failed = true;
            QVERIFY2(errorMessage(e).startsWith(u"Не удалось создать резервную копию базы \""_s +
                                                database + u"\"."_s),
                     e.what());
        }
        QCOMPARE(failed, !succeeds);
        QCOMPARE(QDir(folder).entryList(QDir::Files), before);
        if (leftByKilledRun) {
            QFile copy(killedRunCopy);
            QVERIFY(copy.open(QIODevice::ReadOnly));
            QCOMPARE(copy.readAll(), QByteArrayLiteral("an older backup"));
        }
        QFile now(file);
        QVERIFY(now.open(QIODevice::ReadOnly));
        const QByteArray bytes = now.readAll();
        if (!succeeds) {
            QCOMPARE(bytes, old);
            return;
        }
        QVERIFY(bytes != old);
        QCOMPARE(LastBackupFile(*connect(u"sa"_s), u"shop"_s), file);
        RestoreDB(ctx, u"shop_previous"_s, file, folder + u"/data"_s, path(u"app"_s), true, false,
                  false, false);
        QCOMPARE(m_sim.rows(u"SELECT count(*) FROM shop_previous.dbo.t WHERE a = 2"_s),
                 (QStringList{u"1"_s}));
        QVERIFY(exec(u"DROP DATABASE shop_previous"_s));
    }

    // A new backup that fails verification is no backup: the previous one is back under its
    // name, and the message says so.
    void failedVerificationKeepsPrevious()
    {
        const QString file = path(u"verify-previous/shop.bak"_s);
        QVERIFY(writeFile(file, "the previous backup"));
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        QVERIFY(exec(u"EXEC sqlsim_drop_connection @text = N'VERIFYONLY', @after_rows = 0"_s));
        EXPECT_THROWN(error, std::exception,
                      BackupDB(ctx, u"shop"_s, QString(), file, false, false, true));
        QVERIFY2(error.message.startsWith(u"Резервная копия \""_s + file +
                                          u"\" не прошла проверку.\r\nПрежняя резервная "
                                          u"копия возвращена на место.\r\n\r\n"_s),
                 error.describe());
        QCOMPARE(readFile(file), QByteArrayLiteral("the previous backup"));
        QCOMPARE(QDir(path(u"verify-previous"_s)).entryList(QDir::Files),
                 QStringList{u"shop.bak"_s});
    }

    // A run that was killed while its backup ran left the previous backup under
    // "NAME.previous" and nothing under NAME: the next backup or restore of NAME puts it back
    // and says so.
    void killedRunsBackupPutBack_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::newRow("next backup") << true;
        QTest::newRow("next restore") << false;
    }
    void killedRunsBackupPutBack()
    {
        QFETCH(bool, backup);
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        const QString folder = path(u"killed-%1"_s.arg(backup));
        const QString file = folder + u"/shop.bak"_s;
        BackupDB(ctx, u"shop"_s, QString(), file, false, false);
        QVERIFY(QFile::rename(file, file + u".previous"_s));
        if (backup)
            BackupDB(ctx, u"shop"_s, QString(), file, false, false);
        else
            RestoreDB(ctx, u"shop_killed"_s, file, folder + u"/data"_s, QString(), true, false,
                      false, false);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].text, u"Резервная копия \""_s + file + u"\" возвращена из файла \""_s +
                                       file + u".previous\", оставленного прерванным запуском."_s);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{u"shop.bak"_s});
        if (!backup)
            QVERIFY(databases().contains(u"shop_killed"_s));
    }

    // A backup its target refuses (a folder that cannot be made, too little room) is refused
    // before the application files are stored: the store in the database stays as it was.
    void targetCheckedBeforeStoring_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<quint64>("free");
        QTest::addColumn<QString>("error");
        QTest::newRow("folder") << u"a-file/sub/shop.bak"_s << quint64(1)
                                << u"Не удалось создать путь"_s;
        QTest::newRow("room") << u"room/shop.bak"_s << quint64(0) << u"На диске не хватает"_s;
    }
    void targetCheckedBeforeStoring()
    {
        QFETCH(QString, file);
        QFETCH(quint64, free);
        QFETCH(QString, error);
        QVERIFY(writeFile(path(u"a-file"_s), "not a folder"));
        const QString database = u"stored_"_s + QString::fromLatin1(QTest::currentDataTag());
        QVERIFY(exec(u"CREATE DATABASE "_s + database));
        QVERIFY(exec(u"CREATE TABLE %1.dbo.backup_files (path char(255) not null, version int "
                     u"null, file_data IMAGE NULL); INSERT INTO %1.dbo.backup_files VALUES "
                     u"('kept.txt', 1, 0x01)"_s.arg(database)));
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        ctx.freeBytes = [free](const QString&) {
            return std::optional<quint64>(free);
        };
        EXPECT_THROWN(refused, std::exception,
                      BackupDB(ctx, database, path(u"app"_s), path(file), true, false));
        QVERIFY2(refused.message.startsWith(error), refused.describe());
        QCOMPARE(m_sim.rows(u"SELECT rtrim(path) FROM %1.dbo.backup_files"_s.arg(database)),
                 QStringList{u"kept.txt"_s});
    }

    // A restore writes only over the files of the database it replaces: a detached database's
    // file in the folder makes the copy take files named after it; when those are taken as well
    // the restore is refused naming the file, and nothing is written.
    void restoreNeverOverwritesOthersFiles_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QStringList>("present"); // files in the folder beforehand
        QTest::addColumn<QStringList>("written"); // the restored database's files; none: refused
        QTest::newRow("a detached database's file")
            << u"shop_2023"_s << QStringList{u"shop.mdf"_s}
            << QStringList{u"shop_2023.mdf"_s, u"shop_2023_log.ldf"_s};
        QTest::newRow("its copy names taken too")
            << u"shop_2024"_s << QStringList{u"shop.mdf"_s, u"shop_2024_log.ldf"_s}
            << QStringList();
        QTest::newRow("over itself")
            << u"shop_self"_s << QStringList() << QStringList{u"shop.mdf"_s, u"shop_log.ldf"_s};
    }
    void restoreNeverOverwritesOthersFiles()
    {
        QFETCH(QString, database);
        QFETCH(QStringList, present);
        QFETCH(QStringList, written);
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        const QString backup = path(u"owners.bak"_s);
        if (!QFile::exists(backup))
            BackupDB(ctx, u"shop"_s, QString(), backup, false, false);
        const QString folder = path(u"owners-"_s + database);
        for (const QString& name : present)
            QVERIFY(writeFile(folder + u'/' + name, "someone else's"));
        if (database == u"shop_self"_s) // restored there once: its own files are in the folder
            RestoreDB(ctx, database, backup, folder, QString(), true, false, false, false);
        try {
            RestoreDB(ctx, database, backup, folder, QString(), true, false, false, false);
            QVERIFY2(!written.isEmpty(), "restored over someone else's file");
        } catch (const std::exception& e) {
            QVERIFY2(written.isEmpty(), e.what());
            QCOMPARE(errorMessage(e),
                     u"Файл \""_s + folder +
                         u"/shop_2024_log.ldf\" уже существует и не "
                         u"принадлежит базе \"shop_2024\": восстановление не запишет "
                         u"поверх него. Выберите другую папку или другое имя базы."_s);
        }
        for (const QString& name : present)
            QCOMPARE(readFile(folder + u'/' + name), QByteArrayLiteral("someone else's"));
        QStringList files;
        for (const QString& p : m_sim.rows(u"SELECT physical_name FROM sys.master_files WHERE "
                                           u"database_id = DB_ID(N'"_s +
                                           database + u"') ORDER BY file_id"_s))
            files << QFileInfo(p).fileName();
        QCOMPARE(files, written);
    }

    // The server drops the connection half-way: an error, never a hang, the window closed.
    void connectionDropped_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::newRow("backup") << true;
        QTest::newRow("restore") << false;
    }
    void connectionDropped()
    {
        QFETCH(bool, backup);
        auto c = connect();
        ScriptedOperatorUi ui;
        FlowContext ctx = context(*c, ui);
        const QString file = path(u"dropped-%1.bak"_s.arg(backup));
        if (!backup)
            BackupDB(ctx, u"shop"_s, path(u"app"_s), file, false, false);
        QVERIFY(exec(u"EXEC sqlsim_fail_next_transfer"_s));
        QList<int> percents;
        ctx.progress.percent = [&](int p, const QString&) {
            percents << p;
        };
        EXPECT_THROWN(error, std::exception, {
            if (backup)
                BackupDB(ctx, u"shop"_s, path(u"app"_s), file, false, true);
            else
                RestoreDB(ctx, u"shop_dropped"_s, file, path(u"dropped"_s), path(u"app"_s), true,
                          false, true, false);
        });
        const QString expected = backup ? u"Не удалось создать резервную копию базы \"shop\"."_s
                                        : u"Не удалось восстановить базу."_s;
        QVERIFY2(error.message.startsWith(expected), error.describe());
        QVERIFY(!error.message.contains(m_sim.password()));
        QCOMPARE(ui.runningOperations, 0);
        QCOMPARE(percents.last(), -1); // the display cleared
    }

    // Writing older application files over newer ones is the operator's choice, asked with both
    // versions.
    void olderFilesQuestion_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void olderFilesQuestion()
    {
        QFETCH(bool, answer);
        ScriptedOperatorUi ui;
        ui.answers = {answer};
        QCOMPARE(AcceptOlderFiles(ui, u"7520"_s, u"7510"_s), answer);
        QCOMPARE(ui.unexpectedQuestions, 0);
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Question);
        QCOMPARE(ui.shown[0].caption, u"Внимание"_s);
        QCOMPARE(ui.shown[0].text,
                 u"Текущая версии программы \"7520\", версия программы в базе данных "
                 u"\"7510\".\r\nВы действительно хотите заменить новую версию старой? "_s);
    }
};

QTEST_GUILESS_MAIN(TestBackupFlow)
#include "tst_backupflow.moc"
