// SPDX-License-Identifier: GPL-3.0-or-later
#include "TwoHalves.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Every row once, in one piece below the size or in two halves above it.
TEST(TwoHalves, CoverEveryRowOnce) {
  const bool twoCores = std::thread::hardware_concurrency() >= 2;
  const struct {
    int rows;
    std::size_t bytes;
    bool halves;
  } cases[] = {{1, kSplitBytes, false},
               {2, kSplitBytes, twoCores},
               {7, kSplitBytes - 1, false},
               {7, kSplitBytes, twoCores}};
  for (const auto& c : cases) {
    std::vector<std::atomic<int>> seen(static_cast<std::size_t>(c.rows));
    std::atomic<int> pieces = 0;
    InTwoHalves(c.rows, c.bytes, [&](int first, int last) {
      ++pieces;
      for (int i = first; i < last; ++i)
        ++seen[static_cast<std::size_t>(i)];
    });
    EXPECT_EQ(pieces, c.halves ? 2 : 1) << c.rows;
    for (const auto& row : seen)
      EXPECT_EQ(row, 1) << c.rows;
  }
}

// A failure on either side reaches the caller once both sides have ended, not the end of the
// process.
TEST(TwoHalves, AFailureOnEitherSideIsThrownToTheCaller) {
  for (const bool inTheThread : {true, false}) {
    std::atomic<int> ended = 0;
    const auto side = [&](bool fails) {
      return [&ended, fails] {
        ++ended;
        if (fails)
          throw std::runtime_error("failed");
      };
    };
    EXPECT_THROW(BothAtOnce(true, side(inTheThread), side(!inTheThread)), std::runtime_error);
    EXPECT_EQ(ended, 2) << inTheThread;
  }
}

}  // namespace
