#include "Collation.h"
#include "Parser.h"
#include "ServerFiles.h"
#include "SessionImpl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <sqlite3.h>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString stripGroup(const QString& name)
{
    const qsizetype semi = name.lastIndexOf(u';');
    if (semi > 0 && name.mid(semi + 1).toInt() > 0)
        return name.left(semi);
    return name;
}

QString lastPart(const QString& name)
{
    QString n = stripGroup(name);
    const qsizetype dot = n.lastIndexOf(u'.');
    if (dot >= 0)
        n = n.mid(dot + 1);
    if (n.startsWith(u'[') && n.endsWith(u']'))
        n = n.mid(1, n.size() - 2);
    return n;
}

Column col(const QString& name, const TypeInfo& type)
{
    Column c;
    c.name = name;
    c.type = type.columnType();
    return c;
}

TypeInfo sysname()
{
    return TypeInfo::of(BaseType::NVarChar, 128);
}
TypeInfo smallint()
{
    return TypeInfo::of(BaseType::SmallInt);
}
TypeInfo intType()
{
    return TypeInfo::of(BaseType::Int);
}
TypeInfo varchar(int n)
{
    return TypeInfo::of(BaseType::VarChar, n);
}
TypeInfo nvarchar(int n)
{
    return TypeInfo::of(BaseType::NVarChar, n);
}

QString megabytes(double bytes)
{
    return QString::number(bytes / 1048576.0, 'f', 2) + u" MB"_s;
}

QString kilobytes(qint64 bytes)
{
    return QString::number(bytes / 1024) + u" KB"_s;
}

// What ODBC's catalogue functions report for a type.
struct OdbcType
{
    int dataType = 0;
    QString typeName;
    Value precision;
    Value length;
    Value scale;
    Value radix;
    int sqlDataType = 0;
    Value datetimeSub;
    Value octetLength;
    int ssDataType = 0;
};

OdbcType odbcType(const TypeInfo& t, int odbcVer)
{
    OdbcType o;
    o.typeName = t.baseName();
    auto numeric = [&](int dt, qint64 prec, qint64 len, std::optional<qint64> scale, int ss) {
        o.dataType = dt;
        o.precision = prec;
        o.length = len;
        o.scale = scale ? Value(*scale) : Value();
        o.radix = qint64(10);
        o.sqlDataType = dt;
        o.ssDataType = ss;
    };
    auto text = [&](int dt, qint64 chars, qint64 bytes, int ss) {
        o.dataType = dt;
        o.precision = chars;
        o.length = bytes;
        o.sqlDataType = dt;
        o.octetLength = bytes;
        o.ssDataType = ss;
    };
    switch (t.base) {
    case BaseType::Bit:
        numeric(-7, 1, 1, std::nullopt, 50);
        o.radix = {};
        break;
    case BaseType::TinyInt:
        numeric(-6, 3, 1, 0, 38);
        break;
    case BaseType::SmallInt:
        numeric(5, 5, 2, 0, 38);
        break;
    case BaseType::Int:
        numeric(4, 10, 4, 0, 38);
        break;
    case BaseType::BigInt:
        numeric(-5, 19, 8, 0, 108);
        break;
    case BaseType::Real:
        numeric(7, 7, 4, std::nullopt, 109);
        break;
    case BaseType::Float:
        numeric(6, 15, 8, std::nullopt, 109);
        break;
    case BaseType::Decimal:
        numeric(3, t.precision, t.precision + 2, t.scale, 106);
        break;
    case BaseType::Numeric:
        numeric(2, t.precision, t.precision + 2, t.scale, 108);
        break;
    case BaseType::Money:
        numeric(3, 19, 21, 4, 110);
        break;
    case BaseType::SmallMoney:
        numeric(3, 10, 12, 4, 110);
        break;
    case BaseType::DateTime2:
    case BaseType::Time:
    case BaseType::DateTimeOffset: {
        // learn.microsoft.com "Catalog Metadata" (ODBC date and time improvements): column size
        // is the length of the text, 19/8/26 plus a point and the digits of the fraction;
        // buffer length that of the C structure; SQL_SS_TIME2 -154, SQL_SS_TIMESTAMPOFFSET -155.
        const int fraction = t.scale > 0 ? t.scale + 1 : 0;
        const bool timestamp = t.base == BaseType::DateTime2;
        o.dataType = timestamp ? (odbcVer >= 3 ? 93 : 11) : t.base == BaseType::Time ? -154 : -155;
        o.precision = qint64((timestamp ? 19 : t.base == BaseType::Time ? 8 : 26) + fraction);
        o.length = qint64(timestamp ? 16 : t.base == BaseType::Time ? 10 : 20);
        o.scale = qint64(t.scale);
        o.sqlDataType = timestamp ? 9 : o.dataType;
        o.datetimeSub = timestamp ? Value(qint64(3)) : Value();
        o.ssDataType = 0;
        break;
    }
    case BaseType::DateTime:
    case BaseType::SmallDateTime:
        o.dataType = odbcVer >= 3 ? 93 : 11;
        o.precision = qint64(t.base == BaseType::SmallDateTime ? 16 : 23);
        o.length = qint64(16);
        o.scale = qint64(t.base == BaseType::SmallDateTime ? 0 : 3);
        o.sqlDataType = 9;
        o.datetimeSub = qint64(3);
        o.ssDataType = 111;
        break;
    case BaseType::Date:
        o.dataType = odbcVer >= 3 ? 91 : 9;
        o.precision = qint64(10);
        o.length = qint64(6);
        o.sqlDataType = 9;
        o.datetimeSub = qint64(1);
        o.ssDataType = 0;
        break;
    case BaseType::Char:
        text(1, t.length, t.length, 39);
        break;
    case BaseType::VarChar:
        text(12, t.length < 0 ? 0 : t.length, t.length < 0 ? 0 : t.length, 39);
        break;
    case BaseType::Text:
        text(-1, 2147483647, 2147483647, 35);
        break;
    case BaseType::NChar:
        text(-8, t.length, t.length * 2, 39);
        break;
    case BaseType::NVarChar:
        text(-9, t.length < 0 ? 0 : t.length, t.length < 0 ? 0 : qint64(t.length) * 2, 39);
        break;
    case BaseType::SysName:
        text(-9, 128, 256, 39);
        o.typeName = u"sysname"_s;
        break;
    case BaseType::NText:
        text(-10, 1073741823, 2147483646, 99);
        break;
    case BaseType::Binary:
        text(-2, t.length, t.length, 37);
        break;
    case BaseType::VarBinary:
        text(-3, t.length < 0 ? 0 : t.length, t.length < 0 ? 0 : t.length, 37);
        break;
    case BaseType::Image:
        text(-4, 2147483647, 2147483647, 34);
        break;
    case BaseType::UniqueIdentifier:
        o.dataType = -11;
        o.precision = qint64(36);
        o.length = qint64(16);
        o.sqlDataType = -11;
        o.ssDataType = 0;
        break;
    case BaseType::Xml:
        // SQL_SS_XML for ODBC 3, SQL_WLONGVARCHAR before; unlimited length reads as 0, as for
        // the (max) types (learn.microsoft.com "sp_columns (Transact-SQL)", "SQLColumns" of
        // the SQL Server ODBC driver).
        text(odbcVer >= 3 ? -152 : -10, 0, 0, 0);
        break;
    }
    return o;
}

struct SystemParam
{
    const char* name;
    TypeInfo type;
};

QList<SystemParam> systemParameters(const QString& proc)
{
    const TypeInfo path = nvarchar(260);
    if (proc == u"sp_attach_db") {
        QList<SystemParam> p = {{"@dbname", TypeInfo::of(BaseType::SysName)}};
        static const char* const names[] = {
            "@filename1",  "@filename2",  "@filename3",  "@filename4",
            "@filename5",  "@filename6",  "@filename7",  "@filename8",
            "@filename9",  "@filename10", "@filename11", "@filename12",
            "@filename13", "@filename14", "@filename15", "@filename16"};
        for (const char* n : names)
            p.append({n, path});
        return p;
    }
    if (proc == u"sp_attach_single_file_db")
        return {{"@dbname", TypeInfo::of(BaseType::SysName)}, {"@physname", path}};
    if (proc == u"sp_detach_db")
        return {{"@dbname", TypeInfo::of(BaseType::SysName)},
                {"@skipchecks", nvarchar(10)},
                {"@keepfulltextindexfile", nvarchar(10)}};
    if (proc == u"sp_procoption")
        return {{"@ProcName", nvarchar(776)},
                {"@OptionName", varchar(35)},
                {"@OptionValue", varchar(12)}};
    if (proc == u"sp_spaceused")
        return {{"@objname", nvarchar(776)},
                {"@updateusage", varchar(5)},
                {"@mode", varchar(11)},
                {"@oneresultset", TypeInfo::of(BaseType::Bit)},
                {"@include_total_xtp_storage", TypeInfo::of(BaseType::Bit)}};
    if (proc == u"sp_helpdb")
        return {{"@dbname", TypeInfo::of(BaseType::SysName)}};
    if (proc == u"sp_helptext")
        return {{"@objname", nvarchar(776)}, {"@columnname", TypeInfo::of(BaseType::SysName)}};
    return {};
}

} // namespace

namespace {

using CallArg = SessionImpl::CallArg;

// A named argument, or else the positional one at `position` (0-based).
const CallArg* findArg(const QList<CallArg>& args, const QString& name, int position)
{
    for (const CallArg& a : args)
        if (!a.name.isEmpty() && sameName(a.name, name))
            return a.isDefault ? nullptr : &a;
    int index = 0;
    for (const CallArg& a : args) {
        if (!a.name.isEmpty())
            continue;
        if (index == position)
            return a.isDefault ? nullptr : &a;
        ++index;
    }
    return nullptr;
}

std::optional<QString> textArg(const QList<CallArg>& args, const QString& name, int position)
{
    const CallArg* a = findArg(args, name, position);
    if (!a || isNull(a->value))
        return std::nullopt;
    return valueToText(convertValue(a->value, a->type,
                                    TypeInfo::of(BaseType::NVarChar, ColumnType::max),
                                    ConversionMode::Cast));
}

std::optional<qint64> intArgument(const QList<CallArg>& args, const QString& name, int position)
{
    const CallArg* a = findArg(args, name, position);
    if (!a || isNull(a->value))
        return std::nullopt;
    const Value v =
        convertValue(a->value, a->type, TypeInfo::of(BaseType::BigInt), ConversionMode::Cast);
    return std::get<qint64>(v);
}

// Parameters a system procedure accepts; anything else is refused as SQL Server does.
void checkNames(const QList<CallArg>& args, const QString& proc, const QStringList& allowed)
{
    int positional = 0;
    for (const CallArg& a : args) {
        if (a.name.isEmpty()) {
            if (++positional > allowed.size())
                throw SqlError(
                    8144,
                    u"Procedure or function %1 has too many arguments specified."_s.arg(proc));
            continue;
        }
        if (std::none_of(allowed.begin(), allowed.end(),
                         [&](const QString& n) { return sameName(n, a.name); }))
            throw SqlError(8145, u"%1 is not a parameter for procedure %2."_s.arg(a.name, proc));
    }
}

bool patternMatch(const std::optional<QString>& pattern, const QString& value, bool usePattern)
{
    if (!pattern || pattern->isEmpty())
        return true;
    if (!usePattern)
        return sameName(*pattern, value);
    // ODBC search patterns escape % and _ with a backslash.
    return likeMatch(*pattern, value, u'\\');
}

} // namespace

void SessionImpl::sendRows(const QList<Column>& columns, const QList<QList<Value>>& rows, Frame&)
{
    m_reply->columns(columns);
    QList<TypeInfo> types;
    for (const Column& c : columns)
        types << typeOfColumnType(c.type);
    for (const QList<Value>& r : rows) {
        QList<Value> out;
        for (qsizetype i = 0; i < r.size(); ++i)
            out << wireValue(r[i], types[i]);
        m_reply->row(out);
    }
    m_rowcount = rows.size();
    m_reply->done(DoneKind::InProc, countOf(rows.size()), false);
}

SessionImpl::CallResult SessionImpl::callSystemProcedure(const QString& lower, QList<CallArg>& args,
                                                         Frame& frame)
{
    CallResult result;
    // Who calls decides (Permissions.cpp, Security.cpp).
    if (isSecurityProcedure(lower)) {
        callSecurityProcedure(lower, args, frame, result);
        return result;
    }
    if (restrictedProcedure(lower, args, frame, result))
        return result;
    auto handleArg = [&](int position) -> const CallArg* {
        int index = 0;
        for (const CallArg& a : args) {
            if (index++ == position)
                return &a;
        }
        return nullptr;
    };
    auto handleOutput = [&](const CallArg* a, int handle) {
        if (!a || !a->output)
            return;
        Variable v;
        v.type = TypeInfo::of(BaseType::Int);
        v.value = qint64(handle);
        result.outputs.append({*a, v});
    };
    auto dynamicOutputs = [&](const QList<CallArg>& outs) {
        for (const CallArg& o : outs) {
            Variable v;
            v.type = o.type.value_or(TypeInfo::of(BaseType::Int));
            v.value = o.value;
            result.outputs.append({o, v});
        }
    };
    if (lower == u"sp_executesql") {
        // An extended stored procedure: its arguments go by position whatever a caller names
        // them ("Arguments for extended stored procedures must be entered in the specific
        // order", learn.microsoft.com sp_executesql (Transact-SQL)). The first is the
        // statement, the second the declarations, the rest the values.
        const CallArg* stmtArg = args.size() > 0 && !args[0].isDefault ? &args[0] : nullptr;
        const CallArg* declArg = args.size() > 1 && !args[1].isDefault ? &args[1] : nullptr;
        if (!stmtArg)
            throw SqlError(201, u"Procedure or function 'sp_executesql' expects parameter "
                                "'@statement', which was not supplied."_s);
        const auto unicodeText = [](const CallArg& a) {
            if (!a.type)
                return true;
            const BaseType b = a.type->base;
            return b == BaseType::NVarChar || b == BaseType::NChar || b == BaseType::NText ||
                   b == BaseType::SysName;
        };
        if (!unicodeText(*stmtArg))
            throw SqlError(214, u"Procedure expects parameter '@statement' of type "
                                "'ntext/nchar/nvarchar'."_s);
        if (declArg && !unicodeText(*declArg))
            throw SqlError(214, u"Procedure expects parameter '@parameters' of type "
                                "'ntext/nchar/nvarchar'."_s);
        const QString sql = isNull(stmtArg->value) ? QString() : valueToText(stmtArg->value);
        const std::optional<QString> decl = declArg && !isNull(declArg->value)
                                                ? std::optional(valueToText(declArg->value))
                                                : std::nullopt;
        QList<CallArg> values = args.mid(2);
        const auto declarations =
            decl ? parseParameterDeclarations(*decl) : std::vector<ProcParam>();
        QList<CallArg> outs;
        runDynamic(sql, QList<ProcParam>(declarations.begin(), declarations.end()), values, frame,
                   &outs);
        dynamicOutputs(outs);
        return result;
    }
    // sp_prepare, sp_prepexec, sp_execute and sp_unprepare are extended procedures as well:
    // handle, declarations, statement and values by position, names ignored
    // (learn.microsoft.com sp_prepexec (Transact-SQL) and its siblings).
    if (lower == u"sp_prepare" || lower == u"sp_prepexec") {
        const CallArg* handle = handleArg(0);
        const CallArg* declArg = handleArg(1);
        const CallArg* stmtArg = handleArg(2);
        if (!stmtArg || isNull(stmtArg->value))
            throw SqlError(8180, u"Statement(s) could not be prepared."_s);
        Prepared p;
        p.declarations =
            declArg && !isNull(declArg->value) ? valueToText(declArg->value) : QString();
        p.statement = valueToText(stmtArg->value);
        const auto declarations = p.declarations.isEmpty()
                                      ? std::vector<ProcParam>()
                                      : parseParameterDeclarations(p.declarations);
        const std::vector<StmtPtr> parsed = parseBatch(p.statement);
        const int id = m_nextHandle++;
        m_prepared.insert(id, p);
        if (lower == u"sp_prepare") {
            // Describe the first result set without running anything.
            if (!parsed.empty() && parsed[0]->kind == Stmt::Select && !parsed[0]->select->into) {
                Frame describe;
                describe.nestLevel = frame.nestLevel + 1;
                for (const ProcParam& d : declarations) {
                    Variable v;
                    v.type = d.type;
                    describe.vars.insert(d.name, v);
                }
                Frame* saved = m_frame;
                m_frame = &describe;
                try {
                    Translator tr(*this);
                    const Translation t = tr.select(*parsed[0]->select);
                    sqlite3_stmt* st = prepare(t.sql, &t);
                    QList<Column> columns;
                    for (int i = 0; i < sqlite3_column_count(st); ++i) {
                        const QString name = QString::fromUtf8(sqlite3_column_name(st, i));
                        const char* decl = sqlite3_column_decltype(st, i);
                        std::optional<TypeInfo> type =
                            decl ? typeFromDecl(QString::fromUtf8(decl)) : std::nullopt;
                        if (!type)
                            type = t.hints.value(name.toLower(), nvarchar(4000));
                        columns << col(t.unnamed.contains(name.toLower()) ? QString() : name,
                                       *type);
                    }
                    sqlite3_finalize(st);
                    m_frame = saved;
                    if (!columns.isEmpty()) {
                        m_reply->columns(columns);
                        m_reply->done(DoneKind::InProc, std::nullopt, false);
                    }
                } catch (const SqlError&) {
                    m_frame = saved;
                }
            }
            handleOutput(handle, id);
            return result;
        }
        handleOutput(handle, id);
        QList<CallArg> values = args.mid(3);
        QList<CallArg> outs;
        runDynamic(p.statement, QList<ProcParam>(declarations.begin(), declarations.end()), values,
                   frame, &outs);
        dynamicOutputs(outs);
        return result;
    }
    if (lower == u"sp_execute") {
        const CallArg* handle = handleArg(0);
        const qint64 id = handle && std::holds_alternative<qint64>(handle->value)
                              ? std::get<qint64>(handle->value)
                              : (handle ? valueToText(handle->value).toLongLong() : 0);
        const auto it = m_prepared.find(int(id));
        if (it == m_prepared.end())
            throw SqlError(8179, u"Could not find prepared statement with handle %1."_s.arg(id));
        const Prepared p = *it;
        const auto declarations = p.declarations.isEmpty()
                                      ? std::vector<ProcParam>()
                                      : parseParameterDeclarations(p.declarations);
        QList<CallArg> values = args.mid(1);
        QList<CallArg> outs;
        runDynamic(p.statement, QList<ProcParam>(declarations.begin(), declarations.end()), values,
                   frame, &outs);
        dynamicOutputs(outs);
        return result;
    }
    if (lower == u"sp_unprepare") {
        const CallArg* handle = handleArg(0);
        if (handle)
            m_prepared.remove(int(valueToText(handle->value).toLongLong()));
        return result;
    }
    if (lower == u"sp_reset_connection")
        return result;
    if (lower == u"sqlsim_fail_next_transfer") {
        m_server.armTransferFault();
        return result;
    }
    if (lower == u"sqlsim_drop_connection") {
        checkNames(args, lower, {u"@text"_s, u"@after_rows"_s});
        const std::optional<QString> text = textArg(args, u"@text"_s, 0);
        const qint64 afterRows = intArgument(args, u"@after_rows"_s, 1).value_or(0);
        // An empty text would match the very next request, whatever it is: too blunt to mean.
        if (!text || text->isEmpty() || afterRows < 0)
            throw SqlError(50000, u"sqlsim_drop_connection needs a non-empty text and a row "
                                  "count of 0 or more."_s);
        m_server.armConnectionFault({*text, afterRows});
        return result;
    }
    if (lower == u"sqlsim_drop_next_login") {
        // Each call arms one more login.
        checkNames(args, lower, {});
        m_server.armLoginFault();
        return result;
    }
    if (lower == u"sp_attach_db" || lower == u"sp_attach_single_file_db") {
        spAttachDb(args, lower == u"sp_attach_single_file_db");
        return result;
    }
    if (lower == u"sp_detach_db") {
        spDetachDb(args);
        return result;
    }
    if (lower == u"sp_procoption") {
        spProcOption(args);
        return result;
    }
    if (lower == u"sp_spaceused") {
        spSpaceUsed(args, frame);
        return result;
    }
    if (lower == u"sp_helpdb") {
        spHelpDb(args, frame);
        return result;
    }
    if (lower == u"sp_databases") {
        spDatabases(frame);
        return result;
    }
    if (lower == u"sp_tables") {
        spTables(args, frame);
        return result;
    }
    if (lower == u"sp_columns") {
        spColumns(args, frame);
        return result;
    }
    if (lower == u"sp_pkeys") {
        spPkeys(args, frame);
        return result;
    }
    if (lower == u"sp_sproc_columns" || lower == u"sp_sproc_columns_100") {
        spSprocColumns(args, frame);
        return result;
    }
    if (lower == u"sp_stored_procedures") {
        spStoredProcedures(args, frame);
        return result;
    }
    if (lower == u"sp_datatype_info" || lower == u"sp_datatype_info_100") {
        spDatatypeInfo(args, frame);
        return result;
    }
    if (lower == u"sp_helptext") {
        spHelpText(args, frame);
        return result;
    }
    if (lower == u"xp_fixeddrives") {
        xpFixedDrives(frame);
        return result;
    }
    if (lower == u"xp_dirtree") {
        xpDirTree(args, frame);
        return result;
    }
    if (lower == u"xp_fileexist") {
        // With an OUTPUT argument it sets "File Exists" there and returns no rows.
        const CallArg* out = handleArg(1);
        const std::optional<int> exists = xpFileExist(args, frame, out && out->output);
        if (exists)
            handleOutput(out, *exists);
        return result;
    }
    if (lower == u"xp_create_subdir") {
        xpCreateSubdir(args);
        return result;
    }
    if (lower == u"xp_instance_regread") {
        // With a fourth, OUTPUT argument the value's data goes there and no row is sent.
        const CallArg* out = handleArg(3);
        const bool toOutput = out && out->output;
        const std::optional<QString> data = xpInstanceRegRead(args, frame, toOutput);
        if (toOutput) {
            Variable v;
            v.type = TypeInfo::of(BaseType::NVarChar, 4000);
            v.value = data ? Value(*data) : Value();
            result.outputs.append({*out, v});
        }
        return result;
    }
    throw SqlError(2812, u"Could not find stored procedure '%1'."_s.arg(lower));
}

// ---- databases

void SessionImpl::spAttachDb(QList<CallArg>& args, bool singleFile)
{
    const QString proc = singleFile ? u"sp_attach_single_file_db"_s : u"sp_attach_db"_s;
    QStringList allowed;
    for (const SystemParam& p : systemParameters(proc))
        allowed << QString::fromLatin1(p.name);
    checkNames(args, proc, allowed);
    if (m_trancount > 0)
        throw SqlError(226, u"CREATE DATABASE statement not allowed within multi-statement "
                            "transaction."_s);
    const auto name = textArg(args, u"@dbname"_s, 0);
    if (!name || name->trimmed().isEmpty())
        throw SqlError(201, u"Procedure or function '%1' expects parameter '@dbname', which was "
                            "not supplied."_s.arg(proc));
    QStringList given;
    if (singleFile) {
        const auto phys = textArg(args, u"@physname"_s, 1);
        if (!phys)
            throw SqlError(201, u"Procedure or function 'sp_attach_single_file_db' expects "
                                "parameter '@physname', which was not supplied."_s);
        given << *phys;
    } else {
        for (int i = 1; i <= 16; ++i) {
            const auto f = textArg(args, u"@filename%1"_s.arg(i), i);
            if (f && !f->isEmpty())
                given << *f;
        }
        if (given.isEmpty())
            throw SqlError(201, u"Procedure or function 'sp_attach_db' expects parameter "
                                "'@filename1', which was not supplied."_s);
    }
    if (m_server.database(*name))
        throw SqlError(
            1801, u"Database '%1' already exists. Choose a different database name."_s.arg(*name));
    for (const QString& f : given) {
        const QString local = localPath(f);
        // Windows tells a missing folder (3) from a missing file (2).
        if (serverfiles::missingFolderError() == 3 &&
            !QFileInfo(QFileInfo(local).absolutePath()).isDir())
            throw SqlError(5120,
                           u"Unable to open the physical file \"%1\". Operating system "
                           "error 3: \"3(The system cannot find the path specified.)\"."_s.arg(f));
        if (!QFileInfo(local).isFile())
            throw SqlError(5120,
                           u"Unable to open the physical file \"%1\". Operating system "
                           "error 2: \"2(The system cannot find the file specified.)\"."_s.arg(f));
        if (m_server.databaseUsingFile(local))
            throw SqlError(5120, u"Unable to open the physical file \"%1\". Operating system "
                                 "error 32: \"32(The process cannot access the file because it is "
                                 "being used by another process.)\"."_s.arg(f));
    }
    DatabaseFiles files;
    files.name = *name;
    files.dataFile = QFileInfo(localPath(given[0])).absoluteFilePath();
    if (given.size() >= 2) {
        files.logFile = QFileInfo(localPath(given[1])).absoluteFilePath();
    } else {
        // A fresh log beside the data file, as SQL Server rebuilds it.
        const QFileInfo data(files.dataFile);
        files.logFile = data.absoluteDir().filePath(data.completeBaseName() + u"_log.ldf"_s);
        if (m_server.databaseUsingFile(files.logFile))
            throw SqlError(5120, u"Unable to open the physical file \"%1\". Operating system "
                                 "error 32: \"32(The process cannot access the file because it is "
                                 "being used by another process.)\"."_s.arg(
                                     serverfiles::shown(files.logFile)));
    }
    if (const auto tooLarge = m_server.databaseTooLarge(QFileInfo(files.dataFile).size()))
        throw SqlError(*tooLarge);
    const catalog::DataFileInfo info = catalog::prepareDataFile(files.dataFile, *name);
    files.dataLogicalName = info.dataLogicalName;
    files.logLogicalName = info.logLogicalName;
    if (given.size() < 2) {
        catalog::writeLogFile(files.logFile, *name);
        if (!singleFile)
            sendInfo(5105,
                     u"New log file '%1' was created."_s.arg(serverfiles::shown(files.logFile)),
                     10);
    }
    m_server.registerDatabase(files, false, ownerSid());
}

void SessionImpl::spDetachDb(QList<CallArg>& args)
{
    checkNames(args, u"sp_detach_db"_s,
               {u"@dbname"_s, u"@skipchecks"_s, u"@keepfulltextindexfile"_s});
    if (m_trancount > 0)
        throw SqlError(226, u"ALTER DATABASE statement not allowed within multi-statement "
                            "transaction."_s);
    const auto name = textArg(args, u"@dbname"_s, 0);
    const auto entry = name ? m_server.database(*name) : std::nullopt;
    if (!entry)
        throw SqlError(
            15010, u"The database '%1' does not exist. Supply a valid database name. To "
                   "see available databases, use sys.databases."_s.arg(name.value_or(QString())));
    if (entry->system)
        throw SqlError(7940, u"System databases master, model, msdb, and tempdb cannot be "
                             "detached."_s);
    if (sameName(m_currentDb, entry->files.name) ||
        m_server.usedByOtherSession(entry->files.name, this))
        throw SqlError(3703,
                       u"Cannot detach the database '%1' because it is currently in use."_s.arg(
                           entry->files.name));
    releaseDatabase(entry->files.name);
    if (m_server.usedByOtherSession(entry->files.name, this))
        throw SqlError(3703,
                       u"Cannot detach the database '%1' because it is currently in use."_s.arg(
                           entry->files.name));
    m_server.unregisterDatabase(entry->files.name);
}

void SessionImpl::spProcOption(QList<CallArg>& args)
{
    checkNames(args, u"sp_procoption"_s, {u"@ProcName"_s, u"@OptionName"_s, u"@OptionValue"_s});
    const auto procName = textArg(args, u"@ProcName"_s, 0);
    const auto option = textArg(args, u"@OptionName"_s, 1);
    const auto value = textArg(args, u"@OptionValue"_s, 2);
    if (!procName || !option || !value)
        throw SqlError(15600, u"An invalid parameter or option was specified for procedure "
                              "'sys.sp_procoption'."_s);
    if (!sameName(option->trimmed(), u"startup"_s))
        throw SqlError(15600, u"An invalid parameter or option was specified for procedure "
                              "'sys.sp_procoption'."_s);
    const QString v = value->trimmed().toLower();
    bool on;
    if (v == u"on" || v == u"true" || v == u"1")
        on = true;
    else if (v == u"off" || v == u"false" || v == u"0")
        on = false;
    else
        throw SqlError(15600, u"An invalid parameter or option was specified for procedure "
                              "'sys.sp_procoption'."_s);
    // [master.][dbo.]name
    QStringList parts = stripGroup(*procName).split(u'.');
    for (QString& p : parts)
        if (p.startsWith(u'[') && p.endsWith(u']'))
            p = p.mid(1, p.size() - 2);
    const QString name = parts.last();
    const QString database = parts.size() >= 3 && !parts[parts.size() - 3].isEmpty()
                                 ? parts[parts.size() - 3]
                                 : m_currentDb;
    const auto found = findProcedure(database, name);
    if (!found)
        throw SqlError(15009, u"The object '%1' does not exist in database '%2' or is invalid for "
                              "this operation."_s.arg(*procName, database));
    if (!sameName(database, u"master"_s))
        throw SqlError(15398, u"Only objects in the master database owned by dbo can have the "
                              "startup setting changed."_s);
    m_server.setStartupProcedure(found->first, on);
}

void SessionImpl::spSpaceUsed(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_spaceused"_s,
               {u"@objname"_s, u"@updateusage"_s, u"@mode"_s, u"@oneresultset"_s,
                u"@include_total_xtp_storage"_s});
    const auto entry = m_server.database(m_currentDb);
    const auto alias = schemaFor(m_currentDb);
    if (!entry || !alias)
        throw SqlError(911, u"Database '%1' does not exist. Make sure that the name is entered "
                            "correctly."_s.arg(m_currentDb));
    const QString schema = Translator::quote(*alias);
    auto pragma = [&](const QString& name) -> qint64 {
        const auto v = scalarQuery(u"PRAGMA "_s + schema + u'.' + name);
        return v && std::holds_alternative<qint64>(*v) ? std::get<qint64>(*v) : 0;
    };
    const qint64 pageSize = pragma(u"page_size"_s);
    const qint64 pages = pragma(u"page_count"_s);
    const qint64 freePages = pragma(u"freelist_count"_s);
    auto dbstatBytes = [&](const QString& where, const QList<Value>& binds) -> qint64 {
        try {
            const auto v =
                scalarQuery(u"SELECT coalesce(sum(pgsize), 0) FROM dbstat WHERE schema = "_s +
                                Translator::literal(*alias) + where,
                            binds);
            return v && std::holds_alternative<qint64>(*v) ? std::get<qint64>(*v) : 0;
        } catch (const SqlError&) {
            return 0;
        }
    };
    const auto objname = textArg(args, u"@objname"_s, 0);
    if (objname) {
        const QString table = lastPart(*objname);
        if (tableColumns(*alias, table).isEmpty() || isInternalTable(table))
            throw SqlError(15009, u"The object '%1' does not exist in database '%2' or is invalid "
                                  "for this operation."_s.arg(*objname, m_currentDb));
        const auto rows =
            scalarQuery(u"SELECT count(*) FROM "_s + schema + u'.' + Translator::quote(table));
        const qint64 data = dbstatBytes(u" AND name = ?1 COLLATE NOCASE"_s, {table});
        const qint64 index = dbstatBytes(
            u" AND name IN (SELECT name FROM "_s + schema +
                u".sqlite_master WHERE type = 'index' AND tbl_name = ?1 COLLATE NOCASE)"_s,
            {table});
        const qint64 reserved = data + index;
        sendRows({col(u"name"_s, nvarchar(128)), col(u"rows"_s, varchar(20)),
                  col(u"reserved"_s, varchar(18)), col(u"data"_s, varchar(18)),
                  col(u"index_size"_s, varchar(18)), col(u"unused"_s, varchar(18))},
                 {{table, valueToText(rows.value_or(qint64(0))), kilobytes(reserved),
                   kilobytes(data), kilobytes(index), kilobytes(reserved - data - index)}},
                 frame);
        return;
    }
    const qint64 mdf = QFileInfo(entry->files.dataFile).size();
    const qint64 ldf = QFileInfo(entry->files.logFile).size();
    // --extra-data-size counts as free space in the data file.
    const qint64 extra = m_server.extraDataBytes(*entry);
    const qint64 index = dbstatBytes(u" AND name IN (SELECT name FROM "_s + schema +
                                         u".sqlite_master WHERE type = 'index')"_s,
                                     {});
    const qint64 used = (pages - freePages) * pageSize;
    const qint64 data = std::max<qint64>(0, used - index);
    const qint64 reserved = mdf;
    sendRows({col(u"database_name"_s, nvarchar(128)), col(u"database_size"_s, varchar(18)),
              col(u"unallocated space"_s, varchar(18))},
             {{m_currentDb, megabytes(double(mdf + extra + ldf)),
               megabytes(double(freePages * pageSize + extra))}},
             frame);
    sendRows({col(u"reserved"_s, varchar(18)), col(u"data"_s, varchar(18)),
              col(u"index_size"_s, varchar(18)), col(u"unused"_s, varchar(18))},
             {{kilobytes(reserved), kilobytes(data), kilobytes(index),
               kilobytes(std::max<qint64>(0, reserved - data - index))}},
             frame);
}

void SessionImpl::spHelpDb(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_helpdb"_s, {u"@dbname"_s});
    const auto name = textArg(args, u"@dbname"_s, 0);
    QList<DatabaseEntry> list;
    if (name) {
        const auto e = m_server.database(*name);
        if (!e)
            throw SqlError(15010,
                           u"The database '%1' does not exist. Supply a valid database "
                           "name. To see available databases, use sys.databases."_s.arg(*name));
        list << *e;
    } else {
        list = m_server.databases();
    }
    QList<QList<Value>> rows;
    const QString status =
        u"Status=ONLINE, Updateability=READ_WRITE, UserAccess=MULTI_USER, Recovery=SIMPLE, "
        "Version=%1, Collation=%2, SQLSortOrder=0, "
        "IsAutoCreateStatistics, IsAutoUpdateStatistics"_s.arg(m_server.databaseVersion())
            .arg(sqlsim::serverCollation().name);
    for (const DatabaseEntry& e : list) {
        const qint64 size = m_server.dataFileBytes(e) + QFileInfo(e.files.logFile).size();
        rows << QList<Value>{
            e.files.name,
            QString::number(double(size) / 1048576.0, 'f', 2).rightJustified(10) + u" MB"_s,
            m_server.loginBySid(e.ownerSid) ? Value{m_server.loginBySid(e.ownerSid)->name}
                                            : Value{},
            qint64(e.dbid),
            formatDateTimeStyle(e.created, 107, BaseType::DateTime).replace(u","_s, QString()),
            status,
            qint64(m_server.compatibilityLevel())};
    }
    sendRows({col(u"name"_s, nvarchar(128)), col(u"db_size"_s, nvarchar(13)),
              col(u"owner"_s, nvarchar(128)), col(u"dbid"_s, smallint()),
              col(u"created"_s, nvarchar(11)), col(u"status"_s, nvarchar(600)),
              col(u"compatibility_level"_s, TypeInfo::of(BaseType::TinyInt))},
             rows, frame);
    if (name) {
        const DatabaseEntry& e = list[0];
        QList<QList<Value>> files;
        files << QList<Value>{e.files.dataLogicalName,
                              qint64(1),
                              serverfiles::shown(e.files.dataFile),
                              u"PRIMARY"_s,
                              kilobytes(m_server.dataFileBytes(e)),
                              u"Unlimited"_s,
                              u"65536 KB"_s,
                              u"data only"_s};
        files << QList<Value>{e.files.logLogicalName,
                              qint64(2),
                              serverfiles::shown(e.files.logFile),
                              Value(),
                              kilobytes(QFileInfo(e.files.logFile).size()),
                              u"2147483648 KB"_s,
                              u"65536 KB"_s,
                              u"log only"_s};
        sendRows({col(u"name"_s, TypeInfo::of(BaseType::NChar, 128)), col(u"fileid"_s, smallint()),
                  col(u"filename"_s, TypeInfo::of(BaseType::NChar, 260)),
                  col(u"filegroup"_s, nvarchar(128)), col(u"size"_s, nvarchar(18)),
                  col(u"maxsize"_s, nvarchar(18)), col(u"growth"_s, nvarchar(18)),
                  col(u"usage"_s, varchar(9))},
                 files, frame);
    }
}

void SessionImpl::spDatabases(Frame& frame)
{
    QList<QList<Value>> rows;
    for (const DatabaseEntry& e : m_server.databases()) {
        const qint64 size = m_server.dataFileBytes(e) + QFileInfo(e.files.logFile).size();
        rows << QList<Value>{e.files.name, qint64(size / 1024), Value()};
    }
    std::sort(rows.begin(), rows.end(), [](const QList<Value>& a, const QList<Value>& b) {
        return valueToText(a[0]).compare(valueToText(b[0]), Qt::CaseInsensitive) < 0;
    });
    sendRows({col(u"DATABASE_NAME"_s, sysname()), col(u"DATABASE_SIZE"_s, intType()),
              col(u"REMARKS"_s, varchar(254))},
             rows, frame);
}

void SessionImpl::spTables(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_tables"_s,
               {u"@table_name"_s, u"@table_owner"_s, u"@table_qualifier"_s, u"@table_type"_s,
                u"@fUsePattern"_s});
    const auto name = textArg(args, u"@table_name"_s, 0);
    const auto owner = textArg(args, u"@table_owner"_s, 1);
    const auto qualifier = textArg(args, u"@table_qualifier"_s, 2);
    const auto type = textArg(args, u"@table_type"_s, 3);
    const bool usePattern = intArgument(args, u"@fUsePattern"_s, 4).value_or(1) != 0;
    const QList<Column> columns = {
        col(u"TABLE_QUALIFIER"_s, sysname()), col(u"TABLE_OWNER"_s, sysname()),
        col(u"TABLE_NAME"_s, sysname()), col(u"TABLE_TYPE"_s, varchar(32)),
        col(u"REMARKS"_s, varchar(254))};
    QList<QList<Value>> rows;
    // ODBC's enumerations: catalogs, owners, types.
    if (qualifier == u"%"_s && name.value_or(QString()).isEmpty() &&
        owner.value_or(QString()).isEmpty()) {
        for (const DatabaseEntry& e : m_server.databases())
            rows << QList<Value>{e.files.name, Value(), Value(), Value(), Value()};
        sendRows(columns, rows, frame);
        return;
    }
    if (owner == u"%"_s && name.value_or(QString()).isEmpty() &&
        qualifier.value_or(QString()).isEmpty()) {
        rows << QList<Value>{Value(), u"dbo"_s, Value(), Value(), Value()};
        sendRows(columns, rows, frame);
        return;
    }
    if (type == u"%"_s && name.value_or(QString()).isEmpty()) {
        rows << QList<Value>{Value(), Value(), Value(), u"SYSTEM TABLE"_s, Value()};
        rows << QList<Value>{Value(), Value(), Value(), u"TABLE"_s, Value()};
        rows << QList<Value>{Value(), Value(), Value(), u"VIEW"_s, Value()};
        sendRows(columns, rows, frame);
        return;
    }
    const QString database = qualifier && !qualifier->isEmpty() ? *qualifier : m_currentDb;
    if (!sameName(database, m_currentDb))
        throw SqlError(15250, u"The database name component of the object qualifier must be the "
                              "name of the current database."_s);
    QStringList types;
    if (type) {
        for (QString t : type->split(u',')) {
            t = t.trimmed();
            if (t.startsWith(u'\'') && t.endsWith(u'\'') && t.size() >= 2)
                t = t.mid(1, t.size() - 2);
            types << t.toUpper();
        }
    }
    const auto alias = schemaFor(m_currentDb);
    if (!alias)
        throw SqlError(911, u"Database '%1' does not exist."_s.arg(m_currentDb));
    sqlite3_stmt* st = prepare(u"SELECT name, trim(type) FROM "_s + Translator::quote(*alias) +
                                   u".sysobjects WHERE trim(type) = 'U' ORDER BY name"_s,
                               nullptr);
    QList<QList<Value>> found;
    while (sqlite3_step(st) == SQLITE_ROW)
        found << QList<Value>{m_currentDb, u"dbo"_s, columnValue(st, 0), u"TABLE"_s, Value()};
    sqlite3_finalize(st);
    found << QList<Value>{m_currentDb, u"dbo"_s, u"sysobjects"_s, u"SYSTEM TABLE"_s, Value()};
    if (sameName(m_currentDb, u"master"_s))
        found << QList<Value>{m_currentDb, u"dbo"_s, u"sysdatabases"_s, u"SYSTEM TABLE"_s, Value()};
    for (const QList<Value>& r : found) {
        if (!types.isEmpty() && !types.contains(valueToText(r[3])))
            continue;
        if (!patternMatch(name, valueToText(r[2]), usePattern) ||
            !patternMatch(owner, valueToText(r[1]), usePattern))
            continue;
        rows << r;
    }
    std::sort(rows.begin(), rows.end(), [](const QList<Value>& a, const QList<Value>& b) {
        const int t = valueToText(a[3]).compare(valueToText(b[3]));
        if (t != 0)
            return t < 0;
        return valueToText(a[2]).compare(valueToText(b[2]), Qt::CaseInsensitive) < 0;
    });
    sendRows(columns, rows, frame);
}

void SessionImpl::spColumns(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_columns"_s,
               {u"@table_name"_s, u"@table_owner"_s, u"@table_qualifier"_s, u"@column_name"_s,
                u"@ODBCVer"_s});
    const auto name = textArg(args, u"@table_name"_s, 0);
    const auto columnName = textArg(args, u"@column_name"_s, 3);
    const int odbcVer = int(intArgument(args, u"@ODBCVer"_s, 4).value_or(2));
    if (!name)
        throw SqlError(201, u"Procedure or function 'sp_columns' expects parameter '@table_name', "
                            "which was not supplied."_s);
    const auto alias = schemaFor(m_currentDb);
    QList<QList<Value>> rows;
    QStringList tables;
    if (alias) {
        sqlite3_stmt* st = prepare(u"SELECT name FROM "_s + Translator::quote(*alias) +
                                       u".sqlite_master WHERE type = 'table' ORDER BY name"_s,
                                   nullptr);
        while (sqlite3_step(st) == SQLITE_ROW)
            tables << valueToText(columnValue(st, 0));
        sqlite3_finalize(st);
    }
    for (const QString& table : tables) {
        if (isInternalTable(table) || !likeMatch(*name, table, u'\\'))
            continue;
        qint64 ordinal = 0;
        for (const TableColumn& c : tableColumns(*alias, table)) {
            ++ordinal;
            if (columnName && !likeMatch(*columnName, c.name, u'\\'))
                continue;
            const TypeInfo t = c.type.value_or(nvarchar(4000));
            const OdbcType o = odbcType(t, odbcVer);
            rows << QList<Value>{m_currentDb,
                                 u"dbo"_s,
                                 table,
                                 c.name,
                                 qint64(o.dataType),
                                 c.identity ? o.typeName + u" identity"_s : o.typeName,
                                 o.precision,
                                 o.length,
                                 o.scale,
                                 o.radix,
                                 qint64(c.notNull ? 0 : 1),
                                 Value(),
                                 c.defaultSql.isEmpty() ? Value()
                                                        : Value(u'(' + c.defaultSql + u')'),
                                 qint64(o.sqlDataType),
                                 o.datetimeSub,
                                 o.octetLength,
                                 ordinal,
                                 c.notNull ? u"NO"_s : u"YES"_s,
                                 qint64(o.ssDataType)};
        }
    }
    sendRows({col(u"TABLE_QUALIFIER"_s, sysname()), col(u"TABLE_OWNER"_s, sysname()),
              col(u"TABLE_NAME"_s, sysname()), col(u"COLUMN_NAME"_s, sysname()),
              col(u"DATA_TYPE"_s, smallint()), col(u"TYPE_NAME"_s, sysname()),
              col(u"PRECISION"_s, intType()), col(u"LENGTH"_s, intType()),
              col(u"SCALE"_s, smallint()), col(u"RADIX"_s, smallint()),
              col(u"NULLABLE"_s, smallint()), col(u"REMARKS"_s, varchar(254)),
              col(u"COLUMN_DEF"_s, nvarchar(4000)), col(u"SQL_DATA_TYPE"_s, smallint()),
              col(u"SQL_DATETIME_SUB"_s, smallint()), col(u"CHAR_OCTET_LENGTH"_s, intType()),
              col(u"ORDINAL_POSITION"_s, intType()), col(u"IS_NULLABLE"_s, varchar(254)),
              col(u"SS_DATA_TYPE"_s, TypeInfo::of(BaseType::TinyInt))},
             rows, frame);
}

// The primary key's columns of a table in the current database, in key order.
void SessionImpl::spPkeys(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_pkeys"_s, {u"@table_name"_s, u"@table_owner"_s, u"@table_qualifier"_s});
    const auto name = textArg(args, u"@table_name"_s, 0);
    if (!name)
        throw SqlError(201, u"Procedure or function 'sp_pkeys' expects parameter '@table_name', "
                            "which was not supplied."_s);
    const auto alias = schemaFor(m_currentDb);
    QList<QList<Value>> rows;
    if (alias) {
        sqlite3_stmt* st = prepare(u"SELECT name FROM "_s + Translator::quote(*alias) +
                                       u".sqlite_master WHERE type = 'table'"_s,
                                   nullptr);
        QString table;
        while (sqlite3_step(st) == SQLITE_ROW) {
            const QString t = valueToText(columnValue(st, 0));
            if (!isInternalTable(t) && t.compare(*name, Qt::CaseInsensitive) == 0)
                table = t;
        }
        sqlite3_finalize(st);
        if (!table.isEmpty()) {
            for (const TableColumn& c : tableColumns(*alias, table))
                if (c.primaryKey)
                    rows << QList<Value>{m_currentDb, u"dbo"_s,         table,
                                         c.name,      qint64(c.keySeq), u"PK_"_s + table};
            std::sort(rows.begin(), rows.end(), [](const QList<Value>& a, const QList<Value>& b) {
                return std::get<qint64>(a[4]) < std::get<qint64>(b[4]);
            });
        }
    }
    sendRows({col(u"TABLE_QUALIFIER"_s, sysname()), col(u"TABLE_OWNER"_s, sysname()),
              col(u"TABLE_NAME"_s, sysname()), col(u"COLUMN_NAME"_s, sysname()),
              col(u"KEY_SEQ"_s, smallint()), col(u"PK_NAME"_s, sysname())},
             rows, frame);
}

void SessionImpl::spSprocColumns(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_sproc_columns"_s,
               {u"@procedure_name"_s, u"@procedure_owner"_s, u"@procedure_qualifier"_s,
                u"@column_name"_s, u"@ODBCVer"_s, u"@fUsePattern"_s});
    const QString pattern = stripGroup(textArg(args, u"@procedure_name"_s, 0).value_or(u"%"_s));
    const auto owner = textArg(args, u"@procedure_owner"_s, 1);
    const auto qualifier = textArg(args, u"@procedure_qualifier"_s, 2);
    const auto columnName = textArg(args, u"@column_name"_s, 3);
    const int odbcVer = int(intArgument(args, u"@ODBCVer"_s, 4).value_or(2));
    const bool usePattern = intArgument(args, u"@fUsePattern"_s, 5).value_or(1) != 0;
    const QString database = qualifier && !qualifier->isEmpty() ? *qualifier : m_currentDb;
    if (!sameName(database, m_currentDb))
        throw SqlError(15250, u"The database name component of the object qualifier must be the "
                              "name of the current database."_s);
    struct Proc
    {
        QString qualifier;
        QString owner;
        QString name;
        QList<std::tuple<QString, TypeInfo, bool>> params; // name, type, output
    };
    QList<Proc> procs;
    for (const QString& sys :
         {u"sp_attach_db"_s, u"sp_attach_single_file_db"_s, u"sp_detach_db"_s, u"sp_procoption"_s,
          u"sp_spaceused"_s, u"sp_helpdb"_s, u"sp_helptext"_s}) {
        Proc p{u"master"_s, u"sys"_s, sys, {}};
        for (const SystemParam& sp : systemParameters(sys))
            p.params.append({QString::fromLatin1(sp.name), sp.type, false});
        procs << p;
    }
    if (const auto alias = schemaFor(m_currentDb)) {
        sqlite3_stmt* st = prepare(u"SELECT name, definition FROM "_s + Translator::quote(*alias) +
                                       u".sqlsim_modules ORDER BY name"_s,
                                   nullptr);
        QList<std::pair<QString, QString>> modules;
        while (sqlite3_step(st) == SQLITE_ROW)
            modules.append({valueToText(columnValue(st, 0)), valueToText(columnValue(st, 1))});
        sqlite3_finalize(st);
        for (const auto& [n, def] : modules) {
            Proc p{m_currentDb, u"dbo"_s, n, {}};
            try {
                for (const ProcParam& pp : parsedProcedure(def)->params)
                    p.params.append({pp.displayName, pp.type, pp.output});
            } catch (const SqlError&) {
                continue;
            }
            procs << p;
        }
    }
    QList<QList<Value>> rows;
    for (const Proc& p : procs) {
        if (!patternMatch(pattern, p.name, usePattern))
            continue;
        if (owner && !owner->isEmpty() && !patternMatch(owner, p.owner, usePattern))
            continue;
        auto addRow = [&](const QString& colName, const TypeInfo& t, int columnType, qint64 ordinal,
                          bool nullable) {
            if (columnName && !patternMatch(columnName, colName, usePattern))
                return;
            const OdbcType o = odbcType(t, odbcVer);
            rows << QList<Value>{p.qualifier,
                                 p.owner,
                                 p.name + u";1"_s,
                                 colName,
                                 qint64(columnType),
                                 qint64(o.dataType),
                                 o.typeName,
                                 o.precision,
                                 o.length,
                                 o.scale,
                                 o.radix,
                                 qint64(nullable ? 1 : 0),
                                 Value(),
                                 Value(),
                                 qint64(o.sqlDataType),
                                 o.datetimeSub,
                                 o.octetLength,
                                 ordinal,
                                 nullable ? u"YES"_s : u"NO"_s,
                                 qint64(columnType == 5 ? 56 : o.ssDataType)};
        };
        addRow(u"@RETURN_VALUE"_s, intType(), 5, 0, false);
        qint64 ordinal = 0;
        for (const auto& [n, t, out] : p.params)
            addRow(n, t, out ? 2 : 1, ++ordinal, true);
    }
    sendRows({col(u"PROCEDURE_QUALIFIER"_s, sysname()),
              col(u"PROCEDURE_OWNER"_s, sysname()),
              col(u"PROCEDURE_NAME"_s, nvarchar(134)),
              col(u"COLUMN_NAME"_s, sysname()),
              col(u"COLUMN_TYPE"_s, smallint()),
              col(u"DATA_TYPE"_s, smallint()),
              col(u"TYPE_NAME"_s, sysname()),
              col(u"PRECISION"_s, intType()),
              col(u"LENGTH"_s, intType()),
              col(u"SCALE"_s, smallint()),
              col(u"RADIX"_s, smallint()),
              col(u"NULLABLE"_s, smallint()),
              col(u"REMARKS"_s, varchar(254)),
              col(u"COLUMN_DEF"_s, nvarchar(4000)),
              col(u"SQL_DATA_TYPE"_s, smallint()),
              col(u"SQL_DATETIME_SUB"_s, smallint()),
              col(u"CHAR_OCTET_LENGTH"_s, intType()),
              col(u"ORDINAL_POSITION"_s, intType()),
              col(u"IS_NULLABLE"_s, varchar(254)),
              col(u"SS_DATA_TYPE"_s, TypeInfo::of(BaseType::TinyInt))},
             rows, frame);
}

void SessionImpl::spStoredProcedures(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_stored_procedures"_s,
               {u"@sp_name"_s, u"@sp_owner"_s, u"@sp_qualifier"_s, u"@fUsePattern"_s});
    const auto pattern = textArg(args, u"@sp_name"_s, 0);
    QList<QList<Value>> rows;
    if (const auto alias = schemaFor(m_currentDb)) {
        sqlite3_stmt* st = prepare(u"SELECT name FROM "_s + Translator::quote(*alias) +
                                       u".sqlsim_modules ORDER BY name"_s,
                                   nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const QString n = valueToText(columnValue(st, 0));
            if (pattern && !likeMatch(stripGroup(*pattern), n, u'\\'))
                continue;
            rows << QList<Value>{m_currentDb, u"dbo"_s,   n + u";1"_s, qint64(-1),
                                 qint64(-1),  qint64(-1), Value(),     qint64(2)};
        }
        sqlite3_finalize(st);
    }
    sendRows({col(u"PROCEDURE_QUALIFIER"_s, sysname()), col(u"PROCEDURE_OWNER"_s, sysname()),
              col(u"PROCEDURE_NAME"_s, nvarchar(134)), col(u"NUM_INPUT_PARAMS"_s, intType()),
              col(u"NUM_OUTPUT_PARAMS"_s, intType()), col(u"NUM_RESULT_SETS"_s, intType()),
              col(u"REMARKS"_s, varchar(254)), col(u"PROCEDURE_TYPE"_s, smallint())},
             rows, frame);
}

void SessionImpl::spDatatypeInfo(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_datatype_info"_s, {u"@data_type"_s, u"@ODBCVer"_s});
    const qint64 wanted = intArgument(args, u"@data_type"_s, 0).value_or(0);
    const int odbcVer = int(intArgument(args, u"@ODBCVer"_s, 1).value_or(2));
    struct Info
    {
        TypeInfo type;
        const char* prefix;
        const char* suffix;
        const char* params;
        int caseSensitive;
        int searchable;
        int unsignedAttr;
        int money;
        int autoIncrement;
        int minScale;
        int maxScale;
        int usertype;
    };
    const QList<Info> infos = {
        {TypeInfo::of(BaseType::Bit), nullptr, nullptr, nullptr, 0, 2, -1, 0, -1, 0, 0, 16},
        {TypeInfo::of(BaseType::TinyInt), nullptr, nullptr, nullptr, 0, 2, 1, 0, 0, 0, 0, 5},
        {TypeInfo::of(BaseType::BigInt), nullptr, nullptr, nullptr, 0, 2, 0, 0, 0, 0, 0, 0},
        {TypeInfo::of(BaseType::Image), "0x", nullptr, nullptr, 0, 0, -1, 0, -1, -1, -1, 20},
        {TypeInfo::of(BaseType::VarBinary, ColumnType::max), "0x", nullptr, "max length", 0, 2, -1,
         0, -1, -1, -1, 4},
        {TypeInfo::of(BaseType::Binary, 8000), "0x", nullptr, "length", 0, 2, -1, 0, -1, -1, -1, 3},
        {TypeInfo::of(BaseType::Text), "'", "'", nullptr, 0, 1, -1, 0, -1, -1, -1, 19},
        {TypeInfo::of(BaseType::Char, 8000), "'", "'", "length", 0, 3, -1, 0, -1, -1, -1, 1},
        {TypeInfo::of(BaseType::Numeric, 0, 38, 0), nullptr, nullptr, "precision,scale", 0, 2, 0, 0,
         0, 0, 38, 10},
        {TypeInfo::of(BaseType::Decimal, 0, 38, 0), nullptr, nullptr, "precision,scale", 0, 2, 0, 0,
         0, 0, 38, 24},
        {TypeInfo::of(BaseType::Money), "$", nullptr, nullptr, 0, 2, 0, 1, 0, 4, 4, 11},
        {TypeInfo::of(BaseType::SmallMoney), "$", nullptr, nullptr, 0, 2, 0, 1, 0, 4, 4, 21},
        {TypeInfo::of(BaseType::Int), nullptr, nullptr, nullptr, 0, 2, 0, 0, 0, 0, 0, 7},
        {TypeInfo::of(BaseType::SmallInt), nullptr, nullptr, nullptr, 0, 2, 0, 0, 0, 0, 0, 6},
        {TypeInfo::of(BaseType::Float), nullptr, nullptr, nullptr, 0, 2, 0, 0, 0, -1, -1, 8},
        {TypeInfo::of(BaseType::Real), nullptr, nullptr, nullptr, 0, 2, 0, 0, 0, -1, -1, 23},
        {TypeInfo::of(BaseType::DateTime), "'", "'", nullptr, 0, 3, -1, 0, -1, 3, 3, 12},
        {TypeInfo::of(BaseType::SmallDateTime), "'", "'", nullptr, 0, 3, -1, 0, -1, 0, 0, 22},
        {TypeInfo::of(BaseType::Date), "'", "'", nullptr, 0, 3, -1, 0, -1, -1, -1, 0},
        {TypeInfo::of(BaseType::Time, 0, 0, 7), "'", "'", "scale", 0, 3, -1, 0, -1, 0, 7, 0},
        {TypeInfo::of(BaseType::DateTime2, 0, 0, 7), "'", "'", "scale", 0, 3, -1, 0, -1, 0, 7, 0},
        {TypeInfo::of(BaseType::DateTimeOffset, 0, 0, 7), "'", "'", "scale", 0, 3, -1, 0, -1, 0, 7,
         0},
        {TypeInfo::of(BaseType::VarChar, ColumnType::max), "'", "'", "max length", 0, 3, -1, 0, -1,
         -1, -1, 2},
        {TypeInfo::of(BaseType::NText), "N'", "'", nullptr, 0, 1, -1, 0, -1, -1, -1, 0},
        {TypeInfo::of(BaseType::NVarChar, ColumnType::max), "N'", "'", "max length", 0, 3, -1, 0,
         -1, -1, -1, 0},
        {TypeInfo::of(BaseType::NChar, 4000), "N'", "'", "length", 0, 3, -1, 0, -1, -1, -1, 0},
        {TypeInfo::of(BaseType::UniqueIdentifier), "'", "'", nullptr, 0, 2, -1, 0, -1, -1, -1, 0},
        // Not searchable: xml compares with nothing.
        {TypeInfo::of(BaseType::Xml), "N'", "'", nullptr, 1, 0, -1, 0, -1, -1, -1, 0},
    };
    auto opt = [](int v) {
        return v < 0 ? Value() : Value(qint64(v));
    };
    auto str = [](const char* s) {
        return s ? Value(QString::fromLatin1(s)) : Value();
    };
    QList<QList<Value>> rows;
    for (const Info& i : infos) {
        TypeInfo t = i.type;
        const OdbcType o = odbcType(t, odbcVer);
        if (wanted != 0 && o.dataType != wanted)
            continue;
        Value precision = o.precision;
        if (t.length == ColumnType::max)
            precision = qint64(t.isUnicode() ? 1073741823 : 2147483647);
        else if (t.isString() || t.isBinary())
            precision = qint64(t.isUnicode() ? 4000 : 8000);
        rows << QList<Value>{t.baseName(),
                             qint64(o.dataType),
                             precision,
                             str(i.prefix),
                             str(i.suffix),
                             str(i.params),
                             qint64(1),
                             qint64(i.caseSensitive),
                             qint64(i.searchable),
                             opt(i.unsignedAttr),
                             qint64(i.money),
                             opt(i.autoIncrement),
                             t.baseName(),
                             opt(i.minScale),
                             opt(i.maxScale),
                             qint64(o.sqlDataType),
                             o.datetimeSub,
                             o.radix,
                             Value(),
                             qint64(i.usertype)};
    }
    std::stable_sort(rows.begin(), rows.end(), [](const QList<Value>& a, const QList<Value>& b) {
        return std::get<qint64>(a[1]) < std::get<qint64>(b[1]);
    });
    sendRows({col(u"TYPE_NAME"_s, sysname()),
              col(u"DATA_TYPE"_s, smallint()),
              col(u"PRECISION"_s, intType()),
              col(u"LITERAL_PREFIX"_s, varchar(32)),
              col(u"LITERAL_SUFFIX"_s, varchar(32)),
              col(u"CREATE_PARAMS"_s, varchar(32)),
              col(u"NULLABLE"_s, smallint()),
              col(u"CASE_SENSITIVE"_s, smallint()),
              col(u"SEARCHABLE"_s, smallint()),
              col(u"UNSIGNED_ATTRIBUTE"_s, smallint()),
              col(u"MONEY"_s, smallint()),
              col(u"AUTO_INCREMENT"_s, smallint()),
              col(u"LOCAL_TYPE_NAME"_s, sysname()),
              col(u"MINIMUM_SCALE"_s, smallint()),
              col(u"MAXIMUM_SCALE"_s, smallint()),
              col(u"SQL_DATA_TYPE"_s, smallint()),
              col(u"SQL_DATETIME_SUB"_s, smallint()),
              col(u"NUM_PREC_RADIX"_s, intType()),
              col(u"INTERVAL_PRECISION"_s, smallint()),
              col(u"USERTYPE"_s, smallint())},
             rows, frame);
}

void SessionImpl::spHelpText(QList<CallArg>& args, Frame& frame)
{
    checkNames(args, u"sp_helptext"_s, {u"@objname"_s, u"@columnname"_s});
    const auto name = textArg(args, u"@objname"_s, 0);
    const auto found = name ? findProcedure(m_currentDb, lastPart(*name)) : std::nullopt;
    if (!found)
        throw SqlError(15009, u"The object '%1' does not exist in database '%2' or is invalid for "
                              "this operation."_s.arg(name.value_or(QString()), m_currentDb));
    QList<QList<Value>> rows;
    QString def = found->second;
    qsizetype start = 0;
    while (start < def.size()) {
        qsizetype end = def.indexOf(u'\n', start);
        end = end < 0 ? def.size() : end + 1;
        rows << QList<Value>{def.mid(start, end - start)};
        start = end;
    }
    sendRows({col(u"Text"_s, nvarchar(255))}, rows, frame);
}

// ---- the server's file system

void SessionImpl::xpFixedDrives(Frame& frame)
{
    // One row a drive: its letter and its free space in whole megabytes.
    QList<QList<Value>> rows;
    for (const serverfiles::Drive& d : serverfiles::drives(m_server.options().dataDir))
        rows << QList<Value>{d.name, qint64(d.availableBytes / (1024 * 1024))};
    sendRows({col(u"drive"_s, TypeInfo::of(BaseType::Char, 1)), col(u"MB free"_s, intType())}, rows,
             frame);
}

void SessionImpl::xpDirTree(QList<CallArg>& args, Frame& frame)
{
    // xp_dirtree 'folder', depth (0: all levels), file (non-zero: files too, with a "file"
    // column that is 1 for them). A folder that cannot be found gives no rows and no error.
    const QString folder = textArg(args, u"@dir"_s, 0).value_or(QString());
    const qint64 depth = intArgument(args, u"@depth"_s, 1).value_or(0);
    const bool withFiles = intArgument(args, u"@file"_s, 2).value_or(0) != 0;
    QList<QList<Value>> rows;
    const std::function<void(const QString&, qint64)> walk = [&](const QString& local,
                                                                 qint64 level) {
        const QFileInfoList entries = QDir(local).entryInfoList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
        for (const QFileInfo& e : entries) {
            if (!e.isDir() && !withFiles)
                continue;
            QList<Value> row{e.fileName(), level};
            if (withFiles)
                row << qint64(e.isDir() ? 0 : 1);
            rows << row;
            if (e.isDir() && (depth <= 0 || level < depth))
                walk(e.filePath(), level + 1);
        }
    };
    if (!folder.isEmpty() && serverfiles::reachable(folder))
        walk(serverfiles::toLocal(folder), 1);
    QList<Column> columns{col(u"subdirectory"_s, nvarchar(512)), col(u"depth"_s, intType())};
    if (withFiles)
        columns << col(u"file"_s, intType());
    sendRows(columns, rows, frame);
}

std::optional<int> SessionImpl::xpFileExist(QList<CallArg>& args, Frame& frame, bool toOutput)
{
    const std::optional<QString> path = textArg(args, u"@filename"_s, 0);
    if (!path)
        throw SqlError(22027, u"Usage:  EXECUTE xp_fileexist <filename> [, <file_exists INT> "
                              "OUTPUT]"_s);
    const QFileInfo info(serverfiles::toLocal(*path));
    const bool reachable = serverfiles::reachable(*path);
    const bool isDir = reachable && info.isDir();
    const bool isFile = reachable && info.exists() && !isDir;
    const bool parent = reachable && QFileInfo(info.absolutePath()).isDir();
    if (toOutput)
        return isFile ? 1 : 0;
    sendRows({col(u"File Exists"_s, intType()), col(u"File is a Directory"_s, intType()),
              col(u"Parent Directory Exists"_s, intType())},
             {{qint64(isFile), qint64(isDir), qint64(parent)}}, frame);
    return std::nullopt;
}

void SessionImpl::xpCreateSubdir(QList<CallArg>& args)
{
    // Every missing level is made. A failure is error 22048 with the operating system's code.
    const std::optional<QString> path = textArg(args, u"@dir"_s, 0);
    if (!path || path->isEmpty())
        throw SqlError(22027, u"Usage:  EXECUTE xp_create_subdir <path>"_s);
    const QString local = serverfiles::toLocal(*path);
    if (QFileInfo(local).isDir())
        return;
    int code = 0;
    if (!serverfiles::reachable(*path))
        code = 3;
    else if (QFileInfo::exists(local))
        code = 183;
    else if (!QDir().mkpath(local))
        code = 5;
    if (code == 3)
        throw SqlError(22048, u"xp_create_subdir() returned error 3, 'The system cannot find the "
                              "path specified.'"_s);
    if (code == 183)
        throw SqlError(22048, u"xp_create_subdir() returned error 183, 'Cannot create a file when "
                              "that file already exists.'"_s);
    if (code == 5)
        throw SqlError(22048, u"xp_create_subdir() returned error 5, 'Access is denied.'"_s);
}

} // namespace sqlsim
