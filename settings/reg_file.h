// One settings file in the text format of Windows registry exports:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Quillonworks Inc.\Portavento]
//   "sqlUID"="sa"
//
// Read as UTF-8 or as UTF-16LE with a byte-order mark (as exported on
// Windows; text that is not UTF-8 is read as Windows-1252), written back as
// UTF-8. The file is kept as its lines, so everything this program does not
// touch (other sections, other value types, comments) survives a rewrite.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pv::settings {

class RegFile {
 public:
  // Reads `path`. A missing file gives an empty document; a file that exists
  // but cannot be read gives nothing.
  static std::optional<RegFile> Load(const std::string& path);
  // Parses file contents (any of the accepted encodings).
  static RegFile Parse(const std::string& bytes);

  // The string value `name` ("" is the default value "@") of section `key`
  // (without brackets); nothing when the section or value is missing or the
  // value is not a string. Names compare without regard to case.
  std::optional<std::string> Get(const std::string& key, const std::string& name) const;
  // Sets a string value, adding the section or value line when missing.
  // False when the text cannot be stored on one line (CR or LF in it).
  bool Set(const std::string& key, const std::string& name, const std::string& value);

  // The document as UTF-8 file contents.
  std::string Serialize() const;
  // Writes atomically: a temporary file in the same folder, then rename. The
  // folder is created when missing; an existing file keeps its permissions,
  // a new one is readable by its owner only.
  bool Save(const std::string& path) const;

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  struct Entry {
    std::size_t first = 0;  // line index
    std::size_t count = 1;  // lines, continuation lines included
    std::string name;
    std::optional<std::string> value;  // set for string values only
  };
  struct Section {
    std::size_t header = 0;  // line index of "[...]"
    std::size_t end = 0;     // one past the last line of the section
    std::vector<Entry> entries;
  };

  std::optional<Section> FindSection(const std::string& key) const;

  std::vector<std::string> lines_;
  bool crlf_ = false;
};

// Key names without regard to case, trailing backslashes ignored.
bool SameKey(const std::string& a, const std::string& b);
// Value names without regard to (ASCII) case.
bool SameName(const std::string& a, const std::string& b);

}  // namespace pv::settings
