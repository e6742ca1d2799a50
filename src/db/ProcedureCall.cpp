#include "ColumnValues.h"
#include "ConnectionImpl.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace db {

using namespace odbc;

namespace {

// "name;1" → "name"
QString withoutGroup(const QString& procedure)
{
    const qsizetype semicolon = procedure.lastIndexOf(u';');
    return (semicolon < 0 ? procedure : procedure.left(semicolon)).trimmed();
}

} // namespace

QList<Connection::ProcedureParameter> Connection::procedureParameters(const QString& procedure)
{
    d->requireIdle();
    const QString name = withoutGroup(procedure);
    Statement stmt(d->hdbc(), 30);
    std::vector<SQLWCHAR> procName = wide(name);
    QList<ProcedureParameter> parameters;
    SQLRETURN rc = SQLProcedureColumnsW(stmt.get(), nullptr, 0, nullptr, 0, procName.data(),
                                        SQL_NTS, nullptr, 0);
    drain(stmt, rc, [&](SQLSMALLINT) {
        while (stmt.check(SQLFetch(stmt.get()), u"SQLFetch"_s) != SQL_NO_DATA) {
            // The name is a pattern ("_" matches any one character): keep exact matches only.
            const QString proc = readValue(stmt, 3, SQL_WVARCHAR).toString();
            ProcedureParameter p;
            p.name = readValue(stmt, 4, SQL_WVARCHAR).toString();
            p.direction = readValue(stmt, 5, SQL_WVARCHAR).toInt();
            p.dataType = readValue(stmt, 6, SQL_WVARCHAR).toInt();
            p.typeName = readValue(stmt, 7, SQL_WVARCHAR).toString();
            if (withoutGroup(proc).compare(name, Qt::CaseInsensitive) == 0)
                parameters.append(p);
        }
    });
    if (parameters.isEmpty())
        throw Error(u"Хранимая процедура \"%1\" не найдена."_s.arg(procedure));
    return parameters;
}

int Connection::callProcedure(const QString& procedure,
                              const QList<std::pair<QString, QString>>& values)
{
    const QList<ProcedureParameter> all = procedureParameters(procedure);
    QList<ProcedureParameter> inputs;
    for (const ProcedureParameter& p : all)
        if (p.direction != SQL_RETURN_VALUE)
            inputs.append(p);
    // Values by name, case ignored; a name the procedure lacks is the caller's error.
    QList<std::optional<QString>> given(inputs.size());
    qsizetype last = -1;
    for (const auto& [name, value] : values) {
        const auto it = std::find_if(inputs.begin(), inputs.end(),
                                     [&wanted = name](const ProcedureParameter& p) {
                                         return p.name.compare(wanted, Qt::CaseInsensitive) == 0;
                                     });
        if (it == inputs.end())
            throw Error(u"Параметр \"%1\" не найден у процедуры \"%2\"."_s.arg(name, procedure));
        const qsizetype index = it - inputs.begin();
        given[index] = value;
        last = std::max(last, index);
    }
    d->requireIdle();
    Statement stmt(d->hdbc(), 30);
    // Parameters up to the last one given are passed by position, the ones between as NULL.
    QString call = u"{? = call "_s + withoutGroup(procedure);
    std::vector<std::vector<SQLWCHAR>> buffers(static_cast<size_t>(last + 1));
    std::vector<SQLLEN> indicators(static_cast<size_t>(last + 2), 0);
    SQLINTEGER status = 0;
    stmt.check(SQLBindParameter(stmt.get(), 1, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 10, 0,
                                &status, sizeof status, &indicators[0]),
               u"SQLBindParameter"_s);
    for (qsizetype i = 0; i <= last; ++i) {
        call += i == 0 ? u"("_s : u","_s;
        call += u'?';
        auto& buffer = buffers[static_cast<size_t>(i)];
        SQLLEN& indicator = indicators[static_cast<size_t>(i + 1)];
        const QString value = given[i].value_or(QString());
        buffer = wide(value);
        indicator = given[i] ? static_cast<SQLLEN>(value.size()) * 2 : SQL_NULL_DATA;
        stmt.check(
            SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 2), SQL_PARAM_INPUT,
                             SQL_C_WCHAR, value.size() > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR,
                             static_cast<SQLULEN>(std::max<qsizetype>(value.size(), 1)), 0,
                             buffer.data(), static_cast<SQLLEN>(buffer.size() * 2), &indicator),
            u"SQLBindParameter"_s);
    }
    if (last >= 0)
        call += u')';
    call += u'}';
    std::vector<SQLWCHAR> text = wide(call);
    drain(stmt, SQLExecDirectW(stmt.get(), text.data(), SQL_NTS));
    // The return status is there only after every result has been read.
    return indicators[0] == SQL_NULL_DATA ? 0 : static_cast<int>(status);
}

} // namespace db
