// The manager's optional commands, its clock and the exact-five rule, through the real
// engine binary and pipes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace kestrova::testing
