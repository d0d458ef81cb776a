// SPDX-License-Identifier: GPL-3.0-or-later
// Running out of memory in a command: the process's address space is limited to a little more
// than it uses, and each command that needs a large block shows a message; the pictures stay as
// they were and the program goes on. A test program of its own, since the limit holds for the
// whole process.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>

#include "FormsFixture.h"
#include "Grayscale.h"
#include "Modal.h"
#include "Sanitizers.h"

namespace {

// Bytes of address space the process has mapped.
rlim_t AddressSpaceInUse() {
  QFile statm("/proc/self/statm");
  if (!statm.open(QIODevice::ReadOnly))
    return 0;
  return static_cast<rlim_t>(statm.readAll().split(' ').value(0).toLongLong()) *
         static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
}

// While it lives, the process may map only `headroom` bytes more than it has mapped now.
class AddressSpaceLimit {
 public:
  explicit AddressSpaceLimit(rlim_t headroom) {
    ::getrlimit(RLIMIT_AS, &saved_);
    rlimit limited = saved_;
    limited.rlim_cur = AddressSpaceInUse() + headroom;
    set_ = ::setrlimit(RLIMIT_AS, &limited) == 0;
  }
  ~AddressSpaceLimit() { ::setrlimit(RLIMIT_AS, &saved_); }
  AddressSpaceLimit(const AddressSpaceLimit&) = delete;
  AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;
  bool Set() const { return set_; }

 private:
  rlimit saved_{};
  bool set_ = false;
};

constexpr rlim_t kHeadroom = 64 * 1024 * 1024;

// 12000 x 8000 at 24 bits: 288 MB, far more than the headroom.
constexpr int kWidth = 12000;
constexpr int kHeight = 8000;

TBitmap Large() {
  TBitmap bitmap(kWidth, kHeight, TPixelFormat::pf24bit);
  for (int y = 0; y < kHeight; y += 100)
    std::memset(bitmap.ScanLine(y), 200, bitmap.RowBytes());
  return bitmap;
}

TBitmap Small() {
  return Picture(2, 1, TPixelFormat::pf24bit, {10, 20, 30, 40, 50, 60});
}

class OutOfMemory : public FormsTest {
 protected:
  void SetUp() override {
#ifdef CCDLAB_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer maps its shadow memory into the address space";
#endif
    FormsTest::SetUp();
  }
};

TEST_F(OutOfMemory, ACommandThatRunsOutOfMemorySaysSoAndTheProgramGoesOn) {
  QTemporaryDir dir;
  // A large picture file that compresses to little: one colour.
  const QString largeFile = dir.filePath("large.png");
  {
    QImage large(kWidth, kHeight, QImage::Format_RGB32);
    large.fill(qRgb(1, 2, 3));
    ASSERT_TRUE(QImageWriter(largeFile, "png").write(large));
  }

  struct Case {
    const char* name;
    std::function<void()> prepare;  // before the limit
    std::function<void()> run;      // under the limit: a command that needs a large block
    const char* says;
  };
  const Case cases[] = {
      {"grey levels of a large picture", [] {},
       [] { QTest::mouseClick(Form1->Button4, Qt::LeftButton); }, "記憶體不足"},
      {"binarize, copying a large picture into the processed image", [] {},
       [] { QTest::mouseClick(Form1->Button5, Qt::LeftButton); }, "記憶體不足"},
      {"binarize, copying the processed image into the preview",
       [] {
         TBitmap processed = Large();
         Processed()->Assign(std::move(processed));
       },
       [] { QTest::mouseClick(Form1->Button5, Qt::LeftButton); }, "記憶體不足"},
      {"grab of a large picture on the clipboard",
       [] {
         QImage large(kWidth, kHeight, QImage::Format_RGB32);
         large.fill(qRgb(4, 5, 6));
         QApplication::clipboard()->setImage(large);
       },
       [] { QTest::mouseClick(Form1->Button2, Qt::LeftButton); }, "記憶體不足"},
      // As a dropped file is opened: from the message loop.
      {"opening a large picture file", [] {},
       [&] { QTimer::singleShot(0, Form1, [&] { Form1->OpenPictureFile(largeFile); }); },
       "記憶體不足"},
  };
  for (const Case& c : cases) {
    Main()->Assign(Large());
    Processed()->Assign(TBitmap());
    c.prepare();
    const std::vector<std::uint8_t> main = PixelBytes(*Main());
    const std::vector<std::uint8_t> processed = PixelBytes(*Processed());
    QString text;
    {
      const AddressSpaceLimit limit(kHeadroom);
      ASSERT_TRUE(limit.Set()) << c.name;
      const MessageBoxCatcher box;
      try {
        c.run();
      } catch (const std::exception& e) {
        ADD_FAILURE() << c.name << ": escaped the message loop: " << e.what();
      }
      EXPECT_TRUE(QTest::qWaitFor([&] { return box.Seen(); }, 10000)) << c.name;
      text = box.Text();
    }
    EXPECT_TRUE(text.contains(QString::fromUtf8(c.says))) << c.name << ": " << text.toStdString();
    EXPECT_EQ(PixelBytes(*Main()), main) << c.name;
    EXPECT_EQ(PixelBytes(*Processed()), processed) << c.name;
    QApplication::clipboard()->clear();

    // The program goes on: the next command works.
    const TBitmap small = Small();
    Form1->Image1->Picture()->Assign(&small);
    QTest::mouseClick(Form1->Button4, Qt::LeftButton);
    EXPECT_EQ(PixelBytes(*Processed()),
              (std::vector<std::uint8_t>{GreyLevel(30, 20, 10), GreyLevel(60, 50, 40)}))
        << c.name;
  }
}

}  // namespace
