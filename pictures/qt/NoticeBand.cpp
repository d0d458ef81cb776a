// SPDX-License-Identifier: GPL-3.0-or-later
#include "NoticeBand.h"

#include <QColor>
#include <QFontMetrics>

void PaintNoticeBand(QPainter& painter, const QRect& view, const QFont& font, const QString& line,
                     bool overPicture) {
  const int lineHeight = QFontMetrics(font).height() + 6;
  const int top =
      overPicture ? view.bottom() + 1 - lineHeight : view.top() + (view.height() - lineHeight) / 2;
  const QRect band(view.left(), top, view.width(), lineHeight);
  painter.fillRect(band, QColor(0, 0, 0, 160));
  painter.setPen(Qt::white);
  painter.drawText(band, Qt::AlignCenter, line);
}
