#include "link/dispatcher.h"

#include <cstddef>

#include "common/text.h"

namespace pv::link {

namespace {

// Length in bytes of the UTF-8 character that starts at `pos`; a stray
// continuation byte or a cut-off sequence counts as one character per byte.
std::size_t CharLength(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t len = 1;
  if (lead >= 0xF0 && lead <= 0xF7) {
    len = 4;
  } else if (lead >= 0xE0) {
    len = lead <= 0xEF ? 3 : 1;
  } else if (lead >= 0xC0) {
    len = 2;
  }
  if (pos + len > text.size()) return 1;
  for (std::size_t i = 1; i < len; ++i) {
    if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) return 1;
  }
  return len;
}

// Byte offset of the character `count` characters after `pos` (clamped to
// the end of the text).
std::size_t Advance(std::string_view text, std::size_t pos, std::size_t count) {
  while (count > 0 && pos < text.size()) {
    pos += CharLength(text, pos);
    --count;
  }
  return pos;
}

}  // namespace

std::optional<Reply> ParseReply(std::string_view message) {
  if (!message.empty() && message.front() == '\n') message.remove_prefix(1);
  if (message.substr(0, 2) == "\r\n") message.remove_prefix(2);
  if (!message.empty() && message.back() == '\n') message.remove_suffix(1);
  if (message.empty() || message.substr(0, 3) != "+OK") return std::nullopt;

  // "+OK" is three single-byte characters; one separator follows.
  const std::size_t wordStart = Advance(message, 3, 1);
  const std::size_t wordEnd = Advance(message, wordStart, 4);
  const std::size_t argStart = Advance(message, wordEnd, 1);
  Reply reply;
  reply.word = common::AsciiUpper(message.substr(wordStart, wordEnd - wordStart));
  reply.argument = std::string(message.substr(argStart));
  return reply;
}

void DispatchReply(const std::string& message, ReplyTarget& target) {
  try {
    const auto reply = ParseReply(message);
    if (!reply) return;
    const std::string& word = reply->word;
    if (word == "CONN" || word == "RPID") {
      const ReplyTarget::Identity id = target.LoadIdentity();
      target.SendMessage((id.isNew ? "NWID " : "PVID ") + id.key);
    } else if (word == "INID") {
      target.StoreIdentity(reply->argument);
    } else if (word == "VDID") {
      target.InstallationConfirmed(reply->argument);
    } else if (word == "DBIN") {
      target.CentralConnectionData(reply->argument);
    } else if (word == "DATR") {
      target.FullUploadRequested();
    } else if (word == "UPDA") {
      target.CentralChange(reply->argument);
    }
    // "PVTE" (the server's keepalive), "BDID" and unknown words: nothing.
  } catch (...) {
    // A failing handler ends the dispatch: no reply, no log line.
  }
}

}  // namespace pv::link
