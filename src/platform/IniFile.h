#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The private-profile reader of the program: settings.ini and UDL files. Read only; the text is
// decoded by decodeConfigText.
namespace platform {

class IniFile
{
public:
    // Longest value returned; longer values are cut.
    static constexpr qsizetype kMaxValueLength = 2047;

    // Missing or unreadable file: an empty IniFile (every lookup gives the default).
    static IniFile load(const QString& path);
    static IniFile fromBytes(const QByteArray& bytes);
    static IniFile fromText(QStringView text);

    // Value of key in section, or defaultValue when file/section/key is missing. Section and key
    // names match without regard to case.
    QString value(const QString& section, const QString& key,
                  const QString& defaultValue = {}) const;
    bool contains(const QString& section, const QString& key) const;
    // Names as first written in the file, in file order.
    QStringList sections() const;
    QStringList keys(const QString& section) const;

private:
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        QList<Entry> entries;
        QHash<QString, qsizetype> index; // folded key -> position in entries
    };

    const Entry* find(const QString& section, const QString& key) const;

    QList<Section> m_sections;
    QHash<QString, qsizetype> m_index; // folded section name -> position in m_sections
};

// Sets one value of an INI file as the program's reader will find it: the first such key of the
// section is rewritten in place, a missing key is added at the end of the section's first
// occurrence, a missing section at the end of the file. The file keeps its encoding (UTF-16LE,
// UTF-8, Windows-1251), its line ends and every other line; a new file is UTF-8 with CR LF.
// The file is replaced whole or not at all; false when it cannot be written.
bool writeIniValue(const QString& path, const QString& section, const QString& key,
                   const QString& value);

} // namespace platform
