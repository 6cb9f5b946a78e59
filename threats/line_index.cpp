#include "threats/line_index.h"

namespace kestrova {

void LineIndex::Reset(const Board& board, Rule rule) {
  board_ = board;
  rule_ = rule;
  size_ = PlayingSize(board);
  windows_.clear();
  throughCount_.fill(0);
  for (auto& side : sets_)
    for (auto& set : side) set.members.clear();
  constexpr int kDelta[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
  for (int d = 0; d < 4; ++d)
    for (int i = 1; i <= size_; ++i)
      for (int j = 1; j <= size_; ++j) {
        const int li = i + 4 * kDelta[d][0], lj = j + 4 * kDelta[d][1];
        if (!InPlayingArea(li, lj, size_)) continue;
        Window w{};
        w.direction = int8_t(d);
        const int16_t id = int16_t(windows_.size());
        for (int k = 0; k < 5; ++k) {
          const int cell = (i + k * kDelta[d][0]) * kGrid + j + k * kDelta[d][1];
          w.cells[k] = int16_t(cell);
          const uint8_t v = board.cells[cell];
          if (v == Own || v == Opponent) ++w.count[SideIndex(v)];
          through_[cell][throughCount_[cell]++] = id;
        }
        windows_.push_back(w);
      }
  slot_.assign(windows_.size(), -1);
  for (int16_t w = 0; w < int16_t(windows_.size()); ++w) Enter(w);
  empties_ = 0;
  for (int i = 1; i <= size_; ++i)
    for (int j = 1; j <= size_; ++j) empties_ += board.at(i, j) == Empty;
}

void LineIndex::Leave(int16_t w) {
  if (slot_[w] < 0) return;
  const Window& win = windows_[w];
  const int s = win.count[0] > 0 ? 0 : 1;
  sets_[s][win.count[s] - 2].Drop(slot_, w);
}

void LineIndex::Enter(int16_t w) {
  const Window& win = windows_[w];
  for (int s = 0; s < 2; ++s)
    if (win.count[1 - s] == 0 && win.count[s] >= 2 && win.count[s] <= 4)
      sets_[s][win.count[s] - 2].Add(slot_, w);
}

void LineIndex::Place(int cell, uint8_t side) {
  board_.cells[cell] = side;
  --empties_;
  const int s = SideIndex(side);
  for (int k = 0; k < throughCount_[cell]; ++k) {
    const int16_t w = through_[cell][k];
    Leave(w);
    ++windows_[w].count[s];
    Enter(w);
  }
}

void LineIndex::Remove(int cell) {
  const int s = SideIndex(board_.cells[cell]);
  board_.cells[cell] = Empty;
  ++empties_;
  for (int k = 0; k < throughCount_[cell]; ++k) {
    const int16_t w = through_[cell][k];
    Leave(w);
    --windows_[w].count[s];
    Enter(w);
  }
}

void LineIndex::EmptyCellsOf(int16_t w, CellList& out) const {
  for (int16_t c : windows_[w].cells)
    if (board_.cells[c] == Empty) out.Add(c);
}

void LineIndex::FiveCells(uint8_t side, CellList& out) const {
  out.cells.clear();
  for (int16_t w : sets_[SideIndex(side)][2].members) {
    const Window& win = windows_[w];
    for (int16_t c : win.cells) {
      if (board_.cells[c] != Empty) continue;
      // Under exact five the run may reach past the window; freestyle always wins here.
      if (rule_ == Rule::Freestyle || MakesFive(board_, c, side, rule_)) out.Add(c);
    }
  }
}

void LineIndex::FourCandidates(uint8_t side, CellList& out) const {
  out.cells.clear();
  for (int16_t w : sets_[SideIndex(side)][1].members) EmptyCellsOf(w, out);
}

void LineIndex::ThreeCandidates(uint8_t side, CellList& out) const {
  out.cells.clear();
  for (int16_t w : sets_[SideIndex(side)][0].members) EmptyCellsOf(w, out);
}

void LineIndex::CandidatesThrough(int cell, uint8_t side, int stones, CellList& out) const {
  const int s = SideIndex(side);
  for (int k = 0; k < throughCount_[cell]; ++k) {
    const int16_t w = through_[cell][k];
    if (windows_[w].count[s] == stones && windows_[w].count[1 - s] == 0) EmptyCellsOf(w, out);
  }
}

int LineIndex::FiveCellsAfter(int cell, uint8_t side) {
  CellList fives;
  Place(cell, side);
  FiveCells(side, fives);
  Remove(cell);
  return int(fives.size());
}

void LineIndex::DoubleFiveCells(uint8_t side, const CellList& near, CellList& out) {
  out.cells.clear();
  CellList candidates;
  if (near.empty())
    FourCandidates(side, candidates);
  else
    for (int c : near.cells) CandidatesThrough(c, side, 3, candidates);
  for (int x : candidates.cells)
    if (board_.cells[x] == Empty && FiveCellsAfter(x, side) >= 2) out.Add(x);
}

}  // namespace kestrova
