#include "Parser.h"
#include "SessionImpl.h"

#include <cstdlib>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

constexpr int maxNesting = 32;

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// "master.dbo.sp_attach_db;1" -> parts; the group number goes.
ObjectName splitProcedureName(const QString& raw)
{
    QString text = raw.trimmed();
    const qsizetype semi = text.lastIndexOf(u';');
    if (semi > 0 && semi + 1 < text.size() && text.mid(semi + 1).toInt() > 0)
        text = text.left(semi);
    QStringList parts;
    QString cur;
    bool inBracket = false, inQuote = false;
    for (const QChar c : text) {
        if (c == u'[' && !inBracket && !inQuote)
            inBracket = true;
        else if (c == u']' && inBracket)
            inBracket = false;
        else if (c == u'"' && !inBracket)
            inQuote = !inQuote;
        else if (c == u'.' && !inBracket && !inQuote) {
            parts << cur;
            cur.clear();
        } else
            cur += c;
    }
    parts << cur;
    ObjectName n;
    n.name = parts.last();
    if (parts.size() >= 2)
        n.schema = parts[parts.size() - 2];
    if (parts.size() >= 3)
        n.database = parts[parts.size() - 3];
    n.text = raw;
    return n;
}

} // namespace

void SessionImpl::runExec(const Stmt& s, Frame& frame)
{
    if (s.dynamicSql) {
        const QString sql = evaluateText(s.dynamicSql);
        QList<CallArg> none;
        runDynamic(sql, {}, none, frame, nullptr);
        return;
    }
    ObjectName name = s.procedure;
    if (!s.procedureVariable.isEmpty()) {
        const Variable* v = variable(s.procedureVariable);
        if (!v)
            throw SqlError(137,
                           u"Must declare the scalar variable \"%1\"."_s.arg(s.procedureVariable));
        name = splitProcedureName(valueToText(v->value));
    }
    QList<CallArg> args;
    bool named = false;
    for (const ExecArg& a : s.args) {
        CallArg c;
        c.name = a.name.toLower();
        if (!c.name.isEmpty())
            named = true;
        else if (named)
            throw SqlError(119, u"Must pass parameter number %1 and subsequent parameters as "
                                "'@name = value'. After the form '@name = value' has been used, "
                                "all subsequent parameters must be passed in the form '@name = "
                                "value'."_s.arg(args.size() + 1));
        c.isDefault = a.isDefault;
        c.output = a.output;
        if (a.value) {
            if (a.output) {
                if (a.value->kind != Expr::Variable)
                    throw SqlError(179, u"Cannot use the OUTPUT option when passing a constant to "
                                        "a stored procedure."_s);
                c.outputVariable = a.value->text;
            }
            c.value = evaluate(a.value, &c.type);
        }
        c.ordinal = int(args.size());
        args << c;
    }
    const CallResult result = callProcedure(name, args, frame);
    for (const auto& [arg, value] : result.outputs) {
        if (!arg.outputVariable.isEmpty())
            assign(frame, arg.outputVariable, value.value, value.type);
    }
    if (!s.returnVariable.isEmpty())
        assign(frame, s.returnVariable, qint64(result.status), TypeInfo::of(BaseType::Int));
    if (frame.nestLevel == 0) {
        m_reply->returnStatus(result.status);
        m_reply->done(DoneKind::Proc, std::nullopt, false);
    }
}

bool SessionImpl::isSystemProcedure(const QString& n) const
{
    static const QSet<QString> names = {u"sp_attach_db"_s,
                                        u"sp_attach_single_file_db"_s,
                                        u"sp_detach_db"_s,
                                        u"sp_procoption"_s,
                                        u"sp_spaceused"_s,
                                        u"sp_helpdb"_s,
                                        u"sp_databases"_s,
                                        u"sp_tables"_s,
                                        u"sp_columns"_s,
                                        u"sp_pkeys"_s,
                                        u"sp_sproc_columns"_s,
                                        u"sp_sproc_columns_100"_s,
                                        u"sp_stored_procedures"_s,
                                        u"sp_datatype_info"_s,
                                        u"sp_datatype_info_100"_s,
                                        u"sp_executesql"_s,
                                        u"sp_prepare"_s,
                                        u"sp_prepexec"_s,
                                        u"sp_execute"_s,
                                        u"sp_unprepare"_s,
                                        u"sp_helptext"_s,
                                        u"xp_fixeddrives"_s,
                                        u"xp_dirtree"_s,
                                        u"xp_fileexist"_s,
                                        u"xp_create_subdir"_s,
                                        u"xp_instance_regread"_s,
                                        u"sqlsim_fail_next_transfer"_s,
                                        u"sp_reset_connection"_s,
                                        u"sqlsim_drop_connection"_s,
                                        u"sqlsim_drop_next_login"_s};
    return names.contains(n) || isSecurityProcedure(n);
}

SessionImpl::CallResult SessionImpl::callProcedure(const ObjectName& name, QList<CallArg> args,
                                                   Frame& caller)
{
    if (caller.nestLevel >= maxNesting)
        throw SqlError(217, u"Maximum stored procedure, function, trigger, or view nesting level "
                            "exceeded (limit 32)."_s);
    const QString lower = name.name.toLower();
    if (isSystemProcedure(lower) &&
        (name.database.isEmpty() || sameName(name.database, u"master"_s) ||
         m_server.database(name.database)))
        return callSystemProcedure(lower, args, caller);
    QString database = name.database.isEmpty() ? m_currentDb : name.database;
    if (!m_server.database(database))
        throw SqlError(2812, u"Could not find stored procedure '%1'."_s.arg(name.text));
    auto found = findProcedure(database, name.name);
    // sp_ procedures are looked for in master as well.
    if (!found && name.database.isEmpty() && lower.startsWith(u"sp_"_s)) {
        database = u"master"_s;
        found = findProcedure(database, name.name);
    }
    if (!found)
        throw SqlError(2812, u"Could not find stored procedure '%1'."_s.arg(name.text));
    return callUserProcedure(m_server.database(database)->files.name, found->first, found->second,
                             args, caller);
}

std::optional<std::pair<QString, QString>> SessionImpl::findProcedure(const QString& database,
                                                                      const QString& name)
{
    const auto alias = schemaFor(database);
    if (!alias)
        return std::nullopt;
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = (u"SELECT name, definition FROM "_s + Translator::quote(*alias) +
                            u".sqlsim_modules WHERE name = ?1 COLLATE TSQL"_s)
                               .toUtf8();
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return std::nullopt;
    }
    const QByteArray n = name.toUtf8();
    sqlite3_bind_text(st, 1, n.constData(), int(n.size()), SQLITE_TRANSIENT);
    std::optional<std::pair<QString, QString>> out;
    if (sqlite3_step(st) == SQLITE_ROW)
        out = std::pair{valueToText(columnValue(st, 0)), valueToText(columnValue(st, 1))};
    sqlite3_finalize(st);
    return out;
}

std::shared_ptr<Stmt> SessionImpl::parsedProcedure(const QString& definition)
{
    auto it = m_procCache.find(definition);
    if (it != m_procCache.end())
        return *it;
    const auto statements = parseBatch(definition);
    if (statements.empty() || statements[0]->kind != Stmt::CreateProc)
        throw SqlError(40001, u"sqlsim found a damaged procedure definition."_s);
    if (m_procCache.size() > 200)
        m_procCache.clear();
    m_procCache.insert(definition, statements[0]);
    return statements[0];
}

SessionImpl::CallResult SessionImpl::callUserProcedure(const QString& database, const QString& name,
                                                       const QString& definition,
                                                       QList<CallArg>& args, Frame& caller)
{
    const std::shared_ptr<Stmt> proc = parsedProcedure(definition);
    Frame frame;
    frame.procedure = name;
    frame.doneKind = DoneKind::InProc;
    frame.nestLevel = caller.nestLevel + 1;

    // Arguments to parameters.
    std::vector<std::optional<qsizetype>> argFor(proc->params.size());
    qsizetype positional = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const CallArg& a = args[i];
        if (a.name.isEmpty()) {
            if (size_t(positional) >= proc->params.size())
                throw SqlError(8144, u"Procedure or function %1 has too many arguments "
                                     "specified."_s.arg(name));
            argFor[size_t(positional++)] = i;
            continue;
        }
        const auto it = std::find_if(proc->params.begin(), proc->params.end(),
                                     [&](const ProcParam& p) { return p.name == a.name; });
        if (it == proc->params.end())
            throw SqlError(8145, u"%1 is not a parameter for procedure %2."_s.arg(a.name, name));
        argFor[size_t(it - proc->params.begin())] = i;
    }
    Frame* saved = m_frame;
    m_frame = &frame;
    try {
        for (size_t p = 0; p < proc->params.size(); ++p) {
            const ProcParam& param = proc->params[p];
            Variable v;
            v.type = param.type;
            frame.vars.insert(param.name, v);
            if (argFor[p] && !args[*argFor[p]].isDefault) {
                const CallArg& a = args[*argFor[p]];
                assign(frame, param.name, a.value, a.type);
            } else if (param.hasDefault) {
                m_frame = saved;
                std::optional<TypeInfo> type;
                const Value d = evaluate(param.defaultValue, &type);
                m_frame = &frame;
                assign(frame, param.name, d, type);
            } else {
                throw SqlError(201, u"Procedure or function '%1' expects parameter '%2', which was "
                                    "not supplied."_s.arg(name, param.displayName));
            }
        }
    } catch (...) {
        m_frame = saved;
        throw;
    }

    // The procedure runs in its own database.
    const QString savedDb = m_currentDb;
    const bool switchDb = !sameName(savedDb, database);
    if (switchDb) {
        if (!schemaFor(database)) {
            m_frame = saved;
            throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                                "correctly."_s.arg(database));
        }
        setCurrentDatabase(database);
    }
    const SetOptionScope options(*this);
    ++m_nest;
    auto restore = [&] {
        --m_nest;
        if (switchDb)
            setCurrentDatabase(savedDb);
        m_frame = saved;
    };
    try {
        for (const StmtPtr& st : proc->body) {
            const Flow f = runStatement(*st, frame);
            if (f == Flow::Return)
                break;
        }
    } catch (...) {
        restore();
        throw;
    }
    restore();

    CallResult result;
    result.status = frame.returnStatus;
    for (size_t p = 0; p < proc->params.size(); ++p) {
        if (!proc->params[p].output || !argFor[p])
            continue;
        const CallArg& a = args[*argFor[p]];
        if (!a.output)
            continue;
        result.outputs.append({a, frame.vars.value(proc->params[p].name)});
    }
    return result;
}

void SessionImpl::runDynamic(const QString& sql, const QList<ProcParam>& declarations,
                             QList<CallArg>& args, Frame& caller, QList<CallArg>* outputs)
{
    if (caller.nestLevel >= maxNesting)
        throw SqlError(217, u"Maximum stored procedure, function, trigger, or view nesting level "
                            "exceeded (limit 32)."_s);
    std::vector<StmtPtr> statements;
    try {
        statements = parseBatch(sql);
    } catch (SqlError& e) {
        // A syntax error in dynamic SQL ends that batch only, not the caller's.
        e.abortBatch = false;
        throw;
    }
    Frame frame;
    frame.doneKind = caller.nestLevel == 0 && caller.doneKind == DoneKind::Statement
                         ? DoneKind::Statement
                         : DoneKind::InProc;
    frame.nestLevel = caller.nestLevel + 1;
    frame.procedure = caller.procedure;
    std::vector<std::optional<qsizetype>> argFor(size_t(declarations.size()));
    qsizetype positional = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const CallArg& a = args[i];
        if (a.name.isEmpty()) {
            if (positional >= declarations.size())
                throw SqlError(8144, u"Procedure or function  has too many arguments specified."_s);
            argFor[size_t(positional++)] = i;
            continue;
        }
        const auto it = std::find_if(declarations.begin(), declarations.end(),
                                     [&](const ProcParam& p) { return p.name == a.name; });
        if (it == declarations.end())
            throw SqlError(8145, u"%1 is not a parameter for procedure ."_s.arg(a.name));
        argFor[size_t(it - declarations.begin())] = i;
    }
    Frame* saved = m_frame;
    m_frame = &frame;
    try {
        for (qsizetype p = 0; p < declarations.size(); ++p) {
            const ProcParam& d = declarations[p];
            Variable v;
            v.type = d.type;
            frame.vars.insert(d.name, v);
            if (argFor[size_t(p)] && !args[*argFor[size_t(p)]].isDefault) {
                const CallArg& a = args[*argFor[size_t(p)]];
                assign(frame, d.name, a.value, a.type);
            } else if (d.hasDefault) {
                std::optional<TypeInfo> type;
                const Value dv = evaluate(d.defaultValue, &type);
                assign(frame, d.name, dv, type);
            } else {
                throw SqlError(8178, u"The parameterized query '(%1' expects the parameter '%2', "
                                     "which was not supplied."_s.arg(d.displayName, d.displayName));
            }
        }
        const SetOptionScope options(*this);
        ++m_nest;
        try {
            for (const StmtPtr& st : statements) {
                const Flow f = runStatement(*st, frame);
                if (f == Flow::Return)
                    break;
            }
        } catch (...) {
            --m_nest;
            throw;
        }
        --m_nest;
    } catch (...) {
        m_frame = saved;
        throw;
    }
    m_frame = saved;
    if (outputs) {
        for (qsizetype p = 0; p < declarations.size(); ++p) {
            if (!declarations[p].output || !argFor[size_t(p)])
                continue;
            CallArg a = args[*argFor[size_t(p)]];
            const Variable v = frame.vars.value(declarations[p].name);
            a.value = v.value;
            a.type = v.type;
            outputs->append(a);
        }
    }
}

// ---- RPC

void SessionImpl::executeRpc(const QString& procedure, const QList<Param>& params, ReplySink& reply)
{
    std::lock_guard busy(m_busy);
    struct RpcProxy : ReplySink
    {
        ReplySink& inner;
        int dones = 0;
        bool pending = false;
        explicit RpcProxy(ReplySink& r) : inner(r) {}
        void message(const Message& m) override
        {
            pending = true;
            inner.message(m);
        }
        void columns(const QList<Column>& c) override
        {
            pending = true;
            inner.columns(c);
        }
        void row(const QList<Value>& v) override { inner.row(v); }
        void setTextSize(qint64 bytes) override { inner.setTextSize(bytes); }
        void done(DoneKind kind, std::optional<qint64> n, bool e) override
        {
            // Inside an RPC every statement ends with DONEINPROC.
            if (kind == DoneKind::Statement)
                kind = DoneKind::InProc;
            ++dones;
            pending = false;
            inner.done(kind, n, e);
        }
        void databaseChanged(const QString& a, const QString& b) override
        {
            pending = true;
            inner.databaseChanged(a, b);
        }
        void transactionBegan(quint64 d) override { inner.transactionBegan(d); }
        void transactionCommitted(quint64 d) override { inner.transactionCommitted(d); }
        void transactionRolledBack(quint64 d) override { inner.transactionRolledBack(d); }
        void returnStatus(int s) override { inner.returnStatus(s); }
        void returnValue(int o, const Param& p) override { inner.returnValue(o, p); }
        bool cancelled() override { return inner.cancelled(); }
        void flush() override { inner.flush(); }
        [[noreturn]] void dropConnection() override
        {
            inner.dropConnection();
            std::abort();
        }
    } out(reply);
    beginRequest(out);
    Frame frame;
    frame.doneKind = DoneKind::InProc;
    m_frame = &frame;

    const ObjectName name = splitProcedureName(procedure);
    const QString lower = name.name.toLower();
    QList<CallArg> args;
    for (qsizetype i = 0; i < params.size(); ++i) {
        const Param& p = params[i];
        CallArg a;
        a.name = p.name.toLower();
        if (!a.name.isEmpty() && !a.name.startsWith(u'@'))
            a.name.prepend(u'@');
        a.type = typeOfColumnType(p.type);
        a.value = p.value;
        // DATETIMN and SMALLDATETIME values: datetime's stored form, as a datetime argument.
        if (const auto* dt = std::get_if<QDateTime>(&p.value))
            a.value = storageDateTime(*dt, BaseType::DateTime);
        a.output = p.output;
        a.ordinal = int(i);
        args << a;
    }

    int status = 0;
    QList<std::pair<CallArg, Variable>> outputs;
    bool failed = false;
    try {
        CallResult r = callProcedure(name, args, frame);
        status = r.status;
        outputs = r.outputs;
    } catch (const SqlError& e) {
        m_error = e.message.number;
        sendError(e.message, nullptr, frame);
        out.done(DoneKind::InProc, std::nullopt, true);
        failed = true;
        status = lower.startsWith(u"sp_"_s) ? 1 : -6;
    } catch (const BatchAborted&) {
        failed = true;
        status = -6;
    } catch (const Cancelled&) {
        endRequest();
        return;
    }
    out.returnStatus(status);
    for (const auto& [arg, value] : outputs) {
        Param p;
        p.name = params.value(arg.ordinal).name;
        p.type = value.type.columnType();
        p.value = wireValue(value.value, value.type);
        p.output = true;
        out.returnValue(arg.ordinal, p);
    }
    out.done(DoneKind::Proc, std::nullopt, failed);
    endRequest();
}

} // namespace sqlsim
