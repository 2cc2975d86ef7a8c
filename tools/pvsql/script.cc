#include "tools/pvsql/script.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "common/text.h"
#include "db/odbc/utf16.h"
#include "platform/utf8_paths.h"
#include "schema/sql_scripts.h"

namespace pv::pvsql {
namespace {

// Deepest :r nesting; a file that includes itself stops here.
constexpr int kMaxIncludeDepth = 32;

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-';
}

// The first word of `text` (up to a blank) and the rest after the blanks.
std::string_view FirstWord(std::string_view text, std::string_view& rest) {
  std::size_t end = 0;
  while (end < text.size() && !common::IsBlank(text[end])) ++end;
  rest = common::TrimBlanks(text.substr(end));
  return text.substr(0, end);
}

// A command argument: "quoted" (quotes doubled inside stand for one) or as
// written.
std::string Unquote(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
  std::string out;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    out.push_back(text[i]);
    if (text[i] == '"' && text[i + 1] == '"') ++i;
  }
  return out;
}

// What follows "exit" when `command` is one: nothing, "()" or "(query)".
std::optional<std::string_view> ExitArgument(std::string_view command) {
  if (command.size() < 4 || !common::EqualsNoCase(command.substr(0, 4), "exit")) {
    return std::nullopt;
  }
  const std::string_view after = common::TrimBlanks(command.substr(4));
  if (!after.empty() && after.front() != '(') return std::nullopt;
  return after;
}

}  // namespace

std::string DecodeScript(std::string_view bytes) {
  const bool little = bytes.starts_with("\xFF\xFE");
  if (!little && !bytes.starts_with("\xFE\xFF")) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return std::string(bytes);
  }
  bytes.remove_prefix(2);
  std::u16string units;
  units.reserve(bytes.size() / 2 + 1);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    units.push_back(static_cast<char16_t>(little ? a | (b << 8) : (a << 8) | b));
  }
  // A lone last byte is no character: it shows as U+FFFD.
  if (bytes.size() % 2 != 0) units.push_back(u'\xFFFD');
  return db::odbc::Utf16ToUtf8(units);
}

std::string ReadScript(const std::filesystem::path& file) {
  const std::string name = platform::Utf8FromPath(file);
  std::string bytes;
  try {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw ScriptError("pvsql: cannot read the script " + name, 2);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw ScriptError("pvsql: cannot read the script " + name, 2);
  } catch (const ScriptError&) {
    throw;
  } catch (const std::exception& e) {
    // A folder, for one: the library throws while reading it.
    throw ScriptError("pvsql: cannot read the script " + name + ": " + e.what(), 2);
  }
  return DecodeScript(bytes);
}

bool Variables::ValidName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!IsNameChar(c)) return false;
  }
  return true;
}

void Variables::Set(std::string_view name, std::string value) {
  values_[common::AsciiUpper(name)] = std::move(value);
}

void Variables::Unset(std::string_view name) { values_.erase(common::AsciiUpper(name)); }

std::string Variables::Substitute(std::string_view text) const {
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = text.find("$(", pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find(')', open + 2);
    const std::string_view name = close == std::string_view::npos
                                      ? std::string_view()
                                      : text.substr(open + 2, close - open - 2);
    if (!ValidName(name)) {
      // Not a variable reference: kept as written.
      out.append(text.substr(pos, open + 2 - pos));
      pos = open + 2;
      continue;
    }
    out.append(text.substr(pos, open - pos));
    if (auto it = values_.find(common::AsciiUpper(name)); it != values_.end()) {
      out += it->second;
    } else if (const char* env = std::getenv(std::string(name).c_str()); env != nullptr) {
      out += env;
    } else {
      throw ScriptError("'" + std::string(name) + "' scripting variable not defined.", 1);
    }
    pos = close + 1;
  }
  out.append(text.substr(pos));
  return out;
}

ScriptReader::ScriptReader(BatchRunner& runner, Variables& variables, std::ostream& err,
                           ReaderOptions options)
    : runner_(runner), variables_(variables), err_(err), options_(options) {}

bool ScriptReader::Fail(const ScriptError& e) {
  err_ << e.what() << "\n";
  exitStatus_ = e.exitStatus();
  return false;
}

bool ScriptReader::RunScript(std::string_view text) {
  try {
    batch_.clear();
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (Line(line) == Step::Stop) return false;
    }
    return RunBatch(1) == Step::Next;
  } catch (const ScriptError& e) {
    return Fail(e);
  }
}

bool ScriptReader::RunQuery(std::string_view text) {
  try {
    const std::string query = options_.substitute ? variables_.Substitute(text) : std::string(text);
    // -Q "exit(query)" returns the query's value as a script's exit does.
    if (const auto after = ExitArgument(common::TrimBlanks(query))) {
      Exit(*after);
      return false;
    }
    batch_ = query;
    return RunBatch(1) == Step::Next;
  } catch (const ScriptError& e) {
    return Fail(e);
  }
}

ScriptReader::Step ScriptReader::Line(std::string_view raw) {
  const std::string line = options_.substitute ? variables_.Substitute(raw) : std::string(raw);
  const std::string_view trimmed = common::TrimBlanks(line);
  int repeat = 1;
  if (schema::IsGoLine(trimmed, repeat)) return RunBatch(repeat);

  const bool colon = trimmed.starts_with(':');
  const std::string_view command = colon ? trimmed.substr(1) : trimmed;
  // exit and quit are known without the colon too, as sqlcmd knows them.
  if (const auto after = ExitArgument(command)) return Exit(*after);
  if (common::EqualsNoCase(command, "quit")) return Step::Stop;
  if (!colon) {
    batch_.append(line);
    batch_.push_back('\n');
    return Step::Next;
  }
  std::string_view rest;
  const std::string_view word = FirstWord(command, rest);
  if (common::EqualsNoCase(word, "r")) return Include(rest);
  if (common::EqualsNoCase(word, "setvar")) {
    std::string_view value;
    const std::string_view name = FirstWord(rest, value);
    if (!Variables::ValidName(name)) {
      throw ScriptError("pvsql: :setvar needs a variable name (letters, digits, '_' and '-')", 1);
    }
    // Without a value the variable goes.
    if (value.empty()) {
      variables_.Unset(name);
    } else {
      variables_.Set(name, Unquote(value));
    }
    return Step::Next;
  }
  if (common::EqualsNoCase(word, "on")) {
    // ":on error exit" stops at the first failed batch, as -b does; ":on
    // error ignore" goes on.
    std::string_view action;
    if (common::EqualsNoCase(FirstWord(rest, action), "error")) {
      if (common::EqualsNoCase(action, "exit") || common::EqualsNoCase(action, "ignore")) {
        options_.abortOnError = common::EqualsNoCase(action, "exit");
        return Step::Next;
      }
    }
  }
  throw ScriptError("pvsql: unknown command '" + std::string(trimmed) + "'", 1);
}

ScriptReader::Step ScriptReader::Include(std::string_view argument) {
  if (argument.empty()) throw ScriptError("pvsql: :r needs a file name", 1);
  if (depth_ >= kMaxIncludeDepth) {
    throw ScriptError(
        "pvsql: :r nests more than " + std::to_string(kMaxIncludeDepth) + " files deep", 1);
  }
  // Relative names start from the current directory, not from the including
  // script's folder, as in sqlcmd.
  const std::string text = ReadScript(platform::PathFromUtf8(Unquote(argument)));
  ++depth_;
  std::string_view rest = text;
  Step step = Step::Next;
  while (!rest.empty() && step == Step::Next) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    step = Line(line);
  }
  --depth_;
  return step;
}

// `rest` follows the word "exit": empty (stop without running the open
// batch), "()" (run it, then stop) or "(query)" (run it with the query, then
// stop with the query's value as the exit status).
ScriptReader::Step ScriptReader::Exit(std::string_view rest) {
  rest = common::TrimBlanks(rest);
  if (rest.empty()) return Step::Stop;
  if (rest.front() != '(' || rest.back() != ')') {
    throw ScriptError("pvsql: exit takes nothing or (query) after it", 1);
  }
  const std::string_view query = common::TrimBlanks(rest.substr(1, rest.size() - 2));
  if (!query.empty()) {
    batch_.append(query);
    batch_.push_back('\n');
  }
  if (RunBatch(1) == Step::Next && !batchFailed_ && !query.empty()) {
    const std::optional<std::int64_t> value =
        common::ParseInteger(runner_.LastValue().value_or(std::string()));
    exitStatus_ = value ? static_cast<int>(*value) : 0;
  }
  return Step::Stop;
}

ScriptReader::Step ScriptReader::RunBatch(int repeat) {
  std::string text;
  text.swap(batch_);
  batchFailed_ = false;
  if (common::TrimBlanks(text).empty()) return Step::Next;
  if (options_.echo != nullptr) *options_.echo << text;
  for (int i = 0; i < repeat; ++i) {
    if (!runner_.Run(text)) {
      batchFailed_ = true;
      exitStatus_ = 1;
      return options_.abortOnError ? Step::Stop : Step::Next;
    }
  }
  return Step::Next;
}

}  // namespace pv::pvsql
