// Whole games through the engine binary against the random-move opponent of scripts/ (and
// against itself on a board too small to win on): every reply a legal move inside the turn
// limit, on every board size, and a new game in the same process starts clean.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/engine_process.h"
#include "tools/referee/game_rules.h"

namespace kestrova {
namespace {

using referee::Grid;
using referee::Point;
using referee::Stone;

struct GameSetup {
  const char* name;
  int size;
  int64_t turnMs, matchMs;
  bool engineOpens;  // BEGIN instead of the opponent's first move
  bool viaBoard;     // every request as a BOARD position instead of TURN
  bool selfPlay;     // the opponent is a second engine instead of the random mover
};

enum class Result { EngineWon, OpponentWon, Full, Broken };

// Managers allow a second or more past the turn limit; a loaded test machine can delay a
// reply by a scheduling slice or two after the engine decided in time.
constexpr int64_t kToleranceMs = 1000;

// Asks a player for a move and checks it; the engine's replies must also come in time.
bool Ask(testing::EngineProcess& player, const std::string& request, const Grid& grid,
         int64_t limitMs, Point& move, const char* name) {
  const int64_t sent = MonotonicMs();
  player.Send(request);
  const std::string reply = player.Reply(limitMs + 5000);
  const int64_t took = MonotonicMs() - sent;
  const auto parsed = referee::ParseEngineMove(reply);
  if (!parsed || !grid.OnBoard(*parsed) || grid.at(*parsed) != Stone::None) {
    ADD_FAILURE() << name << ": no legal move: '" << reply << "'";
    return false;
  }
  EXPECT_TRUE(limitMs == 0 || took < limitMs + kToleranceMs) << name << ": late " << reply;
  move = *parsed;
  return true;
}

// The engine plays Black; the opponent answers TURN with the engine's last move.
Result PlayGame(testing::EngineProcess& engine, testing::EngineProcess& opponent,
                const GameSetup& setup) {
  const std::string start = "START " + std::to_string(setup.size) + "\r\n";
  for (testing::EngineProcess* p : {&engine, &opponent}) {
    p->Send(start + "INFO timeout_turn " + std::to_string(setup.turnMs) +
            "\r\nINFO timeout_match " + std::to_string(setup.matchMs) + "\r\n");
    EXPECT_EQ(p->Reply(), "OK") << setup.name;
  }
  Grid grid(setup.size);
  std::vector<std::pair<Point, Stone>> history;
  for (bool engineTurn = setup.engineOpens;; engineTurn = !engineTurn) {
    std::string request;
    if (history.empty()) {
      request = "BEGIN\r\n";
    } else if (engineTurn && setup.viaBoard) {
      request = "BOARD\r\n";
      for (auto [p, s] : history)
        request += referee::ProtocolText(p) + (s == Stone::Black ? ",1\r\n" : ",2\r\n");
      request += "DONE\r\n";
    } else {
      request = "TURN " + referee::ProtocolText(history.back().first) + "\r\n";
    }
    Point move;
    const Stone stone = engineTurn ? Stone::Black : Stone::White;
    if (!Ask(engineTurn ? engine : opponent, request, grid,
             engineTurn || setup.selfPlay ? setup.turnMs : 0, move, setup.name))
      return Result::Broken;
    grid.Put(move, stone);
    history.push_back({move, stone});
    if (referee::MakesFive(grid, move)) return engineTurn ? Result::EngineWon : Result::OpponentWon;
    if (grid.Full()) return Result::Full;
  }
}

TEST(GameTest, FullGamesOnEveryBoardSize) {
  const GameSetup setups[] = {
      {"opponent opens, 1 s turns", 20, 1000, 180000, false, false, false},
      {"engine opens, 0.3 s turns", 20, 300, 120000, true, false, false},
      {"BOARD positions", 20, 600, 120000, false, true, false},
      {"short match clock", 20, 1000, 20000, false, false, false},
      {"15x15", 15, 500, 120000, true, false, false},
      {"6x6", 6, 300, 60000, false, false, false},
      {"6x6 against itself fills up", 6, 100, 60000, true, false, true},
  };
  // One process for every game, as some managers do.
  testing::EngineProcess engine, self;
  testing::EngineProcess random("python3 '" KESTROVA_RANDOM_ENGINE "' 7");
  for (const GameSetup& setup : setups) {
    const Result result = PlayGame(engine, setup.selfPlay ? self : random, setup);
    EXPECT_NE(result, Result::Broken) << setup.name;
    EXPECT_TRUE(!setup.selfPlay || result == Result::Full) << setup.name;
    EXPECT_TRUE(setup.size < 15 || result == Result::EngineWon) << setup.name;
  }
  for (testing::EngineProcess* p : {&engine, &self, &random}) {
    p->Send("END\r\n");
    EXPECT_TRUE(p->ExitsWith(0));
  }
}

// The engine's switches reach the search: each one still wins a game, and --help names them.
TEST(GameTest, EverySwitchPlaysAWholeGame) {
  const GameSetup setup{"15x15", 15, 300, 120000, true, false, false};
  const char* const options[] = {"--no-tree-probe", "--no-shape-value", "--no-threats", "--vct"};
  for (const char* option : options) {
    testing::EngineProcess engine(testing::EngineCommand() + " " + option);
    testing::EngineProcess random("python3 '" KESTROVA_RANDOM_ENGINE "' 11");
    EXPECT_EQ(PlayGame(engine, random, setup), Result::EngineWon) << option;
    for (testing::EngineProcess* p : {&engine, &random}) p->Send("END\r\n");
  }
  testing::EngineProcess help(testing::EngineCommand() + " --help");
  const std::string usage = help.ReadAll(10000);
  for (const char* option : options) EXPECT_TRUE(testing::Holds(usage, option));
}

}  // namespace
}  // namespace kestrova
