#pragma once

// The batch mode run in this process, as the program runs it without a display: the command line
// checked, a session over the scene's program folder, the command, and the lines and exit code a
// script would see.
#include "BatchCommand.h"
#include "BatchScene.h"
#include "CommandLine.h"
#include "Session.h"
#include "StderrOperatorUi.h"

inline void runInProcess(batch::BatchScene& scene, const QStringList& options,
                         batch::RunResult& result)
{
    const QStringList arguments = QStringList{scene.programFile()} + options;
    QStringList lines;
    const auto print = [&lines](const QString& text) {
        lines << stderrLineText(text);
    };
    if (const QString refused = commandLineError(arguments); !refused.isEmpty()) {
        print(refused);
        result.exitCode = 2;
    } else {
        StderrOperatorUi ui(print);
        Session session(ui, scene.programDir());
        session.unattended = true;
        result.exitCode = RunBatch(session, arguments, [&](const std::exception& error) {
            for (const QString& line : unattendedErrorLines(error, QStringLiteral("dbsetup")))
                print(line);
            return 1;
        });
    }
    result.err = lines.join(u'\n') + u'\n';
}
