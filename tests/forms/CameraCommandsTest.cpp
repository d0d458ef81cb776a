// SPDX-License-Identifier: GPL-3.0-or-later
#include "Unit1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <cstring>
#include <memory>

#include "CameraFixture.h"
#include "CaptureWindow.h"
#include "FormsFixture.h"
#include "Grayscale.h"
#include "Modal.h"
#include "QImageBridge.h"

namespace {

using namespace capture;

constexpr char kBars[] = "videotestsrc pattern=smpte ! video/x-raw,width=320,height=240";

class CameraCommands : public CameraFormTest {
 protected:
  CameraCommands() : CameraFormTest(kBars) {}

  // Presses "open camera" and dismisses its notice, noting what was there while it was up.
  struct DuringNotice {
    QString text;
    bool windowInPanel = false;
    bool connected = true;
    int pipelines = -1;
  };
  DuringNotice Open() {
    DuringNotice seen;
    OnNextModal([this, &seen](QWidget* modal) {
      if (auto* box = qobject_cast<QMessageBox*>(modal))
        seen.text = box->text();
      TCaptureWindow* window = CaptureWindowFromHandle(CaptureWnd);
      seen.windowInPanel = window != nullptr && window->parentWidget() == form_->Panel1 &&
                           window->geometry() == form_->Panel1->rect() && window->isVisible() &&
                           window->objectName() == "Capture Window";
      seen.connected = window != nullptr && window->Connected();
      seen.pipelines = TCaptureDriver::LivePipelines();
      modal->close();
    });
    form_->Button1->click();
    return seen;
  }
  TCaptureWindow* Window() const { return CaptureWindowFromHandle(CaptureWnd); }
  bool ShowsAFrame() const {
    return QTest::qWaitFor([this] { return Window() && !Window()->ShownFrame().isNull(); }, 10000);
  }
  TBitmap& MainImage() { return *form_->Image1->Picture()->Bitmap(); }
};

TEST_F(CameraCommands, OpenShowsTheNoticeFirstAndOnlyThenThePreview) {
  const QImage caption = form_->Panel1->grab().toImage();
  const DuringNotice seen = Open();
  EXPECT_EQ(seen.text, "未連結攝影機");
  EXPECT_TRUE(seen.windowInPanel);
  EXPECT_FALSE(seen.connected);
  EXPECT_EQ(seen.pipelines, 0);

  ASSERT_TRUE(ShowsAFrame());
  EXPECT_TRUE(Window()->Previewing());
  EXPECT_TRUE(Window()->Scaling());
  EXPECT_EQ(Window()->PreviewRate(), 33);
  // The capture window covers the panel, caption and all.
  EXPECT_NE(form_->Panel1->grab().toImage(), caption);
  EXPECT_EQ(form_->Panel1->childAt(form_->Panel1->rect().center()), Window());
}

TEST_F(CameraCommands, GrabPutsTheFrameShownOnTheClipboardAndIntoTheMainImage) {
  // A pattern that moves every frame: a later frame than the one shown would not match.
  qputenv("CCDLAB_CAPTURE_SOURCE",
          "videotestsrc pattern=smpte horizontal-speed=13 ! "
          "video/x-raw,width=320,height=240,framerate=30/1");
  QApplication::clipboard()->setText("the operator's text");
  Open();
  ASSERT_TRUE(ShowsAFrame());
  // Slow the preview down so that newer frames than the one shown have arrived by the grab.
  SendMessageA(CaptureWnd, WM_CAP_SET_PREVIEWRATE, 1000, 0);
  QTest::qWait(150);

  const QImage painted = Window()->grab().toImage();
  form_->Button2Click();

  const QMimeData* data = QApplication::clipboard()->mimeData();
  EXPECT_FALSE(data->hasText());
  const QImage onClipboard = QApplication::clipboard()->image();
  ASSERT_EQ(MainImage().Width(), 320);
  EXPECT_EQ(MainImage().Height(), 240);
  EXPECT_EQ(MainImage().PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(QImageFromBitmap(MainImage()).convertToFormat(QImage::Format_RGB32),
            onClipboard.convertToFormat(QImage::Format_RGB32));

  // Every pixel of the window shows the grabbed picture sampled at that place (give or take the
  // rounding of the scaler).
  const double sx = 320.0 / painted.width(), sy = 240.0 / painted.height();
  const QImage main = QImageFromBitmap(MainImage());
  int mismatches = 0;
  for (int y = 0; y < painted.height(); y += 3)
    for (int x = 0; x < painted.width(); ++x) {
      bool found = false;
      for (int dy = -1; dy <= 1 && !found; ++dy)
        for (int dx = -1; dx <= 1 && !found; ++dx) {
          const QPoint p(static_cast<int>(x * sx) + dx, static_cast<int>(y * sy) + dy);
          found = main.valid(p) && (main.pixel(p) | 0xff000000u) == painted.pixel(x, y);
        }
      mismatches += !found;
    }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(CameraCommands, GrabLeavesTheProcessedImageAloneAndGreyWorksOnTheNewFrame) {
  qputenv("CCDLAB_CAPTURE_SOURCE",
          "videotestsrc pattern=solid-color foreground-color=0xff336699 ! "
          "video/x-raw,width=64,height=48");
  const TBitmap processed = Filled(7, 5, 200);
  form_->Image2->Picture()->Assign(&processed);
  Open();
  ASSERT_TRUE(ShowsAFrame());
  form_->Button2Click();
  EXPECT_TRUE(SameBitmaps(*form_->Image2->Picture()->Bitmap(), processed));

  TBitmap grey;
  ConvertToGrey(MainImage(), grey);
  ASSERT_EQ(grey.Width(), 64);
  const std::uint8_t expected = GreyLevel(0x33, 0x66, 0x99);
  for (int y = 0; y < grey.Height(); ++y)
    for (int x = 0; x < grey.Width(); ++x)
      ASSERT_EQ(grey.ScanLine(y)[x], expected) << x << "," << y;
}

// Without a camera no copy is asked for: the grab takes whatever picture the clipboard holds, at
// its own depth, and changes nothing when it holds none.
TEST_F(CameraCommands, GrabWithoutACameraTakesOnlyAPictureAlreadyOnTheClipboard) {
  QImage indexed(6, 4, QImage::Format_Indexed8);
  indexed.setColorTable({qRgb(1, 2, 3), qRgb(250, 128, 0)});
  indexed.fill(1);
  struct Case {
    const char* name;
    std::function<void()> fill;
    bool taken;
  };
  const Case cases[] = {
      {"picture", [&] { QApplication::clipboard()->setImage(indexed); }, true},
      {"text", [] { QApplication::clipboard()->setText("words"); }, false},
      {"nothing", [] { QApplication::clipboard()->clear(); }, false},
      {"other data",
       [] {
         auto* data = new QMimeData;
         data->setData("application/x-ccdlab-test", "1234");
         QApplication::clipboard()->setMimeData(data);
       },
       false},
  };
  for (const Case& c : cases) {
    const TBitmap before = Filled(3, 2, 9);
    form_->Image1->Picture()->Assign(&before);
    c.fill();
    form_->Button2Click();
    if (c.taken) {
      EXPECT_EQ(MainImage().PixelFormat(), TPixelFormat::pf8bit) << c.name;
      EXPECT_TRUE(SameBitmaps(MainImage(), BitmapFromQImage(indexed))) << c.name;
      EXPECT_EQ(QApplication::clipboard()->image().size(), indexed.size()) << c.name;
    } else {
      EXPECT_TRUE(SameBitmaps(MainImage(), before)) << c.name;
    }
  }
}

TEST_F(CameraCommands, GrabOfADamagedPictureSaysSoAndKeepsTheMainImage) {
  const TBitmap before = Filled(3, 2, 9);
  form_->Image1->Picture()->Assign(&before);
  auto* data = new QMimeData;
  data->setData("image/png", QByteArray("\x89PNG\r\n\x1a\n broken", 16));
  QApplication::clipboard()->setMimeData(data);

  const MessageBoxCatcher box;
  QTest::mouseClick(form_->Button2, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return box.Seen(); }, 10000));
  EXPECT_TRUE(box.Text().contains("剪貼簿上的圖片無法讀取")) << box.Text().toStdString();
  EXPECT_TRUE(SameBitmaps(MainImage(), before));
}

TEST_F(CameraCommands, CloseTwiceShowsThePanelAgainAndDoesNothingMore) {
  const QImage caption = form_->Panel1->grab().toImage();
  form_->Button3Click();  // nothing open yet
  Open();
  ASSERT_TRUE(ShowsAFrame());
  const HWND opened = CaptureWnd;
  form_->Button3Click();
  EXPECT_FALSE(IsWindow(opened));
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
  form_->Button3Click();
  EXPECT_EQ(form_->Panel1->findChild<TCaptureWindow*>(), nullptr);
  EXPECT_EQ(form_->Panel1->grab().toImage(), caption);

  // A grab after close asks for no copy.
  QApplication::clipboard()->setText("kept");
  form_->Button2Click();
  EXPECT_EQ(QApplication::clipboard()->text(), "kept");
  EXPECT_TRUE(MainImage().Empty());
}

TEST_F(CameraCommands, OpenTwiceLeavesOneWindowAndOneConnection) {
  Open();
  ASSERT_TRUE(ShowsAFrame());
  const HWND first = CaptureWnd;
  const DuringNotice second = Open();
  EXPECT_EQ(second.text, "未連結攝影機");
  EXPECT_EQ(second.pipelines, 0);  // the first camera was released before the new window
  EXPECT_FALSE(IsWindow(first));
  ASSERT_TRUE(ShowsAFrame());
  EXPECT_EQ(form_->Panel1->findChildren<TCaptureWindow*>().size(), 1);
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 1);
}

// Closing the main window while the preview runs: the form goes (as Application::Finalize
// deletes it) and takes the capture window and its pipeline with it.
TEST_F(CameraCommands, TheFormGoingStopsThePreview) {
  Open();
  ASSERT_TRUE(ShowsAFrame());
  form_->close();
  form_.reset();
  EXPECT_FALSE(IsWindow(CaptureWnd));
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 0);
}

}  // namespace
