// Runs the batches pvsql is given: each statement of a batch goes to the
// engine on its own, so that every result set and row count can be shown.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/error.h"
#include "tools/pvsql/result_printer.h"

namespace pv::pvsql {

struct StatementText {
  std::string text;
  int line = 1;  // line within the batch where the statement starts (1-based)
};

// Cuts a batch into its statements as the T-SQL front does: at semicolons
// outside literals, names and comments, and where a new statement begins
// without one ("select 1" and "select 2" on two lines are two). Throws
// db::DbError for an unclosed quotation mark, comment or parenthesis.
std::vector<StatementText> SplitStatements(std::string_view batch);

// True when the statement returns rows (it begins with SELECT or WITH after
// any comments and opening parentheses).
bool ReturnsRows(std::string_view statement);

// "Msg <number>, Level <n>, State 1, Server <server>, Line <line>" and the
// description, each on its own line; the level is SQL Server's severity of
// the number (15 for syntax errors, 14 for a failed login or a duplicate
// key, 16 for most).
std::string FormatError(const db::DbError& error, const std::string& server, int line);

class BatchRunner {
 public:
  BatchRunner(db::Connection& connection, ResultPrinter& printer, std::ostream& err,
              std::string serverName);

  // Runs one batch. On a failure the message goes to `err` with the line
  // within the batch (1 for its first line, as sqlcmd counts), the rest of
  // the batch is skipped and the result is false.
  bool Run(std::string_view batch);

  // The first column of the last row of the last result set the last batch
  // printed (what exit(query) returns); nothing when it printed no row.
  const std::optional<std::string>& LastValue() const { return printer_.LastFirstCell(); }

 private:
  db::Connection& connection_;
  ResultPrinter& printer_;
  std::ostream& err_;
  std::string serverName_;
  bool noCount_ = false;
};

}  // namespace pv::pvsql
