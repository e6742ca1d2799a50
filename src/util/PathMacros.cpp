#include "PathMacros.h"

#include "MyException.h"
#include "PathText.h"
#include "SpecialFolders.h"
#include "SystemRegistry.h"

#include <QCryptographicHash>
using namespace Qt::StringLiterals;

namespace {

// Index (0-based) where a 1-based start position begins a search, or -1 when it finds nothing.
qsizetype searchFrom(qsizetype startPos, const QString& source)
{
    if (startPos < 1 || startPos > source.size() + 1)
        return -1;
    return startPos - 1;
}

// Where an empty target inserts the replacement: below 1 counts as 1, past the end appends.
QString insertAt(const QString& replacement, const QString& source, qsizetype startPos)
{
    // Compared before subtracting, so the lowest position cannot overflow.
    const qsizetype index = startPos < 1 ? 0 : std::min(startPos - 1, source.size());
    QString result = source;
    result.insert(index, replacement);
    return result;
}

// Reads a text value; nullopt when the key or the value is missing.
std::optional<QString> readTextValue(const QString& root, const QString& keyPath,
                                     const QString& valueName)
{
    const std::optional<platform::RegistryValue> value =
        platform::readSystemRegistry(root, keyPath, valueName);
    if (!value)
        return std::nullopt;
    if (value->kind == platform::RegistryValue::Kind::Other)
        throw Error(u"Invalid data type for '%1'"_s.arg(valueName));
    const qsizetype nul = value->text.indexOf(QChar(0));
    return nul < 0 ? value->text : value->text.left(nul);
}

const QString shellFoldersKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"_s;

} // namespace

QString ReplaceText(const QString& replacement, const QString& target, const QString& source,
                    qsizetype startPos)
{
    if (target.isEmpty())
        return insertAt(replacement, source, startPos);
    const qsizetype from = searchFrom(startPos, source);
    const qsizetype at = from < 0 ? -1 : source.indexOf(target, from);
    if (at < 0)
        return source;
    QString result = source;
    result.replace(at, target.size(), replacement);
    return result;
}

QString ReplaceAllText(const QString& replacement, const QString& target, const QString& source,
                       qsizetype startPos)
{
    if (target.isEmpty())
        return insertAt(replacement, source, startPos);
    QString result = source;
    const qsizetype from = searchFrom(startPos, result);
    qsizetype at = from < 0 ? -1 : result.indexOf(target, from);
    // A replacement holding the target must not be searched again, or the loop would never end;
    // any other replacement is, so a match it forms with the following text is replaced too.
    const qsizetype step = replacement.contains(target) ? replacement.size() : 0;
    while (at >= 0) {
        result.replace(at, target.size(), replacement);
        at = result.indexOf(target, at + step);
    }
    return result;
}

QString ResolveParentSteps(const QString& path)
{
    QString text = path;
    qsizetype searchPos = 0;
    for (;;) {
        qsizetype step = -1;
        for (qsizetype i = searchPos; i + 3 < text.size(); ++i) {
            if (pathtext::isSeparator(text[i]) && text[i + 1] == u'.' && text[i + 2] == u'.' &&
                pathtext::isSeparator(text[i + 3])) {
                step = i;
                break;
            }
        }
        if (step < 0)
            return text;
        const qsizetype parent = pathtext::lastSeparator(text.left(step));
        if (parent < 0)
            return {};
        // "a\b\..\c": drop "\b\.." and keep the separator before "c".
        text.remove(parent, step + 3 - parent);
        searchPos = parent;
    }
}

QString ExpandMacros(const QString& text)
{
    QString result = text;
    result = ReplaceAllText(GetTempDir(), u"%tmp%"_s, result);
    result = ReplaceAllText(GetAppDir(), u"%appdir%"_s, result);
    result = ReplaceAllText(GetProgramFilesDir(), u"%programfiles%"_s, result);
    result = ReplaceAllText(GetProgramFilesX86Dir(), u"%programfilesx86%"_s, result);
    result = ReplaceAllText(GetSpecialFolder(CSIDL_PERSONAL), u"%mydocuments%"_s, result);
    result = ReplaceAllText(GetAppDataDir(), u"%appdata%"_s, result);

    const QString md5Token = u"%md5_path_program%"_s;
    if (result.contains(md5Token))
        result = ReplaceAllText(StringToMD5Str(GetAppDir()), md5Token, result);

    // One registry reference per call: a second, different one stays as it is.
    const QString registryToken = u"%registry:"_s;
    const qsizetype open = result.indexOf(registryToken);
    if (open >= 0) {
        const qsizetype refStart = open + registryToken.size();
        const qsizetype close = result.indexOf(u'%', refStart);
        if (close >= 0) {
            const QString reference = result.mid(refStart, close - refStart);
            result = ReplaceAllText(ReadRegistryValue(reference), registryToken + reference + u'%',
                                    result);
        }
    }
    return ResolveParentSteps(result);
}

QString ReadRegistryValue(const QString& reference)
{
    const qsizetype firstSlash = reference.indexOf(u'\\');
    if (firstSlash < 0)
        return {};
    const QString root = reference.left(firstSlash);
    if (!platform::isRegistryRoot(root))
        return {};
    const QString remainder = reference.mid(firstSlash + 1);
    // Split as a file path: the value name follows the last "\" or ":"; a ":" stays in the key.
    const qsizetype split = std::max(remainder.lastIndexOf(u'\\'), remainder.lastIndexOf(u':'));
    const QString valueName = remainder.mid(split + 1);
    QString keyPath = remainder.left(split + 1);
    if (keyPath.endsWith(u'\\'))
        keyPath.chop(1);
    if (keyPath.startsWith(u'\\'))
        keyPath.remove(0, 1);
    return readTextValue(root, keyPath, valueName).value_or(QString());
}

QString StringToMD5Str(const QString& text)
{
    if (text.isEmpty())
        throw Error(u"StringToMD5Str Str cant be EMPTY!"_s);
    // Only the first L bytes of the UTF-16LE form, L being the number of characters: the tag has
    // always been made this way, and installed copies are known by it.
    QByteArray utf16;
    utf16.reserve(text.size() * 2);
    for (const QChar c : text) {
        utf16.append(static_cast<char>(c.unicode() & 0xFF));
        utf16.append(static_cast<char>(c.unicode() >> 8));
    }
    const QByteArray digest =
        QCryptographicHash::hash(utf16.left(text.size()), QCryptographicHash::Md5);
    QString tag;
    for (const char byte : digest)
        tag += QString::number(static_cast<unsigned char>(byte));
    return tag;
}

QString GetAppDir()
{
    return pathtext::withTrailingSeparator(platform::executableDir());
}

QString GetTempDir()
{
    return pathtext::withTrailingSeparator(platform::tempDir());
}

QString GetSpecialFolder(int csidl)
{
    QString folder;
    switch (csidl) {
    case CSIDL_PERSONAL:
        folder = platform::documentsDir();
        break;
    case CSIDL_APPDATA:
        folder = platform::appDataDir();
        break;
    case CSIDL_PROGRAM_FILES:
        folder = platform::programFilesDir();
        break;
    case CSIDL_PROGRAM_FILESX86:
        folder = platform::programFilesX86Dir();
        break;
    default:
        break;
    }
    return pathtext::withTrailingSeparator(folder);
}

QString GetProgramFilesDir()
{
    QString folder = platform::programFilesDir();
    if (folder.isEmpty())
        return {};
    // A 32-bit process on 64-bit Windows is told the " (x86)" folder; the native one is wanted.
    if (IsWow64())
        folder = ReplaceAllText(QString(), u" (x86)"_s, folder);
    return pathtext::withTrailingSeparator(folder);
}

QString GetProgramFilesX86Dir()
{
    const QString folder = platform::programFilesX86Dir();
    if (folder.isEmpty())
        return GetProgramFilesDir();
    return pathtext::withTrailingSeparator(folder);
}

QString GetShellFolder(const QString& rootName, const QString& valueName)
{
    return pathtext::withTrailingSeparator(
        readTextValue(rootName, shellFoldersKey, valueName).value_or(QString()));
}

QString GetAppDataDir()
{
    // The registry stand-in decides when it names the folder (a non-text value still raises);
    // otherwise the system's own answer.
    const std::optional<QString> fromRegistry =
        readTextValue(u"HKEY_CURRENT_USER"_s, shellFoldersKey, u"AppData"_s);
    if (fromRegistry)
        return pathtext::withTrailingSeparator(*fromRegistry);
    return GetSpecialFolder(CSIDL_APPDATA);
}

QString GetSystemDir()
{
    return pathtext::withTrailingSeparator(platform::systemDir());
}

bool IsWow64()
{
    return platform::isWow64();
}
