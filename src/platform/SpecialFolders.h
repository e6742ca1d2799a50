#pragma once

#include <QString>

// Where this machine keeps the folders that Windows names by shell folder ids. Each answer is a
// folder path without a trailing separator, or the empty text when the system has none.
namespace platform {

QString executableDir();
QString tempDir();
// The user's documents folder, created when missing.
QString documentsDir();
QString appDataDir();
// Linux has no Program Files: optional software lives under /opt.
QString programFilesDir();
QString programFilesX86Dir();
QString systemDir();
// 32-bit process on 64-bit Windows; never on Linux.
bool isWow64();

} // namespace platform
