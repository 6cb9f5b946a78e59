// The protocol through the real engine binary and pipes, as a manager drives it. The
// engine may be another build (KESTROVA_ENGINE, for example the Windows one under wine),
// so every wait is generous and no test depends on which legal move the engine picks.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/engine_process.h"
#include "tools/game_rules.h"

namespace kestrova::testing {
namespace {

constexpr int64_t kReplyMs = 20000;
constexpr int64_t kExitMs = 10000;
const std::string kAbout =
    "name=\"Kestrova\", version=\"v1.0.2\", author=\"Orrin Tavel\", country=\"Valdoria\"";

using Cell = std::pair<int, int>;

std::string TurnLine(const Cell& c) {
  return "TURN " + std::to_string(c.first) + "," + std::to_string(c.second) + "\r\n";
}

// Gives the engine time to take what was written in a read of its own.
void Pause() {
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

class EngineSession {
 public:
  std::string Reply() { return engine_.Reply(kReplyMs); }
  void Send(std::string_view bytes) { ASSERT_TRUE(engine_.Send(bytes)); }

  // The engine's move: legal, on an empty cell, which it then occupies.
  void ExpectMove(const char* what) {
    const std::string reply = Reply();
    const auto move = referee::ParseEngineMove(reply);
    ASSERT_TRUE(move && referee::OnBoard(*move)) << what << ": \"" << reply << '"';
    const Cell cell{move->x, move->y};
    EXPECT_FALSE(occupied.count(cell)) << what << ": " << reply << " is taken";
    occupied.insert(cell);
  }
  // Everything the engine still writes until it exits, and its exit code.
  std::string RestOfOutput(int* exitCode) {
    std::string rest = engine_.ReadAll(kReplyMs);
    *exitCode = -1;
    EXPECT_TRUE(engine_.Exited(kExitMs, exitCode)) << "engine did not exit";
    return rest;
  }
  EngineProcess& engine() { return engine_; }

  std::set<Cell> occupied;

 private:
  EngineProcess engine_;
};

TEST(ProtocolE2E, AboutLineIsExact) {
  EngineSession s;
  s.Send("ABOUT\r\n");
  EXPECT_EQ(s.Reply(), kAbout);
}

TEST(ProtocolE2E, SeveralLinesInOneWrite) {
  EngineSession s;
  s.Send("START 20\r\nABOUT\r\nBEGIN\r\nHELLO\r\n");
  EXPECT_EQ(s.Reply(), "OK");
  EXPECT_EQ(s.Reply(), kAbout);
  EXPECT_EQ(s.Reply(), "10,10");
  EXPECT_EQ(s.Reply(), "UNKNOWN");
}

TEST(ProtocolE2E, LineSplitAcrossWrites) {
  EngineSession s;
  s.Send("STA");
  Pause();
  s.Send("RT 20\r\n");
  EXPECT_EQ(s.Reply(), "OK");
  // "TURN 1" + "0,10" is the single move 10,10, not a TURN 1 and a stray line.
  s.Send("TURN 1");
  Pause();
  s.Send("0,10\r\n");
  s.occupied.insert({10, 10});
  s.ExpectMove("split TURN");
  s.Send("TURN 10,10\r\nABOUT\r\n");
  EXPECT_EQ(s.Reply(), "ERROR cell is occupied");
  EXPECT_EQ(s.Reply(), kAbout);
}

TEST(ProtocolE2E, CrLfSplitBetweenWrites) {
  EngineSession s;
  s.Send("START 20\r");
  Pause();
  s.Send("\nABOUT\r");
  Pause();
  s.Send("\nEND\r\n");
  int code = -1;
  EXPECT_EQ(s.RestOfOutput(&code), "OK\r\n" + kAbout + "\r\n");
  EXPECT_EQ(code, 0);
}

TEST(ProtocolE2E, EveryKindOfLineEnd) {
  EngineSession s;
  s.Send("START 20\nABOUT\rHELLO\r\nSTART 15\n\rABOUT\n\r\n\r\n\n\rEND\n");
  int code = -1;
  EXPECT_EQ(s.RestOfOutput(&code), "OK\r\n" + kAbout + "\r\nUNKNOWN\r\n" +
                                       "ERROR unsupported board size\r\n" + kAbout + "\r\n");
  EXPECT_EQ(code, 0);
}

TEST(ProtocolE2E, EmptyLinesBetweenCommands) {
  EngineSession s;
  s.Send("\r\n\r\nABOUT\r\n\r\n\r\n");
  EXPECT_EQ(s.Reply(), kAbout);
  Pause();
  s.Send("\r\n\r\nABOUT\r\n");
  EXPECT_EQ(s.Reply(), kAbout);
}

// A game as the Linux match runner plays it: LF line ends, INFO before the moves, the
// process reused for a second game without END in between.
TEST(ProtocolE2E, AGameWithEveryCommandOnLfLines) {
  EngineSession s;
  s.Send(
      "ABOUT\nSTART 20\nINFO rule 0\nINFO timeout_turn 1000\nINFO timeout_match 180000\n"
      "INFO max_memory 367001600\nINFO time_left 180000\nBEGIN\n");
  EXPECT_EQ(s.Reply(), kAbout);
  EXPECT_EQ(s.Reply(), "OK");
  EXPECT_EQ(s.Reply(), "10,10");
  s.occupied.insert({10, 10});
  for (const Cell& c : {Cell{9, 9}, Cell{11, 9}, Cell{3, 4}}) {
    if (s.occupied.count(c)) continue;
    s.occupied.insert(c);
    s.Send("INFO time_left 170000\n" + TurnLine(c));
    s.ExpectMove("TURN");
  }
  // The next game in the same process.
  s.Send("START 20\n");
  EXPECT_EQ(s.Reply(), "OK");
  s.occupied.clear();
  s.Send("BOARD\n9,9,1\n10,9,2\n10,10,1\n0,0,2\nDONE\n");
  s.occupied.insert({{9, 9}, {10, 9}, {10, 10}, {0, 0}});
  s.ExpectMove("DONE");
  s.Send("ABOUT\nEND\n");
  int code = -1;
  EXPECT_EQ(s.RestOfOutput(&code), kAbout + "\r\n");
  EXPECT_EQ(code, 0);
}

TEST(ProtocolE2E, BadInputGetsAClearReplyAndTheEngineGoesOn) {
  EngineSession s;
  s.Send("START 20\r\nBEGIN\r\n");
  EXPECT_EQ(s.Reply(), "OK");
  EXPECT_EQ(s.Reply(), "10,10");
  s.occupied.insert({10, 10});
  s.Send("START 15\r\n");
  EXPECT_EQ(s.Reply(), "ERROR unsupported board size");
  s.Send("TURN 20,0\r\nTURN 0,20\r\nTURN -1,3\r\n");
  for (int k = 0; k < 3; ++k) EXPECT_EQ(s.Reply(), "ERROR coordinates outside the board");
  s.Send("TURN 10,10\r\n");
  EXPECT_EQ(s.Reply(), "ERROR cell is occupied");
  s.Send("HELLO\r\nstart 20\r\nEND 1\r\n");
  for (int k = 0; k < 3; ++k) EXPECT_EQ(s.Reply(), "UNKNOWN");
  // A failed START kept the game: the centre is still the engine's.
  s.Send("TURN 10,10\r\n");
  EXPECT_EQ(s.Reply(), "ERROR cell is occupied");
  // Stone lines off the board are dropped silently.
  s.Send("BOARD\r\n20,3,1\r\n3,20,2\r\n-1,0,2\r\n3,3,1\r\n4,4,2\r\nDONE\r\n");
  s.occupied = {{3, 3}, {4, 4}};
  s.ExpectMove("DONE after bad stone lines");
  s.Send("TURN 3,3\r\nABOUT\r\n");
  EXPECT_EQ(s.Reply(), "ERROR cell is occupied");
  EXPECT_EQ(s.Reply(), kAbout);
}

TEST(ProtocolE2E, EveryReplyEndsWithExactlyCrLf) {
  EngineSession s;
  s.Send(
      "START 20\r\nBEGIN\r\nTURN 0,0\r\nSTART 15\r\nTURN 0,0\r\nHELLO\r\nABOUT\n"
      "BOARD\r\n1,1,2\r\nDONE\r\nTURN 30,30\rEND\r\n");
  int code = -1;
  const std::string out = s.RestOfOutput(&code);
  EXPECT_EQ(code, 0);
  int lines = 0;
  for (size_t k = 0; k < out.size(); ++k) {
    if (out[k] == '\r') {
      ASSERT_TRUE(k + 1 < out.size() && out[k + 1] == '\n') << "lone CR at " << k << ": " << out;
      ++lines;
      ++k;
    } else {
      ASSERT_NE(out[k], '\n') << "LF without CR at " << k << ": " << out;
    }
  }
  EXPECT_EQ(lines, 9) << out;
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.substr(out.size() - 2), "\r\n");
}

// Stone lines coloured so that no five of one side can line up anywhere: along every line
// direction (x + 2y) % 4 runs through both halves within five cells.
std::vector<std::pair<Cell, int>> SpreadStones() {
  std::vector<std::pair<Cell, int>> stones;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      if ((x * 3 + y * 7) % 8 < 3) stones.push_back({{x, y}, (x + 2 * y) % 4 < 2 ? 1 : 2});
  return stones;
}

TEST(ProtocolE2E, BoardBlockLongerThanOneReadLosesNoStone) {
  constexpr size_t kBlockBytes = 1289;
  const std::string head = "BOARD\r\n", tail = "DONE\r\n";
  std::vector<std::string> lines;
  std::vector<Cell> cells;
  size_t size = head.size() + tail.size();
  for (const auto& [cell, who] : SpreadStones()) {
    std::string line = std::to_string(cell.first) + "," + std::to_string(cell.second) + "," +
                       std::to_string(who) + "\r\n";
    if (size + line.size() > kBlockBytes) break;
    size += line.size();
    lines.push_back(line);
    cells.push_back(cell);
  }
  // Leading zeros make up the exact length; they read as the same numbers.
  for (size_t k = 0; size < kBlockBytes; ++k, ++size) lines[k % lines.size()].insert(0, 1, '0');
  std::string block = head;
  for (const std::string& line : lines) block += line;
  block += tail;
  ASSERT_EQ(block.size(), kBlockBytes);
  ASSERT_GT(cells.size(), 120u);

  EngineSession s;
  s.Send("START 20\r\n");
  EXPECT_EQ(s.Reply(), "OK");
  s.Send(block);
  s.occupied.insert(cells.begin(), cells.end());
  s.ExpectMove("DONE after a long block");
  // Every stone of the block, and the engine's reply, must now be taken.
  std::string turns;
  for (const Cell& c : s.occupied) turns += TurnLine(c);
  s.Send(turns);
  for (const Cell& c : s.occupied)
    EXPECT_EQ(s.Reply(), "ERROR cell is occupied") << c.first << "," << c.second;
}

// END ends at once and nothing answers what follows it; end of input (the manager has
// gone) ends the engine too, even in the middle of a line or of board entry.
TEST(ProtocolE2E, EndAndEndOfInputExitWithStatusZero) {
  struct Row {
    const char* what;
    std::string input;
    bool closeInput;
  };
  const Row rows[] = {
      {"END", "START 20\r\nEND\r\nABOUT\r\nBEGIN\r\n", false},
      {"END in board entry", "START 20\r\nBOARD\r\n1,1,1\r\nEND\r\nDONE\r\n", false},
      {"end of input", "START 20\r\n", true},
      {"end of input inside a line", "START 20\r\nBOARD\r\n1,1,1\r\n2,2", true},
  };
  for (const Row& row : rows) {
    EngineSession s;
    s.Send(row.input);
    if (row.closeInput) s.engine().process().CloseStdin();
    int code = -1;
    EXPECT_EQ(s.RestOfOutput(&code), "OK\r\n") << row.what;
    EXPECT_EQ(code, 0) << row.what;
  }
}

}  // namespace
}  // namespace kestrova::testing
