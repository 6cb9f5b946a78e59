#include "patterns/candidates.h"

#include <algorithm>

namespace kestrova {

int32_t ReachableScore(int32_t score, int partners) {
  for (; partners > 0 && score >= kBonusLow && score <= kBonusHigh; --partners)
    score += score == kBonusLow                           ? kTwoThirtiesLift + kOtherSideLift
             : score >= kTwoSeventiesFrom - kSameSideLift ? kSameSideLift + kTwoSeventiesLift
                                                          : kSameSideLift;
  return score;
}

// Highest score any point of a cell can reach through crossing bonuses.
int32_t BonusBound(int32_t best, int points) {
  if (best < kBonusLow || best > kBonusHigh || points < 2) return best;
  return std::max(ReachableScore(best, points - 1), ReachableScore(kBonusLow, points - 1));
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

}  // namespace kestrova
