// The engine on two search threads through the real binary and pipes: a manager's END, or
// its closing the pipe, ends a long search at once, and many short searches in a row all
// answer legal moves in time.
#include <gtest/gtest.h>

#include <string>

#include "core/board.h"
#include "tests/engine_process.h"
#include "tools/referee/game_rules.h"

namespace kestrova::testing {
namespace {

// The engine thinks 7 s on this opening (a 30 s turn); told to stop, it must be gone long
// before that.
TEST(ProtocolE2E, EndOrEndOfInputStopsAThreadedSearchAtOnce) {
  for (const bool closeInput : {false, true}) {
    SCOPED_TRACE(closeInput ? "end of input" : "END");
    EngineProcess engine(EngineCommand() + " --threads 2");
    ASSERT_TRUE(engine.Send("START 20\r\n"));
    ASSERT_EQ(engine.Reply(), "OK");
    ASSERT_TRUE(
        engine.Send("INFO thread_num 2\r\nINFO timeout_match 1000000\r\n"
                    "INFO timeout_turn 30000\r\nBOARD\r\n9,9,2\r\n10,10,1\r\n10,9,2\r\n"
                    "DONE\r\n"));
    // The search is under way once the reply is late; then the manager ends the game.
    EXPECT_EQ(engine.Reply(300), "<timeout>");
    const int64_t stopAt = MonotonicMs();
    if (closeInput)
      engine.process().CloseStdin();
    else
      ASSERT_TRUE(engine.Send("END\r\n"));
    ASSERT_TRUE(engine.ExitsWith(0, 5000));
    EXPECT_LT(MonotonicMs() - stopAt, 3000);
  }
}

// A game of short turns (60 ms of search each) on two threads: each reply a legal move, on an empty
// cell, and well within its turn.
TEST(ProtocolE2E, ManyShortThreadedSearchesAnswerLegalMoves) {
  EngineProcess engine(EngineCommand() + " --threads 2");
  ASSERT_TRUE(engine.Send("START 20\r\nINFO timeout_match 1000000\r\nINFO timeout_turn 560\r\n"));
  ASSERT_EQ(engine.Reply(), "OK");
  Board board{};
  int moves = 0;
  // The opponent plays along a fixed walk of the board; the engine answers each stone.
  for (int k = 0; k < 400 && moves < 120; ++k) {
    const int x = (k * 7) % 20, y = (k * 13 + k / 20) % 20;
    if (board.at(x + 1, y + 1) != Empty) continue;
    board.at(x + 1, y + 1) = Opponent;
    const int64_t start = MonotonicMs();
    ASSERT_TRUE(engine.Send("TURN " + std::to_string(x) + "," + std::to_string(y) + "\r\n"));
    const std::string reply = engine.Reply(5000);
    const int64_t ms = MonotonicMs() - start;
    const auto move = referee::ParseEngineMove(reply);
    ASSERT_TRUE(move && referee::OnBoard(*move)) << "move " << moves << ": " << reply;
    ASSERT_EQ(board.at(move->x + 1, move->y + 1), Empty) << "move " << moves << ": " << reply;
    board.at(move->x + 1, move->y + 1) = Own;
    EXPECT_LT(ms, 2000) << "move " << moves;
    ++moves;
  }
  EXPECT_GE(moves, 100);
  ASSERT_TRUE(engine.Send("END\r\n"));
  EXPECT_TRUE(engine.ExitsWith(0, 5000));
}

}  // namespace
}  // namespace kestrova::testing
