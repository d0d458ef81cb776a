// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>
#include <QWindow>

#include "FormsFixture.h"
#include "HistogramPane.h"
#include "ImageViewMenu.h"
#include "Modal.h"
#include "ThresholdMethodMenu.h"
#include "TryAllWindow.h"
#include "ViewerLink.h"

namespace {

class ViewerLinkTest : public FormsTest {
 protected:
  static TViewerWindow* ViewerOf(TImage* view) { return TViewerLink::Of(view)->Viewer(); }

  // Right-clicks the view and chooses "檢視…" in the menu that pops up.
  static void ChooseViewFromTheMenu(TImage* view) {
    QTimer::singleShot(0, [] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_NE(menu, nullptr);
      menu->setActiveAction(menu->findChild<QAction*>(QStringLiteral("ViewerAction")));
      QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            view->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(view, &event);
  }
};

TEST_F(ViewerLinkTest, ADoubleClickOrTheMenuOpensOneViewerPerViewTitledWithItsLabel) {
  struct Case {
    TImage* view;
    QLabel* label;
  };
  const Case cases[] = {{Form1->Image1, Form1->Label2}, {Form1->Image2, Form1->Label4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label->text().toStdString());
    EXPECT_EQ(ViewerOf(c.view), nullptr);
    QTest::mouseDClick(c.view, Qt::LeftButton, {}, QPoint(20, 20));
    QPointer<TViewerWindow> viewer = ViewerOf(c.view);
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_FALSE(viewer->isModal());
    EXPECT_EQ(viewer->windowTitle(), c.label->text());
    // Asking again brings the same window forward.
    ChooseViewFromTheMenu(c.view);
    EXPECT_EQ(ViewerOf(c.view), viewer);
    viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(viewer, nullptr);
    ChooseViewFromTheMenu(c.view);
    ASSERT_NE(ViewerOf(c.view), nullptr);
    EXPECT_TRUE(ViewerOf(c.view)->isVisible());
  }
  EXPECT_NE(ViewerOf(Form1->Image1), ViewerOf(Form1->Image2));
}

TEST_F(ViewerLinkTest, TheViewerFollowsTheCommands) {
  Main()->Assign(Filled(30, 20, 90));
  TViewerWindow* viewer = TViewerLink::Of(Form1->Image2)->Open();
  EXPECT_EQ(viewer->PictureText(), QStringLiteral("沒有影像"));
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  EXPECT_EQ(viewer->PictureText(), QStringLiteral("30 × 20，8 位元灰階"));
  EXPECT_EQ(viewer->HistogramPane()->Histogram().channel[0][90], 600u);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  // The Laplacian of an even picture is black.
  EXPECT_EQ(viewer->HistogramPane()->Histogram().channel[0][0], 600u);
}

TEST_F(ViewerLinkTest, WhileTheThresholdDialogIsOpenTheHistogramsMarkItsThreshold) {
  Processed()->Assign(Picture(4, 2, TPixelFormat::pf8bit, {0, 1, 99, 100, 101, 254, 255, 128}));
  Main()->Assign(Filled(2, 2, 50));
  TViewerWindow* processed = TViewerLink::Of(Form1->Image2)->Open();
  TViewerWindow* main = TViewerLink::Of(Form1->Image1)->Open();
  BinaryDlg->ScrollBar1->setValue(120);
  EXPECT_EQ(processed->HistogramPane()->Threshold(), std::nullopt);

  OnNextModal([&](QWidget*) {
    EXPECT_EQ(processed->HistogramPane()->Threshold(), 120);
    EXPECT_EQ(main->HistogramPane()->Threshold(), 120);
    BinaryDlg->ScrollBar1->setValue(100);
    EXPECT_EQ(processed->HistogramPane()->ThresholdText(),
              QStringLiteral("閥值 100：37.5 % 的像素變黑"));
    EXPECT_EQ(main->HistogramPane()->ThresholdText(),
              QStringLiteral("閥值 100：100.0 % 的像素變黑"));
    QTest::mouseClick(BinaryDlg->CancelBtn, Qt::LeftButton);
  });
  QTest::mouseClick(Form1->Button5, Qt::LeftButton);
  EXPECT_EQ(processed->HistogramPane()->Threshold(), std::nullopt);
  EXPECT_EQ(main->HistogramPane()->Threshold(), std::nullopt);
}

TEST_F(ViewerLinkTest, ClosingTheMainWindowClosesTheViewers) {
  QPointer<TViewerWindow> main = TViewerLink::Of(Form1->Image1)->Open();
  QPointer<TViewerWindow> processed = TViewerLink::Of(Form1->Image2)->Open();
  Form1->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(main, nullptr);
  EXPECT_EQ(processed, nullptr);
}

// Whether the toolkit last told a "try all" window that a modal window blocks it.
class BlockedWatch : public QObject {
 public:
  BlockedWatch() { qApp->installEventFilter(this); }
  bool blocked = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (qobject_cast<TTryAllWindow*>(watched) != nullptr &&
        (event->type() == QEvent::WindowBlocked || event->type() == QEvent::WindowUnblocked))
      blocked = event->type() == QEvent::WindowBlocked;
    return false;
  }
};

TEST_F(ViewerLinkTest, AClickInTryAllMovesTheOpenDialogsSlider) {
  const TBitmap twoLevels =
      Picture(4, 2, TPixelFormat::pf8bit, {20, 220, 20, 220, 220, 20, 20, 220});
  const std::optional<int> t = AutoThreshold(TThresholdMethod::Otsu, ThresholdHistogram(twoLevels));
  ASSERT_TRUE(t.has_value());
  struct Case {
    const char* opened;
    bool beforeTheDialog;
  };
  for (const Case c : {Case{"from the histogram, before the dialog", true},
                       Case{"from the dialog's menu", false}}) {
    SCOPED_TRACE(c.opened);
    Processed()->Assign(twoLevels);
    BinaryDlg->ScrollBar1->setValue(3);
    TTryAllWindow* tryAll =
        c.beforeTheDialog ? TViewerLink::Of(Form1->Image2)->OpenTryAll() : nullptr;
    BlockedWatch watch;
    int position = 0;
    std::optional<TThresholdMethod> inForce;
    QString edit;
    bool blocked = true;
    OnNextModal([&](QWidget*) {
      if (!c.beforeTheDialog) {
        BinaryDlg->MethodMenu()->findChild<QAction*>(QStringLiteral("TryAllAction"))->trigger();
        tryAll = TViewerLink::Of(Form1->Image2)->Viewer()->TryAllWindow();
      }
      ASSERT_NE(tryAll, nullptr);
      ASSERT_TRUE(QTest::qWaitForWindowExposed(tryAll));
      blocked = watch.blocked;
      TTryAllTile* otsu = tryAll->Tiles()[static_cast<std::size_t>(TThresholdMethod::Otsu)];
      // A real click through the window system, which the open dialog would otherwise block.
      QTest::mouseClick(otsu, Qt::LeftButton, {}, otsu->rect().center());
      position = BinaryDlg->ScrollBar1->value();
      inForce = BinaryDlg->MethodInForce();
      edit = BinaryDlg->Edit1->text();
      QTest::mouseClick(BinaryDlg->CancelBtn, Qt::LeftButton);
    });
    QTest::mouseClick(Form1->Button5, Qt::LeftButton);
    EXPECT_FALSE(blocked) << "the open dialog must let the clicks through";
    EXPECT_EQ(position, std::min(*t, 255));
    EXPECT_EQ(edit, QString::number(position));
    EXPECT_EQ(inForce, TThresholdMethod::Otsu);
    ASSERT_NE(tryAll, nullptr);
    EXPECT_EQ(tryAll->windowHandle()->transientParent(), nullptr) << "given back once closed";

    // With the dialog closed, a click changes nothing.
    BinaryDlg->ScrollBar1->setValue(3);
    TTryAllTile* otsu = tryAll->Tiles()[static_cast<std::size_t>(TThresholdMethod::Otsu)];
    QTest::mouseClick(otsu, Qt::LeftButton, {}, otsu->rect().center());
    EXPECT_EQ(BinaryDlg->ScrollBar1->value(), 3);
    tryAll->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

}  // namespace
