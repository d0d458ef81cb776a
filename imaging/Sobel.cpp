// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <cstddef>
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
// squares saturates at 65535, whose root truncates to 255 too.
template <int Bytes>
struct SobelFilter {
  static constexpr bool kEdges = true;
  static constexpr std::size_t kKept = 4;
  using Tag = hn::ScalableTag<Byte>;

  static Byte Pixel(const int p[9]) {
    const int s1 = p[0] + 2 * p[1] + p[2] - p[6] - 2 * p[7] - p[8];
    const int s2 = p[0] + 2 * p[3] + p[6] - p[2] - 2 * p[5] - p[8];
    const int magnitude = static_cast<int>(std::sqrt(static_cast<double>(s1 * s1 + s2 * s2)));
    return static_cast<Byte>(magnitude > 255 ? 255 : magnitude);
  }

  // Roots of whole numbers 1 ... 65535 in 32-bit lanes, in single precision, which holds them
  // exactly: in the 16 low bits of each lane, the truncated root or, where the processor's
  // reciprocal root is good to 1.5 / 4096 (x86), the nearest whole number to its estimate, which
  // may be one more. The exact root is many times slower there. Added to 1.5 x 2^23, a number
  // below 2^22 is rounded to a whole one in the low bits.
  template <class D32, class V = hn::VFromD<D32>>
  static V Roots(D32 d32, V n) {
    const hn::Repartition<float, D32> df;
    const hn::RebindToSigned<D32> di;
    const auto x = hn::ConvertTo(df, hn::BitCast(di, n));
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_SSSE3
    const auto root = hn::MulAdd(x, hn::ApproximateReciprocalSqrt(x), hn::Set(df, 12582912.0f));
    return hn::BitCast(d32, root);
#else
    return hn::BitCast(d32, hn::ConvertTo(di, hn::Sqrt(x)));
#endif
  }

  // The magnitude of the gradient, 0 ... 255, from the two sums in 16-bit lanes.
  template <class D16, class V = hn::VFromD<D16>>
  static V Magnitude(D16 d16, V s1, V s2) {
    const hn::RebindToSigned<D16> di;
    const hn::Repartition<std::uint32_t, D16> d32;
    const auto cap = hn::Set(di, 255);
    const auto a1 = hn::BitCast(d16, hn::Min(hn::Abs(hn::BitCast(di, s1)), cap));
    const auto a2 = hn::BitCast(d16, hn::Min(hn::Abs(hn::BitCast(di, s2)), cap));
    const auto squares = hn::SaturatedAdd(hn::Mul(a1, a1), hn::Mul(a2, a2));
    // 0 has no reciprocal root; 1's root is put right to 0 below. The even and odd 16-bit lanes
    // apart, as Widened does with bytes.
    const auto n = hn::BitCast(d32, hn::Max(squares, hn::Set(d16, 1)));
    const auto even = Roots(d32, hn::And(n, hn::Set(d32, 0xFFFF)));
    const auto odd = Roots(d32, hn::ShiftRight<16>(n));
    // An estimate within a tenth of the root rounds to the truncated root or one more: at most
    // 256, and 255 where the root is over 255.
    const auto estimate = hn::Min(
        hn::BitCast(d16, hn::Or(hn::And(even, hn::Set(d32, 0xFFFF)), hn::ShiftLeft<16>(odd))),
        hn::Set(d16, 255));
    const auto over = hn::Gt(hn::Mul(estimate, estimate), squares);
    return hn::IfThenElse(over, hn::Sub(estimate, hn::Set(d16, 1)), estimate);
  }

  // Kept for each row, for even and odd bytes: left + 2 x centre + right, and left - right
  // (signed, in 16-bit lanes either way).
  static void Across(Tag d, const Byte* row, Byte* kept) {
    const hn::Repartition<std::uint16_t, Tag> d16;
    const auto l0 = Widened<-Bytes>(d, row), c0 = Widened<0>(d, row), r0 = Widened<Bytes>(d, row);
    const auto l1 = Widened<1 - Bytes>(d, row), c1 = Widened<1>(d, row);
    const auto r1 = Widened<1 + Bytes>(d, row);
    StoreKept(hn::Add(hn::Add(l0, r0), hn::Add(c0, c0)), d16, kept, 0);
    StoreKept(hn::Add(hn::Add(l1, r1), hn::Add(c1, c1)), d16, kept, 1);
    StoreKept(hn::Sub(l0, r0), d16, kept, 2);
    StoreKept(hn::Sub(l1, r1), d16, kept, 3);
  }

  static hn::VFromD<Tag> Down(Tag d, const Byte* a, const Byte* c, const Byte* b, const Byte*) {
    const hn::Repartition<std::uint16_t, Tag> d16;
    const auto magnitude = [&](std::size_t i) {
      const auto s1 = hn::Sub(LoadKept(d16, a, i), LoadKept(d16, b, i));
      const auto across = LoadKept(d16, c, i + 2);
      const auto s2 = hn::Add(hn::Add(LoadKept(d16, a, i + 2), LoadKept(d16, b, i + 2)),
                              hn::Add(across, across));
      return Magnitude(d16, s1, s2);
    };
    return Interleaved(d, magnitude(0), magnitude(1));
  }
};

void SobelRow(const FilterRows& r, int bytes) {
  FilterRowOf<SobelFilter>(r, bytes);
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
