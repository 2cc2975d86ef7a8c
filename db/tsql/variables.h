// Variables of a batch: DECLARE @v type [= value], SET @v = expression and
// SELECT @v = expression [FROM ...], read by later statements of the same
// batch. Their values live in the process (not in a table: the engine runs
// queries on reader connections of their own), keyed by a number given to
// each batch that declares any: statements assign with pv_set(batch, name,
// value) and read with pv_var(batch, name). The values of the last 1024 such
// batches are kept.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "db/tsql/translator.h"

namespace pv::db::tsql {

class Emitter;

struct BatchVariables {
  std::uint64_t batch = 0;  // 0 until the batch declares a variable
  // Lower-case name ("@v") -> declared type, lower-case as written ("nvarchar(20)").
  std::map<std::string, std::string> declared;

  // pv_var(...) for a declared variable; throws 137 for an undeclared one.
  std::string Read(std::string_view name) const;
};

// DECLARE @a int [= 1], @b nvarchar(20) ...
void TranslateDeclare(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
// SET @v = expression
void TranslateSetVariable(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);
// SELECT [TOP n] @a = expr [, @b = expr] [FROM ...]; false when the SELECT
// assigns nothing.
bool TranslateSelectAssign(Emitter& em, size_t b, size_t e, std::vector<Statement>& out);

// Registers pv_set and pv_var; SQLite's result code.
int RegisterVariableFunctions(sqlite3* db);

}  // namespace pv::db::tsql
