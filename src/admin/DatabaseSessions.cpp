#include "DatabaseSessions.h"

#include "Connection.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "StatementText.h"
#include "TextDecoding.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int sessionsTimeoutSeconds = 60;

QString trimmed(const QString& text)
{
    return platform::trimBlanks(text).toString();
}

// Ends the other sessions, rolling their transactions back, and keeps everyone out until the
// database is brought online again. Single-user mode would not do: "a different user, but only
// one, can connect" once it is set, and an application that logs in again at once takes that one
// place before the operation (SQL Server: "Set a database to single-user mode").
QString offlineStatement(const QString& database)
{
    return u"ALTER DATABASE "_s + sqltext::identifier(database) +
           u" SET OFFLINE WITH ROLLBACK IMMEDIATE;\r\n"_s;
}

void bringOnline(db::Connection& connection, const QString& database)
{
    if (!connection.isOpen())
        connection.open();
    connection.setDefaultDatabase(u"master"_s);
    connection.execute(OnlineStatement(database));
}

// Why the database stays closed to everyone, and what brings it back.
MyException offlineError(const QString& database, const std::exception& error)
{
    return MyException({},
                       u"База данных \""_s + database +
                           u"\" осталась отключённой (OFFLINE): пользователи не смогут к ней "
                           u"подключиться, пока не будет выполнено ALTER DATABASE "_s +
                           sqltext::identifier(database) + u" SET ONLINE."_s,
                       &error);
}

} // namespace

QString OnlineStatement(const QString& database)
{
    return u"IF DB_ID(N'"_s + sqltext::literalBody(database) + u"') IS NOT NULL ALTER DATABASE "_s +
           sqltext::identifier(database) + u" SET ONLINE"_s;
}

QList<DatabaseSession> OtherSessions(db::Connection& connection, const QString& database)
{
    if (!connection.isOpen())
        connection.open();
    const auto rows = connection.openRecordSet(
        u"SELECT spid, loginame, hostname, program_name FROM master.dbo.sysprocesses "
        u"WHERE dbid = DB_ID(N'"_s +
            sqltext::literalBody(database) + u"') AND spid <> @@SPID ORDER BY spid"_s,
        sessionsTimeoutSeconds);
    QList<DatabaseSession> sessions;
    for (rows->first(); !rows->eof(); rows->next())
        sessions.append(
            {rows->fieldText(u"spid"_s).toInt(), trimmed(rows->fieldText(u"loginame"_s)),
             trimmed(rows->fieldText(u"hostname"_s)), trimmed(rows->fieldText(u"program_name"_s))});
    return sessions;
}

QString SessionsText(const QList<DatabaseSession>& sessions)
{
    QStringList who;
    for (const DatabaseSession& s : sessions) {
        QStringList where;
        for (const QString& part : {s.host, s.program})
            if (!part.isEmpty())
                where << part;
        who << (where.isEmpty() ? s.login : s.login + u" — "_s + where.join(u", "_s));
    }
    return QString::number(sessions.size()) + u" ("_s + who.join(u"; "_s) + u')';
}

SessionClosing DecideClosing(db::Connection& connection, OperatorUi& ui, const QString& database,
                             std::optional<bool> close)
{
    SessionClosing closing;
    closing.others = OtherSessions(connection, database);
    if (closing.others.isEmpty())
        return closing;
    if (!close)
        close = ui.askYesNo(OperatorUi::Icon::Question, u"Внимание"_s,
                            u"База используется другими подключениями: "_s +
                                SessionsText(closing.others) + u". Отключить их?"_s);
    closing.close = *close;
    return closing;
}

void RunAlone(db::Connection& connection, OperatorUi& ui, const QString& database,
              const SessionClosing& closing,
              const std::function<void(const QString& prefix)>& operation)
{
    if (!closing.close) {
        try {
            operation({});
        } catch (const std::exception& error) {
            if (closing.others.isEmpty())
                throw;
            throw DatabaseInUse(errorMessage(error) +
                                u"\r\nБазу используют другие подключения: "_s +
                                SessionsText(closing.others) + u'.');
        }
        return;
    }
    try {
        operation(offlineStatement(database));
    } catch (const std::exception& failure) {
        try {
            bringOnline(connection, database);
        } catch (const std::exception&) {
            // The operation's own error first, then one more try: what kept the database from
            // coming back (a file being copied, say) may have gone meanwhile.
            ShowErrorReport(ui, failure);
            try {
                bringOnline(connection, database);
            } catch (const std::exception& again) {
                throw offlineError(database, again);
            }
            throw ShownError(errorMessage(failure));
        }
        throw;
    }
    try {
        bringOnline(connection, database);
    } catch (const std::exception& error) {
        throw offlineError(database, error);
    }
}
