// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Bitmap.h"
#include "BitmapTesting.h"
#include "Simd.h"

// Runs each test once per instruction-set target this processor runs.
class AtEachSimdTarget : public ::testing::TestWithParam<SimdTarget> {
 protected:
  void SetUp() override {
    previous_ = ActiveSimdTarget();
    ASSERT_EQ(UseSimdTarget(GetParam()), GetParam());
  }
  void TearDown() override { UseSimdTarget(previous_); }

 private:
  SimdTarget previous_ = 0;
};

#define CCDLAB_INSTANTIATE_AT_EACH_SIMD_TARGET(suite)                             \
  INSTANTIATE_TEST_SUITE_P(Targets, suite, ::testing::ValuesIn(SimdTargets()),    \
                           [](const ::testing::TestParamInfo<SimdTarget>& info) { \
                             return std::string(SimdTargetName(info.param));      \
                           })

// Under an emulator (the cross-built tests) the tests meant for all 2^24 colours take a sample.
#ifdef CCDLAB_TESTS_EMULATED
constexpr bool kEmulated = true;
#else
constexpr bool kEmulated = false;
#endif

// Colours as B | G << 8 | R << 16: all of them, or under an emulator every 251st, every grey and
// every colour whose sum 299 R + 587 G + 114 B is a multiple of 1000, where the grey level lies a
// hair from a whole number and the rounding decides.
inline const std::vector<std::uint32_t>& ColoursToTest() {
  static const std::vector<std::uint32_t> colours = [] {
    std::vector<std::uint32_t> chosen;
    for (std::uint32_t key = 0; key < (1u << 24); ++key) {
      const std::uint32_t b = key & 255, g = (key >> 8) & 255, r = key >> 16;
      if (!kEmulated || key % 251 == 0 || (b == g && g == r) ||
          (299 * r + 587 * g + 114 * b) % 1000 == 0)
        chosen.push_back(key);
    }
    return chosen;
  }();
  return colours;
}

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

// Picture shapes that put every kernel's edges, vector blocks and tails in every position: every
// width and every height from 1 to 67 against each of `sides`, and rows of the `wide` widths,
// `high` rows tall, for the widest vectors.
inline std::vector<std::pair<int, int>> AwkwardShapes(std::initializer_list<int> sides,
                                                      std::initializer_list<int> wide,
                                                      std::initializer_list<int> high) {
  std::vector<std::pair<int, int>> shapes;
  for (int n = 1; n <= 67; ++n)
    for (int m : sides) {
      shapes.emplace_back(n, m);
      shapes.emplace_back(m, n);
    }
  for (int width : wide)
    for (int height : high)
      shapes.emplace_back(width, height);
  return shapes;
}
