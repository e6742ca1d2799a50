#pragma once

#include <QString>

// Paths as the server and the backup's description see them; no server is asked.

// "C:" for a drive path, "\\server\share" for a network path, "" for a relative path; on this
// system an absolute local path gives the root of its file system.
QString DrivePart(const QString& path);
// "REMOVABLE" unless the backup file lies on the drive of the application or of the system.
QString IsRemovableDrive(const QString& backupFile, const QString& apprNamePathName,
                         const QString& systemDir);
// A path with a drive letter or a network path names a place on a Windows server when the program
// runs elsewhere: local checks on it mean nothing.
bool IsServerSidePath(const QString& path);
