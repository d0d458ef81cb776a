#include "ClipboardPicture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImageWriter>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include "Clipboard.h"
#include "ClipboardOffer.h"
#include "Exception.h"

namespace {

QByteArray Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
  return bytes;
}

// A binary PGM header declaring the size, followed by a few bytes of pixels.
QByteArray PgmDeclaring(int width, int height) {
  return QStringLiteral("P5\n%1 %2\n255\n").arg(width).arg(height).toLatin1() +
         QByteArray(16, '\x7f');
}

// An uncompressed BMP whose header claims another size.
QByteArray BmpDeclaring(QByteArray bmp, qint32 width, qint32 height) {
  qToLittleEndian(width, bmp.data() + 18);
  qToLittleEndian(height, bmp.data() + 22);
  return bmp;
}

QImage Indexed() {
  QImage image(5, 3, QImage::Format_Indexed8);
  image.setColorTable({qRgb(10, 20, 30), qRgb(200, 100, 50), qRgb(0, 255, 0)});
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      image.setPixel(x, y, (x + y) % 3);
  return image;
}

class ClipboardPicture : public ::testing::Test {
 protected:
  void TearDown() override { QApplication::clipboard()->clear(); }
};

TEST_F(ClipboardPicture, OffersADeviceIndependentBitmapOnlyForPicturesItCanDecode) {
  struct Case {
    const char* name;
    std::function<void()> fill;
    bool picture;
  };
  const Case cases[] = {
      {"own image", [] { QApplication::clipboard()->setImage(Indexed()); }, true},
      {"PNG bytes", [] { Offer("image/png", Encode(Indexed(), "png")); }, true},
      {"text", [] { QApplication::clipboard()->setText("hello"); }, false},
      {"nothing", [] { QApplication::clipboard()->clear(); }, false},
      {"other data", [] { Offer("application/octet-stream", "\x89PNG"); }, false},
  };
  for (const Case& c : cases) {
    c.fill();
    EXPECT_EQ(Clipboard()->HasFormat(CF_DIB), c.picture) << c.name;
    EXPECT_FALSE(Clipboard()->HasFormat(1)) << c.name;
  }
}

TEST_F(ClipboardPicture, BitmapTakesThePictureAtTheDepthItIsHandedOverIn) {
  struct Case {
    const char* name;
    QImage picture;
    TPixelFormat depth;
  };
  QImage translucent(4, 2, QImage::Format_ARGB32);
  translucent.fill(qRgba(1, 2, 3, 4));
  QImage grey(3, 3, QImage::Format_Grayscale8);
  grey.fill(77);
  const Case cases[] = {{"indexed", Indexed(), TPixelFormat::pf8bit},
                        {"grey", grey, TPixelFormat::pf8bit},
                        {"translucent", translucent, TPixelFormat::pf32bit}};
  for (const Case& c : cases) {
    QApplication::clipboard()->setImage(c.picture);
    TBitmap bitmap(2, 2, TPixelFormat::pf24bit);
    AssignClipboardPicture(&bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), c.depth) << c.name;
    ASSERT_EQ(bitmap.Width(), c.picture.width()) << c.name;
    EXPECT_EQ(bitmap.Height(), c.picture.height()) << c.name;
  }
  TBitmap bitmap;
  QApplication::clipboard()->setImage(Indexed());
  AssignClipboardPicture(&bitmap);
  TPaletteEntry entry;
  ASSERT_TRUE(bitmap.GetPaletteEntry(1, entry));
  EXPECT_EQ(entry, (TPaletteEntry{200, 100, 50, 0}));
  EXPECT_EQ(bitmap.ScanLine(2)[4], 0);  // (4 + 2) % 3
}

TEST_F(ClipboardPicture, DamagedOrOversizedPicturesAreRefusedWithAMessage) {
  QImage wide(16385, 1, QImage::Format_Indexed8);
  wide.setColorTable({qRgb(0, 0, 0)});
  wide.fill(0);
  const QByteArray png = Encode(Indexed(), "png");
  QImage colours(40, 30, QImage::Format_RGB32);
  colours.fill(qRgb(10, 20, 30));
  const QByteArray bmp = Encode(colours, "bmp");
  struct Case {
    const char* name;
    const char* type;
    QByteArray bytes;
    const char* says;
  };
  const Case cases[] = {
      {"garbage", "image/png", QByteArray("\x89PNG\r\n\x1a\n not really a picture"), "無法讀取"},
      {"truncated", "image/png", png.left(png.size() / 2), "無法讀取"},
      {"PGM declaring 20000 x 20000", "image/x-portable-graymap", PgmDeclaring(20000, 20000),
       "太大"},
      {"PGM declaring 16384 x 16385", "image/x-portable-graymap", PgmDeclaring(16384, 16385),
       "太大"},
      {"PGM declaring 16384 x 16384, data missing", "image/x-portable-graymap",
       PgmDeclaring(16384, 16384), "無法讀取"},
      {"PNG 16385 pixels wide", "image/png", Encode(wide, "png"), "太大"},
      // The toolkit's decoder takes both as read, leaving the missing rows unwritten.
      {"BMP cut in its pixel rows", "image/bmp", bmp.left(bmp.size() - 1), "損毀或不完整"},
      {"BMP declaring 16000 x 16000 in a few bytes", "image/bmp", BmpDeclaring(bmp, 16000, 16000),
       "損毀或不完整"},
  };
  for (const Case& c : cases) {
    Offer(c.type, c.bytes);
    EXPECT_TRUE(Clipboard()->HasFormat(CF_DIB)) << c.name;
    TBitmap bitmap(3, 2, TPixelFormat::pf24bit);
    try {
      AssignClipboardPicture(&bitmap);
      ADD_FAILURE() << c.name << ": no failure";
    } catch (const Exception& e) {
      EXPECT_TRUE(e.Message().contains(QString::fromUtf8(c.says))) << c.name << ": " << e.what();
    }
    EXPECT_EQ(bitmap.Width(), 3) << c.name;
  }

  // The limit is inclusive.
  QImage widest(16384, 1, QImage::Format_Indexed8);
  widest.setColorTable({qRgb(9, 9, 9)});
  widest.fill(0);
  Offer("image/png", Encode(widest, "png"));
  EXPECT_EQ(Clipboard()->Picture().Width(), 16384);
}

// Another program holds the clipboard: the picture travels through the X server.
TEST_F(ClipboardPicture, TakesAPictureAnotherProgramOffers) {
  const QString xclip = QStandardPaths::findExecutable("xclip");
  if (xclip.isEmpty())
    GTEST_SKIP() << "xclip is not installed (./setup.sh installs it)";
  QTemporaryDir dir;
  const QString file = dir.filePath("offered.png");
  ASSERT_TRUE(QImageWriter(file, "png").write(Indexed()));

  QApplication::clipboard()->setText("ours");
  ASSERT_EQ(QProcess::execute(xclip, {"-selection", "clipboard", "-t", "image/png", "-i", file}),
            0);
  ASSERT_TRUE(QTest::qWaitFor([] { return Clipboard()->HasFormat(CF_DIB); }, 10000));
  TBitmap bitmap;
  AssignClipboardPicture(&bitmap);
  EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_EQ(bitmap.Width(), 5);
  TPaletteEntry entry;
  ASSERT_TRUE(bitmap.GetPaletteEntry(bitmap.ScanLine(0)[1], entry));
  EXPECT_EQ(entry, (TPaletteEntry{200, 100, 50, 0}));
  // Taking the clipboard back lets xclip end. The X server ignores a claim stamped before
  // xclip's, so claim until the events have brought the toolkit's clock past it.
  EXPECT_TRUE(QTest::qWaitFor(
      [] {
        QApplication::clipboard()->setText("ours");
        return !Clipboard()->HasFormat(CF_DIB);
      },
      10000));
}

TEST_F(ClipboardPicture, WithoutAPictureTheBitmapStaysAsItWas) {
  QApplication::clipboard()->setText("no picture");
  TBitmap bitmap(3, 2, TPixelFormat::pf24bit);
  EXPECT_THROW(AssignClipboardPicture(&bitmap), Exception);
  EXPECT_EQ(bitmap.Width(), 3);
  EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
}

}  // namespace
