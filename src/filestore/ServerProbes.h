#pragma once

#include <QString>
#include <exception>
#include <optional>

namespace db {
class Connection;
}

// Questions to the server and to the connection's current database, asked before storing files.
// A server that cannot be reached, or that cannot answer a question (an older version, a login
// without the right), gives the fallback each one names; a connection lost while one is asked
// passes on as db::DbError: the caller's next statement would otherwise run on a new connection
// without the answer.

// The first 25 characters of @@version ("Microsoft SQL Server 2008"), "" for another product.
QString GetServerVersion(db::Connection& connection);
int GetServerVersionYear(db::Connection& connection); // 0 when unknown
// The most data the server's edition lets a database hold: Express limits its data files (the
// log is not counted) to 10 GiB since 2008 R2 and to 4 GiB before; other editions have no
// ceiling (nullopt), as has a server that cannot be asked.
std::optional<qint64> GetMaxDBSize(db::Connection& connection);
// The same from SERVERPROPERTY's EngineEdition (4: Express) and ProductVersion ("10.50.1600.1");
// versionYear stands in for a version the server did not give.
std::optional<qint64> DatabaseSizeCeiling(int engineEdition, const QString& productVersion,
                                          int versionYear);
// Bytes in use in the current database's data files (dataOnly) or in all its files: what counts
// toward Express's ceiling, what a full backup holds. From sp_spaceused's database_size (the
// files' whole size) where the server cannot tell; 0 when unknown.
qint64 GetDBSpaceUsed(db::Connection& connection, bool dataOnly = true);
// sp_spaceused's sizes ("2.75 MB", "1024.00 KB") in bytes; 0 for another unit.
qint64 DatabaseSizeBytes(const QString& spaceUsedText);
// The code page of the current database's non-Unicode text; 0 when the server does not say (a
// server without COLLATIONPROPERTY, a collation it does not describe). Unlike the others, a
// connection that cannot be opened throws.
int DatabaseCodePage(db::Connection& connection);

namespace filestore {
// Opens the connection when it is closed: any statement of the store may be the first after a
// lost connection.
void ensureOpen(db::Connection& connection);
// Whether an error ended the connection (or left it closed), rather than one statement.
bool connectionLost(const db::Connection& connection, const std::exception& error);
} // namespace filestore
