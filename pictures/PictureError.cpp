// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureError.h"

#include <QDir>

#include "FileNames.h"
#include "PictureFile.h"

namespace {

QString WithDetail(const QString& reason, const QString& detail) {
  return detail.isEmpty() ? reason : QStringLiteral("%1（%2）").arg(reason, detail);
}

QString Reason(PictureFault fault, const QString& detail, QSize declared, int number) {
  switch (fault) {
    case PictureFault::NotFound:
      return QStringLiteral("找不到這個檔案。");
    case PictureFault::NotRegularFile:
      return QStringLiteral("這不是一般檔案（可能是資料夾、具名管道或裝置），不能當作圖檔使用。");
    case PictureFault::NoPermission:
      return QStringLiteral("沒有存取這個檔案的權限。");
    case PictureFault::NotAPicture:
      return QStringLiteral("這不是本程式能讀取的圖檔格式。");
    case PictureFault::EmptyFile:
      return QStringLiteral("檔案是空的。");
    case PictureFault::Damaged:
      return QStringLiteral("圖檔已損毀或不完整。");
    case PictureFault::TooLarge: {
      QString reason =
          QStringLiteral("圖片太大，最大只能開啟 %1 × %1 像素的圖片。").arg(kMaxPictureSide);
      if (declared.isValid())
        reason += QStringLiteral("（這張圖片宣告為 %1 × %2 像素）")
                      .arg(declared.width())
                      .arg(declared.height());
      return reason;
    }
    case PictureFault::UnsupportedSamples:
      if (number > 0)
        return QStringLiteral("圖片每個樣本 %1 位元，本程式只能讀取 1、2、4、8 或 16 位元的樣本。")
            .arg(number);
      return QStringLiteral("圖片的樣本是浮點數或有號整數，本程式只能讀取無號整數的樣本。");
    case PictureFault::UnsupportedColours:
      return WithDetail(QStringLiteral("本程式無法轉換這張圖片的色彩模式"), detail) +
             QStringLiteral("。");
    case PictureFault::ReadError:
      return WithDetail(QStringLiteral("讀取檔案時發生錯誤"), detail) + QStringLiteral("。");
    case PictureFault::OutOfMemory:
      return QStringLiteral("記憶體不足，無法處理這張圖片。");
    case PictureFault::TooManyScans:
      return QStringLiteral("這張漸進式圖片分成超過 %1 次掃描，解碼會耗費過多時間，因此不予開啟。")
          .arg(number);
    case PictureFault::NoFolder:
      return QStringLiteral("資料夾「%1」不存在。")
          .arg(ShownFileName(QDir::toNativeSeparators(detail)));
    case PictureFault::CannotWrite:
      return WithDetail(QStringLiteral("寫入失敗"), detail) + QStringLiteral("。");
    case PictureFault::DiskFull:
      return WithDetail(QStringLiteral("磁碟已滿，寫入失敗"), detail) + QStringLiteral("。");
    case PictureFault::UnsupportedSaveFormat: {
      QStringList extensions;
      for (const PictureFormatInfo& info : PictureFormats())
        if (info.writable)
          extensions << QStringLiteral(".") + QLatin1String(info.name);
      return QStringLiteral("不支援這種檔案格式，請使用 %1。")
          .arg(extensions.join(QStringLiteral("、")));
    }
    case PictureFault::NothingToSave:
      return QStringLiteral("沒有圖片可以儲存。");
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
    : Exception(Sentence(action, fileName, Reason(fault, detail, declared, number))),
      action_(action),
      fileName_(std::move(fileName)),
      fault_(fault),
      detail_(std::move(detail)),
      declared_(declared),
      number_(number) {}

QString PictureFailureReason(const PictureFileError& error) {
  return Reason(error.Fault(), error.Detail(), error.Declared(), error.Number());
}

QString PictureFailureSentence(const PictureFileError& error) {
  return error.Message();
}
