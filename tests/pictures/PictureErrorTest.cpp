// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureError.h"

#include <gtest/gtest.h>

#include <QBuffer>

#include "PictureChecks.h"
#include "PictureFile.h"

namespace {

// One table of reasons: the window's Traditional Chinese whatever the locale, the command line's
// English where no translation is installed, as in this test.
TEST(PictureError, EveryReasonInTheWindowsWordsAndInEnglish) {
  using F = PictureFault;
  const QString side = QString::number(kMaxPictureSide);
  const struct {
    PictureFault fault;
    QString detail;
    QSize declared;
    int number;
    QString window;
    QString english;
  } cases[] = {
      {F::NotFound, {}, {}, 0, "找不到這個檔案。", "no such file"},
      {F::NotAPicture,
       {},
       {},
       0,
       "這不是本程式能讀取的圖檔格式。",
       "not a picture format ccdlab reads"},
      {F::Damaged, {}, {}, 0, "圖檔已損毀或不完整。", "the picture is damaged or incomplete"},
      {F::TooLarge,
       {},
       {70000, 3},
       0,
       QString("圖片太大，最大只能開啟 %1 × %1 像素的圖片。（這張圖片宣告為 70000 × 3 像素）")
           .arg(side),
       QString("the picture is too large (70000 x 3 pixels; at most %1 x %1)").arg(side)},
      {F::TooLarge,
       {},
       {},
       0,
       QString("圖片太大，最大只能開啟 %1 × %1 像素的圖片。").arg(side),
       QString("the picture is too large (at most %1 x %1 pixels)").arg(side)},
      {F::UnsupportedSamples,
       {},
       {},
       12,
       "圖片每個樣本 12 位元，本程式只能讀取 1、2、4、8 或 16 位元的樣本。",
       "samples of 12 bits are not supported (1, 2, 4, 8 or 16 are)"},
      {F::UnsupportedColours,
       "CIELab",
       {},
       0,
       "本程式無法轉換這張圖片的色彩模式（CIELab）。",
       "the colour model CIELab is not supported"},
      // No detail: no empty brackets, no double space.
      {F::UnsupportedColours,
       {},
       {},
       0,
       "本程式無法轉換這張圖片的色彩模式。",
       "the colour model is not supported"},
      {F::ReadError, "%1 I/O", {}, 0, "讀取檔案時發生錯誤（%1 I/O）。", "read error (%1 I/O)"},
      {F::DiskFull,
       "No space",
       {},
       0,
       "磁碟已滿，寫入失敗（No space）。",
       "the disk is full (No space)"},
      {F::TooManyScans,
       {},
       {},
       100,
       "這張漸進式圖片分成超過 100 次掃描，解碼會耗費過多時間，因此不予開啟。",
       "the progressive picture has more than 100 scans, too many to decode in reasonable time"},
      {F::NoFolder,
       "/no/such",
       {},
       0,
       "資料夾「/no/such」不存在。",
       "the folder '/no/such' does not exist"},
      {F::UnsupportedSaveFormat,
       {},
       {},
       0,
       "不支援這種檔案格式，請使用 .png、.jpg、.tif、.bmp、.pgm、.ppm。",
       "not a format ccdlab writes; use .png, .jpg, .tif, .bmp, .pgm, .ppm"},
  };
  for (const auto& c : cases) {
    const PictureFileError error(PictureAction::Open, "a.png", c.fault, c.detail, c.declared,
                                 c.number);
    EXPECT_EQ(PictureFailureReason(error), c.window);
    EXPECT_EQ(PictureFailureReasonInLocale(error), c.english);
    EXPECT_EQ(error.Message(), "無法開啟圖檔「a.png」：" + c.window);
  }
}

// A PNM header's numbers as the toolkit's reader takes them, the line of a comment ended by a line
// feed alone: where the pixels start is where it would read them.
TEST(PictureChecks, PnmHeadersAsTheToolkitReadsThem) {
  const struct {
    const char* what;
    QByteArray file;
    bool taken;
  } cases[] = {
      {"plain header", QByteArray("P5\n2 1\n255\n\x10\x20", 14), true},
      {"comment to a line feed", QByteArray("P5\n# c\n2 1\n255\n\x10\x20", 18), true},
      // The toolkit reads on in the comment past a carriage return: no size follows it.
      {"comment to a carriage return", QByteArray("P5\n# c\r2 1\n255\n\x10\x20", 18), false},
      // The toolkit skips the comment's line: the pixels are not where a separator would put them.
      {"comment right after a number", QByteArray("P5\n2 1\n255#x\n\x10\x20", 16), false},
  };
  for (const auto& c : cases) {
    QByteArray bytes = c.file;
    QBuffer buffer(&bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    const PictureCheck check = CheckPictureFile(buffer, bytes.size(), "pgm");
    EXPECT_EQ(!check.fault.has_value(), c.taken) << c.what;
  }
}

}  // namespace
