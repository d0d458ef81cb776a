// Writing pictures, and the file-type filters of the open dialog.

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <cstring>
#include <map>
#include <vector>

#include "PictureFile.h"
#include "QImageBridge.h"

namespace {

[[noreturn]] void CannotSave(const QString& fileName, PictureFault fault, const QString& reason) {
  throw PictureFileError(
      fault,
      QStringLiteral("無法儲存圖檔「%1」：%2").arg(QDir::toNativeSeparators(fileName), reason));
}

void PutLe16(std::vector<char>& out, quint32 v) {
  out.push_back(static_cast<char>(v & 0xff));
  out.push_back(static_cast<char>((v >> 8) & 0xff));
}
void PutLe32(std::vector<char>& out, quint32 v) {
  PutLe16(out, v & 0xffff);
  PutLe16(out, v >> 16);
}

bool IsGreyRamp(const TBitmap& bitmap) {
  const TPalette* palette = bitmap.Palette();
  return palette == nullptr || *palette == TPalette::Grey();
}

// BMP written here rather than by the toolkit, which writes 8-bit pictures of up to 16 colours
// as 4-bit and drops the alpha of 32-bit ones. 8-bit: 256-entry palette; 24-bit: plain; 32-bit:
// a version 4 header whose bit fields name the alpha byte.
bool WriteBmp(const TBitmap& bitmap, QIODevice& out) {
  const int bits = static_cast<int>(bitmap.PixelFormat());
  const quint32 infoSize = bits == 32 ? 108 : 40;
  const quint32 paletteBytes = bits == 8 ? 256 * 4 : 0;
  const quint64 rowBytes = (quint64{static_cast<quint32>(bitmap.Width())} * bits + 31) / 32 * 4;
  const quint64 offBits = 14 + infoSize + paletteBytes;
  const quint64 total = offBits + rowBytes * static_cast<quint32>(bitmap.Height());
  if (total > 0xffffffffu)
    return false;

  std::vector<char> head;
  head.push_back('B');
  head.push_back('M');
  PutLe32(head, static_cast<quint32>(total));
  PutLe32(head, 0);
  PutLe32(head, static_cast<quint32>(offBits));
  PutLe32(head, infoSize);
  PutLe32(head, static_cast<quint32>(bitmap.Width()));
  PutLe32(head, static_cast<quint32>(bitmap.Height()));  // positive: bottom row first
  PutLe16(head, 1);
  PutLe16(head, bits);
  PutLe32(head, bits == 32 ? 3 : 0);  // bit fields or uncompressed
  PutLe32(head, static_cast<quint32>(rowBytes * bitmap.Height()));
  PutLe32(head, 2835);  // 72 dots per inch
  PutLe32(head, 2835);
  PutLe32(head, bits == 8 ? 256 : 0);
  PutLe32(head, 0);
  if (bits == 32) {
    PutLe32(head, 0x00ff0000);
    PutLe32(head, 0x0000ff00);
    PutLe32(head, 0x000000ff);
    PutLe32(head, 0xff000000);
    PutLe32(head, 0x73524742);               // sRGB
    head.insert(head.end(), 36 + 12, '\0');  // end points and gamma, unused with sRGB
  }
  if (bits == 8) {
    for (const QRgb rgb : ColorTableOf(bitmap)) {
      head.push_back(static_cast<char>(qBlue(rgb)));
      head.push_back(static_cast<char>(qGreen(rgb)));
      head.push_back(static_cast<char>(qRed(rgb)));
      head.push_back('\0');
    }
  }
  if (out.write(head.data(), static_cast<qint64>(head.size())) != static_cast<qint64>(head.size()))
    return false;
  std::vector<char> row(rowBytes, '\0');
  for (int y = bitmap.Height() - 1; y >= 0; --y) {
    std::memcpy(row.data(), bitmap.ScanLine(y), bitmap.RowBytes());
    if (out.write(row.data(), static_cast<qint64>(rowBytes)) != static_cast<qint64>(rowBytes))
      return false;
  }
  return true;
}

bool WriteWithToolkit(const TBitmap& bitmap, QIODevice& out, const QByteArray& format) {
  QImage image = QImageFromBitmap(bitmap);
  if (image.isNull())
    return false;
  QImageWriter writer(&out, format);
  if (format == "jpeg") {
    writer.setQuality(90);
    const bool grey = bitmap.PixelFormat() == TPixelFormat::pf8bit && IsGreyRamp(bitmap);
    image = image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
  } else if (format == "pgm") {
    image = image.convertToFormat(QImage::Format_Grayscale8);
  } else if (format == "ppm") {
    image = image.convertToFormat(QImage::Format_RGB32);
  }
  if (image.isNull())
    return false;
  return writer.write(image);
}

}  // namespace

void SavePictureFile(const TBitmap& bitmap, const QString& fileName) {
  const QFileInfo target(fileName);
  const QString suffix = target.suffix().toLower();
  QByteArray format;
  if (suffix == QLatin1String("png") || suffix == QLatin1String("bmp") ||
      suffix == QLatin1String("ppm") || suffix == QLatin1String("pgm"))
    format = suffix.toLatin1();
  else if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
    format = "jpeg";
  if (format.isEmpty())
    CannotSave(fileName, PictureFault::UnsupportedSaveFormat,
               QStringLiteral("不支援這種檔案格式，請使用 .png、.bmp、.jpg、.ppm 或 .pgm。"));
  if (bitmap.Empty())
    CannotSave(fileName, PictureFault::NothingToSave, QStringLiteral("沒有圖片可以儲存。"));
  if (target.isDir())
    CannotSave(fileName, PictureFault::CannotWrite, QStringLiteral("這是一個資料夾。"));
  if (!target.absoluteDir().exists())
    CannotSave(fileName, PictureFault::CannotWrite,
               QStringLiteral("資料夾「%1」不存在。")
                   .arg(QDir::toNativeSeparators(target.absolutePath())));

  // Written beside the target and renamed over it only when complete.
  QSaveFile out(fileName);
  if (!out.open(QIODevice::WriteOnly))
    CannotSave(fileName, PictureFault::CannotWrite,
               QStringLiteral("無法建立檔案（%1）。").arg(out.errorString()));
  bool written = false;
  try {
    written = format == "bmp" ? WriteBmp(bitmap, out) : WriteWithToolkit(bitmap, out, format);
  } catch (const std::bad_alloc&) {
    out.cancelWriting();
    CannotSave(fileName, PictureFault::OutOfMemory, QStringLiteral("記憶體不足。"));
  }
  if (!written) {
    const QString error = out.errorString();
    out.cancelWriting();
    CannotSave(fileName, PictureFault::CannotWrite, QStringLiteral("寫入失敗（%1）。").arg(error));
  }
  if (!out.commit())
    CannotSave(fileName, PictureFault::CannotWrite,
               QStringLiteral("寫入失敗（%1）。").arg(out.errorString()));
}

QStringList PictureFileFilters() {
  struct Kind {
    const char* label;
    std::vector<const char*> formats;
  };
  static const std::vector<Kind> known = {
      {"BMP 點陣圖", {"bmp", "dib"}}, {"GIF 圖檔", {"gif"}},
      {"JPEG 圖檔", {"jpg", "jpeg"}}, {"PNG 圖檔", {"png"}},
      {"TIFF 圖檔", {"tif", "tiff"}}, {"WebP 圖檔", {"webp"}},
      {"Windows 圖示", {"ico"}},      {"Windows 游標", {"cur"}},
      {"PBM 黑白點陣圖", {"pbm"}},    {"PGM 灰階圖", {"pgm"}},
      {"PPM 彩色圖", {"ppm"}},        {"XBM 黑白點陣圖", {"xbm"}},
      {"XPM 圖檔", {"xpm"}},
  };
  static const QList<QByteArray> vector = {"svg", "svgz", "pdf", "eps", "ps", "wmf", "emf"};

  QList<QByteArray> readable = QImageReader::supportedImageFormats();
  readable.removeIf([](const QByteArray& f) { return vector.contains(f); });
  QStringList all;
  QStringList perFormat;
  auto patterns = [](const QList<QByteArray>& formats) {
    QStringList p;
    for (const QByteArray& f : formats)
      p << QStringLiteral("*.") + QString::fromLatin1(f);
    return p.join(QLatin1Char(' '));
  };
  QList<QByteArray> covered;
  for (const Kind& kind : known) {
    QList<QByteArray> present;
    for (const char* f : kind.formats)
      if (readable.contains(f))
        present << f;
    if (present.isEmpty())
      continue;
    covered << present;
    all << patterns(present);
    perFormat << QStringLiteral("%1 (%2)").arg(QString::fromUtf8(kind.label), patterns(present));
  }
  for (const QByteArray& f : readable) {
    if (covered.contains(f))
      continue;
    all << patterns({f});
    perFormat
        << QStringLiteral("%1 圖檔 (%2)").arg(QString::fromLatin1(f).toUpper(), patterns({f}));
  }
  QStringList filters;
  filters << QStringLiteral("所有圖檔 (%1)").arg(all.join(QLatin1Char(' ')));
  filters << perFormat;
  filters << QStringLiteral("所有檔案 (*)");
  return filters;
}
