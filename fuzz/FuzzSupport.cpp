// SPDX-License-Identifier: GPL-3.0-or-later
#include "FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Grayscale.h"
#include "Laplacian.h"
#include "PictureFile.h"
#include "Threshold.h"
#include "ToolkitFormats.h"

namespace {

volatile int sink = 0;

}  // namespace

void StartToolkit() {
  if (QCoreApplication::instance() != nullptr)
    return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static char name[] = "ccdlab-fuzz";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  new QGuiApplication(argc, argv);  // lives as long as the process
  InstallToolkitFormats();
}

void Touch(const TBitmap& bitmap) {
  std::uint32_t sum = 0;
  for (int i = 0; i < bitmap.Height(); ++i) {
    const std::uint8_t* row = bitmap.ScanLine(i);
    for (std::size_t j = 0; j < bitmap.RowBytes(); ++j)
      sum = sum * 31 + row[j];
  }
  if (sum == 0x5eed)
    sink = sink + 1;
}

void RunOperations(const TBitmap& picture) {
  Touch(picture);
  // The chain: grey, binarize, edges.
  TBitmap processed;
  ConvertToGrey(picture, processed);
  Touch(processed);
  Threshold(processed, 128);
  Touch(processed);
  Laplacian(processed);
  Touch(processed);
  // Binarize and edges straight on the picture, at its own depth.
  TBitmap own;
  own.Assign(picture);
  Threshold(own, 100);
  Laplacian(own);
  Touch(own);
}

void WriteAndReadBack(const TBitmap& picture) {
  if (picture.Empty() || qint64{picture.Width()} * picture.Height() > 64 * 1024)
    return;
  for (const PictureFormatInfo& format : PictureFormats()) {
    if (!format.writable || format.format == PictureFormat::Jpeg ||
        format.format == PictureFormat::Pgm || format.format == PictureFormat::Ppm)
      continue;
    const TBitmap back = LoadPictureData(EncodePicture(picture, format));
    if (back.Width() != picture.Width() || back.Height() != picture.Height() ||
        back.PixelFormat() != picture.PixelFormat())
      __builtin_trap();
    for (int y = 0; y < picture.Height(); ++y)
      if (std::memcmp(back.ScanLine(y), picture.ScanLine(y), picture.RowBytes()) != 0)
        __builtin_trap();
  }
}

QString ClipboardType(std::uint8_t selector) {
  const auto formats = PictureFormats();
  const std::size_t index = selector % (formats.size() + 2);
  if (index < formats.size())
    return QLatin1String(formats[index].mimeTypes.front());
  return index == formats.size() ? QStringLiteral("application/x-qt-image")
                                 : QStringLiteral("text/plain");
}

MemoryFile::MemoryFile() : fd_(memfd_create("ccdlab-fuzz-input", MFD_CLOEXEC)) {
  if (fd_ < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  std::snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
}

MemoryFile::~MemoryFile() {
  ::close(fd_);
}

void MemoryFile::Write(const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(fd_, 0) != 0 ||
      (size > 0 && ::pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size))) {
    std::perror("memory file");
    std::abort();
  }
}
