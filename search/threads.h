// The helper threads of a search: each iterates on the same tree as the thread that keeps
// the clock, until that one is done.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "search/tree.h"

namespace kestrova {

// One iteration from the root on the worker (the search's own when none is given) that does
// something: a descent that gave up on a node another thread holds is made again.
void IterateOnce(Search& search, Worker& worker);
inline void IterateOnce(Search& search) {
  IterateOnce(search, search);
}

// Iterates on the worker with iterations taken from a budget that threads share, until it is
// spent or the store is full; returns the iterations made.
int64_t IterateFromBudget(Search& search, Worker& worker, std::atomic<int64_t>& budget);

// Runs ownLoop on this thread, which returns the iterations it made, while search.threads - 1
// helpers iterate on the same tree until ownLoop returns; with a budget, the helpers iterate
// from it instead (IterateFromBudget). No helper outlives the call.
// Returns the iterations of every thread; the helpers' scan and probe counts go to the
// search's own.
int64_t SearchWithHelpers(Search& search, std::atomic<int64_t>* budget,
                          const std::function<int64_t()>& ownLoop);

}  // namespace kestrova
