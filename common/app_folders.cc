#include "common/app_folders.h"

#include <filesystem>
#include <system_error>

#include "platform/files.h"

namespace pv::common {

std::string GetAppDataFolder(const platform::Paths& paths) {
  try {
    std::string folder = paths.LocalAppDataFolder();
    if (folder.empty() || !platform::MakeDirectories(folder)) return {};
    if (folder.back() != '/') folder += '/';
    return folder;
  } catch (...) {
    return {};
  }
}

std::string PrepareAppFolders(const platform::Paths& paths, const settings::RegistryStore& store) {
  std::string appFolder;
  try {
    std::string programFolder = platform::ProgramFolder();
    if (!programFolder.empty() && programFolder.back() != '/') programFolder += '/';
    appFolder = GetAppDataFolder(paths);
    if (appFolder.empty()) {
      appFolder = programFolder;
    } else {
      appFolder += "Portavento/";
      if (!platform::FileExists(appFolder, platform::kAttrDirectory)) {
        std::error_code ec;
        if (!std::filesystem::create_directory(appFolder, ec) && ec) return appFolder;
      }
    }
    store.SetRegValue("appFolder", appFolder);
    if (!platform::FileExists(appFolder + "photos/", platform::kAttrDirectory)) {
      std::error_code ec;
      std::filesystem::create_directory(appFolder + "photos", ec);
    }
  } catch (...) {
    // What was set so far stays.
  }
  return appFolder;
}

}  // namespace pv::common
