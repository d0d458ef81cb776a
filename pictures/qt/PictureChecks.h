// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QRect>
#include <QSize>
#include <optional>

#include "PictureFile.h"

// Structural checks of picture files, made before a decoder sees them: the decoders of the
// toolkit report some truncated or inconsistent files as read, with pixels that were never
// written or filled with a default colour.
struct PictureCheck {
  std::optional<PictureFault> fault;
  // The size the header declares, when the check knows it.
  QSize declared;
  // A picture the check decoded itself (compressed BMPs), to be used instead of the toolkit's.
  QImage decoded;
  // For uncompressed BMPs: where the pixel data ends; the decoder must have read up to here.
  qint64 dataEnd = -1;
  // For GIFs: where the first frame's descriptor lies, the frame and whether it is interlaced.
  qint64 gifFrameAt = -1;
  QRect gifFrame;
  bool gifInterlaced = false;
};

// Checks the file's structure for a format the toolkit reads ("bmp", "gif", "pbm", ...).
// Formats without a check pass. The device position is left undefined.
PictureCheck CheckPictureFile(QIODevice& file, qint64 fileSize, const QByteArray& format);

inline bool SideTooLarge(qint64 width, qint64 height) {
  return width > kMaxPictureSide || height > kMaxPictureSide;
}
