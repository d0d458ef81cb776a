// SPDX-License-Identifier: GPL-3.0-or-later
#include "QImageBridge.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

QImage::Format QtFormatOf(const TBitmap& bitmap) {
  switch (bitmap.PixelFormat()) {
    case TPixelFormat::pf8bit:
      return QImage::Format_Indexed8;
    case TPixelFormat::pf24bit:
      return QImage::Format_BGR888;
    case TPixelFormat::pf32bit:
      return QImage::Format_ARGB32;
  }
  return QImage::Format_Invalid;
}

TBitmap CopyRows(const QImage& image, TPixelFormat format) {
  TBitmap bitmap(image.width(), image.height(), format);
  const std::size_t bytes = bitmap.RowBytes();
  for (int i = 0; i < bitmap.Height(); ++i)
    std::memcpy(bitmap.ScanLine(i), image.constScanLine(i), bytes);
  return bitmap;
}

TBitmap FromIndexed(const QImage& indexed) {
  TBitmap bitmap = CopyRows(indexed, TPixelFormat::pf8bit);
  std::vector<TPaletteEntry> entries;
  for (const QRgb rgb : indexed.colorTable())
    entries.push_back(TPaletteEntry{static_cast<std::uint8_t>(qRed(rgb)),
                                    static_cast<std::uint8_t>(qGreen(rgb)),
                                    static_cast<std::uint8_t>(qBlue(rgb)), 0});
  bitmap.SetPalette(TPalette(std::move(entries)));
  return bitmap;
}

TBitmap FromGrey(const QImage& grey) {
  TBitmap bitmap = CopyRows(grey, TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette::Grey());
  return bitmap;
}

// RGB32 is stored blue, green, red, 0xff: keep the first three bytes of each pixel.
TBitmap FromRgb32(const QImage& image) {
  TBitmap bitmap(image.width(), image.height(), TPixelFormat::pf24bit);
  const int width = image.width();
  for (int i = 0; i < bitmap.Height(); ++i) {
    const uchar* source = image.constScanLine(i);
    std::uint8_t* target = bitmap.ScanLine(i);
    for (int j = 0; j < width; ++j) {
      target[3 * j + 0] = source[4 * j + 0];
      target[3 * j + 1] = source[4 * j + 1];
      target[3 * j + 2] = source[4 * j + 2];
    }
  }
  return bitmap;
}

}  // namespace

TBitmap BitmapFromQImage(const QImage& image) {
  if (image.isNull())
    return TBitmap();
  switch (image.format()) {
    case QImage::Format_Indexed8:
      return FromIndexed(image);
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
      return FromIndexed(image.convertToFormat(QImage::Format_Indexed8));
    case QImage::Format_Grayscale8:
      return FromGrey(image);
    case QImage::Format_Grayscale16:
      return FromGrey(image.convertToFormat(QImage::Format_Grayscale8));
    case QImage::Format_ARGB32:
      return CopyRows(image, TPixelFormat::pf32bit);
    case QImage::Format_RGB32:
      return FromRgb32(image);
    case QImage::Format_BGR888:
      return CopyRows(image, TPixelFormat::pf24bit);
    default:
      break;
  }
  if (image.hasAlphaChannel())
    return CopyRows(image.convertToFormat(QImage::Format_ARGB32), TPixelFormat::pf32bit);
  return CopyRows(image.convertToFormat(QImage::Format_BGR888), TPixelFormat::pf24bit);
}

QList<QRgb> ColorTableOf(const TBitmap& bitmap) {
  QList<QRgb> table(TPalette::MaxEntries, qRgb(0, 0, 0));
  const TPalette* palette = bitmap.Palette();
  if (palette == nullptr) {
    for (int i = 0; i < TPalette::MaxEntries; ++i)
      table[i] = qRgb(i, i, i);
    return table;
  }
  for (int i = 0; i < palette->Count(); ++i) {
    const TPaletteEntry& e = palette->Entries()[i];
    table[i] = qRgb(e.peRed, e.peGreen, e.peBlue);
  }
  return table;
}

QImage QImageFromBitmap(const TBitmap& bitmap) {
  if (bitmap.Empty())
    return QImage();
  QImage image(bitmap.Width(), bitmap.Height(), QtFormatOf(bitmap));
  if (image.isNull())
    return image;
  const std::size_t bytes = bitmap.RowBytes();
  for (int i = 0; i < bitmap.Height(); ++i)
    std::memcpy(image.scanLine(i), bitmap.ScanLine(i), bytes);
  if (bitmap.PixelFormat() == TPixelFormat::pf8bit)
    image.setColorTable(ColorTableOf(bitmap));
  return image;
}

QImage WrapBitmap(const TBitmap& bitmap, const QRect& rect) {
  const QRect area = rect.intersected(QRect(0, 0, bitmap.Width(), bitmap.Height()));
  if (area.isEmpty())
    return QImage();
  const uchar* first = bitmap.ScanLine(area.top()) + area.left() * bitmap.BytesPerPixel();
  QImage image(first, area.width(), area.height(), static_cast<qsizetype>(bitmap.Stride()),
               QtFormatOf(bitmap));
  if (bitmap.PixelFormat() == TPixelFormat::pf8bit)
    image.setColorTable(ColorTableOf(bitmap));
  return image;
}

QImage SampleBitmap(const TBitmap& bitmap, const QSize& size) {
  if (bitmap.Empty() || size.isEmpty())
    return QImage();
  QImage image(size, QtFormatOf(bitmap));
  if (image.isNull())
    return image;
  SamplePixels(bitmap, size.width(), size.height(), image.bits(),
               static_cast<std::size_t>(image.bytesPerLine()));
  if (bitmap.PixelFormat() == TPixelFormat::pf8bit)
    image.setColorTable(ColorTableOf(bitmap));
  return image;
}
