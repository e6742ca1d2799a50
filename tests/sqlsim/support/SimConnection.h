#pragma once

#include "Connection.h"
#include "SqlsimProcess.h"

#include <memory>

// The program's own connection to a test's simulator, as the program's login unless another is
// named. Only tests that link the program's database layer include this, hence inline.
inline void openOn(db::Connection& connection, const SqlsimProcess& sim,
                   const QString& login = SqlsimProcess::programLogin())
{
    connection.setConnectionString(sim.adoString(login));
    connection.open();
}

inline std::unique_ptr<db::Connection>
openConnection(const SqlsimProcess& sim, const QString& login = SqlsimProcess::programLogin())
{
    auto connection = std::make_unique<db::Connection>();
    openOn(*connection, sim, login);
    return connection;
}

// A simulator of a test's own and the program's connection to it.
struct SimSession
{
    SqlsimProcess sim;
    db::Connection connection; // after sim: closed before it stops

    // Starts it with those options and connects; false, with the simulator's words warned, when
    // it would not start. A refused login throws as Connection::open does.
    bool start(const QStringList& options = {},
               const QString& login = SqlsimProcess::programLogin())
    {
        if (!sim.start(options)) {
            qWarning("%s", sim.stderrText().constData());
            return false;
        }
        openOn(connection, sim, login);
        return connection.isOpen();
    }
};
