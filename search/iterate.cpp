#include <cmath>

#include "engine/log.h"
#include "search/tree.h"

namespace kestrova {

namespace {

// Computed in double precision and rounded once to the stored float.
inline float UcbScore(float total, int32_t visits, int32_t parentVisits) {
  const double n = visits;
  return static_cast<float>(double(total) / n + 3.0 * (std::sqrt(double(parentVisits) / n) - 1.0));
}

}  // namespace

void ComputeUCB1(Search& search, int32_t child) {
  TreeNode& c = search.nodes[child];
  c.UCB1_Score = UcbScore(c.Total, c.Visits, search.nodes[c.ParentID].Visits);
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
    // The node is the children's parent: its visits are read once. The scores are worked
    // out in one pass of independent divisions and roots, which the processor runs side by
    // side; each is still exactly UcbScore's.
    const double parentVisits = n.Visits;
    double totals[kMaxSPoints], visits[kMaxSPoints], ucb[kMaxSPoints];
    for (int k = 0; k < count; ++k) {
      const TreeNode& c = search.nodes[first + k];
      totals[k] = c.Total;
      visits[k] = c.Visits;
    }
    for (int k = 0; k < count; ++k)
      ucb[k] = totals[k] / visits[k] + 3.0 * (std::sqrt(parentVisits / visits[k]) - 1.0);
    float scores[kMaxSPoints + 1];
    float best = -100000.0f;
    for (int k = 0; k < count; ++k) {
      scores[k] = search.nodes[first + k].UCB1_Score = static_cast<float>(ucb[k]);
      if (scores[k] > best) best = scores[k];
    }
    int32_t ties[kMaxSPoints + 1];
    int tieCount = 0;
    for (int k = 0; k < count; ++k)
      if (scores[k] == best) ties[++tieCount] = first + k;
    node = ties[search.rng.Draw(tieCount)];
  }
}

}  // namespace kestrova
