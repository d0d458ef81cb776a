// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bitmap.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

TPalette::TPalette(std::vector<TPaletteEntry> entries) : entries_(std::move(entries)) {
  if (entries_.size() > static_cast<std::size_t>(MaxEntries))
    entries_.resize(MaxEntries);
}

TPalette TPalette::Grey() {
  std::vector<TPaletteEntry> entries(MaxEntries);
  for (int i = 0; i < MaxEntries; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    entries[i] = TPaletteEntry{v, v, v, 0};
  }
  return TPalette(std::move(entries));
}

bool IsGreyRamp(const TBitmap& bitmap) {
  static const TPalette grey = TPalette::Grey();
  const TPalette* palette = bitmap.Palette();
  return palette == nullptr || *palette == grey;
}

bool TPalette::GetEntry(int k, TPaletteEntry& entry) const {
  if (k < 0 || k >= Count())
    return false;
  entry = entries_[k];
  return true;
}

void TBitmap::FreeDeleter::operator()(std::uint8_t* p) const noexcept {
  std::free(p);
}

TBitmap::TBitmap(int width, int height, TPixelFormat format) {
  Reallocate(width, height, format, false);
}

TBitmap::TBitmap(TBitmap&& other) noexcept
    : width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      format_(other.format_),
      stride_(std::exchange(other.stride_, 0)),
      pixels_(std::move(other.pixels_)),
      palette_(std::exchange(other.palette_, std::nullopt)) {}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
  if (this != &other) {
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    format_ = other.format_;
    stride_ = std::exchange(other.stride_, 0);
    pixels_ = std::move(other.pixels_);
    palette_ = std::exchange(other.palette_, std::nullopt);
  }
  return *this;
}

std::size_t TBitmap::StrideFor(int width, TPixelFormat format) {
  const std::size_t bytes = static_cast<std::size_t>(width) * (static_cast<int>(format) / 8);
  return (bytes + 3) & ~std::size_t{3};
}

TBitmap::Pixels TBitmap::Allocate(std::size_t stride, int height) {
  if (stride == 0 || height == 0)
    return nullptr;
  if (stride > std::numeric_limits<std::size_t>::max() / static_cast<std::size_t>(height))
    throw std::bad_alloc();
  // calloc hands out fresh zero pages for large pictures without touching them.
  auto* p = static_cast<std::uint8_t*>(std::calloc(stride * static_cast<std::size_t>(height), 1));
  if (p == nullptr)
    throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
  // Every page of a fresh picture faults in on its first write, thousands of them for a photo:
  // large pages fault a five-hundredth as often where the system leaves them to the program.
  constexpr std::size_t kLargePictureBytes = std::size_t{8} << 20;
  const std::size_t bytes = stride * static_cast<std::size_t>(height);
  if (bytes >= kLargePictureBytes) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(p) + page - 1) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) / page * page;
    if (end > begin)
      ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
#endif
  return Pixels(p);
}

void TBitmap::Reallocate(int width, int height, TPixelFormat format, bool keepPixels) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  const std::size_t stride = StrideFor(width, format);
  Pixels pixels = Allocate(stride, height);
  if (keepPixels && pixels && pixels_) {
    const std::size_t bytes = std::min(stride, stride_);
    const int rows = std::min(height, height_);
    for (int i = 0; i < rows; ++i)
      std::memcpy(pixels.get() + i * stride, pixels_.get() + i * stride_, bytes);
  }
  width_ = width;
  height_ = height;
  format_ = format;
  stride_ = stride;
  pixels_ = std::move(pixels);
  Changed();
}

void TBitmap::SetWidth(int width) {
  SetSize(width, height_);
}

void TBitmap::SetHeight(int height) {
  SetSize(width_, height);
}

void TBitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_)
    return;
  Reallocate(width, height, format_, true);
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_)
    return;
  Reallocate(width_, height_, format, false);
}

void TBitmap::SetPalette(const TPalette& palette) {
  palette_ = palette;
  Changed();
}

void TBitmap::ClearPalette() {
  palette_.reset();
  Changed();
}

bool TBitmap::GetPaletteEntry(int k, TPaletteEntry& entry) const {
  return palette_ && palette_->GetEntry(k, entry);
}

std::uint8_t* TBitmap::ScanLine(int row) {
  assert(row >= 0 && row < height_);
  return pixels_.get() + static_cast<std::size_t>(row) * stride_;
}

const std::uint8_t* TBitmap::ScanLine(int row) const {
  assert(row >= 0 && row < height_);
  return pixels_.get() + static_cast<std::size_t>(row) * stride_;
}

void TBitmap::Assign(const TBitmap& source) {
  if (&source != this) {
    Pixels pixels = Allocate(source.stride_, source.height_);
    if (pixels)
      std::memcpy(pixels.get(), source.pixels_.get(),
                  source.stride_ * static_cast<std::size_t>(source.height_));
    width_ = source.width_;
    height_ = source.height_;
    format_ = source.format_;
    stride_ = source.stride_;
    pixels_ = std::move(pixels);
    palette_ = source.palette_;
  }
  Changed();
}

void TBitmap::Assign(TBitmap&& source) {
  if (&source != this) {
    *this = std::move(source);
  }
  Changed();
}

void TBitmap::Changed() const {
  if (onChange_)
    onChange_();
}

void SamplePixels(const TBitmap& bitmap, int width, int height, std::uint8_t* target,
                  std::size_t stride) {
  if (bitmap.Empty() || width <= 0 || height <= 0)
    return;
  const auto bpp = static_cast<std::size_t>(bitmap.BytesPerPixel());
  std::vector<std::size_t> columns(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x)
    columns[x] =
        static_cast<std::size_t>(static_cast<std::int64_t>(x) * bitmap.Width() / width) * bpp;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* source =
        bitmap.ScanLine(static_cast<int>(static_cast<std::int64_t>(y) * bitmap.Height() / height));
    std::uint8_t* row = target + static_cast<std::size_t>(y) * stride;
    for (int x = 0; x < width; ++x)
      std::memcpy(row + static_cast<std::size_t>(x) * bpp, source + columns[x], bpp);
  }
}

TBitmap SampledBitmap(const TBitmap& bitmap, int width, int height) {
  if (bitmap.Empty() || width <= 0 || height <= 0)
    return TBitmap();
  TBitmap sample(width, height, bitmap.PixelFormat());
  if (const TPalette* palette = bitmap.Palette())
    sample.SetPalette(*palette);
  SamplePixels(bitmap, width, height, sample.ScanLine(0), sample.Stride());
  return sample;
}
