#include "settings/app_folders.h"

#include "platform/files.h"

namespace pv::settings {
namespace {

// The folders are written the way the system writes its own paths: with
// backslashes on Windows (where the shell's folder already ends in one).
#ifdef _WIN32
constexpr char kSeparator = '\\';
bool EndsInSeparator(const std::string& folder) {
  return folder.back() == '\\' || folder.back() == '/';
}
#else
constexpr char kSeparator = '/';
bool EndsInSeparator(const std::string& folder) { return folder.back() == '/'; }
#endif

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && !EndsInSeparator(folder)) folder += kSeparator;
  return folder;
}

}  // namespace

std::string GetAppDataFolder(const platform::Paths& paths) {
  try {
    std::string folder = paths.LocalAppDataFolder();
    if (folder.empty() || !platform::MakeDirectories(folder)) return {};
    return WithSeparator(folder);
  } catch (...) {
    return {};
  }
}

std::string PrepareAppFolders(const platform::Paths& paths, const RegistryStore& store) {
  std::string appFolder;
  try {
    std::string programFolder = WithSeparator(platform::ProgramFolder());
    appFolder = GetAppDataFolder(paths);
    if (appFolder.empty()) {
      appFolder = programFolder;
    } else {
      appFolder += std::string("Portavento") + kSeparator;
      // The logs and the photos hold residents' data: the folder is the
      // owner's alone, and one found open to others is narrowed at every
      // start.
      if (!platform::MakePrivateFolder(appFolder)) return appFolder;
    }
    store.SetRegValue("appFolder", appFolder);
    platform::MakePrivateFolder(appFolder + "photos");
  } catch (...) {
    // What was set so far stays.
  }
  return appFolder;
}

}  // namespace pv::settings
