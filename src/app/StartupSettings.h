#pragma once

#include <QString>

// How settings.ini values are read where they are not plain text.

// An integer used as a flag: decimal or "0x" hexadecimal, not zero means on; anything else is
// off.
bool ParseIniFlag(const QString& text);

// The size limit of one stored file in bytes; 10485760 (10 MiB) unless a valid 64-bit integer.
constexpr qint64 defaultMaxSizeAddDB = 10485760;
qint64 ParseMaxSizeAddDB(const QString& text);
