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

// The formats offered for saving, each with the extension a name without one gets.
struct SaveFormat {
  const char* filter;
  const char* extension;
};
constexpr SaveFormat kSaveFormats[] = {
    {"PNG 圖檔 (*.png)", "png"},
    {"BMP 圖檔 (*.bmp)", "bmp"},
    {"JPEG 圖檔 (*.jpg *.jpeg)", "jpg"},
};

QString ExtensionOfFilter(const QString& filter) {
  for (const SaveFormat& format : kSaveFormats) {
    if (filter == QString::fromUtf8(format.filter))
      return QString::fromLatin1(format.extension);
  }
  return QStringLiteral("png");
}

// The dialog's own default suffix is added only to names without any dot, so "2024.12.07" would
// be refused as an unknown format; such names get the chosen format's extension as well.
QString WithSaveExtension(const QString& fileName, const QString& filter) {
  static const QStringList kOffered = {"png", "bmp", "jpg", "jpeg"};
  if (kOffered.contains(QFileInfo(fileName).suffix().toLower()))
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
    QStringList filters;
    for (const SaveFormat& format : kSaveFormats)
      filters << QString::fromUtf8(format.filter);
    saveDialog_->setNameFilters(filters);
    saveDialog_->setDefaultSuffix(QStringLiteral("png"));
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
    ShowMessage(error.Message());
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
