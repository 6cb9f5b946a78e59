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

class Scanner {
 public:
  explicit Scanner(const Patterns& patterns);

  // Fills spoints and returns the position value seen from side 2; exactly +220 or -220
  // when a five stands on the board (then the list is empty).
  int32_t FindSPoints(const Board& board, SPointList& spoints, int sideToMove);

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
  static constexpr uint8_t kFive = 0xFE;
  static constexpr uint8_t kNoBucket = 0xFF;

  int32_t ScanWindows(const uint8_t* b);
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

}  // namespace kestrova
