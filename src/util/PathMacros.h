#pragma once

#include <QString>

// Path macros ("%appdir%", "%registry:...%" and the rest) and the text helpers they are built
// from. Every function asks the system anew on each call; nothing is cached. Positions count
// from 1.

// The first occurrence of target at or after startPos replaced; an empty target inserts
// replacement at startPos.
QString ReplaceText(const QString& replacement, const QString& target, const QString& source,
                    qsizetype startPos = 1);
// Every occurrence replaced. When the replacement does not contain the target, the inserted text
// is searched again, so a match it forms with the following text is replaced as well.
QString ReplaceAllText(const QString& replacement, const QString& target, const QString& source,
                       qsizetype startPos = 1);

// Expands the macros of a path and resolves its "\.." steps; a step above the first component
// gives the empty text. Errors of the registry read pass through.
QString ExpandMacros(const QString& text);
// Resolves "\..\" steps as ExpandMacros does; the empty text when a step climbs too high.
QString ResolveParentSteps(const QString& path);

// "ROOT\key\path\value": the text value named, or the empty text when anything is missing. A value
// of a non-text type raises Error("Invalid data type for '<value name>'").
QString ReadRegistryValue(const QString& reference);

// The installation tag: MD5 of the first L bytes of the UTF-16LE text (L = its length in
// characters), digest bytes written as decimal numbers. An empty text raises.
QString StringToMD5Str(const QString& text);

// Folder lookups; each folder ends with a separator.
QString GetAppDir();
QString GetTempDir();
QString GetSpecialFolder(int csidl);
QString GetProgramFilesDir();
QString GetProgramFilesX86Dir();
QString GetShellFolder(const QString& rootName, const QString& valueName);
QString GetAppDataDir();
QString GetSystemDir();
bool IsWow64();

constexpr int CSIDL_PERSONAL = 5;
constexpr int CSIDL_APPDATA = 26;
constexpr int CSIDL_PROGRAM_FILES = 38;
constexpr int CSIDL_PROGRAM_FILESX86 = 42;
