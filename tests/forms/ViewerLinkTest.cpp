#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

#include "FormsFixture.h"
#include "HistogramPane.h"
#include "ImageViewMenu.h"
#include "Modal.h"
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

}  // namespace
