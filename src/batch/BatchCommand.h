#pragma once

#include <QStringList>
#include <exception>
#include <functional>

class Session;

// A batch run's start, as the window's: settings.ini applied and the connection made. An error
// is reported to the operator and the run goes on (the command says what it lacks).
void StartBatchSession(Session& session);

// The batch mode: the command line's options applied to the session, the backup or restore run,
// and the summary line a script's log keeps. Runs it when the command line asks for one and says
// so; errors leave it (with a line of advice when an option would have prevented them).
bool RunBatchCommand(Session& session, const QStringList& arguments);

// A whole batch run over the session: started, then the command. Returns 0 when done; an error
// that ended it goes to failed, which reports it and gives the exit code.
int RunBatch(Session& session, const QStringList& arguments,
             const std::function<int(const std::exception& error)>& failed);
