#include "settings/reg_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "common/cp1252.h"
#include "common/text.h"
#include "platform/file_writes.h"
#include "platform/files.h"
#include "platform/utf8_paths.h"

namespace pv::settings {
namespace {

constexpr char kHeader[] = "Windows Registry Editor Version 5.00";

using common::EqualsNoCase;

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE (after its byte-order mark) to UTF-8; a lone surrogate becomes '?'.
std::string FromUtf16Le(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  std::size_t i = 0;
  auto unit = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  while (i + 1 < bytes.size()) {
    std::uint32_t u = unit(i);
    i += 2;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < bytes.size()) {
      std::uint32_t low = unit(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        i += 2;
        AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      out += '?';
    } else {
      AppendUtf8(u, out);
    }
  }
  return out;
}

// Reads a quoted string starting at s[i] == '"'. Returns the position after
// the closing quote, or npos when there is none. "\\" and "\"" are escapes;
// any other backslash stays as it is.
std::size_t ReadQuoted(std::string_view s, std::size_t i, std::string& out) {
  ++i;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') return i + 1;
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[i + 1];
      i += 2;
      continue;
    }
    out += c;
    ++i;
  }
  return std::string_view::npos;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// A value line (already trimmed on the left, starting with '"' or '@'): its
// name and, for a string value, its text. True for a string value.
bool ReadEntryLine(std::string_view line, std::string& name, std::optional<std::string>& value) {
  const std::size_t pos = line.front() == '@' ? 1 : ReadQuoted(line, 0, name);
  if (pos == std::string_view::npos) return false;
  std::string_view rest = TrimLeft(line.substr(pos));
  if (rest.empty() || rest.front() != '=') return false;
  rest = TrimLeft(rest.substr(1));
  if (rest.empty() || rest.front() != '"') return false;
  std::string text;
  if (ReadQuoted(rest, 0, text) == std::string_view::npos) return false;
  value = std::move(text);
  return true;
}

bool IsSectionLine(std::string_view line) {
  line = TrimLeft(line);
  return !line.empty() && line.front() == '[';
}

// The key of a section header "[key]"; empty for anything else (deletions
// "[-key]" included, which never match a key).
std::string SectionKey(std::string_view line) {
  line = TrimRight(TrimLeft(line));
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return {};
  return std::string(line.substr(1, line.size() - 2));
}

}  // namespace

bool SameKey(const std::string& a, const std::string& b) {
  std::string_view x = a, y = b;
  while (!x.empty() && x.back() == '\\') x.remove_suffix(1);
  while (!y.empty() && y.back() == '\\') y.remove_suffix(1);
  return EqualsNoCase(x, y);
}

bool SameName(const std::string& a, const std::string& b) { return EqualsNoCase(a, b); }

RegFile RegFile::Parse(const std::string& bytes) {
  std::string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    text = FromUtf16Le(std::string_view(bytes).substr(2));
  } else {
    // UTF-8 after an optional byte-order mark; text that is no UTF-8 (with a
    // mark or without) is Windows-1252, so the lines are always UTF-8.
    text = bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
    if (!common::IsValidUtf8(text)) text = common::Cp1252ToUtf8(text);
  }
  RegFile file;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    std::size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      file.crlf_ = true;
    }
    file.lines_.push_back(std::move(line));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return file;
}

namespace {

bool LooksLikeBomlessUtf16(std::string_view text) {
  const std::string_view head = text.substr(0, 512);
  if (head.size() < 4) return false;
  if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF") ||
      head.starts_with("\xEF\xBB\xBF")) {
    return false;
  }
  const auto zeros = std::count(head.begin(), head.end(), '\0');
  return static_cast<std::size_t>(zeros) * 3 >= head.size();
}

}  // namespace

std::optional<RegFile> RegFile::Load(const std::string& path, std::string* problem) {
  const platform::SmallFile read = platform::ReadSmallFile(path, kMaxFileBytes);
  if (read.status == platform::SmallFile::Status::kMissing) return RegFile();
  if (!read.read()) {
    if (problem != nullptr) *problem = "settings file " + path + " " + read.error;
    return std::nullopt;
  }
  RegFile file = Parse(read.text);
  file.mode_ = read.mode;
  file.stamp_ = read.stamp;
  file.bomlessUtf16_ = LooksLikeBomlessUtf16(read.text);
  return file;
}

bool RegFile::HasValueAnywhere(const std::string& name) const {
  for (const std::string& text : lines_) {
    const std::string_view line = TrimLeft(text);
    if (line.empty() || line.front() != '"') continue;
    std::string entryName;
    std::optional<std::string> value;
    if (ReadEntryLine(line, entryName, value) && SameName(entryName, name) && !value->empty()) {
      return true;
    }
  }
  return false;
}

std::optional<RegFile::Section> RegFile::FindSection(const std::string& key) const {
  std::optional<Section> found;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!IsSectionLine(lines_[i]) || !SameKey(SectionKey(lines_[i]), key)) continue;
    Section section;
    section.header = i;
    std::size_t j = i + 1;
    while (j < lines_.size() && !IsSectionLine(lines_[j])) {
      std::string_view line = TrimLeft(lines_[j]);
      if (line.empty() || (line.front() != '"' && line.front() != '@')) {
        ++j;
        continue;
      }
      Entry entry;
      entry.first = j;
      const bool stringValue = ReadEntryLine(line, entry.name, entry.value);
      ++j;
      // Data of other types (hex:...) continues on the next line after a
      // trailing backslash.
      if (!stringValue) {
        std::string_view last = TrimRight(lines_[entry.first]);
        while (!last.empty() && last.back() == '\\' && j < lines_.size() &&
               !IsSectionLine(lines_[j])) {
          last = TrimRight(lines_[j]);
          ++j;
          ++entry.count;
        }
      }
      section.entries.push_back(std::move(entry));
    }
    section.end = j;
    // A key may appear more than once; as on import, the last one counts.
    found = std::move(section);
    i = j - 1;
  }
  return found;
}

std::optional<std::string> RegFile::Get(const std::string& key, const std::string& name) const {
  auto section = FindSection(key);
  if (!section) return std::nullopt;
  for (auto it = section->entries.rbegin(); it != section->entries.rend(); ++it) {
    if (SameName(it->name, name)) return it->value;
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> RegFile::ValueNames(const std::string& key) const {
  auto section = FindSection(key);
  if (!section) return std::nullopt;
  std::vector<std::string> names;
  for (const Entry& e : section->entries) names.push_back(e.name);
  return names;
}

bool RegFile::Set(const std::string& key, const std::string& name, const std::string& value) {
  if (value.find_first_of("\r\n") != std::string::npos ||
      name.find_first_of("\r\n") != std::string::npos ||
      key.find_first_of("\r\n[]") != std::string::npos) {
    return false;
  }
  std::string line = (name.empty() ? std::string("@") : Quote(name)) + "=" + Quote(value);
  if (lines_.empty()) {
    lines_.push_back(kHeader);
    lines_.emplace_back();
  }
  auto section = FindSection(key);
  if (!section) {
    if (!lines_.back().empty()) lines_.emplace_back();
    lines_.push_back("[" + key + "]");
    lines_.push_back(line);
    lines_.emplace_back();
    return true;
  }
  for (auto it = section->entries.rbegin(); it != section->entries.rend(); ++it) {
    if (!SameName(it->name, name)) continue;
    auto first = lines_.begin() + static_cast<std::ptrdiff_t>(it->first);
    lines_.erase(first + 1, first + static_cast<std::ptrdiff_t>(it->count));
    lines_[it->first] = line;
    return true;
  }
  // New value: after the section's last non-blank line. When that line ends
  // in a backslash (data continued, perhaps never finished), a blank line
  // goes between, or the new line would be read as more of that data.
  std::size_t at = section->end;
  while (at > section->header + 1 && TrimLeft(lines_[at - 1]).empty()) --at;
  if (TrimRight(lines_[at - 1]).ends_with('\\')) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at++), std::string());
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
  return true;
}

std::string RegFile::Serialize() const {
  std::string out;
  const char* eol = crlf_ ? "\r\n" : "\n";
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    out += lines_[i];
    // The last line ends the way the file did; files this program writes
    // always end with a line break.
    out += eol;
  }
  return out;
}

bool RegFile::Save(const std::string& path, bool secret) const {
  namespace fs = std::filesystem;
  const std::string contents = Serialize();
  // What could not be read back is not written.
  if (contents.size() > kMaxFileBytes) return false;
  std::error_code ec;
  fs::path target = platform::PathFromUtf8(path);
  // An operator's symbolic link stays a link: the file it points to is
  // replaced.
  if (fs::is_symlink(target, ec)) {
    fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  return platform::ReplaceFileAtomically(platform::Utf8FromPath(target), contents, 0600, !secret);
}

}  // namespace pv::settings
