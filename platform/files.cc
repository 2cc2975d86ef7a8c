#include "platform/files.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "platform/utf8_paths.h"

namespace pv::platform {
namespace fs = std::filesystem;
namespace {

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

// '*' any run of characters, '?' exactly one; everything else literally.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool Wanted(const fs::path& entry, int attributes) {
  std::error_code ec;
  auto status = fs::status(entry, ec);
  if (ec) return false;
  if (attributes & kAttrDirectory) return fs::is_directory(status);
  return fs::is_regular_file(status);
}

// Calls `found` for every entry `path` names; stops when it returns false.
template <typename F>
void ForEachMatch(const std::string& path, int attributes, F found) {
  if (path.empty()) return;
  // "folder/" names the folder itself.
  fs::path p = PathFromUtf8(WithoutTrailingSeparators(path));
  std::string leaf = Utf8FromPath(p.filename());
  if (!HasWildcards(leaf)) {
    if (Wanted(p, attributes)) found(p);
    return;
  }
  fs::path parent = p.parent_path();
  if (parent.empty()) parent = ".";
  if (HasWildcards(Utf8FromPath(parent))) return;
  std::error_code ec;
  fs::directory_iterator it(parent, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path& entry = it->path();
    if (WildcardMatch(leaf, Utf8FromPath(entry.filename())) && Wanted(entry, attributes)) {
      if (!found(entry)) return;
    }
  }
}

}  // namespace

bool FileExists(const std::string& path, int attributes) {
  bool any = false;
  try {
    ForEachMatch(path, attributes, [&](const fs::path&) {
      any = true;
      return false;
    });
  } catch (...) {
    return false;
  }
  return any;
}

void DeleteFile(const std::string& path) {
  try {
    ForEachMatch(path, kAttrFiles, [](const fs::path& entry) {
      std::error_code ec;
      fs::remove(entry, ec);
      return true;
    });
  } catch (...) {
  }
}

bool MakeDirectories(const std::string& path) {
  std::error_code ec;
  const fs::path folder = PathFromUtf8(path);
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

}  // namespace pv::platform
