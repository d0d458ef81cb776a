// SPDX-License-Identifier: GPL-3.0-or-later
// Memory under load: a thousand slider steps and a hundred chains on a 24-megapixel picture leave
// the memory in use where it was, and a picture at the size limit runs the whole chain.

#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <QFile>
#include <QTest>
#include <cstring>

#include "FormsFixture.h"
#include "Modal.h"
#include "Sanitizers.h"
#ifdef CCDLAB_ADDRESS_SANITIZER
#include <sanitizer/allocator_interface.h>
#endif
#include <ostream>

namespace {

// The memory the process holds: the bytes its allocations hold and its resident set. The resident
// set moves by whole pictures as the allocator gives the top of its heap back to the system or
// keeps it, so flat memory means allocations that stay where they were and a resident set that
// grows by no more than that.
struct Usage {
  qint64 allocated = -1;
  qint64 resident = -1;
};

Usage MemoryInUse() {
  Usage usage;
#ifdef CCDLAB_ADDRESS_SANITIZER
  usage.allocated = static_cast<qint64>(__sanitizer_get_current_allocated_bytes());
#else
  const struct mallinfo2 info = mallinfo2();
  usage.allocated = static_cast<qint64>(info.uordblks + info.hblkhd);
#endif
  QFile statm("/proc/self/statm");
  if (statm.open(QIODevice::ReadOnly)) {
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() > 1)
      usage.resident = fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE);
  }
  return usage;
}

constexpr qint64 kMegabyte = 1024 * 1024;

std::ostream& operator<<(std::ostream& out, const Usage& usage) {
  return out << usage.allocated << " bytes allocated, " << usage.resident << " resident";
}

// Allocations grow by less than `allocated`, the resident set by less than `resident` (not under
// AddressSanitizer, whose quarantine holds freed blocks resident for a while).
void ExpectFlat(const Usage& before, const Usage& after, qint64 allocated, qint64 resident) {
  ASSERT_GT(before.allocated, 0);
  EXPECT_LT(after.allocated - before.allocated, allocated) << before << " before, " << after;
#ifndef CCDLAB_ADDRESS_SANITIZER
  ASSERT_GT(before.resident, 0);
  EXPECT_LT(after.resident - before.resident, resident) << before << " before, " << after;
#else
  (void)resident;
#endif
}

// A 24-bit picture with every byte set, so that every page of it is resident.
TBitmap Photo(int width, int height) {
  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.ScanLine(y);
    for (std::size_t x = 0; x < bitmap.RowBytes(); ++x)
      row[x] = static_cast<std::uint8_t>(x * 7 + y * 3);
  }
  return bitmap;
}

class Memory : public FormsTest {
 protected:
  static void LoadMain(TBitmap&& picture) { Main()->Assign(std::move(picture)); }

  // Grey levels, binarize at the slider's position (OK), edges: the buttons in turn.
  static void Chain() {
    QTest::mouseClick(Form1->Button4, Qt::LeftButton);
    OnNextModal([](QWidget*) { QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton); });
    QTest::mouseClick(Form1->Button5, Qt::LeftButton);
    QTest::mouseClick(Form1->Button6, Qt::LeftButton);
  }
};

TEST_F(Memory, AThousandSliderStepsOnALargePictureLeaveMemoryFlat) {
  LoadMain(Photo(6000, 4000));
  Usage before, after;
  OnNextModal([&](QWidget*) {
    QScrollBar* slider = BinaryDlg->ScrollBar1;
    for (int i = 0; i < 20; ++i)
      slider->setValue(i * 11 % 256);
    before = MemoryInUse();
    for (int i = 0; i < 1000; ++i)
      slider->setValue(i * 37 % 256);
    after = MemoryInUse();
    QTest::mouseClick(BinaryDlg->OKBtn, Qt::LeftButton);
  });
  QTest::mouseClick(Form1->Button5, Qt::LeftButton);
  ExpectFlat(before, after, kMegabyte, 8 * kMegabyte);
  EXPECT_EQ(Processed()->Width(), 6000);
}

TEST_F(Memory, AHundredChainsOnALargePictureLeaveMemoryFlat) {
  LoadMain(Photo(6000, 4000));
  // The allocator settles first: it moves blocks of this size from mappings of their own to its
  // heap. And the undo history fills up to its bound, three grey pictures a chain.
  const std::size_t chainBytes = 3 * std::size_t{24} * kMegabyte;
  for (std::size_t i = 0; i < 10 + TUndoHistory::DefaultBound() / chainBytes; ++i)
    Chain();
  const Usage before = MemoryInUse();
  for (int i = 0; i < 100; ++i)
    Chain();
  const Usage after = MemoryInUse();
  // The allocator may keep up to two grey pictures (24 MB each) of heap top resident or not; the
  // undo history, one picture more or less as the oldest goes.
  ExpectFlat(before, after, 24 * kMegabyte, 3 * 24 * kMegabyte + 8 * kMegabyte);
  EXPECT_EQ(Processed()->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(Processed()->Width(), 6000);
}

TEST_F(Memory, APictureAtTheSizeLimitRunsTheChain) {
  const int side = 16384;  // kMaxPictureSide
  // A white square on black at the top left corner; the rest stays black.
  TBitmap picture(side, side, TPixelFormat::pf24bit);
  for (int y = 10; y < 20; ++y)
    std::memset(picture.ScanLine(y) + 3 * 10, 255, 3 * 10);
  LoadMain(std::move(picture));

  Chain();
  ASSERT_EQ(Processed()->Width(), side);
  ASSERT_EQ(Processed()->Height(), side);
  ASSERT_EQ(Processed()->PixelFormat(), TPixelFormat::pf8bit);
  // Grey 255 inside the square, thresholded at 128, then edges: the square's border lights up,
  // its inside and the black around it stay 0.
  EXPECT_EQ(Processed()->ScanLine(10)[10], 255);
  EXPECT_EQ(Processed()->ScanLine(15)[15], 0);
  EXPECT_EQ(Processed()->ScanLine(9)[10], 0);
  EXPECT_EQ(Processed()->ScanLine(side - 1)[side - 1], 0);
  EXPECT_EQ(Main()->Width(), side);
}

}  // namespace
