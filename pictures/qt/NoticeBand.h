// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QPainter>
#include <QRect>
#include <QString>

// A line of text on a dark band across a view: at its foot over a picture, across its middle
// where there is none. The camera panel and the viewer show their state the same way.
void PaintNoticeBand(QPainter& painter, const QRect& view, const QFont& font, const QString& line,
                     bool overPicture);
