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
  } catch (const PictureFileError&) {
    // Refused with a reason: what a bad file must get.
  }
  // The open dialog's preview, with its box and its limit of pixels decoded at full size.
  try {
    const PicturePreview preview = PreviewPictureFile(path, QSize(200, 200), 25'000'000);
    if (!preview.image.isNull() && (preview.image.width() > 200 || preview.image.height() > 200))
      __builtin_trap();
  } catch (const PictureFileError&) {
  }
  return 0;
}
