// kestrova tactics: the puzzle line format, the verdicts and the scoring of engine moves
// through the real tool, and puzzles mined from a small SGF.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/position_text.h"
#include "tests/engine_process.h"
#include "threats/puzzles.h"
#include "tools/tactics/puzzle_line.h"

namespace kestrova::testing {
namespace {

using namespace kestrova::tactics;

// The tool's run, and each "N: text" line's text by N.
struct ToolOutput : ToolRun {
  std::map<int, std::string> byLine;
};

ToolOutput Tactics(const std::vector<std::string>& args, bool withStderr = true) {
  ToolOutput run{RunTool("tactics" + Quoted(args), "", !withStderr), {}};
  std::istringstream lines(run.output);
  std::smatch m;
  for (std::string line; std::getline(lines, line);)
    if (std::regex_match(line, m, std::regex(R"((\d+): (.*))"))) run.byLine[std::stoi(m[1])] = m[2];
  return run;
}

// A line that parses is written back in the short form (lower case, runs of empty cells as
// numbers, column first within a row), which reads back as the same board.
TEST(PuzzleLineTest, ParsesTheFormatWritesItBackAndSaysWhatIsWrong) {
  const struct {
    const char* line;
    const char* want;  // the line written back, or "!" and a part of the error
  } cases[] = {
      // clang-format off
      {"5 x 5/5/5/5/5", "5 x 5/5/5/5/5"},
      {"5 o x.o.X/5/5/5/O4 vcf:3 # a comment", "5 o x1o1x/5/5/5/o4 vcf:3 # a comment"},
      {"7 o x..o..x/7/3X3/7/7/7/o6 defend:4 # game", "7 o x2o2x/7/3x3/7/7/7/o6 defend:4 # game"},
      {"  9 x 9/9/9/9/9/9/9/9/9   none  ", "9 x 9/9/9/9/9/9/9/9/9 none"},
      {"20 x 20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/19x lost:4",
       "20 x 20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/19x lost:4"},
      {"4 x 4/4/4/4", "!board size '4'"}, {"21 x 21", "!board size '21'"},
      {"x 5/5/5/5/5", "!got 2 fields"}, {"5 x 5/5/5/5/5 vcf:3 extra", "!got 5 fields"},
      {"5 b 5/5/5/5/5", "!side to move 'b'"}, {"5 x 5/5/5/5", "!size 5 but 4 rows"},
      {"5 x 5/5/4/5/5", "!row 3 has 4 cells, expected 5"}, {"5 x 5/5/x5/5/5", "!row 3 has 6 cells"},
      {"5 x 5/5/0x4/5/5", "!bad run"}, {"5 x 5/5/5/5/5z", "!unexpected character 'z'"},
      {"5 x 5/5/5/5/5 vcf", "!expectation 'vcf'"}, {"5 x 5/5/5/5/5 vcf:0", "!expectation 'vcf:0'"},
      {"5 x 5/5/5/5/5 none:2", "!expectation 'none:2'"},
      {"5 x 5/5/5/5/5 win:3", "!expectation 'win:3'"},
      // clang-format on
  };
  for (const auto& c : cases) {
    PuzzleLine p, again;
    bool empty = true;
    std::string error;
    const bool ok = ParsePuzzleLine(c.line, p, empty, error);
    EXPECT_FALSE(empty) << c.line;
    if (*c.want == '!') {
      EXPECT_FALSE(ok) << c.line;
      EXPECT_TRUE(Holds(error, c.want + 1)) << c.line;
      continue;
    }
    ASSERT_TRUE(ok) << c.line << ": " << error;
    const std::string written = FormatPuzzleLine(p.board, p.toMove, p.expected, p.comment);
    EXPECT_EQ(written, c.want);
    ASSERT_TRUE(ParsePuzzleLine(written, again, empty, error)) << error;
    EXPECT_EQ(again.board, p.board) << written;
  }
}

// A VCT's length is whatever the search proved; every other expectation needs its length.
TEST(PuzzleLineTest, AVerdictMeetsItsExpectation) {
  const struct {
    const char *found, *expected;
    bool meets;
  } rows[] = {{"vcf:5", "vcf:5", true},    {"vcf:4", "vcf:5", false}, {"defend:3", "lost:3", false},
              {"lost:3", "lost:4", false}, {"vct:6", "vct:3", true},  {"vcf:3", "vct:3", false},
              {"none", "none", true}};
  for (const auto& row : rows)
    EXPECT_EQ(Meets(*ParseExpectation(row.found), *ParseExpectation(row.expected)), row.meets)
        << row.found << " against " << row.expected;
}

// Known positions of every kind and every kind of bad line, through the tool; blank and
// comment lines are no positions.
TEST(TacticsToolTest, GivesTheVerdictOfEachLine) {
  const std::string file = TempFile("verdicts.txt",
                                    "# x to move unless said otherwise\n"
                                    "\n"
                                    "9 x 9/9/1xxxx4/9/9/9/9/9/o1o1o4 vcf:1\n"
                                    "9 x 9/9/1xxx5/9/9/9/9/9/o1o1o4 vcf:2\n"
                                    "9 x 9/9/9/9/1ooo5/9/9/9/x3x3x defend:2\n"
                                    "9 x 9/9/9/9/xoooo4/9/9/9/x3x3x defend:1\n"
                                    "9 x 9/9/9/9/1oooo4/9/9/9/x3x3x lost:1\n"
                                    "9 o 9/9/9/9/9/9/9/9/9 none\n"
                                    "9 x 9/9/9/9/1ooooo3/9/9/9/9\n"
                                    "5 x xxoox/ooxxo/xxoox/ooxxo/xxoox\n"
                                    "garbage\n"
                                    "9 x 9/9/9/9/9/9/9/9/9 vcf:3\n"
                                    "   \n\t# x 5/5/5/5/5\n");
  ToolOutput run = Tactics({file});
  EXPECT_EQ(run.exitCode, 1) << run.output;
  const std::map<int, std::string> expected = {
      {3, "vcf:1 x wins by VCF: 0,2 ("},
      {4, "vcf:2 x wins by VCF: 4,2 "},
      // Blocking either end of the three, or the cell beyond it on the edge's side, refutes it.
      {5, "defend:2 o has a VCF if x passes: "},
      {6, "defend:1 o has a VCF if x passes: 5,4; 1 defences: 5,4 ("},
      {7, "lost:1 o has a VCF if x passes and nothing refutes it"},
      {8, "none: no VCF for either side ("},
      {9, "invalid: the position already holds five or more in a row"},
      {10, "invalid: the board has no empty cell"},
      {11, "invalid: expected SIZE TOMOVE ROWS"},
      {12, "none: no VCF for either side"},
  };
  for (const auto& [line, prefix] : expected)
    EXPECT_TRUE(run.byLine[line].starts_with(prefix)) << line << ": " << run.byLine[line];
  EXPECT_TRUE(Holds(run.byLine.at(5), "3 defences: 0,4 4,4 5,4"));
  for (int line : {3, 4, 5, 6, 7, 8})
    EXPECT_TRUE(run.byLine.at(line).ends_with(" ok")) << run.byLine.at(line);
  EXPECT_TRUE(run.byLine.at(12).ends_with("MISMATCH, expected vcf:3")) << run.byLine.at(12);
  EXPECT_TRUE(Holds(run.output, "10 positions, 3 invalid, 0 unknown; 6 of 7 as expected"));
}

// The bench's thirteen-move puzzle: found, and out of budget unknown, never a claim that there
// is no win. Two open threes made by one move at 5,4: no four to start a VCF with, a VCT only
// when asked.
TEST(TacticsToolTest, ALongWinTheBudgetAndAVct) {
  Board board;
  std::string error;
  for (const ThreatPuzzle& p : ThreatPuzzles())
    if (p.length == 13 && !ParsePosition(p.text, board, error)) FAIL() << error;
  const std::string longWin =
      TempFile("long.txt", FormatPuzzleLine(board, Own, Expectation{Kind::Vcf, 13}, "") + "\n");
  const std::string vct = TempFile("vct.txt", "9 x 9/9/5x3/5x3/3xx4/9/9/9/9\n");
  const std::tuple<std::vector<std::string>, int, const char*> rows[] = {
      {{longWin}, 0, "vcf:13 x wins by VCF: "},
      {{longWin, "--nodes", "5"}, 1, "unknown: the VCF search ran out of budget"},
      {{vct}, 0, "none: no VCF for either side \\("},
      {{vct, "--vct"}, 0, "vct:[0-9]+ x wins by VCT: 5,4 "}};
  for (const auto& [args, status, verdict] : rows) {
    ToolOutput run = Tactics(args);
    EXPECT_EQ(run.exitCode, status) << run.output;
    EXPECT_TRUE(std::regex_search(run.byLine[1], std::regex(std::string("^") + verdict)))
        << run.output;
  }
}

TEST(TacticsToolTest, RejectsBadOptions) {
  // clang-format off
  const std::vector<std::string> rows[] = {
      {}, {"a.txt", "b.txt"}, {"a.txt", "--nodes", "0"}, {"a.txt", "--ms", "x"},
      {"a.txt", "--turn"}, {"a.txt", "--bogus", "1"}, {"--mine", "a.sgf", "--engine", "e"},
      {"/nonexistent/puzzles.txt"}};
  // clang-format on
  for (const std::vector<std::string>& args : rows)
    EXPECT_EQ(Tactics(args).exitCode, 2) << ::testing::PrintToString(args);
}

// The result word of a line scoring an engine's move, or "".
std::string Score(const std::string& text) {
  std::smatch m;
  const std::regex scored(R"(^\S+ engine \S+ (pass|fail|unverified))");
  return std::regex_search(text, m, scored) ? m[1].str() : "";
}

// Engines scored on puzzles: the result word of each scored line, and what the output must
// hold. A five to take (line 1), a four the opponent refutes by blocking (2), an open three to
// block (3), and a position without a VCF, which is not scored (4).
TEST(TacticsEngineTest, ScoresEachEnginesMoves) {
  const std::string scored = TempFile("scored.txt",
                                      "9 x 9/9/1xxxx4/9/9/9/9/9/o1o1o4\n"
                                      "9 x 9/9/1xxx5/9/9/9/9/9/o1o1o4\n"
                                      "9 x 9/9/9/9/1ooo5/9/9/9/x1x1x4\n"
                                      "9 x 9/9/9/9/9/9/9/9/9\n");
  const std::string real =
      TempFile("real.txt",
               "9 x 9/9/1xxx1x3/9/9/9/9/9/o1o1o4\n"
               "15 x 15/15/15/15/15/4xoooo6/15/15/15/15/x1x1x10/15/15/15/15\n");
  const std::string fake = KESTROVA_FAKE_ENGINE_PATH;
  const struct {
    std::string file, engine;
    std::vector<std::string> scores;  // the result words of lines 1, 2, ...
    std::vector<std::string> output;
  } rows[] = {
      // clang-format off
      // The first free cell of row 2: the five, the four blocked, and a move off the three.
      {scored, fake + " row=2", {"pass", "fail", "fail"},
       {"2: vcf:2 engine 0,2 fail: the opponent refutes it with 4,2", "4: not scored: none",
        "all    1/3  33%; 1 positions not scored"}},
      // Row 4: 0,4 blocks the three; the open four of line 1 wins whatever x plays.
      {scored, fake + " row=4", {"pass", "fail", "pass"},
       {"\n  1-2    1/2  50%           1/1 100%\n"}},
      {scored, fake + " fault=say text=hello", {"fail", "fail", "fail"},
       {"the engine sent 'hello'"}},
      {real, EngineCommand(), {"pass", "pass"},
       {"1: vcf:1 engine 4,2 pass", "2: defend:1 engine 9,5 pass"}},
      // clang-format on
  };
  for (const auto& row : rows) {
    const ToolOutput run = Tactics({row.file, "--engine", row.engine, "--turn", "300"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    std::vector<std::string> scores;
    for (const auto& [line, text] : run.byLine)
      if (!Score(text).empty()) scores.push_back(Score(text));
    EXPECT_EQ(scores, row.scores) << row.engine << "\n" << run.output;
    for (const std::string& text : row.output) EXPECT_TRUE(Holds(run.output, text));
  }
}

TEST(TacticsEngineTest, ARandomMoverFailsMostMinedWins) {
  const ToolOutput run = Tactics(
      {KESTROVA_PUZZLES_FILE, "--engine", "python3 " KESTROVA_RANDOM_ENGINE " 7", "--turn", "200"});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  int pass = 0, total = 0;
  for (const auto& [line, text] : run.byLine) {
    if (!text.starts_with("vcf:") || Score(text).empty()) continue;
    ++total;
    pass += Score(text) == "pass";
  }
  EXPECT_GE(total, 50) << run.output;
  EXPECT_LT(pass * 5, total) << pass << " of " << total << "\n" << run.output;
}

// Black's open three at move 5 leaves white a defence to find, which white misses; black's
// move 7 then wins by an open four, after which white is lost and black makes five.
TEST(TacticsMineTest, MinesTheDefenceAndTheWinOfAGame) {
  const std::string sgf =
      TempFile("game.sgf",
               "(;FF[4]GM[4]SZ[15]AP[kestrova match]PB[a]PW[b]RE[B+]C[B made five]\n"
               ";B[hh]C[opening]\n;W[aa]C[opening]\n;B[ih]C[opening]\n;W[ao]C[5 ms]\n"
               ";B[jh]C[5 ms]\n;W[oo]C[5 ms]\n;B[kh]C[5 ms]\n;W[oa]C[5 ms]\n;B[lh]C[5 ms]\n)\n");
  const ToolOutput run = Tactics({"--mine", sgf, sgf}, false);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  // Read twice, each position is a puzzle once; the lost position after the open four and
  // the five on the board are none.
  const std::string name = sgf.substr(sgf.rfind('/') + 1);
  const std::string rows = "15/15/15/15/15/15/7xxx5/15/15/15/15/15/15/";
  EXPECT_EQ(run.output, "15 x o14/" + rows + "o13o vcf:2 # " + name + " game 1 move 7\n" +
                            "15 o o14/" + rows + "o14 defend:2 # " + name + " game 1 move 6\n");
  // What it mines reads back as the verdicts it carries.
  EXPECT_EQ(Tactics({TempFile("mined.txt", run.output)}).exitCode, 0);
}

// A record that does not read, and one that does not replay; the analyser's tests have the
// rest of the records both refuse.
TEST(TacticsMineTest, SaysWhyAGameCannotBeReplayed) {
  const std::pair<const char*, const char*> cases[] = {
      {"(;SZ[15];B[hh];W[zz])", "move 2 'zz' is not a cell of the board"},
      {"(;SZ[15];B[hh]", "never closes"},
  };
  for (const auto& [sgf, error] : cases) {
    const ToolOutput run = Tactics({"--mine", TempFile("bad.sgf", sgf)});
    EXPECT_EQ(run.exitCode, 1) << sgf;
    EXPECT_TRUE(Holds(run.output, error)) << sgf;
  }
}

}  // namespace
}  // namespace kestrova::testing
