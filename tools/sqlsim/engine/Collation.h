#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

// The server's collation and the single-byte code pages behind the collations the simulator
// knows. Header-only: the wire layer (which links no engine code) encodes VARCHAR values and
// collation bytes with it too.
namespace sqlsim {

struct Collation
{
    QString name;
    quint32 lcid = 0;
    int codePage = 0;
    bool ignoreCase = true;
    bool ignoreAccent = false;
    bool ignoreKana = true;
    bool ignoreWidth = true;
    bool binary = false;
    quint8 sortId = 0;

    // The five bytes of TDS's COLLATION: LCID in 20 bits, then the flags, the version and the
    // SQL sort id (MS-TDS 2.2.5.1.2).
    QByteArray tdsBytes() const
    {
        quint32 info = lcid & 0xFFFFF;
        if (ignoreCase)
            info |= 1u << 20;
        if (ignoreAccent)
            info |= 1u << 21;
        if (ignoreKana)
            info |= 1u << 22;
        if (ignoreWidth)
            info |= 1u << 23;
        if (binary)
            info |= 1u << 24;
        QByteArray out(5, '\0');
        for (int i = 0; i < 4; ++i)
            out[i] = char((info >> (8 * i)) & 0xFF);
        out[4] = char(sortId);
        return out;
    }

    // COLLATIONPROPERTY's ComparisonStyle: IgnoreCase 1, IgnoreAccent 2, IgnoreKana 65536,
    // IgnoreWidth 131072; binary collations 0.
    int comparisonStyle() const
    {
        if (binary)
            return 0;
        return (ignoreCase ? 1 : 0) | (ignoreAccent ? 2 : 0) | (ignoreKana ? 65536 : 0) |
               (ignoreWidth ? 131072 : 0);
    }
};

namespace collation_detail {

// Bytes 0x80..0xFF of Windows-1251 (0xC0..0xFF are U+0410..U+044F, filled in below). The
// unassigned byte 0x98 is U+0098, as the system converters have it, so every byte round-trips.
constexpr std::array<char16_t, 64> cp1251High = {
    u'\u0402', u'\u0403', u'\u201A', u'\u0453', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u20AC', u'\u2030', u'\u0409', u'\u2039', u'\u040A', u'\u040C', u'\u040B', u'\u040F',
    u'\u0452', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u0098', u'\u2122', u'\u0459', u'\u203A', u'\u045A', u'\u045C', u'\u045B', u'\u045F',
    u'\u00A0', u'\u040E', u'\u045E', u'\u0408', u'\u00A4', u'\u0490', u'\u00A6', u'\u00A7',
    u'\u0401', u'\u00A9', u'\u0404', u'\u00AB', u'\u00AC', u'\u00AD', u'\u00AE', u'\u0407',
    u'\u00B0', u'\u00B1', u'\u0406', u'\u0456', u'\u0491', u'\u00B5', u'\u00B6', u'\u00B7',
    u'\u0451', u'\u2116', u'\u0454', u'\u00BB', u'\u0458', u'\u0405', u'\u0455', u'\u0457',
};

// Bytes 0x80..0x9F of Windows-1252; 0xA0..0xFF are U+00A0..U+00FF. The five unassigned bytes
// keep their own code points.
constexpr std::array<char16_t, 32> cp1252High = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178',
};

inline char16_t decodeByte(unsigned char b, int codePage)
{
    if (b < 0x80)
        return b;
    if (codePage == 1251)
        return b >= 0xC0 ? char16_t(0x0410 + (b - 0xC0)) : cp1251High[b - 0x80u];
    return b >= 0xA0 ? char16_t(b) : cp1252High[b - 0x80u];
}

inline std::optional<char> encodeChar(char16_t c, int codePage)
{
    if (c < 0x80)
        return char(c);
    // The letters of each page without a search: long texts are mostly these.
    if (codePage == 1251 && c >= 0x0410 && c <= 0x044F)
        return char(0xC0 + (c - 0x0410));
    if (codePage == 1252 && c >= 0xA0 && c <= 0xFF)
        return char(c);
    for (int b = 0x80; b <= 0xFF; ++b) {
        if (decodeByte(static_cast<unsigned char>(b), codePage) == c)
            return char(b);
    }
    return std::nullopt;
}

inline Collation& server()
{
    static Collation current = [] {
        Collation c;
        c.name = QStringLiteral("Cyrillic_General_CI_AS");
        c.lcid = 0x0419;
        c.codePage = 1251;
        return c;
    }();
    return current;
}

} // namespace collation_detail

// A Windows collation name such as Cyrillic_General_CI_AS or Latin1_General_CS_AI_KS_WS, or
// Latin1_General_BIN2, or the SQL collation SQL_Latin1_General_CP1_CI_AS; nullopt for a name
// of another alphabet or one that is no collation name ("Windows Collation Name" and "SQL
// Server Collation Name" in the documentation).
inline std::optional<Collation> findCollation(const QString& name)
{
    struct Family
    {
        const char16_t* prefix;
        quint32 lcid;
        int codePage;
        quint8 sortIdCiAs; // SQL collations: the sort id of _CI_AS, else 0
    };
    static const Family families[] = {
        {u"Cyrillic_General_", 0x0419, 1251, 0},
        {u"Latin1_General_", 0x0409, 1252, 0},
        {u"SQL_Latin1_General_CP1_", 0x0409, 1252, 52},
    };
    for (const Family& f : families) {
        const QString prefix = QString::fromUtf16(f.prefix);
        if (!name.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const QString suffix = name.mid(prefix.size()).toUpper();
        Collation c;
        c.name = prefix + suffix;
        c.lcid = f.lcid;
        c.codePage = f.codePage;
        if (f.sortIdCiAs != 0) {
            // Only the SQL collation most servers carry.
            if (suffix != u"CI_AS")
                return std::nullopt;
            c.sortId = f.sortIdCiAs;
            return c;
        }
        if (suffix == u"BIN" || suffix == u"BIN2") {
            c.binary = true;
            c.ignoreCase = c.ignoreKana = c.ignoreWidth = false;
            return c;
        }
        const QStringList parts = suffix.split(u'_');
        if (parts.size() < 2 || parts.size() > 4)
            return std::nullopt;
        if (parts[0] != u"CI" && parts[0] != u"CS")
            return std::nullopt;
        if (parts[1] != u"AI" && parts[1] != u"AS")
            return std::nullopt;
        c.ignoreCase = parts[0] == u"CI";
        c.ignoreAccent = parts[1] == u"AI";
        for (qsizetype i = 2; i < parts.size(); ++i) {
            if (parts[i] == u"KS" && c.ignoreKana && i == 2)
                c.ignoreKana = false;
            else if (parts[i] == u"WS" && c.ignoreWidth)
                c.ignoreWidth = false;
            else
                return std::nullopt;
        }
        return c;
    }
    return std::nullopt;
}

// The code page of a COLLATION received on the wire (a VARCHAR parameter's), by its LCID or SQL
// sort id; 0 when it is not one of ours.
inline int codePageOfTdsCollation(const QByteArray& bytes)
{
    if (bytes.size() < 5)
        return 0;
    const quint32 lcid =
        (quint8(bytes[0]) | (quint8(bytes[1]) << 8) | (quint8(bytes[2]) << 16)) & 0xFFFFF;
    const quint8 sortId = quint8(bytes[4]);
    if (sortId == 52 || sortId == 51 || sortId == 54)
        return 1252;
    switch (lcid) {
    case 0x0419: // Russian
    case 0x0422: // Ukrainian
    case 0x0423: // Belarusian
    case 0x0402: // Bulgarian
        return 1251;
    case 0x0409: // English (United States)
    case 0x0407: // German
    case 0x040C: // French
    case 0x0410: // Italian
    case 0x0C0A: // Spanish
        return 1252;
    default:
        return 0;
    }
}

inline const Collation& serverCollation()
{
    return collation_detail::server();
}

// Set once at start-up, before any session runs.
inline void setServerCollation(const Collation& collation)
{
    collation_detail::server() = collation;
}

// Text in a single-byte code page; a character outside it becomes '?' (a surrogate pair one
// '?'), as SQL Server converts Unicode to a non-Unicode type ("Collation and Unicode support").
inline QByteArray encodeCodePage(const QString& text, int codePage)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            out.append('?');
            continue;
        }
        out.append(collation_detail::encodeChar(c.unicode(), codePage).value_or('?'));
    }
    return out;
}

inline QString decodeCodePage(const QByteArray& bytes, int codePage)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* p = out.data();
    for (const char ch : bytes)
        *p++ = QChar(collation_detail::decodeByte(static_cast<unsigned char>(ch), codePage));
    return out;
}

// What text keeps of itself in a non-Unicode value of the server's collation.
inline QString throughServerCodePage(const QString& text)
{
    const int codePage = serverCollation().codePage;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return decodeCodePage(encodeCodePage(text, codePage), codePage);
    }
    return text;
}

} // namespace sqlsim
