// The checks of a site's set-up: at start the service writes what it found
// to the journal; `pvremote --check` runs them without starting and prints
// one line per check, OK or FAIL with a hint.
#pragma once

#include <ostream>

#include "common/journal.h"
#include "db/connection.h"
#include "platform/paths.h"
#include "settings/registry_store.h"

namespace pv::service {

// Where the settings were read, the values in effect, and every warning.
void JournalSettings(common::Journal& journal, const settings::RegistryStore& store);

// The open local database's tables: a missing one, or a Settings table
// without its row (the installation key could not be kept), is warned about.
void JournalLocalTables(common::Journal& journal, db::Connection& local);

// `pvremote --check`: 0 when every check passed, else 1.
int RunCheck(const platform::Paths& paths, std::ostream& out);

}  // namespace pv::service
