// Variables and SET options: DECLARE, SET @v, the @@ variables, constants evaluated without
// a statement, and the options a session keeps.
#include "SessionImpl.h"

#include <QSysInfo>
#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace sqlsim {

const Variable* SessionImpl::variable(const QString& name) const
{
    if (!m_frame)
        return nullptr;
    const auto it = m_frame->vars.find(name.toLower());
    return it == m_frame->vars.end() ? nullptr : &*it;
}

Variable* SessionImpl::findVariable(const QString& name)
{
    if (!m_frame)
        return nullptr;
    const auto it = m_frame->vars.find(name.toLower());
    return it == m_frame->vars.end() ? nullptr : &*it;
}

Variable SessionImpl::systemVariable(const QString& raw)
{
    const QString name = raw.toLower();
    auto make = [](BaseType b, Value v, int length = 0) {
        Variable var;
        var.type = TypeInfo::of(b, length);
        var.value = std::move(v);
        return var;
    };
    if (name == u"@@version")
        return make(BaseType::NVarChar, m_server.versionString(), 300);
    if (name == u"@@spid")
        return make(BaseType::SmallInt, qint64(m_spid));
    if (name == u"@@rowcount")
        return make(BaseType::Int, m_rowcount);
    if (name == u"@@error")
        return make(BaseType::Int, qint64(m_error));
    if (name == u"@@trancount")
        return make(BaseType::Int, qint64(m_trancount));
    if (name == u"@@identity") {
        Variable v;
        v.type = TypeInfo::of(BaseType::Numeric, 0, 38, 0);
        if (m_hasIdentity)
            v.value = QString::number(m_identity);
        return v;
    }
    if (name == u"@@servername")
        return make(BaseType::NVarChar, m_server.serverName(), 128);
    if (name == u"@@servicename")
        return make(BaseType::NVarChar, u"MSSQLSERVER"_s, 128);
    if (name == u"@@language")
        return make(BaseType::NVarChar, m_language.load()->name, 128);
    if (name == u"@@langid")
        return make(BaseType::SmallInt, qint64(m_language.load()->langid));
    if (name == u"@@datefirst")
        return make(BaseType::TinyInt, qint64(m_language.load()->dateFirst));
    if (name == u"@@textsize")
        return make(BaseType::Int, qint64(m_textSize));
    if (name == u"@@max_connections")
        return make(BaseType::Int, qint64(32767));
    if (name == u"@@microsoftversion")
        return make(BaseType::Int, qint64(m_server.programVersion()));
    if (name == u"@@options")
        return make(BaseType::Int, qint64(5496));
    if (name == u"@@nestlevel")
        return make(BaseType::Int, qint64(m_frame ? m_frame->nestLevel : 0));
    if (name == u"@@procid")
        return make(BaseType::Int, qint64(0));
    if (name == u"@@fetch_status")
        return make(BaseType::Int, qint64(-1));
    if (name == u"@@lock_timeout")
        return make(BaseType::Int, qint64(m_lockTimeout));
    if (name == u"@@dbts")
        return make(BaseType::VarBinary, QByteArray(8, '\0'), 8);
    if (name == u"@@max_precision")
        return make(BaseType::TinyInt, qint64(38));
    throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(raw));
}

QString SessionImpl::constantFunction(const QString& name)
{
    if (name == u"suser_sname" || name == u"suser_name" || name == u"original_login" ||
        name == u"system_user")
        return m_login;
    if (name == u"host_name")
        return QSysInfo::machineHostName();
    if (name == u"app_name")
        return QString();
    // USER_NAME(), CURRENT_USER: dbo, guest or the login's user in the current database.
    return databaseRights(m_currentDb).userName;
}

Value SessionImpl::evaluate(const ExprPtr& e, std::optional<TypeInfo>* type)
{
    // Constants and variables need no round trip through SQLite.
    switch (e->kind) {
    case Expr::Null:
        if (type)
            *type = std::nullopt;
        return {};
    case Expr::Integer: {
        bool ok = false;
        const qint64 v = e->text.toLongLong(&ok);
        if (ok) {
            if (type)
                *type = TypeInfo::of(v >= std::numeric_limits<qint32>::min() &&
                                             v <= std::numeric_limits<qint32>::max()
                                         ? BaseType::Int
                                         : BaseType::BigInt);
            return v;
        }
        break;
    }
    case Expr::String:
        if (type)
            *type = TypeInfo::of(e->unicode ? BaseType::NVarChar : BaseType::VarChar,
                                 std::max(1, int(e->text.size())));
        return e->text;
    case Expr::Variable: {
        const Variable* v = variable(e->text);
        if (!v)
            throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(e->text));
        if (type)
            *type = v->type;
        return v->value;
    }
    default:
        break;
    }
    Translator tr(*this);
    const Translation t = tr.scalar(e);
    if (type)
        *type = tr.scalarType(e);
    StatementGuard g;
    g.st = prepare(t.sql, &t);
    bindAll(g.st, t.binds);
    const int rc = sqlite3_step(g.st);
    if (rc == SQLITE_ROW)
        return columnValue(g.st, 0);
    if (rc != SQLITE_DONE)
        throw sqliteError(rc, &t);
    return {};
}

bool SessionImpl::evaluateCondition(const ExprPtr& e)
{
    const Value v = evaluate(e);
    if (const auto* i = std::get_if<qint64>(&v))
        return *i != 0;
    if (const auto* d = std::get_if<double>(&v))
        return *d != 0;
    return false;
}

QString SessionImpl::evaluateText(const ExprPtr& e)
{
    std::optional<TypeInfo> type;
    const Value v = evaluate(e, &type);
    if (isNull(v))
        return {};
    const Value text = convertValue(v, type, TypeInfo::of(BaseType::NVarChar, ColumnType::max),
                                    ConversionMode::Cast);
    return valueToText(text);
}

void SessionImpl::assign(Frame& frame, const QString& name, const Value& value,
                         const std::optional<TypeInfo>& source, const QString& op)
{
    auto it = frame.vars.find(name.toLower());
    if (it == frame.vars.end())
        throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(name));
    Value v = value;
    std::optional<TypeInfo> src = source;
    if (op != u"=") {
        const QChar o = op[0];
        const QString sql = o == u'+'   ? u"SELECT tsql_add(?1, ?2)"_s
                            : o == u'/' ? u"SELECT tsql_div(?1, ?2)"_s
                                        : u"SELECT (?1 %1 ?2)"_s.arg(o);
        v = scalarQuery(
                sql, {sqliteOperand(it->value, it->type), src ? sqliteOperand(value, *src) : value})
                .value_or(Value());
        src = std::nullopt;
    }
    it->value = convertValue(v, src, it->type, ConversionMode::Variable);
}

void SessionImpl::runDeclare(const Stmt& s, Frame& frame)
{
    for (const auto& d : s.declarations) {
        const QString key = d.name.toLower();
        if (frame.vars.contains(key))
            throw SqlError(
                134, u"The variable name '%1' has already been declared. Variable names "
                     "must be unique within a query batch or stored procedure."_s.arg(d.name));
        Variable v;
        v.type = d.type;
        frame.vars.insert(key, v);
        if (d.init) {
            std::optional<TypeInfo> type;
            const Value value = evaluate(d.init, &type);
            assign(frame, key, value, type);
        }
    }
}

void SessionImpl::runSetOption(const Stmt& s, Frame&)
{
    const QString option = s.words.value(0);
    const QString value = s.value.toUpper();
    const bool on = value == u"ON";
    auto numberValue = [&]() -> qint64 {
        if (!s.variable.isEmpty()) {
            const Variable* v = variable(s.variable);
            if (!v)
                throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(s.variable));
            const Value n = convertValue(v->value, v->type, TypeInfo::of(BaseType::BigInt),
                                         ConversionMode::Cast);
            return isNull(n) ? 0 : std::get<qint64>(n);
        }
        bool ok = false;
        const qint64 n = s.value.toLongLong(&ok);
        if (!ok)
            throw SqlError(102, u"Incorrect syntax near '%1'."_s.arg(s.value));
        return n;
    };
    if (option == u"NOCOUNT") {
        m_nocount = on;
        return;
    }
    if (option == u"LANGUAGE") {
        runSetLanguage(s);
        return;
    }
    if (option == u"DATEFORMAT") {
        // SET DATEFORMAT { format | @format_var }
        // https://learn.microsoft.com/sql/t-sql/statements/set-dateformat-transact-sql
        QString given = s.value;
        if (!s.variable.isEmpty()) {
            const Variable* v = variable(s.variable);
            if (!v)
                throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(s.variable));
            given = valueToText(v->value).trimmed();
        }
        const QString f = given.toLower();
        static const QStringList formats = {u"mdy"_s, u"dmy"_s, u"ymd"_s,
                                            u"ydm"_s, u"myd"_s, u"dym"_s};
        if (!formats.contains(f))
            throw SqlError(2741, u"SET DATEFORMAT date order '%1' not supported."_s.arg(given));
        setDateFormat(f);
        return;
    }
    if (option == u"LOCK_TIMEOUT") {
        m_lockTimeout = int(std::clamp<qint64>(numberValue(), -1, 600000));
        applyBusyTimeout();
        return;
    }
    if (option == u"TEXTSIZE") {
        // The parser has checked the number. 0 is the default of 4096 again; -1 means no limit,
        // and @@TEXTSIZE then reports -1; no value is longer than 2147483647 bytes. The pages
        // name no other negative number: such a number is kept as given and limits nothing.
        // https://learn.microsoft.com/sql/t-sql/statements/set-textsize-transact-sql
        // https://learn.microsoft.com/sql/relational-databases/native-client/features/filestream-support
        const qint64 n = numberValue();
        setTextSize(n == 0 ? defaultTextSize : int(n));
        return;
    }
    if (option == u"ROWCOUNT") {
        if (numberValue() != 0)
            throw SqlError(40000, u"sqlsim does not support 'SET ROWCOUNT' with a limit."_s);
        return;
    }
    if (option == u"IDENTITY_INSERT") {
        const auto [r, cols] = existingTable(s.table);
        if (std::none_of(cols.begin(), cols.end(), [](const TableColumn& c) { return c.identity; }))
            throw SqlError(8106, u"Table '%1' does not have the identity property. Cannot perform "
                                 "SET operation."_s.arg(s.table.text));
        const QString key = (r.schema + u'.' + r.table).toLower();
        if (on)
            m_identityInsert.insert(key);
        else
            m_identityInsert.remove(key);
        return;
    }
    if ((option == u"IMPLICIT_TRANSACTIONS" || option == u"FMTONLY" || option == u"NOEXEC" ||
         option == u"PARSEONLY" || option == u"SHOWPLAN_ALL" || option == u"SHOWPLAN_TEXT" ||
         option == u"SHOWPLAN_XML") &&
        on)
        throw SqlError(40000, u"sqlsim does not support 'SET %1 ON'."_s.arg(option));
    static const QStringList accepted = {u"ANSI_NULLS"_s,
                                         u"ANSI_PADDING"_s,
                                         u"ANSI_WARNINGS"_s,
                                         u"ANSI_NULL_DFLT_ON"_s,
                                         u"ANSI_NULL_DFLT_OFF"_s,
                                         u"ANSI_DEFAULTS"_s,
                                         u"ARITHABORT"_s,
                                         u"ARITHIGNORE"_s,
                                         u"CONCAT_NULL_YIELDS_NULL"_s,
                                         u"CURSOR_CLOSE_ON_COMMIT"_s,
                                         u"NUMERIC_ROUNDABORT"_s,
                                         u"QUOTED_IDENTIFIER"_s,
                                         u"XACT_ABORT"_s,
                                         u"NO_BROWSETABLE"_s,
                                         u"DEADLOCK_PRIORITY"_s,
                                         u"DATEFIRST"_s,
                                         u"LANGUAGE"_s,
                                         u"TRANSACTION ISOLATION LEVEL"_s,
                                         u"STATISTICS"_s,
                                         u"CONTEXT_INFO"_s,
                                         u"REMOTE_PROC_TRANSACTIONS"_s,
                                         u"FORCEPLAN"_s,
                                         u"QUERY_GOVERNOR_COST_LIMIT"_s,
                                         u"IMPLICIT_TRANSACTIONS"_s,
                                         u"FMTONLY"_s,
                                         u"NOEXEC"_s,
                                         u"PARSEONLY"_s,
                                         u"SHOWPLAN_ALL"_s,
                                         u"SHOWPLAN_TEXT"_s,
                                         u"SHOWPLAN_XML"_s,
                                         u"ROWCOUNT"_s};
    for (const QString& w : s.words)
        if (!accepted.contains(w))
            throw SqlError(195, u"'%1' is not a recognized SET option."_s.arg(w));
}

void SessionImpl::setDateFormat(const QString& order)
{
    {
        std::lock_guard lock(m_published);
        m_dateFormat = order;
    }
    setThreadDateFormat(order);
}

void SessionImpl::setTextSize(int bytes)
{
    m_textSize = bytes;
    if (m_reply)
        m_reply->setTextSize(bytes < 0 ? -1 : bytes);
}

void SessionImpl::applyBusyTimeout()
{
    sqlite3_busy_timeout(m_db, m_lockTimeout < 0 ? 10000 : m_lockTimeout);
}

} // namespace sqlsim
