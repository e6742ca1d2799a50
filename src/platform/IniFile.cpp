#include "IniFile.h"

#include "TextDecoding.h"

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

} // namespace platform
