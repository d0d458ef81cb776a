#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "Simd.h"

// Runs each test once per instruction-set level, skipping those this processor lacks.
class AtEachSimdLevel : public ::testing::TestWithParam<SimdLevel> {
 protected:
  void SetUp() override {
    if (GetParam() > SupportedSimdLevel())
      GTEST_SKIP() << SimdLevelName(GetParam()) << " is not supported here";
    previous_ = ActiveSimdLevel();
    SetSimdLevel(GetParam());
  }
  void TearDown() override { SetSimdLevel(previous_); }

 private:
  SimdLevel previous_ = SimdLevel::Baseline;
};

#define CCDLAB_INSTANTIATE_AT_EACH_SIMD_LEVEL(suite)                                             \
  INSTANTIATE_TEST_SUITE_P(                                                                      \
      Levels, suite, ::testing::Values(SimdLevel::Baseline, SimdLevel::Avx2, SimdLevel::Avx512), \
      [](const ::testing::TestParamInfo<SimdLevel>& info) {                                      \
        return std::string(SimdLevelName(info.param));                                           \
      })

// A bitmap whose every byte, the padding at the end of each row included, is random.
inline TBitmap RandomBitmap(int width, int height, TPixelFormat format, std::mt19937& random) {
  TBitmap bitmap(width, height, format);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < height; ++i)
    for (std::size_t j = 0; j < bitmap.Stride(); ++j)
      bitmap.ScanLine(i)[j] = static_cast<std::uint8_t>(byte(random));
  return bitmap;
}

// A bitmap of the given rows, one value per byte.
inline TBitmap Rows8(const std::vector<std::vector<int>>& rows) {
  TBitmap bitmap(static_cast<int>(rows.empty() ? 0 : rows[0].size()), static_cast<int>(rows.size()),
                 TPixelFormat::pf8bit);
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (std::size_t j = 0; j < rows[i].size(); ++j)
      bitmap.ScanLine(static_cast<int>(i))[j] = static_cast<std::uint8_t>(rows[i][j]);
  return bitmap;
}

inline std::vector<std::vector<int>> RowsOf(const TBitmap& bitmap) {
  std::vector<std::vector<int>> rows;
  for (int i = 0; i < bitmap.Height(); ++i)
    rows.emplace_back(bitmap.ScanLine(i), bitmap.ScanLine(i) + bitmap.RowBytes());
  return rows;
}

// Same size, depth, palette and every byte, row padding included.
inline ::testing::AssertionResult SameBitmaps(const TBitmap& expected, const TBitmap& actual) {
  if (expected.Width() != actual.Width() || expected.Height() != actual.Height() ||
      expected.PixelFormat() != actual.PixelFormat())
    return ::testing::AssertionFailure()
           << "expected " << expected.Width() << "x" << expected.Height() << "x"
           << static_cast<int>(expected.PixelFormat()) << ", got " << actual.Width() << "x"
           << actual.Height() << "x" << static_cast<int>(actual.PixelFormat());
  const bool expectedPalette = expected.Palette() != nullptr;
  const bool actualPalette = actual.Palette() != nullptr;
  if (expectedPalette != actualPalette ||
      (expectedPalette && !(*expected.Palette() == *actual.Palette())))
    return ::testing::AssertionFailure() << "palettes differ";
  for (int i = 0; i < expected.Height(); ++i)
    for (std::size_t j = 0; j < expected.Stride(); ++j)
      if (expected.ScanLine(i)[j] != actual.ScanLine(i)[j])
        return ::testing::AssertionFailure()
               << "row " << i << " byte " << j << ": expected " << int{expected.ScanLine(i)[j]}
               << ", got " << int{actual.ScanLine(i)[j]};
  return ::testing::AssertionSuccess();
}

// Widths and heights that put every kernel's edges, vector blocks and tails in every position:
// 1 … 67, and a few wider rows for the widest vectors.
inline std::vector<int> AwkwardSizes() {
  std::vector<int> sizes;
  for (int n = 1; n <= 67; ++n)
    sizes.push_back(n);
  return sizes;
}
