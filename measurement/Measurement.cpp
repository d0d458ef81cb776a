// SPDX-License-Identifier: GPL-3.0-or-later
#include "Measurement.h"

#include <ostream>

#include "Commands.h"

TMeasurement MeasureParticles(const TBitmap& picture, const TMeasureOptions& options) {
  (void)options;
  if (!IsOfKind(picture, TPictureKind::BlackAndWhite))
    throw TRefusedPicture(KindRefusal(TPictureKind::BlackAndWhite));
  return {};
}

std::optional<std::pair<double, std::string>> ParseScale(std::string_view) {
  return {};
}

std::string TableHeader(const TMeasureOptions&, const TTableStyle&) {
  return {};
}

void WriteTableRows(std::ostream&, const TMeasurement&, const TMeasureOptions&, std::string_view,
                    const TTableStyle&) {}

std::string SummaryHeader(const TMeasureOptions&, const TTableStyle&) {
  return {};
}

void WriteSummaryRow(std::ostream&, const TSummary&, std::string_view, const TTableStyle&) {}

std::string CsvField(std::string_view text, char) {
  return std::string(text);
}
