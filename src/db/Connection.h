#pragma once

#include "DbError.h"
#include "RecordSet.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariant>
#include <functional>
#include <memory>
#include <utility>

class QIODevice;

namespace db {

// What a result column holds, as far as the text of its values depends on it. Values of every
// kind but Binary come as text in the driver's fixed form: Integer "-42"; Decimal (decimal,
// numeric, money) "-12.50" with the column's scale; Float "0.10000000000000001" and Real
// "0.100000001" (enough digits to read back exactly); Bit "1"/"0"; Date "2024-02-05"; DateTime
// (datetime, smalldatetime, datetime2) "2024-02-05 10:15:00.123" with the type's fraction
// digits; Time "10:15:00.1234567"; DateTimeOffset "2024-02-05 10:15:00.1234567 +03:00".
enum class ColumnKind
{
    Text,
    Integer,
    Decimal,
    Float,
    Real,
    Bit,
    Date,
    DateTime,
    Time,
    DateTimeOffset,
    Binary,
};

// The program's name as every session tells it to the server (APP=, seen in
// sysprocesses.program_name and sys.dm_exec_sessions), for the whole process: "dbsetup" until
// set. Connections opened afterwards use the new name. Thread-safe.
void setApplicationName(const QString& name);
QString applicationName();

// The program's one connection to SQL Server (through ODBC). Not thread-safe: one thread uses it;
// only an asynchronous statement runs on a worker thread of its own.
class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QString provider() const;
    // Throws Error when open and the provider differs.
    void setProvider(const QString& provider);
    QString connectionString() const;
    void setConnectionString(const QString& text);
    // Before open: the database the connection starts in; while open: switches to it (throws
    // DbError when the server refuses).
    QString defaultDatabase() const;
    void setDefaultDatabase(const QString& name);

    // Never prompts; blocks at most the login timeout. Throws DbError with the driver's or the
    // server's message, followed by the reason where the driver's alone would not tell it (no
    // Kerberos ticket, a server that cannot encrypt or whose certificate is not trusted), or
    // Error for a provider that is not SQL Server's or encryption settings the driver cannot meet.
    void open();
    // Leaves the current database for master before disconnecting: the server ends the session
    // only when it notices, and until then the session would keep that database in use.
    void close();
    bool isOpen() const;
    // Makes master current unless it is (a statement of at most 5 seconds): a session in a
    // database keeps it from being detached or restored over. False when the server would not,
    // which leaves the session of no use.
    bool leaveDatabase();

    // Seconds; 0 means no limit. Applies to statements run on the connection itself.
    int commandTimeout() const;
    void setCommandTimeout(int seconds);

    // Runs the statement text to its end, discarding any rows; a server error throws DbError.
    void execute(const QString& sql);
    // The rows affected (the last count the server reported), negative when it reported none.
    qint64 executeNoRecords(const QString& sql);
    // The same, giving the count of every statement that reported one, in order: a statement
    // that returns rows, and any under SET NOCOUNT ON, reports none.
    QList<qint64> executeRowCounts(const QString& sql);
    // The same with "?" markers bound in order to values: text (QString), integers (qint64),
    // bytes (QByteArray), NULL (a null QVariant).
    qint64 executeParams(const QString& sql, const QList<QVariant>& values);
    // The statement with ":paramName" standing for the bytes read from data (to its end, in
    // chunks), sent as varbinary(max). Gives the rows affected. timeoutSeconds < 0: the
    // connection's command timeout.
    qint64 executeWithStream(const QString& sql, const QString& paramName, QIODevice& data,
                             int timeoutSeconds = -1);
    // Writes the named column of the first row of the statement's result to the file, read in
    // chunks. Throws Error when there is no row or no such column; a NULL writes an empty file.
    void saveColumnToFile(const QString& sql, const QString& column, const QString& path,
                          int timeoutSeconds = -1);

    // Result set with its own command timeout in seconds (0: no limit).
    std::unique_ptr<RecordSet> openRecordSet(const QString& sql, int timeoutSeconds);

    // One row of a result as it arrives; nothing of earlier rows is kept. Columns are read in
    // increasing order (the driver cannot go back), each at most once.
    class RowCursor
    {
    public:
        virtual ~RowCursor() = default;
        virtual const QStringList& columnNames() const = 0;
        virtual int columnIndex(const QString& name) const = 0; // -1 when absent (case ignored)
        // Text of a column (NULL: a null QString; binary: hexadecimal).
        virtual QString text(int column) = 0;
        // Writes the column's bytes to out in chunks; false for NULL. Throws Error when out
        // refuses bytes.
        virtual bool copyTo(int column, QIODevice& out) = 0;
    };
    // The values of the row a cursor has just read, as the driver gave them; valid only while
    // they are handed over.
    class RowValues
    {
    public:
        virtual bool isNull(int column) const = 0;
        // The value's text (see ColumnKind), for every kind of column but Binary.
        virtual QStringView text(int column) const = 0;
        // The value's bytes, for a Binary column.
        virtual QByteArrayView bytes(int column) const = 0;

    protected:
        ~RowValues() = default;
    };
    // A result read as the reader asks for it, page by page; nothing is kept here. Until it is at
    // its end or destroyed, the connection is busy with it and refuses other statements.
    class Cursor
    {
    public:
        virtual ~Cursor() = default;
        virtual const QStringList& columnNames() const = 0;
        // Which columns hold bytes (their values come as QByteArray).
        virtual QList<bool> binaryColumns() const = 0;
        // The kind of each column, from the type the server declared for it.
        virtual QList<ColumnKind> columnKinds() const = 0;
        // Reads up to count more rows, handing each to onRow as it comes; fewer, or none, at the
        // end. Gives the number of rows read.
        virtual qsizetype read(qsizetype count,
                               const std::function<void(const RowValues& row)>& onRow) = 0;
        // Up to count more rows as values (text, binary as QByteArray, NULL as a null QVariant).
        QList<QList<QVariant>> fetch(qsizetype count);
        virtual bool atEnd() const = 0;
    };
    // Runs the statement and opens its first result with columns; throws Error when the
    // statement gives none (it has run all the same).
    std::unique_ptr<Cursor> openCursor(const QString& sql, int timeoutSeconds);

    // Runs the statement and hands each row of its first result to onRow as it is fetched;
    // onRow returns false to stop there (the rest of the result is cancelled). A statement that
    // gives no rows calls onRow never.
    void forEachRow(const QString& sql, int timeoutSeconds,
                    const std::function<bool(RowCursor& row)>& onRow);

    // Asynchronous statement: returns at once; the statement runs on a worker thread and every
    // result is read to the end. Server messages are handed to onMessage on the caller's thread
    // from isExecuting() and waitForAsync().
    using MessageHandler = std::function<void(const ServerMessage& message)>;
    void executeAsync(const QString& sql, MessageHandler onMessage = {});
    // Whether the asynchronous statement still runs; never blocks.
    bool isExecuting();
    // Waits for the asynchronous statement to end; throws its DbError if it failed.
    void waitForAsync();
    // Asks the server to stop the running statement; its error comes from waitForAsync().
    void cancel();
    // From any thread: asks the server to stop the query or fetch the connection's own thread is
    // waiting for (a statement run, a cursor opened or read); that call then throws a DbError
    // whose isCancelled() is true. Does nothing when no such call runs.
    void interrupt();

    void beginTrans();
    void commitTrans();
    void rollbackTrans();
    bool inTransaction() const;

    // Stored procedure "name;group" with named input values (names without regard to case; the
    // list is fetched from the server); gives @RETURN_VALUE. An unknown name throws Error (not
    // DbError), a server error DbError.
    struct ProcedureParameter
    {
        QString name;
        int direction = 1; // SQL_PARAM_INPUT 1, INPUT_OUTPUT 2, OUTPUT 4, RETURN_VALUE 5
        int dataType = 0;
        QString typeName;
    };
    QList<ProcedureParameter> procedureParameters(const QString& procedure);
    int callProcedure(const QString& procedure, const QList<std::pair<QString, QString>>& values);

    class Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace db
