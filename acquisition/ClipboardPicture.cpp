// SPDX-License-Identifier: GPL-3.0-or-later
#include "ClipboardPicture.h"

#include "Clipboard.h"
#include "Exception.h"

void AssignClipboardPicture(TBitmap* bitmap) {
  TBitmap picture = Clipboard()->Picture();
  if (picture.Empty())
    throw Exception(QStringLiteral("剪貼簿上沒有圖片。"));
  bitmap->Assign(std::move(picture));
}
