// SPDX-License-Identifier: GPL-3.0-or-later
#include "Options.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>
#include <QTranslator>
#include <cstdio>

#include "ManualPage.h"

namespace {

class Options {
  Q_DECLARE_TR_FUNCTIONS(Options)
};

bool IsTraditionalChinese(const QLocale& locale) {
  return locale.language() == QLocale::Chinese &&
         locale.script() == QLocale::TraditionalChineseScript;
}

// Under a zh_TW or zh_HK locale the terminal gets Traditional Chinese too, as from ccdlab-cli.
void InstallLanguage(const QLocale& locale) {
  if (!IsTraditionalChinese(locale))
    return;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QStringLiteral(":/i18n/ccdlab_zh_TW.qm")))
    QCoreApplication::installTranslator(translator);
  else
    delete translator;
  InstallManualPageLanguage();
}

int Print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  const bool written = std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()),
                                   stream) == static_cast<std::size_t>(bytes.size());
  return written && std::fflush(stream) == 0 ? 0 : 1;
}

}  // namespace

QString HelpText() {
  return Options::tr(
      "usage: ccdlab [OPTION]\n"
      "\n"
      "Opens the ccdlab window: a live camera preview or a picture file, turned into grey\n"
      "levels, into black and white by a threshold picked on a slider with a live preview or\n"
      "by one of ImageJ's automatic methods, or into edges by a 3 x 3 Laplacian, the\n"
      "operations chained at will. Viewers show any picture zoomed, with its pixel values\n"
      "and its histogram. The window speaks Traditional Chinese. It needs an X server or a\n"
      "Wayland compositor; without one it says so and ends. ccdlab-cli runs the same\n"
      "operations on picture files without a display.\n"
      "\n"
      "Options:\n"
      "  --help     print this text\n"
      "  --version  print the version and the licence\n"
      "\n"
      "Environment:\n"
      "  CCDLAB_CAPTURE_SOURCE  a GStreamer source in gst-launch-1.0 syntax standing in for\n"
      "                         every camera, such as 'videotestsrc pattern=smpte'\n"
      "  CCDLAB_SIMD            the widest instruction set the pixel operations may use,\n"
      "                         by Highway's name for it, such as AVX2\n"
      "  DISPLAY, WAYLAND_DISPLAY\n"
      "                         the X server or the Wayland compositor the window opens on;\n"
      "                         QT_QPA_PLATFORM (xcb or wayland) chooses between them\n"
      "\n"
      "Exit status:\n"
      "  0  the window was closed\n"
      "  1  no display could be reached\n"
      "  2  a usage error\n");
}

std::optional<int> HandleCommandLine(int argc, char** argv) {
  if (argc < 2)
    return std::nullopt;
  // For the translations only; the window's toolkit comes later, if at all.
  int count = argc;
  QCoreApplication application(count, argv);
  const QStringList arguments = QCoreApplication::arguments().mid(1);
  if (arguments.size() == 1 && arguments[0].startsWith(QLatin1String("--manual-page="))) {
    const QLocale locale(arguments[0].section(QLatin1Char('='), 1));
    InstallLanguage(locale);
    return Print(stdout,
                 ManualPageSource({QStringLiteral("ccdlab"),
                                   Options::tr("camera picture and image-operation workbench"),
                                   HelpText(),
                                   {QStringLiteral("ccdlab-cli(1)")},
                                   IsTraditionalChinese(locale)}));
  }
  InstallLanguage(QLocale::system());
  if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h")))
    return Print(stdout, HelpText());
  if (arguments.contains(QLatin1String("--version")))
    return Print(stdout, VersionText(QStringLiteral("ccdlab")));
  const QString why = arguments[0].startsWith(QLatin1Char('-'))
                          ? Options::tr("unknown option %1").arg(arguments[0])
                          : Options::tr("unexpected argument %1: pictures are opened in the window")
                                .arg(arguments[0]);
  Print(stderr, QStringLiteral("ccdlab: %1\n%2\n%3\n")
                    .arg(why, HelpText().section(QLatin1Char('\n'), 0, 0),
                         Options::tr("Try 'ccdlab --help' for more information.")));
  return 2;
}
