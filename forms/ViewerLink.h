#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "ViewerWindow.h"

// Makes a viewer mark the threshold dialog's threshold while the dialog is open.
void FollowThresholdDialog(TViewerWindow* viewer);
class TTryAllWindow;

// Opens the viewer window of an image view, by a double-click on the view or on request (its
// context menu): one viewer per view, which shows the threshold while the threshold dialog is
// open. Closing the main window closes the viewer. A threshold chosen in the viewer's "全部試試"
// window moves the dialog's slider while the dialog is open.
class TViewerLink : public QObject {
  Q_OBJECT

 public:
  TViewerLink(TImage* view, const QString& title);
  ~TViewerLink() override;

  // The link of a view, if it has one.
  static TViewerLink* Of(const TImage* view);

  // Shows the view's viewer, made now unless one is open, and brings it to the front.
  TViewerWindow* Open();
  TViewerWindow* Viewer() const { return viewer_; }
  // Shows the viewer's "全部試試" window (and the viewer), ready for clicks even while the
  // threshold dialog is open.
  TTryAllWindow* OpenTryAll();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TImage* view_;
  QString title_;
  QPointer<TViewerWindow> viewer_;
};
