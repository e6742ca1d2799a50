#pragma once

#include "Connection.h"
#include "QueryResult.h"

#include <QObject>
#include <functional>

// The console's result set and the session it reads over: a session of its own to the same
// server as the main connection, so that a long result can stay open, fetched page by page,
// while the list, backup and the rest use the main connection. It returns to master once the
// result is read whole (or the statement failed), so that it holds no database between queries.
class ConsoleSession : public QObject
{
    Q_OBJECT

public:
    explicit ConsoleSession(db::Connection& main);

    // The console's result (also used by the list's identity probe): CommonQuery.
    QueryResult& result() { return m_result; }
    // Its session: QueryConnection.
    db::Connection& connection() { return m_connection; }

    // Opens the result on a statement run in the database.
    void open(const QString& database, const QString& sql, int timeoutSeconds);
    // The same in two steps, for a statement run off the GUI thread while the window is busy:
    // read runs it over the console's session (opened when needed) and touches nothing shown;
    // show, on the GUI thread, makes it the result.
    QueryResult::FirstPage read(const QString& database, const QString& sql, int timeoutSeconds);
    void show(QueryResult::FirstPage page);
    // Runs the operator's statements in the database over the main connection, without a result;
    // the rows each statement touched, for those the server reported a count of (none under SET
    // NOCOUNT ON, nor for rows returned or DDL).
    QList<qint64> execute(const QString& database, const QString& sql, int timeoutSeconds);
    // Runs the shown result's statement again, once an unsaved change is settled.
    void refresh();
    // Lets the result be written back when it comes from one table: changes go over the main
    // connection in the database, each in a transaction that only commits when it touched
    // exactly the one row.
    void makeEditable(const QString& database, const QString& sql);
    // Before an operation on a whole database (attach, detach, backup, restore): an unsaved
    // change of the result is settled; a result still being read stops reading and keeps the rows
    // it has (its session holds the database), and the session returns to master. Throws
    // CancelledByOperator when the operator goes back to the grid (or saving failed, which was
    // said): the operation must not run.
    void release();
    // Asked before the result is replaced or the database taken from under it: an unsaved change
    // is saved or dropped as the operator answers; false when the operator goes back to it. The
    // window sets it; without one there is nobody to ask and nothing is kept unsaved.
    std::function<bool()> editsSettler;

private:
    bool settled() const { return !editsSettler || editsSettler(); }
    // The session leaves whatever database it is in (closed when it cannot).
    void leaveDatabase();

    db::Connection& m_main;
    db::Connection m_connection;
    QueryResult m_result;
    QString m_database;
    QString m_sql;
    int m_timeout = 0;
};
