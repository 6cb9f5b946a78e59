// Whole games through the engine binary against a random-move opponent: every reply a
// legal move, inside the turn limit, and a new game in the same process starts clean.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/engine_process.h"
#include "tools/game_rules.h"

namespace kestrova {
namespace {

using referee::Grid;
using referee::MakesFive;
using referee::ParseEngineMove;
using referee::Point;
using referee::Stone;

struct GameSetup {
  const char* name;
  int64_t turnMs, matchMs;
  bool engineOpens;  // BEGIN instead of the opponent's first TURN
  bool viaBoard;     // every request as a BOARD position instead of TURN
};

Point RandomEmpty(const Grid& grid, std::mt19937& rng) {
  for (;;) {
    const Point p{int(rng() % BoardSize), int(rng() % BoardSize)};
    if (grid.at(p) == Stone::None) return p;
  }
}

// Plays one game; returns the number of engine moves. Engine stones are Black.
int PlayGame(testing::EngineProcess& engine, const GameSetup& setup, std::mt19937& rng) {
  engine.Send("START 20\r\n");
  EXPECT_EQ(engine.Reply(), "OK");
  engine.Send("INFO timeout_turn " + std::to_string(setup.turnMs) + "\r\nINFO timeout_match " +
              std::to_string(setup.matchMs) + "\r\nINFO max_memory 367001600\r\n");
  Grid grid;
  std::vector<std::pair<Point, Stone>> history;
  int engineMoves = 0;
  bool engineTurn = setup.engineOpens;
  for (;;) {
    if (!engineTurn) {
      const Point p = RandomEmpty(grid, rng);
      grid.Put(p, Stone::White);
      history.push_back({p, Stone::White});
      if (MakesFive(grid, p) || grid.Full()) return engineMoves;
    }
    std::string request;
    if (setup.viaBoard) {
      request = "BOARD\r\n";
      for (auto [p, s] : history)
        request += referee::ProtocolText(p) + (s == Stone::Black ? ",1\r\n" : ",2\r\n");
      request += "DONE\r\n";
    } else if (history.empty()) {
      request = "BEGIN\r\n";
    } else {
      request = "TURN " + referee::ProtocolText(history.back().first) + "\r\n";
    }
    const int64_t sent = MonotonicMs();
    engine.Send(request);
    const std::string reply = engine.Reply(setup.turnMs + 5000);
    const int64_t took = MonotonicMs() - sent;
    const auto move = ParseEngineMove(reply);
    if (!move) {
      ADD_FAILURE() << setup.name << ": not a move: '" << reply << "'";
      return engineMoves;
    }
    EXPECT_EQ(grid.at(*move), Stone::None) << setup.name << ": occupied " << reply;
    if (setup.turnMs > 0) {
      EXPECT_LT(took, setup.turnMs) << setup.name << ": late " << reply;
    }
    grid.Put(*move, Stone::Black);
    history.push_back({*move, Stone::Black});
    ++engineMoves;
    if (MakesFive(grid, *move) || grid.Full()) return engineMoves;
    engineTurn = false;
  }
}

TEST(GameTest, FullGamesAgainstARandomOpponent) {
  const GameSetup setups[] = {
      {"opponent opens, 1 s turns", 1000, 180000, false, false},
      {"engine opens, 0.6 s turns", 600, 120000, true, false},
      {"BOARD positions", 600, 120000, false, true},
      {"short match clock", 1000, 20000, false, false},
  };
  testing::EngineProcess engine;  // one process for every game, as some managers do
  std::mt19937 rng(2026);
  for (const GameSetup& setup : setups) {
    const int moves = PlayGame(engine, setup, rng);
    EXPECT_GT(moves, 0) << setup.name;
  }
  engine.Send("END\r\n");
  int code = -1;
  EXPECT_TRUE(engine.Exited(5000, &code));
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace kestrova
