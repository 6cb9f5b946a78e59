// The board layout shared by the game state, the scan and every tree node.
#pragma once

#include <array>
#include <cstdint>

namespace kestrova {

constexpr int BoardSize = 20;
// Playing area 1..20, wall ring 0 and 21, margin 22..26 that always reads Empty:
// six-cell windows that start on the ring run into the margin.
constexpr int kGrid = BoardSize + 7;
constexpr int kCells = kGrid * kGrid;

enum Cell : uint8_t { Empty = 0, Wall = 1, Own = 2, Opponent = 3 };

struct Board {
  std::array<uint8_t, kCells> cells{};

  uint8_t& at(int i, int j) { return cells[i * kGrid + j]; }
  uint8_t at(int i, int j) const { return cells[i * kGrid + j]; }
  bool operator==(const Board&) const = default;
};

inline bool InPlayingArea(int i, int j) {
  return i >= 1 && i <= BoardSize && j >= 1 && j <= BoardSize;
}

// Clears the playing area and writes the whole wall ring; the margin is never touched.
int ResetBoard(Board& board);

// Clears the playing area only: the ring stays as it is.
void ClearPlayingArea(Board& board);

// First Empty cell with both indices in from..20, x-major; false when there is none.
bool FirstEmptyCell(const Board& board, int& x, int& y, int from = 1);

}  // namespace kestrova
