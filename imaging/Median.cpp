// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstdint>

#include "Filter3x3.h"
#include "Filters.h"
#include "Simd.h"

#define HWY_TARGET_INCLUDE "Median.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep
// After KernelTarget.h:
#include "Filter3x3-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// Each column of three sorted, the median of nine is the median of the largest low, the median
// middle and the smallest high: bytes compared as they are, a whole vector of them at a time.
template <int Bytes>
struct MedianFilter {
  static constexpr bool kEdges = true;
  using Tag = hn::ScalableTag<Byte>;

  static Byte Pixel(const int p[9]) {
    int sorted[9];
    std::copy(p, p + 9, sorted);
    std::nth_element(sorted, sorted + 4, sorted + 9);
    return static_cast<Byte>(sorted[4]);
  }

  template <class V>
  static V Median3(V x, V y, V z) {
    return hn::Max(hn::Min(x, y), hn::Min(hn::Max(x, y), z));
  }

  static hn::VFromD<Tag> Block(Tag d, const Byte* a, const Byte* c, const Byte* b) {
    const auto load = [&](const Byte* p) { return hn::LoadU(d, p); };
    CCDLAB_NEIGHBOURS(load);
    // Low, middle and high of each column.
    const auto sort = [](auto x, auto y, auto z, auto& low, auto& middle, auto& high) {
      const auto least = hn::Min(x, y), most = hn::Max(x, y);
      low = hn::Min(least, z);
      const auto rest = hn::Max(least, z);
      middle = hn::Min(most, rest);
      high = hn::Max(most, rest);
    };
    hn::VFromD<Tag> l1, m1, h1, l2, m2, h2, l3, m3, h3;
    sort(p1, p4, p7, l1, m1, h1);
    sort(p2, p5, p8, l2, m2, h2);
    sort(p3, p6, p9, l3, m3, h3);
    return Median3(hn::Max(hn::Max(l1, l2), l3), Median3(m1, m2, m3), hn::Min(hn::Min(h1, h2), h3));
  }
};

void MedianRow(const FilterRows& r, int bytes) {
  FilterRowOf<MedianFilter>(r, bytes);
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(MedianRow);

void MedianRow(const FilterRows& r, int bytes) {
  HWY_DYNAMIC_DISPATCH(MedianRow)(r, bytes);
}

}  // namespace kernels

void Median(TBitmap& bitmap) {
  PrepareSimdDispatch();
  const int bytes = bitmap.BytesPerPixel();
  FilterInPlace(bitmap, [bytes](const FilterRows& r) { kernels::MedianRow(r, bytes); });
}

#endif  // HWY_ONCE
