// Translation of the T-SQL statement kinds that need more than expression
// rewriting: table, index and view definitions, ALTER/DROP, and the DML
// statements whose literals meet typed columns.
#pragma once

#include <vector>

#include "db/tsql/emitter.h"
#include "db/tsql/translator.h"

namespace pv::db::tsql {

// Each translates the statement [b, e) and appends the result to `out`.
void TranslateCreateTable(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
void TranslateCreateIndex(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
void TranslateCreateView(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
void TranslateAlterTable(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
void TranslateDrop(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);

void TranslateInsert(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
void TranslateUpdate(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
void TranslateDelete(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
void TranslateTruncate(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);

// Joins the statements out[from..] into one that runs them inside a
// savepoint: the one T-SQL statement they come from then takes effect whole
// or not at all (a failure rolls the savepoint's transaction back), as on
// SQL Server. One statement stays as it is.
void RunAsOne(std::vector<Statement>& out, size_t from);

}  // namespace pv::db::tsql
