// Storing and extracting application files, against bin/sqlsim over unixODBC and FreeTDS.
#include "Connection.h"
#include "FileExtraction.h"
#include "FileStore.h"
#include "FullDisk.h"
#include "MyException.h"
#include "ScriptedOperatorUi.h"
#include "ServerProbes.h"
#include "SimConnection.h"
#include "SqlsimProcess.h"
#include "TestFiles.h"
#include "Thrown.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

using Tree = QMap<QString, QByteArray>; // relative path with "/" -> content

void makeTree(const QString& root, const Tree& tree)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        QVERIFY2(writeFile(root + u'/' + it.key(), it.value()), qPrintable(it.key()));
}

QStringList storedRows(db::Connection& c)
{
    QStringList rows;
    const auto rs = c.openRecordSet(
        u"SELECT path, version, DATALENGTH(file_data) AS size FROM backup_files"_s, 30);
    for (rs->first(); !rs->eof(); rs->next())
        rows << rs->fieldText(u"path"_s).trimmed() + u'|' + rs->fieldText(u"version"_s) + u'|' +
                    rs->fieldText(u"size"_s);
    rows.sort();
    return rows;
}

const QStringList defaultMasks{u"default.udl"_s, u"*.ldf"_s, u"*.mdf"_s, u"*.bak"_s};

} // namespace

class TestFileStore : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;
    QTemporaryDir m_work;
    int m_databases = 0;

    // A connection whose current database is a new, empty one.
    std::unique_ptr<db::Connection> freshDatabase(SqlsimProcess& sim)
    {
        auto c = openConnection(sim, u"sa"_s);
        const QString name = u"fs%1"_s.arg(++m_databases);
        c->execute(u"CREATE DATABASE "_s + name);
        c->setDefaultDatabase(name);
        return c;
    }
    std::unique_ptr<db::Connection> freshDatabase() { return freshDatabase(m_sim); }

    QString newFolder()
    {
        const QString path = m_work.filePath(u"case%1"_s.arg(++m_databases));
        return path;
    }

    // Stores tree with the version, under a new database; the connection stays on it.
    std::unique_ptr<db::Connection> storeTree(const Tree& tree, const QString& version)
    {
        const QString app = newFolder();
        if (!QDir().mkpath(app))
            return {};
        makeTree(app, tree);
        auto c = freshDatabase();
        AddFilesToDB(app, fileStoreTable, version, defaultMasks, 0, *c);
        return c;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
    }

    void roundTrip()
    {
        const QByteArray big(300000, 'x'); // several chunks on the wire
        const Tree tree{
            {u"ostrel.exe"_s, QByteArray("MZ\x00\x01program", 12)},
            {u"bin/tool.dll"_s, big},
            {u"bin/deep/er/Отчёт №1.xls"_s, QByteArray("\xD0\x9E\x00\xFF", 4)},
            {u"empty.txt"_s, QByteArray()},
            {u"it's.txt"_s, QByteArray("quote")},
            {u".hidden.cfg"_s, QByteArray("hidden")},
            {u"LICENSE"_s, QByteArray("no dot, never stored")},
            {u"conf/Default.UDL"_s, QByteArray("secret")},
            {u"Data/data.MDF"_s, QByteArray("database")},
            {u"Data/data_log.ldf"_s, QByteArray("log")},
        };
        auto c = storeTree(tree, u"7.5.2.0"_s);
        QCOMPARE(
            storedRows(*c),
            (QStringList{u".hidden.cfg|7520|6"_s, u"bin\\\\deep\\\\er\\\\Отчёт №1.xls|7520|4"_s,
                         u"bin\\\\tool.dll|7520|300000"_s, u"empty.txt|7520|0"_s,
                         u"it's.txt|7520|5"_s, u"ostrel.exe|7520|12"_s}));

        // Into a folder that does not exist yet, on a connection that has to be opened again.
        c->close();
        const QString target = newFolder() + u"/new/app"_s;
        ScriptedOperatorUi ui;
        int pumped = 0;
        QVERIFY(ExtractFilesFromDB(target, *c, u"7.5.2.0"_s, ui, [&] { ++pumped; }));
        Tree expected = tree;
        expected.remove(u"LICENSE"_s);
        expected.remove(u"conf/Default.UDL"_s);
        expected.remove(u"Data/data.MDF"_s);
        expected.remove(u"Data/data_log.ldf"_s);
        QCOMPARE(fileTree(target), expected);
        QCOMPARE(ui.shown.size(), 0);
        QCOMPARE(pumped, 6);
    }

    // A name the database's code page cannot write is left out and named, never stored under
    // another name; the rest are stored and come back whole.
    void namesOutsideTheCodePage_data()
    {
        QTest::addColumn<QString>("collation");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QStringList>("unstored"); // as the warning names them
        QTest::addColumn<QStringList>("extracted");
        QTest::newRow("Cyrillic") << u"Cyrillic_General_CI_AS"_s << 1251
                                  << QStringList{u"café.txt"_s}
                                  << QStringList{u"plain.txt"_s, u"Архив/опись №1.txt"_s,
                                                 u"€.txt"_s};
        QTest::newRow("Latin1") << u"Latin1_General_CI_AS"_s << 1252
                                << QStringList{u"Архив\\опись №1.txt"_s}
                                << QStringList{u"café.txt"_s, u"plain.txt"_s, u"€.txt"_s};
    }
    void namesOutsideTheCodePage()
    {
        QFETCH(QString, collation);
        QFETCH(int, codePage);
        QFETCH(QStringList, unstored);
        QFETCH(QStringList, extracted);
        SqlsimProcess sim;
        QVERIFY2(sim.start({u"--collation"_s, collation}), sim.stderrText().constData());
        const QString app = newFolder();
        const Tree tree{{u"café.txt"_s, "cafe"},
                        {u"plain.txt"_s, "plain"},
                        {u"Архив/опись №1.txt"_s, "list"},
                        {u"€.txt"_s, "euro"}};
        makeTree(app, tree);
        auto c = freshDatabase(sim);
        const UnstoredNames result = AddFilesToDB(app, fileStoreTable, u"1"_s, defaultMasks, 0, *c);
        QCOMPARE(result.codePage, codePage);
        QCOMPARE(result.paths, unstored);
        QVERIFY(UnstoredNamesWarning(result).endsWith(u":\r\n"_s + unstored.join(u"\r\n"_s)));

        const QString target = newFolder();
        ScriptedOperatorUi ui;
        QVERIFY(ExtractFilesFromDB(target, *c, u"1"_s, ui));
        QCOMPARE(fileTree(target).keys(), extracted);
        for (const QString& name : extracted)
            QCOMPARE(fileTree(target).value(name), tree.value(name));
        QVERIFY(ui.shown.isEmpty());
        c->close();
    }

    void sizeLimit_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("at and below the limit")
            << qint64(1000) << QStringList{u"below.bin|1|999"_s, u"small.txt|1|1"_s};
        QTest::newRow("limit 0: no limit")
            << qint64(0)
            << QStringList{u"at.bin|1|1000"_s, u"below.bin|1|999"_s, u"small.txt|1|1"_s};
        QTest::newRow("negative: no limit")
            << qint64(-1)
            << QStringList{u"at.bin|1|1000"_s, u"below.bin|1|999"_s, u"small.txt|1|1"_s};
        QTest::newRow("limit 1") << qint64(1) << QStringList{};
    }
    void sizeLimit()
    {
        QFETCH(qint64, limit);
        QFETCH(QStringList, stored);
        const QString app = newFolder();
        makeTree(app, {{u"at.bin"_s, QByteArray(1000, 'a')},
                       {u"below.bin"_s, QByteArray(999, 'b')},
                       {u"small.txt"_s, QByteArray("s")}});
        auto c = freshDatabase();
        AddFilesToDB(app, fileStoreTable, u"1"_s, defaultMasks, limit, *c);
        QCOMPARE(storedRows(*c), stored);
    }

    // Storing starts anew: the files of an earlier storing are gone.
    void storingReplacesTheTable()
    {
        const QString app = newFolder();
        makeTree(app, {{u"a.txt"_s, "a"}, {u"b.txt"_s, "b"}});
        auto c = freshDatabase();
        AddFilesToDB(app, fileStoreTable, u"1.0"_s, defaultMasks, 0, *c);
        QVERIFY(QFile::remove(app + u"/b.txt"_s));
        c->close(); // opened again for the statements
        int pumped = 0;
        AddFilesToDB(app, fileStoreTable, u"2.0"_s, defaultMasks, 0, *c, [&] { ++pumped; });
        QCOMPARE(pumped, 1);
        QCOMPARE(storedRows(*c), QStringList{u"a.txt|20|1"_s});
    }

    // A pipe in the installation folder is no file to store: reading it would wait for ever.
    void onlyOrdinaryFilesStored()
    {
        const QString app = newFolder();
        makeTree(app, {{u"a.txt"_s, "a"}});
        QCOMPARE(::mkfifo(QFile::encodeName(app + u"/pipe.fifo"_s).constData(), 0600), 0);
        auto c = freshDatabase();
        AddFilesToDB(app, fileStoreTable, u"1.0"_s, defaultMasks, 0, *c);
        QCOMPARE(storedRows(*c), QStringList{u"a.txt|10|1"_s});
    }

    void missingInstallFolder()
    {
        auto c = freshDatabase();
        const QString missing = newFolder();
        EXPECT_THROWN(notFound, MyException,
                      AddFilesToDB(missing, fileStoreTable, u"1"_s, defaultMasks, 0, *c));
        QCOMPARE(notFound.message, u"Не найден каталог \""_s + missing + u"/\"."_s);
        QVERIFY_THROWS_EXCEPTION(MyException,
                                 AddFilesToDB(QString(), fileStoreTable, u"1"_s, {}, 0, *c));
    }

    void badExclusionMaskStopsStoring()
    {
        const QString app = newFolder();
        makeTree(app, {{u"a.txt"_s, "a"}});
        auto c = freshDatabase();
        EXPECT_THROWN(badMask, Error,
                      AddFilesToDB(app, fileStoreTable, u"1"_s, {u"[z-a]"_s}, 0, *c));
        QCOMPARE(badMask.message, u"'[z-a]' is an invalid mask at (4)"_s);
        QCOMPARE(storedRows(*c), QStringList{});
    }

    void versionWithoutDigitsStoresZero()
    {
        auto c = storeTree({{u"a.txt"_s, "a"}}, u"beta"_s);
        QCOMPARE(storedRows(*c), QStringList{u"a.txt|0|1"_s});
    }

    // The version goes in as text the server converts; one past int's range fails the insert and
    // the error passes on.
    void versionOutOfRangeFailsInsert()
    {
        const QString app = newFolder();
        makeTree(app, {{u"a.txt"_s, "a"}});
        auto c = freshDatabase();
        QVERIFY_THROWS_EXCEPTION(
            db::DbError, AddFilesToDB(app, fileStoreTable, u"21474836.48"_s, defaultMasks, 0, *c));
        QCOMPARE(storedRows(*c), QStringList{});
    }

    void sizeCeiling_data()
    {
        QTest::addColumn<int>("engineEdition");
        QTest::addColumn<QString>("productVersion");
        QTest::addColumn<int>("year");
        QTest::addColumn<qint64>("ceiling");
        QTest::newRow("Express 2005") << 4 << u"9.00.5000.00"_s << 0 << (4LL << 30);
        QTest::newRow("Express 2008") << 4 << u"10.0.6000.29"_s << 0 << (4LL << 30);
        QTest::newRow("Express 2008 R2") << 4 << u"10.50.1600.1"_s << 0 << (10LL << 30);
        QTest::newRow("Express 2019") << 4 << u"15.0.2000.5"_s << 0 << (10LL << 30);
        QTest::newRow("Express, version by year") << 4 << QString() << 2012 << (10LL << 30);
        QTest::newRow("Express 2008, by year") << 4 << QString() << 2008 << (4LL << 30);
        QTest::newRow("Standard") << 2 << u"15.0.2000.5"_s << 0 << qint64(-1);
        QTest::newRow("Enterprise or Developer") << 3 << u"10.0.6000.29"_s << 0 << qint64(-1);
    }
    void sizeCeiling()
    {
        QFETCH(int, engineEdition);
        QFETCH(QString, productVersion);
        QFETCH(int, year);
        QFETCH(qint64, ceiling);
        QCOMPARE(DatabaseSizeCeiling(engineEdition, productVersion, year).value_or(-1), ceiling);
    }

    void serverProbes_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<QString>("version");
        QTest::newRow("2005") << 2005 << u"Microsoft SQL Server 2005"_s;
        QTest::newRow("2019") << 2019 << u"Microsoft SQL Server 2019"_s;
    }
    void serverProbes()
    {
        QFETCH(int, year);
        QFETCH(QString, version);
        SqlsimProcess sim;
        QVERIFY2(sim.start({u"--version-year"_s, QString::number(year)}),
                 sim.stderrText().constData());
        auto c = freshDatabase(sim);
        QCOMPARE(GetServerVersion(*c), version);
        QCOMPARE(GetServerVersionYear(*c), year);

        // Used pages are fewer than the files' whole size, and the data files fewer than all.
        const auto rs = c->openRecordSet(u"exec sp_spaceused"_s, 30);
        const qint64 whole = DatabaseSizeBytes(rs->fieldText(u"database_size"_s));
        QVERIFY(whole > 0);
        const qint64 data = GetDBSpaceUsed(*c);
        const qint64 all = GetDBSpaceUsed(*c, false);
        // database_size is rounded to hundredths of a megabyte.
        QVERIFY2(data > 0 && data <= all && all <= whole + 5243,
                 qPrintable(u"%1 %2 %3"_s.arg(data).arg(all).arg(whole)));
    }

    // A closed connection gives the fallbacks, never an error.
    void probesWithoutServer()
    {
        db::Connection c;
        c.setConnectionString(u"Data Source=127.0.0.1,1;User ID=sa;Password=x"_s);
        QCOMPARE(GetServerVersion(c), QString());
        QCOMPARE(GetServerVersionYear(c), 0);
        QVERIFY(!GetMaxDBSize(c));
        QCOMPARE(GetDBSpaceUsed(c), 0);
        // Asked only while storing, when the connection has to work.
        QVERIFY_THROWS_EXCEPTION(Error, DatabaseCodePage(c));
    }

    // A connection lost while a probe runs is the caller's to know: its next statement would
    // otherwise run on a new connection, without the answer.
    void probeLosesConnection_data()
    {
        QTest::addColumn<QString>("statement"); // a word of the probe's statement
        QTest::addColumn<int>("probe");
        QTest::newRow("version") << u"@@version"_s << 0;
        QTest::newRow("size ceiling") << u"EngineEdition"_s << 1;
        QTest::newRow("space used") << u"FILEPROPERTY"_s << 2;
        QTest::newRow("code page") << u"COLLATIONPROPERTY"_s << 3;
    }
    void probeLosesConnection()
    {
        QFETCH(QString, statement);
        QFETCH(int, probe);
        auto c = freshDatabase();
        c->execute(u"EXEC sqlsim_drop_connection N'"_s + statement + u"', 0"_s);
        try {
            switch (probe) {
            case 0:
                GetServerVersion(*c);
                break;
            case 1:
                GetMaxDBSize(*c);
                break;
            case 2:
                GetDBSpaceUsed(*c);
                break;
            default:
                DatabaseCodePage(*c);
            }
            QFAIL("the lost connection was not reported");
        } catch (const db::DbError& e) {
            QVERIFY2(e.isConnectionLoss(), qPrintable(e.message()));
        }
    }

    // The same during a storing: it ends with the server's error, and the operator is asked
    // about it, rather than the files going in unchecked over a new connection.
    void storingLosesConnectionInProbe_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::newRow("size ceiling") << u"EngineEdition"_s;
        QTest::newRow("code page") << u"COLLATIONPROPERTY"_s;
    }
    void storingLosesConnectionInProbe()
    {
        QFETCH(QString, statement);
        const QString app = newFolder();
        makeTree(app, {{u"a.txt"_s, "a"}});
        auto c = freshDatabase();
        c->execute(u"EXEC sqlsim_drop_connection N'"_s + statement + u"', 0"_s);
        try {
            AddFilesToDB(app, fileStoreTable, u"1"_s, defaultMasks, 0, *c);
            QFAIL("the storing went on without the answer");
        } catch (const db::DbError& e) {
            QVERIFY2(e.isConnectionLoss(), qPrintable(e.message()));
        }
        if (!c->isOpen())
            c->open(); // into the same database
        QCOMPARE(storedRows(*c), QStringList{});
    }

    // Excluded files count toward the room check. A sparse file makes a big database file
    // cheaply; it is excluded and never read. Only Express has a ceiling, on the pages in use in
    // its data files: a Standard server whose files pass 10 GB still takes the files.
    void roomCheck_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<QString>("edition");
        QTest::addColumn<int>("extraDataMegabytes");
        QTest::addColumn<qint64>("bigFile");
        QTest::addColumn<bool>("fits");
        QTest::newRow("Express, 4 GiB ceiling")
            << 2005 << u"express"_s << 0 << (4LL << 30) << false;
        QTest::newRow("Express, 10 GiB ceiling")
            << 2019 << u"express"_s << 0 << (4LL << 30) << true;
        QTest::newRow("Express near its ceiling")
            << 2019 << u"express"_s << 0 << (10LL << 30) << false;
        QTest::newRow("Express, a big file mostly free")
            << 2019 << u"express"_s << 9000 << (1LL << 30) << true;
        QTest::newRow("Standard past 10 GB")
            << 2019 << u"standard"_s << 11000 << (10LL << 30) << true;
    }
    void roomCheck()
    {
        QFETCH(int, year);
        QFETCH(QString, edition);
        QFETCH(int, extraDataMegabytes);
        QFETCH(qint64, bigFile);
        QFETCH(bool, fits);
        const QString app = newFolder();
        makeTree(app, {{u"tool.dll"_s, "tool"}});
        {
            QFile mdf(app + u"/Data/big.mdf"_s);
            QVERIFY(QDir().mkpath(app + u"/Data"_s));
            QVERIFY(mdf.open(QIODevice::WriteOnly));
            QVERIFY(mdf.resize(bigFile));
        }
        SqlsimProcess sim;
        QVERIFY2(sim.start({u"--version-year"_s, QString::number(year), u"--edition"_s, edition,
                            u"--extra-data-size"_s, QString::number(extraDataMegabytes)}),
                 sim.stderrText().constData());
        auto c = freshDatabase(sim);
        if (fits) {
            AddFilesToDB(app, fileStoreTable, u"1"_s, defaultMasks, 0, *c);
            QCOMPARE(storedRows(*c), QStringList{u"tool.dll|1|4"_s});
        } else {
            EXPECT_THROWN(tooBig, MyException,
                          AddFilesToDB(app, fileStoreTable, u"1"_s, defaultMasks, 0, *c));
            QCOMPARE(tooBig.message, u"Размер файлов превышает допустимый размер базы данных."_s);
            QCOMPARE(storedRows(*c), QStringList{}); // the new table stays, empty
        }
        // The per-file limit drops the big file before the room check.
        AddFilesToDB(app, fileStoreTable, u"1"_s, defaultMasks, 10485760, *c);
        QCOMPARE(storedRows(*c), QStringList{u"tool.dll|1|4"_s});
    }

    // Older stored files are offered to the caller once, with both versions' digits, and
    // written only when it accepts; without a question they are written.
    void versionFilter_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<bool>("ask");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("asked"); // installed, stored; empty: not asked
        QTest::addColumn<bool>("written");
        const QStringList older{u"7520"_s, u"7510"_s};
        QTest::newRow("equal") << u"7.5.2.0"_s << u"7.5.2.0"_s << true << false << QStringList{}
                               << true;
        QTest::newRow("newer by number, not by text")
            << u"7.5.10.0"_s << u"7.6.0.0"_s << true << false << QStringList{} << true;
        QTest::newRow("older, yes")
            << u"7.5.1.0"_s << u"7.5.2.0"_s << true << true << older << true;
        QTest::newRow("older, no")
            << u"7.5.1.0"_s << u"7.5.2.0"_s << true << false << older << false;
        QTest::newRow("older, not asked")
            << u"7.5.1.0"_s << u"7.5.2.0"_s << false << false << QStringList{} << true;
        QTest::newRow("installed without version")
            << u"7.5.1.0"_s << QString() << true << false << QStringList{} << true;
        QTest::newRow("installed version without digits")
            << u"7.5.1.0"_s << u"unknown"_s << true << false << QStringList{} << true;
    }
    void versionFilter()
    {
        QFETCH(QString, stored);
        QFETCH(QString, installed);
        QFETCH(bool, ask);
        QFETCH(bool, answer);
        QFETCH(QStringList, asked);
        QFETCH(bool, written);
        auto c = storeTree({{u"ostrel.exe"_s, "new"}, {u"bin/a.dll"_s, "a-new"}}, stored);
        const QString target = newFolder();
        makeTree(target, {{u"ostrel.exe"_s, "old"}});
        ScriptedOperatorUi ui;
        QList<QStringList> questions;
        ExtractOptions options;
        if (ask)
            options.acceptOlder = [&](const QString& installedVersion,
                                      const QString& storedVersion) {
                questions.append({installedVersion, storedVersion});
                return answer;
            };
        QVERIFY(ExtractFilesFromDB(target, *c, installed, ui, options));
        QCOMPARE(questions, asked.isEmpty() ? QList<QStringList>{} : QList<QStringList>{asked});
        QCOMPARE(ui.shown.size(), 0);
        const Tree expected = written ? Tree{{u"ostrel.exe"_s, "new"}, {u"bin/a.dll"_s, "a-new"}}
                                      : Tree{{u"ostrel.exe"_s, "old"}};
        QCOMPARE(fileTree(target), expected);
    }

    void noStoreTable()
    {
        auto c = freshDatabase();
        const QString target = newFolder();
        ScriptedOperatorUi ui;
        QVERIFY(!ExtractFilesFromDB(target, *c, u"1.0"_s, ui));
        QVERIFY(QFileInfo(target).isDir()); // the folder is made first
        QCOMPARE(fileTree(target), Tree{});
        QCOMPARE(ui.shown.size(), 0);
    }

    void emptyStore()
    {
        auto c = storeTree({}, u"1.0"_s);
        const QString target = newFolder();
        makeTree(target, {{u"a.txt"_s, "old"}});
        ScriptedOperatorUi ui;
        QVERIFY(ExtractFilesFromDB(target, *c, u"2.0"_s, ui));
        QCOMPARE(ui.shown.size(), 0);
        QCOMPARE(fileTree(target), (Tree{{u"a.txt"_s, "old"}}));
    }

    void installFolderCannotBeMade()
    {
        auto c = storeTree({{u"a.txt"_s, "a"}}, u"1"_s);
        const QString file = newFolder() + u".txt"_s;
        QVERIFY(writeFile(file, "in the way"));
        ScriptedOperatorUi ui;
        EXPECT_THROWN(unmade, MyException,
                      ExtractFilesFromDB(file + u"/app"_s, *c, u"1"_s, ui));
        QCOMPARE(unmade.message, u"Не удалось создать путь \""_s + file + u"/app/\"."_s);
        EXPECT_THROWN(noFolder, MyException, ExtractFilesFromDB(QString(), *c, u"1"_s, ui));
        QCOMPARE(noFolder.message, u"Не удалось создать путь \"\"."_s);
    }

    // A row's folder blocked by a file: the rows before stay written, the error passes on and
    // the connection is usable afterwards.
    void rowFolderCannotBeMade()
    {
        auto c = freshDatabase();
        c->execute(u"create table backup_files (path char(255) not null, version int null, "
                   u"file_data IMAGE NULL)"_s);
        c->execute(u"INSERT INTO backup_files VALUES ('first.txt', 1, 0x41), "
                   u"('first.txt\\\\b.txt', 1, 0x42), ('last.txt', 1, 0x43)"_s);
        const QString target = newFolder();
        ScriptedOperatorUi ui;
        EXPECT_THROWN(blocked, MyException, ExtractFilesFromDB(target, *c, u"1"_s, ui));
        QCOMPARE(blocked.message, u"Не удалось создать путь \""_s + target + u"/first.txt/\"."_s);
        QCOMPARE(fileTree(target), (Tree{{u"first.txt"_s, "A"}}));
        QCOMPARE(
            c->openRecordSet(u"SELECT COUNT(*) AS n FROM backup_files"_s, 30)->fieldText(u"n"_s),
            u"3"_s);
    }

    void readOnlyAndExecutableReplaced()
    {
        auto c = storeTree({{u"ostrel.exe"_s, "new program"}, {u"ro.cfg"_s, "new cfg"}}, u"2"_s);
        const QString target = newFolder();
        makeTree(target, {{u"ostrel.exe"_s, "old"}, {u"ro.cfg"_s, "old"}});
        const QString exe = target + u"/ostrel.exe"_s;
        const QString ro = target + u"/ro.cfg"_s;
        QVERIFY(QFile::setPermissions(exe, QFile::permissions(exe) | QFile::ExeOwner));
        QVERIFY(QFile::setPermissions(ro, QFile::ReadOwner | QFile::ReadGroup));
        ScriptedOperatorUi ui;
        QVERIFY(ExtractFilesFromDB(target, *c, u"2"_s, ui));
        QCOMPARE(fileTree(target),
                 (Tree{{u"ostrel.exe"_s, "new program"}, {u"ro.cfg"_s, "new cfg"}}));
        QVERIFY(QFile::permissions(exe).testFlag(QFile::ExeOwner));
        QVERIFY(QFile::permissions(ro).testFlag(QFile::WriteOwner));
        QCOMPARE(ui.shown.size(), 0);
    }

    // A file left aside by an earlier run goes when its target is written anew; one beside an
    // existing target that was replaced in place stays.
    void leftAsideFiles()
    {
        auto c = storeTree({{u"gone.dll"_s, "new gone"}, {u"kept.dll"_s, "new kept"}}, u"2"_s);
        const QString target = newFolder();
        makeTree(
            target,
            {{u"gone.dll___"_s, "older"}, {u"kept.dll"_s, "old"}, {u"kept.dll___"_s, "older"}});
        ScriptedOperatorUi ui;
        QVERIFY(ExtractFilesFromDB(target, *c, u"2"_s, ui));
        QCOMPARE(fileTree(target), (Tree{{u"gone.dll"_s, "new gone"},
                                         {u"kept.dll"_s, "new kept"},
                                         {u"kept.dll___"_s, "older"}}));
    }

    // A write that fails leaves the installed file as it was; the warning names the file and,
    // when the disk is full, says so whatever words the system found for it.
    void failedWriteKeepsInstalledFile_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the device's own words") << false << u"No space left on device"_s;
        QTest::newRow("the disk is full")
            << true
            << u"на диске не осталось свободного места (свободно 4096 "
               u"байт)"_s;
    }
    void failedWriteKeepsInstalledFile()
    {
        QFETCH(bool, diskFull);
        QFETCH(QString, reason);
        const QByteArray content(200000, 'n');
        auto c = storeTree({{u"a.txt"_s, "a-new"}, {u"bin/big.dll"_s, content}}, u"2"_s);
        const QString target = newFolder();
        makeTree(target, {{u"a.txt"_s, "a-old"}, {u"bin/big.dll"_s, "big-old"}});
        ExtractOptions options;
        options.wrapOutput = [](QIODevice& file) -> std::unique_ptr<QIODevice> {
            // Only the big file runs out of room.
            return std::make_unique<FullDisk>(file, 100000);
        };
        if (diskFull)
            options.freeBytes = [](const QString&) {
                return std::optional<quint64>(4096);
            };
        ScriptedOperatorUi ui;
        QVERIFY(ExtractFilesFromDB(target, *c, u"2"_s, ui, options));
        // The old content, and no temporary file left behind.
        QCOMPARE(fileTree(target), (Tree{{u"a.txt"_s, "a-new"}, {u"bin/big.dll"_s, "big-old"}}));
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Warning);
        QCOMPARE(ui.shown[0].caption, u"Внимание"_s);
        const QString prefix =
            u"Не все файлы программы извлечены из базы:\r\nbin\\\\big.dll: не удалось "
            u"записать файл \""_s +
            QDir::toNativeSeparators(target + u"/bin/big.dll"_s) + u"\": "_s;
        QVERIFY2(ui.shown[0].text.startsWith(prefix), qPrintable(ui.shown[0].text));
        QVERIFY2(ui.shown[0].text.endsWith(reason), qPrintable(ui.shown[0].text));
    }

    // Stored paths that lead out of the folder are written nowhere and are named in the warning.
    void hostilePaths()
    {
        auto c = freshDatabase();
        c->execute(u"create table backup_files (path char(255) not null, version int null, "
                   u"file_data IMAGE NULL)"_s);
        const QStringList hostile{
            u"..\\\\..\\\\x.txt"_s, u"\\\\etc\\\\x.txt"_s, u"/tmp/x.txt"_s,
            u"C:\\\\x.txt"_s,       u"c:x.txt"_s,          u"sub\\\\..\\\\..\\\\x.txt"_s,
            u"sub/./x.txt"_s,       u"sub\\\\"_s,
        };
        for (const QString& path : hostile)
            c->execute(u"INSERT INTO backup_files VALUES ('"_s + path + u"', 1, 0x58)"_s);
        c->execute(u"INSERT INTO backup_files VALUES ('ok\\\\ok.txt', 1, 0x4F)"_s);

        const QString parent = newFolder();
        const QString target = parent + u"/a/b/app"_s;
        ScriptedOperatorUi ui;
        QVERIFY(ExtractFilesFromDB(target, *c, u"1"_s, ui));
        QCOMPARE(fileTree(parent), (Tree{{u"a/b/app/ok/ok.txt"_s, "O"}}));
        QVERIFY(!QFileInfo::exists(u"/etc/x.txt"_s));
        QVERIFY(!QFileInfo::exists(u"/x.txt"_s));
        QVERIFY(!QFileInfo::exists(u"/tmp/x.txt"_s));

        const QString outside = u": путь ведёт за пределы папки программы"_s;
        QCOMPARE(ui.shown.size(), 1);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Warning);
        QStringList lines = ui.shown[0].text.split(u"\r\n"_s);
        QCOMPARE(lines.takeFirst(), u"Не все файлы программы извлечены из базы:"_s);
        QCOMPARE(lines,
                 (QStringList{hostile[0] + outside, hostile[1] + outside, hostile[2] + outside,
                              hostile[3] + outside, hostile[4] + outside, hostile[5] + outside,
                              hostile[6] + outside, hostile[7] + u": путь не называет файл"_s}));
    }

    // Paths written with "/" by any system and with doubled "\" by this one read back alike.
    void storedSeparators()
    {
        auto c = freshDatabase();
        c->execute(u"create table backup_files (path char(255) not null, version int null, "
                   u"file_data IMAGE NULL)"_s);
        c->execute(u"INSERT INTO backup_files VALUES ('a\\b.txt', 1, 0x31), "
                   u"('c/d.txt', 1, 0x32), ('  e\\\\\\\\f.txt  ', 1, NULL)"_s);
        const QString target = newFolder();
        ScriptedOperatorUi ui;
        QVERIFY(ExtractFilesFromDB(target, *c, u"1"_s, ui));
        QCOMPARE(fileTree(target),
                 (Tree{{u"a/b.txt"_s, "1"}, {u"c/d.txt"_s, "2"}, {u"e/f.txt"_s, QByteArray()}}));
        QCOMPARE(ui.shown.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFileStore)
#include "tst_filestore.moc"
