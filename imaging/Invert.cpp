// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "Filters.h"
#include "KernelRows.h"
#include "Simd.h"
#include "TwoHalves.h"

#define HWY_TARGET_INCLUDE "Invert.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// 255 - v is v with every bit flipped; with `alpha`, every fourth byte is flipped by none. The
// input may be the output.
void InvertRows(const KernelRows& r, bool alpha) {
  const Byte flip[4] = {0xFF, 0xFF, 0xFF, static_cast<Byte>(alpha ? 0 : 0xFF)};
  const auto scalar = [&](const Byte* in, Byte* out, std::size_t begin, std::size_t end) {
    for (std::size_t j = begin; j < end; ++j)
      out[j] = in[j] ^ flip[j & 3];
  };
#if HWY_TARGET == HWY_SCALAR
  for (int i = 0; i < r.height; ++i)
    scalar(r.in + i * r.inStride, r.out + i * r.outStride, 0, r.length);
#else
  const hn::ScalableTag<Byte> d;
  const hn::Repartition<std::uint32_t, decltype(d)> d32;
  const std::size_t n = hn::Lanes(d);
  // The flips of four bytes in a row starting at byte j of the row, as one 32-bit lane.
  const auto flips = [&](std::size_t j) {
    std::uint32_t pattern = 0;
    for (std::size_t k = 0; k < 4; ++k)
      pattern |= std::uint32_t{flip[(j + k) & 3]} << (8 * k);
    return hn::BitCast(d, hn::Set(d32, pattern));
  };
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    // Large pictures start just past a page boundary: a few bytes first put the stores on whole
    // vectors, or every one of them would straddle two cache lines.
    const std::size_t misaligned = reinterpret_cast<std::uintptr_t>(out) % n;
    std::size_t j = std::min(r.length, misaligned == 0 ? 0 : n - misaligned);
    scalar(in, out, 0, j);
    // Every step is a multiple of 4 bytes: the alpha bytes stay in the same lanes.
    const auto mask = flips(j);
    for (; j + 2 * n <= r.length; j += 2 * n) {
      const auto x0 = hn::LoadU(d, in + j);
      const auto x1 = hn::LoadU(d, in + j + n);
      hn::Store(hn::Xor(x0, mask), d, out + j);
      hn::Store(hn::Xor(x1, mask), d, out + j + n);
    }
    // Flipping the bits twice would undo them: the tail goes one byte at a time.
    scalar(in, out, j, r.length);
  }
#endif
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {
HWY_EXPORT(InvertRows);
}  // namespace kernels

void Invert(TBitmap& bitmap) {
  // One core cannot keep as many lines on their way from memory as two.
  InTwoHalves(bitmap.Height(), PixelBytes(bitmap),
              [&](int first, int last) { InvertRows(bitmap, bitmap, first, last); });
}

void InvertRows(const TBitmap& source, TBitmap& target, int first, int last) {
  const std::optional<KernelRows> band = ByteRows(source, target, first, last);
  if (!band)
    return;
  const KernelRows& rows = *band;
  PrepareSimdDispatch();
  // Unqualified, as the dispatch names the kernel, statically too (the valgrind build).
  using namespace kernels;
  HWY_DYNAMIC_DISPATCH(InvertRows)(rows, source.PixelFormat() == TPixelFormat::pf32bit);
}

#endif  // HWY_ONCE
