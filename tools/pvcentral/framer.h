// Cuts the byte stream of one connection into messages at the delimiter
// ":tPVStr" and frames outgoing ones. The pending text is bounded: a peer that
// never sends a delimiter loses the oldest bytes instead of growing memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pv::central {

inline constexpr std::string_view kDelimiter = ":tPVStr";

// Default bound for text waiting for its delimiter (a full message of the
// service is a few hundred bytes; photos never travel on the link).
inline constexpr std::size_t kDefaultMaxPending = 1 << 20;

class Framer {
 public:
  explicit Framer(std::size_t maxPending = kDefaultMaxPending);

  struct Result {
    std::vector<std::string> messages;  // complete messages, delimiter removed
    std::size_t discarded = 0;          // bytes dropped because no delimiter came
  };

  // Appends received bytes and returns every message they complete.
  Result Feed(std::string_view bytes);

  std::size_t pending() const { return pending_.size(); }
  void Clear() { pending_.clear(); }

  static std::string Frame(std::string_view message) {
    std::string out(message);
    out += kDelimiter;
    return out;
  }

 private:
  std::size_t maxPending_;
  std::string pending_;
};

}  // namespace pv::central
