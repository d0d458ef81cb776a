// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QString>
#include <memory>

class QFileDialog;
class QWidget;

// The picture open dialog: the toolkit's own file dialog (the same on every desktop) with a
// preview of the selected picture. One instance keeps its folder and filter between uses.
class TOpenPictureDialog {
 public:
  explicit TOpenPictureDialog(QWidget* owner = nullptr);
  ~TOpenPictureDialog();
  TOpenPictureDialog(const TOpenPictureDialog&) = delete;
  TOpenPictureDialog& operator=(const TOpenPictureDialog&) = delete;

  // Runs the dialog modally; true when the operator confirmed a file, whose full name is then in
  // FileName. Cancelling leaves FileName as it was.
  bool Execute();

  QString FileName;

 private:
  QFileDialog* Dialog();

  QPointer<QWidget> owner_;
  std::unique_ptr<QFileDialog> dialog_;
};
