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

}  // namespace pv::db
