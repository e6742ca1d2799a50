#pragma once

#include "Values.h"

#include <QFile>
#include <mutex>

// The simulator's request log: one entry per request received, appended and flushed at once
// so that a test can read it while the simulator runs. Passwords never reach it.
namespace sqlsim::tds {

class RequestLog
{
public:
    // Opens the file for appending; false with a readable reason otherwise.
    bool open(const QString& path, QString* error = nullptr);
    // Thread-safe. The entry is written verbatim, followed by a line break.
    void write(const QString& entry);

    // "batch: <text>" with password literals masked.
    static QString batchEntry(const QString& sql);
    // "rpc: <name> <parameters>", values as T-SQL literals, long binaries by their size.
    static QString rpcEntry(const QString& procedure, const QList<Param>& params);
    // PASSWORD = '...' and the password arguments of sp_addlogin / sp_password become '***'.
    static QString maskPasswords(const QString& sql);

private:
    std::mutex m_mutex;
    QFile m_file;
};

} // namespace sqlsim::tds
