#include "DatabaseSessions.h"

#include "Connection.h"
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

} // namespace

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

SingleUserDatabase::SingleUserDatabase(db::Connection& connection, QString database)
    : m_connection(connection), m_database(std::move(database))
{
    // Ends the other sessions, rolling their transactions back, and keeps new ones out.
    m_connection.execute(u"ALTER DATABASE "_s + sqltext::identifier(m_database) +
                         u" SET SINGLE_USER WITH ROLLBACK IMMEDIATE"_s);
}

SingleUserDatabase::~SingleUserDatabase()
{
    if (m_released)
        return;
    try {
        release();
    } catch (const std::exception&) {
        // The operation's own error is the one to report; the database stays single-user
        // until the next attempt or the operator's ALTER DATABASE.
    }
}

void SingleUserDatabase::release()
{
    m_released = true;
    if (!m_connection.isOpen())
        m_connection.open();
    m_connection.execute(u"IF DB_ID(N'"_s + sqltext::literalBody(m_database) +
                         u"') IS NOT NULL ALTER DATABASE "_s + sqltext::identifier(m_database) +
                         u" SET MULTI_USER"_s);
}

std::unique_ptr<SingleUserDatabase> TakeDatabase(db::Connection& connection, OperatorUi& ui,
                                                 const QString& database, std::optional<bool> close,
                                                 QList<DatabaseSession>& others)
{
    others = OtherSessions(connection, database);
    if (others.isEmpty())
        return nullptr;
    if (!close)
        close = ui.askYesNo(OperatorUi::Icon::Question, u"Внимание"_s,
                            u"База используется другими подключениями: "_s + SessionsText(others) +
                                u". Отключить их?"_s);
    if (!*close)
        return nullptr;
    return std::make_unique<SingleUserDatabase>(connection, database);
}
