// What the threat solver says about the root before the search: a forced win to play at once,
// or the only moves that do not lose to a forced win of the opponent's.
#pragma once

#include <cstdint>
#include <vector>

#include "core/board.h"
#include "core/clock.h"
#include "core/game_state.h"
#include "threats/threat_solver.h"

namespace kestrova {

struct RootThreats {
  enum class Kind {
    None,        // nothing proven: the search decides alone
    Play,        // play move now: our own forced win, or the best of a lost position
    Restricted,  // the opponent has a forced win: only the moves in allowed refute it
  };
  Kind kind = Kind::None;
  Move move{};
  std::vector<Move> allowed;
  const char* reason = "";  // for the trace
  // Some root move may still lose to a forced win by threes of the opponent's that the
  // solver has not seen: it was cut short, or left refutations undecided.
  bool unsettled = true;
  int64_t nodes = 0;
};

// Side Own to move on board. In this order: our VCF, the opponent's VCF (the moves that refute
// it, or the one that makes it longest), our VCT, the opponent's VCT, as far as the deadlines
// on clock allow; a search cut short by them proves nothing and changes nothing. Looking
// for wins stops at deadlineMs; sorting out the defences against a win found may go on to
// defenceDeadlineMs. Without withVct, fours alone: every verdict is then a proof.
RootThreats ConsultThreats(const Board& board, ThreatSolver& solver, Clock& clock,
                           int64_t deadlineMs, int64_t defenceDeadlineMs, bool withVct);

// When the solver must stop: looking for wins, at a quarter of what the time band lets the
// search think, at least a few milliseconds; with a threat to defend, at half of it.
struct ThreatDeadlines {
  int64_t search;
  int64_t defence;
  int64_t end;  // the end of the turn's thinking
};
ThreatDeadlines ThreatDeadline(const GameState& game);

}  // namespace kestrova
