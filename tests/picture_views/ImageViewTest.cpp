// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageView.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <cstring>
#include <vector>

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

// As the main window's views show the workbench's images: no copy, every change reported.
TEST(Picture, ABoundBitmapIsShownAndHeardFromUntilTheHolderGoes) {
  TBitmap owned = GreyGradient(2, 2);
  int changes = 0;
  {
    TPicture picture;
    picture.SetOnChange([&] { ++changes; });
    picture.Bind(&owned);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(picture.Graphic(), &owned);
    EXPECT_EQ(picture.Bitmap(), &owned);
    owned.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(changes, 2);
    const TBitmap source = GreyGradient(3, 1);
    picture.Assign(&source);
    EXPECT_EQ(owned.Width(), 3);
    picture.Assign(nullptr);
    EXPECT_TRUE(owned.Empty()) << "holding nothing empties the owner's bitmap";
    EXPECT_EQ(picture.Graphic(), &owned);
    EXPECT_EQ(changes, 4);
  }
  owned.Assign(GreyGradient(1, 1));
  EXPECT_EQ(changes, 4) << "the holder has gone";
}

TBitmap RedOverBlue() {
  TBitmap quarters(2, 2, TPixelFormat::pf24bit);
  const std::uint8_t red[3] = {0, 0, 255}, blue[3] = {255, 0, 0};
  std::memcpy(quarters.ScanLine(0), red, 3);
  std::memcpy(quarters.ScanLine(1) + 3, blue, 3);
  return quarters;
}

TBitmap IndexBeyondAShortPalette() {
  TBitmap bitmap(2, 1, TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette({{255, 255, 255, 0}}));
  bitmap.ScanLine(0)[0] = 0;
  bitmap.ScanLine(0)[1] = 200;
  return bitmap;
}

TEST(ImageView, ShowsThePictureAsTheScreenGetsIt) {
  struct Probe {
    QPoint at;
    QRgb colour;
  };
  const QRgb unpainted = QColor(Qt::magenta).rgb();
  const struct {
    const char* name;
    QSize view;
    bool stretch;
    TBitmap picture;
    std::vector<Probe> probes;
  } cases[] = {
      {"top left of a larger picture, at its own size",
       {249, 185},
       false,
       GreyGradient(600, 400),
       {{{0, 0}, qRgb(0, 0, 0)},
        {{100, 50}, qRgb(150, 150, 150)},
        {{248, 184}, qRgb(176, 176, 176)}}},
      {"a small picture leaves the rest unpainted",
       {20, 20},
       false,
       GreyGradient(4, 4),
       {{{3, 3}, qRgb(6, 6, 6)}, {{10, 10}, unpainted}}},
      {"stretched to fill the view",
       {100, 100},
       true,
       RedOverBlue(),
       {{{10, 10}, qRgb(255, 0, 0)},
        {{49, 49}, qRgb(255, 0, 0)},
        {{90, 90}, qRgb(0, 0, 255)},
        {{90, 10}, qRgb(0, 0, 0)}}},
      {"indices beyond a short palette are black",
       {2, 1},
       false,
       IndexBeyondAShortPalette(),
       {{{0, 0}, qRgb(255, 255, 255)}, {{1, 0}, qRgb(0, 0, 0)}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TImage view;
    view.resize(c.view);
    view.SetStretch(c.stretch);
    view.Picture()->Assign(&c.picture);
    const QImage shot = Rendered(view);
    for (const Probe& p : c.probes)
      EXPECT_EQ(shot.pixel(p.at), p.colour) << p.at.x() << ", " << p.at.y();
  }
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
