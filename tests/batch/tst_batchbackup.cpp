// "-backup_db" as a nightly script runs it: the application files stored in the database, the
// BACKUP statement the server receives, the messages on stderr and the exit code.
#include "BatchScene.h"

using namespace Qt::StringLiterals;
using namespace batch;

namespace {

const QString progressTitle = u"Создается резервная копия базы данных."_s;
const QString questionHead = u"Внимание: Список файлов не удалось загрузить в базу данных. "
                             u"Ошибка: \""_s;
const QString questionTail = u"\". Продолжить создание бэкапа?"_s;
const QString unattendedYes = u"Ответ без оператора: «Да»."_s;

// The line a run without a display ends with, whatever the progress flag, and once: no success
// box is printed besides it.
QString summaryLine(const QString& database, const QString& file)
{
    return u"Резервная копия базы \""_s + database + u"\" записана в файл \""_s + file + u"\"."_s;
}

QByteArray windows1251(const QString& text)
{
    // Only the letters these tests use.
    static const QMap<QChar, char> cyrillic = {
        {u'с', '\xF1'}, {u'ч', '\xF7'}, {u'ё', '\xB8'}, {u'т', '\xF2'}};
    QByteArray bytes;
    for (const QChar c : text)
        bytes.append(cyrillic.contains(c) ? cyrillic.value(c) : static_cast<char>(c.unicode()));
    return bytes;
}

// The store a backup of the scene's installation folder should hold, by stored path.
QMap<QString, QByteArray> expectedStore(const QStringList& alsoStored, const QStringList& notStored)
{
    QMap<QString, QByteArray> files;
    for (const AppFile& file : appFiles()) {
        const bool stored = (file.storedByDefault || alsoStored.contains(file.path)) &&
                            !notStored.contains(file.path);
        if (stored)
            files.insert(storedPath(file.path), file.content);
    }
    return files;
}

} // namespace

class TestBatchBackup : public QObject
{
    Q_OBJECT

private slots:
    void backupWithFiles_data()
    {
        QTest::addColumn<QByteArray>("exclusionFile"); // empty: none, the built-in list holds
        QTest::addColumn<QStringList>("alsoStored");
        QTest::addColumn<QStringList>("notStored");

        QTest::newRow("built-in exclusion list") << QByteArray() << QStringList() << QStringList();
        // The file replaces the built-in list: default.udl is stored once it is not named.
        const QString masks = u"*.log\r\n*.MDF\r\n*.ldf\r\n*.bak\r\nСЧЁТ*\r\n"_s;
        QTest::newRow("exclusion file, UTF-16")
            << utf16le(masks) << QStringList{u"Reports/Default.UDL"_s}
            << QStringList{u"trace.log"_s, u"Шаблоны/Счёт на оплату.txt"_s};
        QTest::newRow("exclusion file, Windows-1251")
            << windows1251(u"*.log\nсчёт*\n*.mdf\n*.ldf\n*.bak\n"_s)
            << QStringList{u"Reports/Default.UDL"_s}
            << QStringList{u"trace.log"_s, u"Шаблоны/Счёт на оплату.txt"_s};
    }

    void backupWithFiles()
    {
        QFETCH(QByteArray, exclusionFile);
        QFETCH(QStringList, alsoStored);
        QFETCH(QStringList, notStored);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        if (!exclusionFile.isEmpty())
            QVERIFY(
                writeFile(scene.programDir() + u"exclusion_mask_backup_file.txt"_s, exclusionFile));
        // A folder that does not exist yet, with blanks and Cyrillic in its name.
        const QString backupFile = scene.path(u"backups/Ночные копии/ostrel_ts.bak"_s);

        const QDateTime before = QDateTime::currentDateTime();
        RunResult r;
        BATCH_STEP(
            scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile}, r));
        const QDateTime after = QDateTime::currentDateTime();
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(backupFile).isFile());
        QVERIFY(r.out.isEmpty());
        const QStringList lines = QStringList{progressTitle} + percentLines() +
                                  QStringList{summaryLine(u"ostrel_ts"_s, backupFile)};
        QCOMPARE(r.errLines(), lines);

        // The statement as the server got it; only the minute in the set name varies.
        const QString log = scene.log();
        const QString head = u"batch: declare @DBName nvarchar(128)\r\nset @DBName=N'ostrel_ts'"
                             u"BACKUP DATABASE @DBName TO  DISK = N'"_s +
                             backupFile +
                             u"'  WITH  INIT,  DESCRIPTION='',  NOUNLOAD ,  NAME = N'ostrel_ts "
                             u"backup on "_s;
        const QString tail = u"',  NOSKIP ,  STATS = 10,  NOFORMAT \n"_s;
        const qsizetype at = log.indexOf(head);
        QVERIFY2(at >= 0, qPrintable(log));
        const QString stamp = log.mid(at + head.size(), 16);
        const QDateTime when = QDateTime::fromString(stamp, u"dd-MM-yyyy HH:mm"_s);
        QVERIFY2(when.isValid(), qPrintable(stamp));
        const QDateTime minuteBefore(before.date(),
                                     QTime(before.time().hour(), before.time().minute()));
        QVERIFY2(when >= minuteBefore && when <= after, qPrintable(stamp));
        QCOMPARE(log.mid(at + head.size() + stamp.size(), tail.size()), tail);
        QCOMPARE(log.count(u"BACKUP DATABASE"_s), 1);

        // The store is made anew in the database being backed up, before the backup.
        const QString drop = u"batch: drop  table backup_files\n"_s;
        const QString create = u"batch: create table backup_files (path char(255) not null, "
                               u"version int null, file_data IMAGE NULL)\n"_s;
        QVERIFY(log.indexOf(u"batch: USE [ostrel_ts]"_s) >= 0);
        QVERIFY(log.indexOf(u"batch: USE [ostrel_ts]"_s) < log.indexOf(drop));
        QVERIFY(log.indexOf(drop) >= 0 && log.indexOf(drop) < log.indexOf(create));
        QVERIFY(log.lastIndexOf(u"INSERT INTO backup_files"_s) > log.indexOf(create));
        QVERIFY(log.lastIndexOf(u"INSERT INTO backup_files"_s) < at);

        const QMap<QString, QByteArray> expected = expectedStore(alsoStored, notStored);
        QList<QVariant> versions;
        QCOMPARE(storedFiles(scene, u"ostrel_ts"_s, &versions), expected);
        // The stand-in executable has no version resource: its version number is 0.
        for (const QVariant& version : versions)
            QCOMPARE(version, QVariant(qint64(0)));

        // The backup carries the store.
        const QString check = scene.path(u"check/"_s);
        QVERIFY(QDir().mkpath(check));
        QVERIFY(scene.exec(u"restore database check_copy from disk = %1 with move 'ostrel_ts' to "
                           u"%2, move 'ostrel_ts_log' to %3"_s.arg(
                               sqlText(backupFile), sqlText(check + u"c.mdf"_s),
                               sqlText(check + u"c_log.ldf"_s))));
        QCOMPARE(storedFiles(scene, u"check_copy"_s), expected);
        QCOMPARE(scene.clients(u"check_copy"_s), scene.clients(u"ostrel_ts"_s));
    }

    // A connection string's encryption keywords reach the driver: against a server that forces
    // encryption, and one that only offers it, the backup runs over the connection they ask for
    // (the server's log tells), and what this driver cannot do or trust is refused with a reason.
    void encryptionKeywords_data()
    {
        QTest::addColumn<bool>("forced");
        QTest::addColumn<QString>("keywords");
        QTest::addColumn<QString>("encryption"); // the server's word for the login; "" refused
        QTest::addColumn<QString>("reason");     // a piece of the refusal's reason

        QTest::newRow("forced, nothing asked") << true << QString() << u"all"_s << QString();
        QTest::newRow("forced, Encrypt=yes, trusted")
            << true << u";Encrypt=yes;TrustServerCertificate=yes"_s << u"all"_s << QString();
        QTest::newRow("forced, OLE DB words")
            << true << u";Use Encryption for Data=True;Trust Server Certificate=True"_s << u"all"_s
            << QString();
        QTest::newRow("forced, Encrypt=no") << true << u";Encrypt=no"_s << u"all"_s << QString();
        QTest::newRow("offered, Encrypt=no")
            << false << u";Encrypt=no"_s << u"login"_s << QString();
        QTest::newRow("offered, Encrypt=Mandatory, trusted")
            << false << u";Encrypt=Mandatory;TrustServerCertificate=true"_s << u"all"_s
            << QString();
        QTest::newRow("forced, Encrypt=Strict")
            << true << u";Encrypt=Strict"_s << QString() << u"TDS 8.0"_s;
        // A self-signed certificate no authority vouches for.
        QTest::newRow("forced, certificate checked")
            << true << u";Encrypt=yes"_s << QString() << u"сертификат не подписан"_s;
    }
    void encryptionKeywords()
    {
        QFETCH(bool, forced);
        QFETCH(QString, keywords);
        QFETCH(QString, encryption);
        QFETCH(QString, reason);

        BatchScene scene;
        BATCH_STEP(
            scene.setUp(true, forced ? QStringList{u"--force-encryption"_s} : QStringList{}));
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        const QString logBefore = scene.log();
        RunResult r;
        BATCH_STEP(scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile,
                              u"/not_add_file"_s,
                              u"/connection_string:"_s + scene.connectionString(keywords)},
                             r));
        if (encryption.isEmpty()) {
            QVERIFY2(r.exitCode == 1, qPrintable(r.err));
            // The reason follows the error on a line of its own.
            const QStringList lines = r.errLines();
            QCOMPARE(lines.size() >= 2 ? lines.at(lines.size() - 2) : QString(),
                     exceptionPrefix + u"Не удалось подключиться к базе данных."_s);
            QVERIFY2(lines.constLast().contains(reason), qPrintable(r.err));
            QVERIFY(!QFileInfo::exists(backupFile));
            return;
        }
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(backupFile).isFile());
        // Run again against servers that all force encryption, the login-only rows go whole.
        if (qEnvironmentVariable("SQLSIM_TEST_ARGS").contains(u"--force-encryption"_s))
            encryption = u"all"_s;
        // The last login is the batch's own, made with the string (start-up's used settings.ini).
        const QStringList logins =
            scene.log().mid(logBefore.size()).split(u'\n').filter(u"login: "_s);
        QVERIFY(!logins.isEmpty());
        QVERIFY2(logins.last().endsWith(u" encryption="_s + encryption), qPrintable(logins.last()));
    }

    // The next night's run writes over the same file: it then holds that night's data and files
    // alone.
    void nightlyBackupOverwrites()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        const QStringList arguments = {u"-backup_db"_s, u"/db_name:ostrel_ts"_s,
                                       u"/file:"_s + backupFile};
        RunResult r;
        BATCH_STEP(scene.run(arguments, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));

        QVERIFY(scene.exec(u"insert into clients (id, name) values (3, N'ИП Соколова')"_s,
                           u"ostrel_ts"_s));
        QVERIFY(writeFile(scene.installDir() + u"ostrel.ini"_s, "the next night"));
        QVERIFY(QFile::remove(scene.installDir() + u"trace.log"_s));
        BATCH_STEP(scene.run(arguments, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));

        const QString check = scene.path(u"check/"_s);
        QVERIFY(QDir().mkpath(check));
        QVERIFY(scene.exec(u"restore database check_copy from disk = %1 with move 'ostrel_ts' to "
                           u"%2, move 'ostrel_ts_log' to %3"_s.arg(
                               sqlText(backupFile), sqlText(check + u"c.mdf"_s),
                               sqlText(check + u"c_log.ldf"_s))));
        QCOMPARE(scene.clients(u"check_copy"_s).size(), 3);
        QMap<QString, QByteArray> expected = expectedStore({}, {u"trace.log"_s});
        expected.insert(u"ostrel.ini"_s, "the next night");
        QCOMPARE(storedFiles(scene, u"check_copy"_s), expected);
    }

    // /verify has the server read the new backup back; a verification the server cannot finish
    // fails the run with exit code 1, and the backup that was in the file before is back there.
    void verifiedBackup_data()
    {
        QTest::addColumn<bool>("broken");
        QTest::newRow("verified") << false;
        QTest::newRow("the verification breaks off") << true;
    }
    void verifiedBackup()
    {
        QFETCH(bool, broken);
        BatchScene scene;
        BATCH_STEP(
            scene.setUp(true, broken ? QStringList{u"--drop-connection"_s, u"RESTORE VERIFYONLY"_s}
                                     : QStringList{}));
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        QVERIFY(writeFile(backupFile, "last night's backup"));
        RunResult r;
        BATCH_STEP(scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile,
                              u"/not_add_file"_s, u"/verify"_s, u"/not_show_form"_s},
                             r));
        QVERIFY(scene.log().contains(u"RESTORE VERIFYONLY FROM DISK = N'"_s + backupFile));
        QCOMPARE(readFile(backupFile) == "last night's backup", broken);
        if (!broken) {
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            QVERIFY2(r.errHasLine(u"Резервная копия проверена."_s), qPrintable(r.err));
            return;
        }
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.exceptionLines().value(0).startsWith(exceptionPrefix + u"Резервная копия \""_s +
                                                        backupFile + u"\" не прошла проверку."_s),
                 qPrintable(r.err));
        QVERIFY(!r.errHasLine(u"Резервная копия проверена."_s));
    }

    // Without an operator the question whether to go on without the files is answered Yes, the
    // nightly backup is made, and its summary says the files are not all in it.
    void addFilesQuestion_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("deepFolder");
        QTest::addColumn<QString>("error"); // the storing error in the question; "": any
        QTest::addColumn<bool>("shown");

        QTest::newRow("installation folder missing")
            << QStringList{u"/install_dir:%root%/nowhere"_s} << false
            << u"Не найден каталог \"%root%/nowhere/\"."_s << true;
        QTest::newRow("installation folder missing, no progress")
            << QStringList{u"/install_dir:%root%/nowhere"_s, u"/not_show_form"_s} << false
            << u"Не найден каталог \"%root%/nowhere/\"."_s << false;
        // Stored with its separators doubled, the path is longer than the column.
        QTest::newRow("path too long for the store") << QStringList() << true << QString() << true;
    }

    void addFilesQuestion()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, deepFolder);
        QFETCH(QString, error);
        QFETCH(bool, shown);

        BatchScene scene;
        BATCH_STEP(scene.setUp());
        const QString root = scene.path(QString()).chopped(1);
        options.replaceInStrings(u"%root%"_s, root);
        error.replace(u"%root%"_s, root);
        if (deepFolder) {
            QString deep = scene.installDir();
            for (int i = 10; i < 30; ++i)
                deep += u"dir_number_%1/"_s.arg(i);
            QVERIFY(writeFile(deep + u"file.txt"_s, "deep"));
        }
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        RunResult r;
        BATCH_STEP(scene.run(
            QStringList{u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile} +
                options,
            r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(backupFile).isFile());
        QCOMPARE(scene.log().count(u"BACKUP DATABASE"_s), 1);

        const QStringList lines = r.errLines();
        const qsizetype question = lines.indexOf(
            QRegularExpression(u"^"_s + QRegularExpression::escape(questionHead) + u".*"_s +
                               QRegularExpression::escape(questionTail) + u"$"_s));
        QVERIFY2(question >= 0, qPrintable(r.err));
        if (!error.isEmpty())
            QCOMPARE(lines.at(question), questionHead + error + questionTail);
        QCOMPARE(lines.value(question + 1), unattendedYes);
        QCOMPARE(r.errHasLine(progressTitle), shown);
        QVERIFY2(lines.constLast().startsWith(summaryLine(u"ostrel_ts"_s, backupFile) +
                                              u" Файлы программы сохранены в ней не полностью: "_s +
                                              error),
                 qPrintable(r.err));
        QVERIFY(r.exceptionLines().isEmpty());
    }

    // A file name the database's code page cannot hold is named on stderr; the backup goes on.
    void unwritableNameNamed()
    {
        BatchScene scene;
        BATCH_STEP(scene.setUp());
        QVERIFY(writeFile(scene.installDir() + u"docs/café.txt"_s, "cafe"));
        const QString backupFile = scene.path(u"backups/ostrel_ts.bak"_s);
        RunResult r;
        BATCH_STEP(
            scene.run({u"-backup_db"_s, u"/db_name:ostrel_ts"_s, u"/file:"_s + backupFile}, r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.errHasLine(u"Внимание: Файлы не сохранены в базе: имя нельзя записать в "
                              u"кодировке базы (1251): docs\\café.txt"_s),
                 qPrintable(r.err));
        QVERIFY2(r.errLines().constLast().startsWith(summaryLine(u"ostrel_ts"_s, backupFile) +
                                                     u" Файлы программы сохранены в ней не "
                                                     u"полностью: не сохранено файлов: 1"_s),
                 qPrintable(r.err));
    }

    // Names that need quoting in a statement, backed up and restored from the command line;
    // names outside the server's code page reach it whole, and never as another database's
    // ("café" is "caf?" in Windows-1251: a database of that name is there to be mistaken).
    void unusualNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("collation");
        QTest::addColumn<QString>("decoy");
        QTest::newRow("single quote") << u"it's"_s << QString() << QString();
        QTest::newRow("Cyrillic") << u"Склад_2024"_s << QString() << QString();
        QTest::newRow("Cyrillic with a blank and a quote")
            << u"Склад O'Brien"_s << QString() << QString();
        QTest::newRow("café on a Cyrillic server")
            << u"café"_s << u"Cyrillic_General_CI_AS"_s << u"caf?"_s;
        QTest::newRow("Склад on a Latin1 server")
            << u"Склад"_s << u"Latin1_General_CI_AS"_s << u"?????"_s;
    }

    void unusualNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, collation);
        QFETCH(QString, decoy);

        BatchScene scene;
        BATCH_STEP(scene.setUp(
            false, collation.isEmpty() ? QStringList() : QStringList{u"--collation"_s, collation}));
        BATCH_STEP(scene.createDatabase(name));
        if (!decoy.isEmpty()) {
            BATCH_STEP(scene.createDatabase(decoy));
            QVERIFY(scene.exec(u"delete from clients where id = 1"_s, decoy));
        }
        const QString backupFile = scene.path(u"backups/"_s + name + u".bak"_s);
        // The store of a Latin1 server cannot hold the Cyrillic file names of the installation.
        const QStringList files =
            collation.isEmpty() ? QStringList() : QStringList{u"/not_add_file"_s};
        RunResult r;
        BATCH_STEP(scene.run(
            QStringList{u"-backup_db"_s, u"/db_name:"_s + name, u"/file:"_s + backupFile} + files,
            r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY(QFileInfo(backupFile).isFile());
        QVERIFY2(r.errHasLine(summaryLine(name, backupFile)), qPrintable(r.err));
        QVERIFY2(scene.log().contains(u"set @DBName=N'"_s + QString(name).replace(u"'"_s, u"''"_s) +
                                      u"'BACKUP DATABASE"_s),
                 qPrintable(scene.log()));
        if (collation.isEmpty())
            QCOMPARE(storedFiles(scene, name), expectedStore({}, {}));

        const QString copy = name + u" копия"_s;
        const QString folder = scene.path(u"restored/"_s + name);
        BATCH_STEP(scene.run({u"-restore_db"_s, u"/db_name:"_s + copy, u"/file:"_s + backupFile,
                              u"/path_db:"_s + folder},
                             r));
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.errLines().constLast().startsWith(u"База \""_s + copy + u"\" восстановлена"_s),
                 qPrintable(r.err));
        QVERIFY(scene.databases().contains(copy));
        QCOMPARE(scene.clients(copy).size(), 2);
        QCOMPARE(scene.clients(copy), scene.clients(name));
        QVERIFY(QFileInfo(folder + u'/' + name + u".mdf"_s).isFile());
        QVERIFY(QFileInfo(folder + u'/' + name + u"_log.ldf"_s).isFile());
    }
};

QTEST_GUILESS_MAIN(TestBatchBackup)
#include "tst_batchbackup.moc"
