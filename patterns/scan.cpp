#include "patterns/scan.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/log.h"
#include "patterns/scan_state.h"

#ifdef KESTROVA_CHECK_INCREMENTAL
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/position_text.h"
#endif

namespace kestrova {
namespace {

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

Scanner::Scanner(const Patterns& patterns) : tables_(patterns) {
  // A window matches at most one template: no bucket ever holds more than every window.
  bucketData_.resize(tables_.bucketValue.size());
  for (auto& data : bucketData_) data = std::make_unique<uint32_t[]>(kWindows);
  bucketSize_.assign(tables_.bucketValue.size(), 0);
  found_ = std::make_unique<uint32_t[]>(kWindows + 1);
  merged_ = std::make_unique<uint32_t[]>(kWindows + 1);
  cellsByBest_.resize(tables_.bucketValue.size());
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
  const int32_t* lookup = tables_.patterns.PatternLookup.data();
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
    const uint8_t bucket = tables_.bucketOf[entry & 0xFF];
    if (bucket == ScanTables::kFiveBucket) {
      if (IsFive(b, int(entry >> 10), int((entry >> 8) & 3) + 1, int(entry & 0xFF)))
        firstFive = std::min(firstFive, entry);
    } else {
      bucketData_[bucket][bucketSize_[bucket]++] = entry;
    }
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
  for (size_t bucket = 0; bucket < bucketSize_.size() && tables_.bucketValue[bucket] >= lowestValue;
       ++bucket) {
    const auto value = static_cast<int16_t>(tables_.bucketValue[bucket]);
    const uint32_t* data = bucketData_[bucket].get();
    for (int32_t e = 0; e < bucketSize_[bucket]; ++e) {
      const uint32_t entry = data[e];
      const int t = int(entry & 0xFF), d = int((entry >> 8) & 3) + 1, start = int(entry >> 10);
      const Template& tpl = tables_.patterns.Templates[t];
      const auto side = static_cast<uint8_t>(tpl.side);
      for (int s = 0; s < tpl.spotCount; ++s) {
        const int cell = start + tables_.spotOffset[t][d][s];
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
  WorkPoint* group[kCellSlots];
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
    if (tables_.reachable[cellBest_[cell]][m] < minThreshold) continue;
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
      rawTop = tables_.bucketValue[bucket];
      break;
    }
  CollectPoints(LowestCollected(rawTop));
  if (pointCount_ == 0) {
    Log("no spoints");
    return 0;
  }
  const int32_t floor = ListingFloor(rawTop, cellsByBest_.data(), tables_.bucketValue.data(),
                                     int(tables_.bucketValue.size()));
  return CutAndSort(spoints, floor, sideToMove, rawTop < 180);
}

int32_t Scanner::FindSPoints(ScanState& state, SPointList& spoints, int sideToMove) {
  ++scans;
  spoints.items[0] = SPoint{};
  int32_t value = state.TryFindSPoints(spoints, sideToMove);
  if (value == ScanState::kFullScan) value = Scan(state.board(), spoints, sideToMove);
#ifdef KESTROVA_CHECK_INCREMENTAL
  CheckAgainstFullScan(*this, state, spoints, sideToMove, value);
#endif
  return value;
}

}  // namespace kestrova
