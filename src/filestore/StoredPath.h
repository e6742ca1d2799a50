#pragma once

#include <QString>
#include <QStringList>

// A path as the store's table keeps it, and the way back. The table holds a path relative to the
// installation folder with "\" separators, every "\" and '"' doubled: stores written by earlier
// versions read back alike.
namespace filestore {

// Paths from settings and macros may hold "\"; Linux only knows "/".
QString localPath(const QString& path);
// Blanks and control characters at both ends removed.
QString trimControls(const QString& text);
// A relative path with "\" separators in the table's form.
QString storedPathText(const QString& relativePath);

// A stored path made local: the components between runs of "\" and "/", or why it must not be
// written (it leads out of the folder, names no file, holds NUL).
struct LocalTarget
{
    QStringList components;
    QString refusal;
};
LocalTarget resolveStoredPath(const QString& storedPath);

} // namespace filestore
