// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>

#include "Filter3x3.h"
#include "Filters.h"
#include "Simd.h"

#define HWY_TARGET_INCLUDE "Smooth.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep
// After KernelTarget.h:
#include "Filter3x3-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// (sum + 4) / 9 in 16-bit lanes: the sum is at most 2299, and 7282 / 2^16 exceeds 1 / 9 by so
// little below 2^15 that the high half of the product is the quotient. Each row's sums of three
// across are kept, for even and odd bytes.
template <int Bytes>
struct SmoothFilter {
  static constexpr bool kEdges = true;
  static constexpr std::size_t kKept = 2;
  using Tag = hn::ScalableTag<Byte>;

  static Byte Pixel(const int p[9]) {
    return static_cast<Byte>((p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7] + p[8] + 4) /
                             9);
  }

  static void Across(Tag d, const Byte* row, Byte* kept) { KeepSumsAcross<Bytes>(d, row, kept); }

  static hn::VFromD<Tag> Down(Tag d, const Byte* a, const Byte* c, const Byte* b, const Byte*) {
    const hn::Repartition<std::uint16_t, Tag> d16;
    const auto mean = [&](std::size_t i) {
      const auto sum = hn::Add(hn::Add(LoadKept(d16, a, i), LoadKept(d16, c, i)),
                               hn::Add(LoadKept(d16, b, i), hn::Set(d16, 4)));
      return hn::MulHigh(sum, hn::Set(d16, 7282));
    };
    return Interleaved(d, mean(0), mean(1));
  }
};

void SmoothRow(const FilterRows& r, int bytes) {
  FilterRowOf<SmoothFilter>(r, bytes);
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(SmoothRow);

void SmoothRow(const FilterRows& r, int bytes) {
  HWY_DYNAMIC_DISPATCH(SmoothRow)(r, bytes);
}

}  // namespace kernels

void Smooth(TBitmap& bitmap) {
  if (bitmap.Width() == 1)
    return;
  PrepareSimdDispatch();
  const int bytes = bitmap.BytesPerPixel();
  FilterInPlace(bitmap, [bytes](const FilterRows& r) { kernels::SmoothRow(r, bytes); });
}

#endif  // HWY_ONCE
