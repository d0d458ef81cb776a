#include "ViewerLink.h"

#include <QMouseEvent>

#include "ImageView.h"
#include "Unit2.h"
#include "ViewerWindow.h"

void FollowThresholdDialog(TViewerWindow* viewer) {
  if (BinaryDlg == nullptr)
    return;
  QObject::connect(BinaryDlg, &TBinaryDlg::ThresholdShown, viewer,
                   [viewer](int threshold) { viewer->SetThreshold(threshold); });
  QObject::connect(BinaryDlg, &TBinaryDlg::ThresholdHidden, viewer,
                   [viewer] { viewer->SetThreshold(std::nullopt); });
  if (BinaryDlg->isVisible())
    viewer->SetThreshold(BinaryDlg->ScrollBar1->value());
}

TViewerLink::TViewerLink(TImage* view, const QString& title)
    : QObject(view), view_(view), title_(title) {
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

TViewerWindow* TViewerLink::Open() {
  if (viewer_ == nullptr) {
    // A window of its own rather than a child of the main window, so that it can go behind it.
    viewer_ = new TViewerWindow(view_, title_);
    viewer_->setAttribute(Qt::WA_DeleteOnClose);
    FollowThresholdDialog(viewer_);
  }
  viewer_->show();
  viewer_->raise();
  viewer_->activateWindow();
  return viewer_;
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
