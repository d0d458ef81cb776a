// SPDX-License-Identifier: GPL-3.0-or-later
#include "MeasureLog.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <cerrno>
#include <cstring>

namespace {

// Numbers as C writes them whatever the user's locale: a spreadsheet reads them as numbers.
QByteArray Number(double value) {
  return QByteArray::number(value, 'f', 3);
}

QString Reason(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

std::shared_ptr<TMeasureLog> TMeasureLog::Open(const QString& fileName, const std::string& unit,
                                               QString* error) {
  std::FILE* file = std::fopen(QFile::encodeName(fileName).constData(), "wb");
  if (file == nullptr) {
    *error = Reason(errno);
    return nullptr;
  }
  QByteArray suffix;
  if (!unit.empty()) {
    // Plain letters in the header, as the measurement table's.
    QString ascii = QString::fromStdString(unit);
    ascii.replace(QChar(0xb5), QLatin1Char('u')).replace(QChar(0x3bc), QLatin1Char('u'));
    suffix = '_' + ascii.toUtf8() + "^2";
  }
  const QByteArray header =
      "time,count,total_area" + suffix + ",mean_area" + suffix + ",area_fraction\n";
  if (std::fputs(header.constData(), file) == EOF || std::fflush(file) != 0) {
    *error = Reason(errno);
    std::fclose(file);
    return nullptr;
  }
  return std::shared_ptr<TMeasureLog>(new TMeasureLog(fileName, file));
}

TMeasureLog::TMeasureLog(const QString& fileName, std::FILE* file)
    : fileName_(fileName), file_(file) {}

TMeasureLog::~TMeasureLog() {
  std::fclose(file_);
}

void TMeasureLog::Write(std::chrono::system_clock::time_point time, const TSummary& summary) {
  const qint64 ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  QByteArray row = QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODateWithMs).toLatin1();
  row += ',' + QByteArray::number(summary.count) + ',' + Number(summary.totalArea) + ',' +
         Number(summary.averageSize) + ',' + Number(summary.areaFraction) + '\n';
  std::lock_guard lock(mutex_);
  if (failure_)
    return;
  // Flushed row by row: a program or camera stopping leaves every row written whole.
  if (std::fwrite(row.constData(), 1, static_cast<std::size_t>(row.size()), file_) !=
          static_cast<std::size_t>(row.size()) ||
      std::fflush(file_) != 0) {
    failure_ = Reason(errno);
    return;
  }
  ++rows_;
}

std::uint64_t TMeasureLog::Rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::optional<QString> TMeasureLog::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}
