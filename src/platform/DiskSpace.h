#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Free space of the file system a path lies on. The path need not exist yet (a backup file about
// to be written): the answer comes from its nearest existing folder. "\" is accepted as a separator
// on every system.
namespace platform {

// All free bytes of that file system, including those reserved for the administrator; nothing when
// the path is empty or the system gives no answer.
std::optional<quint64> freeBytes(const QString& path);

// The root of that file system ("C:/" on Windows, the mount point on Linux); empty when unknown.
QString mountRoot(const QString& path);

} // namespace platform
