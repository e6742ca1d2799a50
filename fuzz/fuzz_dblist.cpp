// dbs.xml: the bytes are the catalogue file that LoadDBList reads through LoadXML.
#include "FuzzSupport.h"
#include "MyException.h"
#include "XMLUtils.h"

#include <QDomDocument>

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    const QString xmlPath = fuzz::writeInputFile(u"dbs.xml"_s, input);
    QDomDocument doc;
    const bool loaded = LoadXML(&doc, xmlPath, false, QString(), true);

    DBCatalogue catalogue;
    catalogue.items.append(u"stale"_s);
    bool raised = false;
    try {
        LoadDBList(xmlPath, catalogue);
    } catch (const MyException& e) {
        raised = true;
        FUZZ_CHECK(e.message().contains(xmlPath), e.message());
    }
    FUZZ_CHECK(raised == !loaded, u"LoadXML and LoadDBList disagree"_s);
    if (raised) {
        FUZZ_CHECK(catalogue.items.isEmpty() && catalogue.paths.size() == 0,
                   u"a failed load left entries"_s);
        return 0;
    }
    for (const QString& name : catalogue.items) {
        const std::optional<QString> paths = catalogue.paths.value(name);
        FUZZ_CHECK(paths.has_value(), name);
        // Four paths, each followed by a TAB.
        FUZZ_CHECK(paths->endsWith(u'\t') && paths->count(u'\t') >= 4, *paths);
    }
    return 0;
}
