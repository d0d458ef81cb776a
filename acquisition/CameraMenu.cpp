// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraMenu.h"

#include <QActionGroup>
#include <QMenu>

#include "CaptureWindow.h"

TCameraMenu::TCameraMenu(QWidget* panel)
    : QObject(panel),
      panel_(panel),
      menu_(new QMenu(panel)),
      viewer_(new QAction(QStringLiteral("檢視…"), this)) {
  setObjectName(QStringLiteral("CameraMenu"));
  menu_->setObjectName(QStringLiteral("CameraMenu"));
  viewer_->setObjectName(QStringLiteral("LiveViewerAction"));
  // A right click on the capture window reaches the panel too: the window leaves it unhandled.
  panel_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(panel_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& position) { Menu()->popup(panel_->mapToGlobal(position)); });
}

QMenu* TCameraMenu::Menu() {
  if (TCameras::StandIn().isEmpty()) {
    if (TCameras* cameras = TCameras::Instance()) {
      // A camera plugged in or out while the menu is up shows at once.
      connect(cameras, &TCameras::Changed, this, &TCameraMenu::Update, Qt::UniqueConnection);
      cameras->Refresh();
    }
  }
  Fill();
  return menu_;
}

void TCameraMenu::Fill() {
  menu_->clear();
  for (QActionGroup* group : menu_->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly))
    delete group;
  menu_->addAction(viewer_);
  menu_->addSeparator();

  const QByteArray standIn = TCameras::StandIn();
  if (!standIn.isEmpty()) {
    QAction* source =
        menu_->addAction(QStringLiteral("CCDLAB_CAPTURE_SOURCE：%1")
                             .arg(menu_->fontMetrics().elidedText(QString::fromLocal8Bit(standIn),
                                                                  Qt::ElideRight, 400)));
    source->setCheckable(true);
    source->setChecked(true);
    source->setEnabled(false);
    menu_->addAction(QStringLiteral("（環境變數指定的來源取代所有攝影機）"))->setEnabled(false);
    return;
  }
  TCameras* cameras = TCameras::Instance();
  if (cameras == nullptr || cameras->List().empty()) {
    menu_->addAction(QStringLiteral("無攝影機"))->setEnabled(false);
    return;
  }

  const int current = cameras->Current();
  const TCamera& inUse = cameras->List()[current];
  auto* names = new QActionGroup(menu_);
  menu_->addSection(QStringLiteral("攝影機"));
  for (int i = 0; i < static_cast<int>(cameras->List().size()); ++i) {
    const QString name = cameras->List()[i].name;
    QAction* action = menu_->addAction(name);
    action->setCheckable(true);
    action->setChecked(i == current);
    names->addAction(action);
    connect(action, &QAction::triggered, this, [this, name] { Choose(name, {}); });
  }
  auto* sizes = new QActionGroup(menu_);
  menu_->addSection(QStringLiteral("影像大小"));
  const TCaptureFormat format = cameras->CurrentFormat();
  for (const TCaptureFormat& offered : inUse.formats) {
    QAction* action = menu_->addAction(CaptureFormatLabel(offered));
    action->setCheckable(true);
    action->setChecked(offered == format);
    sizes->addAction(action);
    connect(action, &QAction::triggered, this,
            [this, name = inUse.name, offered] { Choose(name, offered); });
  }
}

void TCameraMenu::Update() {
  if (menu_->isVisible())
    Fill();
}

void TCameraMenu::Choose(const QString& camera, const TCaptureFormat& format) {
  TCameras* cameras = TCameras::Instance();
  if (cameras == nullptr)
    return;
  const int before = cameras->Current();
  const TCaptureFormat formatBefore = cameras->CurrentFormat();
  cameras->Choose(camera, format);
  const bool same = cameras->Current() == before && cameras->CurrentFormat() == formatBefore;
  // One capture window at most: open replaces the one before.
  for (TCaptureWindow* window : panel_->findChildren<TCaptureWindow*>(Qt::FindDirectChildrenOnly)) {
    if (!same || !window->Connected())
      capture::SendMessageA(window->Handle(), capture::WM_CAP_DRIVER_CONNECT, 0, 0);
  }
}
