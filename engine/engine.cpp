#include "engine/engine.h"

namespace kestrova {
Engine::Engine(Clock& c, uint64_t seed)
    : clock(c), patterns(BuiltPatterns()), search(patterns, seed) {
  game.TemplateCount = patterns.TemplateCount;
  // The walls stand from the start: a move requested before START must still land on
  // the board.
  ResetBoard(game.GameBoard);
}

}  // namespace kestrova
