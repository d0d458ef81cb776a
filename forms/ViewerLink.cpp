// SPDX-License-Identifier: GPL-3.0-or-later
#include "ViewerLink.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWindow>

#include "ImageView.h"
#include "TryAllWindow.h"
#include "Unit2.h"
#include "ViewerWindow.h"
#include "Workbench.h"

namespace {

// The open threshold dialog blocks every other window of the program. A "try all" window is lent
// to it as one of its own windows for as long as it is open, so that its clicks reach the slider;
// the viewers and the main window stay blocked.
void LendToDialog(QWidget* window, bool lend) {
  if (window == nullptr || BinaryDlg == nullptr)
    return;
  // The toolkit's windows exist from now on, the dialog's too before it first shows.
  window->winId();
  BinaryDlg->winId();
  QWindow* dialog = lend ? BinaryDlg->windowHandle() : nullptr;
  if (window->windowHandle()->transientParent() != dialog)
    window->windowHandle()->setTransientParent(dialog);
}

}  // namespace

void FollowThresholdDialog(TViewerWindow* viewer, TWorkbench* workbench) {
  QObject::connect(workbench, &TWorkbench::TrialChanged, viewer,
                   [viewer](std::optional<int> threshold) {
                     viewer->SetThreshold(threshold);
                     LendToDialog(viewer->TryAllWindow(), threshold.has_value());
                   });
  QObject::connect(viewer, &TViewerWindow::ThresholdChosen, workbench,
                   [workbench](TThresholdMethod method, int threshold) {
                     if (workbench->Binarizing())
                       workbench->TakeThreshold(method, threshold);
                   });
  if (workbench->Binarizing())
    viewer->SetThreshold(workbench->TriedThreshold());
}

void FollowScale(TViewerWindow* viewer, TWorkbench* workbench) {
  QObject::connect(viewer, &TViewerWindow::ScaleChosen, workbench, &TWorkbench::SetScale);
}

TViewerLink::TViewerLink(TImage* view, const QString& title, TWorkbench* workbench)
    : QObject(view), view_(view), title_(title), workbench_(workbench) {
  setObjectName(QStringLiteral("ViewerLink"));
  view_->installEventFilter(this);
  view_->window()->installEventFilter(this);
}

TViewerLink::~TViewerLink() {
  delete viewer_.data();
}

TViewerLink* TViewerLink::Of(const TImage* view) {
  return view->findChild<TViewerLink*>(QString(), Qt::FindDirectChildrenOnly);
}

TViewerLink* TViewerLink::Showing(const TBitmap& picture) {
  for (QWidget* window : QApplication::topLevelWidgets())
    for (TViewerLink* link : window->findChildren<TViewerLink*>())
      if (link->view_->Picture()->Graphic() == &picture)
        return link;
  return nullptr;
}

TViewerWindow* TViewerLink::Open() {
  if (viewer_ == nullptr) {
    // A window of its own rather than a child of the main window, so that it can go behind it.
    viewer_ = new TViewerWindow(view_, title_);
    viewer_->setAttribute(Qt::WA_DeleteOnClose);
    viewer_->SetMainWindow(view_->window());
    viewer_->PlaceAtPictureSize();
    FollowThresholdDialog(viewer_, workbench_);
    FollowScale(viewer_, workbench_);
    viewer_->addActions(viewerActions_);
    emit ViewerMade(viewer_);
  }
  viewer_->show();
  viewer_->raise();
  viewer_->activateWindow();
  return viewer_;
}

void TViewerLink::AddViewerAction(QAction* action) {
  viewerActions_.append(action);
  if (viewer_ != nullptr)
    viewer_->addAction(action);
}

TTryAllWindow* TViewerLink::OpenTryAll() {
  TTryAllWindow* tryAll = Open()->OpenTryAll();
  LendToDialog(tryAll, workbench_->Binarizing());
  tryAll->raise();
  tryAll->activateWindow();
  return tryAll;
}

bool TViewerLink::eventFilter(QObject* watched, QEvent* event) {
  if (watched == view_ && event->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Open();
    return true;
  }
  if (watched == view_->window() && event->type() == QEvent::Close && viewer_ != nullptr)
    viewer_->close();
  return QObject::eventFilter(watched, event);
}
