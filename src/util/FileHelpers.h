#pragma once

#include <QChar>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>

// File, number and window-placement helpers. Every function that reads a path accepts both "\" and
// "/" as separators.

// The "FileVersion" text of a program file; empty when there is no file at the path or it has no
// version. Any error is raised again as Error("GetFileApprVersion : \"<path>\" <cause>").
QString GetFileApprVersion(const QString& path);

// All free bytes of the file system the path lies on (the path need not exist yet); 0 when the
// system gives no answer, so that a caller checking room for a backup refuses rather than guesses.
quint64 GetDiskFreeSize(const QString& path);

// The size in bytes of the file at the path; -1 for a folder or when the size cannot be read.
// Throws MyException when nothing exists at the path.
qint64 GetFileSizeByName(const QString& path);

// The number in text whose decimal separator is `separator` (its first occurrence counts), read in
// the current locale's format: optional sign, digits, decimal separator, optional exponent;
// surrounding spaces allowed, group separators not. `def` when the text is no such number or is
// out of range. An empty separator leaves the text as it is.
long double StrToFloatAny(const QString& text, const QString& separator, long double def);

// The value in general form with at most 15 significant digits ("7", "2.25", "1e+20"), in the
// current locale's format without group separators, its decimal separator replaced by `separator`.
QString FloatToStrDot(QChar separator, long double value);

// The Russian plural form of a word for a count: `one` for 1, 21, 101; `few` for 2-4, 22-24;
// `many` for 0, 5-20, 25-30, 111. Negative counts take the form of their absolute value. A
// fractional count takes `few` and is never prefixed with the number; otherwise `addNumber` puts
// FloatToStrDot(separator, number) and a space in front. Infinite and undefined counts take `many`.
QString PluralForm(const QString& many, const QString& one, const QString& few, double number,
                   bool addNumber, QChar separator);

// The top-left corner for a window of `size`: centred over `reference` when given (kept off the
// negative side, then pulled back inside the screen's right and bottom edges, which may push a
// window larger than the screen to negative coordinates); otherwise centred in a work area of the
// given size, its origin not added.
QPoint PlaceFormPosition(const std::optional<QRect>& reference, QSize size, QSize screen,
                         QSize workArea);

// Appends to `list` the paths (folder + name) of the entries of `folder` whose names match `mask`
// (FileMask syntax; empty means "*.*"), names sorted case-insensitively. Folders are never matched
// against the mask: with `addFolders` each is appended itself, with `recursive` its entries follow
// (symbolic links to folders are listed but not entered). `attrFilter` lets in entries with the
// hidden (FileAttr::Hidden; names starting with "." on Linux), system (FileAttr::SysFile;
// none on Linux) or directory (FileAttr::Directory) attribute only when it holds that attribute.
// Listing stops once `list` holds `maxCount` items (0: no limit).
// The mask is checked before anything is read: an invalid one throws Error even for a missing or
// empty folder. An empty folder text lists nothing.
void FindFilesRecursive(const QString& folder, const QString& mask, QStringList& list,
                        bool recursive, bool addFolders, int attrFilter, int maxCount);

// Makes sure the folder of a path exists, creating missing parents. A path whose last component
// holds a dot names a file and stands for its folder ("C:\Backups\db.bak" -> "C:\Backups"); a path
// ending in a separator is a folder itself. False when there is no folder part ("db.bak") or it
// cannot be created; never throws.
bool ForceDirs(const QString& path);

// Entry attributes FindFilesRecursive filters by.
namespace FileAttr {
constexpr int Hidden = 0x02;
constexpr int SysFile = 0x04;
constexpr int Directory = 0x10;
constexpr int AnyFile = 0x1FF;
} // namespace FileAttr
