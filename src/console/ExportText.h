#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariant>
#include <functional>
#include <span>

// The fields of one record in export form; valid only during the call that hands them over.
using RecordFields = std::span<const QStringView>;

// What export reads: the whole result, from the first record to the last, whatever the grid shows.
class ResultRows
{
public:
    virtual ~ResultRows() = default;
    // False when there is no result to export: no query run yet, or the last one failed.
    virtual bool isOpen() const = 0;
    virtual QStringList fieldNames() const = 0;
    // Calls onRecord with the field texts of every record, first to last; onRecord returns false
    // to stop. Texts are already in their export form, the grid's (see console::FieldFormat).
    // Throws Error before the first record when the whole result can no longer be read.
    virtual void forEachRecord(const std::function<bool(RecordFields fields)>& onRecord) = 0;
};

// A value in the one form it is kept in, the same on every machine whatever its regional
// settings (the grid and the export show it through console::FieldFormat): NULL as "", text as
// it is, integers in decimal, floating numbers with "." in the shortest form that reads back
// exactly, binary as "0x" + upper-case hex, QDate "yyyy-MM-dd", QDateTime
// "yyyy-MM-dd HH:mm:ss.zzz", QTime "HH:mm:ss.zzz", bool as "1"/"0".
QString FieldText(const QVariant& value);

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
