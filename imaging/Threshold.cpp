// SPDX-License-Identifier: GPL-3.0-or-later
#include "Threshold.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "KernelRows.h"
#include "Simd.h"

#define HWY_TARGET_INCLUDE "Threshold.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// Bytes at or above `lowest` become `on` (255, or 0 when the threshold is above 255), the others
// 0; with `alpha`, every fourth byte (a 32-bit pixel's alpha) keeps the target's value. The input
// may be the output. With `stream`, whole aligned steps are written around the caches.
void ThresholdRows(const KernelRows& r, Byte lowest, Byte on, bool alpha, bool stream) {
  const auto scalar = [&](const Byte* in, Byte* out, std::size_t begin, std::size_t end) {
    for (std::size_t j = begin; j < end; ++j)
      if (!alpha || (j & 3) != 3)
        out[j] = in[j] >= lowest ? on : 0;
  };
#if HWY_TARGET == HWY_SCALAR
  for (int i = 0; i < r.height; ++i)
    scalar(r.in + i * r.inStride, r.out + i * r.outStride, 0, r.length);
  (void)stream;
#else
  // At most 32 bytes a vector, two a step: 64-byte stores, streamed or not, were slower here.
  const hn::CappedTag<Byte, 32> d;
  const hn::Repartition<std::uint32_t, decltype(d)> d32;
  const std::size_t n = hn::Lanes(d);
  const auto low = hn::Set(d, lowest);
  const auto white = hn::Set(d, on);
  const auto alphaBytes =
      hn::RebindMask(d, hn::MaskFromVec(hn::BitCast(d, hn::Set(d32, alpha ? 0xFF000000u : 0u))));
  const auto apply = [&](const Byte* in, Byte* out) {
    const auto x = hn::LoadU(d, in);
    auto v = hn::IfThenElseZero(hn::Eq(hn::Max(x, low), x), white);
    if (alpha)
      v = hn::IfThenElse(alphaBytes, hn::LoadU(d, out), v);
    return v;
  };
  const auto two = [&](const Byte* in, Byte* out) {
    hn::StoreU(apply(in, out), d, out);
    hn::StoreU(apply(in + n, out + n), d, out + n);
  };
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    if (r.length < 2 * n) {
      scalar(in, out, 0, r.length);
      continue;
    }
    // Steps start where the target is aligned to a step, so that whole lines may be streamed.
    // The first and the last step overlap their neighbours, which is harmless even in place:
    // thresholding twice gives what thresholding once gave. Rows start on a multiple of 4, so
    // alpha bytes stay in their lanes.
    two(in, out);
    std::size_t j = (2 * n - reinterpret_cast<std::uintptr_t>(out) % (2 * n)) % (2 * n);
    if (stream) {
      for (; j + 2 * n <= r.length; j += 2 * n) {
        hn::Stream(apply(in + j, out + j), d, out + j);
        hn::Stream(apply(in + j + n, out + j + n), d, out + j + n);
      }
    } else {
      for (; j + 2 * n <= r.length; j += 2 * n)
        two(in + j, out + j);
    }
    if (j < r.length)
      two(in + r.length - 2 * n, out + r.length - 2 * n);
  }
  // Streamed stores are weakly ordered: they must be complete before the picture is used.
  if (stream)
    hwy::FlushStream();
#endif
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(ThresholdRows);

void ThresholdRows(const KernelRows& r, std::uint8_t lowest, std::uint8_t on, bool alpha,
                   bool stream) {
  PrepareSimdDispatch();
  HWY_DYNAMIC_DISPATCH(ThresholdRows)(r, lowest, on, alpha, stream);
}

}  // namespace kernels

void Threshold(TBitmap& bitmap, int threshold) {
  ThresholdInto(bitmap, bitmap, threshold);
}

void ThresholdInto(const TBitmap& source, TBitmap& target, int threshold) {
  ThresholdRows(source, target, threshold, 0, std::min(source.Height(), target.Height()));
}

void ThresholdRows(const TBitmap& source, TBitmap& target, int threshold, int first, int last) {
  const std::optional<KernelRows> band = ByteRows(source, target, first, last);
  if (!band)
    return;
  const KernelRows& rows = *band;
  const bool alpha = source.PixelFormat() == TPixelFormat::pf32bit;
  // Every byte is at least 0 and none reaches 256.
  const auto lowest = static_cast<std::uint8_t>(std::clamp(threshold, 0, 255));
  const std::uint8_t on = threshold > 255 ? 0 : 255;
  // In place, each line is read just before it is written, so it is in the cache already.
  const bool stream = rows.in != rows.out && !alpha &&
                      rows.length * static_cast<std::size_t>(rows.height) >= kStreamBytes;
  kernels::ThresholdRows(rows, lowest, on, alpha, stream);
}

#endif  // HWY_ONCE
