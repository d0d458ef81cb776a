// SPDX-License-Identifier: GPL-3.0-or-later
#include "NoticeBand.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QImage>

namespace {

// Which rows of a white view the band darkened, seen at its left edge, where the centred text
// does not reach.
std::vector<int> DarkenedRows(bool overPicture, QRect view) {
  QImage image(200, 120, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    PaintNoticeBand(painter, view, QFont(), QStringLiteral("x"), overPicture);
  }
  std::vector<int> rows;
  for (int y = 0; y < image.height(); ++y)
    if (image.pixelColor(view.left(), y) != QColor(Qt::white))
      rows.push_back(y);
  return rows;
}

TEST(NoticeBand, LiesAtTheFootOverAPictureAndAcrossTheMiddleWithout) {
  const int lineHeight = QFontMetrics(QFont()).height() + 6;
  struct Case {
    bool overPicture;
    QRect view;
    int top;
  };
  for (const Case& c : {Case{true, QRect(0, 0, 200, 120), 120 - lineHeight},
                        Case{false, QRect(0, 0, 200, 120), (120 - lineHeight) / 2},
                        Case{true, QRect(10, 20, 100, 80), 100 - lineHeight},
                        Case{false, QRect(10, 20, 100, 80), 20 + (80 - lineHeight) / 2}}) {
    const std::vector<int> rows = DarkenedRows(c.overPicture, c.view);
    ASSERT_EQ(rows.size(), std::size_t(lineHeight)) << c.overPicture << " " << c.view.top();
    EXPECT_EQ(rows.front(), c.top);
  }
}

}  // namespace
