#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QStringList>

#include "Exception.h"
#include "PictureFile.h"

namespace {

constexpr qint64 kMaxPixels = qint64{256} * 1024 * 1024;

bool Fits(const QSize& size) {
  return size.width() <= kMaxPictureSide && size.height() <= kMaxPictureSide &&
         qint64{size.width()} * size.height() <= kMaxPixels;
}

[[noreturn]] void RefuseTooLarge(const QSize& size) {
  throw Exception(QStringLiteral("剪貼簿上的圖片太大（%1 × %2 像素），最大只能是 %3 × %3 像素。")
                      .arg(size.width())
                      .arg(size.height())
                      .arg(kMaxPictureSide));
}

const QStringList& DecodableTypes() {
  static const QStringList types = [] {
    QStringList list;
    for (const QByteArray& type : QImageReader::supportedMimeTypes())
      list << QString::fromLatin1(type);
    return list;
  }();
  return types;
}

// The picture formats on offer that a reader knows, PNG and BMP (lossless, and what most
// programs offer) first.
QStringList OfferedPictureTypes(const QMimeData& data) {
  QStringList offered;
  for (const QString& type : data.formats())
    if (type.startsWith(QLatin1String("image/")) && DecodableTypes().contains(type))
      offered << type;
  QStringList ordered;
  for (const char* first : {"image/png", "image/bmp"})
    if (offered.removeAll(QLatin1String(first)) > 0)
      ordered << QLatin1String(first);
  return ordered + offered;
}

// The bytes go through the same checks as a picture file: decoders report some damaged pictures
// (a BMP cut short, one declaring a vast size in a few bytes) as read, with pixels never written.
QImage Decode(const QByteArray& bytes, QString* reason) {
  try {
    return DecodePictureData(bytes);
  } catch (const PictureFileError& error) {
    if (error.Fault() == PictureFault::TooLarge && error.Declared().isValid())
      RefuseTooLarge(error.Declared());
    *reason = error.Message();
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

QImage TClipboard::Picture() const {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (data == nullptr)
    return {};
  const QStringList types = OfferedPictureTypes(*data);
  QString reason = QStringLiteral("沒有資料");
  for (const QString& type : types) {
    const QByteArray bytes = data->data(type);
    if (bytes.isEmpty())
      continue;
    const QImage picture = Decode(bytes, &reason);
    if (!picture.isNull())
      return picture;
  }
  const QImage own = OwnPicture(*data, types);
  if (!own.isNull()) {
    if (!Fits(own.size()))
      RefuseTooLarge(own.size());
    return own;
  }
  if (!types.isEmpty())
    throw Exception(QStringLiteral("剪貼簿上的圖片無法讀取：%1").arg(reason));
  return {};
}

void TClipboard::SetPicture(const QImage& picture) {
  QGuiApplication::clipboard()->setImage(picture);
}
