// SPDX-License-Identifier: GPL-3.0-or-later
// The small formats through the toolkit's readers, with the structural checks they need: the
// toolkit reports some damaged files of these formats as read, or only as a warning.

#include "ToolkitFormats.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QtEndian>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>

#include "PictureChecks.h"
#include "QImageBridge.h"

namespace {

// Enough for the largest picture allowed at eight bytes per pixel (16-bit colour with alpha).
constexpr int kAllocationLimitMb =
    static_cast<int>(qint64{kMaxPictureSide} * kMaxPictureSide * 8 / (1024 * 1024));

[[noreturn]] void Refuse(PictureFault fault, QSize declared = {}) {
  throw PictureFailure{fault, {}, declared, 0};
}

// Collects the toolkit's messages raised on this thread while a picture is decoded: decoders
// report some damage (an XPM missing rows) only as a warning. Messages of other threads pass on
// to the handler that was installed before.
class DecoderMessages {
 public:
  DecoderMessages() {
    active_ = this;
    previous_ = qInstallMessageHandler(&Handle);
  }
  ~DecoderMessages() {
    qInstallMessageHandler(previous_);
    active_ = nullptr;
  }
  DecoderMessages(const DecoderMessages&) = delete;
  DecoderMessages& operator=(const DecoderMessages&) = delete;

  bool Damage() const { return damage_; }
  bool AllocationRefused() const { return allocationRefused_; }

 private:
  static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    DecoderMessages* self = active_;
    if (self == nullptr) {
      if (QtMessageHandler previous = previous_.load())
        previous(type, context, text);
      else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
      return;
    }
    if (type != QtWarningMsg && type != QtCriticalMsg && type != QtFatalMsg)
      return;
    if (text.contains(QLatin1String("allocation limit")))
      self->allocationRefused_ = true;
    self->damage_ = true;
  }

  static thread_local DecoderMessages* active_;
  static std::atomic<QtMessageHandler> previous_;
  bool damage_ = false;
  bool allocationRefused_ = false;
};

thread_local DecoderMessages* DecoderMessages::active_ = nullptr;
std::atomic<QtMessageHandler> DecoderMessages::previous_{nullptr};

// The bits per pixel a decoded picture of this format becomes (see BitmapFromQImage).
int BitsPerPixelOf(QImage::Format format) {
  switch (format) {
    case QImage::Format_Invalid:
      return 0;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
      return 8;
    default:
      return QImage::toPixelFormat(format).alphaUsage() == QPixelFormat::UsesAlpha ? 32 : 24;
  }
}

// Decoders report a picture they found no memory for as invalid data. A picture of the declared
// size that cannot be allocated now tells the two apart.
bool FitsInMemory(const QSize& size, QImage::Format format) {
  if (!size.isValid())
    return true;
  try {
    return !QImage(size, format).isNull();
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// The format a reader announces before decoding, asked only once the header gave a size and
// checked before it is used.
QImage::Format AnnouncedFormat(const QImageReader& reader, const QSize& declared) {
  if (!declared.isValid())
    return QImage::Format_Invalid;
  const int format = static_cast<int>(reader.imageFormat());
  if (format <= QImage::Format_Invalid || format >= QImage::NImageFormats)
    return QImage::Format_Invalid;
  return static_cast<QImage::Format>(format);
}

// Reads the picture; refuses what the reader cannot read, or reads only with complaints.
QImage ReadImage(QImageReader& reader, const QSize& declared, QImage::Format announced,
                 const DecoderMessages& messages) {
  QImage image;
  bool read = false;
  try {
    read = reader.read(&image);
  } catch (const std::bad_alloc&) {
    Refuse(PictureFault::OutOfMemory);
  }
  if (messages.AllocationRefused())
    Refuse(PictureFault::TooLarge, declared);
  if (!read) {
    if (reader.error() == QImageReader::InvalidDataError &&
        !FitsInMemory(declared,
                      announced != QImage::Format_Invalid ? announced : QImage::Format_ARGB32))
      Refuse(PictureFault::OutOfMemory);
    switch (reader.error()) {
      case QImageReader::UnsupportedFormatError:
        Refuse(PictureFault::NotAPicture);
      case QImageReader::DeviceError:
        Refuse(PictureFault::ReadError);
      default:
        Refuse(PictureFault::Damaged);
    }
  }
  if (messages.Damage() || image.isNull())
    Refuse(PictureFault::Damaged);
  return image;
}

QImage ReadGif(const QByteArray& bytes, const DecoderMessages& messages) {
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly))
    Refuse(PictureFault::ReadError);
  QImageReader reader(&buffer, "gif");
  const QSize declared = reader.size();
  return ReadImage(reader, declared, AnnouncedFormat(reader, declared), messages);
}

// The place in the file of a GIF frame's row, in interlaced order: every eighth row from the
// first, every eighth from the fifth, every fourth from the third, every second from the second.
int InterlacedIndex(int row, int height) {
  const int first = (height + 7) / 8, second = (height + 3) / 8, third = (height + 1) / 4;
  if (row % 8 == 0)
    return row / 8;
  if (row % 8 == 4)
    return first + row / 8;
  if (row % 4 == 2)
    return first + second + row / 4;
  return first + second + third + row / 2;
}

// The toolkit's GIF decoder refuses a screen of 2^28 pixels, although 16384 x 16384 is within the
// limit. Such a picture is read by the same decoder in two parts, from the file with its header
// changed: every row but the last from a screen one row shorter; the last from a screen on which
// the frame is laid out `m` times as wide and not interlaced, which brings its r-th row in the file
// (the one the screen's last row shows) to row r / m, near the top. The background, outside the
// frame's columns, is the same on every row.
QImage ReadWholeScreenGif(QIODevice& device, qint64 size, const PictureCheck& check,
                          const DecoderMessages& messages) {
  constexpr int kSide = kMaxPictureSide;
  static_assert((kSide - 1) % 3 == 0 && (kSide - 2) % 2 == 0 && kSide * 3 <= 65535);
  if (!device.seek(0))
    Refuse(PictureFault::ReadError);
  QByteArray bytes = device.read(size);
  if (bytes.size() != size)
    Refuse(PictureFault::ReadError);
  const QRect frame = check.gifFrame;
  const qsizetype at = check.gifFrameAt;
  const auto put = [&bytes](qsizetype offset, int value) {
    qToLittleEndian<quint16>(static_cast<quint16>(value), bytes.data() + offset);
  };
  const int shown = kSide - 1 - frame.top();
  int r = frame.height();  // none of the frame's rows: the background
  if (shown < frame.height())
    r = check.gifInterlaced ? InterlacedIndex(shown, frame.height()) : shown;
  const int m = r == kSide - 1 ? 3 : r == kSide - 2 ? 2 : 1;
  const int row = r / m;
  const char flags = bytes[at + 8];
  put(6, kSide);
  put(8, row + 2);  // a row below the frame, so that the background is filled
  put(at + 2, 0);
  put(at + 4, frame.width() * m);
  put(at + 6, row + 1);
  bytes[at + 8] = static_cast<char>(flags & ~0x40);
  QByteArray lastRow;
  QImage::Format format = QImage::Format_Invalid;
  {
    const QImage part = ReadGif(bytes, messages);
    if (part.depth() != 32 || part.height() <= row || part.width() != kSide)
      Refuse(PictureFault::Damaged);
    lastRow = QByteArray(reinterpret_cast<const char*>(part.constScanLine(row)), kSide * 4);
    format = part.format();
  }
  put(8, kSide - 1);
  put(at + 2, frame.top());
  put(at + 4, frame.width());
  put(at + 6, frame.height());
  bytes[at + 8] = flags;
  QImage upper = ReadGif(bytes, messages);
  bytes.clear();
  if (upper.format() != format || upper.size() != QSize(kSide, kSide - 1))
    Refuse(PictureFault::Damaged);
  QImage whole(kSide, kSide, format);
  if (whole.isNull())
    Refuse(PictureFault::OutOfMemory);
  const std::size_t rowBytes = std::size_t{kSide} * 4;
  for (int y = 0; y < kSide - 1; ++y)
    std::memcpy(whole.scanLine(y), upper.constScanLine(y), rowBytes);
  uchar* last = whole.scanLine(kSide - 1);
  std::memcpy(last, upper.constScanLine(0), rowBytes);
  std::memcpy(last + frame.left() * 4, lastRow.constData() + frame.left() * 4,
              std::size_t(frame.width()) * 4);
  return whole;
}

DecodedPicture Read(QIODevice& device, qint64 size, PictureFormat format,
                    const ReadRequest& request) {
  const QByteArray name = FormatInfo(format).toolkitName;
  // Decoders warn while reading headers too, so the whole decoding runs inside the trap.
  DecoderMessages messages;
  const PictureCheck check = CheckPictureFile(device, size, name);
  if (check.fault)
    Refuse(*check.fault, check.declared);

  DecodedPicture decoded;
  QImage image;
  if (!check.decoded.isNull()) {
    image = check.decoded;
  } else {
    if (!device.seek(0))
      Refuse(PictureFault::ReadError);
    QImageReader::setAllocationLimit(kAllocationLimitMb);
    QImageReader reader(&device, name);
    const QSize declared = reader.size();
    if (declared.isValid() && SideTooLarge(declared.width(), declared.height()))
      Refuse(PictureFault::TooLarge, declared);
    const QImage::Format announced = AnnouncedFormat(reader, declared);
    if (declared.isValid() && PreviewTooLarge(request, declared.width(), declared.height())) {
      decoded.size = declared;
      decoded.bitsPerPixel = BitsPerPixelOf(announced);
      return decoded;
    }
    if (check.gifFrameAt >= 0 && check.declared == QSize(kMaxPictureSide, kMaxPictureSide))
      image = ReadWholeScreenGif(device, size, check, messages);
    else
      image = ReadImage(reader, declared, announced, messages);
    // An uncompressed BMP must have been read to the end of its pixel data: the decoder stops at
    // a short row without saying so, leaving the rest unwritten.
    if (check.dataEnd >= 0 && device.pos() < check.dataEnd)
      Refuse(PictureFault::Damaged);
  }
  if (SideTooLarge(image.width(), image.height()))
    Refuse(PictureFault::TooLarge, image.size());
  decoded.size = image.size();
  decoded.bitsPerPixel = BitsPerPixelOf(image.format());
  decoded.bitmap = BitmapFromQImage(image);
  return decoded;
}

bool ReadSmallFormat(ByteSource& source, PictureFormat format, const ReadRequest& request,
                     DecodedPicture& decoded, PictureFailure& failure) {
  try {
    if (source.Memory() != nullptr) {
      QByteArray bytes = QByteArray::fromRawData(source.Memory(), source.Size());
      QBuffer buffer(&bytes);
      if (!buffer.open(QIODevice::ReadOnly))
        Refuse(PictureFault::ReadError);
      decoded = Read(buffer, source.Size(), format, request);
    } else {
      QFile file;
      if (!file.open(source.Fd(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle) ||
          !file.seek(0))
        Refuse(PictureFault::ReadError);
      decoded = Read(file, source.Size(), format, request);
    }
    return true;
  } catch (const PictureFailure& caught) {
    failure = caught;
  } catch (const std::bad_alloc&) {
    failure = PictureFailure{PictureFault::OutOfMemory, {}, {}, 0};
  }
  return false;
}

}  // namespace

ToolkitReader SmallFormatReader() {
  return &ReadSmallFormat;
}

void InstallToolkitFormats() {
  InstallToolkitReader(&ReadSmallFormat);
}
