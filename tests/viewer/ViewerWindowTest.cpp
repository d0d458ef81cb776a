// SPDX-License-Identifier: GPL-3.0-or-later
#include "ViewerWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <cstring>
#include <memory>
#include <vector>

#include "HistogramPane.h"
#include "LiveFeed.h"
#include "PictureCanvas.h"
#include "ReducedPicture.h"
#include "ThresholdMethodMenu.h"
#include "TryAllWindow.h"

namespace {

TBitmap Bytes(int width, int height, TPixelFormat format, const std::vector<int>& bytes) {
  TBitmap bitmap(width, height, format);
  for (int i = 0; i < height; ++i)
    std::copy(bytes.begin() + i * bitmap.RowBytes(), bytes.begin() + (i + 1) * bitmap.RowBytes(),
              bitmap.ScanLine(i));
  return bitmap;
}

// A picture of `width` × `height` whose pixels alternate between the colours `a` and `b` (as
// stored: blue, green, red, alpha), like a checkerboard.
TBitmap Checker(int width, int height, TPixelFormat format, const std::vector<int>& a,
                const std::vector<int>& b) {
  TBitmap bitmap(width, height, format);
  for (int i = 0; i < height; ++i)
    for (int j = 0; j < width; ++j)
      for (int k = 0; k < bitmap.BytesPerPixel(); ++k)
        bitmap.ScanLine(i)[j * bitmap.BytesPerPixel() + k] =
            static_cast<std::uint8_t>(((i + j) % 2 ? b : a)[k]);
  return bitmap;
}

class ViewerWindowTest : public ::testing::Test {
 protected:
  // A viewer of `view_`, holding `picture`, shown at a known size.
  void Open(const TBitmap& picture) {
    view_.Picture()->Assign(&picture);
    viewer_ = std::make_unique<TViewerWindow>(&view_, QStringLiteral("處理後"));
    viewer_->resize(420, 360);
    viewer_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer_.get()));
  }
  TPictureCanvas* Canvas() const { return viewer_->Canvas(); }
  void Wheel(QPointF at, int delta) {
    QWheelEvent event(at, Canvas()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Canvas(), &event);
  }
  // The mouse resting on the canvas at `at`, or leaving it. (Moves without a button go through the
  // X server's pointer otherwise, which reports them late.)
  void Hover(QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, Canvas()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(Canvas(), &move);
  }
  void Leave() {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(Canvas(), &leave);
  }
  // The colour the canvas shows at the centre of picture pixel (x, y).
  QColor Shown(double x, double y) const {
    const QImage shot = Canvas()->grab().toImage();
    const QPointF at = Canvas()->ToCanvas(QPointF(x + 0.5, y + 0.5));
    return shot.pixelColor(static_cast<int>(at.x()), static_cast<int>(at.y()));
  }

  TImage view_;
  std::unique_ptr<TViewerWindow> viewer_;
};

TEST_F(ViewerWindowTest, OpensFittedAndTheKeysZoomAsInCommonViewers) {
  Open(TBitmap(1200, 900, TPixelFormat::pf24bit));
  EXPECT_EQ(viewer_->windowTitle(), QStringLiteral("處理後"));
  ASSERT_TRUE(Canvas()->Fitted());
  const double fit = Canvas()->Zoom();
  // The whole picture shows, touching two edges of the canvas.
  const QSizeF shown = QSizeF(1200, 900) * fit;
  EXPECT_LE(shown.width(), Canvas()->width() + 0.01);
  EXPECT_LE(shown.height(), Canvas()->height() + 0.01);
  EXPECT_TRUE(qAbs(shown.width() - Canvas()->width()) < 1 ||
              qAbs(shown.height() - Canvas()->height()) < 1);

  struct Step {
    char key;
    double zoom;
    const char* text;
  };
  const Step steps[] = {{'1', 1, "縮放 100 %"}, {'+', 1.5, "縮放 150 %"},
                        {'=', 2, "縮放 200 %"}, {'-', 1.5, "縮放 150 %"},
                        {'-', 1, "縮放 100 %"}, {'-', 2.0 / 3, "縮放 66.7 %"},
                        {'f', fit, nullptr}};
  for (const Step& s : steps) {
    QTest::keyClick(viewer_.get(), s.key);
    EXPECT_DOUBLE_EQ(Canvas()->Zoom(), s.zoom) << s.key;
    if (s.text) {
      EXPECT_EQ(viewer_->ZoomText(), QString::fromUtf8(s.text)) << s.key;
    }
  }
  EXPECT_TRUE(Canvas()->Fitted());
}

TEST_F(ViewerWindowTest, TheWheelZoomsAroundThePixelUnderTheCursor) {
  Open(TBitmap(3000, 2000, TPixelFormat::pf8bit));
  QTest::keyClick(viewer_.get(), '1');
  struct Turn {
    QPointF at;
    int delta;
    double zoom;
  };
  const Turn turns[] = {{{40, 30}, 120, 1.5},      {{300, 100}, 240, 3},      {{120, 200}, -120, 2},
                        {{10, 10}, -360, 2.0 / 3}, {{200, 150}, 60, 2.0 / 3}, {{200, 150}, 60, 1}};
  for (const Turn& t : turns) {
    const QPointF before = Canvas()->ToPicture(t.at);
    Wheel(t.at, t.delta);
    EXPECT_DOUBLE_EQ(Canvas()->Zoom(), t.zoom);
    const QPointF after = Canvas()->ToPicture(t.at);
    EXPECT_NEAR(after.x(), before.x(), 1e-6) << t.at.x() << "," << t.at.y();
    EXPECT_NEAR(after.y(), before.y(), 1e-6) << t.at.x() << "," << t.at.y();
  }
}

TEST_F(ViewerWindowTest, DraggingPansWithinThePicture) {
  Open(TBitmap(3000, 2000, TPixelFormat::pf24bit));
  QTest::keyClick(viewer_.get(), '1');
  const QPointF before = Canvas()->ToPicture(QPointF(100, 100));
  QTest::mousePress(Canvas(), Qt::LeftButton, {}, QPoint(100, 100));
  QTest::mouseMove(Canvas(), QPoint(60, 70));
  QTest::mouseRelease(Canvas(), Qt::LeftButton, {}, QPoint(60, 70));
  const QPointF after = Canvas()->ToPicture(QPointF(60, 70));
  EXPECT_NEAR(after.x(), before.x(), 1e-9);
  EXPECT_NEAR(after.y(), before.y(), 1e-9);
  // Never beyond the picture's edge.
  for (int i = 0; i < 8; ++i) {
    QTest::mousePress(Canvas(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(Canvas(), QPoint(300, 300));
    QTest::mouseRelease(Canvas(), Qt::LeftButton, {}, QPoint(300, 300));
  }
  EXPECT_EQ(Canvas()->ToPicture(QPointF(0, 0)), QPointF(0, 0));
}

// Above 100 % every pixel is a square of its own colour; below, neighbours blend. Per depth, with
// colours whose channels differ, so that a channel mix-up shows too.
TEST_F(ViewerWindowTest, SharpSquaresAboveFullSizeSmoothBelow) {
  struct Case {
    const char* name;
    TBitmap bitmap;
    QColor a, b, mean;
  };
  TBitmap indexed = Checker(64, 64, TPixelFormat::pf8bit, {0}, {1});
  indexed.SetPalette(TPalette({{200, 0, 0, 0}, {0, 0, 100, 0}}));
  TBitmap grey = Checker(64, 64, TPixelFormat::pf8bit, {0}, {255});
  grey.SetPalette(TPalette::Grey());
  Case cases[] = {
      {"grey", std::move(grey), QColor(0, 0, 0), QColor(255, 255, 255), QColor(128, 128, 128)},
      {"indexed", std::move(indexed), QColor(200, 0, 0), QColor(0, 0, 100), QColor(100, 0, 50)},
      {"24-bit", Checker(64, 64, TPixelFormat::pf24bit, {0, 0, 250}, {60, 120, 0}),
       QColor(250, 0, 0), QColor(0, 120, 60), QColor(125, 60, 30)},
      {"32-bit", Checker(64, 64, TPixelFormat::pf32bit, {0, 0, 250, 255}, {60, 120, 0, 255}),
       QColor(250, 0, 0), QColor(0, 120, 60), QColor(125, 60, 30)},
  };
  const auto near = [](QColor x, QColor y) {
    return qAbs(x.red() - y.red()) <= 2 && qAbs(x.green() - y.green()) <= 2 &&
           qAbs(x.blue() - y.blue()) <= 2;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open(c.bitmap);
    Canvas()->ZoomTo(4);
    for (const auto& [x, y] : {std::pair{20, 20}, {21, 20}, {20, 21}, {25, 30}}) {
      const QColor expected = (x + y) % 2 ? c.b : c.a;
      EXPECT_EQ(Shown(x, y), expected) << x << "," << y;
      // Near the square's corners as well: no blending with the neighbours.
      EXPECT_EQ(Shown(x - 0.3, y - 0.3), expected) << x << "," << y;
      EXPECT_EQ(Shown(x + 0.3, y + 0.3), expected) << x << "," << y;
    }
    for (const double zoom : {0.25, 0.125}) {
      Canvas()->ZoomTo(zoom);
      const QColor shown = Shown(32, 32);
      EXPECT_TRUE(near(shown, c.mean)) << zoom << ": " << shown.name().toStdString();
    }
  }
}

// What zooms between 50 and 100 % scale from: the part on show, in the toolkit's own format.
TEST(Rgb32Part, GivesEachPixelsColourAtEachDepth) {
  TBitmap indexed = Bytes(3, 1, TPixelFormat::pf8bit, {1, 0, 5, 0});
  indexed.SetPalette(TPalette({{200, 0, 0, 0}, {0, 0, 100, 0}}));
  TBitmap grey = Bytes(3, 1, TPixelFormat::pf8bit, {9, 99, 199, 0});
  struct Case {
    const char* name;
    TBitmap bitmap;
    std::vector<QRgb> part;  // of columns 1 and 2
  };
  Case cases[] = {
      {"grey", std::move(grey), {qRgb(99, 99, 99), qRgb(199, 199, 199)}},
      {"indexed", std::move(indexed), {qRgb(200, 0, 0), qRgb(0, 0, 0)}},
      {"24-bit",
       Bytes(3, 1, TPixelFormat::pf24bit, {0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0, 0}),
       {qRgb(3, 2, 1), qRgb(6, 5, 4)}},
      {"32-bit",
       Bytes(3, 1, TPixelFormat::pf32bit, {0, 0, 0, 0, 1, 2, 3, 255, 40, 40, 40, 0}),
       {qRgba(3, 2, 1, 255), qRgba(0, 0, 0, 0)}},
  };
  for (const Case& c : cases) {
    const QImage part = Rgb32Part(c.bitmap, QRect(1, 0, 5, 1));
    ASSERT_EQ(part.size(), QSize(2, 1)) << c.name;
    EXPECT_EQ(part.pixel(0, 0), c.part[0]) << c.name;
    EXPECT_EQ(part.pixel(1, 0), c.part[1]) << c.name;
  }
}

TEST_F(ViewerWindowTest, TheStatusLineNamesThePixelUnderTheMouseAtEachDepth) {
  const auto withPalette = [](TBitmap bitmap, const TPalette& palette) {
    bitmap.SetPalette(palette);
    return bitmap;
  };
  const TPalette shortPalette({{200, 10, 20, 0}, {0, 99, 0, 0}});
  struct Case {
    TBitmap bitmap;
    int x;
    const char* picture;
    const char* pixel;
  };
  Case cases[] = {
      {withPalette(Bytes(2, 1, TPixelFormat::pf8bit, {3, 200, 0, 0}), TPalette::Grey()), 1,
       "2 × 1，8 位元灰階", "(1, 0)　灰階 200"},
      {Bytes(2, 1, TPixelFormat::pf8bit, {3, 200, 0, 0}), 0, "2 × 1，8 位元灰階", "(0, 0)　灰階 3"},
      {withPalette(Bytes(3, 1, TPixelFormat::pf8bit, {0, 1, 7, 0}), shortPalette), 1,
       "3 × 1，8 位元索引色（2 色）", "(1, 0)　索引 1：R 0  G 99  B 0"},
      {withPalette(Bytes(3, 1, TPixelFormat::pf8bit, {0, 1, 7, 0}), shortPalette), 2,
       "3 × 1，8 位元索引色（2 色）", "(2, 0)　索引 7（不在調色盤中，顯示為黑色）"},
      {Bytes(2, 1, TPixelFormat::pf24bit, {1, 2, 3, 30, 20, 10, 0, 0}), 1, "2 × 1，24 位元全彩",
       "(1, 0)　R 10  G 20  B 30"},
      {Bytes(2, 1, TPixelFormat::pf32bit, {1, 2, 3, 4, 30, 20, 10, 40}), 1,
       "2 × 1，32 位元全彩含透明度", "(1, 0)　R 10  G 20  B 30  A 40"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.pixel);
    Open(c.bitmap);
    // Opened at 100 %; enlarged to the canvas so that each pixel is a target of its own.
    Canvas()->Fit();
    EXPECT_EQ(viewer_->PictureText(), QString::fromUtf8(c.picture));
    Hover(Canvas()->ToCanvas(QPointF(c.x + 0.5, 0.5)).toPoint());
    EXPECT_EQ(viewer_->PixelText(), QString::fromUtf8(c.pixel));
    EXPECT_EQ(viewer_->findChild<QLabel*>(QStringLiteral("PixelLabel"))->text(),
              QString::fromUtf8(c.pixel));
    // Off the picture, or off the window: no pixel.
    Hover(QPoint(1, 1));
    EXPECT_EQ(viewer_->PixelText(), QString());
    Hover(Canvas()->ToCanvas(QPointF(c.x + 0.5, 0.5)).toPoint());
    Leave();
    EXPECT_EQ(viewer_->PixelText(), QString());
  }
}

TEST_F(ViewerWindowTest, FollowsTheViewsPicture) {
  Open(TBitmap(100, 50, TPixelFormat::pf24bit));
  Canvas()->Fit();                          // enlarged: the next picture then fits at another zoom
  EXPECT_FALSE(viewer_->HistogramShown());  // a colour picture
  const double zoom = Canvas()->Zoom();
  // A new picture of another size and depth, with the mouse resting on the canvas.
  Hover(Canvas()->rect().center());
  TBitmap grey(40, 40, TPixelFormat::pf8bit);
  grey.SetPalette(TPalette::Grey());
  for (int i = 0; i < 40; ++i)
    std::memset(grey.ScanLine(i), 77, 40);
  view_.Picture()->Assign(&grey);
  EXPECT_EQ(viewer_->PictureText(), QStringLiteral("40 × 40，8 位元灰階"));
  EXPECT_NE(Canvas()->Zoom(), zoom);  // fitted anew
  EXPECT_TRUE(viewer_->PixelText().endsWith(QStringLiteral("灰階 77")));
  EXPECT_TRUE(viewer_->HistogramShown());
  EXPECT_EQ(viewer_->HistogramPane()->Histogram().channel[0][77], 1600u);
  // Changed in place, then reported, as the operations do.
  std::memset(view_.Picture()->Bitmap()->ScanLine(0), 9, 40);
  view_.Picture()->Bitmap()->Assign(*view_.Picture()->Bitmap());
  EXPECT_EQ(viewer_->HistogramPane()->Histogram().channel[0][9], 40u);
  // Emptied.
  view_.Picture()->Assign(nullptr);
  EXPECT_EQ(viewer_->PictureText(), QStringLiteral("沒有影像"));
  EXPECT_EQ(viewer_->HistogramPane()->Histogram().pixels, 0u);
}

TEST_F(ViewerWindowTest, HTogglesTheHistogramWhichMarksTheThreshold) {
  TBitmap levels = Bytes(4, 2, TPixelFormat::pf8bit, {0, 1, 99, 100, 101, 254, 255, 128});
  levels.SetPalette(TPalette::Grey());
  Open(levels);
  ASSERT_TRUE(viewer_->HistogramShown());
  THistogramPane* pane = viewer_->HistogramPane();
  EXPECT_EQ(pane->ThresholdText(), QString());
  struct Mark {
    int threshold;
    const char* text;
  };
  const Mark marks[] = {{100, "閥值 100：37.5 % 的像素變黑"},
                        {0, "閥值 0：0.0 % 的像素變黑"},
                        {255, "閥值 255：87.5 % 的像素變黑"}};
  for (const Mark& m : marks) {
    viewer_->SetThreshold(m.threshold);
    EXPECT_EQ(pane->ThresholdText(), QString::fromUtf8(m.text));
  }
  viewer_->SetThreshold(std::nullopt);
  EXPECT_EQ(pane->ThresholdText(), QString());
  QTest::keyClick(viewer_.get(), 'h');
  EXPECT_FALSE(viewer_->HistogramShown());
  // The choice outlasts a change of picture.
  view_.Picture()->Assign(&levels);
  EXPECT_FALSE(viewer_->HistogramShown());
  QTest::keyClick(viewer_.get(), 'h');
  EXPECT_TRUE(viewer_->HistogramShown());
}

// Dark specks on a bright ground, far apart in level: every method cuts between the two.
TBitmap Specks() {
  TBitmap bitmap(40, 30, TPixelFormat::pf8bit);
  bitmap.SetPalette(TPalette::Grey());
  for (int i = 0; i < bitmap.Height(); ++i)
    for (int j = 0; j < bitmap.Width(); ++j)
      bitmap.ScanLine(i)[j] = (i / 5 + j / 5) % 3 == 0 ? 30 : 200;
  return bitmap;
}

TEST_F(ViewerWindowTest, TheHistogramMenuListsEachMethodsThresholdAndMarksTheOneChosen) {
  const TBitmap specks = Specks();
  Open(specks);
  THistogramPane* pane = viewer_->HistogramPane();
  TThresholdMethodMenu* methods = pane->MethodMenu();
  pane->Menu();
  const THistogram::Counts counts = ThresholdHistogram(specks);
  for (const TThresholdMethodInfo& info : ThresholdMethods()) {
    const std::optional<int> t = AutoThreshold(info.method, counts);
    EXPECT_EQ(methods->Action(info.method)->text(), ThresholdMethodText(info.method, t));
    EXPECT_EQ(methods->Action(info.method)->isEnabled(), t.has_value()) << info.name;
  }
  const std::optional<int> otsu = AutoThreshold(TThresholdMethod::Otsu, counts);
  ASSERT_TRUE(otsu.has_value());
  EXPECT_TRUE(*otsu > 30 && *otsu <= 200) << *otsu;
  EXPECT_EQ(methods->Action(TThresholdMethod::Otsu)->text(),
            QStringLiteral("Otsu（T = %1）").arg(*otsu));

  // Resting on an entry marks it while the menu is open; choosing one keeps its mark.
  methods->Action(TThresholdMethod::Otsu)->hover();
  EXPECT_EQ(pane->MarkedMethod(), TThresholdMethod::Otsu);
  pane->Menu()->aboutToHide();
  EXPECT_EQ(pane->MarkedMethod(), std::nullopt);
  methods->Action(TThresholdMethod::Mean)->trigger();
  EXPECT_EQ(pane->MarkedMethod(), TThresholdMethod::Mean);
  EXPECT_EQ(pane->MethodMarkText(), methods->Action(TThresholdMethod::Mean)->text());
  pane->Menu();
  EXPECT_TRUE(methods->Action(TThresholdMethod::Mean)->isChecked());
  methods->Action(TThresholdMethod::Mean)->trigger();
  EXPECT_EQ(pane->MarkedMethod(), std::nullopt) << "chosen again, the mark goes";
}

TEST_F(ViewerWindowTest, TryAllShowsEveryMethodCaptionedAndAClickChoosesItsThreshold) {
  const TBitmap specks = Specks();
  Open(specks);
  viewer_->HistogramPane()->TryAllAction()->trigger();
  TTryAllWindow* tryAll = viewer_->TryAllWindow();
  ASSERT_NE(tryAll, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(tryAll));
  EXPECT_EQ(tryAll->windowTitle(), QStringLiteral("全部試試 — 處理後"));
  ASSERT_EQ(tryAll->Tiles().size(), 16u);
  const THistogram::Counts counts = ThresholdHistogram(specks);
  const QRect grid = tryAll->Tiles().front()->geometry().united(tryAll->Tiles().back()->geometry());
  for (std::size_t k = 0; k < 16; ++k) {
    const TTryAllTile* tile = tryAll->Tiles()[k];
    const TThresholdMethod method = ThresholdMethods()[k].method;
    EXPECT_EQ(tile->Method(), method);
    EXPECT_EQ(tile->Threshold(), AutoThreshold(method, counts));
    EXPECT_EQ(tile->Caption(), ThresholdMethodText(method, tile->Threshold()));
    EXPECT_TRUE(grid.contains(tile->geometry()));
  }
  EXPECT_EQ(tryAll->Tiles()[3]->y(), tryAll->Tiles()[0]->y()) << "four to a row";
  EXPECT_GT(tryAll->Tiles()[4]->y(), tryAll->Tiles()[0]->y());

  TTryAllTile* otsu = tryAll->Tiles()[static_cast<std::size_t>(TThresholdMethod::Otsu)];
  ASSERT_TRUE(otsu->Threshold().has_value());
  // The specks black, the ground white.
  const QImage& shown = otsu->Picture();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.pixelColor(0, 0), QColor(Qt::black));
  EXPECT_EQ(shown.pixelColor(shown.width() * 7 / 40, 0), QColor(Qt::white));

  QSignalSpy chosen(viewer_.get(), &TViewerWindow::ThresholdChosen);
  QTest::mouseClick(otsu, Qt::LeftButton, {}, otsu->rect().center());
  ASSERT_EQ(chosen.size(), 1);
  EXPECT_EQ(chosen[0][0].value<TThresholdMethod>(), TThresholdMethod::Otsu);
  EXPECT_EQ(chosen[0][1].toInt(), *otsu->Threshold());

  // It follows the picture, and closes with the viewer.
  view_.Picture()->Assign(nullptr);
  EXPECT_EQ(otsu->Caption(), QStringLiteral("Otsu（無門檻）"));
  QPointer<TTryAllWindow> gone = tryAll;
  viewer_.reset();
  EXPECT_EQ(gone, nullptr);
}

}  // namespace

// A live chain whose binary command refuses the camera's colours shows the frame raw and says why,
// rather than keeping the last frame without a word.
TEST(LiveFrame, AChainThatRefusesTheFrameShowsItRawSayingWhy) {
  QImage frame(6, 4, QImage::Format_RGB32);
  frame.fill(qRgb(10, 200, 30));
  TLiveBuffers buffers;
  const TChain refusing{{TOperation::Binarize, 100}, {TOperation::Erode}};
  const TLiveFrame raw = WorkLiveFrame(frame, refusing, 1, false, buffers);
  EXPECT_EQ(raw.refused, QStringLiteral("需要黑白影像：請先二值化"));
  EXPECT_EQ(raw.picture.Width(), 6);
  EXPECT_EQ(raw.picture.ScanLine(0)[1], 200);
  const TChain taking{{TOperation::Grey}, {TOperation::Binarize, 100}, {TOperation::Erode}};
  EXPECT_EQ(WorkLiveFrame(frame, taking, 1, false, buffers).refused, QString());
}
