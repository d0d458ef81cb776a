// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptureWindow.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <climits>
#include <unordered_map>

#include "Clipboard.h"
#include "NoticeBand.h"

capture::HWND CaptureWnd = 0;

using namespace capture;

namespace {

// Handles name windows only through this table, so a stale handle finds nothing instead of a
// freed widget.
std::unordered_map<HWND, TCaptureWindow*>& Windows() {
  static std::unordered_map<HWND, TCaptureWindow*> windows;
  return windows;
}

HWND lastHandle = 0;

}  // namespace

TCaptureWindow* CaptureWindowFromHandle(HWND window) {
  const auto found = Windows().find(window);
  return found == Windows().end() ? nullptr : found->second;
}

namespace capture {

HWND capCreateCaptureWindowA(const char* windowName, DWORD style, int x, int y, int width,
                             int height, QWidget* parent, int /*id*/) {
  if (parent == nullptr)
    return 0;
  auto* window = new TCaptureWindow(++lastHandle, parent);
  const QString name = QString::fromLocal8Bit(windowName != nullptr ? windowName : "");
  window->setObjectName(name);
  window->setWindowTitle(name);
  window->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
  if ((style & WS_VISIBLE) != 0)
    window->show();
  return window->Handle();
}

BOOL IsWindow(HWND window) {
  return CaptureWindowFromHandle(window) != nullptr;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TCaptureWindow* target = CaptureWindowFromHandle(window);
  return target == nullptr ? 0 : target->Message(message, wParam, lParam);
}

BOOL DestroyWindow(HWND window) {
  TCaptureWindow* target = CaptureWindowFromHandle(window);
  delete target;
  return target != nullptr;
}

}  // namespace capture

TCaptureWindow::TCaptureWindow(HWND handle, QWidget* parent)
    : QWidget(parent), handle_(handle), driver_(this) {
  Windows()[handle_] = this;
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
  preview_.setTimerType(Qt::PreciseTimer);
  connect(&preview_, &QTimer::timeout, this, &TCaptureWindow::Present);
}

TCaptureWindow::~TCaptureWindow() {
  Windows().erase(handle_);
  driver_.Disconnect();
}

LRESULT TCaptureWindow::Message(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  switch (message) {
    case WM_CAP_DRIVER_CONNECT: {
      newest_ = shown_ = QImage();
      const bool connected = driver_.Connect(static_cast<int>(std::min<WPARAM>(wParam, INT_MAX)));
      UpdateTimer();
      update();
      emit StateChanged();
      return connected;
    }
    case WM_CAP_DRIVER_DISCONNECT:
      driver_.Disconnect();
      newest_ = shown_ = QImage();
      UpdateTimer();
      update();
      emit StateChanged();
      return 1;
    case WM_CAP_SET_OVERLAY:
      SetDisplay(Display::Overlay, wParam != 0);
      return 1;
    case WM_CAP_SET_PREVIEW:
      SetDisplay(Display::Preview, wParam != 0);
      return 1;
    case WM_CAP_SET_SCALE:
      scale_ = wParam != 0;
      update();
      return 1;
    case WM_CAP_SET_PREVIEWRATE:
      rate_ = static_cast<int>(std::clamp<WPARAM>(wParam, 1, 60000));
      UpdateTimer();
      return 1;
    case WM_CAP_EDIT_COPY:
      return CopyFrame();
    default:
      return 0;
  }
}

// Overlay and preview exclude each other: the mode switched on last is in force.
void TCaptureWindow::SetDisplay(Display display, bool on) {
  if (on)
    display_ = display;
  else if (display_ == display)
    display_ = Display::None;
  UpdateTimer();
}

void TCaptureWindow::UpdateTimer() {
  if (display_ == Display::Preview && driver_.Connected()) {
    if (!preview_.isActive() || preview_.interval() != rate_)
      preview_.start(rate_);
  } else {
    preview_.stop();
  }
}

void TCaptureWindow::customEvent(QEvent* event) {
  if (event->type() != TCaptureDriver::WakeEvent()) {
    QWidget::customEvent(event);
    return;
  }
  const TCaptureState before = driver_.State();
  QImage frame = driver_.TakeFrame();
  if (!frame.isNull()) {
    newest_ = std::move(frame);
    emit FrameTaken(newest_);
  }
  driver_.ReadBus();
  const bool stopped = !driver_.Connected();
  // A stream that just ended keeps its last frame on display.
  if (display_ == Display::Overlay || (stopped && display_ != Display::None))
    Present();
  if (driver_.State() != before) {
    UpdateTimer();
    update();
    emit StateChanged();
  }
}

void TCaptureWindow::Present() {
  if (newest_.isNull())
    return;
  shown_ = std::move(newest_);
  newest_ = QImage();
  update();
}

// Visits only the window's pixels: a scaled draw samples the frame once per window pixel.
void TCaptureWindow::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (shown_.isNull()) {
    painter.fillRect(event->rect(), Qt::black);
  } else if (scale_) {
    painter.drawImage(rect(), shown_);
  } else {
    const QRect frame(0, 0, shown_.width(), shown_.height());
    for (const QRect& uncovered : QRegion(event->rect()).subtracted(frame))
      painter.fillRect(uncovered, Qt::black);
    painter.drawImage(QPoint(0, 0), shown_, frame.intersected(rect()));
  }

  const QString line = StateLine();
  if (!line.isEmpty())
    PaintNoticeBand(painter, rect(), font(), line, !shown_.isNull());
}

BOOL TCaptureWindow::CopyFrame() const {
  if (shown_.isNull())
    return 0;
  // A copy of its own: the frame's memory belongs to the camera's buffers.
  QImage picture = shown_.copy();
  // The fourth byte of BGRx is whatever the source left there; the picture is opaque.
  for (int y = 0; y < picture.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
    for (int x = 0; x < picture.width(); ++x)
      row[x] |= 0xff000000u;
  }
  Clipboard()->SetPicture(picture);
  return 1;
}
