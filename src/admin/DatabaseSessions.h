#pragma once

#include "MyException.h"
#include "ServerRights.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

namespace db {
class Connection;
}
class OperatorUi;

// Other users of a database, and taking it from them for an operation that needs it alone
// (a restore over it, a detach).
struct DatabaseSession
{
    int id = 0;
    QString login;
    QString host;
    QString program;
};

// The sessions in a database other than the connection's own, in the server's order.
QList<DatabaseSession> OtherSessions(db::Connection& connection, const QString& database);

// "2 (sa — OFFICE-PC, tsql; OFFICE\ivanov — PC2, ostrel)": how many, and who.
QString SessionsText(const QList<DatabaseSession>& sessions);

// Who else is in a database before an operation that needs it alone, and whether they are to be
// ended. Decided before anything on the server changes.
struct SessionClosing
{
    QList<DatabaseSession> others;
    // The login cannot see other logins' sessions: there may be some that are not listed.
    bool othersHidden = false;
    bool close = false;
    ServerRights rights;
};
// When other sessions are in the database, or may be unseen: closes them if close says so, or
// asks the operator when close is empty.
SessionClosing DecideClosing(db::Connection& connection, OperatorUi& ui, const QString& database,
                             std::optional<bool> close, const ServerRights& rights);

// "Учётной записи \"ivanov\" не видны чужие подключения к базе: ..." for a login without VIEW
// SERVER STATE.
QString HiddenSessionsText(const ServerRights& rights);

// An operation the database's other sessions stopped: they were found, and not ended.
class DatabaseInUse : public MyException
{
public:
    using MyException::MyException;
};

// Brings the database online again when it is offline; one the operation has removed
// (detached) or left restoring is left alone.
QString OnlineStatement(const QString& database);

// Runs an operation that needs the database alone. When closing was agreed, operation gets the
// statement that ends the other sessions and takes the database offline, to put in front of its
// own so that both reach the server as one batch and nobody comes in between; afterwards the
// database is brought online again on every path (unless the operation removed it). A database
// that does not come online is said: after a failed operation, that operation's error is shown
// first and the database tried once more; what still fails throws MyException. Without closing,
// operation gets an empty prefix, and its failure names the sessions found, or says that others
// could not be seen when the server refused for the database being in use (DatabaseInUse).
// needed: the right the operation needs, named after a server error refusing for lack of rights;
// empty when the operation names it itself.
void RunAlone(db::Connection& connection, OperatorUi& ui, const QString& database,
              const SessionClosing& closing, const QString& needed,
              const std::function<void(const QString& prefix)>& operation);
