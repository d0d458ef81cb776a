// SPDX-License-Identifier: GPL-3.0-or-later
// Whatever the clipboard holds, the grab either changes nothing or refuses with a message; the
// main image the operator had stays as it was, and the program goes on.

#include "Unit1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>
#include <cstring>
#include <functional>
#include <memory>

#include "Clipboard.h"
#include "ClipboardOffer.h"
#include "FormsFixture.h"
#include "Modal.h"
#include "PictureSamples.h"

namespace {

QImage Colours(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.setPixel(x, y, qRgb(x * 9, y * 13, 77));
  return image;
}

// An uncompressed BMP and a PNG whose headers claim another size.
QByteArray BmpDeclaring(qint32 width, qint32 height) {
  return WithLe32(WithLe32(Encode(Colours(20, 10), "bmp"), 18, width), 22, height);
}
QByteArray PngDeclaring(quint32 width, quint32 height) {
  return WithBe32(WithBe32(Encode(Colours(3, 2), "png"), 16, width), 20, height);
}
// A binary PGM header declaring the size, followed by a few bytes of pixels.
QByteArray PgmDeclaring(int width, int height) {
  return QStringLiteral("P5\n%1 %2\n255\n").arg(width).arg(height).toLatin1() +
         QByteArray(16, '\x7f');
}
QByteArray JpegDeclaring(quint16 width, quint16 height) {
  const QByteArray jpeg = Encode(Colours(16, 16), "jpeg");
  const qsizetype sof = jpeg.indexOf("\xff\xc0");
  return WithBe16(WithBe16(jpeg, sof + 5, height), sof + 7, width);
}

class ClipboardFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<TForm1>();
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    form_->Image1->Picture()->Assign(&before_);
  }
  void TearDown() override {
    form_.reset();
    QApplication::clipboard()->clear();
  }

  TBitmap& MainImage() { return *form_->Image1->Picture()->Bitmap(); }

  // Clicks the grab button as the operator does and returns the text of the message it showed.
  QString GrabExpectingAMessage() {
    const MessageBoxCatcher box;
    QTest::mouseClick(form_->Button2, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.Seen(); }, 10000));
    return box.Text();
  }

  const TBitmap before_ = Filled(5, 4, 42);
  std::unique_ptr<TForm1> form_;
};

TEST_F(ClipboardFaults, WithoutAPictureTheGrabChangesNothingAndSaysNothing) {
  struct Case {
    const char* name;
    std::function<void()> fill;
  };
  const Case cases[] = {
      {"nothing", [] { QApplication::clipboard()->clear(); }},
      {"text", [] { QApplication::clipboard()->setText("not a picture"); }},
      {"rich text", [] { Offer("text/html", "<img src=\"photo.png\">"); }},
      {"a file reference",
       [] {
         auto* data = new QMimeData;
         data->setUrls({QUrl::fromLocalFile("/tmp/photo.png")});
         QApplication::clipboard()->setMimeData(data);
       }},
      {"picture bytes under a type that is no picture",
       [] { Offer("application/octet-stream", Encode(Colours(4, 3), "png")); }},
      {"a picture format no decoder reads", [] { Offer("image/webp", "RIFF\0\0\0\0WEBPVP8 "); }},
  };
  for (const Case& c : cases) {
    c.fill();
    EXPECT_FALSE(Clipboard()->HasFormat(CF_DIB)) << c.name;
    EXPECT_NO_THROW(form_->Button2Click()) << c.name;
    EXPECT_TRUE(SameBitmaps(MainImage(), before_)) << c.name;
  }
}

TEST_F(ClipboardFaults, DamagedOrEnormousPicturesAreRefusedWithAMessage) {
  const QByteArray png = Encode(Colours(40, 30), "png");
  const QByteArray bmp = Encode(Colours(40, 30), "bmp");
  const QByteArray jpeg = Encode(Colours(64, 48), "jpeg");
  QImage wide(16385, 1, QImage::Format_RGB32);
  wide.fill(qRgb(1, 2, 3));
  const QByteArray widePng = Encode(wide.convertToFormat(QImage::Format_Indexed8), "png");
  struct Case {
    const char* name;
    std::function<void()> fill;
    const char* says;
  };
  const Case cases[] = {
      {"a picture type without data", [] { Offer("image/png", QByteArray()); }, "無法讀取"},
      {"garbage labelled PNG", [] { Offer("image/png", "\x89PNG\r\n\x1a\n garbage"); }, "無法讀取"},
      {"PNG cut in half", [&] { Offer("image/png", png.left(png.size() / 2)); }, "無法讀取"},
      {"BMP cut in its pixel rows", [&] { Offer("image/bmp", bmp.left(bmp.size() - 7)); },
       "無法讀取"},
      {"JPEG cut short", [&] { Offer("image/jpeg", jpeg.left(jpeg.size() / 2)); }, "無法讀取"},
      {"BMP bytes labelled PNG, cut short", [&] { Offer("image/png", bmp.left(100)); }, "無法讀取"},
      {"BMP declaring 16000 x 16000 in a few bytes",
       [] { Offer("image/bmp", BmpDeclaring(16000, 16000)); }, "無法讀取"},
      {"BMP declaring 100000 x 100000", [] { Offer("image/bmp", BmpDeclaring(100000, 100000)); },
       "太大"},
      {"PNG declaring 20000 x 20000", [] { Offer("image/png", PngDeclaring(20000, 20000)); },
       "太大"},
      {"PNG declaring 3000000 x 3000000",
       [] { Offer("image/png", PngDeclaring(3000000, 3000000)); }, "太大"},
      {"JPEG declaring 20000 x 100", [] { Offer("image/jpeg", JpegDeclaring(20000, 100)); },
       "太大"},
      {"PGM declaring 20000 x 20000",
       [] { Offer("image/x-portable-graymap", PgmDeclaring(20000, 20000)); }, "太大"},
      {"PGM declaring 16384 x 16385",
       [] { Offer("image/x-portable-graymap", PgmDeclaring(16384, 16385)); }, "太大"},
      {"PGM declaring 16384 x 16384, its pixels missing",
       [] { Offer("image/x-portable-graymap", PgmDeclaring(16384, 16384)); }, "無法讀取"},
      {"PNG 16385 pixels wide", [&] { Offer("image/png", widePng); }, "太大"},
      {"TIFF cut short",
       [] {
         const QByteArray tiff = EncodeTiff(9, 9, TiffLayout{}, [](int x, int, int) { return x; });
         Offer("image/tiff", tiff.left(tiff.size() / 2));
       },
       "無法讀取"},
      {"the program's own picture, 16385 pixels wide",
       [&] { QApplication::clipboard()->setImage(wide); }, "太大"},
  };
  for (const Case& c : cases) {
    c.fill();
    EXPECT_TRUE(Clipboard()->HasFormat(CF_DIB)) << c.name;
    const QString text = GrabExpectingAMessage();
    EXPECT_TRUE(text.contains(QString::fromUtf8(c.says))) << c.name << ": " << text.toStdString();
    EXPECT_TRUE(SameBitmaps(MainImage(), before_)) << c.name;
  }
  // The program goes on: a good picture is taken, up to the limit.
  QApplication::clipboard()->setImage(Colours(6, 5));
  form_->Button2Click();
  EXPECT_EQ(MainImage().Width(), 6);
  QImage widest(16384, 1, QImage::Format_Indexed8);
  widest.setColorTable({qRgb(9, 9, 9)});
  widest.fill(0);
  Offer("image/png", Encode(widest, "png"));
  form_->Button2Click();
  EXPECT_EQ(MainImage().Width(), 16384);
}

// Another program offers the bytes: they travel through the X server.
TEST_F(ClipboardFaults, DamagedPicturesFromAnotherProgramAreRefusedToo) {
  const QString xclip = QStandardPaths::findExecutable("xclip");
  if (xclip.isEmpty())
    GTEST_SKIP() << "xclip is not installed (./setup.sh installs it)";
  const QByteArray png = Encode(Colours(40, 30), "png");
  struct Case {
    const char* name;
    const char* type;
    QByteArray bytes;
    const char* says;
  };
  const Case cases[] = {
      {"PNG cut in half", "image/png", png.left(png.size() / 2), "無法讀取"},
      {"BMP declaring 100000 x 100000", "image/bmp", BmpDeclaring(100000, 100000), "太大"},
  };
  QTemporaryDir dir;
  for (const Case& c : cases) {
    const QString file = dir.filePath("offered");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(c.bytes) == c.bytes.size());
    out.close();
    QApplication::clipboard()->setText("ours");
    ASSERT_EQ(QProcess::execute(xclip, {"-selection", "clipboard", "-t", c.type, "-i", file}), 0);
    ASSERT_TRUE(QTest::qWaitFor([] { return Clipboard()->HasFormat(CF_DIB); }, 10000)) << c.name;
    const QString text = GrabExpectingAMessage();
    EXPECT_TRUE(text.contains(QString::fromUtf8(c.says))) << c.name << ": " << text.toStdString();
    EXPECT_TRUE(SameBitmaps(MainImage(), before_)) << c.name;
    // Taking the clipboard back lets xclip end (see ClipboardPictureTest).
    EXPECT_TRUE(QTest::qWaitFor(
        [] {
          QApplication::clipboard()->setText("ours");
          return !Clipboard()->HasFormat(CF_DIB);
        },
        10000));
  }
}

}  // namespace
