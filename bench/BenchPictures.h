// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "Bitmap.h"

// The pictures every benchmark works on: 6000 x 4000, the size of a 24-megapixel photo.
inline constexpr int kBenchWidth = 6000;
inline constexpr int kBenchHeight = 4000;

// A photograph-like picture: smooth gradients with a little noise, so that no kernel meets only
// one kind of value and files compress as photos do.
inline TBitmap PhotoLike(TPixelFormat format, std::uint32_t seed) {
  TBitmap bitmap(kBenchWidth, kBenchHeight, format);
  std::uint32_t state = seed;
  for (int i = 0; i < bitmap.Height(); ++i) {
    std::uint8_t* row = bitmap.ScanLine(i);
    for (std::size_t j = 0; j < bitmap.RowBytes(); ++j) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      row[j] = static_cast<std::uint8_t>((i / 16 + j / 24) * 3 + (state & 31));
    }
  }
  return bitmap;
}
