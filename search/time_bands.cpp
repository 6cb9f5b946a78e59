#include "search/time_bands.h"

#include <algorithm>

namespace kestrova {

int64_t TurnReserve(int64_t msTurnTime) {
  // Half a second, but no more than a tenth of a short turn, so 0.2-2 s turns are used.
  // With no per-turn limit (0) the whole half second stays, so the reply comes at once.
  return msTurnTime > 0 ? std::min<int64_t>(500, msTurnTime / 10) : 500;
}

StopRule TimeBandRule(int64_t elapsed, int64_t msTurnTime, int64_t msRemainingTurnTime,
                      int64_t msRemainingGameTime) {
  // The manager's per-turn limit holds in every band, with its reserve to spare.
  const int64_t reserve = TurnReserve(msTurnTime);
  if (msTurnTime > 0 && msRemainingTurnTime < reserve) return StopRule::Stop;
  if (msRemainingGameTime >= 0 && msRemainingGameTime <= 15000)
    return elapsed > 10 ? StopRule::StopAfterTwoMore : StopRule::Continue;
  if (msRemainingGameTime >= 15001 && msRemainingGameTime <= 30000)
    return elapsed > 50 ? StopRule::StopAfterTwoMore : StopRule::Continue;
  if (msRemainingGameTime >= 30001 && msRemainingGameTime <= 60000)
    return elapsed > 2000 ? StopRule::Stop : StopRule::Continue;
  return elapsed > 7000 || msRemainingTurnTime < reserve ? StopRule::Stop : StopRule::Continue;
}

}  // namespace kestrova
