// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes as a picture file, through the intake of the open command and the open dialog's preview,
// then through the operations.

#include <QString>
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "PictureFile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartToolkit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static MemoryFile file;
  static const QString path = QString::fromLatin1(file.Path());
  file.Write(data, size);

  try {
    const TBitmap picture = LoadPictureFile(path);
    RunOperations(picture);
    WriteAndReadBack(picture);
  } catch (const PictureFileError&) {
    // Refused with a reason: what a bad file must get.
  }
  // The open dialog's preview: never larger than twice its box.
  try {
    const QSize box(200, 200);
    const PicturePreview preview = PreviewPictureFile(path, box);
    if (preview.picture.Width() > 2 * box.width() || preview.picture.Height() > 2 * box.height())
      __builtin_trap();
  } catch (const PictureFileError&) {
  }
  return 0;
}
