// The threat solver on hand-built positions of known answer, and against a plain brute force.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/search_support.h"
#include "tests/threats_reference.h"
#include "threats/puzzles.h"
#include "threats/threat_solver.h"

namespace kestrova {
namespace {

using testing::Contains;
using testing::Parsed;
using testing::PlainFiveCells;
using testing::Sparse;
using testing::ValidVcfLine;
using Rows = std::vector<std::pair<int, std::string>>;

ThreatBudget Nodes(int64_t n) {
  return ThreatBudget{n, -1, nullptr};
}

std::string Pos(int size, const Rows& rows) {
  return testing::BoardText(size, rows);
}

Rows Plus(Rows rows, const Rows& more) {
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

// A four, its forced block, then an open four. Three defender stones turn that block into an
// open four of the defender's, and an attacker stone beyond them into a closed four whose
// block is no four of the attacker's.
const Rows kLadder = {{4, ".......X"}, {5, ".......X"}, {7, "...OXXX"}};
const Rows kBlockOpens = Plus(kLadder, {{8, "........O"}, {9, "........O"}, {10, "........O"}});
const Rows kBlockFours = Plus(kBlockOpens, {{11, "........X"}});
// An open three against a four of the defender's: the attacker must block first, and wins
// after it only when the block is a four of its own.
const Rows kBlockFirst = {{1, ".....XXX"}, {8, ".X"},  {9, ".O"},
                          {10, ".O"},      {11, ".O"}, {12, ".O"}};
const Rows kBlockIsFour = Plus(kBlockFirst, {{13, "O.XXX"}});
const Rows kOpenThree = {{7, ".....XXX"}};
// Two twos whose move at 9,7 makes two open threes: a VCT with no four to start a VCF.
const Rows kTwoTwos = {{6, "......XX"}, {7, "........X"}, {8, "........X"}};

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

TEST(ThreatSolverVcf, KnownPositions) {
  struct Case {
    const char* name;
    std::string text;
    bool exact;    // exactly five wins, not six or more
    int length;    // attacker moves, the five included; 0: no VCF
    Move first;    // {0, 0}: any
    int vct = -1;  // attacker moves of the VCT; 0: none found; -1: not asked
  };
  // clang-format off
  std::vector<Case> cases = {
      {"four on a row", Pos(9, {{1, ".XXXX"}}), false, 1, {}},
      {"open three", Pos(15, kOpenThree), false, 2, {}},
      {"four then open four", Pos(15, kLadder), false, 3, {8, 8}},
      {"length five", kLength5, false, 5, {}},
      {"block makes an open four", Pos(15, kBlockOpens), false, 0, {}},
      {"block makes a four the attacker cannot answer", Pos(15, kBlockFours), false, 0, {}},
      {"the defender's four comes first", Pos(15, kBlockFirst), false, 0, {}},
      {"the forced block is a four", Pos(15, kBlockIsFour), false, 3, {2, 14}},
      {"overline wins in freestyle", Pos(9, {{4, "OXX.XXXO"}}), false, 1, {4, 5}},
      {"overline is nothing under exact five", Pos(9, {{4, "OXX.XXXO"}}), true, 0, {}},
      {"exact five takes the end, not the gap", Pos(9, {{2, ".XXXX.X"}}), true, 1, {1, 3}},
      {"corner of a 5x5 board", ".XXX.\nX....\nX....\nX....\n.....\n", false, 2, {1, 1}},
      {"the wall stops a four", Pos(5, {{0, "OXXXX"}}), false, 0, {}},
      {"two open threes at once", Pos(15, kTwoTwos), false, 0, {}, 3},
      // The defender's own open three turns the tempo of a three against the attacker.
      {"countered by an open three", Pos(15, Plus(kTwoTwos, {{12, "..OOO"}})), false, 0, {}, 0},
      {"along the right edge of 15x15",
       Pos(15, {{8, "..............O"}, {10, "..............X"}, {11, "..............X"},
                {12, "..............X"}}), false, 2, {15, 14}},
  };
  // clang-format on
  // The bench's puzzles: wins of 3 to 13 moves on 15x15, and one without.
  for (const ThreatPuzzle& p : ThreatPuzzles())
    cases.push_back({"bench puzzle", p.text, false, p.length, {}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + ("\n" + c.text));
    const Board board = Parsed(c.text);
    ThreatSolver solver(SolverOptions{c.exact ? Rule::ExactFive : Rule::Freestyle});
    const ThreatResult r = solver.FindVCF(board, Own, Nodes(1'000'000));
    ASSERT_EQ(r.verdict, c.length ? Verdict::Win : Verdict::NoWin);
    EXPECT_EQ(r.length(), c.length);
    EXPECT_EQ(c.length ? ValidVcfLine(board, Own, r.line, c.exact) : "", "");
    EXPECT_TRUE(!c.first.x || (r.line[0].x == c.first.x && r.line[0].y == c.first.y));
    if (c.vct < 0) continue;
    // Both searches by threes: proof numbers and iterative deepening.
    for (const bool proofNumbers : {true, false}) {
      SolverOptions options;
      options.proofNumberVct = proofNumbers;
      ThreatSolver threes(options);
      const ThreatResult vct = threes.FindVCT(board, Own, Nodes(1'000'000));
      EXPECT_EQ(vct.verdict == Verdict::Win ? vct.length() : 0, c.vct) << proofNumbers;
    }
  }
}

// The five cells whose runs hold a stone, or a move about to be made; the rule decides about
// six in a row.
TEST(FiveCellsThroughTest, TheFivesOfAStone) {
  struct Case {
    const char* name;
    Rows rows;
    Move cell;  // protocol coordinates
    uint8_t side;
    bool exact;
    int fives;
  };
  const Case cases[] = {
      {"an open three made a four", {{7, "....XXX"}}, {3, 7}, Own, false, 2},
      {"a closed one", {{7, "...OXXX"}}, {7, 7}, Own, false, 1},
      {"the gap of a broken three", {{7, "....XX.X"}}, {6, 7}, Own, false, 2},
      {"against the edge", {{7, "XXX"}}, {3, 7}, Own, false, 1},
      // clang-format off
      {"two lines crossing",
       {{3, ".......O"}, {4, ".......X"}, {5, ".......X"}, {6, ".......X"}, {7, "...OXXX"}}, {7, 7},
       Own, false, 2},
      // clang-format on
      {"a stone already there", {{7, "....OOOO"}}, {5, 7}, Opponent, false, 2},
      {"a five beyond a gap is another stone's", {{7, "XXXX"}}, {6, 7}, Own, false, 0},
      {"the other side's stones are no help", {{7, "....OOO"}}, {3, 7}, Own, false, 0},
      {"six in a row counts in freestyle", {{7, ".XX.X.X"}}, {3, 7}, Own, false, 2},
      {"only five under exact five", {{7, ".XX.X.X"}}, {3, 7}, Own, true, 1},
  };
  for (const Case& c : cases) {
    const Board board = Sparse(15, c.rows);
    const int cell = (c.cell.x + 1) * kGrid + c.cell.y + 1;
    EXPECT_EQ(FiveCellsThrough(board, cell, c.side, c.exact ? Rule::ExactFive : Rule::Freestyle),
              c.fives)
        << c.name;
  }
}

// Every search refuses a position it cannot search, saying why, and finds nothing to play on
// a full board.
TEST(ThreatSolverInput, BadPositionsGetAClearAnswer) {
  Board smallWalls;
  ResetBoard(smallWalls, 4);
  const Board full = Parsed("XXOOX\nOOXXO\nXXOOX\nOOXXO\nXXOOX\n");
  const std::tuple<const char*, Board, uint8_t, Verdict> rows[] = {
      {"a five on the board", Sparse(9, {{0, "OXXXXX"}}), Own, Verdict::Invalid},
      {"a five, the other side to move", Sparse(9, {{0, "OXXXXX"}}), Opponent, Verdict::Invalid},
      {"no walls at all", Board{}, Own, Verdict::Invalid},
      {"walls of a 4x4 board", smallWalls, Own, Verdict::Invalid},
      {"a side that is no player", full, Wall, Verdict::Invalid},
      {"a full board", full, Own, Verdict::NoWin}};
  ThreatSolver solver;
  for (const auto& [what, board, side, verdict] : rows) {
    const ThreatResult vcf = solver.FindVCF(board, side, Nodes(1000));
    EXPECT_EQ(vcf.verdict, verdict) << what;
    EXPECT_EQ(vcf.error.empty(), verdict != Verdict::Invalid) << what;
    EXPECT_EQ(solver.FindVCT(board, side, Nodes(1000)).verdict, verdict) << what;
    EXPECT_EQ(solver.VCFDefences(board, side, Nodes(1000)).threat, verdict) << what;
  }
}

TEST(ThreatSolverBudget, RunningOutIsUnknownNeverNoWin) {
  Board board;
  for (const ThreatPuzzle& p : ThreatPuzzles())
    if (p.length == 13) board = Parsed(p.text);
  ThreatSolver solver, timed;
  const ThreatResult r = solver.FindVCF(board, Own, Nodes(50));
  EXPECT_EQ(r.verdict, Verdict::Unknown);
  EXPECT_LE(r.nodes, 51);
  kestrova::testing::StepClock clock(1);
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

// The other side to move: the defences against a VCF (or a VCT) worked out by hand (nullopt:
// not worked out), and cell by cell every listed one holds and every other move loses.
TEST(ThreatSolverDefence, EveryDefenceHoldsAndEveryOtherMoveLoses) {
  // clang-format off
  const std::tuple<const char*, std::string, bool, std::optional<std::vector<Move>>> cases[] = {
      {"open three: its two ends", Pos(15, kOpenThree), false, {{{5, 8}, {9, 8}}}},
      {"against a VCT too: not the cells beyond", Pos(15, kOpenThree), true, {{{5, 8}, {9, 8}}}},
      {"three by the wall: three cells", Pos(15, {{7, ".XXX"}}), false, {{{1, 8}, {5, 8}, {6, 8}}}},
      {"a four of the defender's gains a move", Pos(15, Plus(kOpenThree, {{12, ".XOOO"}})), false,
       {{{5, 8}, {9, 8}, {6, 13}, {7, 13}}}},
      {"two open threes: nothing holds",
       Pos(15, Plus(kOpenThree, {{2, "...........X"}, {3, "...........X"}, {4, "...........X"}})),
       false, {{}}},
      {"length five", kLength5, false, std::nullopt}};
  // clang-format on
  ThreatSolver solver;
  for (const auto& [name, text, vct, defences] : cases) {
    SCOPED_TRACE(name);
    const Board board = Parsed(text);
    const DefenceResult r = vct ? solver.VCTDefences(board, Opponent, Nodes(5'000'000))
                                : solver.VCFDefences(board, Opponent, Nodes(5'000'000));
    ASSERT_EQ(r.threat, Verdict::Win);
    ASSERT_TRUE(r.undecided.empty());
    if (defences) {
      EXPECT_EQ(r.defences.size(), defences->size());
      for (Move want : *defences)
        EXPECT_TRUE(Contains(r.defences, want)) << want.x << "," << want.y;
    }
    const int size = PlayingSize(board);
    for (int x = 1; x <= size; ++x)
      for (int y = 1; y <= size; ++y) {
        if (board.at(x, y) != Empty) continue;
        Board after = board;
        after.at(x, y) = Opponent;
        // A defender four is answered first: then it is the defender's move again.
        if (!PlainFiveCells(after, Opponent, false).empty()) continue;
        const Verdict v = (vct ? solver.FindVCT(after, Own, Nodes(1'000'000))
                               : solver.FindVCF(after, Own, Nodes(1'000'000)))
                              .verdict;
        EXPECT_EQ(v == Verdict::NoWin, Contains(r.defences, {x, y})) << x << "," << y;
      }
    if (!r.defences.empty()) continue;
    // The best a lost defender can do still loses, to a longer line than the shortest.
    EXPECT_GE(r.longestLength, 2);
    Board after = board;
    after.at(r.longest.x, r.longest.y) = Opponent;
    EXPECT_EQ(solver.FindVCF(after, Own, Nodes(1'000'000)).length(), r.longestLength);
  }
}

// Random small positions: the solver's verdict and shortest length against the brute force's,
// with a full table and with a two-entry one; now and then both VCT searches against the VCF.
TEST(ThreatSolverVcf, AgreesWithBruteForce) {
  std::mt19937 rng(20261208);
  constexpr int kMaxLength = 4;
  int wins[kMaxLength + 2] = {}, invalid = 0;
  for (int t = 0; t < 300; ++t) {
    const bool exact = t % 3 == 2;
    const int size = 7 + int(rng() % 4);
    Board board;
    ResetBoard(board, size);
    for (int k = size * size / 3 + int(rng() % 8); k > 0; --k) {
      const int x = 1 + int(rng() % size), y = 1 + int(rng() % size);
      if (board.at(x, y) == Empty) board.at(x, y) = rng() % 5 < 3 ? Own : Opponent;
    }
    SCOPED_TRACE(FormatPosition(board));
    const Rule rule = exact ? Rule::ExactFive : Rule::Freestyle;
    ThreatSolver solver(SolverOptions{rule}), tiny(SolverOptions{rule, 2});
    const ThreatResult r = solver.FindVCF(board, Own, Nodes(10'000'000));
    if (testing::HoldsFive(board)) {
      EXPECT_EQ(r.verdict, Verdict::Invalid);
      ++invalid;
      continue;
    }
    ASSERT_NE(r.verdict, Verdict::Unknown);
    const ThreatResult small = tiny.FindVCF(board, Own, Nodes(10'000'000));
    EXPECT_TRUE(small.verdict == r.verdict && small.length() == r.length());
    const int brute = testing::BruteVcfLength(board, Own, kMaxLength, exact);
    EXPECT_EQ(brute, r.length() <= kMaxLength ? r.length() : 0);
    if (r.verdict == Verdict::Win) {
      EXPECT_EQ(ValidVcfLine(board, Own, r.line, exact), "");
      ++wins[std::min(r.length(), kMaxLength + 1)];
    }
    if (t % 4) continue;
    // Fours are threats too: a VCT is never longer than the VCF (the deepening search finds
    // the shortest), and never missing; both VCT searches agree where both settle.
    ThreatSolver deepening(SolverOptions{rule, size_t(1) << 16, 8, false});
    const ThreatResult shortest = deepening.FindVCT(board, Own, Nodes(400'000));
    const ThreatResult vct = solver.FindVCT(board, Own, Nodes(400'000));
    if (r.verdict == Verdict::Win && r.length() <= solver.options().maxVctDepth) {
      ASSERT_TRUE(vct.verdict == Verdict::Win && shortest.verdict == Verdict::Win);
      EXPECT_LE(shortest.length(), r.length());
    }
    EXPECT_TRUE(vct.verdict != Verdict::NoWin || r.verdict == Verdict::NoWin);
    EXPECT_TRUE(vct.verdict == Verdict::Unknown || shortest.verdict == Verdict::Unknown ||
                vct.verdict == shortest.verdict);
    if (vct.verdict != Verdict::Win) continue;
    // Each move of the line on an empty cell, the last the attacker's five.
    Board played = board;
    for (size_t k = 0; k < vct.line.size(); ++k) {
      const Move m = vct.line[k];
      ASSERT_EQ(played.at(m.x, m.y), Empty);
      EXPECT_TRUE(k + 1 < vct.line.size() || testing::PlainMakesFive(played, m.x, m.y, Own, exact));
      played.at(m.x, m.y) = k % 2 ? Opponent : Own;
    }
  }
  // The sample must reach every length it checks.
  for (int length = 1; length <= kMaxLength + 1; ++length) EXPECT_GT(wins[length], 0) << length;
  EXPECT_GT(invalid, 0);
}

// The bench's score of the same puzzles: all solved, node for node the same every time.
TEST(ThreatSolverPuzzles, TheBenchScoreRepeats) {
  const PuzzleScore a = SolveThreatPuzzles(), b = SolveThreatPuzzles();
  EXPECT_EQ(a.total, int(ThreatPuzzles().size()));
  EXPECT_EQ(a.solved, a.total);
  EXPECT_EQ(a.nodes, b.nodes);
}

}  // namespace
}  // namespace kestrova
