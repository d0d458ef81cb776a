// SPDX-License-Identifier: GPL-3.0-or-later
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

// 13 x centre minus the sum of the nine, in signed 16-bit lanes (-2295 ... 3315), over 4:
// rounded on 8-bit pictures, truncated on colour ones, where negative sums clamp to 0 either way.
template <int Bytes>
struct SharpenFilter {
  static constexpr bool kEdges = Bytes == 1;
  static constexpr int kRound = Bytes == 1 ? 2 : 0;
  using Tag = hn::ScalableTag<Byte>;

  static Byte Pixel(const int p[9]) {
    const int v = 13 * p[4] - (p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7] + p[8]);
    const int q = (v + kRound) >> 2;
    return static_cast<Byte>(q < 0 ? 0 : q > 255 ? 255 : q);
  }

  // Clamped to 0 ... 255 in signed lanes, given back in the unsigned ones.
  template <class D16, class V = hn::VFromD<D16>>
  static V Wide(D16 d16, V p1, V p2, V p3, V p4, V p5, V p6, V p7, V p8, V p9) {
    const hn::RebindToSigned<D16> di;
    const auto ring = hn::Add(hn::Add(hn::Add(p1, p2), hn::Add(p3, p4)),
                              hn::Add(hn::Add(p6, p7), hn::Add(p8, p9)));
    const auto v = hn::BitCast(
        di, hn::Sub(hn::Add(hn::Mul(p5, hn::Set(d16, 12)), hn::Set(d16, kRound)), ring));
    const auto q = hn::Min(hn::Max(hn::ShiftRight<2>(v), hn::Zero(di)), hn::Set(di, 255));
    return hn::BitCast(d16, q);
  }

  static hn::VFromD<Tag> Block(Tag d, const Byte* a, const Byte* c, const Byte* b) {
    return WideBlock<Bytes, SharpenFilter>(d, a, c, b);
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
