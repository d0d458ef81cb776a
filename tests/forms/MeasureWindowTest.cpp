// SPDX-License-Identifier: GPL-3.0-or-later
#include "MeasureWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <functional>

#include "FormsFixture.h"
#include "Modal.h"
#include "PictureCanvas.h"
#include "ScaleDialog.h"
#include "ViewerLink.h"
#include "Workbench.h"

namespace {

// On a background of 200: a 3 × 3 square of 20 at (1, 1), numbered 1, and a 2 × 4 bar of 100 at
// (7, 2), numbered 2; binarize at 50 keeps the square, at 128 both.
TBitmap TwoObjects() {
  std::vector<std::uint8_t> bytes(12 * 8, 200);
  for (int y = 1; y < 4; ++y)
    for (int x = 1; x < 4; ++x)
      bytes[static_cast<std::size_t>(y * 12 + x)] = 20;
  for (int y = 2; y < 6; ++y)
    for (int x = 7; x < 9; ++x)
      bytes[static_cast<std::size_t>(y * 12 + x)] = 100;
  return Picture(12, 8, TPixelFormat::pf8bit, bytes);
}

class MeasureWindowTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    Form1->Workbench()->TakeFrame(TwoObjects());
  }
  static void Binarize(int threshold) {
    TWorkbench* workbench = Form1->Workbench();
    workbench->BeginBinarize();
    workbench->TryThreshold(threshold);
    workbench->AcceptBinarize();
  }
  // The numbers in the table's rows, top to bottom, as sorted.
  static std::vector<int> Numbers(const TMeasureWindow* window) {
    std::vector<int> numbers;
    const QAbstractItemModel* model = window->Table()->model();
    for (int row = 0; row < model->rowCount(); ++row)
      numbers.push_back(model->index(row, 0).data().toInt());
    return numbers;
  }
};

TEST_F(MeasureWindowTest, FollowsStepsUndoAndOptions) {
  TWorkbench* workbench = Form1->Workbench();
  workbench->Run({TOperation::Grey});
  // "量測…" in the processed image's menu opens the window beside the viewer.
  Form1->findChild<QAction*>("MeasureAction")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([] { return Form1->MeasureWindow() != nullptr; }));
  TMeasureWindow* window = Form1->MeasureWindow();
  EXPECT_EQ(window->windowTitle(), "量測 — 處理後");
  // Room for it beside the main window on a 1024 × 600 screen, under a title bar and a panel.
  EXPECT_LE(window->minimumSizeHint().width(), 1024 - Form1->frameGeometry().width());
  EXPECT_LE(window->minimumSizeHint().height(), 400);
  ASSERT_NE(TViewerLink::Of(Form1->Image2)->Viewer(), nullptr);

  const QString refused = QStringLiteral("需要黑白影像：請先二值化");
  struct Step {
    const char* what;
    std::function<void()> act;
    QString message;
    std::vector<int> numbers;
  };
  const Step steps[] = {
      {"grey", [] {}, refused, {}},
      {"binarize at 50", [] { Binarize(50); }, {}, {1}},
      {"undo", [&] { workbench->Undo(); }, refused, {}},
      {"binarize at 128", [] { Binarize(128); }, {}, {1, 2}},
      {"bright objects: the background",
       [&] { window->ObjectsBox()->setCurrentIndex(1); },
       {},
       {1}},
      {"undo", [&] { workbench->Undo(); }, refused, {}},
      {"redo", [&] { workbench->Redo(); }, {}, {1}},
      {"dark, at least 9 pixels",
       [&] {
         window->ObjectsBox()->setCurrentIndex(0);
         window->MinArea()->setValue(9);
       },
       {},
       {1}},
      {"any size", [&] { window->MinArea()->setValue(0); }, {}, {1, 2}},
  };
  for (const Step& step : steps) {
    step.act();
    EXPECT_TRUE(QTest::qWaitFor([&] {
      return window->Message() == step.message && Numbers(window) == step.numbers;
    })) << step.what
        << ": " << window->Message().toStdString() << ", " << Numbers(window).size() << " rows";
    EXPECT_EQ(window->Summary()->text().isEmpty(), !step.message.isEmpty()) << step.what;
  }

  // Sorted by area, the 8-pixel bar comes first; a row chosen marks its object in the viewer,
  // and a click on an object there chooses its row.
  window->Table()->sortByColumn(1, Qt::AscendingOrder);
  EXPECT_EQ(Numbers(window), (std::vector<int>{2, 1}));
  TPictureCanvas* canvas = TViewerLink::Of(Form1->Image2)->Viewer()->Canvas();
  EXPECT_EQ(canvas->Objects(), window->Objects());
  window->Table()->selectRow(0);
  EXPECT_EQ(window->SelectedObject(), 1);
  EXPECT_EQ(canvas->SelectedObject(), 1);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(canvas->window()));
  QTest::mouseClick(canvas, Qt::LeftButton, {}, canvas->ToCanvas(QPointF(2.5, 2.5)).toPoint());
  EXPECT_EQ(window->SelectedObject(), 0);
  EXPECT_EQ(window->Table()->currentIndex().row(), 1);

  // Saved as CSV and copied tab-separated: a header and a row for each object.
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("量測.csv"));
  ASSERT_TRUE(window->SaveTo(file));
  QFile saved(file);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QString csv = QString::fromUtf8(saved.readAll());
  EXPECT_TRUE(csv.startsWith("number,area,")) << csv.toStdString();
  EXPECT_EQ(csv.count('\n'), 3);
  window->Copy();
  // Wayland lets only a window with the keyboard's focus set the clipboard, and the headless
  // compositor of the tests gives none.
  if (QGuiApplication::platformName() != QLatin1String("wayland")) {
    EXPECT_EQ(QApplication::clipboard()->text(), QString(csv).replace(',', '\t'));
  }

  window->close();
  EXPECT_EQ(canvas->Objects(), nullptr);
}

// A line dragged over ten pixels said to be 5 µm long: the table's areas in µm², a quarter of the
// pixels' count.
TEST_F(MeasureWindowTest, TakesTheScaleOfALineDrawnInTheViewer) {
  Form1->Workbench()->Run({TOperation::Grey});
  Binarize(50);
  TMeasureWindow* window = Form1->OpenMeasureWindow();
  TViewerWindow* viewer = TViewerLink::Of(Form1->Image2)->Viewer();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(viewer));
  viewer->ScaleAction()->trigger();
  TPictureCanvas* canvas = viewer->Canvas();
  ASSERT_TRUE(canvas->DrawingLine());
  OnNextModal([](QWidget* dialog) {
    auto* scale = static_cast<TScaleDialog*>(dialog);
    scale->Length()->setValue(5);
    scale->Unit()->setCurrentText("um");
    scale->accept();
  });
  const QPoint from = canvas->ToCanvas(QPointF(1, 4)).toPoint();
  const QPoint to = canvas->ToCanvas(QPointF(11, 4)).toPoint();
  QTest::mousePress(canvas, Qt::LeftButton, {}, from);
  QTest::mouseMove(canvas, to);
  QTest::mouseRelease(canvas, Qt::LeftButton, {}, to);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Form1->Workbench()->MeasureOptions().unit.empty(); }));
  EXPECT_EQ(Form1->Workbench()->MeasureOptions().unit, "µm");
  EXPECT_NEAR(Form1->Workbench()->MeasureOptions().scale, 0.5, 0.02);
  EXPECT_FALSE(canvas->DrawingLine());
  EXPECT_TRUE(QTest::qWaitFor([&] {
    return window->Model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString() ==
           "面積 (µm²)";
  }));
  EXPECT_NEAR(window->Model()->index(0, 1).data(Qt::UserRole).toDouble(), 9 * 0.25, 0.2);
}

}  // namespace
