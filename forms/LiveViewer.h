// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "CaptureWindow.h"
#include "CountPlot.h"
#include "LiveFeed.h"

class QAction;
class QLabel;
class TForm1;
class TImageViewMenu;
class TMeasureLog;
class TViewerWindow;
class TWorkbench;

// The live view of the camera: one viewer per program, titled like the camera panel's label,
// showing every frame of whichever capture window the panel holds, at the camera's full size. It
// opens by "檢視…" in the camera menu or a double-click on the panel. "即時處理" (P) runs each
// frame through the workbench's live chain; "即時量測" (M) counts and outlines the objects of
// every frame, plots their count and can log it, a row a frame ("記錄…"); its menu saves or copies
// the frame on show. When the camera stops, the viewer keeps its last frame under the panel's
// state line.
class TLiveViewerLink : public QObject {
  Q_OBJECT

 public:
  TLiveViewerLink(TForm1* form, TWorkbench* workbench);
  ~TLiveViewerLink() override;

  // The link of the main window's camera panel.
  static TLiveViewerLink* Of(const TForm1* form);

  // Shows the viewer, made now unless one is open, and brings it to the front.
  TViewerWindow* Open();
  TViewerWindow* Viewer() const { return viewer_; }
  TLiveFeed* Feed() const { return feed_; }
  QAction* ProcessingAction() const { return processing_; }
  QAction* MeasuringAction() const { return measuring_; }
  QAction* LogAction() const { return logging_; }
  TCountPlot* CountPlot() const { return plot_; }
  TCaptureWindow* Camera() const { return camera_; }

  // "顯示 29.8 fps　攝影機 30.0 fps　即時處理 2.1 ms/張": frames shown and delivered per second
  // and the work per frame, over the last second.
  QString RatesText() const;
  // "物件 12　平均面積 30.5 px²" for the frame on show while measuring.
  QString MeasureText() const;

  // "記錄…": asks for a file, then logs every frame measured into it until StopLog.
  void ChooseLog();
  // False, with a message shown, where the file cannot be written.
  bool StartLog(const QString& fileName);
  void StopLog();
  const std::shared_ptr<TMeasureLog>& Log() const { return log_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Follow();
  void FrameTaken(const QImage& frame);
  void UpdateChain();
  void UpdateMeasuring();
  void FrameShown();
  void UpdateNotice();
  void UpdateRates();
  void Popup(const QPoint& position);

  TForm1* form_;
  TWorkbench* workbench_;
  QWidget* panel_;
  QAction* processing_;
  QAction* measuring_;
  QAction* logging_;
  std::shared_ptr<TMeasureLog> log_;
  std::string logUnit_;
  QPointer<TCountPlot> plot_;
  QPointer<QLabel> measureLabel_;
  QElapsedTimer plotClock_;
  QPointer<TViewerWindow> viewer_;
  QPointer<TLiveFeed> feed_;
  QPointer<TImageViewMenu> frameMenu_;
  QPointer<QLabel> ratesLabel_;
  QPointer<TCaptureWindow> camera_;
  bool sized_ = false;

  // The rates: counts at the start of the current second.
  QTimer ratesTimer_;
  QElapsedTimer since_;
  TLiveCounts countsBefore_;
  std::uint64_t deliveredBefore_ = 0;
  std::optional<double> shownRate_, cameraRate_, workMs_;
};
