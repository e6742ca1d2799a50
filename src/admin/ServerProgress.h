#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace db {
class Connection;
struct ServerMessage;
} // namespace db

// While a backup or restore runs: called every 10 ms (processes window messages), and with each
// percentage the server reports ("40 percent processed.").
struct ServerProgress
{
    std::function<void()> pump;
    // step names what the percentage measures: empty for the operation itself, "Проверка" for
    // the verification that follows a backup.
    std::function<void(int percent, const QString& step)> percent;
    QString step;
    // Asked while the server works: true cancels the running statement, whose error then takes
    // the usual way out (a batch run that was sent a signal). Never throws.
    std::function<bool()> stopRequested;
};

// The percentage of a server's progress message (3211, "N percent processed." in the login's
// language), if it is one.
std::optional<int> ProgressPercent(const db::ServerMessage& message);

// Sends a long statement (BACKUP, RESTORE) asynchronously and waits for it, handing over the
// time and the server's percentages; a stop asked for cancels it, and its error passes on.
void RunWithProgress(db::Connection& connection, const QString& sql,
                     const ServerProgress& progress);
