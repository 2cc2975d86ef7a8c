#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "link/link_session.h"

namespace pv::link {
namespace {

TEST(ReceiveFramer, AnySplitOfTheStreamYieldsTheSameMessages) {
  const std::string d(kDelimiter);
  std::vector<std::string> sent = {"+OK CONN", "", "+OK VDID 17", ":tPVSt", "x:tPV", "", "end"};
  std::string stream;
  for (auto& m : sent) stream += m + d;
  stream += ":tPVS";  // an unfinished delimiter stays behind

  std::mt19937 rng(7);
  for (int round = 0; round < 500; ++round) {
    ReceiveFramer framer;
    std::vector<std::string> got;
    std::string message;
    std::size_t at = 0;
    while (at < stream.size()) {
      std::size_t n = 1 + rng() % 9;
      framer.Append(std::string_view(stream).substr(at, n));
      at += n;
      while (framer.Next(message)) got.push_back(message);
    }
    ASSERT_EQ(got, sent) << "round " << round;
    EXPECT_EQ(framer.pending(), 5u);
  }
}

}  // namespace
}  // namespace pv::link
