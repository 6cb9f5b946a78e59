#include <cmath>

#include "core/log.h"
#include "search/tree.h"

namespace kestrova {

void ComputeUCB1(Search& search, int32_t first, int count, float* scores) {
  // The parent's visits are read once; the scores are worked out in one pass of
  // independent divisions and roots, which the processor runs side by side. Each is
  // computed in double precision and rounded once to the stored float.
  const double parentVisits = search.nodes[search.nodes[first].ParentID].Visits;
  double totals[kMaxSPoints], visits[kMaxSPoints], ucb[kMaxSPoints];
  for (int k = 0; k < count; ++k) {
    const TreeNode& c = search.nodes[first + k];
    totals[k] = c.Total;
    visits[k] = c.Visits;
  }
  for (int k = 0; k < count; ++k)
    ucb[k] = totals[k] / visits[k] + 3.0 * (std::sqrt(parentVisits / visits[k]) - 1.0);
  for (int k = 0; k < count; ++k)
    scores[k] = search.nodes[first + k].UCB1_Score = static_cast<float>(ucb[k]);
}

void Iterate(Search& search, int32_t node) {
  for (;;) {
    TreeNode& n = search.nodes[node];
    if (n.isTerminal == 1) {
      n.Visits += 1;
      n.Total = static_cast<float>(n.RolloutScore);  // replaced, not added to
      Backpropagate(search, node);
      return;
    }
    if (n.isTerminal != 0) {  // a proof: the same exact value on every visit
      n.Visits += 1;
      n.Total = static_cast<float>(double(n.RolloutScore) * n.Visits);
      Backpropagate(search, node);
      return;
    }
    if (n.ChildCount == 0) {
      Expand(search, node);
      return;
    }
    if (n.ChildCount < 0) {
      Log("Poisoned... null?");
      return;
    }
    const int count = n.ChildCount;
    const int32_t first = n.FirstChild;
    for (int32_t c = first; c < first + count; ++c) {
      const TreeNode& child = search.nodes[c];
      if (child.Visits == 0) {
        Rollout(search, c);
        return;
      }
    }
    float scores[kMaxSPoints + 1];
    ComputeUCB1(search, first, count, scores);
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
        lostTie = lostTie || search.nodes[ties[t]].isTerminal == kProvenLoss;
      if (lostTie) {
        for (int k = 0; k < count; ++k)
          if (search.nodes[first + k].isTerminal == kProvenLoss) scores[k] = -INFINITY;
        pick();
      }
    }
    // Every move lost: that happens only at the root, and the turn then ends.
    if (tieCount == 0) return;
    node = ties[search.rng.Draw(tieCount)];
  }
}

}  // namespace kestrova
