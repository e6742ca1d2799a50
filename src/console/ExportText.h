#pragma once

#include "FieldText.h"
#include "ResultRows.h"

#include <QIODevice>
#include <QString>

// The export text: the header line of field names, then one line per record, fields joined by
// TAB, CR LF after every line (the last too). Nothing is quoted or escaped: a TAB, CR or LF inside
// a value goes in unchanged, as spreadsheets expect of pasted text. Throws Error, before reading
// anything, when rows has no result.
QString ExportText(ResultRows& rows);

// ExportText written to out record by record in Windows-1251 without a byte-order mark, characters
// the code page lacks as "?"; gives how many characters became "?" (a surrogate pair is one).
// Memory stays bounded whatever the number of records. Throws Error naming the failure when out
// refuses bytes (disk full, no rights); reading stops there. Without a result it throws as
// ExportText does, before a byte is written.
qint64 WriteExportFile(ResultRows& rows, QIODevice& out);
