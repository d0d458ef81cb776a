#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>
#include <optional>

#include "ChainPicture.h"
#include "FormsFixture.h"
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

TEST_F(ProcessingCommands, GrayscaleMakesAnEightBitGreyCopyAndLeavesTheMainImageAlone) {
  // Blue, green, red order: red, green, blue, white.
  const std::vector<std::uint8_t> bgr = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
  const TBitmap colour = Picture(2, 2, TPixelFormat::pf24bit, bgr);
  Form1->Image1->Picture()->Assign(&colour);
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  ASSERT_EQ(Processed()->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(Processed()->Width(), 2);
  EXPECT_EQ(Processed()->Height(), 2);
  EXPECT_EQ(*Processed()->Palette(), TPalette::Grey());
  EXPECT_EQ(PixelBytes(*Processed()), (std::vector<std::uint8_t>{76, 149, 29, 255}));
  EXPECT_EQ(PixelBytes(*Main()), bgr);
}

TEST_F(ProcessingCommands, GrayscaleOfAnEmptyMainImageIsAnEmptyGreyImage) {
  const TBitmap something = Picture(1, 1, TPixelFormat::pf24bit, {1, 2, 3});
  Form1->Image2->Picture()->Assign(&something);
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  EXPECT_TRUE(Processed()->Empty());
  EXPECT_EQ(Processed()->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(*Processed()->Palette(), TPalette::Grey());
}

TEST_F(ProcessingCommands, GrayscaleAgainDiscardsEarlierEdgeWork) {
  const TBitmap grey = Picture(3, 1, TPixelFormat::pf8bit, {10, 200, 30});
  Form1->Image1->Picture()->Assign(&grey);
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  ASSERT_NE(PixelBytes(*Processed()), (std::vector<std::uint8_t>{10, 200, 30}));
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), (std::vector<std::uint8_t>{10, 200, 30}));
}

TEST_F(ProcessingCommands, EdgesWorkOnTheProcessedImageOnly) {
  const TBitmap main = Picture(3, 3, TPixelFormat::pf8bit, std::vector<std::uint8_t>(9, 77));
  Form1->Image1->Picture()->Assign(&main);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  EXPECT_TRUE(Processed()->Empty()) << "the main image is not consulted";

  std::vector<std::uint8_t> dot(9, 0);
  dot[4] = 255;
  const TBitmap picture = Picture(3, 3, TPixelFormat::pf8bit, dot);
  Form1->Image2->Picture()->Assign(&picture);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), dot);
  EXPECT_EQ(PixelBytes(*Main()), std::vector<std::uint8_t>(9, 77));
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

TEST_F(Chain, FileThenGreyThenBinarizeThenEdgesTwice) {
  Form1->OpenPictureFile(file_);
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), kChainGrey);
  OnNextModal([](QWidget*) {
    BinaryDlg->ScrollBar1->setValue(100);
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  QTest::mouseClick(Form1->Button5, Qt::LeftButton);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), kChainBinarized100Edges);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), kChainBinarized100Edges)
      << "a ring has no pixel left that all eight neighbours cover";
  EXPECT_EQ(Main()->PixelFormat(), TPixelFormat::pf24bit);
}

TEST_F(Chain, FileThenGreyThenEdgesTwice) {
  Form1->OpenPictureFile(file_);
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), kChainGreyEdges);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  EXPECT_EQ(PixelBytes(*Processed()), kChainGreyEdgesTwice);
}

// Binarize through the dialog, OK at `threshold` or Cancel.
void Binarize(std::optional<int> threshold) {
  OnNextModal([threshold](QWidget*) {
    if (threshold)
      BinaryDlg->ScrollBar1->setValue(*threshold);
    QTest::mouseClick(threshold ? BinaryDlg->OKBtn : BinaryDlg->CancelBtn, Qt::LeftButton);
  });
  QTest::mouseClick(Form1->Button5, Qt::LeftButton);
}

QStringList ChainWords() {
  QStringList words;
  for (const TStep& step : Form1->ProcessedChain())
    words << QString::fromStdString(StepWord(step));
  return words;
}

TEST_F(Chain, TheButtonsBuildTheChainAndUndoWalksItBackToEmpty) {
  Form1->OpenPictureFile(file_);
  struct State {
    QStringList chain;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<State> states = {{{}, {}}};
  const auto after = [&](const std::function<void()>& command, const QStringList& chain) {
    command();
    EXPECT_EQ(ChainWords(), chain);
    states.push_back({ChainWords(), PixelBytes(*Processed())});
  };
  after([] { Binarize(std::nullopt); }, {});  // the fill stays, as a state of its own
  after([] { Binarize(100); }, {"binarize=100"});
  after([] { QTest::mouseClick(Form1->Button6, Qt::LeftButton); }, {"binarize=100", "edges"});
  after([] { QTest::mouseClick(Form1->Button4, Qt::LeftButton); }, {"gray"});
  after([] { Binarize(100); }, {"gray", "binarize=100"});
  after([] { QTest::mouseClick(Form1->Button6, Qt::LeftButton); },
        {"gray", "binarize=100", "edges"});
  EXPECT_EQ(states.back().bytes, kChainBinarized100Edges);

  for (std::size_t i = states.size() - 1; i-- > 0;) {
    ASSERT_TRUE(Form1->CanUndo());
    Form1->Undo();
    EXPECT_EQ(ChainWords(), states[i].chain) << "undo to state " << i;
    EXPECT_EQ(PixelBytes(*Processed()), states[i].bytes) << "undo to state " << i;
  }
  EXPECT_FALSE(Form1->CanUndo());
  EXPECT_TRUE(Processed()->Empty());
  for (std::size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(Form1->CanRedo());
    Form1->Redo();
    EXPECT_EQ(PixelBytes(*Processed()), states[i].bytes) << "redo to state " << i;
  }
  EXPECT_FALSE(Form1->CanRedo());

  Form1->Undo();
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  EXPECT_FALSE(Form1->CanRedo()) << "a new command forgets what was undone";
  EXPECT_EQ(ChainWords(), (QStringList{"gray", "binarize=100", "edges"}));
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
