#include "NameValueList.h"

void NameValueList::setValue(const QString& name, const QString& value)
{
    const auto found = m_index.constFind(key(name));
    if (found != m_index.constEnd()) {
        m_entries[*found] = {name, value};
        return;
    }
    m_index.insert(key(name), m_entries.size());
    m_entries.append({name, value});
}

std::optional<QString> NameValueList::value(const QString& name) const
{
    const auto found = m_index.constFind(key(name));
    if (found == m_index.constEnd())
        return std::nullopt;
    return m_entries[*found].value;
}

QStringList NameValueList::names() const
{
    QStringList result;
    result.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        result.append(entry.name);
    return result;
}

void NameValueList::clear()
{
    m_entries.clear();
    m_index.clear();
}
