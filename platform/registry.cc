#include "platform/registry.h"

#ifdef _WIN32
#include <windows.h>

#include <climits>
#endif

namespace pv::platform {

#ifdef _WIN32

namespace {

HKEY RootHandle(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRoot::kUsers:
      return HKEY_USERS;
    case RegistryRoot::kLocalMachine:
      break;
  }
  return HKEY_LOCAL_MACHINE;
}

// UTF-8 to UTF-16; nullopt for malformed UTF-8, and for a NUL inside a name
// (the wide calls would silently cut the name there).
std::optional<std::wstring> ToWide(const std::string& text, bool nulAllowed) {
  if (!nulAllowed && text.find('\0') != std::string::npos) return std::nullopt;
  if (text.empty()) return std::wstring();
  if (text.size() > INT_MAX) return std::nullopt;
  const int size = static_cast<int>(text.size());
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (units <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), units) !=
      units) {
    return std::nullopt;
  }
  return wide;
}

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), bytes, nullptr, nullptr);
  return text;
}

class OpenKey {
 public:
  explicit OpenKey(HKEY key) : key_(key) {}
  ~OpenKey() { RegCloseKey(key_); }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_;
};

}  // namespace

bool HasSystemRegistry() { return true; }

std::optional<std::string> ReadRegistryString(RegistryRoot root, const std::string& key,
                                              const std::string& name, RegistryView view) {
  auto wideKey = ToWide(key, false);
  auto wideName = ToWide(name, false);
  if (!wideKey || !wideName) return std::nullopt;
  const REGSAM access = KEY_QUERY_VALUE | (view == RegistryView::k32Bit ? KEY_WOW64_32KEY : 0);
  HKEY handle = nullptr;
  if (RegOpenKeyExW(RootHandle(root), wideKey->c_str(), 0, access, &handle) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  OpenKey opened(handle);
  // The size is asked first; another program may change the value between
  // the two calls, so a value that grew in between is asked for again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(opened.get(), wideName->c_str(), nullptr, &type, nullptr, &bytes) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    if (type != REG_SZ || bytes > kMaxRegistryValueBytes) return std::nullopt;
    // One unit more than asked for: a value stored without its closing NUL
    // still ends inside the buffer.
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    const LONG rc = RegQueryValueExW(opened.get(), wideName->c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer.data()), &got);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    buffer.resize(got / sizeof(wchar_t));
    const auto nul = buffer.find(L'\0');
    if (nul != std::wstring::npos) buffer.resize(nul);
    return ToUtf8(buffer);
  }
  return std::nullopt;
}

bool WriteRegistryString(RegistryRoot root, const std::string& key, const std::string& name,
                         const std::string& text) {
  auto wideKey = ToWide(key, false);
  auto wideName = ToWide(name, false);
  auto wideText = ToWide(text, true);
  if (!wideKey || !wideName || !wideText) return false;
  const std::size_t bytes = (wideText->size() + 1) * sizeof(wchar_t);
  if (bytes > kMaxRegistryValueBytes) return false;
  HKEY handle = nullptr;
  if (RegCreateKeyExW(RootHandle(root), wideKey->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  OpenKey opened(handle);
  return RegSetValueExW(opened.get(), wideName->c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(wideText->c_str()),
                        static_cast<DWORD>(bytes)) == ERROR_SUCCESS;
}

#else

bool HasSystemRegistry() { return false; }

std::optional<std::string> ReadRegistryString(RegistryRoot, const std::string&, const std::string&,
                                              RegistryView) {
  return std::nullopt;
}

bool WriteRegistryString(RegistryRoot, const std::string&, const std::string&, const std::string&) {
  return false;
}

#endif

}  // namespace pv::platform
