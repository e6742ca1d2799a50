#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

// Text of the configuration files the program reads (settings.ini, UDL files, registry exports)
// and of the files it exports in the ANSI code page, which here is always Windows-1251.
namespace platform {

// Files above this size are not configuration files; refusing them keeps memory bounded.
inline constexpr qint64 kMaxConfigFileBytes = 256LL * 1024 * 1024;

// BOM FF FE: UTF-16LE. BOM EF BB BF: UTF-8. Otherwise UTF-8 when the bytes are valid UTF-8, else
// Windows-1251. The BOM is never part of the result.
QString decodeConfigText(const QByteArray& bytes);

QString decodeWindows1251(const QByteArray& bytes);
// Characters without a Windows-1251 byte become '?'.
QByteArray encodeWindows1251(const QString& text);

// Whether the text survives a round trip through the Windows code page (1252, 1250, ...): no
// character dropped, replaced or approximated. nullopt when the system has no such code page.
std::optional<bool> fitsCodePage(const QString& text, int codePage);

// The bytes of a regular file of at most maxBytes bytes; nullopt for anything else (missing,
// unreadable, a device or pipe, too large), so a hostile path can neither hang nor exhaust memory.
std::optional<QByteArray> readConfigFile(const QString& path,
                                         qint64 maxBytes = kMaxConfigFileBytes);

inline bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}
// The text without the spaces and tabs around it, as configuration readers trim values.
QStringView trimBlanks(QStringView text);

} // namespace platform
