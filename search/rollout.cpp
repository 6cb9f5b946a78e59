#include <cmath>

#include "search/tree.h"

namespace kestrova {

void Rollout(Search& search, int32_t node) {
  SPointList spoints;
  const int32_t v = ScanNode(search, node, spoints);
  TreeNode& n = search.nodes[node];
  // Seen from the player who moved into the node.
  n.RolloutScore = n.turn == Opponent ? v : -v;
  n.Total = static_cast<float>(n.RolloutScore);
  n.Visits = 1;
  n.isTerminal = (n.RolloutScore == kFiveValue || n.RolloutScore == -kFiveValue) ? 1 : 0;
  if (!search.probing) {
    Backpropagate(search, node);
    return;
  }
  // A win for the side to move is a loss for the player who moved here, whatever the scan says.
  const bool proven = n.isTerminal == 0 && ProbeWins(search, n.turn, spoints);
  if (search.probeCostOnly) {
    Backpropagate(search, node);
    return;
  }
  if (proven) {
    n.isTerminal = kProvenLoss;
    n.RolloutScore = -kFiveValue;
    n.Total = static_cast<float>(n.RolloutScore);
  }
  Backpropagate(search, node);
  if (n.isTerminal != 0) BackupProof(search, node);
}

void Backpropagate(Search& search, int32_t node) {
  const TreeNode& leaf = search.nodes[node];
  const int32_t s = leaf.RolloutScore;
  const int t = leaf.turn;
  int32_t p = leaf.ParentID;
  int32_t d = 1;
  while (search.nodes[p].RootFlag == 0) {
    TreeNode& n = search.nodes[p];
    const double delta = double(s) - d;
    n.Total = static_cast<float>(n.turn == t ? double(n.Total) + delta : double(n.Total) - delta);
    n.Visits += 1;
    p = n.ParentID;
    ++d;
  }
  TreeNode& root = search.nodes[p];
  root.Visits += 1;
  // The root keeps the best value seen since it became the root, not a sum.
  const auto rounded = static_cast<int32_t>(std::nearbyint(double(root.Total)));
  root.Total = static_cast<float>(std::max(rounded, s));
}

}  // namespace kestrova
