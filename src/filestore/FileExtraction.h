#pragma once

#include "FileStore.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;
class OperatorUi;
namespace db {
class Connection;
}

struct ExtractOptions
{
    PumpMessages pump;
    // Wraps the temporary file a stored file is written to; the wrapper's writes must reach the
    // file. Tests use it to make a write fail part way.
    std::function<std::unique_ptr<QIODevice>(QIODevice& file)> wrapOutput;
    // Rows not written end the extraction with MyException (the same list) instead of a
    // warning: a run without an operator has only its exit code to tell.
    bool failOnSkipped = false;
    // Free bytes of the disk a folder is on, asked after a failed write; tests replace it.
    std::function<std::optional<quint64>(const QString& folder)> freeBytes;
    // When the store holds only files older than the installed ones: asked once with both
    // versions' digits ("7520"), before anything is written; false writes nothing. Empty: the
    // older files are written.
    std::function<bool(const QString& installedVersion, const QString& storedVersion)> acceptOlder;
};

// Writes the stored files into installDir (created when missing). An installed file is replaced
// only by complete new content; a file it cannot replace is moved aside to its name + "___".
// Stored paths leading out of the folder are never written; rows not written are listed in one
// warning to the operator at the end. False when the table cannot be read (no store); true
// otherwise, also when older files were declined. Throws MyException when a folder cannot be
// created.
bool ExtractFilesFromDB(const QString& installDir, db::Connection& connection,
                        const QString& installedVersionText, OperatorUi& operatorUi,
                        const PumpMessages& pump = {});
bool ExtractFilesFromDB(const QString& installDir, db::Connection& connection,
                        const QString& installedVersionText, OperatorUi& operatorUi,
                        const ExtractOptions& options);
