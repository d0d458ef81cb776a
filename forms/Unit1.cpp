#include "Unit1.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
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
  QMenu* processedMenu = (new TImageViewMenu(Image2))->Menu();
  processedMenu->addSeparator();
  QAction* undo = processedMenu->addAction(QStringLiteral("復原"), this, &TForm1::Undo);
  undo->setObjectName(QStringLiteral("UndoAction"));
  QAction* redo = processedMenu->addAction(QStringLiteral("取消復原"), this, &TForm1::Redo);
  redo->setObjectName(QStringLiteral("RedoAction"));
  QAction* command =
      processedMenu->addAction(QStringLiteral("複製為指令"), this, &TForm1::CopyProcessedCommand);
  command->setObjectName(QStringLiteral("CopyCommandAction"));
  connect(processedMenu, &QMenu::aboutToShow, this, [this, undo, redo, command] {
    undo->setEnabled(CanUndo());
    redo->setEnabled(CanRedo());
    command->setEnabled(!ProcessedCommand().isEmpty());
  });
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
    MainReplaced({});
  }
}

void TForm1::Button4Click() {
  Record();
  GreyCommand(*Image1->Picture()->Bitmap(), *Image2->Picture()->Bitmap());
  made_ = {{{TOperation::Grey}}, mainSource_};
  emit LiveChainChanged();
}

void TForm1::Button7Click() {
  if (OpenPictureDialog1->Execute())
    OpenPictureFile(OpenPictureDialog1->FileName);
  else
    Image1->Picture()->Bitmap();
}

void TForm1::Button5Click() {
  const TBitmap& main = *Image1->Picture()->Bitmap();
  TBitmap& processed = *Image2->Picture()->Bitmap();
  // Filling the processed image is a change of its own: Cancel keeps it, undo takes it back.
  const bool filling = processed.Empty() && !main.Empty();
  if (filling)
    Record();
  TBitmap& source = PrepareBinarize(main, processed);
  if (filling)
    made_ = {{}, mainSource_};

  BinaryDlg->Image1->SetAutoSize(false);
  BinaryDlg->Image1->SetStretch(true);
  BinaryDlg->Image1->Picture()->Bitmap()->Assign(source);
  BinaryDlg->ShowModal();
  if (BinaryDlg->ModalResult() != TBinaryDlg::mrOk)
    return;

  const TStep step = BinaryDlg->ChosenStep();
  if (!filling)
    Record();
  BinarizeCommand(source, BinaryDlg->ScrollBar1->value());
  made_.chain.push_back(step);
  emit LiveChainChanged();
}

void TForm1::Button6Click() {
  TBitmap& processed = *Image2->Picture()->Bitmap();
  if (!processed.Empty()) {
    Record();
    made_.chain.push_back({TOperation::Edges});
  }
  EdgesCommand(processed);
  emit LiveChainChanged();
}

void TForm1::OpenPictureFile(const QString& fileName) {
  Image1->SetAutoSize(false);
  Image1->Picture()->LoadFromFile(fileName);
  Image1->Picture()->Bitmap();
  MainReplaced(fileName);
}

void TForm1::MainReplaced(const QString& fileName) {
  ++mainSource_;
  mainFile_ = fileName;
}

void TForm1::Record() {
  history_.Record(*Image2->Picture()->Bitmap(), made_);
}

void TForm1::Undo() {
  history_.Undo(*Image2->Picture()->Bitmap(), made_);
  emit LiveChainChanged();
}

void TForm1::Redo() {
  history_.Redo(*Image2->Picture()->Bitmap(), made_);
  emit LiveChainChanged();
}

QString TForm1::ProcessedCommand() const {
  const TBitmap* processed = Image2->Picture()->Graphic();
  if (processed == nullptr || processed->Empty() || made_.source != mainSource_)
    return {};
  // A grabbed frame is not a file yet: the operator saves it under the name the line gives.
  const QString input = mainFile_.isEmpty() ? QStringLiteral("INPUT.png") : mainFile_;
  return QString::fromStdString(
      ChainCommand(made_.chain, input.toStdString(), std::string_view("OUTPUT.png")));
}

void TForm1::CopyProcessedCommand() const {
  const QString command = ProcessedCommand();
  if (!command.isEmpty())
    Clipboard()->SetText(command);
}

TChain TForm1::LiveChain() const {
  TChain chain = made_.chain;
  if (BinaryDlg != nullptr && BinaryDlg->isVisible())
    chain.push_back(BinaryDlg->ChosenStep());
  else if (chain.empty())
    chain.push_back({TOperation::Grey});
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
