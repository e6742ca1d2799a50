#pragma once

#include "Connection.h"
#include "EditTarget.h"
#include "FieldFormat.h"
#include "ResultRows.h"

#include <QAbstractTableModel>
#include <QStringDecoder>
#include <QStringEncoder>
#include <memory>
#include <vector>

// The console's result set: rows fetched from the server in pages as the grid needs them (a
// million-row result shows its first rows at once) and kept compactly as text, in the server's
// form; the current record that the grid and the navigator share. Export reads it to the end:
// the rows the grid has fetched from here, the rest straight from the server without keeping
// them, so that exporting any number of rows takes little memory; the grid then ends where it
// ended before the export (unkeptCount() tells how many rows it lacks).
// The grid and the export see the texts in the regional settings in force when the result was
// opened (console::FieldFormat); edits typed in that form go back in the server's form.
class QueryResult : public QAbstractTableModel, public ResultRows
{
    Q_OBJECT

public:
    static constexpr qsizetype pageSize = 500;

    explicit QueryResult(QObject* parent = nullptr);
    ~QueryResult() override;

    // Closes the previous result, then runs sql on the connection and fetches the first page.
    // A failure leaves the result closed and empty.
    void open(db::Connection& connection, const QString& sql, int timeoutSeconds);
    // Opening in two steps, for a statement run off the GUI thread: read() runs the statement
    // and fetches its first page without touching the model (any thread); show() makes that the
    // result (the model's thread).
    struct FirstPage
    {
        std::unique_ptr<db::Connection::Cursor> cursor;
        QList<QList<QVariant>> rows;
    };
    static FirstPage read(db::Connection& connection, const QString& sql, int timeoutSeconds);
    void show(FirstPage page);
    void close();
    // Ends reading from the server before the last row: the rows fetched so far and a pending
    // change stay, the rest of the result is not read (isCutShort()).
    void endReading();
    bool isOpen() const override { return m_open; }
    // No row is left to fetch: every row has been, or reading was cut short.
    bool isComplete() const { return m_cursor == nullptr; }
    bool isCutShort() const { return m_cutShort; }
    // An export can read every record (forEachRecord refuses otherwise).
    bool isExportable() const { return m_open && m_unkept == 0 && !m_cutShort; }
    qsizetype fetchedCount() const { return static_cast<qsizetype>(m_rowStart.size()); }
    // Rows of the result an export read from the server without keeping them.
    qsizetype unkeptCount() const { return m_unkept; }

    // The field's text as the grid shows it; a null QString for NULL.
    QString text(qsizetype row, int column) const;
    QStringList record(qsizetype row) const;
    db::ColumnKind columnKind(int column) const { return m_kinds.value(column); }

    // The current record: -1 when the result is empty or closed.
    int currentRow() const { return m_current; }
    void setCurrentRow(int row);
    void first();
    void prior();
    void next();
    void last(); // fetches the rest first
    // Fetches up to count more rows; false when there were none left.
    bool fetchRows(qsizetype count);

    // Writing back. The writer runs a statement and gives the rows it affected.
    using Writer = std::function<qint64(const BoundStatement& statement)>;
    void setEditTarget(const EditTarget& target, Writer writer);
    const EditTarget& editTarget() const { return m_target; }
    bool isEditable() const { return m_open && m_target.editable(); }
    bool isModified() const { return m_editRow >= 0; }
    // A new record after the last one, made current; written by post().
    void insertRecord();
    // Writes the pending change of the current record; throws when the server or the row's
    // check refuses it (the change stays pending).
    void post();
    void cancel();
    // Deletes the current record on the server, then here.
    void deleteRecord();

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A typed text equal to the field's shown text changes nothing (the value stays exact, and
    // no change of the record begins); another is read in the regional settings' form
    // (console::FieldFormat::toServer).
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // ResultRows: the field names, and every record from the first to the last.
    QStringList fieldNames() const override { return m_columns; }
    void forEachRecord(const std::function<bool(RecordFields fields)>& onRecord) override;

    // What a write to the server did to a record.
    enum class Written
    {
        Inserted,
        Updated,
        Deleted
    };

signals:
    void currentRowChanged(int row);
    // A record was written to the server (the server took it).
    void recordWritten(QueryResult::Written what);
    // The last rows have been fetched after the first page: the connection is free again.
    void readWhole();
    // endReading() left the rest of the result unread.
    void cutShort();

private:
    // What a kept field is made from.
    struct FieldSource
    {
        bool null = true;
        bool isBytes = false;
        QStringView text;
        QByteArrayView bytes;
    };
    using RowStart = std::pair<quint32, quint32>; // block, offset
    // Keeps a row given as values (the first page, an edit) after the others.
    void appendRow(const QList<QVariant>& row);
    // Stores a row's texts; the row joins the model when its start joins m_rowStart.
    RowStart store(const db::Connection::RowValues& row);
    template <typename FieldAt> RowStart storeRow(FieldAt fieldAt);
    class RecordLine;
    // A kept row's, or a row's just read, fields in export form.
    void keptFields(qsizetype row, RecordLine& line);
    void readFields(const db::Connection::RowValues& row, RecordLine& line) const;
    // Ends reading from the server: the connection is free again.
    void endCursor();
    // The stored texts of a row, in the server's form or (shown) as the grid shows them.
    QStringList fields(qsizetype row, bool shown) const;
    // The field's text in the server's form (the pending change's when there is one).
    QString storedText(qsizetype row, int column) const;
    // The stored texts of a row as values to bind (bytes back from "0x…").
    QList<QVariant> values(qsizetype row) const;
    bool isBinary(qsizetype column) const
    {
        return m_kinds.value(column) == db::ColumnKind::Binary;
    }
    void replaceRow(qsizetype row, const QList<QVariant>& values);
    QList<QVariant> pendingOrStored(qsizetype row) const;
    // A row's values as statement parameters: dates and times in a form no session language
    // reads otherwise.
    QList<QVariant> parameters(QList<QVariant> row) const;

    EditTarget m_target;
    Writer m_writer;
    QList<db::ColumnKind> m_kinds;
    console::FieldFormat m_format;
    int m_editRow = -1;        // the row with a change not yet written
    bool m_inserting = false;  // that row is new
    QList<QVariant> m_pending; // its values
    const char* rowData(qsizetype row) const;

    std::unique_ptr<db::Connection::Cursor> m_cursor;
    QStringList m_columns;
    bool m_open = false;
    int m_current = -1;
    // Rows as runs of fields (a 32-bit byte length, -1 for NULL, then UTF-8) in large blocks, so
    // that a million rows cost little more than their text.
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<qsizetype> m_blockUsed;
    std::vector<RowStart> m_rowStart;
    qsizetype m_unkept = 0;
    bool m_cutShort = false;
    QStringEncoder m_toUtf8{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    QStringDecoder m_fromUtf8{QStringDecoder::Utf8, QStringConverter::Flag::Stateless};
};
