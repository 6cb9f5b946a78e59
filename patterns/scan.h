// The board scan: one pass over every six-cell window gives the five test, the scored
// candidate points ("spoints") and the position value.
#pragma once

#include <array>
#include <cstdint>
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
    uint8_t x, y;
    uint8_t direction, side, bonusKind, ofMover;
    int32_t next;  // next point naming the same cell, in working-list order
  };
  static constexpr uint8_t kFive = 0xFE;
  static constexpr uint8_t kNoBucket = 0xFF;

  int32_t ScanWindows(const uint8_t* b);
  void CollectPoints(int sideToMove);
  void ApplyCrossingBonuses();
  void CutAndSort(SPointList& spoints) const;

  const Patterns& patterns_;
  std::array<uint8_t, kTemplates + 1> bucketOf_{};
  std::vector<int32_t> bucketValue_;             // bucket rank -> value, highest first
  std::vector<std::vector<uint32_t>> buckets_;   // matched windows, in scan order
  std::vector<WorkPoint> points_;
  std::vector<int32_t> cells_;                   // distinct cells, in order of first mention
  std::array<uint32_t, kCells> stamp_{};         // generation stamps instead of per-call zeroing
  std::array<int32_t, kCells> head_{};
  std::array<int32_t, kCells> tail_{};
  uint32_t generation_ = 0;
};

}  // namespace kestrova
