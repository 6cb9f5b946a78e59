// kestrova tactics: the puzzle line format, the verdicts and the scoring of engine moves
// through the real tool, and puzzles mined from a small SGF.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "core/position_text.h"
#include "tests/engine_process.h"
#include "threats/puzzles.h"
#include "tools/tactics/puzzle_line.h"

namespace kestrova::testing {
namespace {

using namespace kestrova::tactics;

struct ToolOutput {
  int status = -1;
  std::string output;
  // Output line by its leading "N:" line number.
  std::map<int, std::string> byLine;
};

ToolOutput Tactics(std::vector<std::string> args, int64_t timeoutMs = 180000) {
  args.insert(args.begin(), {ToolPath(), "tactics"});
  Subprocess tool;
  ToolOutput run;
  EXPECT_TRUE(tool.Start(args));
  run.output = tool.ReadAll(timeoutMs);
  EXPECT_TRUE(tool.Wait(5000, &run.status));
  run.status = WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    if (line.find_first_not_of("0123456789") != colon) continue;
    run.byLine[std::stoi(line.substr(0, colon))] = line.substr(colon + 2);
  }
  return run;
}

std::string WriteFile(const std::string& name, const std::string& content) {
  const std::string path =
      ::testing::TempDir() + "kestrova_tactics_" + std::to_string(getpid()) + "_" + name;
  std::ofstream(path) << content;
  return path;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(PuzzleLineTest, ParsesTheFormatAndSaysWhatIsWrong) {
  const struct {
    const char* line;
    const char* error;  // nullptr: parses
  } cases[] = {
      {"5 x 5/5/5/5/5", nullptr},
      {"5 o x.o.X/5/5/5/O4 vcf:3 # a comment", nullptr},
      {"  9 x 9/9/9/9/9/9/9/9/9   none  ", nullptr},
      {"20 x 20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/20/19x lost:4", nullptr},
      {"4 x 4/4/4/4", "board size '4'"},
      {"21 x 21", "board size '21'"},
      {"x 5/5/5/5/5", "got 2 fields"},
      {"5 b 5/5/5/5/5", "side to move 'b'"},
      {"5 x 5/5/5/5", "size 5 but 4 rows"},
      {"5 x 5/5/5/5/5/5", "size 5 but 6 rows"},
      {"5 x 5/5/4/5/5", "row 3 has 4 cells, expected 5"},
      {"5 x 5/5/x5/5/5", "row 3 has 6 cells"},
      {"5 x 5/5/3xxx/5/5", "row 3 has 6 cells"},
      {"5 x 5/5/0x4/5/5", "bad run"},
      {"5 x 5/5/5/5/5z", "unexpected character 'z'"},
      {"5 x 5/5/5/5/5 vcf", "expectation 'vcf'"},
      {"5 x 5/5/5/5/5 vcf:0", "expectation 'vcf:0'"},
      {"5 x 5/5/5/5/5 none:2", "expectation 'none:2'"},
      {"5 x 5/5/5/5/5 win:3", "expectation 'win:3'"},
      {"5 x 5/5/5/5/5 vcf:3 extra", "got 5 fields"},
      {"hello", "got 1 fields"},
  };
  for (const auto& c : cases) {
    PuzzleLine p;
    bool empty = true;
    std::string error;
    const bool ok = ParsePuzzleLine(c.line, p, empty, error);
    EXPECT_FALSE(empty) << c.line;
    if (!c.error) {
      EXPECT_TRUE(ok) << c.line << ": " << error;
    } else {
      EXPECT_FALSE(ok) << c.line;
      EXPECT_NE(error.find(c.error), std::string::npos) << c.line << ": " << error;
    }
  }
  for (const char* blank : {"", "   ", "# only a comment", "\t# x 5/5/5/5/5"}) {
    PuzzleLine p;
    bool empty = false;
    std::string error;
    EXPECT_FALSE(ParsePuzzleLine(blank, p, empty, error));
    EXPECT_TRUE(empty) << blank;
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

TEST(PuzzleLineTest, ReadsBackWhatItWrites) {
  PuzzleLine p;
  bool empty = false;
  std::string error;
  ASSERT_TRUE(ParsePuzzleLine("7 o x..o..x/7/3X3/7/7/7/o6 defend:4 # from a game", p, empty, error))
      << error;
  EXPECT_EQ(p.toMove, Opponent);
  EXPECT_EQ(p.board.at(1, 1), Own);
  EXPECT_EQ(p.board.at(4, 1), Opponent);
  EXPECT_EQ(p.board.at(7, 1), Own);
  EXPECT_EQ(p.board.at(4, 3), Own);
  EXPECT_EQ(p.board.at(1, 7), Opponent);
  EXPECT_EQ(p.board.at(8, 1), Wall);
  ASSERT_TRUE(p.expected);
  EXPECT_EQ(*p.expected, (Expectation{Kind::Defend, 4}));
  EXPECT_EQ(p.comment, "from a game");
  const std::string written = FormatPuzzleLine(p.board, p.toMove, p.expected, p.comment);
  EXPECT_EQ(written, "7 o x2o2x/7/3x3/7/7/7/o6 defend:4 # from a game");
  PuzzleLine again;
  ASSERT_TRUE(ParsePuzzleLine(written, again, empty, error)) << error;
  EXPECT_EQ(again.board, p.board);
}

// Known positions of every kind and every kind of bad line, through the tool.
TEST(TacticsToolTest, GivesTheVerdictOfEachLine) {
  const std::string file = WriteFile("verdicts.txt",
                                     "# x to move unless said otherwise\n"
                                     "\n"
                                     "9 x 9/9/1xxxx4/9/9/9/9/9/o1o1o4 vcf:1\n"
                                     "9 x 9/9/1xxx5/9/9/9/9/9/o1o1o4 vcf:2\n"
                                     "9 x 9/9/9/9/1ooo5/9/9/9/x3x3x defend:2\n"
                                     "9 x 9/9/9/9/xoooo4/9/9/9/x3x3x defend:1\n"
                                     "9 x 9/9/9/9/1oooo4/9/9/9/x3x3x lost:1\n"
                                     "9 o 9/9/9/9/9/9/9/9/9 none\n"
                                     "9 x 9/9/9/9/1ooooo3/9/9/9/9\n"
                                     "9 x 9/9/9/9/oooooo3/9/9/9/9\n"
                                     "5 x xxoox/ooxxo/xxoox/ooxxo/xxoox\n"
                                     "9 x 9/9/9/9/9/9/9/9\n"
                                     "garbage\n"
                                     "9 x 9/9/9/9/9/9/9/9/9 vcf:3\n");
  const ToolOutput run = Tactics({file});
  EXPECT_EQ(run.status, 1) << run.output;
  const std::map<int, std::string> expected = {
      {3, "vcf:1 x wins by VCF: 0,2 ("},
      {4, "vcf:2 x wins by VCF: 4,2 "},
      {5, "defend:2 x has a VCF if"},  // replaced below: o is the attacker
      {6, "defend:1 o has a VCF if x passes: 5,4; 1 defences: 5,4 ("},
      {7, "lost:1 o has a VCF if x passes and nothing refutes it"},
      {8, "none: no VCF for either side ("},
      {9, "invalid: the position already holds five or more in a row"},
      {10, "invalid: the position already holds five or more in a row"},
      {11, "invalid: the board has no empty cell"},
      {12, "invalid: size 9 but 8 rows"},
      {13, "invalid: expected SIZE TOMOVE ROWS"},
      {14, "none: no VCF for either side"},
  };
  for (auto [line, prefix] : expected) {
    if (line == 5) prefix = "defend:2 o has a VCF if x passes: ";
    ASSERT_TRUE(run.byLine.count(line)) << line << "\n" << run.output;
    EXPECT_TRUE(StartsWith(run.byLine.at(line), prefix)) << run.byLine.at(line);
  }
  // Blocking either end of the three, or the cell beyond it on the edge's side, refutes it.
  EXPECT_NE(run.byLine.at(5).find("3 defences: 0,4 4,4 5,4"), std::string::npos)
      << run.byLine.at(5);
  for (int line : {3, 4, 5, 6, 7, 8})
    EXPECT_TRUE(run.byLine.at(line).ends_with(" ok")) << run.byLine.at(line);
  EXPECT_TRUE(run.byLine.at(14).ends_with("MISMATCH, expected vcf:3")) << run.byLine.at(14);
  EXPECT_NE(run.output.find("12 positions, 5 invalid, 0 unknown; 6 of 7 as expected"),
            std::string::npos)
      << run.output;
}

TEST(TacticsToolTest, LongWinsAndTheBudget) {
  // The solver's own fixed puzzles, up to 13 moves, written in the file format.
  std::string text;
  for (const ThreatPuzzle& p : ThreatPuzzles()) {
    Board board;
    std::string error;
    ASSERT_TRUE(ParsePosition(p.text, board, error)) << error;
    // The one without a VCF leaves o one of its own: no expectation written for it.
    const std::optional<Expectation> expected =
        p.length ? std::optional(Expectation{Kind::Vcf, p.length}) : std::nullopt;
    text += FormatPuzzleLine(board, Own, expected, "") + "\n";
  }
  const std::string file = WriteFile("long.txt", text);
  const ToolOutput solved = Tactics({file});
  EXPECT_EQ(solved.status, 0) << solved.output;
  const size_t n = ThreatPuzzles().size();
  EXPECT_NE(
      solved.output.find(std::to_string(n - 1) + " of " + std::to_string(n - 1) + " as expected"),
      std::string::npos)
      << solved.output;

  // Out of budget is unknown, never a claim that there is no win.
  const ToolOutput starved = Tactics({file, "--nodes", "5"});
  EXPECT_EQ(starved.status, 1);
  int unknown = 0;
  for (const auto& [line, verdict] : starved.byLine) {
    EXPECT_FALSE(StartsWith(verdict, "none")) << verdict;
    unknown += StartsWith(verdict, "unknown: the VCF search ran out of budget");
  }
  EXPECT_GE(unknown, int(n) - 2) << starved.output;
}

TEST(TacticsToolTest, FindsAVctOnlyWhenAsked) {
  // x's move at 5,4 makes two open threes at once: no four to start a VCF with.
  const std::string file = WriteFile("vct.txt", "9 x 9/9/5x3/5x3/3xx4/9/9/9/9\n");
  const ToolOutput vcf = Tactics({file});
  ASSERT_TRUE(vcf.byLine.count(1)) << vcf.output;
  EXPECT_TRUE(StartsWith(vcf.byLine.at(1), "none: no VCF for either side (")) << vcf.output;
  const ToolOutput vct = Tactics({file, "--vct"});
  ASSERT_TRUE(vct.byLine.count(1)) << vct.output;
  EXPECT_TRUE(StartsWith(vct.byLine.at(1), "vct:")) << vct.output;
  EXPECT_NE(vct.byLine.at(1).find("x wins by VCT: 5,4 "), std::string::npos) << vct.output;
}

TEST(TacticsToolTest, RejectsBadOptions) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"a.txt", "b.txt"},
                                             {"a.txt", "--nodes", "0"},
                                             {"a.txt", "--ms", "x"},
                                             {"a.txt", "--turn"},
                                             {"a.txt", "--bogus", "1"},
                                             {"--mine", "a.sgf", "--engine", "e"}})
    EXPECT_EQ(Tactics(args).status, 2) << ::testing::PrintToString(args);
  EXPECT_EQ(Tactics({"/nonexistent/puzzles.txt"}).status, 2);
}

const char* kScoredPuzzles =
    "9 x 9/9/1xxxx4/9/9/9/9/9/o1o1o4\n"
    "9 x 9/9/1xxx5/9/9/9/9/9/o1o1o4\n"
    "9 x 9/9/9/9/1ooo5/9/9/9/x1x1x4\n"
    "9 x 9/9/9/9/9/9/9/9/9\n";

// The result word of each scored line of an --engine run, by line number.
std::map<int, std::string> Scores(const ToolOutput& run) {
  std::map<int, std::string> scores;
  const std::regex scored(R"(^\S+ engine \S+ (pass|fail|unverified))");
  for (const auto& [line, text] : run.byLine) {
    std::smatch m;
    if (std::regex_search(text, m, scored)) scores[line] = m[1];
  }
  return scores;
}

TEST(TacticsEngineTest, ScoresAScriptedEnginesMoves) {
  const std::string file = WriteFile("scored.txt", kScoredPuzzles);
  // Row 2 first: the five of line 1, the four that is blocked on line 2, and on line 3 a move
  // that leaves the open three.
  const ToolOutput row2 =
      Tactics({file, "--engine", KESTROVA_FAKE_ENGINE_PATH " row=2", "--turn", "200"});
  EXPECT_EQ(row2.status, 0) << row2.output;
  EXPECT_EQ(Scores(row2), (std::map<int, std::string>{{1, "pass"}, {2, "fail"}, {3, "fail"}}))
      << row2.output;
  EXPECT_NE(row2.byLine.at(2).find("engine 0,2 fail: the opponent refutes it with 4,2"),
            std::string::npos)
      << row2.output;
  EXPECT_TRUE(StartsWith(row2.byLine.at(4), "not scored: none")) << row2.output;
  EXPECT_NE(row2.output.find("all    1/3  33%; 1 positions not scored"), std::string::npos)
      << row2.output;
  // Row 4: 0,4 blocks the three; the open four of line 1 wins whatever x plays.
  const ToolOutput row4 =
      Tactics({file, "--engine", KESTROVA_FAKE_ENGINE_PATH " row=4", "--turn", "200"});
  EXPECT_EQ(Scores(row4), (std::map<int, std::string>{{1, "pass"}, {2, "fail"}, {3, "pass"}}))
      << row4.output;
  EXPECT_TRUE(std::regex_search(row4.output, std::regex(R"(\n  1-2 +1/2  50% +1/1 100%\n)")))
      << row4.output;
}

TEST(TacticsEngineTest, AnEngineThatFailsIsAFailedPuzzle) {
  const std::string file = WriteFile("failing.txt", kScoredPuzzles);
  const ToolOutput run = Tactics(
      {file, "--engine", KESTROVA_FAKE_ENGINE_PATH " fault=say text=hello", "--turn", "200"});
  EXPECT_EQ(Scores(run), (std::map<int, std::string>{{1, "fail"}, {2, "fail"}, {3, "fail"}}))
      << run.output;
  EXPECT_NE(run.byLine.at(1).find("the engine sent 'hello'"), std::string::npos) << run.output;
}

TEST(TacticsEngineTest, ARandomMoverFailsMostMinedWins) {
  const ToolOutput run = Tactics(
      {KESTROVA_PUZZLES_FILE, "--engine", "python3 " KESTROVA_RANDOM_ENGINE " 7", "--turn", "200"});
  EXPECT_EQ(run.status, 0) << run.output;
  int pass = 0, total = 0;
  for (const auto& [line, score] : Scores(run)) {
    if (!StartsWith(run.byLine.at(line), "vcf:")) continue;
    ++total;
    pass += score == "pass";
  }
  EXPECT_GE(total, 50) << run.output;
  EXPECT_LT(pass * 5, total) << pass << " of " << total << "\n" << run.output;
}

TEST(TacticsEngineTest, TheRealEngineTakesAFiveAndBlocksOne) {
  const std::string file =
      WriteFile("real.txt",
                "9 x 9/9/1xxx1x3/9/9/9/9/9/o1o1o4\n"
                "15 x 15/15/15/15/15/4xoooo6/15/15/15/15/x1x1x10/15/15/15/15\n");
  const ToolOutput run = Tactics({file, "--engine", EngineCommand(), "--turn", "300"});
  EXPECT_EQ(Scores(run), (std::map<int, std::string>{{1, "pass"}, {2, "pass"}})) << run.output;
  EXPECT_NE(run.byLine.at(1).find("vcf:1 engine 4,2 pass"), std::string::npos) << run.output;
  EXPECT_NE(run.byLine.at(2).find("defend:1 engine 9,5 pass"), std::string::npos) << run.output;
}

// Black's open three at move 5 leaves white a defence to find, which white misses; black's
// move 7 then wins by an open four, after which white is lost and black makes five.
const char* kGame =
    "(;FF[4]GM[4]SZ[15]AP[kestrova match]PB[a]PW[b]RE[B+]C[B made five]\n"
    ";B[hh]C[opening]\n;W[aa]C[opening]\n;B[ih]C[opening]\n;W[ao]C[5 ms]\n;B[jh]C[5 ms]\n"
    ";W[oo]C[5 ms]\n;B[kh]C[5 ms]\n;W[oa]C[5 ms]\n;B[lh]C[5 ms]\n)\n";

TEST(TacticsMineTest, MinesTheDefenceAndTheWinOfAGame) {
  const std::string sgf = WriteFile("game.sgf", kGame);
  const ToolOutput run = Tactics({"--mine", sgf, sgf});
  EXPECT_EQ(run.status, 0) << run.output;
  std::vector<std::string> lines;
  std::istringstream in(run.output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const std::string name = sgf.substr(sgf.rfind('/') + 1);
  // Read twice, each position is a puzzle once; the lost position after the open four and
  // the five on the board are none.
  ASSERT_EQ(lines.size(), 2u) << run.output;
  EXPECT_EQ(lines[0], "15 x o14/15/15/15/15/15/15/7xxx5/15/15/15/15/15/15/o13o vcf:2 # " + name +
                          " game 1 move 7")
      << run.output;
  EXPECT_EQ(lines[1], "15 o o14/15/15/15/15/15/15/7xxx5/15/15/15/15/15/15/o14 defend:2 # " + name +
                          " game 1 move 6")
      << run.output;
  // What it mines reads back as the verdicts it carries.
  const ToolOutput check = Tactics({WriteFile("mined.txt", run.output)});
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST(TacticsMineTest, SaysWhyAGameCannotBeReplayed) {
  const struct {
    const char* sgf;
    const char* error;
  } cases[] = {
      {"(;SZ[15];B[hh];W[zz])", "move 2 'zz' is not a cell of the board"},
      {"(;SZ[4];B[aa])", "bad board size SZ[4]"},
      {"(;SZ[15];B[hh]", "never closes"},
      {"(;SZ[15];B[hh](;W[ii]))", "variations are not replayed"},
      {"(;SZ[15]AB[hh];W[ii])", "setup stones (AB)"},
      {"hello", "expected '('"},
  };
  for (const auto& c : cases) {
    const std::string sgf = WriteFile("bad.sgf", c.sgf);
    Subprocess tool;
    ASSERT_TRUE(tool.Start({"/bin/sh", "-c", ToolPath() + " tactics --mine " + sgf + " 2>&1"}));
    const std::string output = tool.ReadAll(30000);
    int status = -1;
    ASSERT_TRUE(tool.Wait(5000, &status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << c.sgf;
    EXPECT_NE(output.find(c.error), std::string::npos) << c.sgf << ": " << output;
  }
}

}  // namespace
}  // namespace kestrova::testing
