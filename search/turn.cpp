#include "search/turn.h"

#include <algorithm>
#include <optional>

#include "core/log.h"
#include "search/root_check.h"
#include "search/root_threats.h"
#include "search/threads.h"

namespace kestrova {
namespace {

TurnResult PlaceOwn(GameState& game, int x, int y) {
  game.GameBoard.at(x, y) = Own;
  return TurnResult{true, x - 1, y - 1, {}};
}

// Iterations between two looks at the leading root move: its share of the time does the rest.
constexpr int64_t kCheckEvery = 64;

TurnResult NoEmptyCell() {
  return TurnResult{false, 0, 0, "no empty cell"};
}

std::string Describe(const TreeNode& n) {
  const double average = double(n.Total) / n.Visits;
  return std::to_string(n.x) + "," + std::to_string(n.y) +
         "  (UCB: " + std::to_string(n.UCB1_Score) + ")  (Average: " + std::to_string(average) +
         ")  (Rollout: " + std::to_string(n.RolloutScore) +
         ")  (Visits: " + std::to_string(n.Visits) + ")";
}

// The child of parent whose move is x,y, or -1.
int32_t ChildAt(const Search& search, int32_t parent, int x, int y) {
  const TreeNode& p = search.nodes[parent];
  for (int k = 1; k <= p.ChildCount; ++k) {
    const TreeNode& c = search.nodes[p.child(k)];
    Log("Checked Play: ", [&] { return Describe(c); });
    if (c.x == x && c.y == y) return p.child(k);
  }
  return -1;
}

// The root moves down to the child of the move played; with no such child (-1) the next
// turn starts a fresh tree.
void FollowChoice(Search& search, int32_t child) {
  if (child >= 0) {
    search.rootIndex = child;
    search.rootBoard.at(search.nodes[child].x, search.nodes[child].y) = Own;
  } else {
    search.rootIndex = search.lastNodeIndex;
    search.resetPending = true;
  }
}

// Books the turn's time on the match clock and plays x,y.
TurnResult FinishTurn(GameState& game, Search& search, Clock& clock, int x, int y) {
  const int64_t elapsed = clock.NowMs() - game.TurnStartTime;
  game.GameRunningTime += elapsed;
  Log("GameRunningTime ", game.GameRunningTime);
  Log("msRemainingTurnTime ", game.msTurnTime - elapsed);
  Log("Tree Size ", search.lastNodeIndex);
  if (!InPlayingArea(x, y) || game.GameBoard.at(x, y) != Empty) {
    // Never reached while the tree follows GameBoard; an illegal reply would lose the game.
    search.resetPending = true;
    if (!FirstEmptyCell(game.GameBoard, x, y)) return NoEmptyCell();
  }
  return PlaceOwn(game, x, y);
}

// Runs iterations on the root until the stop rule of the time band fires. With more threads
// the helpers iterate on the same tree until this thread, which keeps the clock, stops; this
// one also checks the leading root move against the opponent's forced wins when check is given.
void RunSearch(GameState& game, Search& search, Clock& clock, RootCheck* check,
               const std::vector<Move>* allowed) {
  if (search.useThreats && search.treeProbe) StartProbing(search);
  search.shaping = search.useThreats && search.shapeValue;
  search.lastIterations = SearchWithHelpers(search, nullptr, [&] {
    int64_t iterations = 0;
    int32_t LastTreeSize = 0;
    auto twoMore = [&search] {
      IterateOnce(search);
      IterateOnce(search);
    };
    const int64_t msTurnTime = TurnLimit(game);
    for (;;) {
      if (search.stopRequested.load(std::memory_order_relaxed)) {
        Log("Stop requested");
        break;
      }
      const int64_t elapsed = clock.NowMs() - game.TurnStartTime;
      const int64_t msRemainingTurnTime = msTurnTime - elapsed;
      const int64_t msRemainingGameTime = RemainingGameTime(game, elapsed);
      const StopRule rule =
          TimeBandRule(elapsed, msTurnTime, msRemainingTurnTime, msRemainingGameTime);
      if (rule == StopRule::StopAfterTwoMore) twoMore();
      if (rule != StopRule::Continue) break;
      IterateOnce(search);
      ++iterations;
      if (check && iterations % kCheckEvery == 0) CheckLeadingMove(search, *check, clock, allowed);
      if (Load(search.storeFull)) {
        Log("Search Complete");
        break;
      }
      if (search.probing && Load(search.rootSolved)) {
        Log("Root solved");
        break;
      }
      if (iterations % 200 == 0) {
        const int32_t treeSize = Load(search.lastNodeIndex);
        Log("Tree Size ", treeSize, " iterations ", iterations);
        // A tree that stopped growing may only be circling round its terminal leaves while
        // other lines are still open: only a finished tree ends the search early.
        if (treeSize == LastTreeSize && TreeComplete(search, search.rootIndex)) {
          Log("Search Complete");
          break;
        }
        LastTreeSize = treeSize;
      }
    }
    return iterations;
  });
  search.probing = false;
  search.shaping = false;
}

}  // namespace

bool GuardCell(const Board& board, int& x, int& y, Rule rule) {
  if (FiveCells(board, Own, x, y, rule) > 0) return true;
  return FiveCells(board, Opponent, x, y, rule) == 1;  // two or more cannot all be blocked
}

// Protocol coordinate 0 is never chosen here, in either position.
bool FallbackCell(const Board& board, int& x, int& y) {
  return FirstEmptyCell(board, x, y, 2);
}

void PrepareRoot(GameState& game, Search& search) {
  search.storeFull = false;
  const Move last = game.LastOpponentMove;
  if (search.resetPending) {
    ResetTree(search);
  } else if (search.rootIndex != search.lastNodeIndex && search.rootIndex > 0) {
    const int32_t match = ChildAt(search, search.rootIndex, last.x, last.y);
    // The kept subtree must describe this very position: after a new game or a BOARD
    // position its moves could stand on occupied cells.
    Board board;
    if (match >= 0) NodeBoard(search, match, board);
    if (match >= 0 && board == game.GameBoard) {
      Log("Actual Play: ", [&] { return Describe(search.nodes[match]); });
      search.rootIndex = match;
    } else {
      Log("Blind Sided!! ", last.x, ",", last.y);
      ResetTree(search);
    }
  } else if (search.rootIndex == search.lastNodeIndex && search.lastNodeIndex > 0) {
    ResetTree(search);
  }
  // Over half the store: drop what lies outside the new root's subtree, so this turn can
  // search again.
  if (search.lastNodeIndex + 1 > search.maxNodes / 2) {
    CompactTree(search);
    if (search.lastNodeIndex + 1 > search.maxNodes / 2) ResetTree(search);
  }
  TreeNode& root = search.nodes[search.rootIndex];
  root.turn = Own;
  root.RootFlag = 1;
  // The root is searched, never a leaf: a proof about it now lies in its children.
  if (root.isTerminal >= kProvenWin) root.isTerminal = 0;
  search.rootSolved = RootSolved(search);
  search.rootBoard = game.GameBoard;
}

namespace {

// The root child among the allowed ones (every one when allowed is null) that makes five or
// is a proven win, or -1.
int32_t ProvenRootWin(const Search& search, const std::vector<Move>* allowed) {
  const TreeNode& root = search.nodes[search.rootIndex];
  for (int k = 1; k <= root.ChildCount; ++k) {
    const TreeNode& c = search.nodes[root.child(k)];
    if (Allowed(allowed, c) && ProvenWin(c)) return root.child(k);
  }
  return -1;
}

}  // namespace

int32_t FinalChoice(Search& search) {
  const TreeNode& root = search.nodes[search.rootIndex];
  const int n = root.ChildCount;
  if (n <= 0) {
    Log("no children, play root, or forced place score, game end?");
    return -1;
  }
  // A five in one, or a proven win, is always played.
  if (const int32_t win = ProvenRootWin(search, nullptr); win >= 0) return win;
  for (int k = 1; k <= n; ++k) {
    const TreeNode& c = search.nodes[root.child(k)];
    if (c.Visits != 0) Log("Location: ", [&] { return Describe(c); });
  }
  int32_t best = BestAverage(search, nullptr);
  if (best >= 0) return best;
  for (int k = 1; k <= n; ++k)
    if (best < 0 || search.nodes[root.child(k)].S_Score > search.nodes[best].S_Score)
      best = root.child(k);
  return best;
}

int32_t FinalChoiceAmong(Search& search, const std::vector<Move>& allowed) {
  if (const int32_t win = ProvenRootWin(search, &allowed); win >= 0) return win;
  return BestAverage(search, &allowed);
}

Move BestByScan(Search& search, const Board& board, const std::vector<Move>& moves) {
  Move best = moves.front();
  int32_t bestValue = INT32_MIN;
  Board after = board;
  for (const Move m : moves) {
    if (after.at(m.x, m.y) != Empty) continue;
    after.at(m.x, m.y) = Own;
    SPointList spoints;
    const int32_t value = search.scanner.FindSPoints(after, spoints, Opponent);
    after.at(m.x, m.y) = Empty;
    if (value > bestValue) bestValue = value, best = m;
  }
  return best;
}

int32_t SearchFixed(GameState& game, Search& search, int64_t iterations) {
  FollowRule(search, game.rule);
  PrepareRoot(game, search);
  for (int64_t k = 0; k < iterations && !search.storeFull; ++k) Iterate(search, search.rootIndex);
  return FinalChoice(search);
}

int32_t SearchFixedOnThreads(GameState& game, Search& search, int64_t iterations) {
  FollowRule(search, game.rule);
  PrepareRoot(game, search);
  // The iterations are drawn from one budget, so a thread that runs faster makes more of them
  // and none waits idle for a slower one at the end: the wall time is the threads' throughput.
  std::atomic<int64_t> budget{iterations};
  search.lastIterations =
      SearchWithHelpers(search, &budget, [&] { return IterateFromBudget(search, search, budget); });
  return FinalChoice(search);
}

TurnResult PlayTurn(GameState& game, Search& search, Clock& clock) {
  FollowRule(search, game.rule);
  int x = 0, y = 0;
  if (GuardCell(game.GameBoard, x, y, game.rule)) {
    // The tree must still follow the game: keep the subtree under the move if there is one.
    PrepareRoot(game, search);
    FollowChoice(search, ChildAt(search, search.rootIndex, x, y));
    return FinishTurn(game, search, clock, x, y);
  }
  std::vector<Move> allowed;  // empty: every root move
  bool checkRoot = false;
  int64_t checkEnd = 0;
  if (search.useThreats) {
    const ThreatDeadlines deadlines = ThreatDeadline(game);
    const RootThreats threats = ConsultThreats(game.GameBoard, search.solver, clock,
                                               deadlines.search, deadlines.defence, search.useVct);
    Log("Threats: ", threats.reason, " nodes ", threats.nodes, " ms ",
        clock.NowMs() - game.TurnStartTime);
    checkRoot = search.useVct && threats.unsettled;
    checkEnd = deadlines.end;
    Move now{};
    bool playNow = false;
    if (threats.kind == RootThreats::Kind::Play) {
      now = threats.move;
      playNow = true;
    } else if (threats.kind == RootThreats::Kind::Restricted) {
      allowed = threats.allowed;
      // One refutation is the only sensible move: no search can find a better one.
      if (allowed.size() == 1) now = allowed[0], playNow = true;
    }
    if (playNow && InPlayingArea(now.x, now.y) && game.GameBoard.at(now.x, now.y) == Empty) {
      PrepareRoot(game, search);
      FollowChoice(search, ChildAt(search, search.rootIndex, now.x, now.y));
      return FinishTurn(game, search, clock, now.x, now.y);
    }
  }
  SPointList spoints;
  const int32_t RetScore = search.scanner.FindSPoints(game.GameBoard, spoints, Own);
  const int32_t count = spoints.count();
  if (count == 0) {
    search.rootIndex = search.lastNodeIndex;
    search.resetPending = true;
    Log("No move to play. RetScore: ", RetScore);
    // An empty board opens in the centre, as BEGIN does; the fallback is for stones that
    // leave no candidate.
    const int centre = game.boardSize / 2 + 1;
    if (!HasStones(game.GameBoard) && game.GameBoard.at(centre, centre) == Empty)
      return PlaceOwn(game, centre, centre);
    if (FallbackCell(game.GameBoard, x, y) || FirstEmptyCell(game.GameBoard, x, y))
      return PlaceOwn(game, x, y);
    return NoEmptyCell();
  }
  for (int k = 1; k <= count; ++k)
    Log("Pre MCTS output Location: ", spoints[k].x, ",", spoints[k].y,
        "  score: ", spoints[k].score);

  // The refutations become the root's only children: a tree kept from the last turn has
  // the others, so it starts afresh.
  if (!allowed.empty()) search.resetPending = true;
  PrepareRoot(game, search);
  search.rootAllowed = allowed;
  std::optional<RootCheck> check;
  if (checkRoot) check = StartRootCheck(clock, checkEnd);
  RunSearch(game, search, clock, check ? &*check : nullptr, allowed.empty() ? nullptr : &allowed);
  search.rootAllowed.clear();
  if (check) Log("Root checks ", check->checks, " losses ", check->losses, " ms ", check->spentMs);

  const int32_t chosen = allowed.empty() ? FinalChoice(search) : FinalChoiceAmong(search, allowed);
  if (chosen >= 0) {
    x = search.nodes[chosen].x;
    y = search.nodes[chosen].y;
  } else if (!allowed.empty()) {
    // No refutation was searched: the one the scan likes best.
    const Move m = BestByScan(search, game.GameBoard, allowed);
    x = m.x;
    y = m.y;
  } else {
    // Nothing searched: the scan's best point.
    x = spoints[1].x;
    y = spoints[1].y;
  }
  FollowChoice(search, chosen);
  return FinishTurn(game, search, clock, x, y);
}

}  // namespace kestrova
