// The scan kept up to date as stones come and go, for the search's walk down the tree.
#pragma once

#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <vector>

#include "core/board.h"
#include "patterns/candidates.h"
#include "patterns/scan.h"
#include "patterns/scan_tables.h"

namespace kestrova {

// What a scan derives from one board, kept up to date cell by cell: every window's code
// and template, and for every cell the points that matching windows name on it. Changing
// a cell touches only the at most 24 windows through it and the cells they name; changing
// it back restores everything exactly, since all of it follows from the board alone.
// A cell's best point, with and without crossing bonuses, is worked out only when the
// cell has changed and could make the list, and slot contents seen before are looked up.
class ScanState {
 public:
  explicit ScanState(const Scanner& scanner);

  // Recomputes everything from the board.
  void Reset(const Board& board);
  // Writes code into one cell and updates what depends on it.
  void Set(int cell, uint8_t code);
  const Board& board() const { return board_; }

  // The list and value of the board followed, from what is kept, or kFullScan when only a
  // full scan can tell (points below 30 would count).
  static constexpr int32_t kFullScan = INT32_MIN;
  int32_t TryFindSPoints(SPointList& spoints, int sideToMove);

  // One byte each in a cell's counts: the templates have eight values below 220.
  static constexpr int kMaxBuckets = 8;
  // The windows of one side (2 or 3) that match a template, by bucket (highest value first):
  // all the side's shapes, where the list holds only the best points of the leading side.
  const std::array<int16_t, kMaxBuckets>& SideWindows(int side) const {
    return sideWindows_[side - Own];
  }

 private:
  // A window is numbered by its start cell and direction as in the scan's order:
  // (i * kGrid + j) * 4 + direction - 1, with starts i, j in 0..21.
  static constexpr int kWindowIds = ((BoardSize + 1) * kGrid + BoardSize + 1) * 4 + 4;
  static constexpr int kWords = (kWindowIds + 63) / 64;
  static constexpr int kSlots = kCellSlots;  // the windows that can name a cell, in window order
  static constexpr uint8_t kNoPoint = 0xFF;

  // A cell's best point without and with crossing bonuses, worked out when the cell is
  // first needed after a change.
  struct CellDetail {
    bool done = false;
    uint8_t rawSlot = 0, rawSide = 0;  // the first slot of the best bucket
    uint8_t slot = 0, bucket = 0, side = 0, bonusKind = 0;
    int16_t score = 0;
  };
  struct TemplateInfo {
    int16_t value;
    uint8_t bucket, side, spotCount;
  };
  // Where a template's spot lies from the window's start cell, and which slot of that
  // cell the window fills.
  struct Spot {
    int16_t offset;
    uint8_t slot;
  };
  // The outcome of the crossing bonuses for one sequence of points (bucket, direction
  // and side of each, in working-list order): which point is best and how it ends.
  struct BonusOutcome {
    uint64_t sequence = 0;
    int16_t score = 0;
    uint8_t rep = 0, bonusKind = 0;
  };
  static constexpr int kOutcomeBits = 10;
  // A cell's detail follows from its slots alone: recently worked out ones, by content.
  struct KnownDetail {
    std::array<uint8_t, kSlots> slots{};
    CellDetail detail;
  };
  static constexpr int kKnownBits = 14;

  // The windows through a cell, and what one unit of the cell's code weighs in each.
  struct CellWindows {
    struct {
      uint16_t id, weight;
    } windows[kSlots];
    int count = 0;
  };

  void Retemplate(int window, int start, int direction, uint8_t from, uint8_t to);
  void WorkOut(int cell, int best);
  void WorkOutAfresh(CellDetail& detail, const std::array<uint8_t, kSlots>& slots, int best);
  // A point's place in the working list: by bucket, then by window, then by its place
  // in the window.
  uint32_t Order(int cell, int slot, int bucket) const {
    return uint32_t(bucket) << 15 | uint32_t(cell * 4 + slotWindow_[slot]) << 3 | slotPlace_[slot];
  }
  // Files the cells whose points changed since the last call under their new best.
  void Refresh();
  static int BestBucket(uint64_t counts) {
    return counts ? std::countr_zero(counts) / 8 : kNoPoint;
  }
  // The sum of the bytes of counts that mask keeps.
  static int PointsIn(uint64_t counts, uint64_t mask) {
    return int(((counts & mask) * 0x0101010101010101ULL) >> 56);
  }

  const Scanner& scanner_;
  std::array<uint8_t, kLookupSize> lookup_{};
  std::array<TemplateInfo, kTemplates + 1> info_{};
  std::array<std::array<std::array<Spot, 4>, 4>, kTemplates + 1> spots_{};  // by direction
  std::array<int16_t, kMaxBuckets> bucketValue_{};
  std::array<uint8_t, kSlots> slotDirection_{}, slotPlace_{};
  std::array<int16_t, kSlots> slotWindow_{};  // window id minus four times the cell
  Board board_{};
  std::array<CellWindows, kCells> windowsThrough_{};
  std::array<uint16_t, kWindowIds> code_{};
  std::array<uint8_t, kWindowIds> template_{};
  std::array<int32_t, kMaxBuckets> windows_{};  // matching windows per bucket
  std::array<std::array<int16_t, kMaxBuckets>, 2> sideWindows_{};
  uint64_t fiveWords_ = 0;                // words of fives_ that hold a five
  std::array<uint64_t, kWords> fives_{};  // one bit per window matching a five
  // Per cell: the template of each window naming it there (0 for none).
  std::array<std::array<uint8_t, kSlots>, kCells> slots_{};
  // Per cell, one byte per bucket: how many of its points have that bucket's value.
  std::array<uint64_t, kCells> counts_{};
  std::array<uint8_t, kCells> best_{};  // the bucket its cell is listed under
  std::array<CellDetail, kCells> detail_{};
  uint64_t from180_ = 0;  // the bytes of counts_ for the buckets of 180 and more
  std::array<uint8_t, kCells> touched_{};
  std::array<int16_t, kCells + 1> touchedCells_{};  // one past the last may be written
  int touchedCount_ = 0;
  // The cells with at least one point, by the bucket of their best, and each cell's
  // place in its list (or -1).
  std::array<std::vector<int16_t>, kMaxBuckets> listed_;
  std::array<int16_t, kCells> listedAt_{};
  std::array<BonusOutcome, 1 << kOutcomeBits> outcomes_{};
  // Large enough for the neighbourhoods a long search keeps returning to; on the heap, so
  // a search can live on the stack.
  std::vector<KnownDetail> known_ = std::vector<KnownDetail>(1 << kKnownBits);
};

}  // namespace kestrova
