// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "CommandLine.h"

namespace {

TEST(ParseMeasuring, Forms) {
  const struct {
    QStringList arguments;
    QString output;
    int steps;
    QStringList inputs;
    bool fileColumn;
  } cases[] = {
      {{"in.png", "--measure", "-"}, "", 0, {"in.png"}, false},
      {{"in.png", "gray", "binarize=otsu", "--measure=t.csv"}, "", 2, {"in.png"}, false},
      {{"in.png", "out.png", "gray", "--measure", "t.csv"}, "out.png", 1, {"in.png"}, false},
      {{"--measure", "t.csv", "--steps", "gray binarize=otsu", "a.png", "b.png"},
       "",
       2,
       {"a.png", "b.png"},
       true},
  };
  for (const auto& c : cases) {
    const Request request = ParseArguments(c.arguments);
    ASSERT_EQ(request.kind, Request::Kind::Run) << c.arguments.join(' ').toStdString();
    EXPECT_EQ(request.plan.output, c.output);
    EXPECT_EQ(static_cast<int>(request.plan.steps.size()), c.steps);
    EXPECT_EQ(request.plan.measure.inputs, c.inputs);
    EXPECT_EQ(request.plan.measure.fileColumn, c.fileColumn);
  }
  const TMeasureOptions options =
      ParseArguments({"in.png", "--measure", "-", "--objects", "white", "--min-area", "2",
                      "--max-area=5.5", "--exclude-edges", "--include-holes", "--scale", "0.65um"})
          .plan.measure.options;
  EXPECT_TRUE(options.whiteObjects && options.excludeEdges && options.includeHoles);
  EXPECT_EQ(options.minArea, 2);
  EXPECT_EQ(options.maxArea, 5.5);
  EXPECT_EQ(options.scale, 0.65);
  EXPECT_EQ(options.unit, "µm");
}

TEST(ParseMeasuring, UsageErrors) {
  const QStringList cases[] = {
      {"--measure", "-"},
      {"in.png", "--measure", "-", "--objects", "grey"},
      {"in.png", "--measure", "-", "--scale", "0um"},
      {"in.png", "--measure", "-", "--min-area", "-1"},
      {"in.png", "--measure", "-", "--min-area", "5", "--max-area", "4"},
      {"in.png", "--summary", "s.csv"},
      {"in.png", "--measure", "-", "--summary", "-"},
      {"in.png", "-", "--format", "png", "--measure", "-"},
      {"in.png", "binarize=otsuu", "--measure", "-"},
      {"--measure", "-", "--steps", "blur", "a.png"},
      {"--measure", "a.png", "--steps", "gray", "a.png", "b.png"},  // would be lost
      {"in.png", "out.png", "--measure", "-", "--summary", "./out.png"},
  };
  for (const QStringList& arguments : cases)
    EXPECT_EQ(ParseArguments(arguments).kind, Request::Kind::UsageError)
        << arguments.join(' ').toStdString();
}

class MeasureTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    // Two dots on the top edge and one inside; and a grey picture.
    Write("dots.png", {"#.#", "...", ".#.", "..."});
    Write("grey.png", {"#x."});
  }
  QString Path(const QString& name) const { return dir_.filePath(name); }
  void Write(const QString& name, const std::vector<const char*>& rows) {
    QImage image(static_cast<int>(std::strlen(rows[0])), static_cast<int>(rows.size()),
                 QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        image.scanLine(y)[x] = rows[y][x] == '#' ? 0 : rows[y][x] == '.' ? 255 : 128;
    ASSERT_TRUE(image.save(Path(name)));
  }
  struct Outcome {
    int status;
    QByteArray out;
    QString err;
  };
  Outcome Run(const QStringList& arguments, const char* locale = "C.UTF-8") const {
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", locale);
    tool.setProcessEnvironment(environment);
    tool.setWorkingDirectory(dir_.path());
    tool.start(CCDLAB_CLI, arguments);
    tool.closeWriteChannel();
    EXPECT_TRUE(tool.waitForFinished(60000));
    return {tool.exitCode(), tool.readAllStandardOutput(),
            QString::fromUtf8(tool.readAllStandardError())};
  }
  QByteArray Read(const QString& name) const {
    QFile file(Path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
  }

  QTemporaryDir dir_;
};

TEST_F(MeasureTool, OnePictureTableAndSummary) {
  const Outcome outcome =
      Run({"dots.png", "--measure", "-", "--summary", "s.csv", "--exclude-edges"});
  EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
  EXPECT_EQ(outcome.out,
            "number,area,x,y,perimeter,bx,by,width,height,circularity\n"
            "1,1,1.500,2.500,2.828,1,2,1,1,1.000\n");
  EXPECT_EQ(Read("s.csv"),
            "count,total_area,average_size,area_percent\n"
            "1,1,1,8.333\n");
}

TEST_F(MeasureTool, ManyPicturesInOrderAFailureNamedTheOthersMeasured) {
  const Outcome outcome = Run({"--measure", "all.csv", "--summary", "sum.csv", "--steps", "",
                               "dots.png", "missing.png", "grey.png", "dots.png"});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(outcome.err.contains("'missing.png': no such file")) << outcome.err.toStdString();
  EXPECT_TRUE(outcome.err.contains("'grey.png': it is not a black-and-white picture"));
  const QByteArray rows =
      "dots.png,1,1,0.500,0.500,2.828,0,0,1,1,1.000\n"
      "dots.png,2,1,2.500,0.500,2.828,2,0,1,1,1.000\n"
      "dots.png,3,1,1.500,2.500,2.828,1,2,1,1,1.000\n";
  EXPECT_EQ(Read("all.csv"),
            "file,number,area,x,y,perimeter,bx,by,width,height,circularity\n" + rows + rows);
  EXPECT_EQ(Read("sum.csv"),
            "file,count,total_area,average_size,area_percent\n"
            "dots.png,3,3,1,25\n"
            "dots.png,3,3,1,25\n");
  const Outcome chinese = Run({"grey.png", "--measure", "-"}, "zh_TW.UTF-8");
  EXPECT_EQ(chinese.status, 1);
  EXPECT_TRUE(chinese.err.contains("需要黑白影像：請先二值化")) << chinese.err.toStdString();
}

}  // namespace
