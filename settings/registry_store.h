// The service's settings: string values under one key in three roots
// (machine-wide, current user, default user). On Windows without a
// relocation root (PVREMOTE_ROOT) they live in the registry itself; otherwise
// in files in the text format of Windows registry exports, so an exported key
// can be dropped in place. Key and value names compare without regard to
// case.
#pragma once

#include <string>

#include "platform/paths.h"

namespace pv::settings {

// The key every setting lives under.
inline constexpr char kPortaventoKey[] = "SOFTWARE\\Quillonworks Inc.\\Portavento";
// Root codes.
inline constexpr char kRootMachine[] = "";
inline constexpr char kRootCurrentUser[] = "HKCU";
inline constexpr char kRootDefaultUser[] = "HKUS";

class RegistryStore {
 public:
  // The three files the paths name; on Windows, the registry when the paths
  // have no relocation root (they name no files there).
  explicit RegistryStore(const platform::Paths& paths);
  // The three files.
  RegistryStore(std::string machineFile, std::string currentUserFile, std::string defaultUserFile);

  // The value's text; empty when the file, the key or the value is missing or
  // the value is not a string. `keyPath` empty means kPortaventoKey; a
  // non-empty `subKey` is appended with a backslash; `rootCode` "HKCU" is the
  // current user, "HKUS" the default user (under ".DEFAULT"), anything else
  // the machine.
  std::string GetRegValue(const std::string& name, const std::string& keyPath = "",
                          const std::string& rootCode = "", const std::string& subKey = "") const;

  // Writes a string value, creating the file and key when missing. Failures
  // are silent and leave the old value.
  void SetRegValue(const std::string& name, const std::string& text,
                   const std::string& keyPath = "", const std::string& rootCode = "",
                   const std::string& subKey = "") const;

  // Like SetRegValue, but says whether the value reached the store.
  bool TrySetRegValue(const std::string& name, const std::string& text,
                      const std::string& keyPath = "", const std::string& rootCode = "",
                      const std::string& subKey = "") const;

  // Copies the installing user's password to the machine store (encoded as
  // "sqlPWDq") unless the machine store already has one.
  void MigratePassword() const;

  // The file that holds `rootCode`'s values; empty when the registry does.
  const std::string& FileFor(const std::string& rootCode) const;

  // True when the values live in the system registry, not in files.
  bool UsesSystemRegistry() const { return systemRegistry_; }

 private:
  std::string machineFile_;
  std::string currentUserFile_;
  std::string defaultUserFile_;
  bool systemRegistry_ = false;
};

}  // namespace pv::settings
