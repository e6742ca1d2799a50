// File masks: the first line is the mask, each further line a name to match. A matching name
// must also match with its case changed, and "*" + mask + "*" must match whatever mask matches.
#include "FileMask.h"
#include "FuzzSupport.h"
#include "MyException.h"

#include <QStringList>
#include <optional>

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QStringList lines = fuzz::text(data, size).split(u'\n');
    const QString mask = lines.first();
    std::optional<FileMask> compiled;
    try {
        compiled.emplace(mask);
    } catch (const Error& e) {
        FUZZ_CHECK(e.message().startsWith(u"'"_s + mask + u"' is an invalid mask at ("_s),
                   e.message());
        bool raised = false;
        try {
            MatchesMask(u"x"_s, mask);
        } catch (const Error&) {
            raised = true;
        }
        FUZZ_CHECK(raised, mask);
        return 0;
    }
    const FileMask wide(u"*"_s + mask + u"*"_s);
    for (qsizetype i = 1; i < lines.size() && i < 16; ++i) {
        const QString& name = lines[i];
        const bool matches = compiled->matches(name);
        FUZZ_CHECK(matches == MatchesMask(name, mask), name);
        // Where upper case maps back to the same lower case, it must match the same way.
        const QString upper = name.toUpper();
        if (upper.toLower() == name.toLower())
            FUZZ_CHECK(matches == compiled->matches(upper), name);
        if (matches)
            FUZZ_CHECK(wide.matches(name), name);
    }
    // Stars only: everything matches.
    if (!mask.isEmpty() && mask.count(u'*') == mask.size())
        FUZZ_CHECK(compiled->matches(lines.value(1)), mask);
    return 0;
}
