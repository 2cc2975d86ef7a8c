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

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace pv::settings {

// Settings files and values are small; anything larger is refused rather
// than read, so a wrong path (a device, a huge file) cannot exhaust memory.
inline constexpr std::size_t kMaxFileBytes = 1024 * 1024;
inline constexpr std::size_t kMaxValueBytes = 64 * 1024;

class RegFile {
 public:
  // Reads `path`: a regular file (a symbolic link is followed) of at most
  // kMaxFileBytes. A missing file gives an empty document. Anything else
  // that cannot be read (a device, a FIFO, a folder, a file too large, no
  // permission) gives nothing, and `problem` (when given) says what, as a
  // log line: "settings file /etc/pvremote/machine.reg is not a regular
  // file". Never waits on the file and never holds more than the limit.
  static std::optional<RegFile> Load(const std::string& path, std::string* problem = nullptr);
  // The version of the file that Load read (none when it was missing, and
  // on Windows).
  const std::optional<platform::FileStamp>& stamp() const { return stamp_; }
  // The file Load read looked like UTF-16 without a byte-order mark: many
  // zero bytes, and none of the marks the reader understands.
  bool looksLikeBomlessUtf16() const { return bomlessUtf16_; }
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
  // folder is created when missing; a new file is readable by its owner
  // only, an existing one keeps its permissions unless `secret` (it holds a
  // password), which makes it readable by its owner only as well. False,
  // and nothing written, when the document is larger than kMaxFileBytes.
  bool Save(const std::string& path, bool secret = false) const;

  // The names of the values (of every type) in section `key`, in file
  // order; nothing when the section is missing.
  std::optional<std::vector<std::string>> ValueNames(const std::string& key) const;

  // True when some section has a non-empty string value `name`.
  bool HasValueAnywhere(const std::string& name) const;
  // The permission bits of the file it was loaded from (0 for a new
  // document, and on Windows).
  unsigned mode() const { return mode_; }

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
  unsigned mode_ = 0;
  std::optional<platform::FileStamp> stamp_;
  bool bomlessUtf16_ = false;
};

// Key names without regard to case, trailing backslashes ignored.
bool SameKey(const std::string& a, const std::string& b);
// Value names without regard to (ASCII) case.
bool SameName(const std::string& a, const std::string& b);

}  // namespace pv::settings
