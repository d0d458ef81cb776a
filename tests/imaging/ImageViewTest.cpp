#include "ImageView.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cstring>

namespace {

// What the view shows, as the screen would get it.
QImage Rendered(TImage& view) {
  QImage shot(view.size(), QImage::Format_RGB32);
  shot.fill(Qt::magenta);
  view.render(&shot, QPoint(), QRegion(), QWidget::DrawChildren);
  return shot;
}

TBitmap GreyGradient(int width, int height) {
  TBitmap bitmap(width, height, TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette::Grey());
  for (int i = 0; i < height; ++i)
    for (int j = 0; j < width; ++j)
      bitmap.ScanLine(i)[j] = static_cast<std::uint8_t>((i + j) % 256);
  return bitmap;
}

TEST(Picture, HoldsNothingUntilAskedForItsBitmap) {
  TPicture picture;
  EXPECT_EQ(picture.Graphic(), nullptr);
  TBitmap* bitmap = picture.Bitmap();
  ASSERT_NE(bitmap, nullptr);
  EXPECT_TRUE(bitmap->Empty());
  EXPECT_EQ(picture.Bitmap(), bitmap);
}

TEST(Picture, AssignCopiesAndTheCopyOutlivesTheSource) {
  TPicture picture;
  {
    auto temporary = std::make_unique<TBitmap>(GreyGradient(3, 3));
    picture.Assign(temporary.get());
    temporary->ScanLine(0)[0] = 99;
  }
  EXPECT_EQ(picture.Bitmap()->ScanLine(0)[0], 0);
  EXPECT_EQ(picture.Bitmap()->ScanLine(2)[2], 4);
}

TEST(Picture, EveryChangeOfTheHeldBitmapIsReported) {
  TPicture picture;
  int changes = 0;
  picture.SetOnChange([&] { ++changes; });
  const TBitmap source = GreyGradient(2, 2);
  picture.Assign(&source);
  EXPECT_EQ(changes, 1);
  picture.Bitmap()->Assign(*picture.Bitmap());
  EXPECT_EQ(changes, 2);
  picture.Bitmap()->SetPixelFormat(TPixelFormat::pf24bit);
  EXPECT_EQ(changes, 3);
}

TEST(ImageView, ShowsTheTopLeftPartOfALargerPictureAtItsOwnSize) {
  TImage view;
  view.resize(249, 185);
  const TBitmap big = GreyGradient(600, 400);
  view.Picture()->Assign(&big);
  const QImage shot = Rendered(view);
  EXPECT_EQ(shot.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_EQ(shot.pixel(100, 50), qRgb(150, 150, 150));
  EXPECT_EQ(shot.pixel(248, 184), qRgb(176, 176, 176));
}

TEST(ImageView, SmallPictureLeavesTheRestOfTheViewUnpainted) {
  TImage view;
  view.resize(20, 20);
  const TBitmap small = GreyGradient(4, 4);
  view.Picture()->Assign(&small);
  const QImage shot = Rendered(view);
  EXPECT_EQ(shot.pixel(3, 3), qRgb(6, 6, 6));
  EXPECT_EQ(shot.pixel(10, 10), QColor(Qt::magenta).rgb());
}

TEST(ImageView, StretchedViewFillsItselfWithThePicture) {
  TImage view;
  view.resize(100, 100);
  view.SetStretch(true);
  TBitmap quarters(2, 2, TPixelFormat::pf24bit);
  const std::uint8_t red[3] = {0, 0, 255}, blue[3] = {255, 0, 0};
  std::memcpy(quarters.ScanLine(0), red, 3);
  std::memcpy(quarters.ScanLine(1) + 3, blue, 3);
  view.Picture()->Assign(&quarters);
  const QImage shot = Rendered(view);
  EXPECT_EQ(shot.pixel(10, 10), qRgb(255, 0, 0));
  EXPECT_EQ(shot.pixel(49, 49), qRgb(255, 0, 0));
  EXPECT_EQ(shot.pixel(90, 90), qRgb(0, 0, 255));
  EXPECT_EQ(shot.pixel(90, 10), qRgb(0, 0, 0));
}

TEST(ImageView, IndicesBeyondAShortPaletteShowBlack) {
  TImage view;
  view.resize(2, 1);
  TBitmap bitmap(2, 1, TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette({{255, 255, 255, 0}}));
  bitmap.ScanLine(0)[0] = 0;
  bitmap.ScanLine(0)[1] = 200;
  view.Picture()->Assign(&bitmap);
  const QImage shot = Rendered(view);
  EXPECT_EQ(shot.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(shot.pixel(1, 0), qRgb(0, 0, 0));
}

TEST(ImageView, AutoSizeFollowsThePictureOnlyWhenSet) {
  TImage view;
  view.resize(50, 50);
  const TBitmap bitmap = GreyGradient(30, 20);
  view.Picture()->Assign(&bitmap);
  EXPECT_EQ(view.size(), QSize(50, 50));
  view.SetAutoSize(true);
  EXPECT_EQ(view.size(), QSize(30, 20));
}

}  // namespace
