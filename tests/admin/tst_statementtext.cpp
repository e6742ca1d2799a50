// Texts that go into statements and backup file names; what goes into a statement is checked
// by the server taking it as meant.
#include "BackupFileName.h"
#include "DatabaseList.h"
#include "DbError.h"
#include "FileStore.h"
#include "MyMSSQL.h"
#include "ServerProbes.h"
#include "SimConnection.h"
#include "StatementText.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestStatementText : public QObject
{
    Q_OBJECT

    SqlsimProcess m_sim;
    std::unique_ptr<db::Connection> m_names; // in the database "names"

    db::Connection& names()
    {
        if (!m_names) {
            m_names = openConnection(m_sim, u"sa"_s);
            m_names->setDefaultDatabase(u"names"_s);
        }
        return *m_names;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.stderrText().constData());
        QVERIFY(m_sim.exec(u"CREATE DATABASE names; CREATE TABLE names.dbo.t (a int)"_s));
        for (const auto& [database, name] :
             {std::pair{u"app"_s, u"ostrel_ts"_s}, std::pair{u"app_quote"_s, u"o''brien"_s}})
            QVERIFY(m_sim.exec(u"CREATE DATABASE %1; CREATE TABLE %1.dbo.DB_PROPERTY (Name "
                               u"varchar(50), Value varchar(50)); INSERT INTO %1.dbo.DB_PROPERTY "
                               u"VALUES ('DB_Name', '%2')"_s.arg(database, name)));
    }

    void removeDoubleBackslashes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("doubled and quadrupled")
            << u"C:\\\\Backup\\\\\\\\x.bak"_s << u"C:\\Backup\\x.bak"_s;
        QTest::newRow("network path")
            << u"\\\\server\\share\\x.bak"_s << u"\\server\\share\\x.bak"_s;
        QTest::newRow("nothing doubled") << u"C:\\b\\x.bak"_s << u"C:\\b\\x.bak"_s;
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("one backslash") << u"\\"_s << u"\\"_s;
        QTest::newRow("slashes untouched") << u"/srv//x.bak"_s << u"/srv//x.bak"_s;
    }
    void removeDoubleBackslashes()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(RemoveDoubleBackslashes(text), expected);
    }

    // A value written into a statement as a literal's body or as an identifier reaches the
    // server as itself, and nothing of it runs as a statement.
    void literalAndIdentifier_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << u"ostrel_ts"_s;
        QTest::newRow("Cyrillic") << u"склад"_s;
        QTest::newRow("reserved word") << u"order"_s;
        QTest::newRow("quote") << u"o'brien"_s;
        QTest::newRow("bracket") << u"a]b"_s;
        QTest::newRow("quote and bracket") << u"o'brien]x"_s;
        QTest::newRow("statement in a name") << u"x;DROP TABLE t--"_s;
        QTest::newRow("leading digit") << u"1c"_s;
        QTest::newRow("blank") << u"my db"_s;
    }
    void literalAndIdentifier()
    {
        QFETCH(QString, value);
        db::Connection& c = names();
        QCOMPARE(c.openRecordSet(u"SELECT N'"_s + sqltext::literalBody(value) + u"' AS v"_s, 30)
                     ->fieldText(u"v"_s),
                 value);
        c.execute(u"CREATE TABLE dbo."_s + sqltext::identifier(value) + u" (a int)"_s);
        QStringList tables = m_sim.rows(u"SELECT name FROM sys.tables"_s, u"names"_s);
        c.execute(u"DROP TABLE dbo."_s + sqltext::identifier(value));
        QStringList expected{value, u"t"_s};
        tables.sort();
        expected.sort();
        QCOMPARE(tables, expected);
    }

    // The probe finds the application's own database by its DB_PROPERTY row, whatever the name
    // holds; any other database is not the application's.
    void applicationDatabase_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("dbNameFileAdd");
        QTest::addColumn<bool>("expected");
        QTest::newRow("its own") << u"app"_s << u"ostrel_ts"_s << true;
        QTest::newRow("another application's") << u"app"_s << u"ostrel"_s << false;
        QTest::newRow("a quote in the name") << u"app_quote"_s << u"o'brien"_s << true;
        QTest::newRow("no DB_PROPERTY") << u"names"_s << u"ostrel_ts"_s << false;
        QTest::newRow("no such database") << u"nosuch"_s << u"ostrel_ts"_s << false;
    }
    void applicationDatabase()
    {
        QFETCH(QString, database);
        QFETCH(QString, dbNameFileAdd);
        QFETCH(bool, expected);
        const auto c = openConnection(m_sim, u"sa"_s);
        QCOMPARE(IsApplicationDatabase(*c, database, dbNameFileAdd), expected);
    }

    void folderOf_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("windows") << u"C:\\Data\\shop.mdf"_s << u"C:\\Data\\"_s;
        QTest::newRow("unix") << u"/srv/data/shop.mdf"_s << u"/srv/data/"_s;
        QTest::newRow("no folder") << u"shop.mdf"_s << QString();
        QTest::newRow("empty") << QString() << QString();
    }
    void folderOf()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(FolderOf(path), folder);
    }

    void copyFileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("types");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("data and log")
            << u"ostrel_copy"_s << u"DL"_s
            << QStringList{u"ostrel_copy.mdf"_s, u"ostrel_copy_log.ldf"_s};
        QTest::newRow("further files")
            << u"big"_s << u"DDLDL"_s
            << QStringList{u"big.mdf"_s, u"big_1.ndf"_s, u"big_log.ldf"_s, u"big_2.ndf"_s,
                           u"big_log_1.ldf"_s};
        QTest::newRow("log listed first")
            << u"x"_s << u"LD"_s << QStringList{u"x_log.ldf"_s, u"x.mdf"_s};
        QTest::newRow("characters no file name holds")
            << u"a/b\\c:d*e?f\"g<h>i|j"_s << u"D"_s << QStringList{u"a_b_c_d_e_f_g_h_i_j.mdf"_s};
        QTest::newRow("quotes and brackets stay")
            << u"it's [x]"_s << u"D"_s << QStringList{u"it's [x].mdf"_s};
    }
    void copyFileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, types);
        QFETCH(QStringList, names);
        QList<BackupFileEntry> files;
        for (const QChar type : types)
            files.append({u"logical"_s, u"C:\\Old\\old.mdf"_s, type, {}});
        QCOMPARE(CopyFileNames(name, files), names);
    }

    void databaseSize_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("KB") << u"1024.00 KB"_s << qint64(1048576);
        QTest::newRow("MB") << u"3.50 MB"_s << qint64(3670016);
        QTest::newRow("GB counts as nothing") << u"2.00 GB"_s << qint64(0);
        QTest::newRow("not a number") << u"x MB"_s << qint64(0);
        QTest::newRow("empty") << QString() << qint64(0);
    }
    void databaseSize()
    {
        QFETCH(QString, text);
        QFETCH(qint64, bytes);
        QCOMPARE(DatabaseSizeBytes(text), bytes);
    }

    // Told by its number, whatever the login's language.
    void progressPercent_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("percent");
        QTest::newRow("ten") << 3211 << u"10 percent processed."_s << 10;
        QTest::newRow("hundred") << 3211 << u"100 percent processed."_s << 100;
        QTest::newRow("Russian") << 3211 << u"Обработано процентов: 40."_s << 40;
        QTest::newRow("pages") << 4035 << u"Processed 208 pages for database 'x'"_s << -1;
        QTest::newRow("end") << 3014 << u"BACKUP DATABASE successfully processed 208 pages"_s << -1;
    }
    void progressPercent()
    {
        QFETCH(int, number);
        QFETCH(QString, message);
        QFETCH(int, percent);
        QCOMPARE(ProgressPercent({number, message}).value_or(-1), percent);
    }

    void removableDrive_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("description");
        QTest::newRow("application's drive") << u"c:\\backup\\x.bak"_s << QString();
        QTest::newRow("system drive") << u"D:\\x.bak"_s << QString();
        QTest::newRow("other drive") << u"E:\\x.bak"_s << u"REMOVABLE"_s;
        QTest::newRow("network share") << u"\\\\srv\\share\\x.bak"_s << u"REMOVABLE"_s;
    }
    void removableDrive()
    {
        QFETCH(QString, file);
        QFETCH(QString, description);
        QCOMPARE(IsRemovableDrive(file, u"C:\\Korvel\\ostrel.exe"_s, u"D:\\Windows\\System32\\"_s),
                 description);
    }

    void defaultBackupFileName()
    {
        QCOMPARE(DefaultBackupFileName(u"ostrel"_s, QDate(2014, 12, 25)), u"ostrel_251214.bak"_s);
    }
};

QTEST_GUILESS_MAIN(TestStatementText)
#include "tst_statementtext.moc"
