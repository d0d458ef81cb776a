// SPDX-License-Identifier: GPL-3.0-or-later
#include "Unit1.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QShowEvent>
#include <QTimer>
#include <map>
#include <string>

#include "Bitmap.h"
#include "CameraMenu.h"
#include "CaptureWindow.h"
#include "Clipboard.h"
#include "ClipboardPicture.h"
#include "Commands.h"
#include "Dialogs.h"
#include "ImageViewMenu.h"
#include "LiveViewer.h"
#include "MeasureWindow.h"
#include "Unit2.h"
#include "ViewerLink.h"
#include "WindowPlacement.h"

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
  // Made after the views, so that it goes after them: they show its images to the last.
  workbench_ = new TWorkbench(this);
  Image1->Picture()->Bind(&workbench_->Main());
  Image2->Picture()->Bind(&workbench_->Processed());
  connect(workbench_, &TWorkbench::LiveChainChanged, this, &TForm1::LiveChainChanged);
  // The stored window position; uic applies only the size. Moved only as far as a small screen
  // needs to show the whole window.
  move(207, 124);
  KeepWithinScreen(this);
  setAcceptDrops(true);
  new TImageViewMenu(Image1);
  auto* processedViewMenu = new TImageViewMenu(Image2);
  QMenu* processedMenu = processedViewMenu->Menu();
  // With the viewer it outlines in, and in the viewer by its key.
  QAction* measure = new QAction(QStringLiteral("量測…"), this);
  measure->setObjectName(QStringLiteral("MeasureAction"));
  measure->setShortcut(Qt::Key_M);
  measure->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  // Once the menu has closed, so that the windows open over no menu grabbing the mouse.
  connect(measure, &QAction::triggered, this, &TForm1::OpenMeasureWindow, Qt::QueuedConnection);
  processedMenu->addSeparator();
  QAction* undo = processedMenu->addAction(QStringLiteral("復原"), this, &TForm1::Undo);
  undo->setObjectName(QStringLiteral("UndoAction"));
  QAction* redo = processedMenu->addAction(QStringLiteral("取消復原"), this, &TForm1::Redo);
  redo->setObjectName(QStringLiteral("RedoAction"));
  QAction* command =
      processedMenu->addAction(QStringLiteral("複製為指令"), this, &TForm1::CopyProcessedCommand);
  command->setObjectName(QStringLiteral("CopyCommandAction"));
  processedMenu->addSeparator();
  processedMenu->addAction(measure);
  AddOperationMenus(processedMenu, undo);
  connect(processedMenu, &QMenu::aboutToShow, this, [this, undo, redo, command] {
    undo->setEnabled(CanUndo());
    redo->setEnabled(CanRedo());
    command->setEnabled(!ProcessedCommand().isEmpty());
  });
  new TCameraMenu(Panel1);
  new TViewerLink(Image1, Label2->text(), workbench_);
  (new TViewerLink(Image2, Label4->text(), workbench_))->AddViewerAction(measure);
  new TLiveViewerLink(this, workbench_);
  Button1->setFocus();
}

TForm1::~TForm1() {
  delete measureWindow_.data();
  delete OpenPictureDialog1;
}

TMeasureWindow* TForm1::OpenMeasureWindow() {
  TViewerLink* link = TViewerLink::Of(Image2);
  link->Open();
  if (measureWindow_ == nullptr) {
    // A window of its own, like the viewers, so that it can stand beside them.
    measureWindow_ = new TMeasureWindow(Image2, link, workbench_);
    measureWindow_->setAttribute(Qt::WA_DeleteOnClose);
    PlaceBesideMainWindow(measureWindow_, this);
  }
  measureWindow_->show();
  measureWindow_->raise();
  measureWindow_->activateWindow();
  return measureWindow_;
}

namespace {

// Capture-window messages go only to a window that exists.
void SendToCaptureWindow(capture::UINT message, capture::WPARAM wParam) {
  using namespace capture;
  if (IsWindow(CaptureWnd))
    SendMessageA(CaptureWnd, message, wParam, 0);
}

}  // namespace

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The window manager's frame is known once the window is up: the title bar may take it past the
  // screen's edge.
  if (!event->spontaneous())
    QTimer::singleShot(0, this, [this] { KeepWithinScreen(this); });
}

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
    workbench_->TakeFrame(std::move(bitmap));
  }
}

void TForm1::Button4Click() {
  workbench_->Run({TOperation::Grey});
}

// The operations beyond the buttons, in submenus named by their records, before `before`.
void TForm1::AddOperationMenus(QMenu* menu, QAction* before) {
  std::map<std::string, QMenu*> submenus;
  for (const TOperationInfo& info : Operations()) {
    if (info.menu == nullptr)
      continue;
    QMenu*& submenu = submenus[info.menu];
    if (submenu == nullptr) {
      submenu = new QMenu(QString::fromUtf8(info.menu), menu);
      menu->insertMenu(before, submenu);
    }
    QAction* action =
        submenu->addAction(QString::fromUtf8(info.name), this,
                           [this, operation = info.operation] { workbench_->Run({operation}); });
    action->setObjectName(QStringLiteral("Operation_") + QLatin1String(info.word));
  }
  if (!submenus.empty())
    menu->insertSeparator(before);
}

void TForm1::Button7Click() {
  if (OpenPictureDialog1->Execute())
    OpenPictureFile(OpenPictureDialog1->FileName);
}

// The dialog shows the threshold being tried and its slider moves it; OK applies it.
void TForm1::Button5Click() {
  BinaryDlg->Bind(workbench_);
  workbench_->BeginBinarize();
  try {
    BinaryDlg->ShowModal();
  } catch (...) {
    workbench_->CancelBinarize();
    throw;
  }
  if (BinaryDlg->ModalResult() == TBinaryDlg::mrOk)
    workbench_->AcceptBinarize();
  else
    workbench_->CancelBinarize();
}

void TForm1::Button6Click() {
  workbench_->Run({TOperation::Edges});
}

void TForm1::OpenPictureFile(const QString& fileName) {
  Image1->SetAutoSize(false);
  workbench_->OpenFile(fileName);
}

void TForm1::CopyProcessedCommand() const {
  const QString command = ProcessedCommand();
  if (!command.isEmpty())
    Clipboard()->SetText(command);
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
