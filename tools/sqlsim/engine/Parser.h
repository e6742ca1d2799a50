#pragma once

#include "Ast.h"

// T-SQL text to statements. Syntax errors throw SqlError with abortBatch set (102, 156, 105...).
namespace sqlsim {

// Every statement of a batch. A statement starting with a name is an EXEC only when it is the
// first of the batch, as SQL Server has it.
std::vector<StmtPtr> parseBatch(const QString& sql);

// "@P1 INT,@P2 NVARCHAR(50) OUTPUT" as sp_executesql takes it.
std::vector<ProcParam> parseParameterDeclarations(const QString& text);

// A single type such as "varchar(50)" as a declaration reads it.
TypeInfo parseTypeText(const QString& text);

} // namespace sqlsim
