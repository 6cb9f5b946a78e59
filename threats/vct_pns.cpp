// Search by fours and open threes as proof-number search: the same moves and replies as the
// depth-first search, a tree in memory instead of iterative deepening.
#include <algorithm>

#include "threats/threat_solver.h"

namespace kestrova {
namespace {

constexpr uint32_t kInfinite = 1u << 30;
// Nodes kept at most: a tree this size takes about 60 MB.
constexpr size_t kMaxTree = size_t(1) << 21;

struct PnNode {
  int32_t move;
  int32_t parent;
  int32_t first = -1;
  int32_t count = 0;
  uint32_t pn = 1, dn = 1;
  bool orNode;   // the attacker is to move
  int8_t depth;  // attacker moves in hand at this node, its own move included
};

void Recompute(std::vector<PnNode>& tree, int n) {
  PnNode& node = tree[n];
  if (node.count == 0) return;
  uint32_t low = kInfinite, sum = 0;
  for (int k = node.first; k < node.first + node.count; ++k) {
    const PnNode& c = tree[k];
    low = std::min(low, node.orNode ? c.pn : c.dn);
    sum = std::min(kInfinite, sum + (node.orNode ? c.dn : c.pn));
  }
  node.pn = node.orNode ? low : sum;
  node.dn = node.orNode ? sum : low;
}

}  // namespace

Verdict ThreatSolver::SolveVctPns(uint8_t attacker, std::vector<Move>& line) {
  const uint8_t outerAttacker = attacker_;
  attacker_ = attacker;
  const uint8_t defender = OtherSide(attacker);
  std::vector<PnNode> tree;
  tree.push_back(PnNode{-1, -1, -1, 0, 1, 1, true, int8_t(options_.maxVctDepth)});
  bool cutSeen = false;
  const size_t base = path_.size();
  auto descend = [&](int n) {
    Place(tree[n].move, tree[n].orNode ? defender : attacker);
    path_.push_back(tree[n].move);
  };
  auto takeBack = [&] {
    while (path_.size() > base) {
      Remove(path_.back());
      path_.pop_back();
    }
  };
  CellList moves;
  while (tree[0].pn != 0 && tree[0].dn != 0 && tree.size() < kMaxTree && !OutOfBudget()) {
    int n = 0;
    while (tree[n].count > 0) {
      int best = tree[n].first;
      for (int k = best + 1; k < tree[n].first + tree[n].count; ++k)
        if (tree[n].orNode ? tree[k].pn < tree[best].pn : tree[k].dn < tree[best].dn) best = k;
      n = best;
      descend(n);
    }
    PnNode leaf = tree[n];
    bool settled = false;
    if (leaf.orNode) {
      CellList fives;
      index_.FiveCells(attacker, fives);
      bool threesCut = false;
      if (!fives.empty()) {
        leaf.pn = 0, leaf.dn = kInfinite, settled = true;
      } else if (leaf.depth < 2 || !VctMoves(leaf.depth, moves, threesCut) || moves.empty()) {
        cutSeen = cutSeen || leaf.depth < 2;
        leaf.pn = kInfinite, leaf.dn = 0, settled = true;
      }
      cutSeen = cutSeen || threesCut;
    } else {
      switch (DefenderReplies(leaf.depth, moves)) {
        case Reply::TwoFives:
          leaf.pn = 0, leaf.dn = kInfinite, settled = true;
          break;
        case Reply::Cut:
          cutSeen = true;
          [[fallthrough]];
        case Reply::Holds:
          leaf.pn = kInfinite, leaf.dn = 0, settled = true;
          break;
        case Reply::Moves:
          break;
      }
    }
    if (!settled) {
      leaf.first = int32_t(tree.size());
      leaf.count = int32_t(moves.size());
      const int8_t childDepth = int8_t(leaf.orNode ? leaf.depth : leaf.depth - 1);
      for (int c : moves.cells) tree.push_back(PnNode{c, n, -1, 0, 1, 1, !leaf.orNode, childDepth});
    }
    tree[n] = leaf;
    for (int m = n; m >= 0; m = tree[m].parent) Recompute(tree, m);
    takeBack();
  }
  Verdict verdict = Verdict::Unknown;
  if (tree[0].pn == 0) {
    // The line: the proving move at each attacker node, the first reply at each defender's.
    int n = 0;
    while (tree[n].count > 0) {
      int next = tree[n].first;
      if (tree[n].orNode)
        while (tree[next].pn != 0) ++next;
      n = next;
      descend(n);
    }
    CellList fives;
    index_.FiveCells(attacker, fives);
    line.clear();
    for (size_t k = base; k < path_.size(); ++k) line.push_back(CellMove(path_[k]));
    for (size_t k = 0; k < fives.size() && k < 2; ++k) line.push_back(CellMove(fives[k]));
    if (tree[n].orNode) line.resize(line.size() - (fives.size() >= 2));
    takeBack();
    verdict = Verdict::Win;
  } else if (tree[0].dn == 0 && !cutSeen) {
    verdict = Verdict::NoWin;
  }
  attacker_ = outerAttacker;
  return verdict;
}

}  // namespace kestrova
