// Five-cell windows of the playing area with the stones of each side counted, kept up to
// date stone by stone, so the solver reads its fives and fours without scanning the board.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/board.h"
#include "core/game_state.h"

namespace kestrova {

// The other side of side (Own <-> Opponent).
inline uint8_t OtherSide(uint8_t side) {
  return uint8_t(Own + Opponent - side);
}

inline Move CellMove(int cell) {
  return Move{cell / kGrid, cell % kGrid};
}
inline int MoveCell(Move m) {
  return m.x * kGrid + m.y;
}

// A small set of cells without repeats, in the order found.
struct CellList {
  std::vector<int> cells;
  void Add(int cell) {
    for (int c : cells)
      if (c == cell) return;
    cells.push_back(cell);
  }
  size_t size() const { return cells.size(); }
  bool empty() const { return cells.empty(); }
  int operator[](size_t k) const { return cells[k]; }
};

class LineIndex {
 public:
  // Rebuilds every window and count from board, whose walls give the size.
  void Reset(const Board& board, Rule rule);

  const Board& board() const { return board_; }
  Rule rule() const { return rule_; }
  int size() const { return size_; }

  void Place(int cell, uint8_t side);
  void Remove(int cell);

  // Empty cells where side would win at once.
  void FiveCells(uint8_t side, CellList& out) const;
  // Empty cells in a window that holds three of side's stones and none of the other's: every
  // move that makes a four is among them (the caller checks it, for the exact-five rule).
  void FourCandidates(uint8_t side, CellList& out) const;
  // Empty cells in a window with two of side's stones and none of the other's.
  void ThreeCandidates(uint8_t side, CellList& out) const;
  // Empty cells in the windows through cell that hold `stones` of side's and none of the
  // other's.
  void CandidatesThrough(int cell, uint8_t side, int stones, CellList& out) const;
  // Cells of the empty cells that would give side two five cells or more at once (open four,
  // four-four), among the empty cells of side's three-windows through any cell of `near`
  // (all of them when near is empty).
  void DoubleFiveCells(uint8_t side, const CellList& near, CellList& out);
  // Number of five cells side would have after a stone on the empty cell.
  int FiveCellsAfter(int cell, uint8_t side);

  bool HasThreeWindow(uint8_t side) const { return !sets_[SideIndex(side)][1].members.empty(); }
  int EmptyCount() const { return empties_; }

 private:
  struct Window {
    std::array<int16_t, 5> cells;
    std::array<uint8_t, 2> count;  // stones of Own, of Opponent
    int8_t direction;
  };
  // Windows by state: one set per side for two, three and four stones with none of the other
  // side's; a window sits in at most one.
  struct WindowSet {
    std::vector<int16_t> members;
    void Add(std::vector<int16_t>& slot, int16_t w) {
      slot[w] = int16_t(members.size());
      members.push_back(w);
    }
    void Drop(std::vector<int16_t>& slot, int16_t w) {
      const int16_t last = members.back();
      members[slot[w]] = last;
      slot[last] = slot[w];
      members.pop_back();
      slot[w] = -1;
    }
  };
  static int SideIndex(uint8_t side) { return side == Own ? 0 : 1; }
  void Leave(int16_t w);
  void Enter(int16_t w);
  void EmptyCellsOf(int16_t w, CellList& out) const;

  Board board_{};
  Rule rule_ = Rule::Freestyle;
  int size_ = 0;
  int empties_ = 0;
  std::vector<Window> windows_;
  std::vector<int16_t> slot_;  // position of each window in its set, -1 when in none
  std::array<std::array<WindowSet, 3>, 2> sets_;
  // Windows through each cell: at most five per direction.
  std::array<std::array<int16_t, 20>, kCells> through_{};
  std::array<uint8_t, kCells> throughCount_{};
};

}  // namespace kestrova
