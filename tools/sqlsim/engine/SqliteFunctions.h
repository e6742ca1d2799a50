#pragma once

#include "SqlTypes.h"

#include <sqlite3.h>

// The T-SQL built-in functions, the TSQL collation (case-insensitive, trailing blanks ignored,
// as SQL_Latin1_General_CP1_CI_AS compares) and T-SQL's LIKE, registered on a connection.
namespace sqlsim {

class FunctionHost
{
public:
    virtual ~FunctionHost() = default;
    virtual std::optional<qint64> objectId(const QString& name, const QString& type) = 0;
    virtual Value objectName(qint64 id, std::optional<qint64> dbid) = 0;
    virtual std::optional<qint64> databaseId(const QString& name) = 0;
    virtual Value databaseName(qint64 id) = 0;
    virtual Value serverProperty(const QString& name) = 0;
    // A database file's volume: 0 its mount point, 1 its size, 2 its free bytes (null: no file).
    virtual Value volumeStat(qint64 databaseId, qint64 fileId, int which) = 0;
    virtual Value databaseProperty(const QString& database, const QString& property) = 0;
    virtual Value identCurrent(const QString& table) = 0;
    // FILEPROPERTY of a file of the current database.
    virtual Value fileProperty(const QString& file, const QString& property)
    {
        Q_UNUSED(file);
        Q_UNUSED(property);
        return {};
    }
};

void registerFunctions(sqlite3* db, FunctionHost* host);
// Only the collation: enough for any connection that reads our files.
void registerCollation(sqlite3* db);

// SQL Server errors travel through SQLite's error text in this form.
QByteArray encodeError(const Message& message);
std::optional<Message> decodeError(const char* sqliteMessage);

// Reads a SQLite value, and sets a function result from a Value.
Value valueOf(sqlite3_value* v);
Value columnValue(sqlite3_stmt* stmt, int column);
void bindValue(sqlite3_stmt* stmt, int index, const Value& value);

// T-SQL LIKE: % _ [set] [^set], case-insensitive.
bool likeMatch(const QString& pattern, const QString& text, QChar escape = QChar());

} // namespace sqlsim
