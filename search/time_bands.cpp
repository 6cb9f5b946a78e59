#include "search/time_bands.h"

#include <algorithm>

namespace kestrova {
namespace {

// A time_left of 0 in a game without a match limit is how managers say "no limit".
bool ManagerClockKnown(const GameState& game) {
  const bool noMatchLimit = game.msMatchTime == 0 || game.msMatchTime == kNoMatchLimit;
  return game.msTimeLeft > 0 || (game.msTimeLeft == 0 && !noMatchLimit);
}

// The manager's figure at clock reading now; it runs out, it does not go below zero.
int64_t ManagerTimeLeft(const GameState& game, int64_t now) {
  return std::max<int64_t>(0, game.msTimeLeft - (now - game.TimeLeftAt));
}

}  // namespace

int64_t TurnReserve(int64_t msTurnTime) {
  // Half a second, but no more than a tenth of a short turn, so 0.2-2 s turns are used.
  // With no per-turn limit (0) the whole half second stays, so the reply comes at once.
  return msTurnTime > 0 ? std::min<int64_t>(500, msTurnTime / 10) : 500;
}

int64_t BandThinkMs(int64_t msRemainingGameTime) {
  // An overspent match clock (negative) thinks as long as a full one.
  if (msRemainingGameTime < 0 || msRemainingGameTime > 60000) return 7000;
  if (msRemainingGameTime > 30000) return 2000;
  return msRemainingGameTime > 15000 ? 50 : 10;
}

StopRule TimeBandRule(int64_t elapsed, int64_t msTurnTime, int64_t msRemainingTurnTime,
                      int64_t msRemainingGameTime) {
  // The manager's per-turn limit holds in every band, with its reserve to spare.
  const int64_t reserve = TurnReserve(msTurnTime);
  if (msTurnTime > 0 && msRemainingTurnTime < reserve) return StopRule::Stop;
  const bool shortBand = msRemainingGameTime >= 0 && msRemainingGameTime <= 30000;
  if (elapsed > BandThinkMs(msRemainingGameTime))
    return shortBand ? StopRule::StopAfterTwoMore : StopRule::Stop;
  const bool fullBand = msRemainingGameTime < 0 || msRemainingGameTime > 60000;
  return fullBand && msRemainingTurnTime < reserve ? StopRule::Stop : StopRule::Continue;
}

int64_t RemainingGameTime(const GameState& game, int64_t elapsed) {
  const int64_t own = game.msMatchTime - (game.GameRunningTime + elapsed);
  if (!ManagerClockKnown(game)) return own;
  const int64_t manager = ManagerTimeLeft(game, game.TurnStartTime + elapsed);
  // Once the manager has spoken, an overspent count of our own means no time, not all of it.
  return game.msMatchTime == 0 ? manager : std::min(std::max<int64_t>(own, 0), manager);
}

int64_t TurnLimit(const GameState& game) {
  if (game.msTurnTime <= 0 || !ManagerClockKnown(game)) return game.msTurnTime;
  return std::min(game.msTurnTime, ManagerTimeLeft(game, game.TurnStartTime));
}

}  // namespace kestrova
