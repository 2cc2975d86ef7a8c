#include "tests/e2e/temp_root.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace pv::e2e {

TempRoot::TempRoot() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pv-e2e-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
  path_ = pattern;
  std::filesystem::create_directories(AppData());
}

TempRoot::~TempRoot() {
  const char* keep = std::getenv("PV_E2E_KEEP");
  if (keep != nullptr && std::string(keep) == "1") return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteSettings(const std::filesystem::path& file,
                   const std::map<std::string, std::string>& values) {
  auto quoted = [](const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '\\' || c == '"') out += '\\';
      out += c;
    }
    return out + "\"";
  };
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "Windows Registry Editor Version 5.00\r\n\r\n"
      << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento]\r\n";
  for (const auto& [name, value] : values) out << quoted(name) << "=" << quoted(value) << "\r\n";
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace pv::e2e
