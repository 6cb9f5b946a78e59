#include <cmath>

#include "core/log.h"
#include "search/tree.h"

namespace kestrova {
namespace {

// Nodes visited this often are where every thread's descent passes: their visits are held
// back (LocalStats). Below it the virtual loss keeps the threads apart.
constexpr int32_t kLocalVisits = 16;

// Counts the visit of the descent into node: in the worker's own table while the path from the
// root has run through busy nodes only, else in the node, with a virtual loss.
void ChargeVisit(Search& search, Worker& worker, int32_t node) {
  TreeNode& n = search.nodes[node];
  const bool local = size_t(worker.localDepth) == worker.lossPath.size() &&
                     Load(n.Visits) >= kLocalVisits && Load(n.isTerminal) == 0 &&
                     !worker.local.full();
  if (local) {
    worker.local.Add(node, 1, 0);
    ++worker.localDepth;
  } else {
    AtomicAdd(n.Visits, 1);
    AtomicAdd(n.Total, -kVirtualLoss);
  }
  worker.lossPath.push_back(node);
  worker.lossStones.push_back(StoneOf(n));
}

// Claims a node for this thread's expansion or evaluation; false when another has it.
bool Claim(TreeNode& n) {
  int8_t free = 0;
  return std::atomic_ref<int8_t>(n.mark).compare_exchange_strong(free, 1,
                                                                 std::memory_order_acquire);
}

void Unclaim(TreeNode& n) {
  Store(n.mark, int8_t(0), std::memory_order_release);
}

void AddVisit(bool shared, TreeNode& n) {
  if (shared)
    AtomicAdd(n.Visits, 1);
  else
    n.Visits += 1;
}

}  // namespace

void PrefetchPath(Search& search, const Worker& worker) {
  // A node may straddle two lines; the backup reads both ends of it. Asking for a line to
  // write would take it from the other threads: the held-back nodes are only read.
  for (size_t k = size_t(worker.localDepth); k < worker.lossPath.size(); ++k) {
    const TreeNode& n = search.nodes[worker.lossPath[k]];
    __builtin_prefetch(&n.ParentID, 1);
    __builtin_prefetch(&n.mark, 1);
  }
  __builtin_prefetch(&search.nodes[search.rootIndex], 0);
}

void DropVirtualLoss(Search& search, Worker& worker) {
  for (size_t k = 0; k < worker.lossPath.size(); ++k) {
    const int32_t node = worker.lossPath[k];
    if (k < size_t(worker.localDepth)) {
      worker.local.Add(node, -1, 0);
      continue;
    }
    TreeNode& n = search.nodes[node];
    AtomicAdd(n.Visits, -1);
    AtomicAdd(n.Total, kVirtualLoss);
  }
  worker.lossPath.clear();
  worker.lossStones.clear();
  worker.localDepth = 0;
}

void ComputeUCB1(Search& search, int32_t first, int count, float* scores, const LocalStats* local) {
  // The parent's visits are read once; the scores are worked out in one pass of
  // independent divisions and roots, which the processor runs side by side. Each is
  // computed in double precision and rounded once to the stored float.
  const int32_t parent = search.nodes[first].ParentID;
  double parentVisits = Load(search.nodes[parent].Visits);
  double totals[kMaxSPoints], visits[kMaxSPoints], ucb[kMaxSPoints];
  for (int k = 0; k < count; ++k) {
    const TreeNode& c = search.nodes[first + k];
    totals[k] = Load(c.Total);
    visits[k] = Load(c.Visits);
  }
  if (local != nullptr && !local->empty()) {
    if (const LocalStats::Entry* e = local->Find(parent)) parentVisits += e->visits;
    for (int k = 0; k < count; ++k)
      if (const LocalStats::Entry* e = local->Find(first + k)) {
        totals[k] += e->total;
        visits[k] += e->visits;
      }
  }
  // With the shape value the search won more games against the peer engines exploring twice
  // as widely as the plain search does.
  const double exploration = search.shaping ? 6.0 : 3.0;
  for (int k = 0; k < count; ++k)
    ucb[k] = totals[k] / visits[k] + exploration * (std::sqrt(parentVisits / visits[k]) - 1.0);
  for (int k = 0; k < count; ++k) scores[k] = static_cast<float>(ucb[k]);
  // Kept in the nodes only for the trace; on several threads every descent would write the
  // cache lines of every child that the other threads are reading.
  if (!search.sharedTree)
    for (int k = 0; k < count; ++k) search.nodes[first + k].UCB1_Score = scores[k];
}

// On several threads each node chosen on the way down is charged a virtual loss, which the
// backup of the value takes back; a descent that meets a node another thread is expanding
// or evaluating gives up, takes its virtual loss back and returns false.
bool Iterate(Search& search, Worker& worker, int32_t node) {
  const bool shared = search.sharedTree;
  worker.lossPath.clear();
  worker.lossStones.clear();
  worker.localDepth = 0;
  for (;;) {
    TreeNode& n = search.nodes[node];
    // A node reached through a virtual loss has had this visit counted already.
    const bool counted = !worker.lossPath.empty();
    const int8_t terminal = Load(n.isTerminal);
    if (terminal == 1) {
      if (!counted) AddVisit(shared, n);
      Store(n.Total, static_cast<float>(Load(n.RolloutScore)));  // replaced, not added to
      if (shared) PrefetchPath(search, worker);
      Backpropagate(search, worker, node);
      return true;
    }
    if (terminal != 0) {  // a proof: the same exact value on every visit
      if (!counted) AddVisit(shared, n);
      Store(n.Total, static_cast<float>(double(Load(n.RolloutScore)) * Load(n.Visits)));
      if (shared) PrefetchPath(search, worker);
      Backpropagate(search, worker, node);
      return true;
    }
    int32_t count = Load(n.ChildCount, std::memory_order_acquire);
    if (count == 0) {
      if (!shared) {
        Expand(search, worker, node);
        return true;
      }
      if (!Claim(n)) {
        DropVirtualLoss(search, worker);
        return false;
      }
      count = Load(n.ChildCount, std::memory_order_acquire);
      if (count == 0) {
        Expand(search, worker, node);  // which gives up the claim
        return true;
      }
      Unclaim(n);  // expanded by another thread since it was read
    }
    if (count < 0) {
      Log("Poisoned... null?");
      if (shared) DropVirtualLoss(search, worker);
      return true;
    }
    const int32_t first = n.FirstChild;
    bool busy = false;
    for (int32_t c = first; c < first + count; ++c) {
      TreeNode& child = search.nodes[c];
      if (Load(child.Visits, std::memory_order_acquire) != 0) continue;
      if (!shared) {
        Rollout(search, worker, c);
        return true;
      }
      if (Claim(child)) {
        if (Load(child.Visits, std::memory_order_acquire) == 0) {
          Rollout(search, worker, c);  // which gives up the claim
          return true;
        }
        Unclaim(child);
      } else {
        busy = true;  // being evaluated: it has no value to compare yet
      }
    }
    if (busy) {
      DropVirtualLoss(search, worker);
      return false;
    }
    float scores[kMaxSPoints + 1];
    // Only the children of a held-back node (or of the root) can be held back themselves.
    const bool local = shared && size_t(worker.localDepth) == worker.lossPath.size();
    ComputeUCB1(search, first, count, scores, local ? &worker.local : nullptr);
    float best = -100000.0f;
    int32_t ties[kMaxSPoints + 1];
    int tieCount = 0;
    auto pick = [&] {
      best = -100000.0f;
      for (int k = 0; k < count; ++k)
        if (scores[k] > best) best = scores[k];
      tieCount = 0;
      for (int k = 0; k < count; ++k)
        if (scores[k] == best) ties[++tieCount] = first + k;
    };
    pick();
    // A proven loss is never chosen again. Its exact value seldom leads, so only a choice that
    // holds one is made again without the proven losses.
    if (search.probing) {
      bool lostTie = false;
      for (int t = 1; t <= tieCount; ++t)
        lostTie = lostTie || Load(search.nodes[ties[t]].isTerminal) == kProvenLoss;
      if (lostTie) {
        for (int k = 0; k < count; ++k)
          if (Load(search.nodes[first + k].isTerminal) == kProvenLoss) scores[k] = -INFINITY;
        pick();
      }
    }
    // Every move lost: that happens only at the root, and the turn then ends.
    if (tieCount == 0) {
      if (shared) DropVirtualLoss(search, worker);
      return true;
    }
    node = ties[worker.rng.Draw(tieCount)];
    if (shared) ChargeVisit(search, worker, node);
  }
}

}  // namespace kestrova
