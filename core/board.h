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

// Freestyle: five or more in a row wins. ExactFive: exactly five wins, six or more is nothing.
enum class Rule : uint8_t { Freestyle = 0, ExactFive = 1 };

// The one place that decides whether a run of a side's stones is a win.
inline bool IsFiveRun(int run, Rule rule) {
  return rule == Rule::Freestyle ? run >= 5 : run == 5;
}

// Grid offsets of the four line directions: down, right, down-right, down-left.
inline constexpr std::array<int, 4> kLineSteps = {kGrid, 1, kGrid + 1, kGrid - 1};

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

// Stones of side in a row through cell along step, counting cell as one of them. Walls and
// the margin stop a run: neither holds a stone.
inline int RunThrough(const uint8_t* cells, int cell, int step, uint8_t side) {
  int run = 1;
  for (int c = cell + step; cells[c] == side; c += step) ++run;
  for (int c = cell - step; cells[c] == side; c -= step) ++run;
  return run;
}
inline int RunThrough(const Board& board, int cell, int step, uint8_t side) {
  return RunThrough(board.cells.data(), cell, step, side);
}

// Whether a stone of side on the empty cell would stand in a winning run.
bool MakesFive(const Board& board, int cell, uint8_t side, Rule rule);

// Empty cells where a stone of side would win under rule; the first of them, x-major, in
// x and y.
int FiveCells(const Board& board, uint8_t side, int& x, int& y, Rule rule = Rule::Freestyle);

}  // namespace kestrova
