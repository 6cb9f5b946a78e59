// Whole games and the manager's clock through the real engine binary and pipes. The engine
// may be another build (KESTROVA_ENGINE, the Windows one under wine, which starts slowly),
// so lower bounds on thinking time are tight and upper bounds generous.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>
#include <vector>

#include "tests/engine_process.h"
#include "tools/referee/game_rules.h"

namespace kestrova::testing {
namespace {

constexpr int64_t kReplyMs = 20000;

using Stones = std::vector<std::tuple<int, int, int>>;  // x, y, who (1 engine, 2 opponent)

std::string BoardBlock(const Stones& stones) {
  std::string block = "BOARD\r\n";
  for (const auto& [x, y, who] : stones)
    block += std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(who) + "\r\n";
  return block + "DONE\r\n";
}

// Sends the lines, waits for one reply and says how long it took.
std::string Timed(EngineProcess& engine, const std::string& lines, int64_t* ms) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(engine.Send(lines));
  std::string reply = engine.Reply(kReplyMs);
  *ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                              start)
            .count();
  return reply;
}

// The opponent's two fours cannot both be blocked: the engine has lost.
const Stones kLost = {{1, 0, 1}, {13, 9, 1}, {1, 1, 2},  {1, 2, 2},  {1, 3, 2},
                      {1, 4, 2}, {14, 9, 2}, {15, 9, 2}, {16, 9, 2}, {17, 9, 2}};
const Stones kOpening = {{9, 9, 2}, {10, 10, 1}, {10, 9, 2}};
// The engine can make a four, blocked at one end, that wins nothing: not a forced move.
const Stones kTemptingFour = {{5, 5, 1},   {6, 5, 1},   {7, 5, 1},  {4, 5, 2},
                              {10, 10, 2}, {11, 10, 2}, {12, 14, 2}};

// One process for many games, as the Linux runner plays them: START again without END.
// Each game ends on a lost position answered with no time to think; nothing of it may
// shorten the tempting four that follows, nor the next game's first two moves: none is forced.
TEST(ProtocolE2E, EveryGameInOneProcessThinksItsUnforcedMoves) {
  EngineProcess engine;
  for (int game = 0; game < 4; ++game) {
    int64_t ms = 0;
    ASSERT_EQ(Timed(engine, "START 20\r\n", &ms), "OK");
    ASSERT_TRUE(engine.Send("INFO timeout_match 1000000\r\nINFO timeout_turn 1000\r\n"));
    auto move = referee::ParseEngineMove(Timed(engine, BoardBlock(kOpening), &ms));
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "game " << game;
    // The band gives 900 ms (the turn less its reserve): at least 700 ms of it must show.
    EXPECT_GE(ms, 700) << "first move of game " << game;
    const std::string turn = move->x == 8 && move->y == 8 ? "TURN 11,11\r\n" : "TURN 8,8\r\n";
    move = referee::ParseEngineMove(Timed(engine, turn, &ms));
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "game " << game;
    EXPECT_GE(ms, 700) << "second move of game " << game;
    ASSERT_TRUE(engine.Send("INFO timeout_turn 5\r\n"));
    move = referee::ParseEngineMove(Timed(engine, BoardBlock(kLost), &ms));
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "game " << game;
    ASSERT_TRUE(engine.Send("INFO timeout_turn 1000\r\n"));
    move = referee::ParseEngineMove(Timed(engine, BoardBlock(kTemptingFour), &ms));
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "game " << game;
    EXPECT_GE(ms, 700) << "the tempting four of game " << game;
  }
}

}  // namespace
}  // namespace kestrova::testing
