// The search: expansion, evaluation and backing up, the descent, the final choice, the
// turn driver's time bands, tree reuse and the bounded node store.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "search/turn.h"
#include "tests/step_clock.h"

namespace kestrova {
namespace {

const Patterns& TestPatterns() {
  static const Patterns patterns = BuiltPatterns();
  return patterns;
}

// A board from stones given as board indices: side 2 first, then side 3.
Board MakeBoard(std::initializer_list<std::pair<int, int>> own,
                std::initializer_list<std::pair<int, int>> opponent = {}) {
  Board board;
  ResetBoard(board);
  for (auto [x, y] : own) board.at(x, y) = Own;
  for (auto [x, y] : opponent) board.at(x, y) = Opponent;
  return board;
}

int CountDifferences(const Board& a, const Board& b) {
  int n = 0;
  for (int k = 0; k < kCells; ++k) n += a.cells[k] != b.cells[k];
  return n;
}

// A whole turn on a clock that advances one millisecond per reading.
struct Turn {
  explicit Turn(const Board& board, int64_t matchTime = 10000000, int64_t turnTime = 0)
      : clock(1), search(TestPatterns(), 3) {
    game.GameBoard = board;
    game.msMatchTime = matchTime;
    game.msTurnTime = turnTime;
  }
  std::string Play() {
    game.TurnStartTime = clock.NowMs();
    return PlayTurn(game, search, clock);
  }
  // The opponent answers with the given child of the engine's last move.
  void Answer(const TreeNode& reply) {
    game.GameBoard.at(reply.x, reply.y) = Opponent;
    game.LastOpponentMove = Move{reply.x, reply.y};
  }
  testing::StepClock clock;
  GameState game;
  Search search;
};

// Search nodes made by hand: node k has the given turn and parent k - 1 (root 0).
void Chain(Search& s, std::initializer_list<int8_t> turns) {
  s.nodes.resize(int32_t(turns.size()));
  s.lastNodeIndex = int32_t(turns.size()) - 1;
  int k = 0;
  for (int8_t turn : turns) {
    s.nodes[k].turn = turn;
    s.nodes[k].ParentID = k == 0 ? 0 : k - 1;
    ++k;
  }
  s.nodes[0].RootFlag = 1;
}

TEST(ExpandTest, ChildrenFollowTheCandidateListAndAlternateSides) {
  Turn t(MakeBoard({{10, 10}, {10, 11}}, {{11, 12}}));
  Search& s = t.search;
  PrepareRoot(t.game, s);
  int32_t parent = 0;
  for (int level = 0; level < 2; ++level) {
    Board board;
    NodeBoard(s, parent, board);
    SPointList spoints;
    Scanner(TestPatterns()).FindSPoints(board, spoints, s.nodes[parent].turn);
    const int32_t last = s.lastNodeIndex;
    Expand(s, parent);
    const TreeNode& node = s.nodes[parent];
    ASSERT_EQ(node.ChildCount, spoints.count());
    EXPECT_EQ(node.FirstChild, last + 1);
    EXPECT_EQ(s.lastNodeIndex, last + spoints.count());
    int32_t evaluated = -1, best = -1;
    for (int k = 1; k <= node.ChildCount; ++k) {
      const TreeNode& c = s.nodes[node.child(k)];
      EXPECT_EQ(c.ParentID, parent);
      EXPECT_EQ(c.turn, 5 - node.turn);
      EXPECT_EQ(c.S_Score, spoints[k].side == node.turn ? spoints[k].score : -spoints[k].score);
      Board childBoard;
      NodeBoard(s, node.child(k), childBoard);
      EXPECT_EQ(CountDifferences(childBoard, board), 1);
      EXPECT_EQ(childBoard.at(spoints[k].x, spoints[k].y), node.turn);
      if (c.Visits) evaluated = node.child(k);
      if (best < 0 || c.S_Score > s.nodes[best].S_Score) best = node.child(k);
    }
    EXPECT_EQ(evaluated, best) << "the first child with the highest S_Score is evaluated";
    parent = best;
  }
  // A five on the board: a dead end, and iterations there change nothing.
  Turn five(MakeBoard({{3, 3}, {4, 3}, {5, 3}, {6, 3}, {7, 3}}, {{10, 10}}));
  PrepareRoot(five.game, five.search);
  for (int k = 0; k < 3; ++k) Iterate(five.search, 0);
  EXPECT_EQ(five.search.nodes[0].ChildCount, -1);
  EXPECT_EQ(five.search.lastNodeIndex, 0);
  EXPECT_EQ(five.search.nodes[0].Visits, 0);
}

TEST(BackpropagateTest, DistanceSignsAndTheRootsMaximum) {
  struct Case {
    int32_t s;
    float grandparent, parent, root;
  };
  // Leaf turn 3 under b (turn 2) under a (turn 3) under the root: b loses s - 1, a gains
  // s - 2, the root keeps the highest value seen (from 0 after a reset).
  const Case cases[] = {{50, 48, -49, 50}, {220, 218, -219, 220}, {-20, -22, 21, 0}};
  for (const Case& c : cases) {
    Search s(TestPatterns(), 1);
    Chain(s, {Own, Opponent, Own, Opponent});
    s.nodes[3].RolloutScore = c.s;
    Backpropagate(s, 3);
    EXPECT_EQ(s.nodes[2].Total, c.parent) << c.s;
    EXPECT_EQ(s.nodes[1].Total, c.grandparent) << c.s;
    EXPECT_EQ(s.nodes[0].Total, c.root) << c.s;
    for (int k = 0; k < 3; ++k) EXPECT_EQ(s.nodes[k].Visits, 1);
    EXPECT_EQ(s.nodes[3].Visits, 0);  // the leaf itself is not touched
  }
  Search s(TestPatterns(), 1);
  Chain(s, {Own, Opponent});
  const int32_t values[] = {-20, 35, 10};
  const float roots[] = {0, 35, 35};
  for (int k = 0; k < 3; ++k) {
    s.nodes[1].RolloutScore = values[k];
    Backpropagate(s, 1);
    EXPECT_EQ(s.nodes[0].Total, roots[k]);
  }
  s.nodes[0].Total = 2.5f;  // halves round to even before the comparison
  s.nodes[1].RolloutScore = -100;
  Backpropagate(s, 1);
  EXPECT_EQ(s.nodes[0].Total, 2.0f);
}

TEST(RolloutTest, ValueSeenFromTheMoverAndFinishedPositions) {
  struct Case {
    Board board;
    int8_t turn;
    int32_t score;
    int8_t terminal;
  };
  const Board openFour = MakeBoard({{10, 8}, {10, 9}, {10, 10}, {10, 11}}, {{3, 3}});
  const Case cases[] = {
      {openFour, Opponent, 190, 0},  // side 2 moved into it
      {openFour, Own, -190, 0},      // side 3 moved into it
      {MakeBoard({{4, 4}, {5, 4}, {6, 4}, {7, 4}, {8, 4}}), Opponent, 220, 1},
      {MakeBoard({{1, 1}}, {{4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}}), Own, 220, 1},
  };
  for (const Case& c : cases) {
    Search s(TestPatterns(), 1);
    Chain(s, {int8_t(5 - c.turn), c.turn});
    RolloutOn(s, 1, c.board);
    EXPECT_EQ(s.nodes[1].RolloutScore, c.score);
    EXPECT_EQ(s.nodes[1].Total, float(c.score));
    EXPECT_EQ(s.nodes[1].Visits, 1);
    EXPECT_EQ(s.nodes[1].isTerminal, c.terminal);
  }
}

TEST(IterateTest, UcbScoresAndChildOrder) {
  struct Case {
    float total;
    int visits, parentVisits;
    float expected;
  };
  const Case cases[] = {{10, 2, 8, 8.0f}, {-30, 3, 3, -10.0f}, {0, 1, 4, 3.0f}};
  for (const Case& c : cases) {
    Search s(TestPatterns(), 1);
    Chain(s, {Own, Opponent});
    s.nodes[0].Visits = c.parentVisits;
    s.nodes[1].Total = c.total;
    s.nodes[1].Visits = c.visits;
    ComputeUCB1(s, 1);
    EXPECT_EQ(s.nodes[1].UCB1_Score, c.expected);
  }
  // Unvisited children are evaluated first, strictly in child order.
  Turn t(MakeBoard({{10, 10}}, {{11, 11}}));
  Search& s = t.search;
  PrepareRoot(t.game, s);
  Iterate(s, 0);
  const TreeNode& root = s.nodes[0];
  ASSERT_GT(root.ChildCount, 2);
  for (int k = 1; k <= root.ChildCount; ++k) {
    if (s.nodes[root.child(k)].Visits) continue;
    Iterate(s, 0);
    EXPECT_EQ(s.nodes[root.child(k)].Visits, 1) << "child " << k;
  }
  EXPECT_EQ(root.Visits, root.ChildCount);
  // A finished node is counted again and its Total replaced: its average sinks.
  const int32_t c = root.child(1);
  s.nodes[c].isTerminal = 1;
  s.nodes[c].RolloutScore = 220;
  for (int k = 0; k < 3; ++k) Iterate(s, c);
  EXPECT_EQ(s.nodes[c].Visits, 4);
  EXPECT_EQ(s.nodes[c].Total, 220.0f);
}

TEST(IterateTest, ExactTiesAreDrawnUniformly) {
  // Two finished children with the same statistics: each is drawn about half the time;
  // a difference in the last bit of the float is no tie.
  for (bool exact : {true, false}) {
    int second = 0;
    for (uint64_t seed = 1; seed <= 400; ++seed) {
      Search s(TestPatterns(), seed);
      Chain(s, {Own, Opponent, Opponent});
      s.nodes[2].ParentID = 0;
      s.nodes[0].ChildCount = 2;
      s.nodes[0].FirstChild = 1;
      s.nodes[0].Visits = 2;
      for (int k = 1; k <= 2; ++k) {
        s.nodes[k].Visits = 1;
        s.nodes[k].RolloutScore = 30;
        s.nodes[k].isTerminal = 1;
        s.nodes[k].Total = 30.0f;
      }
      if (!exact) s.nodes[2].Total = std::nextafter(30.0f, 100.0f);
      Iterate(s, 0);
      second += s.nodes[2].Visits - 1;
    }
    if (exact) {
      EXPECT_GT(second, 150);
      EXPECT_LT(second, 250);
    } else {
      EXPECT_EQ(second, 400);
    }
  }
}

TEST(TimeBandTest, StopRuleAtTheBandEdges) {
  using R = StopRule;
  struct Case {
    int64_t elapsed, turnTime, remainingGame;
    R expected;
  };
  const Case cases[] = {
      {10, 0, 15000, R::Continue},
      {11, 0, 15000, R::StopAfterTwoMore},
      {11, 0, 0, R::StopAfterTwoMore},
      {11, 0, 15001, R::Continue},
      {50, 0, 30000, R::Continue},
      {51, 0, 30000, R::StopAfterTwoMore},
      {51, 0, 30001, R::Continue},
      {2000, 0, 60000, R::Continue},
      {2001, 0, 60000, R::Stop},
      {2001, 100000, 60001, R::Continue},
      {7000, 100000, 60001, R::Continue},
      {7001, 100000, 60001, R::Stop},
      {7001, 100000, -1, R::Stop},
      {4500, 5000, 175000, R::Continue},
      {4501, 5000, 175000, R::Stop},
      {1, 0, -1, R::Stop},  // overspent without a per-turn limit: at once
      // The per-turn limit, less half a second, holds in every band.
      {501, 1000, 45000, R::Stop},
      {500, 1000, 45000, R::Continue},
      {5, 400, 10000, R::Stop},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TimeBandRule(c.elapsed, c.turnTime, c.turnTime - c.elapsed, c.remainingGame),
              c.expected)
        << c.elapsed << " " << c.turnTime << " " << c.remainingGame;
}

TEST(PlayTurnTest, SearchTimeForcedMovesAndFallbacks) {
  struct Case {
    int64_t matchTime, turnTime, minIterations, maxIterations;
  };
  const Board board = MakeBoard({{10, 10}, {11, 10}}, {{10, 11}, {12, 12}});
  const Case cases[] = {{10000, 0, 9, 10},
                        {25000, 0, 49, 50},
                        {45000, 1000, 499, 500},
                        {45000, 0, 1999, 2000},
                        {10000000, 5000, 4499, 4500}};
  for (const Case& c : cases) {
    Turn t(board, c.matchTime, c.turnTime);
    int x, y;
    ASSERT_EQ(std::sscanf(t.Play().c_str(), "%d,%d", &x, &y), 2);
    EXPECT_GE(t.search.lastIterations, c.minIterations) << c.matchTime << "/" << c.turnTime;
    EXPECT_LE(t.search.lastIterations, c.maxIterations) << c.matchTime << "/" << c.turnTime;
    EXPECT_GT(t.game.GameRunningTime, 0);
    EXPECT_EQ(board.at(x + 1, y + 1), Empty);
    EXPECT_EQ(t.game.GameBoard.at(x + 1, y + 1), Own);
  }
  // An open four of its own against a four: the engine completes its five, fast.
  for (int64_t turnTime : {1000, 7000}) {
    Turn t(MakeBoard({{10, 8}, {10, 9}, {10, 10}, {10, 11}}, {{4, 4}, {5, 4}, {6, 4}, {7, 4}}),
           10000000, turnTime);
    const std::string reply = t.Play();
    EXPECT_TRUE(reply == "9,6" || reply == "9,11") << reply;
    EXPECT_LE(t.search.lastIterations, 11);
  }
  // Nothing to judge: the first empty cell from index 2, no search time.
  Turn empty(MakeBoard({}));
  EXPECT_EQ(empty.Play(), "1,1");
  EXPECT_EQ(empty.game.GameRunningTime, 0);
  EXPECT_TRUE(empty.search.resetPending);
  Board full;
  ResetBoard(full);
  for (int i = 1; i <= BoardSize; ++i)
    for (int j = 1; j <= BoardSize; ++j) full.at(i, j) = ((i / 2 + j) % 2) ? Own : Opponent;
  Turn none(full);
  EXPECT_EQ(none.Play(), "ERROR no empty cell");
  EXPECT_EQ(none.game.GameBoard, full);
}

TEST(FinalChoiceTest, VisitedChildrenCompeteOnAverage) {
  struct Child {
    float total;
    int visits;
    int16_t sScore;
    int8_t terminal;
    int32_t rollout;
  };
  const std::pair<std::vector<Child>, int> cases[] = {
      {{{10, 2, 0, 0, 5}, {30, 2, 0, 0, 15}, {12, 1, 0, 0, 12}}, 2},
      {{{30, 2, 0, 0, 15}, {15, 1, 0, 0, 15}}, 1},  // equal averages: the earlier
      {{{30, 2, 0, 0, 15}, {0, 0, 90, 0, 0}}, 1},   // an unvisited child does not compete
      {{{0, 0, 50, 0, 0}, {0, 0, 90, 0, 0}, {0, 0, 90, 0, 0}}, 2},  // none visited: S_Score
      {{{200, 2, 0, 0, 100}, {55, 4, 0, 1, 220}}, 2},  // a five in one beats any average
      {{}, -1},
  };
  for (const auto& [children, expected] : cases) {
    Search s(TestPatterns(), 1);
    Chain(s, {Own});
    s.nodes.resize(int32_t(children.size()) + 1);
    s.nodes[0].ChildCount = int32_t(children.size());
    s.nodes[0].FirstChild = 1;
    for (size_t k = 0; k < children.size(); ++k) {
      TreeNode& n = s.nodes[int32_t(k) + 1];
      n.Total = children[k].total;
      n.Visits = children[k].visits;
      n.S_Score = children[k].sScore;
      n.isTerminal = children[k].terminal;
      n.RolloutScore = children[k].rollout;
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
    EXPECT_EQ(CountDifferences(board, parentBoard), 1);
  }
}

TEST(MemoryTest, TheStoreBoundEndsTheSearchAndFollowsMaxMemory) {
  Turn t(MakeBoard({{10, 10}, {11, 10}}, {{10, 11}, {12, 12}}), 10000000, 100000);
  t.search.maxNodes = 2000;
  int x, y;
  ASSERT_EQ(std::sscanf(t.Play().c_str(), "%d,%d", &x, &y), 2);
  EXPECT_TRUE(t.search.storeFull);
  EXPECT_LE(t.search.lastNodeIndex, 2000);
  EXPECT_LT(t.clock.now(), 7000);  // ended by the store, not by the clock
  // Next turn: over half full, so only the new root's subtree is kept and it searches again.
  t.Answer(t.search.nodes[t.search.nodes[t.search.rootIndex].child(1)]);
  t.Play();
  EXPECT_LE(t.search.lastNodeIndex, 2000);
  EXPECT_GT(t.search.lastIterations, 0);

  const int64_t MiB = 1 << 20;
  const std::tuple<int64_t, int64_t, int64_t> bounds[] = {
      {0, 1000 * MiB, 1024 * MiB},  // no limit: 1 GiB
      {367001600, 300 * MiB, 367001600 - 32 * MiB},
      {40 * MiB, 15 * MiB, 20 * MiB},  // small limits: half of it
  };
  for (auto [maxMemory, low, high] : bounds) {
    Search s(TestPatterns(), 1);
    SetMemoryLimit(s, maxMemory);
    EXPECT_GE(s.maxNodes * int64_t(sizeof(TreeNode)), low) << maxMemory;
    EXPECT_LE(s.maxNodes * int64_t(sizeof(TreeNode)), high) << maxMemory;
  }
  EXPECT_LE(sizeof(TreeNode), 256u);
}

}  // namespace
}  // namespace kestrova
