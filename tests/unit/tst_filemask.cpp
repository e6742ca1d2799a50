#include "FileMask.h"
#include "MyException.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestFileMask : public QObject
{
    Q_OBJECT

private slots:
    void matches_data();
    void matches();
    void invalidMask_data();
    void invalidMask();
    void manyStarsStayFast();
    void compiledMaskIsReusable();
};

void TestFileMask::matches_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<bool>("expected");

    QTest::newRow("star-dot-star needs a dot") << u"a.txt"_s << u"*.*"_s << true;
    QTest::newRow("star-dot-star without dot") << u"README"_s << u"*.*"_s << false;
    QTest::newRow("star matches anything") << u"README"_s << u"*"_s << true;
    QTest::newRow("star matches empty") << QString() << u"*"_s << true;
    QTest::newRow("empty mask, empty name") << QString() << QString() << true;
    QTest::newRow("empty mask, some name") << u"x"_s << QString() << false;
    QTest::newRow("question mark one char") << u"abc"_s << u"a?c"_s << true;
    QTest::newRow("question mark not zero chars") << u"ac"_s << u"a?c"_s << false;
    QTest::newRow("question mark not two chars") << u"abbc"_s << u"a?c"_s << false;
    QTest::newRow("question mark on empty") << QString() << u"?"_s << false;
    QTest::newRow("case of name ignored") << u"ABC.TXT"_s << u"*.txt"_s << true;
    QTest::newRow("case of mask ignored") << u"abc.txt"_s << u"*.TXT"_s << true;
    QTest::newRow("cyrillic case ignored") << u"ОТЧЁТ.TXT"_s << u"отчёт.*"_s << true;
    QTest::newRow("whole name: longer name") << u"abcd"_s << u"abc"_s << false;
    QTest::newRow("whole name: longer mask") << u"abc"_s << u"abcd"_s << false;
    QTest::newRow("star at the end") << u"abcdef"_s << u"abc*"_s << true;
    QTest::newRow("suffix after several dots") << u"db.tar.gz"_s << u"*.gz"_s << true;
    QTest::newRow("backtracking") << u"mississippi"_s << u"m*iss*ppi"_s << true;
    QTest::newRow("backtracking fails") << u"mississippi"_s << u"m*iss*ppx"_s << false;
    QTest::newRow("double star") << u"ab"_s << u"a**b"_s << true;
    QTest::newRow("star then question") << u"a"_s << u"*?"_s << true;
    QTest::newRow("star then question on empty") << QString() << u"*?"_s << false;
    QTest::newRow("set with range") << u"b1"_s << u"[a-c][0-9]"_s << true;
    QTest::newRow("set miss") << u"d1"_s << u"[a-c][0-9]"_s << false;
    QTest::newRow("set of single chars") << u"y"_s << u"[xyz]"_s << true;
    QTest::newRow("set ignores case") << u"B"_s << u"[a-c]"_s << true;
    QTest::newRow("upper-case range") << u"b"_s << u"[A-C]"_s << true;
    QTest::newRow("negated set hit") << u"x"_s << u"[!a-c]"_s << true;
    QTest::newRow("negated set miss") << u"b"_s << u"[!a-c]"_s << false;
    QTest::newRow("set takes one char only") << u"ab"_s << u"[ab]"_s << false;
    QTest::newRow("trailing dash literal") << u"-"_s << u"[a-]"_s << true;
    QTest::newRow("leading dash literal") << u"-"_s << u"[-a]"_s << true;
    QTest::newRow("closing bracket outside set") << u"a]"_s << u"a]"_s << true;
    QTest::newRow("surrogate pair is one char") << u"\U0001F600.txt"_s << u"?.txt"_s << true;
    QTest::newRow("backup names") << u"db_2024-01-31.bak"_s << u"db_*-0?-?1.bak"_s << true;
}

void TestFileMask::matches()
{
    QFETCH(QString, name);
    QFETCH(QString, mask);
    QFETCH(bool, expected);
    QCOMPARE(MatchesMask(name, mask), expected);
}

void TestFileMask::invalidMask_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("position");

    QTest::newRow("unclosed set") << u"[abc"_s << 1;
    QTest::newRow("unclosed set later") << u"*.[ch"_s << 3;
    QTest::newRow("unclosed negated set") << u"a[!"_s << 2;
    QTest::newRow("empty set") << u"[]"_s << 2;
    QTest::newRow("empty negated set") << u"x[!]"_s << 4;
    QTest::newRow("reversed range") << u"[z-a]"_s << 4;
    // The mask is quoted as written, even where it looks like a place holder of the text.
    QTest::newRow("place holders in the mask") << u"[%0-9%1%2"_s << 1;
}

void TestFileMask::invalidMask()
{
    QFETCH(QString, mask);
    QFETCH(int, position);
    const QString expected =
        u"'"_s + mask + u"' is an invalid mask at ("_s + QString::number(position) + u')';
    try {
        MatchesMask(u"abc"_s, mask);
        QFAIL("no error for an invalid mask");
    } catch (const Error& error) {
        QCOMPARE(error.message(), expected);
    }
    QVERIFY_THROWS_EXCEPTION(Error, FileMask{mask});
}

void TestFileMask::manyStarsStayFast()
{
    // A matcher that tries every split of the name between the stars would not finish.
    const QString as(10000, u'a');
    QVERIFY(!MatchesMask(as, u"*a*a*a*a*a*b"_s));
    QVERIFY(MatchesMask(as, u"*a*a*a*a*a*"_s));
    QVERIFY(MatchesMask(as + u'b', u"*a*a*a*a*a*b"_s));
    QVERIFY(!MatchesMask(as, u"*?*?*?*?*?*?*[!a]"_s));
}

void TestFileMask::compiledMaskIsReusable()
{
    const FileMask mask(u"*.bak"_s);
    QVERIFY(mask.matches(u"db.BAK"_s));
    QVERIFY(!mask.matches(u"db.bak.old"_s));
    QVERIFY(mask.matches(u".bak"_s));
}

QTEST_GUILESS_MAIN(TestFileMask)
#include "tst_filemask.moc"
