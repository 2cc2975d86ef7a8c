// The reply dispatcher: how messages are trimmed and taken apart, and which
// words reach which handler.
#include "link/dispatcher.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
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

std::string Word(const std::string& message) {
  auto r = ParseReply(message);
  return r ? r->word : "<ignored>";
}

std::string Arg(const std::string& message) {
  auto r = ParseReply(message);
  return r ? r->argument : "<ignored>";
}

}  // namespace

TEST(ReplyTrimming, LeadingLineBreaksAndOneTrailingLineFeedAreDropped) {
  EXPECT_EQ(Word("+OK CONN"), "CONN");
  EXPECT_EQ(Word("\n+OK CONN"), "CONN");
  EXPECT_EQ(Word("\r\n+OK CONN"), "CONN");
  EXPECT_EQ(Word("\n\r\n+OK CONN"), "CONN");
  EXPECT_EQ(Arg("+OK INID KEY\n"), "KEY");
  EXPECT_EQ(Arg("\r\n+OK INID KEY\n"), "KEY");
  // Only one of each is dropped, in that order.
  EXPECT_EQ(Word("\n\n+OK CONN"), "<ignored>");
  EXPECT_EQ(Word("\r\n\n+OK CONN"), "<ignored>");
  EXPECT_EQ(Word("\r+OK CONN"), "<ignored>");
  EXPECT_EQ(Arg("+OK INID KEY\n\n"), "KEY\n");
  // A trailing carriage return stays part of the argument.
  EXPECT_EQ(Arg("+OK INID KEY\r"), "KEY\r");
  EXPECT_EQ(Arg("+OK INID KEY\r\n"), "KEY\r");
  // Nothing left, or only line breaks: ignored.
  EXPECT_EQ(Word(""), "<ignored>");
  EXPECT_EQ(Word("\n"), "<ignored>");
  EXPECT_EQ(Word("\r\n"), "<ignored>");
  EXPECT_EQ(Word("\n\r\n\n"), "<ignored>");
}

TEST(ReplyFields, WordAndArgumentStandInFixedColumns) {
  // "+OK" is case-sensitive, the word is not.
  EXPECT_EQ(Word("+ok CONN"), "<ignored>");
  EXPECT_EQ(Word("+Ok CONN"), "<ignored>");
  EXPECT_EQ(Word(" +OK CONN"), "<ignored>");
  EXPECT_EQ(Word("+OK conn"), "CONN");
  EXPECT_EQ(Word("+OK vDiD 7"), "VDID");
  // Whatever stands in columns 4 and 9 is skipped.
  EXPECT_EQ(Word("+OKxINIDyABC"), "INID");
  EXPECT_EQ(Arg("+OKxINIDyABC"), "ABC");
  EXPECT_EQ(Arg("+OK\xC2\xA7INID\xC2\xA7"
                "ABC"),
            "ABC");  // "§" is one character
  EXPECT_EQ(Arg("+OK INID  ABC "), " ABC ");
  // Short messages.
  EXPECT_EQ(Word("+OK"), "");
  EXPECT_EQ(Word("+OK CON"), "CON");
  EXPECT_EQ(Arg("+OK VDID"), "");
  EXPECT_EQ(Arg("+OK VDID "), "");
  // Characters, not bytes: a two-byte letter inside the word.
  EXPECT_EQ(Word("+OK \xC3\xA9"
                 "ABC DEF"),
            "\xC3\xA9"
            "ABC");
  EXPECT_EQ(Arg("+OK \xC3\xA9"
                "ABC DEF"),
            "DEF");
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
