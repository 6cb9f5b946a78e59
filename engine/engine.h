// Everything that lives as long as the engine process: built once by main, or by a test.
#pragma once

#include <cstdint>

#include "core/clock.h"
#include "core/game_state.h"
#include "patterns/templates.h"
#include "search/tree.h"

namespace kestrova {

struct Engine {
  Engine(Clock& clock, uint64_t seed);

  Clock& clock;
  Patterns patterns;  // built before the search, whose scanner reads it
  GameState game;
  Search search;
  // Search threads when the manager names none, or names a count that means nothing.
  int defaultThreads = 1;
};

}  // namespace kestrova
