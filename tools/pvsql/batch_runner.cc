#include "tools/pvsql/batch_runner.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "common/text.h"
#include "db/tsql/translator.h"

namespace pv::pvsql {
namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Skips blanks and comments from `pos`; returns the position of the next
// significant character (or the end).
std::size_t SkipInsignificant(std::string_view s, std::size_t pos) {
  while (pos < s.size()) {
    if (IsSpace(s[pos])) {
      ++pos;
    } else if (s.compare(pos, 2, "--") == 0) {
      const std::size_t eol = s.find('\n', pos);
      pos = eol == std::string_view::npos ? s.size() : eol + 1;
    } else if (s.compare(pos, 2, "/*") == 0) {
      const std::size_t close = s.find("*/", pos + 2);
      pos = close == std::string_view::npos ? s.size() : close + 2;
    } else {
      break;
    }
  }
  return pos;
}

// The keyword (letters only, upper-cased) that starts at `pos`.
std::string KeywordAt(std::string_view s, std::size_t pos) {
  std::string word;
  while (pos < s.size() && std::isalpha(static_cast<unsigned char>(s[pos]))) {
    word.push_back(common::AsciiUpper(s[pos]));
    ++pos;
  }
  return word;
}

// Recognises "SET NOCOUNT ON" / "SET NOCOUNT OFF"; sets `on`.
bool IsSetNoCount(std::string_view s, bool& on) {
  std::vector<std::string> words;
  std::size_t pos = SkipInsignificant(s, 0);
  while (pos < s.size()) {
    std::string w = KeywordAt(s, pos);
    if (w.empty()) return false;
    pos += w.size();
    words.push_back(std::move(w));
    pos = SkipInsignificant(s, pos);
    if (words.size() > 3) return false;
  }
  if (words.size() != 3 || words[0] != "SET" || words[1] != "NOCOUNT") return false;
  if (words[2] != "ON" && words[2] != "OFF") return false;
  on = words[2] == "ON";
  return true;
}

// Data changes report their row count; definitions and other commands do not.
bool ChangesRows(std::string_view s) {
  const std::string word = KeywordAt(s, SkipInsignificant(s, 0));
  return word == "INSERT" || word == "UPDATE" || word == "DELETE" || word == "MERGE";
}

}  // namespace

std::vector<StatementText> SplitStatements(std::string_view batch) {
  std::vector<StatementText> out;
  // Lines are counted on from the previous statement, not from the start of
  // the batch each time (a long script would take quadratic time).
  int line = 1;
  const char* counted = batch.data();
  for (const std::string_view piece : db::tsql::SplitBatch(batch)) {
    line += static_cast<int>(std::count(counted, piece.data(), '\n'));
    counted = piece.data();
    out.push_back({std::string(piece), line});
  }
  return out;
}

bool ReturnsRows(std::string_view statement) {
  std::size_t pos = SkipInsignificant(statement, 0);
  while (pos < statement.size() && statement[pos] == '(') {
    pos = SkipInsignificant(statement, pos + 1);
  }
  const std::string word = KeywordAt(statement, pos);
  return word == "SELECT" || word == "WITH";
}

std::string FormatError(const db::DbError& error, const std::string& server, int line) {
  // Login failures are severity 14 on SQL Server; everything else is shown
  // with the common severity 16.
  const int level = error.number() == 18456 ? 14 : 16;
  return "Msg " + std::to_string(error.number()) + ", Level " + std::to_string(level) +
         ", State 1, Server " + server + ", Line " + std::to_string(line) + "\n" +
         error.description() + "\n";
}

BatchRunner::BatchRunner(db::Connection& connection, ResultPrinter& printer, std::ostream& err,
                         std::string serverName)
    : connection_(connection), printer_(printer), err_(err), serverName_(std::move(serverName)) {}

bool BatchRunner::Run(std::string_view batch) {
  printer_.ClearLastFirstCell();
  std::vector<StatementText> statements;
  try {
    statements = SplitStatements(batch);
  } catch (const db::DbError& e) {
    err_ << FormatError(e, serverName_, 1);
    return false;
  }
  for (const StatementText& statement : statements) {
    const int line = statement.line;
    try {
      bool on = false;
      if (IsSetNoCount(statement.text, on)) {
        noCount_ = on;
        continue;
      }
      if (ReturnsRows(statement.text)) {
        std::unique_ptr<db::Rowset> rows = connection_.Query(statement.text);
        const std::int64_t count = printer_.PrintRowset(*rows);
        rows->Close();
        if (!noCount_) printer_.PrintRowsAffected(count);
      } else {
        const std::int64_t affected = connection_.Execute(statement.text);
        if (!noCount_ && affected >= 0 && ChangesRows(statement.text)) {
          printer_.PrintRowsAffected(affected);
        }
      }
    } catch (const db::DbError& e) {
      err_ << FormatError(e, serverName_, line);
      return false;
    } catch (const std::exception& e) {
      err_ << FormatError(db::DbError(-1, e.what()), serverName_, line);
      return false;
    }
  }
  return true;
}

}  // namespace pv::pvsql
