#include "ColumnValues.h"
#include "ConnectionImpl.h"

#include <QIODevice>

using namespace Qt::StringLiterals;

namespace db {

using namespace odbc;

namespace {

class FetchedRow : public Connection::RowCursor
{
public:
    FetchedRow(const Statement& stmt, const Columns& columns) : m_stmt(stmt), m_columns(columns) {}
    const QStringList& columnNames() const override { return m_columns.names; }
    int columnIndex(const QString& name) const override
    {
        for (qsizetype i = 0; i < m_columns.names.size(); ++i)
            if (m_columns.names[i].compare(name, Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        return -1;
    }
    QString text(int column) override
    {
        const QVariant value = readValue(m_stmt, checked(column), m_columns.types[column]);
        if (value.isNull())
            return {};
        if (value.typeId() == QMetaType::QByteArray)
            return QString::fromLatin1(value.toByteArray().toHex());
        return value.toString();
    }
    bool copyTo(int column, QIODevice& out) override
    {
        const SQLSMALLINT cType =
            isBinaryType(m_columns.types[checked(column) - 1]) ? SQL_C_BINARY : SQL_C_CHAR;
        bool refused = false;
        const bool notNull = readLong(m_stmt, static_cast<SQLUSMALLINT>(column + 1), cType,
                                      [&](const char* bytes, qsizetype n) {
                                          if (!refused && out.write(bytes, n) != n)
                                              refused = true;
                                      });
        if (refused)
            throw Error(u"Не удалось записать данные: %1"_s.arg(out.errorString()));
        return notNull;
    }

private:
    // The 1-based column number; throws for a column out of range.
    SQLUSMALLINT checked(int column) const
    {
        if (column < 0 || column >= m_columns.names.size())
            throw Error(u"В результате нет столбца %1."_s.arg(column + 1));
        return static_cast<SQLUSMALLINT>(column + 1);
    }

    const Statement& m_stmt;
    const Columns& m_columns;
};

} // namespace

namespace {

class PagedCursor : public Connection::Cursor
{
public:
    PagedCursor(Connection::Impl& owner, std::unique_ptr<Statement> stmt, Columns columns);
    ~PagedCursor() override { release(); }
    const QStringList& columnNames() const override { return m_columns.names; }
    QList<bool> binaryColumns() const override
    {
        QList<bool> binary;
        for (const SQLSMALLINT type : m_columns.types)
            binary << isBinaryType(type);
        return binary;
    }
    QList<ColumnKind> columnKinds() const override
    {
        QList<ColumnKind> kinds;
        for (const SQLSMALLINT type : m_columns.types)
            kinds << columnKind(type);
        return kinds;
    }
    QList<QList<QVariant>> fetch(qsizetype count) override;
    bool atEnd() const override { return m_stmt == nullptr; }
    // Stops reading: the server is told to drop the rest, the statement freed.
    void release();

private:
    Connection::Impl* m_owner;
    std::unique_ptr<Statement> m_stmt;
    Columns m_columns;
};

} // namespace

PagedCursor::PagedCursor(Connection::Impl& owner, std::unique_ptr<Statement> stmt, Columns columns)
    : m_owner(&owner), m_stmt(std::move(stmt)), m_columns(std::move(columns))
{
    m_owner->cursorOpen = true;
    m_owner->releaseCursor = [this] {
        release();
    };
}

void PagedCursor::release()
{
    if (m_stmt) {
        SQLCancel(m_stmt->get());
        m_stmt.reset();
    }
    if (m_owner != nullptr) {
        m_owner->cursorOpen = false;
        m_owner->releaseCursor = nullptr;
        m_owner = nullptr;
    }
}

QList<QList<QVariant>> PagedCursor::fetch(qsizetype count)
{
    QList<QList<QVariant>> rows;
    if (!m_stmt)
        return rows;
    Running running(*m_owner, m_stmt->get());
    rows.reserve(count);
    const auto columns = static_cast<SQLUSMALLINT>(m_columns.names.size());
    while (rows.size() < count) {
        if (m_stmt->check(SQLFetch(m_stmt->get()), u"SQLFetch"_s) == SQL_NO_DATA) {
            // The rest of the batch (row counts, messages) is read so that it ends cleanly.
            drain(*m_stmt, SQLMoreResults(m_stmt->get()));
            running.clear();
            m_stmt.reset();
            release();
            break;
        }
        QList<QVariant> row;
        row.reserve(columns);
        for (SQLUSMALLINT c = 1; c <= columns; ++c)
            row.append(readValue(*m_stmt, c, m_columns.types[c - 1]));
        rows.append(std::move(row));
    }
    return rows;
}

std::unique_ptr<Connection::Cursor> Connection::openCursor(const QString& sql, int timeoutSeconds)
{
    d->requireIdle();
    auto stmt = std::make_unique<Statement>(d->hdbc(), timeoutSeconds);
    std::vector<SQLWCHAR> text = wide(sql);
    const Running running(*d, stmt->get());
    SQLRETURN rc = SQLExecDirectW(stmt->get(), text.data(), SQL_NTS);
    for (;;) {
        if (rc == SQL_NO_DATA)
            throw Error(u"Запрос не вернул набор записей."_s);
        stmt->check(rc, u"SQLExecDirect"_s);
        SQLSMALLINT count = 0;
        SQLNumResultCols(stmt->get(), &count);
        if (count > 0) {
            Columns columns = describe(*stmt, count);
            return std::make_unique<PagedCursor>(*d, std::move(stmt), std::move(columns));
        }
        rc = SQLMoreResults(stmt->get());
    }
}

void Connection::forEachRow(const QString& sql, int timeoutSeconds,
                            const std::function<bool(RowCursor&)>& onRow)
{
    d->requireIdle();
    Statement stmt(d->hdbc(), timeoutSeconds);
    std::vector<SQLWCHAR> text = wide(sql);
    bool stopped = false;
    const auto rows = [&](SQLSMALLINT count) {
        const Columns columns = describe(stmt, count);
        FetchedRow row(stmt, columns);
        while (!stopped && stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA)
            stopped = !onRow(row);
        if (stopped)
            SQLCancel(stmt.get()); // the server stops sending the rest
    };
    SQLRETURN rc = SQLExecDirectW(stmt.get(), text.data(), SQL_NTS);
    if (rc == SQL_NO_DATA)
        return;
    // Results before the first one with rows (row counts of a batch) are passed over.
    for (;;) {
        stmt.check(rc, u"SQLExecDirect"_s);
        SQLSMALLINT count = 0;
        SQLNumResultCols(stmt.get(), &count);
        if (count > 0)
            break;
        rc = SQLMoreResults(stmt.get());
        if (rc == SQL_NO_DATA)
            return;
    }
    rows([&] {
        SQLSMALLINT count = 0;
        SQLNumResultCols(stmt.get(), &count);
        return count;
    }());
    if (!stopped)
        drain(stmt, SQLMoreResults(stmt.get()));
}

} // namespace db
