#include "schema/sql_scripts.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "common/text.h"
#include "platform/paths.h"
#include "platform/utf8_paths.h"

namespace pv::schema {
namespace {

// C's white space (form feed and vertical tab too), which a script's lines
// may carry around a GO.
std::string_view TrimSpace(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool IsBlank(std::string_view s) { return TrimSpace(s).empty(); }

}  // namespace

bool IsGoLine(std::string_view line, int& repeat) {
  line = TrimSpace(line);
  if (line.size() < 2) return false;
  if (!common::EqualsNoCase(line.substr(0, 2), "GO")) return false;
  std::string_view rest = line.substr(2);
  if (!rest.empty() && !std::isspace(static_cast<unsigned char>(rest.front())) &&
      !rest.starts_with("--")) {
    return false;
  }
  // A comment may follow GO and its count ("GO -- next part"), as the
  // engine's own reading of a batch allows.
  rest = TrimSpace(rest.substr(0, rest.find("--")));
  if (rest.empty()) {
    repeat = 1;
    return true;
  }
  if (rest.size() > 9) return false;
  int n = 0;
  for (char c : rest) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    n = n * 10 + (c - '0');
  }
  if (n < 1) return false;
  repeat = n;
  return true;
}

std::filesystem::path SqlScriptFolder() {
  if (const char* dir = std::getenv("PVREMOTE_SQL_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  std::error_code ec;
  // An installed program finds the copy installed with it:
  // /usr/share/pvremote/sql beside /usr/bin, or sql\ beside the program in
  // its folder under Program Files.
  const std::string program = platform::ProgramFolder();
  if (!program.empty()) {
    const auto folder = platform::PathFromUtf8(program);
    for (const auto& installed : {folder / ".." / "share" / "pvremote" / "sql", folder / "sql"}) {
      if (std::filesystem::is_directory(installed, ec)) return installed.lexically_normal();
    }
  }
  const std::filesystem::path built = PV_SQL_BUILD_DIR;
  if (std::filesystem::is_directory(built, ec)) return built;
  return PV_SQL_SOURCE_DIR;
}

std::filesystem::path SqlScriptPath(std::string_view fileName) {
  return SqlScriptFolder() / std::filesystem::path(std::string(fileName));
}

std::string ReadTextFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path.string());
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read " + path.string());
  return text;
}

std::string ReadSqlScript(std::string_view fileName) {
  return ReadTextFile(SqlScriptPath(fileName));
}

std::vector<Batch> SplitBatches(std::string_view script) {
  if (script.starts_with("\xEF\xBB\xBF")) script.remove_prefix(3);
  std::vector<Batch> batches;
  Batch current;
  int lineNumber = 0;
  bool started = false;
  auto finish = [&](int repeat) {
    if (!IsBlank(current.text)) {
      current.repeat = repeat;
      batches.push_back(std::move(current));
    }
    current = Batch{};
    started = false;
  };
  while (!script.empty()) {
    const std::size_t end = script.find('\n');
    std::string_view line = script.substr(0, end);
    script.remove_prefix(end == std::string_view::npos ? script.size() : end + 1);
    ++lineNumber;
    if (line.ends_with('\r')) line.remove_suffix(1);
    int repeat = 1;
    if (IsGoLine(line, repeat)) {
      finish(repeat);
      continue;
    }
    if (!started) {
      current.firstLine = lineNumber;
      started = true;
    }
    current.text.append(line);
    current.text.push_back('\n');
  }
  finish(1);
  return batches;
}

void RunSqlScript(db::Connection& connection, std::string_view script) {
  for (const Batch& batch : SplitBatches(script)) {
    for (int i = 0; i < batch.repeat; ++i) connection.Execute(batch.text);
  }
}

}  // namespace pv::schema
