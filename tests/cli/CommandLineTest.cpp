#include "CommandLine.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>

#include "ChainPicture.h"
#include "PictureFile.h"

namespace {

TEST(ParseArguments, UsageErrors) {
  const QStringList cases[] = {
      {},
      {"in.png"},
      {"--time", "in.png"},
      {"in.png", "out.png", "blur"},
      {"in.png", "out.png", "binarize"},
      {"in.png", "out.png", "binarize="},
      {"in.png", "out.png", "binarize=256"},
      {"in.png", "out.png", "binarize=-1"},
      {"in.png", "out.png", "binarize=1.5"},
      {"in.png", "out.png", "binarize=abc"},
      {"in.png", "out.png", "binarize=1000"},
      {"in.png", "out.png", "Gray"},
      {"--fast", "in.png", "out.png"},
  };
  for (const QStringList& arguments : cases)
    EXPECT_EQ(ParseArguments(arguments).kind, Request::Kind::UsageError)
        << arguments.join(' ').toStdString();
}

TEST(ParseArguments, StepsInTheOrderGiven) {
  const Request request = ParseArguments(
      {"--time", "in.png", "out.bmp", "gray", "binarize=0", "binarize=255", "edges", "gray"});
  ASSERT_EQ(request.kind, Request::Kind::Run);
  EXPECT_TRUE(request.plan.time);
  EXPECT_EQ(request.plan.input, "in.png");
  EXPECT_EQ(request.plan.output, "out.bmp");
  QStringList names;
  for (const Step& step : request.plan.steps)
    names.append(step.Name());
  EXPECT_EQ(names, QStringList({"gray", "binarize=0", "binarize=255", "edges", "gray"}));
}

TEST(ParseArguments, HelpWinsAnywhere) {
  EXPECT_EQ(ParseArguments({"--help"}).kind, Request::Kind::Help);
  EXPECT_EQ(ParseArguments({"in.png", "out.png", "-h"}).kind, Request::Kind::Help);
}

// The real tool, on real files, without a display.
class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    input_ = Path("輸入 picture.png");
    ASSERT_TRUE(QImageWriter(input_).write(ChainPicture()));
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }

  struct Outcome {
    int status;
    QString out;
    QString err;
  };
  Outcome Run(const QStringList& arguments) const {
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    tool.setProcessEnvironment(environment);
    tool.start(CCDLAB_CLI, arguments);
    EXPECT_TRUE(tool.waitForFinished(60000));
    return {tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()),
            QString::fromUtf8(tool.readAllStandardError())};
  }

  static std::vector<std::uint8_t> Bytes(const TBitmap& bitmap) {
    std::vector<std::uint8_t> values;
    for (int i = 0; i < bitmap.Height(); ++i)
      values.insert(values.end(), bitmap.ScanLine(i), bitmap.ScanLine(i) + bitmap.RowBytes());
    return values;
  }

  QTemporaryDir dir_;
  QString input_;
};

TEST_F(Tool, StepsGiveTheSameBytesAsTheButtons) {
  struct Case {
    QStringList steps;
    std::vector<std::uint8_t> expected;
  };
  const Case cases[] = {
      {{"gray"}, kChainGrey},
      {{"gray", "binarize=100", "edges", "edges"}, kChainBinarized100Edges},
      {{"gray", "edges", "edges"}, kChainGreyEdgesTwice},
  };
  for (const Case& c : cases) {
    for (const char* extension : {"png", "bmp"}) {
      const QString output = Path(QStringLiteral("out.%1").arg(extension));
      const Outcome outcome = Run(QStringList{input_, output} + c.steps);
      ASSERT_EQ(outcome.status, 0) << outcome.err.toStdString();
      const TBitmap written = LoadPictureFile(output);
      ASSERT_EQ(written.PixelFormat(), TPixelFormat::pf8bit) << extension;
      ASSERT_NE(written.Palette(), nullptr);
      EXPECT_EQ(*written.Palette(), TPalette::Grey()) << extension;
      EXPECT_EQ(Bytes(written), c.expected) << c.steps.join(' ').toStdString() << " " << extension;
    }
  }
}

TEST_F(Tool, BinarizeAloneThresholdsACopyOfTheColourPicturePerChannel) {
  const QString output = Path("binary.png");
  ASSERT_EQ(Run({input_, output, "binarize=128"}).status, 0);
  QImage written;
  ASSERT_TRUE(QImageReader(output).read(&written));
  EXPECT_EQ(written.pixel(5, 0), qRgb(255, 0, 0));
  EXPECT_EQ(written.pixel(2, 1), qRgb(255, 255, 0));
  EXPECT_EQ(written.pixel(1, 2), qRgb(0, 255, 0));
  EXPECT_FALSE(written.isGrayscale()) << "a colour picture stays in colour";
}

TEST_F(Tool, WithoutStepsTheMainImageIsConverted) {
  for (const char* name : {"copy.bmp", "copy.ppm", "copy.png"}) {
    const QString output = Path(name);
    ASSERT_EQ(Run({input_, output}).status, 0) << name;
    QImage written;
    ASSERT_TRUE(QImageReader(output).read(&written)) << name;
    EXPECT_EQ(written.size(), QSize(6, 5));
    EXPECT_EQ(written.pixel(2, 1), qRgb(255, 255, 0)) << name;
    EXPECT_EQ(written.pixel(3, 3), qRgb(255, 255, 0)) << name;
  }
}

TEST_F(Tool, TimePrintsEachStepWithItsMilliseconds) {
  const Outcome outcome = Run({"--time", input_, Path("t.png"), "gray", "edges"});
  ASSERT_EQ(outcome.status, 0);
  EXPECT_TRUE(outcome.err.contains(
      QRegularExpression("^gray [0-9.]+ ms$", QRegularExpression::MultilineOption)))
      << outcome.err.toStdString();
  EXPECT_TRUE(outcome.err.contains(
      QRegularExpression("^edges [0-9.]+ ms$", QRegularExpression::MultilineOption)));
}

TEST_F(Tool, HelpGoesToStandardOutput) {
  const Outcome outcome = Run({"--help"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(outcome.out.startsWith("usage: ccdlab-cli"));
  EXPECT_TRUE(outcome.err.isEmpty());
}

TEST_F(Tool, FailuresWriteNothingAndSayWhy) {
  const QString existing = Path("existing.png");
  QFile file(existing);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("keep me");
  file.close();
  struct Case {
    const char* what;
    QStringList arguments;
    int status;
    QString named;  // what the message must name; empty for usage errors
  };
  const Case cases[] = {
      {"usage", {input_, existing, "blur"}, 2, {}},
      {"threshold out of range", {input_, existing, "binarize=300"}, 2, {}},
      {"missing input", {Path("missing.png"), existing}, 1, "missing.png"},
      {"edges alone leaves nothing", {input_, existing, "edges"}, 1, "existing.png"},
      {"output folder missing", {input_, Path("no/such/dir/out.png")}, 1, "out.png"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = Run(c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.what;
    if (c.status == 2) {
      EXPECT_TRUE(outcome.err.contains("usage: ccdlab-cli")) << c.what;
    } else {
      EXPECT_EQ(outcome.err.count('\n'), 1) << c.what << ": " << outcome.err.toStdString();
      EXPECT_TRUE(outcome.err.contains(c.named)) << c.what << ": " << outcome.err.toStdString();
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep me") << c.what;
    file.close();
  }
  EXPECT_FALSE(QFile::exists(Path("no/such/dir/out.png")));
}

}  // namespace
