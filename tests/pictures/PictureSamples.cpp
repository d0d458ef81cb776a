// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureSamples.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryFile>
#include <QtEndian>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
// clang-format off
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
// clang-format on

QImage ColourfulPicture(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.setPixel(x, y,
                     qRgba((x * 37 + y * 11) & 255, (x * 5 + y * 29) & 255, (x * y * 13 + 7) & 255,
                           (x * 50 + y * 20 + 30) & 255));
  return image;
}

QImage IndexedPicture(int width, int height, const QList<QRgb>& colours) {
  QImage image(width, height, QImage::Format_Indexed8);
  image.fill(0);  // the row padding too, which some writers read
  image.setColorTable(colours);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.setPixel(x, y, static_cast<uint>((x + 2 * y) % colours.size()));
  return image;
}

QImage MonoPicture(int width, int height) {
  QImage image(width, height, QImage::Format_Mono);
  // The row padding too, which some writers read; fill() leaves it out at one bit per pixel.
  std::memset(image.bits(), 0, static_cast<std::size_t>(image.sizeInBytes()));
  image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.setPixel(x, y, static_cast<uint>((x + 2 * y) % 2));
  return image;
}

QByteArray Encode(const QImage& image, const char* format, bool progressive) {
  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  writer.setProgressiveScanWrite(progressive);
  if (!writer.write(image))
    return {};
  return buffer.data();
}

void PutLe16(QByteArray& out, quint32 v) {
  out.append(static_cast<char>(v & 0xff));
  out.append(static_cast<char>((v >> 8) & 0xff));
}

void PutLe32(QByteArray& out, quint32 v) {
  PutLe16(out, v & 0xffff);
  PutLe16(out, v >> 16);
}

// The image data in sub-blocks of at most 255 bytes, their terminator and the file's trailer.
static QByteArray EndGif(QByteArray gif, const QByteArray& data) {
  for (qsizetype i = 0; i < data.size(); i += 255) {
    const QByteArray block = data.mid(i, 255);
    gif.append(static_cast<char>(block.size()));
    gif.append(block);
  }
  gif.append('\0');
  gif.append(';');
  return gif;
}

QByteArray EncodeGif(const QImage& indexed, qsizetype pixels) {
  const QList<QRgb> colours = indexed.colorTable();
  int bits = 1;
  while ((1 << bits) < colours.size())
    ++bits;
  QByteArray gif("GIF89a");
  PutLe16(gif, indexed.width());
  PutLe16(gif, indexed.height());
  gif.append(static_cast<char>(0x80 | (bits - 1)));
  gif.append('\0');
  gif.append('\0');
  for (int i = 0; i < (1 << bits); ++i) {
    const QRgb c = i < colours.size() ? colours[i] : 0;
    gif.append(static_cast<char>(qRed(c)));
    gif.append(static_cast<char>(qGreen(c)));
    gif.append(static_cast<char>(qBlue(c)));
  }
  gif.append(',');
  PutLe16(gif, 0);
  PutLe16(gif, 0);
  PutLe16(gif, indexed.width());
  PutLe16(gif, indexed.height());
  gif.append('\0');
  // Literal codes only, with a clear code before the table would widen the codes.
  const int minCode = std::max(2, bits);
  const int clear = 1 << minCode;
  const int width = minCode + 1;
  gif.append(static_cast<char>(minCode));
  QByteArray data;
  quint32 acc = 0;
  int count = 0;
  auto put = [&](int code) {
    acc |= static_cast<quint32>(code) << count;
    count += width;
    while (count >= 8) {
      data.append(static_cast<char>(acc & 0xff));
      acc >>= 8;
      count -= 8;
    }
  };
  put(clear);
  qsizetype total = qsizetype{indexed.width()} * indexed.height();
  if (pixels >= 0)
    total = std::min(total, pixels);
  int sinceClear = 0;
  for (qsizetype i = 0; i < total; ++i) {
    if (sinceClear == clear - 2) {
      put(clear);
      sinceClear = 0;
    }
    put(indexed.pixelIndex(static_cast<int>(i % indexed.width()),
                           static_cast<int>(i / indexed.width())));
    ++sinceClear;
  }
  put(clear + 1);
  if (count > 0)
    data.append(static_cast<char>(acc & 0xff));
  return EndGif(gif, data);
}

QByteArray EncodeRowsGif(int width, int height, bool interlaced,
                         const std::function<int(int y)>& colour) {
  QByteArray gif("GIF89a");
  PutLe16(gif, width);
  PutLe16(gif, height);
  gif.append(static_cast<char>(0x81));  // a table of four colours
  gif.append('\0');
  gif.append('\0');
  gif.append(QByteArray("\xff\x00\x00\x00\xff\x00\x00\x00\xff\xfa\xfa\x00", 12));
  gif.append(',');
  PutLe16(gif, 0);
  PutLe16(gif, 0);
  PutLe16(gif, width);
  PutLe16(gif, height);
  gif.append(interlaced ? '\x40' : '\0');
  const int clear = 4;
  gif.append('\2');
  QByteArray data;
  quint64 acc = 0;
  int count = 0;
  int codeWidth = 3;
  auto put = [&](int code) {
    acc |= quint64(code) << count;
    count += codeWidth;
    while (count >= 8) {
      data.append(static_cast<char>(acc & 0xff));
      acc >>= 8;
      count -= 8;
    }
  };
  // Each row after a clear code: one pixel, then codes for runs of 2, 3, 4 ... pixels, each the
  // code the decoder is about to add (the previous run and one pixel more).
  const int first = (height + 7) / 8, second = (height + 3) / 8, third = (height + 1) / 4;
  for (int k = 0; k < height; ++k) {
    int y = k;
    if (interlaced)
      y = k < first                    ? k * 8
          : k < first + second         ? (k - first) * 8 + 4
          : k < first + second + third ? (k - first - second) * 4 + 2
                                       : (k - first - second - third) * 2 + 1;
    const int c = colour(y);
    put(clear);
    codeWidth = 3;
    int next = clear + 2;
    int left = width;
    for (int run = 1; left > 0; ++run) {
      const int n = std::min(run, left);
      put(n == 1 ? c : clear + n);
      left -= n;
      if (run > 1 && ++next == (1 << codeWidth) && codeWidth < 12)
        ++codeWidth;
    }
  }
  put(clear + 1);
  if (count > 0)
    data.append(static_cast<char>(acc & 0xff));
  return EndGif(gif, data);
}

QByteArray EncodeTopDownBmp(const QImage& image) {
  const int rowBytes = (image.width() * 3 + 3) & ~3;
  QByteArray bmp("BM");
  PutLe32(bmp, 54 + rowBytes * image.height());
  PutLe32(bmp, 0);
  PutLe32(bmp, 54);
  PutLe32(bmp, 40);
  PutLe32(bmp, image.width());
  PutLe32(bmp, static_cast<quint32>(-image.height()));
  PutLe16(bmp, 1);
  PutLe16(bmp, 24);
  for (int i = 0; i < 6; ++i)
    PutLe32(bmp, 0);
  for (int y = 0; y < image.height(); ++y) {
    QByteArray row(rowBytes, '\0');
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      row[3 * x] = static_cast<char>(qBlue(c));
      row[3 * x + 1] = static_cast<char>(qGreen(c));
      row[3 * x + 2] = static_cast<char>(qRed(c));
    }
    bmp.append(row);
  }
  return bmp;
}

QByteArray ProgressiveJpegAfterFirstScan(const QByteArray& jpeg) {
  const qsizetype first = jpeg.indexOf("\xff\xda");
  const qsizetype second = jpeg.indexOf("\xff\xda", first + 2);
  qsizetype cut = jpeg.lastIndexOf("\xff\xc4", second);  // tables of the second scan
  if (cut < first)
    cut = second;
  return jpeg.left(cut);
}

QString WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
    return {};
  return path;
}

QRgb ColourAt(const TBitmap& bitmap, int x, int y) {
  const std::uint8_t* p = bitmap.ScanLine(y) + x * bitmap.BytesPerPixel();
  switch (bitmap.PixelFormat()) {
    case TPixelFormat::pf8bit: {
      TPaletteEntry e;
      if (!bitmap.GetPaletteEntry(p[0], e))
        return 0;
      return qRgb(e.peRed, e.peGreen, e.peBlue);
    }
    case TPixelFormat::pf24bit:
      return qRgb(p[2], p[1], p[0]);
    case TPixelFormat::pf32bit:
      return qRgba(p[2], p[1], p[0], p[3]);
  }
  return 0;
}

WithoutFilePermissionOverride::WithoutFilePermissionOverride() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0)
    return;
  std::memcpy(saved_, data, sizeof data);
  const unsigned mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
  if ((data[0].effective & mask) == 0) {
    effective_ = true;
    return;
  }
  data[0].effective &= ~mask;
  dropped_ = syscall(SYS_capset, &header, data) == 0;
  effective_ = dropped_;
}

WithoutFilePermissionOverride::~WithoutFilePermissionOverride() {
  if (!dropped_)
    return;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2];
  std::memcpy(data, saved_, sizeof data);
  syscall(SYS_capset, &header, data);
}

QByteArray RleBmp(int bits, int width, int height, const QByteArray& stream) {
  QByteArray bmp("BM");
  const int offBits = 14 + 40 + 2 * 4;
  PutLe32(bmp, offBits + stream.size());
  PutLe32(bmp, 0);
  PutLe32(bmp, offBits);
  PutLe32(bmp, 40);
  PutLe32(bmp, width);
  PutLe32(bmp, height);
  PutLe16(bmp, 1);
  PutLe16(bmp, bits);
  PutLe32(bmp, bits == 8 ? 1 : 2);
  PutLe32(bmp, stream.size());
  PutLe32(bmp, 0);
  PutLe32(bmp, 0);
  PutLe32(bmp, 2);
  PutLe32(bmp, 0);
  bmp.append(QByteArray("\x00\x00\xff\x00\xff\x00\x00\x00", 8));
  return bmp + stream;
}

QByteArray WithLe32(QByteArray bytes, qsizetype at, quint32 value) {
  qToLittleEndian(value, bytes.data() + at);
  return bytes;
}

QByteArray WithBe16(QByteArray bytes, qsizetype at, quint16 value) {
  qToBigEndian(value, bytes.data() + at);
  return bytes;
}

QByteArray WithBe32(QByteArray bytes, qsizetype at, quint32 value) {
  qToBigEndian(value, bytes.data() + at);
  return bytes;
}

QByteArray IcoHolding(const QByteArray& inner) {
  QByteArray ico;
  PutLe16(ico, 0);
  PutLe16(ico, 1);
  PutLe16(ico, 1);
  ico.append(QByteArray(4, '\0'));
  PutLe16(ico, 1);
  PutLe16(ico, 32);
  PutLe32(ico, inner.size());
  PutLe32(ico, 22);
  return ico + inner;
}

QByteArray EncodeTiff(int width, int height, const TiffLayout& layout,
                      const std::function<int(int x, int y, int sample)>& value) {
  QTemporaryFile file;
  if (!file.open())
    return {};
  TIFF* tif = TIFFOpen(QFile::encodeName(file.fileName()).constData(), "w");
  if (tif == nullptr)
    return {};
  for (int page = 0; page < layout.pages; ++page) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, layout.sampleFormat);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG,
                 layout.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (layout.alpha) {
      const uint16_t kinds[] = {EXTRASAMPLE_UNASSALPHA};
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, kinds);
    }
    std::vector<uint16_t> map(3 * layout.colourMap.size());
    if (!layout.colourMap.isEmpty()) {
      const qsizetype n = layout.colourMap.size();
      for (qsizetype i = 0; i < n; ++i) {
        map[i] = static_cast<uint16_t>(qRed(layout.colourMap[i]) * 257);
        map[n + i] = static_cast<uint16_t>(qGreen(layout.colourMap[i]) * 257);
        map[2 * n + i] = static_cast<uint16_t>(qBlue(layout.colourMap[i]) * 257);
      }
      TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }
    if (layout.pages > 1) {
      TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
      TIFFSetField(tif, TIFFTAG_PAGENUMBER, page, layout.pages);
    }
    // The samples of one plane (or all, interleaved), packed as TIFF packs them.
    const int perPixel = layout.separate ? 1 : layout.samples;
    auto packRow = [&](int y, int plane, int x0, int count, uint8_t* out, std::size_t bytes) {
      std::memset(out, 0, bytes);
      for (int x = 0; x < count; ++x)
        for (int s = 0; s < perPixel; ++s) {
          const int v = value(x0 + x, y, layout.separate ? plane : s);
          const std::size_t index = std::size_t(x) * perPixel + s;
          if (layout.bits == 16) {
            reinterpret_cast<uint16_t*>(out)[index] = static_cast<uint16_t>(v);
          } else if (layout.bits == 32) {
            reinterpret_cast<uint32_t*>(out)[index] = static_cast<uint32_t>(v);
          } else if (layout.bits == 8) {
            out[index] = static_cast<uint8_t>(v);
          } else {
            // Packed most significant bit first, across byte boundaries where need be.
            for (int b = 0; b < layout.bits; ++b) {
              const std::size_t bit = index * layout.bits + b;
              if ((v >> (layout.bits - 1 - b)) & 1)
                out[bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
            }
          }
        }
    };
    const int planes = layout.separate ? layout.samples : 1;
    if (layout.tiled) {
      const int side = layout.tile;
      TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
      TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
      std::vector<uint8_t> tile(static_cast<std::size_t>(TIFFTileSize(tif)));
      const tmsize_t rowBytes = TIFFTileRowSize(tif);
      for (int plane = 0; plane < planes; ++plane)
        for (int ty = 0; ty < height; ty += side)
          for (int tx = 0; tx < width; tx += side) {
            std::fill(tile.begin(), tile.end(), 0);
            for (int r = 0; r < side && ty + r < height; ++r)
              packRow(ty + r, plane, tx, std::min(side, width - tx), tile.data() + r * rowBytes,
                      static_cast<std::size_t>(rowBytes));
            TIFFWriteTile(tif, tile.data(), tx, ty, 0, static_cast<uint16_t>(plane));
          }
    } else {
      TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 3);
      std::vector<uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
      for (int plane = 0; plane < planes; ++plane)
        for (int y = 0; y < height; ++y) {
          packRow(y, plane, 0, width, row.data(), row.size());
          TIFFWriteScanline(tif, row.data(), y, static_cast<uint16_t>(plane));
        }
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  return file.readAll();
}

QByteArray EncodeCmykJpeg(int width, int height, int c, int m, int y, int k) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(std::size_t(width) * 4);
  for (int x = 0; x < width; ++x) {
    row[4 * x] = static_cast<JSAMPLE>(c);
    row[4 * x + 1] = static_cast<JSAMPLE>(m);
    row[4 * x + 2] = static_cast<JSAMPLE>(y);
    row[4 * x + 3] = static_cast<JSAMPLE>(k);
  }
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
  std::free(out);
  return bytes;
}

QByteArray WithExifOrientation(const QByteArray& jpeg, int orientation) {
  // "Exif\0\0", a little-endian TIFF header and one directory holding the orientation.
  QByteArray exif("Exif\0\0II*\0", 10);
  PutLe32(exif, 8);
  PutLe16(exif, 1);
  PutLe16(exif, 0x0112);
  PutLe16(exif, 3);  // SHORT
  PutLe32(exif, 1);
  PutLe16(exif, static_cast<quint32>(orientation));
  PutLe16(exif, 0);
  PutLe32(exif, 0);  // no next directory
  QByteArray segment("\xff\xe1", 2);
  segment.append(static_cast<char>((exif.size() + 2) >> 8));
  segment.append(static_cast<char>((exif.size() + 2) & 0xff));
  segment.append(exif);
  return jpeg.left(2) + segment + jpeg.mid(2);
}

namespace {

void AppendPng(png_structp png, png_bytep data, png_size_t length) {
  static_cast<QByteArray*>(png_get_io_ptr(png))
      ->append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(length));
}

}  // namespace

QByteArray EncodeInterlacedPng(const QImage& picture) {
  QByteArray bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &bytes, &AppendPng, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width()),
               static_cast<png_uint_32>(picture.height()), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
  std::vector<png_bytep> rows(static_cast<std::size_t>(rgba.height()));
  for (int y = 0; y < rgba.height(); ++y)
    rows[y] = const_cast<png_bytep>(rgba.constScanLine(y));
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

QByteArray EncodePng(int width, int height, const PngLayout& layout,
                     const std::function<int(int x, int y, int sample)>& value) {
  QByteArray bytes;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &bytes, &AppendPng, nullptr);
  png_set_check_for_invalid_index(png, 0);  // files with indices beyond the palette, too
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
               layout.bits, layout.colourType,
               layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette(static_cast<std::size_t>(layout.paletteSize));
  for (int i = 0; i < layout.paletteSize; ++i)
    palette[i] = {static_cast<png_byte>(i * 37), static_cast<png_byte>(255 - i * 11),
                  static_cast<png_byte>(i * 5)};
  if (layout.colourType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(png, info, palette.data(), layout.paletteSize);
  if (layout.transparent >= 0) {
    png_color_16 colour{};
    colour.red = colour.green = colour.blue = colour.gray =
        static_cast<png_uint_16>(layout.transparent);
    png_set_tRNS(png, info, nullptr, 0, &colour);
  }
  png_write_info(png, info);
  const int samples = layout.colourType == 2   ? 3
                      : layout.colourType == 4 ? 2
                      : layout.colourType == 6 ? 4
                                               : 1;
  const std::size_t rowBytes = (std::size_t(width) * samples * layout.bits + 7) / 8;
  std::vector<png_byte> image(rowBytes * height, 0);
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    png_bytep row = image.data() + y * rowBytes;
    rows[y] = row;
    for (int x = 0; x < width; ++x)
      for (int s = 0; s < samples; ++s) {
        const int v = value(x, y, s);
        const std::size_t index = std::size_t(x) * samples + s;
        if (layout.bits == 16) {
          row[2 * index] = static_cast<png_byte>(v >> 8);
          row[2 * index + 1] = static_cast<png_byte>(v);
        } else {
          const std::size_t bit = index * layout.bits;
          row[bit / 8] |= static_cast<png_byte>(v << (8 - layout.bits - bit % 8));
        }
      }
  }
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

QByteArray EncodeProgressiveJpeg(int width, int height, int scans) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  std::vector<jpeg_scan_info> script;
  auto scan = [&](int coefficient, int high, int low) {
    jpeg_scan_info info{};
    info.comps_in_scan = 1;
    info.Ss = info.Se = coefficient;
    info.Ah = high;
    info.Al = low;
    script.push_back(info);
  };
  scan(0, 0, 0);
  for (int k = 1; k < 64 && static_cast<int>(script.size()) < scans; ++k)
    scan(k, 0, 1);
  for (int k = 1; k < 64 && static_cast<int>(script.size()) < scans; ++k)
    scan(k, 1, 0);
  cinfo.scan_info = script.data();
  cinfo.num_scans = static_cast<int>(script.size());
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(width));
  while (cinfo.next_scanline < cinfo.image_height) {
    std::fill(row.begin(), row.end(), 77);
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
  std::free(out);
  return bytes;
}

QByteArray WithTiffEntry(QByteArray tiff, quint16 tag, quint32 count, quint32 value) {
  const qsizetype directory = qFromLittleEndian<quint32>(tiff.constData() + 4);
  const int entries = qFromLittleEndian<quint16>(tiff.constData() + directory);
  for (int i = 0; i < entries; ++i) {
    char* entry = tiff.data() + directory + 2 + 12 * i;
    if (qFromLittleEndian<quint16>(entry) == tag) {
      qToLittleEndian(count, entry + 4);
      qToLittleEndian(value, entry + 8);
      return tiff;
    }
  }
  return {};
}
