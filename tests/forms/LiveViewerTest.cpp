// SPDX-License-Identifier: GPL-3.0-or-later
#include "LiveViewer.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

#include "BitmapTesting.h"
#include "CameraFixture.h"
#include "CameraMenu.h"
#include "CountPlot.h"
#include "Modal.h"
#include "PictureCanvas.h"
#include "Unit2.h"
#include "ViewedPicture.h"
#include "Workbench.h"

namespace {

// A grey ball on a darker grey, moving: grey levels 160 and 64, so that the live chain's grey and
// a threshold between them tell apart raw, grey and black-and-white frames.
constexpr char kBall[] =
    "videotestsrc pattern=ball foreground-color=0xffa0a0a0 background-color=0xff404040 "
    "! video/x-raw,width=320,height=240,framerate=30/1";
// The same camera, ending after 45 frames.
constexpr char kEnding[] =
    "videotestsrc pattern=ball num-buffers=45 foreground-color=0xffa0a0a0 "
    "background-color=0xff404040 ! video/x-raw,width=320,height=240,framerate=30/1";

class LiveViewerTest : public CameraFormTest {
 protected:
  explicit LiveViewerTest(const char* source = kBall) : CameraFormTest(source) {}

  void SetUp() override {
    CameraFormTest::SetUp();
    Form1 = form_.get();
    BinaryDlg = new TBinaryDlg();
  }
  void TearDown() override {
    delete BinaryDlg;
    BinaryDlg = nullptr;
    Form1 = nullptr;
    CameraFormTest::TearDown();
  }

  void OpenCamera() {
    OnNextModal([](QWidget* modal) { modal->close(); });
    form_->Button1->click();
  }
  TLiveViewerLink* Link() const { return TLiveViewerLink::Of(form_.get()); }
  TViewerWindow* OpenViewer() {
    form_->Panel1->findChild<TCameraMenu*>()->ViewerAction()->trigger();
    return Link()->Viewer();
  }
  const TBitmap* Shown() const { return ViewedPicture(Link()->Viewer()->View()); }
  // A live chain of grey and binarize between the two greys, which leaves the ball white: the one
  // bright object.
  void MeasureTheBall() {
    TWorkbench* workbench = form_->Workbench();
    workbench->TakeFrame(Filled(8, 8, 128));
    workbench->Run({TOperation::Grey});
    workbench->BeginBinarize();
    workbench->TryThreshold(100);
    workbench->AcceptBinarize();
    TMeasureOptions options = workbench->MeasureOptions();
    options.whiteObjects = true;
    workbench->SetMeasureOptions(options);
  }

  // A copy of the next frame shown that `fits`, or an empty bitmap after 10 s.
  template <typename Fits>
  TBitmap NextFrame(Fits fits) {
    TBitmap frame;
    (void)QTest::qWaitFor(
        [&] {
          const TBitmap* shown = Shown();
          if (shown == nullptr || !fits(*shown))
            return false;
          frame.Assign(*shown);
          return true;
        },
        10000);
    return frame;
  }
  static bool Grey(const TBitmap& b) {
    return b.PixelFormat() == TPixelFormat::pf8bit && Has(b, 64) && Has(b, 160);
  }
  static bool BlackAndWhite(const TBitmap& b) {
    return b.PixelFormat() == TPixelFormat::pf8bit && Has(b, 0) && Has(b, 255) && Only(b, 0, 255);
  }
  static bool Has(const TBitmap& b, std::uint8_t v) {
    for (int y = 0; y < b.Height(); ++y)
      if (std::memchr(b.ScanLine(y), v, b.RowBytes()) != nullptr)
        return true;
    return false;
  }
  static bool Only(const TBitmap& b, std::uint8_t v, std::uint8_t w) {
    for (int y = 0; y < b.Height(); ++y)
      for (std::size_t x = 0; x < b.RowBytes(); ++x)
        if (b.ScanLine(y)[x] != v && b.ScanLine(y)[x] != w)
          return false;
    return true;
  }
  static bool Same(const TBitmap& a, const TBitmap& b) {
    for (int y = 0; y < a.Height(); ++y)
      if (std::memcmp(a.ScanLine(y), b.ScanLine(y), a.RowBytes()) != 0)
        return false;
    return true;
  }
};

TEST_F(LiveViewerTest, ShowsRawThenProcessedChangingFramesAndFollowsTheThreshold) {
  OpenCamera();
  // A double-click on the capture window opens it as "檢視…" does, one per program.
  QTest::mouseDClick(CaptureWindowFromHandle(CaptureWnd), Qt::LeftButton);
  TViewerWindow* viewer = Link()->Viewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(OpenViewer(), viewer);
  EXPECT_EQ(viewer->windowTitle(), "CCD影像");

  const TBitmap raw =
      NextFrame([](const TBitmap& b) { return b.PixelFormat() != TPixelFormat::pf8bit; });
  EXPECT_EQ(raw.Width(), 320);
  EXPECT_EQ(raw.Height(), 240);

  // The shortcut works in the active window, which the X server makes it in its own time.
  ASSERT_TRUE(TakeTheKeyboard(viewer));
  QTest::keyClick(viewer, Qt::Key_P);
  ASSERT_TRUE(Link()->ProcessingAction()->isChecked());
  const TBitmap grey = NextFrame(Grey);
  ASSERT_FALSE(grey.Empty());
  const TBitmap moved = NextFrame([&](const TBitmap& b) { return Grey(b) && !Same(b, grey); });
  EXPECT_FALSE(moved.Empty()) << "the ball does not move";
  EXPECT_TRUE(viewer->HistogramShown());
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return viewer->findChild<QLabel*>("RatesLabel")->text().contains("即時處理"); }, 3000));

  // 灰階化 starts the chain again; the threshold dialog's slider, between the two greys, adds a
  // binarize step: black-and-white frames while it is up.
  form_->Button4->click();
  bool binarized = false;
  OnNextModal([&](QWidget* dialog) {
    BinaryDlg->ScrollBar1->setValue(100);
    const TBitmap first = NextFrame(BlackAndWhite);
    binarized =
        !NextFrame([&](const TBitmap& b) { return BlackAndWhite(b) && !Same(b, first); }).Empty();
    dialog->close();
  });
  form_->Button5->click();
  EXPECT_TRUE(binarized);
  EXPECT_FALSE(NextFrame(Grey).Empty()) << "the chain did not drop the slider's step";

  // Back to the viewer, which the dialog left inactive.
  ASSERT_TRUE(TakeTheKeyboard(viewer));
  QTest::keyClick(viewer, Qt::Key_P);
  EXPECT_FALSE(
      NextFrame([](const TBitmap& b) { return b.PixelFormat() != TPixelFormat::pf8bit; }).Empty());
  form_->Button3->click();
  EXPECT_TRUE(QTest::qWaitFor([&] { return viewer->Canvas()->Notice() == "攝影機未開啟"; }));
}

class EndingCamera : public LiveViewerTest {
 protected:
  EndingCamera() : LiveViewerTest(kEnding) {}
};

TEST_F(EndingCamera, LeavesTheViewerWithItsLastFrameAndTheStateLine) {
  TViewerWindow* viewer = OpenViewer();
  EXPECT_EQ(viewer->Canvas()->Notice(), "攝影機未開啟");
  Link()->ProcessingAction()->trigger();
  OpenCamera();
  ASSERT_FALSE(NextFrame(Grey).Empty());
  TCaptureWindow* window = CaptureWindowFromHandle(CaptureWnd);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->State() == TCaptureState::Lost; }, 10000));
  QTest::qWait(200);
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(viewer->Canvas()->Notice(), "攝影機已中斷");
  ASSERT_NE(Shown(), nullptr);
  EXPECT_TRUE(Grey(*Shown()));
  // A camera opened again is followed.
  OpenCamera();
  EXPECT_TRUE(QTest::qWaitFor([&] { return viewer->Canvas()->Notice().isEmpty(); }, 10000));
}

TEST_F(LiveViewerTest, MeasuresEveryFrameTheBallMovingIn) {
  MeasureTheBall();
  OpenCamera();
  TViewerWindow* viewer = OpenViewer();
  ASSERT_TRUE(TakeTheKeyboard(viewer));
  QTest::keyClick(viewer, Qt::Key_M);
  ASSERT_TRUE(Link()->MeasuringAction()->isChecked());
  const auto said = [&] { return viewer->findChild<QLabel*>("MeasureLabel")->text(); };
  // Raw frames hold every grey: nothing to count.
  EXPECT_TRUE(QTest::qWaitFor([&] { return said() == "需要黑白影像：請先二值化"; }, 10000))
      << said().toStdString();

  QTest::keyClick(viewer, Qt::Key_P);
  const auto ball = [&]() -> std::optional<QPointF> {
    const auto& objects = Link()->Feed()->ShownObjects();
    if (objects == nullptr || objects->particles.size() != 1)
      return std::nullopt;
    return QPointF(objects->particles[0].x, objects->particles[0].y);
  };
  std::optional<QPointF> first, moved;
  ASSERT_TRUE(QTest::qWaitFor([&] { return (first = ball()).has_value(); }, 10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return (moved = ball()) && *moved != *first; }, 10000))
      << "the ball's centroid does not move";
  EXPECT_EQ(viewer->Canvas()->Objects(), Link()->Feed()->ShownObjects());
  EXPECT_TRUE(said().startsWith("物件 1　平均面積 ")) << said().toStdString();
  ASSERT_FALSE(Link()->CountPlot()->Points().empty());
  EXPECT_EQ(Link()->CountPlot()->Points().back().second, 1);

  // Off: no outlines, no plot.
  QTest::keyClick(viewer, Qt::Key_M);
  EXPECT_EQ(viewer->Canvas()->Objects(), nullptr);
  EXPECT_FALSE(Link()->CountPlot()->isVisible());
}

TEST_F(EndingCamera, LogsEveryFrameMeasuredWhole) {
  MeasureTheBall();
  OpenViewer();
  Link()->ProcessingAction()->setChecked(true);
  QTemporaryDir dir;
  {
    MessageBoxCatcher message;
    EXPECT_FALSE(Link()->StartLog(dir.filePath("missing/log.csv")));
    EXPECT_TRUE(message.Text().contains("missing/log.csv")) << message.Text().toStdString();
  }
  const QString file = dir.filePath("記錄.csv");
  ASSERT_TRUE(Link()->StartLog(file));
  EXPECT_TRUE(Link()->MeasuringAction()->isChecked());
  OpenCamera();
  TCaptureWindow* window = CaptureWindowFromHandle(CaptureWnd);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->State() == TCaptureState::Lost; }, 10000));
  const std::shared_ptr<TMeasureLog> log = Link()->Log();
  ASSERT_NE(log, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] {
    const TLiveCounts counts = Link()->Feed()->Counts();
    return counts.measured > 0 && log->Rows() == counts.measured;
  }));

  // Read while the log is still open, as after a crash: every row there and whole.
  QFile saved(file);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = saved.readAll().split('\n');
  ASSERT_EQ(static_cast<std::uint64_t>(lines.size()), log->Rows() + 2);
  EXPECT_EQ(lines.front(), "time,count,total_area,mean_area,area_fraction");
  EXPECT_TRUE(lines.back().isEmpty()) << "the last row is cut";
  for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
    const QList<QByteArray> fields = lines[i].split(',');
    ASSERT_EQ(fields.size(), 5) << lines[i].toStdString();
    EXPECT_EQ(fields[1], "1") << lines[i].toStdString();
    EXPECT_EQ(fields[2], fields[3]) << lines[i].toStdString();
  }
  Link()->StopLog();
  EXPECT_EQ(Link()->Log(), nullptr);
}

}  // namespace
