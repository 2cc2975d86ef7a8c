// The application folder: the account's local application-data folder plus
// "Portavento/", holding the daily logs and the "photos/" sub-folder; the
// program's own folder when there is no application-data folder.
#pragma once

#include <string>

#include "platform/paths.h"
#include "settings/registry_store.h"

namespace pv::settings {

// The local application-data folder (created when missing), ending in '/';
// empty when there is none or it cannot be created.
std::string GetAppDataFolder(const platform::Paths& paths);

// Prepares the application folder and its "photos/" sub-folder, stores it as
// "appFolder" in the machine store and returns it (ending in '/'). Both
// folders are made (or narrowed to) mode 0700 on Linux; the program's own
// folder, when it serves, is left as it is. Failures are silent: what was
// set so far stays.
std::string PrepareAppFolders(const platform::Paths& paths, const RegistryStore& store);

}  // namespace pv::settings
