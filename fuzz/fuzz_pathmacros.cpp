// ExpandMacros and the text helpers it is built from. The registry it reads is a file of this run
// with text, expandable and non-text values, so "%registry:...%" references find something.
#include "FuzzSupport.h"
#include "MyException.h"
#include "PathMacros.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initApplication(argc, argv);
    static QTemporaryDir dir;
    const QString path = dir.filePath(u"registry.reg"_s);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    file.write(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n"
        "\"Path\"=\"C:\\\\Program Files\\\\Test\\\\\"\r\n"
        "\"Up\"=\"..\\\\..\\\\x\"\r\n"
        "\"Macro\"=\"%tmp%\\\\%registry:HKEY_LOCAL_MACHINE\\\\Software\\\\Test\\\\Path%\"\r\n"
        "\"Count\"=dword:00000001\r\n"
        "@=\"default\"\r\n"
        "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
        "Shell Folders]\r\n"
        "\"AppData\"=\"/home/user/AppData/\"\r\n");
    file.close();
    qputenv("DBSETUP_REGISTRY", path.toLocal8Bit());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzz::text(data, size);
    static const QRegularExpression step(uR"([\\/]\.\.[\\/])"_s);
    try {
        const QString expanded = ExpandMacros(text);
        FUZZ_CHECK(!expanded.contains(step), expanded);
        FUZZ_CHECK(ResolveParentSteps(expanded) == expanded, expanded);
    } catch (const Error& e) {
        // Only a non-text registry value raises.
        FUZZ_CHECK(e.message().startsWith(u"Invalid data type for '"_s), e.message());
    }

    // The helpers on their own: replacement, target, source and a start position.
    const QStringList parts = text.split(u'\n');
    if (parts.size() >= 3) {
        const qsizetype start = parts.size() > 3 ? parts[3].toLongLong() : 1;
        const QString once = ReplaceText(parts[0], parts[1], parts[2], start);
        const QString all = ReplaceAllText(parts[0], parts[1], parts[2], start);
        if (parts[1].isEmpty())
            FUZZ_CHECK(once == all && once.size() == parts[0].size() + parts[2].size(), once);
        else if (!parts[2].contains(parts[1]))
            FUZZ_CHECK(once == parts[2] && all == parts[2], all);
    }
    if (!text.isEmpty())
        FUZZ_CHECK(!StringToMD5Str(text).isEmpty(), text);
    return 0;
}
