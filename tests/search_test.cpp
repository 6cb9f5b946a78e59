// The search: expansion, evaluation and backing up, the descent, the final choice and
// the turn driver's time bands and tree reuse.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "engine/position_text.h"
#include "search/turn.h"
#include "tests/step_clock.h"

namespace kestrova {
namespace {

using testing::StepClock;

const Patterns& TestPatterns() {
  static const Patterns patterns = [] {
    Patterns p;
    BuildTemplates(p);
    return p;
  }();
  return patterns;
}

// A board from stones given as board indices: X for side 2, O for side 3.
Board MakeBoard(std::initializer_list<std::pair<int, int>> own,
                std::initializer_list<std::pair<int, int>> opponent = {}) {
  Board board;
  ResetBoard(board);
  for (auto [x, y] : own) board.at(x, y) = Own;
  for (auto [x, y] : opponent) board.at(x, y) = Opponent;
  return board;
}

// A search rooted at board with side 2 to move, as a turn would leave it.
struct Fixture {
  explicit Fixture(const Board& board, uint64_t seed = 7) : search(TestPatterns(), seed) {
    game.GameBoard = board;
    PrepareRoot(game, search);
  }
  GameState game;
  Search search;
};

int CountDifferences(const Board& a, const Board& b, int* x = nullptr, int* y = nullptr) {
  int n = 0;
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j)
      if (a.at(i, j) != b.at(i, j)) {
        ++n;
        if (x) *x = i;
        if (y) *y = j;
      }
  return n;
}

TEST(ExpandTest, ChildrenFollowTheCandidateListAndAlternateSides) {
  Fixture f(MakeBoard({{10, 10}, {10, 11}}, {{11, 12}}));
  Search& s = f.search;
  SPointList spoints;
  Scanner scanner(TestPatterns());
  scanner.FindSPoints(f.game.GameBoard, spoints, Own);
  ASSERT_GT(spoints.count(), 1);

  Expand(s, 0);
  const TreeNode& root = s.nodes[0];
  ASSERT_EQ(root.ChildCount, spoints.count());
  EXPECT_EQ(s.lastNodeIndex, spoints.count());
  int evaluated = 0, best = -1, bestScore = -1000;
  for (int k = 1; k <= root.ChildCount; ++k) {
    const int32_t c = root.child(k);
    EXPECT_EQ(c, k);  // children take the indices after the last node, in list order
    const TreeNode& child = s.nodes[c];
    EXPECT_EQ(child.ParentID, 0);
    EXPECT_EQ(child.turn, Opponent);
    EXPECT_EQ(child.x, spoints[k].x);
    EXPECT_EQ(child.y, spoints[k].y);
    EXPECT_EQ(child.S_Score, spoints[k].side == Own ? spoints[k].score : -spoints[k].score);
    Board board;
    NodeBoard(s, c, board);
    int x = 0, y = 0;
    ASSERT_EQ(CountDifferences(board, f.game.GameBoard, &x, &y), 1);
    EXPECT_EQ(x, child.x);
    EXPECT_EQ(y, child.y);
    EXPECT_EQ(board.at(x, y), Own);
    evaluated += child.Visits;
    if (child.S_Score > bestScore) bestScore = child.S_Score, best = c;
  }
  // Exactly one child is evaluated at once: the first with the highest S_Score.
  EXPECT_EQ(evaluated, 1);
  EXPECT_EQ(s.nodes[best].Visits, 1);
  EXPECT_EQ(s.nodes[0].Visits, 1);

  // One level down the colours swap: children of a turn-3 node carry turn 2 and a 3 stone.
  const int32_t grandparent = best;
  const int32_t before = s.lastNodeIndex;
  Expand(s, grandparent);
  const TreeNode& gp = s.nodes[grandparent];
  ASSERT_GT(gp.ChildCount, 0);
  EXPECT_EQ(gp.FirstChild, before + 1);
  Board parentBoard;
  NodeBoard(s, grandparent, parentBoard);
  for (int k = 1; k <= gp.ChildCount; ++k) {
    const TreeNode& c = s.nodes[gp.child(k)];
    EXPECT_EQ(c.turn, Own);
    Board board;
    NodeBoard(s, gp.child(k), board);
    EXPECT_EQ(CountDifferences(board, parentBoard), 1);
    EXPECT_EQ(board.at(c.x, c.y), Opponent);
  }
}

TEST(ExpandTest, AFiveMakesADeadEnd) {
  Fixture f(MakeBoard({{3, 3}, {4, 3}, {5, 3}, {6, 3}, {7, 3}}, {{10, 10}}));
  Expand(f.search, 0);
  EXPECT_EQ(f.search.nodes[0].ChildCount, -1);
  EXPECT_EQ(f.search.lastNodeIndex, 0);
  EXPECT_EQ(f.search.nodes[0].Visits, 0);
  // A dead-end root: iterations change nothing.
  for (int k = 0; k < 3; ++k) Iterate(f.search, 0);
  EXPECT_EQ(f.search.nodes[0].Visits, 0);
  EXPECT_EQ(f.search.lastNodeIndex, 0);
}

// A hand-made chain root(turn 2) -> a(3) -> b(2) -> leaf(3), for the backing-up rules.
struct Chain {
  Chain() : search(TestPatterns(), 1) {
    search.nodes.resize(4);
    search.lastNodeIndex = 3;
    const int8_t turns[4] = {Own, Opponent, Own, Opponent};
    for (int k = 0; k < 4; ++k) {
      search.nodes[k].turn = turns[k];
      search.nodes[k].ParentID = k == 0 ? 0 : k - 1;
    }
    search.nodes[0].RootFlag = 1;
  }
  Search search;
};

TEST(BackpropagateTest, DistanceAndAlternatingSigns) {
  struct Case {
    int32_t s;
    float aTotal, bTotal, rootTotal;
  };
  // Leaf turn 3: its parent b (turn 2) loses s - 1, the grandparent a (turn 3) gains s - 2.
  const Case cases[] = {{50, 48.0f, -49.0f, 50.0f}, {220, 218.0f, -219.0f, 220.0f},
                        {-20, -22.0f, 21.0f, 0.0f}};
  for (const Case& c : cases) {
    Chain chain;
    TreeNode& leaf = chain.search.nodes[3];
    leaf.RolloutScore = c.s;
    Backpropagate(chain.search, 3);
    EXPECT_EQ(chain.search.nodes[2].Total, c.bTotal) << c.s;
    EXPECT_EQ(chain.search.nodes[1].Total, c.aTotal) << c.s;
    EXPECT_EQ(chain.search.nodes[2].Visits, 1);
    EXPECT_EQ(chain.search.nodes[1].Visits, 1);
    EXPECT_EQ(chain.search.nodes[0].Visits, 1);
    EXPECT_EQ(chain.search.nodes[0].Total, c.rootTotal) << c.s;
    EXPECT_EQ(leaf.Visits, 0);  // the leaf itself is not touched
  }
}

TEST(BackpropagateTest, RootKeepsTheHighestValueSeen) {
  Chain chain;
  Search& s = chain.search;
  s.nodes[1].ParentID = 0;
  const int32_t values[] = {-20, 35, 10};
  const float expected[] = {0.0f, 35.0f, 35.0f};
  for (int k = 0; k < 3; ++k) {
    s.nodes[1].RolloutScore = values[k];
    Backpropagate(s, 1);
    EXPECT_EQ(s.nodes[0].Total, expected[k]);
    EXPECT_EQ(s.nodes[0].Visits, k + 1);
  }
  // Halves round to even before the comparison.
  s.nodes[0].Total = 2.5f;
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
  const Board fiveOwn = MakeBoard({{4, 4}, {5, 4}, {6, 4}, {7, 4}, {8, 4}});
  const Board fiveOpp = MakeBoard({{1, 1}}, {{4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}});
  const Case cases[] = {
      {openFour, Opponent, 190, 0},  // side 2 moved into it: +190
      {openFour, Own, -190, 0},      // side 3 moved into it: -190
      {fiveOwn, Opponent, 220, 1},   // a five by the mover is always +220
      {fiveOpp, Own, 220, 1},
  };
  for (const Case& c : cases) {
    Search s(TestPatterns(), 1);
    s.rootBoard = c.board;
    s.nodes.resize(2);
    s.lastNodeIndex = 1;
    s.rootIndex = 0;
    s.nodes[0].RootFlag = 1;
    s.nodes[0].turn = static_cast<int8_t>(5 - c.turn);
    s.nodes[1].turn = c.turn;
    s.nodes[1].ParentID = 0;
    s.nodes[1].x = 20;  // the move into the node: an empty corner, so the position stays
    s.nodes[1].y = 20;
    s.rootBoard.at(20, 20) = Empty;
    Board b = s.rootBoard;
    b.at(20, 20) = static_cast<uint8_t>(5 - c.turn);
    RolloutOn(s, 1, b);
    EXPECT_EQ(s.nodes[1].RolloutScore, c.score);
    EXPECT_EQ(s.nodes[1].Total, float(c.score));
    EXPECT_EQ(s.nodes[1].Visits, 1);
    EXPECT_EQ(s.nodes[1].isTerminal, c.terminal);
  }
}

TEST(IterateTest, UcbScores) {
  struct Case {
    float total;
    int visits, parentVisits;
    float expected;
  };
  const Case cases[] = {{10.0f, 2, 8, 8.0f}, {-30.0f, 3, 3, -10.0f}, {0.0f, 1, 4, 3.0f}};
  for (const Case& c : cases) {
    Chain chain;
    chain.search.nodes[0].Visits = c.parentVisits;
    chain.search.nodes[1].Total = c.total;
    chain.search.nodes[1].Visits = c.visits;
    ComputeUCB1(chain.search, 1);
    EXPECT_EQ(chain.search.nodes[1].UCB1_Score, c.expected);
  }
}

TEST(IterateTest, UnvisitedChildrenFirstInOrderThenTerminalRevisits) {
  Fixture f(MakeBoard({{10, 10}}, {{11, 11}}));
  Search& s = f.search;
  Iterate(s, 0);  // expands the root and evaluates its best child
  const TreeNode& root = s.nodes[0];
  ASSERT_GT(root.ChildCount, 2);
  for (int step = 0; step < root.ChildCount; ++step) {
    int unvisitedBefore = -1;
    for (int k = 1; k <= root.ChildCount && unvisitedBefore < 0; ++k)
      if (s.nodes[root.child(k)].Visits == 0) unvisitedBefore = root.child(k);
    if (unvisitedBefore < 0) break;
    Iterate(s, 0);
    EXPECT_EQ(s.nodes[unvisitedBefore].Visits, 1) << "child order";
  }
  for (int k = 1; k <= root.ChildCount; ++k) EXPECT_EQ(s.nodes[root.child(k)].Visits, 1);
  EXPECT_EQ(root.Visits, root.ChildCount);

  // A finished node is counted again and its Total replaced, so its average sinks.
  const int32_t c = root.child(1);
  s.nodes[c].isTerminal = 1;
  s.nodes[c].RolloutScore = 220;
  s.nodes[c].Total = 220.0f;
  for (int k = 0; k < 3; ++k) Iterate(s, c);
  EXPECT_EQ(s.nodes[c].Visits, 4);
  EXPECT_EQ(s.nodes[c].Total, 220.0f);
  EXPECT_EQ(root.Visits, root.ChildCount + 3);
}

TEST(IterateTest, ExactTiesAreDrawnUniformly) {
  // Two children with the same statistics under one parent: each is drawn about half the
  // time; a difference in the last bit of the float is no tie.
  for (bool exact : {true, false}) {
    int drawn[2] = {0, 0};
    for (uint64_t seed = 1; seed <= 400; ++seed) {
      Search s(TestPatterns(), seed);
      s.nodes.resize(3);
      s.lastNodeIndex = 2;
      s.nodes[0].RootFlag = 1;
      s.nodes[0].turn = Own;
      s.nodes[0].ChildCount = 2;
      s.nodes[0].FirstChild = 1;
      s.nodes[0].Visits = 2;
      for (int k = 1; k <= 2; ++k) {
        TreeNode& c = s.nodes[k];
        c.ParentID = 0;
        c.turn = Opponent;
        c.Visits = 1;
        c.RolloutScore = 30;
        c.isTerminal = 1;  // the walk ends on the chosen child: it is counted again
        c.Total = 30.0f;
      }
      if (!exact) s.nodes[2].Total = std::nextafter(30.0f, 100.0f);
      Iterate(s, 0);
      drawn[0] += s.nodes[1].Visits - 1;
      drawn[1] += s.nodes[2].Visits - 1;
    }
    if (exact) {
      EXPECT_GT(drawn[0], 150);
      EXPECT_GT(drawn[1], 150);
    } else {
      EXPECT_EQ(drawn[0], 0);
      EXPECT_EQ(drawn[1], 400);
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
      // 0..15000 left: 10 ms, then two more iterations.
      {10, 0, 15000, R::Continue},
      {11, 0, 15000, R::StopAfterTwoMore},
      {11, 0, 0, R::StopAfterTwoMore},
      // 15001..30000: 50 ms.
      {11, 0, 15001, R::Continue},
      {50, 0, 30000, R::Continue},
      {51, 0, 30000, R::StopAfterTwoMore},
      // 30001..60000: 2 s, nothing more.
      {51, 0, 30001, R::Continue},
      {2000, 0, 60000, R::Continue},
      {2001, 0, 60000, R::Stop},
      // Above 60000 or overspent: 7 s, or the per-turn limit less half a second.
      {2001, 0 + 100000, 60001, R::Continue},
      {7000, 100000, 60001, R::Continue},
      {7001, 100000, 60001, R::Stop},
      {7001, 100000, -1, R::Stop},
      {4500, 5000, 175000, R::Continue},
      {4501, 5000, 175000, R::Stop},
      {1, 0, -1, R::Stop},  // no per-turn limit and overspent: stop at once
      // The per-turn limit holds in every band.
      {501, 1000, 45000, R::Stop},
      {500, 1000, 45000, R::Continue},
      {5, 400, 10000, R::Stop},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TimeBandRule(c.elapsed, c.turnTime, c.turnTime - c.elapsed, c.remainingGame),
              c.expected)
        << "elapsed " << c.elapsed << " turn " << c.turnTime << " left " << c.remainingGame;
}

// A whole turn on a clock that advances one millisecond per reading.
struct Turn {
  explicit Turn(const Board& board) : clock(1), search(TestPatterns(), 3) {
    game.GameBoard = board;
  }
  std::string Play() {
    game.TurnStartTime = clock.NowMs();
    return PlayTurn(game, search, clock);
  }
  StepClock clock;
  GameState game;
  Search search;
};

TEST(PlayTurnTest, SearchTimeFollowsTheBand) {
  struct Case {
    int64_t matchTime, turnTime;
    int64_t minIterations, maxIterations;
  };
  const Board board = MakeBoard({{10, 10}, {11, 10}}, {{10, 11}, {12, 12}});
  const Case cases[] = {
      {10000, 0, 9, 10},             // 10 ms
      {25000, 0, 49, 50},            // 50 ms
      {45000, 1000, 499, 500},       // the 2 s band, cut by a 1 s turn limit
      {45000, 0, 1999, 2000},        // 2 s
      {10000000, 5000, 4499, 4500},  // the turn limit less half a second
  };
  for (const Case& c : cases) {
    Turn t(board);
    t.game.msMatchTime = c.matchTime;
    t.game.msTurnTime = c.turnTime;
    const std::string reply = t.Play();
    EXPECT_GE(t.search.lastIterations, c.minIterations) << c.matchTime << "/" << c.turnTime;
    EXPECT_LE(t.search.lastIterations, c.maxIterations) << c.matchTime << "/" << c.turnTime;
    EXPECT_GT(t.game.GameRunningTime, 0);
    int x, y;
    ASSERT_EQ(std::sscanf(reply.c_str(), "%d,%d", &x, &y), 2) << reply;
    EXPECT_EQ(t.game.GameBoard.at(x + 1, y + 1), Own);
    EXPECT_EQ(board.at(x + 1, y + 1), Empty);
  }
}

TEST(PlayTurnTest, ForcedPositionsStopFastAndAFiveInOneIsPlayed) {
  // Side 2 has an open four and side 3 a four: the engine must complete its five.
  const Board board =
      MakeBoard({{10, 8}, {10, 9}, {10, 10}, {10, 11}}, {{4, 4}, {5, 4}, {6, 4}, {7, 4}});
  for (int64_t turnTime : {1000, 7000}) {
    Turn t(board);
    t.game.msMatchTime = 10000000;
    t.game.msTurnTime = turnTime;
    const std::string reply = t.Play();
    EXPECT_TRUE(reply == "9,6" || reply == "9,11") << reply;
    EXPECT_LE(t.search.lastIterations, 11);  // the forced stop after 10 ms
    EXPECT_EQ(t.search.ForcedFlag, 0);
  }
}

TEST(FinalChoiceTest, VisitedChildrenCompeteOnAverage) {
  struct Child {
    float total;
    int visits;
    int16_t sScore;
    int8_t terminal;
    int32_t rollout;
  };
  struct Case {
    std::vector<Child> children;
    int expected;  // child number, or 0 for none
  };
  const Case cases[] = {
      {{{10, 2, 0, 0, 5}, {30, 2, 0, 0, 15}, {12, 1, 0, 0, 12}}, 2},
      {{{30, 2, 0, 0, 15}, {15, 1, 0, 0, 15}}, 1},          // equal averages: the earlier
      {{{30, 2, 0, 0, 15}, {0, 0, 90, 0, 0}}, 1},           // unvisited: no competition
      {{{0, 0, 50, 0, 0}, {0, 0, 90, 0, 0}, {0, 0, 90, 0, 0}}, 2},  // none visited: S_Score
      {{{200, 2, 0, 0, 100}, {55, 4, 0, 1, 220}}, 2},        // a five in one beats all
      {{}, 0},
  };
  for (const Case& c : cases) {
    Search s(TestPatterns(), 1);
    const int n = int(c.children.size());
    s.nodes.resize(n + 1);
    s.lastNodeIndex = n;
    s.nodes[0].RootFlag = 1;
    s.nodes[0].ChildCount = n;
    s.nodes[0].FirstChild = 1;
    for (int k = 0; k < n; ++k) {
      TreeNode& t = s.nodes[k + 1];
      t.Total = c.children[k].total;
      t.Visits = c.children[k].visits;
      t.S_Score = c.children[k].sScore;
      t.isTerminal = c.children[k].terminal;
      t.RolloutScore = c.children[k].rollout;
    }
    EXPECT_EQ(FinalChoice(s), c.expected == 0 ? -1 : c.expected);
  }
}

TEST(PrepareRootTest, KeepsTheSubtreeOnlyForTheSamePosition) {
  Turn t(MakeBoard({{10, 10}}, {{11, 11}, {9, 9}}));
  t.game.msMatchTime = 10000000;
  t.game.msTurnTime = 700;  // 200 ms of searching
  std::string reply = t.Play();
  const int32_t engineNode = t.search.rootIndex;
  const TreeNode& mine = t.search.nodes[engineNode];
  ASSERT_GT(mine.ChildCount, 0);
  const TreeNode reply1 = t.search.nodes[mine.child(1)];

  // The opponent answers with a searched move: that child becomes the root, statistics kept.
  {
    GameState game = t.game;
    Search& s = t.search;
    game.GameBoard.at(reply1.x, reply1.y) = Opponent;
    game.LastOpponentMove = Move{reply1.x, reply1.y};
    PrepareRoot(game, s);
    EXPECT_EQ(s.rootIndex, mine.child(1));
    EXPECT_EQ(s.nodes[s.rootIndex].Visits, reply1.Visits);
    EXPECT_EQ(s.nodes[s.rootIndex].RootFlag, 1);
    EXPECT_EQ(s.nodes[s.rootIndex].turn, Own);
  }
  // The same cell in another position (a new game, a BOARD) starts a fresh tree.
  Turn u(MakeBoard({{10, 10}}, {{11, 11}, {9, 9}}));
  u.game.msMatchTime = 10000000;
  u.game.msTurnTime = 700;
  reply = u.Play();
  const TreeNode& mine2 = u.search.nodes[u.search.rootIndex];
  ASSERT_GT(mine2.ChildCount, 0);
  const TreeNode r = u.search.nodes[mine2.child(1)];
  GameState other;
  ResetBoard(other.GameBoard);
  other.GameBoard.at(r.x, r.y) = Opponent;
  other.LastOpponentMove = Move{r.x, r.y};
  PrepareRoot(other, u.search);
  EXPECT_EQ(u.search.rootIndex, 0);
  EXPECT_EQ(u.search.lastNodeIndex, 0);
  EXPECT_EQ(u.search.rootBoard, other.GameBoard);

  // A move that is not among the children ("blind sided") resets too.
  GameState blind = t.game;
  blind.GameBoard.at(1, 1) = Opponent;
  blind.LastOpponentMove = Move{1, 1};
  Search& s = t.search;
  s.rootIndex = engineNode;  // back to the engine's move node
  PrepareRoot(blind, s);
  EXPECT_EQ(s.lastNodeIndex, 0);
}

TEST(PrepareRootTest, ResetRules) {
  const Board board = MakeBoard({{10, 10}}, {{11, 11}});
  struct Case {
    const char* name;
    int32_t rootIndex;  // relative: -1 = lastNodeIndex
    bool resetPending;
    bool expectReset;
  };
  const Case cases[] = {
      {"root is the last node", -1, false, true},
      {"a fallback move asked for a fresh tree", 1, true, true},
      {"an engine move with the opponent's reply among its children", 1, false, false},
  };
  for (const Case& c : cases) {
    Fixture f(board);
    Search& s = f.search;
    for (int k = 0; k < 50; ++k) Iterate(s, 0);
    ASSERT_GT(s.lastNodeIndex, 2);
    // Pretend the engine played child 1 and the opponent answered with its first child.
    const int32_t mine = s.nodes[0].child(1);
    if (s.nodes[mine].ChildCount <= 0) Expand(s, mine);
    ASSERT_GT(s.nodes[mine].ChildCount, 0);
    const TreeNode reply = s.nodes[s.nodes[mine].child(1)];
    GameState game = f.game;
    game.GameBoard.at(s.nodes[mine].x, s.nodes[mine].y) = Own;
    game.GameBoard.at(reply.x, reply.y) = Opponent;
    game.LastOpponentMove = Move{reply.x, reply.y};
    s.rootBoard = f.game.GameBoard;
    s.rootBoard.at(s.nodes[mine].x, s.nodes[mine].y) = Own;
    s.rootIndex = c.rootIndex < 0 ? s.lastNodeIndex : mine;
    s.resetPending = c.resetPending;
    PrepareRoot(game, s);
    if (c.expectReset) {
      EXPECT_EQ(s.lastNodeIndex, 0) << c.name;
      EXPECT_EQ(s.rootIndex, 0) << c.name;
      EXPECT_EQ(s.nodes[0].ChildCount, 0) << c.name;
    } else {
      EXPECT_EQ(s.rootIndex, s.nodes[mine].child(1)) << c.name;
    }
    EXPECT_FALSE(s.resetPending);
    EXPECT_EQ(s.rootBoard, game.GameBoard) << c.name;
    EXPECT_EQ(s.nodes[s.rootIndex].turn, Own);
    EXPECT_EQ(s.nodes[s.rootIndex].RootFlag, 1);
  }
}

// Every node of the tree below the root in a consistent shape: parents before children,
// children consecutive and pointing back, boards one stone apart.
void ExpectConsistentTree(const Search& s) {
  for (int32_t n = 0; n <= s.lastNodeIndex; ++n) {
    const TreeNode& node = s.nodes[n];
    if (n != s.rootIndex) {
      EXPECT_LT(node.ParentID, n);
    }
    for (int k = 1; k <= node.ChildCount; ++k) {
      ASSERT_LE(node.child(k), s.lastNodeIndex);
      EXPECT_EQ(s.nodes[node.child(k)].ParentID, n);
      EXPECT_EQ(s.nodes[node.child(k)].turn, 5 - node.turn);
    }
  }
}

TEST(MemoryTest, CompactionKeepsTheSubtreeExactly) {
  Turn t(MakeBoard({{10, 10}, {11, 10}}, {{10, 11}, {12, 12}}));
  t.game.msMatchTime = 10000000;
  t.game.msTurnTime = 1000;
  t.Play();
  Search& s = t.search;
  const int32_t engineNode = s.rootIndex;
  const TreeNode& mine = s.nodes[engineNode];
  ASSERT_GT(mine.ChildCount, 0);
  // The most visited reply, as the new root.
  int32_t newRoot = mine.child(1);
  for (int k = 1; k <= mine.ChildCount; ++k)
    if (s.nodes[mine.child(k)].Visits > s.nodes[newRoot].Visits) newRoot = mine.child(k);
  ASSERT_GT(s.nodes[newRoot].ChildCount, 0);
  GameState game = t.game;
  game.GameBoard.at(s.nodes[newRoot].x, s.nodes[newRoot].y) = Opponent;
  game.LastOpponentMove = Move{s.nodes[newRoot].x, s.nodes[newRoot].y};

  // Record the subtree by the moves leading to each node from the new root, then make the
  // store "over half full".
  auto pathKey = [&s](int32_t n, int32_t root) {
    std::string key;
    for (; n != root; n = s.nodes[n].ParentID)
      key = std::to_string(s.nodes[n].x) + "," + std::to_string(s.nodes[n].y) + " " + key;
    return key;
  };
  std::map<std::string, std::pair<int32_t, float>> before;  // path -> visits, total
  std::vector<int32_t> stack = {newRoot};
  while (!stack.empty()) {
    const int32_t n = stack.back();
    stack.pop_back();
    before[pathKey(n, newRoot)] = {s.nodes[n].Visits, s.nodes[n].Total};
    for (int k = 1; k <= s.nodes[n].ChildCount; ++k) stack.push_back(s.nodes[n].child(k));
  }
  s.maxNodes = 2 * int64_t(before.size()) + 2;  // the subtree fits in half, the tree does not
  ASSERT_GT(s.lastNodeIndex + 1, s.maxNodes / 2);
  PrepareRoot(game, s);
  EXPECT_EQ(s.rootIndex, 0);
  EXPECT_EQ(s.lastNodeIndex + 1, int32_t(before.size()));
  ExpectConsistentTree(s);
  for (int32_t n = 0; n <= s.lastNodeIndex; ++n) {
    auto it = before.find(pathKey(n, 0));
    ASSERT_NE(it, before.end()) << "node " << n;
    EXPECT_EQ(it->second.first, s.nodes[n].Visits);
    if (n > 0) {
      EXPECT_EQ(it->second.second, s.nodes[n].Total);
    }
    // Boards follow the kept moves: one stone more than the parent's, of the parent's turn.
    if (n > 0) {
      Board board, parent;
      NodeBoard(s, n, board);
      NodeBoard(s, s.nodes[n].ParentID, parent);
      EXPECT_EQ(CountDifferences(board, parent), 1);
      EXPECT_EQ(board.at(s.nodes[n].x, s.nodes[n].y), 5 - s.nodes[n].turn);
    }
  }
  Board rootBoard;
  NodeBoard(s, 0, rootBoard);
  EXPECT_EQ(rootBoard, game.GameBoard);
}

TEST(MemoryTest, AFullStoreEndsTheSearchWithAMove) {
  Turn t(MakeBoard({{10, 10}, {11, 10}}, {{10, 11}, {12, 12}}));
  t.game.msMatchTime = 10000000;
  t.game.msTurnTime = 100000;
  t.search.maxNodes = 2000;
  const std::string reply = t.Play();
  EXPECT_TRUE(t.search.storeFull);
  EXPECT_LE(t.search.lastNodeIndex, 2000);
  EXPECT_LT(t.clock.now(), 7000);  // ended by the store, not by the clock
  int x, y;
  ASSERT_EQ(std::sscanf(reply.c_str(), "%d,%d", &x, &y), 2);
  EXPECT_EQ(t.game.GameBoard.at(x + 1, y + 1), Own);
  // Next turn: the store is over half full, so only the new root's subtree is kept.
  t.game.GameBoard.at(1, 1) = Opponent;
  t.game.LastOpponentMove = Move{1, 1};
  t.Play();
  EXPECT_LE(t.search.lastNodeIndex, 2000);
}

TEST(MemoryTest, TheStoreBoundFollowsMaxMemory) {
  struct Case {
    int64_t maxMemory, minBytes, maxBytes;
  };
  const int64_t MiB = 1 << 20;
  const Case cases[] = {
      {0, 1000 * MiB, 1024 * MiB},                // no limit: 1 GiB
      {367001600, 300 * MiB, 367001600 - 32 * MiB},  // what the rest of the process leaves
      {104857600, 60 * MiB, 104857600 - 32 * MiB},
      {40 * MiB, 15 * MiB, 20 * MiB},             // small limits: half of it
  };
  for (const Case& c : cases) {
    Search s(TestPatterns(), 1);
    SetMemoryLimit(s, c.maxMemory);
    const int64_t bytes = s.maxNodes * int64_t(sizeof(TreeNode));
    EXPECT_GE(bytes, c.minBytes) << c.maxMemory;
    EXPECT_LE(bytes, c.maxBytes) << c.maxMemory;
    EXPECT_EQ(s.maxNodes % NodeStore::kBlockNodes, 0);
  }
  EXPECT_LE(sizeof(TreeNode), 256u);
}

TEST(PlayTurnTest, FallbacksWithoutCandidates) {
  {
    Turn t(MakeBoard({}));
    EXPECT_EQ(t.Play(), "1,1");  // nothing to judge: the first cell from index 2
    EXPECT_EQ(t.game.GameRunningTime, 0);
  }
  {
    Board full;
    ResetBoard(full);
    for (int i = 1; i <= BoardSize; ++i)
      for (int j = 1; j <= BoardSize; ++j) full.at(i, j) = ((i / 2 + j) % 2) ? Own : Opponent;
    Turn t(full);
    const Board before = t.game.GameBoard;
    EXPECT_EQ(t.Play(), "ERROR no empty cell");
    EXPECT_EQ(t.game.GameBoard, before);
  }
  {
    Board board;
    ResetBoard(board);
    for (int i = 2; i <= BoardSize; ++i)
      for (int j = 2; j <= BoardSize; ++j) board.at(i, j) = Wall;  // no candidate anywhere
    int x = 0, y = 0;
    EXPECT_FALSE(FallbackCell(board, x, y));
    EXPECT_TRUE(FirstEmptyCell(board, x, y));
    EXPECT_EQ(x, 1);
    EXPECT_EQ(y, 1);
  }
}

}  // namespace
}  // namespace kestrova
