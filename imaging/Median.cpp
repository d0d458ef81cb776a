// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cstddef>
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

// Each row of three sorted, the median of nine is the median of the largest low, the median
// middle and the smallest high: bytes compared as they are, a whole vector of them at a time.
// Each row's sorted threes are kept.
template <int Bytes>
struct MedianFilter {
  static constexpr bool kEdges = true;
  static constexpr std::size_t kKept = 3;
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

  static void Across(Tag d, const Byte* row, Byte* kept) {
    const auto x = hn::LoadU(d, row - Bytes), y = hn::LoadU(d, row), z = hn::LoadU(d, row + Bytes);
    const auto least = hn::Min(x, y), most = hn::Max(x, y);
    const auto rest = hn::Max(least, z);
    StoreKept(hn::Min(least, z), d, kept, 0);
    StoreKept(hn::Min(most, rest), d, kept, 1);
    StoreKept(hn::Max(most, rest), d, kept, 2);
  }

  static hn::VFromD<Tag> Down(Tag d, const Byte* a, const Byte* c, const Byte* b, const Byte*) {
    const auto at = [&](const Byte* kept, std::size_t i) { return LoadKept(d, kept, i); };
    return Median3(hn::Max(hn::Max(at(a, 0), at(c, 0)), at(b, 0)),
                   Median3(at(a, 1), at(c, 1), at(b, 1)),
                   hn::Min(hn::Min(at(a, 2), at(c, 2)), at(b, 2)));
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
