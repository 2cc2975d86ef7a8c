// A failure reported by a database engine: the number and description that
// the log lines carry ("TransferDataToCX() - 208 - Invalid object name ...").
#pragma once

#include <stdexcept>
#include <string>

namespace pv::db {

class DbError : public std::runtime_error {
 public:
  DbError(long number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}
  long number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  long number_;
  std::string description_;
};

// Numbers used where no engine supplies one. The SQL Server numbers of the
// embedded engine (208, 102, 2627, 515, 18456, 4060, ...) are its own.
inline constexpr long kErrTypeMismatch = 13;
inline constexpr long kErrNotOpen = 3704;          // operation on a closed connection
inline constexpr long kErrServerUnreachable = 17;  // server does not exist or access denied
inline constexpr long kErrNoSuchColumn = 3265;     // item not found in the collection

// The failure of an operation on a closed connection or rowset. `what`, when
// given, names it: "Operation is not allowed when the object is closed
// (central database)"; without it the text ends with a full stop.
inline DbError NotOpenError(const std::string& what = {}) {
  return DbError(kErrNotOpen,
                 what.empty()
                     ? "Operation is not allowed when the object is closed."
                     : "Operation is not allowed when the object is closed (" + what + ")");
}

// The failure of a column asked for by a name or ordinal the rowset does not
// have. `name`, when given, follows the text after a colon ("Names.photo").
inline DbError NoSuchColumnError(const std::string& name = {}) {
  return DbError(kErrNoSuchColumn,
                 name.empty() ? "Item cannot be found in the collection corresponding to the "
                                "requested name or ordinal."
                              : "Item cannot be found in the collection corresponding to the "
                                "requested name or ordinal: " +
                                    name);
}

}  // namespace pv::db
