// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Bitmap.h"

// One output row of a 3 x 3 filter from three rows of the picture as it was, `count` bytes each;
// the row above the first and below the last are the edge rows themselves.
struct FilterRows {
  const std::uint8_t* above;
  const std::uint8_t* current;
  const std::uint8_t* below;
  std::uint8_t* out;
  std::size_t count;
};

// Runs `row(rows)` for every row of the bitmap, in place; without `edgeRows` the first and the
// last row stay as they are. Only the two original rows still needed are kept aside: the row
// above, and the row being replaced.
template <class Row>
void FilterInPlace(TBitmap& bitmap, Row row, bool edgeRows = true) {
  if (bitmap.Empty())
    return;
  const int height = bitmap.Height();
  const std::size_t count = bitmap.RowBytes();
  std::vector<std::uint8_t> saved(2 * count);
  std::uint8_t* buffers[2] = {saved.data(), saved.data() + count};
  const std::uint8_t* previous = nullptr;
  for (int i = 0; i < height; ++i) {
    std::uint8_t* target = bitmap.ScanLine(i);
    std::uint8_t* current = buffers[i & 1];
    std::memcpy(current, target, count);
    if (edgeRows || (i > 0 && i + 1 < height))
      row(FilterRows{previous != nullptr ? previous : current, current,
                     i + 1 < height ? bitmap.ScanLine(i + 1) : current, target, count});
    previous = current;
  }
}
