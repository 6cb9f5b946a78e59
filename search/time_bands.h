// How long a turn may think: the time band of the game time left, and the part of the
// manager's per-turn limit kept back for the reply to reach it.
#pragma once

#include <cstdint>

namespace kestrova {

int64_t TurnReserve(int64_t msTurnTime);

// What a pass of the search loop does, by the time band of the match time left.
enum class StopRule { Continue, Stop, StopAfterTwoMore };
StopRule TimeBandRule(int64_t elapsed, int64_t msTurnTime, int64_t msRemainingTurnTime,
                      int64_t msRemainingGameTime);

}  // namespace kestrova
