#include "DatabaseSessions.h"

#include "Connection.h"
#include "MyException.h"
#include "OperatorUi.h"
#include "StatementText.h"
#include "TextDecoding.h"

using namespace Qt::StringLiterals;

namespace {

constexpr int sessionsTimeoutSeconds = 60;

QString withoutBlanks(const QString& text)
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

// The error as it is, or with the right the login lacks after it when the server refused for
// lack of one.
[[noreturn]] void throwWithRights(const std::exception& error, const SessionClosing& closing,
                                  const QString& needed)
{
    const QString rights = needed.isEmpty() ? QString() : RightsHint(error, closing.rights, needed);
    if (rights.isEmpty())
        throw;
    throw MyException({}, errorMessage(error), nullptr, rights);
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

bool databaseExists(db::Connection& connection, const QString& database)
{
    const auto rows = connection.openRecordSet(u"SELECT DB_ID(N'"_s +
                                                   sqltext::literalBody(database) + u"') AS id"_s,
                                               sessionsTimeoutSeconds);
    return !rows->isEmpty() && !rows->value(0, 0).isNull();
}

} // namespace

QString OnlineStatement(const QString& database)
{
    // NULL for a database that is gone; RESTORING after a restore that failed part-way, which
    // only a restore can end.
    return u"IF DATABASEPROPERTYEX(N'"_s + sqltext::literalBody(database) +
           u"', 'Status') = 'OFFLINE' ALTER DATABASE "_s + sqltext::identifier(database) +
           u" SET ONLINE"_s;
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
        sessions.append({rows->fieldText(u"spid"_s).toInt(),
                         withoutBlanks(rows->fieldText(u"loginame"_s)),
                         withoutBlanks(rows->fieldText(u"hostname"_s)),
                         withoutBlanks(rows->fieldText(u"program_name"_s))});
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

QString HiddenSessionsText(const ServerRights& rights)
{
    QString login = rights.loginText();
    login[0] = login[0].toUpper();
    return login + u" не видны чужие подключения к базе: у неё нет права VIEW SERVER STATE."_s;
}

SessionClosing DecideClosing(db::Connection& connection, OperatorUi& ui, const QString& database,
                             std::optional<bool> close, const ServerRights& rights)
{
    SessionClosing closing;
    closing.rights = rights;
    closing.others = OtherSessions(connection, database);
    closing.othersHidden = !rights.seesOtherSessions() && databaseExists(connection, database);
    if (closing.others.isEmpty() && !closing.othersHidden)
        return closing;
    if (!close) {
        QString question;
        if (!closing.others.isEmpty())
            question = u"База используется другими подключениями: "_s +
                       SessionsText(closing.others) + u". "_s;
        if (closing.othersHidden)
            question += HiddenSessionsText(rights) +
                        u" Если базу используют другие, операция не удастся. "_s;
        question += closing.others.isEmpty() ? u"Отключить другие подключения к базе, если они "
                                               u"есть?"_s
                                             : u"Отключить их?"_s;
        close = ui.askYesNo(OperatorUi::Icon::Question, u"Внимание"_s, question);
    }
    closing.close = *close;
    return closing;
}

namespace {

// The server's errors for a database others are in: RESTORE's 3101, DROP's 3702, detach's
// 3703, ALTER DATABASE's 5061 and 5070.
bool isInUseError(int number)
{
    return number == 3101 || number == 3702 || number == 3703 || number == 5061 || number == 5070;
}

// The operation's failure with what the sessions had to do with it: the ones found, or the
// ones the login could not see; and the right the login lacks when the server said so.
[[noreturn]] void throwLeftOpen(const std::exception& error, const SessionClosing& closing,
                                const QString& needed)
{
    if (!closing.others.isEmpty())
        throw DatabaseInUse(errorMessage(error) + u"\r\nБазу используют другие подключения: "_s +
                            SessionsText(closing.others) + u'.');
    if (closing.othersHidden && isInUseError(serverErrorOf(error)))
        throw DatabaseInUse(errorMessage(error) + u"\r\n"_s + HiddenSessionsText(closing.rights) +
                            u" Кто использует базу, не узнать."_s);
    throwWithRights(error, closing, needed);
}

} // namespace

void RunAlone(db::Connection& connection, OperatorUi& ui, const QString& database,
              const SessionClosing& closing, const QString& needed,
              const std::function<void(const QString& prefix)>& operation)
{
    if (!closing.close) {
        try {
            operation({});
        } catch (const std::exception& error) {
            throwLeftOpen(error, closing, needed);
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
        throwWithRights(failure, closing, needed);
    }
    try {
        bringOnline(connection, database);
    } catch (const std::exception& error) {
        throw offlineError(database, error);
    }
}
