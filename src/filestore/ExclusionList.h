#pragma once

#include <QString>
#include <QStringList>

// The masks of files never stored with the database: the lines of exclusion_mask_backup_file.txt
// in settingsDir when it exists, else the built-in default.udl, *.ldf, *.mdf, *.bak. A file that
// exists but cannot be read throws Error rather than storing what the operator meant to keep out.
QStringList LoadExclusionList(const QString& settingsDir);
// Whether the file name (without folder) matches one of the masks, tried in order; false without a
// list. Throws Error for a bad mask that is reached.
bool IsExcludedFile(const QString& fileName, const QStringList* exclusions);
