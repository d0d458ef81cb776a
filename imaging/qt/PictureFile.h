#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include "Bitmap.h"
#include "Exception.h"

// Why a picture file could not be read or written.
enum class PictureFault {
  NotFound,        // no such file
  NotRegularFile,  // a folder, named pipe, socket or device
  NoPermission,    // the file may not be read
  NotAPicture,     // no picture format this program reads
  Damaged,         // cut short or corrupt: the file does not hold what its header promises
  TooLarge,        // declared size beyond kMaxPictureSide x kMaxPictureSide
  ReadError,       // the system failed to read it
  OutOfMemory,     // the picture fits the limits but not into memory
  CannotWrite,     // the target could not be written
  UnsupportedSaveFormat,
  NothingToSave,
};

// A failure to read or write a picture file; the message names the file and the reason.
class PictureFileError : public Exception {
 public:
  PictureFileError(PictureFault fault, QString message, QSize declared = {})
      : Exception(std::move(message)), fault_(fault), declared_(declared) {}
  PictureFault Fault() const { return fault_; }
  // For TooLarge: the size the picture declares, when known.
  QSize Declared() const { return declared_; }

 private:
  PictureFault fault_;
  QSize declared_;
};

// Pictures up to this many pixels wide and high load (16384 x 16384, 256 megapixels).
inline constexpr int kMaxPictureSide = 16384;

// Reads a picture file into a bitmap, deciding its format from its content. A file that cannot be
// read completely and correctly raises a PictureFileError whose text names the file and the
// reason; only regular files are opened, and sizes are checked before pixels are allocated.
TBitmap LoadPictureFile(const QString& fileName);

// Decodes a picture handed over as bytes (another program's, through the clipboard) with the
// checks and limits LoadPictureFile applies to a file. Raises a PictureFileError whose message is
// the reason alone.
QImage DecodePictureData(const QByteArray& bytes);

// What the open dialog shows of a file: the picture reduced to fit `box` (null when it is too
// big to decode quickly), its size and the bits per pixel it loads with.
struct PicturePreview {
  QImage image;
  QSize size;
  int bitsPerPixel = 0;
};

// Reads a picture for a preview with the same checks as LoadPictureFile (and the same failures),
// but never decodes more than `maxDecodedPixels` pixels at full size.
PicturePreview PreviewPictureFile(const QString& fileName, const QSize& box,
                                  qint64 maxDecodedPixels);

// Writes the bitmap in the format named by the extension: .png, .bmp, .jpg/.jpeg, .ppm, .pgm.
// 8-bit pictures keep their palette (padded to 256 entries) in PNG and BMP; 32-bit pictures keep
// their alpha in PNG and BMP. The file appears complete or not at all: a failure leaves an
// existing file as it was.
void SavePictureFile(const TBitmap& bitmap, const QString& fileName);

// The filters of a picture open dialog: all readable pictures first, then one per raster format,
// then all files.
QStringList PictureFileFilters();
