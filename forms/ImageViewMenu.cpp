// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageViewMenu.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

#include "Clipboard.h"
#include "Dialogs.h"
#include "ImageView.h"
#include "PictureFile.h"
#include "QImageBridge.h"
#include "ViewerLink.h"

namespace {

// The extension a name without one gets when saved under this filter.
QString ExtensionOfFilter(const QString& filter) {
  const PictureFormatInfo* format = FormatOfSaveFilter(filter);
  return QLatin1String(format != nullptr ? format->name : FormatInfo(PictureFormat::Png).name);
}

// The dialog's own default suffix is added only to names without any dot, so "2024.12.07" would
// be refused as an unknown format; such names get the chosen format's extension as well.
QString WithSaveExtension(const QString& fileName, const QString& filter) {
  const PictureFormatInfo* named = FormatOfFileName(fileName);
  if (named != nullptr && named->writable)
    return fileName;
  return fileName + QLatin1Char('.') + ExtensionOfFilter(filter);
}

}  // namespace

TImageViewMenu::TImageViewMenu(TImage* view) : QObject(view), view_(view), menu_(new QMenu(view)) {
  setObjectName(QStringLiteral("ImageViewMenu"));
  menu_->setObjectName(QStringLiteral("ImageViewMenu"));
  viewer_ = menu_->addAction(QStringLiteral("檢視…"));
  viewer_->setObjectName(QStringLiteral("ViewerAction"));
  menu_->addSeparator();
  saveAs_ = menu_->addAction(QStringLiteral("另存新檔…"));
  saveAs_->setObjectName(QStringLiteral("SaveAsAction"));
  copy_ = menu_->addAction(QStringLiteral("複製"));
  copy_->setObjectName(QStringLiteral("CopyAction"));
  view_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view_, &QWidget::customContextMenuRequested, this, &TImageViewMenu::Popup);
}

TImageViewMenu::~TImageViewMenu() = default;

QMenu* TImageViewMenu::Menu() {
  const TBitmap* bitmap = view_->Picture()->Graphic();
  const bool holdsPicture = bitmap != nullptr && !bitmap->Empty();
  saveAs_->setEnabled(holdsPicture);
  copy_->setEnabled(holdsPicture);
  return menu_;
}

void TImageViewMenu::Popup(const QPoint& position) {
  // Act once the menu has closed, so that the save dialog or a message does not open on top of
  // a menu still grabbing the mouse.
  QAction* chosen = Menu()->exec(view_->mapToGlobal(position));
  if (chosen == viewer_) {
    if (TViewerLink* link = TViewerLink::Of(view_))
      link->Open();
  } else if (chosen == saveAs_) {
    SaveAs();
  } else if (chosen == copy_) {
    Copy();
  }
}

QFileDialog* TImageViewMenu::SaveDialog() {
  if (saveDialog_ == nullptr) {
    saveDialog_ = new QFileDialog(view_->window(), QStringLiteral("另存新檔"));
    saveDialog_->setObjectName(QStringLiteral("SavePictureDialog"));
    // The toolkit's own dialog, as for opening pictures: the same on every desktop.
    saveDialog_->setOption(QFileDialog::DontUseNativeDialog);
    saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog_->setFileMode(QFileDialog::AnyFile);
    saveDialog_->setNameFilters(SavePictureFilters());
    saveDialog_->setDefaultSuffix(ExtensionOfFilter(SavePictureFilters().first()));
    connect(saveDialog_, &QFileDialog::filterSelected, saveDialog_, [this](const QString& filter) {
      saveDialog_->setDefaultSuffix(ExtensionOfFilter(filter));
    });
  }
  return saveDialog_;
}

void TImageViewMenu::SaveAs() {
  const TBitmap* bitmap = view_->Picture()->Graphic();
  if (bitmap == nullptr || bitmap->Empty())
    return;
  QFileDialog* dialog = SaveDialog();
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
    return;
  const QString chosen = dialog->selectedFiles().front();
  const QString fileName = WithSaveExtension(chosen, dialog->selectedNameFilter());
  // The dialog asked about replacing the name it was given, not about the one with the extension.
  if (fileName != chosen && QFileInfo::exists(fileName) &&
      QMessageBox::question(
          view_->window(), QStringLiteral("另存新檔"),
          QStringLiteral("%1 已經存在。\n要取代它嗎？").arg(QFileInfo(fileName).fileName())) !=
          QMessageBox::Yes)
    return;
  try {
    SaveTo(fileName);
  } catch (const PictureFileError& error) {
    ShowMessage(PictureFailureSentence(error));
  }
}

void TImageViewMenu::SaveTo(const QString& fileName) const {
  static const TBitmap kNothing;
  const TBitmap* bitmap = view_->Picture()->Graphic();
  SavePictureFile(bitmap != nullptr ? *bitmap : kNothing, fileName);
}

void TImageViewMenu::Copy() const {
  const TBitmap* bitmap = view_->Picture()->Graphic();
  if (bitmap == nullptr || bitmap->Empty())
    return;
  Clipboard()->SetPicture(QImageFromBitmap(*bitmap));
}
