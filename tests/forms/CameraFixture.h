// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <memory>

#include "CaptureDriver.h"
#include "CaptureWindow.h"
#include "Unit1.h"

// The main window on its own, with `source` standing in for the camera; every test must leave no
// capture window and no pipeline behind.
class CameraFormTest : public ::testing::Test {
 protected:
  explicit CameraFormTest(const char* source) : source_(source) {}

  void SetUp() override {
    qputenv("CCDLAB_CAPTURE_SOURCE", source_);
    form_ = std::make_unique<TForm1>();
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  void TearDown() override {
    form_.reset();
    EXPECT_FALSE(capture::IsWindow(CaptureWnd));
    EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
    QApplication::clipboard()->clear();
  }

  std::unique_ptr<TForm1> form_;

 private:
  const char* source_;
};
