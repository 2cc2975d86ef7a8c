// Prints result sets and row counts the way sqlcmd does.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "db/connection.h"
#include "db/value.h"

namespace pv::pvsql {

struct PrintOptions {
  std::string separator = " ";
  bool trimTrailing = false;  // -W: no padding, trailing blanks removed
  bool headers = true;        // false for -h -1
};

// The text sqlcmd shows for a value: NULL, bits 1/0, date-times
// "yyyy-mm-dd hh:mm:ss.fff", binary as 0x + upper-case hex.
std::string DisplayText(const db::Value& value);

class ResultPrinter {
 public:
  ResultPrinter(std::ostream& out, PrintOptions options);

  // Prints every row of `rows` and returns how many there were. Without -W the
  // rows are held until the widths of the columns are known; with -W each row
  // is printed as it arrives.
  std::int64_t PrintRowset(db::Rowset& rows);

  // The blank line and "(N rows affected)".
  void PrintRowsAffected(std::int64_t count);

  // The first column of the last row printed by the last PrintRowset.
  const std::optional<std::string>& LastFirstCell() const { return lastFirstCell_; }
  void ClearLastFirstCell() { lastFirstCell_.reset(); }

 private:
  void PrintLine(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths,
                 const std::vector<bool>& rightAlign);

  std::ostream& out_;
  PrintOptions options_;
  std::optional<std::string> lastFirstCell_;
};

}  // namespace pv::pvsql
