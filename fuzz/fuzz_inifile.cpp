// settings.ini: bytes in any encoding the reader accepts (UTF-16LE or UTF-8 with a byte-order
// mark, UTF-8, Windows-1251), then every lookup the program makes.
#include "FuzzSupport.h"
#include "IniFile.h"
#include "TextDecoding.h"

#include <QSet>

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);

    // Windows-1251 maps every byte, the unassigned one included, so bytes come back unchanged.
    const QByteArray again = platform::encodeWindows1251(platform::decodeWindows1251(input));
    FUZZ_CHECK(again == input, QString::fromLatin1(input.toHex()));

    const platform::IniFile ini = platform::IniFile::fromBytes(input);
    const QString missing = u"\u0001missing"_s;
    QSet<QString> sections;
    for (const QString& section : ini.sections()) {
        FUZZ_CHECK(!sections.contains(section.toCaseFolded()), section);
        sections.insert(section.toCaseFolded());
        QSet<QString> keys;
        for (const QString& key : ini.keys(section)) {
            FUZZ_CHECK(!key.isEmpty(), section);
            FUZZ_CHECK(!keys.contains(key.toCaseFolded()), key);
            keys.insert(key.toCaseFolded());
            FUZZ_CHECK(ini.contains(section, key), key);
            const QString value = ini.value(section, key, missing);
            FUZZ_CHECK(value != missing, key);
            FUZZ_CHECK(value.size() <= platform::IniFile::kMaxValueLength, key);
        }
    }
    // The lookups of the program, whatever the file holds.
    for (const QString& key :
         {u"server"_s, u"user_name"_s, u"password"_s, u"is_authorization"_s, u"file_udl"_s})
        (void)ini.value(u"db"_s, key);
    for (const QString& key : {u"db_file_name"_s, u"install_dir"_s, u"max_size_file_add_db"_s})
        (void)ini.value(u"other"_s, key);
    (void)ini.value(u"oledb"_s, u"Provider"_s);
    return 0;
}
