// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReducedPicture.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "QImageBridge.h"

namespace {

using Byte = std::uint8_t;

// Four channels are blue, green, red, alpha; `Premultiply` for a picture's own alpha (a reduced
// copy is premultiplied already).
template <int Channels, bool Premultiply>
QRgb Pixel(const Byte* mean) {
  if constexpr (Channels == 1)
    return qRgb(mean[0], mean[0], mean[0]);
  else if constexpr (Channels == 3)
    return qRgb(mean[2], mean[1], mean[0]);
  else if constexpr (Premultiply)
    return qPremultiply(qRgba(mean[2], mean[1], mean[0], mean[3]));
  else
    return qRgba(mean[2], mean[1], mean[0], mean[3]);
}

// The means of the whole blocks of a row of sums; Factor 0 reads the factor at run time. The
// common factors get loops of a known length, which the compiler unrolls.
template <int Channels, bool Premultiply, int Factor>
void WholeBlocks(const std::uint16_t* sums, int blocks, int factor, int shift, QRgb* target) {
  if constexpr (Factor != 0)
    factor = Factor;
  const std::uint32_t half = 1u << shift >> 1;
  for (int x = 0; x < blocks; ++x, sums += factor * Channels) {
    std::uint32_t total[Channels] = {};
    for (int k = 0; k < factor; ++k)
      for (int c = 0; c < Channels; ++c)
        total[c] += sums[k * Channels + c];
    Byte mean[Channels];
    for (int c = 0; c < Channels; ++c)
      mean[c] = static_cast<Byte>((total[c] + half) >> shift);
    target[x] = Pixel<Channels, Premultiply>(mean);
  }
}

// Averages factor × factor blocks of `channels`-byte pixels: the rows of a block are summed byte by
// byte first (a loop the compiler turns into vector code), then the columns of each block.
// `row(i, buffer)` yields row i, made in `buffer` when it has to be made.
template <int Channels, bool Premultiply, class RowOf>
void Reduce(int width, int height, int factor, RowOf row, QImage& out) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * Channels;
  std::vector<std::uint16_t> sums(rowBytes);
  std::vector<Byte> buffer(static_cast<std::size_t>(width) * 4);
  const int shift = 2 * std::countr_zero(static_cast<unsigned>(factor));
  const int whole = width / factor;
  for (int y = 0; y < out.height(); ++y) {
    const int first = y * factor;
    const int rows = std::min(factor, height - first);
    std::fill(sums.begin(), sums.end(), 0);
    for (int i = first; i < first + rows; ++i) {
      const Byte* bytes = row(i, buffer.data());
      for (std::size_t k = 0; k < rowBytes; ++k)
        sums[k] = static_cast<std::uint16_t>(sums[k] + bytes[k]);
    }
    auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
    int x = 0;
    if (rows == factor) {
      if (factor == 2)
        WholeBlocks<Channels, Premultiply, 2>(sums.data(), whole, factor, shift, target);
      else if (factor == 4)
        WholeBlocks<Channels, Premultiply, 4>(sums.data(), whole, factor, shift, target);
      else
        WholeBlocks<Channels, Premultiply, 0>(sums.data(), whole, factor, shift, target);
      x = whole;
    }
    // Blocks cut short by the right or bottom edge.
    for (; x < out.width(); ++x) {
      const int columns = std::min(factor, width - x * factor);
      const std::uint16_t* block = sums.data() + static_cast<std::size_t>(x) * factor * Channels;
      std::uint32_t total[Channels] = {};
      for (int k = 0; k < columns; ++k)
        for (int c = 0; c < Channels; ++c)
          total[c] += block[k * Channels + c];
      const auto count = static_cast<std::uint32_t>(rows * columns);
      Byte mean[Channels];
      for (int c = 0; c < Channels; ++c)
        mean[c] = static_cast<Byte>((total[c] + count / 2) / count);
      target[x] = Pixel<Channels, Premultiply>(mean);
    }
  }
}

}  // namespace

QImage ReduceBitmap(const TBitmap& bitmap, int factor) {
  if (bitmap.Empty() || factor < 2 || factor > TReducedPicture::MaxFactor)
    return QImage();
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const bool alpha = bitmap.PixelFormat() == TPixelFormat::pf32bit;
  QImage out((width + factor - 1) / factor, (height + factor - 1) / factor,
             alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  if (out.isNull())
    return out;
  const auto own = [&bitmap](int i, Byte*) { return bitmap.ScanLine(i); };
  switch (bitmap.PixelFormat()) {
    case TPixelFormat::pf8bit:
      // Where the bytes are grey levels, averaging them averages the colours.
      if (IsGreyRamp(bitmap)) {
        Reduce<1, false>(width, height, factor, own, out);
      } else {
        // Indices do not average: each row is looked up in the colour table first.
        const QList<QRgb> table = ColorTableOf(bitmap);
        const QRgb* colourOf = table.constData();
        Reduce<4, false>(
            width, height, factor,
            [&](int i, Byte* buffer) {
              const Byte* indices = bitmap.ScanLine(i);
              auto* colours = reinterpret_cast<QRgb*>(buffer);
              for (int j = 0; j < width; ++j)
                colours[j] = colourOf[indices[j]];
              return static_cast<const Byte*>(buffer);
            },
            out);
      }
      break;
    case TPixelFormat::pf24bit:
      Reduce<3, false>(width, height, factor, own, out);
      break;
    case TPixelFormat::pf32bit:
      Reduce<4, true>(width, height, factor, own, out);
      break;
  }
  return out;
}

QImage Rgb32Part(const TBitmap& bitmap, const QRect& rect) {
  const QRect area = rect.intersected(QRect(0, 0, bitmap.Width(), bitmap.Height()));
  if (area.isEmpty())
    return QImage();
  if (bitmap.PixelFormat() == TPixelFormat::pf32bit)
    return WrapBitmap(bitmap, area).convertToFormat(QImage::Format_ARGB32_Premultiplied);
  QImage part(area.size(), QImage::Format_RGB32);
  if (part.isNull())
    return part;
  const QList<QRgb> table = ColorTableOf(bitmap);
  const QRgb* colourOf = table.constData();
  const int bpp = bitmap.BytesPerPixel();
  // A grey ramp is worked out rather than looked up: without lookups the loop is vector code,
  // where the lookups took a cycle a pixel.
  const bool ramp = bpp == 1 && IsGreyRamp(bitmap);
  // Held apart from the rectangle, which the stores of pixels could alias: the loops then are
  // vector code.
  const int width = area.width();
  for (int y = 0; y < area.height(); ++y) {
    const Byte* in = bitmap.ScanLine(area.top() + y) + area.left() * bpp;
    auto* out = reinterpret_cast<QRgb*>(part.scanLine(y));
    if (ramp) {
      for (int x = 0; x < width; ++x)
        out[x] = 0xFF000000u | in[x] * 0x010101u;
    } else if (bpp == 1) {
      for (int x = 0; x < width; ++x)
        out[x] = colourOf[in[x]];
    } else {
      for (int x = 0; x < width; ++x, in += 3)
        out[x] = qRgb(in[2], in[1], in[0]);
    }
  }
  return part;
}

const QImage& TReducedPicture::Level(const TBitmap& bitmap, int factor) {
  if (auto found = levels_.find(factor); found != levels_.end())
    return found->second;
  // The next larger copy already made, if any: halving it gives this one.
  QImage made;
  auto larger = levels_.find(factor / 2);
  if (larger != levels_.end() && factor > 2) {
    const QImage& from = larger->second;
    made = QImage((from.width() + 1) / 2, (from.height() + 1) / 2, from.format());
    if (!made.isNull())
      Reduce<4, false>(
          from.width(), from.height(), 2,
          [&from](int i, Byte*) { return static_cast<const Byte*>(from.constScanLine(i)); }, made);
  } else {
    made = ReduceBitmap(bitmap, factor);
  }
  return levels_.emplace(factor, std::move(made)).first->second;
}
