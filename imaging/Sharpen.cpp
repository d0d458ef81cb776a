// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstddef>
#include <cstdint>

#include "Filter3x3.h"
#include "Filters.h"
#include "Simd.h"

#define HWY_TARGET_INCLUDE "Sharpen.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep
// After KernelTarget.h:
#include "Filter3x3-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// 13 x centre minus the sum of the nine, in signed 16-bit lanes (-2295 ... 3317), over 4:
// rounded on 8-bit pictures, truncated on colour ones, where negative sums clamp to 0 either way.
// Each row's sums of three across are kept, for even and odd bytes.
template <int Bytes>
struct SharpenFilter {
  static constexpr bool kEdges = Bytes == 1;
  static constexpr int kRound = Bytes == 1 ? 2 : 0;
  static constexpr std::size_t kKept = 2;
  using Tag = hn::ScalableTag<Byte>;

  static Byte Pixel(const int p[9]) {
    const int v = 13 * p[4] - (p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7] + p[8]);
    const int q = (v + kRound) >> 2;
    return static_cast<Byte>(q < 0 ? 0 : q > 255 ? 255 : q);
  }

  static void Across(Tag d, const Byte* row, Byte* kept) { KeepSumsAcross<Bytes>(d, row, kept); }

  static hn::VFromD<Tag> Down(Tag d, const Byte* a, const Byte* c, const Byte* b,
                              const Byte* centre) {
    const hn::Repartition<std::uint16_t, Tag> d16;
    const hn::RebindToSigned<decltype(d16)> di;
    const auto sharpened = [&](std::size_t i, hn::VFromD<decltype(d16)> p5) {
      const auto sum =
          hn::Add(hn::Add(LoadKept(d16, a, i), LoadKept(d16, c, i)), LoadKept(d16, b, i));
      const auto v = hn::BitCast(
          di, hn::Sub(hn::Add(hn::Mul(p5, hn::Set(d16, 13)), hn::Set(d16, kRound)), sum));
      return hn::BitCast(d16,
                         hn::Min(hn::Max(hn::ShiftRight<2>(v), hn::Zero(di)), hn::Set(di, 255)));
    };
    return Interleaved(d, sharpened(0, Widened<0>(d, centre)), sharpened(1, Widened<1>(d, centre)));
  }
};

void SharpenRow(const FilterRows& r, int bytes) {
  FilterRowOf<SharpenFilter>(r, bytes);
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(SharpenRow);

void SharpenRow(const FilterRows& r, int bytes) {
  HWY_DYNAMIC_DISPATCH(SharpenRow)(r, bytes);
}

}  // namespace kernels

void Sharpen(TBitmap& bitmap) {
  if (bitmap.Width() == 1)
    return;
  PrepareSimdDispatch();
  const int bytes = bitmap.BytesPerPixel();
  // ImageJ's colour convolution leaves the border rows and columns as they are.
  FilterInPlace(
      bitmap, [bytes](const FilterRows& r) { kernels::SharpenRow(r, bytes); }, bytes == 1);
}

#endif  // HWY_ONCE
