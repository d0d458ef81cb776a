// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureIo.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "PictureFile.h"

namespace {

constexpr std::size_t kReadChunk = 256 * 1024;
constexpr std::size_t kWriteChunk = 1024 * 1024;

}  // namespace

void Fail(PictureFault fault, QString detail) {
  throw PictureFailure{fault, std::move(detail), {}, 0};
}

void FailTooLarge(qint64 width, qint64 height) {
  throw PictureFailure{PictureFault::TooLarge,
                       {},
                       QSize(static_cast<int>(std::min<qint64>(width, INT_MAX)),
                             static_cast<int>(std::min<qint64>(height, INT_MAX))),
                       0};
}

void CheckDeclaredSize(qint64 width, qint64 height) {
  if (width > kMaxPictureSide || height > kMaxPictureSide)
    FailTooLarge(width, height);
  if (width <= 0 || height <= 0)
    Fail(PictureFault::Damaged);
}

void FailIfSourceFailed(const ByteSource& source) {
  if (source.SystemError() != 0)
    Fail(PictureFault::ReadError, QString::fromLocal8Bit(std::strerror(source.SystemError())));
}

void FailIfSinkFailed(const ByteSink& sink) {
  if (!sink.Failed())
    return;
  const int error = sink.SystemError();
  Fail(error == ENOSPC || error == EDQUOT ? PictureFault::DiskFull : PictureFault::CannotWrite,
       QString::fromLocal8Bit(std::strerror(error)));
}

bool PreviewTooLarge(const ReadRequest& request, qint64 width, qint64 height) {
  return request.box.isValid() && width * height > request.maxFullDecodePixels;
}

ByteSource::ByteSource(int fd, qint64 size) : fd_(fd), size_(size), buffer_(kReadChunk) {}

ByteSource::ByteSource(const char* data, std::size_t size)
    : memory_(data), size_(static_cast<qint64>(size)) {}

ByteSource::ByteSource(int fd, qint64 limit, StreamTag) : fd_(fd), size_(limit), stream_(true) {}

ByteSource ByteSource::Stream(int fd, qint64 limit) {
  return ByteSource(fd, limit, StreamTag{});
}

void ByteSource::Limit(qint64 limit) {
  limited_ = true;
  size_ = std::min(size_, limit);
  if (kept_.size() > size_) {
    cut_ = true;
    kept_.truncate(size_);
  }
}

void ByteSource::ReadToLimit() {
  Keep(size_);
}

// Reads the stream on until `end` bytes are kept, it ends, or it fails; never more than asked, so
// that what follows a picture stays in the stream. At the limit it was made with, one byte more
// tells whether the stream held more.
void ByteSource::Keep(qint64 end) {
  end = std::min(end, size_);
  while (kept_.size() < end && !ended_ && error_ == 0) {
    const qint64 before = kept_.size();
    const qint64 want = std::min<qint64>(kReadChunk, end - before);
    if (kept_.capacity() < before + want)
      kept_.reserve(std::min(size_, std::max(2 * kept_.capacity(), before + want)));
    kept_.resize(before + want);
    const ssize_t got = ::read(fd_, kept_.data() + before, static_cast<std::size_t>(want));
    kept_.resize(before + std::max<ssize_t>(got, 0));
    if (got < 0 && errno != EINTR)
      error_ = errno;
    else if (got == 0)
      ended_ = true;
  }
  if (kept_.size() == size_ && !limited_ && !ended_ && !cut_ && error_ == 0) {
    char probe = 0;
    ssize_t got = 0;
    while ((got = ::read(fd_, &probe, 1)) < 0 && errno == EINTR) {
    }
    cut_ = got > 0;
    ended_ = got == 0;
    if (got < 0)
      error_ = errno;
  }
  if (ended_)
    size_ = kept_.size();
}

bool ByteSource::Fill() {
  if (error_ != 0 || position_ >= size_)
    return false;
  if (position_ >= bufferStart_ && position_ < bufferStart_ + static_cast<qint64>(bufferFill_))
    return true;
  if (::lseek(fd_, position_, SEEK_SET) < 0) {
    error_ = errno;
    return false;
  }
  bufferStart_ = position_;
  bufferFill_ = 0;
  while (bufferFill_ < buffer_.size()) {
    const ssize_t got = ::read(fd_, buffer_.data() + bufferFill_, buffer_.size() - bufferFill_);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      error_ = errno;
      return false;
    }
    if (got == 0)
      break;
    bufferFill_ += static_cast<std::size_t>(got);
  }
  return bufferFill_ > 0;
}

std::size_t ByteSource::Read(void* target, std::size_t n) {
  auto* out = static_cast<char*>(target);
  std::size_t done = 0;
  if (stream_) {
    Keep(position_ + static_cast<qint64>(n));
    done = static_cast<std::size_t>(
        std::clamp<qint64>(kept_.size() - position_, 0, static_cast<qint64>(n)));
    if (done > 0)
      std::memcpy(out, kept_.constData() + position_, done);
    position_ += static_cast<qint64>(done);
    return done;
  }
  if (memory_ != nullptr || fd_ < 0) {
    const qint64 available = std::max<qint64>(size_ - position_, 0);
    done = static_cast<std::size_t>(std::min<qint64>(static_cast<qint64>(n), available));
    if (done > 0)
      std::memcpy(out, memory_ + position_, done);
    position_ += static_cast<qint64>(done);
    return done;
  }
  while (done < n && Fill()) {
    const std::size_t offset = static_cast<std::size_t>(position_ - bufferStart_);
    const std::size_t take = std::min(n - done, bufferFill_ - offset);
    std::memcpy(out + done, buffer_.data() + offset, take);
    done += take;
    position_ += static_cast<qint64>(take);
  }
  return done;
}

bool ByteSource::Seek(qint64 position) {
  if (position < 0 || position > size_)
    return false;
  position_ = position;
  return true;
}

ByteSink::ByteSink(int fd) : fd_(fd) {
  buffer_.reserve(kWriteChunk);
}

ByteSink::ByteSink() = default;

ByteSink::~ByteSink() = default;

bool ByteSink::Write(const void* data, std::size_t n) {
  if (error_ != 0)
    return false;
  if (fd_ < 0) {
    memory_.append(static_cast<const char*>(data), static_cast<qsizetype>(n));
    return true;
  }
  const char* bytes = static_cast<const char*>(data);
  if (buffer_.size() + n > kWriteChunk && !Flush())
    return false;
  if (n >= kWriteChunk)
    return WriteThrough(bytes, n);  // large blocks go straight to the file
  buffer_.insert(buffer_.end(), bytes, bytes + n);
  return true;
}

bool ByteSink::Flush() {
  if (error_ != 0 || !WriteThrough(buffer_.data(), buffer_.size()))
    return false;
  buffer_.clear();
  return true;
}

bool ByteSink::WriteThrough(const char* bytes, std::size_t n) {
  while (n > 0) {
    const ssize_t put = ::write(fd_, bytes, n);
    if (put < 0) {
      if (errno == EINTR)
        continue;
      error_ = errno;
      return false;
    }
    bytes += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

void RowsDone(PictureRows* rows, int done, int height) {
  // Often enough for the work on them to follow closely, seldom enough to cost nothing.
  constexpr int kRowsPerReport = 32;
  if (rows != nullptr && (done % kRowsPerReport == 0 || done == height))
    rows->Arrived(done);
}

void SwapRedAndBlue(const std::uint8_t* in, std::uint8_t* out, int width, int bytesPerPixel) {
  const int n = bytesPerPixel;
  for (int x = 0; x < width; ++x) {
    out[x * n + 0] = in[x * n + 2];
    out[x * n + 1] = in[x * n + 1];
    out[x * n + 2] = in[x * n + 0];
    if (n == 4)
      out[x * 4 + 3] = in[x * 4 + 3];
  }
}

TPaletteEntry ShownColour(const TBitmap& bitmap, int k) {
  const TPalette* palette = bitmap.Palette();
  if (palette == nullptr) {
    const auto v = static_cast<std::uint8_t>(k);
    return TPaletteEntry{v, v, v, 0};
  }
  TPaletteEntry entry{0, 0, 0, 0};
  palette->GetEntry(k, entry);
  return entry;
}

TBitmap Oriented(TBitmap&& bitmap, int orientation) {
  if (orientation <= 1 || orientation > 8)
    return std::move(bitmap);
  // What each tag asks: 2 mirrored, 3 turned half round, 4 flipped, 5 transposed, 6 turned
  // right, 7 transversed, 8 turned left; as swapping x and y, then running either backwards.
  struct Turn {
    bool transpose, backwardsX, backwardsY;
  };
  static constexpr Turn kTurns[] = {
      {false, false, false}, {false, false, false}, {false, true, false},
      {false, true, true},   {false, false, true},  {true, false, false},
      {true, true, false},   {true, true, true},    {true, false, true}};
  const Turn turn = kTurns[orientation];
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  const int newWidth = turn.transpose ? height : width;
  const int newHeight = turn.transpose ? width : height;
  TBitmap result(newWidth, newHeight, bitmap.PixelFormat());
  if (const TPalette* palette = bitmap.Palette())
    result.SetPalette(*palette);
  const int bytes = bitmap.BytesPerPixel();
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const int u = turn.transpose ? y : x;
      const int v = turn.transpose ? x : y;
      const int tx = turn.backwardsX ? newWidth - 1 - u : u;
      const int ty = turn.backwardsY ? newHeight - 1 - v : v;
      std::memcpy(result.ScanLine(ty) + tx * bytes, in + x * bytes, bytes);
    }
  }
  return result;
}
