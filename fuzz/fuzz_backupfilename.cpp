// RemoveDoubleBackslashes on a backup file name typed or pasted by the operator.
#include "BackupFileName.h"
#include "FuzzSupport.h"

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzz::text(data, size);
    const QString once = RemoveDoubleBackslashes(text);
    FUZZ_CHECK(!once.contains(u"\\\\"_s), once);
    FUZZ_CHECK(RemoveDoubleBackslashes(once) == once, once);
    // Only backslashes go: the rest stands in its order.
    QString withoutBackslashes = text;
    withoutBackslashes.remove(u'\\');
    QString onceWithout = once;
    onceWithout.remove(u'\\');
    FUZZ_CHECK(withoutBackslashes == onceWithout, once);
    FUZZ_CHECK(text.isEmpty() == once.isEmpty(), once);
    return 0;
}
