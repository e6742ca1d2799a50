// The version resource of a .exe/.dll: the bytes are the image.
#include "FuzzSupport.h"
#include "PeVersion.h"

#include <QStringList>

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray image = fuzz::bytes(data, size);
    const std::optional<platform::PeVersionInfo> info = platform::peVersionInfoFromBytes(image);
    const QString version = platform::peFileVersionFromBytes(image);
    if (!info) {
        FUZZ_CHECK(version.isEmpty(), version);
        return 0;
    }
    FUZZ_CHECK(info->translation.isEmpty() || info->translation.size() == 8, info->translation);
    if (!info->translation.isEmpty()) {
        // The version is the FileVersion string of the table of that translation; names compare
        // without regard to case there, so only a table with one such name is certain.
        QStringList names;
        for (const QString& name : info->strings.keys()) {
            if (name.compare(u"FileVersion"_s, Qt::CaseInsensitive) == 0)
                names.append(name);
        }
        if (names.size() == 1)
            FUZZ_CHECK(version == info->strings.value(names.first()), version);
        if (names.isEmpty())
            FUZZ_CHECK(version.isEmpty(), version);
    }
    for (const QString& value : info->strings)
        FUZZ_CHECK(value.indexOf(QChar(0)) < 0, value);
    return 0;
}
