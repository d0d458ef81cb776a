// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

#include <QString>

#include "Bitmap.h"

// What the fuzz targets share: the toolkit they need, and the operations run on every picture
// that gets in.

// Brings up the toolkit once, on the offscreen platform: the picture decoders and the clipboard
// need an application object, never a display.
void StartToolkit();

// Reads every pixel byte of the bitmap and branches on what it read, so that a memory checker
// (valgrind) reports a picture holding bytes that nobody wrote.
void Touch(const TBitmap& bitmap);

// What the window's buttons do to a picture that got in: grey levels, a threshold and the edge
// image, chained and each on the picture itself.
void RunOperations(const TBitmap& picture);

// Writes the picture in every lossless format the program writes and reads it back: the bytes
// must come back as they were (traps otherwise). Large pictures are left out, for speed.
void WriteAndReadBack(const TBitmap& picture);

// The clipboard type the first byte of a clipboard input stands for: each picture format's first
// MIME type in the format table's order, then the toolkit's own image type, then plain text,
// round and round.
QString ClipboardType(std::uint8_t selector);

// A file in memory whose contents each input replaces, so that the file intake reads real files
// without touching the disk.
class MemoryFile {
 public:
  MemoryFile();
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // Replaces the contents; the path stays the same.
  void Write(const std::uint8_t* data, std::size_t size);
  const char* Path() const { return path_; }

 private:
  int fd_;
  char path_[64];
};
