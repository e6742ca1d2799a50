#include "RegistryFile.h"

#include "SettingsFolder.h"
#include "TextDecoding.h"

#include <QStringDecoder>
#include <array>

using namespace Qt::StringLiterals;

namespace platform {

namespace {

constexpr std::array<QStringView, 7> kRoots = {
    u"HKEY_CLASSES_ROOT",     u"HKEY_CURRENT_USER",   u"HKEY_LOCAL_MACHINE", u"HKEY_USERS",
    u"HKEY_PERFORMANCE_DATA", u"HKEY_CURRENT_CONFIG", u"HKEY_DYN_DATA",
};

std::optional<QStringView> canonicalRoot(QStringView name)
{
    for (const QStringView root : kRoots) {
        if (name.compare(root, Qt::CaseInsensitive) == 0)
            return root;
    }
    return std::nullopt;
}

// "ROOT" or "ROOT\folded\path"; nullopt for an unknown root or an empty path component.
std::optional<QString> normalizeKey(QStringView rootName, QStringView path)
{
    const std::optional<QStringView> root = canonicalRoot(rootName);
    if (!root)
        return std::nullopt;
    QString key = root->toString();
    if (path.isEmpty())
        return key;
    for (const QStringView part : path.tokenize(u'\\')) {
        if (part.isEmpty())
            return std::nullopt;
    }
    key += u'\\';
    key += path.toString().toCaseFolded();
    return key;
}

QString upToNul(QString text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

// A quoted string starting at s[pos] == '"' with the escapes \\ and \"; other backslashes are
// kept as written. On success pos is just past the closing quote.
std::optional<QString> parseQuoted(QStringView s, qsizetype& pos)
{
    QString out;
    qsizetype i = pos + 1;
    while (i < s.size()) {
        const QChar c = s[i];
        if (c == u'"') {
            pos = i + 1;
            return out;
        }
        if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) {
            out += s[i + 1];
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return std::nullopt;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool isHexNumber(QStringView s, qsizetype maxDigits)
{
    if (s.isEmpty() || s.size() > maxDigits)
        return false;
    for (const QChar c : s) {
        if (hexDigit(c) < 0)
            return false;
    }
    return true;
}

// "41,00,42,00": bytes of one or two hex digits separated by commas; blanks and one trailing
// comma are tolerated.
std::optional<QByteArray> parseHexList(QStringView s)
{
    QByteArray bytes;
    s = trimBlanks(s);
    if (s.isEmpty())
        return bytes;
    if (s.back() == u',')
        s.chop(1);
    bytes.reserve(s.size() / 3 + 1);
    for (const QStringView item : s.tokenize(u',')) {
        const QStringView digits = trimBlanks(item);
        if (!isHexNumber(digits, 2))
            return std::nullopt;
        int byte = 0;
        for (const QChar c : digits)
            byte = byte * 16 + hexDigit(c);
        bytes.append(static_cast<char>(byte));
    }
    return bytes;
}

bool startsWithNoCase(QStringView s, QStringView prefix)
{
    return s.startsWith(prefix, Qt::CaseInsensitive);
}

enum class DataResult
{
    Value,
    Delete,
    Bad
};

// The data after "=": "text", -, dword:n, hex:..., hex(t):...
DataResult parseData(QStringView data, bool ansiFile, RegistryValue& out)
{
    if (data == u"-")
        return DataResult::Delete;
    if (data.startsWith(u'"')) {
        qsizetype pos = 0;
        std::optional<QString> text = parseQuoted(data, pos);
        if (!text || pos != data.size())
            return DataResult::Bad;
        out = {RegistryValue::Kind::Text, upToNul(*text)};
        return DataResult::Value;
    }
    if (startsWithNoCase(data, u"dword:")) {
        if (!isHexNumber(trimBlanks(data.sliced(6)), 8))
            return DataResult::Bad;
        out = {RegistryValue::Kind::Other, {}};
        return DataResult::Value;
    }
    if (startsWithNoCase(data, u"hex:")) {
        if (!parseHexList(data.sliced(4)))
            return DataResult::Bad;
        out = {RegistryValue::Kind::Other, {}};
        return DataResult::Value;
    }
    if (startsWithNoCase(data, u"hex(")) {
        const qsizetype close = data.indexOf(u"):");
        if (close < 0 || !isHexNumber(data.sliced(4, close - 4), 8))
            return DataResult::Bad;
        const std::optional<QByteArray> bytes = parseHexList(data.sliced(close + 2));
        if (!bytes)
            return DataResult::Bad;
        const uint type = data.sliced(4, close - 4).toUInt(nullptr, 16);
        // 1 is REG_SZ written as bytes, 2 REG_EXPAND_SZ. Version 5 files hold UTF-16LE bytes;
        // REGEDIT4 files hold bytes of the ANSI code page.
        if (type == 1 || type == 2) {
            QString text;
            if (ansiFile) {
                text = decodeWindows1251(*bytes);
            } else {
                QStringDecoder utf16(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
                text = utf16(bytes->first(bytes->size() & ~qsizetype(1)));
            }
            out = {type == 1 ? RegistryValue::Kind::Text : RegistryValue::Kind::ExpandText,
                   upToNul(text)};
        } else {
            out = {RegistryValue::Kind::Other, {}};
        }
        return DataResult::Value;
    }
    return DataResult::Bad;
}

// Splits text into physical lines at CR LF, LF or CR.
class LineReader
{
public:
    explicit LineReader(QStringView text) : m_text(text) {}
    bool atEnd() const { return m_pos >= m_text.size(); }
    QStringView peek() const
    {
        qsizetype end = m_pos;
        while (end < m_text.size() && m_text[end] != u'\r' && m_text[end] != u'\n')
            ++end;
        return m_text.sliced(m_pos, end - m_pos);
    }
    QStringView next()
    {
        const QStringView line = peek();
        m_pos += line.size();
        if (m_pos < m_text.size() && m_text[m_pos] == u'\r')
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == u'\n')
            ++m_pos; // LF alone, or the LF of CR LF
        return line;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

} // namespace

RegistryFile RegistryFile::load(const QString& path)
{
    const std::optional<QByteArray> bytes = readConfigFile(path);
    return bytes ? fromText(decodeConfigText(*bytes)) : RegistryFile();
}

RegistryFile RegistryFile::fromText(const QString& text)
{
    RegistryFile reg;
    Key* current = nullptr; // values outside a valid key are skipped
    bool ansiFile = false;
    bool seenContent = false;
    LineReader lines(text);
    while (!lines.atEnd()) {
        QStringView line = trimBlanks(lines.next());
        if (line.isEmpty() || line.front() == u';')
            continue;
        if (!seenContent) {
            seenContent = true;
            if (line == u"REGEDIT4") {
                ansiFile = true;
                continue;
            }
        }
        if (line.front() == u'[') {
            current = nullptr;
            if (line.back() != u']')
                continue;
            QStringView name = line.sliced(1, line.size() - 2);
            const bool remove = name.startsWith(u'-');
            if (remove)
                name = name.sliced(1);
            const qsizetype slash = name.indexOf(u'\\');
            const QStringView root = slash < 0 ? name : name.first(slash);
            const QStringView path = slash < 0 ? QStringView() : name.sliced(slash + 1);
            const std::optional<QString> key = normalizeKey(root, path);
            if (!key || (slash >= 0 && path.isEmpty()))
                continue;
            if (remove) {
                if (!path.isEmpty()) // a root cannot be deleted
                    reg.deleteKey(*key);
            } else {
                current = &reg.m_keys[*key];
            }
            continue;
        }

        // A line ending in "\" goes on in the next line (long hex lists). A line that opens a
        // key, a value or a comment is never swallowed, so one broken line spoils only itself.
        QString joined;
        if (line.back() == u'\\') {
            joined = line.toString();
            while (!joined.isEmpty() && joined.back() == u'\\' && !lines.atEnd()) {
                const QStringView next = trimBlanks(lines.peek());
                if (next.isEmpty() || next.front() == u'[' || next.front() == u'"' ||
                    next.front() == u'@' || next.front() == u';')
                    break;
                lines.next();
                joined.chop(1);
                joined += next;
            }
            line = joined;
        }

        QString name;
        qsizetype pos = 0;
        if (line.front() == u'@') {
            pos = 1;
        } else if (line.front() == u'"') {
            std::optional<QString> quoted = parseQuoted(line, pos);
            if (!quoted)
                continue;
            name = std::move(*quoted);
        } else {
            continue;
        }
        while (pos < line.size() && isBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != u'=' || current == nullptr)
            continue;
        RegistryValue value;
        const DataResult result = parseData(trimBlanks(line.sliced(pos + 1)), ansiFile, value);
        const QString folded = name.toCaseFolded();
        if (result == DataResult::Value)
            current->values.insert(folded, std::move(value)); // a later line overrides
        else if (result == DataResult::Delete)
            current->values.remove(folded);
    }
    return reg;
}

bool RegistryFile::hasKeyOrSubkey(const QString& normalized) const
{
    if (m_keys.contains(normalized))
        return true;
    const QString prefix = normalized + u'\\';
    const auto it = m_keys.lower_bound(prefix);
    return it != m_keys.end() && it->first.startsWith(prefix);
}

void RegistryFile::deleteKey(const QString& normalized)
{
    if (!hasKeyOrSubkey(normalized))
        return;
    // The parent outlives its deleted subkey even when it existed only through it.
    const QString parent = normalized.left(normalized.lastIndexOf(u'\\'));
    m_keys.try_emplace(parent);
    m_keys.erase(normalized);
    const QString prefix = normalized + u'\\';
    auto first = m_keys.lower_bound(prefix);
    auto last = first;
    while (last != m_keys.end() && last->first.startsWith(prefix))
        ++last;
    m_keys.erase(first, last);
}

bool RegistryFile::keyExists(const QString& rootName, const QString& keyPath) const
{
    QStringView path = keyPath;
    if (path.startsWith(u'\\'))
        path = path.sliced(1);
    const std::optional<QString> key = normalizeKey(rootName, path);
    if (!key)
        return false;
    return path.isEmpty() || hasKeyOrSubkey(*key);
}

std::optional<RegistryValue> RegistryFile::value(const QString& rootName, const QString& keyPath,
                                                 const QString& valueName) const
{
    QStringView path = keyPath;
    if (path.startsWith(u'\\'))
        path = path.sliced(1);
    const std::optional<QString> key = normalizeKey(rootName, path);
    if (!key)
        return std::nullopt;
    const auto it = m_keys.find(*key);
    if (it == m_keys.end())
        return std::nullopt;
    const auto v = it->second.values.constFind(valueName.toCaseFolded());
    if (v == it->second.values.constEnd())
        return std::nullopt;
    return *v;
}

bool isRegistryRoot(QStringView name)
{
    return canonicalRoot(name).has_value();
}

QString registryFilePath()
{
    const QString overridden = qEnvironmentVariable("DBSETUP_REGISTRY");
    if (!overridden.isEmpty())
        return overridden;
    return settingsFolder() + u"registry.reg"_s;
}

RegistryFile systemRegistry()
{
    return RegistryFile::load(registryFilePath());
}

} // namespace platform
