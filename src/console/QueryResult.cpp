#include "QueryResult.h"

#include "FieldText.h"
#include "MyException.h"

#include <cstring>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype blockSize = 1024 * 1024;

// Bytes in FieldText's form, "0x" and upper-case hexadecimal, written from out on; gives the end.
template <typename Char> Char* writeBinaryText(Char* out, QByteArrayView bytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    *out++ = Char('0');
    *out++ = Char('x');
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        *out++ = Char(hex[b >> 4]);
        *out++ = Char(hex[b & 15]);
    }
    return out;
}

qint32 readLength(const char* p)
{
    qint32 length = 0;
    std::memcpy(&length, p, sizeof length);
    return length;
}

} // namespace

QueryResult::QueryResult(QObject* parent) : QAbstractTableModel(parent) {}

QueryResult::~QueryResult() = default;

void QueryResult::close()
{
    beginResetModel();
    m_cursor.reset();
    m_columns.clear();
    m_kinds.clear();
    m_target = EditTarget{};
    m_writer = nullptr;
    m_editRow = -1;
    m_inserting = false;
    m_pending.clear();
    m_blocks.clear();
    m_blockUsed.clear();
    m_rowStart.clear();
    m_unkept = 0;
    m_cutShort = false;
    m_open = false;
    endResetModel();
    setCurrentRow(-1);
}

void QueryResult::endReading()
{
    if (!m_cursor)
        return;
    m_cursor.reset(); // the connection is free again
    m_cutShort = true;
    emit cutShort();
}

void QueryResult::open(db::Connection& connection, const QString& sql, int timeoutSeconds)
{
    close();
    show(read(connection, sql, timeoutSeconds));
}

QueryResult::FirstPage QueryResult::read(db::Connection& connection, const QString& sql,
                                         int timeoutSeconds)
{
    FirstPage page;
    page.cursor = connection.openCursor(sql, timeoutSeconds);
    page.rows = page.cursor->fetch(pageSize);
    return page;
}

void QueryResult::show(FirstPage page)
{
    if (m_open || m_cursor)
        close();
    // The first page comes with the reset, so nothing is inserted while views take the reset in.
    beginResetModel();
    m_columns = page.cursor->columnNames();
    m_kinds = page.cursor->columnKinds();
    m_format = console::FieldFormat(QLocale());
    m_target.readOnlyReason = u"запрос читает не одну таблицу"_s;
    m_cursor = page.cursor->atEnd() ? nullptr : std::move(page.cursor);
    m_open = true;
    for (const QList<QVariant>& row : std::as_const(page.rows))
        appendRow(row);
    endResetModel();
    setCurrentRow(fetchedCount() > 0 ? 0 : -1);
}

template <typename FieldAt> QueryResult::RowStart QueryResult::storeRow(FieldAt fieldAt)
{
    // Room for the longest the row can be: a UTF-16 unit is at most three UTF-8 bytes.
    const auto columns = static_cast<int>(m_columns.size());
    qsizetype most = 0;
    for (int c = 0; c < columns; ++c) {
        const FieldSource f = fieldAt(c);
        most += qsizetype(sizeof(qint32)) + (f.null      ? 0
                                             : f.isBytes ? 2 + 2 * f.bytes.size()
                                                         : 3 * f.text.size());
    }
    if (m_blocks.empty() || m_blockUsed.back() + most > blockSize) {
        m_blocks.push_back(
            std::make_unique_for_overwrite<char[]>(static_cast<size_t>(std::max(most, blockSize))));
        m_blockUsed.push_back(0);
    }
    char* const start = m_blocks.back().get() + m_blockUsed.back();
    const RowStart stored{static_cast<quint32>(m_blocks.size() - 1),
                          static_cast<quint32>(m_blockUsed.back())};
    char* out = start;
    for (int c = 0; c < columns; ++c) {
        const FieldSource f = fieldAt(c);
        char* const lengthAt = out;
        out += sizeof(qint32);
        qint32 length = -1;
        if (f.isBytes) {
            out = writeBinaryText(out, f.bytes);
            length = static_cast<qint32>(out - lengthAt - sizeof(qint32));
        } else if (!f.null) {
            out = m_toUtf8.appendToBuffer(out, f.text);
            length = static_cast<qint32>(out - lengthAt - sizeof(qint32));
        }
        std::memcpy(lengthAt, &length, sizeof length);
    }
    m_blockUsed.back() += out - start;
    return stored;
}

void QueryResult::appendRow(const QList<QVariant>& row)
{
    // Edits and the first page: texts as FieldText gives them, bytes as bytes.
    QList<QString> texts(row.size());
    for (qsizetype c = 0; c < row.size(); ++c)
        if (!row[c].isNull() && row[c].typeId() != QMetaType::QByteArray)
            texts[c] = FieldText(row[c]);
    m_rowStart.push_back(storeRow([&](int c) {
        const QVariant& value = row.at(c);
        if (value.isNull())
            return FieldSource{};
        if (value.typeId() == QMetaType::QByteArray) {
            const auto* bytes = static_cast<const QByteArray*>(value.constData());
            return FieldSource{false, true, {}, *bytes};
        }
        return FieldSource{false, false, texts.at(c), {}};
    }));
}

QueryResult::RowStart QueryResult::store(const db::Connection::RowValues& row)
{
    return storeRow([&](int c) {
        if (row.isNull(c))
            return FieldSource{};
        if (isBinary(c))
            return FieldSource{false, true, {}, row.bytes(c)};
        return FieldSource{false, false, row.text(c), {}};
    });
}

const char* QueryResult::rowData(qsizetype row) const
{
    const auto [block, offset] = m_rowStart[static_cast<size_t>(row)];
    return m_blocks[block].get() + offset;
}

QString QueryResult::text(qsizetype row, int column) const
{
    const QString stored = storedText(row, column);
    return stored.isNull() ? stored : m_format.display(m_kinds.value(column), stored);
}

QString QueryResult::storedText(qsizetype row, int column) const
{
    if (row == m_editRow && column >= 0 && column < m_pending.size())
        return m_pending[column].isNull() ? QString() : FieldText(m_pending[column]);
    if (row < 0 || row >= fetchedCount() || column < 0 || column >= m_columns.size())
        return {};
    const char* p = rowData(row);
    for (int c = 0;; ++c) {
        const qint32 length = readLength(p);
        p += sizeof length;
        if (c == column)
            return length < 0 ? QString() : QString::fromUtf8(p, length);
        p += std::max(length, 0);
    }
}

QStringList QueryResult::record(qsizetype row) const
{
    return fields(row, true);
}

QStringList QueryResult::fields(qsizetype row, bool shown) const
{
    QStringList fields;
    if (row < 0 || row >= fetchedCount())
        return fields;
    fields.reserve(m_columns.size());
    const char* p = rowData(row);
    for (qsizetype c = 0; c < m_columns.size(); ++c) {
        const qint32 length = readLength(p);
        p += sizeof length;
        if (length < 0)
            fields.append(QString());
        else if (shown)
            fields.append(m_format.display(m_kinds.value(c), QString::fromUtf8(p, length)));
        else
            fields.append(QString::fromUtf8(p, length));
        p += std::max(length, 0);
    }
    return fields;
}

bool QueryResult::fetchRows(qsizetype count)
{
    if (!m_cursor)
        return false;
    // The rows go into the blocks as they are read; the views learn of them after.
    std::vector<RowStart> added;
    added.reserve(static_cast<size_t>(std::min<qsizetype>(count, 100000)));
    m_cursor->read(count,
                   [&](const db::Connection::RowValues& row) { added.push_back(store(row)); });
    if (!added.empty()) {
        const auto first = static_cast<int>(fetchedCount());
        beginInsertRows({}, first, first + static_cast<int>(added.size()) - 1);
        m_rowStart.insert(m_rowStart.end(), added.begin(), added.end());
        endInsertRows();
    }
    if (m_cursor->atEnd())
        endCursor();
    return !added.empty();
}

void QueryResult::endCursor()
{
    if (!m_cursor)
        return;
    m_cursor.reset(); // the connection is free again
    emit readWhole();
}

void QueryResult::setCurrentRow(int row)
{
    const int bounded =
        fetchedCount() == 0 ? -1 : std::clamp(row, 0, static_cast<int>(fetchedCount()) - 1);
    if (bounded == m_current)
        return;
    m_current = bounded;
    emit currentRowChanged(m_current);
}

void QueryResult::first()
{
    setCurrentRow(0);
}

void QueryResult::prior()
{
    setCurrentRow(m_current - 1);
}

void QueryResult::next()
{
    if (m_current + 1 >= fetchedCount())
        fetchRows(pageSize);
    setCurrentRow(m_current + 1);
}

void QueryResult::last()
{
    while (fetchRows(pageSize * 20)) {
    }
    setCurrentRow(static_cast<int>(fetchedCount()) - 1);
}

int QueryResult::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(fetchedCount());
}

int QueryResult::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant QueryResult::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const QString value = text(index.row(), index.column());
    return value.isNull() ? QVariant() : QVariant(value);
}

QVariant QueryResult::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < m_columns.size() ? QVariant(m_columns[section])
                                                          : QVariant();
    return section + 1;
}

bool QueryResult::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_cursor != nullptr;
}

void QueryResult::fetchMore(const QModelIndex& parent)
{
    if (!parent.isValid())
        fetchRows(pageSize);
}

// The fields of one record in export form, built in one text kept from record to record, so
// that a million records cost no allocation each.
class QueryResult::RecordLine
{
public:
    void clear()
    {
        m_text.resize(0);
        m_ends.clear();
    }
    QString& text() { return m_text; }
    // Room for one field's stored text on its way to text().
    QString& scratch() { return m_scratch; }
    void endField() { m_ends.push_back(m_text.size()); }
    RecordFields fields()
    {
        m_views.clear();
        qsizetype from = 0;
        for (const qsizetype end : m_ends) {
            m_views.emplace_back(m_text.constData() + from, end - from);
            from = end;
        }
        return m_views;
    }

private:
    QString m_text;
    QString m_scratch;
    std::vector<qsizetype> m_ends;
    std::vector<QStringView> m_views;
};

void QueryResult::keptFields(qsizetype row, RecordLine& line)
{
    line.clear();
    QString& text = line.text();
    const char* p = rowData(row);
    for (int c = 0; c < m_columns.size(); ++c) {
        const qint32 length = readLength(p);
        p += sizeof length;
        if (length > 0) {
            QString& stored = line.scratch();
            stored.resize(length); // a UTF-8 byte is at most one UTF-16 unit
            const QChar* end = m_fromUtf8.appendToBuffer(stored.data(), {p, length});
            stored.resize(end - stored.constData());
            m_format.appendDisplay(m_kinds.value(c), stored, text);
            p += length;
        }
        line.endField();
    }
}

void QueryResult::readFields(const db::Connection::RowValues& row, RecordLine& line) const
{
    line.clear();
    QString& text = line.text();
    for (int c = 0; c < m_columns.size(); ++c) {
        if (!row.isNull(c)) {
            if (isBinary(c)) {
                const QByteArrayView bytes = row.bytes(c);
                const qsizetype from = text.size();
                text.resize(from + 2 + 2 * bytes.size());
                writeBinaryText(reinterpret_cast<char16_t*>(text.data()) + from, bytes);
            } else {
                m_format.appendDisplay(m_kinds.value(c), row.text(c), text);
            }
        }
        line.endField();
    }
}

void QueryResult::forEachRecord(const std::function<bool(RecordFields fields)>& onRecord)
{
    // The rows an earlier export passed on are gone: a second one would quietly lack them.
    if (m_unkept > 0)
        throw Error(
            u"Записи этого результата, которых нет в таблице, уже прочитаны прошлой выгрузкой и "
            u"не сохранены. Выполните запрос снова, чтобы выгрузить его целиком."_s);
    // Nor may an export pass off the rows read before an operation as the whole result.
    if (m_cutShort)
        throw Error(u"Записи этого результата, которых нет в таблице, не прочитаны: чтение "
                    u"прервано операцией с базой данных. Выполните запрос снова, чтобы выгрузить "
                    u"его целиком."_s);
    RecordLine line;
    for (qsizetype row = 0; row < fetchedCount(); ++row) {
        keptFields(row, line);
        if (!onRecord(line.fields()))
            return;
    }
    if (!m_cursor)
        return;
    // The rest goes from the server straight to onRecord. Once a row has gone by unkept, no
    // later row may join the grid after the gap: whatever ends the walk (its end, onRecord, an
    // error) ends the reading too.
    struct EndReading
    {
        QueryResult& result;
        ~EndReading() { result.endCursor(); }
    } endReading{*this};
    constexpr qsizetype rowsPerRead = 4096;
    bool stopped = false;
    while (!stopped && !m_cursor->atEnd()) {
        m_unkept += m_cursor->read(rowsPerRead, [&](const db::Connection::RowValues& row) {
            if (stopped)
                return;
            readFields(row, line);
            stopped = !onRecord(line.fields());
        });
    }
}

QList<QVariant> QueryResult::values(qsizetype row) const
{
    QList<QVariant> out;
    const QStringList texts = fields(row, false); // exact: never through the shown form
    for (qsizetype c = 0; c < texts.size(); ++c) {
        if (texts[c].isNull())
            out << QVariant();
        else if (isBinary(c) && texts[c].startsWith(u"0x"_s))
            out << QVariant(QByteArray::fromHex(texts[c].mid(2).toLatin1()));
        else
            out << QVariant(texts[c]);
    }
    return out;
}

QList<QVariant> QueryResult::parameters(QList<QVariant> row) const
{
    for (qsizetype c = 0; c < row.size(); ++c) {
        if (m_kinds.value(c) == db::ColumnKind::DateTime && row[c].typeId() == QMetaType::QString)
            row[c] = console::FieldFormat::languageNeutral(row[c].toString());
    }
    return row;
}

QList<QVariant> QueryResult::pendingOrStored(qsizetype row) const
{
    return row == m_editRow ? m_pending : values(row);
}

void QueryResult::replaceRow(qsizetype row, const QList<QVariant>& rowValues)
{
    // The new texts go to the end of the blocks; the old ones stay unused.
    appendRow(rowValues);
    m_rowStart[static_cast<size_t>(row)] = m_rowStart.back();
    m_rowStart.pop_back();
}

void QueryResult::setEditTarget(const EditTarget& target, Writer writer)
{
    m_target = target;
    m_writer = std::move(writer);
}

Qt::ItemFlags QueryResult::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (isEditable())
        f |= Qt::ItemIsEditable;
    return f;
}

bool QueryResult::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || !isEditable())
        return false;
    const int column = index.column();
    const QString text = value.toString();
    // An editor closed on the shown text must not leave a change to ask about.
    if (m_editRow != index.row() && !value.isNull() && text == this->text(index.row(), column))
        return true;
    if (m_editRow != index.row()) {
        if (m_editRow >= 0)
            post(); // leaving a changed record writes it, as a data grid does
        m_editRow = index.row();
        m_inserting = false;
        m_pending = values(index.row());
    }
    if (isBinary(column) && text.startsWith(u"0x"_s))
        m_pending[column] = QVariant(QByteArray::fromHex(text.mid(2).toLatin1()));
    else if (value.isNull())
        m_pending[column] = QVariant();
    else if (text != this->text(index.row(), column)) // as shown: the exact value stays
        m_pending[column] = QVariant(m_format.toServer(m_kinds.value(column), text));
    emit dataChanged(index, index);
    return true;
}

void QueryResult::insertRecord()
{
    if (!isEditable())
        return;
    if (m_editRow >= 0)
        post();
    while (fetchRows(pageSize * 20)) {
    }
    const auto row = static_cast<int>(fetchedCount());
    beginInsertRows({}, row, row);
    QList<QVariant> empty;
    for (qsizetype c = 0; c < m_columns.size(); ++c)
        empty << QVariant();
    appendRow(empty);
    endInsertRows();
    m_editRow = row;
    m_inserting = true;
    m_pending = empty;
    setCurrentRow(row);
}

void QueryResult::post()
{
    if (m_editRow < 0 || !m_writer)
        return;
    const QList<QVariant> original = values(m_editRow);
    std::optional<Written> written;
    if (m_inserting) {
        m_writer(InsertStatement(m_target, parameters(m_pending)));
        written = Written::Inserted;
    } else if (original != m_pending) {
        m_writer(UpdateStatement(m_target, parameters(original), parameters(m_pending)));
        written = Written::Updated;
    }
    replaceRow(m_editRow, m_pending);
    const int row = m_editRow;
    m_editRow = -1;
    m_inserting = false;
    m_pending.clear();
    emit dataChanged(index(row, 0), index(row, static_cast<int>(m_columns.size()) - 1));
    if (written)
        emit recordWritten(*written);
}

void QueryResult::cancel()
{
    if (m_editRow < 0)
        return;
    const int row = m_editRow;
    const bool inserted = m_inserting;
    m_editRow = -1;
    m_inserting = false;
    m_pending.clear();
    if (inserted) {
        beginRemoveRows({}, row, row);
        m_rowStart.erase(m_rowStart.begin() + row);
        endRemoveRows();
        setCurrentRow(std::min(m_current, static_cast<int>(fetchedCount()) - 1));
        return;
    }
    emit dataChanged(index(row, 0), index(row, static_cast<int>(m_columns.size()) - 1));
}

void QueryResult::deleteRecord()
{
    const int row = m_current;
    if (!isEditable() || row < 0 || !m_writer)
        return;
    if (m_editRow == row && m_inserting) {
        cancel();
        return;
    }
    m_writer(DeleteStatement(m_target, parameters(values(row))));
    if (m_editRow == row) {
        m_editRow = -1;
        m_pending.clear();
    }
    beginRemoveRows({}, row, row);
    m_rowStart.erase(m_rowStart.begin() + row);
    endRemoveRows();
    m_current = -1;
    setCurrentRow(std::min(row, static_cast<int>(fetchedCount()) - 1));
    emit recordWritten(Written::Deleted);
}
