// SPDX-License-Identifier: GPL-3.0-or-later
#include "OpenPictureDialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QTest>
#include <functional>

#include "Modal.h"
#include "PictureSamples.h"

namespace {

class OpenPicture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(qRgb(200, 30, 30));
    photo_ = WriteFile(dir_.filePath(QStringLiteral("照片 一.png")), Encode(picture, "png"));
    QImage grey(50, 40, QImage::Format_Grayscale8);
    grey.fill(90);
    grey_ = WriteFile(dir_.filePath(QStringLiteral("grey.bmp")), Encode(grey, "bmp"));
    const QByteArray png = Encode(picture, "png");
    broken_ = WriteFile(dir_.filePath(QStringLiteral("broken.png")), png.left(png.size() / 2));
    pipe_ = dir_.filePath(QStringLiteral("pipe.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe_).constData(), 0644), 0);
  }

  // Runs the dialog, handing it to `drive` once it is up; the result of Execute.
  bool Run(TOpenPictureDialog& dialog, std::function<void(QFileDialog*)> drive) {
    bool driven = false;
    OnNextModal([&driven, drive = std::move(drive)](QWidget* modal) {
      auto* files = qobject_cast<QFileDialog*>(modal);
      driven = true;
      if (files == nullptr) {
        ADD_FAILURE() << "the modal window is no file dialog";
        modal->close();
        return;
      }
      drive(files);
    });
    const bool confirmed = dialog.Execute();
    EXPECT_TRUE(driven);
    return confirmed;
  }

  static QLabel* Preview(QFileDialog* dialog) {
    return dialog->findChild<QLabel*>(QStringLiteral("PreviewImage"));
  }
  static QString Info(QFileDialog* dialog) {
    auto* info = dialog->findChild<QLabel*>(QStringLiteral("PreviewInfo"));
    return info ? info->text() : QString();
  }

  // Waits until the file shows in the dialog's list; its place there.
  static QPoint Listed(QFileDialog* dialog, const QString& path, QListView** view) {
    dialog->setDirectory(QFileInfo(path).absolutePath());
    auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
    *view = list;
    if (list == nullptr)
      return {};
    QRect rect;
    const bool shown = QTest::qWaitFor(
        [&] {
          const QModelIndex first = list->model()->index(0, 0, list->rootIndex());
          const QModelIndexList hits = list->model()->match(
              first, Qt::DisplayRole, QFileInfo(path).fileName(), 1, Qt::MatchExactly);
          rect = hits.isEmpty() ? QRect() : list->visualRect(hits.first());
          return rect.isValid();
        },
        5000);
    return shown ? rect.center() : QPoint(-1, -1);
  }

  // Clicks the file as a user would and waits until the preview describes it.
  static bool Select(QFileDialog* dialog, const QString& path) {
    QListView* list = nullptr;
    const QPoint at = Listed(dialog, path, &list);
    if (list == nullptr || at.x() < 0)
      return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QWidget* pane = dialog->findChild<QWidget*>(QStringLiteral("PicturePreview"));
    return pane != nullptr &&
           QTest::qWaitFor([&] { return pane->property("shownFile").toString() == path; }, 5000);
  }

  QTemporaryDir dir_;
  QString photo_, grey_, broken_, pipe_;
};

TEST_F(OpenPicture, ShowsAPreviewWithSizeAndDepthAndReturnsTheChosenFile) {
  TOpenPictureDialog dialog;
  QString shownInfo;
  QSize shownSize;
  const bool confirmed = Run(dialog, [&](QFileDialog* files) {
    EXPECT_TRUE(files->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_TRUE(files->nameFilters().first().startsWith(QStringLiteral("所有圖檔")));
    EXPECT_TRUE(Select(files, photo_));
    shownInfo = Info(files);
    if (QLabel* preview = Preview(files))
      shownSize = preview->pixmap().size();
    static_cast<QDialog*>(files)->accept();  // as the Open button does
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(dialog.FileName, photo_);
  EXPECT_EQ(shownInfo, QStringLiteral("320 × 240 像素，24 位元"));
  EXPECT_EQ(shownSize, QSize(200, 150));  // scaled to fit, proportions kept
}

TEST_F(OpenPicture, PreviewNamesWhatIsWrongWithoutBlockingOnAPipe) {
  TOpenPictureDialog dialog;
  QStringList infos;
  Run(dialog, [&](QFileDialog* files) {
    for (const QString& path : {grey_, broken_}) {
      EXPECT_TRUE(Select(files, path)) << path.toStdString();
      infos << Info(files);
    }
    // The list leaves out named pipes; a dialog set to show them hands them over like this.
    emit files->currentChanged(pipe_);
    infos << Info(files);
    files->reject();
  });
  ASSERT_EQ(infos.size(), 3);
  EXPECT_EQ(infos[0], QStringLiteral("50 × 40 像素，8 位元"));
  EXPECT_TRUE(infos[1].contains(QStringLiteral("損毀"))) << infos[1].toStdString();
  EXPECT_TRUE(infos[2].contains(QStringLiteral("不是一般檔案"))) << infos[2].toStdString();
}

TEST_F(OpenPicture, CancelReturnsFalseAndKeepsTheFileNameAndTheFolder) {
  TOpenPictureDialog dialog;
  dialog.FileName = QStringLiteral("earlier.png");
  const bool confirmed = Run(dialog, [&](QFileDialog* files) {
    files->setDirectory(dir_.path());
    files->reject();
  });
  EXPECT_FALSE(confirmed);
  EXPECT_EQ(dialog.FileName, QStringLiteral("earlier.png"));
  QString folderNextTime;
  Run(dialog, [&](QFileDialog* files) {
    folderNextTime = files->directory().absolutePath();
    files->reject();
  });
  EXPECT_EQ(folderNextTime, QDir(dir_.path()).absolutePath());
}

TEST_F(OpenPicture, DoubleClickOnAFileOpensIt) {
  TOpenPictureDialog dialog;
  const bool confirmed = Run(dialog, [&](QFileDialog* files) {
    QListView* list = nullptr;
    const QPoint at = Listed(files, grey_, &list);
    if (list == nullptr || at.x() < 0) {
      ADD_FAILURE() << "the file never showed in the list";
      files->reject();
      return;
    }
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    if (!QTest::qWaitFor([&] { return !files->isVisible(); }, 10000)) {
      ADD_FAILURE() << "double-click did not open the file";
      files->reject();
    }
  });
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(dialog.FileName, grey_);
}

}  // namespace
