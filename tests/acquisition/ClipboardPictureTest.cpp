// SPDX-License-Identifier: GPL-3.0-or-later
#include "ClipboardPicture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImageWriter>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "Clipboard.h"
#include "ClipboardOffer.h"
#include "Exception.h"
#include "PictureSamples.h"

namespace {

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
