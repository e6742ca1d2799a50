// Texts that go into statements and backup file names.
#include "BackupFileName.h"
#include "DatabaseList.h"
#include "DbError.h"
#include "MyMSSQL.h"
#include "ServerProbes.h"
#include "StatementText.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestStatementText : public QObject
{
    Q_OBJECT

private slots:
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

    void literalAndIdentifier_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("identifier");
        QTest::newRow("plain") << u"ostrel_ts"_s << u"ostrel_ts"_s << u"[ostrel_ts]"_s;
        QTest::newRow("Cyrillic") << u"склад"_s << u"склад"_s << u"[склад]"_s;
        QTest::newRow("reserved word") << u"order"_s << u"order"_s << u"[order]"_s;
        QTest::newRow("quote") << u"o'brien"_s << u"o''brien"_s << u"[o'brien]"_s;
        QTest::newRow("bracket") << u"a]b"_s << u"a]b"_s << u"[a]]b]"_s;
        QTest::newRow("statement in a name")
            << u"x;DROP TABLE t--"_s << u"x;DROP TABLE t--"_s << u"[x;DROP TABLE t--]"_s;
        QTest::newRow("leading digit") << u"1c"_s << u"1c"_s << u"[1c]"_s;
        QTest::newRow("blank") << u"my db"_s << u"my db"_s << u"[my db]"_s;
    }
    void literalAndIdentifier()
    {
        QFETCH(QString, value);
        QFETCH(QString, literal);
        QFETCH(QString, identifier);
        QCOMPARE(sqltext::literalBody(value), literal);
        QCOMPARE(sqltext::identifier(value), identifier);
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

    void backupStatement_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("statement");
        const QDateTime at(QDate(2014, 12, 25), QTime(9, 5));
        QTest::newRow("ordinary")
            << u"ostrel"_s << u"D:\\backup\\ostrel_251214.bak"_s << u"REMOVABLE"_s
            << u"declare @DBName nvarchar(128)\r\nset @DBName=N'ostrel'BACKUP DATABASE @DBName TO  "
               u"DISK = N'D:\\backup\\ostrel_251214.bak'  WITH  INIT,  DESCRIPTION='REMOVABLE',  "
               u"NOUNLOAD ,  NAME = N'ostrel backup on 25-12-2014 09:05',  NOSKIP ,  STATS = 10,  "
               u"NOFORMAT "_s;
        QTest::newRow("quotes stay inside their literals")
            << u"it's"_s << u"/b/o'k.bak"_s << QString()
            << u"declare @DBName nvarchar(128)\r\nset @DBName=N'it''s'BACKUP DATABASE @DBName TO  "
               u"DISK = N'/b/o''k.bak'  WITH  INIT,  DESCRIPTION='',  NOUNLOAD ,  NAME = N'it''s "
               u"backup on 25-12-2014 09:05',  NOSKIP ,  STATS = 10,  NOFORMAT "_s;
    }
    void backupStatement()
    {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QFETCH(QString, description);
        QFETCH(QString, statement);
        QCOMPARE(
            BackupStatement(name, file, description, QDateTime(QDate(2014, 12, 25), QTime(9, 5))),
            statement);
    }

    void restoreStatement_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("replace");
        QTest::addColumn<QString>("statement");
        QTest::newRow("replace")
            << u"ostrel"_s << true
            << u"restore database [ostrel] from disk=N'D:\\b.bak' with \r\n"
               u" move N'ostrel' to N'C:\\Data\\ostrel.mdf', move N'ostrel_log' to "
               u"N'C:\\Data\\ostrel_log.ldf', Replace, STATS = 10"_s;
        QTest::newRow("no replace: the progress right after the last file")
            << u"ostrel"_s << false
            << u"restore database [ostrel] from disk=N'D:\\b.bak' with \r\n"
               u" move N'ostrel' to N'C:\\Data\\ostrel.mdf', move N'ostrel_log' to "
               u"N'C:\\Data\\ostrel_log.ldf', STATS = 10"_s;
        QTest::newRow("a name that is no plain identifier")
            << u"it's]"_s << false
            << u"restore database [it's]]] from disk=N'D:\\b.bak' with \r\n"
               u" move N'ostrel' to N'C:\\Data\\ostrel.mdf', move N'ostrel_log' to "
               u"N'C:\\Data\\ostrel_log.ldf', STATS = 10"_s;
    }
    void restoreStatement()
    {
        QFETCH(QString, name);
        QFETCH(bool, replace);
        QFETCH(QString, statement);
        const QList<BackupFileEntry> files = {
            {u"ostrel"_s, u"E:\\Old\\ostrel.mdf"_s, u'D', {}},
            {u"ostrel_log"_s, u"/var/opt/mssql/data/ostrel_log.ldf"_s, u'L', {}}};
        QCOMPARE(RestoreStatement(name, u"D:\\b.bak"_s, u"C:\\Data\\"_s, files, replace),
                 statement);
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

    void probeStatement()
    {
        QCOMPARE(FileStoreProbeStatement(u"ostrel_ts"_s),
                 u"SELECT value FROM DB_PROPERTY WHERE Name='DB_Name' and Value=N'ostrel_ts'"_s);
    }
};

QTEST_GUILESS_MAIN(TestStatementText)
#include "tst_statementtext.moc"
