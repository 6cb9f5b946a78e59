// What every scan of a board reads: the window geometry of the 27 x 27 grid, and the
// template table regrouped by value ("buckets") for the candidate listing.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/board.h"
#include "patterns/templates.h"

namespace kestrova {

constexpr int kLastStart = BoardSize + 1;    // windows start on the ring or inside it
constexpr int kLastAntiDiagonalColumn = 16;  // the anti-diagonal window must stay inside 0..21
constexpr int kStep[5] = {0, kGrid, 1, kGrid + 1, 1 - kGrid};
constexpr int kCellSlots = 24;  // six windows per direction name a cell

// The six cell codes of a window as one lookup index, the first cell the most significant.
inline uint32_t WindowCode(const uint8_t* b, int start, int step) {
  return uint32_t(b[start]) << 10 | uint32_t(b[start + step]) << 8 |
         uint32_t(b[start + 2 * step]) << 6 | uint32_t(b[start + 3 * step]) << 4 |
         uint32_t(b[start + 4 * step]) << 2 | uint32_t(b[start + 5 * step]);
}

struct ScanTables {
  explicit ScanTables(const Patterns& patterns);

  static constexpr uint8_t kFiveBucket = 0xFE;  // fives end a scan: they are in no bucket
  static constexpr uint8_t kNoBucket = 0xFF;

  const Patterns& patterns;
  std::array<uint8_t, kTemplates + 1> bucketOf{};
  std::vector<int32_t> bucketValue;  // bucket rank -> value, highest first
  // Highest score reachable through bonuses by a cell of a given best bucket and points.
  std::vector<std::array<int16_t, kCellSlots + 1>> reachable;
  // Board-cell offsets of each template's spots in each direction, so a point's cell is
  // the window's start cell plus an offset.
  std::array<std::array<std::array<int16_t, 4>, 5>, kTemplates + 1> spotOffset{};
};

}  // namespace kestrova
