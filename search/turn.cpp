#include "search/turn.h"

#include <algorithm>

#include "core/log.h"

namespace kestrova {
namespace {

std::string Reply(int x, int y) {
  return std::to_string(x - 1) + "," + std::to_string(y - 1);
}

std::string PlaceOwn(GameState& game, int x, int y) {
  game.GameBoard.at(x, y) = Own;
  return Reply(x, y);
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
    Log("Checked Play: " + Describe(c));
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
std::string FinishTurn(GameState& game, Search& search, Clock& clock, int x, int y) {
  const int64_t elapsed = clock.NowMs() - game.TurnStartTime;
  game.GameRunningTime += elapsed;
  Log("GameRunningTime " + std::to_string(game.GameRunningTime));
  Log("msRemainingTurnTime " + std::to_string(game.msTurnTime - elapsed));
  Log("Tree Size " + std::to_string(search.lastNodeIndex));
  if (!InPlayingArea(x, y) || game.GameBoard.at(x, y) != Empty) {
    // Never reached while the tree follows GameBoard; an illegal reply would lose the game.
    search.resetPending = true;
    if (!FirstEmptyCell(game.GameBoard, x, y)) return "ERROR no empty cell";
  }
  return PlaceOwn(game, x, y);
}

// Runs iterations on the root until the stop rule of the time band fires.
void RunSearch(GameState& game, Search& search, Clock& clock) {
  int64_t iterations = 0;
  int32_t LastTreeSize = 0;
  auto twoMore = [&search] {
    Iterate(search, search.rootIndex);
    Iterate(search, search.rootIndex);
  };
  for (;;) {
    const int64_t elapsed = clock.NowMs() - game.TurnStartTime;
    const int64_t msRemainingTurnTime = game.msTurnTime - elapsed;
    const int64_t msRemainingGameTime = game.msMatchTime - (game.GameRunningTime + elapsed);
    if (search.ForcedFlag == 1 && elapsed > 10) {
      search.ForcedFlag = 0;
      Log("Fast Move on Forced");
      twoMore();
      break;
    }
    const StopRule rule =
        TimeBandRule(elapsed, game.msTurnTime, msRemainingTurnTime, msRemainingGameTime);
    if (rule == StopRule::StopAfterTwoMore) twoMore();
    if (rule != StopRule::Continue) break;
    Iterate(search, search.rootIndex);
    ++iterations;
    if (search.storeFull) {
      Log("Search Complete");
      break;
    }
    if (iterations % 200 == 0) {
      Log("Tree Size " + std::to_string(search.lastNodeIndex) + " iterations " +
          std::to_string(iterations));
      if (search.lastNodeIndex == LastTreeSize) {
        Log("Search Complete");
        break;
      }
      LastTreeSize = search.lastNodeIndex;
    }
  }
  search.lastIterations = iterations;
}

}  // namespace

int64_t TurnReserve(int64_t msTurnTime) {
  // Half a second, but no more than a tenth of a short turn, so 0.2-2 s turns are used.
  // With no per-turn limit (0) the whole half second stays, so the reply comes at once.
  return msTurnTime > 0 ? std::min<int64_t>(500, msTurnTime / 10) : 500;
}

StopRule TimeBandRule(int64_t elapsed, int64_t msTurnTime, int64_t msRemainingTurnTime,
                      int64_t msRemainingGameTime) {
  // The manager's per-turn limit holds in every band, with its reserve to spare.
  const int64_t reserve = TurnReserve(msTurnTime);
  if (msTurnTime > 0 && msRemainingTurnTime < reserve) return StopRule::Stop;
  if (msRemainingGameTime >= 0 && msRemainingGameTime <= 15000)
    return elapsed > 10 ? StopRule::StopAfterTwoMore : StopRule::Continue;
  if (msRemainingGameTime >= 15001 && msRemainingGameTime <= 30000)
    return elapsed > 50 ? StopRule::StopAfterTwoMore : StopRule::Continue;
  if (msRemainingGameTime >= 30001 && msRemainingGameTime <= 60000)
    return elapsed > 2000 ? StopRule::Stop : StopRule::Continue;
  return elapsed > 7000 || msRemainingTurnTime < reserve ? StopRule::Stop : StopRule::Continue;
}

bool GuardCell(const Board& board, int& x, int& y) {
  if (FiveCells(board, Own, x, y) > 0) return true;
  return FiveCells(board, Opponent, x, y) == 1;  // two or more cannot all be blocked
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
      Log("Actual Play: " + Describe(search.nodes[match]));
      search.rootIndex = match;
    } else {
      Log("Blind Sided!! " + std::to_string(last.x) + "," + std::to_string(last.y));
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
  search.rootBoard = game.GameBoard;
}

int32_t FinalChoice(Search& search) {
  const TreeNode& root = search.nodes[search.rootIndex];
  const int n = root.ChildCount;
  if (n <= 0) {
    Log("no children, play root, or forced place score, game end?");
    return -1;
  }
  // A five in one is always played.
  for (int k = 1; k <= n; ++k) {
    const TreeNode& c = search.nodes[root.child(k)];
    if (c.isTerminal == 1 && c.RolloutScore == kFiveValue) return root.child(k);
  }
  float bestAverage = -1000000.0f;
  int32_t best = -1;
  for (int k = 1; k <= n; ++k) {
    const TreeNode& c = search.nodes[root.child(k)];
    if (c.Visits == 0) continue;  // an unevaluated move does not compete
    Log("Location: " + Describe(c));
    const double average = double(c.Total) / c.Visits;
    if (!(bestAverage >= average)) {
      bestAverage = static_cast<float>(average);
      best = root.child(k);
    }
  }
  if (best >= 0) return best;
  for (int k = 1; k <= n; ++k)
    if (best < 0 || search.nodes[root.child(k)].S_Score > search.nodes[best].S_Score)
      best = root.child(k);
  return best;
}

int32_t SearchFixed(GameState& game, Search& search, int64_t iterations) {
  PrepareRoot(game, search);
  for (int64_t k = 0; k < iterations && !search.storeFull; ++k) Iterate(search, search.rootIndex);
  return FinalChoice(search);
}

std::string PlayTurn(GameState& game, Search& search, Clock& clock) {
  int x = 0, y = 0;
  if (GuardCell(game.GameBoard, x, y)) {
    // The tree must still follow the game: keep the subtree under the move if there is one.
    PrepareRoot(game, search);
    FollowChoice(search, ChildAt(search, search.rootIndex, x, y));
    return FinishTurn(game, search, clock, x, y);
  }
  SPointList spoints;
  const int32_t RetScore = search.scanner.FindSPoints(game.GameBoard, spoints, Own);
  const int32_t count = spoints.count();
  if (count == 0) {
    search.rootIndex = search.lastNodeIndex;
    search.resetPending = true;
    Log("No move to play. RetScore: " + std::to_string(RetScore));
    // An empty board opens in the centre, as BEGIN does; the fallback is for stones that
    // leave no candidate.
    const int centre = game.boardSize / 2 + 1;
    if (!HasStones(game.GameBoard) && game.GameBoard.at(centre, centre) == Empty)
      return PlaceOwn(game, centre, centre);
    if (FallbackCell(game.GameBoard, x, y) || FirstEmptyCell(game.GameBoard, x, y))
      return PlaceOwn(game, x, y);
    return "ERROR no empty cell";
  }
  if (spoints[1].score >= 180 && spoints[1].score < 500) search.ForcedFlag = 1;
  for (int k = 1; k <= count; ++k)
    Log("Pre MCTS output Location: " + std::to_string(spoints[k].x) + "," +
        std::to_string(spoints[k].y) + "  score: " + std::to_string(spoints[k].score));

  PrepareRoot(game, search);
  RunSearch(game, search, clock);

  const int32_t chosen = FinalChoice(search);
  if (chosen >= 0) {
    x = search.nodes[chosen].x;
    y = search.nodes[chosen].y;
  } else {
    // Nothing searched: the scan's best point.
    x = spoints[1].x;
    y = spoints[1].y;
  }
  FollowChoice(search, chosen);
  return FinishTurn(game, search, clock, x, y);
}

}  // namespace kestrova
