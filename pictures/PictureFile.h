// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>
#include <memory>

#include "Bitmap.h"
#include "PictureError.h"
#include "PictureFormats.h"

// Reading and writing picture files: the one layer every command that meets a picture file, the
// clipboard or the command-line tool goes through. PNG, JPEG and TIFF go through their own
// libraries, the small formats through the toolkit's readers. Failures are PictureFileErrors.

// Pictures up to this many pixels wide and high load (16384 x 16384, 256 megapixels).
inline constexpr int kMaxPictureSide = 16384;

// Pictures up to this size are decoded at full size for a preview (a 24-megapixel photo takes a
// fraction of a second); larger ones only where the format reduces them while decoding (JPEG).
inline constexpr qint64 kPreviewFullDecodePixels = 25'000'000;

// Where a picture's rows go while it is read, so that work on the first rows can start before the
// last are in. Its own bitmap takes the picture, so that the rows stay where they are whatever
// becomes of the reading. Called on the thread that reads.
class PictureRows {
 public:
  virtual ~PictureRows() = default;
  // Picture() has its final size, depth and palette; its rows arrive top to bottom. Not called
  // where rows come otherwise (interlaced, turned, tiled pictures): the picture then comes whole
  // from LoadPictureFile, and Picture() stays empty.
  virtual void Begin() = 0;
  // The first `rows` rows hold their final pixels.
  virtual void Arrived(int rows) = 0;
  TBitmap& Picture() { return picture_; }

 private:
  TBitmap picture_;
};

// Reads a picture file into a bitmap, deciding its format from its content. Only regular files
// are opened; sizes are checked before pixels are allocated; a file that cannot be read
// completely and correctly is refused (after Begin too, when `rows` is given). A picture read into
// `rows` is left there, and the bitmap returned is empty.
TBitmap LoadPictureFile(const QString& fileName, PictureRows* rows = nullptr);

// The same for a stream that may not seek (standard input), read no further than its picture
// reaches: its format is known from its first bytes, and its length from its header where the
// format tells it (the largest picture allowed bounds the others), so that input beyond the
// picture is left unread, as the rest of a file would be. A stream that is a file is read as one.
// `origin` names it in failures.
TBitmap LoadPictureStream(int fd, const QString& origin, PictureRows* rows = nullptr);

// The same for a picture handed over as bytes (the clipboard, standard input); `origin` names it
// in failures and may be empty.
TBitmap LoadPictureData(const QByteArray& bytes, const QString& origin = {});

// What the open dialog shows of a file: the picture reduced towards `box` (empty when it is too
// large to decode for a glance), its own size and the bits per pixel it loads with.
struct PicturePreview {
  TBitmap picture;
  QSize size;
  int bitsPerPixel = 0;
};
PicturePreview PreviewPictureFile(const QString& fileName, const QSize& box,
                                  qint64 maxFullDecodePixels = kPreviewFullDecodePixels);

struct SaveOptions {
  const PictureFormatInfo* format = nullptr;  // by the file name's extension when not given
  int jpegQuality = 90;                       // 1 ... 100
  int compression = -1;                       // PNG and TIFF deflate level 0 ... 9; -1: default
};

// Writes the bitmap. 8-bit pictures keep their palette (padded to 256 entries), grey ones are
// written grey, 32-bit pictures keep their alpha where the format can hold it. The file appears
// complete or not at all: it is written beside the target and renamed over it, so a failure
// leaves an existing file as it was, and so does a signal that ends the program (SIGINT, SIGTERM,
// SIGHUP, where the program leaves them to end it). Symbolic links to a regular file are followed;
// any other existing target that is not a regular file is refused, and so is a file the user
// may not write. Names go to the file system byte for byte (see FileNames.h).
void SavePictureFile(const TBitmap& bitmap, const QString& fileName,
                     const SaveOptions& options = {});

// SavePictureFile in steps, for a picture whose rows come ready one after another (a picture still
// being read and worked on): the file is written as the rows come, and appears at Finish.
class PictureSaver {
 public:
  // `picture` has its final size, depth and palette; its first `ready` rows hold their pixels.
  PictureSaver(const TBitmap& picture, int ready, const QString& fileName,
               const SaveOptions& options = {});
  ~PictureSaver();
  PictureSaver(const PictureSaver&) = delete;
  PictureSaver& operator=(const PictureSaver&) = delete;

  // Rows [first, last) of the picture, after the rows before them.
  void Rows(const TBitmap& picture, int first, int last);
  // Every row has been given: the file takes its place.
  void Finish(const TBitmap& picture);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The bytes of the file SavePictureFile would write, in the given format.
QByteArray EncodePicture(const TBitmap& bitmap, const PictureFormatInfo& format,
                         const SaveOptions& options = {});
