#include "tools/pvsql/batch_runner.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "common/text.h"
#include "db/embedded/embedded_engine.h"
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

// The line of a batch that cannot be cut where the trouble shows: the
// fewest first lines that fail to be cut with the same error number (an
// unclosed parenthesis or quotation mark, a stray ')'; the first lines of a
// text literal spanning lines fail otherwise). Found by halving, as a batch
// may be long.
int UncutLine(std::string_view batch, long number) {
  std::vector<std::size_t> ends;  // where each line ends
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (batch[i] == '\n') ends.push_back(i);
  }
  if (ends.empty() || ends.back() + 1 < batch.size()) ends.push_back(batch.size());
  auto fails = [&](std::size_t lines) {
    try {
      db::tsql::SplitBatch(batch.substr(0, ends[lines - 1]));
      return false;
    } catch (const db::DbError& e) {
      return e.number() == number;
    }
  };
  std::size_t low = 1;
  std::size_t high = ends.size();
  while (low < high) {
    const std::size_t middle = (low + high) / 2;
    if (fails(middle)) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return static_cast<int>(low);
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

// SQL Server's severity of the errors the engine reports; the rest are 16,
// its common level for statement errors.
int Severity(long number) {
  switch (number) {
    case 102:  // incorrect syntax
    case 105:  // unclosed quotation mark
    case 113:  // missing end comment mark
    case 156:  // incorrect syntax near a keyword
    case 170:
      return 15;
    case 18456:  // login failed
    case 2627:   // duplicate key
    case 2601:
    case 229:  // permission denied
      return 14;
    case 1205:  // deadlock victim
      return 13;
    case 4060:  // cannot open the database
    case 3701:  // cannot drop: no such object
      return 11;
    default:
      return 16;
  }
}

std::string FormatError(const db::DbError& error, const std::string& server, int line) {
  return "Msg " + std::to_string(error.number()) + ", Level " +
         std::to_string(Severity(error.number())) + ", State 1, Server " + server + ", Line " +
         std::to_string(line) + "\n" + error.description() + "\n";
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
    // Nothing of a batch that cannot be cut runs, as on a server.
    err_ << FormatError(e, serverName_, UncutLine(batch, e.number()));
    return false;
  }
  // The statements run one by one, each result set printed; the variables
  // one declares stay for the rest of the batch.
  struct BatchScope {
    db::Connection& c;
    explicit BatchScope(db::Connection& connection) : c(connection) {
      db::embedded::KeepBatchVariables(c, true);
    }
    ~BatchScope() { db::embedded::KeepBatchVariables(c, false); }
  } scope(connection_);
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
