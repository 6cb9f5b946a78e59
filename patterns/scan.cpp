#include "patterns/scan.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/log.h"

namespace kestrova {
namespace {

constexpr int kLastStart = BoardSize + 1;   // windows start on the ring or inside it
constexpr int kLastAntiDiagonalColumn = 16;  // the anti-diagonal window must stay inside 0..21
constexpr int kStep[5] = {0, kGrid, 1, kGrid + 1, 1 - kGrid};

inline uint32_t WindowCode(const uint8_t* b, int start, int step) {
  return uint32_t(b[start]) << 10 | uint32_t(b[start + step]) << 8 |
         uint32_t(b[start + 2 * step]) << 6 | uint32_t(b[start + 3 * step]) << 4 |
         uint32_t(b[start + 4 * step]) << 2 | uint32_t(b[start + 5 * step]);
}

inline uint32_t PackEntry(int i, int j, int direction, int t) {
  return uint32_t(t) | uint32_t(direction) << 8 | uint32_t(j) << 11 | uint32_t(i) << 16;
}

// Bounding box of the stones (codes 2 and 3 both have bit 1 set); false when there is none.
bool StoneBox(const uint8_t* b, int& x0, int& x1, int& y0, int& y1) {
  constexpr uint64_t kStoneBits = 0x0202020202020202ULL;
  constexpr int kOffsets[4] = {0, 8, 16, kGrid - 8};
  x0 = y0 = kGrid;
  x1 = y1 = -1;
  for (int i = 0; i < kGrid; ++i) {
    const uint8_t* row = b + i * kGrid;
    for (int off : kOffsets) {
      uint64_t w;
      std::memcpy(&w, row + off, 8);
      w &= kStoneBits;
      if (!w) continue;
      x0 = std::min(x0, i);
      x1 = i;
      y0 = std::min(y0, off + std::countr_zero(w) / 8);
      y1 = std::max(y1, off + (63 - std::countl_zero(w)) / 8);
    }
  }
  return x1 >= 0;
}

}  // namespace

Scanner::Scanner(const Patterns& patterns) : patterns_(patterns) {
  for (int t = 1; t <= kTemplates; ++t) {
    int32_t v = patterns.Templates[t].value;
    if (v != kFiveValue && std::find(bucketValue_.begin(), bucketValue_.end(), v) == bucketValue_.end())
      bucketValue_.push_back(v);
  }
  std::sort(bucketValue_.begin(), bucketValue_.end(), std::greater<>());
  bucketOf_.fill(kNoBucket);
  for (int t = 1; t <= kTemplates; ++t) {
    int32_t v = patterns.Templates[t].value;
    if (v == kFiveValue) {
      bucketOf_[t] = kFive;
    } else {
      bucketOf_[t] = static_cast<uint8_t>(
          std::find(bucketValue_.begin(), bucketValue_.end(), v) - bucketValue_.begin());
    }
  }
  buckets_.resize(bucketValue_.size());
  for (auto& bucket : buckets_) bucket.reserve(256);
  points_.reserve(1024);
  cells_.reserve(kCells);
}

// Looks up every window that can hold a stone, in the order start row i, start column j,
// direction 1..4, and files matches into the value buckets. Windows without a stone
// match no template, so only the stones' bounding box (widened by five) is visited.
// Returns +-220 on the first five, 0 otherwise.
int32_t Scanner::ScanWindows(const uint8_t* b) {
  for (auto& bucket : buckets_) bucket.clear();
  int x0, x1, y0, y1;
  if (!StoneBox(b, x0, x1, y0, y1)) return 0;
  const int ilo = std::max(0, x0 - 5), ihi = std::min(kLastStart, x1 + 5);
  const int jlo = std::max(0, y0 - 5), jhi = std::min(kLastStart, y1);
  const int i4lo = std::max(ilo, 5), j4hi = std::min(jhi, kLastAntiDiagonalColumn);
  const int32_t* lookup = patterns_.PatternLookup.data();

  // Window codes of the previous start row, rolled forward one cell per step.
  uint32_t p1[kLastStart + 2] = {}, p3[kLastStart + 2] = {}, p4[kLastStart + 2] = {};
  for (int i = ilo; i <= ihi; ++i) {
    const uint8_t* r0 = b + i * kGrid;
    const uint8_t* r5 = b + (i + 5) * kGrid;
    const bool first = i == ilo;
    const bool antiDiagonal = i >= 5;
    const bool first4 = i == i4lo;
    uint32_t c2 = WindowCode(b, i * kGrid + jlo, 1) >> 2;
    uint32_t prev3 = 0;
    for (int j = jlo; j <= jhi; ++j) {
      const uint32_t c1 = first ? WindowCode(b, i * kGrid + j, kStep[1])
                                : ((p1[j] << 2) | r5[j]) & 0xFFF;
      p1[j] = c1;
      c2 = ((c2 << 2) | r0[j + 5]) & 0xFFF;
      const uint32_t old3 = p3[j];
      const uint32_t c3 = (first || j == jlo) ? WindowCode(b, i * kGrid + j, kStep[3])
                                              : ((prev3 << 2) | r5[j + 5]) & 0xFFF;
      p3[j] = c3;
      prev3 = old3;
      uint32_t c4 = 0;
      if (antiDiagonal && j <= j4hi) {
        c4 = (first4 || j == j4hi) ? WindowCode(b, i * kGrid + j, kStep[4])
                                   : (uint32_t(r0[j]) << 10) | (p4[j + 1] >> 2);
        p4[j] = c4;
      }
      const uint32_t codes[4] = {c1, c2, c3, c4};
      for (int d = 1; d <= 4; ++d) {
        const int32_t t = lookup[codes[d - 1]];
        if (!t) continue;
        const uint8_t bucket = bucketOf_[t];
        if (bucket == kFive) return t <= kWrittenTemplates ? kFiveValue : -kFiveValue;
        buckets_[bucket].push_back(PackEntry(i, j, d, t));
      }
    }
  }
  return 0;
}

// Turns bucket entries into points, highest value first, and threads the points of each
// cell into a list so that only points of one cell ever meet as a pair.
void Scanner::CollectPoints(int sideToMove) {
  points_.clear();
  cells_.clear();
  if (++generation_ == 0) {
    stamp_.fill(0);
    generation_ = 1;
  }
  for (size_t bucket = 0; bucket < buckets_.size(); ++bucket) {
    const auto value = static_cast<int16_t>(bucketValue_[bucket]);
    for (uint32_t entry : buckets_[bucket]) {
      const int t = entry & 0xFF, d = (entry >> 8) & 7, j = (entry >> 11) & 31, i = entry >> 16;
      const Template& tpl = patterns_.Templates[t];
      for (int s = 1; s <= tpl.spotCount; ++s) {
        const int o = tpl.spots[s];
        int x = i, y = j;
        switch (d) {
          case 1: x = i + o; break;
          case 2: y = j + o; break;
          case 3: x = i + o; y = j + o; break;
          case 4: x = i - o; y = j + o; break;
          default: Log("WTF??"); continue;
        }
        const auto idx = static_cast<int32_t>(points_.size());
        points_.push_back(WorkPoint{value, uint8_t(x), uint8_t(y), uint8_t(d), uint8_t(tpl.side), 0,
                                    uint8_t(tpl.side == sideToMove), -1});
        const int cell = x * kGrid + y;
        if (stamp_[cell] != generation_) {
          stamp_[cell] = generation_;
          head_[cell] = idx;
          cells_.push_back(cell);
        } else {
          points_[tail_[cell]].next = idx;
        }
        tail_[cell] = idx;
      }
    }
  }
}

// Every ordered pair of points on one cell, in working-list order; only p ever changes.
void Scanner::ApplyCrossingBonuses() {
  int32_t group[64];  // a cell lies in at most 6 windows per direction: 24 points
  for (int cell : cells_) {
    int m = 0;
    for (int32_t k = head_[cell]; k >= 0 && m < 64; k = points_[k].next) group[m++] = k;
    if (m < 2) continue;
    for (int a = 0; a < m; ++a) {
      WorkPoint& p = points_[group[a]];
      for (int c = 0; c < m; ++c) {
        const WorkPoint& q = points_[group[c]];
        if (p.direction == q.direction) continue;
        if (p.bonusKind >= 3 || q.bonusKind >= 3) continue;
        if (p.score < 30 || p.score > 85) continue;
        if (q.score >= 30 && q.side == p.side && q.bonusKind != 1) {
          p.score += 6;
          p.bonusKind = 1;
        }
        if (q.score == 30 && p.score == 30 && q.bonusKind != 3) {
          p.score += 11;
          p.bonusKind = 3;
        }
        if (q.score >= 70 && p.score >= 70 && q.bonusKind != 4) {
          p.score += 2;
          p.bonusKind = 4;
        }
        if (q.score >= 30 && q.side != p.side && q.bonusKind != 2) {
          p.score += 3;
          p.bonusKind = 2;
        }
      }
    }
  }
}

// Equivalent to a stable sort of the working list by score followed by the cut walk: a
// cell's first appearance in that order is its best-scoring point (earliest among equals),
// so each cell is represented by that point and the representatives are ranked.
void Scanner::CutAndSort(SPointList& spoints) const {
  struct Rep {
    int32_t score;
    int32_t idx;
  };
  Rep reps[kCells];
  int n = 0;
  int32_t top = INT32_MIN;
  for (int cell : cells_) {
    int32_t best = head_[cell];
    for (int32_t k = points_[best].next; k >= 0; k = points_[k].next)
      if (points_[k].score > points_[best].score) best = k;
    reps[n++] = Rep{points_[best].score, best};
    top = std::max(top, int32_t(points_[best].score));
  }
  int32_t threshold = INT32_MIN;
  if (top >= 180) threshold = 180;
  else if (top >= 70) threshold = 56;  // 50 plus the same-side crossing bonus
  else if (top >= 60) threshold = 50;
  else if (top >= 50) threshold = 35;
  int kept = 0;
  for (int k = 0; k < n; ++k)
    if (reps[k].score >= threshold) reps[kept++] = reps[k];
  const int count = std::min(kept, kMaxSPoints);
  std::partial_sort(reps, reps + count, reps + kept, [](const Rep& a, const Rep& b) {
    return a.score != b.score ? a.score > b.score : a.idx < b.idx;
  });
  for (int k = 0; k < count; ++k) {
    const WorkPoint& p = points_[reps[k].idx];
    spoints.items[k + 1] = SPoint{p.x, p.y, p.score, 0, 0, p.side, p.bonusKind, p.ofMover};
  }
  spoints.items[0].score = count;
}

int32_t Scanner::FindSPoints(const Board& board, SPointList& spoints, int sideToMove) {
  ++scans;
  spoints.items[0] = SPoint{};
  const int32_t five = ScanWindows(board.cells.data());
  if (five) return five;
  CollectPoints(sideToMove);
  if (points_.empty()) {
    Log("no spoints");
    return 0;
  }
  ApplyCrossingBonuses();
  CutAndSort(spoints);

  int32_t own = 0, opponent = 0;  // score of the first listed point of each side
  for (int k = spoints.count(); k >= 1; --k) {
    if (spoints[k].side == Own) own = spoints[k].score;
    else opponent = spoints[k].score;
  }
  if (opponent > own) return -opponent;
  if (own > opponent) return own;
  return sideToMove == Opponent ? -(opponent / 10) : opponent / 10;
}

}  // namespace kestrova
