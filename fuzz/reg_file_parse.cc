// Parses any file text as a settings file. The document comes back as UTF-8,
// a rewrite of what was read changes nothing more, and a value set in a
// section read from the file reads back as set, also after a rewrite.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/cp1252.h"
#include "settings/reg_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The key of the first section header, or a fixed one.
std::string SomeKey(const pv::settings::RegFile& file) {
  for (const std::string& line : file.lines()) {
    const std::size_t open = line.find('['), close = line.rfind(']');
    if (open != std::string::npos && close != std::string::npos && open < close) {
      return line.substr(open + 1, close - open - 1);
    }
  }
  return "HKEY_LOCAL_MACHINE\\SOFTWARE\\Fuzz";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using pv::settings::RegFile;
  if (size > 64 * 1024) return 0;
  RegFile file = RegFile::Parse(std::string(reinterpret_cast<const char*>(data), size));
  const std::string text = file.Serialize();
  Check(pv::common::IsValidUtf8(text));
  // A byte-order mark that was part of the first line is dropped on reading.
  if (!text.starts_with("\xEF\xBB\xBF")) Check(RegFile::Parse(text).Serialize() == text);

  const std::string key = SomeKey(file);
  const std::string value = "C:\\Data\\\"q\" \xC3\xA9";
  if (!file.Set(key, "sqlUID", value)) return 0;
  Check(file.Get(key, "sqlUID") == value);
  Check(RegFile::Parse(file.Serialize()).Get(key, "sqlUID") == value);
  return 0;
}
