#include "link/link_session.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "tests/link/link_peer.h"
#include "tests/support/wait.h"

namespace pv::link {
namespace {

using namespace std::chrono_literals;
using pv::testing::RunFor;
using pv::testing::RunUntil;
using testing::Peer;

const std::string kDelim(kDelimiter);

class LinkTest : public ::testing::Test {
 protected:
  void Make(std::chrono::milliseconds interval = 60000ms, std::string port = {}) {
    LinkHooks hooks;
    hooks.onMessage = [this](const std::string& m) {
      messages.push_back(m);
      if (react) react(m);
    };
    hooks.onStopUpdateQueue = [this] { ++queueStops; };
    hooks.log = [this](const std::string& m, long n, const std::string& d) {
      logLines.push_back(m + " - " + std::to_string(n) + " - " + d);
    };
    session = std::make_unique<LinkSession>(io, "localhost", port.empty() ? peer.port() : port,
                                            hooks, interval);
  }

  void Connect() {
    peer.pump = [this] {
      io.restart();
      io.run_for(2ms);
    };
    session->ConnectLink();
    ASSERT_TRUE(RunUntil(io, [&] { return session->connected(); }));
    ASSERT_TRUE(peer.TryAccept());
  }

  // Runs the loop until the peer has received `size` bytes.
  bool PeerReceives(std::size_t size, std::chrono::milliseconds limit = 5000ms) {
    return RunUntil(
        io, [&] { return peer.received().size() >= size; }, limit, [&] { peer.Drain(); });
  }

  asio::io_context io;
  Peer peer;
  std::unique_ptr<LinkSession> session;
  std::vector<std::string> messages;
  std::vector<std::string> logLines;
  std::function<void(const std::string&)> react;
  int queueStops = 0;
};

// How reads of any size are cut into messages is checked on ReceiveFramer
// itself; here, that the session hands them on in order and keeps the tail.
TEST_F(LinkTest, MessagesOfOneReadArriveInOrderAndTheTailWaits) {
  Make();
  Connect();
  peer.Write("A" + kDelim + "+OK B" + kDelim + kDelim + "C");
  ASSERT_TRUE(RunUntil(io, [&] { return messages.size() == 3; }));
  RunFor(io, 20ms);
  EXPECT_EQ(messages, (std::vector<std::string>{"A", "+OK B", ""}));
  EXPECT_EQ(session->receiveBufferLength(), 1u);
  peer.Write("D" + kDelim);
  ASSERT_TRUE(RunUntil(io, [&] { return messages.size() == 4; }));
  EXPECT_EQ(messages.back(), "CD");
}

TEST_F(LinkTest, SendAppendsTheDelimiterHonoursItsFlagsAndSkipsEmptyText) {
  Make();
  Connect();
  session->SendMessage("PVID KEY");
  session->SendMessage("");
  session->SendMessage("x", true, false);
  session->SendMessage("raw", false, true);
  std::string expected = "PVID KEY" + kDelim + "+OK x" + kDelim + "raw";
  ASSERT_TRUE(PeerReceives(expected.size()));
  RunFor(io, 20ms);
  peer.Drain();
  EXPECT_EQ(peer.received(), expected);
}

TEST_F(LinkTest, RefusedWriteKeepsTheRestFirstInLineAndResumesWhenWritable) {
  Make();
  Connect();
  std::string big;
  for (int i = 0; big.size() < 6u * 1024 * 1024; ++i) big += std::to_string(i) + ",";
  session->SendMessage(big);
  // The peer is not reading: the socket refused part of it.
  ASSERT_GT(session->sendQueueLength(), 0u);
  session->SendMessage("after");
  std::string expected = big + kDelim + "after" + kDelim;
  ASSERT_TRUE(PeerReceives(expected.size(), 30000ms));
  EXPECT_TRUE(peer.received() == expected);
  EXPECT_EQ(session->sendQueueLength(), 0u);
  EXPECT_TRUE(session->connected());
}

TEST_F(LinkTest, FailedWriteDropsTheLinkAndItsQueueButKeepsSupervision) {
  Make();
  Connect();
  peer.Reset();
  std::this_thread::sleep_for(50ms);  // the reset reaches the session's socket
  session->SendMessage("UDPH");
  EXPECT_FALSE(session->connected());
  EXPECT_EQ(session->handle(), -1);
  EXPECT_EQ(session->sendQueueLength(), 0u);
  EXPECT_EQ(queueStops, 1);
  EXPECT_TRUE(session->socketTimer().enabled());
}

TEST_F(LinkTest, PeerResetOrCloseClearsBothBuffersAndTheNextTickReconnects) {
  Make(150ms);
  for (bool reset : {true, false}) {
    SCOPED_TRACE(reset ? "reset" : "close");
    int accepted = peer.accepted();
    int stops = queueStops;
    if (!session->connected()) Connect();
    peer.Write("+OK par");
    ASSERT_TRUE(RunUntil(io, [&] { return session->receiveBufferLength() == 7; }));
    reset ? peer.Reset() : peer.Close();
    ASSERT_TRUE(RunUntil(io, [&] { return !session->connected(); }));
    EXPECT_EQ(session->receiveBufferLength(), 0u);
    EXPECT_EQ(session->sendQueueLength(), 0u);
    EXPECT_GT(queueStops, stops);
    EXPECT_TRUE(session->socketTimer().enabled());

    ASSERT_TRUE(RunUntil(io, [&] { return session->connected(); }));
    ASSERT_TRUE(peer.TryAccept());
    EXPECT_GT(peer.accepted(), accepted);
    peer.Write("+OK CONN" + kDelim);
    ASSERT_TRUE(RunUntil(io, [&] { return !messages.empty(); }));
    EXPECT_EQ(messages.back(), "+OK CONN");  // the old partial message is gone
    messages.clear();
  }
}

TEST_F(LinkTest, TickWithoutASocketConnectsAndARefusedConnectWaitsForTheNextTick) {
  std::string closedPort;
  {
    asio::ip::tcp::acceptor probe(io, {asio::ip::address_v4::loopback(), 0});
    closedPort = std::to_string(probe.local_endpoint().port());
  }
  Make(100ms, closedPort);
  session->ConnectLink();
  EXPECT_TRUE(session->connecting());
  EXPECT_TRUE(session->socketTimer().enabled());
  ASSERT_TRUE(RunUntil(io, [&] { return !session->connecting(); }));
  EXPECT_FALSE(session->connected());
  EXPECT_EQ(session->handle(), -1);
  RunFor(io, 350ms);  // ticks retry without effect
  EXPECT_GE(session->socketTimer().ticks(), 2u);
  EXPECT_FALSE(session->connected());

  Make(100ms);
  session->socketTimer().Enable();  // supervision on, no socket at all
  ASSERT_TRUE(RunUntil(io, [&] { return session->connected(); }));
  EXPECT_TRUE(peer.TryAccept());
}

TEST_F(LinkTest, KeepaliveGoesOutOncePerTickWhileUp) {
  Make(100ms);
  Connect();
  RunFor(io, 450ms);
  auto ticks = session->socketTimer().ticks();
  ASSERT_GE(ticks, 3u);
  std::string expected;
  for (std::uint64_t i = 0; i < ticks; ++i) expected += "PVTE" + kDelim;
  ASSERT_TRUE(PeerReceives(expected.size()));
  EXPECT_EQ(peer.received().substr(0, expected.size()), expected);
}

TEST_F(LinkTest, MoreThanOneMebibyteWithoutDelimiterDropsTheLinkWithOneLogLine) {
  Make(60000ms);
  Connect();
  peer.Write("+OK FIRST" + kDelim + std::string(kMaxPendingBytes, 'x'));
  ASSERT_TRUE(RunUntil(io, [&] { return session->receiveBufferLength() == kMaxPendingBytes; }));
  EXPECT_TRUE(session->connected());
  EXPECT_EQ(messages, std::vector<std::string>{"+OK FIRST"});
  EXPECT_TRUE(logLines.empty());

  peer.Write("x");
  ASSERT_TRUE(RunUntil(io, [&] { return !session->connected(); }));
  ASSERT_EQ(logLines.size(), 1u);
  EXPECT_EQ(logLines[0].rfind("OnLinkReadable() - 10040 - ", 0), 0u);
  EXPECT_EQ(session->receiveBufferLength(), 0u);
  EXPECT_EQ(queueStops, 1);
  EXPECT_TRUE(session->socketTimer().enabled());
}

TEST_F(LinkTest, HandlerMayReplyOrDropTheLinkWhileMessagesWait) {
  Make();
  Connect();
  react = [&](const std::string& m) {
    if (m == "+OK CONN") session->SendMessage("NWID ABC");
    if (m == "+OK DROP") session->DisconnectLink(false);
  };
  peer.Write("+OK CONN" + kDelim + "+OK DROP" + kDelim + "+OK LOST" + kDelim);
  ASSERT_TRUE(RunUntil(io, [&] { return !session->connected(); }));
  RunFor(io, 20ms);
  EXPECT_EQ(messages, (std::vector<std::string>{"+OK CONN", "+OK DROP"}));
  peer.Drain();
  EXPECT_EQ(peer.received(), "NWID ABC" + kDelim);
  EXPECT_TRUE(session->socketTimer().enabled());

  session->DisconnectLink(true);
  EXPECT_FALSE(session->socketTimer().enabled());
  EXPECT_EQ(queueStops, 2);
}

}  // namespace
}  // namespace pv::link
