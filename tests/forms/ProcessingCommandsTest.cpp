// SPDX-License-Identifier: GPL-3.0-or-later
#include <QImage>
#include <QImageWriter>
#include <QMenu>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include "ChainPicture.h"
#include "FormsFixture.h"
#include "ImageViewMenu.h"
#include "Modal.h"

namespace {

class ProcessingCommands : public FormsTest {};

// Drags the file onto the main window and drops it there, as a file manager would.
bool DropFile(const QString& fileName) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(fileName)});
  const QPoint at(300, 300);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Form1, &enter);
  if (!enter.isAccepted())
    return false;
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Form1, &drop);
  return drop.isAccepted();
}

class Chain : public ProcessingCommands {
 protected:
  void SetUp() override {
    ProcessingCommands::SetUp();
    ASSERT_TRUE(dir_.isValid());
    file_ = dir_.filePath(QStringLiteral("鏈 chain.png"));
    ASSERT_TRUE(QImageWriter(file_).write(ChainPicture()));
  }
  QTemporaryDir dir_;
  QString file_;
};

QStringList ChainWords() {
  QStringList words;
  for (const TStep& step : Form1->ProcessedChain())
    words << QString::fromStdString(StepWord(step));
  return words;
}

// Each button is its command on the workbench (whose own tests hold the commands' cases); the
// processed image's menu undoes and redoes them.
TEST_F(Chain, TheButtonsRunTheirCommandsAndTheMenuUndoesThem) {
  Form1->OpenPictureFile(file_);
  QMenu* menu = Form1->Image2->findChild<TImageViewMenu*>()->Menu();
  auto* undo = menu->findChild<QAction*>(QStringLiteral("UndoAction"));
  auto* redo = menu->findChild<QAction*>(QStringLiteral("RedoAction"));
  ASSERT_NE(undo, nullptr);
  ASSERT_NE(redo, nullptr);
  emit menu->aboutToShow();
  EXPECT_FALSE(undo->isEnabled());

  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), kChainGrey);
  OnNextModal([](QWidget*) {
    BinaryDlg->ScrollBar1->setValue(100);
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  QTest::mouseClick(Form1->Button5, Qt::LeftButton);
  OnNextModal([](QWidget*) { QTest::mouseClick(BinaryDlg->CancelBtn, Qt::LeftButton); });
  QTest::mouseClick(Form1->Button5, Qt::LeftButton);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), kChainBinarized100Edges);
  EXPECT_EQ(ChainWords(), (QStringList{"gray", "binarize=100", "edges"}));
  EXPECT_EQ(Main()->PixelFormat(), TPixelFormat::pf24bit);

  emit menu->aboutToShow();
  EXPECT_TRUE(undo->isEnabled());
  EXPECT_FALSE(redo->isEnabled());
  undo->trigger();
  EXPECT_EQ(ChainWords(), (QStringList{"gray", "binarize=100"}));
  emit menu->aboutToShow();
  EXPECT_TRUE(redo->isEnabled());
  redo->trigger();
  EXPECT_EQ(PixelBytes(*Processed()), kChainBinarized100Edges);
}

TEST_F(Chain, DroppedFileLoadsIntoTheMainImage) {
  EXPECT_TRUE(DropFile(file_));
  EXPECT_TRUE(QTest::qWaitFor([] { return !Main()->Empty(); }));
  EXPECT_EQ(Main()->Width(), 6);
  EXPECT_EQ(Main()->Height(), 5);
  EXPECT_TRUE(Processed()->Empty());
}

TEST_F(Chain, ADroppedFileThatCannotBeReadIsReportedAndTheMainImageKept) {
  Form1->OpenPictureFile(file_);
  const std::vector<std::uint8_t> before = PixelBytes(*Main());
  MessageBoxCatcher box;
  EXPECT_TRUE(DropFile(dir_.filePath("missing.png")));
  EXPECT_TRUE(QTest::qWaitFor([&] { return box.Seen(); }));
  EXPECT_TRUE(box.Text().contains("missing.png"));
  EXPECT_EQ(PixelBytes(*Main()), before);
}

}  // namespace
