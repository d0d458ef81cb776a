// SPDX-License-Identifier: GPL-3.0-or-later
#include "LiveViewer.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <algorithm>

#include "CameraMenu.h"
#include "CaptureWindow.h"
#include "CountPlot.h"
#include "Dialogs.h"
#include "ImageViewMenu.h"
#include "MeasureLog.h"
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
      processing_(new QAction(QStringLiteral("即時處理"), this)),
      measuring_(new QAction(QStringLiteral("即時量測"), this)),
      logging_(new QAction(QStringLiteral("記錄…"), this)) {
  setObjectName(QStringLiteral("LiveViewerLink"));
  processing_->setObjectName(QStringLiteral("LiveProcessingAction"));
  processing_->setCheckable(true);
  processing_->setShortcut(Qt::Key_P);
  connect(processing_, &QAction::toggled, this, &TLiveViewerLink::UpdateChain);
  measuring_->setObjectName(QStringLiteral("LiveMeasuringAction"));
  measuring_->setCheckable(true);
  measuring_->setShortcut(Qt::Key_M);
  connect(measuring_, &QAction::toggled, this, &TLiveViewerLink::UpdateMeasuring);
  logging_->setObjectName(QStringLiteral("LiveLogAction"));
  connect(logging_, &QAction::triggered, this, [this] {
    if (log_ != nullptr)
      StopLog();
    else
      ChooseLog();
  });
  connect(workbench_, &TWorkbench::MeasureOptionsChanged, this, [this] {
    // The log's header names the unit of its areas: another unit ends it.
    if (log_ != nullptr && workbench_->MeasureOptions().unit != logUnit_) {
      const QString fileName = log_->FileName();
      StopLog();
      ShowMessage(QStringLiteral("比例已變更，記錄已停止：%1").arg(fileName));
    }
    UpdateMeasuring();
  });
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
    viewer_->addAction(measuring_);
    FollowScale(viewer_, workbench_);
    connect(viewer_, &QObject::destroyed, this, &TLiveViewerLink::StopLog);
    viewer_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(viewer_, &QWidget::customContextMenuRequested, this, &TLiveViewerLink::Popup);
    FollowThresholdDialog(viewer_, workbench_);
    frameMenu_ = new TImageViewMenu(frame);
    feed_ = new TLiveFeed(viewer_);
    connect(feed_, &TLiveFeed::FrameShown, this, &TLiveViewerLink::FrameShown);
    feed_->SetLog(log_);
    plot_ = new TCountPlot(viewer_);
    viewer_->AddPane(plot_);
    measureLabel_ = new QLabel(viewer_);
    measureLabel_->setObjectName(QStringLiteral("MeasureLabel"));
    // As wide as its longest usual text from the start: a count that grows never widens the
    // window.
    measureLabel_->setFixedWidth(measureLabel_->fontMetrics().horizontalAdvance(
        QStringLiteral("物件 00000　平均面積 00000.0 µm²　記錄中")));
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
    viewer_->StatusBar()->insertPermanentWidget(1, measureLabel_);
    sized_ = false;
    countsBefore_ = {};
    deliveredBefore_ = camera_ != nullptr ? camera_->FramesDelivered() : 0;
    since_.start();
    shownRate_ = cameraRate_ = workMs_ = std::nullopt;
    ratesTimer_.start();
    UpdateChain();
    UpdateMeasuring();
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

void TLiveViewerLink::UpdateMeasuring() {
  if (feed_ == nullptr)
    return;
  const bool on = measuring_->isChecked();
  feed_->SetMeasuring(on ? std::optional<TMeasureOptions>(workbench_->MeasureOptions())
                         : std::nullopt);
  plot_->setVisible(on);
  measureLabel_->setVisible(on);
  if (!on) {
    plot_->Clear();
    viewer_->Canvas()->SetObjects(nullptr);
  } else if (!plotClock_.isValid()) {
    plotClock_.start();
  }
  measureLabel_->setText(MeasureText());
}

void TLiveViewerLink::FrameShown() {
  if (feed_ == nullptr || !measuring_->isChecked())
    return;
  if (const auto& objects = feed_->ShownObjects())
    plot_->Add(static_cast<double>(plotClock_.elapsed()) / 1000.0, objects->summary.count);
  measureLabel_->setText(MeasureText());
  if (log_ != nullptr)
    if (const std::optional<QString> failure = log_->Failure()) {
      const QString fileName = log_->FileName();
      StopLog();
      ShowMessage(QStringLiteral("無法寫入記錄檔 %1：%2，記錄已停止").arg(fileName, *failure));
    }
}

QString TLiveViewerLink::MeasureText() const {
  if (feed_ == nullptr || !measuring_->isChecked() || !feed_->ShownMeasured())
    return QString();
  const auto& objects = feed_->ShownObjects();
  if (objects == nullptr)
    return QStringLiteral("需要黑白影像：請先二值化");
  const std::string& unit = feed_->Measuring() ? feed_->Measuring()->unit : std::string();
  const QString area =
      unit.empty() ? QStringLiteral("px²") : QString::fromStdString(unit) + QStringLiteral("²");
  return QStringLiteral("物件 %1　平均面積 %2 %3%4")
      .arg(objects->summary.count)
      .arg(objects->summary.averageSize, 0, 'f', 1)
      .arg(area, log_ != nullptr ? QStringLiteral("　記錄中") : QString());
}

void TLiveViewerLink::ChooseLog() {
  QFileDialog dialog(viewer_, QStringLiteral("記錄量測結果"));
  dialog.setObjectName(QStringLiteral("LogDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(QStringLiteral("CSV (*.csv)"));
  dialog.setDefaultSuffix(QStringLiteral("csv"));
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    StartLog(dialog.selectedFiles().front());
}

bool TLiveViewerLink::StartLog(const QString& fileName) {
  StopLog();
  QString error;
  const std::string unit = workbench_->MeasureOptions().unit;
  log_ = TMeasureLog::Open(fileName, unit, &error);
  if (log_ == nullptr) {
    ShowMessage(QStringLiteral("無法寫入記錄檔 %1：%2").arg(fileName, error));
    return false;
  }
  logUnit_ = unit;
  logging_->setText(QStringLiteral("停止記錄"));
  // Logging is of measured frames: it starts the measuring.
  measuring_->setChecked(true);
  if (feed_ != nullptr)
    feed_->SetLog(log_);
  return true;
}

void TLiveViewerLink::StopLog() {
  if (feed_ != nullptr)
    feed_->SetLog(nullptr);
  log_.reset();
  logging_->setText(QStringLiteral("記錄…"));
  if (measureLabel_ != nullptr)
    measureLabel_->setText(MeasureText());
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
  menu.addAction(measuring_);
  menu.addAction(logging_);
  menu.addAction(viewer_->ScaleAction());
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
