// The board layout shared by the game state, the scan and every tree node.
#pragma once

#include <array>
#include <cstdint>

namespace kestrova {

constexpr int BoardSize = 20;  // the largest board; smaller ones sit in its corner
constexpr int kMinBoardSize = 5;
// Playing area 1..n, every other cell of 0..21 a wall (the ring of the 20x20 board), margin
// 22..26 that always reads Empty: six-cell windows that start on the ring run into the margin.
constexpr int kGrid = BoardSize + 7;
constexpr int kCells = kGrid * kGrid;

enum Cell : uint8_t { Empty = 0, Wall = 1, Own = 2, Opponent = 3 };

struct Board {
  std::array<uint8_t, kCells> cells{};

  uint8_t& at(int i, int j) { return cells[i * kGrid + j]; }
  uint8_t at(int i, int j) const { return cells[i * kGrid + j]; }
  bool operator==(const Board&) const = default;
};

inline bool InPlayingArea(int i, int j, int size = BoardSize) {
  return i >= 1 && i <= size && j >= 1 && j <= size;
}

// Clears the size x size playing area and walls every other cell of 0..21, so a small board
// has its edge where the templates expect one; the margin is never touched.
int ResetBoard(Board& board, int size = BoardSize);

// n of the n x n board whose walls ResetBoard wrote.
int PlayingSize(const Board& board);

// Takes every stone off: the walls stay as they are.
void ClearPlayingArea(Board& board);

// First Empty cell with both indices in from..20, x-major; false when there is none. Walls
// are not Empty, so on a small board only its playing area is searched.
bool FirstEmptyCell(const Board& board, int& x, int& y, int from = 1);

// True when any cell of the playing area holds a stone of either side.
bool HasStones(const Board& board);

// Empty cells where a stone of side would stand in five or more in a row; the first of
// them, x-major, in x and y.
int FiveCells(const Board& board, uint8_t side, int& x, int& y);

}  // namespace kestrova
