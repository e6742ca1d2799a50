// The registry export file (.reg): any bytes as the file, then the lookups the program makes.
#include "FuzzSupport.h"
#include "RegistryFile.h"
#include "TextDecoding.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = platform::decodeConfigText(fuzz::bytes(data, size));
    const platform::RegistryFile registry = platform::RegistryFile::fromText(text);

    // Every key header of the file is looked up as the program would: by its root and path.
    static const QRegularExpression header(uR"(^[ \t]*\[([^\\\]\r\n]*)\\?([^\r\n]*)\][ \t]*$)"_s,
                                           QRegularExpression::MultilineOption);
    int lookups = 0;
    for (auto it = header.globalMatch(text); it.hasNext() && lookups < 64; ++lookups) {
        const QRegularExpressionMatch m = it.next();
        const QString root = m.captured(1);
        const QString path = m.captured(2);
        const bool exists = registry.keyExists(root, path);
        if (!platform::isRegistryRoot(root))
            FUZZ_CHECK(!exists, root);
        if (path.isEmpty() && platform::isRegistryRoot(root))
            FUZZ_CHECK(exists, root); // a root always exists
        const std::optional<platform::RegistryValue> value = registry.value(root, path, QString());
        if (value) {
            FUZZ_CHECK(exists, path); // a value lives in a key that exists
            FUZZ_CHECK(value->text.indexOf(QChar(0)) < 0, path);
            if (value->kind == platform::RegistryValue::Kind::Other)
                FUZZ_CHECK(value->text.isEmpty(), path);
        }
        (void)registry.value(root, u"\\"_s + path, u"InstallDir"_s);
    }
    (void)registry.value(u"HKEY_CURRENT_USER"_s,
                         u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"_s,
                         u"AppData"_s);
    return 0;
}
