#include "Grayscale.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "Simd.h"
#include "SimdTargets.h"

// Why the integer formula is exact, and where it is not.
//
// The weights are the doubles nearest to 0.299, 0.587 and 0.114; each differs from the decimal by
// less than 2^-54. So the exact sum is N / 1000 + e with N = 299 R + 587 G + 114 B and
// |e| < 2^-44, and the roundings move it by less than 2^-45 more: when N is not a multiple of 1000,
// t lies at least 0.001 away from any whole number and truncates to N / 1000 (integer division).
// When N is a multiple of 1000, t lies within a hair of the whole number N / 1000 and the
// roundings decide. For every grey (v, v, v) e is negative but smaller than half a unit in the
// last place of a double, so t rounds up to exactly v. A search of all 2^24 colours finds exactly
// three where e is negative and large enough that the double stays below the whole number, so the
// grey is one less than N / 1000:
//   (R, G, B) = (15, 101, 2) -> 63, (29, 201, 3) -> 126, (30, 202, 4) -> 127.
// The integer kernels subtract one from N for exactly these three colours. The exhaustive test
// over all 2^24 colours holds every kernel to GreyLevel.

namespace {

using Byte = std::uint8_t;

// The three colours as B | G << 8 | R << 16, the order of the bytes of a pixel in memory.
constexpr std::uint32_t Key(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
  return b | g << 8 | r << 16;
}
constexpr std::uint32_t kRoundedDown[3] = {Key(15, 101, 2), Key(29, 201, 3), Key(30, 202, 4)};

CCDLAB_INLINE Byte GreyOfPixel(const Byte* p) {
  const std::uint32_t b = p[0], g = p[1], r = p[2];
  const std::uint32_t n = 299 * r + 587 * g + 114 * b;
  std::uint32_t grey = n / 1000;
  // The three colours have these numerators; few others share them.
  if (n == 64000 || n == 127000 || n == 128000) [[unlikely]] {
    const std::uint32_t key = Key(r, g, b);
    grey -= (key == kRoundedDown[0]) | (key == kRoundedDown[1]) | (key == kRoundedDown[2]);
  }
  return static_cast<Byte>(grey);
}

// floor(N / 1000) = floor(floor(N / 8) / 125), and for x = floor(N / 8) <= 31875 the quotient
// x / 125 is (x * 33555) >> 22 (33555 * 125 exceeds 2^22 by 71, and 71 * 31875 < 2^22).
constexpr int kDivide125 = 33555;

struct Rows {
  const Byte* in;
  std::size_t inStride;
  Byte* out;
  std::size_t outStride;
  std::size_t width;
  int height;
};

// ---- true colour ----------------------------------------------------------------------------

template <int Bytes>
void ColourRowScalar(const Byte* in, Byte* out, std::size_t begin, std::size_t end) {
  for (std::size_t k = begin; k < end; ++k)
    out[k] = GreyOfPixel(in + k * Bytes);
}

// SSE2 has no byte shuffle, so 24-bit pixels are gathered with one 32-bit load each.
inline __m128i Key4(const Byte* p, std::integral_constant<int, 3>) {
  std::uint32_t v[4];
  for (int k = 0; k < 4; ++k)
    std::memcpy(&v[k], p + 3 * k, 4);
  return _mm_and_si128(_mm_setr_epi32(static_cast<int>(v[0]), static_cast<int>(v[1]),
                                      static_cast<int>(v[2]), static_cast<int>(v[3])),
                       _mm_set1_epi32(0x00FFFFFF));
}

inline __m128i Key4(const Byte* p, std::integral_constant<int, 4>) {
  return _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                       _mm_set1_epi32(0x00FFFFFF));
}

// floor(N / 8) for four pixels held as B | G << 8 | R << 16 in 32-bit lanes.
inline __m128i Eighths4(__m128i key) {
  const __m128i blueRed = _mm_and_si128(key, _mm_set1_epi32(0x00FF00FF));
  const __m128i green = _mm_and_si128(_mm_srli_epi32(key, 8), _mm_set1_epi32(0xFF));
  const __m128i n = _mm_add_epi32(_mm_madd_epi16(blueRed, _mm_set1_epi32(114 | 299 << 16)),
                                  _mm_madd_epi16(green, _mm_set1_epi32(587)));
  const __m128i special =
      _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(key, _mm_set1_epi32(kRoundedDown[0])),
                                _mm_cmpeq_epi32(key, _mm_set1_epi32(kRoundedDown[1]))),
                   _mm_cmpeq_epi32(key, _mm_set1_epi32(kRoundedDown[2])));
  return _mm_srli_epi32(_mm_add_epi32(n, special), 3);
}

template <int Bytes>
inline void Greys16Sse2(const Byte* in, Byte* out) {
  const std::integral_constant<int, Bytes> bytes;
  const __m128i divide = _mm_set1_epi16(static_cast<short>(kDivide125));
  const auto words = [&](const Byte* p) {
    const __m128i x =
        _mm_packs_epi32(Eighths4(Key4(p, bytes)), Eighths4(Key4(p + 4 * Bytes, bytes)));
    return _mm_srli_epi16(_mm_mulhi_epu16(x, divide), 6);
  };
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_packus_epi16(words(in), words(in + 8 * Bytes)));
}

template <int Bytes>
void ColourRowsBaseline(const Rows& r) {
  // A block of 16 pixels reads 1 byte past its last pixel when they are 24-bit.
  constexpr std::size_t kBlock = Bytes == 3 ? 17 : 16;
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    if (r.width < kBlock) {
      ColourRowScalar<Bytes>(in, out, 0, r.width);
      continue;
    }
    std::size_t k = 0;
    for (; k + kBlock <= r.width; k += 16)
      Greys16Sse2<Bytes>(in + k * Bytes, out + k);
    // The last block overlaps the one before.
    const std::size_t last = r.width - kBlock;
    Greys16Sse2<Bytes>(in + last * Bytes, out + last);
    ColourRowScalar<Bytes>(in, out, last + 16, r.width);
  }
}

CCDLAB_BEGIN_AVX2

// N - (1 for the three colours) for eight pixels held as (B, G, R, x) in 32-bit lanes.
inline __m256i Numerators(__m256i blueRed, __m256i green, __m256i key) {
  const __m256i n = _mm256_add_epi32(_mm256_madd_epi16(blueRed, _mm256_set1_epi32(114 | 299 << 16)),
                                     _mm256_madd_epi16(green, _mm256_set1_epi32(587)));
  const __m256i special =
      _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi32(key, _mm256_set1_epi32(kRoundedDown[0])),
                                      _mm256_cmpeq_epi32(key, _mm256_set1_epi32(kRoundedDown[1]))),
                      _mm256_cmpeq_epi32(key, _mm256_set1_epi32(kRoundedDown[2])));
  return _mm256_srli_epi32(_mm256_add_epi32(n, special), 3);
}

// Eight pixels from 24 bytes: the first four from p, the next four from p + 12.
inline __m256i Numerators24(const Byte* p) {
  const __m256i v = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
  const __m256i blueRed = _mm256_shuffle_epi8(
      v, _mm256_setr_epi8(0, -1, 2, -1, 3, -1, 5, -1, 6, -1, 8, -1, 9, -1, 11, -1, 0, -1, 2, -1, 3,
                          -1, 5, -1, 6, -1, 8, -1, 9, -1, 11, -1));
  const __m256i green = _mm256_shuffle_epi8(
      v, _mm256_setr_epi8(1, -1, -1, -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1, 1, -1, -1,
                          -1, 4, -1, -1, -1, 7, -1, -1, -1, 10, -1, -1, -1));
  const __m256i key = _mm256_shuffle_epi8(
      v, _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4,
                          5, -1, 6, 7, 8, -1, 9, 10, 11, -1));
  return Numerators(blueRed, green, key);
}

inline __m256i Numerators32(const Byte* p) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i lowBytes = _mm256_set1_epi32(0x00FF00FF);
  return Numerators(_mm256_and_si256(v, lowBytes),
                    _mm256_and_si256(_mm256_srli_epi32(v, 8), _mm256_set1_epi32(0xFF)),
                    _mm256_and_si256(v, _mm256_set1_epi32(0x00FFFFFF)));
}

// Thirty-two greys from four groups of eight numerators (each group: pixels 0-3 in the low
// half, 4-7 in the high half).
inline void StoreGreys(Byte* out, __m256i x0, __m256i x1, __m256i x2, __m256i x3) {
  const __m256i divide = _mm256_set1_epi16(static_cast<short>(kDivide125));
  const __m256i w01 = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_packs_epi32(x0, x1), divide), 6);
  const __m256i w23 = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_packs_epi32(x2, x3), divide), 6);
  const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(w01, w23),
                                                    _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
}

template <int Bytes>
inline void Greys32(const Byte* in, Byte* out) {
  if constexpr (Bytes == 3)
    StoreGreys(out, Numerators24(in), Numerators24(in + 24), Numerators24(in + 48),
               Numerators24(in + 72));
  else
    StoreGreys(out, Numerators32(in), Numerators32(in + 32), Numerators32(in + 64),
               Numerators32(in + 96));
}

template <int Bytes>
void ColourRowsAvx2(const Rows& r) {
  // A block of 32 pixels reads 4 bytes past its last pixel when they are 24-bit.
  constexpr std::size_t kBlock = Bytes == 3 ? 34 : 32;
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    if (r.width < kBlock) {
      ColourRowScalar<Bytes>(in, out, 0, r.width);
      continue;
    }
    std::size_t k = 0;
    for (; k + kBlock <= r.width; k += 32)
      Greys32<Bytes>(in + k * Bytes, out + k);
    // The last block overlaps the one before.
    const std::size_t last = r.width - kBlock;
    Greys32<Bytes>(in + last * Bytes, out + last);
    ColourRowScalar<Bytes>(in, out, last + 32, r.width);
  }
}

CCDLAB_END_TARGET

CCDLAB_BEGIN_AVX512

inline __m512i Numerators512(__m512i blueRed, __m512i green, __m512i key) {
  const __m512i n = _mm512_add_epi32(_mm512_madd_epi16(blueRed, _mm512_set1_epi32(114 | 299 << 16)),
                                     _mm512_madd_epi16(green, _mm512_set1_epi32(587)));
  const __mmask16 special = _mm512_cmpeq_epi32_mask(key, _mm512_set1_epi32(kRoundedDown[0])) |
                            _mm512_cmpeq_epi32_mask(key, _mm512_set1_epi32(kRoundedDown[1])) |
                            _mm512_cmpeq_epi32_mask(key, _mm512_set1_epi32(kRoundedDown[2]));
  return _mm512_mask_sub_epi32(n, special, n, _mm512_set1_epi32(1));
}

// Sixteen greys from the pixels in v (16 × 3 or 16 × 4 bytes), written under `mask`.
template <int Bytes>
inline void Greys16(__m512i v, Byte* out, __mmask16 mask) {
  // Each pixel as B | G << 8 | R << 16 in a 32-bit lane.
  __m512i key;
  if constexpr (Bytes == 3) {
    // Byte 4k + m picks byte 3k + m of the pixels; the zero mask clears byte 4k + 3.
    const __m512i spread =
        _mm512_set_epi32(0x002F2E2D, 0x002C2B2A, 0x00292827, 0x00262524, 0x00232221, 0x00201F1E,
                         0x001D1C1B, 0x001A1918, 0x00171615, 0x00141312, 0x0011100F, 0x000E0D0C,
                         0x000B0A09, 0x00080706, 0x00050403, 0x00020100);
    key = _mm512_maskz_permutexvar_epi8(0x7777777777777777ull, spread, v);
  } else {
    key = _mm512_and_si512(v, _mm512_set1_epi32(0x00FFFFFF));
  }
  const __m512i n = Numerators512(_mm512_and_si512(key, _mm512_set1_epi32(0x00FF00FF)),
                                  _mm512_srli_epi32(_mm512_slli_epi32(key, 16), 24), key);
  const __m512i x = _mm512_srli_epi32(n, 3);
  const __m512i grey = _mm512_srli_epi32(_mm512_mullo_epi32(x, _mm512_set1_epi32(kDivide125)), 22);
  // A masked store is slower than a plain one: only the last block of a row takes it.
  if (mask == 0xFFFF)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm512_cvtepi32_epi8(grey));
  else
    _mm_mask_storeu_epi8(out, mask, _mm512_cvtepi32_epi8(grey));
}

template <int Bytes>
void ColourRowsAvx512(const Rows& r) {
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    std::size_t k = 0;
    for (; k + 16 <= r.width; k += 16) {
      const __m512i v = Bytes == 3 ? _mm512_maskz_loadu_epi8(0x0000FFFFFFFFFFFFull, in + k * 3)
                                   : _mm512_loadu_si512(in + k * 4);
      Greys16<Bytes>(v, out + k, 0xFFFF);
    }
    if (k < r.width) {
      const std::size_t left = r.width - k;
      const __mmask64 bytes = _bzhi_u64(~0ull, static_cast<unsigned>(left * Bytes));
      Greys16<Bytes>(_mm512_maskz_loadu_epi8(bytes, in + k * Bytes), out + k,
                     static_cast<__mmask16>(_bzhi_u32(~0u, static_cast<unsigned>(left))));
    }
  }
}

CCDLAB_END_TARGET

// ---- indexed --------------------------------------------------------------------------------

using Table = std::array<Byte, 256>;

// Eight bytes at a time: one load and one store for eight lookups.
void LookUpBaseline(const Byte* in, Byte* out, std::size_t count, const Table& table) {
  const Byte* t = table.data();
  std::size_t k = 0;
  for (; k + 8 <= count; k += 8) {
    std::uint64_t x;
    std::memcpy(&x, in + k, 8);
    std::uint64_t y = 0;
    for (int b = 0; b < 8; ++b)
      y |= std::uint64_t{t[(x >> (8 * b)) & 0xFF]} << (8 * b);
    std::memcpy(out + k, &y, 8);
  }
  for (; k < count; ++k)
    out[k] = t[in[k]];
}

CCDLAB_BEGIN_AVX2

// The table as sixteen 16-entry parts, part h for the bytes whose high nibble is h. For bytes
// below 128, u_h = part_h xor part_(h+1) (u_7 = part_7) is looked up wherever the high nibble is at
// most h, so the xor of those lookups leaves part_h: adding 0x80 - 16 (h + 1) with saturation
// pushes bytes of a higher nibble to 0x80 or above, which the shuffle turns into 0. Bytes of 128
// and above go the same way with their top bit flipped, through parts 8 … 15.
void LookUpAvx2(const Byte* in, Byte* out, std::size_t count, const Table& table) {
  if (count < 32) {
    LookUpBaseline(in, out, count, table);
    return;
  }
  __m256i parts[16];
  for (int h = 0; h < 16; ++h) {
    const __m128i part = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data() + 16 * h));
    const __m128i next =
        h % 8 < 7 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(table.data() + 16 * (h + 1)))
                  : _mm_setzero_si128();
    parts[h] = _mm256_broadcastsi128_si256(_mm_xor_si128(part, next));
  }
  const auto block = [&](std::size_t k) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + k));
    const __m256i high = _mm256_xor_si256(low, _mm256_set1_epi8(static_cast<char>(0x80)));
    __m256i result = _mm256_setzero_si256();
    for (int h = 0; h < 8; ++h) {
      const __m256i step = _mm256_set1_epi8(static_cast<char>(0x80 - 16 * (h + 1)));
      result = _mm256_xor_si256(result, _mm256_shuffle_epi8(parts[h], _mm256_adds_epu8(low, step)));
      result =
          _mm256_xor_si256(result, _mm256_shuffle_epi8(parts[h + 8], _mm256_adds_epu8(high, step)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), result);
  };
  std::size_t k = 0;
  for (; k + 32 <= count; k += 32)
    block(k);
  if (k < count)
    block(count - 32);
}

CCDLAB_END_TARGET

CCDLAB_BEGIN_AVX512

void LookUpAvx512(const Byte* in, Byte* out, std::size_t count, const Table& table) {
  const __m512i t0 = _mm512_loadu_si512(table.data());
  const __m512i t1 = _mm512_loadu_si512(table.data() + 64);
  const __m512i t2 = _mm512_loadu_si512(table.data() + 128);
  const __m512i t3 = _mm512_loadu_si512(table.data() + 192);
  const auto block = [&](__m512i x) {
    const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
    const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
  };
  std::size_t k = 0;
  for (; k + 64 <= count; k += 64)
    _mm512_storeu_si512(out + k, block(_mm512_loadu_si512(in + k)));
  if (k < count) {
    const __mmask64 mask = _bzhi_u64(~0ull, static_cast<unsigned>(count - k));
    _mm512_mask_storeu_epi8(out + k, mask, block(_mm512_maskz_loadu_epi8(mask, in + k)));
  }
}

CCDLAB_END_TARGET

using LookUpFn = void (*)(const Byte*, Byte*, std::size_t, const Table&);

LookUpFn ChooseLookUp() {
  switch (ActiveSimdLevel()) {
    case SimdLevel::Avx512:
      return LookUpAvx512;
    case SimdLevel::Avx2:
      return LookUpAvx2;
    case SimdLevel::Baseline:
      break;
  }
  return LookUpBaseline;
}

// Indexes beyond a short palette take the grey last looked up in scan order (255 before any), so
// rows holding such an index are done one pixel at a time with that grey carried along; every
// other row is a plain table lookup.
void Indexed(const TBitmap& source, const Rows& r) {
  const TPalette& palette = *source.Palette();
  const std::size_t entries = static_cast<std::size_t>(palette.Count());
  Table table{};
  for (std::size_t p = 0; p < entries; ++p) {
    const TPaletteEntry& e = palette.Entries()[p];
    table[p] = GreyLevel(e.peRed, e.peGreen, e.peBlue);
  }
  const LookUpFn lookUp = ChooseLookUp();
  Byte carried = GreyLevel(255, 255, 255);
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    Byte highest = 0;
    if (entries < table.size())
      for (std::size_t k = 0; k < r.width; ++k)
        highest = std::max(highest, in[k]);
    if (highest < entries) {
      lookUp(in, out, r.width, table);
      carried = out[r.width - 1];
      continue;
    }
    for (std::size_t k = 0; k < r.width; ++k) {
      if (in[k] < entries)
        carried = table[in[k]];
      out[k] = carried;
    }
  }
}

}  // namespace

std::uint8_t GreyLevel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  // The weights are the double constants; only the arithmetic is extended.
  const long double extended = (static_cast<long double>(red) * static_cast<long double>(0.299) +
                                static_cast<long double>(green) * static_cast<long double>(0.587)) +
                               static_cast<long double>(blue) * static_cast<long double>(0.114);
  double t = static_cast<double>(extended);
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
  if (source.Empty())
    return;

  Rows rows;
  rows.in = source.ScanLine(0);
  rows.inStride = source.Stride();
  rows.out = result.ScanLine(0);
  rows.outStride = result.Stride();
  rows.width = static_cast<std::size_t>(width);
  rows.height = height;
  const int bytes = source.BytesPerPixel();
  const bool shortPalette =
      source.Palette() != nullptr && source.Palette()->Count() < TPalette::MaxEntries;
  if (rows.inStride == rows.width * bytes && rows.outStride == rows.width && !shortPalette) {
    // Rows without padding in both pictures: one long row. (The rule for indexes beyond a short
    // palette goes row by row.)
    rows.width *= static_cast<std::size_t>(height);
    rows.height = 1;
  }
  const SimdLevel level = ActiveSimdLevel();
  switch (bytes) {
    case 1:
      if (source.Palette() != nullptr) {
        Indexed(source, rows);
      } else {
        for (int i = 0; i < rows.height; ++i)
          std::memcpy(rows.out + i * rows.outStride, rows.in + i * rows.inStride, rows.width);
      }
      break;
    case 3:
      if (level == SimdLevel::Avx512)
        ColourRowsAvx512<3>(rows);
      else if (level == SimdLevel::Avx2)
        ColourRowsAvx2<3>(rows);
      else
        ColourRowsBaseline<3>(rows);
      break;
    case 4:
      if (level == SimdLevel::Avx512)
        ColourRowsAvx512<4>(rows);
      else if (level == SimdLevel::Avx2)
        ColourRowsAvx2<4>(rows);
      else
        ColourRowsBaseline<4>(rows);
      break;
  }
}
