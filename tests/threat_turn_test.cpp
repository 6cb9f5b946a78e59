// The turn driver with the threat solver: forced wins are played, forced losses refuted, in
// every time band; switched off, the turn is the tree search alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "search/root_check.h"
#include "tests/search_support.h"
#include "tests/threats_reference.h"
#include "threats/puzzles.h"

namespace kestrova {
namespace {

using testing::Parsed;
using testing::Sparse;
using testing::Swapped;

// Match time, then turn time: each time band, a short turn, and "as fast as possible".
constexpr std::pair<int64_t, int64_t> kLimits[] = {
    {10000000, 1000}, {45000, 1000}, {20000, 1000}, {10000, 1000}, {10000000, 300}, {10000000, 0}};
// The test clock ticks a millisecond per reading, about every thousand solver nodes: a win
// this quick is found within the smallest share of a turn the solver gets.
constexpr int64_t kQuickNodes = 10000;

struct Turn : testing::Turn {
  Turn(const Board& board, int64_t matchTime, int64_t turnTime, bool threats = true)
      : testing::Turn(board, matchTime, turnTime, 7) {
    search.useThreats = threats;
  }
  // The engine's move, as board indices, played on GameBoard.
  Move Play() {
    const TurnResult r = testing::Turn::Play();
    return r.played ? Move{r.x + 1, r.y + 1} : Move{-1, -1};
  }
};

ThreatBudget Unlimited() {
  return ThreatBudget{50'000'000, -1, nullptr};
}

// Side 3 to move after our move: true when we made five, or no reply of its keeps it from
// losing to a VCF.
bool StillWins(ThreatSolver& solver, const Board& after) {
  if (testing::HoldsFive(after)) return true;
  const DefenceResult d = solver.VCFDefences(after, Opponent, Unlimited());
  return d.threat == Verdict::Win && d.defences.empty() && d.undecided.empty();
}

TEST(ThreatTurnTest, AVcfOnTheBoardIsPlayedInEveryBand) {
  ThreatSolver judge;
  int puzzles = 0;
  for (const ThreatPuzzle& p : ThreatPuzzles()) {
    if (p.length == 0) continue;
    const Board board = Parsed(p.text);
    ++puzzles;
    const bool quick = judge.FindVCF(board, Own, Unlimited()).nodes <= kQuickNodes;
    for (const auto& limits : kLimits) {
      if (!quick && &limits != &kLimits[0]) continue;  // needs a long turn
      const auto [matchTime, turnTime] = limits;
      Turn t(board, matchTime, turnTime);
      const Move m = t.Play();
      ASSERT_TRUE(InPlayingArea(m.x, m.y)) << p.length;
      EXPECT_TRUE(StillWins(judge, t.game.GameBoard))
          << "VCF of " << p.length << ", limits " << matchTime << "/" << turnTime << ": played "
          << m.x - 1 << "," << m.y - 1 << "\n"
          << FormatPosition(board);
      EXPECT_EQ(t.search.lastIterations, 0) << "a proven win needs no search";
    }
  }
  EXPECT_GE(puzzles, 3);
}

TEST(ThreatTurnTest, FacingAVcfTheEngineRefutesIt) {
  ThreatSolver judge;
  int refutable = 0;
  for (const ThreatPuzzle& p : ThreatPuzzles()) {
    if (p.length == 0) continue;
    const Board board = Swapped(Parsed(p.text));  // the opponent has the VCF, we are to move
    // A few refutation sets take the judge seconds to settle: those are left out.
    const DefenceResult d = judge.VCFDefences(board, Own, ThreatBudget{2'000'000, -1, nullptr});
    if (!d.undecided.empty() || d.threat == Verdict::Unknown) continue;
    ASSERT_EQ(d.threat, Verdict::Win);
    const bool ownWin = judge.FindVCF(board, Own, Unlimited()).verdict == Verdict::Win;
    if (d.defences.empty() && !ownWin) continue;  // lost whatever we do
    ++refutable;
    // The longest and the shortest band, and a short turn.
    for (const int band : {0, 3, 4}) {
      const auto [matchTime, turnTime] = kLimits[band];
      Turn t(board, matchTime, turnTime);
      const Move m = t.Play();
      ASSERT_TRUE(InPlayingArea(m.x, m.y));
      const bool refuted =
          judge.FindVCF(t.game.GameBoard, Opponent, Unlimited()).verdict == Verdict::NoWin;
      EXPECT_TRUE(refuted || StillWins(judge, t.game.GameBoard))
          << "limits " << matchTime << "/" << turnTime << ": played " << m.x - 1 << "," << m.y - 1
          << "\n"
          << FormatPosition(board);
    }
  }
  EXPECT_GE(refutable, 1);
}

// O's open three, and X's own moves the scan ranks beside its ends: every refutation of O's
// win by threes, and nothing else, is a root move, and one of them is played.
TEST(ThreatTurnTest, FacingAVctTheRootSearchesOnlyItsRefutations) {
  const Board board = Sparse(15, {{2, "..X"},
                                  {7, ".....OOO"},
                                  {10, "..........X"},
                                  {11, "..........X"},
                                  {12, "...X.......X"}});
  ThreatSolver judge;
  const DefenceResult d = judge.VCTDefences(board, Own, Unlimited());
  ASSERT_EQ(d.threat, Verdict::Win);
  ASSERT_TRUE(d.undecided.empty());
  ASSERT_GE(d.defences.size(), 2u);

  for (const int band : {0, 4}) {
    const auto [matchTime, turnTime] = kLimits[band];
    Turn t(board, matchTime, turnTime);
    t.search.useVct = true;
    const Move m = t.Play();
    EXPECT_TRUE(testing::Contains(d.defences, m)) << "played " << m.x - 1 << "," << m.y - 1;
    const TreeNode& root = t.search.nodes[t.search.nodes[t.search.rootIndex].ParentID];
    ASSERT_GE(root.ChildCount, 2);
    for (int k = 1; k <= root.ChildCount; ++k) {
      const TreeNode& c = t.search.nodes[root.child(k)];
      EXPECT_TRUE(testing::Contains(d.defences, {c.x, c.y}))
          << "root move " << c.x - 1 << "," << c.y - 1;
    }
  }
}

// Positions of lost games, X to move, and the move X played there, which let O win by
// fours and threes; each check of the leading root move either proves it lost or leaves it.
struct LostMove {
  std::vector<std::pair<int, std::string>> rows;  // of a 20x20 board
  int x, y;                                       // protocol coordinates
};
// clang-format off
const LostMove kLostMoves[] = {
    {{{7, "..........O"}, {8, ".......O"}, {9, ".......XXO"}, {10, ".......XX.O"},
      {11, ".......XOO"}}, 6, 10},
    {{{8, "..........O.OX"}, {9, "..........XOX"}, {10, ".........O.X"}, {11, "........X.O"}},
     13, 7},
};
// clang-format on

TEST(ThreatTurnTest, TheRootCheckTakesProvenLossesOutOfTheChoice) {
  ThreatSolver judge;
  for (const LostMove& lost : kLostMoves) {
    const Board board = Sparse(20, lost.rows);
    Turn t(board, 10000000, 1000);
    Search& search = t.search;
    SearchFixed(t.game, search, 2000);
    const TreeNode& root = search.nodes[search.rootIndex];
    int32_t played = -1;
    for (int k = 1; k <= root.ChildCount; ++k) {
      const TreeNode& c = search.nodes[root.child(k)];
      if (c.x == lost.x + 1 && c.y == lost.y + 1) played = root.child(k);
    }
    ASSERT_GE(played, 0) << "the lost move is a root move";
    // The search leads with the lost move, as it did in the game.
    TreeNode& leader = search.nodes[played];
    leader.Total = float(leader.Visits) * 1000.0f;
    RootCheck check = StartRootCheck(t.clock, INT64_MAX);
    for (int pass = 0; pass < 24; ++pass) {
      check.searchStartMs = INT64_MIN / 4;  // the share of time never runs out here
      CheckLeadingMove(search, check, t.clock, nullptr);
    }
    EXPECT_EQ(leader.isTerminal, kProvenLoss) << lost.x << "," << lost.y;
    int open = 0;
    for (int k = 1; k <= root.ChildCount; ++k) {
      const TreeNode& c = search.nodes[root.child(k)];
      if (c.isTerminal != kProvenLoss) {
        ++open;
        continue;
      }
      Board after = board;
      after.at(c.x, c.y) = Own;
      EXPECT_EQ(judge.FindVCT(after, Opponent, Unlimited()).verdict, Verdict::Win)
          << "proven lost without a win for O: " << c.x - 1 << "," << c.y - 1;
    }
    const int32_t chosen = FinalChoice(search);
    ASSERT_GE(chosen, 0);
    if (open > 0) {
      EXPECT_NE(search.nodes[chosen].isTerminal, kProvenLoss);
    }
    // A timed turn on two threads: the checks run beside a helper's descents.
    Turn timed(board, 10000000, 1000);
    timed.search.useVct = true;
    UseThreads(timed.search, 2);
    const Move m = timed.Play();
    ASSERT_TRUE(InPlayingArea(m.x, m.y));
    EXPECT_EQ(board.at(m.x, m.y), Empty);
  }
}

TEST(ThreatTurnTest, SwitchedOffTheTurnIsTheSearchAlone) {
  const Board board = Parsed(ThreatPuzzles()[0].text);
  Turn on(board, 10000000, 5000), off(board, 10000000, 5000, false);
  on.Play();
  off.Play();
  EXPECT_EQ(on.search.lastIterations, 0);
  EXPECT_GT(off.search.lastIterations, 0);
}

}  // namespace
}  // namespace kestrova
