// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureFormats.h"

#include <QFileInfo>
#include <array>
#include <cstring>

// The codecs, each in a file of its own.
DecodedPicture ReadPng(ByteSource& source, const ReadRequest& request);
DecodedPicture ReadJpeg(ByteSource& source, const ReadRequest& request);
DecodedPicture ReadTiff(ByteSource& source, const ReadRequest& request);
std::unique_ptr<RowWriter> StartPng(const TBitmap&, int, ByteSink&, const SaveSettings&);
std::unique_ptr<RowWriter> StartJpeg(const TBitmap&, int, ByteSink&, const SaveSettings&);
std::unique_ptr<RowWriter> StartTiff(const TBitmap&, int, ByteSink&, const SaveSettings&);
std::unique_ptr<RowWriter> StartBmp(const TBitmap&, int, ByteSink&, const SaveSettings&);
std::unique_ptr<RowWriter> StartPgm(const TBitmap&, int, ByteSink&, const SaveSettings&);
std::unique_ptr<RowWriter> StartPpm(const TBitmap&, int, ByteSink&, const SaveSettings&);

namespace {

constexpr const char* kPng[] = {"png"};
constexpr const char* kJpeg[] = {"jpg", "jpeg", "jpe"};
constexpr const char* kTiff[] = {"tif", "tiff"};
constexpr const char* kBmp[] = {"bmp", "dib"};
constexpr const char* kGif[] = {"gif"};
constexpr const char* kIco[] = {"ico"};
constexpr const char* kCur[] = {"cur"};
constexpr const char* kPbm[] = {"pbm"};
constexpr const char* kPgm[] = {"pgm"};
constexpr const char* kPpm[] = {"ppm"};
constexpr const char* kXbm[] = {"xbm"};
constexpr const char* kXpm[] = {"xpm"};

constexpr const char* kPngTypes[] = {"image/png"};
constexpr const char* kJpegTypes[] = {"image/jpeg"};
constexpr const char* kTiffTypes[] = {"image/tiff"};
constexpr const char* kBmpTypes[] = {"image/bmp", "image/x-bmp", "image/x-ms-bmp"};
constexpr const char* kGifTypes[] = {"image/gif"};
constexpr const char* kIcoTypes[] = {"image/vnd.microsoft.icon", "image/x-icon"};
constexpr const char* kCurTypes[] = {"image/x-win-bitmap"};
constexpr const char* kPbmTypes[] = {"image/x-portable-bitmap"};
constexpr const char* kPgmTypes[] = {"image/x-portable-graymap"};
constexpr const char* kPpmTypes[] = {"image/x-portable-pixmap"};
constexpr const char* kXbmTypes[] = {"image/x-xbitmap"};
constexpr const char* kXpmTypes[] = {"image/x-xpixmap"};

// clang-format off
constexpr std::array kFormats = {
  //                                     name   label             toolkit MIME types   extensions toolkit write save   read      write
  PictureFormatInfo{PictureFormat::Png,  "png", "PNG 圖檔",       "png",  kPngTypes,   kPng,  false, true,  true,  ReadPng,  StartPng},
  PictureFormatInfo{PictureFormat::Jpeg, "jpg", "JPEG 圖檔",      "jpeg", kJpegTypes,  kJpeg, false, true,  true,  ReadJpeg, StartJpeg},
  PictureFormatInfo{PictureFormat::Tiff, "tif", "TIFF 圖檔",      "tiff", kTiffTypes,  kTiff, false, true,  true,  ReadTiff, StartTiff},
  PictureFormatInfo{PictureFormat::Bmp,  "bmp", "BMP 點陣圖",     "bmp",  kBmpTypes,   kBmp,  true,  true,  true,  nullptr,  StartBmp},
  PictureFormatInfo{PictureFormat::Gif,  "gif", "GIF 圖檔",       "gif",  kGifTypes,   kGif,  true,  false, false, nullptr,  nullptr},
  PictureFormatInfo{PictureFormat::Ico,  "ico", "Windows 圖示",   "ico",  kIcoTypes,   kIco,  true,  false, false, nullptr,  nullptr},
  PictureFormatInfo{PictureFormat::Cur,  "cur", "Windows 游標",   "cur",  kCurTypes,   kCur,  true,  false, false, nullptr,  nullptr},
  PictureFormatInfo{PictureFormat::Pbm,  "pbm", "PBM 黑白點陣圖", "pbm",  kPbmTypes,   kPbm,  true,  false, false, nullptr,  nullptr},
  PictureFormatInfo{PictureFormat::Pgm,  "pgm", "PGM 灰階圖",     "pgm",  kPgmTypes,   kPgm,  true,  true,  false, nullptr,  StartPgm},
  PictureFormatInfo{PictureFormat::Ppm,  "ppm", "PPM 彩色圖",     "ppm",  kPpmTypes,   kPpm,  true,  true,  false, nullptr,  StartPpm},
  PictureFormatInfo{PictureFormat::Xbm,  "xbm", "XBM 黑白點陣圖", "xbm",  kXbmTypes,   kXbm,  true,  false, false, nullptr,  nullptr},
  PictureFormatInfo{PictureFormat::Xpm,  "xpm", "XPM 圖檔",       "xpm",  kXpmTypes,   kXpm,  true,  false, false, nullptr,  nullptr},
};
// clang-format on
static_assert(
    [] {
      for (std::size_t i = 0; i < kFormats.size(); ++i)
        if (static_cast<std::size_t>(kFormats[i].format) != i)
          return false;
      return true;
    }(),
    "the table is indexed by format");
static_assert(
    [] {
      for (const PictureFormatInfo& info : kFormats)
        if (info.writable != (info.write != nullptr) || info.byToolkit != (info.read == nullptr))
          return false;
      return true;
    }(),
    "a format is writable where it has a writer, read by the toolkit where it has no reader");

QString Patterns(const PictureFormatInfo& info) {
  QStringList patterns;
  for (const char* extension : info.extensions)
    patterns << QStringLiteral("*.") + QLatin1String(extension);
  return patterns.join(QLatin1Char(' '));
}

QString Filter(const PictureFormatInfo& info) {
  return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(info.label), Patterns(info));
}

bool StartsWith(const unsigned char* head, std::size_t size, const char* prefix, std::size_t n) {
  return size >= n && std::memcmp(head, prefix, n) == 0;
}

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace

std::span<const PictureFormatInfo> PictureFormats() {
  return kFormats;
}

const PictureFormatInfo& FormatInfo(PictureFormat format) {
  return kFormats[static_cast<std::size_t>(format)];
}

const PictureFormatInfo* FormatOfMimeType(const QString& mimeType) {
  for (const PictureFormatInfo& info : kFormats)
    for (const char* type : info.mimeTypes)
      if (mimeType.compare(QLatin1String(type), Qt::CaseInsensitive) == 0)
        return &info;
  return nullptr;
}

const PictureFormatInfo* FormatNamed(const QString& nameOrExtension) {
  const QString wanted = nameOrExtension.toLower();
  for (const PictureFormatInfo& info : kFormats) {
    if (wanted == QLatin1String(info.name))
      return &info;
    for (const char* extension : info.extensions)
      if (wanted == QLatin1String(extension))
        return &info;
  }
  return nullptr;
}

const PictureFormatInfo* FormatOfFileName(const QString& fileName) {
  const QString suffix = QFileInfo(fileName).suffix();
  return suffix.isEmpty() ? nullptr : FormatNamed(suffix);
}

std::optional<PictureFormat> DetectPictureFormat(const unsigned char* head, std::size_t size) {
  if (StartsWith(head, size, "\x89PNG\r\n\x1a\n", 8))
    return PictureFormat::Png;
  if (StartsWith(head, size, "\xff\xd8\xff", 3))
    return PictureFormat::Jpeg;
  if (StartsWith(head, size, "II*\0", 4) || StartsWith(head, size, "MM\0*", 4) ||
      StartsWith(head, size, "II+\0", 4) || StartsWith(head, size, "MM\0+", 4))
    return PictureFormat::Tiff;
  if (StartsWith(head, size, "BM", 2))
    return PictureFormat::Bmp;
  if (StartsWith(head, size, "GIF87a", 6) || StartsWith(head, size, "GIF89a", 6))
    return PictureFormat::Gif;
  // Icons hold at least one picture, whose directory entry has a reserved zero byte: an
  // uncompressed TGA begins with the same four bytes but holds no such count.
  const bool icon = size >= 10 && (head[4] | head[5]) != 0 && head[9] == 0;
  if (icon && StartsWith(head, size, "\0\0\1\0", 4))
    return PictureFormat::Ico;
  if (icon && StartsWith(head, size, "\0\0\2\0", 4))
    return PictureFormat::Cur;
  if (size >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' && IsSpace(head[2])) {
    switch (head[1]) {
      case '1':
      case '4':
        return PictureFormat::Pbm;
      case '2':
      case '5':
        return PictureFormat::Pgm;
      default:
        return PictureFormat::Ppm;
    }
  }
  if (StartsWith(head, size, "/* XPM */", 9))
    return PictureFormat::Xpm;
  if (StartsWith(head, size, "#define", 7))
    return PictureFormat::Xbm;
  return std::nullopt;
}

QStringList OpenPictureFilters() {
  QStringList all;
  QStringList each;
  for (const PictureFormatInfo& info : kFormats) {
    all << Patterns(info);
    each << Filter(info);
  }
  return QStringList{QStringLiteral("所有圖檔 (%1)").arg(all.join(QLatin1Char(' ')))} + each +
         QStringList{QStringLiteral("所有檔案 (*)")};
}

QStringList SavePictureFilters() {
  QStringList filters;
  for (const PictureFormatInfo& info : kFormats)
    if (info.offeredForSaving)
      filters << Filter(info);
  return filters;
}

const PictureFormatInfo* FormatOfSaveFilter(const QString& filter) {
  for (const PictureFormatInfo& info : kFormats)
    if (info.offeredForSaving && filter == Filter(info))
      return &info;
  return nullptr;
}
