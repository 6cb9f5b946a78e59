// One game of a person against a protocol engine, shared by kestrova play (the terminal) and
// kestrova serve (the browser): the engine process, the moves, whose turn it is, and the
// judgement of the engine's replies.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/referee/engine_player.h"
#include "tools/referee/game_rules.h"

namespace kestrova::referee {

// A person is patient, but an engine that stays silent this long past its turn limit is
// not coming back.
constexpr int64_t kSessionToleranceMs = 2000;

struct SessionOptions {
  std::string engine;  // a command line for /bin/sh
  int64_t turnMs = 3000;
  int size = BoardSize;
  bool humanFirst = true;
  int rule = kFreestyle;
  bool noThreats = false;  // the default engine without its threat solver
  int threads = 0;         // search threads the engine is told to use; 0: one per core
};

struct SessionMove {
  Point at;
  Stone stone = Stone::None;
  int64_t thinkingMs = -1;  // the engine's time for its moves, -1 for the person's
};

enum class Refusal { None, OffBoard, Taken, OutOfTurn, Over };

class GameSession {
 public:
  GameSession() = default;
  GameSession(const GameSession&) = delete;
  GameSession& operator=(const GameSession&) = delete;
  ~GameSession() { Close(); }

  // From now on the engine's waits (in Open and AskEngine) end soon after *stop turns true;
  // the engine is then ended at once and the game with it.
  void StopWhen(const std::atomic<bool>* stop) { player_.Watch(0, stop); }
  // Starts the engine and readies it for a game (ABOUT, START size, INFO); false with the
  // reason in error.
  bool Open(const SessionOptions& options, std::string& error);
  // Ends the engine (END, then a kill after graceMs) and the game, if not yet over; does
  // nothing the second time.
  void Close(int64_t graceMs = 1000);

  const SessionOptions& options() const { return options_; }
  const std::string& EngineName() const { return name_; }
  Stone human() const { return options_.humanFirst ? Stone::Black : Stone::White; }
  Stone engine() const { return Other(human()); }
  const std::vector<SessionMove>& moves() const { return moves_; }
  const Grid& grid() const { return grid_; }
  bool over() const { return over_; }
  // Why the game ended: a five, a full board, a resignation or the engine's fault.
  const std::string& result() const { return result_; }
  // The cells of the five that ended the game, empty when none did.
  const std::vector<Point>& fiveCells() const { return fiveCells_; }
  bool EngineToMove() const;

  Refusal PlayHuman(Point p);

  // The engine's turn in three steps, so a server can let others read the game while only
  // AskEngine, which touches nothing but the engine process, waits.
  std::string EngineCommands() const;
  MoveReply AskEngine(const std::string& commands);
  // Plays the reply if it is a legal move; otherwise ends the game with the engine's fault
  // as the result and returns false.
  bool ApplyEngineReply(const MoveReply& reply);
  bool EngineMoves() { return ApplyEngineReply(AskEngine(EngineCommands())); }

  // Takes back the person's last move and the engine's answer to it; the moves taken back
  // ("i9 and h8"), or "" when there is nothing the person may take back.
  std::string TakeBack();
  // Ends the game for good; false when it was already over.
  bool Resign();

 private:
  void Put(Point p, Stone s, int64_t thinkingMs);
  void Judge(const std::string& winner);

  SessionOptions options_;
  EnginePlayer player_;
  bool launched_ = false;
  std::string name_ = "the engine";
  std::vector<SessionMove> moves_;
  Grid grid_;
  bool engineInSync_ = true;  // the engine's own board matches moves_, so TURN will do
  bool over_ = false;
  bool final_ = false;  // a resignation or an engine's fault: no takeback revives the game
  std::string result_;
  std::vector<Point> fiveCells_;
};

// The cells of the line of p's colour through p that wins under the grid's rule, or none.
std::vector<Point> FiveThrough(const Grid& grid, Point p);

// "h8 (7,7)"
std::string Describe(Point p);

// The pbrain-kestrova installed next to this tool, quoted for the shell, or "".
std::string EngineBesideTool();

}  // namespace kestrova::referee
