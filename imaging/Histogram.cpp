// SPDX-License-Identifier: GPL-3.0-or-later
#include "Histogram.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

#include "TwoHalves.h"

namespace {

using Byte = std::uint8_t;

// Counting into one table stalls on runs of equal bytes, each increment waiting for the store of
// the one before; photographs are full of such runs. Neighbouring bytes go to different tables,
// summed at the end. 32-bit counters keep the tables in the first-level cache; they are emptied
// into the 64-bit totals before they could overflow.
template <int Tables>
struct SubTables {
  std::uint32_t count[Tables][THistogram::Levels] = {};
  std::uint64_t held = 0;  // the most any counter may hold

  void FlushBefore(std::uint64_t more, THistogram::Counts* const* totals, const int* tableOf) {
    if (held + more <= 0xFFFFFFFFu)
      return;
    Flush(totals, tableOf);
  }
  void Flush(THistogram::Counts* const* totals, const int* tableOf) {
    for (int t = 0; t < Tables; ++t)
      for (int v = 0; v < THistogram::Levels; ++v)
        (*totals[tableOf[t]])[v] += count[t][v];
    std::memset(count, 0, sizeof count);
    held = 0;
  }
};

// Blue, green, red (and alpha) of even and odd pixels, and the brightest colour byte of each.
template <int BytesPerPixel>
void CountColour(const TBitmap& bitmap, THistogram& h) {
  constexpr bool kAlpha = BytesPerPixel == 4;
  constexpr int kTables = kAlpha ? 10 : 8;
  SubTables<kTables> tables;
  THistogram::Counts* totals[] = {&h.channel[0], &h.channel[1], &h.channel[2], &h.brightest,
                                  &h.channel[3]};
  // Table 2k and 2k + 1 belong to totals[k].
  const int tableOf[] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
  const std::size_t width = static_cast<std::size_t>(bitmap.Width());
  auto& c = tables.count;
  for (int i = 0; i < bitmap.Height(); ++i) {
    tables.FlushBefore(width, totals, tableOf);
    const Byte* p = bitmap.ScanLine(i);
    std::size_t j = 0;
    for (; j + 2 <= width; j += 2, p += 2 * BytesPerPixel) {
      const Byte* q = p + BytesPerPixel;
      ++c[0][p[0]];
      ++c[2][p[1]];
      ++c[4][p[2]];
      ++c[6][std::max({p[0], p[1], p[2]})];
      ++c[1][q[0]];
      ++c[3][q[1]];
      ++c[5][q[2]];
      ++c[7][std::max({q[0], q[1], q[2]})];
      if constexpr (kAlpha) {
        ++c[kTables - 2][p[3]];
        ++c[kTables - 1][q[3]];
      }
    }
    if (j < width) {
      ++c[0][p[0]];
      ++c[2][p[1]];
      ++c[4][p[2]];
      ++c[6][std::max({p[0], p[1], p[2]})];
      if constexpr (kAlpha)
        ++c[kTables - 2][p[3]];
    }
    tables.held += width;
  }
  tables.Flush(totals, tableOf);
}

// All bytes of each row's pixels, or all but every fourth (alpha), into one total. Eight bytes are
// loaded at a time and taken apart by shifts, each byte of the word into a table of its own.
template <bool SkipAlpha>
void CountBytes(const TBitmap& bitmap, THistogram::Counts& total, int first, int last) {
  static_assert(std::endian::native == std::endian::little, "alpha is the word's bytes 3 and 7");
  constexpr int kTables = 8;
  SubTables<kTables> tables;
  THistogram::Counts* totals[] = {&total};
  const int tableOf[kTables] = {};
  const std::size_t length = bitmap.RowBytes();
  auto& c = tables.count;
  for (int i = first; i < last; ++i) {
    tables.FlushBefore(length, totals, tableOf);
    const Byte* row = bitmap.ScanLine(i);
    std::size_t j = 0;
    if constexpr (!SkipAlpha) {
      // A black-and-white row, as every frame of a thresholding camera, is counted by a vector
      // pass: its white bytes are its only other value. Its first bytes tell cheaply whether to
      // look.
      const auto others = [row](std::size_t from, std::size_t to) {
        Byte other = 0;
        for (std::size_t k = from; k < to; ++k)
          other |= static_cast<Byte>(row[k] + 1) >> 1;
        return other;
      };
      const std::size_t probe = std::min<std::size_t>(length, 64);
      if (others(0, probe) == 0 && others(probe, length) == 0) {
        std::uint32_t white = 0;
        for (std::size_t k = 0; k < length; ++k)
          white += row[k] & 1;
        c[0][0] += static_cast<std::uint32_t>(length) - white;
        c[0][255] += white;
        tables.held += length;
        continue;
      }
    }
    for (; j + 8 <= length; j += 8) {
      std::uint64_t w;
      std::memcpy(&w, row + j, sizeof w);
      ++c[0][w & 0xFF];
      ++c[1][(w >> 8) & 0xFF];
      ++c[2][(w >> 16) & 0xFF];
      if constexpr (!SkipAlpha)
        ++c[3][(w >> 24) & 0xFF];
      ++c[4][(w >> 32) & 0xFF];
      ++c[5][(w >> 40) & 0xFF];
      ++c[6][(w >> 48) & 0xFF];
      if constexpr (!SkipAlpha)
        ++c[7][w >> 56];
    }
    for (; j < length; ++j)
      if (!SkipAlpha || (j & 3) != 3)
        ++c[0][row[j]];
    tables.held += length;
  }
  tables.Flush(totals, tableOf);
}

}  // namespace

THistogram::Counts CountColourBytes(const TBitmap& bitmap) {
  THistogram::Counts total{};
  if (bitmap.Empty())
    return total;
  const auto count = [&bitmap](THistogram::Counts& into, int first, int last) {
    if (bitmap.PixelFormat() == TPixelFormat::pf32bit)
      CountBytes<true>(bitmap, into, first, last);
    else
      CountBytes<false>(bitmap, into, first, last);
  };
  // Counting takes a cycle a byte however it is written, memory could feed it four times as
  // fast: a large picture is counted in two halves at once where there is a second processor.
  THistogram::Counts upper{};
  InTwoHalves(bitmap.Height(), PixelBytes(bitmap),
              [&](int first, int last) { count(first == 0 ? upper : total, first, last); });
  for (int v = 0; v < THistogram::Levels; ++v)
    total[v] += upper[v];
  return total;
}

THistogram ComputeHistogram(const TBitmap& bitmap) {
  THistogram h;
  if (bitmap.Empty())
    return h;
  h.channels = bitmap.BytesPerPixel();
  h.pixels =
      static_cast<std::uint64_t>(bitmap.Width()) * static_cast<std::uint64_t>(bitmap.Height());
  switch (bitmap.PixelFormat()) {
    case TPixelFormat::pf8bit:
      CountBytes<false>(bitmap, h.channel[0], 0, bitmap.Height());
      h.brightest = h.channel[0];
      break;
    case TPixelFormat::pf24bit:
      CountColour<3>(bitmap, h);
      break;
    case TPixelFormat::pf32bit:
      CountColour<4>(bitmap, h);
      break;
  }
  return h;
}

std::uint64_t CountBelow(const THistogram::Counts& counts, int threshold) {
  const int end = std::clamp(threshold, 0, THistogram::Levels);
  std::uint64_t below = 0;
  for (int v = 0; v < end; ++v)
    below += counts[v];
  return below;
}
