#include "link/dispatcher.h"

#include <cstddef>
#include <random>

#include "db/sql_text.h"

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

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
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
  reply.word = UpperAscii(message.substr(wordStart, wordEnd - wordStart));
  reply.argument = std::string(message.substr(argStart));
  return reply;
}

std::string RandomID(int length) {
  if (length < 1) return {};
  std::random_device source;
  std::uniform_int_distribution<int> letter(0, 25);
  std::string id;
  id.reserve(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) id += static_cast<char>('A' + letter(source));
  return id;
}

InstallationKey LoadInstallationID(db::Connection& local) {
  {
    auto rows = local.Query(
        "Select Count(*) From INFORMATION_SCHEMA.COLUMNS "
        "Where COLUMN_NAME = 'installationID' And TABLE_NAME = 'Settings'");
    const bool present = rows->Next() && rows->Get(0).AsInteger() > 0;
    rows->Close();
    if (!present)
      local.Execute("ALTER TABLE [dbo].[Settings] Add [installationID] [nvarchar](50) NULL;");
  }

  InstallationKey result;
  {
    auto rows = local.Query("Select installationID From Settings");
    if (rows->Next()) {
      const db::Value& stored = rows->Get(0);
      if (!stored.IsNull()) result.key = stored.ToText();
    }
    rows->Close();
  }
  if (result.key.empty()) {
    result.key = RandomID(50);
    result.isNew = true;
  }
  return result;
}

void StoreInstallationID(db::Connection& local, const std::string& key) {
  local.Execute("Update Settings Set installationID = '" + db::DoubleQuotes(key) + "';");
}

void SendIdentification(ReplyTarget& target) {
  db::Connection* local = target.LocalConnection();
  if (local == nullptr) throw db::DbError(db::kErrNotOpen, "The local database is not open");
  const InstallationKey key = LoadInstallationID(*local);
  target.SendMessage((key.isNew ? "NWID " : "PVID ") + key.key);
}

void DispatchReply(const std::string& message, ReplyTarget& target) {
  try {
    const auto reply = ParseReply(message);
    if (!reply) return;
    const std::string& word = reply->word;
    if (word == "CONN" || word == "RPID") {
      SendIdentification(target);
    } else if (word == "INID") {
      db::Connection* local = target.LocalConnection();
      if (local == nullptr) return;
      StoreInstallationID(*local, reply->argument);
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
