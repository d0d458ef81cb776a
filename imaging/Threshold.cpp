#include "Threshold.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "Simd.h"
#include "SimdTargets.h"

namespace {

using Byte = std::uint8_t;

// Colour bytes at or above `lowest` become `on` (255, or 0 when the threshold is above 255), the
// others 0; the alpha byte of a 32-bit pixel keeps the target's value. `in` may be `out`.
struct Rows {
  const Byte* in;
  std::size_t inStride;
  Byte* out;
  std::size_t outStride;
  std::size_t count;  // bytes per row
  int height;
  bool alpha;
  Byte lowest;
  Byte on;
  bool stream;  // write around the caches (see kStreamBytes)
};

// A target this large does not stay in the caches anyway: writing it around them saves reading
// every line of it before it is overwritten, a third of the memory traffic.
constexpr std::size_t kStreamBytes = std::size_t{8} << 20;

void RowScalar(const Rows& r, const Byte* in, Byte* out, std::size_t begin) {
  for (std::size_t j = begin; j < r.count; ++j)
    if (!r.alpha || (j & 3) != 3)
      out[j] = in[j] >= r.lowest ? r.on : 0;
}

// A whole row `Block` bytes at a time. Blocks start where the target is aligned to the block
// size, so no store straddles two cache lines; the first and the last block overlap their
// neighbours, which is harmless even in place, since thresholding twice gives what thresholding
// once gave.
template <std::size_t Block, class Apply>
CCDLAB_INLINE void Blocks(const Rows& r, Apply apply) {
  for (int i = 0; i < r.height; ++i) {
    const Byte* in = r.in + i * r.inStride;
    Byte* out = r.out + i * r.outStride;
    if (r.count < Block) {
      RowScalar(r, in, out, 0);
      continue;
    }
    apply(in, out);
    // A multiple of 4, as the target's rows are: alpha bytes stay in place.
    std::size_t j = (Block - reinterpret_cast<std::uintptr_t>(out) % Block) % Block;
    for (; j + Block <= r.count; j += Block)
      apply(in + j, out + j);
    if (j < r.count)
      apply(in + r.count - Block, out + r.count - Block);
  }
}

void RowsBaseline(const Rows& r) {
  const __m128i lowest = _mm_set1_epi8(static_cast<char>(r.lowest));
  const __m128i colour = _mm_set1_epi32(r.on == 0 ? 0 : r.alpha ? 0x00FFFFFF : -1);
  const __m128i alpha = _mm_set1_epi32(r.alpha ? static_cast<int>(0xFF000000u) : 0);
  Blocks<16>(r, [&](const Byte* in, Byte* out) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i high = _mm_cmpeq_epi8(_mm_max_epu8(x, lowest), x);
    __m128i v = _mm_and_si128(high, colour);
    if (r.alpha)
      v = _mm_or_si128(
          v, _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(out)), alpha));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  });
}

CCDLAB_BEGIN_AVX2

// Also at the AVX-512 level: 64-byte loads and stores, masked or not, were slower here.
void RowsAvx2(const Rows& r) {
  const __m256i lowest = _mm256_set1_epi8(static_cast<char>(r.lowest));
  const __m256i colour = _mm256_set1_epi32(r.on == 0 ? 0 : r.alpha ? 0x00FFFFFF : -1);
  const __m256i alpha = _mm256_set1_epi32(r.alpha ? static_cast<int>(0xFF000000u) : 0);
  const auto one = [&](const Byte* in, Byte* out) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i high = _mm256_cmpeq_epi8(_mm256_max_epu8(x, lowest), x);
    __m256i v = _mm256_and_si256(high, colour);
    if (r.alpha)
      v = _mm256_or_si256(
          v, _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(out)), alpha));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
  };
  if (!r.stream) {
    // Two at a time: a whole cache line of the target per step.
    Blocks<64>(r, [&](const Byte* in, Byte* out) {
      one(in, out);
      one(in + 32, out + 32);
    });
    return;
  }
  // Whole aligned lines go around the caches; the unaligned ends, which overlap them with the same
  // bytes, are stored as usual.
  Blocks<64>(r, [&](const Byte* in, Byte* out) {
    if (reinterpret_cast<std::uintptr_t>(out) % 64 != 0) {
      one(in, out);
      one(in + 32, out + 32);
      return;
    }
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
    _mm256_stream_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(x, lowest), x), colour));
    _mm256_stream_si256(reinterpret_cast<__m256i*>(out + 32),
                        _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(y, lowest), y), colour));
  });
  // Streamed stores are weakly ordered: they must be complete before the picture is used.
  _mm_sfence();
}

CCDLAB_END_TARGET

}  // namespace

void Threshold(TBitmap& bitmap, int threshold) {
  ThresholdInto(bitmap, bitmap, threshold);
}

void ThresholdInto(const TBitmap& source, TBitmap& target, int threshold) {
  if (source.PixelFormat() != target.PixelFormat())
    return;
  const int height = std::min(source.Height(), target.Height());
  const int width = std::min(source.Width(), target.Width());
  if (height <= 0 || width <= 0)
    return;
  Rows rows;
  rows.in = source.ScanLine(0);
  rows.inStride = source.Stride();
  rows.out = target.ScanLine(0);
  rows.outStride = target.Stride();
  rows.count = static_cast<std::size_t>(width) * source.BytesPerPixel();
  rows.height = height;
  if (rows.inStride == rows.count && rows.outStride == rows.count) {
    // Rows without padding, wholly thresholded: one long row.
    rows.count *= static_cast<std::size_t>(height);
    rows.height = 1;
  }
  rows.alpha = source.PixelFormat() == TPixelFormat::pf32bit;
  // Every byte is at least 0 and none reaches 256.
  rows.lowest = static_cast<Byte>(std::clamp(threshold, 0, 255));
  rows.on = threshold > 255 ? 0 : 255;
  // In place, each line is read just before it is written, so it is in the cache already.
  rows.stream = rows.in != rows.out && !rows.alpha &&
                rows.count * static_cast<std::size_t>(rows.height) >= kStreamBytes;
  switch (ActiveSimdLevel()) {
    case SimdLevel::Avx512:
    case SimdLevel::Avx2:
      RowsAvx2(rows);
      break;
    case SimdLevel::Baseline:
      RowsBaseline(rows);
      break;
  }
}
