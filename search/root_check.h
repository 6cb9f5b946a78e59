// While the tree search runs: the root move it leads with is checked for a forced win of the
// opponent's (by fours, then by fours and threes) after it, and a move proven to lose is taken
// out of the search. The search alone cannot see a win fifteen plies deep; the solver can.
#pragma once

#include <cstdint>
#include <vector>

#include "core/clock.h"
#include "search/tree.h"

namespace kestrova {

struct RootCheck {
  int64_t searchStartMs = 0;
  int64_t spentMs = 0;
  int64_t endMs = 0;  // no check runs past this reading of the clock
  // Per root child, counted from 1: the node budget of its last check that settled nothing,
  // or kDone once it is proven safe or the largest budget settled nothing.
  std::vector<int64_t> tried;
  int64_t checks = 0, losses = 0;
  static constexpr int64_t kDone = -1;
};

RootCheck StartRootCheck(Clock& clock, int64_t endMs);

// Checks the leading root move once, unless the checks have had their share of the search's
// time so far or the leader is settled. allowed, when given, holds the only moves that count.
void CheckLeadingMove(Search& search, RootCheck& check, Clock& clock,
                      const std::vector<Move>* allowed);

// Whether the move into c is among allowed; every move is when allowed is null.
bool Allowed(const std::vector<Move>* allowed, const TreeNode& c);

// The visited root child of the best average among those allowed (every one when allowed is
// null), or -1. A proven loss competes only when nothing else is left.
int32_t BestAverage(const Search& search, const std::vector<Move>* allowed);

}  // namespace kestrova
