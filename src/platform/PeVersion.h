#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>

// Reads the version resource of a Windows executable (.exe/.dll) on any platform, giving the same
// answers as GetFileVersionInfo + VerQueryValue would on Windows. Hostile or truncated files give
// empty answers: every offset is checked, and at most a few megabytes are ever read from a file.
namespace platform {

struct PeVersionInfo
{
    // Eight upper-case hex digits, language first (041904B0 = Russian, Unicode), of the first entry
    // of \VarFileInfo\Translation; empty when the file has no translation table.
    QString translation;
    // Name -> value of the StringTable for that translation; empty when there is none.
    QMap<QString, QString> strings;
};

// The "FileVersion" string of the first translation of the file's version resource, or empty text
// when the file is missing, unreadable, not a PE file, has no version resource, no translation
// table or no such string.
QString peFileVersion(const QString& path);
// Same on bytes already read.
QString peFileVersionFromBytes(const QByteArray& image);

// nullopt when there is no readable version resource.
std::optional<PeVersionInfo> peVersionInfo(const QString& path);
std::optional<PeVersionInfo> peVersionInfoFromBytes(const QByteArray& image);

} // namespace platform
