// The reply dispatcher: how messages are trimmed and taken apart, and which
// words reach which handler.
#include "link/dispatcher.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using pv::link::DispatchReply;
using pv::link::ParseReply;

namespace {

struct Recorder : pv::link::ReplyTarget {
  void SendMessage(const std::string& text) override { sent.push_back(text); }
  Identity LoadIdentity() override {
    if (!available) throw std::runtime_error("local database away");
    return {stored.empty() ? "FRESH" : stored, stored.empty()};
  }
  void StoreIdentity(const std::string& key) override {
    if (!available) throw std::runtime_error("local database away");
    stored = key;
  }
  void InstallationConfirmed(const std::string& id) override {
    calls.push_back("VDID[" + id + "]");
  }
  void CentralConnectionData(const std::string& a) override { calls.push_back("DBIN[" + a + "]"); }
  void FullUploadRequested() override { calls.push_back("DATR"); }
  void CentralChange(const std::string& a) override { calls.push_back("UPDA[" + a + "]"); }

  bool available = true;
  std::string stored;
  std::vector<std::string> sent;
  std::vector<std::string> calls;
};

// The word and argument ParseReply finds, "<ignored>" for no reply.
std::pair<std::string, std::string> Parsed(const std::string& message) {
  auto r = ParseReply(message);
  return r ? std::pair(r->word, r->argument) : std::pair<std::string, std::string>("<ignored>", "");
}

}  // namespace

TEST(ReplyParsing, LineBreaksTrimmedAndWordAndArgumentInFixedCharacterColumns) {
  const std::string X = "<ignored>";
  const struct {
    std::string message, word, argument;
  } cases[] = {
      // One leading LF, then one leading CR+LF, then one trailing LF dropped.
      {"+OK CONN", "CONN", ""},
      {"\n+OK CONN", "CONN", ""},
      {"\r\n+OK CONN", "CONN", ""},
      {"\n\r\n+OK INID KEY\n", "INID", "KEY"},
      {"\n\n+OK CONN", X, ""},
      {"\r\n\n+OK CONN", X, ""},
      {"\r+OK CONN", X, ""},
      {"+OK INID KEY\n\n", "INID", "KEY\n"},
      {"+OK INID KEY\r\n", "INID", "KEY\r"},  // a trailing CR stays
      {"", X, ""},
      {"\n\r\n\n", X, ""},
      // "+OK" is case-sensitive, the word is not.
      {"+ok CONN", X, ""},
      {" +OK CONN", X, ""},
      {"+OK vDiD 7", "VDID", "7"},
      // Whatever stands in columns 4 and 9 is skipped; characters, not bytes.
      {"+OKxINIDyABC", "INID", "ABC"},
      {"+OK\xC2\xA7INID\xC2\xA7"
       "ABC",
       "INID", "ABC"},
      {"+OK INID  ABC ", "INID", " ABC "},
      {"+OK \xC3\xA9"
       "ABC DEF",
       "\xC3\xA9"
       "ABC",
       "DEF"},
      // Short messages.
      {"+OK", "", ""},
      {"+OK CON", "CON", ""},
      {"+OK VDID ", "VDID", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parsed(c.message), std::pair(c.word, c.argument)) << c.message;
  }
}

TEST(ReplyDispatch, EachWordReachesItsHandlerAndOthersAreDropped) {
  Recorder r;
  DispatchReply("+OK VDID 42", r);
  DispatchReply("+OK vdid", r);
  DispatchReply(
      "+OK DBIN sa\xC2\xA7pw\xC2\xA7host\xC2\xA7Home\xC2\xA7"
      "1433\xC2\xA7x",
      r);
  DispatchReply("+OK DATR", r);
  DispatchReply(
      "+OK UPDA 5\xC2\xA7"
      "1\xC2\xA7NamesU\xC2\xA7"
      "9",
      r);
  const std::vector<std::string> expected = {"VDID[42]", "VDID[]",
                                             "DBIN[sa\xC2\xA7pw\xC2\xA7host\xC2\xA7Home\xC2\xA7"
                                             "1433\xC2\xA7x]",
                                             "DATR",
                                             "UPDA[5\xC2\xA7"
                                             "1\xC2\xA7NamesU\xC2\xA7"
                                             "9]"};
  EXPECT_EQ(r.calls, expected);

  Recorder quiet;
  quiet.available = false;  // "+OK CONNECT" is CONN: identification finds no database
  for (const char* m : {"+OK PVTE", "+OK BDID", "+OK XXXX", "+OK DATRX", "+OKDATR", "-ERR DATR",
                        "DATR", "+ok DATR", "", "+OK", "+OK CONNECT"}) {
    DispatchReply(m, quiet);
  }
  // "+OK DATRX" is DATR with an argument X; "+OKDATR" has the word "ATR".
  EXPECT_EQ(quiet.calls, std::vector<std::string>{"DATR"});
  EXPECT_TRUE(quiet.sent.empty());
}

TEST(ReplyDispatch, IdentificationSendsTheStoredOrAFreshKeyAndFailuresStaySilent) {
  Recorder r;
  DispatchReply("+OK CONN", r);
  DispatchReply("+OK INID O'Brien's key", r);
  DispatchReply("+OK rpid", r);
  EXPECT_EQ(r.sent, (std::vector<std::string>{"NWID FRESH", "PVID O'Brien's key"}));

  // With the local database away nothing is sent, stored or thrown.
  r.available = false;
  DispatchReply("+OK INID SECOND", r);
  DispatchReply("+OK CONN", r);
  EXPECT_EQ(r.sent.size(), 2u);
  EXPECT_EQ(r.stored, "O'Brien's key");
}
