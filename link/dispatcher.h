// The protocol spoken over the server link: the central server's replies
// ("+OK" + separator + four-letter word + separator + argument) and the
// dispatcher that hands each word to the service through ReplyTarget. The
// protocol knows no database: the installation key is read and stored by the
// target.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pv::link {

// A reply taken apart: the command word upper-cased, the argument as sent.
struct Reply {
  std::string word;
  std::string argument;
};

// Drops one leading line feed, then one leading CR+LF, then one trailing line
// feed; nothing when what is left is empty or does not start with "+OK"
// (case-sensitive). The word is characters 5-8 and the argument everything
// from character 10 on, counted in characters of the UTF-8 text.
std::optional<Reply> ParseReply(std::string_view message);

// What the dispatcher needs from the service host.
class ReplyTarget {
 public:
  virtual ~ReplyTarget() = default;
  // Queues one outbound message on the link (delimiter appended there).
  virtual void SendMessage(const std::string& text) = 0;
  // The key the service identifies itself with: the stored one, or a fresh
  // one (`isNew`) when none is stored yet. Throws when the local database is
  // not available.
  struct Identity {
    std::string key;
    bool isNew = false;
  };
  virtual Identity LoadIdentity() = 0;
  // "INID": stores the key the central server assigned. Throws when it
  // cannot be stored.
  virtual void StoreIdentity(const std::string& key) = 0;
  // "VDID": the installation id as received.
  virtual void InstallationConfirmed(const std::string& installationId) = 0;
  // "DBIN": the central connection data as received.
  virtual void CentralConnectionData(const std::string& argument) = 0;
  // "DATR": the full upload.
  virtual void FullUploadRequested() = 0;
  // "UPDA": one central change, the argument as received.
  virtual void CentralChange(const std::string& argument) = 0;
};

// Handles one complete inbound message. Unknown words, messages that are not
// replies and empty messages are dropped; a failing handler ends the dispatch
// without a reply. Never throws.
void DispatchReply(const std::string& message, ReplyTarget& target);

}  // namespace pv::link
