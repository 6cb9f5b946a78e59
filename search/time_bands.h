// How long a turn may think: the time band of the game time left, and the part of the
// manager's per-turn limit kept back for the reply to reach it.
#pragma once

#include <cstdint>

#include "core/game_state.h"

namespace kestrova {

int64_t TurnReserve(int64_t msTurnTime);

// The longest a turn thinks in the band of the game time left: 10 ms, 50 ms, 2 s, 7 s.
int64_t BandThinkMs(int64_t msRemainingGameTime);

// What a pass of the search loop does, by the time band of the match time left.
enum class StopRule { Continue, Stop, StopAfterTwoMore };
StopRule TimeBandRule(int64_t elapsed, int64_t msTurnTime, int64_t msRemainingTurnTime,
                      int64_t msRemainingGameTime);

// The game time left elapsed ms into the turn that started at TurnStartTime: the engine's
// own count, or the manager's time_left figure where that is smaller.
int64_t RemainingGameTime(const GameState& game, int64_t elapsed);

// The per-turn limit of this turn: the manager's timeout_turn, cut to the game time the
// manager says is left.
int64_t TurnLimit(const GameState& game);

}  // namespace kestrova
