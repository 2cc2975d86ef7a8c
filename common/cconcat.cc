#include "common/cconcat.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "common/error.h"

namespace pv::common {
namespace {

constexpr std::int64_t kMaxLength = std::numeric_limits<std::int32_t>::max();

// Runs `body`; any failure leaves as common::Error with `member` appended to
// its source.
template <typename F>
auto Guarded(const char* member, F body) -> decltype(body()) {
  try {
    return body();
  } catch (Error& e) {
    e.AppendSource(member);
    throw;
  } catch (const std::bad_alloc&) {
    throw Error(kErrOutOfMemory, "Out of memory", member);
  } catch (const std::length_error&) {
    throw Error(kErrOverflow, "Overflow", member);
  } catch (const std::exception& e) {
    throw Error(5, e.what(), member);
  }
}

}  // namespace

CConCat::CConCat() {
  Guarded(", CConCat.Class_Initialize", [] { return 0; });
}

std::string CConCat::Text() const {
  return Guarded(", CConCat.Text", [&] { return buffer_.substr(start_, length_); });
}

void CConCat::SetText(std::string_view newText) {
  Guarded(", CConCat.Text", [&] {
    if (static_cast<std::int64_t>(newText.size()) > kMaxLength) {
      throw Error(kErrOverflow, "Overflow");
    }
    // Give back a large allocation when the new text is much smaller.
    if (buffer_.capacity() > (1u << 20) && buffer_.capacity() / 4 > newText.size()) {
      std::string(newText).swap(buffer_);
    } else {
      buffer_.assign(newText.data(), newText.size());
    }
    start_ = 0;
    length_ = static_cast<std::int32_t>(newText.size());
    return 0;
  });
}

std::int32_t CConCat::Increment() const {
  return Guarded(", CConCat.Increment", [&] { return increment_; });
}

void CConCat::SetIncrement(std::int32_t newIncrement) {
  Guarded(", CConCat.Increment", [&] {
    if (newIncrement > 0) increment_ = newIncrement;
    return 0;
  });
}

std::int32_t CConCat::Length() const {
  return Guarded(", CConCat.Length", [&] { return length_; });
}

std::int32_t CConCat::Capacity() const {
  auto capacity = static_cast<std::int64_t>(buffer_.size()) - start_;
  return static_cast<std::int32_t>(std::min(capacity, kMaxLength));
}

std::string_view CConCat::View() const { return std::string_view(buffer_).substr(start_, length_); }

void CConCat::Cat(std::string_view newPart) {
  Guarded(", CConCat.Cat", [&] {
    auto n = static_cast<std::int64_t>(newPart.size());
    if (n > kMaxLength - length_) throw Error(kErrOverflow, "Overflow");
    std::int64_t capacity = static_cast<std::int64_t>(buffer_.size()) - start_;
    if (length_ + n >= capacity) {
      // Reuse the consumed front when moving the text costs no more than
      // what was consumed to free it.
      if (start_ > 0 && start_ >= length_) {
        Compact();
        capacity = static_cast<std::int64_t>(buffer_.size());
      }
      if (length_ + n >= capacity) {
        // Grow by max(n, increment): the part goes in and blanks fill the
        // rest, each byte written once.
        std::size_t newSize =
            buffer_.size() + static_cast<std::size_t>(std::max<std::int64_t>(n, increment_));
        buffer_.resize(static_cast<std::size_t>(start_ + length_));
        buffer_.reserve(newSize);
        buffer_.append(newPart.data(), newPart.size());
        buffer_.append(newSize - buffer_.size(), ' ');
        length_ += static_cast<std::int32_t>(n);
        return 0;
      }
    }
    if (n > 0) std::memcpy(buffer_.data() + start_ + length_, newPart.data(), newPart.size());
    length_ += static_cast<std::int32_t>(n);
    return 0;
  });
}

void CConCat::Consume(std::int32_t count) {
  if (count <= 0) return;
  if (count >= length_) {
    start_ = 0;
    length_ = 0;
    return;
  }
  start_ += count;
  length_ -= count;
}

void CConCat::Compact() {
  if (start_ == 0) return;
  std::memmove(buffer_.data(), buffer_.data() + start_, static_cast<std::size_t>(length_));
  start_ = 0;
}

}  // namespace pv::common
