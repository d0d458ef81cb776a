// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureChecks.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "PnmNumber.h"

namespace {

// Buffered reading of a file whose size is known: every read says whether the bytes were there.
class Reader {
 public:
  Reader(QIODevice& device, qint64 size) : device_(device), size_(size) {}

  qint64 Pos() const { return pos_; }
  qint64 Size() const { return size_; }
  bool AtEnd() const { return pos_ >= size_; }

  void Seek(qint64 pos) { pos_ = pos; }
  bool Skip(qint64 n) {
    if (n < 0 || n > size_ - pos_)
      return false;
    pos_ += n;
    return true;
  }

  bool Byte(quint8& value) {
    if (!Fill())
      return false;
    value = static_cast<quint8>(buffer_[pos_ - bufferStart_]);
    ++pos_;
    return true;
  }

  bool Bytes(void* target, qint64 n) {
    auto* out = static_cast<char*>(target);
    while (n > 0) {
      if (!Fill())
        return false;
      const qint64 available = bufferStart_ + buffer_.size() - pos_;
      const qint64 take = std::min(n, available);
      std::memcpy(out, buffer_.constData() + (pos_ - bufferStart_), take);
      out += take;
      pos_ += take;
      n -= take;
    }
    return true;
  }

 private:
  static constexpr qint64 kChunk = 64 * 1024;

  // Makes the byte at pos_ available in the buffer.
  bool Fill() {
    if (pos_ >= size_)
      return false;
    if (pos_ >= bufferStart_ && pos_ < bufferStart_ + buffer_.size())
      return true;
    if (!device_.seek(pos_))
      return false;
    buffer_ = device_.read(std::min(kChunk, size_ - pos_));
    bufferStart_ = pos_;
    return !buffer_.isEmpty();
  }

  QIODevice& device_;
  qint64 size_;
  qint64 pos_ = 0;
  QByteArray buffer_;
  qint64 bufferStart_ = 0;
};

quint32 Le32(const quint8* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (quint32{p[3]} << 24);
}
quint32 Le16(const quint8* p) {
  return p[0] | (p[1] << 8);
}

PictureCheck Fail(PictureFault fault, QSize declared = {}) {
  PictureCheck check;
  check.fault = fault;
  check.declared = declared;
  return check;
}

PictureCheck Declared(qint64 width, qint64 height) {
  PictureCheck check;
  if (SideTooLarge(width, height))
    check.fault = PictureFault::TooLarge;
  check.declared = QSize(static_cast<int>(std::min<qint64>(width, INT_MAX)),
                         static_cast<int>(std::min<qint64>(height, INT_MAX)));
  return check;
}

// ---- BMP ------------------------------------------------------------------------------------

constexpr quint32 kBmpRgb = 0, kBmpRle8 = 1, kBmpRle4 = 2, kBmpBitfields = 3;

// The toolkit's BMP decoder leaves pixels unwritten where the stream skips them or ends early,
// so run-length compressed BMPs are decoded here, onto a picture cleared to index 0. Runs and
// moves must stay inside the picture: pixels beyond a row's end, or a move past its end or below
// the last row, mean the stream does not describe this picture.
PictureCheck DecodeRle(Reader& in, int width, int height, int bits, QList<QRgb> colours) {
  QImage image(width, height, QImage::Format_Indexed8);
  if (image.isNull())
    return Fail(PictureFault::OutOfMemory);
  image.fill(0);
  image.setColorTable(colours);
  int x = 0;
  int y = 0;  // counted from the bottom row, as stored
  auto put = [&](quint8 index) { image.scanLine(height - 1 - y)[x++] = index; };
  while (y < height) {
    quint8 count = 0;
    quint8 value = 0;
    if (!in.Byte(count) || !in.Byte(value))
      return Fail(PictureFault::Damaged);
    if (count > 0) {
      if (count > width - x)
        return Fail(PictureFault::Damaged);
      for (int i = 0; i < count; ++i)
        put(bits == 8 ? value : ((i & 1) ? (value & 0x0f) : (value >> 4)));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      break;
    } else if (value == 2) {  // move right and up
      quint8 dx = 0;
      quint8 dy = 0;
      if (!in.Byte(dx) || !in.Byte(dy) || dx > width - x || dy >= height - y)
        return Fail(PictureFault::Damaged);
      x += dx;
      y += dy;
    } else {  // `value` literal pixels, padded to an even number of bytes
      if (value > width - x)
        return Fail(PictureFault::Damaged);
      const int bytes = bits == 8 ? value : (value + 1) / 2;
      for (int i = 0; i < bytes; ++i) {
        quint8 b = 0;
        if (!in.Byte(b))
          return Fail(PictureFault::Damaged);
        if (bits == 8) {
          put(b);
        } else {
          put(b >> 4);
          if (2 * i + 1 < value)
            put(b & 0x0f);
        }
      }
      if ((bytes & 1) && !in.Skip(1))
        return Fail(PictureFault::Damaged);
    }
  }
  PictureCheck check;
  check.declared = image.size();
  check.decoded = std::move(image);
  return check;
}

PictureCheck CheckBmp(Reader& in) {
  quint8 h[14 + 40] = {};
  const qint64 got = std::min<qint64>(in.Size(), sizeof h);
  if (got < 18 || !in.Bytes(h, got))
    return Fail(PictureFault::Damaged);
  const quint32 offBits = Le32(h + 10);
  const quint32 infoSize = Le32(h + 14);
  qint64 width = 0;
  qint64 height = 0;
  quint32 planes = 0, bits = 0, compression = kBmpRgb, coloursUsed = 0;
  int entrySize = 4;
  if (infoSize == 12) {
    if (got < 26)
      return Fail(PictureFault::Damaged);
    width = static_cast<qint16>(Le16(h + 18));
    height = static_cast<qint16>(Le16(h + 20));
    planes = Le16(h + 22);
    bits = Le16(h + 24);
    entrySize = 3;
  } else if (infoSize == 40 || infoSize == 64 || infoSize == 108 || infoSize == 124) {
    if (got < 14 + 40)
      return Fail(PictureFault::Damaged);
    width = static_cast<qint32>(Le32(h + 18));
    height = static_cast<qint32>(Le32(h + 22));
    planes = Le16(h + 26);
    bits = Le16(h + 28);
    compression = Le32(h + 30);
    coloursUsed = Le32(h + 46);
  } else {
    return Fail(PictureFault::NotAPicture);  // a header variant the decoder misreads
  }
  const bool rle = (bits == 8 && compression == kBmpRle8) || (bits == 4 && compression == kBmpRle4);
  const bool known = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (!known || planes != 1 ||
      !(compression == kBmpRgb || rle ||
        ((bits == 16 || bits == 32) && compression == kBmpBitfields)))
    return Fail(PictureFault::Damaged);
  if (width <= 0 || height == 0 || height == INT_MIN)
    return Fail(PictureFault::Damaged);
  PictureCheck check = Declared(width, std::abs(height));
  if (check.fault)
    return check;

  qint64 pos = 14 + infoSize;
  if (infoSize < 108 && compression == kBmpBitfields)
    pos += 12;  // the colour masks
  int colours = 0;
  if (bits <= 8) {
    colours =
        coloursUsed != 0 ? static_cast<int>(std::min<quint32>(coloursUsed, 257)) : (1 << bits);
    if (colours > 256)
      return Fail(PictureFault::Damaged);
  }
  const qint64 paletteEnd = pos + qint64{colours} * entrySize;
  // The decoder refuses a palette that reaches the end of the file; pixels follow it.
  if (paletteEnd >= in.Size())
    return Fail(PictureFault::Damaged);
  const qint64 dataStart = std::max<qint64>(offBits, paletteEnd);

  if (rle) {
    if (height < 0)
      return Fail(PictureFault::Damaged);  // compressed pictures are stored bottom-up only
    QList<QRgb> table;
    in.Seek(pos);
    for (int i = 0; i < colours; ++i) {
      quint8 e[4] = {};
      if (!in.Bytes(e, entrySize))
        return Fail(PictureFault::Damaged);
      table.append(qRgb(e[2], e[1], e[0]));
    }
    in.Seek(dataStart);
    return DecodeRle(in, static_cast<int>(width), static_cast<int>(height), static_cast<int>(bits),
                     table);
  }

  const qint64 rowBytes = (width * bits + 31) / 32 * 4;
  check.dataEnd = dataStart + rowBytes * std::abs(height);
  if (check.dataEnd > in.Size())
    check.fault = PictureFault::Damaged;
  return check;
}

// ---- GIF ------------------------------------------------------------------------------------

// Counts the pixels an LZW image stream yields, reading its sub-blocks up to the terminator. The
// toolkit shows a frame whose data ends early as read, filling the rest with background.
bool CountLzwPixels(Reader& in, int minCodeSize, qint64& pixels) {
  if (minCodeSize < 1 || minCodeSize > 11)
    return false;
  const int clear = 1 << minCodeSize;
  const int endOfData = clear + 1;
  std::vector<qint64> length(4096, 1);
  int next = clear + 2;
  int width = minCodeSize + 1;
  int previous = -1;
  bool ended = false;
  quint32 bitBuffer = 0;
  int bitCount = 0;
  for (;;) {
    quint8 blockSize = 0;
    if (!in.Byte(blockSize))
      return false;
    if (blockSize == 0)
      return true;
    for (int i = 0; i < blockSize; ++i) {
      quint8 byte = 0;
      if (!in.Byte(byte))
        return false;
      if (ended)
        continue;
      bitBuffer |= quint32{byte} << bitCount;
      bitCount += 8;
      while (!ended && bitCount >= width) {
        const int code = static_cast<int>(bitBuffer & ((1u << width) - 1));
        bitBuffer >>= width;
        bitCount -= width;
        if (code == clear) {
          next = clear + 2;
          width = minCodeSize + 1;
          previous = -1;
          continue;
        }
        if (code == endOfData) {
          ended = true;
          break;
        }
        qint64 produced = 0;
        if (previous < 0) {
          if (code >= clear) {
            ended = true;  // a broken stream: what came before stands
            break;
          }
          produced = 1;
        } else if (code < next) {
          produced = length[code];
          if (next < 4096)
            length[next++] = length[previous] + 1;
        } else if (code == next && next < 4096) {
          produced = length[previous] + 1;
          length[next++] = produced;
        } else {
          ended = true;
          break;
        }
        pixels += produced;
        previous = code;
        if (next == (1 << width) && width < 12)
          ++width;
      }
    }
  }
}

bool SkipSubBlocks(Reader& in) {
  for (;;) {
    quint8 size = 0;
    if (!in.Byte(size))
      return false;
    if (size == 0)
      return true;
    if (!in.Skip(size))
      return false;
  }
}

PictureCheck CheckGif(Reader& in) {
  quint8 header[13];
  if (!in.Bytes(header, 13))
    return Fail(PictureFault::Damaged);
  const quint32 screenWidth = Le16(header + 6);
  const quint32 screenHeight = Le16(header + 8);
  PictureCheck check = Declared(screenWidth, screenHeight);
  if (check.fault)
    return check;
  if ((header[10] & 0x80) && !in.Skip(3 * (qint64{2} << (header[10] & 7))))
    return Fail(PictureFault::Damaged);
  bool sawImage = false;
  for (;;) {
    quint8 introducer = 0;
    if (!in.Byte(introducer))
      // A file ending right after a complete frame only lacks its trailer byte.
      return sawImage ? check : Fail(PictureFault::Damaged);
    if (introducer == 0x3b)
      return sawImage ? check : Fail(PictureFault::Damaged);
    if (introducer == 0x21) {
      if (!in.Skip(1) || !SkipSubBlocks(in))
        return Fail(PictureFault::Damaged);
      continue;
    }
    if (introducer != 0x2c)
      return Fail(PictureFault::Damaged);
    quint8 descriptor[9];
    quint8 minCodeSize = 0;
    const qint64 descriptorAt = in.Pos();
    if (!in.Bytes(descriptor, 9))
      return Fail(PictureFault::Damaged);
    if ((descriptor[8] & 0x80) && !in.Skip(3 * (qint64{2} << (descriptor[8] & 7))))
      return Fail(PictureFault::Damaged);
    if (!in.Byte(minCodeSize))
      return Fail(PictureFault::Damaged);
    if (sawImage) {
      if (!SkipSubBlocks(in))
        return Fail(PictureFault::Damaged);
      continue;
    }
    // Only the first frame is shown; it must hold pixels, all of them, inside the screen.
    const quint32 left = Le16(descriptor), top = Le16(descriptor + 2);
    const quint32 width = Le16(descriptor + 4), height = Le16(descriptor + 6);
    if (width == 0 || height == 0)
      return Fail(PictureFault::Damaged);
    if ((screenWidth > 0 && left + width > screenWidth) ||
        (screenHeight > 0 && top + height > screenHeight))
      return Fail(PictureFault::Damaged);
    check.gifFrameAt = descriptorAt;
    check.gifFrame = QRect(static_cast<int>(left), static_cast<int>(top), static_cast<int>(width),
                           static_cast<int>(height));
    check.gifInterlaced = (descriptor[8] & 0x40) != 0;
    // A screen without width or height takes the frame's extent instead: that is the size the
    // decoder allocates.
    if (screenWidth == 0 || screenHeight == 0) {
      check = Declared(screenWidth > 0 ? screenWidth : qint64{left} + width,
                       screenHeight > 0 ? screenHeight : qint64{top} + height);
      if (check.fault)
        return check;
    }
    qint64 pixels = 0;
    if (!CountLzwPixels(in, minCodeSize, pixels))
      return Fail(PictureFault::Damaged);
    if (pixels < qint64{width} * height)
      return Fail(PictureFault::Damaged);
    sawImage = true;
  }
}

// ---- PBM / PGM / PPM ------------------------------------------------------------------------

bool PnmNumber(Reader& in, qint64& value) {
  return ReadPnmNumber(
      [&in](char& c) {
        quint8 byte = 0;
        if (!in.Byte(byte))
          return false;
        c = static_cast<char>(byte);
        return true;
      },
      value);
}

// The samples of a plain (text) PGM or PPM: every one there and none above the maximum, which the
// toolkit would scale to levels beyond white.
bool CheckPlainSamples(Reader& in, qint64 count, qint64 maxValue) {
  quint8 c = ' ';
  for (qint64 i = 0; i < count; ++i) {
    // Whitespace and comments, up to the first digit.
    for (;;) {
      if (c == '#') {
        while (c != '\n' && c != '\r')
          if (!in.Byte(c))
            return false;
      } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') {
        break;
      }
      if (!in.Byte(c))
        return false;
    }
    if (c < '0' || c > '9')
      return false;
    qint64 value = 0;
    while (c >= '0' && c <= '9') {
      value = value * 10 + (c - '0');
      if (value > maxValue)
        return false;
      if (!in.Byte(c)) {
        c = ' ';  // the last number may end the file
        break;
      }
    }
  }
  return true;
}

// Binary variants must hold every row; the toolkit reads a 16-bit one missing its last byte.
PictureCheck CheckPnm(Reader& in) {
  quint8 magic[2];
  if (!in.Bytes(magic, 2) || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6')
    return Fail(PictureFault::Damaged);
  const int kind = magic[1] - '0';
  qint64 width = 0, height = 0, maxValue = 1;
  if (!PnmNumber(in, width) || !PnmNumber(in, height))
    return Fail(PictureFault::Damaged);
  PictureCheck check = Declared(width, height);
  if (check.fault)
    return check;
  if (kind != 1 && kind != 4 && !PnmNumber(in, maxValue))
    return Fail(PictureFault::Damaged);
  if (maxValue < 1 || maxValue > 65535)
    return Fail(PictureFault::Damaged);
  if (kind == 2 || kind == 3)
    return CheckPlainSamples(in, width * height * (kind == 3 ? 3 : 1), maxValue)
               ? check
               : Fail(PictureFault::Damaged);
  if (kind == 1)
    return check;  // the decoder refuses a short file itself
  // The data starts right after the single separator PnmNumber consumed.
  const qint64 sampleBytes = maxValue > 255 ? 2 : 1;
  const qint64 rowBytes = kind == 4 ? (width + 7) / 8 : width * sampleBytes * (kind == 6 ? 3 : 1);
  if (in.Pos() + rowBytes * height > in.Size())
    check.fault = PictureFault::Damaged;
  return check;
}

// ---- XBM ------------------------------------------------------------------------------------

// The toolkit shows an XBM whose data stops early as read; every byte must be there.
PictureCheck CheckXbm(Reader& in) {
  QByteArray head;
  quint8 c = 0;
  while (head.size() < 64 * 1024 && in.Byte(c) && c != '{')
    head.append(static_cast<char>(c));
  if (c != '{')
    return Fail(PictureFault::Damaged);
  static const QRegularExpression widthRe(QStringLiteral("_width\\s+(\\d+)"));
  static const QRegularExpression heightRe(QStringLiteral("_height\\s+(\\d+)"));
  const QString text = QString::fromLatin1(head);
  const auto w = widthRe.match(text);
  const auto h = heightRe.match(text);
  if (!w.hasMatch() || !h.hasMatch())
    return Fail(PictureFault::Damaged);
  const qint64 width = w.captured(1).left(9).toLongLong();
  const qint64 height = h.captured(1).left(9).toLongLong();
  PictureCheck check = Declared(width, height);
  if (check.fault)
    return check;
  const qint64 needed = (width + 7) / 8 * height;
  qint64 values = 0;
  quint8 previous = 0;
  while (values < needed && in.Byte(c) && c != '}') {
    if ((c == 'x' || c == 'X') && previous == '0')
      ++values;
    previous = c;
  }
  if (values < needed)
    check.fault = PictureFault::Damaged;
  return check;
}

// ---- XPM ------------------------------------------------------------------------------------

// The next string between double quotes, as the toolkit's reader takes it (quotes in comments
// count too); false at the end of the file.
bool XpmString(Reader& in, QByteArray& text) {
  text.clear();
  quint8 c = 0;
  do {
    if (!in.Byte(c))
      return false;
  } while (c != '"');
  for (;;) {
    if (!in.Byte(c))
      return false;
    if (c == '"')
      return true;
    text.append(static_cast<char>(c));
  }
}

// The toolkit gives a pixel whose characters name no colour of the table the first colour (or
// transparent black), silently; every pixel must name one.
PictureCheck CheckXpm(Reader& in) {
  QByteArray text;
  int width = 0, height = 0, colours = 0, perPixel = 0;
  if (!XpmString(in, text) ||
      std::sscanf(text.constData(), "%d %d %d %d", &width, &height, &colours, &perPixel) < 4 ||
      width <= 0 || height <= 0 || colours <= 0 || perPixel <= 0 || perPixel > 15)
    return {};  // the decoder refuses what it cannot read
  PictureCheck check = Declared(width, height);
  if (check.fault)
    return check;
  QSet<QByteArray> keys;
  for (int i = 0; i < colours; ++i) {
    if (!XpmString(in, text))
      return {};
    keys.insert(text.left(perPixel));
  }
  for (int y = 0; y < height; ++y) {
    if (!XpmString(in, text) || text.size() < qsizetype{width} * perPixel)
      return Fail(PictureFault::Damaged);
    for (qsizetype x = 0; x < qsizetype{width} * perPixel; x += perPixel)
      if (!keys.contains(QByteArray::fromRawData(text.constData() + x, perPixel)))
        return Fail(PictureFault::Damaged);
  }
  return check;
}

// ---- ICO / CUR ------------------------------------------------------------------------------

// Icons may hold PNG pictures of any size; its size is checked before the decoder allocates.
// The decoder reads the first picture of the directory, whatever the directory holds beside it:
// that one alone is looked at, so that a directory of thousands of entries costs nothing more.
PictureCheck CheckIco(Reader& in) {
  quint8 dir[6 + 16];
  if (!in.Bytes(dir, sizeof dir) || Le16(dir + 4) == 0)
    return Fail(PictureFault::Damaged);
  in.Seek(Le32(dir + 6 + 12));
  quint8 head[24];
  if (!in.Bytes(head, 24) || std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) != 0)
    return {};
  const qint64 width = (quint32{head[16]} << 24) | (head[17] << 16) | (head[18] << 8) | head[19];
  const qint64 height = (quint32{head[20]} << 24) | (head[21] << 16) | (head[22] << 8) | head[23];
  if (SideTooLarge(width, height))
    return Declared(width, height);
  return {};
}

}  // namespace

PictureCheck CheckPictureFile(QIODevice& file, qint64 fileSize, const QByteArray& format) {
  Reader in(file, fileSize);
  if (format == "bmp" || format == "dib")
    return CheckBmp(in);
  if (format == "gif")
    return CheckGif(in);
  if (format == "pbm" || format == "pgm" || format == "ppm")
    return CheckPnm(in);
  if (format == "xbm")
    return CheckXbm(in);
  if (format == "ico" || format == "cur")
    return CheckIco(in);
  if (format == "xpm")
    return CheckXpm(in);
  return {};
}
