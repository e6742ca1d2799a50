#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
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
