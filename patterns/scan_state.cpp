#include "patterns/scan_state.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/log.h"

namespace kestrova {
namespace {

// The 24 windows that can name a cell, as (direction, place of the cell in the window),
// in the order of their window ids: the same for every cell.
struct SlotOrder {
  std::array<std::pair<int, int>, kCellSlots> slots;
  std::array<std::array<uint8_t, 6>, 5> slotOf;
};

SlotOrder MakeSlotOrder() {
  SlotOrder order{};
  int n = 0;
  for (int d = 1; d <= 4; ++d)
    for (int k = 0; k < 6; ++k) order.slots[n++] = {d, k};
  auto id = [](std::pair<int, int> s) { return -s.second * kStep[s.first] * 4 + s.first - 1; };
  std::sort(order.slots.begin(), order.slots.end(),
            [&id](auto a, auto b) { return id(a) < id(b); });
  for (int s = 0; s < kCellSlots; ++s)
    order.slotOf[order.slots[s].first][order.slots[s].second] = uint8_t(s);
  return order;
}

}  // namespace

ScanState::ScanState(const Scanner& scanner) : scanner_(scanner) {
  const SlotOrder order = MakeSlotOrder();
  for (int s = 0; s < kSlots; ++s) {
    const auto [d, k] = order.slots[s];
    slotDirection_[s] = uint8_t(d);
    slotPlace_[s] = uint8_t(k);
    slotWindow_[s] = int16_t(-k * kStep[d] * 4 + d - 1);
  }
  for (int code = 0; code < kLookupSize; ++code)
    lookup_[code] = uint8_t(scanner.tables().patterns.PatternLookup[code]);
  for (size_t bucket = 0; bucket < scanner.tables().bucketValue.size(); ++bucket) {
    bucketValue_[bucket] = int16_t(scanner.tables().bucketValue[bucket]);
    const uint64_t bytes = uint64_t(0xFF) << (8 * bucket);
    if (bucketValue_[bucket] >= 180) from180_ |= bytes;
  }
  for (int t = 1; t <= kTemplates; ++t) {
    const Template& tpl = scanner.tables().patterns.Templates[t];
    // A five ends the scan before any point counts, and points below 30 count only when
    // the full scan does the work: their spots are never named.
    const bool named = scanner.tables().bucketOf[t] != ScanTables::kFiveBucket && tpl.value >= 30;
    info_[t] = TemplateInfo{int16_t(tpl.value), scanner.tables().bucketOf[t], uint8_t(tpl.side),
                            uint8_t(named ? tpl.spotCount : 0)};
    for (int d = 1; d <= 4; ++d)
      for (int s = 0; s < tpl.spotCount; ++s)
        spots_[t][d - 1][s] =
            Spot{int16_t(tpl.spots[s + 1] * kStep[d]), order.slotOf[d][tpl.spots[s + 1]]};
  }
  for (int cell = 0; cell < kCells; ++cell) {
    // The cell is cell k of the window that starts k steps back along a direction; k runs
    // over the windows whose start is a window start of that direction.
    const int ci = cell / kGrid, cj = cell % kGrid;
    const int inRow = ci <= kLastStart, inColumn = cj <= kLastStart;
    const int kFirst[5] = {0, std::max(0, ci - kLastStart), std::max(0, cj - kLastStart),
                           std::max({0, ci - kLastStart, cj - kLastStart}),
                           std::max({0, 5 - ci, cj - kLastAntiDiagonalColumn})};
    const int kLast[5] = {0, inColumn ? std::min(5, ci) : -1, inRow ? std::min(5, cj) : -1,
                          std::min({5, ci, cj}), std::min({5, kLastStart - ci, cj})};
    CellWindows& through = windowsThrough_[cell];
    for (int d = 1; d <= 4; ++d)
      for (int k = kFirst[d]; k <= kLast[d]; ++k)
        through.windows[through.count++] = {uint16_t((cell - k * kStep[d]) * 4 + d - 1),
                                            uint16_t(1 << (2 * (5 - k)))};
  }
  for (auto& cells : listed_) cells.reserve(kCells);
  Reset(Board{});
}

void ScanState::Reset(const Board& board) {
  board_ = board;
  code_.fill(0);
  template_.fill(0);
  windows_.fill(0);
  sideWindows_ = {};
  fives_.fill(0);
  fiveWords_ = 0;
  for (auto& slots : slots_) slots.fill(0);
  counts_.fill(0);
  best_.fill(kNoPoint);
  detail_.fill(CellDetail{});
  touched_.fill(0);
  touchedCount_ = 0;
  listedAt_.fill(-1);
  for (auto& cells : listed_) cells.clear();
  for (int i = 0; i <= kLastStart; ++i)
    for (int j = 0; j <= kLastStart; ++j)
      for (int d = 1; d <= 4; ++d) {
        if (d == 4 && (i < 5 || j > kLastAntiDiagonalColumn)) continue;
        const int window = (i * kGrid + j) * 4 + d - 1;
        code_[window] = uint16_t(WindowCode(board_.cells.data(), i * kGrid + j, kStep[d]));
        Retemplate(window, i * kGrid + j, d, 0, lookup_[code_[window]]);
      }
}

void ScanState::Set(int cell, uint8_t code) {
  const int delta = int(code) - int(board_.cells[cell]);
  if (delta == 0) return;
  board_.cells[cell] = code;
  const CellWindows& through = windowsThrough_[cell];
  for (int n = 0; n < through.count; ++n) {
    const int window = through.windows[n].id;
    code_[window] = uint16_t(code_[window] + delta * through.windows[n].weight);
    const uint8_t t = lookup_[code_[window]];
    if (t != template_[window])
      Retemplate(window, window >> 2, (window & 3) + 1, template_[window], t);
  }
}

void ScanState::Retemplate(int window, int start, int direction, uint8_t from, uint8_t to) {
  // The cells the old template named lose the window's point, those of the new one
  // gain it.
  auto name = [this, start, direction](uint8_t t, uint8_t slotValue) {
    const TemplateInfo& info = info_[t];
    const Spot* spots = spots_[t][direction - 1].data();
    // Only templates of a bucket name spots: a five's bucket is no byte of the counts.
    const uint64_t one = info.spotCount ? uint64_t(1) << (8 * info.bucket) : 0;
    for (int s = 0; s < info.spotCount; ++s) {
      const int cell = start + spots[s].offset;
      slots_[cell][spots[s].slot] = slotValue;
      counts_[cell] = slotValue ? counts_[cell] + one : counts_[cell] - one;
      // Filed once, without a branch: which cells are new to the list is unpredictable.
      touchedCells_[touchedCount_] = int16_t(cell);
      touchedCount_ += !touched_[cell];
      touched_[cell] = 1;
    }
  };
  if (from) {
    const uint8_t bucket = info_[from].bucket;
    if (bucket == ScanTables::kFiveBucket) {
      fives_[window / 64] &= ~(uint64_t(1) << (window % 64));
      if (!fives_[window / 64]) fiveWords_ &= ~(uint64_t(1) << (window / 64));
    } else {
      --windows_[bucket];
      --sideWindows_[info_[from].side - Own][bucket];
    }
    name(from, 0);
  }
  if (to) {
    const uint8_t bucket = info_[to].bucket;
    if (bucket == ScanTables::kFiveBucket) {
      fives_[window / 64] |= uint64_t(1) << (window % 64);
      fiveWords_ |= uint64_t(1) << (window / 64);
    } else {
      ++windows_[bucket];
      ++sideWindows_[info_[to].side - Own][bucket];
    }
    name(to, to);
  }
  template_[window] = to;
}

// Calls f(slot) for every slot that names a template, in slot order: one bit per slot
// gathered first, so the loop ends once.
template <class F>
inline void ForEachPoint(const std::array<uint8_t, kCellSlots>& slots, F f) {
  uint32_t mask = 0;
  for (int w = 0; w < 3; ++w) {
    uint64_t word;
    std::memcpy(&word, slots.data() + 8 * w, 8);
    // The top bit of each byte that is not zero, then those eight bits side by side.
    uint64_t nonzero = ((word & 0x7F7F7F7F7F7F7F7FULL) + 0x7F7F7F7F7F7F7F7FULL) | word;
    nonzero = (nonzero & 0x8080808080808080ULL) >> 7;
    mask |= uint32_t((nonzero * 0x0102040810204080ULL) >> 56) << (8 * w);
  }
  for (; mask; mask &= mask - 1) f(std::countr_zero(mask));
}

// The best raw point, the first slot of the best bucket since slots are in window order,
// and the best point once the crossing bonuses are applied to the cell's points in
// working-list order.
void ScanState::WorkOut(int cell, int best) {
  CellDetail& detail = detail_[cell];
  const auto& slots = slots_[cell];
  uint64_t words[3];
  static_assert(sizeof words == kSlots, "a cell's slots are hashed and compared as three words");
  std::memcpy(words, slots.data(), sizeof words);
  const uint64_t hash = (words[0] * 0x9E3779B97F4A7C15ULL) ^ (words[1] * 0xC2B2AE3D27D4EB4FULL) ^
                        (words[2] * 0x165667B19E3779F9ULL);
  KnownDetail& known = known_[hash >> (64 - kKnownBits)];
  // Word by word: the array's own comparison is a call to memcmp on every cell worked out.
  uint64_t knownWords[3];
  std::memcpy(knownWords, known.slots.data(), sizeof knownWords);
  if (((knownWords[0] ^ words[0]) | (knownWords[1] ^ words[1]) | (knownWords[2] ^ words[2])) == 0) {
    detail = known.detail;
    return;
  }
  WorkOutAfresh(detail, slots, best);
  known.slots = slots;
  known.detail = detail;
}

void ScanState::WorkOutAfresh(CellDetail& detail, const std::array<uint8_t, kSlots>& slots,
                              int best) {
  detail.done = true;
  unsigned directions = 0;
  bool raw = false;
  // Working-list order is bucket, then slot: sorted as one small key each.
  uint16_t keys[kSlots];
  int n = 0;
  ForEachPoint(slots, [&](int s) {
    const TemplateInfo& info = info_[slots[s]];
    if (!raw && info.bucket == best) {
      raw = true;
      detail.rawSlot = uint8_t(s);
      detail.rawSide = info.side;
    }
    directions |= 1u << slotDirection_[s];
    const auto key = uint16_t(info.bucket << 5 | s);
    int k = n++;
    for (; k > 0 && keys[k - 1] > key; --k) keys[k] = keys[k - 1];
    keys[k] = key;
  });
  detail.slot = detail.rawSlot;
  detail.bucket = uint8_t(best);
  detail.side = detail.rawSide;
  detail.bonusKind = kNoBonus;
  detail.score = bucketValue_[best];
  // A bonus takes two points of 30 and more in different directions.
  if ((directions & (directions - 1)) == 0) return;
  struct Crossing {
    int32_t score;
    uint8_t direction, side, bonusKind;
  };
  // The same sequence of points always ends the same way: short ones are remembered.
  uint64_t sequence = uint64_t(n);
  for (int k = 0; k < n && n <= 10; ++k) {
    const int s = keys[k] & 31;
    sequence = sequence << 6 | uint64_t(keys[k] >> 5) << 3 | uint64_t(slotDirection_[s] - 1) << 1 |
               uint64_t(info_[slots[s]].side - Own);
  }
  BonusOutcome& outcome = outcomes_[(sequence * 0x9E3779B97F4A7C15ULL) >> (64 - kOutcomeBits)];
  if (n > 10 || outcome.sequence != sequence) {
    Crossing points[kSlots];
    Crossing* group[kSlots];
    for (int k = 0; k < n; ++k) {
      const int s = keys[k] & 31;
      const TemplateInfo& info = info_[slots[s]];
      points[k] = Crossing{info.value, slotDirection_[s], info.side, kNoBonus};
      group[k] = &points[k];
    }
    CrossingBonuses(group, n);
    int rep = 0;
    for (int k = 1; k < n; ++k)
      if (points[k].score > points[rep].score) rep = k;
    outcome = BonusOutcome{n > 10 ? 0 : sequence, int16_t(points[rep].score), uint8_t(rep),
                           points[rep].bonusKind};
  }
  const int s = keys[outcome.rep] & 31;
  detail.score = outcome.score;
  detail.side = info_[slots[s]].side;
  detail.bonusKind = outcome.bonusKind;
  detail.slot = uint8_t(s);
  detail.bucket = uint8_t(keys[outcome.rep] >> 5);
}

void ScanState::Refresh() {
  for (int k = 0; k < touchedCount_; ++k) {
    const int16_t cell = touchedCells_[k];
    touched_[cell] = 0;
    detail_[cell].done = false;
    const uint8_t before = best_[cell];
    const auto now = uint8_t(BestBucket(counts_[cell]));
    if (now == before) continue;
    best_[cell] = now;
    if (before != kNoPoint) {
      std::vector<int16_t>& cells = listed_[before];
      listedAt_[cells.back()] = listedAt_[cell];
      cells[size_t(listedAt_[cell])] = cells.back();
      cells.pop_back();
      listedAt_[cell] = -1;
    }
    if (now != kNoPoint) {
      listedAt_[cell] = int16_t(listed_[now].size());
      listed_[now].push_back(cell);
    }
  }
  touchedCount_ = 0;
}

int32_t ScanState::TryFindSPoints(SPointList& spoints, int sideToMove) {
  // The first five in window order decides, as in the full scan; under the exact-five rule
  // windows of six or more are passed over.
  for (uint64_t words = fiveWords_; words; words &= words - 1) {
    const int word = std::countr_zero(words);
    for (uint64_t bits = fives_[word]; bits; bits &= bits - 1) {
      const int window = word * 64 + std::countr_zero(bits);
      if (scanner_.IsFive(board_.cells.data(), window / 4, window % 4 + 1, template_[window]))
        return template_[window] <= kWrittenTemplates ? kFiveValue : -kFiveValue;
    }
  }
  Refresh();
  const int allBuckets = int(scanner_.tables().bucketValue.size());
  int32_t rawTop = 0;
  for (int bucket = 0; bucket < allBuckets; ++bucket)
    if (windows_[bucket] > 0) {
      rawTop = bucketValue_[bucket];
      break;
    }
  const int32_t lowest = LowestCollected(rawTop);
  // Points below 30 would count: rare once the board holds a two, and left to the full scan.
  if (lowest < 30) return kFullScan;
  const uint64_t counted = lowest == 180 ? from180_ : ~uint64_t(0);  // all kept are 30 or more
  // Only cells whose best is collected at all take part.
  int32_t cellsByBest[kMaxBuckets];
  int buckets = 0, cells = 0;
  for (; buckets < allBuckets && bucketValue_[buckets] >= lowest; ++buckets)
    cells += cellsByBest[buckets] = int32_t(listed_[buckets].size());
  if (cells == 0) {
    Log("no spoints");
    return 0;
  }
  const int32_t floor =
      ListingFloor(rawTop, cellsByBest, scanner_.tables().bucketValue.data(), buckets);
  const bool withBonuses = rawTop < 180;
  const auto& reachable = scanner_.tables().reachable;
  Rep best[kMaxSPoints + 1];
  int n = 0;
  for (int bucket = 0; bucket < buckets; ++bucket) {
    // Bonuses lift a cell at most to the bound of its best bucket with every slot filled.
    if (reachable[bucket][kSlots] < floor) continue;
    for (int16_t cell : listed_[bucket]) {
      // A cell that cannot reach the floor is never listed, nor one that cannot pass the
      // eleventh best so far or the cut the best so far sets: the best only rises.
      const int32_t bound = reachable[bucket][PointsIn(counts_[cell], counted)];
      if (bound < floor || (n == kMaxSPoints && bound < best[n - 1].score) ||
          (n > 0 && bound < CutThreshold(best[0].score)))
        continue;
      CellDetail& detail = detail_[cell];
      if (!detail.done) WorkOut(cell, bucket);
      if (!withBonuses) {
        const int32_t score = bucketValue_[bucket];
        Offer(best, n,
              Rep{int64_t(score) << 20 | (0xFFFFF - Order(cell, detail.rawSlot, bucket)), cell,
                  score, detail.rawSide, 0});
      } else {
        Offer(best, n,
              Rep{int64_t(detail.score) << 20 | (0xFFFFF - Order(cell, detail.slot, detail.bucket)),
                  cell, detail.score, detail.side, detail.bonusKind});
      }
    }
  }
  return ListAndValue(best, n, spoints, sideToMove);
}

}  // namespace kestrova
