#include "search/tree.h"

#include <algorithm>

#include "engine/log.h"

namespace kestrova {
namespace {

constexpr int64_t kDefaultStoreBytes = int64_t(1) << 30;
// What the process needs besides the node store: code, stacks, scan buffers, I/O.
constexpr int64_t kProcessReserve = int64_t(32) << 20;
constexpr int32_t kNoBest = -300;  // below every S_Score

}  // namespace

void NodeStore::resize(int32_t n) {
  const size_t blocksNeeded = (size_t(n) + kBlockNodes - 1) >> kBlockBits;
  while (blocks_.size() < blocksNeeded) blocks_.emplace_back(new TreeNode[kBlockNodes]());
  if (n < size_) {
    // Nodes past the new end must read as zero when the store grows again.
    for (int32_t i = n; i < std::min<int64_t>(size_, int64_t(blocksNeeded) << kBlockBits); ++i)
      (*this)[i] = TreeNode{};
    blocks_.resize(blocksNeeded);
  }
  size_ = n;
}

int32_t Rng::Draw(int32_t n) {
  const uint64_t range = uint64_t(n);
  const uint64_t limit = UINT64_MAX - UINT64_MAX % range;
  uint64_t r;
  do r = gen_();
  while (r >= limit);
  return int32_t(r % range) + 1;
}

uint64_t RandomSeed() {
  std::random_device device;
  return (uint64_t(device()) << 32) ^ device();
}

Search::Search(const Patterns& patterns, uint64_t seed) : scanner(patterns), rng(seed) {
  SetMemoryLimit(*this, 0);
  ResetTree(*this);
}

void SetMemoryLimit(Search& search, int64_t maxMemoryBytes) {
  int64_t storeBytes = kDefaultStoreBytes;
  if (maxMemoryBytes > 0)
    storeBytes = std::max(maxMemoryBytes - kProcessReserve, maxMemoryBytes / 2);
  int64_t nodes = storeBytes / int64_t(sizeof(TreeNode));
  nodes -= nodes % NodeStore::kBlockNodes;  // whole blocks only, so no block crosses it
  search.maxNodes = std::clamp<int64_t>(nodes, NodeStore::kBlockNodes, INT32_MAX / 2);
}

void ResetTree(Search& search) {
  // Shrinking keeps the first block and zeroes what it held: no new allocation.
  search.nodes.resize(1);
  search.nodes[0] = TreeNode{};
  search.lastNodeIndex = 0;
  search.rootIndex = 0;
  search.resetPending = false;
}

void NodeBoard(const Search& search, int32_t node, Board& board) {
  board = search.rootBoard;
  // Parents always have lower indices than their children, so the climb ends.
  while (node != search.rootIndex && node > 0) {
    const TreeNode& n = search.nodes[node];
    board.at(n.x, n.y) = static_cast<uint8_t>(5 - n.turn);  // the parent's turn code
    node = n.ParentID;
  }
}

void Expand(Search& search, int32_t node) {
  Board board;
  NodeBoard(search, node, board);
  ExpandOn(search, node, board);
}

void ExpandOn(Search& search, int32_t node, Board& board) {
  SPointList spoints;
  const int turn = search.nodes[node].turn;
  search.scanner.FindSPoints(board, spoints, turn);
  const int32_t count = spoints.count();
  if (count == 0) {
    Log("Expand returned no childred");
    search.nodes[node].ChildCount -= 1;
    return;
  }
  if (int64_t(search.lastNodeIndex) + count + 1 > search.maxNodes) {
    search.storeFull = true;
    return;
  }
  const int childTurn = turn == Own ? Opponent : Own;
  const int32_t first = search.lastNodeIndex + 1;
  search.nodes.resize(search.lastNodeIndex + count + 1);
  TreeNode& parent = search.nodes[node];
  parent.ChildCount = count;
  parent.FirstChild = first;
  int32_t best = -1, bestScore = kNoBest;
  for (int i = 1; i <= count; ++i) {
    const SPoint& point = spoints[i];
    const int32_t k = first + i - 1;
    TreeNode& child = search.nodes[k];
    child.turn = static_cast<int8_t>(childTurn);
    child.ParentID = node;
    child.x = static_cast<uint8_t>(point.x);
    child.y = static_cast<uint8_t>(point.y);
    child.S_Score = static_cast<int16_t>(point.side == turn ? point.score : -point.score);
    if (child.S_Score > bestScore) {
      bestScore = child.S_Score;
      best = k;
    }
  }
  search.lastNodeIndex += count;
  const TreeNode& chosen = search.nodes[best];
  uint8_t& cell = board.at(chosen.x, chosen.y);
  cell = static_cast<uint8_t>(turn);
  RolloutOn(search, best, board);
  cell = Empty;
}

void CompactTree(Search& search) {
  NodeStore& nodes = search.nodes;
  const int32_t root = search.rootIndex;
  nodes[root].keep = 1;
  int32_t next = 0;
  // Kept nodes move down in creation order, so siblings stay consecutive and every node
  // lands at or below its old index: nothing unread is overwritten.
  for (int32_t old = root; old <= search.lastNodeIndex; ++old) {
    if (!nodes[old].keep) continue;
    TreeNode n = nodes[old];
    n.keep = 0;
    const int32_t now = next++;
    if (old == root) {
      n.ParentID = 0;
    } else if (nodes[n.ParentID].FirstChild == old) {
      nodes[n.ParentID].FirstChild = now;  // the parent has moved already; ParentID is new
    }
    for (int k = 1; k <= n.ChildCount; ++k) {
      TreeNode& c = nodes[n.child(k)];
      c.keep = 1;
      c.ParentID = now;
    }
    nodes[now] = n;
  }
  search.lastNodeIndex = next - 1;
  search.rootIndex = 0;
  nodes.resize(next);
}

}  // namespace kestrova
