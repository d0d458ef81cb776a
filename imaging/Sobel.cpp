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

// The two Sobel sums (at most 1020 each way), the square root of their squares' sum, truncated:
// single precision holds the sum of squares exactly and its root far enough from the next whole
// number below 256, the only roots that matter, to truncate as the double root does.
template <int Bytes>
struct SobelFilter {
  static constexpr bool kEdges = true;
  using Tag32 = hn::ScalableTag<std::int32_t>;
  using Tag = hn::Rebind<Byte, Tag32>;

  static Byte Pixel(const int p[9]) {
    const int s1 = p[0] + 2 * p[1] + p[2] - p[6] - 2 * p[7] - p[8];
    const int s2 = p[0] + 2 * p[3] + p[6] - p[2] - 2 * p[5] - p[8];
    const int magnitude = static_cast<int>(std::sqrt(static_cast<double>(s1 * s1 + s2 * s2)));
    return static_cast<Byte>(magnitude > 255 ? 255 : magnitude);
  }

  static hn::VFromD<Tag> Block(Tag d, const Byte* a, const Byte* c, const Byte* b) {
    const Tag32 d32;
    const hn::Rebind<float, Tag32> df;
    const auto load = [&](const Byte* p) { return hn::PromoteTo(d32, hn::LoadU(d, p)); };
    CCDLAB_NEIGHBOURS(load);
    (void)p5;
    const auto s1 = hn::Sub(hn::Add(hn::Add(p1, p3), hn::ShiftLeft<1>(p2)),
                            hn::Add(hn::Add(p7, p9), hn::ShiftLeft<1>(p8)));
    const auto s2 = hn::Sub(hn::Add(hn::Add(p1, p7), hn::ShiftLeft<1>(p4)),
                            hn::Add(hn::Add(p3, p9), hn::ShiftLeft<1>(p6)));
    const auto squares = hn::Add(hn::Mul(s1, s1), hn::Mul(s2, s2));
    const auto root = hn::ConvertTo(d32, hn::Sqrt(hn::ConvertTo(df, squares)));
    return hn::DemoteTo(d, hn::Min(root, hn::Set(d32, 255)));
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
}  // namespace kernels

void FindEdges(TBitmap& bitmap) {
  if (bitmap.Width() == 1)
    return;
  PrepareSimdDispatch();
  const int bytes = bitmap.BytesPerPixel();
  FilterInPlace(bitmap, [&](const FilterRows& r) {
    HWY_DYNAMIC_DISPATCH(kernels::SobelRow)(r, bytes);
  });
}

#endif  // HWY_ONCE
