// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes another program offers on the clipboard, under one of the types a picture may come as,
// through the grab's intake (HasFormat, then the bitmap takes the picture), then through the
// operations. The first byte picks the type: one of each picture format's, in the format table's
// order, then two that are no picture (see ClipboardType).

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <cstddef>
#include <cstdint>

#include "Clipboard.h"
#include "ClipboardPicture.h"
#include "Exception.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  StartToolkit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  auto* offer = new QMimeData;
  offer->setData(ClipboardType(data[0]), QByteArray(reinterpret_cast<const char*>(data + 1),
                                                    static_cast<qsizetype>(size - 1)));
  QGuiApplication::clipboard()->setMimeData(offer);

  if (Clipboard()->HasFormat(CF_DIB)) {
    TBitmap picture(3, 2, TPixelFormat::pf24bit);
    try {
      AssignClipboardPicture(&picture);
      RunOperations(picture);
    } catch (const Exception&) {
      // Refused with a message: the bitmap must be as it was.
      if (picture.Width() != 3 || picture.Height() != 2 ||
          picture.PixelFormat() != TPixelFormat::pf24bit)
        __builtin_trap();
    }
  }
  QGuiApplication::clipboard()->clear();
  return 0;
}
