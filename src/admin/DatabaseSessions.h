#pragma once

#include <QList>
#include <QString>
#include <memory>
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

// The database set SINGLE_USER WITH ROLLBACK IMMEDIATE (the other sessions are ended), and
// MULTI_USER again when released or destroyed, whatever happened in between; a database that no
// longer exists (detached) is left alone.
class SingleUserDatabase
{
public:
    SingleUserDatabase(db::Connection& connection, QString database);
    ~SingleUserDatabase();
    SingleUserDatabase(const SingleUserDatabase&) = delete;
    SingleUserDatabase& operator=(const SingleUserDatabase&) = delete;

    // Back to MULTI_USER; errors pass on. Nothing more happens on destruction.
    void release();

private:
    db::Connection& m_connection;
    QString m_database;
    bool m_released = false;
};

// Before an operation that needs the database alone: when other sessions are in it, closes them
// if close says so, or asks the operator when close is empty. Returns the single-user hold when
// it closed them; others receives the sessions found (for an error that names them).
std::unique_ptr<SingleUserDatabase> TakeDatabase(db::Connection& connection, OperatorUi& ui,
                                                 const QString& database, std::optional<bool> close,
                                                 QList<DatabaseSession>& others);
