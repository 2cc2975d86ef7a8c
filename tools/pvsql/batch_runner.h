// Runs the batches pvsql is given: each statement of a batch goes to the
// engine on its own, so that every result set and row count can be shown.
#pragma once

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

// Cuts a batch at the semicolons that stand outside text literals, quoted
// or bracketed names and comments. Pieces holding only blanks and comments
// are dropped; statements that follow each other without a semicolon stay
// together in one piece.
std::vector<StatementText> SplitStatements(std::string_view batch);

// True when the statement returns rows (it begins with SELECT or WITH after
// any comments and opening parentheses).
bool ReturnsRows(std::string_view statement);

// "Msg <number>, Level <n>, State 1, Server <server>, Line <line>" and the
// description, each on its own line.
std::string FormatError(const db::DbError& error, const std::string& server, int line);

class BatchRunner {
 public:
  BatchRunner(db::Connection& connection, ResultPrinter& printer, std::ostream& err,
              std::string serverName);

  // Runs one batch whose first line is line `firstLine` of its script. On a
  // failure the message goes to `err`, the rest of the batch is skipped and
  // the result is false.
  bool Run(std::string_view batch, int firstLine);

 private:
  db::Connection& connection_;
  ResultPrinter& printer_;
  std::ostream& err_;
  std::string serverName_;
  bool noCount_ = false;
};

}  // namespace pv::pvsql
