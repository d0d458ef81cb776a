// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <cstring>
#include <vector>

#include "BitmapTesting.h"
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
