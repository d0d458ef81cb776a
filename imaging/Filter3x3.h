// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Bitmap.h"
#include "TwoHalves.h"

// One output row of a 3 x 3 filter from three rows of the picture as it was, `count` bytes each;
// the row above the first and below the last are the edge rows themselves. The three are copies
// starting on a 64-byte boundary, with kFilterPad readable bytes on either side, the first and
// the last pixel repeated into the pixel beside them: a neighbour beyond the border is a plain
// load, and the loads of whole vectors do not straddle cache lines.
// Beside each copy, kept bytes (FilterKeptBytes) where the kernel keeps what it works out from
// the row alone: each row is worked across once, not once for each of the three outputs it is
// in. `fresh` says which rows are new to the kernel: 1 the current row, 2 the row below.
struct FilterRows {
  const std::uint8_t* above;
  const std::uint8_t* current;
  const std::uint8_t* below;
  std::uint8_t* out;
  std::size_t count;
  std::uint8_t* keptAbove;
  std::uint8_t* keptCurrent;
  std::uint8_t* keptBelow;
  unsigned fresh;
};

inline constexpr std::size_t kFilterPad = 64;

// Room for four vectors for every vector of a row, and four more for the last, overlapping one,
// with vectors of up to 256 bytes.
inline std::size_t FilterKeptBytes(std::size_t count) {
  return 4 * (count + 256);
}

// Runs `row(rows)` for the rows [first, last) of the bitmap, in place; without `edgeRows` the
// first and the last row of the picture stay as they are. Each row is copied once, into the one
// of three buffers that no longer holds a row still needed. `aboveFirst` and `belowLast` are the
// rows first - 1 and last as they were, where another band may be overwriting them.
template <class Row>
void FilterBand(TBitmap& bitmap, int first, int last, const std::uint8_t* aboveFirst,
                const std::uint8_t* belowLast, Row row, bool edgeRows) {
  const int height = bitmap.Height();
  const std::size_t count = bitmap.RowBytes();
  const std::size_t bytes = static_cast<std::size_t>(bitmap.BytesPerPixel());
  const std::size_t span = (count + 2 * kFilterPad + 63) / 64 * 64;
  const std::size_t kept = (FilterKeptBytes(count) + 63) / 64 * 64;
  // Zeroed, so that the bytes of the padding no result depends on are not read uninitialised.
  std::vector<std::uint8_t> storage(3 * (span + kept) + 63);
  std::uint8_t* base = storage.data() + (-reinterpret_cast<std::uintptr_t>(storage.data()) & 63);
  const auto original = [&](int i) -> const std::uint8_t* {
    if (i == first - 1)
      return aboveFirst;
    return i == last ? belowLast : bitmap.ScanLine(i);
  };
  const auto copy = [&](int i) {
    std::uint8_t* copied = base + static_cast<std::size_t>(i % 3) * span + kFilterPad;
    std::memcpy(copied, original(i), count);
    std::memcpy(copied - bytes, copied, bytes);
    std::memcpy(copied + count, copied + count - bytes, bytes);
    return copied;
  };
  const auto keptOf = [&](int i) {
    return base + 3 * span + static_cast<std::size_t>(i % 3) * kept;
  };
  const std::uint8_t* current = copy(first);
  const std::uint8_t* above = current;
  if (first > 0) {
    // The row above is worked across for what it keeps, with no output.
    above = copy(first - 1);
    row(FilterRows{above, above, above, nullptr, count, keptOf(first - 1), keptOf(first - 1),
                   keptOf(first - 1), 1u});
  }
  for (int i = first; i < last; ++i) {
    const bool belowNew = i + 1 < height;
    const std::uint8_t* below = belowNew ? copy(i + 1) : current;
    // The row after is on its way from memory while this one is worked out: copied cold, it
    // would take as long as the work.
    if (i + 2 < last) {
      const std::uint8_t* next = bitmap.ScanLine(i + 2);
      for (std::size_t k = 0; k < count; k += 64)
        __builtin_prefetch(next + k);
    }
    // Every row is worked across, edge rows too, as the rows beside them need it.
    row(FilterRows{above, current, below,
                   edgeRows || (i > 0 && belowNew) ? bitmap.ScanLine(i) : nullptr, count,
                   keptOf(i > 0 ? i - 1 : 0), keptOf(i), belowNew ? keptOf(i + 1) : keptOf(i),
                   (i == first ? 1u : 0u) | (belowNew ? 2u : 0u)});
    above = current;
    current = below;
  }
}

// Runs `row(rows)` for every row of the bitmap, in place, a large picture in two bands at once;
// without `edgeRows` the first and the last row stay as they are.
template <class Row>
void FilterInPlace(TBitmap& bitmap, Row row, bool edgeRows = true) {
  if (bitmap.Empty())
    return;
  const int height = bitmap.Height();
  const std::size_t count = bitmap.RowBytes();
  // The two rows where the bands meet: each band overwrites one the other reads.
  const std::vector<std::uint8_t> meeting = RowsAsTheyWere(bitmap, height / 2 - 1, height / 2 + 1);
  InTwoHalves(height, PixelBytes(bitmap), [&](int first, int last) {
    FilterBand(bitmap, first, last, first > 0 ? meeting.data() : nullptr,
               last < height ? meeting.data() + count : nullptr, row, edgeRows);
  });
}
