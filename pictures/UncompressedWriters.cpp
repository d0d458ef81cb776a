// SPDX-License-Identifier: GPL-3.0-or-later
// BMP and PNM written here: both are a header and the rows as they are, and writing them
// ourselves keeps 8-bit pictures 8-bit (the toolkit writes small palettes as 4-bit BMPs) and
// 32-bit ones with their alpha.

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Grayscale.h"
#include "PictureIo.h"

namespace {

void PutLe16(std::vector<char>& out, quint32 v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>((v >> 8) & 0xff));
}

void PutLe32(std::vector<char>& out, quint32 v) {
  PutLe16(out, v & 0xffff);
  PutLe16(out, v >> 16);
}

void Put(ByteSink& sink, const void* data, std::size_t n) {
  sink.Write(data, n);
}

// 8-bit: 256-entry palette; 24-bit: plain; 32-bit: a version 4 header whose bit fields name the
// alpha byte. Rows are stored bottom row first, so everything is written once the last has come.
void WriteBmp(const TBitmap& bitmap, ByteSink& sink) {
  const int bits = static_cast<int>(bitmap.PixelFormat());
  const quint32 infoSize = bits == 32 ? 108 : 40;
  const quint32 paletteBytes = bits == 8 ? 256 * 4 : 0;
  const quint64 rowBytes = (quint64{static_cast<quint32>(bitmap.Width())} * bits + 31) / 32 * 4;
  const quint64 offBits = 14 + infoSize + paletteBytes;
  const quint64 total = offBits + rowBytes * static_cast<quint32>(bitmap.Height());
  if (total > 0xffffffffu)
    Fail(PictureFault::CannotWrite, QStringLiteral("BMP > 4 GB"));

  std::vector<char> head;
  head.push_back('B');
  head.push_back('M');
  PutLe32(head, static_cast<quint32>(total));
  PutLe32(head, 0);
  PutLe32(head, static_cast<quint32>(offBits));
  PutLe32(head, infoSize);
  PutLe32(head, static_cast<quint32>(bitmap.Width()));
  PutLe32(head, static_cast<quint32>(bitmap.Height()));  // positive: bottom row first
  PutLe16(head, 1);
  PutLe16(head, bits);
  PutLe32(head, bits == 32 ? 3 : 0);  // bit fields or uncompressed
  PutLe32(head, static_cast<quint32>(rowBytes * bitmap.Height()));
  PutLe32(head, 2835);  // 72 dots per inch
  PutLe32(head, 2835);
  PutLe32(head, bits == 8 ? 256 : 0);
  PutLe32(head, 0);
  if (bits == 32) {
    PutLe32(head, 0x00ff0000);
    PutLe32(head, 0x0000ff00);
    PutLe32(head, 0x000000ff);
    PutLe32(head, 0xff000000);
    PutLe32(head, 0x73524742);               // sRGB
    head.insert(head.end(), 36 + 12, '\0');  // end points and gamma, unused with sRGB
  }
  if (bits == 8) {
    for (int i = 0; i < TPalette::MaxEntries; ++i) {
      const TPaletteEntry e = ShownColour(bitmap, i);
      head.push_back(static_cast<char>(e.peBlue));
      head.push_back(static_cast<char>(e.peGreen));
      head.push_back(static_cast<char>(e.peRed));
      head.push_back('\0');
    }
  }
  Put(sink, head.data(), head.size());
  std::vector<char> row(rowBytes, '\0');
  for (int y = bitmap.Height() - 1; y >= 0 && !sink.Failed(); --y) {
    std::memcpy(row.data(), bitmap.ScanLine(y), bitmap.RowBytes());
    Put(sink, row.data(), rowBytes);
  }
  FailIfSinkFailed(sink);
}

class BmpWriter final : public RowWriter {
 public:
  explicit BmpWriter(ByteSink& sink) : sink_(sink) {}
  void Rows(const TBitmap&, int, int) override {}
  void End(const TBitmap& bitmap) override { WriteBmp(bitmap, sink_); }

 private:
  ByteSink& sink_;
};

// Binary PGM or PPM. An 8-bit picture is written in the colours it shows; PGM takes the grey
// level of each colour as the grey command does, so that a grey picture stays as it is.
class PnmWriter final : public RowWriter {
 public:
  PnmWriter(const TBitmap& bitmap, ByteSink& sink, bool grey)
      : sink_(sink),
        grey_(grey),
        // A grey picture's bytes are its grey levels already.
        asIs_(grey && bitmap.BytesPerPixel() == 1 && IsGreyRamp(bitmap)) {
    const std::string head = std::string(grey ? "P5\n" : "P6\n") + std::to_string(bitmap.Width()) +
                             " " + std::to_string(bitmap.Height()) + "\n255\n";
    Put(sink, head.data(), head.size());
    for (int i = 0; i < TPalette::MaxEntries; ++i)
      shown_[i] = ShownColour(bitmap, i);
    row_.resize(static_cast<std::size_t>(bitmap.Width()) * (grey ? 1 : 3));
  }

  void Rows(const TBitmap& bitmap, int first, int last) override {
    for (int y = first; y < last && !sink_.Failed(); ++y) {
      if (asIs_) {
        Put(sink_, bitmap.ScanLine(y), bitmap.RowBytes());
      } else {
        FillRow(bitmap, y);
        Put(sink_, row_.data(), row_.size());
      }
    }
    FailIfSinkFailed(sink_);
  }

  void End(const TBitmap&) override { FailIfSinkFailed(sink_); }

 private:
  void FillRow(const TBitmap& bitmap, int y) {
    const int bytes = bitmap.BytesPerPixel();
    const std::uint8_t* in = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      std::uint8_t r, g, b;
      if (bytes == 1) {
        r = shown_[in[x]].peRed;
        g = shown_[in[x]].peGreen;
        b = shown_[in[x]].peBlue;
      } else {
        b = in[x * bytes];
        g = in[x * bytes + 1];
        r = in[x * bytes + 2];
      }
      if (grey_) {
        row_[x] = GreyLevel(r, g, b);
      } else {
        row_[3 * x] = r;
        row_[3 * x + 1] = g;
        row_[3 * x + 2] = b;
      }
    }
  }

  ByteSink& sink_;
  const bool grey_;
  const bool asIs_;
  TPaletteEntry shown_[TPalette::MaxEntries];
  std::vector<std::uint8_t> row_;
};

}  // namespace

std::unique_ptr<RowWriter> StartBmp(const TBitmap&, int, ByteSink& sink, const SaveSettings&) {
  return std::make_unique<BmpWriter>(sink);
}

std::unique_ptr<RowWriter> StartPgm(const TBitmap& bitmap, int, ByteSink& sink,
                                    const SaveSettings&) {
  return std::make_unique<PnmWriter>(bitmap, sink, true);
}

std::unique_ptr<RowWriter> StartPpm(const TBitmap& bitmap, int, ByteSink& sink,
                                    const SaveSettings&) {
  return std::make_unique<PnmWriter>(bitmap, sink, false);
}
