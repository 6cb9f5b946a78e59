#include "search/root_check.h"

#include <algorithm>

#include "core/log.h"

namespace kestrova {
namespace {

// A first look settles most wins; a move that stays open gets twice the nodes next time, up
// to what the root's own threat search may spend.
constexpr int64_t kFirstNodes = 5'000;
constexpr int64_t kMostNodes = 200'000;
// The checks take no more than this part of the search's time: the tree still needs most.
constexpr int64_t kShareNum = 2, kShareDen = 5;

}  // namespace

bool Allowed(const std::vector<Move>* allowed, const TreeNode& c) {
  return !allowed || std::any_of(allowed->begin(), allowed->end(),
                                 [&c](Move m) { return m.x == c.x && m.y == c.y; });
}

int32_t BestAverage(const Search& search, const std::vector<Move>* allowed) {
  const TreeNode& root = search.nodes[search.rootIndex];
  int32_t best = -1, bestLost = -1;
  float bestAverage = -1000000.0f, bestLostAverage = -1000000.0f;
  const int32_t count = Load(root.ChildCount, std::memory_order_acquire);
  for (int k = 1; k <= count; ++k) {
    const TreeNode& c = search.nodes[root.child(k)];
    const int32_t visits = Load(c.Visits);
    if (!Allowed(allowed, c) || visits <= 0) continue;  // an unevaluated move does not compete
    const double average = double(Load(c.Total)) / visits;
    const bool lost = Load(c.isTerminal) == kProvenLoss;
    float& to = lost ? bestLostAverage : bestAverage;
    if (!(to >= average)) {
      to = static_cast<float>(average);
      (lost ? bestLost : best) = root.child(k);
    }
  }
  return best >= 0 ? best : bestLost;
}

RootCheck StartRootCheck(Clock& clock, int64_t endMs) {
  RootCheck check;
  check.searchStartMs = clock.NowMs();
  check.endMs = endMs;
  return check;
}

void CheckLeadingMove(Search& search, RootCheck& check, Clock& clock,
                      const std::vector<Move>* allowed) {
  const int64_t now = clock.NowMs();
  if (now >= check.endMs || check.spentMs * kShareDen > (now - check.searchStartMs) * kShareNum)
    return;
  const int32_t leader = BestAverage(search, allowed);
  if (leader < 0) return;
  TreeNode& child = search.nodes[leader];
  if (Load(child.isTerminal) != 0) return;  // a five, or a proof already
  const TreeNode& root = search.nodes[search.rootIndex];
  const size_t k = size_t(leader - root.FirstChild + 1);
  if (check.tried.size() <= k) check.tried.resize(size_t(Load(root.ChildCount)) + 1, 0);
  int64_t& tried = check.tried[k];
  if (tried < 0) return;

  ThreatBudget budget;
  budget.maxNodes = tried == 0 ? kFirstNodes : std::min(2 * tried, kMostNodes);
  budget.deadlineMs = check.endMs;
  budget.clock = &clock;
  Board after = search.rootBoard;
  after.at(child.x, child.y) = Own;
  Verdict verdict = search.solver.FindVCF(after, Opponent, budget).verdict;
  if (verdict == Verdict::NoWin) verdict = search.solver.FindVCT(after, Opponent, budget).verdict;
  ++check.checks;
  if (verdict == Verdict::Win) {
    ++check.losses;
    Log("Root check: ", int(child.x), ",", int(child.y), " loses to a forced win");
    MarkProven(child, kProvenLoss);
    BackupProof(search, leader);
  } else if (verdict != Verdict::Unknown) {
    tried = RootCheck::kDone;  // safe, or a position the solver cannot search
  } else if (clock.NowMs() < check.endMs) {
    tried = budget.maxNodes >= kMostNodes ? RootCheck::kDone : budget.maxNodes;
  }
  check.spentMs += clock.NowMs() - now;
}

}  // namespace kestrova
