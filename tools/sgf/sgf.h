// Game records as kestrova match writes them (SGF: SZ, an optional RU, then B[] and W[] nodes),
// read back and replayed a move at a time for the tools that study games.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/board.h"
#include "core/game_state.h"

namespace kestrova::sgf {

struct RecordedGame {
  int size = BoardSize;
  Rule rule = Rule::Freestyle;
  // Side (Own for black) and move, in order; a move may lie off the board, which the replay
  // refuses, so that what comes before it can still be shown.
  std::vector<std::pair<uint8_t, Move>> moves;
};

// The games of an SGF collection. False with the reason in error for anything that is not a
// record of one: an unsupported size or rule, variations, setup stones, a broken tree.
bool ParseSgf(std::string_view text, std::vector<RecordedGame>& games, std::string& error);

// ParseSgf on a file's contents; error also says when the file cannot be read.
bool ReadSgfFile(const std::string& path, std::vector<RecordedGame>& games, std::string& error);

// "hh": the SGF point of a board move.
std::string SgfPoint(Move m);

// A game's moves played one after another on its board, each checked before it is placed.
class Replay {
 public:
  explicit Replay(const RecordedGame& game);

  const Board& board() const { return board_; }
  size_t played() const { return played_; }
  bool AtEnd() const { return played_ == game_.moves.size(); }
  // The last move played made five: the game is over.
  bool Won() const { return won_; }

  // Plays the next move. False, with the reason in error and nothing played, when it lies
  // off the board or on a stone, comes out of turn, or follows a five.
  bool Next(std::string& error);

 private:
  const RecordedGame& game_;
  Board board_{};
  size_t played_ = 0;
  bool won_ = false;
};

// Whether every move of game can be played; the first that cannot in error.
bool Replayable(const RecordedGame& game, std::string& error);

}  // namespace kestrova::sgf
