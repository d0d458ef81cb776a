// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QAction;
class QMenu;
class QWidget;
struct TCaptureFormat;

// The camera panel's context menu: the cameras the device monitor knows, the one in use checked,
// and the sizes it offers. A choice reconnects the capture window in the panel, whatever its
// camera is doing; with none open, the next open uses it. Above them, "檢視…" asks for the live
// view of the camera, which whoever shows it connects to. It adds nothing to the window's layout.
class TCameraMenu : public QObject {
  Q_OBJECT

 public:
  explicit TCameraMenu(QWidget* panel);

  // The menu as it pops up now.
  QMenu* Menu();
  QAction* ViewerAction() const { return viewer_; }

 private:
  void Fill();
  void Update();
  void Choose(const QString& camera, const TCaptureFormat& format);

  QWidget* panel_;
  QMenu* menu_;
  // Owned here, not by the menu: filling the menu again must not delete it.
  QAction* viewer_;
};
