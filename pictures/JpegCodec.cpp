// SPDX-License-Identifier: GPL-3.0-or-later
// JPEG through libjpeg-turbo's own interface: decoded straight into the bitmap's rows, reduced in
// the DCT for previews, and every warning the library gives about the entropy-coded data taken as
// damage, where it would otherwise fill the rest of the picture with grey.

#include <cstdio>  // jpeglib.h needs FILE
// clang-format off
#include <jpeglib.h>
#include <jerror.h>  // after jpeglib.h, whose configuration decides its messages
// clang-format on

#include <csetjmp>
#include <cstring>
#include <vector>

#include "PictureFile.h"
#include "PictureIo.h"

namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;
// What libjpeg may allocate beside the picture: enough for the coefficients of the largest
// progressive picture allowed.
constexpr long kMemoryLimit = 2L * 1024 * 1024 * 1024;

// Each scan of a progressive picture is one more pass over all its coefficients: a small file of
// hundreds of scans keeps the processor busy for a minute. Real encoders write about ten; beyond
// this bound (libjpeg-turbo's advice, the one libtiff applies) the picture is refused.
constexpr int kMaxScans = 100;

// longjmp leaves the library's frames; the frames it crosses of ours hold nothing to destroy.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int code = 0;
};

// Not a code of the library's messages.
constexpr int kTooManyScans = -1;

// Warnings that say the pixels are not all there or not right. Others (a bad colour profile,
// an unknown JFIF revision, stray bytes between segments) leave the pixels as decoded.
bool IsDamage(int code) {
  switch (code) {
    case JWRN_HIT_MARKER:
    case JWRN_JPEG_EOF:
    case JWRN_HUFF_BAD_CODE:
#if defined(D_ARITH_CODING_SUPPORTED) || JPEG_LIB_VERSION >= 70
    case JWRN_ARITH_BAD_CODE:
#endif
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
      return true;
    default:
      return false;
  }
}

void ErrorExit(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  errors->code = cinfo->err->msg_code;
  std::longjmp(errors->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && IsDamage(cinfo->err->msg_code))
    ErrorExit(cinfo);
}

// Nothing goes to the terminal.
void OutputMessage(j_common_ptr) {}

// Called by the library as it reads the scans.
void WatchScans(j_common_ptr cinfo) {
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxScans)
    return;
  auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  errors->code = kTooManyScans;
  std::longjmp(errors->jump, 1);
}

void InstallErrors(ErrorManager& errors) {
  jpeg_std_error(&errors.pub);
  errors.pub.error_exit = &ErrorExit;
  errors.pub.emit_message = &EmitMessage;
  errors.pub.output_message = &OutputMessage;
}

struct SourceManager {
  jpeg_source_mgr pub;
  ByteSource* bytes;
  JOCTET buffer[kBufferBytes];
};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  auto* source = reinterpret_cast<SourceManager*>(cinfo->src);
  std::size_t got = source->bytes->Read(source->buffer, kBufferBytes);
  if (got == 0) {
    // The library's own convention: warn, then end the data with an end marker.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    source->buffer[0] = 0xff;
    source->buffer[1] = JPEG_EOI;
    got = 2;
  }
  source->pub.next_input_byte = source->buffer;
  source->pub.bytes_in_buffer = got;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  auto* source = reinterpret_cast<SourceManager*>(cinfo->src);
  while (count > static_cast<long>(source->pub.bytes_in_buffer)) {
    count -= static_cast<long>(source->pub.bytes_in_buffer);
    FillInput(cinfo);
  }
  if (count > 0) {
    source->pub.next_input_byte += count;
    source->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
  }
}

struct SinkManager {
  jpeg_destination_mgr pub;
  ByteSink* bytes;
  JOCTET buffer[kBufferBytes];
};

void InitDestination(j_compress_ptr cinfo) {
  auto* sink = reinterpret_cast<SinkManager*>(cinfo->dest);
  sink->pub.next_output_byte = sink->buffer;
  sink->pub.free_in_buffer = kBufferBytes;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  auto* sink = reinterpret_cast<SinkManager*>(cinfo->dest);
  if (!sink->bytes->Write(sink->buffer, kBufferBytes))
    ERREXIT(cinfo, JERR_FILE_WRITE);
  sink->pub.next_output_byte = sink->buffer;
  sink->pub.free_in_buffer = kBufferBytes;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* sink = reinterpret_cast<SinkManager*>(cinfo->dest);
  if (!sink->bytes->Write(sink->buffer, kBufferBytes - sink->pub.free_in_buffer))
    ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Runs one call into the library; false when it failed (errors.code says why).
template <class Call>
bool Guarded(ErrorManager& errors, Call&& call) {
  if (setjmp(errors.jump) != 0)
    return false;
  call();
  return true;
}

// A libjpeg object with its error and data managers, destroyed with the library's own call.
template <class Struct, class DataManager, void (*Destroy)(Struct*)>
struct Codec {
  Struct cinfo{};
  ErrorManager errors;
  DataManager data{};
  bool created = false;
  ~Codec() {
    if (created)
      Destroy(&cinfo);
  }
};
using Decompressor = Codec<jpeg_decompress_struct, SourceManager, &jpeg_destroy_decompress>;
using Compressor = Codec<jpeg_compress_struct, SinkManager, &jpeg_destroy_compress>;

[[noreturn]] void FailDecoding(const ByteSource& source, int code) {
  FailIfSourceFailed(source);
  if (code == kTooManyScans)
    throw PictureFailure{PictureFault::TooManyScans, {}, {}, kMaxScans};
  if (code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE)
    Fail(PictureFault::OutOfMemory);
  Fail(PictureFault::Damaged);
}

// ---- EXIF orientation -----------------------------------------------------------------------

// The orientation tag (1 ... 8) of an EXIF block, 1 when it has none or cannot be read.
int ExifOrientation(const JOCTET* data, unsigned length) {
  if (length < 14 || std::memcmp(data, "Exif\0\0", 6) != 0)
    return 1;
  const JOCTET* tiff = data + 6;
  const unsigned size = length - 6;
  const bool little = tiff[0] == 'I' && tiff[1] == 'I';
  if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
    return 1;
  auto u16 = [&](unsigned at) -> unsigned {
    return little ? tiff[at] | (tiff[at + 1] << 8) : (tiff[at] << 8) | tiff[at + 1];
  };
  auto u32 = [&](unsigned at) -> unsigned {
    return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
  };
  const unsigned ifd = u32(4);
  if (ifd > size - 2 || size < 8)
    return 1;
  const unsigned entries = u16(ifd);
  for (unsigned i = 0; i < entries; ++i) {
    const unsigned at = ifd + 2 + 12 * i;
    if (at + 12 > size)
      return 1;
    if (u16(at) == 0x0112 && u16(at + 2) == 3 /* SHORT */) {
      const unsigned value = u16(at + 8);
      return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
  }
  return 1;
}

int OrientationOf(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr marker = cinfo.marker_list; marker != nullptr; marker = marker->next)
    if (marker->marker == JPEG_APP0 + 1)
      if (const int orientation = ExifOrientation(marker->data, marker->data_length);
          orientation != 1)
        return orientation;
  return 1;
}

// CMYK as Adobe's programs store it (inverted) or plain, to blue, green, red.
void CmykToBgr(const JOCTET* in, std::uint8_t* out, int width, bool inverted) {
  for (int x = 0; x < width; ++x) {
    int c = in[4 * x], m = in[4 * x + 1], y = in[4 * x + 2], k = in[4 * x + 3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[3 * x + 0] = static_cast<std::uint8_t>(y * k / 255);
    out[3 * x + 1] = static_cast<std::uint8_t>(m * k / 255);
    out[3 * x + 2] = static_cast<std::uint8_t>(c * k / 255);
  }
}

}  // namespace

DecodedPicture ReadJpeg(ByteSource& source, const ReadRequest& request) {
  Decompressor d;
  jpeg_decompress_struct& cinfo = d.cinfo;
  InstallErrors(d.errors);
  cinfo.err = &d.errors.pub;
  jpeg_create_decompress(&cinfo);
  d.created = true;
  cinfo.mem->max_memory_to_use = kMemoryLimit;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = &WatchScans;
  cinfo.progress = &progress;
  d.data.bytes = &source;
  d.data.pub.init_source = &InitSource;
  d.data.pub.fill_input_buffer = &FillInput;
  d.data.pub.skip_input_data = &SkipInput;
  d.data.pub.resync_to_restart = &jpeg_resync_to_restart;
  d.data.pub.term_source = &TermSource;
  cinfo.src = &d.data.pub;

  if (!Guarded(d.errors, [&] {
        jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xffff);
        jpeg_read_header(&cinfo, TRUE);
      }))
    FailDecoding(source, d.errors.code);
  CheckDeclaredSize(cinfo.image_width, cinfo.image_height);

  TPixelFormat depth = TPixelFormat::pf24bit;
  bool cmyk = false;
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo.out_color_space = JCS_GRAYSCALE;
      depth = TPixelFormat::pf8bit;
      break;
    case JCS_YCbCr:
    case JCS_RGB:
      cinfo.out_color_space = JCS_EXT_BGR;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo.out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default:
      throw PictureFailure{PictureFault::UnsupportedColours,
                           QStringLiteral("JPEG, %1 components").arg(cinfo.num_components),
                           {},
                           0};
  }
  const int orientation = OrientationOf(cinfo);
  const bool sideways = orientation >= 5;
  DecodedPicture decoded;
  decoded.size =
      sideways ? QSize(static_cast<int>(cinfo.image_height), static_cast<int>(cinfo.image_width))
               : QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height));
  decoded.bitsPerPixel = static_cast<int>(depth);

  if (request.box.isValid()) {
    // The largest reduction the DCT offers that still covers the box.
    const QSize fit = decoded.size.scaled(request.box, Qt::KeepAspectRatio);
    unsigned denominator = 1;
    while (denominator < 8 && decoded.size.width() / (denominator * 2) >= unsigned(fit.width()) &&
           decoded.size.height() / (denominator * 2) >= unsigned(fit.height()))
      denominator *= 2;
    cinfo.scale_num = 1;
    cinfo.scale_denom = denominator;
  }

  if (!Guarded(d.errors, [&] { jpeg_start_decompress(&cinfo); }))
    FailDecoding(source, d.errors.code);
  // A turned picture is made anew once it is all in.
  PictureRows* const rows = orientation == 1 ? request.rows : nullptr;
  TBitmap decodedRows;
  TBitmap& bitmap = rows != nullptr ? rows->Picture() : decodedRows;
  bitmap =
      TBitmap(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), depth);
  if (depth == TPixelFormat::pf8bit)
    bitmap.SetPalette(TPalette::Grey());
  std::vector<JOCTET> cmykRow(cmyk ? std::size_t{cinfo.output_width} * 4 : 0);
  const bool inverted = cinfo.saw_Adobe_marker;
  if (rows != nullptr)
    rows->Begin();
  const bool read = Guarded(d.errors, [&] {
    while (cinfo.output_scanline < cinfo.output_height) {
      const int y = static_cast<int>(cinfo.output_scanline);
      JSAMPROW row = cmyk ? cmykRow.data() : bitmap.ScanLine(y);
      jpeg_read_scanlines(&cinfo, &row, 1);
      if (cmyk)
        CmykToBgr(cmykRow.data(), bitmap.ScanLine(y), bitmap.Width(), inverted);
      RowsDone(rows, y + 1, bitmap.Height());
    }
    jpeg_finish_decompress(&cinfo);
  });
  if (!read)
    FailDecoding(source, d.errors.code);
  if (rows == nullptr)
    decoded.bitmap = Oriented(std::move(decodedRows), orientation);
  return decoded;
}

namespace {

class JpegWriter final : public RowWriter {
 public:
  JpegWriter(const TBitmap& bitmap, ByteSink& sink, const SaveSettings& settings) : sink_(sink) {
    jpeg_compress_struct& cinfo = c_.cinfo;
    InstallErrors(c_.errors);
    cinfo.err = &c_.errors.pub;
    jpeg_create_compress(&cinfo);
    c_.created = true;
    c_.data.bytes = &sink;
    c_.data.pub.init_destination = &InitDestination;
    c_.data.pub.empty_output_buffer = &EmptyOutput;
    c_.data.pub.term_destination = &TermDestination;
    cinfo.dest = &c_.data.pub;

    const int bytes = bitmap.BytesPerPixel();
    const bool grey = bytes == 1 && IsGreyRamp(bitmap);
    cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
    cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
    cinfo.input_components = grey ? 1 : bytes == 4 ? 4 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : bytes == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    // Palette pictures are written in the colours they show.
    if (bytes == 1 && !grey) {
      expanded_.resize(std::size_t(bitmap.Width()) * 3);
      for (int i = 0; i < TPalette::MaxEntries; ++i)
        shown_[i] = ShownColour(bitmap, i);
    }
    Run([&] {
      jpeg_set_defaults(&cinfo);
      jpeg_set_quality(&cinfo, settings.jpegQuality, TRUE);
      jpeg_start_compress(&cinfo, TRUE);
    });
  }

  void Rows(const TBitmap& bitmap, int first, int last) override {
    Run([&] {
      for (int y = first; y < last; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(bitmap.ScanLine(y));
        if (!expanded_.empty()) {
          for (int x = 0; x < bitmap.Width(); ++x) {
            const TPaletteEntry& e = shown_[row[x]];
            expanded_[3 * x] = e.peBlue;
            expanded_[3 * x + 1] = e.peGreen;
            expanded_[3 * x + 2] = e.peRed;
          }
          row = expanded_.data();
        }
        jpeg_write_scanlines(&c_.cinfo, &row, 1);
      }
    });
  }

  void End(const TBitmap&) override {
    Run([&] { jpeg_finish_compress(&c_.cinfo); });
  }

 private:
  template <class Call>
  void Run(Call&& call) {
    if (Guarded(c_.errors, call))
      return;
    FailIfSinkFailed(sink_);
    Fail(c_.errors.code == JERR_OUT_OF_MEMORY ? PictureFault::OutOfMemory
                                              : PictureFault::CannotWrite);
  }

  Compressor c_;
  ByteSink& sink_;
  std::vector<JOCTET> expanded_;
  TPaletteEntry shown_[TPalette::MaxEntries];
};

}  // namespace

std::unique_ptr<RowWriter> StartJpeg(const TBitmap& bitmap, int, ByteSink& sink,
                                     const SaveSettings& settings) {
  return std::make_unique<JpegWriter>(bitmap, sink, settings);
}
