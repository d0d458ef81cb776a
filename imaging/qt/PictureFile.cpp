#include "PictureFile.h"

#include <QImageReader>

#include "Exception.h"
#include "QImageBridge.h"

TBitmap LoadPictureFile(const QString& fileName) {
  QImageReader reader(fileName);
  reader.setDecideFormatFromContent(true);
  QImage image;
  if (!reader.read(&image))
    throw Exception(QStringLiteral("無法開啟圖檔「%1」：%2").arg(fileName, reader.errorString()));
  return BitmapFromQImage(image);
}
