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
