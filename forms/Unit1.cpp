#include "Unit1.h"

#include "Bitmap.h"
#include "CaptureWindow.h"
#include "Clipboard.h"
#include "ClipboardPicture.h"
#include "Dialogs.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setupUi(this);
  // The stored window position; uic applies only the size.
  move(207, 124);
  Button1->setFocus();
}

TForm1::~TForm1() = default;

namespace {

// Capture-window messages go only to a window that exists.
void SendToCaptureWindow(UINT message, WPARAM wParam) {
  if (IsWindow(CaptureWnd))
    SendMessageA(CaptureWnd, message, wParam, 0);
}

}  // namespace

void TForm1::Button1Click() {
  // A window left open would keep the camera to itself, out of reach of every command.
  if (IsWindow(CaptureWnd)) {
    SendToCaptureWindow(WM_CAP_DRIVER_DISCONNECT, 0);
    DestroyWindow(CaptureWnd);
  }
  CaptureWnd = capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 0, 0,
                                       Panel1->width(), Panel1->height(), Panel1, 0);
  ShowMessage(QStringLiteral("未連結攝影機"));
  SendToCaptureWindow(WM_CAP_DRIVER_CONNECT, 0);
  SendToCaptureWindow(WM_CAP_SET_OVERLAY, 1);
  SendToCaptureWindow(WM_CAP_SET_PREVIEW, 1);
  SendToCaptureWindow(WM_CAP_SET_SCALE, 1);
  SendToCaptureWindow(WM_CAP_SET_PREVIEWRATE, 33);
}

void TForm1::Button3Click() {
  SendToCaptureWindow(WM_CAP_DRIVER_DISCONNECT, 0);
  DestroyWindow(CaptureWnd);
}

void TForm1::Button2Click() {
  TBitmap bitmap;
  bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  SendToCaptureWindow(WM_CAP_EDIT_COPY, 0);
  if (Clipboard()->HasFormat(CF_DIB)) {
    AssignClipboardPicture(&bitmap);
    Image1->Picture()->Assign(&bitmap);
  }
}

void TForm1::Button4Click() {}

void TForm1::Button7Click() {}

void TForm1::Button5Click() {}

void TForm1::Button6Click() {}
