// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

// A 6 x 5 colour picture whose results through grey, threshold and edges were worked out by hand.
// Its colours and their greys: K black 0, W white 255, R red 76, G green 149, B blue 29,
// Y yellow 225, C cyan 178. Rows:
//   K K K K K R
//   K W Y C K K
//   K G W W K B
//   K C W Y K K
//   R K K K K W
QImage ChainPicture();

// Its greys, row after row.
extern const std::vector<std::uint8_t> kChainGrey;
// The greys thresholded at 100, then the edge image of that: a ring around a hole.
extern const std::vector<std::uint8_t> kChainBinarized100Edges;
// The edge image of the greys, and the edge image of that.
extern const std::vector<std::uint8_t> kChainGreyEdges;
extern const std::vector<std::uint8_t> kChainGreyEdgesTwice;
