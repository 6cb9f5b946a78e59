#include <cmath>

#include "patterns/shape_value.h"
#include "search/tree.h"

namespace kestrova {

// The node is this thread's until its value is published with its first visit.
void Rollout(Search& search, Worker& worker, int32_t node) {
  SPointList spoints;
  int32_t v = ScanNode(search, worker, node, spoints);
  TreeNode& n = search.nodes[node];
  if (search.shaping && v != kFiveValue && v != -kFiveValue)
    v = ShapeValue(worker.scanState, n.turn, v);
  // Seen from the player who moved into the node.
  int32_t score = n.turn == Opponent ? v : -v;
  int8_t terminal = (score == kFiveValue || score == -kFiveValue) ? 1 : 0;
  // A win for the side to move is a loss for the player who moved here, whatever the scan says.
  const bool proven = search.probing && terminal == 0 && ProbeWins(search, worker, n.turn, spoints);
  if (proven && !search.probeCostOnly) {
    terminal = kProvenLoss;
    score = -kFiveValue;
  }
  Store(n.RolloutScore, score);
  Store(n.Total, static_cast<float>(score));
  Store(n.isTerminal, terminal);
  Store(n.Visits, 1, std::memory_order_release);
  if (search.sharedTree) {
    Store(n.mark, int8_t(0), std::memory_order_release);
    PrefetchPath(search, worker);
  }
  Backpropagate(search, worker, node);
  if (search.probing && !search.probeCostOnly && terminal != 0) BackupProof(search, node);
}

void Backpropagate(Search& search, Worker& worker, int32_t node) {
  const TreeNode& leaf = search.nodes[node];
  const int32_t s = Load(leaf.RolloutScore);
  const int t = leaf.turn;
  const bool shared = search.sharedTree;
  // On several threads the parents are the descent's path, deepest first; the first
  // localDepth of the path are held back by this thread.
  const auto& path = worker.lossPath;
  ptrdiff_t onPath = ptrdiff_t(path.size()) - (!path.empty() && path.back() == node ? 2 : 1);
  int32_t p = leaf.ParentID;
  int32_t d = 1;
  while (search.nodes[p].RootFlag == 0) {
    TreeNode& n = search.nodes[p];
    const double delta = n.turn == t ? double(s) - d : -(double(s) - d);
    if (!shared) {
      n.Total = static_cast<float>(double(n.Total) + delta);
      n.Visits += 1;
    } else if (onPath < worker.localDepth) {
      worker.local.Add(p, 0, delta);  // the visit was counted on the way down
    } else {
      // The visit was counted, and a virtual loss charged, on the way down.
      AtomicAdd(n.Total, static_cast<float>(delta + kVirtualLoss));
    }
    p = n.ParentID;
    ++d;
    --onPath;
  }
  TreeNode& root = search.nodes[p];
  // The root keeps the best value seen since it became the root, not a sum.
  auto best = [s](float total) {
    return static_cast<float>(std::max(static_cast<int32_t>(std::nearbyint(double(total))), s));
  };
  if (!shared) {
    root.Visits += 1;
    root.Total = best(root.Total);
    return;
  }
  worker.local.Add(p, 1, 0);
  // The best value seen seldom changes: the root's line is written only when it does.
  std::atomic_ref<float> total(root.Total);
  float seen = total.load(std::memory_order_relaxed);
  while (best(seen) != seen &&
         !total.compare_exchange_weak(seen, best(seen), std::memory_order_relaxed)) {
  }
}

void PublishLocal(Search& search, Worker& worker) {
  worker.local.Drain([&search](const LocalStats::Entry& e) {
    TreeNode& n = search.nodes[e.node];
    if (e.visits != 0) AtomicAdd(n.Visits, e.visits);
    if (e.total != 0) AtomicAdd(n.Total, static_cast<float>(e.total));
  });
  worker.sincePublished = 0;
}

}  // namespace kestrova
