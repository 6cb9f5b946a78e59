// The board scan: one pass over every six-cell window gives the five test, the scored
// candidate points ("spoints") and the position value.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/board.h"
#include "patterns/templates.h"

namespace kestrova {

constexpr int kMaxSPoints = 11;
constexpr int32_t kFiveValue = 220;

struct SPoint {
  int32_t x;
  int32_t y;
  int32_t score;  // in element 0 of a list: the number of points
  int32_t direction;
  int32_t template_;
  int32_t side;
  int32_t bonusKind;
  int32_t ofMover;
};

// Element 0 is the header (its score is the count); points 1..count follow, best first.
struct SPointList {
  std::array<SPoint, kMaxSPoints + 1> items{};
  int32_t count() const { return items[0].score; }
  const SPoint& operator[](int k) const { return items[k]; }
};

class ScanState;

class Scanner {
 public:
  explicit Scanner(const Patterns& patterns);

  // Fills spoints and returns the position value seen from side 2; exactly +220 or -220
  // when a five stands on the board (then the list is empty).
  int32_t FindSPoints(const Board& board, SPointList& spoints, int sideToMove);
  // The same result for the board a ScanState follows, from the windows it keeps: no
  // window is read again.
  int32_t FindSPoints(const ScanState& state, SPointList& spoints, int sideToMove);

  // Value bucket of each template (kFive for the fives), shared with ScanState.
  uint8_t BucketOf(int t) const { return bucketOf_[t]; }
  int Buckets() const { return int(bucketValue_.size()); }
  static constexpr uint8_t kFive = 0xFE;

  // Scans made so far, for the speed figures.
  uint64_t scans = 0;

 private:
  struct WorkPoint {
    int16_t score;
    int16_t next;  // next point naming the same cell, in working-list order
    uint8_t direction, side, bonusKind;
  };
  // Every window matches at most one template, and a template names at most four spots.
  static constexpr int kWindows = 22 * 22 * 3 + 17 * 17;
  static constexpr int kMaxPoints = kWindows * 4;
  static constexpr int kMaxCellPoints = 24;  // six windows per direction name a cell
  static constexpr uint8_t kNoBucket = 0xFF;

  int32_t ScanWindows(const uint8_t* b);
  int32_t ReadWindows(const ScanState& state);
  int32_t PointsFromBuckets(SPointList& spoints, int sideToMove);
  void CollectPoints(int32_t lowestValue);
  void ApplyCrossingBonuses(int cell);
  void CutAndSort(SPointList& spoints, int32_t minThreshold, int sideToMove, bool withBonuses);

  const Patterns& patterns_;
  std::array<uint8_t, kTemplates + 1> bucketOf_{};
  std::vector<int32_t> bucketValue_;  // bucket rank -> value, highest first
  // Matched windows per bucket: start cell, direction - 1 and template, packed so that
  // they sort in scan order.
  std::vector<std::unique_ptr<uint32_t[]>> bucketData_;
  std::vector<int32_t> bucketSize_;
  std::unique_ptr<uint32_t[]> found_;  // matches of one scan, direction by direction
  std::unique_ptr<uint32_t[]> merged_;
  // Board-cell offsets of each template's spots in each direction, so a point's cell is
  // the window's start cell plus an offset.
  std::array<std::array<std::array<int16_t, 4>, 5>, kTemplates + 1> spotOffset_{};
  std::unique_ptr<WorkPoint[]> points_;
  int32_t pointCount_ = 0;
  std::vector<int32_t> cells_;  // distinct cells, in order of first mention
  // Per-cell data, valid where stamp_ holds the current generation: stamps instead of
  // zeroing per call.
  std::array<uint32_t, kCells> stamp_{};
  std::array<int16_t, kCells> head_{};
  std::array<int16_t, kCells> tail_{};
  std::array<uint8_t, kCells> cellPoints_{};
  std::array<uint8_t, kCells> cellBest_{};  // bucket of the highest raw score on the cell
  std::vector<int32_t> cellsByBest_;        // cells per bucket of their highest raw score
  // Highest score reachable through bonuses by a cell of a given best bucket and points.
  std::vector<std::array<int16_t, 25>> reachable_;
  uint32_t generation_ = 0;
};

// The windows of one board kept up to date cell by cell: each window's code and template,
// and for each value bucket the set of windows that match, in window order. Changing a
// cell touches only the at most 24 windows through it; changing it back restores
// everything exactly, since all of it follows from the board alone.
class ScanState {
 public:
  // A window is numbered by its start cell and direction as in the scan's order:
  // (i * kGrid + j) * 4 + direction - 1, with starts i, j in 0..21.
  static constexpr int kWindowIds = ((BoardSize + 1) * kGrid + BoardSize + 1) * 4 + 4;
  static constexpr int kWords = (kWindowIds + 63) / 64;
  static constexpr int kMaxBuckets = 15;

  ScanState(const Patterns& patterns, const Scanner& scanner);

  // Recomputes every window from the board.
  void Reset(const Board& board);
  // Writes code into one cell and updates the windows through it.
  void Set(int cell, uint8_t code);
  const Board& board() const { return board_; }

  // Windows matching a template of the bucket, one bit per window id; a word of the
  // summary is set when that word of bits holds any window.
  struct WindowSet {
    uint64_t summary;
    std::array<uint64_t, kWords> bits;
  };
  const WindowSet& Matches(int bucket) const { return sets_[bucket]; }
  const WindowSet& Fives() const { return sets_[kMaxBuckets]; }
  uint8_t TemplateOf(int window) const { return template_[window]; }

 private:
  void Retemplate(int window, uint8_t from, uint8_t to);

  const int32_t* lookup_;
  std::array<uint8_t, kTemplates + 1> bucketOf_{};  // kMaxBuckets for a five
  Board board_{};
  std::array<uint16_t, kWindowIds> code_{};
  std::array<uint8_t, kWindowIds> template_{};
  std::array<WindowSet, kMaxBuckets + 1> sets_{};
};

}  // namespace kestrova
