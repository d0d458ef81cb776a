// SPDX-License-Identifier: GPL-3.0-or-later
#include "Laplacian.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "Simd.h"
#include "TwoHalves.h"

#ifndef CCDLAB_LAPLACIAN_SCALAR
#define CCDLAB_LAPLACIAN_SCALAR
namespace {

// One output row is computed from three rows of the picture as it was: `above`, `current` and
// `below`, `count` bytes each, `Bytes` bytes per pixel. The first and the last pixel take their
// neighbours from the other end of the row; the bytes between them need no wrap test.

inline std::uint8_t Clamp(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Pixel `centre` with its left and right neighbours at the given offsets.
template <int Bytes>
void Pixel(const std::uint8_t* above, const std::uint8_t* current, const std::uint8_t* below,
           std::uint8_t* out, std::size_t centre, std::size_t left, std::size_t right) {
  constexpr std::size_t kColours = Bytes == 4 ? 3 : Bytes;
  for (std::size_t c = 0; c < kColours; ++c) {
    const int v = 8 * current[centre + c] - above[left + c] - above[centre + c] - above[right + c] -
                  current[left + c] - current[right + c] - below[left + c] - below[centre + c] -
                  below[right + c];
    out[centre + c] = Clamp(v);
  }
  if constexpr (Bytes == 4)
    out[centre + 3] = current[centre + 3];
}

// Bytes [begin, end) of a row, all of whose neighbours lie inside the row.
template <int Bytes>
void Inner(const std::uint8_t* above, const std::uint8_t* current, const std::uint8_t* below,
           std::uint8_t* out, std::size_t begin, std::size_t end) {
  for (std::size_t j = begin; j < end; ++j) {
    const int v = 8 * current[j] - (above[j - Bytes] + above[j] + above[j + Bytes]) -
                  (current[j - Bytes] + current[j + Bytes]) -
                  (below[j - Bytes] + below[j] + below[j + Bytes]);
    out[j] = Bytes == 4 && (j & 3) == 3 ? current[j] : Clamp(v);
  }
}

// What one output row is made from: the rows above, at and below it as they were, `count` bytes
// each, the row after the one below (or nullptr), and room for `count` sums.
struct EdgeRows {
  const std::uint8_t* above;
  const std::uint8_t* current;
  const std::uint8_t* below;
  const std::uint8_t* next;
  std::uint8_t* out;
  std::size_t count;
  std::int16_t* columns;
};

// Returns the end of the inner bytes, or 0 when the row is one pixel wide and done.
template <int Bytes>
std::size_t Edges(const std::uint8_t* above, const std::uint8_t* current, const std::uint8_t* below,
                  std::uint8_t* out, std::size_t count) {
  const std::size_t last = count - Bytes;
  if (last == 0) {
    Pixel<Bytes>(above, current, below, out, 0, 0, 0);
    return 0;
  }
  Pixel<Bytes>(above, current, below, out, 0, last, Bytes);
  Pixel<Bytes>(above, current, below, out, last, last - Bytes, 0);
  return last;
}

}  // namespace
#endif

#define HWY_TARGET_INCLUDE "Laplacian.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// Lanes(d16) output bytes at a time, widened to 16 bits: first the sums of the three rows at
// each byte, then 9 × centre minus the sums at the byte and at its left and right neighbours
// (8 × 255 + 8 × 255 fits a signed lane); narrowing with saturation clamps to 0 … 255. The last
// block overlaps the one before and starts on a pixel.
template <int Bytes>
void RowOf(const Byte* HWY_RESTRICT above, const Byte* HWY_RESTRICT current,
           const Byte* HWY_RESTRICT below, const Byte* next, Byte* HWY_RESTRICT out,
           std::size_t count, std::int16_t* HWY_RESTRICT columns) {
  const std::size_t end = Edges<Bytes>(above, current, below, out, count);
#if HWY_TARGET == HWY_SCALAR
  (void)next, (void)columns;
  if (end > Bytes)
    Inner<Bytes>(above, current, below, out, Bytes, end);
#else
  const hn::ScalableTag<std::int16_t> d16;
  const hn::Rebind<Byte, decltype(d16)> d8;
  const std::size_t n = hn::Lanes(d16);
  if (end < Bytes + n) {
    if (end > Bytes)
      Inner<Bytes>(above, current, below, out, Bytes, end);
    return;
  }
  const auto at = [&](const Byte* p) { return hn::PromoteTo(d16, hn::LoadU(d8, p)); };
  // Columns [0, made) are summed.
  std::size_t made = 0;
  const auto column = [&](std::size_t j) {
    hn::StoreU(hn::Add(hn::Add(at(above + j), at(current + j)), at(below + j)), d16, columns + j);
  };
  const auto columnsTo = [&](std::size_t upTo) {
    for (; made + n <= upTo; made += n)
      column(made);
    if (upTo == count && made < count) {
      column(count - n);
      made = count;
    }
  };
  // Blocks start on a multiple of 4 bytes, so alpha bytes are lanes 3, 7, 11, …
  const auto alpha = hn::Eq(hn::And(hn::Iota(d16, 0), hn::Set(d16, 3)), hn::Set(d16, 3));
  const auto block = [&](std::size_t j) {
    const auto sum =
        hn::Add(hn::Add(hn::LoadU(d16, columns + j - Bytes), hn::LoadU(d16, columns + j)),
                hn::LoadU(d16, columns + j + Bytes));
    const auto centre = at(current + j);
    auto v = hn::Sub(hn::Add(hn::ShiftLeft<3>(centre), centre), sum);
    if constexpr (Bytes == 4)
      v = hn::IfThenElse(alpha, centre, v);
    hn::StoreU(hn::DemoteTo(d8, v), d8, out + j);
  };
  // A chunk of columns, then the outputs that need no column beyond it. The processor's own
  // prefetching does not keep up with the row below, read in bursts: it is asked for four chunks
  // ahead, near a row's end from the next row.
  constexpr std::size_t kChunk = 1024;
  std::size_t j = Bytes;
  while (j + n <= end) {
    for (std::size_t ahead = j + 4 * kChunk; ahead < j + 5 * kChunk; ahead += 64) {
      if (ahead < count)
        hwy::Prefetch(below + ahead);
      else if (next != nullptr && ahead < 2 * count)
        hwy::Prefetch(next + ahead - count);
    }
    columnsTo(std::min(count, j + kChunk + n + Bytes));
    for (const std::size_t stop = std::min(end, made - Bytes); j + n <= stop; j += n)
      block(j);
  }
  columnsTo(count);
  if (j < end)
    block(end - n);
#endif
}

void Row(const EdgeRows& r, int bytes) {
  if (bytes == 1)
    RowOf<1>(r.above, r.current, r.below, r.next, r.out, r.count, r.columns);
  else if (bytes == 3)
    RowOf<3>(r.above, r.current, r.below, r.next, r.out, r.count, r.columns);
  else
    RowOf<4>(r.above, r.current, r.below, r.next, r.out, r.count, r.columns);
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(Row);

void Row(const EdgeRows& r, int bytes) {
  HWY_DYNAMIC_DISPATCH(Row)(r, bytes);
}

}  // namespace kernels

namespace {

// Rows [first, last) of the Laplacian, in place: `aboveFirst` and `belowLast` are the rows above
// the first and below the last as they were (the picture wraps around), which another band or
// this one may have overwritten by the time they are read.
void LaplacianBand(TBitmap& bitmap, int first, int last, const std::uint8_t* aboveFirst,
                   const std::uint8_t* belowLast) {
  const int bytes = bitmap.BytesPerPixel();
  const std::size_t count = bitmap.RowBytes();
  // Row i is written once rows i - 1, i and i + 1 of the original have been read, so only the
  // original rows still needed are kept aside instead of a snapshot of the whole picture: the
  // previous row and the current one.
  std::vector<std::uint8_t> saved(2 * count);
  std::uint8_t* const buffers[2] = {saved.data(), saved.data() + count};
  // Whole cache lines for the vector stores; std::bad_alloc rather than a null pointer when there
  // is no memory, as everywhere else.
  constexpr std::align_val_t kLine{64};
  const std::unique_ptr<std::int16_t[], void (*)(std::int16_t*)> columns(
      new (kLine) std::int16_t[count], [](std::int16_t* p) { ::operator delete[](p, kLine); });

  const std::uint8_t* previous = aboveFirst;
  for (int i = first; i < last; ++i) {
    std::uint8_t* target = bitmap.ScanLine(i);
    std::uint8_t* current = buffers[i & 1];
    std::memcpy(current, target, count);
    EdgeRows rows;
    rows.above = previous;
    rows.current = current;
    rows.below = i + 1 < last ? bitmap.ScanLine(i + 1) : belowLast;
    rows.next = i + 2 < last ? bitmap.ScanLine(i + 2) : nullptr;
    rows.out = target;
    rows.count = count;
    rows.columns = columns.get();
    kernels::Row(rows, bytes);
    previous = current;
  }
}

}  // namespace

void Laplacian(TBitmap& bitmap) {
  if (bitmap.Empty())
    return;
  const int height = bitmap.Height();
  const std::size_t count = bitmap.RowBytes();
  PrepareSimdDispatch();
  // The rows each band reads beyond its own, as they were: the first and the last, each the
  // other's neighbour around the picture, and the two where the bands meet.
  std::vector<std::uint8_t> ends(2 * count);
  std::memcpy(ends.data(), bitmap.ScanLine(0), count);
  std::memcpy(ends.data() + count, bitmap.ScanLine(height - 1), count);
  const int middle = height / 2;
  const std::vector<std::uint8_t> meeting = RowsAsTheyWere(bitmap, middle - 1, middle + 1);
  InTwoHalves(height, PixelBytes(bitmap), [&](int first, int last) {
    LaplacianBand(bitmap, first, last, first == 0 ? ends.data() + count : meeting.data(),
                  last == height ? ends.data() : meeting.data() + count);
  });
}

#endif  // HWY_ONCE
