#include "PictureFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "PictureChecks.h"
#include "QImageBridge.h"

namespace {

// Enough for the largest picture allowed at eight bytes per pixel (16-bit colour with alpha).
constexpr int kAllocationLimitMb =
    static_cast<int>(qint64{kMaxPictureSide} * kMaxPictureSide * 8 / (1024 * 1024));

QString ReasonText(PictureFault fault) {
  switch (fault) {
    case PictureFault::NotFound:
      return QStringLiteral("找不到這個檔案。");
    case PictureFault::NotRegularFile:
      return QStringLiteral("這不是一般檔案（可能是資料夾、具名管道或裝置），不能當作圖檔開啟。");
    case PictureFault::NoPermission:
      return QStringLiteral("沒有讀取這個檔案的權限。");
    case PictureFault::NotAPicture:
      return QStringLiteral("這不是本程式能讀取的圖檔格式。");
    case PictureFault::Damaged:
      return QStringLiteral("圖檔已損毀或不完整。");
    case PictureFault::TooLarge:
      return QStringLiteral("圖片太大，最大只能開啟 %1 × %1 像素的圖片。").arg(kMaxPictureSide);
    case PictureFault::ReadError:
      return QStringLiteral("讀取檔案時發生錯誤。");
    case PictureFault::OutOfMemory:
      return QStringLiteral("記憶體不足，無法載入這張圖片。");
    default:
      return {};
  }
}

// Where the bytes being read come from: a file, which every message names, or memory.
struct Source {
  QString fileName;
  bool inMemory = false;
};

[[noreturn]] void Refuse(const Source& source, PictureFault fault, const QString& detail = {},
                         const QSize& declared = {}) {
  QString reason = ReasonText(fault);
  if (!detail.isEmpty())
    reason += detail;
  if (source.inMemory)
    throw PictureFileError(fault, reason, declared);
  throw PictureFileError(fault,
                         QStringLiteral("無法開啟圖檔「%1」：%2")
                             .arg(QDir::toNativeSeparators(source.fileName), reason),
                         declared);
}

[[noreturn]] void Refuse(const QString& fileName, PictureFault fault, const QString& detail = {}) {
  Refuse(Source{fileName}, fault, detail);
}

QString SizeDetail(const QSize& size) {
  if (!size.isValid())
    return {};
  return QStringLiteral("（這張圖片宣告為 %1 × %2 像素）").arg(size.width()).arg(size.height());
}

[[noreturn]] void RefuseTooLarge(const Source& source, const QSize& declared) {
  Refuse(source, PictureFault::TooLarge, SizeDetail(declared), declared);
}

// Collects the toolkit's messages raised on this thread while a picture is decoded: decoders
// report some damage (a JPEG cut short, an XPM missing rows) only as a warning. Messages of other
// threads pass on to the handler that was installed before.
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
      return;  // libpng's remarks about colour profiles and the like arrive as information
    // Junk after the last scan of a JPEG leaves every pixel decoded.
    if (text.contains(QLatin1String("extraneous bytes before marker 0xd9")))
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

// Opens only regular files, and never waits: a named pipe would block an ordinary open until
// a writer comes, so the file is opened without waiting and its kind checked on the open handle.
qint64 OpenRegularFile(const QString& fileName, QFile& file) {
  if (fileName.isEmpty())
    Refuse(fileName, PictureFault::NotFound);
  const QByteArray path = QFile::encodeName(fileName);
  const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    switch (error) {
      case ENOENT:
      case ENOTDIR:
      case ENAMETOOLONG:
      case ELOOP:
        Refuse(fileName, PictureFault::NotFound);
      case EACCES:
      case EPERM:
        Refuse(fileName, PictureFault::NoPermission);
      case ENXIO:
      case EISDIR:
        Refuse(fileName, PictureFault::NotRegularFile);
      default:
        Refuse(fileName, PictureFault::ReadError, QString::fromLocal8Bit(std::strerror(error)));
    }
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    Refuse(fileName, PictureFault::NotRegularFile);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1)
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    Refuse(fileName, PictureFault::ReadError);
  }
  return status.st_size;
}

bool IsVectorFormat(const QByteArray& format) {
  return format == "svg" || format == "svgz" || format == "pdf" || format == "eps" ||
         format == "ps" || format == "wmf" || format == "emf";
}

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

// The format a reader announces before decoding. A decoder that failed to read the header may
// announce a value it never set (the JPEG reader does): it is asked only once the header gave a
// size, and its answer is checked before it is used.
QImage::Format AnnouncedFormat(const QImageReader& reader, const QSize& declared) {
  if (!declared.isValid())
    return QImage::Format_Invalid;
  const int format = static_cast<int>(reader.imageFormat());
  if (format <= QImage::Format_Invalid || format >= QImage::NImageFormats)
    return QImage::Format_Invalid;
  return static_cast<QImage::Format>(format);
}

struct ReadRequest {
  QSize box;                // valid: reduce to fit this box
  qint64 maxDecodedPixels;  // full-size decoding beyond this many pixels is skipped (box only)
};

struct ReadResult {
  QImage image;
  QSize size;
  int bitsPerPixel = 0;
};

// Reads the picture completely and correctly from `device`, which holds `size` bytes, or raises
// a PictureFileError.
ReadResult ReadPicture(QIODevice& device, qint64 size, const Source& source,
                       const ReadRequest& request) {
  if (size == 0)
    Refuse(source, PictureFault::Damaged,
           source.inMemory ? QString() : QStringLiteral("（檔案是空的）"));

  // Decoders warn while reading headers too, so the whole decoding runs inside the trap.
  DecoderMessages messages;
  const QByteArray format = QImageReader::imageFormat(&device);
  if (format.isEmpty() || IsVectorFormat(format))
    Refuse(source, PictureFault::NotAPicture);

  const PictureCheck check = CheckPictureFile(device, size, format);
  if (check.fault == PictureFault::TooLarge)
    RefuseTooLarge(source, check.declared);
  if (check.fault)
    Refuse(source, *check.fault);

  ReadResult result;
  if (!check.decoded.isNull()) {
    result.image = check.decoded;
    result.size = result.image.size();
    result.bitsPerPixel = BitsPerPixelOf(result.image.format());
  } else {
    if (!device.seek(0))
      Refuse(source, PictureFault::ReadError);
    QImageReader::setAllocationLimit(kAllocationLimitMb);
    QImageReader reader(&device, format);
    reader.setAutoTransform(true);
    const QSize declared = reader.size();
    if (declared.isValid() && SideTooLarge(declared.width(), declared.height()))
      RefuseTooLarge(source, declared);
    result.size = declared;
    const QImage::Format announced = AnnouncedFormat(reader, declared);
    result.bitsPerPixel = BitsPerPixelOf(announced);

    const bool reduce =
        request.box.isValid() && declared.isValid() &&
        (declared.width() > request.box.width() || declared.height() > request.box.height());
    if (reduce) {
      const bool scalesWhileDecoding = format == "jpeg" || format == "jpg";
      if (!scalesWhileDecoding &&
          qint64{declared.width()} * declared.height() > request.maxDecodedPixels)
        return result;  // too slow to decode for a glance
      reader.setScaledSize(declared.scaled(request.box, Qt::KeepAspectRatio));
    }

    bool read = false;
    try {
      read = reader.read(&result.image);
    } catch (const std::bad_alloc&) {
      Refuse(source, PictureFault::OutOfMemory);
    }
    if (messages.AllocationRefused())
      RefuseTooLarge(source, declared);
    if (!read) {
      if (reader.error() == QImageReader::InvalidDataError &&
          !FitsInMemory(reduce ? reader.scaledSize() : declared,
                        announced != QImage::Format_Invalid ? announced : QImage::Format_ARGB32))
        Refuse(source, PictureFault::OutOfMemory);
      switch (reader.error()) {
        case QImageReader::UnsupportedFormatError:
          Refuse(source, PictureFault::NotAPicture);
        case QImageReader::DeviceError:
          Refuse(source, PictureFault::ReadError);
        default:
          Refuse(source, PictureFault::Damaged);
      }
    }
    if (messages.Damage() || result.image.isNull())
      Refuse(source, PictureFault::Damaged);
    // An uncompressed BMP must have been read to the end of its pixel data: the decoder stops at
    // a short row without saying so, leaving the rest unwritten.
    if (check.dataEnd >= 0 && device.pos() < check.dataEnd)
      Refuse(source, PictureFault::Damaged);
    if (!reduce) {
      result.size = result.image.size();
      result.bitsPerPixel = BitsPerPixelOf(result.image.format());
    }
  }
  if (SideTooLarge(result.size.width(), result.size.height()))
    RefuseTooLarge(source, result.size);
  if (request.box.isValid() &&
      (result.image.width() > request.box.width() || result.image.height() > request.box.height()))
    result.image = result.image.scaled(request.box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  return result;
}

// Opens the file with the checks of OpenRegularFile and reads it.
ReadResult ReadPicture(const QString& fileName, const ReadRequest& request) {
  QFile file;
  const qint64 fileSize = OpenRegularFile(fileName, file);
  return ReadPicture(file, fileSize, Source{fileName}, request);
}

}  // namespace

TBitmap LoadPictureFile(const QString& fileName) {
  ReadResult result = ReadPicture(fileName, ReadRequest{QSize(), 0});
  try {
    return BitmapFromQImage(result.image);
  } catch (const std::bad_alloc&) {
    Refuse(fileName, PictureFault::OutOfMemory);
  }
}

QImage DecodePictureData(const QByteArray& bytes) {
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly))
    Refuse(Source{{}, true}, PictureFault::ReadError);
  return ReadPicture(buffer, bytes.size(), Source{{}, true}, ReadRequest{QSize(), 0}).image;
}

PicturePreview PreviewPictureFile(const QString& fileName, const QSize& box,
                                  qint64 maxDecodedPixels) {
  ReadResult result = ReadPicture(fileName, ReadRequest{box, maxDecodedPixels});
  return PicturePreview{std::move(result.image), result.size, result.bitsPerPixel};
}
