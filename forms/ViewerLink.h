#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "ViewerWindow.h"

// Makes a viewer mark the threshold dialog's threshold while the dialog is open.
void FollowThresholdDialog(TViewerWindow* viewer);

// Opens the viewer window of an image view, by a double-click on the view or on request (its
// context menu): one viewer per view, which shows the threshold while the threshold dialog is
// open. Closing the main window closes the viewer.
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

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TImage* view_;
  QString title_;
  QPointer<TViewerWindow> viewer_;
};
