// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <cstdint>

#include "Filter3x3.h"
#include "Filters.h"
#include "Simd.h"

#define HWY_TARGET_INCLUDE "Sobel.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep
// After KernelTarget.h:
#include "Filter3x3-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// The two Sobel sums (at most 1020 each way) in 16-bit lanes. A sum of 255 or more on either
// axis makes a root of at least 255, the most there is: each is capped at 255, and the sum of their
// squares saturates at 65535, whose root truncates to 255 too. The root is taken in single
// precision, which holds the sum exactly and puts its root far enough from the next whole number
// below 256 to truncate as the double root does.
template <int Bytes>
struct SobelFilter {
  static constexpr bool kEdges = true;
  using Tag16 = hn::ScalableTag<std::int16_t>;
  using Tag = hn::Rebind<Byte, Tag16>;

  static Byte Pixel(const int p[9]) {
    const int s1 = p[0] + 2 * p[1] + p[2] - p[6] - 2 * p[7] - p[8];
    const int s2 = p[0] + 2 * p[3] + p[6] - p[2] - 2 * p[5] - p[8];
    const int magnitude = static_cast<int>(std::sqrt(static_cast<double>(s1 * s1 + s2 * s2)));
    return static_cast<Byte>(magnitude > 255 ? 255 : magnitude);
  }

  static hn::VFromD<Tag> Block(Tag d, const Byte* a, const Byte* c, const Byte* b) {
#if HWY_TARGET == HWY_SCALAR
    const int p[9] = {a[-Bytes], a[0],      a[Bytes], c[-Bytes], c[0],
                      c[Bytes],  b[-Bytes], b[0],     b[Bytes]};
    return hn::Set(d, Pixel(p));
#else
    const Tag16 d16;
    const hn::RebindToUnsigned<Tag16> du;
    const hn::Half<decltype(du)> dh;
    const hn::Rebind<std::int32_t, decltype(dh)> d32;
    const hn::Rebind<float, decltype(d32)> df;
    const auto load = [&](const Byte* p) { return hn::PromoteTo(d16, hn::LoadU(d, p)); };
    CCDLAB_NEIGHBOURS(load);
    (void)p5;
    const auto s1 = hn::Sub(hn::Add(hn::Add(p1, p3), hn::ShiftLeft<1>(p2)),
                            hn::Add(hn::Add(p7, p9), hn::ShiftLeft<1>(p8)));
    const auto s2 = hn::Sub(hn::Add(hn::Add(p1, p7), hn::ShiftLeft<1>(p4)),
                            hn::Add(hn::Add(p3, p9), hn::ShiftLeft<1>(p6)));
    const auto cap = hn::Set(d16, 255);
    const auto a1 = hn::BitCast(du, hn::Min(hn::Abs(s1), cap));
    const auto a2 = hn::BitCast(du, hn::Min(hn::Abs(s2), cap));
    const auto squares = hn::SaturatedAdd(hn::Mul(a1, a1), hn::Mul(a2, a2));
    const auto root = [&](hn::VFromD<decltype(dh)> half) {
      const auto sum = hn::ConvertTo(df, hn::PromoteTo(d32, half));
      return hn::DemoteTo(dh, hn::ConvertTo(d32, hn::Sqrt(sum)));
    };
    const auto roots =
        hn::Combine(du, root(hn::UpperHalf(dh, squares)), root(hn::LowerHalf(dh, squares)));
    return hn::DemoteTo(d, hn::BitCast(d16, roots));
#endif
  }
};

void SobelRow(const FilterRows& r, int bytes) {
  if (bytes == 1)
    FilterRow<1, SobelFilter>(r);
  else if (bytes == 3)
    FilterRow<3, SobelFilter>(r);
  else
    FilterRow<4, SobelFilter>(r);
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(SobelRow);

void SobelRow(const FilterRows& r, int bytes) {
  HWY_DYNAMIC_DISPATCH(SobelRow)(r, bytes);
}

}  // namespace kernels

void FindEdges(TBitmap& bitmap) {
  if (bitmap.Width() == 1)
    return;
  PrepareSimdDispatch();
  const int bytes = bitmap.BytesPerPixel();
  FilterInPlace(bitmap, [bytes](const FilterRows& r) { kernels::SobelRow(r, bytes); });
}

#endif  // HWY_ONCE
