// kestrova play driven through a pipe, against the real engine and against scripted ones
// whose logs show what the engine is told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/game_state.h"
#include "tests/engine_process.h"
#include "tests/tool_run.h"

namespace kestrova::testing {
namespace {

// Each expected piece must appear after the previous one.
void ExpectInOrder(const std::string& text, const std::vector<std::string>& pieces) {
  size_t at = 0;
  for (const std::string& piece : pieces) {
    const size_t found = text.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing, or out of order: '" << piece << "' in\n"
                                        << text;
    at = found + piece.size();
  }
}

TEST(Play, AgainstTheEngineThroughAPipe) {
  const std::string name = "Kestrova " + GameState{}.Version;  // as the engine's ABOUT says
  const ToolRun run = RunTool({"play", "--engine", EngineCommand(), "--turn", "600"},
                              "h8\nzz\nh8\nt21\n25,3\nu\nu\n8,8\n", 30000);
  ASSERT_TRUE(run.finished) << run.output;
  EXPECT_EQ(run.exitCode, 0) << run.output;
  ExpectInOrder(
      run.output,
      {"You play X, " + name + " plays O", "     a  b  c", "your move> h8\n", "you play h8 (7,7)\n",
       name + " plays ", "your move> zz\n", "'zz' is not a move", "h8 (7,7) is taken",
       "t21 is off the board", "25,3 is off the board", "took back ", "nothing to take back",
       "you play i9 (8,8)\n", name + " plays ", "end of input: the game is left unfinished"});
  // The board is drawn after the takeback with no stone left on it.
  const size_t tookBack = run.output.find("took back ");
  const size_t bottomEdge = run.output.rfind("     a  b", tookBack);
  const size_t boardStart = run.output.rfind("     a  b", bottomEdge - 1);
  const std::string board = run.output.substr(boardStart, tookBack - boardStart);
  EXPECT_EQ(board.find('X'), std::string::npos) << board;
  EXPECT_EQ(board.find('O'), std::string::npos) << board;
}

// Every cell of the scripted engine's no-five pattern that black owns, row by row: played
// against a --fill engine they fill the board without a five.
std::string BlackFillerMoves() {
  std::string moves;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 20; ++x)
      if ((x + 2 * y) % 4 < 2) moves += std::to_string(x) + "," + std::to_string(y) + "\n";
  return moves;
}

TEST(Play, GamesAgainstAScriptedEngine) {
  struct Row {
    const char* what;
    std::string engine;  // fake engine options
    std::vector<std::string> options;
    std::string input;
    int exitCode;
    std::vector<std::string> output;  // in order
    std::vector<std::string> told;    // the engine's log from the first INFO on, if given
  };
  const std::vector<Row> rows = {
      {"the human wins",
       "--row 19",
       {},
       "a1\nb1\nc1\nd1\ne1\n",
       0,
       {"You play X, fake-engine 0.1 plays O", "fake-engine 0.1 plays a20 (0,19)",
        "you play e1 (4,0)\n", "[X]", "five in a row at e1: you win",
        "game over: u takes back, q quits> ", "end of input\n"},
       {"INFO timeout_turn 3000", "INFO timeout_match 0", "INFO rule 0", "TURN 0,0", "TURN 1,0",
        "TURN 2,0", "TURN 3,0", "END"}},
      {"a takeback hands the engine the position with BOARD",
       "--row 19",
       {"--turn", "1000"},
       "a1\nu\nb1\nq\n",
       0,
       {"fake-engine 0.1 plays a20 (0,19)", "took back a20 and a1", "you play b1 (1,0)",
        "fake-engine 0.1 plays a20 (0,19)"},
       {"INFO timeout_turn 1000", "INFO timeout_match 0", "INFO rule 0", "TURN 0,0", "BOARD",
        "1,0,2", "DONE", "END"}},
      {"the engine opens, wins, and the loss is taken back",
       "--row 0",
       {"--first", "engine"},
       "a10\nb10\nc10\nd10\nx\nu\nj10\n",
       0,
       {"You play O, fake-engine 0.1 plays X", "fake-engine 0.1 plays a1 (0,0)",
        "fake-engine 0.1 plays e1 (4,0)", "five in a row at e1: fake-engine 0.1 wins",
        "the game is over: u takes back, q quits", "took back e1 and d10", "you play j10 (9,9)",
        "fake-engine 0.1 plays e1 (4,0)"},
       {"INFO timeout_turn 3000", "INFO timeout_match 0", "INFO rule 0", "BEGIN", "TURN 0,9",
        "TURN 1,9", "TURN 2,9", "TURN 3,9", "BOARD", "0,0,1", "0,9,2", "1,0,1", "1,9,2", "2,0,1",
        "2,9,2", "3,0,1", "9,9,2", "DONE", "END"}},
      {"an engine that answers nonsense ends the game",
       "--row 0 --fault say --at 2 --text hello",
       {},
       "a10\nb10\nc10\n",
       1,
       {"fake-engine 0.1 plays a1 (0,0)", "you play b10",
        "fake-engine 0.1 answered 'hello' instead of a move: game over"},
       {"INFO timeout_turn 3000", "INFO timeout_match 0", "INFO rule 0", "TURN 0,9", "TURN 1,9",
        "END"}},
      {"a full board is a draw",
       "--fill",
       {"--turn", "1000"},
       BlackFillerMoves(),
       0,
       {"you play t20 (19,19)", "fake-engine 0.1 plays r20 (17,19)", "the board is full: a draw",
        "game over: u takes back, q quits> ", "end of input\n"},
       {}},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string log = TestPath("engine" + std::to_string(++n) + ".log");
    std::vector<std::string> args = {"play", "--engine", FakeEngine(row.engine + " --log " + log)};
    args.insert(args.end(), row.options.begin(), row.options.end());
    const ToolRun run = RunTool(args, row.input, 30000);
    ASSERT_TRUE(run.finished) << row.what << "\n" << run.output;
    EXPECT_EQ(run.exitCode, row.exitCode) << row.what << "\n" << run.output;
    ExpectInOrder(run.output, row.output);
    const auto lines = ReadLines(log);
    std::vector<std::string> told;
    bool started = false;
    for (const std::string& line : lines) {
      started = started || line.rfind("INFO", 0) == 0;
      if (started) told.push_back(line);
    }
    if (!row.told.empty()) {
      EXPECT_EQ(told, row.told) << row.what;
    }
    EXPECT_EQ(lines.size() >= 2 ? lines[0] + "|" + lines[1] : "", "ABOUT|START 20") << row.what;
  }
}

TEST(Play, RefusesBadCommandLines) {
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  };
  const Row rows[] = {
      {{"play", "--first", "nobody"}, 2, "bad option '--first nobody'"},
      {{"play", "--turn", "0"}, 2, "bad value '0' for --turn"},
      {{"play", "--turn"}, 2, "bad option '--turn'"},
      {{"play", "--engine", "/no/such/engine"}, 1, "closed its output at START"},
      {{"play", "--engine", FakeEngine("--fault refuse-start")},
       1,
       "refused START: 'ERROR unsupported board size'"},
  };
  for (const Row& row : rows) {
    const ToolRun run = RunTool(row.args, "", 10000);
    ASSERT_TRUE(run.finished) << row.message;
    EXPECT_EQ(run.exitCode, row.exitCode) << run.output;
    EXPECT_NE(run.output.find(row.message), std::string::npos)
        << run.output << "\nwanted " << row.message;
  }
}

}  // namespace
}  // namespace kestrova::testing
