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

// True for the failures that say a server, a connection or its storage is
// away for now rather than that the statement is wrong: the connection lost,
// refused or closed (10053, 10054, 10060, 10061, 64, 121, 233, 17, 3704),
// a time-out (-2 from ODBC, -2147217871 from the embedded engine; 1222, a
// lock not granted in time), a deadlock victim (1205), a full disk or log
// (1105, 9002), an operating-system I/O error (823), a database file that
// cannot be opened for now (5120) and memory run out (701). Work that fails
// so is kept for a later try instead of being dropped.
inline bool IsTransient(long number) {
  switch (number) {
    case 10053:
    case 10054:
    case 10060:
    case 10061:
    case 64:
    case 121:
    case 233:
    case kErrServerUnreachable:
    case kErrNotOpen:
    case -2:
    case -2147217871:
    case 1222:
    case 1205:
    case 1105:
    case 9002:
    case 823:
    case 5120:
    case 701:
    case 112:  // ERROR_DISK_FULL: no room (or quota) for a temp photo file
      return true;
    default:
      return false;
  }
}

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
