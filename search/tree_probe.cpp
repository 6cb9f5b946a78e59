// The tree probe: wins in one or two moves found at the nodes the search evaluates, and their
// proofs backed up the tree as exact values. Longer wins by fours follow from those through the
// tree itself: a node whose side faces a four lists only the five cells, so all its moves are
// children and losing them all is a proof.
#include "search/tree.h"

namespace kestrova {
namespace {

// The least a candidate point that makes two fives at once scores: an open four's template
// is worth 70, two fours crossing 60 each and the same side's bonus.
constexpr int32_t kDoubleFiveScore = 60 + kSameSideLift;

// Whether side has a five cell on the node's board: one the root had and nobody filled, or
// one whose run holds a stone played since.
bool HasFiveCell(const Search& search, const Worker& worker, const Board& board, uint8_t side,
                 Rule rule) {
  if (search.rootFiveCell) return true;  // rare enough to be taken as one
  for (const PlacedStone& s : worker.placed)
    if (s.code == side && FiveCellsThrough(board, s.cell, side, rule) > 0) return true;
  return false;
}

bool AllChildrenLost(const Search& search, const TreeNode& n) {
  const int32_t count = Load(n.ChildCount, std::memory_order_acquire);
  if (count <= 0) return false;
  for (int k = 1; k <= count; ++k)
    if (Load(search.nodes[n.child(k)].isTerminal) != kProvenLoss) return false;
  return true;
}

}  // namespace

void MarkProven(TreeNode& n, int8_t proof) {
  const int32_t score = proof == kProvenWin ? kFiveValue : -kFiveValue;
  Store(n.RolloutScore, score);
  Store(n.Total, static_cast<float>(double(score) * Load(n.Visits)));
  Store(n.isTerminal, proof);
}

void StartProbing(Search& search) {
  search.probing = true;
  int x = 0, y = 0;
  search.rootFiveCell =
      FiveCells(search.rootBoard, Own, x, y) + FiveCells(search.rootBoard, Opponent, x, y) > 0;
}

bool ProbeWins(Search& search, Worker& worker, int turn, const SPointList& spoints) {
  const Board& board = worker.scanState.board();
  const uint8_t side = static_cast<uint8_t>(turn), other = OtherSide(side);
  const Rule rule = search.solver.options().rule;
  ++worker.probes;
  // The listed points hold the five cells and the fours worth looking at: a five wins at
  // once, a move that makes two fives wins unless the other side has a five first.
  bool doubleFive = false;
  for (int k = 1; k <= spoints.count(); ++k) {
    const SPoint& p = spoints[k];
    const int cell = p.x * kGrid + p.y;
    if (p.ofMover && p.score >= kFourScore && MakesFive(board, cell, side, rule)) {
      ++worker.probeProofs;
      return true;
    }
    doubleFive = doubleFive || (p.ofMover && p.score >= kDoubleFiveScore &&
                                FiveCellsThrough(board, cell, side, rule) >= 2);
  }
  if (!doubleFive || HasFiveCell(search, worker, board, other, rule)) return false;
  ++worker.probeProofs;
  return true;
}

void BackupProof(Search& search, int32_t node) {
  while (node != search.rootIndex) {
    const TreeNode& n = search.nodes[node];
    const int32_t p = n.ParentID;
    TreeNode& parent = search.nodes[p];
    // The parent's side to move chooses among its children: one won move decides, a lost one
    // only when every other is lost too.
    const bool won = ProvenWin(n);
    if (!won && !AllChildrenLost(search, parent)) return;
    if (p == search.rootIndex) {
      Store(search.rootSolved, true);
      return;
    }
    if (Load(parent.isTerminal) != 0) return;
    MarkProven(parent, won ? kProvenLoss : kProvenWin);
    node = p;
  }
}

bool RootSolved(const Search& search) {
  const TreeNode& root = search.nodes[search.rootIndex];
  const int32_t count = Load(root.ChildCount, std::memory_order_acquire);
  for (int k = 1; k <= count; ++k)
    if (ProvenWin(search.nodes[root.child(k)])) return true;
  return AllChildrenLost(search, root);
}

}  // namespace kestrova
