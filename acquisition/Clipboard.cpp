// SPDX-License-Identifier: GPL-3.0-or-later
#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QStringList>

#include "Exception.h"
#include "PictureFile.h"
#include "QImageBridge.h"

namespace {

bool Fits(const QSize& size) {
  return size.width() <= kMaxPictureSide && size.height() <= kMaxPictureSide;
}

[[noreturn]] void RefuseTooLarge(const QSize& size) {
  throw Exception(QStringLiteral("剪貼簿上的圖片太大（%1 × %2 像素），最大只能是 %3 × %3 像素。")
                      .arg(size.width())
                      .arg(size.height())
                      .arg(kMaxPictureSide));
}

// The picture formats on offer that the program reads, PNG and BMP (lossless, and what most
// programs offer) first.
QStringList OfferedPictureTypes(const QMimeData& data) {
  QStringList offered;
  for (const QString& type : data.formats())
    if (FormatOfMimeType(type) != nullptr)
      offered << type;
  QStringList ordered;
  for (const char* first : {"image/png", "image/bmp"})
    if (offered.removeAll(QLatin1String(first)) > 0)
      ordered << QLatin1String(first);
  return ordered + offered;
}

// The bytes are read as a picture file would be: a damaged picture (a BMP cut short, one
// declaring a vast size in a few bytes) is refused before anything large is allocated.
TBitmap Decode(const QByteArray& bytes, QString* reason) {
  try {
    return LoadPictureData(bytes);
  } catch (const PictureFileError& error) {
    if (error.Fault() == PictureFault::TooLarge && error.Declared().isValid())
      RefuseTooLarge(error.Declared());
    *reason = PictureFailureReason(error);
    return {};
  }
}

// A picture this program put on the clipboard itself is held as an image, not as bytes; a
// picture from another program always comes as bytes of some picture format.
QImage OwnPicture(const QMimeData& data, const QStringList& offeredTypes) {
  if (!offeredTypes.isEmpty() || !data.hasImage())
    return {};
  return qvariant_cast<QImage>(data.imageData());
}

}  // namespace

TClipboard* Clipboard() {
  static TClipboard clipboard;
  return &clipboard;
}

bool TClipboard::HasFormat(unsigned short format) const {
  if (format != CF_DIB)
    return false;
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (data == nullptr)
    return false;
  const QStringList types = OfferedPictureTypes(*data);
  return !types.isEmpty() || !OwnPicture(*data, types).isNull();
}

TBitmap TClipboard::Picture() const {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (data == nullptr)
    return {};
  const QStringList types = OfferedPictureTypes(*data);
  QString reason = QStringLiteral("沒有資料");
  for (const QString& type : types) {
    const QByteArray bytes = data->data(type);
    if (bytes.isEmpty())
      continue;
    TBitmap picture = Decode(bytes, &reason);
    if (!picture.Empty())
      return picture;
  }
  const QImage own = OwnPicture(*data, types);
  if (!own.isNull()) {
    if (!Fits(own.size()))
      RefuseTooLarge(own.size());
    return BitmapFromQImage(own);
  }
  if (!types.isEmpty())
    throw Exception(QStringLiteral("剪貼簿上的圖片無法讀取：%1").arg(reason));
  return {};
}

void TClipboard::SetPicture(const QImage& picture) {
  QGuiApplication::clipboard()->setImage(picture);
}

void TClipboard::SetText(const QString& text) {
  QGuiApplication::clipboard()->setText(text);
}
