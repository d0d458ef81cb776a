// SPDX-License-Identifier: GPL-3.0-or-later
#include "History.h"

#include <gtest/gtest.h>

#include "BitmapTesting.h"

namespace {

// A 4 x 4 grey picture of one value: 16 bytes of pixels.
TProcessedState State(std::uint8_t value) {
  return {Filled(4, 4, value), {{{TOperation::Binarize, value}}, value}};
}

TEST(UndoHistory, UndoAndRedoSwapWholeStates) {
  TUndoHistory history;
  TProcessedState now;
  for (std::uint8_t value : {1, 2, 3}) {
    history.Record(now.picture, now.made);
    now = State(value);
  }
  int told = 0;
  now.picture.SetOnChange([&] { ++told; });
  for (int expected : {2, 1}) {
    history.Undo(now.picture, now.made);
    EXPECT_EQ(now.picture.ScanLine(0)[0], expected);
    EXPECT_EQ(now.made.source, static_cast<std::uint64_t>(expected));
  }
  history.Undo(now.picture, now.made);
  EXPECT_TRUE(now.picture.Empty());
  EXPECT_TRUE(now.made.chain.empty());
  EXPECT_FALSE(history.CanUndo());
  EXPECT_EQ(told, 3) << "the view is told once a step";
  history.Redo(now.picture, now.made);
  history.Redo(now.picture, now.made);
  EXPECT_EQ(now.made.chain, (TChain{{TOperation::Binarize, 2}}));
  EXPECT_TRUE(history.CanRedo());
  history.Record(now.picture, now.made);
  EXPECT_FALSE(history.CanRedo()) << "a new command forgets what was undone";
}

TEST(UndoHistory, TheOldestStatesGoPastTheBound) {
  const std::size_t stateBytes = Filled(4, 4, 0).Stride() * 4;
  TUndoHistory history(3 * stateBytes);
  TProcessedState now = State(0);
  for (std::uint8_t value = 1; value <= 5; ++value) {
    history.Record(now.picture, now.made);
    now = State(value);
  }
  EXPECT_EQ(history.Levels(), 3u);
  EXPECT_EQ(history.Bytes(), 3 * stateBytes);
  for (int i = 0; i < 3; ++i)
    history.Undo(now.picture, now.made);
  EXPECT_EQ(now.picture.ScanLine(0)[0], 2) << "0 and 1 were dropped";
  EXPECT_LE(history.Bytes(), 3 * stateBytes) << "what was undone counts too";

  TUndoHistory tiny(stateBytes);
  TProcessedState small = State(1);
  tiny.Record(small.picture, small.made);
  ASSERT_TRUE(tiny.CanUndo());
  const TBitmap large = Filled(8, 8, 2);
  tiny.Record(large, now.made);
  EXPECT_FALSE(tiny.CanUndo()) << "a state larger than the bound empties the history";
  EXPECT_EQ(tiny.Bytes(), 0u);
  EXPECT_LE(TUndoHistory::DefaultBound(), std::size_t{1} << 30);
}

}  // namespace
