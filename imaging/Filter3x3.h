// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Bitmap.h"

// One output row of a 3 x 3 filter from three rows of the picture as it was, `count` bytes each;
// the row above the first and below the last are the edge rows themselves. The three are copies
// starting on a 64-byte boundary, with kFilterPad readable bytes on either side, the first and
// the last pixel repeated into the pixel beside them: a neighbour beyond the border is a plain
// load, and the loads of whole vectors do not straddle cache lines.
struct FilterRows {
  const std::uint8_t* above;
  const std::uint8_t* current;
  const std::uint8_t* below;
  std::uint8_t* out;
  std::size_t count;
};

inline constexpr std::size_t kFilterPad = 64;

// Runs `row(rows)` for every row of the bitmap, in place; without `edgeRows` the first and the
// last row stay as they are. Each row is copied once, into the one of three buffers that no
// longer holds a row still needed.
template <class Row>
void FilterInPlace(TBitmap& bitmap, Row row, bool edgeRows = true) {
  if (bitmap.Empty())
    return;
  const int height = bitmap.Height();
  const std::size_t count = bitmap.RowBytes();
  const std::size_t bytes = static_cast<std::size_t>(bitmap.BytesPerPixel());
  const std::size_t span = (count + 2 * kFilterPad + 63) / 64 * 64;
  // Zeroed, so that the bytes of the padding no result depends on are not read uninitialised.
  std::vector<std::uint8_t> storage(3 * span + 63);
  std::uint8_t* base = storage.data() + (-reinterpret_cast<std::uintptr_t>(storage.data()) & 63);
  const auto copy = [&](int i) {
    std::uint8_t* copied = base + static_cast<std::size_t>(i % 3) * span + kFilterPad;
    std::memcpy(copied, bitmap.ScanLine(i), count);
    std::memcpy(copied - bytes, copied, bytes);
    std::memcpy(copied + count, copied + count - bytes, bytes);
    return copied;
  };
  const std::uint8_t* current = copy(0);
  const std::uint8_t* above = current;
  for (int i = 0; i < height; ++i) {
    const std::uint8_t* below = i + 1 < height ? copy(i + 1) : current;
    if (edgeRows || (i > 0 && i + 1 < height))
      row(FilterRows{above, current, below, bitmap.ScanLine(i), count});
    above = current;
    current = below;
  }
}
