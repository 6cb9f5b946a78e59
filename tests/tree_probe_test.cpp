// The tree probe: the wins it reads at a node, the proofs it backs up, the moves it never
// chooses again, and a turn that plays a proven win; switched off, the search is the plain one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/search_support.h"

namespace kestrova {
namespace {

using testing::kFork;
using testing::TestPatterns;

Board Board15(const std::vector<std::pair<int, std::string>>& rows) {
  return testing::Sparse(15, rows);
}

// A search whose node lastNodeIndex is reached from the root by moves, the side to move at
// the root first; the scan state is left on that node.
struct Line {
  Line(const Board& board, const std::vector<Move>& moves) : search(TestPatterns(), 5) {
    search.rootBoard = board;
    search.nodes.resize(int32_t(moves.size()) + 1);
    search.nodes[0].turn = Own;
    search.nodes[0].RootFlag = 1;
    for (size_t k = 0; k < moves.size(); ++k) {
      TreeNode& n = search.nodes[int32_t(k) + 1];
      n.ParentID = int32_t(k);
      n.x = uint8_t(moves[k].x + 1);
      n.y = uint8_t(moves[k].y + 1);
      n.turn = k % 2 == 0 ? Opponent : Own;
      search.nodes[int32_t(k)].ChildCount = 1;
      search.nodes[int32_t(k)].FirstChild = int32_t(k) + 1;
    }
    search.lastNodeIndex = int32_t(moves.size());
    StartProbing(search);
    ScanNode(search, search, search.lastNodeIndex, spoints);
  }
  int turn() const { return search.nodes[search.lastNodeIndex].turn; }
  Search search;
  SPointList spoints;
};

TEST(TreeProbeTest, WinsInOneOrTwoAtANode) {
  struct Case {
    const char* name;
    Board board;
    std::vector<Move> moves;  // from the root to the node probed
    Move onlyPoint;           // {-1, -1}: the scan's list; else a list of this open four alone
    bool wins;
  };
  const Move kScan = {-1, -1};
  // clang-format off
  const Case cases[] = {
      {"a five in one", Board15({{7, "....XXXX"}, {3, "..O.O.O.O"}}), {}, kScan, true},
      {"an open three makes an open four", Board15({{7, "....XXX"}, {3, "..O.O.O"}}), {}, kScan,
       true},
      {"a broken three too", Board15({{7, "....XX.X"}, {3, "..O.O.O"}}), {}, kScan, true},
      {"two closed threes crossing make two fours",
       Board15({{3, ".......O"}, {4, ".......X"}, {5, ".......X"}, {6, ".......X"},
                {7, "...OXXX"}}), {}, kScan, true},
      {"a closed three makes one four only", Board15({{7, "...OXXX"}, {3, "..O.O.O"}}), {}, kScan,
       false},
      {"a three against the other side's four",
       Board15({{7, "....XXX"}, {3, "..OOOO"}, {2, "..X......X"}}), {}, kScan, false},
      {"the other side's four made on the way, unlisted",
       Board15({{7, "....XXX"}, {3, "..OOO"}, {2, "..X......X"}}), {{12, 12}, {5, 3}}, {3, 7},
       false},
      {"the other side's four on the root, unlisted",
       Board15({{7, "....XXX"}, {3, "..OOOO"}, {2, "..X......X"}}), {}, {3, 7}, false},
      {"the same three, nothing of the other side's near",
       Board15({{7, "....XXX"}, {3, "..OOO"}, {2, "..X......X"}}), {{12, 12}, {12, 0}}, {3, 7},
       true},
      {"the side to move is side 3", Board15({{7, "....OOO"}, {3, "..X.X.X"}, {2, ".........X"}}),
       {{12, 12}}, kScan, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    Line line(c.board, c.moves);
    SPointList list = line.spoints;
    if (c.onlyPoint.x >= 0) {
      // The listing is no proof that the other side has no five: the probe must not rely on it.
      list.items[0].score = 1;
      list.items[1] = SPoint{c.onlyPoint.x + 1, c.onlyPoint.y + 1, 70, 0, 0, line.turn(), 0, 1};
    }
    EXPECT_EQ(ProbeWins(line.search, line.search, line.turn(), list), c.wins) << c.name;
    EXPECT_EQ(line.search.probeProofs, c.wins ? 1 : 0) << c.name;
  }
}

// Nodes by hand: the root (side 2 to move) has children 1..3, node 1 has children 4 and 5.
struct SmallTree {
  SmallTree() : search(TestPatterns(), 1) {
    search.nodes.resize(6);
    search.lastNodeIndex = 5;
    search.nodes[0].turn = Own;
    search.nodes[0].RootFlag = 1;
    search.nodes[0].ChildCount = 3;
    search.nodes[0].FirstChild = 1;
    search.nodes[1].ChildCount = 2;
    search.nodes[1].FirstChild = 4;
    for (int32_t k = 1; k <= 5; ++k) {
      TreeNode& n = search.nodes[k];
      n.ParentID = k <= 3 ? 0 : 1;
      n.turn = k <= 3 ? Opponent : Own;
      n.Visits = 2;
      n.Total = 10;
      n.RolloutScore = 5;
    }
  }
  Search search;
};

TEST(TreeProbeTest, ProofsBackUp) {
  struct Case {
    const char* name;
    std::vector<std::pair<int32_t, int8_t>> marks;  // nodes and their isTerminal
    int32_t proven;                                 // the node whose proof backs up
    int8_t node1;                                   // node 1 afterwards
    bool rootSolved;
  };
  // clang-format off
  const Case cases[] = {
      {"a won child makes its parent lost", {{4, kProvenWin}}, 4, kProvenLoss, false},
      {"a five counts as a won child", {{5, 1}}, 5, kProvenLoss, false},
      {"one lost child of two proves nothing", {{4, kProvenLoss}}, 4, 0, false},
      {"every child lost makes the parent won, and a won root move solves the root",
       {{4, kProvenLoss}, {5, kProvenLoss}}, 5, kProvenWin, true},
      {"every root move lost solves the root too",
       {{2, kProvenLoss}, {3, kProvenLoss}, {4, kProvenWin}}, 4, kProvenLoss, true},
  };
  // clang-format on
  for (const Case& c : cases) {
    SmallTree t;
    Search& s = t.search;
    for (auto [node, mark] : c.marks) {
      s.nodes[node].isTerminal = mark;
      if (mark == 1) s.nodes[node].RolloutScore = kFiveValue;
    }
    BackupProof(s, c.proven);
    const TreeNode& n = s.nodes[1];
    EXPECT_EQ(n.isTerminal, c.node1) << c.name;
    if (c.node1 != 0) {
      // An exact value: the five's, on every visit so far.
      const int32_t value = c.node1 == kProvenWin ? kFiveValue : -kFiveValue;
      EXPECT_EQ(n.RolloutScore, value) << c.name;
      EXPECT_EQ(n.Total, float(value * n.Visits)) << c.name;
    }
    EXPECT_EQ(s.rootSolved, c.rootSolved) << c.name;
    EXPECT_EQ(RootSolved(s), c.rootSolved) << c.name;
    EXPECT_EQ(s.nodes[0].isTerminal, 0) << c.name;  // the root is never a leaf
  }
}

TEST(TreeProbeTest, AProvenLossIsNeverChosenAgain) {
  GameState game;
  game.GameBoard = Board15({{7, "......XO"}, {8, ".......X"}});
  Search s(TestPatterns(), 11);
  PrepareRoot(game, s);
  StartProbing(s);
  for (int k = 0; k < 200; ++k) Iterate(s, s.rootIndex);
  const TreeNode& root = s.nodes[s.rootIndex];
  ASSERT_GE(root.ChildCount, 3);
  // The most tempting move there is, and lost.
  const int32_t lost = root.child(2);
  s.nodes[lost].isTerminal = kProvenLoss;
  s.nodes[lost].Total = 1e6f;
  const int32_t visits = s.nodes[lost].Visits;
  const int32_t rootVisits = root.Visits;
  for (int k = 0; k < 2000; ++k) Iterate(s, s.rootIndex);
  EXPECT_EQ(s.nodes[lost].Visits, visits);
  EXPECT_EQ(s.nodes[s.rootIndex].Visits, rootVisits + 2000);
  EXPECT_NE(FinalChoice(s), lost);
}

TEST(TreeProbeTest, ATurnPlaysTheProvenWin) {
  for (const int threads : {1, 2})
    for (const bool probe : {true, false}) {
      SCOPED_TRACE(std::string(probe ? "probe" : "no probe") + " on " + std::to_string(threads));
      testing::Turn t(kFork, 10000000, 1000, 3);
      Search& s = t.search;
      s.treeProbe = probe;
      UseThreads(s, threads);
      const TurnResult r = t.Play();
      ASSERT_TRUE(r.played);
      EXPECT_FALSE(s.probing);  // only for the search under way
      // The clock ticks once per pass of the first thread: the turn's length in passes.
      const int64_t passes = t.clock.now();
      if (!probe) {
        // The plain search spends its whole turn.
        EXPECT_GT(passes, 800);
        EXPECT_EQ(s.probes, 0);
        continue;
      }
      // The fork at 7,7 or another win the tree proved first: the shape value can lead two
      // threads into a longer one.
      EXPECT_TRUE(s.rootSolved);
      EXPECT_TRUE(ProvenWin(s.nodes[s.rootIndex]));  // the root has moved to the move played
      EXPECT_LT(passes, 800);
      EXPECT_GT(s.probeProofs, 0);
    }
}

// Probing whose verdicts are thrown away leaves the tree node for node as the plain
// search's: the probe moves nothing the search reads.
TEST(TreeProbeTest, TheProbeDisturbsNothingElse) {
  GameState game;
  game.GameBoard = Board15({{5, "....O.X"}, {6, ".....XO"}, {7, "....XXO"}, {8, "...O.X.O"}});
  Search plain(TestPatterns(), 9), probed(TestPatterns(), 9);
  PrepareRoot(game, plain);
  PrepareRoot(game, probed);
  StartProbing(probed);
  probed.probeCostOnly = true;
  for (int k = 0; k < 3000; ++k) {
    Iterate(plain, plain.rootIndex);
    Iterate(probed, probed.rootIndex);
  }
  EXPECT_GT(probed.probeProofs, 0);
  ASSERT_EQ(plain.lastNodeIndex, probed.lastNodeIndex);
  for (int32_t n = 0; n <= plain.lastNodeIndex; ++n) {
    const TreeNode &a = plain.nodes[n], &b = probed.nodes[n];
    ASSERT_TRUE(a.ParentID == b.ParentID && a.Visits == b.Visits && a.Total == b.Total &&
                a.ChildCount == b.ChildCount && a.x == b.x && a.y == b.y &&
                a.isTerminal == b.isTerminal)
        << "node " << n;
  }
  EXPECT_EQ(FinalChoice(plain), FinalChoice(probed));
}

// A move into a proven position becomes the root: the proof is in its children now, and the
// new turn knows it has a proven win to play.
TEST(TreeProbeTest, ARootIsNeverALeaf) {
  Line line(kFork, {{7, 7}, {12, 12}, {7, 4}});
  Search& s = line.search;
  s.nodes[3].isTerminal = kProvenWin;  // the open four
  s.nodes[2].isTerminal = kProvenLoss;
  s.rootIndex = 1;
  s.rootBoard.at(8, 8) = Own;
  GameState game;
  game.GameBoard = s.rootBoard;
  game.GameBoard.at(13, 13) = Opponent;
  game.LastOpponentMove = Move{13, 13};
  PrepareRoot(game, s);
  EXPECT_EQ(s.rootIndex, 2);
  EXPECT_EQ(s.nodes[2].isTerminal, 0);
  EXPECT_TRUE(s.rootSolved);
  EXPECT_EQ(FinalChoice(s), 3);
}

}  // namespace
}  // namespace kestrova
