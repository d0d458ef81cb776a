// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

#include "Bitmap.h"

// Clipboard format numbers the program asks about.
inline constexpr unsigned short CF_DIB = 8;  // a device-independent bitmap: a picture

// The system clipboard.
class TClipboard {
 public:
  // CF_DIB: true when the clipboard offers a picture in a format the toolkit can decode.
  // Any other format: false.
  bool HasFormat(unsigned short format) const;

  // The picture on offer, decoded; an empty bitmap when there is none. A picture that cannot be
  // read completely and correctly (as a picture file would be read), or whose size exceeds
  // 16384 pixels a side, raises an Exception before anything large is allocated.
  TBitmap Picture() const;

  // Puts the picture on the clipboard in place of whatever it held.
  void SetPicture(const QImage& picture);
  // Puts plain text on the clipboard in place of whatever it held.
  void SetText(const QString& text);
};

TClipboard* Clipboard();
