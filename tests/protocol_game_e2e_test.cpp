// Whole games and the manager's clock through the real engine binary and pipes. The engine
// may be another build (KESTROVA_ENGINE, the Windows one under wine, which starts slowly),
// so lower bounds on thinking time are tight and upper bounds generous.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine_process.h"
#include "tools/referee/game_rules.h"

namespace kestrova::testing {
namespace {

constexpr int64_t kReplyMs = 20000;

// Sends the lines, waits for one reply and says how long it took.
std::string Timed(EngineProcess& engine, const std::string& lines, int64_t* ms) {
  const int64_t start = MonotonicMs();
  EXPECT_TRUE(engine.Send(lines));
  std::string reply = engine.Reply(kReplyMs);
  *ms = MonotonicMs() - start;
  return reply;
}

// The opponent's two fours cannot both be blocked: the engine has lost.
const std::string kLost =
    BoardBlock({"1,0", "13,9"}, {"1,1", "1,2", "1,3", "1,4", "14,9", "15,9", "16,9", "17,9"});
const std::string kOpening = BoardBlock({"10,10"}, {"9,9", "10,9"});
// The engine can make a four, blocked at one end, that wins nothing: not a forced move.
const std::string kTemptingFour =
    BoardBlock({"5,5", "6,5", "7,5"}, {"4,5", "10,10", "11,10", "12,14"});

// One process for many games, as the Linux runner plays them: START again without END.
// Each game ends on a lost position answered with no time to think; nothing of it may
// shorten the tempting four that follows, nor the next game's first two moves: none is forced.
TEST(ProtocolE2E, EveryGameInOneProcessThinksItsUnforcedMoves) {
  EngineProcess engine;
  for (int game = 0; game < 4; ++game) {
    int64_t ms = 0;
    ASSERT_EQ(Timed(engine, "START 20\r\n", &ms), "OK");
    ASSERT_TRUE(engine.Send("INFO timeout_match 1000000\r\nINFO timeout_turn 1000\r\n"));
    auto move = referee::ParseEngineMove(Timed(engine, kOpening, &ms));
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "game " << game;
    // The band gives 900 ms (the turn less its reserve): at least 700 ms of it must show.
    EXPECT_GE(ms, 700) << "first move of game " << game;
    const std::string turn = move->x == 8 && move->y == 8 ? "TURN 11,11\r\n" : "TURN 8,8\r\n";
    move = referee::ParseEngineMove(Timed(engine, turn, &ms));
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "game " << game;
    EXPECT_GE(ms, 700) << "second move of game " << game;
    ASSERT_TRUE(engine.Send("INFO timeout_turn 5\r\n"));
    move = referee::ParseEngineMove(Timed(engine, kLost, &ms));
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "game " << game;
    ASSERT_TRUE(engine.Send("INFO timeout_turn 1000\r\n"));
    move = referee::ParseEngineMove(Timed(engine, kTemptingFour, &ms));
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "game " << game;
    EXPECT_GE(ms, 700) << "the tempting four of game " << game;
  }
}

}  // namespace
}  // namespace kestrova::testing
