// The installation id (the argument of the last "VDID") as it is written into
// central statements and database names, and the installation key the
// service identifies itself with, kept in the local Settings table.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace pv::db {

// The installation number: the leading numeric part of the installation id
// (blanks, an optional sign, digits; 0 when there are no digits), written with
// at least five digits, zero-padded: "42" gives "00042", "123456" stays, "abc"
// gives "00000", "-42" gives "-00042".
std::string InstallationNumber(std::string_view installationId);

// "Installation" + InstallationNumber(installationId): the installation's
// database on the central server.
std::string InstallationDatabaseName(std::string_view installationId);

// The installation id where it stands bare in a statement: the id as a whole
// number (blanks around it allowed), or DbError(kErrTypeMismatch) naming the
// id when it is not one, so a job fails with its log line instead of handing
// the text to SQL.
std::int64_t CheckedInstallationId(std::string_view installationId);

struct InstallationKey {
  std::string key;
  bool isNew = false;  // invented now, not stored yet
};

// Makes sure the local Settings table has its installationID column, then
// returns the stored key, or a fresh random one of 50 letters when none is
// stored. A fresh key is stored only when the central server assigns it.
// Throws DbError when the local database fails.
InstallationKey LoadInstallationID(Connection& local);

// Stores the key the central server assigned (every row of Settings).
// Throws DbError when the update fails; the stored key is then unchanged.
void StoreInstallationID(Connection& local, const std::string& key);

// `length` upper-case letters A-Z drawn uniformly from the system's random
// source; empty for a length below 1.
std::string RandomID(int length);

}  // namespace pv::db
