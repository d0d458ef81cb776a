// SPDX-License-Identifier: GPL-3.0-or-later
#include "Arguments.h"
#include "Runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <functional>

#include "BitmapTesting.h"
#include "ChainPicture.h"
#include "PictureFile.h"
#include "Reference.h"

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
      {"in.png", "out.png", "Binarize=otsu"},  // the step's words are lower case
      {"in.png", "out.png", "binarize=otsu2"},
      {"in.png", "out.png", "edges=otsu"},
      {"in.png", "out.png", "Gray"},
      {"--fast", "in.png", "out.png"},
      {"in.png", "out.png", "--quality", "0"},
      {"in.png", "out.jpg", "--quality=101"},
      {"in.png", "out.png", "--compression", "10"},
      {"in.png", "out.png", "--compression"},
      {"in.png", "out.gif"},                     // a format not written
      {"in.png", "out.data"},                    // no format named
      {"in.png", "-"},                           // standard output needs a format
      {"in.png", "out.png", "--format", "gif"},  // not written
      {"in.png", "out.png", "--format", "jpg"},  // contradicts the extension
      {"in.png", "out", "--format", "webp"},
  };
  for (const QStringList& arguments : cases)
    EXPECT_EQ(ParseArguments(arguments).kind, Request::Kind::UsageError)
        << arguments.join(' ').toStdString();
}

TEST(ParseArguments, OptionsStandAnywhereAndDoubleDashEndsThem) {
  struct Case {
    QStringList arguments;
    QString input, output;
    const char* format;
    QStringList steps;
    bool time;
    int quality, compression;
  };
  const Case cases[] = {
      {{"--time", "in.png", "out.bmp", "gray", "binarize=0", "binarize=255", "edges", "gray"},
       "in.png",
       "out.bmp",
       "bmp",
       {"gray", "binarize=0", "binarize=255", "edges", "gray"},
       true,
       90,
       -1},
      {{"in.png", "out.png", "--time", "gray"}, "in.png", "out.png", "png", {"gray"}, true, 90, -1},
      {{"in.png", "out.png", "gray", "binarize=otsu", "binarize=RenyiEntropy", "binarize=007",
        "binarize=OTSU"},
       "in.png",
       "out.png",
       "png",
       {"gray", "binarize=otsu", "binarize=renyientropy", "binarize=7", "binarize=otsu"},
       false,
       90,
       -1},
      {{"-", "-", "edges", "--format", "tif", "--compression=0"},
       "-",
       "-",
       "tif",
       {"edges"},
       false,
       90,
       0},
      {{"--quality", "40", "in.png", "out.JPEG"}, "in.png", "out.JPEG", "jpg", {}, false, 40, -1},
      {{"in.png", "out", "--format=pgm"}, "in.png", "out", "pgm", {}, false, 90, -1},
      {{"--", "--odd.png", "-x.ppm", "gray"},
       "--odd.png",
       "-x.ppm",
       "ppm",
       {"gray"},
       false,
       90,
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    const Request request = ParseArguments(c.arguments);
    ASSERT_EQ(request.kind, Request::Kind::Run) << request.error.toStdString();
    EXPECT_EQ(request.plan.input, c.input);
    EXPECT_EQ(request.plan.output, c.output);
    ASSERT_NE(request.plan.format, nullptr);
    EXPECT_STREQ(request.plan.format->name, c.format);
    QStringList names;
    for (const TStep& step : request.plan.steps)
      names.append(StepName(step));
    EXPECT_EQ(names, c.steps);
    EXPECT_EQ(request.plan.time, c.time);
    EXPECT_EQ(request.plan.save.jpegQuality, c.quality);
    EXPECT_EQ(request.plan.save.compression, c.compression);
  }
  EXPECT_EQ(ParseArguments({"in.png", "out.png", "-h"}).kind, Request::Kind::Help);
  EXPECT_EQ(ParseArguments({"in.png", "--version"}).kind, Request::Kind::Version);
}

// How the tool is run.
struct Options {
  QString locale = QStringLiteral("C.UTF-8");
  QString stdoutFile;
  bool endInput = true;  // false: standard input stays open, as a stream that goes on
  std::function<void()> inChild;
};

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
    QByteArray out;
    QString err;
  };
  static void Start(QProcess& tool, const QString& program, const QStringList& arguments,
                    const Options& options = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("LC_ALL", options.locale);
    tool.setProcessEnvironment(environment);
    if (!options.stdoutFile.isEmpty())
      tool.setStandardOutputFile(options.stdoutFile);
    if (options.inChild)
      tool.setChildProcessModifier(options.inChild);
    tool.start(program, arguments);
  }
  static Outcome Finish(QProcess& tool) {
    EXPECT_TRUE(tool.waitForFinished(60000));
    return {tool.exitCode(), tool.readAllStandardOutput(),
            QString::fromUtf8(tool.readAllStandardError())};
  }
  Outcome Run(const QStringList& arguments, const QByteArray& in = {},
              const Options& options = {}) const {
    QProcess tool;
    Start(tool, CCDLAB_CLI, arguments, options);
    tool.write(in);
    if (options.endInput)
      tool.closeWriteChannel();
    return Finish(tool);
  }
  Outcome Run(const QStringList& arguments, const QByteArray& in, const QString& locale,
              const QString& stdoutFile = {}) const {
    Options options;
    options.locale = locale;
    options.stdoutFile = stdoutFile;
    return Run(arguments, in, options);
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
    for (const char* extension : {"png", "bmp", "tif"}) {
      const QString output = Path(QStringLiteral("out.%1").arg(extension));
      const Outcome outcome = Run(QStringList{input_, output} + c.steps);
      ASSERT_EQ(outcome.status, 0) << outcome.err.toStdString();
      const TBitmap written = LoadPictureFile(output);
      ASSERT_EQ(written.PixelFormat(), TPixelFormat::pf8bit) << extension;
      ASSERT_NE(written.Palette(), nullptr);
      EXPECT_EQ(*written.Palette(), TPalette::Grey()) << extension;
      EXPECT_EQ(PixelBytes(written), c.expected)
          << c.steps.join(' ').toStdString() << " " << extension;
    }
  }
}

TEST_F(Tool, TheFirstStepWorksOnTheInputPictureWhicheverItIs) {
  TBitmap colour = LoadPictureFile(input_);
  ReferenceLaplacian(colour);
  ASSERT_EQ(Run({input_, Path("edges.png"), "edges"}).status, 0);
  const TBitmap edges = LoadPictureFile(Path("edges.png"));
  EXPECT_EQ(edges.PixelFormat(), TPixelFormat::pf24bit) << "edges per channel";
  EXPECT_EQ(PixelBytes(edges), PixelBytes(colour));

  // A later grey step still starts again from the input picture.
  ASSERT_EQ(Run({input_, Path("grey.png"), "edges", "gray"}).status, 0);
  EXPECT_EQ(PixelBytes(LoadPictureFile(Path("grey.png"))), kChainGrey);

  ASSERT_EQ(Run({input_, Path("binary.png"), "binarize=128"}).status, 0);
  QImage written;
  ASSERT_TRUE(QImageReader(Path("binary.png")).read(&written));
  EXPECT_EQ(written.pixel(5, 0), qRgb(255, 0, 0));
  EXPECT_EQ(written.pixel(2, 1), qRgb(255, 255, 0));
  EXPECT_EQ(written.pixel(1, 2), qRgb(0, 255, 0));
}

TEST_F(Tool, WithoutStepsThePictureIsConverted) {
  for (const char* name : {"copy.bmp", "copy.ppm", "copy.png", "copy.tif", "copy.jpg"}) {
    const QString output = Path(name);
    ASSERT_EQ(Run({input_, output, "--quality", "100"}).status, 0) << name;
    const TBitmap written = LoadPictureFile(output);
    EXPECT_EQ(QSize(written.Width(), written.Height()), QSize(6, 5));
    if (QByteArray(name).endsWith(".jpg"))
      continue;                                                // colours blur across so few pixels
    const std::uint8_t* yellow = written.ScanLine(1) + 3 * 2;  // blue, green, red
    EXPECT_EQ(yellow[0], 0) << name;
    EXPECT_EQ(yellow[2], 255) << name;
  }
}

TEST_F(Tool, ReadsStandardInputAndWritesStandardOutput) {
  QFile file(input_);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const Outcome outcome = Run({"-", "-", "gray", "--format", "pgm"}, file.readAll());
  ASSERT_EQ(outcome.status, 0) << outcome.err.toStdString();
  EXPECT_TRUE(outcome.out.startsWith("P5\n6 5\n255\n"));
  const std::vector<std::uint8_t> greys(outcome.out.end() - 30, outcome.out.end());
  EXPECT_EQ(greys, kChainGrey);
}

TEST_F(Tool, TimePrintsEachStageWithItsMilliseconds) {
  const Outcome outcome = Run({input_, Path("t.png"), "gray", "--time", "binarize=mean", "edges"});
  ASSERT_EQ(outcome.status, 0);
  for (const char* stage : {"load", "gray", "binarize=mean T=[0-9]+", "edges", "save"})
    EXPECT_TRUE(outcome.err.contains(QRegularExpression(
        QStringLiteral("^%1 [0-9.]+ ms$").arg(stage), QRegularExpression::MultilineOption)))
        << stage << ": " << outcome.err.toStdString();
}

TEST_F(Tool, HelpAndVersionGoToStandardOutput) {
  Outcome outcome = Run({"--help"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(outcome.out.startsWith("usage: ccdlab-cli"));
  for (const char* word : {"--format", "--quality", "--compression", "binarize=T", "Exit status"})
    EXPECT_TRUE(outcome.out.contains(word)) << word;
  // The formats --format takes, from the format table, and the threshold's range from its record.
  const QString formats =
      QString::fromUtf8(outcome.out).section("names none:\n", 1).section('\n', 0, 0);
  for (const PictureFormatInfo& format : PictureFormats())
    EXPECT_EQ(formats.contains(QRegularExpression(QString("\\b%1\\b").arg(format.name))),
              format.writable)
        << format.name << " in " << formats.toStdString();
  EXPECT_TRUE(outcome.out.contains("bytes below T (0 ... 255)"));
  EXPECT_TRUE(outcome.err.isEmpty());
  outcome = Run({"--version"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_TRUE(outcome.out.startsWith("ccdlab-cli 0."));
  EXPECT_TRUE(outcome.out.contains("GPL-3.0-or-later"));
}

TEST_F(Tool, MessagesFollowTheLocale) {
  const struct {
    const char* locale;
    const char* usage;
    const char* missing;
  } cases[] = {
      {"C.UTF-8", "usage: ccdlab-cli", "no such file"},
      {"en_GB.UTF-8", "usage: ccdlab-cli", "no such file"},
      {"zh_TW.UTF-8", "用法：ccdlab-cli", "找不到這個檔案"},
      {"zh_HK.UTF-8", "用法：ccdlab-cli", "找不到這個檔案"},
  };
  for (const auto& c : cases) {
    const Outcome help = Run({"--help"}, {}, QString::fromLatin1(c.locale));
    EXPECT_TRUE(QString::fromUtf8(help.out).startsWith(QString::fromUtf8(c.usage))) << c.locale;
    const Outcome missing =
        Run({Path("missing.png"), Path("out.png")}, {}, QString::fromLatin1(c.locale));
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains(QString::fromUtf8(c.missing)))
        << c.locale << ": " << missing.err.toStdString();
  }
}

TEST_F(Tool, FailuresWriteNothingAndSayWhyInOneLine) {
  const QString existing = Path("existing.png");
  QFile file(existing);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("keep me");
  file.close();
  QFile in(input_);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  QByteArray damaged = in.readAll();
  damaged[19] = static_cast<char>(damaged[19] ^ 1);  // the width, under the header's CRC
  QFile broken(Path("broken.png"));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write(damaged);
  broken.close();
  const QString pipe = Path("pipe.png");
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
  // Tall enough that writing has begun when the rows run out.
  QImage tall(300, 800, QImage::Format_RGB32);
  for (int y = 0; y < tall.height(); ++y)
    for (int x = 0; x < tall.width(); ++x)
      tall.setPixel(x, y, qRgb((x * y) % 251, (x + 3 * y) % 241, (x ^ y) & 255));
  QByteArray cut;
  {
    QBuffer buffer(&cut);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImageWriter(&buffer, "png").write(tall));
  }
  cut.chop(cut.size() / 4);
  QFile cutFile(Path("cut.png"));
  ASSERT_TRUE(cutFile.open(QIODevice::WriteOnly));
  cutFile.write(cut);
  cutFile.close();

  struct Case {
    const char* what;
    QStringList arguments;
    int status;
    QString says;  // part of the one line
  };
  const Case cases[] = {
      {"usage", {input_, existing, "blur"}, 2, {}},
      {"threshold out of range", {input_, existing, "binarize=300"}, 2, "a number from 0 to 255"},
      {"an argument shown as it is", {input_, existing, "binarize=%2"}, 2, "in binarize=%2: "},
      {"no such method", {input_, existing, "binarize=magic"}, 2, "otsu, percentile"},
      {"missing input", {Path("missing.png"), existing}, 1, "missing.png': no such file"},
      {"damaged input: our line, none of the library's",
       {Path("broken.png"), existing},
       1,
       "damaged or incomplete"},
      {"output folder missing", {input_, Path("no/such/dir/out.png")}, 1, "does not exist"},
      {"a pipe in the way", {input_, pipe}, 1, "not a regular file"},
      {"input cut short, found while the output was being written",
       {Path("cut.png"), existing, "gray"},
       1,
       "damaged or incomplete"},
      {"the same without steps", {Path("cut.png"), existing}, 1, "damaged or incomplete"},
      {"a colour picture for a binary step", {input_, existing, "watershed"}, 1, "black-and-white"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = Run(c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.what;
    if (c.status == 2) {
      EXPECT_TRUE(outcome.err.contains("usage: ccdlab-cli")) << c.what;
      EXPECT_TRUE(outcome.err.contains(c.says)) << c.what << ": " << outcome.err.toStdString();
    } else {
      EXPECT_EQ(outcome.err.count('\n'), 1) << c.what << ": " << outcome.err.toStdString();
      EXPECT_TRUE(outcome.err.contains(c.says)) << c.what << ": " << outcome.err.toStdString();
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "keep me") << c.what;
    file.close();
  }
  EXPECT_FALSE(QFile::exists(Path("no/such/dir/out.png")));
  struct stat status {};
  ASSERT_EQ(::stat(QFile::encodeName(pipe).constData(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST_F(Tool, AFullDiskIsCalledByItsName) {
  const Outcome outcome =
      Run({input_, "-", "--format", "bmp"}, {}, QStringLiteral("C.UTF-8"), "/dev/full");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(outcome.err.contains("the disk is full")) << outcome.err.toStdString();
  EXPECT_EQ(outcome.err.count('\n'), 1);
}

TEST_F(Tool, StandardInputIsReadNoFurtherThanItsPictureNeeds) {
  // The input never ends: the picture must be known from what has come.
  const struct {
    const char* what;
    QByteArray in;
    int status;
    const char* says;
  } cases[] = {
      {"a PGM: its header tells its length", "P5 4 2 255\n01234567 and more, never ending", 0, ""},
      {"not a picture: refused from its first bytes", QByteArray(100, '\0'), 1,
       "cannot read standard input: not a picture format"},
  };
  Options open;
  open.endInput = false;
  for (const auto& c : cases) {
    const Outcome outcome = Run({"-", Path("out.pgm")}, c.in, open);
    EXPECT_EQ(outcome.status, c.status) << c.what << ": " << outcome.err.toStdString();
    EXPECT_TRUE(outcome.err.contains(c.says)) << c.what << ": " << outcome.err.toStdString();
  }
  QFile written(Path("out.pgm"));
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_TRUE(written.readAll().endsWith("01234567"));
}

// A name's bytes as a word of the shell, which hands them over as they are.
QString ShellWord(const QByteArray& name) {
  QString octal;
  for (const char byte : name)
    octal += QStringLiteral("\\%1").arg(static_cast<unsigned char>(byte), 3, 8, QLatin1Char('0'));
  return QStringLiteral("\"$(printf '%1')\"").arg(octal);
}

TEST_F(Tool, NamesThatAreNotUtf8AreUsedByteForByteAndShownReadably) {
  const QByteArray folder = QFile::encodeName(dir_.path()) + '/';
  const QByteArray input("\xff\xfe.png");
  ASSERT_EQ(::link(QFile::encodeName(input_).constData(), folder + input), 0);
  const struct {
    QByteArray input, output;
    int status;
    const char* says;
  } cases[] = {
      {input, "o\xff.png", 0, ""},
      {"missing\xfe.png", "o.png", 1, "cannot read 'missing\\xfe.png': no such file"},
      {input, "o\xff.gif", 2, "the extension of o\\xff.gif names no format"},
  };
  for (const auto& c : cases) {
    QProcess shell;
    Start(shell, QStringLiteral("/bin/sh"),
          {"-c",
           QStringLiteral("cd \"$1\" && exec \"$0\" %1 %2")
               .arg(ShellWord(c.input), ShellWord(c.output)),
           CCDLAB_CLI, dir_.path()});
    shell.closeWriteChannel();
    const Outcome outcome = Finish(shell);
    EXPECT_EQ(outcome.status, c.status) << c.says << outcome.err.toStdString();
    EXPECT_TRUE(outcome.err.contains(c.says)) << outcome.err.toStdString();
  }
  struct stat status {};
  EXPECT_EQ(::stat(folder + "o\xff.png", &status), 0) << "written under its own name";
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList{"輸入 picture.png"})
      << "nothing else written";
  for (const char* name : {"\xff\xfe.png", "o\xff.png"})
    ::unlink(folder + name);  // the toolkit's temporary folder cannot see them
}

// The tool is ended while it writes a picture whose rows are still coming in on standard input.
TEST_F(Tool, ASignalEndingASaveRemovesItsTemporaryFile) {
  QImage noise(64, 2048, QImage::Format_Grayscale8);
  quint32 state = 1;
  for (int y = 0; y < noise.height(); ++y)
    for (int x = 0; x < noise.width(); ++x)
      noise.scanLine(y)[x] = static_cast<uchar>((state = state * 1103515245 + 12345) >> 24);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(QImageWriter(&buffer, "png").write(noise));
  // Whatever the tests were started with (a shell starting them in the background ignores some):
  // the signals end it.
  Options ending;
  ending.inChild = [] {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      std::signal(signal, SIG_DFL);
      sigaddset(&set, signal);
    }
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  };
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    QTemporaryDir dir;
    QProcess tool;
    Start(tool, CCDLAB_CLI, {"-", dir.filePath("out.png")}, ending);
    ASSERT_TRUE(tool.waitForStarted());
    tool.write(png.left(png.size() / 2));
    const QDeadlineTimer deadline(60000);
    QStringList files;
    while (files.isEmpty() && !tool.waitForFinished(10) && !deadline.hasExpired())
      files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(files.size(), 1) << "the temporary file, while the save waits for rows";
    ::kill(static_cast<pid_t>(tool.processId()), signal);
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
  }
}

}  // namespace
