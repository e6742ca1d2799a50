#include "PeVersion.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// Layout of the images built below: headers, a .text section, then .rsrc.
constexpr qsizetype kPeOffset = 0x80;
constexpr qsizetype kOptionalOffset = kPeOffset + 24;
constexpr quint32 kTextRva = 0x1000;
constexpr quint32 kResourceRva = 0x3000;
constexpr qsizetype kTextFileOffset = 0x400;
constexpr qsizetype kResourceFileOffset = 0x600;
// Offsets inside .rsrc of the directory tree the builder writes.
constexpr qsizetype kRootDir =
    0x00; // entries: RT_ICON (3) -> kIconDir, RT_VERSION (16) -> kNameDir
constexpr qsizetype kIconDir = 0x20;   // no entries
constexpr qsizetype kNameDir = 0x30;   // entry: id 1 -> kLangDir
constexpr qsizetype kLangDir = 0x48;   // entry: 0x419 -> kDataEntry
constexpr qsizetype kDataEntry = 0x60; // RVA and size of the version resource
constexpr qsizetype kVersionData = 0x70;

void appendLe16(QByteArray& bytes, quint32 value)
{
    bytes.append(static_cast<char>(value & 0xFF));
    bytes.append(static_cast<char>((value >> 8) & 0xFF));
}

void appendLe32(QByteArray& bytes, quint32 value)
{
    appendLe16(bytes, value & 0xFFFF);
    appendLe16(bytes, value >> 16);
}

void putLe16(QByteArray& bytes, qsizetype at, quint16 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void putLe32(QByteArray& bytes, qsizetype at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void padTo(QByteArray& bytes, qsizetype alignment)
{
    while (bytes.size() % alignment != 0)
        bytes.append('\0');
}

QByteArray utf16z(const QString& text)
{
    QByteArray bytes;
    for (const QChar c : text)
        appendLe16(bytes, c.unicode());
    appendLe16(bytes, 0);
    return bytes;
}

// One VS_VERSIONINFO block: header, key, padding, value, then each child 4-aligned.
QByteArray block(const QString& key, quint16 type, const QByteArray& value, quint16 valueLength,
                 const QList<QByteArray>& children = {})
{
    QByteArray bytes(6, '\0');
    bytes += utf16z(key);
    padTo(bytes, 4);
    bytes += value;
    for (const QByteArray& child : children) {
        padTo(bytes, 4);
        bytes += child;
    }
    putLe16(bytes, 0, static_cast<quint16>(bytes.size()));
    putLe16(bytes, 2, valueLength);
    putLe16(bytes, 4, type);
    return bytes;
}

QByteArray stringBlock(const QString& name, const QString& value)
{
    return block(name, 1, utf16z(value), static_cast<quint16>(value.size() + 1));
}

struct Table
{
    QString key;
    QList<std::pair<QString, QString>> strings;
};

// translations: lang | codePage << 16. An empty list leaves out VarFileInfo unless emptyVar asks
// for a Translation value of no bytes.
QByteArray versionResource(const QList<quint32>& translations, const QList<Table>& tables,
                           bool emptyVar = false)
{
    QByteArray fixed;
    appendLe32(fixed, 0xFEEF04BD);
    appendLe32(fixed, 0x00010000);
    fixed.append(44, '\0');

    QList<QByteArray> tableBlocks;
    for (const Table& table : tables) {
        QList<QByteArray> strings;
        for (const auto& [name, value] : table.strings)
            strings.append(stringBlock(name, value));
        tableBlocks.append(block(table.key, 1, {}, 0, strings));
    }
    QList<QByteArray> children{block(u"StringFileInfo"_s, 1, {}, 0, tableBlocks)};
    if (!translations.isEmpty() || emptyVar) {
        QByteArray value;
        for (const quint32 translation : translations)
            appendLe32(value, translation);
        const QByteArray var =
            block(u"Translation"_s, 0, value, static_cast<quint16>(value.size()));
        children.append(block(u"VarFileInfo"_s, 1, {}, 0, {var}));
    }
    return block(u"VS_VERSION_INFO"_s, 0, fixed, 52, children);
}

QByteArray directory(const QList<std::pair<quint32, quint32>>& idEntries)
{
    QByteArray bytes(12, '\0');
    appendLe16(bytes, 0);
    appendLe16(bytes, static_cast<quint32>(idEntries.size()));
    for (const auto& [id, target] : idEntries) {
        appendLe32(bytes, id);
        appendLe32(bytes, target);
    }
    return bytes;
}

// A minimal PE32 or PE32+ image whose .rsrc holds `version` as the RT_VERSION resource.
QByteArray peImage(const QByteArray& version, bool pe64 = false)
{
    constexpr quint32 subdir = 0x80000000u;
    QByteArray rsrc = directory({{3, subdir | kIconDir}, {16, subdir | kNameDir}});
    rsrc += directory({});
    rsrc += directory({{1, subdir | kLangDir}});
    rsrc += directory({{0x419, kDataEntry}});
    Q_ASSERT(rsrc.size() == kDataEntry);
    appendLe32(rsrc, kResourceRva + kVersionData);
    appendLe32(rsrc, static_cast<quint32>(version.size()));
    appendLe32(rsrc, 0);
    appendLe32(rsrc, 0);
    rsrc += version;
    const auto resourceSize = static_cast<quint32>(rsrc.size());
    padTo(rsrc, 0x200);

    QByteArray image(kPeOffset, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    putLe32(image, 0x3C, kPeOffset);

    image += QByteArrayView("PE\0\0", 4);
    const quint16 optionalSize = pe64 ? 240 : 224;
    appendLe16(image, pe64 ? 0x8664 : 0x14C);
    appendLe16(image, 2); // sections
    appendLe32(image, 0); // time stamp
    appendLe32(image, 0); // symbols
    appendLe32(image, 0);
    appendLe16(image, optionalSize);
    appendLe16(image, 0x2102); // DLL, executable, 32-bit words

    QByteArray optional(optionalSize, '\0');
    putLe16(optional, 0, pe64 ? 0x20B : 0x10B);
    putLe32(optional, 32, 0x1000);                                      // section alignment
    putLe32(optional, 36, 0x200);                                       // file alignment
    putLe32(optional, 56, 0x4000 + ((resourceSize + 0xFFF) & ~0xFFFu)); // size of image
    putLe32(optional, 60, kTextFileOffset);                             // size of headers
    const qsizetype directories = pe64 ? 112 : 96;
    putLe32(optional, directories - 4, 16);
    putLe32(optional, directories + 16, kResourceRva);
    putLe32(optional, directories + 20, resourceSize);
    image += optional;

    const auto section = [&image](const char* name, quint32 virtualSize, quint32 rva,
                                  quint32 rawSize, quint32 rawOffset) {
        QByteArray header(name);
        header.resize(8, '\0');
        appendLe32(header, virtualSize);
        appendLe32(header, rva);
        appendLe32(header, rawSize);
        appendLe32(header, rawOffset);
        header.append(16, '\0');
        image += header;
    };
    section(".text", 0x10, kTextRva, 0x200, kTextFileOffset);
    section(".rsrc", resourceSize, kResourceRva, static_cast<quint32>(rsrc.size()),
            kResourceFileOffset);

    image.resize(kTextFileOffset, '\0');
    image.append(0x200, '\xCC');
    image += rsrc;
    return image;
}

const Table kRussianTable{u"041904B0"_s,
                          {{u"CompanyName"_s, u"Компания"_s},
                           {u"FileVersion"_s, u"7.5.2.0"_s},
                           {u"ProductVersion"_s, u"7.5"_s}}};

QByteArray validImage(bool pe64 = false)
{
    return peImage(versionResource({0x04B00419}, {kRussianTable}), pe64);
}

QByteArray patched32(QByteArray image, qsizetype at, quint32 value)
{
    putLe32(image, at, value);
    return image;
}

QByteArray patched16(QByteArray image, qsizetype at, quint16 value)
{
    putLe16(image, at, value);
    return image;
}

qsizetype versionDataEnd(const QByteArray& version)
{
    return kResourceFileOffset + kVersionData + version.size();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestPeVersion : public QObject
{
    Q_OBJECT

private slots:
    void fileVersionFromBytes_data();
    void fileVersionFromBytes();
    void hostileImages_data();
    void hostileImages();
    void versionInfo();
    void truncatedImages_data();
    void truncatedImages();
    void randomMutations();
    void files();
};

void TestPeVersion::fileVersionFromBytes_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("expected");

    const Table english{u"040904B0"_s, {{u"FileVersion"_s, u"1.0.0.0"_s}}};
    QTest::newRow("russian unicode") << validImage() << u"7.5.2.0"_s;
    QTest::newRow("pe32+") << validImage(true) << u"7.5.2.0"_s;
    QTest::newRow("two translations take the first")
        << peImage(versionResource({0x04B00419, 0x04B00409}, {english, kRussianTable}))
        << u"7.5.2.0"_s;
    QTest::newRow("translation order decides, not table order")
        << peImage(versionResource({0x04B00409, 0x04B00419}, {kRussianTable, english}))
        << u"1.0.0.0"_s;
    QTest::newRow("no translation table")
        << peImage(versionResource({}, {kRussianTable})) << QString();
    QTest::newRow("translation of no bytes")
        << peImage(versionResource({}, {kRussianTable}, true)) << QString();
    QTest::newRow("table for another translation")
        << peImage(versionResource({0x04B00419}, {english})) << QString();
    QTest::newRow("no FileVersion key")
        << peImage(
               versionResource({0x04B00419}, {{u"041904B0"_s, {{u"ProductVersion"_s, u"7.5"_s}}}}))
        << QString();
    QTest::newRow("table key in lower case")
        << peImage(
               versionResource({0x04B00419}, {{u"041904b0"_s, {{u"FileVersion"_s, u"7.5.2.0"_s}}}}))
        << u"7.5.2.0"_s;
    QTest::newRow("string key in other case")
        << peImage(
               versionResource({0x04B00419}, {{u"041904B0"_s, {{u"FILEVERSION"_s, u"7.5.2.0"_s}}}}))
        << u"7.5.2.0"_s;
    QTest::newRow("hex digits of the code page")
        << peImage(versionResource({0x04E40409}, {{u"040904E4"_s, {{u"FileVersion"_s, u"2.1"_s}}}}))
        << u"2.1"_s;
    QTest::newRow("first of duplicate keys")
        << peImage(versionResource(
               {0x04B00419},
               {{u"041904B0"_s, {{u"FileVersion"_s, u"1"_s}, {u"FileVersion"_s, u"2"_s}}}}))
        << u"1"_s;
    QTest::newRow("value stops at NUL")
        << peImage(versionResource(
               {0x04B00419},
               {{u"041904B0"_s, {{u"FileVersion"_s, u"7.5.2.0"_s + QChar(0) + u"junk"_s}}}}))
        << u"7.5.2.0"_s;
    QTest::newRow("empty value") << peImage(versionResource(
                                        {0x04B00419}, {{u"041904B0"_s, {{u"FileVersion"_s, {}}}}}))
                                 << QString();
    QTest::newRow("text") << QByteArray("FileVersion 7.5.2.0\n") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("MZ alone") << QByteArray("MZ") << QString();
}

void TestPeVersion::fileVersionFromBytes()
{
    QFETCH(QByteArray, image);
    QFETCH(QString, expected);
    QCOMPARE(platform::peFileVersionFromBytes(image), expected);
}

void TestPeVersion::hostileImages_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("expected");

    const QByteArray valid = validImage();
    const qsizetype sections = kOptionalOffset + 224;
    const qsizetype resourceDirectory = kOptionalOffset + 96 + 16;
    const qsizetype rsrc = kResourceFileOffset;
    const qsizetype root = rsrc + kVersionData;
    constexpr quint32 subdir = 0x80000000u;

    QTest::newRow("valid") << valid << u"7.5.2.0"_s;
    QTest::newRow("e_lfanew far away") << patched32(valid, 0x3C, 0xFFFFFFF0) << QString();
    QTest::newRow("e_lfanew at the end")
        << patched32(valid, 0x3C, static_cast<quint32>(valid.size() - 4)) << QString();
    QTest::newRow("no PE signature") << patched32(valid, kPeOffset, 0x00004550 + 1) << QString();
    QTest::newRow("unknown optional magic")
        << patched16(valid, kOptionalOffset, 0x107) << QString();
    QTest::newRow("optional header too short")
        << patched16(valid, kPeOffset + 20, 100) << QString();
    QTest::newRow("65535 sections") << patched16(valid, kPeOffset + 6, 0xFFFF) << QString();
    QTest::newRow("no sections") << patched16(valid, kPeOffset + 6, 0) << QString();
    QTest::newRow("two data directories") << patched32(valid, kOptionalOffset + 92, 2) << QString();
    QTest::newRow("no resource directory") << patched32(valid, resourceDirectory, 0) << QString();
    QTest::newRow("resource directory outside sections")
        << patched32(valid, resourceDirectory, 0x7FFFFFF0) << QString();
    QTest::newRow("section raw data beyond the file")
        << patched32(valid, sections + 40 + 20, 0xFFFFF000) << QString();
    QTest::newRow("section raw size of 4 GB")
        << patched32(valid, sections + 40 + 16, 0xFFFFFFFF) << u"7.5.2.0"_s;
    QTest::newRow("no RT_VERSION") << patched32(valid, rsrc + 0x18, 17) << QString();
    QTest::newRow("RT_VERSION as a data entry")
        << patched32(valid, rsrc + 0x1C, kNameDir) << QString();
    QTest::newRow("65535+65535 root entries")
        << patched32(valid, rsrc + 12, 0xFFFFFFFF) << QString();
    QTest::newRow("type points back at the root")
        << patched32(valid, rsrc + 0x1C, subdir | kRootDir) << QString();
    QTest::newRow("name points back at its directory")
        << patched32(valid, rsrc + kNameDir + 0x14, subdir | kNameDir) << QString();
    QTest::newRow("version name other than 1 is still taken")
        << patched32(valid, rsrc + kNameDir + 0x10, 2) << u"7.5.2.0"_s;
    QTest::newRow("language is a directory")
        << patched32(valid, rsrc + kLangDir + 0x14, subdir | kLangDir) << QString();
    QTest::newRow("data entry offset huge")
        << patched32(valid, rsrc + kLangDir + 0x14, 0x7FFFFFFF) << QString();
    QTest::newRow("data RVA outside sections")
        << patched32(valid, rsrc + kDataEntry, 0x10) << QString();
    QTest::newRow("data size 4 GB")
        << patched32(valid, rsrc + kDataEntry + 4, 0xFFFFFFFF) << QString();
    QTest::newRow("data size 0") << patched32(valid, rsrc + kDataEntry + 4, 0) << QString();
    QTest::newRow("root wLength beyond the resource")
        << patched16(valid, root, 0xFFFF) << QString();
    QTest::newRow("root wLength 0") << patched16(valid, root, 0) << QString();
    QTest::newRow("root value length huge") << patched16(valid, root + 2, 0xFFFF) << QString();

    // A version resource whose first String has a zero length: the walk must stop, not spin.
    QByteArray version = versionResource({0x04B00419}, {kRussianTable});
    const qsizetype firstString = version.indexOf(utf16z(u"CompanyName"_s)) - 6;
    QVERIFY(firstString > 0);
    QTest::newRow("string of zero length")
        << peImage(patched16(version, firstString, 0)) << QString();
    QTest::newRow("string longer than its table")
        << peImage(patched16(version, firstString, 0x7000)) << QString();
    // Key without its NUL inside the block.
    QTest::newRow("string key runs off")
        << peImage(patched16(version, firstString, 8)) << QString();
}

void TestPeVersion::hostileImages()
{
    QFETCH(QByteArray, image);
    QFETCH(QString, expected);
    QCOMPARE(platform::peFileVersionFromBytes(image), expected);
}

void TestPeVersion::versionInfo()
{
    const auto info = platform::peVersionInfoFromBytes(validImage());
    QVERIFY(info);
    QCOMPARE(info->translation, u"041904B0"_s);
    QCOMPARE(info->strings.value(u"CompanyName"_s), u"Компания"_s);
    QCOMPARE(info->strings.value(u"FileVersion"_s), u"7.5.2.0"_s);
    QCOMPARE(info->strings.value(u"ProductVersion"_s), u"7.5"_s);
    QCOMPARE(info->strings.size(), 3);

    const auto noTable =
        platform::peVersionInfoFromBytes(peImage(versionResource({}, {kRussianTable}), true));
    QVERIFY(noTable);
    QVERIFY(noTable->translation.isEmpty());
    QVERIFY(noTable->strings.isEmpty());

    const auto otherTable =
        platform::peVersionInfoFromBytes(peImage(versionResource({0x04B00409}, {kRussianTable})));
    QVERIFY(otherTable);
    QCOMPARE(otherTable->translation, u"040904B0"_s);
    QVERIFY(otherTable->strings.isEmpty());

    QVERIFY(!platform::peVersionInfoFromBytes(QByteArray("plain text")));
    QVERIFY(
        !platform::peVersionInfoFromBytes(patched32(validImage(), kResourceFileOffset + 0x18, 17)));
}

void TestPeVersion::truncatedImages_data()
{
    QTest::addColumn<bool>("pe64");
    QTest::newRow("pe32") << false;
    QTest::newRow("pe32+") << true;
}

// Every prefix of a valid image: the version shows up exactly when the resource data is complete,
// since nothing past it is needed.
void TestPeVersion::truncatedImages()
{
    QFETCH(bool, pe64);
    const QByteArray version = versionResource({0x04B00419}, {kRussianTable});
    const QByteArray image = peImage(version, pe64);
    const qsizetype dataEnd = versionDataEnd(version);
    for (qsizetype length = 0; length <= image.size(); ++length) {
        const QString expected = length >= dataEnd ? u"7.5.2.0"_s : QString();
        const QString actual = platform::peFileVersionFromBytes(image.left(length));
        if (actual != expected)
            QFAIL(qPrintable(u"prefix of %1 bytes gave '%2'"_s.arg(length).arg(actual)));
    }
}

// Runs under ASan/UBSan in CI: the check is that no mutation reads out of bounds or crashes.
void TestPeVersion::randomMutations()
{
    QRandomGenerator random(20240611);
    const QList<QByteArray> originals{
        validImage(), validImage(true),
        peImage(versionResource({0x04B00419, 0x04B00409},
                                {kRussianTable, {u"040904B0"_s, {{u"FileVersion"_s, u"1"_s}}}}))};
    // Bytes that matter: headers and the resource section (not the .text filler).
    const auto position = [&random](const QByteArray& image) -> qsizetype {
        const bool header = random.bounded(2) == 0;
        return header
                   ? random.bounded(int{kTextFileOffset})
                   : kResourceFileOffset + random.bounded(int(image.size() - kResourceFileOffset));
    };
    const char extremes[] = {'\0', '\x01', '\x7F', '\x80', '\xFF'};
    int found = 0;
    for (int round = 0; round < 6000; ++round) {
        QByteArray image = originals[round % originals.size()];
        const int flips = 1 + random.bounded(4);
        for (int i = 0; i < flips; ++i) {
            const qsizetype at = position(image);
            if (random.bounded(3) == 0)
                image[at] = extremes[random.bounded(5)];
            else
                image[at] = static_cast<char>(image[at] ^ (1 << random.bounded(8)));
        }
        const QString version = platform::peFileVersionFromBytes(image);
        const auto info = platform::peVersionInfoFromBytes(image);
        QVERIFY(version.size() < 0x8000);
        if (info)
            QVERIFY(info->strings.size() < 0x2000);
        if (version == u"7.5.2.0"_s || version == u"1"_s)
            ++found;
    }
    // Most single flips land in bytes that do not matter; the reader must still see through them.
    QVERIFY(found > 0);

    // Garbage behind a valid DOS and PE header.
    for (int round = 0; round < 500; ++round) {
        QByteArray image = validImage(round % 2 == 1).left(kOptionalOffset + 2);
        const int tail = random.bounded(4096);
        for (int i = 0; i < tail; ++i)
            image.append(static_cast<char>(random.bounded(256)));
        QVERIFY(platform::peFileVersionFromBytes(image).size() < 0x8000);
    }
}

void TestPeVersion::files()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray image = validImage();

    const QString exe = dir.filePath(u"product.exe"_s);
    QVERIFY(writeFile(exe, image));
    QCOMPARE(platform::peFileVersion(exe), u"7.5.2.0"_s);
    const auto info = platform::peVersionInfo(exe);
    QVERIFY(info);
    QCOMPARE(info->translation, u"041904B0"_s);

    const QString truncated = dir.filePath(u"truncated.dll"_s);
    QVERIFY(writeFile(truncated, image.left(kResourceFileOffset + kVersionData + 10)));
    QCOMPARE(platform::peFileVersion(truncated), QString());

    const QString text = dir.filePath(u"readme.txt"_s);
    QVERIFY(writeFile(text, "FileVersion=7.5.2.0\n"));
    QCOMPARE(platform::peFileVersion(text), QString());

    const QString empty = dir.filePath(u"empty.exe"_s);
    QVERIFY(writeFile(empty, {}));
    QCOMPARE(platform::peFileVersion(empty), QString());

    QCOMPARE(platform::peFileVersion(dir.filePath(u"missing.exe"_s)), QString());
    QVERIFY(!platform::peVersionInfo(dir.filePath(u"missing.exe"_s)));
    QCOMPARE(platform::peFileVersion(QString()), QString());
    QCOMPARE(platform::peFileVersion(dir.path()), QString());

    // This test's own ELF executable.
    QCOMPARE(platform::peFileVersion(QCoreApplication::applicationFilePath()), QString());

#ifdef Q_OS_UNIX
    // Opening a FIFO for reading would wait for a writer forever.
    const QString fifo = dir.filePath(u"pipe.exe"_s);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(platform::peFileVersion(fifo), QString());
#endif
}

QTEST_GUILESS_MAIN(TestPeVersion)
#include "tst_peversion.moc"
