// SPDX-License-Identifier: GPL-3.0-or-later
#include "Grayscale.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "KernelRows.h"
#include "Simd.h"

// Why the integer formula is exact, and where it is not.
//
// The weights are the doubles nearest to 0.299, 0.587 and 0.114; each differs from the decimal by
// less than 2^-54. So the exact sum is N / 1000 + e with N = 299 R + 587 G + 114 B and
// |e| < 2^-44, and rounding it to a double moves it by less than 2^-45 more: when N is not a
// multiple of 1000, t lies at least 0.001 away from any whole number and truncates to N / 1000
// (integer division). When N is a multiple of 1000, t lies within a hair of the whole number
// N / 1000 and the rounding decides. For every grey (v, v, v) e is negative but smaller than half
// a unit in the last place of a double, so t rounds up to exactly v. A search of all 2^24 colours
// finds exactly three where e is negative and large enough that the double stays below the whole
// number, so the grey is one less than N / 1000:
//   (R, G, B) = (15, 101, 2) -> 63, (29, 201, 3) -> 126, (30, 202, 4) -> 127.
// The integer kernels subtract one for exactly these three colours. The exhaustive test over all
// 2^24 colours holds every kernel to GreyLevel.
//
// The kernels work on 16-bit lanes: x = floor(N / 8) = 37 R + 73 G + 14 B + (3 R + 3 G + 2 B) / 8
// (N = 8 (37 R + 73 G + 14 B) + 3 R + 3 G + 2 B) is at most 31875, and floor(N / 1000) =
// floor(x / 125) = (x * 33555) >> 22 (33555 * 125 exceeds 2^22 by 71, and 71 x < 2^22). Given x,
// the blue and the green byte, the red one is fixed (299 R lies in a range of eight), so the three
// colours are told apart by x and blue | green << 8.

#ifndef CCDLAB_GRAYSCALE_CONSTANTS
#define CCDLAB_GRAYSCALE_CONSTANTS
namespace {

struct RoundedDown {
  std::uint16_t eighths;  // x
  std::uint16_t blueGreen;
};
constexpr RoundedDown kRoundedDown[3] = {
    {64000 / 8, 2 | 101 << 8}, {127000 / 8, 3 | 201 << 8}, {128000 / 8, 4 | 202 << 8}};
constexpr std::uint16_t kDivide125 = 33555;

inline std::uint8_t GreyOfPixel(const std::uint8_t* p) {
  const unsigned b = p[0], g = p[1], r = p[2];
  const unsigned x = 37 * r + 73 * g + 14 * b + (3 * r + 3 * g + 2 * b) / 8;
  unsigned grey = (x * kDivide125) >> 22;
  for (const RoundedDown& c : kRoundedDown)
    grey -= x == c.eighths && (b | g << 8) == c.blueGreen;
  return static_cast<std::uint8_t>(grey);
}

}  // namespace
#endif

#define HWY_TARGET_INCLUDE "Grayscale.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// ---- true colour ----------------------------------------------------------------------------

// A weight the compiler cannot see: it would spell each multiplication by a constant as shifts
// and adds, which takes a fifth longer here than the multiplications.
template <class D>
HWY_INLINE hn::VFromD<D> Weight(D d, std::uint16_t weight) {
  asm("" : "+r"(weight));
  return hn::Set(d, weight);
}

// x of Lanes(d16) pixels of `Bytes` bytes each, and their blue | green << 8 for the rare check.
template <int Bytes, class D16>
HWY_INLINE hn::VFromD<D16> Eighths(D16 d16, const Byte* HWY_RESTRICT in,
                                   hn::VFromD<D16>& blueGreen) {
#if HWY_TARGET == HWY_AVX3_DL
  // VBMI picks the blue and green byte of each pixel as one 16-bit lane, and the red one widened,
  // from two registers in one step each, where Highway 1.0's generic way takes nine; a byte-pair
  // multiply-add weighs blue and green at once. The kernel takes a third less time.
  if constexpr (Bytes == 3 && hn::MaxLanes(d16) == 32) {
    // Bytes 2 k and 2 k + 1 are blue and green of pixel k (bytes 3 k and 3 k + 1); for red, byte
    // 2 k is byte 3 k + 2 and byte 2 k + 1 is zero.
    static constexpr auto kPick = [] {
      std::array<std::array<Byte, 64>, 2> pick{};
      for (int k = 0; k < 32; ++k) {
        pick[0][2 * k] = static_cast<Byte>(3 * k);
        pick[0][2 * k + 1] = static_cast<Byte>(3 * k + 1);
        pick[1][2 * k] = static_cast<Byte>(3 * k + 2);
      }
      return pick;
    }();
    const __m512i low = _mm512_loadu_si512(in);
    const __m512i high =
        _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 64)));
    const __m512i bg = _mm512_permutex2var_epi8(low, _mm512_loadu_si512(kPick[0].data()), high);
    const __m512i r = _mm512_maskz_permutex2var_epi8(0x5555555555555555ull, low,
                                                     _mm512_loadu_si512(kPick[1].data()), high);
    blueGreen = hn::VFromD<D16>{bg};
    // 14 B + 73 G and 2 B + 3 G; signed weights below 128 cannot saturate.
    const __m512i a = _mm512_maddubs_epi16(bg, _mm512_set1_epi16(14 | 73 << 8));
    const __m512i c = _mm512_maddubs_epi16(bg, _mm512_set1_epi16(2 | 3 << 8));
    const hn::VFromD<D16> red{r};
    return hn::Add(hn::Add(hn::VFromD<D16>{a}, hn::Mul(red, Weight(d16, 37))),
                   hn::ShiftRight<3>(hn::Add(hn::VFromD<D16>{c}, hn::Mul(red, Weight(d16, 3)))));
  }
#endif
  const hn::Rebind<Byte, D16> d8;
  hn::VFromD<decltype(d8)> b8, g8, r8;
  if constexpr (Bytes == 3) {
    hn::LoadInterleaved3(d8, in, b8, g8, r8);
  } else {
    hn::VFromD<decltype(d8)> alpha;
    hn::LoadInterleaved4(d8, in, b8, g8, r8, alpha);
  }
  const auto b = hn::PromoteTo(d16, b8);
  const auto g = hn::PromoteTo(d16, g8);
  const auto r = hn::PromoteTo(d16, r8);
  blueGreen = hn::Or(b, hn::ShiftLeft<8>(g));
  const auto c = hn::Add(hn::Mul(hn::Add(r, g), Weight(d16, 3)), hn::Add(b, b));
  return hn::Add(hn::Add(hn::Add(hn::Mul(r, Weight(d16, 37)), hn::Mul(g, Weight(d16, 73))),
                         hn::Mul(b, Weight(d16, 14))),
                 hn::ShiftRight<3>(c));
}

// Greys of Lanes(d16) pixels of `Bytes` bytes each.
template <int Bytes, class D16>
HWY_INLINE hn::VFromD<hn::Rebind<Byte, D16>> Greys(D16 d16, const Byte* HWY_RESTRICT in) {
  const hn::Rebind<Byte, D16> d8;
  hn::VFromD<D16> key;
  const auto x = Eighths<Bytes>(d16, in, key);
  auto grey = hn::ShiftRight<6>(hn::MulHigh(x, hn::Set(d16, kDivide125)));
  // Few colours share x with the three; only then is the colour looked at. (15875 and 16000
  // differ in bits 0, 1 and 7 only: one test finds both, and six more values.)
  const auto candidate = hn::Or(
      hn::Eq(x, hn::Set(d16, kRoundedDown[0].eighths)),
      hn::Eq(hn::AndNot(hn::Set(d16, 0x83), x), hn::Set(d16, kRoundedDown[1].eighths & ~0x83)));
  if (!hn::AllFalse(d16, candidate)) {
    for (const RoundedDown& c : kRoundedDown) {
      const auto special =
          hn::And(hn::Eq(x, hn::Set(d16, c.eighths)), hn::Eq(key, hn::Set(d16, c.blueGreen)));
      grey = hn::IfThenElse(special, hn::Sub(grey, hn::Set(d16, 1)), grey);
    }
  }
  const hn::RebindToSigned<D16> di16;
  return hn::DemoteTo(d8, hn::BitCast(di16, grey));
}

// With `stream`, whole aligned blocks are written around the caches.
template <int Bytes>
void ColourRowsOf(const KernelRows& r, bool stream) {
  const hn::ScalableTag<std::uint16_t> d16;
  const hn::Rebind<Byte, decltype(d16)> d8;
  const std::size_t n = hn::Lanes(d16);
  // A non-temporal store of less than 16 bytes would write 16 on x86.
  stream = stream && n >= 16;
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    if (r.length < n) {
      for (std::size_t k = 0; k < r.length; ++k)
        out[k] = GreyOfPixel(in + k * Bytes);
      continue;
    }
    // The first and the last block overlap their neighbours; the others start where the target
    // is aligned.
    hn::StoreU(Greys<Bytes>(d16, in), d8, out);
    std::size_t k = (n - reinterpret_cast<std::uintptr_t>(out) % n) % n;
    // The processor's own prefetching falls behind the three or four bytes read per byte
    // written: the pixels 2048 ahead are asked for.
    const auto prefetch = [&](std::size_t k) {
      if (k + 2048 < r.length) {
        hwy::Prefetch(in + (k + 2048) * Bytes);
        hwy::Prefetch(in + (k + 2048) * Bytes + 64);
      }
    };
    if (stream) {
      for (; k + n <= r.length; k += n) {
        prefetch(k);
        hn::Stream(Greys<Bytes>(d16, in + k * Bytes), d8, out + k);
      }
    } else {
      for (; k + n <= r.length; k += n) {
        prefetch(k);
        hn::StoreU(Greys<Bytes>(d16, in + k * Bytes), d8, out + k);
      }
    }
    if (k < r.length)
      hn::StoreU(Greys<Bytes>(d16, in + (r.length - n) * Bytes), d8, out + r.length - n);
  }
  if (stream)
    hwy::FlushStream();
}

void ColourRows(const KernelRows& r, int bytes, bool stream) {
  if (bytes == 3)
    ColourRowsOf<3>(r, stream);
  else
    ColourRowsOf<4>(r, stream);
}

// ---- indexed --------------------------------------------------------------------------------

// `count` bytes looked up in the 256-entry `table`.
void LookUpRow(const Byte* HWY_RESTRICT in, Byte* HWY_RESTRICT out, std::size_t count,
               const Byte* HWY_RESTRICT table, bool stream) {
#if HWY_TARGET == HWY_SCALAR
  for (std::size_t k = 0; k < count; ++k)
    out[k] = table[in[k]];
  (void)stream;
#else
  const hn::ScalableTag<Byte> d;
  const std::size_t n = hn::Lanes(d);
#if HWY_TARGET == HWY_AVX3_DL
  // VBMI looks a byte up among 128 in one step, which Highway 1.0 offers no operation for.
  const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
  const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
  const auto lookUp = [&](hn::VFromD<decltype(d)> x) {
    const hn::VFromD<decltype(d)> low{_mm512_permutex2var_epi8(t0, x.raw, t1)};
    const hn::VFromD<decltype(d)> high{_mm512_permutex2var_epi8(t2, x.raw, t3)};
    return hn::IfThenElse(hn::TestBit(x, hn::Set(d, 0x80)), high, low);
  };
#else
  // The table as sixteen parts of sixteen entries, each looked up by the low nibble in every
  // 128-bit block; the high nibble then picks one of the sixteen results, bit by bit.
  const auto lookUp = [&](hn::VFromD<decltype(d)> x) {
    const auto low = hn::And(x, hn::Set(d, 0x0F));
    const auto part = [&](int h) {
      return hn::TableLookupBytes(hn::LoadDup128(d, table + 16 * h), low);
    };
    const auto bit4 = hn::TestBit(x, hn::Set(d, 0x10));
    const auto bit5 = hn::TestBit(x, hn::Set(d, 0x20));
    const auto bit6 = hn::TestBit(x, hn::Set(d, 0x40));
    const auto bit7 = hn::TestBit(x, hn::Set(d, 0x80));
    const auto two = [&](int h) { return hn::IfThenElse(bit4, part(h + 1), part(h)); };
    const auto four = [&](int h) { return hn::IfThenElse(bit5, two(h + 2), two(h)); };
    const auto eight = [&](int h) { return hn::IfThenElse(bit6, four(h + 4), four(h)); };
    return hn::IfThenElse(bit7, eight(8), eight(0));
  };
#endif
  if (count < n) {
    for (std::size_t k = 0; k < count; ++k)
      out[k] = table[in[k]];
    return;
  }
  hn::StoreU(lookUp(hn::LoadU(d, in)), d, out);
  std::size_t k = (n - reinterpret_cast<std::uintptr_t>(out) % n) % n;
  if (stream) {
    for (; k + n <= count; k += n)
      hn::Stream(lookUp(hn::LoadU(d, in + k)), d, out + k);
    hwy::FlushStream();
  } else {
    for (; k + n <= count; k += n)
      hn::StoreU(lookUp(hn::LoadU(d, in + k)), d, out + k);
  }
  if (k < count)
    hn::StoreU(lookUp(hn::LoadU(d, in + count - n)), d, out + count - n);
#endif
}

// Whether any of `count` bytes is `limit` or more.
bool AnyFrom(const Byte* HWY_RESTRICT in, std::size_t count, Byte limit) {
  std::size_t k = 0;
  Byte highest = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<Byte> d;
  const std::size_t n = hn::Lanes(d);
  auto most = hn::Zero(d);
  for (; k + n <= count; k += n)
    most = hn::Max(most, hn::LoadU(d, in + k));
  const auto lowest = hn::Set(d, limit);
  if (!hn::AllFalse(d, hn::Eq(hn::Max(most, lowest), most)))
    return true;
#endif
  for (; k < count; ++k)
    highest = std::max(highest, in[k]);
  return highest >= limit;
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(ColourRows);
HWY_EXPORT(LookUpRow);
HWY_EXPORT(AnyFrom);

void ColourRows(const KernelRows& r, int bytes, bool stream) {
  HWY_DYNAMIC_DISPATCH(ColourRows)(r, bytes, stream);
}
void LookUpRow(const std::uint8_t* in, std::uint8_t* out, std::size_t count,
               const std::uint8_t* table, bool stream) {
  HWY_DYNAMIC_DISPATCH(LookUpRow)(in, out, count, table, stream);
}
bool AnyFrom(const std::uint8_t* in, std::size_t count, std::uint8_t limit) {
  return HWY_DYNAMIC_DISPATCH(AnyFrom)(in, count, limit);
}

}  // namespace kernels

namespace {

using Byte = std::uint8_t;

// Indexes beyond a short palette take the grey last looked up in scan order (255 before any), so
// rows holding such an index are done one pixel at a time with that grey carried along; every
// other row is a plain table lookup.
// `carried`: the grey of the last colour found before these rows (see ConvertToGreyRows).
void Indexed(const TBitmap& source, const KernelRows& r, bool stream, Byte carried) {
  const TPalette& palette = *source.Palette();
  const std::size_t entries = static_cast<std::size_t>(palette.Count());
  std::array<Byte, 256> table{};
  for (std::size_t p = 0; p < entries; ++p) {
    const TPaletteEntry& e = palette.Entries()[p];
    table[p] = GreyLevel(e.peRed, e.peGreen, e.peBlue);
  }
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    if (entries == table.size() || !kernels::AnyFrom(in, r.length, static_cast<Byte>(entries))) {
      kernels::LookUpRow(in, out, r.length, table.data(), stream);
      carried = out[r.length - 1];
      continue;
    }
    for (std::size_t k = 0; k < r.length; ++k) {
      if (in[k] < entries)
        carried = table[in[k]];
      out[k] = carried;
    }
  }
}

// The weights as integers in units of 2^-56, the last place of 0.114 (scaling a double by a
// power of two is exact).
constexpr std::uint64_t kRed = static_cast<std::uint64_t>(0.299 * 0x1p56);
constexpr std::uint64_t kGreen = static_cast<std::uint64_t>(0.587 * 0x1p56);
constexpr std::uint64_t kBlue = static_cast<std::uint64_t>(0.114 * 0x1p56);

}  // namespace

std::uint8_t GreyLevel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  // An x87 unit forms the products and the sums with a 64-bit significand. Every one of them is
  // a multiple of 2^-56 below 256, which 64 bits hold exactly: the extended-precision sum is the
  // exact sum, and its one rounding is the conversion to double. The integer sum stays below
  // 2^64, and converting it to double rounds it to nearest, ties to even, as that conversion
  // does on every processor.
  double t = static_cast<double>(red * kRed + green * kGreen + blue * kBlue) * 0x1p-56;
  if (t > 255.0)
    t = 255.0;
  if (t < 0.0)
    t = 0.0;
  return static_cast<std::uint8_t>(t);
}

std::uint8_t GreyLevelInteger(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const Byte pixel[3] = {blue, green, red};
  return GreyOfPixel(pixel);
}

void ConvertToGrey(const TBitmap& source, TBitmap& result) {
  if (&source == &result) {
    // The result would replace the pixels being read: convert into a new bitmap instead.
    TBitmap grey;
    ConvertToGrey(source, grey);
    result.Assign(std::move(grey));
    return;
  }
  const int width = source.Width();
  const int height = source.Height();
  if (result.Width() != width || result.Height() != height ||
      result.PixelFormat() != TPixelFormat::pf8bit) {
    // A fresh bitmap instead of resizing: resizing would first copy the old pixels over.
    result.Assign(TBitmap(width, height, TPixelFormat::pf8bit));
  }
  result.SetPalette(TPalette::Grey());
  ConvertToGreyRows(source, result, 0, height);
}

void ConvertToGreyRows(const TBitmap& source, TBitmap& result, int first, int last) {
  const int width = source.Width();
  if (width == 0 || first >= last)
    return;
  const int bytes = source.BytesPerPixel();
  KernelRows rows{source.ScanLine(first),          source.Stride(),
                  result.ScanLine(first),          result.Stride(),
                  static_cast<std::size_t>(width), last - first};
  // The rule for indexes beyond a short palette goes row by row.
  if (source.Palette() == nullptr || source.Palette()->Count() == TPalette::MaxEntries)
    rows.JoinIfUnpadded(static_cast<std::size_t>(bytes), 1);
  // Rows far larger than the caches are written around them: nobody reads them again soon.
  const bool stream = result.Stride() * static_cast<std::size_t>(last - first) >= kStreamBytes;
  PrepareSimdDispatch();
  if (bytes != 1) {
    kernels::ColourRows(rows, bytes, stream);
  } else if (source.Palette() != nullptr) {
    // Each row ends on the grey of the last colour found, which the next row carries on.
    Indexed(source, rows, stream,
            first > 0 ? result.ScanLine(first - 1)[width - 1] : GreyLevel(255, 255, 255));
  } else {
    for (int i = 0; i < rows.height; ++i)
      std::memcpy(rows.out + i * rows.outStride, rows.in + i * rows.inStride, rows.length);
  }
}

#endif  // HWY_ONCE
