// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Measurement.h"

// "記錄…": one CSV row for each frame measured (time, count, total area, mean area, area
// fraction), written by whichever thread measured it and flushed at once, so that the file is
// complete up to the last frame whenever the program or the camera stops.
class TMeasureLog {
 public:
  // Creates or empties `fileName` and writes the header, areas in `unit` (empty: pixels). Raises
  // nothing: a file that cannot be written gives none and the reason in `error`.
  static std::shared_ptr<TMeasureLog> Open(const QString& fileName, const std::string& unit,
                                           QString* error);
  ~TMeasureLog();
  TMeasureLog(const TMeasureLog&) = delete;
  TMeasureLog& operator=(const TMeasureLog&) = delete;

  void Write(std::chrono::system_clock::time_point time, const TSummary& summary);

  QString FileName() const { return fileName_; }
  std::uint64_t Rows() const;
  // Why the last row could not be written; rows after a failure are not written.
  std::optional<QString> Failure() const;

 private:
  TMeasureLog(const QString& fileName, std::FILE* file);

  QString fileName_;
  mutable std::mutex mutex_;
  std::FILE* file_;
  std::uint64_t rows_ = 0;
  std::optional<QString> failure_;
};
