#include "ColumnValues.h"
#include "ConnectionImpl.h"

#include <QIODevice>
#include <array>
#include <charconv>
#include <cstring>

using namespace Qt::StringLiterals;

namespace db {

using namespace odbc;

namespace {

class CurrentRow : public Connection::RowCursor
{
public:
    CurrentRow(const Statement& stmt, const Columns& columns) : m_stmt(stmt), m_columns(columns) {}
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
                                          // A device may take less than it is given; only
                                          // a write that takes nothing says why.
                                          for (qsizetype done = 0; !refused && done < n;) {
                                              const qint64 written =
                                                  out.write(bytes + done, n - done);
                                              if (written <= 0)
                                                  refused = true;
                                              else
                                                  done += written;
                                          }
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

// How a column of a block cursor is read: bound, a block of values at a time, or one value at a
// time with SQLGetData after the row has been fetched (long values, unknown types).
struct ColumnReading
{
    // SQL_C_WCHAR or SQL_C_BINARY; bound only: SQL_C_SBIGINT, SQL_C_TYPE_DATE or
    // SQL_C_TYPE_TIMESTAMP, whose texts are written here as the driver writes them, without its
    // costly conversion (strftime and sprintf a value).
    SQLSMALLINT cType = 0;
    SQLLEN width = 0; // bytes of one value in a bound buffer; 0: read with SQLGetData
};

// Longer values are read with SQLGetData: a bound buffer holds every value at its longest.
constexpr SQLULEN longestBoundCharacters = 4000;
constexpr SQLULEN longestBoundBytes = 8000;
// The text of a number, date, time or identifier fits in this many characters (a decimal of 38
// digits with sign and point; "2024-02-05 10:15:00.1234567 +03:00").
constexpr SQLLEN fixedTextCharacters = 64;

ColumnReading readingFor(SQLSMALLINT type, SQLULEN size, SQLSMALLINT digits)
{
    const auto textOf = [](SQLULEN characters) {
        return ColumnReading{SQL_C_WCHAR, static_cast<SQLLEN>((characters + 1) * sizeof(SQLWCHAR))};
    };
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
        if (size > 0 && size <= longestBoundCharacters)
            return textOf(size);
        return {SQL_C_WCHAR, 0};
    case SQL_BINARY:
    case SQL_VARBINARY:
        if (size > 0 && size <= longestBoundBytes)
            return {SQL_C_BINARY, static_cast<SQLLEN>(size)};
        return {SQL_C_BINARY, 0};
    case SQL_GUID:
        return textOf(fixedTextCharacters);
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return {SQL_C_SBIGINT, sizeof(SQLBIGINT)};
    case SQL_TYPE_DATE:
        return {SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT)};
    case SQL_TYPE_TIMESTAMP: // datetime, smalldatetime, datetime2
        if (digits >= 0 && digits <= 9)
            return {SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)};
        return textOf(fixedTextCharacters);
    default:
        break;
    }
    switch (columnKind(type)) {
    case ColumnKind::Text:
        return {SQL_C_WCHAR, 0}; // long text, xml, sql_variant, types not known here
    case ColumnKind::Binary:
        return {SQL_C_BINARY, 0};
    default:
        return textOf(fixedTextCharacters);
    }
}

// Rows in blocks: the leading columns that can be bound are, and the driver fills a block of
// rows with one SQLFetch; the columns from the first long one on are read with SQLGetData (in
// order, after the bound ones, as ODBC allows without extensions), one row at a time.
class BlockCursor : public Connection::Cursor, private Connection::RowValues
{
public:
    BlockCursor(Connection::Impl& owner, std::unique_ptr<Statement> stmt, Columns columns);
    ~BlockCursor() override { release(); }
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
    qsizetype read(qsizetype count, const std::function<void(const RowValues&)>& onRow) override;
    bool atEnd() const override { return m_stmt == nullptr && m_next >= m_fetched; }
    // Stops reading: the server is told to drop the rest, the statement freed.
    void release();

private:
    // RowValues of row m_next of the block.
    bool isNull(int column) const override { return indicator(column) == SQL_NULL_DATA; }
    QStringView text(int column) const override
    {
        if (const SQLSMALLINT cType = m_readings[static_cast<size_t>(column)].cType;
            cType != SQL_C_WCHAR && cType != SQL_C_BINARY)
            return nativeText(column, cType);
        const auto [data, length] = value(column);
        return {reinterpret_cast<const char16_t*>(data),
                static_cast<qsizetype>(length / static_cast<SQLLEN>(sizeof(SQLWCHAR)))};
    }
    QByteArrayView bytes(int column) const override
    {
        const auto [data, length] = value(column);
        return {data, static_cast<qsizetype>(length)};
    }

    SQLLEN indicator(int column) const
    {
        const auto at = static_cast<size_t>(column);
        return at < m_bound ? m_indicators[at][m_next] : m_unbound[at - m_bound].indicator;
    }
    std::pair<const char*, SQLLEN> value(int column) const
    {
        const auto at = static_cast<size_t>(column);
        if (at < m_bound)
            return {m_buffers[at].get() + m_next * static_cast<size_t>(m_readings[at].width),
                    std::max<SQLLEN>(m_indicators[at][m_next], 0)};
        const QByteArray& bytes = m_unbound[at - m_bound].bytes;
        return {bytes.constData(), static_cast<SQLLEN>(bytes.size())};
    }

    // The text the driver would give for a value bound in its own C type.
    QStringView nativeText(int column, SQLSMALLINT cType) const;

    // Fetches the next block; false at the end of the result.
    bool fetchBlock();
    void readUnbound();

    Connection::Impl* m_owner;
    std::unique_ptr<Statement> m_stmt;
    Columns m_columns;
    std::vector<ColumnReading> m_readings;
    size_t m_bound = 0; // the leading columns bound to the buffers
    SQLULEN m_arraySize = 1;
    std::vector<std::unique_ptr<char[]>> m_buffers;
    std::vector<std::vector<SQLLEN>> m_indicators;
    std::vector<SQLUSMALLINT> m_rowStatus;
    SQLULEN m_fetched = 0; // rows in the block
    SQLULEN m_next = 0;    // the row handed over next
    struct Unbound
    {
        SQLLEN indicator = SQL_NULL_DATA;
        QByteArray bytes;
    };
    std::vector<Unbound> m_unbound; // the current row's values of the columns not bound
    mutable std::vector<std::array<char16_t, 48>> m_nativeTexts; // a column's last text
};

// A block of about this many bytes: big enough that fetching costs little per row, small enough
// for the processor's cache; never more rows than this.
constexpr SQLLEN blockBytes = 256 * 1024;
constexpr SQLULEN mostRowsInBlock = 512;

} // namespace

BlockCursor::BlockCursor(Connection::Impl& owner, std::unique_ptr<Statement> stmt, Columns columns)
    : m_owner(&owner), m_stmt(std::move(stmt)), m_columns(std::move(columns))
{
    const auto count = static_cast<size_t>(m_columns.names.size());
    SQLLEN rowBytes = 0;
    for (size_t c = 0; c < count; ++c) {
        const auto at = static_cast<qsizetype>(c);
        m_readings.push_back(
            readingFor(m_columns.types[at], m_columns.sizes[at], m_columns.digits[at]));
        if (m_readings.back().width == 0 || m_bound < c)
            continue;
        m_bound = c + 1;
        rowBytes += m_readings.back().width + static_cast<SQLLEN>(sizeof(SQLLEN));
    }
    m_unbound.resize(count - m_bound);
    m_nativeTexts.resize(count);
    // Past the first long column everything is read with SQLGetData, as text or bytes.
    for (size_t c = m_bound; c < count; ++c)
        if (m_readings[c].cType != SQL_C_BINARY)
            m_readings[c].cType = SQL_C_WCHAR;
    // SQLGetData needs the row it reads to be the only one fetched.
    if (m_bound == count && rowBytes > 0)
        m_arraySize =
            std::clamp<SQLULEN>(static_cast<SQLULEN>(blockBytes / rowBytes), 1, mostRowsInBlock);
    const SQLHSTMT h = m_stmt->get();
    m_rowStatus.resize(m_arraySize);
    m_stmt->check(
        SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(m_arraySize), 0),
        u"SQL_ATTR_ROW_ARRAY_SIZE"_s);
    m_stmt->check(SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &m_fetched, 0),
                  u"SQL_ATTR_ROWS_FETCHED_PTR"_s);
    m_stmt->check(SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, m_rowStatus.data(), 0),
                  u"SQL_ATTR_ROW_STATUS_PTR"_s);
    for (size_t c = 0; c < m_bound; ++c) {
        const ColumnReading& reading = m_readings[c];
        m_buffers.push_back(
            std::make_unique<char[]>(static_cast<size_t>(reading.width) * m_arraySize));
        m_indicators.emplace_back(m_arraySize, 0);
        m_stmt->check(SQLBindCol(h, static_cast<SQLUSMALLINT>(c + 1), reading.cType,
                                 m_buffers.back().get(), reading.width, m_indicators.back().data()),
                      u"SQLBindCol"_s);
    }
    m_owner->cursorOpen = true;
    m_owner->releaseCursor = [this] {
        release();
    };
}

QStringView BlockCursor::nativeText(int column, SQLSMALLINT cType) const
{
    const char* data = value(column).first;
    std::array<char, 48> text{};
    char* end = text.data();
    const auto put = [&end](long long number, int width) {
        char digits[24];
        const auto written = std::to_chars(std::begin(digits), std::end(digits), number);
        for (auto n = written.ptr - digits; n < width; ++n)
            *end++ = '0';
        end = std::copy(digits, written.ptr, end);
    };
    if (cType == SQL_C_SBIGINT) {
        SQLBIGINT number = 0;
        std::memcpy(&number, data, sizeof number);
        put(number, 1);
    } else {
        // The driver's form: "2024-02-05", or "2024-02-05 10:15:00" with the fraction of a
        // second in as many digits as the type keeps (datetime 3, datetime2(7) 7).
        SQL_TIMESTAMP_STRUCT t{};
        if (cType == SQL_C_TYPE_DATE) {
            SQL_DATE_STRUCT d{};
            std::memcpy(&d, data, sizeof d);
            t.year = d.year;
            t.month = d.month;
            t.day = d.day;
        } else {
            std::memcpy(&t, data, sizeof t);
        }
        put(t.year, 4);
        *end++ = '-';
        put(t.month, 2);
        *end++ = '-';
        put(t.day, 2);
        if (cType == SQL_C_TYPE_TIMESTAMP) {
            *end++ = ' ';
            put(t.hour, 2);
            *end++ = ':';
            put(t.minute, 2);
            *end++ = ':';
            put(t.second, 2);
            const int digits = m_columns.digits[column];
            if (digits > 0) {
                *end++ = '.';
                put(t.fraction, 9); // nanoseconds, then only the type's digits of them
                end -= 9 - digits;
            }
        }
    }
    std::array<char16_t, 48>& out = m_nativeTexts[static_cast<size_t>(column)];
    std::copy(text.data(), end, out.begin());
    return {out.data(), static_cast<qsizetype>(end - text.data())};
}

void BlockCursor::release()
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

bool BlockCursor::fetchBlock()
{
    m_fetched = 0;
    m_next = 0;
    if (!m_stmt)
        return false;
    Running running(*m_owner, m_stmt->get());
    const SQLRETURN rc = m_stmt->check(SQLFetch(m_stmt->get()), u"SQLFetch"_s);
    if (rc == SQL_NO_DATA) {
        m_fetched = 0;
        // The rest of the batch (row counts, messages) is read so that it ends cleanly.
        drain(*m_stmt, SQLMoreResults(m_stmt->get()));
        running.clear();
        m_stmt.reset();
        release();
        return false;
    }
    // A value the driver could not convert, or one longer than its buffer, must not pass as a
    // shorter one.
    for (SQLULEN row = 0; row < m_fetched; ++row) {
        if (m_rowStatus[row] == SQL_ROW_ERROR)
            throwDiagnostics(SQL_HANDLE_STMT, m_stmt->get(), u"SQLFetch"_s);
        for (size_t c = 0; c < m_bound; ++c) {
            const SQLLEN length = m_indicators[c][row];
            const SQLLEN room =
                m_readings[c].width - (m_readings[c].cType == SQL_C_WCHAR ? sizeof(SQLWCHAR) : 0);
            if (length == SQL_NO_TOTAL || length > room)
                throw DbError(
                    u"Значение столбца \"%1\" длиннее, чем сервер объявил для него."_s.arg(
                        m_columns.names[static_cast<qsizetype>(c)]));
        }
    }
    if (m_bound < m_readings.size())
        readUnbound();
    return m_fetched > 0;
}

void BlockCursor::readUnbound()
{
    for (size_t c = m_bound; c < m_readings.size(); ++c) {
        Unbound& value = m_unbound[c - m_bound];
        value.bytes.resize(0);
        const bool notNull =
            readLong(*m_stmt, static_cast<SQLUSMALLINT>(c + 1), m_readings[c].cType,
                     [&value](const char* data, qsizetype n) { value.bytes.append(data, n); });
        value.indicator = notNull ? value.bytes.size() : SQL_NULL_DATA;
    }
}

qsizetype BlockCursor::read(qsizetype count, const std::function<void(const RowValues&)>& onRow)
{
    qsizetype done = 0;
    while (done < count) {
        if (m_next >= m_fetched && !fetchBlock())
            break;
        onRow(*this);
        ++m_next;
        ++done;
    }
    return done;
}

QList<QList<QVariant>> Connection::Cursor::fetch(qsizetype count)
{
    QList<QList<QVariant>> rows;
    const QList<bool> binary = binaryColumns();
    read(count, [&](const RowValues& values) {
        QList<QVariant> row;
        row.reserve(binary.size());
        for (int c = 0; c < binary.size(); ++c) {
            if (values.isNull(c))
                row.append(QVariant());
            else if (binary[c])
                row.append(values.bytes(c).toByteArray());
            else
                row.append(values.text(c).toString());
        }
        rows.append(std::move(row));
    });
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
            return std::make_unique<BlockCursor>(*d, std::move(stmt), std::move(columns));
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
        CurrentRow row(stmt, columns);
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
