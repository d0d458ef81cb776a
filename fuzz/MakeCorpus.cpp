// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed corpus of the fuzz targets into a folder (fuzz/make-corpus.sh): small valid
// pictures of every format and depth the program reads, each family of damaged or oversized
// files the loader refuses, the same bytes as clipboard offers, and bitmaps of every depth for
// the operations.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "PictureFile.h"
#include "PictureSamples.h"

namespace {

const QList<QRgb> kFiveColours = {qRgb(200, 10, 10), qRgb(10, 200, 10), qRgb(10, 10, 200),
                                  qRgb(250, 250, 0), qRgb(1, 2, 3)};

QImage Opaque(const QImage& image) {
  return image.convertToFormat(QImage::Format_RGB32);
}

// A 16-bit BMP with 5-6-5 colour masks.
QByteArray Bitfields565Bmp(int width, int height) {
  const int rowBytes = (width * 2 + 3) & ~3;
  QByteArray bmp("BM");
  PutLe32(bmp, 66 + rowBytes * height);
  PutLe32(bmp, 0);
  PutLe32(bmp, 66);
  PutLe32(bmp, 40);
  PutLe32(bmp, width);
  PutLe32(bmp, height);
  PutLe16(bmp, 1);
  PutLe16(bmp, 16);
  PutLe32(bmp, 3);
  PutLe32(bmp, rowBytes * height);
  for (int i = 0; i < 4; ++i)
    PutLe32(bmp, 0);
  PutLe32(bmp, 0xf800);
  PutLe32(bmp, 0x07e0);
  PutLe32(bmp, 0x001f);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      PutLe16(bmp, (x * 2111 + y * 977) & 0xffff);
    bmp.append(QByteArray(rowBytes - width * 2, '\0'));
  }
  return bmp;
}

// A TIFF of a colourful 20 x 18 picture in the layout asked for.
QByteArray Tiff(const TiffLayout& layout) {
  const QImage picture = ColourfulPicture(20, 18);
  return EncodeTiff(20, 18, layout, [&](int x, int y, int s) {
    const QRgb c = picture.pixel(x, y);
    const int v = s == 0 ? qRed(c) : s == 1 ? qGreen(c) : s == 2 ? qBlue(c) : qAlpha(c);
    return (v >> (8 - std::min(layout.bits, 8))) * (layout.bits == 16 ? 257 : 1);
  });
}

QList<QRgb> Colours(int count) {
  QList<QRgb> colours;
  for (int i = 0; i < count; ++i)
    colours << qRgb(i * 7, 255 - i, i * 3);
  return colours;
}

// The program's own writer's file of the bitmap.
QByteArray Own(const TBitmap& bitmap, PictureFormat format) {
  return EncodePicture(bitmap, FormatInfo(format));
}

struct Seed {
  const char* name;
  QByteArray bytes;
  int type;  // the clipboard type it is offered under (see ClipboardFuzzer.cpp's table)
};

// The clipboard types of ClipboardFuzzer.cpp: each format's, then two that are no picture.
constexpr int Type(PictureFormat format) {
  return static_cast<int>(format);
}
constexpr int kPng = Type(PictureFormat::Png), kBmp = Type(PictureFormat::Bmp),
              kJpeg = Type(PictureFormat::Jpeg), kGif = Type(PictureFormat::Gif),
              kPpm = Type(PictureFormat::Ppm), kPgm = Type(PictureFormat::Pgm),
              kPbm = Type(PictureFormat::Pbm), kIco = Type(PictureFormat::Ico),
              kXpm = Type(PictureFormat::Xpm), kXbm = Type(PictureFormat::Xbm),
              kTiff = Type(PictureFormat::Tiff);
const int kQtImage = static_cast<int>(PictureFormats().size());
const int kText = kQtImage + 1;

std::vector<Seed> Pictures() {
  QImage grey(7, 5, QImage::Format_Grayscale8);
  QImage grey16(7, 5, QImage::Format_Grayscale16);
  QImage deep(7, 5, QImage::Format_RGBA64);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      grey.setPixel(x, y, qRgb(x * 30 + y, x * 30 + y, x * 30 + y));
      grey16.setPixelColor(x, y, QColor::fromRgba64(x * 9000, x * 9000, x * 9000));
      deep.setPixelColor(x, y, QColor::fromRgba64(x * 9000, y * 12000, 40000, 30000 + x * 1000));
    }
  const QImage colourful = ColourfulPicture(7, 5);
  const QImage indexed = IndexedPicture(7, 5, kFiveColours);
  const QImage mono = MonoPicture(9, 5);

  const QByteArray bmp24 = Encode(Opaque(ColourfulPicture(20, 10)), "bmp");
  const QByteArray png = Encode(ColourfulPicture(40, 30), "png");
  const QByteArray jpeg = Encode(Opaque(ColourfulPicture(64, 48)), "jpeg");
  const QByteArray progressive = Encode(Opaque(ColourfulPicture(64, 48)), "jpeg", true);
  const QByteArray gif = EncodeGif(IndexedPicture(40, 30, kFiveColours));
  const QByteArray ppm = Encode(Opaque(ColourfulPicture(9, 9)), "ppm");
  const QByteArray xpm = Encode(indexed, "xpm");
  // Icons 32 pixels wide: the toolkit's writer leaves the row padding of the icon's mask
  // unwritten, and rows of 32 pixels have none.
  const QByteArray ico = Encode(ColourfulPicture(32, 8), "ico");
  const QByteArray tinyPng = Encode(Opaque(ColourfulPicture(3, 2)), "png");
  const QByteArray smallJpeg = Encode(IndexedPicture(16, 16, {qRgb(9, 9, 9)}), "jpeg");
  const qsizetype sof = smallJpeg.indexOf("\xff\xc0");
  QByteArray corruptPng = png;
  corruptPng[corruptPng.indexOf("IDAT") + 20] =
      static_cast<char>(corruptPng[corruptPng.indexOf("IDAT") + 20] ^ 0x55);
  const QByteArray tiff = Tiff(TiffLayout{.compression = 8});
  TBitmap greyBitmap(9, 4, TPixelFormat::pf8bit);
  greyBitmap.SetPalette(TPalette::Grey());
  TBitmap paletteBitmap(9, 4, TPixelFormat::pf8bit);
  paletteBitmap.SetPalette(TPalette({{255, 0, 0, 0}, {0, 128, 0, 0}, {1, 2, 3, 0}}));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) {
      greyBitmap.ScanLine(y)[x] = static_cast<std::uint8_t>(x * 29 + y);
      paletteBitmap.ScanLine(y)[x] = static_cast<std::uint8_t>((x + y) % 3);
    }
  QByteArray hugeGif = gif;
  qToLittleEndian<quint16>(20000, hugeGif.data() + 6);
  qToLittleEndian<quint16>(20000, hugeGif.data() + 8);

  return {
      // Every format and depth the program reads.
      {"png-colour.png", Encode(Opaque(colourful), "png"), kPng},
      {"png-alpha.png", Encode(colourful, "png"), kPng},
      {"png-indexed.png", Encode(indexed, "png"), kPng},
      {"png-grey.png", Encode(grey, "png"), kPng},
      {"png-grey16.png", Encode(grey16, "png"), kPng},
      {"png-rgba64.png", Encode(deep, "png"), kPng},
      {"png-mono.png", Encode(mono, "png"), kPng},
      {"bmp-24.bmp", Encode(Opaque(colourful), "bmp"), kBmp},
      {"bmp-32-alpha.bmp", Encode(colourful, "bmp"), kBmp},
      {"bmp-indexed.bmp", Encode(IndexedPicture(7, 5, {kFiveColours[0], kFiveColours[1]}), "bmp"),
       kBmp},
      {"bmp-4.bmp", Encode(indexed, "bmp"), kBmp},
      {"bmp-1.bmp", Encode(mono, "bmp"), kBmp},
      {"bmp-top-down.bmp", EncodeTopDownBmp(Opaque(colourful)), kBmp},
      {"bmp-rle8.bmp",
       RleBmp(8, 5, 2,
              QByteArray("\x03\x01\x00\x00\x00\x02\x02\x00\x00\x03\x01\x00\x01\x00\x00\x01", 16)),
       kBmp},
      {"bmp-rle4.bmp", RleBmp(4, 6, 2, QByteArray("\x04\x10\x00\x00\x00\x04\x01\x10\x00\x01", 10)),
       kBmp},
      {"bmp-bitfields-565.bmp", Bitfields565Bmp(5, 3), kBmp},
      {"gif.gif", EncodeGif(indexed), kGif},
      {"ico.ico", ico, kIco},
      {"cur.cur", Encode(ColourfulPicture(32, 5), "cur"), kIco},
      {"jpeg-colour.jpg", Encode(Opaque(ColourfulPicture(16, 16)), "jpeg"), kJpeg},
      {"jpeg-grey.jpg", Encode(grey, "jpeg"), kJpeg},
      {"jpeg-progressive.jpg", Encode(Opaque(ColourfulPicture(24, 16)), "jpeg", true), kJpeg},
      {"ppm.ppm", Encode(Opaque(colourful), "ppm"), kPpm},
      {"ppm-plain.ppm", QByteArray("P3\n2 2\n255\n255 0 0 0 255 0\n0 0 255 9 9 9\n"), kPpm},
      {"pgm.pgm", Encode(grey, "pgm"), kPgm},
      {"pgm-16.pgm", QByteArray("P5\n2 1\n65535\n\x12\x34\xab\xcd", 17), kPgm},
      {"pbm.pbm", Encode(mono, "pbm"), kPbm},
      {"pbm-plain.pbm", QByteArray("P1\n3 2\n1 0 1\n0 1 0\n"), kPbm},
      {"xbm.xbm", Encode(mono, "xbm"), kXbm},
      {"xpm.xpm", xpm, kXpm},
      {"png-interlaced.png", EncodeInterlacedPng(colourful), kPng},
      {"png-own-grey.png", Own(greyBitmap, PictureFormat::Png), kPng},
      {"png-own-palette.png", Own(paletteBitmap, PictureFormat::Png), kPng},
      {"jpeg-cmyk.jpg", EncodeCmykJpeg(16, 8, 200, 100, 50, 220), kJpeg},
      {"jpeg-exif-turned.jpg", WithExifOrientation(Encode(Opaque(colourful), "jpeg"), 6), kJpeg},
      {"tiff-rgb.tif", Tiff(TiffLayout{}), kTiff},
      {"tiff-rgb-tiles-deflate.tif", Tiff(TiffLayout{.tiled = true, .compression = 8}), kTiff},
      {"tiff-rgb-planes.tif", Tiff(TiffLayout{.separate = true}), kTiff},
      {"tiff-rgba.tif", Tiff(TiffLayout{.samples = 4, .alpha = true}), kTiff},
      {"tiff-rgb16-lzw.tif", Tiff(TiffLayout{.bits = 16, .compression = 5}), kTiff},
      {"tiff-grey.tif", Tiff(TiffLayout{.samples = 1, .photometric = 1}), kTiff},
      {"tiff-grey16.tif", Tiff(TiffLayout{.bits = 16, .samples = 1, .photometric = 1}), kTiff},
      {"tiff-mono-packbits.tif",
       Tiff(TiffLayout{.bits = 1, .samples = 1, .photometric = 0, .compression = 32773}), kTiff},
      {"tiff-palette4.tif",
       Tiff(TiffLayout{.bits = 4, .samples = 1, .photometric = 3, .colourMap = Colours(16)}),
       kTiff},
      {"tiff-palette8.tif",
       Tiff(TiffLayout{.bits = 8, .samples = 1, .photometric = 3, .colourMap = Colours(256)}),
       kTiff},
      {"tiff-cmyk.tif", Tiff(TiffLayout{.samples = 4, .photometric = 5}), kTiff},
      {"tiff-pages.tif", Tiff(TiffLayout{.pages = 2}), kTiff},
      {"tiff-own.tif", Own(paletteBitmap, PictureFormat::Tiff), kTiff},
      // Damaged files.
      {"bad-empty", QByteArray(), kPng},
      {"bad-text.png", QByteArray("just some words\n"), kPng},
      {"bad-bmp-short-data.bmp", bmp24.left(bmp24.size() - 1), kBmp},
      {"bad-bmp-cut.bmp", bmp24.left(100), kBmp},
      {"bad-bmp-offset-past-end.bmp", WithLe32(bmp24, 10, 100000), kBmp},
      {"bad-bmp-rle-cut.bmp", RleBmp(8, 5, 3, QByteArray("\x05\x01\x00\x00", 4)), kBmp},
      {"bad-png-cut.png", png.left(png.size() / 2), kPng},
      {"bad-png-no-end.png", png.left(png.size() - 12), kPng},
      {"bad-png-corrupt-data.png", corruptPng, kPng},
      {"bad-jpeg-cut.jpg", jpeg.left(jpeg.size() * 2 / 3), kJpeg},
      {"bad-jpeg-progressive-cut.jpg", ProgressiveJpegAfterFirstScan(progressive), kJpeg},
      {"bad-jpeg-claims-16000.jpg", WithBe16(WithBe16(smallJpeg, sof + 5, 16000), sof + 7, 16000),
       kJpeg},
      {"bad-gif-cut.gif", gif.left(gif.size() / 2), kGif},
      {"bad-gif-data-ends-early.gif", EncodeGif(IndexedPicture(40, 30, kFiveColours), 500), kGif},
      {"bad-pgm16-missing-byte.pgm", QByteArray("P5\n2 1\n65535\n\x12\x34\xab", 16), kPgm},
      {"bad-ppm-cut.ppm", ppm.left(ppm.size() - 5), kPpm},
      {"bad-xbm-few-bytes.xbm",
       QByteArray(
           "#define a_width 16\n#define a_height 2\nstatic char a_bits[] = {0x01,0x02,0x03};\n"),
       kXbm},
      {"bad-xpm-cut.xpm", xpm.left(xpm.size() * 2 / 3), kXpm},
      {"bad-ico-cut.ico", ico.left(ico.size() - 40), kIco},
      {"bad-tiff-cut.tif", tiff.left(tiff.size() / 3), kTiff},
      {"bad-tiff-float.tif",
       EncodeTiff(4, 4, TiffLayout{.bits = 32, .samples = 1, .photometric = 1, .sampleFormat = 3},
                  [](int, int, int) { return 0; }),
       kTiff},
      {"bad-png-header-crc.png", WithBe32(tinyPng, 20, 3), kPng},
      {"not-read-tga.tga", QByteArray("\0\0\2\0\0\0\0\0\0\0\0\0\2\0\1\0\x18\0abcdef", 24), kBmp},
      // Sizes beyond the limit, declared in a few bytes.
      {"big-bmp-20000.bmp", WithLe32(WithLe32(bmp24, 18, 20000), 22, 20000), kBmp},
      {"big-bmp-16385-wide.bmp", WithLe32(bmp24, 18, 16385), kBmp},
      {"big-bmp-16000-in-a-few-bytes.bmp", WithLe32(WithLe32(bmp24, 18, 16000), 22, 16000), kBmp},
      {"big-png-100000x1.png", WithBe32(WithBe32(tinyPng, 16, 100000), 20, 1), kPng},
      {"big-png-3000000.png", WithBe32(WithBe32(tinyPng, 16, 3000000), 20, 3000000), kPng},
      {"big-jpeg-20000x100.jpg", WithBe16(WithBe16(smallJpeg, sof + 5, 100), sof + 7, 20000),
       kJpeg},
      {"big-gif-20000.gif", hugeGif, kGif},
      {"big-ppm-16385.ppm", QByteArray("P6\n16385 16385\n255\nabc"), kPpm},
      {"big-xbm-20000.xbm",
       QByteArray(
           "#define a_width 20000\n#define a_height 20000\nstatic char a_bits[] = {0x01};\n"),
       kXbm},
      {"big-ico-png-20000.ico", IcoHolding(WithBe32(WithBe32(tinyPng, 16, 20000), 20, 20000)),
       kIco},
  };
}

// A bitmap input of BitmapFuzzer.cpp: header, palette entries, pixel bytes.
QByteArray BitmapInput(int depth, int width, int height, int paletteLength, int threshold,
                       int targetDepth, int targetWidth, int targetHeight) {
  QByteArray input;
  input.append(static_cast<char>(depth));
  input.append(static_cast<char>(width));
  input.append(static_cast<char>(height));
  input.append(static_cast<char>(paletteLength & 0xff));
  input.append(static_cast<char>(paletteLength >> 8));
  // 0 … 256 as the fuzzer reads it: the low byte plus the high byte's lowest bit.
  input.append(static_cast<char>(std::min(threshold, 255)));
  input.append(static_cast<char>(threshold > 255 ? 1 : 0));
  input.append(static_cast<char>(targetDepth));
  input.append(static_cast<char>(targetWidth));
  input.append(static_cast<char>(targetHeight));
  const int bytesPerPixel = depth == 0 ? 1 : depth == 1 ? 3 : 4;
  const int count = (paletteLength <= 256 ? 4 * paletteLength : 0) + width * height * bytesPerPixel;
  quint32 state = static_cast<quint32>(depth * 7919 + width * 131 + height * 17 + paletteLength);
  for (int i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    input.append(static_cast<char>(state >> 24));
  }
  return input;
}

bool Write(const QString& folder, const QString& name, const QByteArray& bytes) {
  QFile file(folder + QLatin1Char('/') + name);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  for (const char* target : {"picture_file", "clipboard", "bitmap"})
    if (!QDir().mkpath(out + QLatin1Char('/') + QLatin1String(target)))
      return 1;

  bool written = true;
  int files = 0;
  for (const Seed& seed : Pictures()) {
    const QString name = QString::fromLatin1(seed.name);
    written &= Write(out + "/picture_file", name, seed.bytes);
    written &=
        Write(out + "/clipboard", name, QByteArray(1, static_cast<char>(seed.type)) + seed.bytes);
    files += 2;
  }
  // Offers a picture program might make: a wrong label, a picture under a type no decoder takes.
  const QByteArray png = Encode(Opaque(ColourfulPicture(7, 5)), "png");
  const std::pair<const char*, QByteArray> offers[] = {
      {"offer-png-labelled-bmp", QByteArray(1, kBmp) + png},
      {"offer-png-as-qt-image", QByteArray(1, kQtImage) + png},
      {"offer-text", QByteArray(1, kText) + "some words"},
  };
  for (const auto& [name, bytes] : offers) {
    written &= Write(out + "/clipboard", QLatin1String(name), bytes);
    ++files;
  }

  struct Shape {
    int width, height;
  };
  const Shape shapes[] = {{0, 0}, {0, 3}, {1, 1}, {7, 3}, {17, 2}, {33, 5}, {64, 4}, {5, 64}};
  for (int depth = 0; depth < 3; ++depth)
    for (const Shape& s : shapes) {
      const QString name = QStringLiteral("depth%1-%2x%3").arg(depth).arg(s.width).arg(s.height);
      written &= Write(out + "/bitmap", name,
                       BitmapInput(depth, s.width, s.height, depth == 0 ? 256 : 257, 128, depth,
                                   s.height, s.width));
      ++files;
    }
  for (int palette : {0, 1, 16, 255, 257})
    for (int threshold : {0, 77, 256}) {
      const QString name = QStringLiteral("palette%1-threshold%2").arg(palette).arg(threshold);
      written &= Write(out + "/bitmap", name, BitmapInput(0, 19, 3, palette, threshold, 0, 21, 2));
      ++files;
    }
  written &= Write(out + "/bitmap", "depth2-64x64", BitmapInput(2, 64, 64, 257, 200, 2, 64, 64));
  ++files;
  std::printf("%d inputs written to %s\n", files, argv[1]);
  return written ? 0 : 1;
}
