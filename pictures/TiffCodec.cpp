// SPDX-License-Identifier: GPL-3.0-or-later
// TIFF through libtiff. Grey, palette and RGB pictures are read sample by sample into the image
// model, so that grey stays grey and palettes stay palettes; other colour models go through the
// library's own conversion to RGBA. Only the first page of a multi-page file is read.

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

#include "PictureFile.h"
#include "PictureIo.h"

namespace {

// Measured like PNG's: deflate at this level with horizontal differencing.
constexpr int kDefaultCompression = 2;
constexpr tmsize_t kStripBytes = 256 * 1024;
// libtiff's buffers for one strip or tile, tables and the like.
constexpr tmsize_t kSingleAllocationLimit = tmsize_t{1} << 30;
// Tiles come in multiples of 16 pixels, and writers use one tile size (such as 256 x 256) for
// pictures of any size: a tile may exceed the picture that far, and no further.
constexpr std::uint32_t kTileAllowance = 1024;
// More samples per pixel than any colour model with its alpha and extra channels has; each one
// widens the buffers of a strip.
constexpr std::uint16_t kMaxSamples = 8;

// What the library reports. Nothing reaches the terminal; errors make a picture damaged.
struct Messages {
  bool error = false;
  QString first;
};

int OnError(TIFF*, void* user, const char*, const char* format, va_list arguments) {
  auto* messages = static_cast<Messages*>(user);
  if (!messages->error) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    messages->first = QString::fromUtf8(text);
  }
  messages->error = true;
  return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// ---- reading --------------------------------------------------------------------------------

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
  return static_cast<tmsize_t>(
      static_cast<ByteSource*>(handle)->Read(buffer, static_cast<std::size_t>(size)));
}

tmsize_t NoWrite(thandle_t, void*, tmsize_t) {
  return -1;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto* source = static_cast<ByteSource*>(handle);
  qint64 target = static_cast<qint64>(offset);
  if (whence == SEEK_CUR)
    target += source->Position();
  else if (whence == SEEK_END)
    target += source->Size();
  if (!source->Seek(target))
    return static_cast<toff_t>(-1);
  return static_cast<toff_t>(target);
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t handle) {
  return static_cast<toff_t>(static_cast<ByteSource*>(handle)->Size());
}

int NoMap(thandle_t, void**, toff_t*) {
  return 0;
}

void NoUnmap(thandle_t, void*, toff_t) {}

struct TiffDeleter {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using Tiff = std::unique_ptr<TIFF, TiffDeleter>;

struct OptionsDeleter {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

Tiff Open(const char* mode, thandle_t handle, TIFFReadWriteProc read, TIFFReadWriteProc write,
          TIFFSeekProc seek, TIFFSizeProc size, Messages& messages) {
  std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kSingleAllocationLimit);
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &OnError, &messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &OnWarning, &messages);
  return Tiff(TIFFClientOpenExt("picture", mode, handle, read, write, seek, &CloseProc, size,
                                &NoMap, &NoUnmap, options.get()));
}

template <class T>
T Field(TIFF* tif, ttag_t tag, T otherwise) {
  T value{};
  return TIFFGetFieldDefaulted(tif, tag, &value) == 1 ? value : otherwise;
}

std::uint8_t Reduce16(std::uint16_t v) {
  return static_cast<std::uint8_t>((v * 255u + 32895u) >> 16);
}

// The samples of one plane of the picture, row by row, from strips or tiles.
template <class Visit>
void ForEachRow(TIFF* tif, int plane, std::uint32_t width, std::uint32_t height, Visit&& visit) {
  const bool separate =
      Field<std::uint16_t>(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == PLANARCONFIG_SEPARATE;
  const tmsize_t rowBytes = TIFFScanlineSize(tif);
  if (rowBytes <= 0)
    Fail(PictureFault::Damaged);
  if (!TIFFIsTiled(tif)) {
    const std::uint32_t perStrip =
        std::min(Field<std::uint32_t>(tif, TIFFTAG_ROWSPERSTRIP, height), height);
    if (perStrip == 0)
      Fail(PictureFault::Damaged);
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(rowBytes) * perStrip);
    const std::uint32_t strips = (height + perStrip - 1) / perStrip;
    for (std::uint32_t s = 0; s < strips; ++s) {
      const std::uint32_t rows = std::min(perStrip, height - s * perStrip);
      const tmsize_t wanted = rowBytes * rows;
      const std::uint32_t index = separate ? s + plane * strips : s;
      if (TIFFReadEncodedStrip(tif, index, strip.data(), wanted) < wanted)
        Fail(PictureFault::Damaged);
      for (std::uint32_t r = 0; r < rows; ++r)
        visit(s * perStrip + r, strip.data() + r * rowBytes);
    }
    return;
  }
  const std::uint32_t tileWidth = Field<std::uint32_t>(tif, TIFFTAG_TILEWIDTH, 0);
  const std::uint32_t tileHeight = Field<std::uint32_t>(tif, TIFFTAG_TILELENGTH, 0);
  const tmsize_t tileRowBytes = TIFFTileRowSize(tif);
  const tmsize_t tileBytes = TIFFTileSize(tif);
  if (tileWidth == 0 || tileHeight == 0 || tileRowBytes <= 0 || tileBytes <= 0 ||
      tileWidth % 16 != 0)
    Fail(PictureFault::Damaged);
  const std::size_t bitsPerPixel = static_cast<std::size_t>(tileRowBytes) * 8 / tileWidth;
  std::vector<std::uint8_t> tile(static_cast<std::size_t>(tileBytes));
  std::vector<std::uint8_t> band(static_cast<std::size_t>(rowBytes) * tileHeight);
  for (std::uint32_t y = 0; y < height; y += tileHeight) {
    const std::uint32_t rows = std::min(tileHeight, height - y);
    for (std::uint32_t x = 0; x < width; x += tileWidth) {
      if (TIFFReadTile(tif, tile.data(), x, y, 0, static_cast<std::uint16_t>(plane)) < 0)
        Fail(PictureFault::Damaged);
      const std::size_t offset = x * bitsPerPixel / 8;
      const std::size_t bytes =
          std::min<std::size_t>(tileRowBytes, static_cast<std::size_t>(rowBytes) - offset);
      for (std::uint32_t r = 0; r < rows; ++r)
        std::memcpy(band.data() + r * rowBytes + offset, tile.data() + r * tileRowBytes, bytes);
    }
    for (std::uint32_t r = 0; r < rows; ++r)
      visit(y + r, band.data() + r * rowBytes);
  }
}

QString ColourModelName(int photometric) {
  switch (photometric) {
    case PHOTOMETRIC_SEPARATED:
      return QStringLiteral("CMYK");
    case PHOTOMETRIC_YCBCR:
      return QStringLiteral("YCbCr");
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
      return QStringLiteral("CIE L*a*b*");
    case PHOTOMETRIC_LOGL:
    case PHOTOMETRIC_LOGLUV:
      return QStringLiteral("LogLuv");
    case PHOTOMETRIC_MASK:
      return QStringLiteral("transparency mask");
    default:
      return QStringLiteral("TIFF photometric %1").arg(photometric);
  }
}

// Tiles no larger than the picture needs (see kTileAllowance), and every strip or tile where the
// file holds it: a strip offset list cut short is filled with zeros by the library, which then
// reads the file's header as pixels.
void CheckLayout(TIFF* tif, std::uint32_t width, std::uint32_t height) {
  if (TIFFIsTiled(tif)) {
    const auto fits = [](std::uint32_t tile, std::uint32_t side) {
      return tile > 0 && tile <= std::max(kTileAllowance, (side + 15) / 16 * 16);
    };
    if (!fits(Field<std::uint32_t>(tif, TIFFTAG_TILEWIDTH, 0), width) ||
        !fits(Field<std::uint32_t>(tif, TIFFTAG_TILELENGTH, 0), height))
      Fail(PictureFault::Damaged);
  }
  const std::uint32_t pieces = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  for (std::uint32_t i = 0; i < pieces; ++i)
    if (TIFFGetStrileOffset(tif, i) == 0)
      Fail(PictureFault::Damaged);
}

// The colour model the file's first directory states: the library takes a palette picture
// without its colour map for grey or RGB, where the picture is damaged. -1 when it cannot be
// read.
int StoredPhotometric(ByteSource& source) {
  struct Restore {
    ByteSource& source;
    qint64 position;
    ~Restore() { source.Seek(position); }
  } restore{source, source.Position()};
  unsigned char header[16] = {};
  source.Seek(0);
  if (source.Read(header, 8) != 8)
    return -1;
  const bool little = header[0] == 'I';
  const auto number = [little](const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= std::uint64_t{p[little ? i : bytes - 1 - i]} << (8 * i);
    return v;
  };
  const bool big = number(header + 2, 2) == 43;  // BigTIFF: 8-byte offsets and counts
  std::uint64_t directory = number(header + 4, 4);
  if (big) {
    if (source.Read(header + 8, 8) != 8)
      return -1;
    directory = number(header + 8, 8);
  }
  const int countBytes = big ? 8 : 2;
  const int entryBytes = big ? 20 : 12;
  unsigned char count[8];
  if (!source.Seek(static_cast<qint64>(directory)) ||
      source.Read(count, countBytes) != std::size_t(countBytes))
    return -1;
  const std::uint64_t entries = number(count, countBytes);
  for (std::uint64_t i = 0; i < entries && i < 4096; ++i) {
    unsigned char entry[20];
    if (source.Read(entry, entryBytes) != std::size_t(entryBytes))
      return -1;
    if (number(entry, 2) == TIFFTAG_PHOTOMETRIC)
      return static_cast<int>(number(entry + (big ? 12 : 8), 2));
  }
  return -1;
}

// Everything the library's RGBA conversion handles and the direct paths do not.
TBitmap ReadConverted(TIFF* tif, std::uint32_t width, std::uint32_t height, bool alpha,
                      int photometric) {
  char why[1024] = {};
  if (!TIFFRGBAImageOK(tif, why))
    throw PictureFailure{PictureFault::UnsupportedColours, ColourModelName(photometric), {}, 0};
  std::vector<std::uint32_t> raster(std::size_t{width} * height);
  if (!TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 1))
    Fail(PictureFault::Damaged);
  TBitmap bitmap(static_cast<int>(width), static_cast<int>(height),
                 alpha ? TPixelFormat::pf32bit : TPixelFormat::pf24bit);
  const int bytes = bitmap.BytesPerPixel();
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* out = bitmap.ScanLine(static_cast<int>(y));
    const std::uint32_t* in = raster.data() + std::size_t{y} * width;
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t p = in[x];
      std::uint8_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p);
      const std::uint8_t a = TIFFGetA(p);
      // The library hands over premultiplied colours.
      if (alpha && a != 0 && a != 255) {
        r = static_cast<std::uint8_t>(std::min(255, (r * 255 + a / 2) / a));
        g = static_cast<std::uint8_t>(std::min(255, (g * 255 + a / 2) / a));
        b = static_cast<std::uint8_t>(std::min(255, (b * 255 + a / 2) / a));
      }
      out[x * bytes + 0] = b;
      out[x * bytes + 1] = g;
      out[x * bytes + 2] = r;
      if (alpha)
        out[x * 4 + 3] = a;
    }
  }
  return bitmap;
}

TPalette ColourMap(TIFF* tif, int bits) {
  std::uint16_t* red = nullptr;
  std::uint16_t* green = nullptr;
  std::uint16_t* blue = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 1 || red == nullptr)
    Fail(PictureFault::Damaged);
  const int count = 1 << bits;
  // Some writers store 8-bit values in the 16-bit fields.
  bool eightBit = true;
  for (int i = 0; i < count; ++i)
    eightBit = eightBit && red[i] < 256 && green[i] < 256 && blue[i] < 256;
  const int shift = eightBit ? 0 : 8;
  std::vector<TPaletteEntry> entries(count);
  for (int i = 0; i < count; ++i)
    entries[i] = {static_cast<std::uint8_t>(red[i] >> shift),
                  static_cast<std::uint8_t>(green[i] >> shift),
                  static_cast<std::uint8_t>(blue[i] >> shift), 0};
  return TPalette(std::move(entries));
}

TPalette GreyLevels(int bits, bool inverted) {
  const int count = 1 << bits;
  std::vector<TPaletteEntry> entries(count);
  for (int i = 0; i < count; ++i) {
    const int level = inverted ? count - 1 - i : i;
    const auto v = static_cast<std::uint8_t>(level * 255 / (count - 1));
    entries[i] = {v, v, v, 0};
  }
  return TPalette(std::move(entries));
}

}  // namespace

DecodedPicture ReadTiff(ByteSource& source, const ReadRequest& request) {
  Messages messages;
  Tiff tif = Open("rm", &source, &ReadProc, &NoWrite, &SeekProc, &SizeProc, messages);
  if (!tif) {
    FailIfSourceFailed(source);
    Fail(PictureFault::Damaged);
  }
  const auto width = Field<std::uint32_t>(tif.get(), TIFFTAG_IMAGEWIDTH, 0);
  const auto height = Field<std::uint32_t>(tif.get(), TIFFTAG_IMAGELENGTH, 0);
  CheckDeclaredSize(width, height);
  const auto bits = Field<std::uint16_t>(tif.get(), TIFFTAG_BITSPERSAMPLE, 1);
  const auto samples = Field<std::uint16_t>(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
  const auto sampleFormat =
      Field<std::uint16_t>(tif.get(), TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
  const auto orientation =
      Field<std::uint16_t>(tif.get(), TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  std::uint16_t photometric = 0;
  if (TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric) != 1)
    photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  std::uint16_t extraCount = 0;
  std::uint16_t* extraKinds = nullptr;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
  const bool alpha =
      extraCount > 0 && extraKinds != nullptr &&
      (extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA);
  const bool premultiplied = alpha && extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;

  if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID)
    throw PictureFailure{PictureFault::UnsupportedSamples, {}, {}, 0};
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16)
    throw PictureFailure{PictureFault::UnsupportedSamples, {}, {}, bits};
  if (samples > kMaxSamples)
    throw PictureFailure{PictureFault::UnsupportedColours,
                         QStringLiteral("TIFF, %1 samples per pixel").arg(samples),
                         {},
                         0};
  CheckLayout(tif.get(), width, height);
  if (photometric != PHOTOMETRIC_PALETTE && StoredPhotometric(source) == PHOTOMETRIC_PALETTE)
    Fail(PictureFault::Damaged);

  const bool grey =
      (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
      samples == 1;
  const bool palette = photometric == PHOTOMETRIC_PALETTE && samples == 1 && bits <= 8;
  const bool rgb = photometric == PHOTOMETRIC_RGB && (bits == 8 || bits == 16) && samples >= 3 &&
                   (samples == 3 || alpha);
  const bool converted = !grey && !palette && !rgb;
  const bool withAlpha = converted ? alpha : rgb && alpha;
  const TPixelFormat depth = grey || palette ? TPixelFormat::pf8bit
                             : withAlpha     ? TPixelFormat::pf32bit
                                             : TPixelFormat::pf24bit;
  DecodedPicture decoded;
  const bool sideways = orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
  decoded.size = sideways ? QSize(static_cast<int>(height), static_cast<int>(width))
                          : QSize(static_cast<int>(width), static_cast<int>(height));
  decoded.bitsPerPixel = static_cast<int>(depth);
  if (PreviewTooLarge(request, width, height))
    return decoded;

  TBitmap bitmap;
  if (converted) {
    bitmap = ReadConverted(tif.get(), width, height, withAlpha, photometric);
  } else {
    bitmap = TBitmap(static_cast<int>(width), static_cast<int>(height), depth);
    const bool inverted = photometric == PHOTOMETRIC_MINISWHITE;
    if (palette) {
      bitmap.SetPalette(bits == 8 ? ColourMap(tif.get(), 8) : ColourMap(tif.get(), bits));
    } else if (grey) {
      bitmap.SetPalette(bits < 8 ? GreyLevels(bits, inverted) : TPalette::Grey());
    }
    const int bytes = bitmap.BytesPerPixel();
    const bool separate = Field<std::uint16_t>(tif.get(), TIFFTAG_PLANARCONFIG,
                                               PLANARCONFIG_CONTIG) == PLANARCONFIG_SEPARATE;
    const int planes = separate ? samples : 1;
    // Which channel of the model each sample goes to: red, green, blue, alpha.
    static constexpr int kChannel[] = {2, 1, 0, 3};
    const int kept = grey || palette ? 1 : withAlpha ? 4 : 3;
    for (int plane = 0; plane < planes && plane < kept; ++plane) {
      ForEachRow(tif.get(), plane, width, height, [&](std::uint32_t y, const std::uint8_t* in) {
        std::uint8_t* out = bitmap.ScanLine(static_cast<int>(y));
        const auto* wide = reinterpret_cast<const std::uint16_t*>(in);
        if (grey || palette) {
          if (bits < 8) {
            const int perByte = 8 / bits;
            const unsigned mask = (1u << bits) - 1;
            for (std::uint32_t x = 0; x < width; ++x)
              out[x] = static_cast<std::uint8_t>(
                  (in[x / perByte] >> (8 - bits * (x % perByte + 1))) & mask);
          } else {
            for (std::uint32_t x = 0; x < width; ++x) {
              const std::uint8_t v = bits == 16 ? Reduce16(wide[x]) : in[x];
              out[x] = inverted ? static_cast<std::uint8_t>(255 - v) : v;
            }
          }
          return;
        }
        const int stride = separate ? 1 : samples;
        const int first = separate ? plane : 0;
        const int count = separate ? 1 : kept;
        for (std::uint32_t x = 0; x < width; ++x)
          for (int c = 0; c < count; ++c) {
            const std::size_t at = std::size_t{x} * stride + c;
            out[x * bytes + kChannel[first + c]] = bits == 16 ? Reduce16(wide[at]) : in[at];
          }
      });
    }
    if (premultiplied) {
      for (int y = 0; y < bitmap.Height(); ++y) {
        std::uint8_t* p = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x, p += 4)
          if (p[3] != 0 && p[3] != 255)
            for (int c = 0; c < 3; ++c)
              p[c] = static_cast<std::uint8_t>(std::min(255, (p[c] * 255 + p[3] / 2) / p[3]));
      }
    }
    bitmap = Oriented(std::move(bitmap), orientation);
  }
  FailIfSourceFailed(source);
  if (messages.error)
    Fail(PictureFault::Damaged);
  decoded.bitmap = std::move(bitmap);
  return decoded;
}

// ---- writing --------------------------------------------------------------------------------

namespace {

// libtiff goes back to write the header's directory offset, so the file is made in memory.
struct MemoryFile {
  std::vector<char> bytes;
  std::size_t position = 0;
};

tmsize_t MemoryRead(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  const std::size_t n = std::min(static_cast<std::size_t>(size),
                                 file->bytes.size() - std::min(file->position, file->bytes.size()));
  std::memcpy(buffer, file->bytes.data() + file->position, n);
  file->position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t MemoryWrite(thandle_t handle, void* buffer, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  const std::size_t end = file->position + static_cast<std::size_t>(size);
  if (end > file->bytes.size())
    file->bytes.resize(end);
  std::memcpy(file->bytes.data() + file->position, buffer, static_cast<std::size_t>(size));
  file->position = end;
  return size;
}

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  std::size_t target = static_cast<std::size_t>(offset);
  if (whence == SEEK_CUR)
    target += file->position;
  else if (whence == SEEK_END)
    target += file->bytes.size();
  file->position = target;
  return static_cast<toff_t>(target);
}

toff_t MemorySize(thandle_t handle) {
  return static_cast<toff_t>(static_cast<MemoryFile*>(handle)->bytes.size());
}

}  // namespace

namespace {

class TiffWriter final : public RowWriter {
 public:
  TiffWriter(const TBitmap& bitmap, ByteSink& sink, const SaveSettings& settings) : sink_(sink) {
    tif_ = Open("w", &file_, &MemoryRead, &MemoryWrite, &MemorySeek, &MemorySize, messages_);
    if (!tif_)
      Fail(PictureFault::CannotWrite, messages_.first);
    TIFF* tif = tif_.get();
    const int bytes = bitmap.BytesPerPixel();
    const bool grey = bytes == 1 && IsGreyRamp(bitmap);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(bitmap.Width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(bitmap.Height()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, bytes);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 bytes > 1 ? PHOTOMETRIC_RGB
                 : grey    ? PHOTOMETRIC_MINISBLACK
                           : PHOTOMETRIC_PALETTE);
    if (bytes == 4) {
      const std::uint16_t kinds[] = {EXTRASAMPLE_UNASSALPHA};
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, kinds);
    }
    if (bytes == 1 && !grey) {
      std::vector<std::uint16_t> map(3 * TPalette::MaxEntries);
      for (int i = 0; i < TPalette::MaxEntries; ++i) {
        const TPaletteEntry e = ShownColour(bitmap, i);
        map[i] = static_cast<std::uint16_t>(e.peRed * 257);
        map[TPalette::MaxEntries + i] = static_cast<std::uint16_t>(e.peGreen * 257);
        map[2 * TPalette::MaxEntries + i] = static_cast<std::uint16_t>(e.peBlue * 257);
      }
      TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + TPalette::MaxEntries,
                   map.data() + 2 * TPalette::MaxEntries);
    }
    const int level = settings.compression >= 0 ? settings.compression : kDefaultCompression;
    if (level > 0) {
      TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
      TIFFSetField(tif, TIFFTAG_ZIPQUALITY, level);
      // Differences between neighbours pack photos better; palette indices have no order.
      if (bytes > 1 || grey)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    } else {
      TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    }
    const std::size_t rowBytes = bitmap.RowBytes();
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                 static_cast<std::uint32_t>(std::max<tmsize_t>(1, kStripBytes / rowBytes)));
    row_.resize(rowBytes);
  }

  void Rows(const TBitmap& bitmap, int first, int last) override {
    const int bytes = bitmap.BytesPerPixel();
    for (int y = first; y < last; ++y) {
      // The library changes the row it is given (the predictor works in place).
      if (bytes == 1)
        std::memcpy(row_.data(), bitmap.ScanLine(y), row_.size());
      else
        SwapRedAndBlue(bitmap.ScanLine(y), row_.data(), bitmap.Width(), bytes);
      if (TIFFWriteScanline(tif_.get(), row_.data(), static_cast<std::uint32_t>(y), 0) != 1)
        Fail(PictureFault::CannotWrite, messages_.first);
    }
  }

  void End(const TBitmap&) override {
    const bool directory = TIFFWriteDirectory(tif_.get()) == 1;
    tif_.reset();
    if (!directory || messages_.error)
      Fail(PictureFault::CannotWrite, messages_.first);
    sink_.Write(file_.bytes.data(), file_.bytes.size());
    FailIfSinkFailed(sink_);
  }

 private:
  MemoryFile file_;
  Messages messages_;
  Tiff tif_;
  ByteSink& sink_;
  std::vector<std::uint8_t> row_;
};

}  // namespace

std::unique_ptr<RowWriter> StartTiff(const TBitmap& bitmap, int, ByteSink& sink,
                                     const SaveSettings& settings) {
  return std::make_unique<TiffWriter>(bitmap, sink, settings);
}
