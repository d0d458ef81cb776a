#include "Simd.h"

#include <gtest/gtest.h>

TEST(Simd, AskingForMoreThanTheProcessorHasGivesWhatItHas) {
  const SimdLevel before = ActiveSimdLevel();
  EXPECT_EQ(SetSimdLevel(SimdLevel::Avx512), SupportedSimdLevel());
  EXPECT_EQ(ActiveSimdLevel(), SupportedSimdLevel());
  EXPECT_EQ(SetSimdLevel(SimdLevel::Baseline), SimdLevel::Baseline);
  EXPECT_EQ(ActiveSimdLevel(), SimdLevel::Baseline);
  SetSimdLevel(before);
}
