// The turn driver: time bands, forced positions, fives in one, the final choice, tree reuse
// and the bounded node store. The search's own arithmetic is pinned by the bench signature.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <tuple>

#include "engine/protocol.h"
#include "tests/search_support.h"

namespace kestrova {
namespace {

using testing::TestPatterns;

// A board from stones given as board indices: side 2 first, then side 3.
Board MakeBoard(std::initializer_list<std::pair<int, int>> own,
                std::initializer_list<std::pair<int, int>> opponent = {}) {
  Board board;
  ResetBoard(board);
  for (auto [x, y] : own) board.at(x, y) = Own;
  for (auto [x, y] : opponent) board.at(x, y) = Opponent;
  return board;
}

// A whole turn of the tree search alone.
struct Turn : testing::Turn {
  explicit Turn(const Board& board, int64_t matchTime = 10000000, int64_t turnTime = 0)
      : testing::Turn(board, matchTime, turnTime, 3) {
    search.useThreats = false;  // the tree search's own rules; the solver's are tested apart
  }
  std::string Play() { return MoveReply(testing::Turn::Play()); }
  // The opponent answers with the given child of the engine's last move.
  void Answer(const TreeNode& reply) {
    game.GameBoard.at(reply.x, reply.y) = Opponent;
    game.LastOpponentMove = Move{reply.x, reply.y};
  }
};

TEST(TimeBandTest, StopRuleAtTheBandEdges) {
  using R = StopRule;
  struct Case {
    int64_t elapsed, turnTime, remainingGame;
    R expected;
  };
  // clang-format off
  const Case cases[] = {
      {10, 0, 15000, R::Continue}, {11, 0, 15000, R::StopAfterTwoMore}, {11, 0, 15001, R::Continue},
      {50, 0, 30000, R::Continue}, {51, 0, 30000, R::StopAfterTwoMore}, {51, 0, 30001, R::Continue},
      {2000, 0, 60000, R::Continue}, {2001, 0, 60000, R::Stop},
      {7000, 100000, 60001, R::Continue}, {7001, 100000, 60001, R::Stop},
      {0, 0, 100000, R::Stop},  // no per-turn limit and a long match: answer at once
      {1, 0, -1, R::Stop},      // overspent without a per-turn limit: at once
      // The per-turn limit holds in every band, less min(500 ms, a tenth of it).
      {4500, 5000, 175000, R::Continue}, {4501, 5000, 175000, R::Stop},
      {900, 1000, 45000, R::Continue}, {901, 1000, 45000, R::Stop},
      {270, 300, 175000, R::Continue}, {271, 300, 175000, R::Stop},
      {6, 5, 10000000, R::Stop},
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(TimeBandRule(c.elapsed, c.turnTime, c.turnTime - c.elapsed, c.remainingGame),
              c.expected)
        << c.elapsed << " " << c.turnTime << " " << c.remainingGame;
}

// Iterations per band; the root's visits count the two extra iterations of the last
// bands too.
TEST(PlayTurnTest, SearchTimeAndFallbacks) {
  struct Case {
    int64_t matchTime, turnTime, iterations, extra;
  };
  const Board board = MakeBoard({{10, 10}, {11, 10}}, {{10, 11}, {12, 12}});
  const Case cases[] = {{10000, 0, 10, 2},   {25000, 0, 50, 2},       {45000, 1000, 900, 0},
                        {45000, 0, 2000, 0}, {10000000, 300, 270, 0}, {10000000, 5000, 4500, 0}};
  for (const Case& c : cases) {
    Turn t(board, c.matchTime, c.turnTime);
    int x, y;
    ASSERT_EQ(std::sscanf(t.Play().c_str(), "%d,%d", &x, &y), 2);
    EXPECT_NEAR(t.search.lastIterations, c.iterations, 1) << c.matchTime << "/" << c.turnTime;
    EXPECT_EQ(t.search.nodes[0].Visits, t.search.lastIterations + c.extra) << c.matchTime;
    EXPECT_GT(t.game.GameRunningTime, 0);
    EXPECT_EQ(board.at(x + 1, y + 1), Empty);
    EXPECT_EQ(t.game.GameBoard.at(x + 1, y + 1), Own);
  }
  // An empty board opens in the centre, as BEGIN does, with no search time.
  Turn empty(MakeBoard({}));
  EXPECT_EQ(empty.Play(), "10,10");
  EXPECT_EQ(empty.game.GameRunningTime, 0);
  EXPECT_TRUE(empty.search.resetPending);
  // Stones but no candidate (every window of a 5x5 board touches its wall, and one stone
  // matches no wall template): the first empty cell from index 2.
  Turn lone(testing::Sparse(5, {{2, "..X"}}));
  lone.game.boardSize = 5;
  EXPECT_EQ(lone.Play(), "1,1");
  EXPECT_TRUE(lone.search.resetPending);
  Board full;
  ResetBoard(full);
  for (int i = 1; i <= BoardSize; ++i)
    for (int j = 1; j <= BoardSize; ++j) full.at(i, j) = ((i / 2 + j) % 2) ? Own : Opponent;
  Turn none(full);
  EXPECT_EQ(none.Play(), "ERROR no empty cell");
  EXPECT_EQ(none.game.GameBoard, full);
}

// The opponent's two fives cannot both be blocked.
const Board kTwoFours = MakeBoard(
    {{2, 1}, {14, 10}}, {{2, 2}, {2, 3}, {2, 4}, {2, 5}, {15, 10}, {16, 10}, {17, 10}, {18, 10}});

// Only a five, the only block of a five (played before any search) or a finished tree end
// a search early; nothing of one turn shortens the next.
TEST(PlayTurnTest, OnlyAFinishedTreeEndsTheSearchEarly) {
  // Two fives of the opponent cannot both be blocked: every line ends in its five, the
  // tree is soon finished and the search stops there, long before the 4.5 s of its turn.
  Turn lost(kTwoFours, 10000000, 5000);
  lost.Play();
  EXPECT_GT(lost.search.lastIterations, 0);
  EXPECT_LT(lost.search.lastIterations, 1000);
  EXPECT_TRUE(TreeComplete(lost.search, lost.search.rootIndex));

  // The same lost position with no time to search, then one where the engine's open three
  // tempts it to make a four but nothing is forced: the whole 5 s turn, less its reserve.
  const Board tempting =
      MakeBoard({{5, 5}, {6, 5}, {7, 5}, {10, 12}}, {{4, 4}, {10, 10}, {11, 10}, {12, 14}});
  Turn t(kTwoFours, 10000000, 0);
  t.Play();
  t.game.GameBoard = tempting;
  t.game.msTurnTime = 5000;
  t.search.resetPending = true;
  t.Play();
  EXPECT_NEAR(t.search.lastIterations, 4500, 1);
  EXPECT_FALSE(TreeComplete(t.search, 0));
}

// Before any search: the engine's own five in one, else the opponent's only one, at once.
TEST(PlayTurnTest, FivesInOneAreNeverMissed) {
  struct Case {
    const char* name;
    Board board;
    const char* reply;  // nullptr: searched as usual
  };
  // clang-format off
  const Case cases[] = {
      {"own closed four against an open four",
       MakeBoard({{5, 6}, {6, 6}, {7, 6}, {8, 6}},
                 {{4, 6}, {11, 11}, {11, 12}, {11, 13}, {11, 14}}),
       "8,5"},
      {"own gap making seven against the opponent's four",
       MakeBoard({{11, 6}, {12, 6}, {13, 6}, {15, 6}, {16, 6}, {17, 6}, {2, 16}},
                 {{3, 16}, {4, 16}, {5, 16}, {6, 16}}), "13,5"},
      {"the opponent's gap making seven against an own open three",
       MakeBoard({{11, 13}, {12, 13}, {13, 13}}, {{4, 4}, {5, 4}, {6, 4}, {8, 4}, {9, 4}, {10, 4}}),
       "6,3"},
      {"own broken four against a closed four",
       MakeBoard({{13, 3}, {14, 3}, {16, 3}, {17, 3}, {5, 18}},
                 {{6, 18}, {7, 18}, {8, 18}, {9, 18}}), "14,2"},
      {"the opponent's two fives cannot both be blocked", kTwoFours, nullptr},
  };
  // clang-format on
  // Match time, then turn time: a short turn, none at all, and no INFO ever sent.
  const std::pair<int64_t, int64_t> limits[] = {{10000000, 300}, {10000000, 0}, {0, 0}};
  for (const Case& c : cases)
    for (auto [matchTime, turnTime] : limits)
      for (const int threads : {1, 2}) {
        Turn t(c.board, matchTime, turnTime);
        UseThreads(t.search, threads);
        const std::string reply = t.Play();
        if (c.reply) {
          EXPECT_EQ(reply, c.reply) << c.name << " at " << turnTime << " on " << threads;
          EXPECT_EQ(t.search.lastIterations, 0) << c.name;
        } else {
          EXPECT_TRUE(reply == "1,5" || reply == "18,9") << c.name << ": " << reply;
          EXPECT_TRUE(turnTime == 0 || t.search.lastIterations > 0) << c.name;
        }
        EXPECT_GT(t.game.GameRunningTime, 0) << c.name;
        // The tree follows the game: either its root holds this board or it starts afresh.
        EXPECT_TRUE(t.search.resetPending || t.search.rootBoard == t.game.GameBoard) << c.name;
      }
}

TEST(FinalChoiceTest, VisitedChildrenCompeteOnAverage) {
  using Child = std::tuple<float, int32_t, int16_t, int8_t, int32_t>;  // as set below
  const std::pair<std::vector<Child>, int> cases[] = {
      {{{10, 2, 0, 0, 5}, {30, 2, 0, 0, 15}, {12, 1, 0, 0, 12}}, 2},
      {{{30, 2, 0, 0, 15}, {15, 1, 0, 0, 15}}, 1},  // equal averages: the earlier
      {{{30, 2, 0, 0, 15}, {0, 0, 90, 0, 0}}, 1},   // an unvisited child does not compete
      {{{0, 0, 50, 0, 0}, {0, 0, 90, 0, 0}, {0, 0, 90, 0, 0}}, 2},  // none visited: S_Score
      {{{200, 2, 0, 0, 100}, {55, 4, 0, 1, 220}}, 2},             // a five in one beats any average
      {{{1000, 2, 0, 0, 500}, {440, 2, 0, kProvenWin, 220}}, 2},  // and so does a proven win
      {{{1000, 2, 0, kProvenLoss, -220}, {-300, 2, 0, 0, -150}}, 2},  // a proven loss is last
      {{{-440, 2, 0, kProvenLoss, -220}, {-220, 1, 0, kProvenLoss, -220}}, 1},  // unless all are
      {{}, -1},
  };
  for (const auto& [children, expected] : cases) {
    Search s(TestPatterns(), 1);
    s.nodes.resize(int32_t(children.size()) + 1);
    s.nodes[0].turn = Own;
    s.nodes[0].RootFlag = 1;
    s.nodes[0].ChildCount = int32_t(children.size());
    s.nodes[0].FirstChild = 1;
    for (size_t k = 0; k < children.size(); ++k) {
      TreeNode& n = s.nodes[int32_t(k) + 1];
      std::tie(n.Total, n.Visits, n.S_Score, n.isTerminal, n.RolloutScore) = children[k];
    }
    EXPECT_EQ(FinalChoice(s), expected);
  }
}

TEST(PrepareRootTest, KeepsTheTreeOnlyForTheSamePosition) {
  struct Case {
    const char* name;
    bool asLastNode, resetPending, otherGame, blind;
    bool kept;
  };
  const Case cases[] = {
      {"the reply among the children", false, false, false, false, true},
      {"the root is the last node", true, false, false, false, false},
      {"a fallback move asked for a fresh tree", false, true, false, false, false},
      {"the same cell in another game", false, false, true, false, false},
      {"a reply that was not searched", false, false, false, true, false},
  };
  for (const Case& c : cases) {
    Turn t(MakeBoard({{10, 10}}, {{11, 11}, {9, 9}}), 10000000, 700);
    t.Play();
    Search& s = t.search;
    const int32_t mine = s.rootIndex;
    ASSERT_GT(s.nodes[mine].ChildCount, 0);
    const int32_t replyNode = s.nodes[mine].child(1);
    const TreeNode reply = s.nodes[replyNode];
    t.Answer(reply);
    if (c.otherGame) {
      ResetBoard(t.game.GameBoard);
      t.game.GameBoard.at(reply.x, reply.y) = Opponent;
    }
    if (c.blind) {
      t.game.GameBoard.at(reply.x, reply.y) = Empty;
      t.game.GameBoard.at(1, 1) = Opponent;
      t.game.LastOpponentMove = Move{1, 1};
    }
    if (c.asLastNode) s.rootIndex = s.lastNodeIndex;
    s.resetPending = c.resetPending;
    PrepareRoot(t.game, s);
    if (c.kept) {
      EXPECT_EQ(s.rootIndex, replyNode) << c.name;
      EXPECT_EQ(s.nodes[s.rootIndex].Visits, reply.Visits) << c.name;
    } else {
      EXPECT_EQ(s.rootIndex, 0) << c.name;
      EXPECT_EQ(s.lastNodeIndex, 0) << c.name;
    }
    EXPECT_FALSE(s.resetPending);
    EXPECT_EQ(s.rootBoard, t.game.GameBoard) << c.name;
    EXPECT_EQ(s.nodes[s.rootIndex].turn, Own);
    EXPECT_EQ(s.nodes[s.rootIndex].RootFlag, 1);
  }
}

TEST(MemoryTest, CompactionKeepsTheSubtreeExactly) {
  Turn t(MakeBoard({{10, 10}, {11, 10}}, {{10, 11}, {12, 12}}), 10000000, 1000);
  t.Play();
  Search& s = t.search;
  const TreeNode& mine = s.nodes[s.rootIndex];
  int32_t newRoot = mine.child(1);  // the most visited reply
  for (int k = 1; k <= mine.ChildCount; ++k)
    if (s.nodes[mine.child(k)].Visits > s.nodes[newRoot].Visits) newRoot = mine.child(k);
  t.Answer(s.nodes[newRoot]);
  // Each node of the subtree by the moves that lead to it from the new root.
  auto pathKey = [&s](int32_t n, int32_t root) {
    std::string key;
    for (; n != root; n = s.nodes[n].ParentID)
      key = std::to_string(s.nodes[n].x) + "," + std::to_string(s.nodes[n].y) + " " + key;
    return key;
  };
  std::map<std::string, std::pair<int32_t, float>> before;
  std::vector<int32_t> stack = {newRoot};
  while (!stack.empty()) {
    const int32_t n = stack.back();
    stack.pop_back();
    before[pathKey(n, newRoot)] = {s.nodes[n].Visits, s.nodes[n].Total};
    for (int k = 1; k <= s.nodes[n].ChildCount; ++k) stack.push_back(s.nodes[n].child(k));
  }
  s.maxNodes = 2 * int64_t(before.size()) + 2;  // the subtree fits in half, the tree does not
  ASSERT_GT(s.lastNodeIndex + 1, s.maxNodes / 2);
  PrepareRoot(t.game, s);
  EXPECT_EQ(s.rootIndex, 0);
  ASSERT_EQ(s.lastNodeIndex + 1, int32_t(before.size()));
  for (int32_t n = 1; n <= s.lastNodeIndex; ++n) {
    auto it = before.find(pathKey(n, 0));
    ASSERT_NE(it, before.end()) << "node " << n;
    EXPECT_EQ(it->second, std::make_pair(s.nodes[n].Visits, s.nodes[n].Total));
    const TreeNode& parent = s.nodes[s.nodes[n].ParentID];
    EXPECT_LT(s.nodes[n].ParentID, n);
    EXPECT_GE(n, parent.FirstChild);
    EXPECT_LT(n, parent.FirstChild + parent.ChildCount);
    Board board, parentBoard;
    NodeBoard(s, n, board);
    NodeBoard(s, s.nodes[n].ParentID, parentBoard);
    int differences = 0;
    for (int k = 0; k < kCells; ++k) differences += board.cells[k] != parentBoard.cells[k];
    EXPECT_EQ(differences, 1);
  }
}

// The bound holds for the store the threads share, and the move is still legal.
TEST(MemoryTest, TheStoreBoundEndsTheSearch) {
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    Turn t(MakeBoard({{10, 10}, {11, 10}}, {{10, 11}, {12, 12}}), 10000000, 100000);
    UseThreads(t.search, threads);
    t.search.maxNodes = 2000;
    int x, y;
    const Board before = t.game.GameBoard;
    ASSERT_EQ(std::sscanf(t.Play().c_str(), "%d,%d", &x, &y), 2);
    EXPECT_TRUE(InPlayingArea(x + 1, y + 1) && before.at(x + 1, y + 1) == Empty);
    EXPECT_TRUE(t.search.storeFull);
    EXPECT_LE(t.search.lastNodeIndex, 2000);
    EXPECT_LT(t.clock.now(), 7000);  // ended by the store, not by the clock
    // Next turn: over half full, so only the new root's subtree is kept and it searches again.
    t.Answer(t.search.nodes[t.search.nodes[t.search.rootIndex].child(1)]);
    t.Play();
    EXPECT_LE(t.search.lastNodeIndex, 2000);
    EXPECT_GT(t.search.lastIterations, 0);
  }
}

}  // namespace
}  // namespace kestrova
