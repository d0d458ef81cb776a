// SPDX-License-Identifier: GPL-3.0-or-later
// Cameras that fail in every way a stream can, driven through the window's commands: no crash, no
// hang, and no pipeline or thread left behind; a grab takes only a frame that was on display.

#include "Unit1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMessageBox>
#include <QTest>
#include <cstring>
#include <memory>

#include "CameraFixture.h"
#include "CaptureWindow.h"
#include "FormsFixture.h"
#include "Modal.h"

namespace {

using namespace capture;

constexpr char kBars[] = "videotestsrc pattern=smpte ! video/x-raw,width=64,height=48";

// Threads of this process, as the kernel counts them.
int Threads() {
  return static_cast<int>(
      QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

struct Fault {
  const char* name;
  const char* source;  // CCDLAB_CAPTURE_SOURCE
  TCaptureState settles;
  bool showsAFrame;  // a frame is on display once the state has settled
};

const Fault kFaults[] = {
    {"never starts: a live source that delivers nothing",
     "appsrc is-live=true caps=\"video/x-raw,format=BGRx,width=64,height=48,framerate=30/1\"",
     TCaptureState::Starting, false},
    {"no such device", "v4l2src device=/dev/ccdlab-no-such-camera", TCaptureState::NoCamera, false},
    {"a file that is not there", "filesrc location=/nonexistent/ccdlab.jpg ! jpegdec",
     TCaptureState::NoCamera, false},
    {"a description whose elements cannot be linked",
     "videotestsrc ! video/x-bayer,format=bggr,width=64,height=48", TCaptureState::NoCamera, false},
    {"a stream whose format turns out wrong once it flows",
     "videotestsrc ! jpegenc ! multipartmux ! multipartdemux ! pngdec", TCaptureState::NoCamera,
     false},
    {"a source that is no source", "fakesrc", TCaptureState::NoCamera, false},
    {"ends after 30 frames", "videotestsrc num-buffers=30 ! video/x-raw,width=64,height=48",
     TCaptureState::Lost, true},
    {"fails mid-stream",
     "videotestsrc is-live=true ! video/x-raw,width=64,height=48,framerate=60/1 ! "
     "identity error-after=20",
     TCaptureState::Lost, true},
};

class CameraFaults : public CameraFormTest {
 protected:
  CameraFaults() : CameraFormTest(kBars) {}

  // Presses "open camera" and dismisses its notice.
  void Open(const char* source) {
    qputenv("CCDLAB_CAPTURE_SOURCE", source);
    OnNextModal([](QWidget* modal) { modal->close(); });
    form_->Button1->click();
  }
  void Close() { form_->Button3->click(); }
  TCaptureWindow* Window() const { return CaptureWindowFromHandle(CaptureWnd); }
  TBitmap& MainImage() { return *form_->Image1->Picture()->Bitmap(); }

  // Grabs with a known picture in the main image and text on the clipboard: the picture is
  // replaced only by a frame that was on display; nothing is said, nothing is thrown.
  void GrabChangesOnlyWithAFrame(bool frameShown, const char* when) {
    const TBitmap before = Filled(3, 2, 9);
    form_->Image1->Picture()->Assign(&before);
    QApplication::clipboard()->setText("the operator's text");
    const QImage shown = Window() != nullptr ? Window()->ShownFrame() : QImage();
    EXPECT_NO_THROW(form_->Button2Click()) << when;
    if (frameShown) {
      EXPECT_EQ(MainImage().Width(), shown.width()) << when;
      EXPECT_EQ(MainImage().Height(), shown.height()) << when;
    } else {
      EXPECT_TRUE(SameBitmaps(MainImage(), before)) << when;
      EXPECT_EQ(QApplication::clipboard()->text(), "the operator's text") << when;
    }
  }
};

TEST_F(CameraFaults, EveryFailingSourceLeavesTheCommandsWorkingAndNothingBehind) {
  // GStreamer starts its own threads on first use; count after that.
  Open(kBars);
  ASSERT_TRUE(QTest::qWaitFor([this] { return !Window()->ShownFrame().isNull(); }, 10000));
  Close();
  const int threads = Threads();

  for (const Fault& fault : kFaults) {
    GrabChangesOnlyWithAFrame(false, "before the camera is opened");
    Open(fault.source);
    ASSERT_NE(Window(), nullptr) << fault.name;
    if (fault.settles == TCaptureState::Starting) {
      QTest::qWait(300);
      EXPECT_EQ(Window()->State(), TCaptureState::Starting) << fault.name;
      EXPECT_TRUE(Window()->Connected()) << fault.name;
    } else {
      EXPECT_TRUE(QTest::qWaitFor([&] { return Window()->State() == fault.settles; }, 10000))
          << fault.name << ": state " << static_cast<int>(Window()->State());
      EXPECT_FALSE(Window()->Connected()) << fault.name;
      EXPECT_EQ(TCaptureDriver::LivePipelines(), 0) << fault.name;
    }
    EXPECT_EQ(Window()->ShownFrame().isNull(), !fault.showsAFrame) << fault.name;
    GrabChangesOnlyWithAFrame(fault.showsAFrame, fault.name);

    Close();
    EXPECT_FALSE(IsWindow(CaptureWnd)) << fault.name;
    EXPECT_EQ(TCaptureDriver::LivePipelines(), 0) << fault.name;
    GrabChangesOnlyWithAFrame(false, "after the camera is closed");
  }
  // Streaming threads go with their pipelines; GStreamer may keep a few pooled ones.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Threads() <= threads + 2; }, 5000))
      << Threads() << " threads, " << threads << " before";
}

TEST_F(CameraFaults, GrabWhileStreamingTakesTheFrameShown) {
  Open(kBars);
  ASSERT_TRUE(QTest::qWaitFor([this] { return !Window()->ShownFrame().isNull(); }, 10000));
  EXPECT_EQ(Window()->State(), TCaptureState::Streaming);
  GrabChangesOnlyWithAFrame(true, "while streaming");
  EXPECT_EQ(MainImage().Width(), 64);
  EXPECT_EQ(TCaptureDriver::LivePipelines(), 1);
}

// Open and close a hundred times in a row, good sources and failing ones in turn, sometimes
// before the first frame, sometimes after it.
TEST_F(CameraFaults, AHundredOpenCloseCyclesLeaveNoPipelineAndNoThread) {
  Open(kBars);
  ASSERT_TRUE(QTest::qWaitFor([this] { return !Window()->ShownFrame().isNull(); }, 10000));
  Close();
  const int threads = Threads();

  for (int i = 0; i < 100; ++i) {
    const char* source = i % 2 == 0 ? kBars : kFaults[(i / 2) % std::size(kFaults)].source;
    Open(source);
    ASSERT_TRUE(IsWindow(CaptureWnd)) << i;
    if (i % 10 == 0 && source == kBars) {
      ASSERT_TRUE(QTest::qWaitFor([this] { return !Window()->ShownFrame().isNull(); }, 10000));
    }
    Close();
    ASSERT_FALSE(IsWindow(CaptureWnd)) << i;
    ASSERT_EQ(TCaptureDriver::LivePipelines(), 0) << i;
  }
  EXPECT_TRUE(QTest::qWaitFor([&] { return Threads() <= threads + 2; }, 5000))
      << Threads() << " threads, " << threads << " before";
}

}  // namespace
