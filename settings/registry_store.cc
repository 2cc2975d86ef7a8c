#include "settings/registry_store.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>

#include "common/text.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/utf8_paths.h"
#include "settings/password.h"
#include "settings/reg_file.h"
#include "settings/service_settings.h"

namespace pv::settings {
namespace {

// The key below its root: `keyPath` (kPortaventoKey when empty), then the
// sub-key.
std::string KeyFor(const std::string& keyPath, const std::string& subKey) {
  std::string key = keyPath.empty() ? std::string(kPortaventoKey) : keyPath;
  if (!subKey.empty()) key += "\\" + subKey;
  return key;
}

// The section name of a key under a root: "HKEY_LOCAL_MACHINE\SOFTWARE\...".
std::string SectionFor(const std::string& keyPath, const std::string& rootCode,
                       const std::string& subKey) {
  std::string key = KeyFor(keyPath, subKey);
  if (rootCode == kRootDefaultUser) return "HKEY_USERS\\.DEFAULT\\" + key;
  if (rootCode == kRootCurrentUser) return "HKEY_CURRENT_USER\\" + key;
  return "HKEY_LOCAL_MACHINE\\" + key;
}

// The same key in the system registry: the root and the key below it. The
// default user is HKEY_USERS\.DEFAULT.
std::pair<platform::RegistryRoot, std::string> RegistryKeyFor(const std::string& keyPath,
                                                              const std::string& rootCode,
                                                              const std::string& subKey) {
  std::string key = KeyFor(keyPath, subKey);
  if (rootCode == kRootDefaultUser) return {platform::RegistryRoot::kUsers, ".DEFAULT\\" + key};
  if (rootCode == kRootCurrentUser) return {platform::RegistryRoot::kCurrentUser, key};
  return {platform::RegistryRoot::kLocalMachine, key};
}

// Where 32-bit programs on 64-bit Windows keep HKEY_LOCAL_MACHINE\SOFTWARE;
// an export taken there is read as if it were the plain key.
std::string RedirectedSection(const std::string& section) {
  static const std::string kSoftware = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
  if (section.size() <= kSoftware.size() ||
      !SameName(section.substr(0, kSoftware.size()), kSoftware)) {
    return {};
  }
  return kSoftware + "WOW6432Node\\" + section.substr(kSoftware.size());
}

// A file holding either password value must not be readable by others.
bool HoldsPassword(const RegFile& file) {
  return file.HasValueAnywhere("sqlPWDq") || file.HasValueAnywhere("sqlPWD");
}

std::string OctalMode(unsigned mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", mode & 07777u);
  return text;
}

// A file whose last change is more than a second old: one written again
// within the same tick of the file system's clock, at the same size, would
// keep its stamp, so a newer one is not kept.
bool SettledStamp(const platform::FileStamp& stamp) {
  const auto age = std::chrono::system_clock::now().time_since_epoch() -
                   std::chrono::nanoseconds(stamp.modifiedNs);
  return age > std::chrono::seconds(1);
}

// Problems found while no log is set are kept up to this many.
constexpr std::size_t kMaxPendingReports = 16;

}  // namespace

struct RegistryStore::Reports {
  std::mutex mutex;
  common::LogFn log;
  // Per subject (a file, or a value in it), the problems reported last.
  std::map<std::string, std::vector<std::string>> last;
  std::vector<std::string> pending;
  // The settings files read, each with the version it was read from: a
  // value asked again reads the file again only when it changed.
  std::map<std::string, RegFile> files;
};

RegistryStore::RegistryStore(const platform::Paths& paths)
    : RegistryStore(paths.MachineStore(), paths.CurrentUserStore(), paths.DefaultUserStore()) {
  // Without a relocation root, Windows keeps the settings where the rest of
  // the Portavento system looks for them: in the registry.
  systemRegistry_ = platform::HasSystemRegistry() && paths.root().empty();
}

RegistryStore::RegistryStore(std::string machineFile, std::string currentUserFile,
                             std::string defaultUserFile)
    : machineFile_(std::move(machineFile)),
      currentUserFile_(std::move(currentUserFile)),
      defaultUserFile_(std::move(defaultUserFile)),
      reports_(std::make_shared<Reports>()) {}

void RegistryStore::SetLog(common::LogFn log) {
  std::vector<std::string> pending;
  common::LogFn target;
  {
    std::lock_guard<std::mutex> lock(reports_->mutex);
    reports_->log = std::move(log);
    target = reports_->log;
    if (target) pending.swap(reports_->pending);
  }
  for (const std::string& line : pending) target(line, 0, {});
}

void RegistryStore::Report(const std::string& subject, std::vector<std::string> problems) const {
  std::vector<std::string> fresh;
  common::LogFn log;
  {
    std::lock_guard<std::mutex> lock(reports_->mutex);
    auto it = reports_->last.find(subject);
    if (problems.empty()) {
      if (it != reports_->last.end()) reports_->last.erase(it);
      return;
    }
    for (const std::string& problem : problems) {
      bool known = false;
      if (it != reports_->last.end()) {
        for (const std::string& old : it->second) known = known || old == problem;
      }
      if (!known) fresh.push_back(problem);
    }
    reports_->last[subject] = std::move(problems);
    log = reports_->log;
    if (!log) {
      for (std::string& line : fresh) {
        if (reports_->pending.size() < kMaxPendingReports) {
          reports_->pending.push_back(std::move(line));
        }
      }
      return;
    }
  }
  for (const std::string& line : fresh) log(line, 0, {});
}

std::optional<RegFile> RegistryStore::File(const std::string& rootCode,
                                           std::string* problem) const {
  return LoadFile(FileFor(rootCode), problem);
}

std::optional<RegFile> RegistryStore::LoadFile(const std::string& path,
                                               std::string* problemOut) const {
  std::string problem;
  std::optional<RegFile> file;
  const std::optional<platform::FileStamp> now = platform::StampOf(path);
  if (now) {
    std::lock_guard<std::mutex> lock(reports_->mutex);
    auto it = reports_->files.find(path);
    if (it != reports_->files.end() && it->second.stamp() == now) file = it->second;
  }
  if (!file) {
    file = RegFile::Load(path, &problem);
    std::lock_guard<std::mutex> lock(reports_->mutex);
    reports_->files.erase(path);
    if (file && file->stamp() && SettledStamp(*file->stamp())) reports_->files.emplace(path, *file);
  }
  std::vector<std::string> problems;
  if (!file) {
    problems.push_back(problem);
  } else if ((file->mode() & 044) != 0 && HoldsPassword(*file)) {
    problems.push_back("settings file " + path +
                       " holds a password and is readable by other users (mode " +
                       OctalMode(file->mode()) + ")");
  }
  Report(path, std::move(problems));
  if (problemOut != nullptr && !file) *problemOut = problem;
  return file;
}

const std::string& RegistryStore::FileFor(const std::string& rootCode) const {
  if (rootCode == kRootDefaultUser) return defaultUserFile_;
  if (rootCode == kRootCurrentUser) return currentUserFile_;
  return machineFile_;
}

std::string RegistryStore::GetRegValue(const std::string& name, const std::string& keyPath,
                                       const std::string& rootCode,
                                       const std::string& subKey) const {
  try {
    if (systemRegistry_) {
      auto [root, key] = RegistryKeyFor(keyPath, rootCode, subKey);
      auto value = platform::ReadRegistryString(root, key, name);
      // As with the files: the machine key as 32-bit programs see it (the
      // rest of the Portavento system may be such programs) when the
      // service's own view does not have the value.
      if (!value && root == platform::RegistryRoot::kLocalMachine) {
        value = platform::ReadRegistryString(root, key, name, platform::RegistryView::k32Bit);
      }
      return value.value_or(std::string());
    }
    const std::string& path = FileFor(rootCode);
    if (path.empty()) return {};
    auto file = LoadFile(path);
    if (!file) return {};
    std::string section = SectionFor(keyPath, rootCode, subKey);
    auto value = file->Get(section, name);
    if (!value) {
      std::string redirected = RedirectedSection(section);
      if (!redirected.empty()) value = file->Get(redirected, name);
    }
    const std::string subject = path + "\n" + section + "\n" + name;
    if (value && value->size() > kMaxValueBytes) {
      Report(subject, {"settings file " + path + ": value " + name + " is longer than " +
                       platform::SizeText(kMaxValueBytes)});
      return {};
    }
    Report(subject, {});
    if (!value) return {};
    // As a registry string: the text up to the first NUL.
    return value->substr(0, value->find('\0'));
  } catch (...) {
    return {};
  }
}

namespace {

bool OpenToOthers(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::perms p = fs::status(platform::PathFromUtf8(path), ec).permissions();
  if (ec) return false;
  return (p & (fs::perms::group_all | fs::perms::others_all)) != fs::perms::none;
}

}  // namespace

bool RegistryStore::TrySetRegValue(const std::string& name, const std::string& text,
                                   const std::string& keyPath, const std::string& rootCode,
                                   const std::string& subKey) const {
  try {
    if (systemRegistry_) {
      auto [root, key] = RegistryKeyFor(keyPath, rootCode, subKey);
      return platform::WriteRegistryString(root, key, name, text);
    }
    const std::string& path = FileFor(rootCode);
    if (path.empty() || text.size() > kMaxValueBytes) return false;
    auto file = LoadFile(path);
    // A file that exists but cannot be read is never overwritten.
    if (!file) return false;
    const std::string section = SectionFor(keyPath, rootCode, subKey);
    const bool secret = HoldsPassword(*file);
    // A value that is already there is not written again (the service sets
    // "appFolder" at every start), unless the file holds a password and is
    // open to others: the rewrite makes it private.
    if (file->Get(section, name) == text && !(secret && OpenToOthers(path))) return true;
    if (!file->Set(section, name, text)) return false;
    const bool saved = file->Save(path, secret);
    // The file just written is read once and kept although it is new: the
    // service goes on asking for values in the seconds after it wrote one.
    std::optional<RegFile> written = saved ? RegFile::Load(path) : std::nullopt;
    std::lock_guard<std::mutex> lock(reports_->mutex);
    reports_->files.erase(path);
    if (written && written->stamp()) reports_->files.emplace(path, std::move(*written));
    return saved;
  } catch (...) {
    return false;
  }
}

void RegistryStore::SetRegValue(const std::string& name, const std::string& text,
                                const std::string& keyPath, const std::string& rootCode,
                                const std::string& subKey) const {
  TrySetRegValue(name, text, keyPath, rootCode, subKey);
}

void RegistryStore::MigratePassword() const {
  try {
    std::string machine = GetRegValue("sqlPWDq");
    if (machine.empty()) machine = GetRegValue("sqlPWD");
    if (!machine.empty()) return;

    std::string password;
    std::string encoded(common::TrimSpaces(GetRegValue("sqlPWDq", "", kRootCurrentUser)));
    if (!encoded.empty()) {
      auto decoded = DecodePassword(encoded);
      // A value that does not decode is not copied: garbage would only
      // replace a chance to enter the password again.
      if (!decoded) return;
      password = *decoded;
    } else {
      password = GetRegValue("sqlPWD", "", kRootCurrentUser);
    }
    if (!password.empty()) SetRegValue("sqlPWDq", EncodePassword(password));
  } catch (...) {
  }
}

}  // namespace pv::settings
