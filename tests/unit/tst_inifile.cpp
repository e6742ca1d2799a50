#include "IniFile.h"
#include "TextDecoding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;
using platform::IniFile;

namespace {

const QString kDefault = u"<default>"_s;

QString fixture(const QString& name)
{
    return QStringLiteral(DBSETUP_FIXTURES_DIR "/ini/") + name;
}

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT

private slots:
    void decodeConfigText_data();
    void decodeConfigText();
    void encodeWindows1251_data();
    void encodeWindows1251();
    void windows1251RoundTripsEveryByte();
    void windows1251MatchesSystemConverter();
    void readConfigFileRefusesNonFiles();

    void value_data();
    void value();
    void writeValue_data();
    void writeValue();
    void writeValueRefusesWhatItCannotWrite();
    void containsAndDefault();
    void sectionsAndKeysKeepFileOrder();
    void longValueIsCut_data();
    void longValueIsCut();
    void largeFileIsRead();
    void encodedFiles_data();
    void encodedFiles();
    void missingFileIsEmpty();
};

void TestIniFile::decodeConfigText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("ascii") << "a=b\r\n"_ba << u"a=b\r\n"_s;
    QTest::newRow("utf-16le with bom") << "\xFF\xFE\x21\x04\x35\x04\x40\x04"_ba << u"Сер"_s;
    QTest::newRow("utf-16le bom only") << "\xFF\xFE"_ba << QString();
    QTest::newRow("utf-16le odd last byte") << "\xFF\xFE\x41\x00\x42"_ba << u"A\uFFFD"_s;
    QTest::newRow("utf-8 with bom") << "\xEF\xBB\xBF\xD0\xA1\xD0\xB5"_ba << u"Се"_s;
    QTest::newRow("utf-8 without bom") << u"Сервер=Ёж"_s.toUtf8() << u"Сервер=Ёж"_s;
    QTest::newRow("windows-1251") << "\xD1\xE5\xF0\xE2\xE5\xF0"_ba << u"Сервер"_s;
    QTest::newRow("windows-1251 specials") << "\xA8\xB8\xB9\x88\x96\xAB\xBB"_ba << u"Ёё№€–«»"_s;
    // One invalid sequence makes the whole text 8-bit, even the part that looked like UTF-8.
    QTest::newRow("mixed falls back to 1251") << "\xD0\xA1\xFF"_ba << u"РЎя"_s;
    QTest::newRow("truncated utf-8 at end") << "ab\xE2\x82"_ba << u"abв‚"_s;
    QTest::newRow("overlong utf-8 is not utf-8") << "\xC0\x80"_ba << u"АЂ"_s;
    QTest::newRow("utf-8 bom not at start") << "a\xEF\xBB\xBF"_ba << u"a\uFEFF"_s;
}

void TestIniFile::decodeConfigText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(platform::decodeConfigText(bytes), expected);
}

void TestIniFile::encodeWindows1251_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("ascii") << u"Data Source=.;"_s << "Data Source=.;"_ba;
    QTest::newRow("cyrillic") << u"Сервер"_s << "\xD1\xE5\xF0\xE2\xE5\xF0"_ba;
    QTest::newRow("whole alphabet ends") << u"АЯаяЁё"_s << "\xC0\xDF\xE0\xFF\xA8\xB8"_ba;
    QTest::newRow("punctuation") << u"№€—…"_s << "\xB9\x88\x97\x85"_ba;
    QTest::newRow("not in code page") << u"a中b"_s << "a?b"_ba;
    QTest::newRow("latin-1 letter not in code page") << u"é"_s << "?"_ba;
    QTest::newRow("surrogate pair is one char") << u"x\U0001F600y"_s << "x?y"_ba;
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << "?"_ba;
}

void TestIniFile::encodeWindows1251()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(platform::encodeWindows1251(text), expected);
}

void TestIniFile::windows1251RoundTripsEveryByte()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString decoded = platform::decodeWindows1251(all);
    QCOMPARE(decoded.size(), 256);
    QCOMPARE(platform::encodeWindows1251(decoded), all);
}

void TestIniFile::windows1251MatchesSystemConverter()
{
    QStringDecoder system("windows-1251");
    if (!system.isValid())
        QSKIP("this Qt build has no windows-1251 converter");
    for (int b = 0x80; b < 256; ++b) {
        const QByteArray byte(1, static_cast<char>(b));
        QCOMPARE(platform::decodeWindows1251(byte), system(byte));
    }
}

void TestIniFile::readConfigFileRefusesNonFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(u"a.ini"_s);
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("0123456789");
    out.close();

    QCOMPARE(platform::readConfigFile(file), std::optional<QByteArray>("0123456789"_ba));
    QCOMPARE(platform::readConfigFile(file, 10), std::optional<QByteArray>("0123456789"_ba));
    QCOMPARE(platform::readConfigFile(file, 9), std::nullopt);
    QCOMPARE(platform::readConfigFile(dir.filePath(u"missing.ini"_s)), std::nullopt);
    QCOMPARE(platform::readConfigFile(dir.path()), std::nullopt);
    QCOMPARE(platform::readConfigFile(QString()), std::nullopt);
#ifdef Q_OS_UNIX
    QCOMPARE(platform::readConfigFile(u"/dev/zero"_s), std::nullopt);
    // Opening a pipe nobody writes to would block for ever.
    const QString fifo = dir.filePath(u"pipe"_s);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(platform::readConfigFile(fifo), std::nullopt);
    QVERIFY(IniFile::load(fifo).sections().isEmpty());
#endif
}

void TestIniFile::value_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "[s]\nk=v\n"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("spaces trimmed") << "[s]\n  k  =   v  \n"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("tabs trimmed") << "[s]\n\tk\t=\tv\t\n"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("inner blanks kept") << "[s]\nk = a  b \n"_ba << u"s"_s << u"k"_s << u"a  b"_s;
    QTest::newRow("key with inner blank")
        << "[s]\nmy key = v\n"_ba << u"s"_s << u"my key"_s << u"v"_s;
    QTest::newRow("double quotes") << "[s]\nk=\"v\"\n"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("single quotes") << "[s]\nk='v'\n"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("quotes keep blanks") << "[s]\nk = \" v \" \n"_ba << u"s"_s << u"k"_s << u" v "_s;
    QTest::newRow("empty quotes") << "[s]\nk=\"\"\n"_ba << u"s"_s << u"k"_s << QString();
    QTest::newRow("mismatched quotes") << "[s]\nk=\"v'\n"_ba << u"s"_s << u"k"_s << u"\"v'"_s;
    QTest::newRow("only one pair removed")
        << "[s]\nk=\"\"v\"\"\n"_ba << u"s"_s << u"k"_s << u"\"v\""_s;
    QTest::newRow("lone quote") << "[s]\nk=\"\n"_ba << u"s"_s << u"k"_s << u"\""_s;
    QTest::newRow("quote at one end") << "[s]\nk=v\"\n"_ba << u"s"_s << u"k"_s << u"v\""_s;
    QTest::newRow("quotes inside") << "[s]\nk=a\"b\"\n"_ba << u"s"_s << u"k"_s << u"a\"b\""_s;
    QTest::newRow("equals in value") << "[s]\nk = a=b = c\n"_ba << u"s"_s << u"k"_s << u"a=b = c"_s;
    QTest::newRow("semicolon in value") << "[s]\nk=a;b\n"_ba << u"s"_s << u"k"_s << u"a;b"_s;
    QTest::newRow("empty value") << "[s]\nk=\n"_ba << u"s"_s << u"k"_s << QString();
    QTest::newRow("first duplicate wins") << "[s]\nk=1\nk=2\n"_ba << u"s"_s << u"k"_s << u"1"_s;
    QTest::newRow("duplicate in other case")
        << "[s]\nKey=1\nKEY=2\n"_ba << u"s"_s << u"key"_s << u"1"_s;
    QTest::newRow("repeated section merged")
        << "[s]\na=1\n[t]\nb=2\n[S]\nc=3\n"_ba << u"s"_s << u"c"_s << u"3"_s;
    QTest::newRow("repeated section, first wins")
        << "[s]\na=1\n[t]\nb=2\n[S]\na=4\n"_ba << u"s"_s << u"a"_s << u"1"_s;
    QTest::newRow("section case") << "[DataBase]\nk=v\n"_ba << u"DATABASE"_s << u"k"_s << u"v"_s;
    QTest::newRow("key case") << "[s]\nServer=v\n"_ba << u"s"_s << u"sERVER"_s << u"v"_s;
    QTest::newRow("cyrillic case")
        << u"[Сервер]\nИмя=x\n"_s.toUtf8() << u"СЕРВЕР"_s << u"имя"_s << u"x"_s;
    QTest::newRow("blanks around section") << " \t[ s ] \nk=v\n"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("text after bracket") << "[s] ; note\nk=v\n"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("first bracket ends name") << "[a]b]\nk=v\n"_ba << u"a"_s << u"k"_s << u"v"_s;
    QTest::newRow("unclosed bracket line ignored")
        << "[s]\n[t\nk=v\n"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("line without equals ignored")
        << "[s]\nnoise\nk=v\n"_ba << u"s"_s << u"noise"_s << kDefault;
    QTest::newRow("empty key ignored") << "[s]\n=v\n"_ba << u"s"_s << QString() << kDefault;
    QTest::newRow("comment line") << "[s]\n;k=v\n"_ba << u"s"_s << u"k"_s << kDefault;
    QTest::newRow("indented comment") << "[s]\n \t;k=v\n"_ba << u"s"_s << u"k"_s << kDefault;
    QTest::newRow("comment then key") << "[s]\n;k=1\nk=2\n"_ba << u"s"_s << u"k"_s << u"2"_s;
    QTest::newRow("key before any section") << "k=v\n[s]\n"_ba << u"s"_s << u"k"_s << kDefault;
    QTest::newRow("key before any section, empty name")
        << "k=v\n[s]\n"_ba << QString() << u"k"_s << kDefault;
    QTest::newRow("missing section") << "[s]\nk=v\n"_ba << u"t"_s << u"k"_s << kDefault;
    QTest::newRow("missing key") << "[s]\nk=v\n"_ba << u"s"_s << u"j"_s << kDefault;
    QTest::newRow("key of other section") << "[s]\nk=v\n[t]\n"_ba << u"t"_s << u"k"_s << kDefault;
    QTest::newRow("empty file") << QByteArray() << u"s"_s << u"k"_s << kDefault;
    QTest::newRow("CR LF") << "[s]\r\nk=v\r\nj=w\r\n"_ba << u"s"_s << u"j"_s << u"w"_s;
    QTest::newRow("CR only") << "[s]\rk=v\rj=w"_ba << u"s"_s << u"j"_s << u"w"_s;
    QTest::newRow("CR only, no trailing CR in value")
        << "[s]\rk=v\rj=w"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("no final line end") << "[s]\nk=v"_ba << u"s"_s << u"k"_s << u"v"_s;
    QTest::newRow("garbage bytes") << "\x00\xFF[\x01=\n]]=="_ba << u"s"_s << u"k"_s << kDefault;
}

void TestIniFile::value()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    const IniFile ini = IniFile::fromBytes(content);
    QCOMPARE(ini.value(section, key, kDefault), expected);
    QCOMPARE(ini.contains(section, key), expected != kDefault);
}

void TestIniFile::containsAndDefault()
{
    const IniFile ini = IniFile::fromBytes("[s]\nempty=\n"_ba);
    QVERIFY(ini.contains(u"s"_s, u"empty"_s));
    QCOMPARE(ini.value(u"s"_s, u"empty"_s, u"d"_s), QString());
    QVERIFY(!ini.contains(u"s"_s, u"other"_s));
    QCOMPARE(ini.value(u"s"_s, u"other"_s), QString());
    QCOMPARE(ini.value(u"s"_s, u"other"_s, u"d"_s), u"d"_s);
}

void TestIniFile::sectionsAndKeysKeepFileOrder()
{
    const IniFile ini =
        IniFile::fromBytes("k0=x\n[Beta]\nB=1\na=2\n[alpha]\nz=3\n[BETA]\nb=4\nc=5\n"_ba);
    QCOMPARE(ini.sections(), (QStringList{u"Beta"_s, u"alpha"_s}));
    QCOMPARE(ini.keys(u"beta"_s), (QStringList{u"B"_s, u"a"_s, u"c"_s}));
    QCOMPARE(ini.keys(u"missing"_s), QStringList());
}

void TestIniFile::longValueIsCut_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("expected");

    const QString x1m(1024 * 1024, u'x');
    const QString x2047(IniFile::kMaxValueLength, u'x');
    QTest::newRow("1 MB line") << x1m << x2047;
    QTest::newRow("exactly 2047") << x2047 << x2047;
    QTest::newRow("2048") << x2047 + u'y' << x2047;
    // The quotes come off before the cut, so a long quoted value is not returned with its
    // opening quote.
    QTest::newRow("long quoted value") << u'"' + x1m + u'"' << x2047;
    QTest::newRow("blanks before long value") << u"   "_s + x1m << x2047;
    QTest::newRow("cut inside a surrogate pair")
        << QString(IniFile::kMaxValueLength - 1, u'x') + u"\U0001F600"_s
        << QString(IniFile::kMaxValueLength - 1, u'x');
}

void TestIniFile::longValueIsCut()
{
    QFETCH(QString, raw);
    QFETCH(QString, expected);

    const IniFile ini = IniFile::fromBytes((u"[s]\nk="_s + raw + u"\nnext=1\n"_s).toUtf8());
    QCOMPARE(ini.value(u"s"_s, u"k"_s), expected);
    QCOMPARE(ini.value(u"s"_s, u"next"_s), u"1"_s);
}

void TestIniFile::largeFileIsRead()
{
    // About 30 MB; a parser slower than linear would not finish within the test time limit.
    QByteArray content;
    const int sections = 20000;
    const QByteArray filler(1400, 'v');
    content.reserve(sections * 1500);
    for (int i = 0; i < sections; ++i) {
        const QByteArray n = QByteArray::number(i);
        content += "[section" + n + "]\r\nkey=" + n + "\r\nfill=" + filler + "\r\n";
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile file(dir.filePath(u"big.ini"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
    file.close();

    const IniFile ini = IniFile::load(file.fileName());
    QCOMPARE(ini.sections().size(), sections);
    QCOMPARE(ini.value(u"SECTION0"_s, u"key"_s), u"0"_s);
    QCOMPARE(ini.value(u"section19999"_s, u"KEY"_s), u"19999"_s);
    QCOMPARE(ini.value(u"section123"_s, u"fill"_s).size(), filler.size());
}

void TestIniFile::encodedFiles_data()
{
    QTest::addColumn<QString>("file");

    QTest::newRow("utf-16le with bom") << u"utf16le-bom.ini"_s;
    QTest::newRow("utf-8") << u"utf8.ini"_s;
    QTest::newRow("utf-8 with bom") << u"utf8-bom.ini"_s;
    QTest::newRow("windows-1251") << u"cp1251.ini"_s;
    QTest::newRow("CR line ends") << u"cr-only.ini"_s;
}

void TestIniFile::encodedFiles()
{
    QFETCH(QString, file);

    const IniFile ini = IniFile::load(fixture(file));
    QCOMPARE(ini.sections(), (QStringList{u"Сервер"_s, u"Database"_s}));
    QCOMPARE(ini.value(u"сервер"_s, u"ИМЯ"_s), u"Главный сервер"_s);
    QCOMPARE(ini.value(u"Сервер"_s, u"port"_s), u"1433"_s);
    QCOMPARE(ini.value(u"database"_s, u"name"_s), u"Учёт"_s);
    QVERIFY(!ini.contains(u"Сервер"_s, u"; настройки"_s));
}

void TestIniFile::missingFileIsEmpty()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& path : {dir.filePath(u"none.ini"_s), dir.path(), QString()}) {
        const IniFile ini = IniFile::load(path);
        QVERIFY(ini.sections().isEmpty());
        QCOMPARE(ini.value(u"s"_s, u"k"_s, u"d"_s), u"d"_s);
        QVERIFY(!ini.contains(u"s"_s, u"k"_s));
    }
}

// The bytes of a text in one of the encodings a settings file may have.
static QByteArray encoded(const QString& text, const QString& encoding)
{
    if (encoding == u"utf-16"_s) {
        QByteArray bytes("\xff\xfe", 2);
        bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        return bytes;
    }
    if (encoding == u"utf-8 bom"_s)
        return QByteArray("\xef\xbb\xbf") + text.toUtf8();
    if (encoding == u"windows-1251"_s)
        return platform::encodeWindows1251(text);
    return text.toUtf8();
}

void TestIniFile::writeValue_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("encoding");
    QTest::addColumn<QString>("after");

    const QString db = u"[db]\r\nserver=.\\sqlexpress\r\n"_s;
    QTest::newRow("replaced in place, other lines kept")
        << db + u"[other]\r\n; a comment\r\nVERIFY_BACKUP = 0\r\ninstall_dir=C:\\Программа\r\n"_s
        << u"utf-8"_s
        << db + u"[other]\r\n; a comment\r\nverify_backup=1\r\ninstall_dir=C:\\Программа\r\n"_s;
    QTest::newRow("added at the end of its section")
        << u"[other]\r\ninstall_dir=C:\\App\r\n\r\n[db]\r\nserver=x\r\n"_s << u"windows-1251"_s
        << u"[other]\r\ninstall_dir=C:\\App\r\nverify_backup=1\r\n\r\n[db]\r\nserver=x\r\n"_s;
    QTest::newRow("section added at the end")
        << db << u"utf-16"_s << db + u"\r\n[other]\r\nverify_backup=1\r\n"_s;
    QTest::newRow("only the first of equal keys, as the reader takes it")
        << u"[Other]\nverify_backup=0\nverify_backup=0\n"_s << u"utf-8 bom"_s
        << u"[Other]\nverify_backup=1\nverify_backup=0\n"_s;
    QTest::newRow("the key in a second part of the section")
        << u"[other]\r\na=1\r\n[db]\r\nb=2\r\n[other]\r\nverify_backup=0\r\n"_s << u"utf-8"_s
        << u"[other]\r\na=1\r\n[db]\r\nb=2\r\n[other]\r\nverify_backup=1\r\n"_s;
    QTest::newRow("a file without its last line end")
        << u"[other]\r\na=1"_s << u"utf-8"_s << u"[other]\r\na=1\r\nverify_backup=1\r\n"_s;
    QTest::newRow("mixed line ends, each kept")
        << u"[db]\nserver=x\n[other]\r\nverify_backup=0\r\n"_s << u"utf-8"_s
        << u"[db]\nserver=x\n[other]\r\nverify_backup=1\r\n"_s;
    QTest::newRow("a lone CR ends a line as the reader sees it")
        << u"[other]\ra=1\r"_s << u"utf-8"_s << u"[other]\ra=1\rverify_backup=1\r\n"_s;
    QTest::newRow("no file: a new one")
        << QString() << QString() << u"[other]\r\nverify_backup=1\r\n"_s;
}

void TestIniFile::writeValue()
{
    QFETCH(QString, before);
    QFETCH(QString, encoding);
    QFETCH(QString, after);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"settings.ini"_s);
    if (!encoding.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(encoded(before, encoding));
    }
    QVERIFY(platform::writeIniValue(path, u"other"_s, u"verify_backup"_s, u"1"_s));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), encoded(after, encoding.isEmpty() ? u"utf-8"_s : encoding));
    QCOMPARE(IniFile::load(path).value(u"other"_s, u"verify_backup"_s), u"1"_s);
}

void TestIniFile::writeValueRefusesWhatItCannotWrite()
{
    QTemporaryDir dir;
    // A folder where the file should be: left alone.
    QVERIFY(QDir(dir.path()).mkdir(u"settings.ini"_s));
    QVERIFY(!platform::writeIniValue(dir.filePath(u"settings.ini"_s), u"other"_s, u"k"_s, u"1"_s));
    QVERIFY(QFileInfo(dir.filePath(u"settings.ini"_s)).isDir());
    // A folder that does not exist.
    QVERIFY(
        !platform::writeIniValue(dir.filePath(u"none/settings.ini"_s), u"other"_s, u"k"_s, u"1"_s));
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
