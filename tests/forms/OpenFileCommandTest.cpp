// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLineEdit>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <string>

#include "FormsFixture.h"
#include "Modal.h"

namespace {

class OpenFileCommand : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(qRgb(10, 20, 30));
    file_ = dir_.filePath(QStringLiteral("開啟 test.png"));
    ASSERT_TRUE(QImageWriter(file_).write(picture));
  }

  // Types "plain.png" into the dialog's name field key by key, through the window system's way in
  // as typing does, and presses Enter with the completion list up.
  void TypeTheName(QFileDialog* dialog) const {
    dialog->setDirectory(dir_.path());
    ASSERT_TRUE(TakeTheKeyboard(dialog)) << "the dialog never got the keyboard";
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return qobject_cast<QLineEdit*>(QApplication::focusWidget()) != nullptr; }));
    QTest::keyClick(dialog->windowHandle(), Qt::Key_A, Qt::ControlModifier);
    for (const char key : std::string("plain.png"))
      QTest::keyClick(dialog->windowHandle(), key);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }))
        << "no completion list";
    QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
  }

  // Clicks the open-file button and answers its dialog with `file`, or cancels it when empty.
  // `afterwards` is set up while the dialog is still up.
  static void OpenWith(const QString& file, std::function<void()> afterwards = {}) {
    OnNextModal([file, afterwards](QWidget* modal) {
      if (afterwards)
        afterwards();
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      if (file.isEmpty()) {
        dialog->reject();
        return;
      }
      dialog->selectFile(file);
      QMetaObject::invokeMethod(dialog, "accept");
    });
    QTest::mouseClick(Form1->Button7, Qt::LeftButton);
  }

  QTemporaryDir dir_;
  QString file_;
};

TEST_F(OpenFileCommand, ConfirmedFileReplacesTheMainImageOnly) {
  const TBitmap processed = Picture(1, 1, TPixelFormat::pf8bit, {42});
  Form1->Image2->Picture()->Assign(&processed);
  Form1->Image1->SetAutoSize(true);
  OpenWith(file_);
  ASSERT_EQ(Main()->Width(), 300);
  EXPECT_EQ(Main()->Height(), 200);
  EXPECT_EQ(Main()->PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(PixelBytes(*Main())[0], 30) << "blue first";
  EXPECT_FALSE(Form1->Image1->AutoSize());
  EXPECT_EQ(Form1->Image1->size(), QSize(249, 185)) << "the view keeps its stored size";
  EXPECT_EQ(PixelBytes(*Processed()), std::vector<std::uint8_t>{42});
}

TEST_F(OpenFileCommand, CancelChangesNothing) {
  const TBitmap main = Picture(2, 1, TPixelFormat::pf8bit, {1, 2});
  Form1->Image1->Picture()->Assign(&main);
  OpenWith(QString());
  EXPECT_EQ(PixelBytes(*Main()), (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(OpenFileCommand, ADamagedFileIsReportedAndTheMainImageKept) {
  const TBitmap main = Picture(2, 1, TPixelFormat::pf8bit, {1, 2});
  Form1->Image1->Picture()->Assign(&main);
  QFile damaged(dir_.filePath("damaged.png"));
  ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
  QFile whole(file_);
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
  damaged.write(whole.readAll().left(100));
  damaged.close();
  std::optional<MessageBoxCatcher> box;
  OpenWith(damaged.fileName(), [&] { box.emplace(); });
  ASSERT_TRUE(box.has_value());
  EXPECT_TRUE(QTest::qWaitFor([&] { return box->Seen(); }));
  EXPECT_TRUE(box->Text().contains("damaged.png")) << box->Text().toStdString();
  EXPECT_EQ(PixelBytes(*Main()), (std::vector<std::uint8_t>{1, 2}));
}

// Typing a name and pressing Enter, with the name's completion list up, closes the dialog; the
// next click on the window must run its command, each time the kept dialog is used.
TEST_F(OpenFileCommand, EnterInTheNameFieldLeavesTheNextClickToTheWindow) {
  if (QGuiApplication::platformName() == QLatin1String("wayland"))
    GTEST_SKIP() << "typing needs a keyboard, which a headless compositor has none of";
  ASSERT_TRUE(QFile::copy(file_, dir_.filePath("plain.png")));
  for (int use = 1; use <= 2; ++use) {
    OnNextModal([this](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      TypeTheName(dialog);
      // A failed step leaves the dialog up, and its own loop would hold the test to its timeout.
      if (::testing::Test::HasFatalFailure())
        dialog->reject();
    });
    QTest::mouseClick(Form1->Button7, Qt::LeftButton);
    ASSERT_EQ(Main()->Width(), 300) << "use " << use;
    Form1->Image2->Picture()->Assign(nullptr);
    const QPoint grey = Form1->Button4->mapTo(Form1, Form1->Button4->rect().center());
    QTest::mouseClick(Form1->windowHandle(), Qt::LeftButton, {}, grey);
    EXPECT_EQ(Processed()->Width(), 300) << "use " << use << ": the click was lost";
  }
}

}  // namespace
