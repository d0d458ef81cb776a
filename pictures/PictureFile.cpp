// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureFile.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <new>

#include "FileNames.h"
#include "PictureIo.h"
#include "PnmNumber.h"
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

// The folder part of a path, without the last slash; "." for a bare name.
QByteArray FolderOf(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  if (slash < 0)
    return QByteArrayLiteral(".");
  return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// The module lies beside the program as it lies when installed: <prefix>/lib/ccdlab/.
ToolkitReader LoadToolkitModule() {
  QList<QByteArray> candidates;
  char self[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0)
    candidates << FolderOf(QByteArray(self, length)) + "/../lib/ccdlab/" CCDLAB_TOOLKIT_MODULE;
  candidates << QByteArrayLiteral(CCDLAB_MODULE_DIR "/" CCDLAB_TOOLKIT_MODULE);
  for (const QByteArray& path : candidates) {
    void* module = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
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

DecodedPicture DecodeAs(PictureFormat format, ByteSource& source, const ReadRequest& request) {
  if (const PictureReader read = FormatInfo(format).read)
    return read(source, request);
  return ReadWithToolkit(source, format, request);
}

// The format the first bytes show, the source back at its start.
PictureFormat DetectFormat(ByteSource& source) {
  unsigned char head[kPictureSignatureBytes] = {};
  const std::size_t got = source.Read(head, sizeof head);
  FailIfSourceFailed(source);
  if (got == 0)
    Fail(PictureFault::EmptyFile);
  source.Seek(0);
  const std::optional<PictureFormat> format = DetectPictureFormat(head, got);
  if (!format)
    Fail(PictureFault::NotAPicture);
  return *format;
}

DecodedPicture Decode(ByteSource& source, const ReadRequest& request) {
  if (source.Size() == 0)
    Fail(PictureFault::EmptyFile);
  return DecodeAs(DetectFormat(source), source, request);
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
    fd_ = ::open(FileNameBytes(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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

// ---- reading a stream -----------------------------------------------------------------------

// How far a stream is read for a picture whose header does not tell its length: the largest
// picture allowed at eight bytes a pixel (16-bit colour with alpha, the deepest any format here
// holds), uncompressed. A file of a picture within the limit is no longer unless it carries more
// than its picture.
constexpr qint64 kMaxStreamBytes = qint64{kMaxPictureSide} * kMaxPictureSide * 8;

quint32 Le16(const unsigned char* p) {
  return p[0] | (p[1] << 8);
}
quint32 Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (quint32{p[3]} << 24);
}

bool PnmNumber(ByteSource& source, qint64& value) {
  return ReadPnmNumber([&source](char& c) { return source.Read(&c, 1) == 1; }, value);
}

bool WithinLimit(qint64 width, qint64 height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide;
}

// The bytes a binary PNM takes: its header, then its rows. A header the reader refuses by itself
// is all it needs.
std::optional<qint64> PnmLength(ByteSource& source) {
  char magic[2] = {};
  if (source.Read(magic, 2) != 2 || magic[1] < '4' || magic[1] > '6')
    return std::nullopt;  // the text variants: no length to tell
  const int kind = magic[1] - '0';
  qint64 width = 0;
  qint64 height = 0;
  qint64 maxValue = 1;
  if (!PnmNumber(source, width) || !PnmNumber(source, height))
    return std::nullopt;
  if (!WithinLimit(width, height))
    return source.Position();
  if (kind != 4 && !PnmNumber(source, maxValue))
    return std::nullopt;
  if (maxValue < 1 || maxValue > 65535)
    return source.Position();
  const qint64 rowBytes =
      kind == 4 ? (width + 7) / 8 : width * (maxValue > 255 ? 2 : 1) * (kind == 6 ? 3 : 1);
  return source.Position() + rowBytes * height;
}

// The bytes an uncompressed BMP takes: its headers, its palette or colour masks, then its rows.
std::optional<qint64> BmpLength(ByteSource& source) {
  unsigned char h[14 + 40] = {};
  const std::size_t got = source.Read(h, sizeof h);
  if (got < 26)
    return std::nullopt;
  const quint32 infoSize = Le32(h + 14);
  qint64 width = 0;
  qint64 height = 0;
  quint32 bits = 0;
  quint32 compression = 0;
  quint32 coloursUsed = 0;
  int entryBytes = 4;
  if (infoSize == 12) {
    width = static_cast<qint16>(Le16(h + 18));
    height = static_cast<qint16>(Le16(h + 20));
    bits = Le16(h + 24);
    entryBytes = 3;
  } else if ((infoSize == 40 || infoSize == 64 || infoSize == 108 || infoSize == 124) &&
             got == sizeof h) {
    width = static_cast<qint32>(Le32(h + 18));
    height = static_cast<qint32>(Le32(h + 22));
    bits = Le16(h + 28);
    compression = Le32(h + 30);
    coloursUsed = Le32(h + 46);
  } else {
    return std::nullopt;
  }
  const bool masks = compression == 3 && (bits == 16 || bits == 32);
  if ((compression != 0 && !masks) ||
      !(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32))
    return std::nullopt;  // run-length data: no length to tell
  height = std::abs(height);
  const qint64 colours = bits > 8 ? 0 : coloursUsed != 0 ? coloursUsed : qint64{1} << bits;
  if (!WithinLimit(width, height) || colours > 256)
    return static_cast<qint64>(got);
  const qint64 paletteEnd =
      14 + infoSize + (masks && infoSize < 108 ? 12 : 0) + colours * entryBytes;
  return std::max<qint64>(Le32(h + 10), paletteEnd) + (width * bits + 31) / 32 * 4 * height;
}

DecodedPicture ReadStream(int fd, const ReadRequest& request) {
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ::lseek(fd, 0, SEEK_CUR) == 0) {
    ByteSource file(fd, status.st_size);
    return Decode(file, request);
  }
  ByteSource stream = ByteSource::Stream(fd, kMaxStreamBytes);
  const PictureFormat format = DetectFormat(stream);
  std::optional<qint64> length;
  if (format == PictureFormat::Pbm || format == PictureFormat::Pgm || format == PictureFormat::Ppm)
    length = PnmLength(stream);
  else if (format == PictureFormat::Bmp)
    length = BmpLength(stream);
  if (length)
    stream.Limit(*length);
  stream.Seek(0);
  try {
    // These two read on from where they are, as the bytes come.
    if (format == PictureFormat::Png || format == PictureFormat::Jpeg)
      return DecodeAs(format, stream, request);
    stream.ReadToLimit();
    FailIfSourceFailed(stream);
    ByteSource whole(stream.Kept().constData(), static_cast<std::size_t>(stream.Kept().size()));
    return DecodeAs(format, whole, request);
  } catch (const PictureFailure& failure) {
    // Cut off at the most any picture allowed takes: the rest is missing, not damaged.
    if (!length && stream.Cut() && failure.fault == PictureFault::Damaged)
      Fail(PictureFault::TooLarge);
    throw;
  }
}

// Samples the picture down to at most `limit` (nearest pixel): a preview does not need more, and
// the dialog smooths it to its size.
TBitmap SampledDown(TBitmap&& picture, const QSize& limit) {
  if (picture.Width() <= limit.width() && picture.Height() <= limit.height())
    return std::move(picture);
  const QSize size = QSize(picture.Width(), picture.Height()).scaled(limit, Qt::KeepAspectRatio);
  return SampledBitmap(picture, std::max(size.width(), 1), std::max(size.height(), 1));
}

// ---- writing --------------------------------------------------------------------------------

SaveSettings SettingsOf(const SaveOptions& options) {
  return SaveSettings{options.jpegQuality, options.compression};
}

std::unique_ptr<RowWriter> StartWriter(const TBitmap& bitmap, int ready,
                                       const PictureFormatInfo& format, ByteSink& sink,
                                       const SaveOptions& options) {
  if (format.write == nullptr)
    Fail(PictureFault::UnsupportedSaveFormat);
  return format.write(bitmap, ready, sink, SettingsOf(options));
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

// ---- temporary files and the signals that end the program ---------------------------------

// The temporary files of the saves under way, where a signal that ends the program finds them:
// fixed slots that its handler reads without a lock or an allocation.
struct PendingFile {
  enum State { kFree, kFilling, kArmed };
  std::atomic<int> state{kFree};
  char name[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "read by a signal handler");

PendingFile gPending[16];

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the temporary files, then lets the signal end the program as it would have.
extern "C" void RemovePendingFiles(int signal) {
  for (PendingFile& file : gPending) {
    int armed = PendingFile::kArmed;
    if (file.state.compare_exchange_strong(armed, PendingFile::kFilling))
      ::unlink(file.name);
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

// Only where the signal would end the program: one ignored or handled by the program stays so.
void CatchEndingSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal : kEndingSignals) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) != 0 ||
          current.sa_handler != SIG_DFL)
        continue;
      struct sigaction action {};
      action.sa_handler = &RemovePendingFiles;
      sigemptyset(&action.sa_mask);
      for (const int other : kEndingSignals)
        sigaddset(&action.sa_mask, other);
      ::sigaction(signal, &action, nullptr);
    }
  });
}

// Another's file can be replaced only by one of the writer's own; its group may still be kept.
bool KeepOwner(int fd, const struct stat& existing) {
  return ::fchown(fd, existing.st_uid, existing.st_gid) == 0 ||
         ::fchown(fd, static_cast<uid_t>(-1), existing.st_gid) == 0;
}

// A file written beside its target and renamed over it once complete; removed if it never is,
// also when a signal ends the program first.
class ReplacingFile {
 public:
  explicit ReplacingFile(const QByteArray& target) : target_(target) {
    CatchEndingSignals();
    QByteArray pattern =
        FolderOf(target) + "/." + target.mid(target.lastIndexOf('/') + 1) + ".XXXXXX";
    if (pattern.size() < static_cast<qsizetype>(sizeof pending_->name))
      for (PendingFile& file : gPending) {
        int free = PendingFile::kFree;
        if (file.state.compare_exchange_strong(free, PendingFile::kFilling)) {
          pending_ = &file;
          break;
        }
      }
    // The name is made in its slot, so that it is armed as soon as the file exists.
    char* name = pattern.data();
    if (pending_ != nullptr)
      name = std::strcpy(pending_->name, pattern.constData());
    fd_ = ::mkostemp(name, O_CLOEXEC);
    if (fd_ < 0) {
      const int error = errno;
      Release();
      FailWrite(error);
    }
    if (pending_ != nullptr) {
      pending_->state.store(PendingFile::kArmed);
      armed_ = true;
    }
    temporary_ = QByteArray(name);
    // The replacement keeps what it can of the file it replaces: owner, group and permissions.
    struct stat existing {};
    mode_t mode = NewFileMode();
    if (::stat(target_.constData(), &existing) == 0) {
      mode = existing.st_mode & 07777;
      KeepOwner(fd_, existing);
    }
    ::fchmod(fd_, mode);
  }
  ~ReplacingFile() {
    if (fd_ >= 0)
      ::close(fd_);
    if (!temporary_.isEmpty())
      ::unlink(temporary_.constData());
    Release();
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
    Release();
  }

 private:
  // A handler that took the slot first has removed the file and is ending the program.
  void Release() {
    int armed = PendingFile::kArmed;
    if (pending_ != nullptr && armed_)
      pending_->state.compare_exchange_strong(armed, PendingFile::kFree);
    else if (pending_ != nullptr)
      pending_->state.store(PendingFile::kFree);
    pending_ = nullptr;
  }

  QByteArray target_;
  QByteArray temporary_;
  PendingFile* pending_ = nullptr;
  bool armed_ = false;
  int fd_ = -1;
};

// The path from the working folder's, for a name that is relative.
QByteArray Absolute(const QByteArray& path) {
  if (path.startsWith('/'))
    return path;
  char folder[PATH_MAX];
  if (::getcwd(folder, sizeof folder) == nullptr)
    return path;
  return QByteArray(folder) + '/' + path;
}

// Where a save really writes: through symbolic links to their target. Anything existing that is
// not a regular file is refused: writing would replace a device or a pipe by a file. So is a file
// the user may not write, as opening it would be: replacing it needs only the folder's leave.
QByteArray SaveTarget(const QString& fileName) {
  QByteArray target = Absolute(FileNameBytes(fileName));
  for (int links = 0;; ++links) {
    struct stat status {};
    if (::lstat(target.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
      break;
    if (links == 40)
      FailWrite(ELOOP);
    QByteArray next(PATH_MAX, '\0');
    const ssize_t length = ::readlink(target.constData(), next.data(), next.size());
    if (length <= 0 || length == next.size())
      Fail(PictureFault::NotRegularFile);
    next.truncate(length);
    target = next.startsWith('/') ? next : FolderOf(target) + '/' + next;
  }
  struct stat status {};
  if (::stat(target.constData(), &status) == 0) {
    if (!S_ISREG(status.st_mode))
      Fail(PictureFault::NotRegularFile);
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
      FailWrite(errno);
  } else if (errno != ENOENT) {
    FailWrite(errno);
  }
  const QByteArray folder = FolderOf(target);
  if (::stat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode))
    Fail(PictureFault::NoFolder, FileNameFromBytes(folder));
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

TBitmap LoadPictureStream(int fd, const QString& origin, PictureRows* rows) {
  return Guarded(origin, [&] { return ReadStream(fd, ReadRequest{{}, 0, rows}); }).bitmap;
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
  State(const QString& name, const QByteArray& target)
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
