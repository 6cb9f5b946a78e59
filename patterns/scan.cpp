#include "patterns/scan.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/log.h"

#ifdef KESTROVA_CHECK_INCREMENTAL
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/position_text.h"
#endif

namespace kestrova {
namespace {

constexpr int kLastStart = BoardSize + 1;    // windows start on the ring or inside it
constexpr int kLastAntiDiagonalColumn = 16;  // the anti-diagonal window must stay inside 0..21
constexpr int kStep[5] = {0, kGrid, 1, kGrid + 1, 1 - kGrid};

inline uint32_t WindowCode(const uint8_t* b, int start, int step) {
  return uint32_t(b[start]) << 10 | uint32_t(b[start + step]) << 8 |
         uint32_t(b[start + 2 * step]) << 6 | uint32_t(b[start + 3 * step]) << 4 |
         uint32_t(b[start + 4 * step]) << 2 | uint32_t(b[start + 5 * step]);
}

// Bounding box of the stones (codes 2 and 3 both have bit 1 set); false when there is none.
bool StoneBox(const uint8_t* b, int& x0, int& x1, int& y0, int& y1) {
  constexpr uint64_t kStoneBits = 0x0202020202020202ULL;
  constexpr int kOffsets[4] = {0, 8, 16, kGrid - 8};
  uint64_t columns[4] = {0, 0, 0, 0};
  x0 = kGrid;
  x1 = -1;
  for (int i = 0; i < kGrid; ++i) {
    uint64_t any = 0;
    for (int k = 0; k < 4; ++k) {
      uint64_t w;
      std::memcpy(&w, b + i * kGrid + kOffsets[k], 8);
      w &= kStoneBits;
      columns[k] |= w;
      any |= w;
    }
    if (any) {
      x0 = std::min(x0, i);
      x1 = i;
    }
  }
  if (x1 < 0) return false;
  y0 = kGrid;
  y1 = -1;
  for (int k = 0; k < 4; ++k) {
    if (!columns[k]) continue;
    y0 = std::min(y0, kOffsets[k] + std::countr_zero(columns[k]) / 8);
    y1 = std::max(y1, kOffsets[k] + (63 - std::countl_zero(columns[k])) / 8);
  }
  return true;
}

// Highest score a point starting at score can reach with the given number of partners:
// a pair adds at most 14 to a point of exactly 30 (two thirties, then other side), 8 from
// 64 up (same side, then two seventies) and 6 otherwise; only points of 30..85 gain.
int32_t ReachableScore(int32_t score, int partners) {
  for (; partners > 0 && score >= 30 && score <= 85; --partners)
    score += score == 30 ? 14 : score >= 64 ? 8 : 6;
  return score;
}

// Highest score any point of a cell can reach through crossing bonuses.
int32_t BonusBound(int32_t best, int points) {
  if (best < 30 || best > 85 || points < 2) return best;
  return std::max(ReachableScore(best, points - 1), ReachableScore(30, points - 1));
}

// Merges two sorted runs of distinct values with selects instead of branches.
void MergeRuns(const uint32_t* a, const uint32_t* aEnd, const uint32_t* b, const uint32_t* bEnd,
               uint32_t* out) {
  while (a < aEnd && b < bEnd) {
    const bool takeB = *b < *a;
    *out++ = takeB ? *b : *a;
    b += takeB;
    a += !takeB;
  }
  while (a < aEnd) *out++ = *a++;
  while (b < bEnd) *out++ = *b++;
}

// The cut threshold for the best score on the list.
int32_t CutThreshold(int32_t top) {
  if (top >= 180) return 180;
  if (top >= 70) return 56;  // 50 plus the same-side crossing bonus
  if (top >= 60) return 50;
  if (top >= 50) return 35;
  return INT32_MIN;
}

// Points below 30 neither gain nor give a bonus, so once a threshold applies they matter
// nowhere; with a four on the board nothing below 180 can be listed at all.
int32_t LowestCollected(int32_t rawTop) {
  return rawTop >= 180 ? 180 : CutThreshold(rawTop) > INT32_MIN ? 30 : INT32_MIN;
}

// A cell that cannot reach the threshold, or the raw best of the eleventh best cell, can
// never be listed. Bonuses only lift the best score, so the threshold of the best raw
// value is a floor of the real one.
int32_t ListingFloor(int32_t rawTop, const int32_t* cellsByBest, const int32_t* bucketValue,
                     int buckets) {
  int32_t floor = CutThreshold(rawTop);
  for (int bucket = 0, cells = 0; bucket < buckets; ++bucket) {
    cells += cellsByBest[bucket];
    if (cells >= kMaxSPoints) return std::max(floor, bucketValue[bucket]);
  }
  return floor;
}

// Every ordered pair of one cell's points of 30 and more, in working-list order; only p
// ever changes. Bonuses never cross from one cell to another.
template <class Point>
void CrossingBonuses(Point* const* group, int n) {
  for (int a = 0; a < n; ++a) {
    Point& p = *group[a];
    for (int c = 0; c < n; ++c) {
      // Once p is out of 30..85 or marked 3 or 4 it stays so: no later pair takes it up.
      if (p.bonusKind >= 3 || p.score > 85) break;
      const Point& q = *group[c];
      if (p.direction == q.direction || q.bonusKind >= 3) continue;
      if (q.side == p.side && q.bonusKind != 1) {
        p.score += 6;
        p.bonusKind = 1;
      }
      if (q.score == 30 && p.score == 30) {
        p.score += 11;
        p.bonusKind = 3;
      }
      if (q.score >= 70 && p.score >= 70) {
        p.score += 2;
        p.bonusKind = 4;
      }
      if (q.side != p.side && q.bonusKind != 2) {
        p.score += 3;
        p.bonusKind = 2;
      }
    }
  }
}

// A cell's best point, ranked by score, then earliest in the working list: what a stable
// sort of the working list by score followed by the cut walk would meet first of it.
struct Rep {
  int64_t key;
  int32_t cell;
  int32_t score;
  uint8_t side, bonusKind;
};

// Keeps the best eleven, best first.
inline void Offer(Rep* best, int& n, const Rep& rep) {
  if (n == kMaxSPoints && rep.key <= best[n - 1].key) return;
  int k = n < kMaxSPoints ? n++ : n - 1;
  for (; k > 0 && best[k - 1].key < rep.key; --k) best[k] = best[k - 1];
  best[k] = rep;
}

// Lists the ranked cells down to the threshold of the best and returns the position
// value: the score of the first listed point of the leading side, a tenth of it on a tie.
int32_t ListAndValue(const Rep* best, int n, SPointList& spoints, int sideToMove) {
  const int32_t threshold = n ? CutThreshold(best[0].score) : INT32_MIN;
  int count = 0;
  for (; count < n && best[count].score >= threshold; ++count) {
    const Rep& r = best[count];
    spoints.items[count + 1] = SPoint{r.cell / kGrid, r.cell % kGrid,      r.score, 0, 0, r.side,
                                      r.bonusKind,    r.side == sideToMove};
  }
  spoints.items[0].score = count;
  int32_t own = 0, opponent = 0;
  for (int k = count; k >= 1; --k) {
    if (spoints[k].side == Own)
      own = spoints[k].score;
    else
      opponent = spoints[k].score;
  }
  if (opponent > own) return -opponent;
  if (own > opponent) return own;
  return sideToMove == Opponent ? -(opponent / 10) : opponent / 10;
}

#ifdef KESTROVA_CHECK_INCREMENTAL
std::string DescribeList(const SPointList& spoints) {
  std::string text;
  for (int k = 1; k <= spoints.count(); ++k) {
    const SPoint& p = spoints[k];
    text += " (" + std::to_string(p.x) + "," + std::to_string(p.y) + " " + std::to_string(p.score) +
            " s" + std::to_string(p.side) + " b" + std::to_string(p.bonusKind) + ")";
  }
  return text;
}

// A maintained result must equal the scan of the same board from scratch, field by field.
void CheckAgainstFullScan(Scanner& scanner, const ScanState& state, const SPointList& got,
                          int sideToMove, int32_t value) {
  SPointList want;
  const int32_t wantValue = scanner.FindSPoints(state.board(), want, sideToMove);
  --scanner.scans;
  const auto bytes = sizeof(SPoint) * size_t(got.count() + 1);
  if (value == wantValue && got.count() == want.count() &&
      std::memcmp(got.items.data(), want.items.data(), bytes) == 0)
    return;
  std::fprintf(stderr,
               "incremental scan differs from the full scan, side to move %d:\n%s"
               "value %d list%s\nwant %d list%s\n",
               sideToMove, FormatPosition(state.board()).c_str(), value, DescribeList(got).c_str(),
               wantValue, DescribeList(want).c_str());
  std::abort();
}
#endif

}  // namespace

Scanner::Scanner(const Patterns& patterns) : patterns_(patterns) {
  for (int t = 1; t <= kTemplates; ++t) {
    int32_t v = patterns.Templates[t].value;
    if (v != kFiveValue &&
        std::find(bucketValue_.begin(), bucketValue_.end(), v) == bucketValue_.end())
      bucketValue_.push_back(v);
  }
  std::sort(bucketValue_.begin(), bucketValue_.end(), std::greater<>());
  bucketOf_.fill(kNoBucket);
  for (int t = 1; t <= kTemplates; ++t) {
    int32_t v = patterns.Templates[t].value;
    if (v == kFiveValue) {
      bucketOf_[t] = kFive;
    } else {
      bucketOf_[t] = static_cast<uint8_t>(std::find(bucketValue_.begin(), bucketValue_.end(), v) -
                                          bucketValue_.begin());
    }
  }
  // A window matches at most one template: no bucket ever holds more than every window.
  bucketData_.resize(bucketValue_.size());
  for (auto& data : bucketData_) data = std::make_unique<uint32_t[]>(kWindows);
  bucketSize_.assign(bucketValue_.size(), 0);
  found_ = std::make_unique<uint32_t[]>(kWindows + 1);
  merged_ = std::make_unique<uint32_t[]>(kWindows + 1);
  cellsByBest_.resize(bucketValue_.size());
  reachable_.resize(bucketValue_.size());
  for (size_t bucket = 0; bucket < bucketValue_.size(); ++bucket)
    for (int points = 0; points <= kMaxCellPoints; ++points)
      reachable_[bucket][points] = static_cast<int16_t>(BonusBound(bucketValue_[bucket], points));
  for (int t = 1; t <= kTemplates; ++t)
    for (int d = 1; d <= 4; ++d)
      for (int s = 0; s < patterns.Templates[t].spotCount; ++s)
        spotOffset_[t][d][s] = static_cast<int16_t>(patterns.Templates[t].spots[s + 1] * kStep[d]);
  points_ = std::make_unique<WorkPoint[]>(kMaxPoints);
  cells_.reserve(kCells);
}

// Looks up every window that can hold a stone and files matches into the value buckets
// in the order start row i, start column j, direction 1..4. Windows without a stone match
// no template, so each direction visits only the starts whose window can reach the
// stones' bounding box, rolling its window codes one new cell per step.
// Returns +-220 on the first five in that order, 0 otherwise.
int32_t Scanner::ScanWindows(const uint8_t* b) {
  for (int32_t& size : bucketSize_) size = 0;
  int x0, x1, y0, y1;
  if (!StoneBox(b, x0, x1, y0, y1)) return 0;
  const int32_t* lookup = patterns_.PatternLookup.data();
  const int ilo = std::max(0, x0 - 5), jlo = std::max(0, y0 - 5);
  const int ihi = std::min(kLastStart, x1), jhi = std::min(kLastStart, y1);
  // A match is kept with its position in the full window order (start cell, then
  // direction), which sorts the buckets afterwards. Every window is written and only a
  // match is kept: whether a window matches is data, and a branch on it mispredicts.
  uint32_t* found = found_.get();
  int n = 0;
  auto add = [lookup, found, &n](uint32_t code, int i, int j, int d) {
    const auto t = uint32_t(lookup[code]);
    found[n] = uint32_t((i * kGrid + j) * 4 + d - 1) << 8 | t;
    n += t != 0;
  };

  uint32_t roll[kLastStart + 2];
  // Direction 1, (i + k, j): i in x0-5..x1, j in y0..y1; one code per column, rolled down.
  for (int j = y0; j <= jhi; ++j) roll[j] = WindowCode(b, ilo * kGrid + j, kStep[1]) >> 2;
  for (int i = ilo; i <= ihi; ++i) {
    const uint8_t* r5 = b + (i + 5) * kGrid;
    for (int j = y0; j <= jhi; ++j) {
      roll[j] = ((roll[j] << 2) | r5[j]) & 0xFFF;
      add(roll[j], i, j, 1);
    }
  }
  const int end1 = n;
  // Direction 2, (i, j + k): i in x0..x1, j in y0-5..y1.
  for (int i = x0; i <= ihi; ++i) {
    const uint8_t* r0 = b + i * kGrid;
    uint32_t code = WindowCode(b, i * kGrid + jlo, 1) >> 2;
    for (int j = jlo; j <= jhi; ++j) {
      code = ((code << 2) | r0[j + 5]) & 0xFFF;
      add(code, i, j, 2);
    }
  }
  const int end2 = n;
  // Direction 3, (i + k, j + k): i in x0-5..x1, j in y0-5..y1; the code at (i, j) comes
  // from the one at (i - 1, j - 1) of the row before.
  uint32_t rows[2][kLastStart + 2];
  for (int i = ilo; i <= ihi; ++i) {
    const uint8_t* r5 = b + (i + 5) * kGrid;
    uint32_t* now = rows[i & 1];
    const uint32_t* before = rows[(i + 1) & 1];
    now[jlo] = WindowCode(b, i * kGrid + jlo, kStep[3]);
    add(now[jlo], i, jlo, 3);
    if (i == ilo) {
      for (int j = jlo + 1; j <= jhi; ++j) {
        now[j] = WindowCode(b, i * kGrid + j, kStep[3]);
        add(now[j], i, j, 3);
      }
      continue;
    }
    for (int j = jlo + 1; j <= jhi; ++j) {
      now[j] = ((before[j - 1] << 2) | r5[j + 5]) & 0xFFF;
      add(now[j], i, j, 3);
    }
  }
  const int end3 = n;
  // Direction 4, (i - k, j + k): i in x0..x1+5 from 5, j in y0-5..y1 up to 16, so the
  // anti-diagonal window stays inside the ring; the code at (i, j) comes from the one at
  // (i - 1, j + 1) of the row before.
  const int i4lo = std::max(x0, 5), i4hi = std::min(kLastStart, x1 + 5);
  const int j4hi = std::min(jhi, kLastAntiDiagonalColumn);
  for (int i = i4lo; i <= i4hi && jlo <= j4hi; ++i) {
    const uint8_t* r0 = b + i * kGrid;
    // Ascending j reads roll[j + 1] before this row overwrites it.
    if (i == i4lo) {
      for (int j = jlo; j < j4hi; ++j) {
        roll[j] = WindowCode(b, i * kGrid + j, kStep[4]);
        add(roll[j], i, j, 4);
      }
    } else {
      for (int j = jlo; j < j4hi; ++j) {
        roll[j] = (uint32_t(r0[j]) << 10) | (roll[j + 1] >> 2);
        add(roll[j], i, j, 4);
      }
    }
    roll[j4hi] = WindowCode(b, i * kGrid + j4hi, kStep[4]);
    add(roll[j4hi], i, j4hi, 4);
  }

  uint32_t firstFive = UINT32_MAX;  // the five earliest in window order, with its template
  // Each direction found its matches in order: merging the four runs gives the full
  // window order, and so every bucket in order.
  uint32_t* merged = merged_.get();
  MergeRuns(found, found + end1, found + end1, found + end2, merged);
  MergeRuns(found + end2, found + end3, found + end3, found + n, merged + end2);
  MergeRuns(merged, merged + end2, merged + end2, merged + n, found);
  for (int k = 0; k < n; ++k) {
    const uint32_t entry = found[k];
    const uint8_t bucket = bucketOf_[entry & 0xFF];
    if (bucket == kFive)
      firstFive = std::min(firstFive, entry);
    else
      bucketData_[bucket][bucketSize_[bucket]++] = entry;
  }
  if (firstFive != UINT32_MAX)
    return int(firstFive & 0xFF) <= kWrittenTemplates ? kFiveValue : -kFiveValue;
  return 0;
}

// Turns bucket entries of value lowestValue and above into points, highest value first,
// and threads the points of each cell into a list so that only points of one cell ever
// meet as a pair.
void Scanner::CollectPoints(int32_t lowestValue) {
  pointCount_ = 0;
  cells_.clear();
  if (++generation_ == 0) {
    stamp_.fill(0);
    generation_ = 1;
  }
  WorkPoint* points = points_.get();
  std::fill(cellsByBest_.begin(), cellsByBest_.end(), 0);
  for (size_t bucket = 0; bucket < bucketSize_.size() && bucketValue_[bucket] >= lowestValue;
       ++bucket) {
    const auto value = static_cast<int16_t>(bucketValue_[bucket]);
    const uint32_t* data = bucketData_[bucket].get();
    for (int32_t e = 0; e < bucketSize_[bucket]; ++e) {
      const uint32_t entry = data[e];
      const int t = int(entry & 0xFF), d = int((entry >> 8) & 3) + 1, start = int(entry >> 10);
      const Template& tpl = patterns_.Templates[t];
      const auto side = static_cast<uint8_t>(tpl.side);
      for (int s = 0; s < tpl.spotCount; ++s) {
        const int cell = start + spotOffset_[t][d][s];
        const auto idx = static_cast<int16_t>(pointCount_++);
        points[idx] = WorkPoint{value, -1, uint8_t(d), side, 0};
        if (stamp_[cell] != generation_) {
          stamp_[cell] = generation_;
          head_[cell] = idx;
          cellPoints_[cell] = 1;
          cellBest_[cell] = uint8_t(bucket);  // buckets come highest first
          ++cellsByBest_[bucket];
          cells_.push_back(cell);
        } else {
          points[tail_[cell]].next = idx;
          ++cellPoints_[cell];
        }
        tail_[cell] = idx;
      }
    }
  }
}

// The crossing bonuses of one cell's points.
void Scanner::ApplyCrossingBonuses(int cell) {
  WorkPoint* points = points_.get();
  WorkPoint* group[kMaxCellPoints];
  // Points below 30 neither gain nor give a bonus.
  int n = 0;
  for (int16_t k = head_[cell]; k >= 0; k = points[k].next) {
    group[n] = &points[k];
    n += points[k].score >= 30;
  }
  CrossingBonuses(group, n);
}

// Applies the crossing bonuses and ranks each cell by its best point; minThreshold is a
// lower bound of the real threshold, and cells below it are skipped.
int32_t Scanner::CutAndSort(SPointList& spoints, int32_t minThreshold, int sideToMove,
                            bool withBonuses) {
  const WorkPoint* points = points_.get();
  Rep best[kMaxSPoints + 1];
  int n = 0;
  for (int cell : cells_) {
    // A cell that cannot reach the floor is never listed; its bonuses are not needed.
    const int m = cellPoints_[cell];
    if (reachable_[cellBest_[cell]][m] < minThreshold) continue;
    if (m > 1 && withBonuses) ApplyCrossingBonuses(cell);
    int16_t rep = head_[cell];
    for (int16_t k = points[rep].next; k >= 0; k = points[k].next)
      if (points[k].score > points[rep].score) rep = k;
    const WorkPoint& p = points[rep];
    Offer(best, n,
          Rep{int64_t(p.score) * 65536 + (65535 - rep), cell, p.score, p.side, p.bonusKind});
  }
  return ListAndValue(best, n, spoints, sideToMove);
}

int32_t Scanner::FindSPoints(const Board& board, SPointList& spoints, int sideToMove) {
  ++scans;
  return Scan(board, spoints, sideToMove);
}

int32_t Scanner::Scan(const Board& board, SPointList& spoints, int sideToMove) {
  spoints.items[0] = SPoint{};
  const int32_t five = ScanWindows(board.cells.data());
  if (five) return five;
  int32_t rawTop = 0;
  for (size_t bucket = 0; bucket < bucketSize_.size(); ++bucket)
    if (bucketSize_[bucket] > 0) {
      rawTop = bucketValue_[bucket];
      break;
    }
  CollectPoints(LowestCollected(rawTop));
  if (pointCount_ == 0) {
    Log("no spoints");
    return 0;
  }
  const int32_t floor =
      ListingFloor(rawTop, cellsByBest_.data(), bucketValue_.data(), int(bucketValue_.size()));
  return CutAndSort(spoints, floor, sideToMove, rawTop < 180);
}

int32_t Scanner::FindSPoints(ScanState& state, SPointList& spoints, int sideToMove) {
  ++scans;
  spoints.items[0] = SPoint{};
  int32_t value = state.FindSPoints(spoints, sideToMove);
  if (value == ScanState::kFullScan) value = Scan(state.board(), spoints, sideToMove);
#ifdef KESTROVA_CHECK_INCREMENTAL
  CheckAgainstFullScan(*this, state, spoints, sideToMove, value);
#endif
  return value;
}

namespace {

// The 24 windows that can name a cell, as (direction, place of the cell in the window),
// in the order of their window ids: the same for every cell.
struct SlotOrder {
  std::array<std::pair<int, int>, 24> slots;
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
  for (int s = 0; s < 24; ++s)
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
    lookup_[code] = uint8_t(scanner.patterns_.PatternLookup[code]);
  for (size_t bucket = 0; bucket < scanner.bucketValue_.size(); ++bucket) {
    bucketValue_[bucket] = int16_t(scanner.bucketValue_[bucket]);
    const uint64_t bytes = uint64_t(0xFF) << (8 * bucket);
    if (bucketValue_[bucket] >= 180) from180_ |= bytes;
  }
  for (int t = 1; t <= kTemplates; ++t) {
    const Template& tpl = scanner.patterns_.Templates[t];
    // A five ends the scan before any point counts, and points below 30 count only when
    // the full scan does the work: their spots are never named.
    const bool named = scanner.bucketOf_[t] != Scanner::kFive && tpl.value >= 30;
    info_[t] = TemplateInfo{int16_t(tpl.value), scanner.bucketOf_[t], uint8_t(tpl.side),
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
    if (bucket == Scanner::kFive) {
      fives_[window / 64] &= ~(uint64_t(1) << (window % 64));
      if (!fives_[window / 64]) fiveWords_ &= ~(uint64_t(1) << (window / 64));
    } else {
      --windows_[bucket];
    }
    name(from, 0);
  }
  if (to) {
    const uint8_t bucket = info_[to].bucket;
    if (bucket == Scanner::kFive) {
      fives_[window / 64] |= uint64_t(1) << (window % 64);
      fiveWords_ |= uint64_t(1) << (window / 64);
    } else {
      ++windows_[bucket];
    }
    name(to, to);
  }
  template_[window] = to;
}

// Calls f(slot) for every slot that names a template, in slot order: one bit per slot
// gathered first, so the loop ends once.
template <class F>
inline void ForEachPoint(const std::array<uint8_t, 24>& slots, F f) {
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
  std::memcpy(words, slots.data(), sizeof words);
  const uint64_t hash = (words[0] * 0x9E3779B97F4A7C15ULL) ^ (words[1] * 0xC2B2AE3D27D4EB4FULL) ^
                        (words[2] * 0x165667B19E3779F9ULL);
  KnownDetail& known = known_[hash >> (64 - kKnownBits)];
  if (known.slots == slots) {
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
  detail.bonusKind = 0;
  detail.score = bucketValue_[best];
  // A bonus takes two points of 30 and more in different directions.
  if ((directions & (directions - 1)) == 0) return;
  struct Point {
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
    Point points[kSlots];
    Point* group[kSlots];
    for (int k = 0; k < n; ++k) {
      const int s = keys[k] & 31;
      const TemplateInfo& info = info_[slots[s]];
      points[k] = Point{info.value, slotDirection_[s], info.side, 0};
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

int32_t ScanState::FindSPoints(SPointList& spoints, int sideToMove) {
  if (fiveWords_) {
    const int word = std::countr_zero(fiveWords_);
    const int window = word * 64 + std::countr_zero(fives_[word]);
    return template_[window] <= kWrittenTemplates ? kFiveValue : -kFiveValue;
  }
  Refresh();
  const int allBuckets = int(scanner_.bucketValue_.size());
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
  const int32_t floor = ListingFloor(rawTop, cellsByBest, scanner_.bucketValue_.data(), buckets);
  const bool withBonuses = rawTop < 180;
  const auto& reachable = scanner_.reachable_;
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
