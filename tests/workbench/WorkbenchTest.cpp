// SPDX-License-Identifier: GPL-3.0-or-later
#include "Workbench.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <vector>

#include "BitmapTesting.h"
#include "ChainPicture.h"
#include "Exception.h"
#include "PictureFile.h"

namespace {

class Workbench : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    file_ = dir_.filePath(QStringLiteral("it's a 鏈.png"));
    ASSERT_TRUE(QImageWriter(file_).write(ChainPicture()));
  }

  // As the threshold dialog leaves it: OK at `threshold`, or Cancel.
  void Binarize(std::optional<int> threshold) {
    bench_.BeginBinarize();
    if (!threshold) {
      bench_.CancelBinarize();
      return;
    }
    bench_.TryThreshold(*threshold);
    bench_.AcceptBinarize();
  }
  static QStringList Words(const TChain& chain) {
    QStringList words;
    for (const TStep& step : chain)
      words << QString::fromStdString(StepWord(step));
    return words;
  }
  QStringList ChainWords() const { return Words(bench_.ProcessedChain()); }

  const std::vector<std::uint8_t> levels_ = {0, 1, 99, 100, 101, 254, 255, 128};
  TBitmap Levels() const { return Picture(4, 2, TPixelFormat::pf8bit, levels_); }

  TWorkbench bench_;
  QTemporaryDir dir_;
  QString file_;
};

TEST_F(Workbench, GreyMakesAnEightBitGreyImageOfTheMainImageAndLeavesItAlone) {
  // Blue, green, red order: red, green, blue, white.
  const std::vector<std::uint8_t> bgr = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
  struct Case {
    const char* name;
    TBitmap main;
    std::function<void(TWorkbench&)> before;
    std::vector<std::uint8_t> grey;
  };
  const Case cases[] = {
      {"colour", Picture(2, 2, TPixelFormat::pf24bit, bgr), {}, {76, 149, 29, 255}},
      {"an empty main image over a processed one",
       TBitmap(),
       [](TWorkbench& b) { b.Processed().Assign(Filled(1, 1, 3)); },
       {}},
      {"again after edges",
       Picture(3, 1, TPixelFormat::pf8bit, {10, 200, 30}),
       [](TWorkbench& b) {
         b.Run({TOperation::Grey});
         b.Run({TOperation::Edges});
       },
       {10, 200, 30}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::uint8_t> main = PixelBytes(c.main);
    bench_.Main().Assign(c.main);
    bench_.Processed().Assign(TBitmap());
    if (c.before)
      c.before(bench_);
    bench_.Run({TOperation::Grey});
    EXPECT_EQ(bench_.Processed().PixelFormat(), TPixelFormat::pf8bit);
    ASSERT_NE(bench_.Processed().Palette(), nullptr);
    EXPECT_EQ(*bench_.Processed().Palette(), TPalette::Grey());
    EXPECT_EQ(bench_.Processed().Width(), c.main.Width());
    EXPECT_EQ(PixelBytes(bench_.Processed()), c.grey);
    EXPECT_EQ(PixelBytes(bench_.Main()), main);
    EXPECT_EQ(ChainWords(), QStringList{"gray"}) << "grey starts the chain anew";
  }
}

TEST_F(Workbench, EdgesWorkOnTheProcessedImageOnly) {
  bench_.Main().Assign(Filled(3, 3, 77, TPixelFormat::pf8bit));
  bench_.Run({TOperation::Edges});
  EXPECT_TRUE(bench_.Processed().Empty()) << "the main image is not consulted";
  EXPECT_FALSE(bench_.CanUndo()) << "nothing changed";
  EXPECT_TRUE(ChainWords().isEmpty());

  std::vector<std::uint8_t> dot(9, 0);
  dot[4] = 255;
  bench_.Processed().Assign(Picture(3, 3, TPixelFormat::pf8bit, dot));
  bench_.Run({TOperation::Edges});
  EXPECT_EQ(PixelBytes(bench_.Processed()), dot);
  EXPECT_EQ(PixelBytes(bench_.Main()), std::vector<std::uint8_t>(9, 77));
  EXPECT_EQ(ChainWords(), QStringList{"edges"});
}

// The chain picture's results, worked out by hand.
TEST_F(Workbench, ChainsOnAPictureFile) {
  struct Case {
    std::vector<std::function<void()>> commands;
    std::vector<std::uint8_t> expected;
  };
  const auto grey = [this] { bench_.Run({TOperation::Grey}); };
  const auto edges = [this] { bench_.Run({TOperation::Edges}); };
  const auto at100 = [this] { Binarize(100); };
  const Case cases[] = {
      {{grey}, kChainGrey},
      {{grey, at100, edges}, kChainBinarized100Edges},
      // A ring has no pixel left that all eight neighbours cover.
      {{grey, at100, edges, edges}, kChainBinarized100Edges},
      {{grey, edges}, kChainGreyEdges},
      {{grey, edges, edges}, kChainGreyEdgesTwice},
  };
  for (const Case& c : cases) {
    bench_.OpenFile(file_);
    for (const auto& command : c.commands)
      command();
    EXPECT_EQ(PixelBytes(bench_.Processed()), c.expected) << ChainWords().join(' ').toStdString();
    EXPECT_EQ(bench_.Main().PixelFormat(), TPixelFormat::pf24bit);
  }
}

TEST_F(Workbench, TheCommandsBuildTheChainAndUndoWalksItBackToEmpty) {
  bench_.OpenFile(file_);
  struct State {
    QStringList chain;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<State> states = {{{}, {}}};
  const auto after = [&](const std::function<void()>& command, const QStringList& chain) {
    command();
    EXPECT_EQ(ChainWords(), chain);
    states.push_back({ChainWords(), PixelBytes(bench_.Processed())});
  };
  after([&] { Binarize(std::nullopt); }, {});  // the fill stays, as a state of its own
  after([&] { Binarize(100); }, {"binarize=100"});
  after([&] { bench_.Run({TOperation::Edges}); }, {"binarize=100", "edges"});
  after([&] { bench_.Run({TOperation::Grey}); }, {"gray"});
  after([&] { Binarize(100); }, {"gray", "binarize=100"});
  after([&] { bench_.Run({TOperation::Edges}); }, {"gray", "binarize=100", "edges"});
  EXPECT_EQ(states.back().bytes, kChainBinarized100Edges);

  for (std::size_t i = states.size() - 1; i-- > 0;) {
    ASSERT_TRUE(bench_.CanUndo());
    bench_.Undo();
    EXPECT_EQ(ChainWords(), states[i].chain) << "undo to state " << i;
    EXPECT_EQ(PixelBytes(bench_.Processed()), states[i].bytes) << "undo to state " << i;
  }
  EXPECT_FALSE(bench_.CanUndo());
  EXPECT_TRUE(bench_.Processed().Empty());
  for (std::size_t i = 1; i < states.size(); ++i) {
    ASSERT_TRUE(bench_.CanRedo());
    bench_.Redo();
    EXPECT_EQ(PixelBytes(bench_.Processed()), states[i].bytes) << "redo to state " << i;
  }
  EXPECT_FALSE(bench_.CanRedo());

  bench_.Undo();
  bench_.Run({TOperation::Edges});
  EXPECT_FALSE(bench_.CanRedo()) << "a new command forgets what was undone";
  EXPECT_EQ(ChainWords(), (QStringList{"gray", "binarize=100", "edges"}));
}

TEST_F(Workbench, BinarizeAppliesTheThresholdTriedToTheImageToThreshold) {
  const std::vector<std::uint8_t> blackAndWhite = {0, 255, 255, 0, 0, 0, 255, 255};
  const std::vector<std::uint8_t> bgra = {10, 200, 99, 7, 100, 0, 255, 128};
  struct Case {
    const char* name;
    TBitmap main, processed;
    int threshold;
    std::vector<std::uint8_t> expected;
  };
  Case cases[] = {
      {"0", TBitmap(), Levels(), 0, {255, 255, 255, 255, 255, 255, 255, 255}},
      {"100", TBitmap(), Levels(), 100, {0, 0, 0, 255, 255, 255, 255, 255}},
      {"128", TBitmap(), Levels(), 128, {0, 0, 0, 0, 0, 255, 255, 255}},
      {"255", TBitmap(), Levels(), 255, {0, 0, 0, 0, 0, 0, 255, 0}},
      {"101 on the main image", Levels(), TBitmap(), 101, {0, 0, 0, 0, 255, 255, 255, 255}},
      {"colour per channel, alpha kept",
       Picture(2, 1, TPixelFormat::pf32bit, bgra),
       TBitmap(),
       100,
       {0, 255, 0, 7, 255, 0, 255, 128}},
  };
  std::vector<Case> all(std::make_move_iterator(std::begin(cases)),
                        std::make_move_iterator(std::end(cases)));
  for (const int t : {1, 2, 127, 254, 255})
    all.push_back({"black and white", TBitmap(), Picture(4, 2, TPixelFormat::pf8bit, blackAndWhite),
                   t, blackAndWhite});
  for (const Case& c : all) {
    SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.threshold));
    const std::vector<std::uint8_t> main = PixelBytes(c.main);
    bench_.Main().Assign(c.main);
    bench_.Processed().Assign(c.processed);
    Binarize(c.threshold);
    EXPECT_EQ(PixelBytes(bench_.Processed()), c.expected);
    EXPECT_EQ(bench_.Processed().PixelFormat(),
              c.main.Empty() ? c.processed.PixelFormat() : c.main.PixelFormat());
    EXPECT_EQ(PixelBytes(bench_.Main()), main) << "the main image is never modified";
  }
}

TEST_F(Workbench, BinarizeFillsAnEmptyProcessedImageFromTheMainOneEvenOnCancel) {
  bench_.Main().Assign(Levels());
  Binarize(std::nullopt);
  EXPECT_EQ(PixelBytes(bench_.Processed()), levels_);
  EXPECT_EQ(*bench_.Processed().Palette(), TPalette::Grey());

  // Both empty: nothing to threshold, nothing changes but the chain.
  bench_.Main().Assign(TBitmap());
  bench_.Processed().Assign(TBitmap());
  Binarize(77);
  EXPECT_TRUE(bench_.Processed().Empty());
  EXPECT_EQ(bench_.ProcessedCommand(), QString());
}

TEST_F(Workbench, TheThresholdTriedStaysFromOneUseToTheNext) {
  EXPECT_EQ(bench_.TriedThreshold(), OperationInfo(TOperation::Binarize).parameter->initial);
  bench_.Processed().Assign(Levels());
  bench_.BeginBinarize();
  bench_.AcceptBinarize();
  EXPECT_EQ(PixelBytes(bench_.Processed()),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 255, 255, 255}));

  bench_.Processed().Assign(Levels());
  Binarize(std::nullopt);
  bench_.BeginBinarize();
  bench_.TryThreshold(2);
  bench_.CancelBinarize();
  bench_.BeginBinarize();
  bench_.AcceptBinarize();
  EXPECT_EQ(PixelBytes(bench_.Processed()),
            (std::vector<std::uint8_t>{0, 0, 255, 255, 255, 255, 255, 255}));
  EXPECT_EQ(bench_.TriedThreshold(), 2);
}

// Two levels far apart: every method worth the name cuts between them.
TEST_F(Workbench, AMethodMovesTheThresholdAndStaysInForceUntilItIsMoved) {
  const TBitmap twoLevels =
      Picture(4, 2, TPixelFormat::pf8bit, {20, 220, 20, 220, 220, 20, 20, 220});
  for (const TThresholdMethod method :
       {TThresholdMethod::Otsu, TThresholdMethod::Default, TThresholdMethod::Mean}) {
    const char* word = ThresholdMethodInfo(method).word;
    SCOPED_TRACE(word);
    const std::optional<int> t = AutoThreshold(method, ThresholdHistogram(twoLevels));
    ASSERT_TRUE(t.has_value());
    bench_.Processed().Assign(twoLevels);
    bench_.BeginBinarize();
    ASSERT_TRUE(bench_.TryMethod(method));
    EXPECT_EQ(bench_.TriedThreshold(), std::min(*t, 255));
    EXPECT_EQ(bench_.MethodInForce(), method);
    EXPECT_EQ(bench_.LiveChain().back(), (TStep{TOperation::Binarize, *t, method}));
    bench_.TryThreshold(bench_.TriedThreshold() == 255 ? 254 : 255);
    EXPECT_EQ(bench_.MethodInForce(), std::nullopt) << "moved by hand";
    EXPECT_EQ(bench_.ChosenMethod(), method);
    bench_.TakeThreshold(method, *t);
    EXPECT_EQ(bench_.MethodInForce(), method) << "the method's own threshold on this picture";
    bench_.AcceptBinarize();
    EXPECT_EQ(PixelBytes(bench_.Processed()),
              (std::vector<std::uint8_t>{0, 255, 0, 255, 255, 0, 0, 255}));
    EXPECT_EQ(ChainWords().back(), QStringLiteral("binarize=%1").arg(word));
  }

  // A threshold another picture gave it is a number only.
  bench_.Processed().Assign(twoLevels);
  bench_.BeginBinarize();
  bench_.TakeThreshold(TThresholdMethod::Otsu, 3);
  EXPECT_EQ(bench_.TriedThreshold(), 3);
  EXPECT_EQ(bench_.MethodInForce(), std::nullopt);
  bench_.CancelBinarize();
}

TEST_F(Workbench, AMethodInForceIsAppliedAnewToTheNextPicture) {
  const TBitmap high = Picture(4, 1, TPixelFormat::pf8bit, {150, 150, 250, 250});
  const std::optional<int> t = AutoThreshold(TThresholdMethod::Otsu, ThresholdHistogram(high));
  ASSERT_TRUE(t.has_value());
  bench_.Processed().Assign(Picture(4, 1, TPixelFormat::pf8bit, {10, 10, 60, 60}));
  bench_.BeginBinarize();
  bench_.TryMethod(TThresholdMethod::Otsu);
  bench_.AcceptBinarize();
  bench_.Processed().Assign(high);
  bench_.BeginBinarize();
  EXPECT_EQ(bench_.TriedThreshold(), std::min(*t, 255));
  EXPECT_EQ(bench_.MethodInForce(), TThresholdMethod::Otsu);
  bench_.CancelBinarize();
}

TEST_F(Workbench, WithoutAPictureNoMethodGivesAThreshold) {
  bench_.BeginBinarize();
  for (const TThresholdMethodInfo& info : ThresholdMethods())
    EXPECT_FALSE(bench_.TryMethod(info.method)) << info.name;
  bench_.CancelBinarize();
  EXPECT_EQ(bench_.TriedThreshold(), 128);
  EXPECT_EQ(bench_.MethodInForce(), std::nullopt);
}

// What the live view runs, and the signals that tell it and the windows showing the threshold.
TEST_F(Workbench, TheLiveChainAndTheThresholdTriedAreAnnounced) {
  int chainChanges = 0;
  std::vector<std::optional<int>> trials;
  std::vector<int> tried;
  QObject::connect(&bench_, &TWorkbench::LiveChainChanged, [&] { ++chainChanges; });
  QObject::connect(&bench_, &TWorkbench::TrialChanged,
                   [&](std::optional<int> threshold) { trials.push_back(threshold); });
  QObject::connect(&bench_, &TWorkbench::ThresholdTried, [&](int t) { tried.push_back(t); });
  bench_.Main().Assign(Levels());
  struct Case {
    const char* name;
    std::function<void()> command;
    QStringList live;
    std::vector<std::optional<int>> trials;
    bool chainChanged = true;
  };
  const Case cases[] = {
      {"nothing processed", [] {}, {"gray"}, {}, false},
      {"a threshold outside binarize", [&] { bench_.TryThreshold(90); }, {"gray"}, {}, false},
      {"edges", [&] { bench_.Run({TOperation::Edges}); }, {"gray"}, {}},
      {"grey", [&] { bench_.Run({TOperation::Grey}); }, {"gray"}, {}},
      {"binarize begun", [&] { bench_.BeginBinarize(); }, {"gray", "binarize=90"}, {90}},
      {"the slider moved", [&] { bench_.TryThreshold(100); }, {"gray", "binarize=100"}, {100}},
      {"beyond the range", [&] { bench_.TryThreshold(256); }, {"gray", "binarize=255"}, {255}},
      {"cancelled", [&] { bench_.CancelBinarize(); }, {"gray"}, {std::nullopt}},
      {"edges", [&] { bench_.Run({TOperation::Edges}); }, {"gray", "edges"}, {}},
      {"undone", [&] { bench_.Undo(); }, {"gray"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    chainChanges = 0;
    trials.clear();
    c.command();
    EXPECT_EQ(Words(bench_.LiveChain()), c.live);
    EXPECT_EQ(trials, c.trials);
    EXPECT_EQ(chainChanges > 0, c.chainChanged);
  }
  EXPECT_EQ(tried, (std::vector<int>{90, 100, 255}));
}

// The command line copied for the processed image, run by the shell in a folder of its own,
// writes OUTPUT.png with the processed image's very bytes.
TEST_F(Workbench, TheCommandLineMakesTheProcessedImage) {
  struct Case {
    std::vector<TOperation> commands;
    std::optional<TThresholdMethod> method;  // binarize by it, else at 100
  };
  const Case cases[] = {
      // First, while the processed image is empty: binarize the colour picture, then edges.
      {{TOperation::Binarize, TOperation::Edges}, {}},
      {{TOperation::Grey, TOperation::Binarize, TOperation::Edges, TOperation::Edges}, {}},
      {{TOperation::Grey, TOperation::Edges, TOperation::Binarize}, TThresholdMethod::Otsu},
  };
  for (const Case& c : cases) {
    bench_.OpenFile(file_);
    for (const TOperation operation : c.commands) {
      if (operation != TOperation::Binarize) {
        bench_.Run({operation});
        continue;
      }
      bench_.BeginBinarize();
      if (c.method)
        ASSERT_TRUE(bench_.TryMethod(*c.method));
      else
        bench_.TryThreshold(100);
      bench_.AcceptBinarize();
    }
    const QString line = bench_.ProcessedCommand();
    ASSERT_TRUE(line.startsWith(QStringLiteral("ccdlab-cli '"))) << line.toStdString();
    EXPECT_EQ(line.endsWith(QStringLiteral(" binarize=otsu")), c.method.has_value());

    QTemporaryDir work;
    QProcess shell;
    shell.setWorkingDirectory(work.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QFileInfo(CCDLAB_CLI).path() + ':' + environment.value("PATH"));
    shell.setProcessEnvironment(environment);
    shell.start("sh", {"-c", line});
    ASSERT_TRUE(shell.waitForFinished(60000));
    ASSERT_EQ(shell.exitCode(), 0) << line.toStdString() << "\n"
                                   << shell.readAllStandardError().toStdString();
    EXPECT_TRUE(SameBitmaps(bench_.Processed(), LoadPictureFile(work.filePath("OUTPUT.png"))))
        << line.toStdString();
  }
}

TEST_F(Workbench, TheCommandLineNamesTheMainImagesFileWhileTheProcessedImageIsMadeFromIt) {
  EXPECT_EQ(bench_.ProcessedCommand(), QString()) << "nothing processed";
  bench_.OpenFile(file_);
  bench_.Run({TOperation::Grey});
  EXPECT_TRUE(bench_.ProcessedCommand().startsWith("ccdlab-cli '"));
  EXPECT_THROW(bench_.OpenFile(dir_.filePath("missing.png")), Exception);
  EXPECT_TRUE(bench_.ProcessedCommand().startsWith("ccdlab-cli '")) << "the main image stays";
  bench_.OpenFile(file_);
  EXPECT_EQ(bench_.ProcessedCommand(), QString()) << "made from an earlier picture";
  bench_.TakeFrame(Filled(2, 2, 9));
  bench_.Run({TOperation::Grey});
  EXPECT_EQ(bench_.ProcessedCommand(), QStringLiteral("ccdlab-cli INPUT.png OUTPUT.png gray"));
}

// What shows the picture being thresholded may fail to get ready (out of memory): binarize is
// then not under way, and the fill it made stays.
TEST_F(Workbench, ABinarizeWhoseShowingFailsIsNotUnderWay) {
  bench_.Main().Assign(Levels());
  QObject::connect(&bench_, &TWorkbench::BinarizeBegins, [] { throw std::bad_alloc(); });
  EXPECT_THROW(bench_.BeginBinarize(), std::bad_alloc);
  EXPECT_FALSE(bench_.Binarizing());
  EXPECT_EQ(Words(bench_.LiveChain()), QStringList{"gray"});
  EXPECT_EQ(PixelBytes(bench_.Processed()), levels_);
}

}  // namespace
