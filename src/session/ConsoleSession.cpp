#include "ConsoleSession.h"

#include "CommandTimeout.h"
#include "EditTarget.h"
#include "MyException.h"

using namespace Qt::StringLiterals;

ConsoleSession::ConsoleSession(db::Connection& main) : m_main(main)
{
    // A result read to its end frees the session, which then leaves its database.
    connect(&m_result, &QueryResult::readWhole, this, [this] { leaveDatabase(); });
}

void ConsoleSession::open(const QString& database, const QString& sql, int timeoutSeconds)
{
    m_result.close(); // frees the session
    show(read(database, sql, timeoutSeconds));
}

QueryResult::FirstPage ConsoleSession::read(const QString& database, const QString& sql,
                                            int timeoutSeconds)
{
    if (!m_main.isOpen())
        m_main.open();
    if (!m_connection.isOpen() || m_connection.provider() != m_main.provider() ||
        m_connection.connectionString() != m_main.connectionString()) {
        m_connection.close();
        m_connection.setProvider(m_main.provider());
        m_connection.setConnectionString(m_main.connectionString());
        // Logged in to master and then moved: FreeTDS garbles a login's database whose name is
        // not ASCII, and the login fails.
        m_connection.setDefaultDatabase(u"master"_s);
        m_connection.open();
    }
    m_connection.setDefaultDatabase(database);
    m_database = database;
    m_sql = sql;
    m_timeout = timeoutSeconds;
    try {
        return QueryResult::read(m_connection, sql, timeoutSeconds);
    } catch (...) {
        leaveDatabase();
        throw;
    }
}

QList<qint64> ConsoleSession::execute(const QString& database, const QString& sql,
                                      int timeoutSeconds)
{
    m_main.setDefaultDatabase(database);
    if (!m_main.isOpen())
        m_main.open();
    const db::CommandTimeout timeout(m_main, timeoutSeconds);
    return m_main.executeRowCounts(sql);
}

void ConsoleSession::show(QueryResult::FirstPage page)
{
    m_result.show(std::move(page));
    if (m_result.isComplete())
        leaveDatabase();
}

void ConsoleSession::release()
{
    // A backup would lack an unsaved change, a restore or detach take its table away.
    if (!settled())
        throw CancelledByOperator();
    // The grid keeps its rows; only the reading, which holds the database, ends.
    m_result.endReading();
    leaveDatabase();
}

void ConsoleSession::leaveDatabase()
{
    // A session that cannot even switch is of no use; closed, it holds nothing.
    if (m_connection.isOpen() && !m_connection.leaveDatabase())
        m_connection.close();
}

void ConsoleSession::makeEditable(const QString& database, const QString& sql)
{
    m_main.setDefaultDatabase(database);
    const EditTarget target = FindEditTarget(m_main, sql, m_result.fieldNames());
    m_result.setEditTarget(target, [this, database](const BoundStatement& statement) {
        m_main.setDefaultDatabase(database);
        m_main.beginTrans();
        qint64 rows = 0;
        try {
            // The operator's own SET NOCOUNT ON must not hide how many rows were touched, and
            // dates go as "yyyy-mm-dd hh:mm:ss", which datetime reads year-day-month under
            // DATEFORMAT dmy (a Russian login's language sets it): both for this batch only.
            rows = m_main.executeParams(u"SET NOCOUNT OFF; SET DATEFORMAT ymd; "_s + statement.sql,
                                        statement.values);
        } catch (...) {
            m_main.rollbackTrans();
            throw;
        }
        if (rows != 1) {
            m_main.rollbackTrans();
            throw MyException(u"Запись изменена или удалена другим пользователем. Изменения не "
                              u"сохранены."_s);
        }
        m_main.commitTrans();
        return rows;
    });
}

void ConsoleSession::refresh()
{
    if (!m_result.isOpen() || !settled())
        return;
    const int row = m_result.currentRow();
    const EditTarget target = m_result.editTarget();
    open(m_database, m_sql, m_timeout);
    if (target.editable())
        makeEditable(m_database, m_sql);
    while (m_result.fetchedCount() <= row && m_result.fetchRows(QueryResult::pageSize)) {
    }
    m_result.setCurrentRow(row);
    if (m_result.isComplete())
        leaveDatabase();
}
