#include "PictureFile.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <new>

#include "PictureIo.h"
#include "ToolkitReader.h"

namespace {

QString SystemReason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// ---- the toolkit's readers ------------------------------------------------------------------

ToolkitReader& Installed() {
  static ToolkitReader reader = nullptr;
  return reader;
}

// The module lies beside the program as it lies when installed: <prefix>/lib/ccdlab/.
ToolkitReader LoadToolkitModule() {
  QStringList candidates;
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    self[length] = '\0';
    const QString dir = QFileInfo(QString::fromLocal8Bit(self)).absolutePath();
    candidates << dir + QStringLiteral("/../lib/ccdlab/") + QLatin1String(CCDLAB_TOOLKIT_MODULE);
  }
  candidates << QStringLiteral(CCDLAB_MODULE_DIR "/") + QLatin1String(CCDLAB_TOOLKIT_MODULE);
  for (const QString& path : candidates) {
    void* module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr)
      continue;
    if (auto entry = reinterpret_cast<ToolkitReaderEntry>(::dlsym(module, kToolkitReaderEntry)))
      return entry();
    ::dlclose(module);
  }
  return nullptr;
}

ToolkitReader Toolkit() {
  if (Installed() != nullptr)
    return Installed();
  static const ToolkitReader loaded = LoadToolkitModule();
  return loaded;
}

DecodedPicture ReadWithToolkit(ByteSource& source, PictureFormat format,
                               const ReadRequest& request) {
  const ToolkitReader reader = Toolkit();
  if (reader == nullptr)
    Fail(PictureFault::NotAPicture);
  DecodedPicture decoded;
  PictureFailure failure{PictureFault::Damaged, {}, {}, 0};
  if (!reader(source, format, request, decoded, failure))
    throw failure;
  return decoded;
}

// ---- reading --------------------------------------------------------------------------------

DecodedPicture Decode(ByteSource& source, const ReadRequest& request) {
  if (source.Size() == 0)
    Fail(PictureFault::EmptyFile);
  unsigned char head[kPictureSignatureBytes] = {};
  const std::size_t got = source.Read(head, sizeof head);
  FailIfSourceFailed(source);
  source.Seek(0);
  const std::optional<PictureFormat> format = DetectPictureFormat(head, got);
  if (!format)
    Fail(PictureFault::NotAPicture);
  switch (*format) {
    case PictureFormat::Png:
      return ReadPng(source, request);
    case PictureFormat::Jpeg:
      return ReadJpeg(source, request);
    case PictureFormat::Tiff:
      return ReadTiff(source, request);
    default:
      return ReadWithToolkit(source, *format, request);
  }
}

// Runs a reader, turning its failures into the layer's.
template <class Read>
DecodedPicture Guarded(const QString& fileName, Read&& read) {
  try {
    return read();
  } catch (const PictureFailure& failure) {
    throw PictureFileError(PictureAction::Open, fileName, failure.fault, failure.detail,
                           failure.declared, failure.number);
  } catch (const std::bad_alloc&) {
    throw PictureFileError(PictureAction::Open, fileName, PictureFault::OutOfMemory);
  }
}

// Opens only regular files, and never waits: a named pipe would block an ordinary open until a
// writer comes, so the file is opened without waiting and its kind checked on the open handle.
class OpenFile {
 public:
  explicit OpenFile(const QString& fileName) {
    if (fileName.isEmpty())
      Fail(PictureFault::NotFound);
    fd_ = ::open(QFile::encodeName(fileName).constData(),
                 O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) {
      const int error = errno;
      switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
          Fail(PictureFault::NotFound);
        case EACCES:
        case EPERM:
          Fail(PictureFault::NoPermission);
        case ENXIO:
        case EISDIR:
          Fail(PictureFault::NotRegularFile);
        default:
          Fail(PictureFault::ReadError, SystemReason(error));
      }
    }
    struct stat status {};
    if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))
      Fail(PictureFault::NotRegularFile);
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags != -1)
      ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    size_ = status.st_size;
  }
  ~OpenFile() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  int Fd() const { return fd_; }
  qint64 Size() const { return size_; }

 private:
  int fd_ = -1;
  qint64 size_ = 0;
};

DecodedPicture ReadFile(const QString& fileName, const ReadRequest& request) {
  return Guarded(fileName, [&] {
    OpenFile file(fileName);
    ByteSource source(file.Fd(), file.Size());
    return Decode(source, request);
  });
}

// Samples the picture down to at most `limit` (nearest pixel): a preview does not need more, and
// the dialog smooths it to its size.
TBitmap SampledDown(TBitmap&& picture, const QSize& limit) {
  if (picture.Width() <= limit.width() && picture.Height() <= limit.height())
    return std::move(picture);
  const QSize size = QSize(picture.Width(), picture.Height()).scaled(limit, Qt::KeepAspectRatio);
  TBitmap reduced(std::max(size.width(), 1), std::max(size.height(), 1), picture.PixelFormat());
  if (const TPalette* palette = picture.Palette())
    reduced.SetPalette(*palette);
  const int bytes = picture.BytesPerPixel();
  for (int y = 0; y < reduced.Height(); ++y) {
    const std::uint8_t* in =
        picture.ScanLine(static_cast<int>(qint64{y} * picture.Height() / reduced.Height()));
    std::uint8_t* out = reduced.ScanLine(y);
    for (int x = 0; x < reduced.Width(); ++x)
      std::memcpy(out + x * bytes,
                  in + static_cast<qint64>(x) * picture.Width() / reduced.Width() * bytes, bytes);
  }
  return reduced;
}

// ---- writing --------------------------------------------------------------------------------

SaveSettings SettingsOf(const SaveOptions& options) {
  return SaveSettings{options.jpegQuality, options.compression};
}

std::unique_ptr<RowWriter> StartWriter(const TBitmap& bitmap, int ready,
                                       const PictureFormatInfo& format, ByteSink& sink,
                                       const SaveOptions& options) {
  switch (format.format) {
    case PictureFormat::Png:
      return StartPng(bitmap, ready, sink, SettingsOf(options));
    case PictureFormat::Jpeg:
      return StartJpeg(bitmap, sink, SettingsOf(options));
    case PictureFormat::Tiff:
      return StartTiff(bitmap, sink, SettingsOf(options));
    case PictureFormat::Bmp:
      return StartBmp(sink);
    case PictureFormat::Pgm:
    case PictureFormat::Ppm:
      return StartPnm(bitmap, sink, format.format == PictureFormat::Pgm);
    default:
      Fail(PictureFault::UnsupportedSaveFormat);
  }
}

void Encode(const TBitmap& bitmap, const PictureFormatInfo& format, ByteSink& sink,
            const SaveOptions& options) {
  const std::unique_ptr<RowWriter> writer =
      StartWriter(bitmap, bitmap.Height(), format, sink, options);
  writer->Rows(bitmap, 0, bitmap.Height());
  writer->End(bitmap);
}

PictureFault WriteFault(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return PictureFault::DiskFull;
    case EACCES:
    case EPERM:
      return PictureFault::NoPermission;
    default:
      return PictureFault::CannotWrite;
  }
}

[[noreturn]] void FailWrite(int error) {
  Fail(WriteFault(error), SystemReason(error));
}

// The permissions a new file gets: what the process's mask leaves of read and write for all.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// A file written beside its target and renamed over it once complete; removed if it never is.
class ReplacingFile {
 public:
  explicit ReplacingFile(const QString& target) : target_(QFile::encodeName(target)) {
    const QFileInfo info(target);
    QByteArray pattern = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                           info.fileName() + QStringLiteral(".XXXXXX"));
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0)
      FailWrite(errno);
    temporary_ = pattern;
    struct stat existing {};
    const mode_t mode =
        ::stat(target_.constData(), &existing) == 0 ? existing.st_mode & 07777 : NewFileMode();
    ::fchmod(fd_, mode);
  }
  ~ReplacingFile() {
    if (fd_ >= 0)
      ::close(fd_);
    if (!temporary_.isEmpty())
      ::unlink(temporary_.constData());
  }
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  int Fd() const { return fd_; }

  void Commit() {
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
      FailWrite(errno);
    if (::rename(temporary_.constData(), target_.constData()) != 0)
      FailWrite(errno);
    temporary_.clear();
  }

 private:
  QByteArray target_;
  QByteArray temporary_;
  int fd_ = -1;
};

// Where a save really writes: through a symbolic link to its target. Anything existing that is
// not a regular file is refused: writing would replace a device or a pipe by a file.
QString SaveTarget(const QString& fileName) {
  const QFileInfo info(fileName);
  QString target = fileName;
  if (info.isSymLink()) {
    target = info.symLinkTarget();
    if (target.isEmpty())
      Fail(PictureFault::NotRegularFile);
  }
  struct stat status {};
  if (::stat(QFile::encodeName(target).constData(), &status) == 0) {
    if (!S_ISREG(status.st_mode))
      Fail(PictureFault::NotRegularFile);
  } else if (errno != ENOENT) {
    FailWrite(errno);
  }
  const QFileInfo resolved(target);
  if (!resolved.absoluteDir().exists())
    Fail(PictureFault::NoFolder, resolved.absolutePath());
  return target;
}

template <class Write>
void GuardedWrite(const QString& fileName, Write&& write) {
  try {
    write();
  } catch (const PictureFailure& failure) {
    throw PictureFileError(PictureAction::Save, fileName, failure.fault, failure.detail,
                           failure.declared, failure.number);
  } catch (const std::bad_alloc&) {
    throw PictureFileError(PictureAction::Save, fileName, PictureFault::OutOfMemory);
  }
}

const PictureFormatInfo& WritableFormat(const SaveOptions& options, const QString& fileName) {
  const PictureFormatInfo* format = options.format ? options.format : FormatOfFileName(fileName);
  if (format == nullptr || !format->writable)
    Fail(PictureFault::UnsupportedSaveFormat);
  return *format;
}

}  // namespace

void InstallToolkitReader(ToolkitReader reader) {
  Installed() = reader;
}

TBitmap LoadPictureFile(const QString& fileName, PictureRows* rows) {
  return ReadFile(fileName, ReadRequest{{}, 0, rows}).bitmap;
}

TBitmap LoadPictureData(const QByteArray& bytes, const QString& origin) {
  return Guarded(origin,
                 [&] {
                   ByteSource source(bytes.constData(), static_cast<std::size_t>(bytes.size()));
                   return Decode(source, ReadRequest{});
                 })
      .bitmap;
}

PicturePreview PreviewPictureFile(const QString& fileName, const QSize& box,
                                  qint64 maxFullDecodePixels) {
  DecodedPicture decoded = ReadFile(fileName, ReadRequest{box, maxFullDecodePixels, nullptr});
  return PicturePreview{SampledDown(std::move(decoded.bitmap), box * 2), decoded.size,
                        decoded.bitsPerPixel};
}

struct PictureSaver::State {
  State(const QString& name, const QString& target)
      : fileName(name), file(target), sink(file.Fd()) {}
  QString fileName;  // as given, for failures; `file` replaces what it leads to
  ReplacingFile file;
  ByteSink sink;
  std::unique_ptr<RowWriter> writer;
};

PictureSaver::PictureSaver(const TBitmap& picture, int ready, const QString& fileName,
                           const SaveOptions& options) {
  GuardedWrite(fileName, [&] {
    const PictureFormatInfo& format = WritableFormat(options, fileName);
    if (picture.Empty())
      Fail(PictureFault::NothingToSave);
    state_ = std::make_unique<State>(fileName, SaveTarget(fileName));
    state_->writer = StartWriter(picture, ready, format, state_->sink, options);
  });
}

PictureSaver::~PictureSaver() = default;

void PictureSaver::Rows(const TBitmap& picture, int first, int last) {
  GuardedWrite(state_->fileName, [&] { state_->writer->Rows(picture, first, last); });
}

void PictureSaver::Finish(const TBitmap& picture) {
  GuardedWrite(state_->fileName, [&] {
    state_->writer->End(picture);
    state_->sink.Flush();
    FailIfSinkFailed(state_->sink);
    state_->file.Commit();
  });
}

void SavePictureFile(const TBitmap& bitmap, const QString& fileName, const SaveOptions& options) {
  PictureSaver saver(bitmap, bitmap.Height(), fileName, options);
  saver.Rows(bitmap, 0, bitmap.Height());
  saver.Finish(bitmap);
}

QByteArray EncodePicture(const TBitmap& bitmap, const PictureFormatInfo& format,
                         const SaveOptions& options) {
  QByteArray bytes;
  GuardedWrite(QString(), [&] {
    if (!format.writable)
      Fail(PictureFault::UnsupportedSaveFormat);
    if (bitmap.Empty())
      Fail(PictureFault::NothingToSave);
    ByteSink sink;
    Encode(bitmap, format, sink, options);
    bytes = std::move(sink.Memory());
  });
  return bytes;
}
