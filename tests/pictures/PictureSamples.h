// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTemporaryDir>
#include <functional>

#include "Bitmap.h"

// Picture files made by the tests themselves: through the toolkit's writers, or byte by byte for
// what it cannot write (GIF, top-down and compressed BMP) and for damaged files.

// A picture whose pixels differ in every channel, with varying alpha.
QImage ColourfulPicture(int width, int height);
// The same picture reduced to the given colours (exactly: every pixel is one of them).
QImage IndexedPicture(int width, int height, const QList<QRgb>& colours);
// IndexedPicture with black and white, one bit per pixel (padding bits cleared).
QImage MonoPicture(int width, int height);

QByteArray Encode(const QImage& image, const char* format, bool progressive = false);
// A GIF of an indexed picture, with its colour table; `pixels` limits the pixels encoded.
QByteArray EncodeGif(const QImage& indexed, qsizetype pixels = -1);
// A GIF of four colours (red, green, blue, yellow) whose every row has one colour, colour(y), in
// few bytes whatever its size; interlaced or not.
QByteArray EncodeRowsGif(int width, int height, bool interlaced,
                         const std::function<int(int y)>& colour);
// An uncompressed 24-bit BMP stored top row first (negative height).
QByteArray EncodeTopDownBmp(const QImage& image);

// A progressive JPEG cut right after its first scan: a complete, blurred picture to a decoder.
QByteArray ProgressiveJpegAfterFirstScan(const QByteArray& progressiveJpeg);

QString WriteFile(const QString& path, const QByteArray& bytes);

// Little-endian helpers for hand-made headers.
void PutLe16(QByteArray& out, quint32 v);
void PutLe32(QByteArray& out, quint32 v);
// The bytes with a field at `at` overwritten.
QByteArray WithLe32(QByteArray bytes, qsizetype at, quint32 value);
QByteArray WithBe16(QByteArray bytes, qsizetype at, quint16 value);
QByteArray WithBe32(QByteArray bytes, qsizetype at, quint32 value);

// A run-length compressed BMP (8 or 4 bits): `stream` after a header and a two-colour palette
// (red, blue).
QByteArray RleBmp(int bits, int width, int height, const QByteArray& stream);
// An icon file with one 32-bit entry whose image is `inner` (a BMP or PNG).
QByteArray IcoHolding(const QByteArray& inner);

// A TIFF written by libtiff: `samples` samples of `bits` bits per pixel, value(x, y, s) each.
struct TiffLayout {
  int bits = 8;
  int samples = 3;
  int photometric = 2;         // RGB
  bool alpha = false;          // the last sample is unassociated alpha
  bool tiled = false;          // tiles rather than strips of 3 rows
  int tile = 16;               // their side
  bool separate = false;       // each sample in a plane of its own
  int compression = 1;         // none
  int sampleFormat = 1;        // unsigned integers
  QList<QRgb> colourMap = {};  // for palette pictures, 1 << bits entries
  int pages = 1;
};
QByteArray EncodeTiff(int width, int height, const TiffLayout& layout,
                      const std::function<int(int x, int y, int sample)>& value);

// An interlaced (Adam7) PNG with alpha, written by libpng.
QByteArray EncodeInterlacedPng(const QImage& picture);

// A PNG written by libpng in any colour type and bit depth: samples value(x, y, s), palette
// indices for indexed ones (whose palette has `paletteSize` entries); a tRNS chunk makes the grey
// or RGB level `transparent` see-through when it is not negative.
struct PngLayout {
  int colourType = 2;  // 0 grey, 2 RGB, 3 indexed, 4 grey with alpha, 6 RGB with alpha
  int bits = 8;
  bool interlaced = false;
  int paletteSize = 0;
  int transparent = -1;
};
QByteArray EncodePng(int width, int height, const PngLayout& layout,
                     const std::function<int(int x, int y, int sample)>& value);

// A progressive JPEG of grey 77 written by libjpeg in exactly `scans` scans (1 ... 127): the DC,
// one scan for each AC coefficient, then refinements of the first ones.
QByteArray EncodeProgressiveJpeg(int width, int height, int scans);

// The little-endian TIFF with the entry `tag` of its first directory given another count and
// value (the value itself, or where the values lie).
QByteArray WithTiffEntry(QByteArray tiff, quint16 tag, quint32 count, quint32 value);

// A CMYK JPEG written by libjpeg, Adobe's inverted way: every pixel (c, m, y, k) as given.
QByteArray EncodeCmykJpeg(int width, int height, int c, int m, int y, int k);
// The JPEG with an EXIF block carrying this orientation tag (1 ... 8) after its start marker.
QByteArray WithExifOrientation(const QByteArray& jpeg, int orientation);

// The colour a bitmap shows at (x, y), alpha included (255 for 8 and 24 bits).
QRgb ColourAt(const TBitmap& bitmap, int x, int y);

// Takes the effective permission-override capabilities away from this thread while it lives, so
// that a test running as root meets file permissions like any user.
class WithoutFilePermissionOverride {
 public:
  WithoutFilePermissionOverride();
  ~WithoutFilePermissionOverride();
  // False when the capabilities could not be dropped although the process holds them.
  bool Effective() const { return effective_; }

 private:
  bool dropped_ = false;
  bool effective_ = false;
  unsigned saved_[6] = {};
};
