#pragma once

#include <QString>

namespace db {
class Connection;
}

// Server operations on whole databases. Each takes the connection and works on it alone.

// The newest backup file of a database in the server's backup history, or "" when it has none.
// Errors pass on.
QString LastBackupFile(db::Connection& connection, const QString& databaseName);
