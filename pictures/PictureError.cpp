// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureError.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>
#include <mutex>

#include "FileNames.h"
#include "PictureFile.h"

namespace {

constexpr char kContext[] = "PictureFault";

// A reason's source text in the language of its reader.
using TTranslate = QString (*)(const char* source);

// The window speaks Traditional Chinese whatever the locale, from its own copy of the catalogue.
QString InWindowLanguage(const char* source) {
  static std::mutex mutex;  // failures are raised on readers' threads too
  static const QTranslator* const chinese = [] {
    auto* translator = new QTranslator;
    if (!translator->load(QStringLiteral(":/i18n/ccdlab-pictures_zh_TW.qm")))
      qWarning("the Traditional Chinese failure texts are missing");
    return translator;
  }();
  const std::lock_guard lock(mutex);
  const QString text = chinese->translate(kContext, source);
  return text.isEmpty() ? QString::fromUtf8(source) : text;
}

QString InLocale(const char* source) {
  return QCoreApplication::translate(kContext, source);
}

// Why a picture failed, written once: the English here, every other language in the catalogues.
// A detail the system gives or a number the file declares makes a text of its own.
QString Reason(PictureFault fault, const QString& detail, QSize declared, int number,
               TTranslate translate) {
  const auto withDetail = [&](const char* plain, const char* detailed) {
    return detail.isEmpty() ? translate(plain) : translate(detailed).arg(detail);
  };
  switch (fault) {
    case PictureFault::NotFound:
      return translate(QT_TRANSLATE_NOOP("PictureFault", "no such file"));
    case PictureFault::NotRegularFile:
      return translate(
          QT_TRANSLATE_NOOP("PictureFault", "not a regular file (a folder, pipe or device)"));
    case PictureFault::NoPermission:
      return translate(QT_TRANSLATE_NOOP("PictureFault", "permission denied"));
    case PictureFault::NotAPicture:
      return translate(QT_TRANSLATE_NOOP("PictureFault", "not a picture format ccdlab reads"));
    case PictureFault::EmptyFile:
      return translate(QT_TRANSLATE_NOOP("PictureFault", "the file is empty"));
    case PictureFault::Damaged:
      return translate(QT_TRANSLATE_NOOP("PictureFault", "the picture is damaged or incomplete"));
    case PictureFault::TooLarge:
      if (declared.isValid())
        return translate(
                   QT_TRANSLATE_NOOP("PictureFault",
                                     "the picture is too large (%1 x %2 pixels; at most %3 x %3)"))
            .arg(declared.width())
            .arg(declared.height())
            .arg(kMaxPictureSide);
      return translate(QT_TRANSLATE_NOOP("PictureFault",
                                         "the picture is too large (at most %1 x %1 pixels)"))
          .arg(kMaxPictureSide);
    case PictureFault::UnsupportedSamples:
      if (number > 0)
        return translate(
                   QT_TRANSLATE_NOOP("PictureFault",
                                     "samples of %1 bits are not supported (1, 2, 4, 8 or 16 are)"))
            .arg(number);
      return translate(
          QT_TRANSLATE_NOOP("PictureFault", "floating-point or signed samples are not supported"));
    case PictureFault::UnsupportedColours:
      return withDetail(QT_TRANSLATE_NOOP("PictureFault", "the colour model is not supported"),
                        QT_TRANSLATE_NOOP("PictureFault", "the colour model %1 is not supported"));
    case PictureFault::ReadError:
      return withDetail(QT_TRANSLATE_NOOP("PictureFault", "read error"),
                        QT_TRANSLATE_NOOP("PictureFault", "read error (%1)"));
    case PictureFault::OutOfMemory:
      return translate(QT_TRANSLATE_NOOP("PictureFault", "not enough memory"));
    case PictureFault::TooManyScans:
      return translate(QT_TRANSLATE_NOOP("PictureFault",
                                         "the progressive picture has more than %1 scans, too "
                                         "many to decode in reasonable time"))
          .arg(number);
    case PictureFault::NoFolder:
      return translate(QT_TRANSLATE_NOOP("PictureFault", "the folder '%1' does not exist"))
          .arg(ShownFileName(QDir::toNativeSeparators(detail)));
    case PictureFault::CannotWrite:
      return withDetail(QT_TRANSLATE_NOOP("PictureFault", "write error"),
                        QT_TRANSLATE_NOOP("PictureFault", "write error (%1)"));
    case PictureFault::DiskFull:
      return withDetail(QT_TRANSLATE_NOOP("PictureFault", "the disk is full"),
                        QT_TRANSLATE_NOOP("PictureFault", "the disk is full (%1)"));
    case PictureFault::UnsupportedSaveFormat: {
      QStringList extensions;
      for (const PictureFormatInfo& info : PictureFormats())
        if (info.writable)
          extensions << QStringLiteral(".") + QLatin1String(info.name);
      return translate(QT_TRANSLATE_NOOP("PictureFault", "not a format ccdlab writes; use %1"))
          .arg(extensions.join(translate(QT_TRANSLATE_NOOP("PictureFault", ", "))));
    }
    case PictureFault::NothingToSave:
      return translate(QT_TRANSLATE_NOOP("PictureFault", "there is no picture to write"));
  }
  return {};
}

QString Sentence(PictureAction action, const QString& fileName, const QString& reason) {
  if (fileName.isEmpty())
    return reason;
  const QString what = action == PictureAction::Open ? QStringLiteral("無法開啟圖檔「%1」：%2")
                                                     : QStringLiteral("無法儲存圖檔「%1」：%2");
  return what.arg(ShownFileName(QDir::toNativeSeparators(fileName)), reason);
}

}  // namespace

PictureFileError::PictureFileError(PictureAction action, QString fileName, PictureFault fault,
                                   QString detail, QSize declared, int number)
    : Exception(
          Sentence(action, fileName, Reason(fault, detail, declared, number, InWindowLanguage))),
      action_(action),
      fileName_(std::move(fileName)),
      fault_(fault),
      detail_(std::move(detail)),
      declared_(declared),
      number_(number) {}

QString PictureFailureReason(const PictureFileError& error) {
  return Reason(error.Fault(), error.Detail(), error.Declared(), error.Number(), InWindowLanguage);
}

QString PictureFailureReasonInLocale(const PictureFileError& error) {
  return Reason(error.Fault(), error.Detail(), error.Declared(), error.Number(), InLocale);
}

void InstallPictureFailureLanguage() {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (translator->load(QStringLiteral(":/i18n/ccdlab-pictures_zh_TW.qm")))
    QCoreApplication::installTranslator(translator);
  else
    delete translator;
}

QString PictureFailureSentence(const PictureFileError& error) {
  return error.Message();
}
