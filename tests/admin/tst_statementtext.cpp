// Texts that go into statements and backup file names.
#include "BackupFileName.h"
#include "DatabaseList.h"
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
        QTest::newRow("plain") << u"ostrel_ts"_s << u"ostrel_ts"_s << u"ostrel_ts"_s;
        QTest::newRow("Cyrillic") << u"склад"_s << u"склад"_s << u"склад"_s;
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

    void probeStatement()
    {
        QCOMPARE(FileStoreProbeStatement(u"ostrel_ts"_s),
                 u"SELECT value FROM DB_PROPERTY WHERE Name='DB_Name' and Value='ostrel_ts'"_s);
    }
};

QTEST_GUILESS_MAIN(TestStatementText)
#include "tst_statementtext.moc"
