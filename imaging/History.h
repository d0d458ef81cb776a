// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "Bitmap.h"
#include "Commands.h"

// How the processed image was made: the steps, and which main image they started from (a number
// the window counts up at every new main image).
struct TProvenance {
  TChain chain;
  std::uint64_t source = 0;
};

// The processed image as one command left it.
struct TProcessedState {
  TBitmap picture;
  TProvenance made;
};

// Undo and redo of the commands on the processed image. It keeps whole states, the oldest
// dropped once all of them together hold more than its bound in pixels.
class TUndoHistory {
 public:
  static constexpr std::size_t kMaxLevels = 100;
  // 1 GiB, or a quarter of the machine's memory where that is less.
  static std::size_t DefaultBound();

  explicit TUndoHistory(std::size_t bound = DefaultBound()) : bound_(bound) {}

  // Before a command changes the processed image: keeps a copy of it as it is, and forgets what
  // was undone. A picture larger than the bound, or one memory cannot be found for, empties the
  // history instead.
  void Record(const TBitmap& picture, const TProvenance& made);
  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  // The processed image becomes what it was before the last command (after the last one
  // undone). Pixels move rather than being copied, and the picture's observer is told once.
  void Undo(TBitmap& picture, TProvenance& made);
  void Redo(TBitmap& picture, TProvenance& made);

  std::size_t Levels() const { return undo_.size(); }
  std::size_t Bytes() const { return bytes_; }

 private:
  void Keep(std::deque<TProcessedState>& stack, TProcessedState&& state);
  void Step(std::deque<TProcessedState>& from, std::deque<TProcessedState>& to, TBitmap& picture,
            TProvenance& made);
  void DropOldest();

  std::size_t bound_;
  std::size_t bytes_ = 0;
  std::deque<TProcessedState> undo_;  // newest last
  std::deque<TProcessedState> redo_;  // next to redo last
};
