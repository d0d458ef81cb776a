// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChainPicture.h"

namespace {

QRgb Colour(char c) {
  switch (c) {
    case 'W':
      return qRgb(255, 255, 255);
    case 'R':
      return qRgb(255, 0, 0);
    case 'G':
      return qRgb(0, 255, 0);
    case 'B':
      return qRgb(0, 0, 255);
    case 'Y':
      return qRgb(255, 255, 0);
    case 'C':
      return qRgb(0, 255, 255);
    default:
      return qRgb(0, 0, 0);
  }
}

}  // namespace

QImage ChainPicture() {
  const char* rows[] = {"KKKKKR", "KWYCKK", "KGWWKB", "KCWYKK", "RKKKKW"};
  QImage image(6, 5, QImage::Format_RGB32);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      image.setPixel(x, y, Colour(rows[y][x]));
  return image;
}

// clang-format off
const std::vector<std::uint8_t> kChainGrey = {
    0,  0,   0,   0,   0, 76,
    0,  255, 225, 178, 0, 0,
    0,  149, 255, 255, 0, 29,
    0,  178, 255, 225, 0, 0,
    76, 0,   0,   0,   0, 255,
};

const std::vector<std::uint8_t> kChainBinarized100Edges = {
    0, 0,   0,   0,   0, 0,
    0, 255, 255, 255, 0, 0,
    0, 255, 0,   255, 0, 0,
    0, 255, 255, 255, 0, 0,
    0, 0,   0,   0,   0, 255,
};

const std::vector<std::uint8_t> kChainGreyEdges = {
    0,  0,   0,   0,   0, 255,
    0,  255, 255, 255, 0, 0,
    0,  24,  255, 255, 0, 232,
    0,  255, 255, 255, 0, 0,
    99, 0,   0,   0,   0, 255,
};

const std::vector<std::uint8_t> kChainGreyEdgesTwice = {
    0,  0,   0,   0,   0, 255,
    0,  255, 255, 255, 0, 0,
    0,  0,   231, 255, 0, 255,
    0,  255, 255, 255, 0, 0,
    27, 0,   0,   0,   0, 255,
};
// clang-format on
