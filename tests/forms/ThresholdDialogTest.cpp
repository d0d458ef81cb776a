#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QScreen>
#include <functional>

#include "AutoThreshold.h"
#include "FormsFixture.h"
#include "Modal.h"
#include "Threshold.h"
#include "ThresholdMethodMenu.h"

namespace {

class ThresholdDialog : public FormsTest {
 protected:
  // Clicks the binarize button; `drive` runs inside the dialog once it is up and must close it.
  static void Binarize(std::function<void()> drive) {
    OnNextModal([drive = std::move(drive)](QWidget*) { drive(); });
    QTest::mouseClick(Form1->Button5, Qt::LeftButton);
  }
  static void SlideAndPress(int position, QPushButton* button) {
    BinaryDlg->ScrollBar1->setValue(position);
    QTest::mouseClick(button, Qt::LeftButton);
  }

  const std::vector<std::uint8_t> levels_ = {0, 1, 99, 100, 101, 254, 255, 128};
  TBitmap Levels() const { return Picture(4, 2, TPixelFormat::pf8bit, levels_); }
};

TEST_F(ThresholdDialog, IsCreatedHiddenWithItsStoredLayout) {
  EXPECT_FALSE(BinaryDlg->isVisible());
  EXPECT_EQ(BinaryDlg->windowTitle(), QStringLiteral("二值化"));
  EXPECT_EQ(BinaryDlg->minimumSize(), QSize(338, 389));
  EXPECT_EQ(BinaryDlg->maximumSize(), QSize(338, 389));
  const Qt::WindowFlags flags = BinaryDlg->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

  struct Placement {
    QWidget* widget;
    QRect rect;
    const char* caption;
  };
  const Placement layout[] = {
      {BinaryDlg->Bevel1, {32, 24, 265, 217}, nullptr},
      {BinaryDlg->Image1, {56, 48, 217, 169}, nullptr},
      {BinaryDlg->Label1, {16, 248, 68, 16}, "閥值設定"},
      {BinaryDlg->Label2, {16, 304, 68, 16}, "目前閥值"},
      {BinaryDlg->OKBtn, {60, 344, 85, 33}, "確定"},
      {BinaryDlg->CancelBtn, {172, 342, 85, 35}, "取消"},
      {BinaryDlg->ScrollBar1, {56, 272, 209, 25}, nullptr},
      {BinaryDlg->Edit1, {128, 304, 57, 24}, "128"},
  };
  for (const Placement& p : layout) {
    EXPECT_EQ(p.widget->geometry(), p.rect) << p.widget->objectName().toStdString();
    if (p.caption) {
      EXPECT_EQ(p.widget->property("text").toString(), QString::fromUtf8(p.caption));
    }
  }
  for (QWidget* kai :
       {static_cast<QWidget*>(BinaryDlg->Label1), static_cast<QWidget*>(BinaryDlg->Label2),
        static_cast<QWidget*>(BinaryDlg->Edit1)}) {
    const QFontInfo font(kai->font());
    EXPECT_EQ(font.family(), "AR PL UKai TW") << kai->objectName().toStdString();
    EXPECT_TRUE(font.bold());
  }
  EXPECT_EQ(BinaryDlg->Bevel1->frameShape(), QFrame::Box);
  EXPECT_FALSE(BinaryDlg->OKBtn->isDefault());
  EXPECT_FALSE(BinaryDlg->CancelBtn->isDefault());
}

TEST_F(ThresholdDialog, SliderRunsFrom0To255At128StepOne) {
  QScrollBar* slider = BinaryDlg->ScrollBar1;
  EXPECT_EQ(slider->orientation(), Qt::Horizontal);
  EXPECT_EQ(slider->minimum(), 0);
  EXPECT_EQ(slider->maximum(), 255);
  EXPECT_EQ(slider->value(), 128);
  EXPECT_EQ(slider->singleStep(), 1);
  EXPECT_EQ(slider->pageStep(), 1);
}

TEST_F(ThresholdDialog, EveryWayOfClosingGivesItsModalResult) {
  struct Case {
    const char* how;
    std::function<void()> close;
    int result;
  };
  const Case cases[] = {
      {"OK", [] { QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton); }, 1},
      {"Cancel", [] { QTest::mouseClick(BinaryDlg->CancelBtn, Qt::LeftButton); }, 2},
      {"Esc", [] { QTest::keyClick(BinaryDlg, Qt::Key_Escape); }, 2},
      {"close box", [] { BinaryDlg->close(); }, 2},
      {"Enter on the focused OK",
       [] {
         BinaryDlg->OKBtn->setFocus();
         QTest::keyClick(BinaryDlg->OKBtn, Qt::Key_Return);
       },
       1},
      {"Enter on the focused Cancel",
       [] {
         BinaryDlg->CancelBtn->setFocus();
         QTest::keyClick(BinaryDlg->CancelBtn, Qt::Key_Return);
       },
       2},
  };
  for (const Case& c : cases) {
    OnNextModal([&](QWidget*) { c.close(); });
    EXPECT_EQ(BinaryDlg->ShowModal(), c.result) << c.how;
    EXPECT_EQ(BinaryDlg->ModalResult(), c.result) << c.how;
    EXPECT_FALSE(BinaryDlg->isVisible()) << c.how;
  }
}

TEST_F(ThresholdDialog, EnterDoesNothingWhileTheSliderHasTheFocus) {
  bool stillOpen = false;
  OnNextModal([&](QWidget*) {
    BinaryDlg->ScrollBar1->setFocus();
    QTest::keyClick(BinaryDlg->ScrollBar1, Qt::Key_Return);
    stillOpen = BinaryDlg->isVisible();
    BinaryDlg->CancelBtn->click();
  });
  BinaryDlg->ShowModal();
  EXPECT_TRUE(stillOpen);
}

TEST_F(ThresholdDialog, OkHasTheFocusFirstAndTabTwiceReachesTheSlider) {
  int before = 0, after = 0;
  QWidget* first = nullptr;
  QWidget* second = nullptr;
  OnNextModal([&](QWidget*) {
    // Keys go where the window's focus is, once the window manager has made it active.
    EXPECT_TRUE(QTest::qWaitForWindowActive(BinaryDlg));
    first = BinaryDlg->focusWidget();
    QTest::keyClick(BinaryDlg->focusWidget(), Qt::Key_Tab);
    QTest::keyClick(BinaryDlg->focusWidget(), Qt::Key_Tab);
    second = BinaryDlg->focusWidget();
    before = BinaryDlg->ScrollBar1->value();
    QTest::keyClick(BinaryDlg->ScrollBar1, Qt::Key_Right);
    after = BinaryDlg->ScrollBar1->value();
    BinaryDlg->CancelBtn->click();
  });
  BinaryDlg->ShowModal();
  EXPECT_EQ(first, BinaryDlg->OKBtn);
  EXPECT_EQ(second, BinaryDlg->ScrollBar1);
  EXPECT_EQ(after, before + 1);
}

TEST_F(ThresholdDialog, IsCentredOnTheScreenEveryTimeItIsShown) {
  if (QGuiApplication::platformName() == QLatin1String("wayland"))
    GTEST_SKIP() << "Wayland leaves the placing of windows to the compositor";
  const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
  for (int use = 0; use < 2; ++use) {
    QPoint shownAt;
    OnNextModal([&](QWidget*) {
      shownAt = BinaryDlg->frameGeometry().center();
      BinaryDlg->move(0, 0);
      BinaryDlg->CancelBtn->click();
    });
    BinaryDlg->ShowModal();
    EXPECT_LE((shownAt - centre).manhattanLength(), 2) << "use " << use;
  }
}

TEST_F(ThresholdDialog, OpensWithTheUnthresholdedSourceAndFollowsTheSliderFromIt) {
  const TBitmap levels = Levels();
  Form1->Image2->Picture()->Assign(&levels);
  std::vector<std::uint8_t> atOpen, after60, after200;
  QString readOut;
  Binarize([&] {
    atOpen = PixelBytes(*Preview());
    BinaryDlg->ScrollBar1->setValue(60);
    after60 = PixelBytes(*Preview());
    BinaryDlg->ScrollBar1->setValue(200);
    after200 = PixelBytes(*Preview());
    readOut = BinaryDlg->Edit1->text();
    BinaryDlg->CancelBtn->click();
  });
  EXPECT_EQ(atOpen, levels_);
  EXPECT_EQ(after60, (std::vector<std::uint8_t>{0, 0, 255, 255, 255, 255, 255, 255}));
  EXPECT_EQ(after200, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 255, 255, 0}));
  EXPECT_EQ(readOut, "200");
  EXPECT_TRUE(BinaryDlg->Image1->Stretch());
  EXPECT_FALSE(BinaryDlg->Image1->AutoSize());
  EXPECT_EQ(PixelBytes(*Processed()), levels_) << "Cancel leaves the processed image alone";
}

TEST_F(ThresholdDialog, OkThresholdsTheProcessedImageAtTheSliderPosition) {
  struct Case {
    int threshold;
    std::vector<std::uint8_t> expected;
  };
  const Case cases[] = {
      {0, {255, 255, 255, 255, 255, 255, 255, 255}},
      {100, {0, 0, 0, 255, 255, 255, 255, 255}},
      {128, {0, 0, 0, 0, 0, 255, 255, 255}},
      {255, {0, 0, 0, 0, 0, 0, 255, 0}},
  };
  for (const Case& c : cases) {
    const TBitmap levels = Levels();
    Form1->Image2->Picture()->Assign(&levels);
    std::vector<std::uint8_t> preview;
    Binarize([&] {
      BinaryDlg->ScrollBar1->setValue(c.threshold == 128 ? 127 : 128);
      BinaryDlg->ScrollBar1->setValue(c.threshold);
      preview = PixelBytes(*Preview());
      QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(PixelBytes(*Processed()), c.expected) << c.threshold;
    EXPECT_EQ(preview, c.expected) << c.threshold;
    EXPECT_EQ(Processed()->PixelFormat(), TPixelFormat::pf8bit);
  }
}

TEST_F(ThresholdDialog, EmptyProcessedImageIsFilledFromTheMainImageEvenOnCancel) {
  const TBitmap levels = Levels();
  Form1->Image1->Picture()->Assign(&levels);
  Binarize([] { SlideAndPress(101, BinaryDlg->CancelBtn); });
  EXPECT_EQ(PixelBytes(*Processed()), levels_);
  Processed()->Assign(TBitmap());
  Binarize([] { SlideAndPress(101, BinaryDlg->OKBtn); });
  EXPECT_EQ(PixelBytes(*Processed()), (std::vector<std::uint8_t>{0, 0, 0, 0, 255, 255, 255, 255}));
  EXPECT_EQ(PixelBytes(*Main()), levels_) << "the main image is never modified";
  EXPECT_EQ(*Processed()->Palette(), TPalette::Grey());
}

TEST_F(ThresholdDialog, OkWithoutMovingAppliesTheLastPositionAlsoFromACancelledUse) {
  const TBitmap levels = Levels();
  Form1->Image2->Picture()->Assign(&levels);
  std::vector<std::uint8_t> previewAtOk;
  Binarize([&] {
    previewAtOk = PixelBytes(*Preview());
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  EXPECT_EQ(previewAtOk, levels_) << "the preview was never thresholded";
  EXPECT_EQ(PixelBytes(*Processed()), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 255, 255, 255}));

  Form1->Image2->Picture()->Assign(&levels);
  Binarize([] { SlideAndPress(2, BinaryDlg->CancelBtn); });
  Binarize([] { QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton); });
  EXPECT_EQ(PixelBytes(*Processed()),
            (std::vector<std::uint8_t>{0, 0, 255, 255, 255, 255, 255, 255}));
  EXPECT_EQ(BinaryDlg->Edit1->text(), "2");
}

TEST_F(ThresholdDialog, BlackAndWhitePicturesStayAsTheyAreForThresholds1To255) {
  const std::vector<std::uint8_t> binary = {0, 255, 255, 0, 0, 0, 255, 255};
  for (const int t : {1, 2, 127, 254, 255}) {
    const TBitmap picture = Picture(4, 2, TPixelFormat::pf8bit, binary);
    Form1->Image2->Picture()->Assign(&picture);
    Binarize([t] { SlideAndPress(t, BinaryDlg->OKBtn); });
    EXPECT_EQ(PixelBytes(*Processed()), binary) << t;
  }
}

TEST_F(ThresholdDialog, ColourPicturesAreThresholdedPerChannelKeepingAlpha) {
  const std::vector<std::uint8_t> bgra = {10, 200, 99, 7, 100, 0, 255, 128};
  const TBitmap colour = Picture(2, 1, TPixelFormat::pf32bit, bgra);
  Form1->Image1->Picture()->Assign(&colour);
  std::vector<std::uint8_t> preview;
  Binarize([&] {
    BinaryDlg->ScrollBar1->setValue(100);
    preview = PixelBytes(*Preview());
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  const std::vector<std::uint8_t> expected = {0, 255, 0, 7, 255, 0, 255, 128};
  EXPECT_EQ(preview, expected);
  EXPECT_EQ(PixelBytes(*Processed()), expected);
  EXPECT_EQ(PixelBytes(*Main()), bgra);
}

TEST_F(ThresholdDialog, BothImagesEmptyShowsAnEmptyPreviewAndOkChangesNothing) {
  QString readOut;
  Binarize([&] {
    BinaryDlg->ScrollBar1->setValue(77);
    readOut = BinaryDlg->Edit1->text();
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  EXPECT_TRUE(Processed()->Empty());
  EXPECT_TRUE(Preview()->Empty());
  EXPECT_EQ(readOut, "77");
}

TEST_F(ThresholdDialog, TypedReadOutHasNoEffect) {
  const TBitmap levels = Levels();
  Form1->Image2->Picture()->Assign(&levels);
  Binarize([] {
    BinaryDlg->ScrollBar1->setValue(100);
    BinaryDlg->Edit1->setText("3");
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  EXPECT_EQ(PixelBytes(*Processed()),
            (std::vector<std::uint8_t>{0, 0, 0, 255, 255, 255, 255, 255}));
}

// The source can differ in size from the preview only by a fault elsewhere; nothing may be read
// or written outside either picture.
TEST_F(ThresholdDialog, SliderChangeTouchesOnlyTheAreaSourceAndPreviewShare) {
  const TBitmap source = Picture(2, 1, TPixelFormat::pf8bit, {0, 200});
  Form1->Image2->Picture()->Assign(&source);
  const TBitmap bigger = Picture(3, 2, TPixelFormat::pf8bit, {5, 5, 5, 5, 5, 5});
  BinaryDlg->Image1->Picture()->Assign(&bigger);
  BinaryDlg->ScrollBar1->setValue(100);
  EXPECT_EQ(PixelBytes(*Preview()), (std::vector<std::uint8_t>{0, 255, 5, 5, 5, 5}));
}

// Two levels far apart: every method worth the name cuts between them.
TEST_F(ThresholdDialog, TheMenuMovesTheSliderToAMethodsThresholdAndThePreviewFollows) {
  const std::vector<std::uint8_t> twoLevels = {20, 220, 20, 220, 220, 20, 20, 220};
  const TBitmap picture = Picture(4, 2, TPixelFormat::pf8bit, twoLevels);
  const std::vector<std::uint8_t> separated = {0, 255, 0, 255, 255, 0, 0, 255};
  for (const TThresholdMethod method :
       {TThresholdMethod::Otsu, TThresholdMethod::Default, TThresholdMethod::Mean}) {
    const char* name = ThresholdMethodInfo(method).name;
    const std::optional<int> t = AutoThreshold(method, ThresholdHistogram(picture));
    ASSERT_TRUE(t.has_value()) << name;
    EXPECT_TRUE(*t > 20 && *t <= 220) << name << " " << *t;
    Form1->Image2->Picture()->Assign(&picture);
    std::vector<std::uint8_t> preview;
    QString readOut, entry;
    std::optional<TThresholdMethod> inForce, afterMove, chosen;
    Binarize([&] {
      // The slider's own menu has given way to the methods.
      QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                              BinaryDlg->ScrollBar1->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(BinaryDlg->ScrollBar1, &click);
      EXPECT_EQ(QApplication::activePopupWidget(), BinaryDlg->MethodMenu());
      BinaryDlg->MethodMenu()->close();
      BinaryDlg->MethodMenu()->Action(method)->trigger();
      preview = PixelBytes(*Preview());
      readOut = BinaryDlg->Edit1->text();
      entry = BinaryDlg->MethodMenu()->Action(method)->text();
      inForce = BinaryDlg->MethodInForce();
      BinaryDlg->ScrollBar1->setValue(BinaryDlg->ScrollBar1->value() == 255 ? 254 : 255);
      afterMove = BinaryDlg->MethodInForce();
      chosen = BinaryDlg->ChosenMethod();
      BinaryDlg->ScrollBar1->setValue(*t);
      BinaryDlg->MethodMenu()->Action(method)->trigger();
      QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(preview, separated) << name;
    EXPECT_EQ(readOut, QString::number(std::min(*t, 255))) << name;
    EXPECT_EQ(entry, ThresholdMethodText(method, t));
    EXPECT_EQ(inForce, method) << name;
    EXPECT_EQ(afterMove, std::nullopt) << name << ": moved by hand";
    EXPECT_EQ(chosen, method) << name;
    EXPECT_TRUE(BinaryDlg->MethodMenu()->Action(method)->isChecked()) << name;
    EXPECT_EQ(PixelBytes(*Processed()), separated) << name;
  }
}

TEST_F(ThresholdDialog, AMethodInForceIsAppliedAnewToTheNextPicture) {
  const TBitmap low = Picture(4, 1, TPixelFormat::pf8bit, {10, 10, 60, 60});
  const TBitmap high = Picture(4, 1, TPixelFormat::pf8bit, {150, 150, 250, 250});
  const std::optional<int> t = AutoThreshold(TThresholdMethod::Otsu, ThresholdHistogram(high));
  ASSERT_TRUE(t.has_value());
  Form1->Image2->Picture()->Assign(&low);
  Binarize([] {
    BinaryDlg->ChooseMethod(TThresholdMethod::Otsu);
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  Form1->Image2->Picture()->Assign(&high);
  int position = 0;
  std::optional<TThresholdMethod> inForce;
  Binarize([&] {
    position = BinaryDlg->ScrollBar1->value();
    inForce = BinaryDlg->MethodInForce();
    BinaryDlg->CancelBtn->click();
  });
  EXPECT_EQ(position, std::min(*t, 255));
  EXPECT_EQ(inForce, TThresholdMethod::Otsu);
}

TEST_F(ThresholdDialog, WithoutAPictureEveryMethodIsListedWithoutAThreshold) {
  Binarize([] {
    TThresholdMethodMenu* menu = BinaryDlg->MethodMenu();
    for (const TThresholdMethodInfo& info : ThresholdMethods()) {
      EXPECT_FALSE(menu->Action(info.method)->isEnabled()) << info.name;
      EXPECT_EQ(menu->Action(info.method)->text(),
                QStringLiteral("%1（無門檻）").arg(QLatin1String(info.name)));
    }
    EXPECT_FALSE(BinaryDlg->ChooseMethod(TThresholdMethod::Otsu));
    BinaryDlg->CancelBtn->click();
  });
  EXPECT_EQ(BinaryDlg->ScrollBar1->value(), 128);
  EXPECT_EQ(BinaryDlg->MethodInForce(), std::nullopt);
}

}  // namespace
