// The referee of `kestrova match`: one game between two protocol engines, judged, and
// what is made of the results (score, Elo, SGF).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/referee/engine_player.h"
#include "tools/referee/game_rules.h"

namespace kestrova::referee {

// One engine's time: per move, and its clock for one game.
struct TimeControl {
  int64_t turnMs = 5000;
  int64_t matchMs = 120000;
};

struct Limits {
  int64_t memoryBytes = 367001600;  // of each engine with its children; 0: no limit
  int64_t toleranceMs = 1000;
  int boardSize = BoardSize;
  int rule = kFreestyle;
  int64_t startupMs = 5000;  // for ABOUT and START: engines under wine take a second or more
};

struct Contestant {
  std::string label;  // "A" or "B", used in the reasons
  std::string commandLine;
  TimeControl time;
};

struct RecordedMove {
  PlayedStone stone;
  int64_t thinkingMs = -1;  // -1 for the opening's stones
};

// How a game ended: Time, Memory and Forfeit (illegal move, bad reply, crash, refused START)
// are faults of the loser. Stopped: cut short because the match was over; it counts for
// nobody.
enum class Ending { Five, FullBoard, Time, Memory, Forfeit, Stopped };

inline bool IsFault(Ending ending) {
  return ending == Ending::Time || ending == Ending::Memory || ending == Ending::Forfeit;
}

struct GameRecord {
  int boardSize = BoardSize;
  int rule = kFreestyle;
  std::string blackName, whiteName;  // from ABOUT, else the labels
  std::vector<RecordedMove> moves;
  Stone winner = Stone::None;  // None: a draw
  Ending ending = Ending::Five;
  std::string reason;
  int64_t peakBytes[2] = {-1, -1};  // black's, white's
  bool startFailed = false;  // an engine did not start or refused START: no game was played
};

// Plays one game from the opening, black to move first when the opening has an even
// number of stones. Every engine is ended (END, a kill 1 s later) before this returns, also
// when *stop turns true during the game, which ends it as Stopped.
GameRecord PlayGame(const Contestant& black, const Contestant& white, const Opening& opening,
                    const Limits& limits, const std::atomic<bool>* stop = nullptr);

// Elo difference from a score fraction, with its 95 % interval from the normal approximation
// of the mean game score. Infinite values stand for 0 % and 100 % scores.
struct EloEstimate {
  double elo = 0;
  double low = 0;
  double high = 0;
};
EloEstimate EstimateElo(int wins, int draws, int losses);
std::string FormatElo(double elo);           // "+35", "-120", "+inf", "-inf"
std::string FormatMegabytes(int64_t bytes);  // "12.5 MiB", "?" for a negative count

// One game as an SGF tree: FF[4] GM[4] SZ[size], RU[1] for exact five (the protocol's rule
// number; none for freestyle, the default a reader assumes), players, RE, the reason as the root's
// comment, every move with its thinking time as a comment.
std::string GameSgf(const GameRecord& game);

}  // namespace kestrova::referee
