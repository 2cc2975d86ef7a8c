#include "tools/pvcentral/framer.h"

#include <algorithm>

namespace pv::central {

Framer::Framer(std::size_t maxPending)
    : maxPending_(std::max<std::size_t>(maxPending, kDelimiter.size())) {}

Framer::Result Framer::Feed(std::string_view bytes) {
  Result result;
  // Only the tail of the old text can hold the start of a delimiter that the
  // new bytes complete, so the search never rescans the whole buffer.
  std::size_t searchFrom =
      pending_.size() >= kDelimiter.size() - 1 ? pending_.size() - (kDelimiter.size() - 1) : 0;
  pending_.append(bytes);
  std::size_t start = 0;
  for (;;) {
    const std::size_t pos = pending_.find(kDelimiter, std::max(start, searchFrom));
    if (pos == std::string::npos) break;
    result.messages.emplace_back(pending_, start, pos - start);
    start = pos + kDelimiter.size();
  }
  pending_.erase(0, start);
  if (pending_.size() > maxPending_) {
    // Keep just enough to recognise a delimiter split across two reads.
    const std::size_t keep = kDelimiter.size() - 1;
    result.discarded = pending_.size() - keep;
    pending_.erase(0, result.discarded);
  }
  return result;
}

}  // namespace pv::central
