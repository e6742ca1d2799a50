#include "IniFile.h"

#include "TextDecoding.h"

#include <QFileInfo>
#include <QSaveFile>
#include <optional>

using namespace Qt::StringLiterals;

namespace platform {

namespace {

// One pair of matching quotes around the whole value is not part of it.
QStringView unquote(QStringView s)
{
    if (s.size() >= 2 && (s.front() == u'"' || s.front() == u'\'') && s.back() == s.front())
        return s.sliced(1, s.size() - 2);
    return s;
}

QString fold(QStringView name)
{
    return name.toString().toCaseFolded();
}

} // namespace

IniFile IniFile::load(const QString& path)
{
    const std::optional<QByteArray> bytes = readConfigFile(path);
    return bytes ? fromBytes(*bytes) : IniFile();
}

IniFile IniFile::fromBytes(const QByteArray& bytes)
{
    return fromText(decodeConfigText(bytes));
}

IniFile IniFile::fromText(QStringView text)
{
    IniFile ini;
    Section* current = nullptr; // keys before the first section belong nowhere
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        const QStringView line = trimBlanks(text.sliced(pos, end - pos));
        pos = end + 1; // CR LF leaves an empty line behind, which is skipped

        if (line.isEmpty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            const qsizetype close = line.indexOf(u']');
            if (close < 0)
                continue;
            const QStringView name = trimBlanks(line.sliced(1, close - 1));
            const QString key = fold(name);
            auto it = ini.m_index.constFind(key);
            if (it == ini.m_index.constEnd()) {
                it = ini.m_index.insert(key, ini.m_sections.size());
                ini.m_sections.append(Section{name.toString(), {}, {}});
            }
            current = &ini.m_sections[*it];
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0 || current == nullptr)
            continue;
        const QStringView name = trimBlanks(line.first(eq));
        if (name.isEmpty())
            continue;
        const QString key = fold(name);
        if (current->index.contains(key))
            continue; // the first of equal keys counts
        // The system reader cuts the raw text it reads; cutting the finished value instead keeps
        // a long quoted value from losing its closing quote and being returned quoted.
        QStringView value = unquote(trimBlanks(line.sliced(eq + 1)));
        if (value.size() > kMaxValueLength) {
            value.truncate(kMaxValueLength);
            if (value.back().isHighSurrogate()) // never leave half a character
                value.chop(1);
        }
        current->index.insert(key, current->entries.size());
        current->entries.append(Entry{name.toString(), value.toString()});
    }
    return ini;
}

const IniFile::Entry* IniFile::find(const QString& section, const QString& key) const
{
    const auto s = m_index.constFind(section.toCaseFolded());
    if (s == m_index.constEnd())
        return nullptr;
    const Section& sec = m_sections[*s];
    const auto k = sec.index.constFind(key.toCaseFolded());
    if (k == sec.index.constEnd())
        return nullptr;
    return &sec.entries[*k];
}

QString IniFile::value(const QString& section, const QString& key,
                       const QString& defaultValue) const
{
    const Entry* entry = find(section, key);
    return entry ? entry->value : defaultValue;
}

bool IniFile::contains(const QString& section, const QString& key) const
{
    return find(section, key) != nullptr;
}

QStringList IniFile::sections() const
{
    QStringList names;
    names.reserve(m_sections.size());
    for (const Section& s : m_sections)
        names.append(s.name);
    return names;
}

QStringList IniFile::keys(const QString& section) const
{
    QStringList names;
    const auto s = m_index.constFind(section.toCaseFolded());
    if (s == m_index.constEnd())
        return names;
    for (const Entry& e : m_sections[*s].entries)
        names.append(e.key);
    return names;
}

namespace {

enum class IniEncoding
{
    Utf16,
    Utf8Bom,
    Utf8,
    Windows1251
};

IniEncoding encodingOf(const QByteArray& bytes)
{
    if (bytes.startsWith("\xff\xfe"))
        return IniEncoding::Utf16;
    if (bytes.startsWith("\xef\xbb\xbf"))
        return IniEncoding::Utf8Bom;
    // The reader's own rule: valid UTF-8 is UTF-8, anything else Windows-1251.
    return QString::fromUtf8(bytes).toUtf8() == bytes ? IniEncoding::Utf8
                                                      : IniEncoding::Windows1251;
}

QByteArray encode(const QString& text, IniEncoding encoding)
{
    switch (encoding) {
    case IniEncoding::Utf16: {
        QByteArray bytes("\xff\xfe", 2);
        bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        return bytes;
    }
    case IniEncoding::Utf8Bom:
        return QByteArray("\xef\xbb\xbf") + text.toUtf8();
    case IniEncoding::Utf8:
        return text.toUtf8();
    case IniEncoding::Windows1251:
        return encodeWindows1251(text);
    }
    return text.toUtf8();
}

// "[name]" of a line, as the reader takes it; nothing for any other line.
std::optional<QString> sectionName(QStringView line)
{
    line = trimBlanks(line);
    if (line.isEmpty() || line.front() != u'[')
        return std::nullopt;
    const qsizetype close = line.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return trimBlanks(line.sliced(1, close - 1)).toString();
}

// The key of a "key=value" line, as the reader takes it; empty for any other line.
QString keyName(QStringView line)
{
    line = trimBlanks(line);
    if (line.isEmpty() || line.front() == u';')
        return {};
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QString() : trimBlanks(line.first(eq)).toString();
}

} // namespace

bool writeIniValue(const QString& path, const QString& section, const QString& key,
                   const QString& value)
{
    const std::optional<QByteArray> bytes = readConfigFile(path);
    if (!bytes && QFileInfo::exists(path))
        return false; // there, but not a file this reader would take: left alone
    const IniEncoding encoding = bytes ? encodingOf(*bytes) : IniEncoding::Utf8;
    const QString text = bytes ? decodeConfigText(*bytes) : QString();

    // Lines with their own ends, as the reader splits them ("\r\n", "\n" or "\r"); new lines
    // take CR LF unless the file uses LF alone.
    struct Line
    {
        QString text;
        QString end;
    };
    QList<Line> lines;
    for (qsizetype pos = 0; pos < text.size();) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        qsizetype next = end;
        if (next < text.size())
            next +=
                text[next] == u'\r' && next + 1 < text.size() && text[next + 1] == u'\n' ? 2 : 1;
        lines.append({text.sliced(pos, end - pos), text.sliced(end, next - end)});
        pos = next;
    }
    const QString lineEnd = text.contains(u'\n') && !text.contains(u"\r\n"_s) ? u"\n"_s : u"\r\n"_s;
    const Line entry{key + u'=' + value, lineEnd};

    bool inSection = false;
    bool firstSectionPassed = false;
    qsizetype insertAt = -1; // after the last non-blank line of the section's first occurrence
    bool replaced = false;
    for (qsizetype i = 0; i < lines.size() && !replaced; ++i) {
        if (const std::optional<QString> name = sectionName(lines[i].text)) {
            firstSectionPassed = firstSectionPassed || (inSection && insertAt >= 0);
            inSection = name->compare(section, Qt::CaseInsensitive) == 0;
            if (inSection && !firstSectionPassed)
                insertAt = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (keyName(lines[i].text).compare(key, Qt::CaseInsensitive) == 0) {
            lines[i].text = entry.text;
            replaced = true;
        } else if (!firstSectionPassed && !trimBlanks(lines[i].text).isEmpty()) {
            insertAt = i + 1;
        }
    }
    if (!replaced) {
        if (insertAt < 0) {
            if (!lines.isEmpty() && !trimBlanks(lines.back().text).isEmpty())
                lines.append({QString(), lineEnd});
            lines.append({u'[' + section + u']', lineEnd});
            insertAt = lines.size();
        }
        // The line before the new one must end, also the file's last.
        if (insertAt > 0 && lines[insertAt - 1].end.isEmpty())
            lines[insertAt - 1].end = lineEnd;
        lines.insert(insertAt, entry);
    }
    QString out;
    for (const Line& line : std::as_const(lines))
        out += line.text + line.end;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(encode(out, encoding)) >= 0 &&
           file.commit();
}

} // namespace platform
