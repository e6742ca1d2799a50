#include "ServerProgress.h"

#include "Connection.h"

#include <QRegularExpression>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr auto pollInterval = std::chrono::milliseconds(10);

} // namespace

std::optional<int> ProgressPercent(const db::ServerMessage& message)
{
    // 3211 "%d percent processed.": the percentage is its one number, in every language.
    if (message.number != 3211)
        return std::nullopt;
    static const QRegularExpression number(u"\\d+"_s);
    const QRegularExpressionMatch match = number.match(message.text);
    if (!match.hasMatch())
        return std::nullopt;
    const int percent = match.captured().toInt();
    return percent <= 100 ? std::optional<int>(percent) : std::nullopt;
}

void RunWithProgress(db::Connection& connection, const QString& sql, const ServerProgress& progress)
{
    connection.executeAsync(sql, [progress](const db::ServerMessage& message) {
        if (const auto percent = ProgressPercent(message); percent && progress.percent)
            progress.percent(*percent, progress.step);
    });
    // Polled every 10 ms; its error leaves waitForAsync.
    bool cancelled = false;
    while (connection.isExecuting()) {
        if (progress.pump)
            progress.pump();
        if (!cancelled && progress.stopRequested && progress.stopRequested()) {
            connection.cancel();
            cancelled = true;
        }
        std::this_thread::sleep_for(pollInterval);
    }
    connection.waitForAsync();
}
