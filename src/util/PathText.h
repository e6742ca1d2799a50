#pragma once

#include <QString>

// Paths come from Windows users, UDL and XML files written on Windows and from the server, so
// every reader accepts both "\" and "/"; the program writes the native separator.
namespace pathtext {

QChar nativeSeparator();
inline bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}
// The folder with one separator at its end; the empty text gives the separator alone.
QString withTrailingSeparator(const QString& folder);
// Index of the last "\" or "/" in text, or -1.
qsizetype lastSeparator(const QString& text);

} // namespace pathtext
