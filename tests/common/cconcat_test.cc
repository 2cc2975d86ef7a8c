#include "common/cconcat.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/error.h"

namespace pv::common {
namespace {

// The exact capacities are the buffer's own business (nothing outside reads
// them); what counts is that every part fits and the text is kept whole.
TEST(CConCat, AppendsCutsAndRewritesMatchAPlainString) {
  // Random appends (shorter and longer than the increment), front cuts and
  // rewrites against a plain string.
  std::mt19937 rng(12345);
  CConCat b;
  EXPECT_EQ(b.Text(), "");
  b.SetIncrement(0);  // refused: the buffer would never grow
  b.SetIncrement(-5);
  EXPECT_GT(b.Increment(), 0);
  b.SetIncrement(64);
  std::string model;
  for (int step = 0; step < 20000; ++step) {
    int op = static_cast<int>(rng() % 10);
    if (op < 6) {
      std::string part(rng() % 100, static_cast<char>('a' + rng() % 26));
      b.Cat(part);
      model += part;
    } else if (op < 9) {
      int n = model.empty() ? 0 : static_cast<int>(rng() % (model.size() + 1));
      b.Consume(n);
      model.erase(0, static_cast<std::size_t>(n));
    } else {
      std::string text(rng() % 20, 'T');
      b.SetText(text);
      model = text;
    }
    ASSERT_EQ(b.Length(), static_cast<std::int32_t>(model.size()));
    ASSERT_EQ(b.View(), model);
    ASSERT_GE(b.Capacity(), b.Length());
  }
  EXPECT_EQ(b.Text(), model);
}

TEST(CConCat, OverflowOfTheLengthIsRaisedWithTheMembersSource) {
  CConCat b;
  b.Cat("x");
  // A part whose length would pass the 32-bit range; its bytes are never read.
  std::string_view huge("y", 1);
  huge = std::string_view(huge.data(), 0x7fffffffu);
  try {
    b.Cat(huge);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrOverflow);
    EXPECT_EQ(e.source(), ", CConCat.Cat");
  }
  EXPECT_EQ(b.Text(), "x");
}

}  // namespace
}  // namespace pv::common
