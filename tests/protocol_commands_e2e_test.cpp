// The manager's optional commands, its clock, the exact-five rule, whole games in one
// process and searches on two threads, through the real engine binary and pipes. The engine
// may be another build (KESTROVA_ENGINE, the Windows one under wine, which starts slowly),
// so lower bounds on thinking time are tight and upper bounds generous.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/board.h"
#include "tests/engine_process.h"
#include "tools/referee/game_rules.h"

namespace kestrova::testing {
namespace {

constexpr int64_t kReplyMs = 20000;

TEST(ProtocolE2E, OptionalCommandsAnswerAndChangeOnlyWhatTheySay) {
  struct Row {
    const char* what;
    const char* input;
    std::vector<const char*> replies;
  };
  const Row rows[] = {
      {"RECTSTART: square boards of the supported sizes only",
       "RECTSTART 15,15\r\nBEGIN\r\nRECTSTART 20,15\r\nRECTSTART 30,30\r\nRECTSTART 15\r\n"
       "TURN 15,0\r\n",
       {"OK", "7,7", "ERROR rectangular boards are not supported", "ERROR unsupported board size",
        "ERROR malformed board size", "ERROR coordinates outside the board"}},
      {"TAKEBACK either colour; an empty or off-board cell changes nothing",
       "START 20\r\nBEGIN\r\nTAKEBACK 10,10\r\nTAKEBACK 10,10\r\nTAKEBACK 20,3\r\nTAKEBACK 3\r\n"
       "BOARD\r\n4,4,2\r\nDONE\r\nTAKEBACK 4,4\r\nPLAY 4,4\r\n",
       {"OK", "10,10", "OK", "ERROR no stone to take back", "ERROR coordinates outside the board",
        "ERROR malformed coordinates", "<move>", "OK", "4,4"}},
      {"PLAY: exactly the move asked for; an illegal one changes nothing",
       "START 15\r\nPLAY 0,0\r\nPLAY 0,0\r\nPLAY 15,0\r\nPLAY x\r\nTURN 0,0\r\nTURN 1,1\r\n",
       {"OK", "0,0", "ERROR cell is occupied", "ERROR coordinates outside the board",
        "ERROR malformed coordinates", "ERROR cell is occupied", "<move>"}},
      {"RESTART: a new game on the same board size",
       "START 15\r\nBEGIN\r\nRESTART\r\nTURN 14,14\r\nRESTART\r\nBEGIN\r\n",
       {"OK", "7,7", "OK", "<move>", "OK", "7,7"}},
      {"INFO rule: renju and other bits are refused once, the game goes on",
       "START 20\r\nINFO rule 4\r\nINFO rule 1\r\nINFO rule 0\r\nINFO rule 3\r\nBEGIN\r\n",
       {"OK", "ERROR unsupported rule 4", "ERROR unsupported rule 3", "10,10"}},
  };
  for (const Row& row : rows) {
    EngineProcess engine;
    ASSERT_TRUE(engine.Send(std::string("INFO timeout_turn 200\r\n") + row.input));
    for (const std::string expected : row.replies) {
      const std::string reply = engine.Reply(kReplyMs);
      if (expected == "<move>")
        EXPECT_TRUE(referee::ParseEngineMove(reply)) << row.what << ": " << reply;
      else
        EXPECT_EQ(reply, expected) << row.what;
    }
    ASSERT_TRUE(engine.Send("ABOUT\r\n"));
    EXPECT_EQ(engine.Reply(kReplyMs).rfind("name=", 0), 0u) << row.what << ": a reply too many";
  }
}

// After a takeback the engine plays on the position it was left, not the one before: the
// engine's five and the stone that made it four are taken back, and the opponent's new four
// must be blocked, where a leftover stone would have given the engine a five; the opponent's
// four is taken back, block and all, and the engine's open three is free to win, where the
// old four would still have had to be blocked.
TEST(ProtocolE2E, TakebackThenTurnSeesTheChangedPosition) {
  const struct {
    std::vector<std::string> own, theirs;
    const char *first, *then;
    std::vector<std::string> replies;  // any one of them
  } rows[] = {
      {{"5,5", "6,5", "7,5", "8,5", "4,9"},
       {"4,5", "5,9", "6,9", "7,9", "15,15"},
       "9,5",
       "TAKEBACK 9,5\r\nTAKEBACK 8,5\r\nTURN 8,9\r\n",
       {"9,9"}},
      {{"5,5", "6,5", "7,5", "4,9"},
       {"5,9", "6,9", "7,9", "8,9"},
       "9,9",
       "TAKEBACK 9,9\r\nTAKEBACK 8,9\r\nTURN 15,15\r\n",
       {"4,5", "8,5"}},
  };
  for (const auto& row : rows) {
    EngineProcess engine;
    ASSERT_TRUE(
        engine.Send("START 20\r\nINFO timeout_turn 300\r\n" + BoardBlock(row.own, row.theirs)));
    ASSERT_EQ(engine.Reply(kReplyMs), "OK");
    ASSERT_EQ(engine.Reply(kReplyMs), row.first);
    ASSERT_TRUE(engine.Send(row.then));
    EXPECT_EQ(engine.Reply(kReplyMs), "OK");
    EXPECT_EQ(engine.Reply(kReplyMs), "OK");
    const std::string reply = engine.Reply(kReplyMs);
    EXPECT_NE(std::find(row.replies.begin(), row.replies.end(), reply), row.replies.end()) << reply;
  }
}

// The manager's time_left decides when it is smaller than the engine's own count, in every
// band of the match time and under any per-turn limit; a new game forgets it.
TEST(ProtocolE2E, TimeLeftBoundsTheReply) {
  for (const char* match : {"10000", "20000", "45000", "100000", "0"}) {
    EngineProcess engine;
    ASSERT_TRUE(engine.Send(std::string("START 20\r\nINFO timeout_turn 5000\r\n"
                                        "INFO timeout_match ") +
                            match + "\r\n"));
    ASSERT_EQ(engine.Reply(kReplyMs), "OK");
    for (const char* turn : {"TURN 10,10", "TURN 12,11"}) {
      const int64_t start = MonotonicMs();
      ASSERT_TRUE(engine.Send(std::string("INFO time_left 300\r\n") + turn + "\r\n"));
      EXPECT_TRUE(referee::ParseEngineMove(engine.Reply(kReplyMs))) << match;
      // 300 ms less the reserve the engine keeps for the reply to reach the manager.
      EXPECT_LT(MonotonicMs() - start, 270) << "timeout_match " << match << ", " << turn;
    }
  }
  // With 100 s of the match left and a two-second turn, the new game's first move takes the
  // better part of its turn again (only a lower bound: a loaded machine cannot break it).
  EngineProcess engine;
  ASSERT_TRUE(
      engine.Send("START 20\r\nINFO timeout_turn 2000\r\nINFO timeout_match 100000\r\n"
                  "INFO time_left 300\r\nTURN 10,10\r\nSTART 20\r\n"));
  ASSERT_EQ(engine.Reply(kReplyMs), "OK");
  ASSERT_TRUE(referee::ParseEngineMove(engine.Reply(kReplyMs)));
  ASSERT_EQ(engine.Reply(kReplyMs), "OK");
  const int64_t start = MonotonicMs();
  ASSERT_TRUE(engine.Send("TURN 10,10\r\n"));
  EXPECT_TRUE(referee::ParseEngineMove(engine.Reply(kReplyMs)));
  EXPECT_GE(MonotonicMs() - start, 1000) << "the last game's time_left held in the new one";
}

// Under rule 1 exactly five wins and six or more is nothing, as a move to make and as a
// threat to block; freestyle keeps five or more.
TEST(ProtocolE2E, ExactFiveRule) {
  struct Row {
    const char* what;
    const char* rule;
    std::vector<std::string> own, theirs;
    const char* reply;
  };
  // Own 5..8,5 and 10,5 with 4,5 taken: 9,5 makes six. The opponent's 5..8,7 end at 9,7.
  const std::vector<std::string> sixOwn = {"5,5", "6,5", "7,5", "8,5", "10,5", "4,7"};
  const std::vector<std::string> sixTheirs = {"4,5", "5,7", "6,7", "7,7", "8,7"};
  // Own 8,5 and 10..13,5: 9,5 makes six, 14,5 exactly five.
  const std::vector<std::string> fiveOwn = {"8,5", "10,5", "11,5", "12,5", "13,5"};
  const std::vector<std::string> fiveTheirs = {"7,5", "3,3", "16,16", "16,3"};
  const Row rows[] = {
      {"six wins under freestyle", "0", sixOwn, sixTheirs, "9,5"},
      {"six is no win: the opponent's five is blocked", "1", sixOwn, sixTheirs, "9,7"},
      {"five or more: the first cell that makes one", "0", fiveOwn, fiveTheirs, "9,5"},
      {"exactly five", "1", fiveOwn, fiveTheirs, "14,5"},
      {"the opponent's six is no threat, its five is",
       "1",
       {"4,9", "4,12", "15,1"},
       {"5,9", "6,9", "7,9", "8,9", "10,9", "5,12", "6,12", "7,12", "8,12"},
       "9,12"},
  };
  for (const Row& row : rows) {
    EngineProcess engine;
    ASSERT_TRUE(engine.Send(std::string("START 20\r\nINFO timeout_turn 300\r\nINFO rule ") +
                            row.rule + "\r\n" + BoardBlock(row.own, row.theirs)));
    ASSERT_EQ(engine.Reply(kReplyMs), "OK");
    EXPECT_EQ(engine.Reply(kReplyMs), row.reply) << row.what;
  }
}

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
