#include "Application.h"

#include <xcb/xcb.h>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "Exception.h"
#include "Fonts.h"
#include "Language.h"
#include "ToolkitFormats.h"

namespace {

// Catches every failure escaping an event handler, so that a failed command is reported and the
// program goes on. Nested modal loops deliver their events through here as well.
class MessageLoop final : public QApplication {
 public:
  MessageLoop(int& argc, char** argv) : QApplication(argc, argv) {}

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const Exception& exception) {
      Application->ShowException(&exception);
    } catch (const std::bad_alloc&) {
      const Exception exception(QStringLiteral("記憶體不足，無法完成這項操作。"));
      Application->ShowException(&exception);
    } catch (...) {
      const Exception exception(QString{});
      Application->ShowException(&exception);
    }
    return false;
  }
};

bool DisplayAvailable() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (!platform.isEmpty() && !platform.startsWith("xcb"))
    return true;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool connected = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return connected;
}

}  // namespace

TApplication* const Application = new TApplication();

QString ApplicationTitle() {
  return QStringLiteral("ccdlab");
}

TApplication::TApplication() = default;

TApplication::~TApplication() = default;

void TApplication::Initialize() {
  if (toolkit_)
    return;
  if (!DisplayAvailable()) {
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray why =
        display.isEmpty() ? "DISPLAY is not set" : "cannot connect to X display " + display;
    std::fprintf(stderr,
                 "ccdlab: no display available (%s); to run it on a virtual X server: "
                 "xvfb-run -a build/bin/ccdlab\n",
                 why.constData());
    std::exit(1);
  }
  static char name[] = "ccdlab";
  static char* argv[] = {name, nullptr};
  static int argc = 1;
  toolkit_ = std::make_unique<MessageLoop>(argc, argv);
  QApplication::setApplicationName(ApplicationTitle());
  // Ties the windows to the menu entry, and gives them the icon the menu shows even before the
  // program is installed.
  QGuiApplication::setDesktopFileName(QStringLiteral("ccdlab"));
  QApplication::setWindowIcon(
      QIcon::fromTheme(QStringLiteral("ccdlab"), QIcon(QStringLiteral(":/icons/ccdlab.png"))));
  InstallFontSubstitutes();
  InstallTraditionalChinese();
  InstallToolkitFormats();
}

void TApplication::Adopt(QWidget* form) {
  forms_.push_back(form);
}

void TApplication::Run() {
  if (QWidget* main = MainForm()) {
    main->show();
    QApplication::exec();
  }
  Finalize();
}

void TApplication::ShowException(const Exception* exception) {
  const QString text = exception ? exception->Message() : QString{};
  if (!toolkit_) {
    std::fprintf(stderr, "ccdlab: %s\n", text.toLocal8Bit().constData());
    return;
  }
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

void TApplication::Finalize() {
  while (!forms_.empty()) {
    delete forms_.back();
    forms_.pop_back();
  }
  toolkit_.reset();
}
