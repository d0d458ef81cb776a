// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bitmap.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TBitmap Numbered(int width, int height, TPixelFormat format) {
  TBitmap bitmap(width, height, format);
  for (int i = 0; i < height; ++i)
    for (std::size_t j = 0; j < bitmap.RowBytes(); ++j)
      bitmap.ScanLine(i)[j] = static_cast<std::uint8_t>(i * 31 + j);
  return bitmap;
}

TEST(Bitmap, NewBitmapIsEmpty) {
  TBitmap bitmap;
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 0);
  EXPECT_EQ(bitmap.Palette(), nullptr);
}

TEST(Bitmap, EmptyWhenEitherSideIsZero) {
  TBitmap bitmap;
  bitmap.SetWidth(5);
  EXPECT_TRUE(bitmap.Empty());
  bitmap.SetHeight(3);
  EXPECT_FALSE(bitmap.Empty());
  bitmap.SetWidth(0);
  EXPECT_TRUE(bitmap.Empty());
}

TEST(Bitmap, NewPixelsAreZeroAndRowsArePaddedToFourBytes) {
  struct Case {
    int width;
    TPixelFormat format;
    std::size_t stride;
  };
  for (const Case c : {Case{1, TPixelFormat::pf8bit, 4}, Case{5, TPixelFormat::pf8bit, 8},
                       Case{3, TPixelFormat::pf24bit, 12}, Case{5, TPixelFormat::pf24bit, 16},
                       Case{3, TPixelFormat::pf32bit, 12}}) {
    TBitmap bitmap(c.width, 2, c.format);
    EXPECT_EQ(bitmap.Stride(), c.stride) << c.width;
    EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), static_cast<std::ptrdiff_t>(c.stride));
    for (std::size_t j = 0; j < bitmap.Stride(); ++j)
      EXPECT_EQ(bitmap.ScanLine(1)[j], 0);
  }
}

TEST(Bitmap, AssignMakesAnIndependentCopyBothWays) {
  TBitmap source = Numbered(7, 4, TPixelFormat::pf8bit);
  source.SetPalette(TPalette({{1, 2, 3, 0}, {4, 5, 6, 0}}));
  TBitmap copy;
  copy.Assign(source);

  ASSERT_EQ(copy.Width(), 7);
  ASSERT_EQ(copy.Height(), 4);
  EXPECT_EQ(copy.PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_NE(copy.Palette(), nullptr);
  EXPECT_EQ(*copy.Palette(), *source.Palette());
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(std::memcmp(copy.ScanLine(i), source.ScanLine(i), 7), 0);

  copy.ScanLine(2)[3] = 200;
  EXPECT_NE(source.ScanLine(2)[3], 200);
  source.ScanLine(1)[1] = 201;
  EXPECT_NE(copy.ScanLine(1)[1], 201);
  source.ClearPalette();
  EXPECT_NE(copy.Palette(), nullptr);
}

TEST(Bitmap, AssignedCopyOutlivesItsSource) {
  TBitmap copy;
  {
    TBitmap source = Numbered(3, 3, TPixelFormat::pf24bit);
    copy.Assign(source);
  }
  EXPECT_EQ(copy.ScanLine(2)[8], static_cast<std::uint8_t>(2 * 31 + 8));
}

TEST(Bitmap, AssignReplacesDepthSizeAndPalette) {
  TBitmap target = Numbered(9, 9, TPixelFormat::pf8bit);
  target.SetPalette(TPalette::Grey());
  const TBitmap source = Numbered(2, 3, TPixelFormat::pf32bit);
  target.Assign(source);
  EXPECT_EQ(target.Width(), 2);
  EXPECT_EQ(target.Height(), 3);
  EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(target.Palette(), nullptr);
}

TEST(Bitmap, SelfAssignCopiesNothingAndReportsTheChange) {
  TBitmap bitmap = Numbered(4, 2, TPixelFormat::pf8bit);
  int changes = 0;
  bitmap.SetOnChange([&] { ++changes; });
  const std::uint8_t* pixels = bitmap.ScanLine(0);
  bitmap.Assign(bitmap);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(bitmap.ScanLine(0), pixels);
  EXPECT_EQ(bitmap.ScanLine(1)[2], static_cast<std::uint8_t>(31 + 2));
}

TEST(Bitmap, MovingAssignGivesTheSameResultAsCopying) {
  TBitmap source = Numbered(5, 5, TPixelFormat::pf24bit);
  TBitmap expected;
  expected.Assign(source);
  TBitmap target;
  int changes = 0;
  target.SetOnChange([&] { ++changes; });
  target.Assign(std::move(source));
  EXPECT_EQ(changes, 1);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(std::memcmp(target.ScanLine(i), expected.ScanLine(i), expected.RowBytes()), 0);
  target.ScanLine(0)[0] = 99;
  target.Changed();
  EXPECT_EQ(changes, 2) << "the observer stays with the target";
}

TEST(Bitmap, ChangesOfShapeAreReported) {
  TBitmap bitmap;
  int changes = 0;
  bitmap.SetOnChange([&] { ++changes; });
  bitmap.SetWidth(3);
  bitmap.SetHeight(3);
  bitmap.SetPixelFormat(TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette::Grey());
  EXPECT_EQ(changes, 4);
  bitmap.SetWidth(3);
  bitmap.SetPixelFormat(TPixelFormat::pf8bit);
  EXPECT_EQ(changes, 4) << "setting what is already there changes nothing";
}

TEST(Bitmap, ResizeKeepsTheOverlapAndZeroesTheRest) {
  TBitmap bitmap = Numbered(4, 3, TPixelFormat::pf8bit);
  bitmap.SetSize(6, 2);
  EXPECT_EQ(bitmap.ScanLine(1)[3], 31 + 3);
  EXPECT_EQ(bitmap.ScanLine(1)[4], 0);
  EXPECT_EQ(bitmap.ScanLine(1)[5], 0);
}

TEST(Bitmap, RowZeroIsTheFirstRowWritten) {
  TBitmap bitmap(2, 3, TPixelFormat::pf8bit);
  bitmap.ScanLine(0)[0] = 10;
  bitmap.ScanLine(2)[0] = 30;
  TBitmap copy;
  copy.Assign(bitmap);
  EXPECT_EQ(copy.ScanLine(0)[0], 10);
  EXPECT_EQ(copy.ScanLine(2)[0], 30);
}

TEST(Palette, LookupFailsWithoutWriting) {
  const TPaletteEntry untouched{7, 8, 9, 1};
  struct Case {
    const char* what;
    std::optional<TPalette> palette;
    int index;
  };
  const Case cases[] = {
      {"no palette", std::nullopt, 0},
      {"beyond a short palette", TPalette({{1, 1, 1, 0}, {2, 2, 2, 0}}), 2},
      {"negative index", TPalette::Grey(), -1},
      {"beyond 256", TPalette::Grey(), 256},
  };
  for (const Case& c : cases) {
    TBitmap bitmap(1, 1, TPixelFormat::pf8bit);
    if (c.palette)
      bitmap.SetPalette(*c.palette);
    TPaletteEntry entry = untouched;
    EXPECT_FALSE(bitmap.GetPaletteEntry(c.index, entry)) << c.what;
    EXPECT_EQ(entry, untouched) << c.what;
  }
}

TEST(Palette, GreyRampAndLookup) {
  const TPalette grey = TPalette::Grey();
  ASSERT_EQ(grey.Count(), 256);
  TPaletteEntry entry;
  ASSERT_TRUE(grey.GetEntry(200, entry));
  EXPECT_EQ(entry, (TPaletteEntry{200, 200, 200, 0}));
}

TEST(Palette, KeepsAtMost256Entries) {
  EXPECT_EQ(TPalette(std::vector<TPaletteEntry>(300)).Count(), 256);
}

}  // namespace
