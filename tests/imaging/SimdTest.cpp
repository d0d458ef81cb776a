// SPDX-License-Identifier: GPL-3.0-or-later
#include "Simd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "KernelTesting.h"

namespace {

TEST(Simd, EachTargetCanBeChosenAndTheWidestComesFirst) {
  const std::vector<SimdTarget> targets = SimdTargets();
  ASSERT_FALSE(targets.empty());
  const SimdTarget before = ActiveSimdTarget();
  for (std::size_t k = 0; k < targets.size(); ++k) {
    if (k > 0) {
      EXPECT_LT(targets[k - 1], targets[k]);
    }
    EXPECT_NE(std::string(SimdTargetName(targets[k])), "Unknown");
    EXPECT_EQ(UseSimdTarget(targets[k]), targets[k]);
    EXPECT_EQ(ActiveSimdTarget(), targets[k]);
  }
  // Wider than any there is: the widest there is.
  EXPECT_EQ(UseSimdTarget(1), targets.front());
  UseSimdTarget(before);
}

TEST(SimdDeathTest, EnvironmentChoosesTheTargetAtStartUp) {
  if (kEmulated)
    GTEST_SKIP() << "a new process under the emulator is not started by the emulator";
  // A fresh process, so that the variable is read as at start-up.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const SimdTarget narrowest = SimdTargets().back();
  setenv("CCDLAB_SIMD", SimdTargetName(narrowest), 1);
  EXPECT_EXIT(std::exit(ActiveSimdTarget() == narrowest ? 0 : 1), ::testing::ExitedWithCode(0), "");
  unsetenv("CCDLAB_SIMD");
}

}  // namespace
