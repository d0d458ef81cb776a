// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "CaptureDriver.h"

// The capture-window service the camera commands are written against: a capture window is a
// child widget showing a capture driver's frames, reached through a handle and driven by
// messages. The service's own names live in their namespace, out of everybody else's way.
namespace capture {

using HWND = std::uintptr_t;  // 0 names no window; a handle is never reused
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using DWORD = std::uint32_t;
using BOOL = int;

inline constexpr DWORD WS_CHILD = 0x40000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;

inline constexpr UINT WM_CAP_START = 0x400;
inline constexpr UINT WM_CAP_DRIVER_CONNECT = WM_CAP_START + 10;
inline constexpr UINT WM_CAP_DRIVER_DISCONNECT = WM_CAP_START + 11;
inline constexpr UINT WM_CAP_EDIT_COPY = WM_CAP_START + 30;
inline constexpr UINT WM_CAP_SET_PREVIEW = WM_CAP_START + 50;
inline constexpr UINT WM_CAP_SET_OVERLAY = WM_CAP_START + 51;
inline constexpr UINT WM_CAP_SET_PREVIEWRATE = WM_CAP_START + 52;
inline constexpr UINT WM_CAP_SET_SCALE = WM_CAP_START + 53;

// Creates a capture window as a child of `parent` at the given rectangle, shown when `style`
// has WS_VISIBLE. Returns its handle, or 0 without a parent.
HWND capCreateCaptureWindowA(const char* windowName, DWORD style, int x, int y, int width,
                             int height, QWidget* parent, int id);
// True while the handle names a window; a window destroyed with its parent names none.
BOOL IsWindow(HWND window);
// Delivers a message synchronously; 0 for a handle that names no window or a message the
// window does not know, else the message's result (1 on success).
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Destroys the window, stopping its driver. Does nothing on a handle that names no window.
BOOL DestroyWindow(HWND window);

}  // namespace capture

// The handle of the camera commands' capture window.
extern capture::HWND CaptureWnd;

class TCaptureWindow;
// The window a handle names, or nullptr.
TCaptureWindow* CaptureWindowFromHandle(capture::HWND window);

// A capture window: shows the frames of its driver, in preview at the preview rate, or in
// overlay as they arrive, scaled to the window or at their own size. When the camera is missing,
// busy or gone it keeps its last frame (or nothing) and draws a state line over it.
class TCaptureWindow final : public QWidget {
  Q_OBJECT

 public:
  TCaptureWindow(capture::HWND handle, QWidget* parent);
  ~TCaptureWindow() override;

  capture::HWND Handle() const { return handle_; }
  capture::LRESULT Message(capture::UINT message, capture::WPARAM wParam, capture::LPARAM lParam);

  TCaptureState State() const { return driver_.State(); }
  QString StateLine() const { return CaptureStateLine(driver_.State()); }
  bool Connected() const { return driver_.Connected(); }
  bool Previewing() const { return display_ == Display::Preview; }
  bool Overlaying() const { return display_ == Display::Overlay; }
  bool Scaling() const { return scale_; }
  int PreviewRate() const { return rate_; }
  // The frame on display (null when none): what a copy puts on the clipboard.
  QImage ShownFrame() const { return shown_; }
  std::uint64_t FramesDelivered() const { return driver_.FramesDelivered(); }

 signals:
  // Every frame taken from the driver, whether or not the window shows it: for a live view that
  // follows the camera at its own rate.
  void FrameTaken(const QImage& frame);
  void StateChanged();

 protected:
  void customEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  enum class Display { None, Overlay, Preview };

  void SetDisplay(Display display, bool on);
  void UpdateTimer();
  void Present();
  capture::BOOL CopyFrame() const;

  const capture::HWND handle_;
  TCaptureDriver driver_;
  QTimer preview_;
  QImage newest_;  // arrived, not shown yet
  QImage shown_;
  Display display_ = Display::None;
  bool scale_ = false;
  int rate_ = 66;
};
