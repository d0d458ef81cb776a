// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "ViewerWindow.h"

class QAction;
class TTryAllWindow;
class TWorkbench;

// Makes a viewer mark the threshold being tried while binarize is tried, and its "全部試試"
// window's clicks move that threshold.
void FollowThresholdDialog(TViewerWindow* viewer, TWorkbench* workbench);
// Makes the scale set in a viewer ("設定比例…") the workbench's.
void FollowScale(TViewerWindow* viewer, TWorkbench* workbench);

// Opens the viewer window of an image view, by a double-click on the view or on request (its
// context menu): one viewer per view, which shows the threshold while the threshold dialog is
// open. Closing the main window closes the viewer. A threshold chosen in the viewer's "全部試試"
// window moves the dialog's slider while the dialog is open.
class TViewerLink : public QObject {
  Q_OBJECT

 public:
  TViewerLink(TImage* view, const QString& title, TWorkbench* workbench);
  ~TViewerLink() override;

  // The link of a view, if it has one.
  static TViewerLink* Of(const TImage* view);
  // The link of the view showing `picture` in one of the program's windows, if there is one.
  static TViewerLink* Showing(const TBitmap& picture);

  // Shows the view's viewer, made now unless one is open, and brings it to the front.
  TViewerWindow* Open();
  TViewerWindow* Viewer() const { return viewer_; }
  // An action of every viewer this link makes: its key works there and it is in its menu.
  void AddViewerAction(QAction* action);
  // Shows the viewer's "全部試試" window (and the viewer), ready for clicks even while the
  // threshold dialog is open.
  TTryAllWindow* OpenTryAll();

 signals:
  void ViewerMade(TViewerWindow* viewer);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TImage* view_;
  QString title_;
  TWorkbench* workbench_;
  QPointer<TViewerWindow> viewer_;
  QList<QAction*> viewerActions_;
};
