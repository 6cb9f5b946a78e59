// The turn driver: prepares the root, searches within the time band, picks the move.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/game_state.h"
#include "search/time_bands.h"
#include "search/tree.h"

namespace kestrova {

// The engine's move in protocol coordinates, or why there is none.
struct TurnResult {
  bool played = false;
  int32_t x = 0, y = 0;
  std::string error;
};

// Plays the engine's move on GameBoard and returns it; no move only when no cell is left.
TurnResult PlayTurn(GameState& game, Search& search, Clock& clock);

// Re-roots the tree at the opponent's reply when that keeps the same position, else
// starts a fresh tree; the root then holds GameBoard with side 2 to move.
void PrepareRoot(GameState& game, Search& search);

// The root child chosen as the move, or -1 when the root has no child.
int32_t FinalChoice(Search& search);

// The best searched root child among the allowed moves, or -1 when none was searched.
int32_t FinalChoiceAmong(Search& search, const std::vector<Move>& allowed);

// The move whose position the scan values best for side 2, side 3 to move after it.
Move BestByScan(Search& search, const Board& board, const std::vector<Move>& moves);

// A search of a fixed number of iterations from GameBoard, with no clock involved: the
// bench's deterministic search. Returns the chosen root child, or -1.
int32_t SearchFixed(GameState& game, Search& search, int64_t iterations);

// The same number of iterations shared among search.threads threads: not replayable, for
// measuring the threads' speed.
int32_t SearchFixedOnThreads(GameState& game, Search& search, int64_t iterations);

// The no-candidate cell: first empty cell with both indices in 2..20.
bool FallbackCell(const Board& board, int& x, int& y);

// A cell no search can improve on: one that makes a five for side 2, else the only one that
// would make a five for side 3. False when there is none.
bool GuardCell(const Board& board, int& x, int& y, Rule rule = Rule::Freestyle);

}  // namespace kestrova
