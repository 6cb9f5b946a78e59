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

// The opponent's two fours cannot both be blocked: the engine has lost.
const std::string kLost =
    BoardBlock({"1,0", "13,9"}, {"1,1", "1,2", "1,3", "1,4", "14,9", "15,9", "16,9", "17,9"});
const std::string kOpening = BoardBlock({"10,10"}, {"9,9", "10,9"});
// The engine can make a four, blocked at one end, that wins nothing: not a forced move. The
// stones above and below the three keep it from a win by threes the search can prove.
const std::string kTemptingFour =
    BoardBlock({"5,5", "6,5", "7,5", "15,15"}, {"4,5", "6,4", "6,6", "10,10", "11,10"});

// One process for many games, as the Linux runner plays them: START again without END.
// Each game ends on a lost position answered with no time to think; nothing of it may
// shorten the tempting four that follows, nor the next game's first two moves: none is forced.
TEST(ProtocolE2E, EveryGameInOneProcessThinksItsUnforcedMoves) {
  EngineProcess engine;
  referee::Point last{};
  // Sends the lines: the reply must be a move on the board, and come minMs or more later.
  const auto plays = [&](const std::string& lines, int64_t minMs, const std::string& what) {
    const int64_t start = MonotonicMs();
    EXPECT_TRUE(engine.Send(lines)) << what;
    const auto move = referee::ParseEngineMove(engine.Reply(kReplyMs));
    EXPECT_GE(MonotonicMs() - start, minMs) << what;
    if (move && referee::OnBoard(*move)) last = *move;
    return move && referee::OnBoard(*move);
  };
  for (int game = 0; game < 4; ++game) {
    const std::string of = " of game " + std::to_string(game);
    ASSERT_TRUE(engine.Send("START 20\r\n"));
    ASSERT_EQ(engine.Reply(kReplyMs), "OK");
    // The band gives 900 ms (the turn less its reserve): at least 700 ms of it must show.
    ASSERT_TRUE(plays("INFO timeout_match 1000000\r\nINFO timeout_turn 1000\r\n" + kOpening, 700,
                      "the first move" + of));
    const std::string turn = last.x == 8 && last.y == 8 ? "TURN 11,11\r\n" : "TURN 8,8\r\n";
    ASSERT_TRUE(plays(turn, 700, "the second move" + of));
    ASSERT_TRUE(plays("INFO timeout_turn 5\r\n" + kLost, 0, "the lost position" + of));
    ASSERT_TRUE(plays("INFO timeout_turn 1000\r\n" + kTemptingFour, 700, "the tempting four" + of));
  }
}

}  // namespace
}  // namespace kestrova::testing
