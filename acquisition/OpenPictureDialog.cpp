// SPDX-License-Identifier: GPL-3.0-or-later
#include "OpenPictureDialog.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "PictureFile.h"
#include "QImageBridge.h"

namespace {

constexpr int kPreviewSide = 200;

// Shows the picture under the cursor of the file list, scaled to fit, with its size and depth.
class PicturePreviewPane : public QWidget {
 public:
  explicit PicturePreviewPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("PicturePreview"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 0, 0, 0);
    auto* caption = new QLabel(QStringLiteral("預覽"), this);
    image_ = new QLabel(this);
    image_->setObjectName(QStringLiteral("PreviewImage"));
    image_->setFixedSize(kPreviewSide + 4, kPreviewSide + 4);
    image_->setAlignment(Qt::AlignCenter);
    image_->setFrameShape(QFrame::StyledPanel);
    info_ = new QLabel(this);
    info_->setObjectName(QStringLiteral("PreviewInfo"));
    info_->setWordWrap(true);
    info_->setFixedWidth(kPreviewSide + 4);
    layout->addWidget(caption);
    layout->addWidget(image_);
    layout->addWidget(info_);
    layout->addStretch(1);
  }

  void Show(const QString& path) {
    image_->clear();
    info_->clear();
    setProperty("shownFile", path);
    if (path.isEmpty() || QFileInfo(path).isDir())
      return;
    try {
      const QSize box(kPreviewSide, kPreviewSide);
      const PicturePreview preview = PreviewPictureFile(path, box);
      QString info = QStringLiteral("%1 × %2 像素，%3 位元")
                         .arg(preview.size.width())
                         .arg(preview.size.height())
                         .arg(preview.bitsPerPixel);
      if (preview.picture.Empty()) {
        info += QStringLiteral("\n圖片太大，不顯示預覽");
      } else {
        QImage shown = QImageFromBitmap(preview.picture);
        if (shown.width() > box.width() || shown.height() > box.height())
          shown = shown.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        image_->setPixmap(QPixmap::fromImage(shown));
      }
      info_->setText(info);
    } catch (const PictureFileError& error) {
      // The list shows the file already: the reason is enough.
      info_->setText(QStringLiteral("無法預覽：") + PictureFailureReason(error));
    }
  }

 private:
  QLabel* image_;
  QLabel* info_;
};

}  // namespace

TOpenPictureDialog::TOpenPictureDialog(QWidget* owner) : owner_(owner) {}

TOpenPictureDialog::~TOpenPictureDialog() = default;

QFileDialog* TOpenPictureDialog::Dialog() {
  if (dialog_)
    return dialog_.get();
  // No folder of its own: the first use starts in the working folder, later ones where the
  // previous one left off.
  dialog_ = std::make_unique<QFileDialog>(owner_.data());
  QFileDialog* dialog = dialog_.get();
  dialog->setObjectName(QStringLiteral("OpenPictureDialog"));
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setWindowTitle(QStringLiteral("開啟"));
  dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("查詢："));
  dialog->setLabelText(QFileDialog::FileName, QStringLiteral("檔案名稱："));
  dialog->setLabelText(QFileDialog::FileType, QStringLiteral("檔案類型："));
  dialog->setLabelText(QFileDialog::Accept, QStringLiteral("開啟"));
  dialog->setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
  dialog->setNameFilters(OpenPictureFilters());
  dialog->resize(960, 560);  // room for the list with its columns beside the preview

  auto* preview = new PicturePreviewPane(dialog);
  if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout()))
    grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
  else
    dialog->layout()->addWidget(preview);
  QObject::connect(dialog, &QFileDialog::currentChanged, preview,
                   [preview](const QString& path) { preview->Show(path); });
  // Enter in the name field closes the dialog from under the name's completion list, a popup
  // window of its own that stays up while the field still holds the focus. Left up, it would take
  // the next click on the main window as the click that closes it.
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
    for (QCompleter* completer : dialog->findChildren<QCompleter*>())
      completer->popup()->hide();
  });
  return dialog;
}

bool TOpenPictureDialog::Execute() {
  QFileDialog* dialog = Dialog();
  if (dialog->exec() != QDialog::Accepted)
    return false;
  const QStringList files = dialog->selectedFiles();
  if (files.isEmpty())
    return false;
  FileName = files.first();
  return true;
}
