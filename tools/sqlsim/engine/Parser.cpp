#include "Parser.h"

#include "TokenCursor.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace sqlsim {

namespace {

// Words that begin a statement: where a statement without ";" ends.
bool isStatementStart(const Token& t)
{
    if (t.kind != Token::Word)
        return false;
    static const QSet<QString> words = {
        u"select"_s,  u"insert"_s,     u"update"_s,      u"delete"_s,     u"create"_s,
        u"drop"_s,    u"alter"_s,      u"truncate"_s,    u"use"_s,        u"declare"_s,
        u"set"_s,     u"if"_s,         u"while"_s,       u"begin"_s,      u"end"_s,
        u"break"_s,   u"continue"_s,   u"return"_s,      u"print"_s,      u"exec"_s,
        u"execute"_s, u"backup"_s,     u"restore"_s,     u"commit"_s,     u"rollback"_s,
        u"save"_s,    u"raiserror"_s,  u"with"_s,        u"goto"_s,       u"grant"_s,
        u"revoke"_s,  u"deny"_s,       u"dbcc"_s,        u"checkpoint"_s, u"waitfor"_s,
        u"kill"_s,    u"merge"_s,      u"throw"_s,       u"open"_s,       u"close"_s,
        u"fetch"_s,   u"deallocate"_s, u"reconfigure"_s, u"shutdown"_s,   u"else"_s,
        u"bulk"_s,    u"readtext"_s,   u"writetext"_s,   u"updatetext"_s, u"setuser"_s,
        u"revert"_s,  u"enable"_s,     u"disable"_s};
    return words.contains(t.text.toLower());
}

class Parser : public TokenCursor
{
public:
    explicit Parser(const QString& sql) : TokenCursor(tokenize(sql)), m_sql(sql) {}

    std::vector<StmtPtr> batch()
    {
        std::vector<StmtPtr> out;
        while (true) {
            while (peek().isSymbol(u";"))
                next();
            if (peek().kind == Token::End)
                break;
            out.push_back(statement(out.empty()));
        }
        return out;
    }

    std::vector<ProcParam> parameterList(bool allowParens)
    {
        std::vector<ProcParam> params;
        bool paren = false;
        if (allowParens && peek().isSymbol(u"(") && peek(1).kind == Token::Variable) {
            next();
            paren = true;
        }
        while (peek().kind == Token::Variable) {
            ProcParam p;
            p.displayName = next().text;
            p.name = p.displayName.toLower();
            acceptWord(u"as");
            p.type = typeSpec(TypeContext::Declaration, int(params.size()) + 1);
            acceptWord(u"varying");
            if (acceptSymbol(u"=")) {
                p.hasDefault = true;
                p.defaultValue = primaryLiteralOrExpr();
            }
            while (true) {
                if (acceptWord(u"output") || acceptWord(u"out"))
                    p.output = true;
                else if (acceptWord(u"readonly"))
                    ;
                else
                    break;
            }
            params.push_back(std::move(p));
            if (!acceptSymbol(u","))
                break;
        }
        if (paren)
            expectSymbol(u")");
        return params;
    }

    TypeInfo typeOnly()
    {
        TypeInfo t = typeSpec(TypeContext::Declaration, 1);
        if (peek().kind != Token::End)
            syntaxError();
        return t;
    }

private:
    const QString& m_sql;
    int m_depth = 0;

    // ---- token helpers

    [[noreturn]] void syntaxErrorAt(const Token& at) const { throw syntaxErrorFor(at); }
    SqlError syntaxErrorFor(const Token& at) const override
    {
        const Token* t = &at;
        if (t->kind == Token::End && position() > 0) {
            // At the end SQL Server names the last token it read.
            t = &tokens()[tokens().size() >= 2 ? tokens().size() - 2 : 0];
        }
        Message m = syntaxMessage(*t);
        m.line = t->line;
        return SqlError(m, true);
    }

    [[noreturn]] void customError(int number, const QString& text)
    {
        Message m;
        m.number = number;
        m.text = text;
        m.line = peek().line;
        throw SqlError(m, true);
    }

    // An identifier: a bare word that is not reserved, or a quoted name. A reserved keyword
    // names something only when delimited ("Reserved Keywords (Transact-SQL)",
    // learn.microsoft.com/sql/t-sql/language-elements/reserved-keywords-transact-sql): bare,
    // it is error 156.
    bool peekIdentifier(int k = 0) const
    {
        const Token& t = peek(k);
        return t.kind == Token::QuotedName || (t.kind == Token::Word && !isReservedWord(t.text));
    }
    QString identifier()
    {
        if (!peekIdentifier())
            syntaxError();
        const Token& t = next();
        return t.kind == Token::QuotedName ? t.value : t.text;
    }
    // A word where a keyword may stand: type names, option words, filegroups.
    QString anyName()
    {
        const Token& t = peek();
        if (t.kind != Token::Word && t.kind != Token::QuotedName)
            syntaxError();
        next();
        return t.kind == Token::QuotedName ? t.value : t.text;
    }

    ObjectName objectName()
    {
        const int start = peek().pos;
        QStringList parts;
        parts << anyNameOrEmpty();
        while (peek().isSymbol(u".")) {
            next();
            parts << anyNameOrEmpty();
        }
        if (parts.size() > 4 || parts.last().isEmpty())
            syntaxError();
        ObjectName n;
        n.name = parts.last();
        if (parts.size() >= 2)
            n.schema = parts[parts.size() - 2];
        if (parts.size() >= 3)
            n.database = parts[parts.size() - 3];
        n.text = m_sql.mid(start, tokens()[position() - 1].pos +
                                      tokens()[position() - 1].text.size() - start);
        return n;
    }
    QString anyNameOrEmpty()
    {
        if (peek().isSymbol(u"."))
            return {};
        return identifier();
    }

    // ---- types

    TypeInfo typeSpec(TypeContext context, int columnNumber)
    {
        const Token& first = peek();
        if (!first.isName())
            syntaxError();
        QString name = anyName();
        if (peek().isSymbol(u".") && name.compare(u"sys"_s, Qt::CaseInsensitive) == 0) {
            next();
            name = anyName();
        }
        // Multi-word type names.
        while (
            peek().kind == Token::Word &&
            (peek().isWord(u"precision") || peek().isWord(u"varying") ||
             ((name.compare(u"national"_s, Qt::CaseInsensitive) == 0 ||
               name.compare(u"char"_s, Qt::CaseInsensitive) == 0 ||
               name.compare(u"character"_s, Qt::CaseInsensitive) == 0 ||
               name.compare(u"national char"_s, Qt::CaseInsensitive) == 0 ||
               name.compare(u"national character"_s, Qt::CaseInsensitive) == 0) &&
              (peek().isWord(u"char") || peek().isWord(u"character") || peek().isWord(u"text"))))) {
            name += u' ' + next().text;
        }
        QString a1, a2;
        if (acceptSymbol(u"(")) {
            const Token& t = next();
            if (t.kind != Token::Integer && !t.isWord(u"max"))
                syntaxErrorAt(t);
            a1 = t.text;
            if (acceptSymbol(u",")) {
                const Token& t2 = next();
                if (t2.kind != Token::Integer)
                    syntaxErrorAt(t2);
                a2 = t2.text;
            }
            expectSymbol(u")");
        }
        try {
            return parseTypeName(name, a1, a2, context, columnNumber);
        } catch (SqlError& e) {
            e.abortBatch = true;
            e.message.line = first.line;
            throw;
        }
    }

    // ---- statements

    StmtPtr make(Stmt::Kind kind, const Token& start)
    {
        auto s = std::make_shared<Stmt>();
        s->kind = kind;
        s->line = start.line;
        s->pos = start.pos;
        return s;
    }

    void finish(Stmt& s)
    {
        const Token& last = tokens()[position() > 0 ? position() - 1 : 0];
        s.endPos = last.pos + int(last.text.size());
        if (s.endPos < s.pos)
            s.endPos = s.pos;
        s.text = m_sql.mid(s.pos, s.endPos - s.pos);
    }

    StmtPtr statement(bool firstInBatch)
    {
        DepthGuard guard(*this);
        StmtPtr s = statementInner(firstInBatch);
        finish(*s);
        return s;
    }

    StmtPtr statementInner(bool firstInBatch)
    {
        const Token& t = peek();
        if (t.kind == Token::QuotedName || (t.kind == Token::Word && !isStatementStart(t) &&
                                            !t.isWord(u"with") && !isReservedWord(t.text))) {
            if (!firstInBatch)
                syntaxError();
            return execStatement(t, /*implicit*/ true);
        }
        if (t.kind != Token::Word) {
            if (t.isSymbol(u"("))
                return selectStatement(t);
            syntaxError();
        }
        const QString w = t.text.toLower();
        if (w == u"select")
            return selectStatement(t);
        if (w == u"with")
            return withStatement(t);
        if (w == u"insert")
            return insertStatement(t, {});
        if (w == u"update")
            return updateStatement(t, {});
        if (w == u"delete")
            return deleteStatement(t, {});
        if (isSecurityStatement())
            return securityStatement(t);
        if (w == u"create")
            return createStatement(t, firstInBatch);
        if (w == u"alter")
            return alterStatement(t, firstInBatch);
        if (w == u"drop")
            return dropStatement(t);
        if (w == u"truncate") {
            next();
            expectWord(u"table");
            auto s = make(Stmt::Truncate, t);
            s->table = objectName();
            return s;
        }
        if (w == u"use") {
            next();
            auto s = make(Stmt::Use, t);
            s->name = identifier();
            return s;
        }
        if (w == u"declare")
            return declareStatement(t);
        if (w == u"set")
            return setStatement(t);
        if (w == u"if")
            return ifStatement(t);
        if (w == u"while") {
            next();
            auto s = make(Stmt::While, t);
            s->expr = expression();
            s->thenStmt = statement(false);
            return s;
        }
        if (w == u"begin")
            return beginStatement(t);
        if (w == u"break") {
            next();
            return make(Stmt::Break, t);
        }
        if (w == u"continue") {
            next();
            return make(Stmt::Continue, t);
        }
        if (w == u"return") {
            next();
            auto s = make(Stmt::Return, t);
            if (startsExpression())
                s->expr = expression();
            return s;
        }
        if (w == u"print") {
            next();
            auto s = make(Stmt::Print, t);
            s->expr = expression();
            return s;
        }
        if (w == u"raiserror")
            return raiserrorStatement(t);
        if (w == u"exec" || w == u"execute") {
            next();
            return execStatement(t, false);
        }
        if (w == u"commit" || w == u"rollback" || w == u"save") {
            next();
            auto s = make(w == u"commit"     ? Stmt::CommitTran
                          : w == u"rollback" ? Stmt::RollbackTran
                                             : Stmt::SaveTran,
                          t);
            if (acceptWord(u"tran") || acceptWord(u"transaction") || acceptWord(u"work")) {
                if (peekIdentifier() || peek().kind == Token::Variable)
                    s->name = next().text;
            }
            return s;
        }
        if (w == u"backup")
            return backupStatement(t);
        if (w == u"restore")
            return restoreStatement(t);
        if (w == u"end" || w == u"else")
            syntaxError();
        return unsupported(t, false);
    }

    // CREATE / ALTER / DROP LOGIN, CREATE / DROP USER, ALTER SERVER ROLE, ALTER ROLE, GRANT,
    // REVOKE and KILL: found here, read by the session (Security.cpp).
    bool isSecurityStatement() const
    {
        const Token& a = peek();
        const Token& b = peek(1);
        if (a.isWord(u"grant") || a.isWord(u"revoke") || a.isWord(u"kill"))
            return true;
        if (a.isWord(u"create") || a.isWord(u"drop"))
            return b.isWord(u"login") || b.isWord(u"user");
        if (a.isWord(u"alter"))
            return b.isWord(u"login") || b.isWord(u"role") ||
                   (b.isWord(u"server") && peek(2).isWord(u"role"));
        return false;
    }

    StmtPtr securityStatement(const Token& t)
    {
        auto s = make(Stmt::Security, t);
        s->name = t.text.toUpper() + u' ' + peek(1).text.toUpper();
        next();
        const Token* prev = &t;
        while (peek().kind != Token::End && !peek().isSymbol(u";")) {
            const Token& p = peek();
            // WITH and what follows it (options, GRANT OPTION), IF EXISTS, and permission names
            // after GRANT, REVOKE, FOR or a comma belong to the statement.
            const bool inside = prev->isSymbol(u",") || prev->isWord(u"grant") ||
                                prev->isWord(u"revoke") || prev->isWord(u"for") ||
                                prev->isWord(u"with") || p.isWord(u"with") ||
                                (p.isWord(u"if") && peek(1).isWord(u"exists"));
            if (isStatementStart(p) && !inside)
                break;
            prev = &p;
            next();
        }
        return s;
    }

    // Consumes an unsupported statement up to the next statement start (or the whole batch).
    StmtPtr unsupported(const Token& t, bool restOfBatch)
    {
        auto s = make(Stmt::Unsupported, t);
        QStringList words;
        next();
        words << t.text.toUpper();
        int depth = 0;
        // GRANT/REVOKE/DENY name statements in their permission lists.
        const bool permissions = t.isWord(u"grant") || t.isWord(u"revoke") || t.isWord(u"deny");
        const Token* prev = &t;
        while (peek().kind != Token::End) {
            const Token& p = peek();
            const bool listed = permissions && (prev->isSymbol(u",") || prev == &t);
            if (!restOfBatch && depth == 0 &&
                (p.isSymbol(u";") || (isStatementStart(p) && !listed)))
                break;
            prev = &p;
            if (p.isSymbol(u"("))
                ++depth;
            else if (p.isSymbol(u")"))
                --depth;
            if (words.size() < 2 && p.kind == Token::Word)
                words << p.text.toUpper();
            next();
        }
        s->name = words.join(u' ');
        return s;
    }

    bool startsExpression() const
    {
        const Token& t = peek();
        switch (t.kind) {
        case Token::End:
            return false;
        case Token::Symbol:
            return t.isSymbol(u"(") || t.isSymbol(u"-") || t.isSymbol(u"+") || t.isSymbol(u"~");
        case Token::Word:
            if (t.isWord(u"null") || t.isWord(u"case") || t.isWord(u"not") || t.isWord(u"exists") ||
                t.isWord(u"convert") || t.isWord(u"coalesce") || t.isWord(u"nullif") ||
                t.isWord(u"left") || t.isWord(u"right") || t.isWord(u"current_timestamp") ||
                t.isWord(u"user"))
                return true;
            return !isReservedWord(t.text) && !isStatementStart(t);
        default:
            return true;
        }
    }

    StmtPtr selectStatement(const Token& t)
    {
        auto s = make(Stmt::Select, t);
        s->select = queryExpression();
        return s;
    }

    StmtPtr withStatement(const Token& t)
    {
        next();
        std::vector<Cte> ctes;
        do {
            Cte c;
            c.name = identifier();
            if (acceptSymbol(u"(")) {
                do {
                    c.columns << identifier();
                } while (acceptSymbol(u","));
                expectSymbol(u")");
            }
            expectWord(u"as");
            expectSymbol(u"(");
            c.select = queryExpression();
            expectSymbol(u")");
            ctes.push_back(std::move(c));
        } while (acceptSymbol(u","));
        const Token& k = peek();
        if (k.isWord(u"select")) {
            auto s = make(Stmt::Select, t);
            s->select = queryExpression();
            s->select->ctes = ctes;
            return s;
        }
        if (k.isWord(u"insert"))
            return insertStatement(t, ctes);
        if (k.isWord(u"update"))
            return updateStatement(t, ctes);
        if (k.isWord(u"delete"))
            return deleteStatement(t, ctes);
        syntaxError();
    }

    StmtPtr insertStatement(const Token& t, std::vector<Cte> ctes)
    {
        next(); // INSERT
        auto s = make(Stmt::Insert, t);
        s->ctes = std::move(ctes);
        if (peek().isWord(u"top"))
            syntaxError();
        acceptWord(u"into");
        s->table = objectName();
        tableHints();
        if (peek().isSymbol(u"(") && (peek(1).isName()) &&
            (peek(2).isSymbol(u",") || peek(2).isSymbol(u")") || peek(2).isSymbol(u"."))) {
            next();
            do {
                QString col = identifier();
                while (acceptSymbol(u"."))
                    col = identifier();
                s->columns << col;
            } while (acceptSymbol(u","));
            expectSymbol(u")");
        }
        if (acceptWord(u"values")) {
            do {
                expectSymbol(u"(");
                std::vector<ExprPtr> row;
                do {
                    if (peek().isWord(u"default")) {
                        auto e = std::make_shared<Expr>();
                        e->kind = Expr::Default;
                        e->pos = next().pos;
                        row.push_back(e);
                    } else {
                        row.push_back(expression());
                    }
                } while (acceptSymbol(u","));
                expectSymbol(u")");
                s->rows.push_back(std::move(row));
            } while (acceptSymbol(u","));
            if (s->rows.size() > 1000)
                customError(10738, u"The number of row value expressions in the INSERT "
                                   "statement exceeds the maximum allowed number of 1000 row "
                                   "values."_s);
        } else if (peek().isWord(u"select") || peek().isSymbol(u"(") || peek().isWord(u"with")) {
            if (peek().isWord(u"with")) {
                const Token& w = peek();
                auto inner = withStatement(w);
                if (inner->kind != Stmt::Select)
                    syntaxError();
                s->select = inner->select;
            } else {
                s->select = queryExpression();
            }
        } else if (peek().isWord(u"default")) {
            next();
            expectWord(u"values");
            s->defaultValues = true;
        } else if (peek().isWord(u"exec") || peek().isWord(u"execute")) {
            const Token& e = next();
            s->insertExec = execStatement(e, false);
        } else {
            syntaxError();
        }
        return s;
    }

    void tableHints()
    {
        if (peek().isWord(u"with") && peek(1).isSymbol(u"(")) {
            next();
            skipParens();
        }
    }

    void skipParens()
    {
        expectSymbol(u"(");
        int depth = 1;
        while (depth > 0) {
            const Token& p = next();
            if (p.kind == Token::End)
                syntaxErrorAt(p);
            if (p.isSymbol(u"("))
                ++depth;
            else if (p.isSymbol(u")"))
                --depth;
        }
    }

    StmtPtr updateStatement(const Token& t, std::vector<Cte> ctes)
    {
        next();
        auto s = make(Stmt::Update, t);
        s->ctes = std::move(ctes);
        if (acceptWord(u"top")) {
            expectSymbol(u"(");
            s->top = expression();
            expectSymbol(u")");
        }
        s->table = objectName();
        tableHints();
        expectWord(u"set");
        do {
            Stmt::SetClause c;
            if (peek().kind == Token::Variable) {
                c.variable = next().value;
                if (acceptSymbol(u"=")) {
                    // @v = column = expr
                    if (peek().isName() && peek(1).isSymbol(u"=")) {
                        c.column = identifier();
                        next();
                    }
                    c.op = u"="_s;
                } else {
                    c.op = compoundAssign();
                }
            } else {
                QString col = identifier();
                while (acceptSymbol(u"."))
                    col = identifier();
                c.column = col;
                c.op = acceptSymbol(u"=") ? u"="_s : compoundAssign();
            }
            if (peek().isWord(u"default")) {
                auto e = std::make_shared<Expr>();
                e->kind = Expr::Default;
                next();
                c.value = e;
            } else {
                c.value = expression();
            }
            s->sets.push_back(std::move(c));
        } while (acceptSymbol(u","));
        if (acceptWord(u"from"))
            s->from = tableSources();
        if (acceptWord(u"where"))
            s->where = expression();
        optionClause();
        return s;
    }

    QString compoundAssign()
    {
        const Token& op = peek();
        if (op.isSymbol(u"+=") || op.isSymbol(u"-=") || op.isSymbol(u"*=") || op.isSymbol(u"/=")) {
            next();
            return op.text;
        }
        syntaxError();
    }

    StmtPtr deleteStatement(const Token& t, std::vector<Cte> ctes)
    {
        next();
        auto s = make(Stmt::Delete, t);
        s->ctes = std::move(ctes);
        if (acceptWord(u"top")) {
            expectSymbol(u"(");
            s->top = expression();
            expectSymbol(u")");
        }
        acceptWord(u"from");
        s->table = objectName();
        tableHints();
        if (acceptWord(u"from"))
            s->from = tableSources();
        if (acceptWord(u"where"))
            s->where = expression();
        optionClause();
        return s;
    }

    void optionClause()
    {
        if (peek().isWord(u"option") && peek(1).isSymbol(u"(")) {
            next();
            skipParens();
        }
    }

    StmtPtr createStatement(const Token& t, bool firstInBatch)
    {
        const Token& what = peek(1);
        if (what.isWord(u"table")) {
            next();
            next();
            return createTable(t);
        }
        if (what.isWord(u"procedure") || what.isWord(u"proc"))
            return createProcedure(t, firstInBatch, false);
        if (what.isWord(u"database")) {
            next();
            next();
            return createDatabase(t);
        }
        if (what.isWord(u"index") || what.isWord(u"unique") || what.isWord(u"clustered") ||
            what.isWord(u"nonclustered"))
            return createIndex(t);
        if (what.isWord(u"view") || what.isWord(u"function") || what.isWord(u"trigger") ||
            what.isWord(u"schema")) {
            if (!firstInBatch && !what.isWord(u"schema"))
                customError(111, u"'CREATE %1' must be the first statement in a query batch."_s.arg(
                                     what.text.toUpper()));
            return unsupported(t, !what.isWord(u"schema"));
        }
        return unsupported(t, false);
    }

    StmtPtr alterStatement(const Token& t, bool firstInBatch)
    {
        const Token& what = peek(1);
        if (what.isWord(u"procedure") || what.isWord(u"proc"))
            return createProcedure(t, firstInBatch, true);
        if (what.isWord(u"table")) {
            next();
            next();
            auto s = make(Stmt::AlterTable, t);
            s->table = objectName();
            if (acceptWord(u"add")) {
                s->alterAction = u"ADD"_s;
                if (peek().isWord(u"constraint") || peek().isWord(u"primary") ||
                    peek().isWord(u"foreign") || peek().isWord(u"unique") ||
                    peek().isWord(u"check")) {
                    s->alterAction = u"ADD CONSTRAINT"_s;
                    s->constraints.push_back(tableConstraint());
                    while (acceptSymbol(u","))
                        s->constraints.push_back(tableConstraint());
                } else {
                    do {
                        s->columnDefs.push_back(columnDefinition(int(s->columnDefs.size()) + 1));
                    } while (acceptSymbol(u","));
                }
            } else if (acceptWord(u"drop")) {
                if (acceptWord(u"constraint")) {
                    s->alterAction = u"DROP CONSTRAINT"_s;
                    s->columns << identifier();
                } else {
                    acceptWord(u"column");
                    s->alterAction = u"DROP COLUMN"_s;
                    do {
                        s->columns << identifier();
                    } while (acceptSymbol(u","));
                }
            } else if (acceptWord(u"alter")) {
                expectWord(u"column");
                s->alterAction = u"ALTER COLUMN"_s;
                s->columnDefs.push_back(columnDefinition(1));
            } else {
                return unsupportedRest(s);
            }
            return s;
        }
        // ALTER DATABASE CURRENT is the one keyword that stands for a database there.
        if (what.isWord(u"database") && peek(2).kind == Token::Word &&
            isReservedWord(peek(2).text) && !peek(2).isWord(u"current"))
            syntaxErrorAt(peek(2));
        if (what.isWord(u"database") && peek(3).isWord(u"set") &&
            (peek(4).isWord(u"single_user") || peek(4).isWord(u"multi_user") ||
             peek(4).isWord(u"restricted_user") || peek(4).isWord(u"online") ||
             peek(4).isWord(u"offline") || peek(4).isWord(u"emergency")))
            return alterDatabaseSet(t);
        return unsupported(t, false);
    }

    // ALTER DATABASE { name | CURRENT } SET { SINGLE_USER | RESTRICTED_USER | MULTI_USER |
    //     ONLINE | OFFLINE | EMERGENCY }
    //     [ WITH { ROLLBACK AFTER n [ SECONDS ] | ROLLBACK IMMEDIATE | NO_WAIT } ]
    // (learn.microsoft.com/sql/t-sql/statements/alter-database-transact-sql-set-options)
    StmtPtr alterDatabaseSet(const Token& t)
    {
        next(); // ALTER
        next(); // DATABASE
        auto s = make(Stmt::AlterDatabase, t);
        if (peek().kind == Token::Word && peek().isWord(u"current"))
            next();
        else
            s->name = identifier();
        expectWord(u"set");
        s->value = next().text.toUpper();
        if (acceptWord(u"with")) {
            if (acceptWord(u"no_wait")) {
                s->words << u"NO_WAIT"_s;
            } else {
                expectWord(u"rollback");
                if (acceptWord(u"immediate")) {
                    s->words << u"ROLLBACK IMMEDIATE"_s;
                } else {
                    expectWord(u"after");
                    s->words << u"ROLLBACK AFTER"_s;
                    s->expr = std::make_shared<Expr>();
                    s->expr->kind = Expr::Integer;
                    s->expr->text = QString::number(signedInteger());
                    acceptWord(u"seconds");
                }
            }
        }
        return s;
    }

    StmtPtr unsupportedRest(StmtPtr s)
    {
        s->kind = Stmt::Unsupported;
        s->name = u"ALTER TABLE"_s;
        int depth = 0;
        while (peek().kind != Token::End) {
            const Token& p = peek();
            if (depth == 0 && (p.isSymbol(u";") || isStatementStart(p)))
                break;
            if (p.isSymbol(u"("))
                ++depth;
            else if (p.isSymbol(u")"))
                --depth;
            next();
        }
        return s;
    }

    StmtPtr dropStatement(const Token& t)
    {
        const Token& what = peek(1);
        Stmt::Kind kind;
        if (what.isWord(u"table"))
            kind = Stmt::DropTable;
        else if (what.isWord(u"procedure") || what.isWord(u"proc"))
            kind = Stmt::DropProc;
        else if (what.isWord(u"database"))
            kind = Stmt::DropDatabase;
        else if (what.isWord(u"index"))
            kind = Stmt::DropIndex;
        else
            return unsupported(t, false);
        next();
        next();
        auto s = make(kind, t);
        if (peek().isWord(u"if") && peek(1).isWord(u"exists")) {
            next();
            next();
            s->ifExists = true;
        }
        do {
            if (kind == Stmt::DropDatabase) {
                ObjectName n;
                n.name = identifier();
                n.text = n.name;
                s->names.push_back(n);
            } else {
                s->names.push_back(objectName());
                if (kind == Stmt::DropIndex && acceptWord(u"on")) {
                    s->names.back().schema.clear();
                    s->table = objectName();
                }
            }
        } while (acceptSymbol(u","));
        return s;
    }

    StmtPtr createTable(const Token& t)
    {
        auto s = make(Stmt::CreateTable, t);
        s->table = objectName();
        expectSymbol(u"(");
        do {
            if (peek().isWord(u"constraint") || peek().isWord(u"primary") ||
                peek().isWord(u"foreign") || peek().isWord(u"unique") || peek().isWord(u"check")) {
                s->constraints.push_back(tableConstraint());
            } else {
                s->columnDefs.push_back(columnDefinition(int(s->columnDefs.size()) + 1));
            }
        } while (acceptSymbol(u","));
        expectSymbol(u")");
        // ON [PRIMARY], TEXTIMAGE_ON [PRIMARY], WITH (...)
        while (true) {
            if (acceptWord(u"on") || acceptWord(u"textimage_on")) {
                anyName();
                continue;
            }
            if (peek().isWord(u"with") && peek(1).isSymbol(u"(")) {
                next();
                skipParens();
                continue;
            }
            break;
        }
        return s;
    }

    ColumnDef columnDefinition(int number)
    {
        ColumnDef c;
        c.name = identifier();
        if (peek().isWord(u"as")) {
            // computed column
            customError(40000, u"sqlsim does not support computed columns ('%1')."_s.arg(c.name));
        }
        c.type = typeSpec(TypeContext::Declaration, number);
        while (true) {
            if (acceptWord(u"collate")) {
                c.collation = anyName();
            } else if (peek().isWord(u"not") && peek(1).isWord(u"null")) {
                next();
                next();
                c.nullable = false;
            } else if (acceptWord(u"null")) {
                c.nullable = true;
            } else if (acceptWord(u"identity")) {
                c.identity = true;
                if (acceptSymbol(u"(")) {
                    c.identitySeed = signedInteger();
                    expectSymbol(u",");
                    c.identityIncrement = signedInteger();
                    expectSymbol(u")");
                }
            } else if (acceptWord(u"constraint")) {
                identifier();
            } else if (acceptWord(u"primary")) {
                expectWord(u"key");
                c.primaryKey = true;
                if (!acceptWord(u"clustered"))
                    acceptWord(u"nonclustered");
            } else if (acceptWord(u"unique")) {
                c.unique = true;
                if (!acceptWord(u"clustered"))
                    acceptWord(u"nonclustered");
            } else if (acceptWord(u"default")) {
                c.defaultExpr = unaryExpr();
            } else if (acceptWord(u"references")) {
                c.references = objectName();
                if (acceptSymbol(u"(")) {
                    c.referencesColumn = identifier();
                    expectSymbol(u")");
                }
                c.referentialActions = referentialActions();
            } else if (acceptWord(u"check")) {
                expectSymbol(u"(");
                c.check = expression();
                expectSymbol(u")");
            } else if (acceptWord(u"rowguidcol") || acceptWord(u"sparse")) {
            } else {
                break;
            }
        }
        return c;
    }

    QString referentialActions()
    {
        QString out;
        while (peek().isWord(u"on") && (peek(1).isWord(u"delete") || peek(1).isWord(u"update"))) {
            next();
            out += u" ON "_s + next().text.toUpper();
            if (acceptWord(u"no")) {
                expectWord(u"action");
                out += u" NO ACTION"_s;
            } else if (acceptWord(u"cascade")) {
                out += u" CASCADE"_s;
            } else if (acceptWord(u"set")) {
                if (acceptWord(u"null")) {
                    out += u" SET NULL"_s;
                } else {
                    expectWord(u"default");
                    out += u" SET DEFAULT"_s;
                }
            } else {
                syntaxError();
            }
        }
        return out;
    }

    qint64 signedInteger()
    {
        bool negative = acceptSymbol(u"-");
        const Token& n = next();
        if (n.kind != Token::Integer)
            syntaxErrorAt(n);
        const qint64 v = n.text.toLongLong();
        return negative ? -v : v;
    }

    TableConstraint tableConstraint()
    {
        TableConstraint c;
        if (acceptWord(u"constraint"))
            c.name = identifier();
        auto columnList = [&](QStringList& out) {
            expectSymbol(u"(");
            do {
                out << identifier();
                if (!acceptWord(u"asc"))
                    acceptWord(u"desc");
            } while (acceptSymbol(u","));
            expectSymbol(u")");
        };
        if (acceptWord(u"primary")) {
            expectWord(u"key");
            c.kind = TableConstraint::PrimaryKey;
            if (!acceptWord(u"clustered"))
                acceptWord(u"nonclustered");
            columnList(c.columns);
        } else if (acceptWord(u"unique")) {
            c.kind = TableConstraint::Unique;
            if (!acceptWord(u"clustered"))
                acceptWord(u"nonclustered");
            columnList(c.columns);
        } else if (acceptWord(u"foreign")) {
            expectWord(u"key");
            c.kind = TableConstraint::ForeignKey;
            columnList(c.columns);
            expectWord(u"references");
            c.references = objectName();
            if (peek().isSymbol(u"("))
                columnList(c.referencesColumns);
            c.referentialActions = referentialActions();
        } else if (acceptWord(u"check")) {
            c.kind = TableConstraint::Check;
            expectSymbol(u"(");
            c.check = expression();
            expectSymbol(u")");
        } else {
            syntaxError();
        }
        if (peek().isWord(u"with") && peek(1).isSymbol(u"(")) {
            next();
            skipParens();
        }
        if (peek().isWord(u"on") && !peek(1).isWord(u"delete") && !peek(1).isWord(u"update")) {
            next();
            anyName();
        }
        return c;
    }

    StmtPtr createIndex(const Token& t)
    {
        next(); // CREATE
        auto s = make(Stmt::CreateIndex, t);
        if (acceptWord(u"unique"))
            s->unique = true;
        if (!acceptWord(u"clustered"))
            acceptWord(u"nonclustered");
        expectWord(u"index");
        s->indexName = identifier();
        expectWord(u"on");
        s->table = objectName();
        expectSymbol(u"(");
        do {
            QString col = identifier();
            if (acceptWord(u"desc"))
                col += u" DESC"_s;
            else
                acceptWord(u"asc");
            s->columns << col;
        } while (acceptSymbol(u","));
        expectSymbol(u")");
        if (acceptWord(u"include")) {
            skipParensAfterOpen();
        }
        if (acceptWord(u"where"))
            expression();
        if (peek().isWord(u"with") && peek(1).isSymbol(u"(")) {
            next();
            skipParens();
        }
        if (acceptWord(u"on"))
            anyName();
        return s;
    }

    void skipParensAfterOpen()
    {
        if (peek().isSymbol(u"("))
            skipParens();
    }

    StmtPtr createProcedure(const Token& t, bool firstInBatch, bool isAlter)
    {
        if (!firstInBatch)
            customError(111, u"'%1 PROCEDURE' must be the first statement in a query batch."_s.arg(
                                 isAlter ? u"ALTER"_s : u"CREATE"_s));
        next(); // CREATE/ALTER
        next(); // PROCEDURE
        auto s = make(Stmt::CreateProc, t);
        s->alter = isAlter;
        s->procedure = objectName();
        if (peek().isSymbol(u";") && peek(1).kind == Token::Integer) {
            next();
            next();
        }
        s->params = parameterList(true);
        if (acceptWord(u"with")) {
            do {
                if (acceptWord(u"execute")) {
                    expectWord(u"as");
                    next();
                } else {
                    anyName();
                }
            } while (acceptSymbol(u","));
        }
        if (acceptWord(u"for"))
            expectWord(u"replication");
        expectWord(u"as");
        // The body is the rest of the batch.
        while (true) {
            while (peek().isSymbol(u";"))
                next();
            if (peek().kind == Token::End)
                break;
            s->body.push_back(statement(false));
        }
        s->definition = m_sql.mid(t.pos);
        return s;
    }

    StmtPtr createDatabase(const Token& t)
    {
        auto s = make(Stmt::CreateDatabase, t);
        s->name = identifier();
        auto fileSpecs = [&](QList<std::pair<QString, QString>>& out) {
            acceptWord(u"primary");
            do {
                expectSymbol(u"(");
                QString logical, file;
                do {
                    const QString key = anyName().toLower();
                    expectSymbol(u"=");
                    if (key == u"name" && peek().kind == Token::Word && isReservedWord(peek().text))
                        syntaxError();
                    const Token& v = next();
                    if (key == u"name")
                        logical = v.kind == Token::String || v.kind == Token::NString ||
                                          v.kind == Token::QuotedName
                                      ? v.value
                                      : v.text;
                    else if (key == u"filename")
                        file = v.value;
                    // size, maxsize, filegrowth: "10MB" is a number and a word
                    if ((v.kind == Token::Integer || v.kind == Token::Decimal) &&
                        peek().kind == Token::Word && !peek().isWord(u"name"))
                        next();
                } while (acceptSymbol(u","));
                expectSymbol(u")");
                out.append({logical, file});
            } while (acceptSymbol(u","));
        };
        if (acceptWord(u"on"))
            fileSpecs(s->dataFiles);
        if (acceptWord(u"log")) {
            expectWord(u"on");
            fileSpecs(s->logFiles);
        }
        if (acceptWord(u"collate"))
            anyName();
        if (acceptWord(u"for")) {
            if (acceptWord(u"attach") || acceptWord(u"attach_rebuild_log"))
                s->value = u"ATTACH"_s;
            else
                syntaxError();
        }
        if (peek().isWord(u"with")) {
            next();
            while (peek().kind == Token::Word && !isStatementStart(peek())) {
                next();
                if (acceptSymbol(u"="))
                    next();
                if (!acceptSymbol(u","))
                    break;
            }
        }
        return s;
    }

    StmtPtr declareStatement(const Token& t)
    {
        next();
        auto s = make(Stmt::Declare, t);
        do {
            if (peek().kind != Token::Variable)
                syntaxError();
            Stmt::Declaration d;
            d.name = next().value;
            acceptWord(u"as");
            if (peek().isWord(u"table") || peek().isWord(u"cursor")) {
                const Token& what = peek();
                s->kind = Stmt::Unsupported;
                s->name = u"DECLARE "_s + what.text.toUpper();
                return unsupportedTail(s);
            }
            d.type = typeSpec(TypeContext::Declaration, int(s->declarations.size()) + 1);
            if (acceptSymbol(u"="))
                d.init = expression();
            s->declarations.push_back(std::move(d));
        } while (acceptSymbol(u","));
        return s;
    }

    StmtPtr unsupportedTail(StmtPtr s)
    {
        int depth = 0;
        while (peek().kind != Token::End) {
            const Token& p = peek();
            if (depth == 0 && (p.isSymbol(u";") || (isStatementStart(p) && !p.isWord(u"with"))))
                break;
            if (p.isSymbol(u"("))
                ++depth;
            else if (p.isSymbol(u")"))
                --depth;
            next();
        }
        return s;
    }

    StmtPtr setStatement(const Token& t)
    {
        next();
        if (peek().kind == Token::Variable) {
            auto s = make(Stmt::SetVariable, t);
            s->variable = next().value;
            if (acceptSymbol(u"="))
                s->op = u"="_s;
            else
                s->op = compoundAssign();
            s->expr = expression();
            return s;
        }
        auto s = make(Stmt::SetOption, t);
        const Token& opt = peek();
        if (opt.kind != Token::Word)
            syntaxError();
        const QString o = opt.text.toUpper();
        if (o == u"TRANSACTION") {
            next();
            expectWord(u"isolation");
            expectWord(u"level");
            s->words << u"TRANSACTION ISOLATION LEVEL"_s;
            while (peek().kind == Token::Word && !isStatementStart(peek()) &&
                   (peek().isWord(u"read") || peek().isWord(u"committed") ||
                    peek().isWord(u"uncommitted") || peek().isWord(u"repeatable") ||
                    peek().isWord(u"serializable") || peek().isWord(u"snapshot")))
                s->value += next().text.toUpper() + u' ';
            s->value = s->value.trimmed();
            if (s->value.isEmpty())
                syntaxError();
            return s;
        }
        if (o == u"IDENTITY_INSERT") {
            next();
            s->words << o;
            s->table = objectName();
            const Token& v = next();
            if (!v.isWord(u"on") && !v.isWord(u"off"))
                syntaxErrorAt(v);
            s->value = v.text.toUpper();
            return s;
        }
        if (o == u"STATISTICS" || o == u"SHOWPLAN_ALL" || o == u"SHOWPLAN_TEXT" ||
            o == u"SHOWPLAN_XML") {
            next();
            s->words << o;
            if (o == u"STATISTICS") {
                do {
                    s->words << anyName().toUpper();
                } while (acceptSymbol(u","));
            }
            const Token& v = next();
            if (!v.isWord(u"on") && !v.isWord(u"off"))
                syntaxErrorAt(v);
            s->value = v.text.toUpper();
            return s;
        }
        do {
            const Token& w = next();
            if (w.kind != Token::Word)
                syntaxErrorAt(w);
            s->words << w.text.toUpper();
        } while (acceptSymbol(u","));
        if (s->words == QStringList{u"TEXTSIZE"_s}) {
            s->value = textSizeNumber();
            return s;
        }
        const Token& v = peek();
        if (v.isWord(u"on") || v.isWord(u"off")) {
            next();
            s->value = v.text.toUpper();
        } else if (v.kind == Token::Integer || v.kind == Token::Variable ||
                   v.kind == Token::String || v.kind == Token::NString ||
                   v.kind == Token::QuotedName) {
            next();
            s->value = v.kind == Token::Integer || v.kind == Token::Variable ? v.text : v.value;
            if (v.kind == Token::Variable)
                s->variable = v.value;
        } else if (v.isSymbol(u"-") && peek(1).kind == Token::Integer) {
            next();
            s->value = u'-' + next().text;
        } else if (v.kind == Token::Word && !isStatementStart(v)) {
            // SET DATEFORMAT dmy, SET LANGUAGE us_english, SET DEADLOCK_PRIORITY LOW
            next();
            s->value = v.text;
        } else {
            syntaxError();
        }
        return s;
    }

    // SET TEXTSIZE takes an integer constant, no variable, within int's range: SQL Server's
    // parser answers anything else with 1080 (or 102 for what is no number at all).
    // https://learn.microsoft.com/sql/t-sql/statements/set-textsize-transact-sql
    QString textSizeNumber()
    {
        const bool negative = acceptSymbol(u"-");
        const Token& v = peek();
        if (v.kind != Token::Integer && v.kind != Token::Decimal && v.kind != Token::Float)
            syntaxError();
        next();
        bool ok = false;
        const qint64 n = v.text.toLongLong(&ok);
        const qint64 limit = negative ? qint64(2147483648) : qint64(2147483647);
        if (v.kind != Token::Integer || !ok || n > limit) {
            Message m;
            m.number = 1080;
            m.severity = 15;
            m.text = u"The integer value %1 is out of range."_s.arg(v.text);
            m.line = v.line;
            throw SqlError(m, true);
        }
        return negative ? u'-' + v.text : v.text;
    }

    StmtPtr ifStatement(const Token& t)
    {
        next();
        auto s = make(Stmt::If, t);
        s->expr = expression();
        if (peek().kind == Token::End || peek().isWord(u"else") || peek().isWord(u"end"))
            syntaxError();
        s->thenStmt = statement(false);
        // "stmt ; ELSE" is accepted
        if (peek().isSymbol(u";") && peek(1).isWord(u"else"))
            next();
        if (acceptWord(u"else")) {
            if (peek().kind == Token::End || peek().isWord(u"end"))
                syntaxError();
            s->elseStmt = statement(false);
        }
        return s;
    }

    StmtPtr beginStatement(const Token& t)
    {
        const Token& k = peek(1);
        if (k.isWord(u"tran") || k.isWord(u"transaction")) {
            next();
            next();
            auto s = make(Stmt::BeginTran, t);
            if (peekIdentifier() || peek().kind == Token::Variable)
                s->name = next().text;
            if (acceptWord(u"with")) {
                expectWord(u"mark");
                if (peek().kind == Token::String || peek().kind == Token::NString)
                    next();
            }
            return s;
        }
        if (k.isWord(u"distributed")) {
            next();
            next();
            if (!acceptWord(u"tran"))
                expectWord(u"transaction");
            auto s = make(Stmt::BeginTran, t);
            if (peekIdentifier())
                next();
            return s;
        }
        if (k.isWord(u"try") || k.isWord(u"catch") || k.isWord(u"dialog") ||
            k.isWord(u"conversation"))
            return unsupported(t, true); // the blocks hold statements: all of it is refused
        next();
        auto s = make(Stmt::Block, t);
        while (true) {
            while (peek().isSymbol(u";"))
                next();
            if (acceptWord(u"end"))
                break;
            if (peek().kind == Token::End)
                syntaxError();
            s->body.push_back(statement(false));
        }
        return s;
    }

    StmtPtr raiserrorStatement(const Token& t)
    {
        next();
        auto s = make(Stmt::Raiserror, t);
        expectSymbol(u"(");
        do {
            s->exprs.push_back(expression());
        } while (acceptSymbol(u","));
        expectSymbol(u")");
        if (acceptWord(u"with")) {
            do {
                s->words << anyName().toUpper();
            } while (acceptSymbol(u","));
        }
        return s;
    }

    StmtPtr execStatement(const Token& t, bool implicit)
    {
        auto s = make(Stmt::Exec, t);
        if (!implicit && peek().isSymbol(u"(")) {
            next();
            s->dynamicSql = expression();
            expectSymbol(u")");
            if (acceptWord(u"as")) {
                anyName();
                expectSymbol(u"=");
                next();
            }
            return s;
        }
        if (peek().kind == Token::Variable) {
            const Token& v = next();
            if (acceptSymbol(u"=")) {
                s->returnVariable = v.value;
            } else {
                s->procedureVariable = v.value;
            }
        }
        if (s->procedureVariable.isEmpty()) {
            if (peek().kind == Token::Variable) {
                s->procedureVariable = next().value;
            } else {
                if (!peek().isName())
                    syntaxError();
                s->procedure = objectName();
            }
        }
        // Group number: proc;1
        if (peek().isSymbol(u";") && peek(1).kind == Token::Integer) {
            next();
            next();
        }
        if (!atStatementEnd()) {
            bool named = false;
            do {
                ExecArg a;
                const Token& start = peek();
                if (peek().kind == Token::Variable && peek(1).isSymbol(u"=")) {
                    a.name = next().value;
                    next();
                    named = true;
                } else if (named) {
                    // Positional arguments come first ("EXECUTE (Transact-SQL)",
                    // learn.microsoft.com): a compile error, the batch does not run.
                    Message m;
                    m.number = 119;
                    m.severity = 15;
                    m.text = u"Must pass parameter number %1 and subsequent parameters as '@name "
                             "= value'. After the form '@name = value' has been used, all "
                             "subsequent parameters must be passed in the form '@name = "
                             "value'."_s.arg(s->args.size() + 1);
                    m.line = start.line;
                    throw SqlError(m, true);
                }
                if (peek().isWord(u"default")) {
                    next();
                    a.isDefault = true;
                } else {
                    a.value = execArgValue();
                }
                if (acceptWord(u"output") || acceptWord(u"out"))
                    a.output = true;
                s->args.push_back(std::move(a));
            } while (acceptSymbol(u","));
        }
        if (peek().isWord(u"with") && peek(1).isWord(u"recompile")) {
            next();
            next();
        }
        return s;
    }

    bool atStatementEnd() const
    {
        const Token& p = peek();
        return p.kind == Token::End || p.isSymbol(u";") ||
               (p.kind == Token::Word && isStatementStart(p) && !p.isWord(u"default"));
    }

    // EXEC arguments: constants, variables, and bare names taken as strings.
    ExprPtr execArgValue()
    {
        const Token& p = peek();
        if (p.kind == Token::Word && !p.isWord(u"null") && !isReservedWord(p.text) &&
            !peek(1).isSymbol(u"(") && !peek(1).isSymbol(u".")) {
            next();
            auto e = std::make_shared<Expr>();
            e->kind = Expr::String;
            e->text = p.text;
            e->pos = p.pos;
            return e;
        }
        if (p.kind == Token::QuotedName) {
            next();
            auto e = std::make_shared<Expr>();
            e->kind = Expr::String;
            e->text = p.value;
            e->unicode = true;
            e->pos = p.pos;
            return e;
        }
        return expression();
    }

    ExprPtr primaryLiteralOrExpr() { return unaryExpr(); }

    StmtPtr backupStatement(const Token& t)
    {
        next();
        auto s = make(Stmt::Backup, t);
        if (!acceptWord(u"database")) {
            if (peek().isWord(u"log") || peek().isWord(u"certificate") ||
                peek().isWord(u"master") || peek().isWord(u"service"))
                return unsupported(t, false);
            syntaxError();
        }
        s->database = databaseNameOrVariable();
        if (peek().isWord(u"file") || peek().isWord(u"filegroup") ||
            peek().isWord(u"read_write_filegroups"))
            return unsupportedTail(withName(s, u"BACKUP DATABASE ... FILE"_s));
        expectWord(u"to");
        devices(*s);
        withOptions(*s);
        return s;
    }

    StmtPtr withName(StmtPtr s, const QString& name)
    {
        s->kind = Stmt::Unsupported;
        s->name = name;
        return s;
    }

    ExprPtr databaseNameOrVariable()
    {
        const Token& p = peek();
        auto e = std::make_shared<Expr>();
        e->pos = p.pos;
        if (p.kind == Token::Variable) {
            next();
            e->kind = Expr::Variable;
            e->text = p.value;
            return e;
        }
        e->kind = Expr::String;
        e->text = identifier();
        return e;
    }

    void devices(Stmt& s)
    {
        do {
            if (peek().isWord(u"disk") || peek().isWord(u"tape") || peek().isWord(u"url")) {
                const Token& kind = next();
                expectSymbol(u"=");
                if (!kind.isWord(u"disk")) {
                    unsupportedDevice(kind);
                }
                s.disks.push_back(stringOrVariable());
            } else if (peek().isName() || peek().kind == Token::Variable) {
                // A logical backup device.
                const Token& d = next();
                customError(3206, u"Backup device '%1' does not exist. To view existing backup "
                                  "devices, use the sys.backup_devices catalog view. To create a "
                                  "new backup device use either sp_addumpdevice or SQL Server "
                                  "Management Studio."_s.arg(d.kind == Token::QuotedName ? d.value
                                                                                         : d.text));
            } else {
                syntaxError();
            }
        } while (acceptSymbol(u","));
    }

    [[noreturn]] void unsupportedDevice(const Token& kind)
    {
        customError(40000, u"sqlsim does not support backup devices of type '%1'."_s.arg(
                               kind.text.toUpper()));
    }

    ExprPtr stringOrVariable()
    {
        const Token& p = peek();
        auto e = std::make_shared<Expr>();
        e->pos = p.pos;
        if (p.kind == Token::String || p.kind == Token::NString) {
            next();
            e->kind = Expr::String;
            e->text = p.value;
            e->unicode = p.kind == Token::NString;
            return e;
        }
        if (p.kind == Token::Variable) {
            next();
            e->kind = Expr::Variable;
            e->text = p.value;
            return e;
        }
        syntaxError();
    }

    void withOptions(Stmt& s)
    {
        if (!acceptWord(u"with"))
            return;
        do {
            const Token& o = peek();
            if (o.kind != Token::Word)
                syntaxError();
            next();
            Stmt::Option opt;
            opt.name = o.text.toUpper();
            if (opt.name == u"MOVE") {
                opt.value = stringOrVariable();
                expectWord(u"to");
                opt.value2 = stringOrVariable();
            } else if (acceptSymbol(u"=")) {
                const Token& v = peek();
                if (v.kind == Token::Integer) {
                    next();
                    auto e = std::make_shared<Expr>();
                    e->kind = Expr::Integer;
                    e->text = v.text;
                    opt.value = e;
                } else if (v.kind == Token::Word) {
                    next();
                    auto e = std::make_shared<Expr>();
                    e->kind = Expr::String;
                    e->text = v.text;
                    opt.value = e;
                } else {
                    opt.value = stringOrVariable();
                }
            } else if (opt.name == u"STOPAT" || opt.name == u"STOPATMARK" ||
                       opt.name == u"STOPBEFOREMARK") {
                syntaxError();
            }
            s.options.push_back(std::move(opt));
        } while (acceptSymbol(u","));
    }

    StmtPtr restoreStatement(const Token& t)
    {
        next();
        auto s = make(Stmt::Restore, t);
        const Token& k = peek();
        if (k.isWord(u"database")) {
            next();
            s->restoreKind = u"DATABASE"_s;
            s->database = databaseNameOrVariable();
            if (peek().isWord(u"file") || peek().isWord(u"filegroup") || peek().isWord(u"page"))
                return unsupportedTail(withName(s, u"RESTORE DATABASE ... FILE"_s));
        } else if (k.isWord(u"filelistonly") || k.isWord(u"headeronly") ||
                   k.isWord(u"verifyonly") || k.isWord(u"labelonly")) {
            next();
            s->restoreKind = k.text.toUpper();
        } else if (k.isWord(u"log")) {
            return unsupported(t, false);
        } else {
            syntaxError();
        }
        if (peek().isWord(u"from")) {
            next();
            devices(*s);
        } else if (s->restoreKind == u"DATABASE") {
            // RESTORE DATABASE x WITH RECOVERY: no device
        } else {
            syntaxError();
        }
        withOptions(*s);
        return s;
    }

    // ---- queries

    SelectPtr queryExpression()
    {
        SelectPtr first = queryTerm();
        while (peek().isWord(u"union") || peek().isWord(u"except") || peek().isWord(u"intersect")) {
            QString op = next().text.toUpper();
            if (op == u"UNION" && acceptWord(u"all"))
                op = u"UNION ALL"_s;
            first->compounds.push_back({op, queryTerm()});
        }
        if (acceptWord(u"order")) {
            expectWord(u"by");
            first->orderBy = orderList();
            if (acceptWord(u"offset")) {
                first->offset = expression();
                if (!acceptWord(u"rows"))
                    expectWord(u"row");
                if (acceptWord(u"fetch")) {
                    if (!acceptWord(u"next"))
                        expectWord(u"first");
                    first->fetch = expression();
                    if (!acceptWord(u"rows"))
                        expectWord(u"row");
                    expectWord(u"only");
                }
            }
        }
        if (peek().isWord(u"for") &&
            (peek(1).isWord(u"xml") || peek(1).isWord(u"json") || peek(1).isWord(u"browse")))
            customError(40000, u"sqlsim does not support 'FOR %1'."_s.arg(peek(1).text.toUpper()));
        optionClause();
        return first;
    }

    SelectPtr queryTerm()
    {
        if (peek().isSymbol(u"(")) {
            next();
            SelectPtr inner = queryExpression();
            expectSymbol(u")");
            return inner;
        }
        expectWord(u"select");
        auto sel = std::make_shared<Select>();
        if (acceptWord(u"distinct"))
            sel->distinct = true;
        else
            acceptWord(u"all");
        if (acceptWord(u"top")) {
            if (acceptSymbol(u"(")) {
                sel->top = expression();
                expectSymbol(u")");
            } else {
                const Token& n = next();
                if (n.kind != Token::Integer && n.kind != Token::Decimal &&
                    n.kind != Token::Variable)
                    syntaxErrorAt(n);
                auto e = std::make_shared<Expr>();
                e->kind = n.kind == Token::Variable ? Expr::Variable : Expr::Integer;
                e->text = n.kind == Token::Variable ? n.value : n.text;
                sel->top = e;
            }
            if (acceptWord(u"percent"))
                sel->topPercent = true;
            if (peek().isWord(u"with") && peek(1).isWord(u"ties")) {
                next();
                next();
                sel->withTies = true;
            }
        }
        do {
            sel->items.push_back(selectItem());
        } while (acceptSymbol(u","));
        if (acceptWord(u"into")) {
            sel->into = objectName();
        }
        if (acceptWord(u"from"))
            sel->from = tableSources();
        if (acceptWord(u"where"))
            sel->where = expression();
        if (acceptWord(u"group")) {
            expectWord(u"by");
            do {
                sel->groupBy.push_back(expression());
            } while (acceptSymbol(u","));
        }
        if (acceptWord(u"having"))
            sel->having = expression();
        return sel;
    }

    std::vector<OrderItem> orderList()
    {
        std::vector<OrderItem> out;
        do {
            OrderItem o;
            o.expr = expression();
            if (acceptWord(u"desc"))
                o.desc = true;
            else
                acceptWord(u"asc");
            out.push_back(std::move(o));
        } while (acceptSymbol(u","));
        return out;
    }

    SelectItem selectItem()
    {
        SelectItem item;
        const Token& p = peek();
        if (p.isSymbol(u"*")) {
            next();
            item.star = true;
            return item;
        }
        if (p.isName() && peek(1).isSymbol(u".") && peek(2).isSymbol(u"*")) {
            item.starQualifier = p.kind == Token::QuotedName ? p.value : p.text;
            next();
            next();
            next();
            item.star = true;
            return item;
        }
        if (p.kind == Token::Variable) {
            const Token& op = peek(1);
            if (op.isSymbol(u"=") || op.isSymbol(u"+=") || op.isSymbol(u"-=") ||
                op.isSymbol(u"*=") || op.isSymbol(u"/=")) {
                item.assignVar = next().value;
                item.assignOp = next().text;
                item.expr = expression();
                return item;
            }
        }
        // alias = expression
        if ((p.kind == Token::QuotedName || p.kind == Token::String ||
             (p.kind == Token::Word && !isReservedWord(p.text))) &&
            peek(1).isSymbol(u"=")) {
            item.alias = p.kind == Token::Word ? p.text : p.value;
            item.hasAlias = true;
            next();
            next();
            item.expr = expression();
            return item;
        }
        item.expr = expression();
        if (acceptWord(u"as")) {
            const Token& a = next();
            if ((a.kind != Token::Word && a.kind != Token::QuotedName && a.kind != Token::String &&
                 a.kind != Token::NString) ||
                (a.kind == Token::Word && isReservedWord(a.text)))
                syntaxErrorAt(a);
            item.alias = a.kind == Token::Word ? a.text : a.value;
            item.hasAlias = true;
        } else if (peekIdentifier() || peek().kind == Token::String) {
            const Token& a = next();
            item.alias = a.kind == Token::Word ? a.text : a.value;
            item.hasAlias = true;
        }
        return item;
    }

    std::vector<TableSourcePtr> tableSources()
    {
        std::vector<TableSourcePtr> out;
        do {
            out.push_back(joinedTable());
        } while (acceptSymbol(u","));
        return out;
    }

    TableSourcePtr joinedTable()
    {
        TableSourcePtr left = tablePrimary();
        while (true) {
            QString type;
            if (acceptWord(u"join")) {
                type = u"INNER"_s;
            } else if (peek().isWord(u"inner") && peek(1).isWord(u"join")) {
                next();
                next();
                type = u"INNER"_s;
            } else if (peek().isWord(u"left") || peek().isWord(u"right") ||
                       peek().isWord(u"full")) {
                type = next().text.toUpper();
                acceptWord(u"outer");
                expectWord(u"join");
            } else if (peek().isWord(u"cross") && peek(1).isWord(u"join")) {
                next();
                next();
                type = u"CROSS"_s;
            } else if (peek().isWord(u"cross") || peek().isWord(u"outer")) {
                if (peek(1).isWord(u"apply"))
                    customError(40000, u"sqlsim does not support 'APPLY'."_s);
                break;
            } else {
                break;
            }
            auto j = std::make_shared<TableSource>();
            j->kind = TableSource::Join;
            j->joinType = type;
            j->left = left;
            j->right = tablePrimary();
            if (type != u"CROSS") {
                expectWord(u"on");
                j->on = expression();
            }
            left = j;
        }
        return left;
    }

    TableSourcePtr tablePrimary()
    {
        auto t = std::make_shared<TableSource>();
        if (peek().isSymbol(u"(")) {
            if (peek(1).isWord(u"select") || peek(1).isSymbol(u"(")) {
                next();
                t->kind = TableSource::Derived;
                t->derived = queryExpression();
                expectSymbol(u")");
            } else {
                next();
                TableSourcePtr inner = joinedTable();
                expectSymbol(u")");
                return inner;
            }
        } else {
            if (peek().kind == Token::Variable)
                customError(40000, u"sqlsim does not support table variables."_s);
            t->name = objectName();
            if (peek().isSymbol(u"(") &&
                t->name.name.compare(u"dm_os_volume_stats"_s, Qt::CaseInsensitive) == 0 &&
                t->name.schema.compare(u"sys"_s, Qt::CaseInsensitive) == 0) {
                next();
                t->isFunction = true;
                if (!peek().isSymbol(u")")) {
                    do {
                        t->functionArgs.push_back(expression());
                    } while (acceptSymbol(u","));
                }
                expectSymbol(u")");
            } else if (peek().isSymbol(u"(")) {
                customError(40000, u"sqlsim does not support table-valued functions ('%1')."_s.arg(
                                       t->name.text));
            }
        }
        tableHints();
        if (acceptWord(u"as")) {
            t->alias = identifierOrString();
        } else if (peekIdentifier()) {
            t->alias = identifier();
        }
        if (t->kind == TableSource::Derived && peek().isSymbol(u"(")) {
            next();
            do {
                t->derivedColumns << identifier();
            } while (acceptSymbol(u","));
            expectSymbol(u")");
        }
        if (t->kind == TableSource::Derived && t->alias.isEmpty())
            syntaxError();
        tableHints();
        // Old-style hints: t (NOLOCK)
        if (peek().isSymbol(u"(") && peek(1).kind == Token::Word &&
            (peek(1).isWord(u"nolock") || peek(1).isWord(u"readuncommitted") ||
             peek(1).isWord(u"updlock") || peek(1).isWord(u"holdlock") ||
             peek(1).isWord(u"rowlock") || peek(1).isWord(u"tablock") || peek(1).isWord(u"index")))
            skipParens();
        return t;
    }

    QString identifierOrString()
    {
        const Token& a = peek();
        if (a.kind == Token::String || a.kind == Token::NString) {
            next();
            return a.value;
        }
        return identifier();
    }

    // ---- expressions

    ExprPtr node(Expr::Kind kind, const Token& at)
    {
        auto e = std::make_shared<Expr>();
        e->kind = kind;
        e->pos = at.pos;
        return e;
    }

    // Sets the children of an operator node; a tree deeper than SQL Server would take is
    // refused here, before anything walks it recursively.
    ExprPtr link(ExprPtr e, std::vector<ExprPtr> args)
    {
        int depth = 0;
        for (const ExprPtr& a : args)
            depth = std::max(depth, a->depth);
        e->args = std::move(args);
        e->depth = depth + 1;
        if (e->depth > maxExpressionDepth)
            tooDeep();
        return e;
    }

    ExprPtr measured(ExprPtr e)
    {
        std::vector<ExprPtr> args = std::move(e->args);
        return link(std::move(e), std::move(args));
    }

    [[noreturn]] void tooDeep()
    {
        customError(191, u"Some part of your SQL statement is nested too deeply. Rewrite the "
                         "query or break it up into smaller queries."_s);
    }

    struct DepthGuard
    {
        Parser& p;
        explicit DepthGuard(Parser& parser) : p(parser)
        {
            if (++p.m_depth > maxNesting)
                p.tooDeep();
        }
        ~DepthGuard() { --p.m_depth; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;
    };
    static constexpr int maxNesting = 200;
    static constexpr int maxExpressionDepth = 900;

    ExprPtr expression()
    {
        DepthGuard guard(*this);
        return orExpr();
    }

    ExprPtr orExpr()
    {
        ExprPtr left = andExpr();
        while (peek().isWord(u"or")) {
            const Token& t = next();
            auto e = node(Expr::Or, t);
            left = link(e, {left, andExpr()});
        }
        return left;
    }

    ExprPtr andExpr()
    {
        ExprPtr left = notExpr();
        while (peek().isWord(u"and")) {
            const Token& t = next();
            auto e = node(Expr::And, t);
            left = link(e, {left, notExpr()});
        }
        return left;
    }

    ExprPtr notExpr()
    {
        if (peek().isWord(u"not")) {
            DepthGuard guard(*this);
            const Token& t = next();
            auto e = node(Expr::Not, t);
            return link(e, {notExpr()});
        }
        return predicate();
    }

    ExprPtr predicate()
    {
        if (peek().isWord(u"exists")) {
            const Token& t = next();
            auto e = node(Expr::Exists, t);
            expectSymbol(u"(");
            e->select = queryExpression();
            expectSymbol(u")");
            return e;
        }
        ExprPtr left = additive();
        const Token& t = peek();
        if (t.isSymbol(u"=") || t.isSymbol(u"<>") || t.isSymbol(u"!=") || t.isSymbol(u"<") ||
            t.isSymbol(u">") || t.isSymbol(u"<=") || t.isSymbol(u">=") || t.isSymbol(u"!<") ||
            t.isSymbol(u"!>")) {
            next();
            auto e = node(Expr::Compare, t);
            e->text = t.text == u"!="   ? u"<>"_s
                      : t.text == u"!<" ? u">="_s
                      : t.text == u"!>" ? u"<="_s
                                        : t.text;
            if (peek().isWord(u"all") || peek().isWord(u"any") || peek().isWord(u"some"))
                customError(40000, u"sqlsim does not support '%1' comparisons."_s.arg(
                                       peek().text.toUpper()));
            return link(e, {left, additive()});
        }
        bool negated = false;
        if (t.isWord(u"not") &&
            (peek(1).isWord(u"like") || peek(1).isWord(u"in") || peek(1).isWord(u"between"))) {
            next();
            negated = true;
        }
        const Token& k = peek();
        if (k.isWord(u"like")) {
            next();
            auto e = node(Expr::Like, k);
            e->negated = negated;
            std::vector<ExprPtr> args = {left, additive()};
            if (acceptWord(u"escape"))
                args.push_back(additive());
            return link(e, std::move(args));
        }
        if (k.isWord(u"between")) {
            next();
            auto e = node(Expr::Between, k);
            e->negated = negated;
            ExprPtr low = additive();
            expectWord(u"and");
            return link(e, {left, low, additive()});
        }
        if (k.isWord(u"in")) {
            next();
            expectSymbol(u"(");
            if (peek().isWord(u"select") || (peek().isSymbol(u"(") && peek(1).isWord(u"select"))) {
                auto e = node(Expr::InSelect, k);
                e->negated = negated;
                e->args = {left};
                e->select = queryExpression();
                expectSymbol(u")");
                return e;
            }
            auto e = node(Expr::InList, k);
            e->negated = negated;
            std::vector<ExprPtr> args = {left};
            do {
                args.push_back(expression());
            } while (acceptSymbol(u","));
            expectSymbol(u")");
            return link(e, std::move(args));
        }
        if (negated)
            syntaxError();
        if (k.isWord(u"is")) {
            next();
            auto e = node(Expr::IsNull, k);
            e->negated = acceptWord(u"not");
            expectWord(u"null");
            return link(e, {left});
        }
        return left;
    }

    ExprPtr additive()
    {
        ExprPtr left = multiplicative();
        while (true) {
            const Token& t = peek();
            if (!(t.isSymbol(u"+") || t.isSymbol(u"-") || t.isSymbol(u"&") || t.isSymbol(u"|") ||
                  t.isSymbol(u"^")))
                break;
            next();
            auto e = node(Expr::BinaryOp, t);
            e->text = t.text;
            left = link(e, {left, multiplicative()});
        }
        return left;
    }

    ExprPtr multiplicative()
    {
        ExprPtr left = unaryExpr();
        while (true) {
            const Token& t = peek();
            if (!(t.isSymbol(u"*") || t.isSymbol(u"/") || t.isSymbol(u"%")))
                break;
            next();
            auto e = node(Expr::BinaryOp, t);
            e->text = t.text;
            left = link(e, {left, unaryExpr()});
        }
        return left;
    }

    ExprPtr unaryExpr()
    {
        const Token& t = peek();
        if (t.isSymbol(u"-") || t.isSymbol(u"+") || t.isSymbol(u"~")) {
            DepthGuard guard(*this);
            next();
            ExprPtr operand = unaryExpr();
            // Fold signs into numeric literals so that -2147483648 stays an int.
            if (t.isSymbol(u"-") &&
                (operand->kind == Expr::Integer || operand->kind == Expr::Decimal ||
                 operand->kind == Expr::Float) &&
                !operand->text.startsWith(u'-')) {
                operand->text.prepend(u'-');
                return operand;
            }
            if (t.isSymbol(u"+"))
                return operand;
            auto e = node(Expr::Unary, t);
            e->text = t.text;
            return link(e, {operand});
        }
        ExprPtr e = primary();
        if (acceptWord(u"collate"))
            e->collation = anyName();
        return e;
    }

    ExprPtr primary()
    {
        const Token& t = peek();
        switch (t.kind) {
        case Token::Integer: {
            next();
            auto e = node(Expr::Integer, t);
            e->text = t.text;
            return e;
        }
        case Token::Decimal: {
            next();
            auto e = node(Expr::Decimal, t);
            e->text = t.text;
            return e;
        }
        case Token::Float: {
            next();
            auto e = node(Expr::Float, t);
            e->text = t.text;
            return e;
        }
        case Token::String:
        case Token::NString: {
            next();
            auto e = node(Expr::String, t);
            e->text = t.value;
            e->unicode = t.kind == Token::NString;
            return e;
        }
        case Token::Binary: {
            next();
            auto e = node(Expr::Binary, t);
            e->text = t.value;
            return e;
        }
        case Token::Variable: {
            next();
            auto e = node(Expr::Variable, t);
            e->text = t.value;
            return e;
        }
        case Token::SysVariable: {
            next();
            auto e = node(Expr::SysVariable, t);
            e->text = t.value;
            return e;
        }
        case Token::Symbol:
            if (t.isSymbol(u"(")) {
                next();
                if (peek().isWord(u"select") || peek().isWord(u"with")) {
                    auto e = node(Expr::Subquery, t);
                    e->select = queryExpression();
                    expectSymbol(u")");
                    return e;
                }
                ExprPtr inner = expression();
                expectSymbol(u")");
                return inner;
            }
            syntaxError();
        case Token::End:
            syntaxError();
        case Token::Word:
        case Token::QuotedName:
            break;
        }
        if (t.kind == Token::Word) {
            const QString w = t.text.toLower();
            if (w == u"null") {
                next();
                return node(Expr::Null, t);
            }
            if (w == u"case")
                return caseExpr();
            if (w == u"cast" || w == u"try_cast") {
                if (peek(1).isSymbol(u"("))
                    return castExpr();
            }
            if (w == u"convert" || w == u"try_convert")
                return convertExpr();
            if (w == u"current_timestamp") {
                next();
                auto e = node(Expr::Function, t);
                e->text = u"getdate"_s;
                return e;
            }
            if (w == u"current_user" || w == u"session_user" || w == u"system_user" ||
                (w == u"user" && !peek(1).isSymbol(u"("))) {
                next();
                auto e = node(Expr::Function, t);
                e->text = w == u"system_user" ? u"suser_sname"_s : u"user_name"_s;
                return e;
            }
            if ((w == u"left" || w == u"right" || w == u"coalesce" || w == u"nullif" ||
                 w == u"identity") &&
                peek(1).isSymbol(u"("))
                return functionCall();
            if (isReservedWord(w))
                syntaxError();
        }
        // A name: column reference or function call.
        if (peek(1).isSymbol(u"("))
            return functionCall();
        auto e = node(Expr::Column, t);
        e->parts << anyName();
        while (peek().isSymbol(u".")) {
            next();
            if (peek().isSymbol(u".")) {
                e->parts << QString();
                continue;
            }
            if (peek().isSymbol(u"*"))
                syntaxError();
            e->parts << identifier();
            // db.schema.function(...)
            if (peek().isSymbol(u"(")) {
                auto f = node(Expr::Function, t);
                f->text = e->parts.last().toLower();
                next();
                functionArgs(*f);
                return f;
            }
        }
        e->text = e->parts.last();
        return e;
    }

    ExprPtr functionCall()
    {
        const Token& t = next();
        auto e = node(Expr::Function, t);
        e->text = (t.kind == Token::QuotedName ? t.value : t.text).toLower();
        expectSymbol(u"(");
        functionArgs(*e);
        return measured(e);
    }

    void functionArgs(Expr& e)
    {
        if (peek().isSymbol(u"*")) {
            const Token& s = next();
            e.args.push_back(node(Expr::Star, s));
            expectSymbol(u")");
        } else if (!acceptSymbol(u")")) {
            if (acceptWord(u"distinct"))
                e.distinct = true;
            else
                acceptWord(u"all");
            // DATEADD(day, ...) and friends take a date part as a bare word.
            const bool datePart = e.text == u"dateadd" || e.text == u"datediff" ||
                                  e.text == u"datepart" || e.text == u"datename" ||
                                  e.text == u"datediff_big";
            bool firstArg = true;
            do {
                if (datePart && firstArg && peek().kind == Token::Word) {
                    const Token& p = next();
                    auto s = node(Expr::String, p);
                    s->text = p.text.toLower();
                    e.args.push_back(s);
                } else {
                    e.args.push_back(expression());
                }
                firstArg = false;
            } while (acceptSymbol(u","));
            expectSymbol(u")");
        }
        if (peek().isWord(u"within")) {
            customError(40000, u"sqlsim does not support 'WITHIN GROUP'."_s);
        }
        if (acceptWord(u"over")) {
            e.hasOver = true;
            expectSymbol(u"(");
            if (acceptWord(u"partition")) {
                expectWord(u"by");
                do {
                    e.partitionBy.push_back(expression());
                } while (acceptSymbol(u","));
            }
            if (acceptWord(u"order")) {
                expectWord(u"by");
                e.overOrder = orderList();
            }
            if (peek().isWord(u"rows") || peek().isWord(u"range"))
                customError(40000, u"sqlsim does not support window frames."_s);
            expectSymbol(u")");
        }
    }

    ExprPtr caseExpr()
    {
        const Token& t = next();
        auto e = node(Expr::Case, t);
        if (!peek().isWord(u"when")) {
            e->hasOperand = true;
            e->args.push_back(expression());
        }
        if (!peek().isWord(u"when"))
            syntaxError();
        while (acceptWord(u"when")) {
            e->args.push_back(expression());
            expectWord(u"then");
            e->args.push_back(expression());
        }
        if (acceptWord(u"else")) {
            e->hasElse = true;
            e->args.push_back(expression());
        }
        expectWord(u"end");
        return measured(e);
    }

    ExprPtr castExpr()
    {
        const Token& t = next();
        auto e = node(Expr::Cast, t);
        e->tryCast = t.isWord(u"try_cast");
        expectSymbol(u"(");
        e->args.push_back(expression());
        expectWord(u"as");
        e->castType = typeSpec(TypeContext::Cast, 1);
        expectSymbol(u")");
        return measured(e);
    }

    ExprPtr convertExpr()
    {
        const Token& t = next();
        auto e = node(Expr::Cast, t);
        e->tryCast = t.isWord(u"try_convert");
        expectSymbol(u"(");
        e->castType = typeSpec(TypeContext::Cast, 1);
        expectSymbol(u",");
        e->args.push_back(expression());
        if (acceptSymbol(u","))
            e->args.push_back(expression());
        expectSymbol(u")");
        return measured(e);
    }
};

} // namespace

std::vector<StmtPtr> parseBatch(const QString& sql)
{
    Parser p(sql);
    return p.batch();
}

std::vector<ProcParam> parseParameterDeclarations(const QString& text)
{
    Parser p(text);
    auto params = p.parameterList(false);
    if (p.peek().kind != Token::End) {
        Message m;
        m.number = 102;
        m.text = u"Incorrect syntax near '%1'."_s.arg(p.peek().text);
        throw SqlError(m, true);
    }
    return params;
}

TypeInfo parseTypeText(const QString& text)
{
    Parser p(text);
    return p.typeOnly();
}

} // namespace sqlsim
