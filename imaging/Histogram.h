// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>

#include "Bitmap.h"

// How many pixels of a picture hold each byte value, channel by channel.
struct THistogram {
  static constexpr int Levels = 256;
  using Counts = std::array<std::uint64_t, Levels>;

  // 1 for an 8-bit picture (its bytes: grey levels or palette indices), 3 for a 24-bit and 4 for
  // a 32-bit picture, in the order the pixels store them: blue, green, red, alpha.
  int channels = 0;
  std::array<Counts, 4> channel{};
  // The largest colour byte of each pixel (alpha left out); an 8-bit pixel's own byte. Threshold t
  // turns a pixel black exactly when this lies below t.
  Counts brightest{};
  std::uint64_t pixels = 0;
};

THistogram ComputeHistogram(const TBitmap& bitmap);

// The colour bytes of a picture counted together, as the threshold treats them alike: every byte
// of an 8-bit or a 24-bit row's pixels, blue, green and red of a 32-bit one (not alpha).
THistogram::Counts CountColourBytes(const TBitmap& bitmap);

// How many of the counted values lie below `threshold`: all of them above 255, none below 1.
std::uint64_t CountBelow(const THistogram::Counts& counts, int threshold);
