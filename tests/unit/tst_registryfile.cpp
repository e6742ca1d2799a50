#include "RegistryFile.h"
#include "SettingsFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using platform::RegistryFile;
using platform::RegistryValue;
using Kind = RegistryValue::Kind;

Q_DECLARE_METATYPE(RegistryValue::Kind)

namespace {

const QString kHklm = u"HKEY_LOCAL_MACHINE"_s;
const QString kHkcu = u"HKEY_CURRENT_USER"_s;
const QString kApp = u"SOFTWARE\\Vendor\\App"_s;

QString fixture(const QString& name)
{
    return QStringLiteral(DBSETUP_FIXTURES_DIR "/registry/") + name;
}

const QStringList kSampleFiles = {u"sample.reg"_s, u"sample-utf16le.reg"_s};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Restores DBSETUP_REGISTRY when a test ends, however it ends.
class EnvGuard
{
public:
    EnvGuard() : m_had(qEnvironmentVariableIsSet(kName)), m_old(qgetenv(kName)) {}
    ~EnvGuard()
    {
        if (m_had)
            qputenv(kName, m_old);
        else
            qunsetenv(kName);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    static constexpr const char* kName = "DBSETUP_REGISTRY";

private:
    bool m_had;
    QByteArray m_old;
};

} // namespace

class TestRegistryFile : public QObject
{
    Q_OBJECT

private slots:
    void value_data();
    void value();
    void keyExists_data();
    void keyExists();
    void regedit4FileHoldsAnsiBytes();
    void missingFileIsEmpty();
    void registryFileFromEnvironment();
    void systemRegistryIsReadAnew();
    void hostileInputIsSurvived();
    void deepAndLongKeys();
};

void TestRegistryFile::value_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("present");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("text");

    for (const QString& file : kSampleFiles) {
        const auto row = [&](const char* tag) -> QTestData& {
            return QTest::addRow("%s: %s", qPrintable(file), tag) << file;
        };
        const auto absent = [&](const char* tag, const QString& root, const QString& path,
                                const QString& name) {
            row(tag) << root << path << name << false << Kind::Other << QString();
        };

        row("default value") << kHklm << kApp << QString() << true << Kind::Text
                             << u"default text"_s;
        row("escaped backslashes")
            << kHklm << kApp << u"Path"_s << true << Kind::Text << u"C:\\Program Files\\App\\"_s;
        row("escaped quotes") << kHklm << kApp << u"Quote"_s << true << Kind::Text
                              << u"say \"hi\""_s;
        row("other backslashes kept")
            << kHklm << kApp << u"Other\\Escape"_s << true << Kind::Text << u"a\\nb"_s;
        row("expand string") << kHklm << kApp << u"Expand"_s << true << Kind::ExpandText
                             << u"%APP%\\x"_s;
        row("string written as hex(1)")
            << kHklm << kApp << u"SzAsHex"_s << true << Kind::Text << u"Hi"_s;
        row("dword") << kHklm << kApp << u"Count"_s << true << Kind::Other << QString();
        row("binary") << kHklm << kApp << u"Blob"_s << true << Kind::Other << QString();
        row("multi string") << kHklm << kApp << u"Multi"_s << true << Kind::Other << QString();
        row("qword") << kHklm << kApp << u"Qword"_s << true << Kind::Other << QString();
        row("cyrillic value name, other case")
            << kHklm << kApp << u"СЕРВЕР"_s << true << Kind::Text << u"Имя сервера"_s;
        row("value name case") << kHklm << kApp << u"pATH"_s << true << Kind::Text
                               << u"C:\\Program Files\\App\\"_s;
        row("root and key case") << u"hkey_Local_Machine"_s << u"software\\VENDOR\\app"_s
                                 << u"Quote"_s << true << Kind::Text << u"say \"hi\""_s;
        row("leading backslash") << kHklm << u"\\SOFTWARE\\Vendor\\App"_s << u"Quote"_s << true
                                 << Kind::Text << u"say \"hi\""_s;
        row("later line overrides")
            << kHklm << kApp << u"Twice"_s << true << Kind::Text << u"second"_s;
        row("continuation lines, stops at NUL")
            << kHklm << kApp << u"Long"_s << true << Kind::ExpandText << u"C:\\dir"_s;
        row("read after bad lines")
            << kHklm << kApp << u"AfterBad"_s << true << Kind::Text << u"still read"_s;
        row("value after dangling continuation")
            << kHklm << kApp << u"NotSwallowed"_s << true << Kind::Text << u"yes"_s;
        row("re-created key") << kHkcu << u"Software\\Reborn"_s << u"New"_s << true << Kind::Text
                              << u"2"_s;
        row("slash in key name") << kHkcu << u"Software\\Slash/Name"_s << u"S"_s << true
                                 << Kind::Text << u"slash"_s;

        absent("deleted value", kHklm, kApp, u"Gone"_s);
        // A list whose continuation never comes is incomplete: no value rather than a wrong one.
        absent("continuation cut short", kHklm, kApp, u"Dangling"_s);
        absent("unterminated name", kHklm, kApp, u"Bad line without end"_s);
        absent("name without data", kHklm, kApp, u"NoEquals"_s);
        absent("bad dword", kHklm, kApp, u"BadDword"_s);
        absent("bad hex", kHklm, kApp, u"BadHex"_s);
        absent("text after string", kHklm, kApp, u"Trailing"_s);
        absent("under unclosed key line", kHklm, u"SOFTWARE\\Broken"_s, u"Stray"_s);
        absent("unclosed key line ends the key", kHklm, kApp, u"Stray"_s);
        absent("short root in file", kHklm, u"SOFTWARE\\Short"_s, u"Ignored"_s);
        absent("short root in lookup", u"HKLM"_s, kApp, u"Path"_s);
        absent("unknown root", u"HKEY_NOPE"_s, kApp, u"Path"_s);
        absent("missing value", kHklm, kApp, u"Nope"_s);
        absent("value of implicit parent", kHklm, u"SOFTWARE\\Vendor"_s, u"Path"_s);
        absent("deleted key", kHkcu, u"Software\\Deleted"_s, u"B"_s);
        absent("deleted subkey", kHkcu, u"Software\\Deleted\\Sub"_s, u"A"_s);
        absent("value after key deletion", kHkcu, u"Software\\Deleted"_s, u"AfterDelete"_s);
        absent("re-created key lost old values", kHkcu, u"Software\\Reborn"_s, u"Old"_s);
        absent("slash is not a separator", kHkcu, u"Software\\Slash\\Name"_s, u"S"_s);
    }
}

void TestRegistryFile::value()
{
    QFETCH(QString, file);
    QFETCH(QString, root);
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(bool, present);
    QFETCH(Kind, kind);
    QFETCH(QString, text);

    const RegistryFile reg = RegistryFile::load(fixture(file));
    const std::optional<RegistryValue> value = reg.value(root, path, name);
    QCOMPARE(value.has_value(), present);
    if (present) {
        QCOMPARE(value->kind, kind);
        QCOMPARE(value->text, text);
    }
}

void TestRegistryFile::keyExists_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    for (const QString& file : kSampleFiles) {
        const auto row = [&](const char* tag, const QString& root, const QString& path,
                             bool expected) {
            QTest::addRow("%s: %s", qPrintable(file), tag) << file << root << path << expected;
        };
        row("key", kHklm, kApp, true);
        row("parent", kHklm, u"SOFTWARE\\Vendor"_s, true);
        row("grandparent", kHklm, u"SOFTWARE"_s, true);
        row("root", kHklm, QString(), true);
        row("root without keys", u"HKEY_USERS"_s, QString(), true);
        row("case", u"Hkey_Local_Machine"_s, u"software\\VENDOR\\app"_s, true);
        row("leading backslash", kHklm, u"\\SOFTWARE\\Vendor"_s, true);
        row("missing subkey", kHklm, kApp + u"\\Missing"_s, false);
        row("name prefix is not a parent", kHklm, u"SOFTWARE\\Vend"_s, false);
        row("slash is not a separator", kHklm, u"SOFTWARE/Vendor/App"_s, false);
        row("empty component", kHklm, u"SOFTWARE\\\\Vendor"_s, false);
        row("key with slash", kHkcu, u"Software\\Slash/Name"_s, true);
        row("no parent before a slash", kHkcu, u"Software\\Slash"_s, false);
        row("short root", u"HKLM"_s, kApp, false);
        row("short root, empty path", u"HKLM"_s, QString(), false);
        row("key under short root", kHklm, u"SOFTWARE\\Short"_s, false);
        row("unclosed key line", kHklm, u"SOFTWARE\\Broken"_s, false);
        row("deleted key", kHkcu, u"Software\\Deleted"_s, false);
        row("subkey of deleted key", kHkcu, u"Software\\Deleted\\Sub"_s, false);
        row("parent of deleted key", kHkcu, u"Software"_s, true);
        row("implicit parent survives deletion", kHkcu, u"Software\\Kept"_s, true);
        row("deleted implicit key", kHkcu, u"Software\\Kept\\Child"_s, false);
        row("under deleted implicit key", kHkcu, u"Software\\Kept\\Child\\Grand"_s, false);
        row("re-created key", kHkcu, u"Software\\Reborn"_s, true);
        row("other root", u"HKEY_USERS"_s, u"Software"_s, false);
    }
}

void TestRegistryFile::keyExists()
{
    QFETCH(QString, file);
    QFETCH(QString, root);
    QFETCH(QString, path);
    QFETCH(bool, expected);

    QCOMPARE(RegistryFile::load(fixture(file)).keyExists(root, path), expected);
}

void TestRegistryFile::regedit4FileHoldsAnsiBytes()
{
    const RegistryFile reg = RegistryFile::load(fixture(u"regedit4.reg"_s));
    const QString key = u"SOFTWARE\\Old"_s;
    QCOMPARE(reg.value(kHklm, key, u"Path"_s), (RegistryValue{Kind::Text, u"C:\\Old"_s}));
    QCOMPARE(reg.value(kHklm, key, u"Expand"_s), (RegistryValue{Kind::ExpandText, u"Сервер"_s}));
}

void TestRegistryFile::missingFileIsEmpty()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& path : {dir.filePath(u"none.reg"_s), dir.path(), QString()}) {
        const RegistryFile reg = RegistryFile::load(path);
        QVERIFY(!reg.keyExists(kHklm, u"SOFTWARE"_s));
        QVERIFY(!reg.value(kHklm, QString(), QString()));
    }
}

void TestRegistryFile::registryFileFromEnvironment()
{
    EnvGuard guard;
    const QString beside = QCoreApplication::applicationDirPath() + u"/registry.reg"_s;

    // Written with the system's separators.
    qunsetenv(EnvGuard::kName);
    QCOMPARE(QDir::fromNativeSeparators(platform::registryFilePath()), beside);
    qputenv(EnvGuard::kName, QByteArray());
    QCOMPARE(QDir::fromNativeSeparators(platform::registryFilePath()), beside);
    // An installed program keeps it with its settings.
    platform::setSettingsFolder(u"/etc/ostrel/"_s);
    QCOMPARE(platform::registryFilePath(), u"/etc/ostrel/registry.reg"_s);
    platform::setSettingsFolder(QString());

    const QString sample = fixture(u"sample.reg"_s);
    qputenv(EnvGuard::kName, QFile::encodeName(sample));
    QCOMPARE(platform::registryFilePath(), sample);
    QCOMPARE(platform::systemRegistry().value(kHklm, kApp, u"Twice"_s),
             (RegistryValue{Kind::Text, u"second"_s}));
}

void TestRegistryFile::systemRegistryIsReadAnew()
{
    EnvGuard guard;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"reg.reg"_s);
    qputenv(EnvGuard::kName, QFile::encodeName(path));

    QVERIFY(!platform::systemRegistry().keyExists(kHkcu, u"A"_s));
    QVERIFY(writeFile(path, "[HKEY_CURRENT_USER\\A]\n\"v\"=\"1\"\n"_ba));
    QCOMPARE(platform::systemRegistry().value(kHkcu, u"A"_s, u"v"_s),
             (RegistryValue{Kind::Text, u"1"_s}));
    QVERIFY(writeFile(path, "[HKEY_CURRENT_USER\\A]\n\"v\"=\"2\"\n"_ba));
    QCOMPARE(platform::systemRegistry().value(kHkcu, u"A"_s, u"v"_s),
             (RegistryValue{Kind::Text, u"2"_s}));
}

void TestRegistryFile::hostileInputIsSurvived()
{
    // Random bytes made of the characters the parser reacts to, with a fixed seed.
    QRandomGenerator random(20240611);
    const QString alphabet = u"[]\\\"@=-;:,()hexdwor0129aAfF \t\r\nHKEY_CURRENT_USER\0"_s;
    for (int round = 0; round < 200; ++round) {
        QString text = u"[HKEY_CURRENT_USER\\K]\n"_s;
        const int length = random.bounded(2000);
        for (int i = 0; i < length; ++i)
            text += alphabet[random.bounded(int(alphabet.size()))];
        text += u"\n[HKEY_CURRENT_USER\\Last]\n\"ok\"=\"yes\"\n"_s;
        const RegistryFile reg = RegistryFile::fromText(text);
        // Nothing random can swallow a key line that starts a line of its own.
        QCOMPARE(reg.value(kHkcu, u"Last"_s, u"ok"_s), (RegistryValue{Kind::Text, u"yes"_s}));
    }

    const RegistryFile odd = RegistryFile::fromText(
        u"[]\n[-]\n[-HKEY_CURRENT_USER]\n[HKEY_CURRENT_USER\\]\n\"a\"=\"b\"\n"
        "[HKEY_CURRENT_USER\\X]\n\"t\"=hex(2):\n\"u\"=hex(2):41\n\"n\"=\"a\0b\"\n"
        "\"w\"=hex(ffffffff0):00\n\"=\"\n@\n\\\n"_s);
    QVERIFY(odd.keyExists(kHkcu, QString()));
    QVERIFY(!odd.value(kHkcu, QString(), u"a"_s));
    QCOMPARE(odd.value(kHkcu, u"X"_s, u"t"_s), (RegistryValue{Kind::ExpandText, QString()}));
    QCOMPARE(odd.value(kHkcu, u"X"_s, u"u"_s), (RegistryValue{Kind::ExpandText, QString()}));
    QCOMPARE(odd.value(kHkcu, u"X"_s, u"n"_s), (RegistryValue{Kind::Text, u"a"_s}));
    QVERIFY(!odd.value(kHkcu, u"X"_s, u"w"_s));
}

void TestRegistryFile::deepAndLongKeys()
{
    // A key 200 000 levels deep and a 1 MB value: read in linear time, no deep recursion.
    QString deep;
    for (int i = 0; i < 200000; ++i)
        deep += u"k\\"_s;
    deep += u"leaf"_s;
    const QString big(1024 * 1024, u'x');
    QString text = u"[HKEY_CURRENT_USER\\"_s + deep + u"]\n\"big\"=\""_s + big + u"\"\n"_s;
    // Many sibling keys deleted one by one.
    for (int i = 0; i < 5000; ++i)
        text += u"[HKEY_CURRENT_USER\\S\\"_s + QString::number(i) + u"]\n"_s;
    for (int i = 0; i < 5000; i += 2)
        text += u"[-HKEY_CURRENT_USER\\S\\"_s + QString::number(i) + u"]\n"_s;

    const RegistryFile reg = RegistryFile::fromText(text);
    QVERIFY(reg.keyExists(kHkcu, deep));
    QVERIFY(reg.keyExists(kHkcu, u"k\\k\\k"_s));
    QCOMPARE(reg.value(kHkcu, deep, u"big"_s), (RegistryValue{Kind::Text, big}));
    QVERIFY(!reg.keyExists(kHkcu, u"S\\4998"_s));
    QVERIFY(reg.keyExists(kHkcu, u"S\\4999"_s));
    QVERIFY(reg.keyExists(kHkcu, u"S"_s));
}

QTEST_GUILESS_MAIN(TestRegistryFile)
#include "tst_registryfile.moc"
