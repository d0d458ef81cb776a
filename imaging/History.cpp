// SPDX-License-Identifier: GPL-3.0-or-later
#include "History.h"

#include <unistd.h>

#include <algorithm>
#include <new>
#include <utility>

namespace {

std::size_t BytesOf(const TProcessedState& state) {
  return state.picture.Stride() * static_cast<std::size_t>(state.picture.Height());
}

}  // namespace

std::size_t TUndoHistory::DefaultBound() {
  constexpr std::size_t kGiB = std::size_t{1} << 30;
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0)
    return kGiB;
  return std::min(kGiB, static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize) / 4);
}

void TUndoHistory::Keep(std::deque<TProcessedState>& stack, TProcessedState&& state) {
  bytes_ += BytesOf(state);
  stack.push_back(std::move(state));
  DropOldest();
}

// The oldest undo goes first; what was undone goes only when no undo is left.
void TUndoHistory::DropOldest() {
  while ((bytes_ > bound_ || undo_.size() > kMaxLevels) && !(undo_.empty() && redo_.empty())) {
    std::deque<TProcessedState>& stack = undo_.empty() ? redo_ : undo_;
    bytes_ -= BytesOf(stack.front());
    stack.pop_front();
  }
}

void TUndoHistory::Record(const TBitmap& picture, const TProvenance& made) {
  for (const TProcessedState& undone : redo_)
    bytes_ -= BytesOf(undone);
  redo_.clear();
  TProcessedState copy;
  copy.made = made;
  // A state that cannot be kept breaks the line back: undo would skip it. The command goes on
  // without undo rather than failing for its sake.
  const std::size_t bytes = picture.Stride() * static_cast<std::size_t>(picture.Height());
  try {
    if (bytes <= bound_)
      copy.picture.Assign(picture);
  } catch (const std::bad_alloc&) {
    copy.picture = TBitmap();
  }
  if (copy.picture.Empty() != picture.Empty()) {
    undo_.clear();
    bytes_ = 0;
    return;
  }
  Keep(undo_, std::move(copy));
}

void TUndoHistory::Step(std::deque<TProcessedState>& from, std::deque<TProcessedState>& to,
                        TBitmap& picture, TProvenance& made) {
  if (from.empty())
    return;
  TProcessedState next = std::move(from.back());
  from.pop_back();
  bytes_ -= BytesOf(next);
  // The picture's pixels move out without a word to its observer; taking the next state's tells
  // it once.
  TProcessedState now;
  now.picture = std::move(picture);
  now.made = std::move(made);
  picture.Assign(std::move(next.picture));
  made = std::move(next.made);
  Keep(to, std::move(now));
}

void TUndoHistory::Undo(TBitmap& picture, TProvenance& made) {
  Step(undo_, redo_, picture, made);
}

void TUndoHistory::Redo(TBitmap& picture, TProvenance& made) {
  Step(redo_, undo_, picture, made);
}
