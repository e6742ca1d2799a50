// The exclusion list of the file store: the input is exclusion_mask_backup_file.txt beside the
// program. Each mask it holds is tried on a few names as storing would; a bad mask may only end
// in the program's own error.
#include "FileStore.h"
#include "FuzzSupport.h"
#include "MyException.h"

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString exclusionFile =
        fuzz::writeInputFile(u"exclusion_mask_backup_file.txt"_s, fuzz::bytes(data, size));
    const QString programPath = exclusionFile.left(exclusionFile.lastIndexOf(u'/') + 1);
    QStringList masks;
    try {
        masks = LoadExclusionList(programPath);
    } catch (const Error&) {
        return 0;
    }
    static const QString names[] = {u"ostrel.exe"_s, u"default.udl"_s, u"Данные.MDF"_s,
                                    u"a.b.c"_s,      u"noext"_s,       u".hidden"_s};
    for (const QString& name : names) {
        try {
            (void)IsExcludedFile(name, &masks);
        } catch (const Error&) {
        }
    }
    // Every line is a mask of its own: a name equal to a plain mask is excluded.
    for (const QString& mask : std::as_const(masks)) {
        if (mask.isEmpty() || mask.contains(u'*') || mask.contains(u'?') || mask.contains(u'[') ||
            mask.contains(u'\\'))
            continue;
        bool excluded = false;
        try {
            excluded = IsExcludedFile(mask, &masks);
        } catch (const Error&) {
            continue; // an earlier bad mask was reached first
        }
        FUZZ_CHECK(excluded, mask);
    }
    return 0;
}
