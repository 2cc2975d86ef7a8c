// The protocol spoken over the server link: the central server's replies
// ("+OK" + separator + four-letter word + separator + argument), the
// dispatcher that hands each word to its handler, and the installation key
// the service identifies itself with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/connection.h"

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

// `length` upper-case letters A-Z drawn uniformly from the system's random
// source; empty for a length below 1.
std::string RandomID(int length);

struct InstallationKey {
  std::string key;
  bool isNew = false;  // invented now, not stored yet
};

// Makes sure the local Settings table has its installationID column, then
// returns the stored key, or a fresh random one of 50 letters when none is
// stored. A fresh key is stored only when the central server assigns it.
// Throws DbError when the local database fails.
InstallationKey LoadInstallationID(db::Connection& local);

// Stores the key the central server assigned (every row of Settings).
// Throws DbError when the update fails; the stored key is then unchanged.
void StoreInstallationID(db::Connection& local, const std::string& key);

// What the dispatcher needs from the service host.
class ReplyTarget {
 public:
  virtual ~ReplyTarget() = default;
  // Queues one outbound message on the link (delimiter appended there).
  virtual void SendMessage(const std::string& text) = 0;
  // The open local connection; nullptr when there is none.
  virtual db::Connection* LocalConnection() = 0;
  // "VDID": the installation id as received.
  virtual void InstallationConfirmed(const std::string& installationId) = 0;
  // "DBIN": the central connection data as received.
  virtual void CentralConnectionData(const std::string& argument) = 0;
  // "DATR": the full upload.
  virtual void FullUploadRequested() = 0;
  // "UPDA": one central change, the argument as received.
  virtual void CentralChange(const std::string& argument) = 0;
};

// Reads or invents the installation key and sends "NWID " or "PVID " with it.
// Throws when the local database is not available.
void SendIdentification(ReplyTarget& target);

// Handles one complete inbound message. Unknown words, messages that are not
// replies and empty messages are dropped; a failing handler ends the dispatch
// without a reply. Never throws.
void DispatchReply(const std::string& message, ReplyTarget& target);

}  // namespace pv::link
