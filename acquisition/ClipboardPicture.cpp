#include "ClipboardPicture.h"

#include "Clipboard.h"
#include "Exception.h"
#include "QImageBridge.h"

void AssignClipboardPicture(TBitmap* bitmap) {
  const QImage picture = Clipboard()->Picture();
  if (picture.isNull())
    throw Exception(QStringLiteral("剪貼簿上沒有圖片。"));
  bitmap->Assign(BitmapFromQImage(picture));
}
