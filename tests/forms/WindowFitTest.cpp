// SPDX-License-Identifier: GPL-3.0-or-later
// The windows on any screen, a 1024 × 600 panel included: where they open, how narrow they go, and
// the picture shown pixel for pixel where it fits.
#include "WindowPlacement.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <vector>

#include "CameraFixture.h"
#include "CameraMenu.h"
#include "LiveViewer.h"
#include "Modal.h"
#include "PictureCanvas.h"
#include "TryAllWindow.h"
#include "ViewedPicture.h"
#include "ViewerLink.h"
#include "ViewerWindow.h"

namespace {

const QColor kBackground(64, 64, 64);

TEST(WindowPlacement, KeepsStoredPositionsAndOpensBesideTheMainWindow) {
  const QRect small(0, 0, 1024, 600), large(0, 0, 1920, 1080), second(1024, 0, 1280, 1024);
  const QRect stored(207, 124, 688, 537);
  EXPECT_EQ(WithinScreen(stored, large), stored);
  EXPECT_EQ(WithinScreen(stored, small), QRect(207, 63, 688, 537));
  EXPECT_EQ(WithinScreen(stored, QRect(0, 0, 600, 400)), QRect(0, 0, 688, 537));
  EXPECT_EQ(WithinScreen(stored, second), QRect(1024, 124, 688, 537));

  struct Case {
    QSize size;
    QRect main, buttons, screen, placed;
  };
  const QRect onSmall(207, 63, 688, 537), buttons(223, 111, 113, 393);
  const Case cases[] = {
      // No room beside the main window: over its pictures, right of its buttons, narrowed.
      {{682, 400}, onSmall, buttons, small, {344, 63, 680, 400}},
      {{400, 300}, onSmall, buttons, small, {624, 63, 400, 300}},
      // Taller than the screen.
      {{500, 900}, onSmall, buttons, small, {524, 0, 500, 600}},
      // Room on the right, then on the left.
      {{682, 400}, stored, {223, 172, 113, 393}, large, {895, 124, 682, 400}},
      {{682, 400}, {1200, 124, 688, 537}, {1216, 172, 113, 393}, large, {518, 124, 682, 400}},
      // Buttons at the main window's right: the room left of them.
      {{682, 400}, onSmall, {780, 111, 113, 393}, small, {0, 63, 682, 400}},
  };
  for (const Case& c : cases) {
    const QRect placed = PlaceBeside(c.size, c.main, c.buttons, c.screen);
    EXPECT_EQ(placed, c.placed) << c.size.width() << "×" << c.size.height();
    EXPECT_TRUE(c.screen.contains(placed));
    EXPECT_FALSE(placed.intersects(c.buttons));
  }
}

// A picture of `size`: white on the left half, yellow on the right, framed in red where `framed`.
TBitmap Halves(QSize size, bool framed) {
  TBitmap bitmap(size.width(), size.height(), TPixelFormat::pf24bit);
  for (int y = 0; y < size.height(); ++y)
    for (int x = 0; x < size.width(); ++x) {
      std::uint8_t* p = bitmap.ScanLine(y) + 3 * x;
      const bool edge =
          framed && (x == 0 || y == 0 || x == size.width() - 1 || y == size.height() - 1);
      p[0] = edge || x >= size.width() / 2 ? 0 : 255;
      p[1] = edge ? 0 : 255;
      p[2] = 255;
    }
  return bitmap;
}

TEST(ViewerZoom, APictureThatFitsOpensPixelForPixel) {
  const QSize sizes[] = {{320, 240}, {100, 50}, {333, 201}, {640, 480}};
  for (const QSize size : sizes) {
    TImage view;
    const TBitmap picture = Halves(size, false);
    view.Picture()->Assign(&picture);
    TViewerWindow viewer(&view, QStringLiteral("處理後"));
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
    TPictureCanvas* canvas = viewer.Canvas();
    // Below 100 % only where the screen has no room for the picture and the status line.
    const QSize room = viewer.screen()->availableGeometry().size() - QSize(0, 100);
    if (size.width() > room.width() || size.height() > room.height()) {
      EXPECT_LT(canvas->Zoom(), 1) << size.width();
      continue;
    }
    EXPECT_EQ(canvas->Zoom(), 1.0) << size.width();
    EXPECT_EQ(viewer.ZoomText(), QStringLiteral("縮放 100 %"));
    // Across the middle row: background, then every pixel of the picture unblended.
    const QImage shot = canvas->grab().toImage();
    int white = 0, yellow = 0;
    for (int x = 0; x < shot.width(); ++x) {
      const QColor c = shot.pixelColor(x, shot.height() / 2);
      white += c == QColor(255, 255, 255);
      yellow += c == QColor(255, 255, 0);
      EXPECT_TRUE(c == QColor(255, 255, 255) || c == QColor(255, 255, 0) || c == kBackground)
          << size.width() << " at " << x << ": " << qPrintable(c.name());
    }
    EXPECT_EQ(white, size.width() / 2);
    EXPECT_EQ(yellow, size.width() - size.width() / 2);
  }
}

// Below 100 %: the picture covers whole screen pixels, centred, touching two edges of the canvas;
// its one-pixel red frame shows at every edge and nothing blends with the background, whatever
// the canvas's size (a status line that wraps, as a pointer over the picture makes it, changes it).
TEST(ViewerZoom, TheFitBelowFullSizeLosesNoPixel) {
  const QSize sizes[] = {{2000, 1500}, {1999, 1001}, {997, 3001}, {641, 481}, {5000, 203}};
  const QSize windows[] = {{420, 360}, {383, 360}, {391, 337}, {405, 301}};
  for (const QSize size : sizes) {
    TImage view;
    const TBitmap picture = Halves(size, true);
    view.Picture()->Assign(&picture);
    TViewerWindow viewer(&view, QStringLiteral("處理後"));
    viewer.resize(windows[0]);
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
    for (const QSize window : windows) {
      viewer.resize(window);
      QApplication::processEvents();
      TPictureCanvas* canvas = viewer.Canvas();
      ASSERT_TRUE(canvas->Fitted());
      ASSERT_LT(canvas->Zoom(), 1);
      const QImage shot = canvas->grab().toImage();
      QRect shown;
      for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
          if (shot.pixelColor(x, y) != kBackground)
            shown |= QRect(x, y, 1, 1);
      const std::string at = std::to_string(size.width()) + "×" + std::to_string(size.height()) +
                             " in " + std::to_string(shot.width()) + "×" +
                             std::to_string(shot.height());
      EXPECT_TRUE(shown.width() == shot.width() || shown.height() == shot.height()) << at;
      EXPECT_LE(std::abs(shown.left() - (shot.width() - 1 - shown.right())), 1) << at;
      EXPECT_LE(std::abs(shown.top() - (shot.height() - 1 - shown.bottom())), 1) << at;
      const auto reddish = [](QColor c) { return c.red() == 255 && c.green() < 250; };
      int unframed = 0;
      for (int x = shown.left(); x <= shown.right(); ++x)
        unframed += !reddish(shot.pixelColor(x, shown.top())) +
                    !reddish(shot.pixelColor(x, shown.bottom()));
      for (int y = shown.top(); y <= shown.bottom(); ++y)
        unframed += !reddish(shot.pixelColor(shown.left(), y)) +
                    !reddish(shot.pixelColor(shown.right(), y));
      EXPECT_EQ(unframed, 0) << at;
    }
  }
}

constexpr char kCamera[] =
    "videotestsrc pattern=ball ! video/x-raw,width=640,height=480,framerate=30/1";

class WindowFitTest : public CameraFormTest {
 protected:
  WindowFitTest() : CameraFormTest(kCamera) {}
  QRect Available() const { return form_->screen()->availableGeometry(); }
};

TEST_F(WindowFitTest, EveryWindowOpensWithinTheScreenClearOfTheButtonsAndNeverWidens) {
  // Where the screen allows it, the stored position.
  const QRect stored(QPoint(207, 124), form_->frameGeometry().size());
  EXPECT_EQ(form_->frameGeometry(), WithinScreen(stored, Available()));
  EXPECT_TRUE(Available().contains(form_->frameGeometry()));

  TBitmap picture(640, 480, TPixelFormat::pf24bit);
  form_->Image1->Picture()->Bitmap()->Assign(std::move(picture));
  OnNextModal([](QWidget* modal) { modal->close(); });
  form_->Button1->click();
  form_->Panel1->findChild<TCameraMenu*>()->ViewerAction()->trigger();
  TLiveViewerLink* live = TLiveViewerLink::Of(form_.get());
  live->ProcessingAction()->setChecked(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ViewedPicture(live->Viewer()->View()) != nullptr; }));

  std::vector<QWidget*> windows = {TViewerLink::Of(form_->Image1)->Open(),
                                   TViewerLink::Of(form_->Image2)->Open(), live->Viewer()};
  windows.push_back(TViewerLink::Of(form_->Image1)->OpenTryAll());
  const QRect buttons = ButtonsOf(form_.get());
  for (QWidget* window : windows) {
    const QString name = window->objectName() + QLatin1Char(' ') + window->windowTitle();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_TRUE(Available().contains(window->frameGeometry())) << qPrintable(name);
    EXPECT_FALSE(window->frameGeometry().intersects(buttons)) << qPrintable(name);
    // Usable in the room right of the buttons on a 1024 × 600 screen.
    EXPECT_LE(window->minimumSizeHint().width(), 400) << qPrintable(name);

    // Texts far longer than the window: elided or wrapped, the window as it was.
    const QSize size = window->size();
    for (QLabel* label : window->findChildren<QLabel*>())
      label->setText(label->text() + QStringLiteral(" 88888888").repeated(40));
    QApplication::processEvents();
    EXPECT_EQ(window->size(), size) << qPrintable(name);
    EXPECT_LE(window->minimumSizeHint().width(), 400) << qPrintable(name);
  }
  form_->Button3->click();
}

}  // namespace
