// The candidate list of a scan: scored points of empty cells, their crossing bonuses, and
// the cut that keeps the best of them. The full scan and the maintained scan state both
// list their points through here, so they agree to the field.
#pragma once

#include <array>
#include <cstdint>

#include "core/board.h"

namespace kestrova {

constexpr int kMaxSPoints = 11;
constexpr int32_t kFiveValue = 220;
constexpr int32_t kFourScore = 180;  // a point that makes five: nothing below it is listed
// Only points of 30..85 gain crossing bonuses, and only points of 30 and more give them.
constexpr int32_t kBonusLow = 30;
constexpr int32_t kBonusHigh = 85;
constexpr int32_t kTwoSeventiesFrom = 70;

// The last crossing bonus that lifted a point.
enum BonusKind : uint8_t {
  kNoBonus = 0,
  kSameSideBonus = 1,     // a crossing point of the same side
  kOtherSideBonus = 2,    // a crossing point of the other side
  kTwoThirtiesBonus = 3,  // two points of exactly 30 crossing: final
  kTwoSeventiesBonus = 4  // two points of 70 and more crossing: final
};
constexpr int32_t kSameSideLift = 6;
constexpr int32_t kOtherSideLift = 3;
constexpr int32_t kTwoThirtiesLift = 11;
constexpr int32_t kTwoSeventiesLift = 2;

struct SPoint {
  int32_t x;
  int32_t y;
  int32_t score;  // in element 0 of a list: the number of points
  int32_t direction;
  int32_t template_;
  int32_t side;
  int32_t bonusKind;
  int32_t ofMover;
};

// Element 0 is the header (its score is the count); points 1..count follow, best first.
struct SPointList {
  std::array<SPoint, kMaxSPoints + 1> items{};
  int32_t count() const { return items[0].score; }
  const SPoint& operator[](int k) const { return items[k]; }
};

// Highest score a point starting at score can reach with the given number of partners:
// a pair lifts a point of exactly 30 by two thirties and the other side, one of 64 and up
// by the same side and two seventies, and any other by the same side.
int32_t ReachableScore(int32_t score, int partners);

// Highest score any point of a cell can reach through crossing bonuses.
int32_t BonusBound(int32_t best, int points);

// The cut threshold for the best score on the list.
inline int32_t CutThreshold(int32_t top) {
  if (top >= kFourScore) return kFourScore;
  if (top >= 70) return 50 + kSameSideLift;
  if (top >= 60) return 50;
  if (top >= 50) return 35;
  return INT32_MIN;
}

// Points below 30 neither gain nor give a bonus, so once a threshold applies they matter
// nowhere; with a four on the board nothing below 180 can be listed at all.
inline int32_t LowestCollected(int32_t rawTop) {
  return rawTop >= kFourScore               ? kFourScore
         : CutThreshold(rawTop) > INT32_MIN ? kBonusLow
                                            : INT32_MIN;
}

// A cell that cannot reach the threshold, or the raw best of the eleventh best cell, can
// never be listed. Bonuses only lift the best score, so the threshold of the best raw
// value is a floor of the real one.
int32_t ListingFloor(int32_t rawTop, const int32_t* cellsByBest, const int32_t* bucketValue,
                     int buckets);

// Every ordered pair of one cell's points of 30 and more, in working-list order; only p
// ever changes. Bonuses never cross from one cell to another.
template <class Point>
void CrossingBonuses(Point* const* group, int n) {
  for (int a = 0; a < n; ++a) {
    Point& p = *group[a];
    for (int c = 0; c < n; ++c) {
      // Once p is out of 30..85 or lifted by a pair of thirties or seventies it stays so:
      // no later pair takes it up.
      if (p.bonusKind >= kTwoThirtiesBonus || p.score > kBonusHigh) break;
      const Point& q = *group[c];
      if (p.direction == q.direction || q.bonusKind >= kTwoThirtiesBonus) continue;
      if (q.side == p.side && q.bonusKind != kSameSideBonus) {
        p.score += kSameSideLift;
        p.bonusKind = kSameSideBonus;
      }
      if (q.score == kBonusLow && p.score == kBonusLow) {
        p.score += kTwoThirtiesLift;
        p.bonusKind = kTwoThirtiesBonus;
      }
      if (q.score >= kTwoSeventiesFrom && p.score >= kTwoSeventiesFrom) {
        p.score += kTwoSeventiesLift;
        p.bonusKind = kTwoSeventiesBonus;
      }
      if (q.side != p.side && q.bonusKind != kOtherSideBonus) {
        p.score += kOtherSideLift;
        p.bonusKind = kOtherSideBonus;
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
int32_t ListAndValue(const Rep* best, int n, SPointList& spoints, int sideToMove);

}  // namespace kestrova
