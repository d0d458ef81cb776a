// SPDX-License-Identifier: GPL-3.0-or-later
// PNG through libspng, which checks every CRC and the compressed stream itself and reads up to the
// end marker, so that a damaged or cut file fails in the library.

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "PictureFile.h"
#include "PictureIo.h"

namespace {

// Ancillary chunks (text, profiles) are kept in memory by the library: bounded, as pixels are.
constexpr std::size_t kChunkLimit = 16 * 1024 * 1024;
constexpr std::size_t kChunkCacheLimit = 64 * 1024 * 1024;

// Levels up to this one compress runs only (zlib's run-length strategy) after one filter chosen
// for the whole picture; above it, full deflate with a filter chosen row by row. Measured on a
// 24-megapixel photo's grey, black-and-white and edge images: runs only packs each of them no
// bigger than full deflate with no filter at level 6, in a fifth to a third of its time, because
// filtered photographs hold few repeated strings worth searching for.
constexpr int kFastestThorough = 4;
constexpr int kDefaultCompression = 2;

struct ContextDeleter {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

int ReadBytes(spng_ctx*, void* user, void* target, std::size_t length) {
  auto* source = static_cast<ByteSource*>(user);
  if (source->Read(target, length) == length)
    return 0;
  return source->SystemError() != 0 ? SPNG_IO_ERROR : SPNG_IO_EOF;
}

int WriteBytes(spng_ctx*, void* user, void* data, std::size_t length) {
  return static_cast<ByteSink*>(user)->Write(data, length) ? 0 : SPNG_IO_ERROR;
}

[[noreturn]] void FailRead(const ByteSource& source, int error) {
  FailIfSourceFailed(source);
  if (error == SPNG_EMEM)
    Fail(PictureFault::OutOfMemory);
  Fail(PictureFault::Damaged);
}

// 16-bit samples to 8 bits, rounded as the toolkit reduces them.
std::uint8_t Reduce16(std::uint16_t v) {
  return static_cast<std::uint8_t>((v * 255u + 32895u) >> 16);
}

// How a PNG arrives in the image model.
struct Layout {
  int fmt;    // what the library decodes into
  int flags;  // its decoding flags
  TPixelFormat depth;
  int unpackBits;  // indexed or grey below 8 bits: bits per packed sample, else 0
  bool sixteen;    // 16-bit samples to reduce
  int channels;    // samples per pixel in the decoded row
};

Layout LayoutOf(const spng_ihdr& ihdr, bool transparency) {
  const bool sixteen = ihdr.bit_depth == 16;
  switch (ihdr.color_type) {
    case SPNG_COLOR_TYPE_INDEXED:
      return {SPNG_FMT_PNG, 0, TPixelFormat::pf8bit, ihdr.bit_depth < 8 ? ihdr.bit_depth : 0,
              false,        1};
    case SPNG_COLOR_TYPE_GRAYSCALE:
      if (!transparency)
        return {SPNG_FMT_PNG, 0, TPixelFormat::pf8bit, ihdr.bit_depth < 8 ? ihdr.bit_depth : 0,
                sixteen,      1};
      break;
    case SPNG_COLOR_TYPE_TRUECOLOR:
      if (!transparency)
        return {sixteen ? SPNG_FMT_PNG : SPNG_FMT_RGB8, 0, TPixelFormat::pf24bit, 0, sixteen, 3};
      break;
    default:
      break;
  }
  // Alpha, or colours made transparent by a tRNS chunk.
  return {sixteen ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8,
          SPNG_DECODE_TRNS,
          TPixelFormat::pf32bit,
          0,
          sixteen,
          4};
}

// Puts the pixels first, first + step, ... of one decoded row into the bitmap's row (the early
// passes of an interlaced picture fill only some): unpacks, reduces and turns RGB into BGR.
void StoreRow(const Layout& layout, const std::uint8_t* in, std::uint8_t* out, int width,
              int first = 0, int step = 1) {
  if (layout.unpackBits != 0) {
    const int bits = layout.unpackBits;
    const int perByte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (int x = first; x < width; x += step) {
      const int shift = 8 - bits * (x % perByte + 1);
      out[x] = static_cast<std::uint8_t>((in[x / perByte] >> shift) & mask);
    }
    return;
  }
  if (layout.sixteen) {
    const auto* wide = reinterpret_cast<const std::uint16_t*>(in);
    for (int x = first; x < width; x += step) {
      const std::uint16_t* p = wide + x * layout.channels;
      if (layout.channels == 1) {
        out[x] = Reduce16(p[0]);
      } else {
        out[x * layout.channels + 0] = Reduce16(p[2]);
        out[x * layout.channels + 1] = Reduce16(p[1]);
        out[x * layout.channels + 2] = Reduce16(p[0]);
        if (layout.channels == 4)
          out[x * 4 + 3] = Reduce16(p[3]);
      }
    }
    return;
  }
  if (step == 1) {
    if (layout.channels == 1)
      std::memcpy(out, in, static_cast<std::size_t>(width));
    else
      SwapRedAndBlue(in, out, width, layout.channels);
    return;
  }
  const int bytes = layout.channels;
  for (int x = first; x < width; x += step)
    SwapRedAndBlue(in + x * bytes, out + x * bytes, 1, bytes);
}

TPalette PaletteOf(spng_ctx* ctx, const spng_ihdr& ihdr, const Layout& layout) {
  if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
    spng_plte plte{};
    if (spng_get_plte(ctx, &plte) != 0)
      Fail(PictureFault::Damaged);
    std::vector<TPaletteEntry> entries(plte.n_entries);
    for (std::uint32_t i = 0; i < plte.n_entries; ++i)
      entries[i] = {plte.entries[i].red, plte.entries[i].green, plte.entries[i].blue, 0};
    return TPalette(std::move(entries));
  }
  if (layout.unpackBits == 0)
    return TPalette::Grey();
  // Grey below 8 bits keeps its own levels as indices into the greys they stand for.
  const int levels = 1 << layout.unpackBits;
  std::vector<TPaletteEntry> entries(levels);
  for (int i = 0; i < levels; ++i) {
    const auto v = static_cast<std::uint8_t>(i * 255 / (levels - 1));
    entries[i] = {v, v, v, 0};
  }
  return TPalette(std::move(entries));
}

// Chooses the one filter for a picture by measurement: a sample of its rows, filtered each way and
// compressed as the whole picture will be, and the smallest wins. A cheap yardstick (the sum of
// the filtered bytes) misjudges pictures of runs, such as black-and-white ones.
// Rows from `ready` on may not hold their pixels yet (a picture still being read): they are left
// out.
int ChooseFilter(const TBitmap& bitmap, int ready) {
  const int bytes = bitmap.BytesPerPixel();
  const std::size_t width = bitmap.RowBytes();
  const int step = std::max(1, ready / 64);
  std::vector<std::uint8_t> filtered[3];
  for (int y = 0; y < ready; y += step) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    const std::uint8_t* above = y > 0 ? bitmap.ScanLine(y - 1) : nullptr;
    for (std::size_t x = 0; x < width; ++x) {
      filtered[0].push_back(row[x]);
      filtered[1].push_back(
          static_cast<std::uint8_t>(row[x] - (x >= std::size_t(bytes) ? row[x - bytes] : 0)));
      filtered[2].push_back(static_cast<std::uint8_t>(row[x] - (above != nullptr ? above[x] : 0)));
    }
  }
  static constexpr int kChoices[] = {SPNG_FILTER_CHOICE_NONE, SPNG_FILTER_CHOICE_SUB,
                                     SPNG_FILTER_CHOICE_UP};
  int best = kChoices[0];
  uLong smallest = ~uLong{0};
  std::vector<Bytef> packed(compressBound(static_cast<uLong>(filtered[0].size())));
  for (int i = 0; i < 3; ++i) {
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK)
      return SPNG_FILTER_CHOICE_UP;
    stream.next_in = filtered[i].data();
    stream.avail_in = static_cast<uInt>(filtered[i].size());
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    deflate(&stream, Z_FINISH);
    if (stream.total_out < smallest) {
      smallest = stream.total_out;
      best = kChoices[i];
    }
    deflateEnd(&stream);
  }
  return best;
}

int BitsPerPixelOf(const Layout& layout) {
  return static_cast<int>(layout.depth);
}

}  // namespace

DecodedPicture ReadPng(ByteSource& source, const ReadRequest& request) {
  // The compressed stream's own checksum is left out: every byte of it is in chunks whose CRC is
  // checked, and the checksum costs a twentieth of the reading.
  Context ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
  if (!ctx)
    Fail(PictureFault::OutOfMemory);
  spng_set_image_limits(ctx.get(), kMaxPictureSide, kMaxPictureSide);
  spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkCacheLimit);
  spng_set_png_stream(ctx.get(), &ReadBytes, &source);

  spng_ihdr ihdr{};
  if (const int error = spng_get_ihdr(ctx.get(), &ihdr); error != 0) {
    if (error == SPNG_EUSER_WIDTH || error == SPNG_EUSER_HEIGHT) {
      // The header has been read: its size is in bytes 16 to 23.
      unsigned char header[24];
      source.Seek(0);
      if (source.Read(header, sizeof header) == sizeof header)
        FailTooLarge(
            (qint64{header[16]} << 24) | (header[17] << 16) | (header[18] << 8) | header[19],
            (qint64{header[20]} << 24) | (header[21] << 16) | (header[22] << 8) | header[23]);
    }
    FailRead(source, error);
  }
  CheckDeclaredSize(ihdr.width, ihdr.height);
  spng_trns trns{};
  const bool transparency =
      ihdr.color_type != SPNG_COLOR_TYPE_INDEXED && spng_get_trns(ctx.get(), &trns) == 0;
  const Layout layout = LayoutOf(ihdr, transparency);

  DecodedPicture decoded;
  decoded.size = QSize(static_cast<int>(ihdr.width), static_cast<int>(ihdr.height));
  decoded.bitsPerPixel = BitsPerPixelOf(layout);
  if (PreviewTooLarge(request, ihdr.width, ihdr.height))
    return decoded;

  std::size_t imageBytes = 0;
  if (spng_decoded_image_size(ctx.get(), layout.fmt, &imageBytes) != 0)
    Fail(PictureFault::Damaged);
  const std::size_t rowBytes = imageBytes / ihdr.height;
  const int width = static_cast<int>(ihdr.width);
  // Rows of an interlaced picture are complete only with its last pass.
  PictureRows* const rows = ihdr.interlace_method == SPNG_INTERLACE_NONE ? request.rows : nullptr;
  TBitmap& bitmap = rows != nullptr ? rows->Picture() : decoded.bitmap;
  bitmap = TBitmap(width, static_cast<int>(ihdr.height), layout.depth);
  if (layout.depth == TPixelFormat::pf8bit)
    bitmap.SetPalette(PaletteOf(ctx.get(), ihdr, layout));

  // Indices beyond a short palette name no colour: the file is damaged.
  int paletteSize = 256;
  if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED)
    paletteSize = bitmap.Palette()->Count();
  // A row the library decodes that is already in the model's layout goes straight into place.
  // Interlaced pictures come pass by pass, a row at a time, each pass filling its own columns of
  // rows (Adam7), so that a file holding nothing costs no more than a plain one.
  const bool direct = layout.unpackBits == 0 && !layout.sixteen && layout.channels == 1;
  const bool interlaced = ihdr.interlace_method != SPNG_INTERLACE_NONE;
  static constexpr int kPassFirst[] = {0, 4, 0, 2, 0, 1, 0};
  static constexpr int kPassStep[] = {8, 8, 4, 4, 2, 2, 1};
  std::vector<std::uint8_t> row(direct ? 0 : rowBytes);
  if (const int error = spng_decode_image(ctx.get(), nullptr, 0, layout.fmt,
                                          layout.flags | SPNG_DECODE_PROGRESSIVE);
      error != 0)
    FailRead(source, error);
  if (rows != nullptr)
    rows->Begin();
  int error = 0;
  do {
    spng_row_info info{};
    if ((error = spng_get_row_info(ctx.get(), &info)) != 0)
      break;
    const int y = static_cast<int>(info.row_num);
    const int pass = interlaced ? std::clamp(info.pass, 0, 6) : 6;
    std::uint8_t* target = bitmap.ScanLine(y);
    // The library ORs packed samples of a pass into the row it is given.
    if (!direct && layout.unpackBits != 0 && pass < 6)
      std::fill(row.begin(), row.end(), 0);
    error = spng_decode_row(ctx.get(), direct ? target : row.data(), rowBytes);
    if (error == 0 || error == SPNG_EOI) {
      if (!direct)
        StoreRow(layout, row.data(), target, width, kPassFirst[pass], kPassStep[pass]);
      if (paletteSize < 256 && *std::max_element(target, target + width) >= paletteSize)
        Fail(PictureFault::Damaged);
      RowsDone(rows, y + 1, bitmap.Height());
    }
  } while (error == 0);
  if (error != SPNG_EOI)
    FailRead(source, error);
  // Up to the end marker, with every chunk's CRC: a file cut after its pixels is cut all the same.
  if (const int error = spng_decode_chunks(ctx.get()); error != 0)
    FailRead(source, error);
  return decoded;
}

namespace {

class PngWriter final : public RowWriter {
 public:
  PngWriter(const TBitmap& bitmap, int ready, ByteSink& sink, const SaveSettings& settings)
      : ctx_(spng_ctx_new(SPNG_CTX_ENCODER)), sink_(sink) {
    if (!ctx_)
      Fail(PictureFault::OutOfMemory);
    spng_set_png_stream(ctx_.get(), &WriteBytes, &sink);
    const int bytes = bitmap.BytesPerPixel();
    const bool grey = bytes == 1 && IsGreyRamp(bitmap);
    spng_ihdr ihdr{};
    ihdr.width = static_cast<std::uint32_t>(bitmap.Width());
    ihdr.height = static_cast<std::uint32_t>(bitmap.Height());
    ihdr.bit_depth = 8;
    ihdr.color_type = bytes == 4   ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                      : bytes == 3 ? SPNG_COLOR_TYPE_TRUECOLOR
                      : grey       ? SPNG_COLOR_TYPE_GRAYSCALE
                                   : SPNG_COLOR_TYPE_INDEXED;
    spng_set_ihdr(ctx_.get(), &ihdr);
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
      // Padded to 256 entries, so that every index a picture may hold names a colour.
      spng_plte plte{};
      plte.n_entries = TPalette::MaxEntries;
      for (int i = 0; i < TPalette::MaxEntries; ++i) {
        const TPaletteEntry e = ShownColour(bitmap, i);
        plte.entries[i] = {e.peRed, e.peGreen, e.peBlue, 0};
      }
      spng_set_plte(ctx_.get(), &plte);
    }
    const int level = settings.compression >= 0 ? settings.compression : kDefaultCompression;
    spng_set_option(ctx_.get(), SPNG_IMG_COMPRESSION_LEVEL, level);
    if (level == 0) {
      spng_set_option(ctx_.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_NONE);
    } else if (level < kFastestThorough) {
      spng_set_option(ctx_.get(), SPNG_IMG_COMPRESSION_STRATEGY, Z_RLE);
      spng_set_option(ctx_.get(), SPNG_FILTER_CHOICE, ChooseFilter(bitmap, ready));
    } else {
      spng_set_option(ctx_.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_ALL);
    }
    Check(spng_encode_image(ctx_.get(), nullptr, 0, SPNG_FMT_PNG,
                            SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE));
    row_.resize(bytes == 1 ? 0 : bitmap.RowBytes());
  }

  void Rows(const TBitmap& bitmap, int first, int last) override {
    const std::size_t rowBytes = bitmap.RowBytes();
    for (int y = first; y < last; ++y) {
      const std::uint8_t* in = bitmap.ScanLine(y);
      if (!row_.empty()) {
        SwapRedAndBlue(in, row_.data(), bitmap.Width(), bitmap.BytesPerPixel());
        in = row_.data();
      }
      last_ = spng_encode_row(ctx_.get(), in, rowBytes);
      if (last_ != 0 && last_ != SPNG_EOI)
        Check(last_);
    }
  }

  void End(const TBitmap&) override {
    // The library finishes the file with the last row.
    if (last_ != SPNG_EOI)
      Check(last_ != 0 ? last_ : SPNG_EINTERNAL);
  }

 private:
  void Check(int error) {
    if (error == 0)
      return;
    FailIfSinkFailed(sink_);
    Fail(error == SPNG_EMEM ? PictureFault::OutOfMemory : PictureFault::CannotWrite,
         QString::fromUtf8(spng_strerror(error)));
  }

  Context ctx_;
  ByteSink& sink_;
  std::vector<std::uint8_t> row_;
  int last_ = 0;
};

}  // namespace

std::unique_ptr<RowWriter> StartPng(const TBitmap& bitmap, int ready, ByteSink& sink,
                                    const SaveSettings& settings) {
  return std::make_unique<PngWriter>(bitmap, ready, sink, settings);
}
