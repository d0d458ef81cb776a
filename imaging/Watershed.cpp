// SPDX-License-Identifier: GPL-3.0-or-later
#include "Watershed.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include <hwy/cache_control.h>

#include "Simd.h"
#include "TwoHalves.h"

// ImageJ's steps, in its order and with its float and double arithmetic: the distance map of the
// black pixels (squared distances from four sweeps, then their roots), its local maxima by their
// estimated true heights, the maxima that stand out by more than 0.5, the map scaled to levels
// 1 ... 254 with those maxima at 255, the lesser maxima flattened down to their saddles, and the
// levels flooded from the top, one direction at a time, where no two particles would meet.
//
// Every array but the sweeps' has a one-pixel frame around the picture: a distance of 0, a level
// of 0 and a type that reads as already listed, so that no neighbour needs a bounds test.

#ifndef CCDLAB_WATERSHED_SCALAR
#define CCDLAB_WATERSHED_SCALAR
namespace {

// Working arrays, uninitialised; large ones in 2 MB pages where the system offers them: a
// 24-megapixel picture needs some 250 MB, whose first touch in 4 kB pages costs tens of thousands
// of page faults.
struct FreeBlock {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <class T>
using Block = std::unique_ptr<T[], FreeBlock>;

template <class T>
Block<T> Uninitialised(std::size_t count) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  const std::size_t bytes = std::max<std::size_t>(count * sizeof(T), 1);
  void* p = nullptr;
  if (bytes >= kHuge) {
    const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    p = std::aligned_alloc(kHuge, rounded);
#ifdef __linux__
    if (p != nullptr)
      madvise(p, rounded, MADV_HUGEPAGE);
#endif
  } else {
    p = std::malloc(bytes);
  }
  if (p == nullptr)
    throw std::bad_alloc();
  return Block<T>(static_cast<T*>(p));
}

// Two threads meeting: each goes on only once the other has come too, and then sees all that the
// other did before. A pass is short, so each spins a while before it sleeps.
class alignas(128) Rendezvous {
 public:
  void Meet() {
    const unsigned round = round_.load(std::memory_order_acquire);
    if (arrived_.fetch_add(1, std::memory_order_acq_rel) == 1) {
      arrived_.store(0, std::memory_order_relaxed);
      round_.store(round + 1, std::memory_order_release);
      round_.notify_one();
      return;
    }
    for (int i = 0; i < kSpins; ++i) {
      if (round_.load(std::memory_order_acquire) != round)
        return;
      hwy::Pause();
    }
    while (round_.load(std::memory_order_acquire) == round)
      round_.wait(round, std::memory_order_acquire);
  }

 private:
  static constexpr int kSpins = 1 << 14;
  std::atomic<unsigned> arrived_{0}, round_{0};
};

constexpr float kSqrt2 = 1.4142135624F;
// A pixel's type bits, as ImageJ's maximum finder names them.
constexpr std::uint8_t kMaximum = 1, kListed = 2, kProcessed = 4, kMaxArea = 8, kEqual = 16,
                       kEliminated = 64;

// Where a sweep has found no ground pixel yet: far away, so that its distance never wins.
constexpr std::int32_t kNone = -(1 << 30);

// A maximum as ImageJ sorts it: its scaled height, then its place.
struct Maximum {
  std::int64_t height;
  std::size_t offset;
  friend bool operator<(const Maximum& a, const Maximum& b) {
    return a.height != b.height ? a.height < b.height : a.offset < b.offset;
  }
};

// Java's conversion of a float to int: truncated, saturated.
inline std::int64_t JavaInt(float v) {
  if (v >= 2147483647.0F)
    return std::numeric_limits<std::int32_t>::max();
  if (v <= -2147483648.0F)
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int64_t>(v);
}

// What the steps after the distance map share: the framed map, types and levels.
struct Segmentation {
  int width, height;
  std::size_t stride;  // width + 2
  float* map;
  std::uint8_t* types;
  std::uint8_t* levels;
  std::array<std::ptrdiff_t, 8> step;  // to the neighbour, clockwise from north
  Block<std::size_t> list;

  Segmentation(int w, int h, float* m, std::uint8_t* t, std::uint8_t* l)
      : width(w), height(h), stride(static_cast<std::size_t>(w) + 2), map(m), types(t), levels(l) {
    const auto s = static_cast<std::ptrdiff_t>(stride);
    step = {-s, -s + 1, 1, s + 1, s, s - 1, -1, -s - 1};
    list = Uninitialised<std::size_t>(stride * (static_cast<std::size_t>(h) + 2));
  }

  int X(std::size_t offset) const { return static_cast<int>(offset % stride) - 1; }
  int Y(std::size_t offset) const { return static_cast<int>(offset / stride) - 1; }

  // The maxima lie in order of height, scattered over the picture: the neighbourhoods of those a
  // few places on are fetched ahead of the misses.
  static constexpr std::ptrdiff_t kAhead = 8;
  void FetchAround(std::size_t offset, bool withMap) const {
    // Its own rows and two either side: the true heights of the neighbours read those too.
    const std::size_t last = stride * (static_cast<std::size_t>(height) + 2) - 1;
    const std::size_t from = std::max(offset, 2 * stride) - 2 * stride;
    for (std::size_t row = from; row <= std::min(offset + 2 * stride, last); row += stride) {
      hwy::Prefetch(types + row);
      if (withMap)
        hwy::Prefetch(map + row);
      else
        hwy::Prefetch(levels + row);
    }
  }

  // ImageJ's estimate of the height of a maximum or saddle between the pixels' centres.
  float TrueHeight(std::size_t offset) const {
    const float v = map[offset];
    const int x = X(offset), y = Y(offset);
    if (x == 0 || y == 0 || x == width - 1 || y == height - 1 || v == 0)
      return v;
    float trueH = v + 0.5F * kSqrt2;
    bool ridgeOrMax = false;
    for (int d = 0; d < 4; ++d) {
      const float v1 = map[offset + step[d]];
      const float v2 = map[offset + step[d + 4]];
      float h;
      if (v >= v1 && v >= v2) {
        ridgeOrMax = true;
        h = (v1 + v2) / 2;
      } else {
        h = std::min(v1, v2);
      }
      h += d % 2 == 0 ? 1.0F : kSqrt2;
      trueH = std::min(trueH, h);
    }
    return ridgeOrMax ? trueH : v;
  }

  // The maxima that stand out by more than 0.5 and the pixels around them within 0.5 become
  // MAX_AREA (level 255), from the highest down.
  void MarkMaxima(const std::vector<Maximum>& maxima) {
    const float sortingError = 1.1F * (kSqrt2 / 2.0F);
    for (auto it = maxima.rbegin(); it != maxima.rend(); ++it) {
      if (maxima.rend() - it > kAhead)
        FetchAround(it[kAhead].offset, true);
      std::size_t offset0 = it->offset;
      if (types[offset0] & kProcessed)
        continue;
      float v0 = TrueHeight(offset0);
      bool sortingErrorFound;
      do {
        list[0] = offset0;
        types[offset0] |= kEqual | kListed;
        std::size_t listLen = 1;
        sortingErrorFound = false;
        bool maxPossible = true;
        for (std::size_t listI = 0; listI < listLen; ++listI) {
          const std::size_t offset = list[listI];
          for (int d = 0; d < 8; ++d) {
            const std::size_t offset2 = offset + step[d];
            if ((types[offset2] & kListed) || map[offset2] <= 0)
              continue;
            if (types[offset2] & kProcessed) {
              maxPossible = false;
              break;
            }
            const float v2 = TrueHeight(offset2);
            if (v2 > v0 + sortingError) {
              maxPossible = false;
              break;
            }
            if (v2 >= v0 - 0.5F) {
              if (v2 > v0) {
                // A higher point than the maximum: ImageJ starts again from there.
                sortingErrorFound = true;
                offset0 = offset2;
                v0 = v2;
              }
              list[listLen++] = offset2;
              types[offset2] |= kListed;
              if (v2 == v0)
                types[offset2] |= kEqual;
            }
          }
        }
        if (sortingErrorFound) {
          for (std::size_t i = 0; i < listLen; ++i)
            types[list[i]] = 0;
          continue;
        }
        const auto keep = static_cast<std::uint8_t>(~(maxPossible ? kListed : kListed | kEqual));
        for (std::size_t i = 0; i < listLen; ++i) {
          types[list[i]] = static_cast<std::uint8_t>((types[list[i]] & keep) | kProcessed);
          if (maxPossible) {
            types[list[i]] |= kMaxArea;
            levels[list[i]] = 255;
          }
        }
      } while (sortingErrorFound);
    }
  }

  // Each lesser maximum is lowered to the level of the saddle where its surroundings first meet
  // a marked maximum's, so that the flooding starts from the marked ones only.
  void CleanupMaxima(const std::vector<Maximum>& maxima) {
    for (auto it = maxima.rbegin(); it != maxima.rend(); ++it) {
      if (maxima.rend() - it > kAhead)
        FetchAround(it[kAhead].offset, false);
      const std::size_t offset0 = it->offset;
      if (types[offset0] & (kMaxArea | kEliminated))
        continue;
      int loLevel = levels[offset0] + 1;
      list[0] = offset0;
      types[offset0] |= kListed;
      std::size_t listLen = 1, lastLen = 1;
      bool saddleFound = false;
      while (!saddleFound && loLevel > 0) {
        --loLevel;
        lastLen = listLen;
        for (std::size_t listI = 0; listI < listLen && !saddleFound; ++listI) {
          const std::size_t offset = list[listI];
          for (int d = 0; d < 8; ++d) {
            const std::size_t offset2 = offset + step[d];
            const std::uint8_t type = types[offset2];
            if (type & kListed)
              continue;
            if ((type & kMaxArea) || ((type & kEliminated) && levels[offset2] >= loLevel)) {
              saddleFound = true;
              break;
            }
            if (levels[offset2] >= loLevel && !(type & kEliminated)) {
              list[listLen++] = offset2;
              types[offset2] |= kListed;
            }
          }
        }
      }
      for (std::size_t i = 0; i < listLen; ++i)
        types[list[i]] &= static_cast<std::uint8_t>(~kListed);
      for (std::size_t i = 0; i < lastLen; ++i) {
        levels[list[i]] = static_cast<std::uint8_t>(loLevel);
        types[list[i]] |= kEliminated;
      }
    }
  }

  // Which passes may set a pixel, by which of its eight neighbours are set (bit d for direction
  // d): those that dilate from a set neighbour and do not join two regions.
  static std::array<std::uint8_t, 256> FateTable() {
    std::array<std::uint8_t, 256> table{};
    for (int item = 0; item < 256; ++item) {
      bool isSet[8];
      for (int i = 0; i < 8; ++i)
        isSet[i] = (item >> i) & 1;
      int fate = 0;
      for (int i = 0; i < 8; ++i)
        if (isSet[(i + 4) % 8])
          fate |= 1 << i;
      for (int i = 0; i < 8; i += 2)
        if (isSet[i])
          isSet[(i + 1) % 8] = isSet[(i + 7) % 8] = true;
      int transitions = 0;
      for (int i = 0; i < 8; ++i)
        transitions += isSet[i] != isSet[(i + 1) % 8];
      table[item] = static_cast<std::uint8_t>(transitions >= 4 ? 0 : fate);
    }
    return table;
  }

  // Passes run in this order of directions, diagonals first, from the start of each level.
  static constexpr int kSequence[8] = {7, 3, 1, 5, 0, 4, 2, 6};

  // The neighbours of `p` already set (level 255) in reading order, bit 0 the upper left, bit 7
  // the lower right. Read afresh rather than kept per pixel: a level touches pixels all over the
  // picture, and a byte a pixel halves the memory it sweeps, with no writes to the neighbours.
  // The eight bytes gathered into one word and tested at once; `levels` has room for the read
  // past the lower right corner.
  unsigned SetAround(std::size_t p) const {
    const std::uint8_t* at = levels + p;
    const auto s = static_cast<std::ptrdiff_t>(stride);
    if constexpr (std::endian::native == std::endian::little) {
      std::uint32_t up, middle, down;
      std::memcpy(&up, at - s - 1, 4);
      std::memcpy(&middle, at - 1, 4);
      std::memcpy(&down, at + s - 1, 4);
      const std::uint64_t around = (up & 0xffffffu) |
                                   std::uint64_t{(middle & 0xffu) | (middle >> 8 & 0xff00u)} << 24 |
                                   std::uint64_t{down & 0xffffffu} << 40;
      // A byte of 255 is one whose complement is 0: its top bit stays clear below.
      constexpr std::uint64_t kLow = 0x7f7f7f7f7f7f7f7fu, kHigh = 0x8080808080808080u;
      const std::uint64_t complement = ~around;
      const std::uint64_t full = ~(((complement & kLow) + kLow) | complement) & kHigh;
      return static_cast<unsigned>((full >> 7) * 0x0102040810204080u >> 56);
    } else {
      unsigned bits = 0;
      int bit = 0;
      for (const std::ptrdiff_t offset :
           {-s - 1, -s, -s + 1, std::ptrdiff_t{-1}, std::ptrdiff_t{1}, s - 1, s, s + 1})
        bits |= static_cast<unsigned>(at[offset] == 255) << bit++;
      return bits;
    }
  }

  // Which passes may set a pixel, by its set neighbours in reading order.
  static std::array<std::uint8_t, 256> FateInReadingOrder() {
    static const std::array<std::uint8_t, 256> byDirection = FateTable();
    // The direction of each neighbour in reading order.
    constexpr int kDirection[8] = {7, 0, 1, 6, 2, 5, 4, 3};
    std::array<std::uint8_t, 256> table{};
    for (int item = 0; item < 256; ++item) {
      int bits = 0;
      for (int i = 0; i < 8; ++i)
        bits |= (item >> i & 1) << kDirection[i];
      table[item] = byDirection[bits];
    }
    return table;
  }

  // One of the threads flooding a level: its own pixels' buckets, and where its pass is. Apart
  // from the other's in memory, as each thread writes its own all the time.
  template <class Index>
  struct alignas(128) Member {
    std::array<std::vector<Index>, 8> due;
    std::vector<Index> set;
    // The other member's pixels this one placed, with their bucket, for the other to take.
    std::vector<std::pair<Index, std::uint8_t>> outbox;
    std::size_t pending = 0;
    bool failed = false;
    // What is left to do (pending and outbox) as the pass ends, or kFailed, read by the other.
    std::atomic<std::size_t> left{0};
    static constexpr std::size_t kFailed = std::numeric_limits<std::size_t>::max();
  };

  // The flooding of one level at a time by one or two threads, each with the pixels of its own
  // half of the picture, in step pass by pass.
  template <class Index>
  struct Flood {
    std::array<Member<Index>, 2> member;
    // Where member 1's pixels begin; past every pixel where member 0 floods alone.
    std::size_t split = std::numeric_limits<std::size_t>::max();
    Rendezvous rendezvous;
    // The level the helper floods next, or none, set before the rendezvous that starts it.
    std::uint8_t level = 0;
    const Index* pixels = nullptr;
    std::size_t count = 0;
    std::exception_ptr failure[2];
  };

  // ImageJ sweeps the whole level once a pass, each pixel set or not by the pass's direction and
  // which of its neighbours were set before the pass, until eight passes in a row set nothing. A
  // pixel's neighbours alone decide which directions set it, so each pixel waits instead in the
  // bucket of the first pass that would set it, and is placed again when a neighbour is set: the
  // same pixels fall at the same passes. The pixels of the level hold `level` in `levels` while
  // unset.
  //
  // A pass finds the pixels it sets, then sets them, then places their neighbours, each step over
  // the level as the one before left it; with two members the three steps are apart in time too,
  // so no thread reads a byte the other writes. A member sets only pixels of its own half; the
  // other's neighbours it places go to the other through its outbox.
  template <class Index>
  void FloodAsMember(Flood<Index>& flood, int m) const {
    static const std::array<std::uint8_t, 256> table = FateInReadingOrder();
    // The passes from phase p until one in directions `fate`: delay[fate][p], 8 for never.
    static const auto delay = [] {
      std::array<std::array<std::uint8_t, 8>, 256> d{};
      for (int fate = 0; fate < 256; ++fate)
        for (int phase = 0; phase < 8; ++phase) {
          int k = 0;
          while (k < 8 && !(fate >> kSequence[(phase + k) % 8] & 1))
            ++k;
          d[fate][phase] = static_cast<std::uint8_t>(k);
        }
      return d;
    }();
    Member<Index>& me = flood.member[m];
    const Member<Index>& other = flood.member[1 - m];
    const bool two = flood.split != std::numeric_limits<std::size_t>::max();
    const std::uint8_t level = flood.level;
    const auto meet = [&] {
      if (two)
        flood.rendezvous.Meet();
    };
    // A failure ends this member's work; the pass ends as usual, and both stop at its end.
    const auto attempt = [&](auto work) {
      if (me.failed)
        return;
      try {
        work();
      } catch (...) {
        flood.failure[m] = std::current_exception();
        me.failed = true;
      }
    };
    const std::array<std::ptrdiff_t, 8> to = step;
    const auto s = static_cast<std::ptrdiff_t>(stride);
    std::uint8_t* const cells = levels;
    const auto mine = [&](std::size_t p) { return (p >= flood.split) == (m == 1); };
    // The pixels lie scattered over the picture: their rows are fetched ahead of the misses.
    const std::size_t last = stride * (static_cast<std::size_t>(height) + 2) - 1;
    const auto fetch = [cells, s](std::size_t p) {
      hwy::Prefetch(cells + p - s);
      hwy::Prefetch(cells + p);
      hwy::Prefetch(cells + p + s);
    };
    const auto place = [&](Index p, std::size_t pass) {
      const std::uint8_t k = delay[table[SetAround(p)]][pass % 8];
      if (k >= 8)
        return;
      const auto bucket = static_cast<std::uint8_t>((pass + k) % 8);
      if (mine(p)) {
        me.due[bucket].push_back(p);
        ++me.pending;
      } else {
        me.outbox.emplace_back(p, bucket);
      }
    };
    attempt([&] {
      for (std::size_t i = 0; i < flood.count; ++i) {
        if (i + 16 < flood.count && mine(flood.pixels[i + 16]))
          fetch(flood.pixels[i + 16]);
        if (mine(flood.pixels[i]))
          place(flood.pixels[i], 0);
      }
    });
    for (std::size_t pass = 0;; ++pass) {
      const std::size_t left = me.failed ? Member<Index>::kFailed : me.pending + me.outbox.size();
      me.left.store(left, std::memory_order_relaxed);
      meet();
      const std::size_t otherLeft = two ? other.left.load(std::memory_order_relaxed) : 0;
      if (left == Member<Index>::kFailed || otherLeft == Member<Index>::kFailed ||
          left + otherLeft == 0)
        return;
      attempt([&] {
        for (const auto& [p, bucket] : other.outbox)
          me.due[bucket].push_back(p);
        me.pending += other.outbox.size();
        std::vector<Index>& bucket = me.due[pass % 8];
        const int direction = kSequence[pass % 8];
        me.set.clear();
        for (std::size_t i = 0; i < bucket.size(); ++i) {
          if (i + 16 < bucket.size())
            fetch(bucket[i + 16]);
          const Index p = bucket[i];
          if (cells[p] == level && (table[SetAround(p)] >> direction & 1))
            me.set.push_back(p);
        }
        me.pending -= bucket.size();
        bucket.clear();
      });
      meet();
      // A pixel listed twice is set once. A large pass's first pixels have left the cache.
      attempt([&] {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < me.set.size(); ++i) {
          if (i + 16 < me.set.size())
            hwy::Prefetch(cells + me.set[i + 16]);
          const Index p = me.set[i];
          if (cells[p] != 255) {
            cells[p] = 255;
            me.set[kept++] = p;
          }
        }
        me.set.resize(kept);
      });
      meet();
      attempt([&] {
        me.outbox.clear();
        for (std::size_t i = 0; i < me.set.size(); ++i) {
          if (i + 8 < me.set.size()) {
            // Two rows each way: the neighbours' own neighbours are read too (within the frame).
            const std::size_t ahead = me.set[i + 8];
            fetch(ahead);
            hwy::Prefetch(cells + std::max(ahead, 2 * stride) - 2 * stride);
            hwy::Prefetch(cells + std::min(ahead + 2 * stride, last));
          }
          const Index p = me.set[i];
          for (int d = 0; d < 8; ++d) {
            const Index q = static_cast<Index>(p + to[d]);
            if (cells[q] == level)
              place(q, pass + 1);
          }
        }
      });
    }
  }

  // Floods the levels from the top; `spare` is the distance map's block, no longer needed, which
  // holds the pixels' places by level where they fit. Leaves 255 on the set pixels. A `shared`
  // flooding takes two threads.
  template <class Index>
  void Segment(float* spare, bool shared) {
    const std::size_t size = stride * (static_cast<std::size_t>(height) + 2);
    // The upper and lower half of the picture are counted and listed apart, at once where
    // `shared`; the lists come out as one count over the whole would make them.
    const std::size_t middle = stride * (static_cast<std::size_t>(height) / 2 + 1);
    const std::size_t bounds[3] = {0, middle, size};
    std::array<std::array<std::size_t, 256>, 2> halfHistogram{};
    const auto countHalf = [&](int half) {
      // Four counts taken in turn: neighbours often share a level, and one count would make each
      // pixel wait for the last one's store.
      std::array<std::array<std::size_t, 256>, 4> counts{};
      const std::size_t end = bounds[half + 1];
      std::size_t i = bounds[half];
      for (; i + 4 <= end; i += 4)
        for (std::size_t k = 0; k < 4; ++k)
          ++counts[k][levels[i + k]];
      for (; i < end; ++i)
        ++counts[0][levels[i]];
      for (std::size_t v = 0; v < 256; ++v)
        halfHistogram[half][v] = counts[0][v] + counts[1][v] + counts[2][v] + counts[3][v];
    };
    BothAtOnce(
        shared, [&] { countHalf(0); }, [&] { countHalf(1); });
    std::array<std::size_t, 256> histogram{};
    for (std::size_t v = 0; v < 256; ++v)
      histogram[v] = halfHistogram[0][v] + halfHistogram[1][v];
    const std::size_t listed = size - histogram[0] - histogram[255];
    if (listed == 0)
      return;
    // One more place for each half's unlisted pixels to fall into; the frame's ground leaves room
    // for them.
    Block<Index> own;
    Index* coordinates;
    if constexpr (sizeof(Index) <= sizeof(float)) {
      coordinates = reinterpret_cast<Index*>(spare);
      std::uninitialized_default_construct_n(coordinates, listed + 2);
    } else {
      own = Uninitialised<Index>(listed + 2);
      coordinates = own.get();
    }
    std::array<std::size_t, 256> levelStart{};
    std::array<std::array<std::size_t, 256>, 2> fill{};
    int highest = 0;
    for (std::size_t v = 1, at = 0; v < 255; ++v) {
      levelStart[v] = fill[0][v] = at;
      fill[1][v] = at + halfHistogram[0][v];
      at += histogram[v];
      if (histogram[v] > 0)
        highest = static_cast<int>(v);
    }
    for (std::size_t half = 0; half < 2; ++half)
      fill[half][0] = fill[half][255] = listed + half;
    const auto listHalf = [&](int half) {
      // A copy of its own: the two halves' places would share cache lines.
      std::array<std::size_t, 256> next = fill[half];
      const auto placeOne = [&](std::size_t at) {
        const std::uint8_t level = levels[at];
        coordinates[next[level]] = static_cast<Index>(at);
        next[level] += static_cast<std::uint8_t>(level - 1) < 254;
      };
      const std::size_t end = bounds[half + 1];
      std::size_t i = bounds[half];
      // Eight ground pixels at a time pass at once.
      for (; i + 8 <= end; i += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, levels + i, 8);
        if (eight != 0)
          for (std::size_t k = 0; k < 8; ++k)
            placeOne(i + k);
      }
      for (; i < end; ++i)
        placeOne(i);
    };
    BothAtOnce(
        shared, [&] { listHalf(0); }, [&] { listHalf(1); });
    Flood<Index> flood;
    // A large picture's levels are flooded by a helper thread too, in step with this one.
    std::optional<std::thread> helper;
    if (shared) {
      try {
        helper.emplace([this, &flood] {
          for (;;) {
            flood.rendezvous.Meet();
            if (flood.pixels == nullptr)
              return;
            FloodAsMember(flood, 1);
          }
        });
        flood.split = middle;
      } catch (const std::system_error&) {
        // No thread to be had: this one floods alone.
      }
    }
    // The helper leaves when told that no level is next, also when a failure is thrown here.
    struct Dismissal {
      std::optional<std::thread>& helper;
      Flood<Index>& flood;
      ~Dismissal() {
        if (!helper)
          return;
        flood.pixels = nullptr;
        flood.rendezvous.Meet();
        helper->join();
      }
    } dismissal{helper, flood};
    for (int level = highest; level >= 1; --level) {
      Index* const pixels = coordinates + levelStart[level];
      flood.level = static_cast<std::uint8_t>(level);
      flood.pixels = pixels;
      flood.count = histogram[level];
      if (helper)
        flood.rendezvous.Meet();
      FloodAsMember(flood, 0);
      for (const std::exception_ptr& failure : flood.failure)
        if (failure)
          std::rethrow_exception(failure);
      // What is left was last placed nowhere, found in the level's own list, which holds each
      // pixel once; moved to the front, in no order that decides anything.
      std::size_t remaining = 0;
      for (std::size_t k = 0; k < flood.count; ++k)
        if (levels[pixels[k]] == level)
          pixels[remaining++] = pixels[k];
      if (remaining > 0 && level > 1) {
        // What was not reached goes on to the next level only at the border of the picture or of
        // the ground, as ImageJ does.
        int next = level;
        do
          --next;
        while (next > 1 && histogram[next] == 0);
        std::size_t end = levelStart[next] + histogram[next];
        for (std::size_t i = 0, p = levelStart[level]; i < remaining; ++i, ++p) {
          const Index offset = coordinates[p];
          bool border = false;
          for (int d = 0; d < 8; ++d)
            border |= levels[offset + step[d]] == 0;
          if (border) {
            coordinates[end++] = offset;
            levels[offset] = static_cast<std::uint8_t>(next);
          }
        }
        histogram[next] = end - levelStart[next];
      }
    }
  }
};

}  // namespace
#endif

#define HWY_TARGET_INCLUDE "Watershed.cpp"
#include "KernelTarget.h"  // IWYU pragma: keep

HWY_BEFORE_NAMESPACE();
namespace kernels::HWY_NAMESPACE {

// One row of a sweep of the distance map, the part that needs no pixel before it in the row: of
// the nearest ground pixels found for the column (`px`, `py`, from the row before) and for the
// diagonal (the row before at x + `diagonal`), ImageJ's pick, the column's on a tie, and its
// squared distance from (x, `row`), at most INT32_MAX. Every distance is exact in double; those
// to kNone are far beyond the cap.
void NearerRow(const std::int32_t* HWY_RESTRICT px, const std::int32_t* HWY_RESTRICT py,
               std::ptrdiff_t diagonal, std::int32_t row, std::size_t count,
               std::int32_t* HWY_RESTRICT cx, std::int32_t* HWY_RESTRICT cy,
               std::int32_t* HWY_RESTRICT cd) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<std::int32_t, decltype(dd)> di;
  const std::size_t n = hn::Lanes(dd);
  const auto vy = hn::Set(di, row);
  const auto cap = hn::Set(dd, 2147483647.0);
  const auto lanes = hn::Set(di, static_cast<std::int32_t>(n));
  const auto squared = [&](decltype(vy) vx, decltype(vy) ax, decltype(vy) ay) {
    const auto dx = hn::PromoteTo(dd, hn::Sub(vx, ax)), dy = hn::PromoteTo(dd, hn::Sub(vy, ay));
    return hn::Add(hn::Mul(dx, dx), hn::Mul(dy, dy));
  };
  auto vx = hn::Iota(di, 0);
  std::size_t x = 0;
  for (; x + n <= count; x += n, vx = hn::Add(vx, lanes)) {
    const auto nx = hn::LoadU(di, px + x), ny = hn::LoadU(di, py + x);
    const auto gx = hn::LoadU(di, px + x + diagonal), gy = hn::LoadU(di, py + x + diagonal);
    const auto viaColumn = hn::Min(cap, squared(vx, nx, ny));
    const auto viaDiagonal = squared(vx, gx, gy);
    // Picked as doubles, which hold every int32: masks do not change lane size here.
    const auto diagonalWins = hn::Lt(viaDiagonal, viaColumn);
    const auto pick = [&](decltype(vy) diagonalValue, decltype(vy) columnValue) {
      return hn::DemoteTo(di, hn::IfThenElse(diagonalWins, hn::PromoteTo(dd, diagonalValue),
                                             hn::PromoteTo(dd, columnValue)));
    };
    hn::StoreU(pick(gx, nx), di, cx + x);
    hn::StoreU(pick(gy, ny), di, cy + x);
    hn::StoreU(hn::DemoteTo(di, hn::Min(viaColumn, viaDiagonal)), di, cd + x);
  }
  for (; x < count; ++x) {
    // Signed: the diagonal may lie before the row's first pixel, in the frame.
    const auto squaredAt = [&](std::ptrdiff_t at) {
      const std::int64_t dx = static_cast<std::int64_t>(x) - px[at], dy = row - py[at];
      return dx * dx + dy * dy;
    };
    const std::ptrdiff_t g = static_cast<std::ptrdiff_t>(x) + diagonal;
    const std::int64_t viaColumn = std::min<std::int64_t>(2147483647, squaredAt(x));
    const std::int64_t viaDiagonal = squaredAt(g);
    const bool diagonalWins = viaDiagonal < viaColumn;
    cx[x] = diagonalWins ? px[g] : px[x];
    cy[x] = diagonalWins ? py[g] : py[x];
    cd[x] = static_cast<std::int32_t>(std::min(viaColumn, viaDiagonal));
  }
}

// Squared distances to distances, in place, and their least and greatest.
void RootsRow(float* HWY_RESTRICT row, std::size_t count, float* low, float* high) {
  const hn::ScalableTag<float> d;
  const std::size_t n = hn::Lanes(d);
  auto lo = hn::Set(d, *low), hi = hn::Set(d, *high);
  std::size_t x = 0;
  for (; x + n <= count; x += n) {
    const auto v = hn::Sqrt(hn::LoadU(d, row + x));
    hn::StoreU(v, d, row + x);
    lo = hn::Min(lo, v);
    hi = hn::Max(hi, v);
  }
  float l = hn::GetLane(hn::MinOfLanes(d, lo)), h = hn::GetLane(hn::MaxOfLanes(d, hi));
  for (; x < count; ++x) {
    row[x] = std::sqrt(row[x]);
    l = std::min(l, row[x]);
    h = std::max(h, row[x]);
  }
  *low = l;
  *high = h;
}

// The estimated true heights of row `current` (framed rows, `count` pixels from x = 0), with
// the map's own value at the picture's left and right edge and on the ground.
void TrueRow(const float* HWY_RESTRICT above, const float* HWY_RESTRICT current,
             const float* HWY_RESTRICT below, float* HWY_RESTRICT out, std::size_t count) {
  const hn::ScalableTag<float> d;
  const std::size_t n = hn::Lanes(d);
  const auto one = hn::Set(d, 1.0F), root2 = hn::Set(d, kSqrt2), half = hn::Set(d, 0.5F);
  const auto ceiling = hn::Set(d, 0.5F * kSqrt2), zero = hn::Zero(d);
  const auto block = [&](std::size_t x) {
    const auto v = hn::LoadU(d, current + x);
    auto trueH = hn::Add(v, ceiling);
    auto ridgeOrMax = hn::Lt(v, zero);  // none
    const auto pair = [&](const float* a, const float* b, decltype(one) add) {
      const auto v1 = hn::LoadU(d, a), v2 = hn::LoadU(d, b);
      const auto ridge = hn::And(hn::Ge(v, v1), hn::Ge(v, v2));
      ridgeOrMax = hn::Or(ridgeOrMax, ridge);
      const auto h = hn::IfThenElse(ridge, hn::Mul(hn::Add(v1, v2), half), hn::Min(v1, v2));
      trueH = hn::Min(trueH, hn::Add(h, add));
    };
    pair(above + x, below + x, one);
    pair(above + x + 1, below + x - 1, root2);
    pair(current + x + 1, current + x - 1, one);
    pair(below + x + 1, above + x - 1, root2);
    const auto keep = hn::Or(hn::Not(ridgeOrMax), hn::Eq(v, zero));
    hn::StoreU(hn::IfThenElse(keep, v, trueH), d, out + x);
  };
  std::size_t x = 0;
  for (; x + n <= count; x += n)
    block(x);
  if (x < count) {
    if (count >= n)
      block(count - n);
    else
      for (; x < count; ++x) {
        const float v = current[x];
        float trueH = v + 0.5F * kSqrt2;
        bool ridgeOrMax = false;
        const float* a[4] = {above + x, above + x + 1, current + x + 1, below + x + 1};
        const float* b[4] = {below + x, below + x - 1, current + x - 1, above + x - 1};
        for (int k = 0; k < 4; ++k) {
          const float v1 = *a[k], v2 = *b[k];
          const bool ridge = v >= v1 && v >= v2;
          ridgeOrMax |= ridge;
          const float h = (ridge ? (v1 + v2) * 0.5F : std::min(v1, v2)) + (k % 2 ? kSqrt2 : 1.0F);
          trueH = std::min(trueH, h);
        }
        out[x] = ridgeOrMax && v != 0 ? trueH : v;
      }
  }
  out[0] = current[0];
  out[count - 1] = current[count - 1];
}

// The local maxima of row `map[1]` (framed rows of the map and of the true heights, `count`
// pixels from x = 0): no neighbour higher both in value and in true height, and above the
// least value. Marks them 1 in `types`, others 0; returns how many.
std::size_t MaximaRow(const float* const* map, const float* const* heights, float least,
                      std::uint8_t* HWY_RESTRICT types, std::size_t count) {
  const hn::ScalableTag<float> d;
  const hn::RebindToSigned<decltype(d)> di;
  const hn::Rebind<std::uint8_t, decltype(d)> d8;
  const std::size_t n = hn::Lanes(d);
  const auto floor = hn::Set(d, least);
  std::size_t found = 0;
  const auto block = [&](std::size_t x, bool count_them) {
    const auto v = hn::LoadU(d, map[1] + x), t = hn::LoadU(d, heights[1] + x);
    auto lower = hn::Eq(v, floor);
    for (int r = 0; r < 3; ++r)
      for (int dx = -1; dx <= 1; ++dx) {
        if (r == 1 && dx == 0)
          continue;
        const auto vn = hn::LoadU(d, map[r] + x + dx), tn = hn::LoadU(d, heights[r] + x + dx);
        lower = hn::Or(lower, hn::And(hn::Gt(vn, v), hn::Gt(tn, t)));
      }
    const auto marks = hn::IfThenZeroElse(hn::RebindMask(di, lower), hn::Set(di, 1));
    hn::StoreU(hn::DemoteTo(d8, marks), d8, types + x);
    if (count_them)
      found += hn::CountTrue(d, hn::Not(lower));
  };
  std::size_t x = 0;
  for (; x + n <= count; x += n)
    block(x, true);
  if (x < count) {
    if (count >= n) {
      block(count - n, false);
      for (; x < count; ++x)
        found += types[x];
    } else {
      for (; x < count; ++x) {
        const float v = map[1][x], t = heights[1][x];
        bool isMax = v != least;
        for (int r = 0; r < 3; ++r)
          for (int dx = -1; dx <= 1; ++dx)
            if (const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(x) + dx;
                !(r == 1 && dx == 0) && map[r][at] > v && heights[r][at] > t)
              isMax = false;
        types[x] = isMax;
        found += isMax;
      }
    }
  }
  return found;
}

// ImageJ's levels of a distance map for the watershed: 0 on the ground, else
// 1 + round((value - offset) × factor) within 1 ... 254, in double, halves rounded up.
void LevelsRow(const float* HWY_RESTRICT map, std::uint8_t* HWY_RESTRICT out, std::size_t count,
               double offset, double factor) {
  const hn::ScalableTag<double> dd;
  const hn::Rebind<float, decltype(dd)> df;
  const hn::Rebind<std::int32_t, decltype(dd)> di;
  const hn::Rebind<std::uint8_t, decltype(dd)> d8;
  const std::size_t n = hn::Lanes(dd);
  const auto vOffset = hn::Set(dd, offset), vFactor = hn::Set(dd, factor);
  const auto half = hn::Set(dd, 0.5), one = hn::Set(dd, 1.0), top = hn::Set(dd, 254.0);
  const auto block = [&](std::size_t x) {
    const auto raw = hn::PromoteTo(dd, hn::LoadU(df, map + x));
    const auto scaled = hn::Mul(hn::Sub(raw, vOffset), vFactor);
    const auto whole = hn::Floor(scaled);
    const auto rounded =
        hn::IfThenElse(hn::Ge(hn::Sub(scaled, whole), half), hn::Add(whole, one), whole);
    auto level = hn::Min(hn::Max(hn::Add(rounded, one), one), top);
    level = hn::IfThenZeroElse(hn::Lt(raw, half), level);
    hn::StoreU(hn::DemoteTo(d8, hn::DemoteTo(di, level)), d8, out + x);
  };
  std::size_t x = 0;
  for (; x + n <= count; x += n)
    block(x);
  for (; x < count; ++x) {
    const double raw = map[x];
    if (raw < 0.5) {
      out[x] = 0;
      continue;
    }
    const double scaled = (raw - offset) * factor;
    const double whole = std::floor(scaled);
    const double rounded = scaled - whole >= 0.5 ? whole + 1 : whole;
    out[x] = static_cast<std::uint8_t>(std::clamp(rounded + 1, 1.0, 254.0));
  }
}

}  // namespace kernels::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace kernels {

HWY_EXPORT(RootsRow);
HWY_EXPORT(TrueRow);
HWY_EXPORT(MaximaRow);
HWY_EXPORT(LevelsRow);
HWY_EXPORT(NearerRow);

}  // namespace kernels

namespace {

// One of ImageJ's two sweeps of the distance map, down or up, each row left to right and right
// to left: in each direction a pixel takes the nearest ground pixel among the column's, the
// diagonal's (both from the row before, picked for the whole row at once) and the pixel's before
// it. Into `map` (framed, row `y` at map + (y + 1) * stride + 1) goes the least of what it finds
// and what the row holds; the first sweep to reach a row writes it afresh instead, with 0 on the
// ground, rather than after a pass of its own that fills it.
class DistanceSweep {
 public:
  DistanceSweep(const TBitmap& bitmap, float* map, std::size_t stride)
      : bitmap_(bitmap),
        map_(map),
        stride_(stride),
        w_(static_cast<std::size_t>(bitmap.Width())),
        nearest_(4 * (w_ + 2), kNone),
        picked_(3 * w_) {}

  void Row(int y, bool first) {
    Direction(y, Column(0), Column(1), true, first);
    Direction(y, Column(2), Column(3), false, false);
  }

 private:
  // Per direction, the nearest found for each column, with kNone on both sides for the
  // diagonal of the first and the last column.
  std::int32_t* Column(int k) { return nearest_.data() + k * (w_ + 2) + 1; }

  void Direction(int y, std::int32_t* px, std::int32_t* py, bool forth, bool first) {
    using namespace kernels;
    const int width = bitmap_.Width();
    std::int32_t *cx = picked_.data(), *cy = cx + w_, *cd = cy + w_;
    const std::uint8_t* in = bitmap_.ScanLine(y);
    float* out = map_ + (static_cast<std::size_t>(y) + 1) * stride_ + 1;
    HWY_DYNAMIC_DISPATCH(NearerRow)(px, py, forth ? -1 : 1, y, w_, cx, cy, cd);
    std::int32_t previousX = kNone, previousY = kNone;
    for (int i = 0; i < width; ++i) {
      const int x = forth ? i : width - 1 - i;
      if (in[x] == 255) {
        previousX = px[x] = x;
        previousY = py[x] = y;
        if (first)
          out[x] = 0.0F;
        continue;
      }
      std::int32_t bestX = cx[x], bestY = cy[x];
      std::int64_t best = cd[x];
      const std::int64_t dx = x - static_cast<std::int64_t>(previousX), dy = y - previousY;
      if (const std::int64_t viaPrevious = dx * dx + dy * dy; viaPrevious < best) {
        best = viaPrevious;
        bestX = previousX;
        bestY = previousY;
      }
      previousX = px[x] = bestX;
      previousY = py[x] = bestY;
      // Every squared distance is at most INT32_MAX, below the float maximum.
      out[x] = first ? static_cast<float>(best) : std::min(out[x], static_cast<float>(best));
    }
  }

  const TBitmap& bitmap_;
  float* map_;
  std::size_t stride_;
  std::size_t w_;
  std::vector<std::int32_t> nearest_, picked_;
};

// Squared distances of the black pixels of `bitmap` into `map`, each pixel's value the least of
// the two sweeps'. Neither sweep reads what the other wrote, so `atOnce` has both at once:
// down the upper half while up the lower, then each on through the half the other left.
void SquaredDistances(const TBitmap& bitmap, float* map, std::size_t stride, bool atOnce) {
  const int height = bitmap.Height();
  const int middle = height / 2;
  DistanceSweep down(bitmap, map, stride), up(bitmap, map, stride);
  BothAtOnce(
      atOnce,
      [&] {
        for (int y = 0; y < middle; ++y)
          down.Row(y, true);
      },
      [&] {
        for (int y = height - 1; y >= middle; --y)
          up.Row(y, true);
      });
  BothAtOnce(
      atOnce,
      [&] {
        for (int y = middle; y < height; ++y)
          down.Row(y, false);
      },
      [&] {
        for (int y = middle - 1; y >= 0; --y)
          up.Row(y, false);
      });
}

bool IsBlackAndWhite(const TBitmap& bitmap) {
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* row = bitmap.ScanLine(y);
    // A whole row at a time, without a branch a pixel, so that the compiler takes it in vectors.
    bool grey = false;
    for (int x = 0; x < bitmap.Width(); ++x)
      grey |= static_cast<std::uint8_t>(row[x] - 1) < 254;
    if (grey)
      return false;
  }
  return true;
}

}  // namespace

void Watershed(TBitmap& bitmap) {
  if (bitmap.Empty() || bitmap.PixelFormat() != TPixelFormat::pf8bit || !IsBlackAndWhite(bitmap))
    return;
  PrepareSimdDispatch();
  // Unqualified, as the dispatch names the kernels, statically too (the valgrind build).
  using namespace kernels;
  const int width = bitmap.Width(), height = bitmap.Height();
  const std::size_t stride = static_cast<std::size_t>(width) + 2;
  const std::size_t size = stride * (static_cast<std::size_t>(height) + 2);

  // The distance map, framed by zeros.
  const auto map = Uninitialised<float>(size);
  std::fill_n(map.get(), stride, 0.0F);
  std::fill_n(map.get() + size - stride, stride, 0.0F);
  for (int y = 0; y < height; ++y) {
    float* row = map.get() + (static_cast<std::size_t>(y) + 1) * stride;
    row[0] = row[stride - 1] = 0.0F;
  }
  // A large picture's map is swept and flooded by two threads.
  const bool shared = SplitsInTwo(height, static_cast<std::size_t>(width) * sizeof(float) * height);
  SquaredDistances(bitmap, map.get(), stride, shared);
  float low = std::numeric_limits<float>::max(), high = -low;
  for (int y = 0; y < height; ++y)
    HWY_DYNAMIC_DISPATCH(RootsRow)
  (map.get() + (static_cast<std::size_t>(y) + 1) * stride + 1, width, &low, &high);

  // Types and levels, framed: the frame's type reads as listed, its level as ground.
  const auto types = Uninitialised<std::uint8_t>(size);
  // Room for the flooding's word read past the last pixel.
  const auto levels = Uninitialised<std::uint8_t>(size + 4);
  std::memset(types.get(), kListed, stride);
  std::memset(types.get() + size - stride, kListed, stride);
  std::memset(levels.get(), 0, stride);
  std::memset(levels.get() + size - stride, 0, stride + 4);
  Segmentation s(width, height, map.get(), types.get(), levels.get());

  const double offset = 1.0 - (high - 1.0) * (1.0 / 253 / 2 - 1e-6);
  const double factor = std::min(1.0, 253 / (high - 1.0));
  const bool anyMaximum = high > low;
  const float scale = static_cast<float>(2e9 / static_cast<double>(high - low));
  const auto mapRow = [&](int y) { return map.get() + (static_cast<std::size_t>(y) + 1) * stride; };
  const auto trueOf = [&](int y, float* out) {
    if (y < 0 || y >= height)
      std::fill_n(out, stride, 0.0F);
    else if (y == 0 || y == height - 1)
      std::copy_n(mapRow(y), stride, out);
    else
      HWY_DYNAMIC_DISPATCH(TrueRow)
    (mapRow(y - 1) + 1, mapRow(y) + 1, mapRow(y + 1) + 1, out + 1, width);
  };
  // Levels and maxima of rows [first, last): each row reads the map only, so the halves of a
  // large picture are taken at once. The maxima's order is their sort's.
  const auto levelsAndMaxima = [&](int first, int last, std::vector<Maximum>& found) {
    // True heights of three rows at a time, framed by zeros.
    std::vector<float> trueRows(3 * stride, 0.0F);
    float* heights[3] = {trueRows.data(), trueRows.data() + stride, trueRows.data() + 2 * stride};
    if (anyMaximum) {
      trueOf(first - 1, heights[0]);
      trueOf(first, heights[1]);
    }
    for (int y = first; y < last; ++y) {
      const std::size_t start = (static_cast<std::size_t>(y) + 1) * stride;
      std::uint8_t* typeRow = types.get() + start;
      typeRow[0] = typeRow[stride - 1] = kListed;
      levels[start] = levels[start + stride - 1] = 0;
      HWY_DYNAMIC_DISPATCH(LevelsRow)
      (mapRow(y) + 1, levels.get() + start + 1, width, offset, factor);
      if (!anyMaximum) {
        std::memset(typeRow + 1, 0, width);
        continue;
      }
      trueOf(y + 1, heights[2]);
      const float* rows[3] = {mapRow(y - 1) + 1, mapRow(y) + 1, mapRow(y + 1) + 1};
      const float* trues[3] = {heights[0] + 1, heights[1] + 1, heights[2] + 1};
      if (HWY_DYNAMIC_DISPATCH(MaximaRow)(rows, trues, low, typeRow + 1, width) > 0)
        for (int x = 0; x < width; ++x)
          if (typeRow[x + 1] == kMaximum)
            found.push_back({JavaInt((trues[1][x] - low) * scale), start + 1 + x});
      std::rotate(heights, heights + 1, heights + 3);
    }
  };
  std::vector<Maximum> maxima, lower;
  BothAtOnce(
      shared, [&] { levelsAndMaxima(0, height / 2, maxima); },
      [&] { levelsAndMaxima(height / 2, height, lower); });
  maxima.insert(maxima.end(), lower.begin(), lower.end());
  std::sort(maxima.begin(), maxima.end());

  if (maxima.empty()) {
    // No maximum at all: ImageJ takes every pixel as within reach of one.
    for (std::size_t i = 0; i < size; ++i)
      if (levels[i] != 0)
        levels[i] = 255;
  } else {
    s.MarkMaxima(maxima);
  }
  s.CleanupMaxima(maxima);
  if (size <= std::numeric_limits<std::uint32_t>::max())
    s.Segment<std::uint32_t>(map.get(), shared);
  else
    s.Segment<std::size_t>(map.get(), shared);

  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = levels.get() + (static_cast<std::size_t>(y) + 1) * stride + 1;
    std::uint8_t* out = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x)
      out[x] = in[x] == 255 ? 0 : 255;
  }
}

#endif  // HWY_ONCE
