// Windows's own services as the program reads them: the registry in a 32-bit program's view, the
// shell's special folders and the version resource of the program's file. Built for Windows only.
#include "FileHelpers.h"
#include "MyException.h"
#include "PathMacros.h"
#include "Thrown.h"

#include <QDir>
#include <QTest>
#include <windows.h>

using namespace Qt::StringLiterals;

namespace {

const QString testKey = u"Software\\dbsetup-tests"_s;

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

// Writes one value under testKey of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE, in the given view.
void writeValue(HKEY root, REGSAM view, const QString& name, DWORD type, const QByteArray& data)
{
    HKEY key = nullptr;
    QCOMPARE(RegCreateKeyExW(root, wide(testKey), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                             nullptr),
             ERROR_SUCCESS);
    const LSTATUS status =
        RegSetValueExW(key, wide(name), 0, type, reinterpret_cast<const BYTE*>(data.constData()),
                       static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    QCOMPARE(status, ERROR_SUCCESS);
}

QByteArray utf16(const QString& text, bool terminated = true)
{
    QByteArray bytes(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    if (terminated)
        bytes.append(2, '\0');
    return bytes;
}

QString folder(const char* environmentName)
{
    return QDir::toNativeSeparators(qEnvironmentVariable(environmentName)) + u'\\';
}

} // namespace

class TestWindowsPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
                RegDeleteKeyExW(root, wide(testKey), view, 0);
        writeValue(HKEY_CURRENT_USER, KEY_WOW64_32KEY, u"InstallDir"_s, REG_SZ,
                   utf16(u"C:\\Program Files\\Остров\\"_s));
        writeValue(HKEY_CURRENT_USER, KEY_WOW64_32KEY, u"Expand"_s, REG_EXPAND_SZ,
                   utf16(u"%SystemRoot%\\x"_s));
        writeValue(HKEY_CURRENT_USER, KEY_WOW64_32KEY, u"Unterminated"_s, REG_SZ,
                   utf16(u"D:\\Data"_s, false));
        writeValue(HKEY_CURRENT_USER, KEY_WOW64_32KEY, u"Cut"_s, REG_SZ,
                   utf16(u"before"_s + QChar(0) + u"after"_s));
        writeValue(HKEY_CURRENT_USER, KEY_WOW64_32KEY, {}, REG_SZ, utf16(u"default"_s));
        writeValue(HKEY_CURRENT_USER, KEY_WOW64_32KEY, u"Count"_s, REG_DWORD,
                   QByteArray("\x07\x00\x00\x00", 4));
        // The 32-bit view is the one the application's installer writes; the 64-bit one differs.
        writeValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, u"View"_s, REG_SZ, utf16(u"32"_s));
        writeValue(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, u"View"_s, REG_SZ, utf16(u"64"_s));
    }

    void cleanupTestCase()
    {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
                RegDeleteKeyExW(root, wide(testKey), view, 0);
    }

    void registryValue_data()
    {
        QTest::addColumn<QString>("reference");
        QTest::addColumn<QString>("expected");
        const QString key = testKey + u'\\';
        QTest::newRow("text") << u"HKEY_CURRENT_USER\\"_s + key + u"InstallDir"_s
                              << u"C:\\Program Files\\Остров\\"_s;
        QTest::newRow("root in any case")
            << u"hkey_current_user\\"_s + key + u"installdir"_s << u"C:\\Program Files\\Остров\\"_s;
        QTest::newRow("expandable, not expanded")
            << u"HKEY_CURRENT_USER\\"_s + key + u"Expand"_s << u"%SystemRoot%\\x"_s;
        QTest::newRow("stored without its NUL")
            << u"HKEY_CURRENT_USER\\"_s + key + u"Unterminated"_s << u"D:\\Data"_s;
        QTest::newRow("ends at the first NUL")
            << u"HKEY_CURRENT_USER\\"_s + key + u"Cut"_s << u"before"_s;
        QTest::newRow("default value") << u"HKEY_CURRENT_USER\\"_s + key << u"default"_s;
        QTest::newRow("32-bit view") << u"HKEY_LOCAL_MACHINE\\"_s + key + u"View"_s << u"32"_s;
        QTest::newRow("missing value") << u"HKEY_CURRENT_USER\\"_s + key + u"None"_s << QString();
        QTest::newRow("missing key")
            << u"HKEY_CURRENT_USER\\Software\\dbsetup-tests-none\\X"_s << QString();
        QTest::newRow("short root") << u"HKCU\\"_s + key + u"InstallDir"_s << QString();
    }

    void registryValue()
    {
        QFETCH(QString, reference);
        QFETCH(QString, expected);
        QCOMPARE(ReadRegistryValue(reference), expected);
        // The macro reads the same value.
        QCOMPARE(ExpandMacros(u"%registry:"_s + reference + u"%|"_s), expected + u'|');
    }

    void nonTextValueRaises()
    {
        EXPECT_THROWN(error, std::exception,
                      ReadRegistryValue(u"HKEY_CURRENT_USER\\"_s + testKey + u"\\Count"_s));
        QCOMPARE(error.message, u"Invalid data type for 'Count'"_s);
    }

    void specialFolders_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        QTest::newRow("temp") << GetTempDir() << folder("TEMP");
        QTest::newRow("Program Files") << GetProgramFilesDir() << folder("ProgramFiles");
        QTest::newRow("Program Files (x86)")
            << GetProgramFilesX86Dir() << folder("ProgramFiles(x86)");
        QTest::newRow("application data") << GetSpecialFolder(CSIDL_APPDATA) << folder("APPDATA");
        QTest::newRow("application data from the registry") << GetAppDataDir() << folder("APPDATA");
        QTest::newRow("system") << GetSystemDir() << folder("SystemRoot") + u"system32\\"_s;
        QTest::newRow("program") << GetAppDir()
                                 << QDir::toNativeSeparators(
                                        QCoreApplication::applicationDirPath()) +
                                        u'\\';
    }

    void specialFolders()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual.toLower(), expected.toLower());
        QVERIFY(QFileInfo(actual).isDir());
    }

    void documentsFolderIsMade()
    {
        const QString documents = GetSpecialFolder(CSIDL_PERSONAL);
        QVERIFY(documents.endsWith(u'\\'));
        QVERIFY(QFileInfo(documents).isDir());
    }

    void sixtyFourBitProcessIsNotWow64() { QVERIFY(!IsWow64()); }

    // The version resource the build gives the program, as every version check reads it.
    void programVersionResource()
    {
        QCOMPARE(GetFileApprVersion(QStringLiteral(DBSETUP_EXE)),
                 QStringLiteral(DBSETUP_VERSION) + u".0"_s);
    }
};

QTEST_GUILESS_MAIN(TestWindowsPlatform)
#include "tst_windowsplatform.moc"
