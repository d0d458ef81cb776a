#include "Laplacian.h"

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Simd.h"
#include "SimdTargets.h"

namespace {

using Byte = std::uint8_t;

// One output row is computed from three rows of the picture as it was: `above`, `current` and
// `below`, `count` bytes each, `Bytes` bytes per pixel. The first and the last pixel take their
// neighbours from the other end of the row; the bytes between them need no wrap test.
#define CCDLAB_ROW_PARAMETERS                                                                 \
  const Byte* __restrict above, const Byte* __restrict current, const Byte* __restrict below, \
      Byte* __restrict out, std::size_t count

CCDLAB_INLINE Byte Clamp(int v) {
  return static_cast<Byte>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Pixel `centre` with its left and right neighbours at the given offsets.
template <int Bytes>
CCDLAB_INLINE void Pixel(const Byte* above, const Byte* current, const Byte* below, Byte* out,
                         std::size_t centre, std::size_t left, std::size_t right) {
  constexpr std::size_t kColours = Bytes == 4 ? 3 : Bytes;
  for (std::size_t c = 0; c < kColours; ++c) {
    const int v = 8 * current[centre + c] - above[left + c] - above[centre + c] - above[right + c] -
                  current[left + c] - current[right + c] - below[left + c] - below[centre + c] -
                  below[right + c];
    out[centre + c] = Clamp(v);
  }
  if constexpr (Bytes == 4)
    out[centre + 3] = current[centre + 3];
}

// Bytes [begin, end) of a row, all of whose neighbours lie inside the row.
template <int Bytes>
CCDLAB_INLINE void Inner(const Byte* __restrict above, const Byte* __restrict current,
                         const Byte* __restrict below, Byte* __restrict out, std::size_t begin,
                         std::size_t end) {
  for (std::size_t j = begin; j < end; ++j) {
    const int v = 8 * current[j] - (above[j - Bytes] + above[j] + above[j + Bytes]) -
                  (current[j - Bytes] + current[j + Bytes]) -
                  (below[j - Bytes] + below[j] + below[j + Bytes]);
    if constexpr (Bytes == 4)
      out[j] = (j & 3) == 3 ? current[j] : Clamp(v);
    else
      out[j] = Clamp(v);
  }
}

// Returns the end of the inner bytes, or 0 when the row is one pixel wide and done.
template <int Bytes>
CCDLAB_INLINE std::size_t Edges(const Byte* above, const Byte* current, const Byte* below,
                                Byte* out, std::size_t count) {
  const std::size_t last = count - Bytes;
  if (last == 0) {
    Pixel<Bytes>(above, current, below, out, 0, 0, 0);
    return 0;
  }
  Pixel<Bytes>(above, current, below, out, 0, last, Bytes);
  Pixel<Bytes>(above, current, below, out, last, last - Bytes, 0);
  return last;
}

// The wide kernels work on 16-bit lanes without widening the bytes: the even bytes of a vector
// are its lanes masked, the odd bytes its lanes shifted down. Loaded one pixel to the left and
// one to the right, a row gives the left and right neighbours of every even and every odd byte.
// 9 × centre minus the 3 × 3 bytes around and under it (8 × 255 + 8 × 255 fits a signed 16-bit
// lane) is clamped, and the two halves are put back together. In 8-bit rows a byte and its left
// neighbour are a pair of the vector one byte to the left, which a multiply-add sums at once.

// Drives a kernel that makes `Block` outputs at a time over the bytes between the ends; the last
// block overlaps the one before and starts on a pixel.
template <int Bytes, std::size_t Block, class Kernel>
CCDLAB_INLINE void Blocks(const Byte* above, const Byte* current, const Byte* below, Byte* out,
                          std::size_t count, Kernel kernel) {
  const std::size_t end = Edges<Bytes>(above, current, below, out, count);
  if (end < Bytes + Block) {
    if (end > Bytes)
      Inner<Bytes>(above, current, below, out, Bytes, end);
    return;
  }
  std::size_t k = Bytes;
  for (; k + Block <= end; k += Block)
    kernel(k);
  if (k < end)
    kernel(end - Block);
}

// 32-bit rows with SSE2, the way the wide kernels below work.
void RowBaselineAlpha(CCDLAB_ROW_PARAMETERS) {
  constexpr int Bytes = 4;
  const __m128i low = _mm_set1_epi16(0xFF);
  const __m128i zero = _mm_setzero_si128();
  Blocks<Bytes, 16>(above, current, below, out, count, [&](std::size_t j) {
    __m128i even = zero, odd = zero, evenCentre = zero, oddCentre = zero;
    for (const Byte* p : {above, current, below}) {
      const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j - Bytes));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j));
      const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j + Bytes));
      const __m128i ec = _mm_and_si128(c, low);
      const __m128i oc = _mm_srli_epi16(c, 8);
      even = _mm_add_epi16(
          even, _mm_add_epi16(_mm_add_epi16(_mm_and_si128(l, low), ec), _mm_and_si128(r, low)));
      odd = _mm_add_epi16(
          odd, _mm_add_epi16(_mm_add_epi16(_mm_srli_epi16(l, 8), oc), _mm_srli_epi16(r, 8)));
      if (p == current) {
        evenCentre = ec;
        oddCentre = oc;
      }
    }
    __m128i ve = _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(evenCentre, 3), evenCentre), even);
    __m128i vo = _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(oddCentre, 3), oddCentre), odd);
    ve = _mm_min_epi16(_mm_max_epi16(ve, zero), low);
    vo = _mm_min_epi16(_mm_max_epi16(vo, zero), low);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i v = _mm_or_si128(
        _mm_andnot_si128(alpha, _mm_or_si128(ve, _mm_slli_epi16(vo, 8))),
        _mm_and_si128(alpha, _mm_loadu_si128(reinterpret_cast<const __m128i*>(current + j))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), v);
  });
}

// The compiler vectorises the plain loop well enough for 8- and 24-bit rows, but not around the
// alpha bytes of 32-bit rows.
template <int Bytes>
void RowBaseline(CCDLAB_ROW_PARAMETERS) {
  if constexpr (Bytes != 4) {
    const std::size_t end = Edges<Bytes>(above, current, below, out, count);
    if (end > Bytes)
      Inner<Bytes>(above, current, below, out, Bytes, end);
  } else {
    RowBaselineAlpha(above, current, below, out, count);
  }
}

CCDLAB_BEGIN_AVX2

template <int Bytes>
void RowAvx2(CCDLAB_ROW_PARAMETERS) {
  const __m256i low = _mm256_set1_epi16(0xFF);
  const __m256i zero = _mm256_setzero_si256();
  Blocks<Bytes, 32>(above, current, below, out, count, [&](std::size_t j) {
    __m256i even = zero, odd = zero, evenCentre = zero, oddCentre = zero;
    for (const Byte* p : {above, current, below}) {
      const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + j - Bytes));
      const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + j + Bytes));
      __m256i e, o, ec, oc;
      if constexpr (Bytes == 1) {
        const __m256i ones = _mm256_set1_epi8(1);
        ec = _mm256_srli_epi16(l, 8);
        oc = _mm256_and_si256(r, low);
        e = _mm256_add_epi16(_mm256_maddubs_epi16(l, ones), oc);
        o = _mm256_add_epi16(_mm256_maddubs_epi16(r, ones), ec);
      } else {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + j));
        ec = _mm256_and_si256(c, low);
        oc = _mm256_srli_epi16(c, 8);
        e = _mm256_add_epi16(_mm256_add_epi16(_mm256_and_si256(l, low), ec),
                             _mm256_and_si256(r, low));
        o = _mm256_add_epi16(_mm256_add_epi16(_mm256_srli_epi16(l, 8), oc),
                             _mm256_srli_epi16(r, 8));
      }
      even = _mm256_add_epi16(even, e);
      odd = _mm256_add_epi16(odd, o);
      if (p == current) {
        evenCentre = ec;
        oddCentre = oc;
      }
    }
    __m256i ve =
        _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(evenCentre, 3), evenCentre), even);
    __m256i vo =
        _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(oddCentre, 3), oddCentre), odd);
    ve = _mm256_min_epi16(_mm256_max_epi16(ve, zero), low);
    vo = _mm256_min_epi16(_mm256_max_epi16(vo, zero), low);
    __m256i v = _mm256_or_si256(ve, _mm256_slli_epi16(vo, 8));
    if constexpr (Bytes == 4)
      v = _mm256_blendv_epi8(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(current + j)),
                             _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), v);
  });
}

CCDLAB_END_TARGET

CCDLAB_BEGIN_AVX512

template <int Bytes>
void RowAvx512(CCDLAB_ROW_PARAMETERS) {
  const __m512i low = _mm512_set1_epi16(0xFF);
  const __m512i zero = _mm512_setzero_si512();
  Blocks<Bytes, 64>(above, current, below, out, count, [&](std::size_t j) {
    __m512i even = zero, odd = zero, evenCentre = zero, oddCentre = zero;
    for (const Byte* p : {above, current, below}) {
      const __m512i l = _mm512_loadu_si512(p + j - Bytes);
      const __m512i r = _mm512_loadu_si512(p + j + Bytes);
      __m512i e, o, ec, oc;
      if constexpr (Bytes == 1) {
        const __m512i ones = _mm512_set1_epi8(1);
        ec = _mm512_srli_epi16(l, 8);
        oc = _mm512_and_si512(r, low);
        e = _mm512_add_epi16(_mm512_maddubs_epi16(l, ones), oc);
        o = _mm512_add_epi16(_mm512_maddubs_epi16(r, ones), ec);
      } else {
        const __m512i c = _mm512_loadu_si512(p + j);
        ec = _mm512_and_si512(c, low);
        oc = _mm512_srli_epi16(c, 8);
        e = _mm512_add_epi16(_mm512_add_epi16(_mm512_and_si512(l, low), ec),
                             _mm512_and_si512(r, low));
        o = _mm512_add_epi16(_mm512_add_epi16(_mm512_srli_epi16(l, 8), oc),
                             _mm512_srli_epi16(r, 8));
      }
      even = _mm512_add_epi16(even, e);
      odd = _mm512_add_epi16(odd, o);
      if (p == current) {
        evenCentre = ec;
        oddCentre = oc;
      }
    }
    __m512i ve =
        _mm512_sub_epi16(_mm512_add_epi16(_mm512_slli_epi16(evenCentre, 3), evenCentre), even);
    __m512i vo =
        _mm512_sub_epi16(_mm512_add_epi16(_mm512_slli_epi16(oddCentre, 3), oddCentre), odd);
    ve = _mm512_min_epi16(_mm512_max_epi16(ve, zero), low);
    vo = _mm512_min_epi16(_mm512_max_epi16(vo, zero), low);
    const __m512i v = _mm512_or_si512(ve, _mm512_slli_epi16(vo, 8));
    // The masked store leaves alpha bytes as they are; it is slower than a plain one.
    if constexpr (Bytes == 4)
      _mm512_mask_storeu_epi8(out + j, 0x7777777777777777ull, v);
    else
      _mm512_storeu_si512(out + j, v);
  });
}

CCDLAB_END_TARGET

using RowFn = void (*)(const Byte*, const Byte*, const Byte*, Byte*, std::size_t);

RowFn ChooseRow(int bytes) {
  static constexpr RowFn kRows[3][3] = {
      {RowBaseline<1>, RowBaseline<3>, RowBaseline<4>},
      {RowAvx2<1>, RowAvx2<3>, RowAvx2<4>},
      {RowAvx512<1>, RowAvx512<3>, RowAvx512<4>},
  };
  const int column = bytes == 1 ? 0 : bytes == 3 ? 1 : 2;
  return kRows[static_cast<int>(ActiveSimdLevel())][column];
}

}  // namespace

void Laplacian(TBitmap& bitmap) {
  if (bitmap.Empty())
    return;
  const int height = bitmap.Height();
  const std::size_t count = bitmap.RowBytes();
  const RowFn row = ChooseRow(bitmap.BytesPerPixel());

  // Row i is written once rows i - 1, i and i + 1 of the original have been read, so only the
  // original rows still needed are kept aside instead of a snapshot of the whole picture: row 0
  // (the last row's lower neighbour), the previous row and the current one.
  std::vector<Byte> saved(3 * count);
  Byte* const first = saved.data();
  Byte* const buffers[2] = {saved.data() + count, saved.data() + 2 * count};

  const Byte* previous = nullptr;
  for (int i = 0; i < height; ++i) {
    Byte* target = bitmap.ScanLine(i);
    Byte* current = i == 0 ? first : buffers[i & 1];
    std::memcpy(current, target, count);
    const Byte* above = i > 0 ? previous : height > 1 ? bitmap.ScanLine(height - 1) : current;
    const Byte* below = i + 1 < height ? bitmap.ScanLine(i + 1) : first;
    row(above, current, below, target, count);
    previous = current;
  }
}
