// The file store's helpers that need no server: exclusion list, masks, the stored path form.
#include "ExclusionList.h"
#include "FileStore.h"
#include "MyException.h"
#include "StoreStatements.h"
#include "StoredPath.h"
#include "TestFiles.h"
#include "Thrown.h"

#include <QDir>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFileStoreHelpers : public QObject
{
    Q_OBJECT

private slots:
    // The table's form of a path, which stores of earlier versions share.
    void storedPathText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::newRow("plain") << u"tool.dll"_s << u"tool.dll"_s;
        QTest::newRow("backslashes") << u"bin\\sub\\tool.dll"_s << u"bin\\\\sub\\\\tool.dll"_s;
        QTest::newRow("quotes") << u"it's \"x\""_s << u"it's \"\"x\"\""_s;
        QTest::newRow("cyrillic") << u"Отчёт.txt"_s << u"Отчёт.txt"_s;
        QTest::newRow("empty") << QString() << QString();
    }
    void storedPathText()
    {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        QCOMPARE(filestore::storedPathText(text), stored);
        // Read back, it names the same components.
        if (!text.isEmpty())
            QCOMPARE(filestore::resolveStoredPath(stored).components.join(u'\\'), text);
    }

    void fitsCodePage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QVariant>("fits"); // invalid: the code page cannot be checked
        QTest::newRow("ASCII, 1251") << u"bin\\tool.dll"_s << 1251 << QVariant(true);
        QTest::newRow("Cyrillic, 1251") << u"Отчёт №1.xls"_s << 1251 << QVariant(true);
        QTest::newRow("accent, 1251") << u"café.txt"_s << 1251 << QVariant(false);
        QTest::newRow("accent, 1252") << u"café.txt"_s << 1252 << QVariant(true);
        QTest::newRow("Cyrillic, 1252") << u"Архив.txt"_s << 1252 << QVariant(false);
        QTest::newRow("euro, 1252") << u"€.txt"_s << 1252 << QVariant(true);
        QTest::newRow("Polish, 1250") << u"Łódź.txt"_s << 1250 << QVariant(true);
        QTest::newRow("Cyrillic, 1250") << u"Ж.txt"_s << 1250 << QVariant(false);
        QTest::newRow("outside the BMP, 1251") << u"a\U0001F600.txt"_s << 1251 << QVariant(false);
        QTest::newRow("UTF-8 collation") << u"a\U0001F600Ж.txt"_s << 65001 << QVariant(true);
        QTest::newRow("code page unknown") << u"café.txt"_s << 0 << QVariant();
        QTest::newRow("no such code page") << u"café.txt"_s << 99999 << QVariant();
    }
    void fitsCodePage()
    {
        QFETCH(QString, text);
        QFETCH(int, codePage);
        QFETCH(QVariant, fits);
        const std::optional<bool> result = FitsCodePage(text, codePage);
        QCOMPARE(result.has_value(), fits.isValid());
        if (result)
            QCOMPARE(*result, fits.toBool());
    }

    void versionNumberText_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("number");
        QTest::newRow("four parts") << u"7.5.2.0"_s << u"7520"_s;
        QTest::newRow("long part") << u"7.5.10.0"_s << u"75100"_s;
        QTest::newRow("letters") << u"v1 build 2-b"_s << u"12"_s;
        QTest::newRow("no digits") << u"beta"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        // Only the digits a server can read as a number.
        QTest::newRow("arabic-indic") << u"\u0661.2"_s << u"2"_s;
    }
    void versionNumberText()
    {
        QFETCH(QString, version);
        QFETCH(QString, number);
        QCOMPARE(VersionNumberText(version), number);
    }

    void isExcludedFile_data()
    {
        const QStringList defaults{u"default.udl"_s, u"*.ldf"_s, u"*.mdf"_s, u"*.bak"_s};
        QTest::addColumn<QStringList>("masks");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("excluded");
        QTest::newRow("udl any case") << defaults << u"Default.UDL"_s << true;
        QTest::newRow("mdf upper case") << defaults << u"data.MDF"_s << true;
        QTest::newRow("ldf") << defaults << u"data_log.ldf"_s << true;
        QTest::newRow("bak") << defaults << u"ostrel_090124.bak"_s << true;
        QTest::newRow("other udl") << defaults << u"server.udl"_s << false;
        QTest::newRow("dll") << defaults << u"tool.dll"_s << false;
        QTest::newRow("bak inside name") << defaults << u"x.bak.txt"_s << false;
        QTest::newRow("empty line excludes nothing")
            << QStringList{QString(), u"*.tmp"_s} << u"a.txt"_s << false;
        QTest::newRow("cyrillic mask") << QStringList{u"ОТЧЁТ*.*"_s} << u"отчёт_1.xls"_s << true;
        QTest::newRow("set") << QStringList{u"log[0-9].txt"_s} << u"LOG7.TXT"_s << true;
        // Masks are tried in order: a bad one after the match is never read.
        QTest::newRow("match before bad mask")
            << QStringList{u"*.txt"_s, u"[abc"_s} << u"a.txt"_s << true;
    }
    void isExcludedFile()
    {
        QFETCH(QStringList, masks);
        QFETCH(QString, name);
        QFETCH(bool, excluded);
        QCOMPARE(IsExcludedFile(name, &masks), excluded);
    }

    void noListExcludesNothing() { QVERIFY(!IsExcludedFile(u"default.udl"_s, nullptr)); }

    void badMaskFails()
    {
        const QStringList masks{u"*.ldf"_s, u"[abc"_s};
        EXPECT_THROWN(badMask, Error, IsExcludedFile(u"a.txt"_s, &masks));
        QCOMPARE(badMask.message, u"'[abc' is an invalid mask at (1)"_s);
    }

    void loadExclusionList_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // empty: no file
        QTest::addColumn<QStringList>("masks");
        QTest::newRow("no file") << QByteArray()
                                 << QStringList{u"default.udl"_s, u"*.ldf"_s, u"*.mdf"_s,
                                                u"*.bak"_s};
        QTest::newRow("utf-8, lf, final break")
            << QByteArray("*.log\n*.tmp\n") << QStringList{u"*.log"_s, u"*.tmp"_s};
        QTest::newRow("crlf with empty line")
            << QByteArray("*.log\r\n\r\n*.tmp") << QStringList{u"*.log"_s, QString(), u"*.tmp"_s};
        QTest::newRow("cr alone") << QByteArray("a.txt\rb.txt")
                                  << QStringList{u"a.txt"_s, u"b.txt"_s};
        QStringEncoder utf16le(QStringEncoder::Utf16LE);
        QTest::newRow("utf-16le bom")
            << QByteArray("\xFF\xFE") + QByteArray(utf16le(u"отчёт.xls\r\n*.bak"_s))
            << QStringList{u"отчёт.xls"_s, u"*.bak"_s};
        QStringEncoder utf16be(QStringEncoder::Utf16BE);
        QTest::newRow("utf-16be bom")
            << QByteArray("\xFE\xFF") + QByteArray(utf16be(u"отчёт.xls\r\n*.bak"_s))
            << QStringList{u"отчёт.xls"_s, u"*.bak"_s};
        QTest::newRow("windows-1251")
            << QByteArray("\xEE\xF2\xF7\xB8\xF2.xls") << QStringList{u"отчёт.xls"_s};
    }
    void loadExclusionList()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, masks);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (!bytes.isEmpty())
            QVERIFY(writeFile(dir.filePath(u"exclusion_mask_backup_file.txt"_s), bytes));
        QCOMPARE(LoadExclusionList(dir.path() + u'/'), masks);
        QCOMPARE(LoadExclusionList(dir.path()), masks); // the separator is added when missing
    }

    // A list the operator wrote but that cannot be read must not turn into "exclude nothing".
    void unreadableExclusionFileFails()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir(u"exclusion_mask_backup_file.txt"_s));
        QVERIFY_THROWS_EXCEPTION(Error, LoadExclusionList(dir.path()));
    }
};

QTEST_GUILESS_MAIN(TestFileStoreHelpers)
#include "tst_filestorehelpers.moc"
