// The installation id (the argument of the last "VDID") as it is written into
// central statements and database names.
#pragma once

#include <string>

namespace pv::db {

// The id's leading numeric part (after leading blanks), at least five digits,
// zero-padded: "42" -> "00042", "123456" -> "123456", "x" -> "00000".
std::string InstallationNumber(const std::string& installationId);

// "Installation" + InstallationNumber(installationId).
std::string InstallationDatabaseName(const std::string& installationId);

// The id for a statement that writes it without quotes ("Where id = " + id):
// the id as received when it is an integer (an optional '-' and 1 to 18
// digits, nothing else), otherwise throws DbError 13 naming the id, so the job
// fails with its log line instead of handing the text to SQL.
const std::string& BareInstallationId(const std::string& installationId);

}  // namespace pv::db
