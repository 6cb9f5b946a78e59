// The search on several threads: the tree the threads share is the tree one thread would
// have grown, node for node consistent, and the turn's rules still hold.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "engine/input_reader.h"
#include "tests/search_support.h"

namespace kestrova {
namespace {

using testing::Sparse;
using testing::TestPatterns;

// Every visit backed up into a node passed through exactly one of its children, so an open
// node's visits are its own evaluation plus its children's. A lost update, or a virtual loss
// never taken back, breaks the count; a claim never given up leaves a mark.
void ExpectConsistent(const Search& s) {
  for (int32_t n = 0; n <= s.lastNodeIndex; ++n) {
    const TreeNode& node = s.nodes[n];
    ASSERT_EQ(node.mark, 0) << "node " << n << " still claimed";
    if (node.ChildCount <= 0) continue;
    int64_t childVisits = 0;
    for (int k = 1; k <= node.ChildCount; ++k) {
      const TreeNode& c = s.nodes[node.child(k)];
      ASSERT_EQ(c.ParentID, n);
      ASSERT_LE(node.child(k), s.lastNodeIndex);
      childVisits += c.Visits;
    }
    if (node.RootFlag || node.isTerminal != 0) continue;
    ASSERT_EQ(node.Visits, 1 + childVisits) << "node " << n;
  }
}

// Quiet openings, a middle game, and one whose win the tree probe proves (the two crossing
// twos of side 2 make a double three at 7,7).
const Board kPositions[] = {
    Sparse(15, {{6, "......O"}, {7, ".......X"}, {8, "........O"}}),
    Sparse(15, {{4, "....O.X"}, {5, ".....XO"}, {6, "....XXO"}, {7, "...O.X.O"}}),
    testing::kFork,
};

TEST(SharedTreeTest, TwoThreadsGrowAConsistentTree) {
  for (size_t p = 0; p < std::size(kPositions); ++p)
    for (const bool probe : {false, true}) {
      SCOPED_TRACE("position " + std::to_string(p) + (probe ? ", probing" : ""));
      testing::Turn t(kPositions[p], 10000000, 3000, 17);
      Search& s = t.search;
      s.useThreats = probe;
      UseThreads(s, 2);
      const Board before = t.game.GameBoard;
      const TurnResult r = t.Play();
      ASSERT_TRUE(r.played);
      EXPECT_EQ(before.at(r.x + 1, r.y + 1), Empty);
      EXPECT_FALSE(s.sharedTree);  // only while the threads run
      ExpectConsistent(s);
      // The fixed-iteration search on two threads makes the iterations asked for.
      Search fixed(TestPatterns(), 17);
      UseThreads(fixed, 2);
      t.game.GameBoard = before;
      ASSERT_GE(SearchFixedOnThreads(t.game, fixed, 20000), 0);
      EXPECT_EQ(fixed.lastIterations, 20000);
      ExpectConsistent(fixed);
    }
}

// A stop asked for from outside (END, end of input) ends the search at its next pass, with a
// legal move, on any number of threads.
TEST(SharedTreeTest, AStopRequestEndsTheSearchAtOnce) {
  for (const int threads : {1, 2}) {
    testing::Turn t(kPositions[1], 10000000, 30000, 5);
    Search& s = t.search;
    UseThreads(s, threads);
    s.stopRequested = true;
    const Board before = t.game.GameBoard;
    const TurnResult r = t.Play();
    ASSERT_TRUE(r.played) << threads;
    EXPECT_EQ(before.at(r.x + 1, r.y + 1), Empty) << threads;
    EXPECT_EQ(s.lastIterations, 0) << threads;
    EXPECT_LT(t.game.GameRunningTime, 1000) << threads;
  }
}

// What a thread holds back comes out whole: entries that share a slot stay apart, repeated
// additions sum, and a drained table is empty.
TEST(LocalStatsTest, HoldsBackAndHandsOverEveryAddition) {
  LocalStats local;
  std::vector<int32_t> nodes;
  // Nearly a slot for each: most probes run past others' slots.
  for (int32_t k = 0; k < 250; ++k) nodes.push_back(k * 512);
  for (int32_t k = 0; k < 250; ++k) nodes.push_back(k * 3 + 1);
  for (int round = 0; round < 2; ++round)
    for (const int32_t n : nodes) local.Add(n, n % 7 - 3, n * 0.5);
  EXPECT_TRUE(local.full());
  for (const int32_t n : nodes) {
    const LocalStats::Entry* e = local.Find(n);
    ASSERT_NE(e, nullptr) << n;
    EXPECT_EQ(e->visits, 2 * (n % 7 - 3)) << n;
    EXPECT_EQ(e->total, double(n)) << n;
  }
  EXPECT_EQ(local.Find(5), nullptr);
  int64_t drained = 0, visits = 0;
  local.Drain([&](const LocalStats::Entry& e) {
    ++drained;
    visits += e.visits;
  });
  int64_t expected = 0;
  for (const int32_t n : nodes) expected += 2 * (n % 7 - 3);
  EXPECT_EQ(drained, int64_t(nodes.size()));
  EXPECT_EQ(visits, expected);
  EXPECT_TRUE(local.empty());
  for (const int32_t n : nodes) ASSERT_EQ(local.Find(n), nullptr) << n;
}

// END is found however the bytes are cut, by the command loop's rules for line ends, blanks
// and the first word.
TEST(EndWatchTest, FindsEndLinesSplitAnywhere) {
  const std::vector<std::pair<std::vector<std::string>, bool>> rows = {
      {{"END\r\n"}, true},
      {{"EN", "D\n"}, true},
      {{"END"}, false},  // not a line until its end arrives
      {{"END", "\r"}, true},
      {{"TURN 1,1\nEND  \n"}, true},
      {{"END now\n"}, true},
      {{"ENDX\n"}, false},
      {{" END\n"}, false},
      {{"xEND\n", "END"}, false},
      {{"BEGIN\nRESTART\n"}, false},
      {{"INFO timeout_turn 1000\r", "\nEND\r\n"}, true},
  };
  for (const auto& [reads, found] : rows) {
    EndWatch watch;
    bool seen = false;
    std::string all;
    for (const std::string& bytes : reads) {
      seen = watch.Feed(bytes) || seen;
      all += bytes;
    }
    EXPECT_EQ(seen, found) << all;
  }
}

}  // namespace
}  // namespace kestrova
