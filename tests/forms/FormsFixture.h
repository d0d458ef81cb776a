#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <cstring>
#include <vector>

#include "Unit1.h"
#include "Unit2.h"

// Both forms, created as start-up creates them, in their globals.
class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Form1 = new TForm1();
    BinaryDlg = new TBinaryDlg();
    Form1->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1));
  }
  void TearDown() override {
    delete BinaryDlg;
    BinaryDlg = nullptr;
    delete Form1;
    Form1 = nullptr;
  }

  static TBitmap* Main() { return Form1->Image1->Picture()->Bitmap(); }
  static TBitmap* Processed() { return Form1->Image2->Picture()->Bitmap(); }
  static TBitmap* Preview() { return BinaryDlg->Image1->Picture()->Bitmap(); }
};

// Every byte of every row that holds pixels, for comparing pictures.
inline std::vector<std::uint8_t> Bytes(const TBitmap& bitmap) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < bitmap.Height(); ++i)
    bytes.insert(bytes.end(), bitmap.ScanLine(i), bitmap.ScanLine(i) + bitmap.RowBytes());
  return bytes;
}

// A bitmap holding `bytes` row after row.
inline TBitmap Picture(int width, int height, TPixelFormat format,
                       const std::vector<std::uint8_t>& bytes) {
  TBitmap bitmap(width, height, format);
  for (int i = 0; i < height; ++i)
    std::memcpy(bitmap.ScanLine(i), bytes.data() + i * bitmap.RowBytes(), bitmap.RowBytes());
  if (format == TPixelFormat::pf8bit)
    bitmap.SetPalette(TPalette::Grey());
  return bitmap;
}

// A 24-bit bitmap whose every byte is `value`.
inline TBitmap Filled(int width, int height, std::uint8_t value) {
  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y)
    std::memset(bitmap.ScanLine(y), value, bitmap.RowBytes());
  return bitmap;
}

// The same size, depth, pixels and palette.
inline bool SameBitmap(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
    return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), a.RowBytes()) != 0)
      return false;
  return a.Palette() == nullptr ? b.Palette() == nullptr
                                : b.Palette() != nullptr && *a.Palette() == *b.Palette();
}
