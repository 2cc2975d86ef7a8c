// The reply dispatcher: how messages are trimmed and taken apart, which words
// reach which handler, and the installation key on a real local database.
#include "link/dispatcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/protocol/local_site.h"

namespace fs = std::filesystem;
using pv::link::DispatchReply;
using pv::link::ParseReply;

namespace {

struct Recorder : pv::link::ReplyTarget {
  void SendMessage(const std::string& text) override { sent.push_back(text); }
  pv::db::Connection* LocalConnection() override { return local; }
  void InstallationConfirmed(const std::string& id) override {
    calls.push_back("VDID[" + id + "]");
  }
  void CentralConnectionData(const std::string& a) override { calls.push_back("DBIN[" + a + "]"); }
  void FullUploadRequested() override { calls.push_back("DATR"); }
  void CentralChange(const std::string& a) override { calls.push_back("UPDA[" + a + "]"); }

  pv::db::Connection* local = nullptr;
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
  for (const char* m : {"+OK PVTE", "+OK BDID", "+OK XXXX", "+OK DATRX", "+OKDATR", "-ERR DATR",
                        "DATR", "+ok DATR", "", "+OK", "+OK CONNECT"}) {
    DispatchReply(m, quiet);
  }
  // "+OK DATRX" is DATR with an argument X; "+OKDATR" has the word "ATR".
  EXPECT_EQ(quiet.calls, std::vector<std::string>{"DATR"});
  EXPECT_TRUE(quiet.sent.empty());
}

TEST(RandomKey, FiftyUpperCaseLettersFreshEachTime) {
  std::set<std::string> keys;
  std::set<char> letters;
  for (int i = 0; i < 100; ++i) {
    const std::string key = pv::link::RandomID(50);
    ASSERT_EQ(key.size(), 50u);
    for (char c : key) {
      ASSERT_TRUE(c >= 'A' && c <= 'Z') << key;
      letters.insert(c);
    }
    keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 100u);  // drawn within the same second, all different
  EXPECT_EQ(letters.size(), 26u);
  EXPECT_EQ(pv::link::RandomID(0), "");
  EXPECT_EQ(pv::link::RandomID(-3), "");
  EXPECT_EQ(pv::link::RandomID(1).size(), 1u);
}

class InstallationKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = pv::testing::MakeTempDir("pvprotocol"); }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_;
};

TEST_F(InstallationKeyTest, SettingsWithoutTheColumnGainItAndNewKeysAreNotStored) {
  pv::testing::LocalSite site(dir_, "1433", "", false);
  auto local = site.Connect();
  Recorder r;
  r.local = local.get();

  DispatchReply("+OK CONN", r);
  DispatchReply("+OK RPID", r);
  ASSERT_EQ(r.sent.size(), 2u);
  for (const auto& m : r.sent) {
    ASSERT_EQ(m.size(), 55u) << m;
    EXPECT_EQ(m.substr(0, 5), "NWID ");
  }
  EXPECT_NE(r.sent[0], r.sent[1]);
  // The column exists now, still empty: a fresh key is not written.
  EXPECT_EQ(site.StoredKey(), "<null>");

  // An empty stored key counts as none.
  local->Execute("Update Settings Set installationID = '';");
  DispatchReply("+OK CONN", r);
  EXPECT_EQ(r.sent.back().substr(0, 5), "NWID ");
}

TEST_F(InstallationKeyTest, AssignedKeyIsStoredAsReceivedAndSentWithPvid) {
  pv::testing::LocalSite site(dir_, "1433", "", true);
  auto local = site.Connect();
  Recorder r;
  r.local = local.get();

  // Quotes are doubled in the statement, so the key arrives intact.
  DispatchReply("+OK INID O'Brien's key'; Drop Table Settings; --", r);
  EXPECT_EQ(site.StoredKey(), "O'Brien's key'; Drop Table Settings; --");
  DispatchReply("+OK CONN", r);
  ASSERT_EQ(r.sent.size(), 1u);
  EXPECT_EQ(r.sent[0], "PVID O'Brien's key'; Drop Table Settings; --");

  DispatchReply("+OK INID ABCDEFGHIJ", r);
  DispatchReply("+OK RPID", r);
  ASSERT_EQ(r.sent.size(), 2u);
  EXPECT_EQ(r.sent[1], "PVID ABCDEFGHIJ");
}

TEST_F(InstallationKeyTest, FailingLocalDatabaseEndsTheDispatchSilently) {
  pv::testing::LocalSite site(dir_, "1433", "", true);
  auto local = site.Connect();
  Recorder r;
  r.local = local.get();
  DispatchReply("+OK INID FIRSTKEY", r);
  site.SetOnline(false);
  DispatchReply("+OK INID SECONDKEY", r);
  DispatchReply("+OK CONN", r);
  EXPECT_TRUE(r.sent.empty());
  site.SetOnline(true);
  EXPECT_EQ(site.StoredKey(), "FIRSTKEY");
}
