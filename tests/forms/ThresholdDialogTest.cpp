// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QScreen>
#include <functional>
#include <utility>

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
    EXPECT_TRUE(TakeTheKeyboard(BinaryDlg));
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

// The preview opens on the picture being thresholded, unthresholded, and follows the slider with
// its read-out; the slider opens where it was left, Cancel or OK. What OK does with the threshold
// is the workbench's (its tests hold those cases).
TEST_F(ThresholdDialog, ThePreviewOpensUnthresholdedAndFollowsTheSlider) {
  const std::vector<std::uint8_t> bgra = {10, 200, 99, 7, 100, 0, 255, 128};
  struct Case {
    const char* name;
    TBitmap main, processed;
    int threshold;
    std::vector<std::uint8_t> atOpen, preview;
  };
  const Case cases[] = {
      {"0", TBitmap(), Levels(), 0, levels_, {255, 255, 255, 255, 255, 255, 255, 255}},
      {"60", TBitmap(), Levels(), 60, levels_, {0, 0, 255, 255, 255, 255, 255, 255}},
      {"100", TBitmap(), Levels(), 100, levels_, {0, 0, 0, 255, 255, 255, 255, 255}},
      {"128", TBitmap(), Levels(), 128, levels_, {0, 0, 0, 0, 0, 255, 255, 255}},
      {"200", TBitmap(), Levels(), 200, levels_, {0, 0, 0, 0, 0, 255, 255, 0}},
      {"255", TBitmap(), Levels(), 255, levels_, {0, 0, 0, 0, 0, 0, 255, 0}},
      {"the main image while nothing is processed",
       Levels(),
       TBitmap(),
       101,
       levels_,
       {0, 0, 0, 0, 255, 255, 255, 255}},
      {"colour, per channel, alpha kept",
       Picture(2, 1, TPixelFormat::pf32bit, bgra),
       TBitmap(),
       100,
       bgra,
       {0, 255, 0, 7, 255, 0, 255, 128}},
      {"nothing at all", TBitmap(), TBitmap(), 77, {}, {}},
  };
  int left = 128;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Main()->Assign(c.main);
    Processed()->Assign(c.processed);
    std::vector<std::uint8_t> atOpen, preview;
    int position = -1;
    QString readOutAtOpen, readOut;
    Binarize([&] {
      atOpen = PixelBytes(*Preview());
      position = BinaryDlg->ScrollBar1->value();
      readOutAtOpen = BinaryDlg->Edit1->text();
      BinaryDlg->ScrollBar1->setValue(c.threshold == 128 ? 127 : 128);
      BinaryDlg->ScrollBar1->setValue(c.threshold);
      preview = PixelBytes(*Preview());
      readOut = BinaryDlg->Edit1->text();
      BinaryDlg->CancelBtn->click();
    });
    EXPECT_EQ(atOpen, c.atOpen);
    EXPECT_EQ(preview, c.preview);
    EXPECT_EQ(readOut, QString::number(c.threshold));
    EXPECT_EQ(position, left) << "where it was left";
    EXPECT_EQ(readOutAtOpen, QString::number(left));
    left = c.threshold;
    EXPECT_TRUE(BinaryDlg->Image1->Stretch());
    EXPECT_FALSE(BinaryDlg->Image1->AutoSize());
    EXPECT_EQ(PixelBytes(*Processed()), c.processed.Empty() ? c.atOpen : PixelBytes(c.processed))
        << "Cancel leaves the processed image as the dialog found it";
  }
}

// Made before the main window, the dialog serves it from its first binarize on.
TEST_F(ThresholdDialog, ADialogMadeBeforeTheMainWindowServesIt) {
  delete BinaryDlg;
  TForm1* form = std::exchange(Form1, nullptr);
  BinaryDlg = new TBinaryDlg();
  Form1 = form;
  Processed()->Assign(Levels());
  std::vector<std::uint8_t> preview;
  Binarize([&] {
    BinaryDlg->ScrollBar1->setValue(100);
    preview = PixelBytes(*Preview());
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  const std::vector<std::uint8_t> at100 = {0, 0, 0, 255, 255, 255, 255, 255};
  EXPECT_EQ(preview, at100);
  EXPECT_EQ(PixelBytes(*Processed()), at100);
  EXPECT_EQ(BinaryDlg->Workbench(), Form1->Workbench());
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

// Two levels far apart: every method worth the name cuts between them. The slider's menu lists
// the methods with their thresholds; choosing one moves the slider, its read-out and the preview,
// and checks the entry. Which method is in force is the workbench's.
TEST_F(ThresholdDialog, TheMenuMovesTheSliderToAMethodsThresholdAndThePreviewFollows) {
  const std::vector<std::uint8_t> twoLevels = {20, 220, 20, 220, 220, 20, 20, 220};
  const TBitmap picture = Picture(4, 2, TPixelFormat::pf8bit, twoLevels);
  const std::vector<std::uint8_t> separated = {0, 255, 0, 255, 255, 0, 0, 255};
  for (const TThresholdMethod method :
       {TThresholdMethod::Otsu, TThresholdMethod::Default, TThresholdMethod::Mean}) {
    const char* name = ThresholdMethodInfo(method).name;
    const std::optional<int> t = AutoThreshold(method, ThresholdHistogram(picture));
    ASSERT_TRUE(t.has_value()) << name;
    Form1->Image2->Picture()->Assign(&picture);
    std::vector<std::uint8_t> preview;
    QString readOut, entry;
    int position = -1;
    Binarize([&] {
      BinaryDlg->ScrollBar1->setValue(3);
      // The slider's own menu has given way to the methods.
      QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                              BinaryDlg->ScrollBar1->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(BinaryDlg->ScrollBar1, &click);
      EXPECT_EQ(QApplication::activePopupWidget(), BinaryDlg->MethodMenu());
      BinaryDlg->MethodMenu()->close();
      BinaryDlg->MethodMenu()->Action(method)->trigger();
      position = BinaryDlg->ScrollBar1->value();
      preview = PixelBytes(*Preview());
      readOut = BinaryDlg->Edit1->text();
      entry = BinaryDlg->MethodMenu()->Action(method)->text();
      QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
    });
    EXPECT_EQ(position, std::min(*t, 255)) << name;
    EXPECT_EQ(preview, separated) << name;
    EXPECT_EQ(readOut, QString::number(std::min(*t, 255))) << name;
    EXPECT_EQ(entry, ThresholdMethodText(method, t));
    EXPECT_TRUE(BinaryDlg->MethodMenu()->Action(method)->isChecked()) << name;
    EXPECT_EQ(PixelBytes(*Processed()), separated) << name;
  }
}

// The method in force applies anew to the next picture: the slider opens at its threshold there.
TEST_F(ThresholdDialog, TheSliderOpensAtTheThresholdOfTheMethodInForce) {
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
  QString readOut;
  Binarize([&] {
    position = BinaryDlg->ScrollBar1->value();
    readOut = BinaryDlg->Edit1->text();
    BinaryDlg->CancelBtn->click();
  });
  EXPECT_EQ(position, std::min(*t, 255));
  EXPECT_EQ(readOut, QString::number(position));
}

TEST_F(ThresholdDialog, WithoutAPictureEveryMethodIsListedWithoutAThreshold) {
  Binarize([] {
    TThresholdMethodMenu* menu = BinaryDlg->MethodMenu();
    for (const TThresholdMethodInfo& info : ThresholdMethods()) {
      EXPECT_FALSE(menu->Action(info.method)->isEnabled()) << info.name;
      EXPECT_EQ(menu->Action(info.method)->text(),
                QStringLiteral("%1（無門檻）").arg(QLatin1String(info.name)));
    }
    BinaryDlg->CancelBtn->click();
  });
  EXPECT_EQ(BinaryDlg->ScrollBar1->value(), 128);
}

}  // namespace
