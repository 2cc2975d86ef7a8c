// Parses any file text as a settings file. The document comes back as UTF-8,
// a rewrite of what was read changes nothing more, and a value set in a
// section read from the file reads back as set, also after a rewrite.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/cp1252.h"
#include "settings/reg_file.h"

static void Check(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using pv::settings::RegFile;
  if (size > 64 * 1024) return 0;
  RegFile file = RegFile::Parse(std::string(reinterpret_cast<const char*>(data), size));
  const std::string text = file.Serialize();
  Check(pv::common::IsValidUtf8(text));
  // A byte-order mark that was part of the first line is dropped on reading.
  if (!text.starts_with("\xEF\xBB\xBF")) Check(RegFile::Parse(text).Serialize() == text);

  // Into the first section when there is one, so values meet what it holds.
  std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Fuzz";
  for (const std::string& line : file.lines()) {
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') continue;
    key = line.substr(1, line.size() - 2);
    break;
  }
  const std::string value = "C:\\Data\\\"q\" \xC3\xA9";
  if (!file.Set(key, "sqlUID", value)) return 0;
  Check(file.Get(key, "sqlUID") == value);
  Check(RegFile::Parse(file.Serialize()).Get(key, "sqlUID") == value);
  return 0;
}
