#include "MyException.h"
#include "PathMacros.h"
#include "TestFiles.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <limits>

using namespace Qt::StringLiterals;

class TestPathMacros : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A registry with what the cases below look up; the program reads it anew on each call. On
    // Windows the export goes into Windows's own registry, in the 32-bit view the program reads.
    void useRegistry(const QByteArray& text, const QString& name = u"registry.reg"_s)
    {
        const QString path = m_dir.filePath(name);
        QVERIFY(writeFile(path, text));
#ifdef Q_OS_WIN
        QCOMPARE(QProcess::execute(u"reg"_s,
                                   {u"import"_s, QDir::toNativeSeparators(path), u"/reg:32"_s}),
                 0);
#else
        qputenv("DBSETUP_REGISTRY", QFile::encodeName(path));
#endif
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        useRegistry("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n"
                    "\"InstallDir\"=\"/opt/vendor/\"\r\n"
                    "\"Other\"=\"/srv/other/\"\r\n"
                    "\"Nested\"=\"/srv/%tmp%/x\\\\..\\\\y\"\r\n"
                    "\"Empty\"=\"\"\r\n"
                    "\"Count\"=dword:00000005\r\n"
                    "@=\"default-value\"\r\n\r\n"
                    "[HKEY_CURRENT_USER]\r\n"
                    "\"Top\"=\"root-value\"\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\a:]\r\n"
                    "\"b\"=\"colon\"\r\n");
    }

    void cleanupTestCase()
    {
#ifdef Q_OS_WIN
        useRegistry("Windows Registry Editor Version 5.00\r\n\r\n"
                    "[-HKEY_LOCAL_MACHINE\\Software\\Vendor]\r\n\r\n"
                    "[HKEY_CURRENT_USER]\r\n\"Top\"=-\r\n\r\n"
                    "[-HKEY_CURRENT_USER\\Software\\a:]\r\n",
                    u"cleanup.reg"_s);
#endif
    }

    void replaceAllText_data()
    {
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("expected");
        QTest::newRow("match formed with the rest is replaced too")
            << u"a"_s << u"ab"_s << u"abb"_s << 1 << u"a"_s;
        QTest::newRow("replacement holding the target is not rescanned")
            << u"xab"_s << u"ab"_s << u"abab"_s << 1 << u"xabxab"_s;
        QTest::newRow("removal of (x86)")
            << QString() << u" (x86)"_s << u"C:\\Program Files (x86)\\"_s << 1
            << u"C:\\Program Files\\"_s;
        QTest::newRow("occurrences before the start stay")
            << u"X"_s << u"a"_s << u"banana"_s << 3 << u"banXnX"_s;
        QTest::newRow("start below 1 finds nothing")
            << u"X"_s << u"a"_s << u"banana"_s << 0 << u"banana"_s;
        QTest::newRow("empty target inserts at start")
            << u"X"_s << QString() << u"ab"_s << 2 << u"aXb"_s;
        QTest::newRow("empty target, start below 1 inserts first")
            << u"X"_s << QString() << u"ab"_s << -4 << u"Xab"_s;
        QTest::newRow("empty target, start past the end appends")
            << u"X"_s << QString() << u"ab"_s << 40 << u"abX"_s;
        QTest::newRow("exact case only") << u"X"_s << u"A"_s << u"aAa"_s << 1 << u"aXa"_s;
        QTest::newRow("no occurrence") << u"X"_s << u"q"_s << u"abc"_s << 1 << u"abc"_s;
    }

    void replaceAllText()
    {
        QFETCH(QString, replacement);
        QFETCH(QString, target);
        QFETCH(QString, source);
        QFETCH(int, start);
        QFETCH(QString, expected);
        QCOMPARE(ReplaceAllText(replacement, target, source, start), expected);
    }

    // Positions at the ends of the range count as below 1 or past the end, without overflow.
    void extremeStartPositions()
    {
        const qsizetype lowest = std::numeric_limits<qsizetype>::min();
        const qsizetype highest = std::numeric_limits<qsizetype>::max();
        QCOMPARE(ReplaceText(u"X"_s, QString(), u"ab"_s, lowest), u"Xab"_s);
        QCOMPARE(ReplaceAllText(u"X"_s, QString(), u"ab"_s, lowest), u"Xab"_s);
        QCOMPARE(ReplaceText(u"X"_s, QString(), u"ab"_s, highest), u"abX"_s);
        QCOMPARE(ReplaceAllText(u"X"_s, u"a"_s, u"ab"_s, lowest), u"ab"_s);
        QCOMPARE(ReplaceAllText(u"X"_s, u"a"_s, u"ab"_s, highest), u"ab"_s);
    }

    void replaceText_data()
    {
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first at or after start")
            << u"X"_s << u"a"_s << u"banana"_s << 3 << u"banXna"_s;
        QTest::newRow("empty target inserts") << u"X"_s << QString() << u"ab"_s << 2 << u"aXb"_s;
        QTest::newRow("no occurrence") << u"X"_s << u"z"_s << u"banana"_s << 1 << u"banana"_s;
        QTest::newRow("only one replaced") << u"#"_s << u"%"_s << u"a%b%"_s << 1 << u"a#b%"_s;
        QTest::newRow("first only")
            << u"/opt/"_s << u"%install_dir%"_s << u"%install_dir%a%install_dir%"_s << 1
            << u"/opt/a%install_dir%"_s;
    }

    void replaceText()
    {
        QFETCH(QString, replacement);
        QFETCH(QString, target);
        QFETCH(QString, source);
        QFETCH(int, start);
        QFETCH(QString, expected);
        QCOMPARE(ReplaceText(replacement, target, source, start), expected);
    }

    void parentSteps_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one step") << u"C:\\Program Files\\Base\\..\\Data"_s
                                  << u"C:\\Program Files\\Data"_s;
        QTest::newRow("two steps") << u"C:\\a\\b\\..\\..\\x"_s << u"C:\\x"_s;
        QTest::newRow("trailing step stays") << u"C:\\a\\.."_s << u"C:\\a\\.."_s;
        QTest::newRow("three dots stay") << u"C:\\a\\...\\b"_s << u"C:\\a\\...\\b"_s;
        QTest::newRow("dots before a letter stay") << u"C:\\a\\..b\\c"_s << u"C:\\a\\..b\\c"_s;
        QTest::newRow("above the drive") << u"C:\\..\\x"_s << QString();
        QTest::newRow("above the drive after one") << u"C:\\a\\..\\..\\x"_s << QString();
        QTest::newRow("relative above the first") << u"a\\..\\b"_s << QString();
        QTest::newRow("starts with a step") << u"\\..\\b"_s << QString();
        QTest::newRow("forward slashes") << u"/srv/a/b/../c"_s << u"/srv/a/c"_s;
        QTest::newRow("mixed separators") << u"/srv/a\\b/..\\c"_s << u"/srv/a\\c"_s;
        QTest::newRow("above the root") << u"/../x"_s << QString();
        QTest::newRow("nothing to do") << u"D:\\backup\\x.bak"_s << u"D:\\backup\\x.bak"_s;
    }

    void parentSteps()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(ExpandMacros(path), expected);
    }

    void folderMacros()
    {
        const QString appDir =
            QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator();
        QCOMPARE(GetAppDir(), appDir);
        QCOMPARE(ExpandMacros(u"%appdir%settings.ini"_s), appDir + u"settings.ini"_s);
        QCOMPARE(ExpandMacros(u"%tmp%x"_s).toLower(),
                 (QDir::toNativeSeparators(QDir::tempPath()) + QDir::separator() + u'x').toLower());
#ifndef Q_OS_WIN // Windows's own folders: tst_windowsplatform
        QCOMPARE(ExpandMacros(u"%programfiles%App"_s), u"/opt/App"_s);
        QCOMPARE(ExpandMacros(u"%programfilesx86%App"_s), u"/opt/App"_s);
#endif
        QVERIFY(ExpandMacros(u"%mydocuments%"_s).endsWith(QDir::separator()));
        QVERIFY(GetSystemDir().endsWith(QDir::separator()));
    }

    void otherTokensStay_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("upper case") << u"%TMP%x"_s;
        QTest::newRow("mixed case") << u"%AppDir%x"_s;
        QTest::newRow("install dir") << u"%install_dir%Data"_s;
        QTest::newRow("unknown") << u"%nothing%"_s;
    }

    void otherTokensStay()
    {
        QFETCH(QString, text);
        QCOMPARE(ExpandMacros(text), text);
    }

    void registryMacro_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("value then text")
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\InstallDir%Data"_s
            << u"/opt/vendor/Data"_s;
        QTest::newRow("root in lower case")
            << u"%registry:hkey_local_machine\\Software\\Vendor\\InstallDir%Data"_s
            << u"/opt/vendor/Data"_s;
        QTest::newRow("key and value names in another case")
            << u"%registry:HKEY_LOCAL_MACHINE\\SOFTWARE\\vendor\\installdir%"_s
            << u"/opt/vendor/"_s;
        QTest::newRow("short root is no root")
            << u"%registry:HKLM\\Software\\Vendor\\InstallDir%Data"_s << u"Data"_s;
        QTest::newRow("missing key")
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\None\\X%Data"_s << u"Data"_s;
        QTest::newRow("missing value")
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\None%Data"_s << u"Data"_s;
        QTest::newRow("only the first reference")
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\InstallDir%|"
               u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\Other%"_s
            << u"/opt/vendor/|%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\Other%"_s;
        QTest::newRow("a repeated reference everywhere")
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\Other%a|"
               u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\Other%b"_s
            << u"/srv/other/a|/srv/other/b"_s;
        QTest::newRow("no closing percent")
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\InstallDir"_s
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\InstallDir"_s;
        QTest::newRow("macros in the value stay, steps are resolved")
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\Nested%"_s << u"/srv/%tmp%\\y"_s;
        QTest::newRow("default value")
            << u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\%"_s << u"default-value"_s;
    }

    void registryMacro()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(ExpandMacros(text), expected);
    }

    void readRegistryValue_data()
    {
        QTest::addColumn<QString>("reference");
        QTest::addColumn<QString>("expected");
        QTest::newRow("value under the root") << u"HKEY_CURRENT_USER\\Top"_s << u"root-value"_s;
        QTest::newRow("colon ends the key path")
            << u"HKEY_CURRENT_USER\\Software\\a:b"_s << u"colon"_s;
        QTest::newRow("leading separator of the key")
            << u"HKEY_LOCAL_MACHINE\\\\Software\\Vendor\\InstallDir"_s << u"/opt/vendor/"_s;
        QTest::newRow("empty value")
            << u"HKEY_LOCAL_MACHINE\\Software\\Vendor\\Empty"_s << QString();
        QTest::newRow("no separator") << u"HKEY_CURRENT_USER"_s << QString();
        QTest::newRow("empty reference") << QString() << QString();
        QTest::newRow("unknown root") << u"HKEY_NOWHERE\\Top"_s << QString();
    }

    void readRegistryValue()
    {
        QFETCH(QString, reference);
        QFETCH(QString, expected);
        QCOMPARE(ReadRegistryValue(reference), expected);
    }

    void nonTextRegistryValueRaises()
    {
        const auto expand = [] {
            return ExpandMacros(u"%registry:HKEY_LOCAL_MACHINE\\Software\\Vendor\\Count%"_s);
        };
        QVERIFY_THROWS_EXCEPTION(Error, expand());
        try {
            expand();
        } catch (const Error& error) {
            QCOMPARE(error.message(), u"Invalid data type for 'Count'"_s);
        }
    }

#ifndef Q_OS_WIN // would change the user's real folder; tst_windowsplatform reads it
    void appDataFromRegistry()
    {
        const QByteArray saved = qgetenv("DBSETUP_REGISTRY");
        useRegistry("Windows Registry Editor Version 5.00\n"
                    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                    "Shell Folders]\n\"AppData\"=\"/home/op/appdata\"\n",
                    u"appdata.reg"_s);
        QCOMPARE(ExpandMacros(u"%appdata%x"_s), u"/home/op/appdata/x"_s);
        useRegistry("Windows Registry Editor Version 5.00\n"
                    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                    "Shell Folders]\n\"AppData\"=hex:01,02\n",
                    u"appdata-bad.reg"_s);
        QVERIFY_THROWS_EXCEPTION(Error, ExpandMacros(u"x"_s));
        qputenv("DBSETUP_REGISTRY", saved);
    }
#endif

    void md5Tag()
    {
        QCOMPARE(StringToMD5Str(u"abc"_s), u"1125315963918822711363107118714813248155"_s);
        QVERIFY_THROWS_EXCEPTION(Error, StringToMD5Str(QString()));
        try {
            StringToMD5Str(QString());
        } catch (const Error& error) {
            QCOMPARE(error.message(), u"StringToMD5Str Str cant be EMPTY!"_s);
        }
        // The tag of the program folder identifies one installation.
        QCOMPARE(ExpandMacros(u"%md5_path_program%.cfg"_s),
                 StringToMD5Str(GetAppDir()) + u".cfg"_s);
    }
};

QTEST_GUILESS_MAIN(TestPathMacros)
#include "tst_pathmacros.moc"
