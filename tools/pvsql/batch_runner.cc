#include "tools/pvsql/batch_runner.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "common/text.h"

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
  std::size_t start = 0;
  // Lines are counted on from the previous statement, not from the start of
  // the batch each time (a long script would take quadratic time).
  int line = 1;
  std::size_t counted = 0;
  auto emit = [&](std::size_t end) {
    std::string_view piece = batch.substr(start, end - start);
    const std::size_t first = SkipInsignificant(piece, 0);
    if (first < piece.size()) {
      const std::size_t at = start + first;
      const std::string_view skipped = batch.substr(counted, at - counted);
      line += static_cast<int>(std::count(skipped.begin(), skipped.end(), '\n'));
      counted = at;
      out.push_back({std::string(piece), line});
    }
    start = end + 1;
  };
  std::size_t i = 0;
  while (i < batch.size()) {
    const char c = batch[i];
    if (c == '\'' || c == '"' || c == '[') {
      const char close = c == '[' ? ']' : c;
      ++i;
      while (i < batch.size()) {
        if (batch[i] == close) {
          // A doubled closing character stands for itself.
          if (i + 1 < batch.size() && batch[i + 1] == close) {
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      ++i;
    } else if (batch.compare(i, 2, "--") == 0) {
      const std::size_t eol = batch.find('\n', i);
      i = eol == std::string_view::npos ? batch.size() : eol + 1;
    } else if (batch.compare(i, 2, "/*") == 0) {
      const std::size_t close = batch.find("*/", i + 2);
      i = close == std::string_view::npos ? batch.size() : close + 2;
    } else if (c == ';') {
      emit(i);
      ++i;
    } else {
      ++i;
    }
  }
  if (start < batch.size()) emit(batch.size());
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

bool BatchRunner::Run(std::string_view batch, int firstLine) {
  for (const StatementText& statement : SplitStatements(batch)) {
    const int line = firstLine + statement.line - 1;
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
