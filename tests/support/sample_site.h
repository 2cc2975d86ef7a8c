// The sample site of the full-upload tests: a row of every kind, names with
// quotes and non-Latin letters, photos in every photo column, and rows that
// must not be copied (a resident of type X, additional photos without data).
#pragma once

#include "db/connection.h"
#include "db/value.h"

namespace pv::testsite {

extern const db::Bytes kResidentPhoto;       // Names 1
extern const db::Bytes kLargeResidentPhoto;  // Names 4
extern const db::Bytes kLogPhoto;            // Logs 1, photo
extern const db::Bytes kLogPhoto2;           // Logs 1, photo2
extern const db::Bytes kSingleLogPhoto;      // Logs 2, photo
extern const db::Bytes kAdditionalPhoto;     // AdditionalPhotos 1 (2 and 3 hold none)

// Every column of TenantAccess but its id, in the local order.
extern const char kTenantAccessColumns[];

// Fills the local database; `withSettings` adds the Settings row.
void FillSampleSite(db::Connection& local, bool withSettings = true);

// Every copied local row is in the installation database `central`, value for
// value, photos byte for byte (GoogleTest expectations).
void ExpectSampleSiteCopied(db::Connection& local, db::Connection& central);

}  // namespace pv::testsite
