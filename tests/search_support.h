// What the search and threat tests share: the built patterns, boards from text, the position
// the tree probe proves, and a whole turn on a clock that advances a millisecond per reading.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/position_text.h"
#include "search/turn.h"
#include "tests/board_text.h"
#include "tests/step_clock.h"

namespace kestrova::testing {

inline const Patterns& TestPatterns() {
  static const Patterns patterns = BuiltPatterns();
  return patterns;
}

// The board of a position's text; the test fails when it does not parse.
inline Board Parsed(const std::string& text) {
  Board board;
  std::string error;
  EXPECT_TRUE(ParsePosition(text, board, error)) << error;
  return board;
}

// A size x size board of the rows given, as BoardText writes them.
inline Board Sparse(int size, const std::vector<std::pair<int, std::string>>& rows) {
  return Parsed(BoardText(size, rows));
}

// The board with every stone in the other colour.
inline Board Swapped(Board board) {
  for (uint8_t& c : board.cells)
    if (c == Own || c == Opponent) c = uint8_t(Own + Opponent - c);
  return board;
}

// Two twos of side 2 crossing at 7,7: a stone there makes two open threes, and side 3, with
// nothing of its own near, cannot stop both.
inline const Board kFork = Sparse(15, {{1, ".O...........O."},
                                       {5, ".......X"},
                                       {6, ".......X"},
                                       {7, ".....XX"},
                                       {13, ".O...........O."}});

// A whole turn of the engine on the board under the given limits.
struct Turn {
  Turn(const Board& board, int64_t matchTime, int64_t turnTime, uint64_t seed)
      : clock(1), search(TestPatterns(), seed) {
    game.GameBoard = board;
    game.msMatchTime = matchTime;
    game.msTurnTime = turnTime;
  }
  TurnResult Play() {
    game.TurnStartTime = clock.NowMs();
    return PlayTurn(game, search, clock);
  }
  StepClock clock;
  GameState game;
  Search search;
};

}  // namespace kestrova::testing
