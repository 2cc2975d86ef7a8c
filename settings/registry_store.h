// The service's settings: string values under one key in three roots
// (machine-wide, current user, default user). On Windows without a
// relocation root (PVREMOTE_ROOT) they live in the registry itself; otherwise
// in files in the text format of Windows registry exports, so an exported key
// can be dropped in place. Key and value names compare without regard to
// case.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/log_fn.h"
#include "platform/paths.h"

namespace pv::settings {

// The key every setting lives under.
inline constexpr char kPortaventoKey[] = "SOFTWARE\\Quillonworks Inc.\\Portavento";
// Root codes.
inline constexpr char kRootMachine[] = "";
inline constexpr char kRootCurrentUser[] = "HKCU";
inline constexpr char kRootDefaultUser[] = "HKUS";

class RegFile;

class RegistryStore {
 public:
  // The three files the paths name; on Windows, the registry when the paths
  // have no relocation root (they name no files there).
  explicit RegistryStore(const platform::Paths& paths);
  // The three files.
  RegistryStore(std::string machineFile, std::string currentUserFile, std::string defaultUserFile);

  // Where the store reports settings files it cannot use (not a regular
  // file, larger than 1 MiB, a value longer than 64 KiB) and files holding a
  // password that other users can read. Each problem is reported once, until
  // its file or value reads well again. Problems found before a log is set
  // (at most a few) are handed to it when it is set, so a host can set it
  // once its log has somewhere to write. Copies of a store share the log.
  void SetLog(common::LogFn log);

  // The value's text; empty when the file, the key or the value is missing,
  // the value is not a string, the file cannot be used or the value is
  // longer than 64 KiB. `keyPath` empty means kPortaventoKey; a
  // non-empty `subKey` is appended with a backslash; `rootCode` "HKCU" is the
  // current user, "HKUS" the default user (under ".DEFAULT"), anything else
  // the machine.
  std::string GetRegValue(const std::string& name, const std::string& keyPath = "",
                          const std::string& rootCode = "", const std::string& subKey = "") const;

  // Writes a string value, creating the file and key when missing. Failures
  // are silent and leave the old value; a file that exists but cannot be
  // read is never overwritten, and a text longer than 64 KiB is not
  // written. A file holding a password is left readable by its owner only.
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

  // The settings file of `rootCode` as last read (read again only when it
  // changed); an empty file when it is missing; none, with the reason in
  // `problem`, when it cannot be used.
  std::optional<RegFile> File(const std::string& rootCode, std::string* problem = nullptr) const;

  // The file that holds `rootCode`'s values; empty when the registry does.
  const std::string& FileFor(const std::string& rootCode) const;

  // True when the values live in the system registry, not in files.
  bool UsesSystemRegistry() const { return systemRegistry_; }

 private:
  struct Reports;
  // Reads a settings file, reporting what makes it unusable.
  std::optional<RegFile> LoadFile(const std::string& path, std::string* problem = nullptr) const;
  // Reports the problems of one subject (a file, or one value in it) that
  // were not reported last time, and forgets the ones that went away.
  void Report(const std::string& subject, std::vector<std::string> problems) const;

  std::string machineFile_;
  std::string currentUserFile_;
  std::string defaultUserFile_;
  bool systemRegistry_ = false;
  std::shared_ptr<Reports> reports_;
};

}  // namespace pv::settings
