#include "Unit1.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>

#include "Bitmap.h"
#include "CameraMenu.h"
#include "CaptureWindow.h"
#include "Clipboard.h"
#include "ClipboardPicture.h"
#include "Commands.h"
#include "Dialogs.h"
#include "ImageViewMenu.h"
#include "LiveViewer.h"
#include "Unit2.h"
#include "ViewerLink.h"

TForm1* Form1 = nullptr;

namespace {

// The one local file a drag carries, or an empty string.
QString DraggedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1)
    return {};
  const QUrl url = data->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), OpenPictureDialog1(new TOpenPictureDialog(this)) {
  setupUi(this);
  // The stored window position; uic applies only the size.
  move(207, 124);
  setAcceptDrops(true);
  new TImageViewMenu(Image1);
  new TImageViewMenu(Image2);
  new TCameraMenu(Panel1);
  new TViewerLink(Image1, Label2->text());
  new TViewerLink(Image2, Label4->text());
  new TLiveViewerLink(this);
  Button1->setFocus();
}

TForm1::~TForm1() {
  delete OpenPictureDialog1;
}

namespace {

// Capture-window messages go only to a window that exists.
void SendToCaptureWindow(capture::UINT message, capture::WPARAM wParam) {
  using namespace capture;
  if (IsWindow(CaptureWnd))
    SendMessageA(CaptureWnd, message, wParam, 0);
}

}  // namespace

void TForm1::Button1Click() {
  using namespace capture;
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
  using namespace capture;
  SendToCaptureWindow(WM_CAP_DRIVER_DISCONNECT, 0);
  DestroyWindow(CaptureWnd);
}

void TForm1::Button2Click() {
  using namespace capture;
  TBitmap bitmap;
  bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  SendToCaptureWindow(WM_CAP_EDIT_COPY, 0);
  if (Clipboard()->HasFormat(CF_DIB)) {
    AssignClipboardPicture(&bitmap);
    Image1->Picture()->Assign(&bitmap);
  }
}

void TForm1::Button4Click() {
  GreyCommand(*Image1->Picture()->Bitmap(), *Image2->Picture()->Bitmap());
}

void TForm1::Button7Click() {
  if (OpenPictureDialog1->Execute())
    OpenPictureFile(OpenPictureDialog1->FileName);
  else
    Image1->Picture()->Bitmap();
}

void TForm1::Button5Click() {
  TBitmap& source = PrepareBinarize(*Image1->Picture()->Bitmap(), *Image2->Picture()->Bitmap());

  BinaryDlg->Image1->SetAutoSize(false);
  BinaryDlg->Image1->SetStretch(true);
  BinaryDlg->Image1->Picture()->Bitmap()->Assign(source);
  BinaryDlg->ShowModal();
  if (BinaryDlg->ModalResult() != TBinaryDlg::mrOk)
    return;

  BinarizeCommand(source, BinaryDlg->ScrollBar1->value());
}

void TForm1::Button6Click() {
  EdgesCommand(*Image2->Picture()->Bitmap());
}

void TForm1::OpenPictureFile(const QString& fileName) {
  Image1->SetAutoSize(false);
  Image1->Picture()->LoadFromFile(fileName);
  Image1->Picture()->Bitmap();
}

TChain TForm1::LiveChain() const {
  TChain chain = chain_;
  if (chain.empty())
    chain.push_back({TOperation::Grey});
  if (BinaryDlg != nullptr && BinaryDlg->isVisible())
    chain.push_back({TOperation::Binarize, BinaryDlg->ScrollBar1->value()});
  return chain;
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!DraggedFile(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const QString fileName = DraggedFile(event->mimeData());
  if (fileName.isEmpty())
    return;
  event->acceptProposedAction();
  // Load after the drop has finished, so that a failure's message box does not hold up the
  // program the file was dragged from.
  QTimer::singleShot(0, this, [this, fileName] { OpenPictureFile(fileName); });
}
