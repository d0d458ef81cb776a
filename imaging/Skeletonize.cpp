// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "Binary.h"

namespace {

// A neighbourhood's code: a bit for each black neighbour, clockwise from the top-left one
// (1 top-left, 2 top, 4 top-right, 8 right, 16 bottom-right, 32 bottom, 64 bottom-left, 128
// left). ImageJ's tables say which codes lose their centre on even passes (right and bottom
// edges first) and which on odd ones; the second table then frees pixels the first leaves stuck.
using Removes = std::array<bool, 256>;

constexpr Removes Codes(std::initializer_list<int> codes) {
  Removes removes{};
  for (const int code : codes)
    removes[static_cast<std::size_t>(code)] = true;
  return removes;
}

constexpr Removes kFirstEven =
    Codes({6,   7,   10,  11,  12,  14,  15,  28,  30,  31,  40,  60,  112, 120, 124, 130, 131, 134,
           135, 143, 159, 160, 161, 193, 194, 195, 198, 199, 207, 225, 227, 231, 240, 241, 243});
constexpr Removes kFirstOdd =
    Codes({7,   10,  15,  26,  28,  30,  31,  40,  56,  60,  62,  63,  96,  104, 108, 112, 120,
           124, 126, 130, 135, 160, 176, 192, 193, 195, 199, 224, 225, 240, 241, 248, 249, 252});
constexpr Removes kSecondEven = Codes({3, 129, 226});
constexpr Removes kSecondOdd = Codes({24, 26, 27, 46, 48, 58, 154, 184});

constexpr std::uint8_t kWhite = 255;
constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kListed = 1;  // black, and on the list of pixels that may go

// The picture inside a white frame one pixel wide, so every pixel has its 8 neighbours. Only
// black pixels with a white neighbour can go (no table removes code 255); they are kept on a
// list, so a pass costs the pixels that may change, not the picture. Every pass decides from the
// picture as it was before it.
class Thinning {
 public:
  explicit Thinning(const TBitmap& bitmap)
      : width_(static_cast<std::size_t>(bitmap.Width()) + 2),
        height_(static_cast<std::size_t>(bitmap.Height()) + 2),
        pixels_(width_ * height_, kWhite) {
    for (std::size_t y = 1; y + 1 < height_; ++y) {
      const std::uint8_t* row = bitmap.ScanLine(static_cast<int>(y - 1));
      for (std::size_t x = 1; x + 1 < width_; ++x)
        pixels_[y * width_ + x] = row[x - 1] == kWhite ? kWhite : kBlack;
    }
    const std::size_t w = width_;
    offsets_ = {w + 1, w, w - 1, std::size_t{1}};
  }

  void Run() {
    for (const auto& [even, odd] :
         {std::pair{&kFirstEven, &kFirstOdd}, std::pair{&kSecondEven, &kSecondOdd}}) {
      ListEdges();
      std::size_t removed = 0;
      do {
        removed = Pass(*even, *odd);
        removed += Pass(*odd, *even);
      } while (removed > 0);
    }
  }

  void CopyTo(TBitmap& bitmap) const {
    for (std::size_t y = 1; y + 1 < height_; ++y) {
      std::uint8_t* row = bitmap.ScanLine(static_cast<int>(y - 1));
      for (std::size_t x = 1; x + 1 < width_; ++x)
        row[x - 1] = pixels_[y * width_ + x] == kWhite ? kWhite : kBlack;
    }
  }

 private:
  bool Black(std::size_t at) const { return pixels_[at] != kWhite; }

  int Code(std::size_t at) const {
    const std::size_t w = width_;
    return (Black(at - w - 1) ? 1 : 0) | (Black(at - w) ? 2 : 0) | (Black(at - w + 1) ? 4 : 0) |
           (Black(at + 1) ? 8 : 0) | (Black(at + w + 1) ? 16 : 0) | (Black(at + w) ? 32 : 0) |
           (Black(at + w - 1) ? 64 : 0) | (Black(at - 1) ? 128 : 0);
  }

  // Every black pixel with a white neighbour, for a table's first pass.
  void ListEdges() {
    listed_.clear();
    for (std::size_t y = 1; y + 1 < height_; ++y)
      for (std::size_t at = y * width_ + 1; at < (y + 1) * width_ - 1; ++at) {
        if (pixels_[at] == kWhite)
          continue;
        pixels_[at] = Code(at) == 255 ? kBlack : kListed;
        if (pixels_[at] == kListed)
          listed_.push_back(at);
      }
  }

  // One pass, then the list for the next, whose table is `next`: a pixel's fate depends on its
  // neighbourhood and the table alone, so it need be looked at again only where a neighbour went
  // or where the next table removes it.
  std::size_t Pass(const Removes& removes, const Removes& next) {
    removed_.clear();
    for (const std::size_t at : listed_)
      if (removes[static_cast<std::size_t>(Code(at))])
        removed_.push_back(at);
    for (const std::size_t at : removed_)
      pixels_[at] = kWhite;
    for (const std::size_t at : listed_)
      if (pixels_[at] == kListed)
        pixels_[at] = kBlack;
    following_.clear();
    for (const std::size_t at : removed_)
      for (const std::size_t offset : offsets_)
        for (const std::size_t neighbour : {at - offset, at + offset})
          if (pixels_[neighbour] == kBlack) {
            pixels_[neighbour] = kListed;
            following_.push_back(neighbour);
          }
    for (const std::size_t at : listed_)
      if (pixels_[at] == kBlack && next[static_cast<std::size_t>(Code(at))]) {
        pixels_[at] = kListed;
        following_.push_back(at);
      }
    listed_.swap(following_);
    return removed_.size();
  }

  std::size_t width_;
  std::size_t height_;
  std::vector<std::uint8_t> pixels_;
  std::array<std::size_t, 4> offsets_{};
  std::vector<std::size_t> listed_;
  std::vector<std::size_t> removed_;
  std::vector<std::size_t> following_;
};

}  // namespace

void Skeletonize(TBitmap& bitmap) {
  if (bitmap.Empty() || bitmap.PixelFormat() != TPixelFormat::pf8bit)
    return;
  Thinning thinning(bitmap);
  thinning.Run();
  thinning.CopyTo(bitmap);
}
