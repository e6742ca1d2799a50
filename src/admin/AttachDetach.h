#pragma once

#include <QString>

namespace db {
class Connection;
}
class ServerDisk;

// Attaching a database from its files, with its start-up procedure, and detaching it.

// Attaches a database from its data file and, when logFile is not empty, its log file; then
// registers its start-up procedure. A server refusal throws MyException "Ошибка подключение базы
// данных." with the server's error (and whose disk or rights are at fault when it says so, when
// disk is given); other failures pass on unchanged. Returns the warning of
// MSSQLCreateAutoExec.
QString MSSQLAttachDB(const QString& databaseName, const QString& dataFile, const QString& logFile,
                      db::Connection& connection, ServerDisk* disk = nullptr);
// When the database has an AutoExecute object: "<name>_AutoExec" in master, run at server
// start-up. A failure does not undo the attach: it comes back as the operator's warning (the
// transaction rolled back while it is open); empty when all is done.
QString MSSQLCreateAutoExec(const QString& databaseName, db::Connection& connection,
                            ServerDisk* disk = nullptr);
// Detaches the database; a non-zero return throws MyException, a failed call the server's error.
// prefix: statements sent in the same batch before the detach (taking the database from others).
void MSSQLDetachDB(const QString& databaseName, db::Connection& connection,
                   const QString& prefix = {});
// Attaches from master, then, for a Windows login, gives the login a DBUsers row copied from "sa".
// Returns the attach's warning.
QString AddUserToDBUsers(db::Connection& connection, const QString& databaseName,
                         const QString& dataFile, bool windowsLogin, const QString& logFile,
                         ServerDisk* disk = nullptr);
