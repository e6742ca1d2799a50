#pragma once

#include <QString>

// stdout and stderr of a program that may be a Windows GUI program: the batch mode's lines and
// the answers to --help and --version reach whoever started it.
namespace platform {

// A Windows GUI program started from cmd or PowerShell has no standard handles unless the caller
// redirected them: it borrows the caller's console for those that are missing, and its Ctrl+C
// with it. The first write asks too; a window run never asks, so closing the console it was
// started from does not close the window. Elsewhere, and without a caller's console, nothing
// changes.
void attachCallerConsole();

// The text as it is (no line end is added), flushed at once. On a Windows console it is written
// as UTF-16, so Cyrillic shows whatever the console's code page; anywhere else as UTF-8.
void writeStandardOutput(const QString& text);
void writeStandardError(const QString& text);

} // namespace platform
