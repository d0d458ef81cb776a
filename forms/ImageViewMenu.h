// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QFileDialog;
class QMenu;
class TImage;

// The context menu of an image view: open its viewer window, save its picture as a file, or copy
// it to the clipboard.
// It adds nothing to the window's layout; it only answers a right click on the view.
class TImageViewMenu : public QObject {
  Q_OBJECT

 public:
  explicit TImageViewMenu(TImage* view);
  ~TImageViewMenu() override;

  // The menu as it pops up now: saving and copying are enabled only while the view holds a
  // picture; the viewer opens on an empty view too and waits for one.
  QMenu* Menu();
  QAction* ViewerAction() const { return viewer_; }
  QAction* SaveAsAction() const { return saveAs_; }
  QAction* CopyAction() const { return copy_; }

  // Asks for a file name and writes the picture there; a failure shows a message and leaves no
  // partial file.
  void SaveAs();
  // Writes the picture to `fileName`, in the format its extension names. Raises a
  // PictureFileError that names the file and the reason when it cannot be written.
  void SaveTo(const QString& fileName) const;
  // Puts the picture on the system clipboard.
  void Copy() const;

 private:
  void Popup(const QPoint& position);
  QFileDialog* SaveDialog();

  TImage* view_;
  QMenu* menu_;
  QAction* viewer_;
  QAction* saveAs_;
  QAction* copy_;
  QPointer<QFileDialog> saveDialog_;
};
