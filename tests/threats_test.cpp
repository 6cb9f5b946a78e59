// The threat solver on hand-built positions of known answer, and against a plain brute force.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/position_text.h"
#include "tests/board_text.h"
#include "tests/step_clock.h"
#include "tests/threats_reference.h"
#include "threats/puzzles.h"
#include "threats/threat_solver.h"

namespace kestrova {
namespace {

using testing::Board15;
using testing::PlainFiveCells;
using testing::ValidVcfLine;

Board Parse(const char* text) {
  Board board;
  std::string error;
  EXPECT_TRUE(ParsePosition(text, board, error)) << error;
  return board;
}

ThreatBudget Nodes(int64_t n) {
  return ThreatBudget{n, -1, nullptr};
}

struct VcfCase {
  const char* name;
  std::string text;
  Rule rule;
  Verdict verdict;
  int length;  // attacker moves, the five included; when a win
  Move first;  // {0, 0}: any
};

const std::string kLadder =
    Board15({{4, ".......X......."}, {5, ".......X......."}, {7, "...OXXX........"}});
// The same, with three defender stones the forced block turns into an open four.
const std::string kLadderOpenFourBlock = Board15({{4, ".......X......."},
                                                  {5, ".......X......."},
                                                  {7, "...OXXX........"},
                                                  {8, "........O......"},
                                                  {9, "........O......"},
                                                  {10, "........O......"}});
// ... and into a closed four, whose block is no four of the attacker's.
const std::string kLadderFourBlock = Board15({{4, ".......X......."},
                                              {5, ".......X......."},
                                              {7, "...OXXX........"},
                                              {8, "........O......"},
                                              {9, "........O......"},
                                              {10, "........O......"},
                                              {11, "........X......"}});
// An open three against a four of the defender's: the attacker must block first.
const std::string kBlockFirst = Board15({{1, ".....XXX......."},
                                         {8, ".X............."},
                                         {9, ".O............."},
                                         {10, ".O............."},
                                         {11, ".O............."},
                                         {12, ".O............."}});
// ... where the block is a four of its own, and the three wins after it.
const std::string kBlockIsFour = Board15({{1, ".....XXX......."},
                                          {8, ".X............."},
                                          {9, ".O............."},
                                          {10, ".O............."},
                                          {11, ".O............."},
                                          {12, ".O............."},
                                          {13, "O.XXX.........."}});

const char* kLength5 = R"(..X......
...XX.O.O
O....OO.X
.O.......
..XOO.XXX
..X.....X
.O.X...X.
....X...O
..X..O.O.
)";

const char* kLength13 = R"(....X..O....XX.
..X.OX.....O.O.
...X...X..O..O.
.X.............
....X..O..X..XX
............OX.
..X..X.........
...OX.O.O.O...X
X...OO......O..
...O.O.........
..O....X....X.O
......X........
.....X......OXX
....O..X..XX...
..O....X.....X.
)";

TEST(ThreatSolverVcf, KnownPositions) {
  const std::vector<VcfCase> cases = {
      {"four on a row",
       ".........\n.XXXX....\n.........\n.........\n.........\n.........\n"
       ".........\n.........\n.........\n",
       Rule::Freestyle,
       Verdict::Win,
       1,
       {0, 0}},
      {"open three", Board15({{7, ".....XXX......."}}), Rule::Freestyle, Verdict::Win, 2, {0, 0}},
      {"four then open four", kLadder, Rule::Freestyle, Verdict::Win, 3, {8, 8}},
      {"length five", kLength5, Rule::Freestyle, Verdict::Win, 5, {0, 0}},
      {"length thirteen", kLength13, Rule::Freestyle, Verdict::Win, 13, {0, 0}},
      {"block makes an open four", kLadderOpenFourBlock, Rule::Freestyle, Verdict::NoWin, 0, {}},
      {"block makes a four the attacker cannot answer with one",
       kLadderFourBlock,
       Rule::Freestyle,
       Verdict::NoWin,
       0,
       {}},
      {"the defender's four comes first", kBlockFirst, Rule::Freestyle, Verdict::NoWin, 0, {}},
      {"the forced block is a four", kBlockIsFour, Rule::Freestyle, Verdict::Win, 3, {2, 14}},
      {"overline wins in freestyle",
       ".........\n.........\n.........\n.........\nOXX.XXXO.\n"
       ".........\n.........\n.........\n.........\n",
       Rule::Freestyle,
       Verdict::Win,
       1,
       {4, 5}},
      {"overline is nothing under exact five",
       ".........\n.........\n.........\n.........\n"
       "OXX.XXXO.\n.........\n.........\n.........\n"
       ".........\n",
       Rule::ExactFive,
       Verdict::NoWin,
       0,
       {}},
      {"exact five takes the end, not the gap",
       ".........\n.........\n.XXXX.X..\n.........\n"
       ".........\n.........\n.........\n.........\n"
       ".........\n",
       Rule::ExactFive,
       Verdict::Win,
       1,
       {1, 3}},
      {"corner of a 5x5 board",
       ".XXX.\nX....\nX....\nX....\n.....\n",
       Rule::Freestyle,
       Verdict::Win,
       2,
       {1, 1}},
      {"the wall stops a four",
       "OXXXX\n.....\n.....\n.....\n.....\n",
       Rule::Freestyle,
       Verdict::NoWin,
       0,
       {}},
      {"along the right edge of 15x15",
       Board15({{8, "..............O"},
                {10, "..............X"},
                {11, "..............X"},
                {12, "..............X"}}),
       Rule::Freestyle,
       Verdict::Win,
       2,
       {15, 14}},
  };
  for (const VcfCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Board board = Parse(c.text.c_str());
    ThreatSolver solver(SolverOptions{c.rule});
    const ThreatResult r = solver.FindVCF(board, Own, Nodes(1'000'000));
    ASSERT_EQ(r.verdict, c.verdict);
    if (c.verdict != Verdict::Win) continue;
    EXPECT_EQ(r.length(), c.length);
    EXPECT_EQ(ValidVcfLine(board, Own, r.line, c.rule == Rule::ExactFive), "");
    if (c.first.x != 0) {
      EXPECT_EQ(r.line[0].x, c.first.x);
      EXPECT_EQ(r.line[0].y, c.first.y);
    }
  }
}

TEST(ThreatSolverVcf, ExactFiveNeverPlaysAnOverline) {
  // Freestyle may finish through the gap; exact five only at the end.
  const Board board = Parse(
      ".........\n.........\n.XXXX.X..\n.........\n.........\n"
      ".........\n.........\n.........\n.........\n");
  EXPECT_EQ(PlainFiveCells(board, Own, false).size(), 2u);
  EXPECT_EQ(PlainFiveCells(board, Own, true).size(), 1u);
}

TEST(ThreatSolverInput, BadPositionsGetAClearAnswer) {
  ThreatSolver solver;
  std::string error;
  Board five = Parse(
      "OXXXXX...\n.........\n.........\n.........\n.........\n.........\n"
      ".........\n.........\n.........\n");
  EXPECT_EQ(solver.FindVCF(five, Own, Nodes(1000)).verdict, Verdict::Invalid);
  EXPECT_EQ(solver.FindVCT(five, Opponent, Nodes(1000)).verdict, Verdict::Invalid);
  EXPECT_EQ(solver.VCFDefences(five, Opponent, Nodes(1000)).threat, Verdict::Invalid);
  Board column = Parse("X....\nX....\nX....\nX....\nX....\n");
  EXPECT_EQ(solver.FindVCF(column, Opponent, Nodes(1000)).verdict, Verdict::Invalid);
  // A full board without a five: nothing to play, so surely no win.
  Board full = Parse("XXOOX\nOOXXO\nXXOOX\nOOXXO\nXXOOX\n");
  const ThreatResult r = solver.FindVCF(full, Own, Nodes(1000));
  EXPECT_EQ(r.verdict, Verdict::NoWin);
  EXPECT_EQ(solver.FindVCT(full, Own, Nodes(1000)).verdict, Verdict::NoWin);
  // No walls at all, and a side that is no player.
  ThreatResult bad = solver.FindVCF(Board{}, Own, Nodes(1000));
  EXPECT_EQ(bad.verdict, Verdict::Invalid);
  EXPECT_FALSE(bad.error.empty());
  EXPECT_EQ(solver.FindVCF(full, Wall, Nodes(1000)).verdict, Verdict::Invalid);
  Board smallWalls;
  ResetBoard(smallWalls, 4);
  EXPECT_EQ(solver.FindVCF(smallWalls, Own, Nodes(1000)).verdict, Verdict::Invalid);
}

TEST(ThreatSolverBudget, RunningOutIsUnknownNeverNoWin) {
  const Board board = Parse(kLength13);
  ThreatSolver solver;
  const ThreatResult r = solver.FindVCF(board, Own, Nodes(50));
  EXPECT_EQ(r.verdict, Verdict::Unknown);
  EXPECT_LE(r.nodes, 51);
  kestrova::testing::StepClock clock(1);
  ThreatSolver timed;
  const ThreatResult t = timed.FindVCF(board, Own, ThreatBudget{1'000'000, 3, &clock});
  EXPECT_EQ(t.verdict, Verdict::Unknown);
  EXPECT_LE(t.nodes, 4 * 1024 + 1);
  // Given the time, the same search wins.
  EXPECT_EQ(timed.FindVCF(board, Own, Nodes(1'000'000)).verdict, Verdict::Win);
  // Defences stop at the deadline too, and leave what they could not try undecided (the
  // table still holds the threat's proof, so that much is found in time).
  kestrova::testing::StepClock defenceClock(1);
  const DefenceResult d =
      timed.VCFDefences(board, Opponent, ThreatBudget{1'000'000, 20, &defenceClock});
  EXPECT_LE(d.nodes, 21 * 1024 + 1);
  EXPECT_EQ(d.threat, Verdict::Win);
  EXPECT_FALSE(d.undecided.empty());
}

struct DefenceCase {
  const char* name;
  std::string text;
  std::vector<Move> defences;  // in any order; empty: none holds
};

TEST(ThreatSolverDefence, VcfDefenceSets) {
  const std::vector<DefenceCase> cases = {
      {"open three: its two ends", Board15({{7, ".....XXX......."}}), {{5, 8}, {9, 8}}},
      {"three by the wall: three cells",
       Board15({{7, ".XXX..........."}}),
       {{1, 8}, {5, 8}, {6, 8}}},
      {"a four of the defender's gains a move",
       Board15({{7, ".....XXX......."}, {12, ".XOOO.........."}}),
       {{5, 8}, {9, 8}, {6, 13}, {7, 13}}},
      {"two open threes: nothing holds",
       Board15({{2, "...........X..."},
                {3, "...........X..."},
                {4, "...........X..."},
                {7, ".....XXX......."}}),
       {}},
  };
  for (const DefenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Board board = Parse(c.text.c_str());
    ThreatSolver solver;
    const DefenceResult r = solver.VCFDefences(board, Opponent, Nodes(2'000'000));
    EXPECT_EQ(r.threat, Verdict::Win);
    EXPECT_TRUE(r.undecided.empty());
    ASSERT_EQ(r.defences.size(), c.defences.size());
    for (Move want : c.defences) {
      bool found = false;
      for (Move m : r.defences) found = found || (m.x == want.x && m.y == want.y);
      EXPECT_TRUE(found) << want.x << "," << want.y;
    }
    if (c.defences.empty()) {
      // The best a lost defender can do still loses, to a longer line than the shortest.
      EXPECT_GE(r.longestLength, 2);
      Board after = board;
      after.at(r.longest.x, r.longest.y) = Opponent;
      const ThreatResult reply = solver.FindVCF(after, Own, Nodes(1'000'000));
      EXPECT_EQ(reply.verdict, Verdict::Win);
      EXPECT_EQ(reply.length(), r.longestLength);
    }
  }
}

TEST(ThreatSolverDefence, EveryDefenceHoldsAndEveryOtherMoveLoses) {
  // Checked cell by cell on the five-length position, for the other side to move.
  const Board board = Parse(kLength5);
  ThreatSolver solver;
  const DefenceResult r = solver.VCFDefences(board, Opponent, Nodes(5'000'000));
  ASSERT_EQ(r.threat, Verdict::Win);
  ASSERT_TRUE(r.undecided.empty());
  for (int x = 1; x <= 9; ++x)
    for (int y = 1; y <= 9; ++y) {
      if (board.at(x, y) != Empty) continue;
      Board after = board;
      after.at(x, y) = Opponent;
      bool listed = false;
      for (Move m : r.defences) listed = listed || (m.x == x && m.y == y);
      // A defender four is answered first: then it is the defender's move again.
      if (!PlainFiveCells(after, Opponent, false).empty()) continue;
      const Verdict v = solver.FindVCF(after, Own, Nodes(1'000'000)).verdict;
      EXPECT_EQ(v == Verdict::NoWin, listed) << x << "," << y;
    }
}

// Both searches by threes, the proof numbers and the iterative deepening, give the same
// answers.
TEST(ThreatSolverVct, OpenThreesWinWhereFoursDoNot) {
  for (const bool proofNumbers : {true, false}) {
    SCOPED_TRACE(proofNumbers ? "proof numbers" : "iterative deepening");
    SolverOptions options;
    options.proofNumberVct = proofNumbers;
    const std::string doubleTwo =
        Board15({{6, "......XX......."}, {7, "........X......"}, {8, "........X......"}});
    const Board board = Parse(doubleTwo.c_str());
    ThreatSolver solver(options);
    EXPECT_EQ(solver.FindVCF(board, Own, Nodes(100'000)).verdict, Verdict::NoWin);
    const ThreatResult vct = solver.FindVCT(board, Own, Nodes(1'000'000));
    ASSERT_EQ(vct.verdict, Verdict::Win);
    EXPECT_EQ(vct.length(), 3);
    // The defender's own open three turns the tempo of a three against the attacker.
    const std::string counter = Board15({{6, "......XX......."},
                                         {7, "........X......"},
                                         {8, "........X......"},
                                         {12, "..OOO.........."}});
    const Board countered = Parse(counter.c_str());
    EXPECT_NE(solver.FindVCT(countered, Own, Nodes(1'000'000)).verdict, Verdict::Win);
    // Defending first against an open three: its two ends hold, the cells beyond do not.
    const Board three = Parse(Board15({{7, ".....XXX......."}}).c_str());
    const DefenceResult d = solver.VCTDefences(three, Opponent, Nodes(3'000'000));
    EXPECT_EQ(d.threat, Verdict::Win);
    EXPECT_TRUE(d.undecided.empty());
    ASSERT_EQ(d.defences.size(), 2u);
    for (Move m : d.defences) {
      EXPECT_EQ(m.y, 8);
      EXPECT_TRUE(m.x == 5 || m.x == 9) << m.x;
    }
  }
}

// The five cells whose runs hold a stone, or a move about to be made; the rule decides about
// six in a row.
TEST(FiveCellsThroughTest, TheFivesOfAStone) {
  struct Case {
    const char* name;
    std::string text;
    Move cell;  // protocol coordinates
    uint8_t side;
    Rule rule;
    int fives;
  };
  const Case cases[] = {
      {"an open three made a four",
       Board15({{7, "....XXX........"}}),
       {3, 7},
       Own,
       Rule::Freestyle,
       2},
      {"a closed one", Board15({{7, "...OXXX........"}}), {7, 7}, Own, Rule::Freestyle, 1},
      {"the gap of a broken three",
       Board15({{7, "....XX.X......."}}),
       {6, 7},
       Own,
       Rule::Freestyle,
       2},
      {"against the edge", Board15({{7, "XXX............"}}), {3, 7}, Own, Rule::Freestyle, 1},
      {"two lines crossing",
       Board15({{3, ".......O......."},
                {4, ".......X......."},
                {5, ".......X......."},
                {6, ".......X......."},
                {7, "...OXXX........"}}),
       {7, 7},
       Own,
       Rule::Freestyle,
       2},
      {"a stone already there",
       Board15({{7, "....OOOO......."}}),
       {5, 7},
       Opponent,
       Rule::Freestyle,
       2},
      {"a five beyond a gap is another stone's",
       Board15({{7, "XXXX..........."}}),
       {6, 7},
       Own,
       Rule::Freestyle,
       0},
      {"the other side's stones are no help",
       Board15({{7, "....OOO........"}}),
       {3, 7},
       Own,
       Rule::Freestyle,
       0},
      {"six in a row counts in freestyle",
       Board15({{7, ".XX.X.X........"}}),
       {3, 7},
       Own,
       Rule::Freestyle,
       2},
      {"only five under exact five",
       Board15({{7, ".XX.X.X........"}}),
       {3, 7},
       Own,
       Rule::ExactFive,
       1},
  };
  for (const Case& c : cases) {
    const Board board = Parse(c.text.c_str());
    const int cell = (c.cell.x + 1) * kGrid + c.cell.y + 1;
    EXPECT_EQ(FiveCellsThrough(board, cell, c.side, c.rule), c.fives) << c.name;
  }
}

// Random small positions: the solver's verdict and shortest length against the brute force's,
// with a full table and with a two-entry one.
TEST(ThreatSolverVcf, AgreesWithBruteForce) {
  std::mt19937 rng(20261208);
  constexpr int kMaxLength = 4;
  int wins[kMaxLength + 2] = {}, invalid = 0;
  for (int t = 0; t < 300; ++t) {
    const bool exact = t % 3 == 2;
    const int size = 7 + int(rng() % 4);
    Board board;
    ResetBoard(board, size);
    const int stones = size * size / 3 + int(rng() % 8);
    for (int k = 0; k < stones; ++k) {
      const int x = 1 + int(rng() % size), y = 1 + int(rng() % size);
      if (board.at(x, y) == Empty) board.at(x, y) = rng() % 5 < 3 ? Own : Opponent;
    }
    SCOPED_TRACE(FormatPosition(board));
    const Rule rule = exact ? Rule::ExactFive : Rule::Freestyle;
    ThreatSolver solver(SolverOptions{rule});
    ThreatSolver tiny(SolverOptions{rule, 2});
    const ThreatResult r = solver.FindVCF(board, Own, Nodes(10'000'000));
    const ThreatResult small = tiny.FindVCF(board, Own, Nodes(10'000'000));
    if (testing::HoldsFive(board)) {
      EXPECT_EQ(r.verdict, Verdict::Invalid);
      ++invalid;
      continue;
    }
    ASSERT_NE(r.verdict, Verdict::Unknown);
    EXPECT_EQ(small.verdict, r.verdict);
    const int brute = testing::BruteVcfLength(board, Own, kMaxLength, exact);
    // Fours are threats too: a VCT is never longer than the VCF (the depth-first search finds
    // the shortest), and never missing; both VCT searches agree where both settle.
    if (t % 4 == 0) {
      ThreatSolver deepening(SolverOptions{rule, size_t(1) << 16, 8, false});
      const ThreatResult shortest = deepening.FindVCT(board, Own, Nodes(400'000));
      const ThreatResult vct = solver.FindVCT(board, Own, Nodes(400'000));
      if (r.verdict == Verdict::Win && r.length() <= solver.options().maxVctDepth) {
        ASSERT_EQ(vct.verdict, Verdict::Win);
        ASSERT_EQ(shortest.verdict, Verdict::Win);
        EXPECT_LE(shortest.length(), r.length());
      }
      if (vct.verdict == Verdict::NoWin) {
        EXPECT_EQ(r.verdict, Verdict::NoWin);
      }
      if (vct.verdict != Verdict::Unknown && shortest.verdict != Verdict::Unknown) {
        EXPECT_EQ(vct.verdict, shortest.verdict);
      }
      if (vct.verdict == Verdict::Win) {
        Board played = board;
        for (size_t k = 0; k < vct.line.size(); ++k) {
          ASSERT_EQ(played.at(vct.line[k].x, vct.line[k].y), Empty);
          if (k + 1 == vct.line.size()) {
            EXPECT_TRUE(testing::PlainMakesFive(played, vct.line[k].x, vct.line[k].y, Own, exact));
          }
          played.at(vct.line[k].x, vct.line[k].y) = k % 2 ? Opponent : Own;
        }
      }
    }
    if (r.verdict == Verdict::Win) {
      EXPECT_EQ(ValidVcfLine(board, Own, r.line, exact), "");
      EXPECT_EQ(small.length(), r.length());
      EXPECT_EQ(brute, r.length() <= kMaxLength ? r.length() : 0);
      ++wins[std::min(r.length(), kMaxLength + 1)];
    } else {
      EXPECT_EQ(brute, 0);
    }
  }
  // The sample must reach every length it checks.
  for (int length = 1; length <= kMaxLength + 1; ++length) EXPECT_GT(wins[length], 0) << length;
  EXPECT_GT(invalid, 0);
}

// The bench set: every puzzle's answer stands, and the score repeats node for node.
TEST(ThreatSolverPuzzles, EveryPuzzleSolvedTheSameWayTwice) {
  for (const ThreatPuzzle& p : ThreatPuzzles()) {
    const Board board = Parse(p.text);
    ThreatSolver solver;
    const ThreatResult r = solver.FindVCF(board, Own, Nodes(1'000'000));
    if (p.length == 0) {
      EXPECT_EQ(r.verdict, Verdict::NoWin);
      continue;
    }
    ASSERT_EQ(r.verdict, Verdict::Win);
    EXPECT_EQ(r.length(), p.length);
    EXPECT_EQ(ValidVcfLine(board, Own, r.line, false), "");
    // Within the brute force's reach, nothing shorter exists.
    if (p.length <= 4) {
      EXPECT_EQ(testing::BruteVcfLength(board, Own, p.length, false), p.length);
    }
  }
  const PuzzleScore a = SolveThreatPuzzles(), b = SolveThreatPuzzles();
  EXPECT_EQ(a.solved, a.total);
  EXPECT_EQ(a.total, int(ThreatPuzzles().size()));
  EXPECT_EQ(a.nodes, b.nodes);
}

}  // namespace
}  // namespace kestrova
