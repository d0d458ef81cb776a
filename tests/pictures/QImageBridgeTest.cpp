// SPDX-License-Identifier: GPL-3.0-or-later
#include "QImageBridge.h"

#include <gtest/gtest.h>

#include <QColor>

namespace {

std::vector<std::uint8_t> Pixel(const TBitmap& bitmap, int x, int y) {
  const std::uint8_t* p = bitmap.ScanLine(y) + x * bitmap.BytesPerPixel();
  return {p, p + bitmap.BytesPerPixel()};
}

// A 3 x 2 picture whose pixels differ in every channel; (0, 0) is red, (2, 1) is blue.
QImage Colourful(QImage::Format format) {
  QImage image(3, 2, QImage::Format_ARGB32);
  image.setPixelColor(0, 0, QColor(255, 0, 0));
  image.setPixelColor(1, 0, QColor(0, 255, 0));
  image.setPixelColor(2, 0, QColor(10, 20, 30));
  image.setPixelColor(0, 1, QColor(40, 50, 60));
  image.setPixelColor(1, 1, QColor(200, 100, 0));
  image.setPixelColor(2, 1, QColor(0, 0, 255));
  return image.convertToFormat(format);
}

TEST(QImageBridge, TrueColourWithoutAlphaBecomes24BitBlueGreenRed) {
  for (const QImage::Format format :
       {QImage::Format_RGB32, QImage::Format_RGB888, QImage::Format_BGR888, QImage::Format_RGBX8888,
        QImage::Format_RGBX64}) {
    const TBitmap bitmap = BitmapFromQImage(Colourful(format));
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit) << format;
    ASSERT_EQ(bitmap.Width(), 3);
    ASSERT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(Pixel(bitmap, 0, 0), (std::vector<std::uint8_t>{0, 0, 255})) << format;
    EXPECT_EQ(Pixel(bitmap, 2, 0), (std::vector<std::uint8_t>{30, 20, 10})) << format;
    EXPECT_EQ(Pixel(bitmap, 1, 1), (std::vector<std::uint8_t>{0, 100, 200})) << format;
    EXPECT_EQ(bitmap.Palette(), nullptr);
  }
}

TEST(QImageBridge, SixteenBitPicturesBecome24Bit) {
  QImage image(2, 1, QImage::Format_RGB16);
  image.setPixelColor(0, 0, QColor(255, 0, 0));
  image.setPixelColor(1, 0, QColor(0, 0, 255));
  const TBitmap bitmap = BitmapFromQImage(image);
  ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(Pixel(bitmap, 0, 0), (std::vector<std::uint8_t>{0, 0, 255}));
  EXPECT_EQ(Pixel(bitmap, 1, 0), (std::vector<std::uint8_t>{255, 0, 0}));
}

TEST(QImageBridge, AlphaPicturesBecome32BitWithStraightAlpha) {
  for (const QImage::Format format : {QImage::Format_ARGB32, QImage::Format_ARGB32_Premultiplied,
                                      QImage::Format_RGBA8888, QImage::Format_RGBA64}) {
    QImage source(1, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(200, 100, 50, 128));
    const TBitmap bitmap = BitmapFromQImage(source.convertToFormat(format));
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf32bit) << format;
    const std::vector<std::uint8_t> bgra = Pixel(bitmap, 0, 0);
    EXPECT_EQ(bgra[3], 128) << format;
    // Premultiplied storage loses a little precision; straight values come back within 1.
    EXPECT_NEAR(bgra[0], 50, 1) << format;
    EXPECT_NEAR(bgra[1], 100, 1) << format;
    EXPECT_NEAR(bgra[2], 200, 1) << format;
  }
}

TEST(QImageBridge, IndexedPicturesKeepTheirOwnShortPalette) {
  QImage image(3, 1, QImage::Format_Indexed8);
  image.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(9, 8, 7)});
  image.setPixel(0, 0, 2);
  image.setPixel(1, 0, 0);
  image.setPixel(2, 0, 1);
  const TBitmap bitmap = BitmapFromQImage(image);
  ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_NE(bitmap.Palette(), nullptr);
  ASSERT_EQ(bitmap.Palette()->Count(), 3);
  EXPECT_EQ(bitmap.Palette()->Entries()[2], (TPaletteEntry{9, 8, 7, 0}));
  EXPECT_EQ(Pixel(bitmap, 0, 0)[0], 2);
  EXPECT_EQ(Pixel(bitmap, 2, 0)[0], 1);
}

TEST(QImageBridge, OneBitPicturesBecome8BitIndexed) {
  for (const QImage::Format format : {QImage::Format_Mono, QImage::Format_MonoLSB}) {
    QImage image(10, 2, format);
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image.fill(0);
    image.setPixel(9, 1, 1);
    const TBitmap bitmap = BitmapFromQImage(image);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit) << format;
    ASSERT_EQ(bitmap.Width(), 10);
    ASSERT_NE(bitmap.Palette(), nullptr);
    EXPECT_EQ(bitmap.Palette()->Count(), 2);
    EXPECT_EQ(Pixel(bitmap, 9, 1)[0], 1);
    EXPECT_EQ(Pixel(bitmap, 8, 1)[0], 0);
  }
}

TEST(QImageBridge, GreyPicturesBecome8BitWithTheGreyPalette) {
  QImage grey8(2, 1, QImage::Format_Grayscale8);
  grey8.scanLine(0)[0] = 17;
  grey8.scanLine(0)[1] = 240;
  QImage grey16(2, 1, QImage::Format_Grayscale16);
  reinterpret_cast<quint16*>(grey16.scanLine(0))[0] = 17 * 257;
  reinterpret_cast<quint16*>(grey16.scanLine(0))[1] = 240 * 257;
  for (const QImage& image : {grey8, grey16}) {
    const TBitmap bitmap = BitmapFromQImage(image);
    ASSERT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit) << image.format();
    ASSERT_NE(bitmap.Palette(), nullptr);
    EXPECT_EQ(*bitmap.Palette(), TPalette::Grey());
    EXPECT_EQ(Pixel(bitmap, 0, 0)[0], 17);
    EXPECT_EQ(Pixel(bitmap, 1, 0)[0], 240);
  }
}

TEST(QImageBridge, NullImageGivesAnEmptyBitmap) {
  EXPECT_TRUE(BitmapFromQImage(QImage()).Empty());
  EXPECT_TRUE(QImageFromBitmap(TBitmap()).isNull());
}

TEST(QImageBridge, EveryDepthRoundTripsThroughQImage) {
  for (const TPixelFormat format :
       {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    TBitmap bitmap(5, 3, format);
    for (int i = 0; i < 3; ++i)
      for (std::size_t j = 0; j < bitmap.RowBytes(); ++j)
        bitmap.ScanLine(i)[j] = static_cast<std::uint8_t>(i * 50 + j * 7 + 1);
    if (format == TPixelFormat::pf8bit)
      bitmap.SetPalette(TPalette::Grey());
    const TBitmap back = BitmapFromQImage(QImageFromBitmap(bitmap));
    ASSERT_EQ(back.PixelFormat(), format);
    for (int i = 0; i < 3; ++i)
      for (std::size_t j = 0; j < bitmap.RowBytes(); ++j)
        ASSERT_EQ(back.ScanLine(i)[j], bitmap.ScanLine(i)[j]) << static_cast<int>(format);
  }
}

TEST(QImageBridge, ColourTableIsBlackBeyondAShortPaletteAndGreyWithoutOne) {
  TBitmap bitmap(1, 1, TPixelFormat::pf8bit);
  EXPECT_EQ(ColorTableOf(bitmap)[77], qRgb(77, 77, 77));
  bitmap.SetPalette(TPalette({{10, 20, 30, 0}}));
  const QList<QRgb> table = ColorTableOf(bitmap);
  ASSERT_EQ(table.size(), 256);
  EXPECT_EQ(table[0], qRgb(10, 20, 30));
  EXPECT_EQ(table[1], qRgb(0, 0, 0));
  EXPECT_EQ(table[255], qRgb(0, 0, 0));
}

TEST(QImageBridge, WrapSharesTheBitmapsRows) {
  TBitmap bitmap(100, 50, TPixelFormat::pf24bit);
  const QImage wrapped = WrapBitmap(bitmap, QRect(10, 20, 30, 5));
  ASSERT_EQ(wrapped.size(), QSize(30, 5));
  EXPECT_EQ(wrapped.constBits(), bitmap.ScanLine(20) + 10 * 3);
  EXPECT_EQ(wrapped.bytesPerLine(), static_cast<qsizetype>(bitmap.Stride()));
  EXPECT_EQ(WrapBitmap(bitmap, QRect(90, 45, 30, 30)).size(), QSize(10, 5));
}

TEST(QImageBridge, SampleTakesOneNearestPixelPerTargetPixel) {
  TBitmap bitmap(4, 2, TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette::Grey());
  for (int j = 0; j < 4; ++j) {
    bitmap.ScanLine(0)[j] = static_cast<std::uint8_t>(j);
    bitmap.ScanLine(1)[j] = static_cast<std::uint8_t>(10 + j);
  }
  const QImage sampled = SampleBitmap(bitmap, QSize(8, 4));
  ASSERT_EQ(sampled.format(), QImage::Format_Indexed8);
  EXPECT_EQ(sampled.pixelIndex(0, 0), 0);
  EXPECT_EQ(sampled.pixelIndex(3, 1), 1);
  EXPECT_EQ(sampled.pixelIndex(7, 3), 13);
  EXPECT_EQ(sampled.pixelIndex(4, 2), 12);
  const QImage shrunk = SampleBitmap(bitmap, QSize(2, 1));
  EXPECT_EQ(shrunk.pixelIndex(0, 0), 0);
  EXPECT_EQ(shrunk.pixelIndex(1, 0), 2);
}

}  // namespace
