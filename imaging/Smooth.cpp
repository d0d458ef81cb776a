// SPDX-License-Identifier: GPL-3.0-or-later
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
// little below 2^15 that the high half of the product is the quotient.
template <int Bytes>
struct SmoothFilter {
  static constexpr bool kEdges = true;
  using Tag16 = hn::ScalableTag<std::uint16_t>;
  using Tag = hn::Rebind<Byte, Tag16>;

  static Byte Pixel(const int p[9]) {
    return static_cast<Byte>((p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7] + p[8] + 4) /
                             9);
  }

  static hn::VFromD<Tag> Block(Tag d, const Byte* a, const Byte* c, const Byte* b) {
    const Tag16 d16;
    const auto load = [&](const Byte* p) { return hn::PromoteTo(d16, hn::LoadU(d, p)); };
    CCDLAB_NEIGHBOURS(load);
    const auto sum = hn::Add(hn::Add(hn::Add(hn::Add(p1, p2), hn::Add(p3, p4)),
                                     hn::Add(hn::Add(p5, p6), hn::Add(p7, p8))),
                             hn::Add(p9, hn::Set(d16, 4)));
    const auto mean = hn::MulHigh(sum, hn::Set(d16, 7282));
    return hn::DemoteTo(d, hn::BitCast(hn::RebindToSigned<Tag16>(), mean));
  }
};

void SmoothRow(const FilterRows& r, int bytes) {
  if (bytes == 1)
    FilterRow<1, SmoothFilter>(r);
  else if (bytes == 3)
    FilterRow<3, SmoothFilter>(r);
  else
    FilterRow<4, SmoothFilter>(r);
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
