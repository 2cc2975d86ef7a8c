// String values in the Windows registry (advapi32), for the settings store.
// Text is UTF-8 on this side and UTF-16 in the registry (the wide calls), so
// names and values outside the ANSI code page survive. Elsewhere there is no
// system registry: reads give nothing and writes fail.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace pv::platform {

// True where the operating system has a registry (Windows).
bool HasSystemRegistry();

enum class RegistryRoot { kLocalMachine, kCurrentUser, kUsers };

// The view of HKEY_LOCAL_MACHINE\SOFTWARE: the program's own, or the one 32-bit
// programs see on 64-bit Windows (SOFTWARE\WOW6432Node).
enum class RegistryView { kNative, k32Bit };

// The longest value, in bytes of UTF-16, that is read or written; settings are
// short, and a larger value is treated as not there rather than allocated.
inline constexpr std::size_t kMaxRegistryValueBytes = 64 * 1024;

// The text of a string value (REG_SZ) up to its first NUL; nullopt when the
// key or value is missing, the value is of another type or longer than
// kMaxRegistryValueBytes, or a name is not valid UTF-8. The key is opened
// for reading only, never created.
std::optional<std::string> ReadRegistryString(RegistryRoot root, const std::string& key,
                                              const std::string& name,
                                              RegistryView view = RegistryView::kNative);

// Writes `text` as a string value (REG_SZ), creating the key when missing.
// False, with the old value left, when the key cannot be created or written,
// a name or the text is not valid UTF-8, or the text is too long.
bool WriteRegistryString(RegistryRoot root, const std::string& key, const std::string& name,
                         const std::string& text);

}  // namespace pv::platform
