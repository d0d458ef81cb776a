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
// `below`, `count` bytes each, `Bytes` bytes per pixel; `columns` is scratch space for `count`
// 16-bit sums. The first and the last pixel take their neighbours from the other end of the row;
// the bytes between them need no wrap test.
#define CCDLAB_ROW_PARAMETERS                                                                 \
  const Byte* __restrict above, const Byte* __restrict current, const Byte* __restrict below, \
      Byte* __restrict out, std::uint16_t* __restrict columns, std::size_t count

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

template <int Bytes>
void RowBaseline(CCDLAB_ROW_PARAMETERS) {
  (void)columns;
  const std::size_t end = Edges<Bytes>(above, current, below, out, count);
  if (end > Bytes)
    Inner<Bytes>(above, current, below, out, Bytes, end);
}

// The wide kernels add the three rows column by column into 16-bit sums first; each output is
// then 9 × centre minus three neighbouring sums (8 × 255 + 8 × 255 fits a signed 16-bit lane).

CCDLAB_BEGIN_AVX2

inline __m256i Widen(const Byte* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

inline __m256i Load(const std::uint16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

template <int Bytes>
inline __m256i Outputs16(const Byte* current, const std::uint16_t* columns, std::size_t j) {
  const __m256i centre = Widen(current + j);
  const __m256i box = _mm256_add_epi16(
      _mm256_add_epi16(Load(columns + j - Bytes), Load(columns + j)), Load(columns + j + Bytes));
  return _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(centre, 3), centre), box);
}

template <int Bytes>
inline void Outputs32(const Byte* current, const std::uint16_t* columns, Byte* out, std::size_t j) {
  __m256i v = _mm256_packus_epi16(Outputs16<Bytes>(current, columns, j),
                                  Outputs16<Bytes>(current, columns, j + 16));
  v = _mm256_permute4x64_epi64(v, 0xD8);
  if constexpr (Bytes == 4)
    v = _mm256_blendv_epi8(v, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(current + j)),
                           _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), v);
}

template <int Bytes>
void RowAvx2(CCDLAB_ROW_PARAMETERS) {
  const std::size_t end = Edges<Bytes>(above, current, below, out, count);
  if (end < Bytes + 32) {
    if (end > Bytes)
      Inner<Bytes>(above, current, below, out, Bytes, end);
    return;
  }
  std::size_t j = 0;
  for (; j + 16 <= count; j += 16)
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(columns + j),
        _mm256_add_epi16(_mm256_add_epi16(Widen(above + j), Widen(current + j)), Widen(below + j)));
  for (; j < count; ++j)
    columns[j] = static_cast<std::uint16_t>(above[j] + current[j] + below[j]);

  std::size_t k = Bytes;
  for (; k + 32 <= end; k += 32)
    Outputs32<Bytes>(current, columns, out, k);
  // The last block overlaps the one before; it starts at a multiple of the pixel size, so the
  // alpha bytes stay where they are.
  if (k < end)
    Outputs32<Bytes>(current, columns, out, end - 32);
}

CCDLAB_END_TARGET

CCDLAB_BEGIN_AVX512

inline __m512i Widen512(const Byte* p) {
  return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

template <int Bytes>
inline __m512i Outputs32x(const Byte* current, const std::uint16_t* columns, std::size_t j) {
  const __m512i centre = Widen512(current + j);
  const __m512i box = _mm512_add_epi16(
      _mm512_add_epi16(_mm512_loadu_si512(columns + j - Bytes), _mm512_loadu_si512(columns + j)),
      _mm512_loadu_si512(columns + j + Bytes));
  return _mm512_sub_epi16(_mm512_add_epi16(_mm512_slli_epi16(centre, 3), centre), box);
}

template <int Bytes>
inline void Outputs64(const Byte* current, const std::uint16_t* columns, Byte* out, std::size_t j) {
  __m512i v = _mm512_packus_epi16(Outputs32x<Bytes>(current, columns, j),
                                  Outputs32x<Bytes>(current, columns, j + 32));
  v = _mm512_maskz_permutexvar_epi64(0xFF, _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), v);
  if constexpr (Bytes == 4)
    v = _mm512_mask_blend_epi8(0x8888888888888888ull, v, _mm512_loadu_si512(current + j));
  _mm512_storeu_si512(out + j, v);
}

template <int Bytes>
void RowAvx512(CCDLAB_ROW_PARAMETERS) {
  const std::size_t end = Edges<Bytes>(above, current, below, out, count);
  if (end < Bytes + 64) {
    if (end > Bytes)
      Inner<Bytes>(above, current, below, out, Bytes, end);
    return;
  }
  std::size_t j = 0;
  for (; j + 32 <= count; j += 32)
    _mm512_storeu_si512(
        columns + j, _mm512_add_epi16(_mm512_add_epi16(Widen512(above + j), Widen512(current + j)),
                                      Widen512(below + j)));
  for (; j < count; ++j)
    columns[j] = static_cast<std::uint16_t>(above[j] + current[j] + below[j]);

  std::size_t k = Bytes;
  for (; k + 64 <= end; k += 64)
    Outputs64<Bytes>(current, columns, out, k);
  if (k < end)
    Outputs64<Bytes>(current, columns, out, end - 64);
}

CCDLAB_END_TARGET

using RowFn = void (*)(const Byte*, const Byte*, const Byte*, Byte*, std::uint16_t*, std::size_t);

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
  std::vector<std::uint16_t> columns(count);
  Byte* const first = saved.data();
  Byte* const buffers[2] = {saved.data() + count, saved.data() + 2 * count};

  const Byte* previous = nullptr;
  for (int i = 0; i < height; ++i) {
    Byte* target = bitmap.ScanLine(i);
    Byte* current = i == 0 ? first : buffers[i & 1];
    std::memcpy(current, target, count);
    const Byte* above = i > 0 ? previous : height > 1 ? bitmap.ScanLine(height - 1) : current;
    const Byte* below = i + 1 < height ? bitmap.ScanLine(i + 1) : first;
    row(above, current, below, target, columns.data(), count);
    previous = current;
  }
}
