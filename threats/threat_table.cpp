#include "threats/threat_table.h"

#include <bit>

namespace kestrova {

ZobristKeys::ZobristKeys() {
  // splitmix64 from a fixed seed: the keys, and so every search, repeat exactly.
  uint64_t state = 0x6b657374726f7661ULL;
  for (auto& side : keys_)
    for (uint64_t& key : side) {
      uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      key = z ^ (z >> 31);
    }
}

uint64_t ZobristKeys::Hash(const Board& board) const {
  uint64_t hash = 0;
  for (int cell = 0; cell < kCells; ++cell) {
    const uint8_t v = board.cells[cell];
    if (v == Own || v == Opponent) hash ^= Key(cell, v);
  }
  return hash;
}

ThreatTable::ThreatTable(size_t entries)
    : slots_(std::bit_ceil(entries < 2 ? size_t(2) : entries)), mask_(slots_.size() - 1) {}

const TableEntry* ThreatTable::Find(uint64_t key) const {
  const TableEntry& e = slots_[key & mask_];
  return e.key == key ? &e : nullptr;
}

void ThreatTable::StoreFail(uint64_t key, int depth) {
  TableEntry& e = Slot(key);
  if (e.key == key) {
    if (depth > e.failDepth) e.failDepth = int16_t(depth);
    return;
  }
  if (e.key != 0 && e.failDepth > depth) return;
  e = TableEntry{key, int16_t(depth)};
}

void ThreatTable::Clear() {
  for (TableEntry& e : slots_) e = TableEntry{};
}

}  // namespace kestrova
