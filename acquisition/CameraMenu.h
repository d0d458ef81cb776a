#pragma once

#include <QObject>

class QMenu;
class QWidget;
struct TCaptureFormat;

// The camera panel's context menu: the cameras the device monitor knows, the one in use checked,
// and the sizes it offers. A choice reconnects the capture window in the panel, whatever its
// camera is doing; with none open, the next open uses it. It adds nothing to the window's layout.
class TCameraMenu : public QObject {
  Q_OBJECT

 public:
  explicit TCameraMenu(QWidget* panel);

  // The menu as it pops up now.
  QMenu* Menu();

 private:
  void Fill();
  void Update();
  void Choose(const QString& camera, const TCaptureFormat& format);

  QWidget* panel_;
  QMenu* menu_;
};
