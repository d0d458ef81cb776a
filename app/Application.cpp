// SPDX-License-Identifier: GPL-3.0-or-later
#include "Application.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <QIcon>
#include <QMessageBox>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Commands.h"
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

bool XServerAnswers() {
  if (qEnvironmentVariableIsEmpty("DISPLAY"))
    return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool connected = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return connected;
}

// A Wayland compositor listens on a socket named by WAYLAND_DISPLAY (by default "wayland-0"), in
// XDG_RUNTIME_DIR unless the name is a path.
bool WaylandAnswers() {
  QByteArray name = qgetenv("WAYLAND_DISPLAY");
  if (name.isEmpty())
    name = "wayland-0";
  if (!name.startsWith('/')) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
      return false;
    name = runtime + '/' + name;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.size() >= static_cast<qsizetype>(sizeof address.sun_path))
    return false;
  std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// Whether the platform the toolkit will choose can show windows. The toolkit picks Wayland or X
// itself (QT_QPA_PLATFORM overrides it); without either it would end the process with a message
// about plugins, so the program says plainly what is missing first.
bool DisplayAvailable() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform.startsWith("xcb"))
    return XServerAnswers();
  if (platform.startsWith("wayland"))
    return WaylandAnswers();
  if (!platform.isEmpty())
    return true;  // offscreen, vnc and the like need no display
  return WaylandAnswers() || XServerAnswers();
}

}  // namespace

TApplication* const Application = new TApplication();

QString ApplicationTitle() {
  return QStringLiteral("ccdlab");
}

TApplication::TApplication() = default;

TApplication::~TApplication() = default;

void TApplication::Initialize() {
  if (toolkit_ || QCoreApplication::instance() != nullptr)
    return;
  if (!DisplayAvailable()) {
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray why =
        (display.isEmpty() ? QByteArray("DISPLAY is not set")
                           : "cannot connect to X display " + display) +
        (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
             ? ", no Wayland compositor"
             : ", cannot connect to Wayland display " + qgetenv("WAYLAND_DISPLAY"));
    // The command as the user gave it: an installed program, or one in a build folder.
    const std::string program = ShellQuoted(program_invocation_name);
    std::fprintf(stderr,
                 "ccdlab: no display available (%s); to run it on a virtual X server: "
                 "xvfb-run -a %s\n",
                 why.constData(), program.c_str());
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
  // Qt 6.4's Wayland client can deadlock taking down its display connection (the main thread
  // waits for the event thread, which waits for a read the main thread prepared); the process
  // is ending, so the toolkit is left for the system to reclaim there.
  if (toolkit_ && QGuiApplication::platformName() == QLatin1String("wayland"))
    static_cast<void>(toolkit_.release());
  toolkit_.reset();
}
