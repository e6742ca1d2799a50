#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// An ordered list of name = value pairs whose names are compared without regard to case and
// looked up through a hash (the catalogue of known databases, for one).
class NameValueList
{
public:
    // Replaces the value of an equal name, which then takes the case of the new name, or appends.
    void setValue(const QString& name, const QString& value);
    std::optional<QString> value(const QString& name) const;
    bool contains(const QString& name) const { return m_index.contains(key(name)); }
    QStringList names() const;
    qsizetype size() const { return m_entries.size(); }
    void clear();

private:
    static QString key(const QString& name) { return name.toCaseFolded(); }

    struct Entry
    {
        QString name;
        QString value;
    };
    QList<Entry> m_entries;
    QHash<QString, qsizetype> m_index;
};
