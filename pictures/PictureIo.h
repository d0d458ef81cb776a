// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Bitmap.h"
#include "PictureError.h"
#include "PictureFile.h"
#include "PictureFormats.h"

// The plumbing the format readers and writers share: where bytes come from, where they go, and
// how a reader reports a failure. Not for use outside the picture-file layer.

// A failure inside a reader or writer; the layer adds what was being done and the file.
struct PictureFailure {
  PictureFault fault;
  QString detail;
  QSize declared;
  int number = 0;
};

[[noreturn]] void Fail(PictureFault fault, QString detail = {});
[[noreturn]] void FailTooLarge(qint64 width, qint64 height);
// Refuses sizes beyond the limit, before anything is allocated for them.
void CheckDeclaredSize(qint64 width, qint64 height);

// Bytes to read: an open file, read through a buffer, memory, or a stream that cannot seek (a
// pipe). Reads never raise: the C libraries call them from their own frames; a system failure is
// remembered and reported by the reader once the library has returned.
class ByteSource {
 public:
  ByteSource(int fd, qint64 size);
  ByteSource(const char* data, std::size_t size);
  // A stream, read only as far as a reader asks and kept, so that the reader may go back. It is
  // taken to end after `limit` bytes; Size() is that limit until its true end has been met.
  static ByteSource Stream(int fd, qint64 limit);
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // Up to `n` bytes; fewer only at the end of the bytes or on a system failure.
  std::size_t Read(void* target, std::size_t n);
  bool Seek(qint64 position);
  qint64 Position() const { return position_; }
  qint64 Size() const { return size_; }
  int SystemError() const { return error_; }

  int Fd() const { return fd_; }
  const char* Memory() const { return memory_; }

  // For a stream: lowers its limit; reads everything up to it; the bytes read so far; whether it
  // held more than its limit (known once a read reached the limit).
  void Limit(qint64 limit);
  void ReadToLimit();
  const QByteArray& Kept() const { return kept_; }
  bool Cut() const { return cut_; }

 private:
  struct StreamTag {};
  ByteSource(int fd, qint64 limit, StreamTag);
  bool Fill();
  void Keep(qint64 end);

  int fd_ = -1;
  const char* memory_ = nullptr;
  qint64 size_ = 0;
  qint64 position_ = 0;
  std::vector<char> buffer_;
  qint64 bufferStart_ = 0;
  std::size_t bufferFill_ = 0;
  int error_ = 0;
  bool stream_ = false;
  bool ended_ = false;
  bool cut_ = false;
  bool limited_ = false;
  QByteArray kept_;
};

// Bytes to write: a file through a buffer, or memory. Writes never raise either; the first system
// failure is remembered and every later write fails.
class ByteSink {
 public:
  explicit ByteSink(int fd);  // not owned
  ByteSink();                 // into memory
  ~ByteSink();
  ByteSink(const ByteSink&) = delete;
  ByteSink& operator=(const ByteSink&) = delete;

  bool Write(const void* data, std::size_t n);
  bool Flush();
  int SystemError() const { return error_; }
  bool Failed() const { return error_ != 0; }
  QByteArray& Memory() { return memory_; }

 private:
  bool WriteThrough(const char* bytes, std::size_t n);

  int fd_ = -1;
  std::vector<char> buffer_;
  QByteArray memory_;
  int error_ = 0;
};

// What a reader is asked for.
struct ReadRequest {
  QSize box;  // valid: a preview reduced to fit this box (roughly: it may stay larger)
  qint64 maxFullDecodePixels = 0;  // for a preview: pictures larger than this are not decoded
                                   // unless the format can reduce them while decoding
  PictureRows* rows = nullptr;     // told of rows as they arrive, where they arrive in order
};

// Tells `rows`, where given, that the first `done` of a picture's `height` rows hold their pixels:
// every few rows, and at the last.
void RowsDone(PictureRows* rows, int done, int height);

// What a reader gives: the picture (empty for a preview skipped as too large), the size and
// bits per pixel it has in the file.
struct DecodedPicture {
  TBitmap bitmap;
  QSize size;
  int bitsPerPixel = 0;
};

// Raise the failure a system error of the source or the sink stands for, if there was one.
void FailIfSourceFailed(const ByteSource& source);
void FailIfSinkFailed(const ByteSink& sink);

// Whether a preview of a picture of this size is to be skipped.
bool PreviewTooLarge(const ReadRequest& request, qint64 width, qint64 height);

struct SaveSettings {
  int jpegQuality;
  int compression;  // deflate level 0 ... 9
};

// Writes a picture row by row, top to bottom, as its rows become ready: Rows for each band in
// turn, then End. `bitmap` is the picture each time; its size, depth and palette never change.
class RowWriter {
 public:
  virtual ~RowWriter() = default;
  virtual void Rows(const TBitmap& bitmap, int first, int last) = 0;
  virtual void End(const TBitmap& bitmap) = 0;
};

// The picture as it is meant to be seen, for an orientation tag (EXIF or TIFF) of 2 ... 8.
TBitmap Oriented(TBitmap&& bitmap, int orientation);

// Copies a row of 3- or 4-byte pixels, exchanging the first and third byte of each: the model's
// blue, green, red (alpha) to the red, green, blue (alpha) of the files, and back.
void SwapRedAndBlue(const std::uint8_t* in, std::uint8_t* out, int width, int bytesPerPixel);

// The colour an 8-bit picture shows for index k: its palette's, black beyond a short palette, the
// grey ramp without one.
TPaletteEntry ShownColour(const TBitmap& bitmap, int k);
