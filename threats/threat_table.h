// Zobrist keys of the cells and the solver's transposition table of settled positions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/board.h"

namespace kestrova {

// One fixed key per cell and side, the same in every run.
class ZobristKeys {
 public:
  ZobristKeys();
  uint64_t Key(int cell, uint8_t side) const { return keys_[side == Own ? 0 : 1][cell]; }
  uint64_t Hash(const Board& board) const;

 private:
  std::array<std::array<uint64_t, kCells>, 2> keys_;
};

// What one search learnt of a position: no win within failDepth attacker moves (kProven: none
// at any depth).
struct TableEntry {
  uint64_t key = 0;
  int16_t failDepth = 0;
};

inline constexpr int16_t kProven = 32000;

// Fixed-size, one entry a slot; a slot keeps the entry that cost the deeper search.
class ThreatTable {
 public:
  explicit ThreatTable(size_t entries);
  const TableEntry* Find(uint64_t key) const;
  void StoreFail(uint64_t key, int depth);
  void Clear();
  size_t size() const { return slots_.size(); }

 private:
  TableEntry& Slot(uint64_t key) { return slots_[key & mask_]; }
  std::vector<TableEntry> slots_;
  uint64_t mask_;
};

}  // namespace kestrova
