#include "OdbcStatement.h"

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace db::odbc {

std::vector<SQLWCHAR> wide(const QString& text)
{
    std::vector<SQLWCHAR> buffer(static_cast<size_t>(text.size()) + 1, 0);
    for (qsizetype i = 0; i < text.size(); ++i)
        buffer[static_cast<size_t>(i)] = text[i].unicode();
    return buffer;
}

QString fromWide(const SQLWCHAR* text, qsizetype length)
{
    return QString(reinterpret_cast<const QChar*>(text), length);
}

QList<Diagnostic> diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    QList<Diagnostic> result;
    for (SQLSMALLINT record = 1; record < 1000; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::vector<SQLWCHAR> text(8192, 0);
        const SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                            static_cast<SQLSMALLINT>(text.size()), &length);
        if (!succeeded(rc))
            break;
        result.append({fromWide(state, 5), static_cast<int>(native),
                       fromWide(text.data(), std::clamp<qsizetype>(length, 0, 8191))});
    }
    return result;
}

// The first error among the diagnostics, or a plain text when the driver gave none.
[[noreturn]] void throwDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const QString& fallback)
{
    const QList<Diagnostic> diag = diagnostics(type, handle);
    for (const Diagnostic& d : diag)
        if (!d.state.startsWith(u"01"_s))
            throw DbError(d.text, d.native, d.state);
    if (!diag.isEmpty())
        throw DbError(diag.first().text, diag.first().native, diag.first().state);
    throw DbError(fallback);
}

Handle::Handle(SQLSMALLINT type, SQLHANDLE parent) : m_type(type)
{
    if (!succeeded(SQLAllocHandle(type, parent, &m_handle))) {
        m_handle = SQL_NULL_HANDLE;
        throw DbError(u"Не удалось получить описатель ODBC."_s);
    }
}

qint64 drain(const Statement& stmt, SQLRETURN rc,
             const std::function<void(SQLSMALLINT columns)>& onRows, QList<qint64>* counts)
{
    qint64 count = -1;
    bool rowsTaken = false;
    std::optional<DbError> firstError;
    // After an error the remaining results are still read (freeing the statement early would
    // cancel them); a lost connection ends the loop, as nothing more can come.
    for (long guard = 0; rc != SQL_NO_DATA && guard < 1000000; ++guard) {
        try {
            stmt.check(rc, u"SQLExecDirect"_s);
            SQLSMALLINT columns = 0;
            SQLNumResultCols(stmt.get(), &columns);
            if (columns > 0) {
                if (onRows && !rowsTaken) {
                    rowsTaken = true;
                    onRows(columns);
                } else {
                    while (stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA) {
                    }
                }
            } else {
                SQLLEN n = -1;
                if (succeeded(SQLRowCount(stmt.get(), &n)) && n >= 0) {
                    count = n;
                    if (counts != nullptr)
                        counts->append(n);
                }
            }
        } catch (const DbError& e) {
            if (!firstError)
                firstError = e;
            if (e.isConnectionLoss() || e.isCancelled())
                break;
            // A dropped connection may come back as any error, again and again.
            if (stmt.connectionDead()) {
                firstError = DbError(u"Соединение с сервером потеряно: "_s + firstError->message(),
                                     firstError->nativeError(), u"08S01"_s);
                break;
            }
        }
        rc = SQLMoreResults(stmt.get());
    }
    if (firstError)
        throw *firstError;
    return count;
}

} // namespace db::odbc
