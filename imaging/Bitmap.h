// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Bits per pixel of a bitmap. 24-bit pixels are stored blue, green, red; 32-bit pixels blue,
// green, red, alpha, so that a row can be handed to the toolkit without reordering.
enum class TPixelFormat { pf8bit = 8, pf24bit = 24, pf32bit = 32 };

struct TPaletteEntry {
  std::uint8_t peRed = 0;
  std::uint8_t peGreen = 0;
  std::uint8_t peBlue = 0;
  std::uint8_t peFlags = 0;

  friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

// The colour table of an indexed bitmap: at most 256 entries, possibly fewer.
class TPalette {
 public:
  static constexpr int MaxEntries = 256;

  TPalette() = default;
  explicit TPalette(std::vector<TPaletteEntry> entries);

  // 256 entries, entry i = (i, i, i, 0): byte v shows as the grey of brightness v.
  static TPalette Grey();

  int Count() const { return static_cast<int>(entries_.size()); }
  const std::vector<TPaletteEntry>& Entries() const { return entries_; }

  // Fails, leaving `entry` as it was, when k lies outside the table.
  bool GetEntry(int k, TPaletteEntry& entry) const;

  friend bool operator==(const TPalette&, const TPalette&) = default;

 private:
  std::vector<TPaletteEntry> entries_;
};

class TBitmap;

// True for an 8-bit picture whose bytes are its grey levels: its palette is the grey ramp, or it
// has none.
bool IsGreyRamp(const TBitmap& bitmap);

// The pixel buffer every image of the program lives in. Rows are stored top row first, each
// padded to a multiple of four bytes; new pixels are zero.
class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(int width, int height, TPixelFormat format);
  ~TBitmap() = default;

  // Copies are explicit (Assign): a 24-megapixel picture must never be copied by accident.
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;
  // Moving takes the pixels and palette but not the change observer, which belongs to the holder.
  TBitmap(TBitmap&& other) noexcept;
  TBitmap& operator=(TBitmap&& other) noexcept;

  bool Empty() const { return width_ == 0 || height_ == 0; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  TPixelFormat PixelFormat() const { return format_; }
  int BytesPerPixel() const { return static_cast<int>(format_) / 8; }
  // Distance in bytes from one row to the next.
  std::size_t Stride() const { return stride_; }
  // Bytes of a row that hold pixels (without the padding).
  std::size_t RowBytes() const { return static_cast<std::size_t>(width_) * BytesPerPixel(); }

  // Changing the size keeps the pixels where old and new picture overlap; the rest is zero.
  void SetWidth(int width);
  void SetHeight(int height);
  void SetSize(int width, int height);
  // Changing the depth of a picture that has pixels clears them.
  void SetPixelFormat(TPixelFormat format);

  // The colour table, or nullptr for a bitmap without one.
  const TPalette* Palette() const { return palette_ ? &*palette_ : nullptr; }
  void SetPalette(const TPalette& palette);
  void ClearPalette();
  // Entry k of the palette; fails, writing nothing, without a palette or beyond its entries.
  bool GetPaletteEntry(int k, TPaletteEntry& entry) const;

  std::uint8_t* ScanLine(int row);
  const std::uint8_t* ScanLine(int row) const;

  // Makes this bitmap an independent copy of `source`. Assigning a bitmap to itself copies
  // nothing and only reports the change, so that a view showing it repaints.
  void Assign(const TBitmap& source);
  // Same result as Assign, for a source that is about to be destroyed: takes its pixels instead
  // of copying them.
  void Assign(TBitmap&& source);

  // Called after every change of size, depth, palette or content made through this interface.
  void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }
  void Changed() const;

 private:
  struct FreeDeleter {
    void operator()(std::uint8_t* p) const noexcept;
  };
  using Pixels = std::unique_ptr<std::uint8_t[], FreeDeleter>;

  static std::size_t StrideFor(int width, TPixelFormat format);
  static Pixels Allocate(std::size_t stride, int height);
  void Reallocate(int width, int height, TPixelFormat format, bool keepPixels);

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  std::size_t stride_ = 0;
  Pixels pixels_;
  std::optional<TPalette> palette_;
  std::function<void()> onChange_;
};

// The pixel nearest to each of width × height places spread evenly over the bitmap, in its own
// depth: rows `stride` bytes apart from `target`. What a stretched view and a small copy show.
void SamplePixels(const TBitmap& bitmap, int width, int height, std::uint8_t* target,
                  std::size_t stride);
// The same as a bitmap of its own, with the bitmap's palette; empty for an empty size.
TBitmap SampledBitmap(const TBitmap& bitmap, int width, int height);
