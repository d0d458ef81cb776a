// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>

// Every picture format the program knows, in the order the open dialog lists them.
enum class PictureFormat { Png, Jpeg, Tiff, Bmp, Gif, Ico, Cur, Pbm, Pgm, Ppm, Xbm, Xpm };

class ByteSink;
class ByteSource;
class RowWriter;
class TBitmap;
struct DecodedPicture;
struct ReadRequest;
struct SaveSettings;

// A codec's reader (PictureIo.h).
using PictureReader = DecodedPicture (*)(ByteSource& source, const ReadRequest& request);
// A codec's writer: it starts on a picture whose first `ready` rows hold their pixels (PNG
// chooses its filter by them), and is given the rest as they come.
using PictureWriter = std::unique_ptr<RowWriter> (*)(const TBitmap& bitmap, int ready,
                                                     ByteSink& sink, const SaveSettings& settings);

// What the program knows of one format: the one table that the open and save dialogs, the
// command-line tool, the clipboard, the fuzzers and the file layer's reading and writing all ask.
struct PictureFormatInfo {
  PictureFormat format;
  const char* name;         // the command line's name for it, and its usual extension
  const char* label;        // how the dialogs name it
  const char* toolkitName;  // the name the toolkit's readers know it by
  std::span<const char* const> mimeTypes;  // how the clipboard names it
  std::span<const char* const> extensions;
  bool byToolkit;         // read by the toolkit's readers rather than a format library
  bool writable;          // the program writes it
  bool offeredForSaving;  // listed by the save dialog
  PictureReader read;     // none: the toolkit's readers
  PictureWriter write;    // none: not writable
};

std::span<const PictureFormatInfo> PictureFormats();
const PictureFormatInfo& FormatInfo(PictureFormat format);

// The format a clipboard offers under this MIME type, if the program reads it.
const PictureFormatInfo* FormatOfMimeType(const QString& mimeType);

// The format whose name or one of whose extensions this is, ignoring case.
const PictureFormatInfo* FormatNamed(const QString& nameOrExtension);
// The format the file name's extension names, if any.
const PictureFormatInfo* FormatOfFileName(const QString& fileName);

// The format the first bytes of a file show, if it is one the program reads. Sixteen bytes are
// enough for every format.
std::optional<PictureFormat> DetectPictureFormat(const unsigned char* head, std::size_t size);
inline constexpr std::size_t kPictureSignatureBytes = 16;

// The filters of an open dialog: all readable pictures first, then each format, then all files.
QStringList OpenPictureFilters();
// The filters of a save dialog, one per format it offers, the first the default.
QStringList SavePictureFilters();
// The format a save filter stands for.
const PictureFormatInfo* FormatOfSaveFilter(const QString& filter);
