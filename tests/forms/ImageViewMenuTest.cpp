// SPDX-License-Identifier: GPL-3.0-or-later
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <optional>

#include "ChainPicture.h"
#include "Clipboard.h"
#include "FormsFixture.h"
#include "ImageViewMenu.h"
#include "Modal.h"
#include "PictureFile.h"
#include "QImageBridge.h"

namespace {

class ImageViewMenuTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    ASSERT_TRUE(dir_.isValid());
  }

  static TImageViewMenu* MenuOf(TImage* view) { return view->findChild<TImageViewMenu*>(); }

  // An 8-bit picture with a short palette: the depth most easily lost by a writer.
  static TBitmap PalettePicture() {
    TBitmap bitmap =
        Picture(5, 3, TPixelFormat::pf8bit, {0, 1, 2, 1, 0, 2, 2, 1, 0, 0, 1, 1, 2, 2, 0});
    bitmap.SetPalette(TPalette({{200, 10, 20, 0}, {0, 99, 0, 0}, {7, 8, 9, 0}}));
    return bitmap;
  }

  // Opens "另存新檔…" on the processed image and answers the dialog with `name` under `filter`,
  // or cancels it when `name` is empty.
  static void SaveThroughDialog(const QString& name, const QString& filter = {},
                                std::function<void()> afterwards = {}) {
    OnNextModal([name, filter, afterwards](QWidget* modal) {
      if (afterwards)
        afterwards();
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
      if (name.isEmpty()) {
        dialog->reject();
        return;
      }
      if (!filter.isEmpty()) {
        dialog->selectNameFilter(filter);
        emit dialog->filterSelected(filter);
      }
      // As typed: selectFile() leaves a focused name field alone.
      auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(nameField, nullptr);
      nameField->setText(name);
      QMetaObject::invokeMethod(dialog, "accept");
    });
    MenuOf(Form1->Image2)->SaveAs();
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }
  QStringList Files() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden); }

  QTemporaryDir dir_;
};

TEST_F(ImageViewMenuTest, BothViewsOfferSaveAndCopyOnlyWhileTheyHoldAPicture) {
  for (TImage* view : {Form1->Image1, Form1->Image2}) {
    SCOPED_TRACE(view->objectName().toStdString());
    TImageViewMenu* menu = MenuOf(view);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(view->contextMenuPolicy(), Qt::CustomContextMenu);
    QList<QAction*> actions = menu->Menu()->actions();
    // The processed image's own: ImageJ's commands in their submenus, undo, redo, the command
    // that makes it, and measuring.
    ASSERT_EQ(actions.size(), view == Form1->Image2 ? 13 : 4);
    if (view == Form1->Image2) {
      QStringList texts;
      for (const QAction* action : actions.mid(4))
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
      EXPECT_EQ(texts, QStringList({"-", "處理", "二元", "-", "復原", "取消復原", "複製為指令", "-",
                                    "量測…"}));
      EXPECT_NE(actions[5]->menu(), nullptr);
      EXPECT_NE(actions[6]->menu(), nullptr);
    }
    EXPECT_EQ(actions[0]->text(), QStringLiteral("檢視…"));
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), QStringLiteral("另存新檔…"));
    EXPECT_EQ(actions[3]->text(), QStringLiteral("複製"));
    // The viewer of an empty view waits for a picture.
    EXPECT_TRUE(menu->ViewerAction()->isEnabled());
    EXPECT_FALSE(menu->SaveAsAction()->isEnabled());
    EXPECT_FALSE(menu->CopyAction()->isEnabled());

    view->Picture()->Bitmap()->Assign(PalettePicture());
    menu->Menu();
    EXPECT_TRUE(menu->SaveAsAction()->isEnabled());
    EXPECT_TRUE(menu->CopyAction()->isEnabled());
  }
}

TEST_F(ImageViewMenuTest, ARightClickPopsTheMenuUpWithoutChangingTheLayout) {
  QList<QRect> before;
  for (QWidget* child : Form1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    before << child->geometry();

  QMenu* shown = nullptr;
  QTimer::singleShot(0, [&shown] {
    shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (shown != nullptr)
      shown->close();
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                          Form1->Image1->mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(Form1->Image1, &event);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->actions().size(), 4);

  QList<QRect> after;
  for (QWidget* child : Form1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    after << child->geometry();
  EXPECT_EQ(after, before);
}

TEST_F(ImageViewMenuTest, SavingThroughTheDialogWritesTheChosenFormat) {
  struct Case {
    const char* typed;
    const char* filter;
    const char* written;
  };
  const Case cases[] = {
      {"a", "PNG", "a.png"},     {"b", "BMP", "b.bmp"},
      {"c.bmp", "PNG", "c.bmp"}, {"d", "JPEG", "d.jpg"},
      {"e", "TIFF", "e.tif"},    {"相片 2024.12.07", "PNG", "相片 2024.12.07.png"},
  };
  Processed()->Assign(PalettePicture());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    const QStringList filters = SavePictureFilters().filter(QLatin1String(c.filter));
    ASSERT_EQ(filters.size(), 1);
    SaveThroughDialog(Path(QString::fromUtf8(c.typed)), filters.first());
    const QString written = Path(QString::fromUtf8(c.written));
    ASSERT_TRUE(QFileInfo::exists(written)) << Files().join(' ').toStdString();
    const TBitmap loaded = LoadPictureFile(written);
    EXPECT_EQ(loaded.Width(), 5);
    EXPECT_EQ(loaded.Height(), 3);
    if (!written.endsWith(QLatin1String(".jpg"))) {
      EXPECT_EQ(PixelBytes(loaded), PixelBytes(PalettePicture()));
      ASSERT_NE(loaded.Palette(), nullptr);
      EXPECT_EQ(loaded.Palette()->Entries()[2], (TPaletteEntry{7, 8, 9, 0}));
    }
  }
  EXPECT_EQ(Files().size(), std::size(cases));
}

TEST_F(ImageViewMenuTest, CancellingTheDialogWritesNothing) {
  Processed()->Assign(PalettePicture());
  SaveThroughDialog({});
  EXPECT_TRUE(Files().isEmpty());
}

TEST_F(ImageViewMenuTest, AFailedSaveSaysWhyLeavesNoFileAndKeepsThePicture) {
  Processed()->Assign(PalettePicture());
  const QString target = Path(QStringLiteral("missing folder/out.png"));
  std::optional<MessageBoxCatcher> message;
  SaveThroughDialog(target, {}, [&message] { message.emplace(); });
  ASSERT_TRUE(message && message->Seen());
  EXPECT_TRUE(message->Text().contains(QStringLiteral("out.png"))) << message->Text().toStdString();
  EXPECT_FALSE(QFileInfo::exists(target));
  EXPECT_TRUE(Files().isEmpty());
  EXPECT_EQ(PixelBytes(*Processed()), PixelBytes(PalettePicture()));
}

TEST_F(ImageViewMenuTest, CopyPutsThePictureOnTheSystemClipboard) {
  struct Case {
    const char* name;
    TBitmap (*make)();
  };
  const Case cases[] = {
      {"8 bits with a palette", &PalettePicture},
      {"24 bits",
       [] {
         return Picture(2, 2, TPixelFormat::pf24bit, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QGuiApplication::clipboard()->clear();
    Main()->Assign(c.make());
    MenuOf(Form1->Image1)->Copy();
    const QImage copied = QImageFromBitmap(Clipboard()->Picture());
    ASSERT_FALSE(copied.isNull());
    const TBitmap expected = c.make();
    ASSERT_EQ(copied.size(), QSize(expected.Width(), expected.Height()));
    for (int y = 0; y < expected.Height(); ++y) {
      for (int x = 0; x < expected.Width(); ++x) {
        QRgb want;
        if (expected.PixelFormat() == TPixelFormat::pf8bit) {
          TPaletteEntry e;
          ASSERT_TRUE(expected.GetPaletteEntry(expected.ScanLine(y)[x], e));
          want = qRgb(e.peRed, e.peGreen, e.peBlue);
        } else {
          const std::uint8_t* p = expected.ScanLine(y) + 3 * x;
          want = qRgb(p[2], p[1], p[0]);
        }
        EXPECT_EQ(copied.pixel(x, y) & 0xFFFFFF, want & 0xFFFFFF) << x << "," << y;
      }
    }
  }
}

// "複製為指令" puts the workbench's command line on the clipboard while it has one (its tests run
// the line through the tool).
TEST_F(ImageViewMenuTest, CopyAsCommandPutsTheLineThatMakesTheProcessedImageOnTheClipboard) {
  const QString file = dir_.filePath(QStringLiteral("it's a 鏈.png"));
  ASSERT_TRUE(QImageWriter(file).write(ChainPicture()));
  QMenu* menu = MenuOf(Form1->Image2)->Menu();
  auto* command = menu->findChild<QAction*>(QStringLiteral("CopyCommandAction"));
  ASSERT_NE(command, nullptr);
  emit menu->aboutToShow();
  EXPECT_FALSE(command->isEnabled()) << "nothing processed";

  Form1->OpenPictureFile(file);
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  emit menu->aboutToShow();
  ASSERT_TRUE(command->isEnabled());
  command->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QStringLiteral("ccdlab-cli '%1' OUTPUT.png gray edges")
                .arg(QString(file).replace("'", "'\\''")));

  // Made from another picture than the one on show: no line says how.
  Form1->OpenPictureFile(file);
  emit menu->aboutToShow();
  EXPECT_FALSE(command->isEnabled());
}

}  // namespace

namespace {

// ImageJ's commands from the processed image's submenus, one undone, then the copied command line
// run by the shell: the tool writes the processed image's very bytes.
TEST_F(ImageViewMenuTest, ImageJsCommandsFromTheMenusAndTheirCommandLine) {
  const QString file = dir_.filePath(QStringLiteral("cells.png"));
  ASSERT_TRUE(QImageWriter(file).write(ChainPicture()));
  QMenu* menu = MenuOf(Form1->Image2)->Menu();
  const auto run = [menu](const char* word) {
    auto* action = menu->findChild<QAction*>(QStringLiteral("Operation_") + QLatin1String(word));
    ASSERT_NE(action, nullptr) << word;
    action->trigger();
  };
  Form1->OpenPictureFile(file);
  run("median");  // fills the empty processed image from the main one
  QTest::mouseClick(Form1->Button4, Qt::LeftButton);
  run("smooth");
  TWorkbench* workbench = Form1->Workbench();
  workbench->BeginBinarize();
  workbench->TryThreshold(120);
  workbench->AcceptBinarize();
  run("fill-holes");
  run("erode");
  Form1->Undo();
  run("watershed");
  EXPECT_EQ(Form1->ProcessedCommand(),
            QStringLiteral("ccdlab-cli %1 OUTPUT.png gray smooth binarize=120 fill-holes watershed")
                .arg(file));

  emit menu->aboutToShow();
  menu->findChild<QAction*>(QStringLiteral("CopyCommandAction"))->trigger();
  QProcess shell;
  shell.setWorkingDirectory(dir_.path());
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("PATH", QFileInfo(CCDLAB_CLI).path() + ':' + environment.value("PATH"));
  shell.setProcessEnvironment(environment);
  shell.start("sh", {"-c", QGuiApplication::clipboard()->text()});
  ASSERT_TRUE(shell.waitForFinished(60000));
  ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
  EXPECT_TRUE(SameBitmaps(*Form1->Image2->Picture()->Graphic(),
                          LoadPictureFile(dir_.filePath(QStringLiteral("OUTPUT.png")))));
}

}  // namespace
