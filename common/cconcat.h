// CConCat: a growable text buffer. Appends go into spare capacity, which
// grows by at least Increment() characters at a time, so a long burst of
// small appends costs time proportional to the data. Text can also be cut off
// the front in O(cut) through a read index (Consume), which is compacted when
// that costs no more than what was consumed.
//
// Every member reports a failure as common::Error with the member's name
// appended to the source (", CConCat.Cat"); a length beyond the 32-bit range
// is an overflow (6), a failed allocation out of memory (7).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pv::common {

class CConCat {
 public:
  static constexpr std::int32_t kDefaultIncrement = 50000;

  CConCat();

  // The characters in use.
  std::string Text() const;
  // Replaces the contents; the capacity becomes the text's length.
  void SetText(std::string_view newText);
  std::int32_t Increment() const;
  // Values below 1 leave the increment unchanged.
  void SetIncrement(std::int32_t newIncrement);
  std::int32_t Length() const;
  // Appends `newPart`. When Length() + its length reaches or passes the
  // capacity, the capacity grows by max(its length, Increment()).
  void Cat(std::string_view newPart);

  // Spare room included: the characters available from the start of the text.
  std::int32_t Capacity() const;
  // The text without copying; valid until the next change.
  std::string_view View() const;
  // Drops the first `count` characters (all of them when count >= Length()).
  void Consume(std::int32_t count);

 private:
  void Compact();

  std::string buffer_;       // storage; buffer_.size() - start_ is the capacity
  std::int32_t start_ = 0;   // read index: first character in use
  std::int32_t length_ = 0;  // characters in use from start_
  std::int32_t increment_ = kDefaultIncrement;
};

}  // namespace pv::common
