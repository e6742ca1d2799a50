#include "DiskSpace.h"
#include "FileHelpers.h"
#include "MyException.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// A path the listing gives for an entry under root: the system's separator after the folder as
// given and between the parts below it.
QString under(const QString& root, QString relative)
{
    relative.replace(u'/', QDir::separator());
    return root + QDir::separator() + relative;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString backslashed(QString path)
{
    return path.replace(u'/', u'\\');
}

QLocale localeNamed(const QString& name)
{
    return name == u"ru"_s ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale::c();
}

} // namespace

class TestFileHelpers : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void fileVersionOfNonProgramIsEmpty();
    void diskFreeSizeOfMissingPath();
    void diskFreeSizeWithoutAnswer();
    void fileSizeByName();
    void fileSizeOfMissingFileThrows();
    void fileSizeBeyond4GiB();

    void strToFloatAny_data();
    void strToFloatAny();
    void strToFloatAnyKeepsLongDoublePrecision();
    void floatToStrDot_data();
    void floatToStrDot();
    void floatTextRoundTrip_data();
    void floatTextRoundTrip();

    void pluralForm_data();
    void pluralForm();
    void pluralFormWithNumber_data();
    void pluralFormWithNumber();

    void placeFormPosition_data();
    void placeFormPosition();

    void findFilesExample();
    void findFiles_data();
    void findFiles();
    void findFilesCountsExistingItems();
    void findFilesSeparators();
    void findFilesMissingOrEmptyFolder();
    void findFilesInvalidMaskThrowsFirst();
    void findFilesDoesNotEnterLinkedFolders();

    void forceDirs_data();
    void forceDirs();
    void forceDirsUnderFile();
};

void TestFileHelpers::cleanup()
{
    QLocale::setDefault(QLocale::system());
}

void TestFileHelpers::fileVersionOfNonProgramIsEmpty()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(GetFileApprVersion(dir.filePath(u"missing.exe"_s)), QString());
    QCOMPARE(GetFileApprVersion(dir.path()), QString());
    const QString text = dir.filePath(u"notes.exe"_s);
    QVERIFY(writeFile(text, "MZ but not really a program"));
    QCOMPARE(GetFileApprVersion(text), QString());
    QCOMPARE(GetFileApprVersion(backslashed(text)), QString());
}

void TestFileHelpers::diskFreeSizeOfMissingPath()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A backup file that does not exist yet, in folders that do not exist yet: the answer comes
    // from the temporary folder's file system.
    const QString target = dir.filePath(u"no/such/folder/db.bak"_s);
    const QString root = QStorageInfo(dir.path()).rootPath();
    QVERIFY(!root.isEmpty());
    QCOMPARE(platform::mountRoot(target), root);
    QCOMPARE(platform::mountRoot(backslashed(target)), root);
    QVERIFY(platform::freeBytes(target).has_value());
    QVERIFY(platform::freeBytes(backslashed(target)).has_value());
    QVERIFY(GetDiskFreeSize(target) > 0);
#ifndef Q_OS_WIN
    QCOMPARE(platform::mountRoot(u"/"_s), u"/"_s);
#endif
}

void TestFileHelpers::diskFreeSizeWithoutAnswer()
{
    QVERIFY(!platform::freeBytes(QString()).has_value());
    QCOMPARE(platform::mountRoot(QString()), QString());
    QCOMPARE(GetDiskFreeSize(QString()), quint64{0});
}

void TestFileHelpers::fileSizeByName()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(u"db.bak"_s);
    QVERIFY(writeFile(file, "12345"));
    QCOMPARE(GetFileSizeByName(file), qint64{5});
    QCOMPARE(GetFileSizeByName(backslashed(file)), qint64{5});
    const QString empty = dir.filePath(u"empty.bak"_s);
    QVERIFY(writeFile(empty, QByteArray()));
    QCOMPARE(GetFileSizeByName(empty), qint64{0});
    QCOMPARE(GetFileSizeByName(dir.path()), qint64{-1});
}

void TestFileHelpers::fileSizeOfMissingFileThrows()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = backslashed(dir.filePath(u"missing.bak"_s));
    try {
        GetFileSizeByName(missing);
        QFAIL("no error for a missing file");
    } catch (const MyException& error) {
        QCOMPARE(error.message(), u"Не найден файл по пути \""_s + missing + u"\"."_s);
    }
}

void TestFileHelpers::fileSizeBeyond4GiB()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"sparse.bak"_s);
    constexpr qint64 size = qint64{5} << 30;
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (!file.resize(size))
            QSKIP("The file system cannot hold a 5 GiB sparse file");
    }
    const qint64 read = GetFileSizeByName(path);
    QVERIFY(QFile::remove(path));
    QCOMPARE(read, size);
}

void TestFileHelpers::strToFloatAny_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<double>("def");
    QTest::addColumn<double>("expected");

    for (const QString& locale : {u"c"_s, u"ru"_s}) {
        const auto row = [&](const char* name) {
            return &QTest::newRow(qPrintable(locale + u": "_s + QLatin1StringView(name)));
        };
        *row("dot text") << locale << u"12.50"_s << u"."_s << 0.0 << 12.5;
        *row("comma text") << locale << u"12,50"_s << u","_s << 0.0 << 12.5;
        *row("whole number") << locale << u"42"_s << u"."_s << 0.0 << 42.0;
        *row("negative") << locale << u"-3.5"_s << u"."_s << 0.0 << -3.5;
        *row("plus sign") << locale << u"+2"_s << u"."_s << 0.0 << 2.0;
        *row("exponent") << locale << u"1e3"_s << u"."_s << 0.0 << 1000.0;
        *row("exponent with sign") << locale << u"2.5E-1"_s << u"."_s << 0.0 << 0.25;
        *row("no fraction digits") << locale << u"5."_s << u"."_s << 0.0 << 5.0;
        *row("no whole digits") << locale << u".5"_s << u"."_s << 0.0 << 0.5;
        *row("spaces around") << locale << u" 7.25 "_s << u"."_s << 0.0 << 7.25;
        *row("other separator") << locale << u"7#25"_s << u"#"_s << 0.0 << 7.25;
        *row("two dots") << locale << u"1.234.5"_s << u"."_s << 0.0 << 0.0;
        *row("separator alone") << locale << u"."_s << u"."_s << 9.0 << 9.0;
        *row("empty text") << locale << QString() << u"."_s << 9.0 << 9.0;
        *row("letters") << locale << u"abc"_s << u"."_s << 9.0 << 9.0;
        *row("trailing garbage") << locale << u"12.5kg"_s << u"."_s << 9.0 << 9.0;
        *row("exponent without digits") << locale << u"1e"_s << u"."_s << 9.0 << 9.0;
        *row("sign alone") << locale << u"-"_s << u"."_s << 9.0 << 9.0;
        *row("infinity word") << locale << u"inf"_s << u"."_s << 9.0 << 9.0;
        *row("nan word") << locale << u"nan"_s << u"."_s << 9.0 << 9.0;
        *row("hexadecimal") << locale << u"0x10"_s << u"."_s << 9.0 << 9.0;
        *row("overflow") << locale << u"1e99999"_s << u"."_s << 9.0 << 9.0;
        *row("space as group") << locale << u"1 000"_s << u"."_s << 9.0 << 9.0;
        *row("empty separator changes nothing") << locale << u"12"_s << QString() << 9.0 << 12.0;
    }
    // The separator given becomes the locale's own; the locale's separator written in the text
    // does not count.
    QTest::newRow("c: comma text, dot separator") << u"c"_s << u"12,5"_s << u"."_s << 9.0 << 9.0;
    QTest::newRow("ru: comma text, dot separator") << u"ru"_s << u"12,5"_s << u"."_s << 9.0 << 12.5;
    QTest::newRow("c: comma group") << u"c"_s << u"1,000.5"_s << u"."_s << 9.0 << 9.0;
    QTest::newRow("ru: no-break space group")
        << u"ru"_s << u"1\u00A0000,5"_s << u","_s << 9.0 << 9.0;
}

void TestFileHelpers::strToFloatAny()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(QString, separator);
    QFETCH(double, def);
    QFETCH(double, expected);
    QLocale::setDefault(localeNamed(locale));
    QCOMPARE(static_cast<double>(StrToFloatAny(text, separator, def)), expected);
}

void TestFileHelpers::strToFloatAnyKeepsLongDoublePrecision()
{
    QLocale::setDefault(QLocale::c());
#if defined(Q_OS_WIN)
    // libstdc++'s from_chars on mingw-w64 reads long double through double.
    QSKIP("long double is read with double precision on this C++ runtime");
#endif
    QCOMPARE(StrToFloatAny(u"0.1"_s, u"."_s, 0), 0.1L);
    QCOMPARE(StrToFloatAny(u"-123456789.123456789"_s, u"."_s, 0), -123456789.123456789L);
}

void TestFileHelpers::floatToStrDot_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("c: whole") << u"c"_s << QChar(u'.') << 7.0 << u"7"_s;
    QTest::newRow("ru: whole") << u"ru"_s << QChar(u'.') << 7.0 << u"7"_s;
    QTest::newRow("c: fraction") << u"c"_s << QChar(u'.') << 2.25 << u"2.25"_s;
    QTest::newRow("ru: fraction with dot") << u"ru"_s << QChar(u'.') << 2.25 << u"2.25"_s;
    QTest::newRow("ru: fraction with comma") << u"ru"_s << QChar(u',') << 2.25 << u"2,25"_s;
    QTest::newRow("c: fraction with comma") << u"c"_s << QChar(u',') << 2.25 << u"2,25"_s;
    QTest::newRow("c: negative") << u"c"_s << QChar(u'.') << -0.5 << u"-0.5"_s;
    QTest::newRow("c: zero") << u"c"_s << QChar(u'.') << 0.0 << u"0"_s;
    QTest::newRow("c: fifteen digits")
        << u"c"_s << QChar(u'.') << 1.0 / 3 << u"0.333333333333333"_s;
    QTest::newRow("ru: no group separators")
        << u"ru"_s << QChar(u'.') << 123456789012345.0 << u"123456789012345"_s;
    QTest::newRow("c: sixteen whole digits")
        << u"c"_s << QChar(u'.') << 1234567890123456.0 << u"1.23456789012346e+15"_s;
    QTest::newRow("c: large") << u"c"_s << QChar(u'.') << 1e20 << u"1e+20"_s;
    QTest::newRow("ru: large") << u"ru"_s << QChar(u'.') << 1e20 << u"1E+20"_s;
    QTest::newRow("c: small fixed") << u"c"_s << QChar(u'.') << 0.0001 << u"0.0001"_s;
    QTest::newRow("c: small exponent") << u"c"_s << QChar(u'.') << 0.00001 << u"1e-05"_s;
    QTest::newRow("ru: fraction and exponent") << u"ru"_s << QChar(u'.') << 1.5e-7 << u"1.5E-07"_s;
}

void TestFileHelpers::floatToStrDot()
{
    QFETCH(QString, locale);
    QFETCH(QChar, separator);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QLocale::setDefault(localeNamed(locale));
    QCOMPARE(FloatToStrDot(separator, value), expected);
}

void TestFileHelpers::floatTextRoundTrip_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");

    for (const QString& locale : {u"c"_s, u"ru"_s}) {
        for (const double value : {0.5, -17.125, 1024.0, 3.0e-9, 6.02e23}) {
            QTest::addRow("%s: %g", qPrintable(locale), value) << locale << value;
        }
    }
}

void TestFileHelpers::floatTextRoundTrip()
{
    // Settings files hold numbers with a dot whatever the operator's locale.
    QFETCH(QString, locale);
    QFETCH(double, value);
    QLocale::setDefault(localeNamed(locale));
    const QString text = FloatToStrDot(u'.', value);
    QVERIFY2(!text.contains(u','), qPrintable(text));
    QCOMPARE(static_cast<double>(StrToFloatAny(text, u"."_s, 0)), value);
}

void TestFileHelpers::pluralForm_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<QString>("expected");

    const QString one = u"файл"_s;
    const QString few = u"файла"_s;
    const QString many = u"файлов"_s;
    for (const double n : {1.0, 21.0, 101.0, 1001.0, -1.0, -21.0})
        QTest::addRow("%g", n) << n << one;
    for (const double n : {2.0, 3.0, 4.0, 22.0, 104.0, -2.0})
        QTest::addRow("%g", n) << n << few;
    for (const double n :
         {0.0, 5.0, 9.0, 10.0, 11.0, 12.0, 14.0, 15.0, 20.0, 111.0, 112.0, -11.0, 1e20})
        QTest::addRow("%g", n) << n << many;
    for (const double n : {1.5, 2.5, 0.25, 11.5, -1.5})
        QTest::addRow("%g", n) << n << few;
    QTest::newRow("nearly whole") << 5.00000000001 << many;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << many;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << many;
}

void TestFileHelpers::pluralForm()
{
    QFETCH(double, number);
    QFETCH(QString, expected);
    QCOMPARE(PluralForm(u"файлов"_s, u"файл"_s, u"файла"_s, number, false, u'.'), expected);
}

void TestFileHelpers::pluralFormWithNumber_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QString>("expected");

    QTest::newRow("many") << 5.0 << QChar(u'.') << u"5 файлов"_s;
    QTest::newRow("one") << 21.0 << QChar(u',') << u"21 файл"_s;
    QTest::newRow("few") << 3.0 << QChar(u'.') << u"3 файла"_s;
    QTest::newRow("negative") << -2.0 << QChar(u'.') << u"-2 файла"_s;
    QTest::newRow("fraction drops the number") << 2.5 << QChar(u',') << u"файла"_s;
}

void TestFileHelpers::pluralFormWithNumber()
{
    QFETCH(double, number);
    QFETCH(QChar, separator);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(PluralForm(u"файлов"_s, u"файл"_s, u"файла"_s, number, true, separator), expected);
}

void TestFileHelpers::placeFormPosition_data()
{
    QTest::addColumn<std::optional<QRect>>("reference");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QSize>("workArea");
    QTest::addColumn<QPoint>("expected");

    const QSize screen(1024, 768);
    const QSize work(1024, 738);
    QTest::newRow("centred over reference")
        << std::optional<QRect>(QRect(100, 50, 900, 600)) << QSize(300, 100) << screen << work
        << QPoint(400, 300);
    QTest::newRow("pulled back from right and bottom")
        << std::optional<QRect>(QRect(900, 700, 300, 100)) << QSize(300, 100) << screen << work
        << QPoint(724, 668);
    QTest::newRow("kept off the negative side") << std::optional<QRect>(QRect(-500, -400, 100, 100))
                                                << QSize(50, 50) << screen << work << QPoint(0, 0);
    QTest::newRow("larger than the screen")
        << std::optional<QRect>(QRect(0, 0, 1024, 768)) << QSize(1100, 800) << screen << work
        << QPoint(-76, -32);
    QTest::newRow("odd difference truncated") << std::optional<QRect>(QRect(10, 10, 101, 101))
                                              << QSize(50, 50) << screen << work << QPoint(35, 35);
    QTest::newRow("work area centre")
        << std::optional<QRect>() << QSize(300, 100) << screen << work << QPoint(362, 319);
    QTest::newRow("work area, truncated toward zero")
        << std::optional<QRect>() << QSize(301, 103) << screen << QSize(100, 100)
        << QPoint(-100, -1);
}

void TestFileHelpers::placeFormPosition()
{
    QFETCH(std::optional<QRect>, reference);
    QFETCH(QSize, size);
    QFETCH(QSize, screen);
    QFETCH(QSize, workArea);
    QFETCH(QPoint, expected);
    QCOMPARE(PlaceFormPosition(reference, size, screen, workArea), expected);
}

void TestFileHelpers::findFilesExample()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
    QVERIFY(writeFile(dir.filePath(u"a.txt"_s), "a"));
    QVERIFY(writeFile(dir.filePath(u"README"_s), "r"));
    QVERIFY(writeFile(dir.filePath(u"sub/b.log"_s), "b"));
    const QString root = dir.path();

    QStringList files;
    FindFilesRecursive(root, u"*.*"_s, files, true, false, FileAttr::AnyFile, 0);
    QCOMPARE(files, QStringList({under(root, u"a.txt"_s), under(root, u"sub/b.log"_s)}));

    QStringList withFolders;
    FindFilesRecursive(root, u"*.*"_s, withFolders, true, true, FileAttr::AnyFile, 0);
    QCOMPARE(withFolders, QStringList({under(root, u"a.txt"_s), under(root, u"sub"_s),
                                       under(root, u"sub/b.log"_s)}));
}

void TestFileHelpers::findFiles_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("recursive");
    QTest::addColumn<bool>("addFolders");
    QTest::addColumn<int>("attrFilter");
    QTest::addColumn<int>("maxCount");
    QTest::addColumn<QStringList>("expected");

    const int any = FileAttr::AnyFile;
    const QStringList allRecursive = {
        u".hidden.txt"_s, u"a.txt"_s,     u"B.TXT"_s,      u"emptydir"_s,
        u"sub"_s,         u"sub/b.log"_s, u"sub/deeper"_s, u"sub/deeper/c.txt"_s};

    QTest::newRow("files, recursive") << u"*.*"_s << true << false << any << 0
                                      << QStringList{u".hidden.txt"_s, u"a.txt"_s, u"B.TXT"_s,
                                                     u"sub/b.log"_s, u"sub/deeper/c.txt"_s};
    QTest::newRow("files and folders, recursive")
        << u"*.*"_s << true << true << any << 0 << allRecursive;
    QTest::newRow("empty mask means star-dot-star")
        << QString() << true << true << any << 0 << allRecursive;
    QTest::newRow("files and folders, this level")
        << u"*.*"_s << false << true << any << 0
        << QStringList{u".hidden.txt"_s, u"a.txt"_s, u"B.TXT"_s, u"emptydir"_s, u"sub"_s};
    QTest::newRow("star takes names without dot")
        << u"*"_s << false << false << any << 0
        << QStringList{u".hidden.txt"_s, u"a.txt"_s, u"B.TXT"_s, u"README"_s};
    QTest::newRow("mask ignores case")
        << u"*.txt"_s << true << false << any << 0
        << QStringList{u".hidden.txt"_s, u"a.txt"_s, u"B.TXT"_s, u"sub/deeper/c.txt"_s};
    QTest::newRow("folders are not mask-tested")
        << u"[ab]*"_s << true << false << any << 0
        << QStringList{u"a.txt"_s, u"B.TXT"_s, u"sub/b.log"_s};
    QTest::newRow("no attributes: plain files of this level")
        << u"*.*"_s << true << true << 0 << 0 << QStringList{u"a.txt"_s, u"B.TXT"_s};
    QTest::newRow("folders but not hidden")
        << u"*.*"_s << true << true << int{FileAttr::Directory} << 0
        << QStringList{u"a.txt"_s,     u"B.TXT"_s,      u"emptydir"_s,        u"sub"_s,
                       u"sub/b.log"_s, u"sub/deeper"_s, u"sub/deeper/c.txt"_s};
    QTest::newRow("hidden but not folders")
        << u"*.*"_s << true << true << int{FileAttr::Hidden} << 0
        << QStringList{u".hidden.txt"_s, u"a.txt"_s, u"B.TXT"_s};
    QTest::newRow("limit at this level") << u"*.*"_s << true << true << any << 3
                                         << QStringList{u".hidden.txt"_s, u"a.txt"_s, u"B.TXT"_s};
    QTest::newRow("limit inside a subfolder stops everything")
        << u"*.*"_s << true << true << any << 6 << allRecursive.mid(0, 6);
    QTest::newRow("limit larger than the tree")
        << u"*.*"_s << true << true << any << 100 << allRecursive;
}

void TestFileHelpers::findFiles()
{
    QFETCH(QString, mask);
    QFETCH(bool, recursive);
    QFETCH(bool, addFolders);
    QFETCH(int, attrFilter);
    QFETCH(int, maxCount);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir root(dir.path());
    QVERIFY(root.mkpath(u"sub/deeper"_s));
    QVERIFY(root.mkpath(u"emptydir"_s));
    // "zz.log" sorts after "sub": a listing that stops inside "sub" must not reach it.
    for (const QString& file : {u"a.txt"_s, u"B.TXT"_s, u"README"_s, u".hidden.txt"_s,
                                u"sub/b.log"_s, u"sub/deeper/c.txt"_s})
        QVERIFY(writeFile(root.filePath(file), "x"));
    if (maxCount > 0)
        QVERIFY(writeFile(root.filePath(u"zz.log"_s), "x"));

    QStringList list;
    FindFilesRecursive(dir.path(), mask, list, recursive, addFolders, attrFilter, maxCount);
    QStringList expectedPaths;
    for (const QString& relative : expected)
        expectedPaths.append(under(dir.path(), relative));
    if (maxCount == 100)
        expectedPaths.append(under(dir.path(), u"zz.log"_s));
    QCOMPARE(list, expectedPaths);
}

void TestFileHelpers::findFilesCountsExistingItems()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& file : {u"1.txt"_s, u"2.txt"_s, u"3.txt"_s})
        QVERIFY(writeFile(dir.filePath(file), "x"));
    QStringList list{u"earlier"_s, u"items"_s};
    FindFilesRecursive(dir.path(), u"*.txt"_s, list, false, false, FileAttr::AnyFile, 3);
    QCOMPARE(list, QStringList({u"earlier"_s, u"items"_s, under(dir.path(), u"1.txt"_s)}));
}

void TestFileHelpers::findFilesSeparators()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(u"sub"_s));
    QVERIFY(writeFile(dir.filePath(u"sub/b.log"_s), "b"));

    // A folder given with a separator keeps it; entries of subfolders get the system's own.
    const QString windowsStyle = backslashed(dir.path()) + u'\\';
    QStringList list;
    FindFilesRecursive(windowsStyle, u"*.log"_s, list, true, true, FileAttr::AnyFile, 0);
    QCOMPARE(list, QStringList({windowsStyle + u"sub"_s,
                                windowsStyle + u"sub"_s + QDir::separator() + u"b.log"_s}));

    list.clear();
    FindFilesRecursive(dir.path() + u'/', u"*.log"_s, list, true, false, FileAttr::AnyFile, 0);
    QCOMPARE(list, QStringList({dir.path() + u"/sub"_s + QDir::separator() + u"b.log"_s}));
}

void TestFileHelpers::findFilesMissingOrEmptyFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList list;
    FindFilesRecursive(dir.filePath(u"missing"_s), u"*.*"_s, list, true, true, FileAttr::AnyFile,
                       0);
    QVERIFY(list.isEmpty());
    // No folder must not mean the root of the disk.
    FindFilesRecursive(QString(), u"*.*"_s, list, true, true, FileAttr::AnyFile, 0);
    QVERIFY(list.isEmpty());
}

void TestFileHelpers::findFilesInvalidMaskThrowsFirst()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList list;
    QVERIFY_THROWS_EXCEPTION(Error, FindFilesRecursive(dir.filePath(u"missing"_s), u"[ab"_s, list,
                                                       true, false, FileAttr::AnyFile, 0));
    QVERIFY(writeFile(dir.filePath(u"a.txt"_s), "a"));
    QVERIFY_THROWS_EXCEPTION(
        Error, FindFilesRecursive(dir.path(), u"*[]"_s, list, true, false, FileAttr::AnyFile, 0));
    QVERIFY(list.isEmpty());
}

void TestFileHelpers::findFilesDoesNotEnterLinkedFolders()
{
#ifdef Q_OS_WIN
    QSKIP("symbolic links of this kind are a Unix test");
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir root(dir.path());
    QVERIFY(root.mkdir(u"sub"_s));
    QVERIFY(writeFile(root.filePath(u"sub/b.log"_s), "b"));
    // A link back up the tree would make the listing endless.
    if (!QFile::link(dir.path(), root.filePath(u"sub/loop"_s)))
        QSKIP("Symbolic links cannot be made here");
    QVERIFY(QFile::link(root.filePath(u"missing"_s), root.filePath(u"sub/dangling.log"_s)));

    QStringList list;
    FindFilesRecursive(dir.path(), u"*.*"_s, list, true, true, FileAttr::AnyFile, 0);
    QCOMPARE(list, QStringList({dir.path() + u"/sub"_s, dir.path() + u"/sub/b.log"_s,
                                dir.path() + u"/sub/dangling.log"_s, dir.path() + u"/sub/loop"_s}));
}

void TestFileHelpers::forceDirs_data()
{
    QTest::addColumn<QString>("path"); // "T" stands for the temporary folder
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QString>("mustExist");
    QTest::addColumn<QString>("mustNotExist");

    QTest::newRow("file, backslashes")
        << u"T\\Backups\\db.bak"_s << true << u"Backups"_s << u"Backups/db.bak"_s;
    QTest::newRow("file, slashes")
        << u"T/Backups/db.bak"_s << true << u"Backups"_s << u"Backups/db.bak"_s;
    QTest::newRow("folder with dot, trailing backslash")
        << u"T\\Data\\db.old\\"_s << true << u"Data/db.old"_s << QString();
    QTest::newRow("folder with dot, trailing slash")
        << u"T/Data/db.old/"_s << true << u"Data/db.old"_s << QString();
    QTest::newRow("last component with dot is a file")
        << u"T\\Data\\db.old"_s << true << u"Data"_s << u"Data/db.old"_s;
    QTest::newRow("folder without dot") << u"T/a/b/c"_s << true << u"a/b/c"_s << QString();
    QTest::newRow("several missing parents")
        << u"T\\x\\y\\z\\db.bak"_s << true << u"x/y/z"_s << u"x/y/z/db.bak"_s;
    QTest::newRow("existing folder") << u"T"_s << true << QString() << QString();
    QTest::newRow("bare file name") << u"db.bak"_s << false << QString() << QString();
    QTest::newRow("empty") << QString() << false << QString() << QString();
    QTest::newRow("file in the root") << u"/db.bak"_s << true << QString() << QString();
}

void TestFileHelpers::forceDirs()
{
    QFETCH(QString, path);
    QFETCH(bool, expected);
    QFETCH(QString, mustExist);
    QFETCH(QString, mustNotExist);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (path.startsWith(u'T'))
        path = dir.path() + path.mid(1);
    QCOMPARE(ForceDirs(path), expected);
    const QDir root(dir.path());
    if (!mustExist.isEmpty())
        QVERIFY(QFileInfo(root.filePath(mustExist)).isDir());
    if (!mustNotExist.isEmpty())
        QVERIFY(!QFileInfo::exists(root.filePath(mustNotExist)));
}

void TestFileHelpers::forceDirsUnderFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(u"plain.txt"_s);
    QVERIFY(writeFile(file, "x"));
    QVERIFY(!ForceDirs(file + u"/sub/db.bak"_s));
    QVERIFY(!ForceDirs(backslashed(file) + u"\\sub\\"_s));
    QVERIFY(!ForceDirs(file + u'/'));
    QVERIFY(ForceDirs(file)); // names the file, whose folder exists
    QVERIFY(QFileInfo(file).isFile());
}

QTEST_GUILESS_MAIN(TestFileHelpers)
#include "tst_filehelpers.moc"
