// The engine must keep its whole process under the manager's max_memory: a tournament
// manager checks it every move and a process over it loses. The tree grows with every long
// turn and is kept from move to move, so the measured engine plays 2-second turns against
// a second engine process of the same strength (quiet games: without the bound its tree
// passes 100 MB within about ten moves) until it has had 16 turns that searched for most
// of their time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/engine_process.h"
#include "tools/game_rules.h"

namespace kestrova::testing {
namespace {

using referee::Grid;
using referee::MakesFive;
using referee::ParseEngineMove;
using referee::Point;
using referee::ProtocolText;
using referee::Stone;

constexpr int64_t kMaxMemory = 104857600;
// Turns that ran the search for most of the 2 s (forced replies come back at once).
constexpr int kLongTurns = 16;
constexpr int64_t kLongTurnMs = 1000;
constexpr int kMoveCap = 60;
constexpr int64_t kReplyWaitMs = 15000;  // far past the 2 s turn: only a hang trips it

// Places the reply on the grid; a test failure (and false) when it is no legal move.
bool Play(Grid& grid, const std::string& reply, Stone stone, Point& move) {
  const auto parsed = ParseEngineMove(reply);
  if (!parsed) {
    ADD_FAILURE() << "not a move: '" << reply << "'";
    return false;
  }
  move = *parsed;
  if (grid.at(move) != Stone::None) {
    ADD_FAILURE() << "move onto a taken cell: " << reply;
    return false;
  }
  grid.Put(move, stone);
  return true;
}

TEST(ProcessMemoryTest, PeakResidentMemoryStaysUnderMaxMemory) {
  if (const char* other = std::getenv("KESTROVA_ENGINE"); other && *other)
    GTEST_SKIP() << "peak memory is read from /proc for the native engine only";
  EngineProcess measured(KESTROVA_ENGINE_PATH);
  EngineProcess opponent(KESTROVA_ENGINE_PATH);

  auto newGame = [&] {
    ASSERT_TRUE(measured.Send("START 20\r\n"));
    ASSERT_EQ(measured.Reply(), "OK");
    ASSERT_TRUE(opponent.Send("START 20\r\n"));
    ASSERT_EQ(opponent.Reply(), "OK");
  };
  ASSERT_NO_FATAL_FAILURE(newGame());
  ASSERT_TRUE(measured.Send("INFO max_memory " + std::to_string(kMaxMemory) +
                            "\r\nINFO timeout_turn 2000\r\nINFO timeout_match 180000\r\n"));
  ASSERT_TRUE(opponent.Send("INFO timeout_turn 2000\r\n"));

  Grid grid;
  std::string command = "BEGIN\r\n";
  int games = 1, moves = 0, longTurns = 0;
  while (longTurns < kLongTurns && moves < kMoveCap) {
    const int64_t asked = MonotonicMs();
    ASSERT_TRUE(measured.Send(command));
    Point move;
    ASSERT_TRUE(Play(grid, measured.Reply(kReplyWaitMs), Stone::Black, move));
    ++moves;
    if (MonotonicMs() - asked >= kLongTurnMs) ++longTurns;
    if (!MakesFive(grid, move) && !grid.Full()) {
      ASSERT_TRUE(opponent.Send("TURN " + ProtocolText(move) + "\r\n"));
      ASSERT_TRUE(Play(grid, opponent.Reply(kReplyWaitMs), Stone::White, move));
      if (!MakesFive(grid, move) && !grid.Full()) {
        command = "TURN " + ProtocolText(move) + "\r\n";
        continue;
      }
    }
    // A game is over: the same processes play the next one, as a reused engine does.
    ASSERT_NO_FATAL_FAILURE(newGame());
    grid = Grid{};
    command = "BEGIN\r\n";
    ++games;
  }

  const int64_t peak = measured.process().PeakResidentBytes();
  ASSERT_TRUE(measured.Send("END\r\n"));
  int exitCode = -1;
  EXPECT_TRUE(measured.Exited(5000, &exitCode));
  EXPECT_EQ(exitCode, 0);
  ASSERT_GT(peak, 0) << "no peak resident memory could be read";
  EXPECT_LT(peak, kMaxMemory);
  EXPECT_GE(longTurns, kLongTurns) << "the games gave too few long turns to grow the tree";
  std::printf(
      "peak resident memory %.1f MB over %d moves (%d long) in %d game(s), "
      "max_memory %.1f MB\n",
      double(peak) / 1048576.0, moves, longTurns, games, double(kMaxMemory) / 1048576.0);
}

}  // namespace
}  // namespace kestrova::testing
