#include <cmath>

#include "engine/log.h"
#include "search/tree.h"

namespace kestrova {

void ComputeUCB1(Search& search, int32_t child) {
  TreeNode& c = search.nodes[child];
  const double n = c.Visits;
  const double parentVisits = search.nodes[c.ParentID].Visits;
  c.UCB1_Score =
      static_cast<float>(double(c.Total) / n + 3.0 * (std::sqrt(parentVisits / n) - 1.0));
}

void Iterate(Search& search, int32_t node) {
  Board board;  // the board of node, kept up to date on the way down
  NodeBoard(search, node, board);
  for (;;) {
    TreeNode& n = search.nodes[node];
    if (n.isTerminal == 1) {
      n.Visits += 1;
      n.Total = static_cast<float>(n.RolloutScore);  // replaced, not added to
      Backpropagate(search, node);
      return;
    }
    if (n.ChildCount == 0) {
      ExpandOn(search, node, board);
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
        board.at(child.x, child.y) = static_cast<uint8_t>(n.turn);
        RolloutOn(search, c, board);
        return;
      }
    }
    float best = -100000.0f;
    for (int32_t c = first; c < first + count; ++c) {
      ComputeUCB1(search, c);
      if (search.nodes[c].UCB1_Score > best) best = search.nodes[c].UCB1_Score;
    }
    int32_t ties[kMaxSPoints + 1];
    int tieCount = 0;
    for (int32_t c = first; c < first + count; ++c)
      if (search.nodes[c].UCB1_Score == best) ties[++tieCount] = c;
    node = ties[search.rng.Draw(tieCount)];
    board.at(search.nodes[node].x, search.nodes[node].y) = static_cast<uint8_t>(n.turn);
  }
}

}  // namespace kestrova
