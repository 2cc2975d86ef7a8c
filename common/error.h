// An error raised with a number, a description and a source text that each
// routine it passes through may extend (", CConCat.Cat").
#pragma once

#include <stdexcept>
#include <string>

namespace pv::common {

inline constexpr long kErrOutOfMemory = 7;
inline constexpr long kErrOverflow = 6;

class Error : public std::runtime_error {
 public:
  Error(long number, std::string description, std::string source = {})
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        source_(std::move(source)) {}

  long number() const { return number_; }
  const std::string& description() const { return description_; }
  const std::string& source() const { return source_; }
  void AppendSource(const std::string& suffix) { source_ += suffix; }

 private:
  long number_;
  std::string description_;
  std::string source_;
};

}  // namespace pv::common
