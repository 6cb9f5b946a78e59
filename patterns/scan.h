// The board scan: one pass over every six-cell window gives the five test, the scored
// candidate points ("spoints") and the position value.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/board.h"
#include "patterns/candidates.h"
#include "patterns/scan_tables.h"
#include "patterns/templates.h"

namespace kestrova {

class ScanState;

class Scanner {
 public:
  explicit Scanner(const Patterns& patterns);

  // Fills spoints and returns the position value seen from side 2; exactly +220 or -220
  // when a five stands on the board (then the list is empty).
  int32_t FindSPoints(const Board& board, SPointList& spoints, int sideToMove);
  // The same result for the board a ScanState follows, from what it keeps: no window is
  // read again.
  int32_t FindSPoints(ScanState& state, SPointList& spoints, int sideToMove);

  const ScanTables& tables() const { return tables_; }

  // The win rule the five test follows; the templates and their values stay the same.
  void SetRule(Rule rule) { rule_ = rule; }
  Rule rule() const { return rule_; }
  // Whether a window from start in direction that matches five template t is a win: under
  // the exact-five rule its stones may be part of six or more, which win nothing.
  bool IsFive(const uint8_t* cells, int start, int direction, int t) const {
    if (rule_ == Rule::Freestyle) return true;
    const int step = kStep[direction];
    const auto side = static_cast<uint8_t>(tables_.patterns.Templates[t].side);
    // The window's second cell is a stone of the five in every five template.
    return IsFiveRun(RunThrough(cells, start + step, step, side), rule_);
  }

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

  int32_t Scan(const Board& board, SPointList& spoints, int sideToMove);
  int32_t ScanWindows(const uint8_t* b);
  void CollectPoints(int32_t lowestValue);
  void ApplyCrossingBonuses(int cell);
  int32_t CutAndSort(SPointList& spoints, int32_t minThreshold, int sideToMove, bool withBonuses);

  ScanTables tables_;
  Rule rule_ = Rule::Freestyle;
  // Matched windows per bucket: start cell, direction - 1 and template, packed so that
  // they sort in scan order.
  std::vector<std::unique_ptr<uint32_t[]>> bucketData_;
  std::vector<int32_t> bucketSize_;
  std::unique_ptr<uint32_t[]> found_;  // matches of one scan, direction by direction
  std::unique_ptr<uint32_t[]> merged_;
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
  uint32_t generation_ = 0;
};

}  // namespace kestrova
