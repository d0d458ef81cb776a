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
  using Tag16 = hn::ScalableTag<std::int16_t>;
  using Tag = hn::Rebind<Byte, Tag16>;

  static Byte Pixel(const int p[9]) {
    const int v = 13 * p[4] - (p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7] + p[8]);
    const int q = (v + kRound) >> 2;
    return static_cast<Byte>(q < 0 ? 0 : q > 255 ? 255 : q);
  }

  static hn::VFromD<Tag> Block(Tag d, const Byte* a, const Byte* c, const Byte* b) {
    const Tag16 d16;
    const auto load = [&](const Byte* p) { return hn::PromoteTo(d16, hn::LoadU(d, p)); };
    CCDLAB_NEIGHBOURS(load);
    const auto ring = hn::Add(hn::Add(hn::Add(p1, p2), hn::Add(p3, p4)),
                              hn::Add(hn::Add(p6, p7), hn::Add(p8, p9)));
    const auto v = hn::Sub(hn::Add(hn::Mul(p5, hn::Set(d16, 12)), hn::Set(d16, kRound)), ring);
    return hn::DemoteTo(d, hn::ShiftRight<2>(v));
  }
};

void SharpenRow(const FilterRows& r, int bytes) {
  if (bytes == 1)
    FilterRow<1, SharpenFilter>(r);
  else if (bytes == 3)
    FilterRow<3, SharpenFilter>(r);
  else
    FilterRow<4, SharpenFilter>(r);
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
