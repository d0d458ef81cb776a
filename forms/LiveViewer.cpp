// SPDX-License-Identifier: GPL-3.0-or-later
#include "LiveViewer.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <algorithm>

#include "CameraMenu.h"
#include "CaptureWindow.h"
#include "ImageViewMenu.h"
#include "PictureCanvas.h"
#include "Unit1.h"
#include "ViewerLink.h"
#include "ViewerWindow.h"
#include "Workbench.h"

TLiveViewerLink::TLiveViewerLink(TForm1* form, TWorkbench* workbench)
    : QObject(form->Panel1),
      form_(form),
      workbench_(workbench),
      panel_(form->Panel1),
      processing_(new QAction(QStringLiteral("即時處理"), this)) {
  setObjectName(QStringLiteral("LiveViewerLink"));
  processing_->setObjectName(QStringLiteral("LiveProcessingAction"));
  processing_->setCheckable(true);
  processing_->setShortcut(Qt::Key_P);
  connect(processing_, &QAction::toggled, this, &TLiveViewerLink::UpdateChain);
  if (auto* menu = panel_->findChild<TCameraMenu*>(QString(), Qt::FindDirectChildrenOnly))
    connect(menu->ViewerAction(), &QAction::triggered, this, &TLiveViewerLink::Open);
  // The workbench tells of every change of the chain: its commands, undo, the threshold tried.
  connect(workbench_, &TWorkbench::LiveChainChanged, this, &TLiveViewerLink::UpdateChain);
  panel_->installEventFilter(this);
  form_->installEventFilter(this);
  ratesTimer_.setInterval(1000);
  connect(&ratesTimer_, &QTimer::timeout, this, &TLiveViewerLink::UpdateRates);
  Follow();
}

TLiveViewerLink::~TLiveViewerLink() {
  delete viewer_.data();
}

TLiveViewerLink* TLiveViewerLink::Of(const TForm1* form) {
  return form->Panel1->findChild<TLiveViewerLink*>(QString(), Qt::FindDirectChildrenOnly);
}

TViewerWindow* TLiveViewerLink::Open() {
  if (viewer_ == nullptr) {
    // The frame on show lives in a view of its own that nobody sees but the viewer; inside the
    // viewer, so that saving it opens its dialog over the viewer.
    auto* frame = new TImage();
    viewer_ = new TViewerWindow(frame, form_->Label1->text());
    frame->setParent(viewer_);
    frame->hide();
    viewer_->setObjectName(QStringLiteral("LiveViewerWindow"));
    viewer_->setAttribute(Qt::WA_DeleteOnClose);
    viewer_->SetMainWindow(form_);
    viewer_->addAction(processing_);
    viewer_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(viewer_, &QWidget::customContextMenuRequested, this, &TLiveViewerLink::Popup);
    FollowThresholdDialog(viewer_, workbench_);
    frameMenu_ = new TImageViewMenu(frame);
    feed_ = new TLiveFeed(viewer_);
    connect(feed_, &TLiveFeed::FrameShown, this, [this] {
      // The camera's full size, fitted where the screen is too small for it.
      if (!sized_ && viewer_ != nullptr) {
        sized_ = true;
        viewer_->PlaceAtPictureSize();
      }
    });
    ratesLabel_ = new TStatusLabel(viewer_);
    ratesLabel_->setObjectName(QStringLiteral("RatesLabel"));
    // First of the permanent ones, after the pixel's value.
    viewer_->StatusBar()->insertPermanentWidget(1, ratesLabel_);
    sized_ = false;
    countsBefore_ = {};
    deliveredBefore_ = camera_ != nullptr ? camera_->FramesDelivered() : 0;
    since_.start();
    shownRate_ = cameraRate_ = workMs_ = std::nullopt;
    ratesTimer_.start();
    UpdateChain();
    UpdateNotice();
    UpdateRates();
    viewer_->PlaceAtPictureSize();
  }
  viewer_->show();
  viewer_->raise();
  viewer_->activateWindow();
  return viewer_;
}

// The capture window the camera commands use is the one followed; it changes as they open and
// close the camera.
void TLiveViewerLink::Follow() {
  TCaptureWindow* window = CaptureWindowFromHandle(CaptureWnd);
  if (window != nullptr && window->parentWidget() != panel_)
    window = nullptr;
  if (window != camera_) {
    if (camera_ != nullptr)
      disconnect(camera_, nullptr, this, nullptr);
    camera_ = window;
    deliveredBefore_ = camera_ != nullptr ? camera_->FramesDelivered() : 0;
    if (camera_ != nullptr) {
      connect(camera_, &TCaptureWindow::FrameTaken, this, &TLiveViewerLink::FrameTaken);
      connect(camera_, &TCaptureWindow::StateChanged, this, &TLiveViewerLink::UpdateNotice);
    }
  }
  UpdateNotice();
}

void TLiveViewerLink::FrameTaken(const QImage& frame) {
  if (feed_ != nullptr && viewer_->isVisible())
    feed_->Push(frame);
}

void TLiveViewerLink::UpdateChain() {
  if (feed_ == nullptr)
    return;
  feed_->SetChain(processing_->isChecked() ? std::optional<TChain>(workbench_->LiveChain())
                                           : std::nullopt);
  UpdateRates();
}

void TLiveViewerLink::UpdateNotice() {
  if (viewer_ == nullptr)
    return;
  if (camera_ == nullptr || camera_->State() == TCaptureState::Disconnected)
    viewer_->SetNotice(QStringLiteral("攝影機未開啟"));
  else
    viewer_->SetNotice(camera_->StateLine());
}

QString TLiveViewerLink::RatesText() const {
  const auto figure = [](std::optional<double> value, const char* unit) {
    return value ? QString::number(*value, 'f', 1) + QString::fromUtf8(unit) : QStringLiteral("—");
  };
  return QStringLiteral("顯示 %1　攝影機 %2　%3 %4")
      .arg(figure(shownRate_, " fps"), figure(cameraRate_, " fps"),
           processing_->isChecked() ? QStringLiteral("即時處理") : QStringLiteral("原始影像"),
           figure(workMs_, " ms/張"));
}

void TLiveViewerLink::UpdateRates() {
  if (feed_ == nullptr) {
    ratesTimer_.stop();
    return;
  }
  const double seconds = static_cast<double>(since_.elapsed()) / 1000.0;
  if (seconds >= 0.5) {
    const TLiveCounts counts = feed_->Counts();
    const std::uint64_t delivered = camera_ != nullptr ? camera_->FramesDelivered() : 0;
    shownRate_ = static_cast<double>(counts.shown - countsBefore_.shown) / seconds;
    cameraRate_ = static_cast<double>(delivered - std::min(delivered, deliveredBefore_)) / seconds;
    const std::uint64_t worked = counts.worked - countsBefore_.worked;
    workMs_ = worked > 0 ? std::optional<double>((counts.workMs - countsBefore_.workMs) /
                                                 static_cast<double>(worked))
                         : std::nullopt;
    countsBefore_ = counts;
    deliveredBefore_ = delivered;
    since_.start();
  }
  ratesLabel_->setText(RatesText());
}

void TLiveViewerLink::Popup(const QPoint& position) {
  if (viewer_ == nullptr || frameMenu_ == nullptr)
    return;
  QMenu menu(viewer_);
  menu.addAction(processing_);
  menu.addSeparator();
  QAction* saveAs = menu.addAction(QStringLiteral("另存新檔…"));
  QAction* copy = menu.addAction(QStringLiteral("複製"));
  // Enabled as the other views' entries are: while there is a frame.
  frameMenu_->Menu();
  saveAs->setEnabled(frameMenu_->SaveAsAction()->isEnabled());
  copy->setEnabled(frameMenu_->CopyAction()->isEnabled());
  QAction* chosen = menu.exec(viewer_->mapToGlobal(position));
  if (chosen == saveAs && feed_ != nullptr) {
    // The frame on show is what is saved: the view stays on it while the dialog is up.
    feed_->Hold(true);
    frameMenu_->SaveAs();
    if (feed_ != nullptr)
      feed_->Hold(false);
  } else if (chosen == copy) {
    frameMenu_->Copy();
  }
}

bool TLiveViewerLink::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panel_) {
    switch (event->type()) {
      case QEvent::ChildAdded:
      case QEvent::ChildRemoved:
        // After the camera command that made or destroyed a capture window has named it.
        QTimer::singleShot(0, this, &TLiveViewerLink::Follow);
        break;
      case QEvent::MouseButtonDblClick:
        // Also what the capture window leaves unhandled.
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
          Open();
          return true;
        }
        break;
      default:
        break;
    }
  } else if (watched == form_ && event->type() == QEvent::Close && viewer_ != nullptr) {
    viewer_->close();
  }
  return QObject::eventFilter(watched, event);
}
