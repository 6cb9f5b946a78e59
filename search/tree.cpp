#include "search/tree.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <thread>
#include <type_traits>

#include "core/log.h"

#ifdef KESTROVA_CHECK_INCREMENTAL
#include <cstdio>
#include <cstdlib>
#endif

namespace kestrova {
namespace {

constexpr int64_t kDefaultStoreBytes = int64_t(1) << 30;
// What the process needs besides the node store: code, stacks, scan buffers, I/O.
constexpr int64_t kProcessReserve = int64_t(32) << 20;
// And for each further search thread: its scan state, scanner and stack (about 1 MiB used).
constexpr int64_t kHelperReserve = int64_t(4) << 20;
constexpr int32_t kNoBest = -300;  // below every S_Score
constexpr int32_t kMaxStoreNodes = INT32_MAX / 2;

}  // namespace

NodeStore::NodeStore() {
  blocks_.reserve(kMaxStoreNodes / kBlockNodes + 1);
}

// Blocks are calloc'd: a node must be valid as zero bytes.
static_assert(std::is_trivial_v<TreeNode>);

void NodeStore::FreeBlock::operator()(TreeNode* block) const {
  std::free(block);
}

void NodeStore::resize(int32_t n) {
  const size_t blocksNeeded = (size_t(n) + kBlockNodes - 1) >> kBlockBits;
  while (blocks_.size() < blocksNeeded) {
    // A fresh block comes zeroed from the system and its pages are touched only as nodes are
    // written, so a thread growing the store under the lock does not zero a megabyte there.
    auto* block = static_cast<TreeNode*>(std::calloc(kBlockNodes, sizeof(TreeNode)));
    if (block == nullptr) throw std::bad_alloc();
    blocks_.emplace_back(block);
  }
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

Search::Search(const Patterns& patterns, uint64_t seed)
    : Worker(patterns, seed), patterns(patterns), seed(seed) {
  SetMemoryLimit(*this, 0);
  ResetTree(*this);
}

int ClampThreads(int64_t n) {
  const int64_t cores = std::max(1u, std::thread::hardware_concurrency());
  return int(n <= 0 ? cores : std::min(n, cores));
}

void SetThreads(Search& search, int64_t n) {
  UseThreads(search, ClampThreads(n));
}

void UseThreads(Search& search, int n) {
  search.threads = std::max(1, n);
  while (int(search.helpers.size()) + 1 < search.threads) {
    // Each helper draws from its own sequence, fixed by the search's seed.
    auto worker =
        std::make_unique<Worker>(search.patterns, search.seed + search.helpers.size() + 1);
    worker->scanner.SetRule(search.scanner.rule());
    search.helpers.push_back(std::move(worker));
  }
}

void SetMemoryLimit(Search& search, int64_t maxMemoryBytes) {
  int64_t storeBytes = kDefaultStoreBytes;
  const int64_t reserve = kProcessReserve + int64_t(search.helpers.size()) * kHelperReserve;
  if (maxMemoryBytes > 0) storeBytes = std::max(maxMemoryBytes - reserve, maxMemoryBytes / 2);
  int64_t nodes = storeBytes / int64_t(sizeof(TreeNode));
  nodes -= nodes % NodeStore::kBlockNodes;  // whole blocks only, so no block crosses it
  search.maxNodes = std::clamp<int64_t>(nodes, NodeStore::kBlockNodes, kMaxStoreNodes);
}

void ResetTree(Search& search) {
  // Shrinking keeps the first block and zeroes what it held: no new allocation.
  search.nodes.resize(1);
  search.nodes[0] = TreeNode{};
  search.lastNodeIndex = 0;
  search.rootIndex = 0;
  search.resetPending = false;
}

void FollowRule(Search& search, Rule rule) {
  if (search.scanner.rule() == rule) return;
  search.scanner.SetRule(rule);
  for (auto& helper : search.helpers) helper->scanner.SetRule(rule);
  search.solver.SetRule(rule);
  ResetTree(search);  // its terminal nodes were judged by the other rule
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

namespace {

// Brings the scan state to the given stones on top of the root board: the stones past
// the common prefix are taken back, last first, and the new ones placed.
void MoveScanState(const Search& search, Worker& worker, const std::vector<PlacedStone>& stones) {
  ScanState& state = worker.scanState;
  std::vector<PlacedStone>& placed = worker.placed;
  if (worker.scanRoot != search.rootBoard) {
    for (auto s = placed.rbegin(); s != placed.rend(); ++s) state.Set(s->cell, s->before);
    placed.clear();
    // A new turn's root is a stone or two away; anything else is scanned afresh.
    int changed = 0;
    for (int c = 0; c < kCells; ++c)
      changed += worker.scanRoot.cells[c] != search.rootBoard.cells[c];
    if (changed > 8) {
      state.Reset(search.rootBoard);
    } else {
      for (int c = 0; c < kCells; ++c) state.Set(c, search.rootBoard.cells[c]);
    }
    worker.scanRoot = search.rootBoard;
  }
  size_t common = 0;
  while (common < placed.size() && common < stones.size() &&
         placed[common].cell == stones[common].cell && placed[common].code == stones[common].code)
    ++common;
  while (placed.size() > common) {
    state.Set(placed.back().cell, placed.back().before);
    placed.pop_back();
  }
  for (size_t k = common; k < stones.size(); ++k) {
    PlacedStone s = stones[k];
    s.before = state.board().cells[s.cell];
    state.Set(s.cell, s.code);
    placed.push_back(s);
  }
}

}  // namespace

int32_t ScanNode(Search& search, Worker& worker, int32_t node, SPointList& spoints) {
  // The stones from the root down to the node, as NodeBoard writes them.
  std::vector<PlacedStone>& path = worker.pathScratch;
  path.clear();
  // A node at the end of this thread's descent, or just below it, has its path recorded.
  const int32_t reached = worker.lossPath.empty() ? search.rootIndex : worker.lossPath.back();
  if (search.sharedTree && (node == reached || search.nodes[node].ParentID == reached)) {
    path = worker.lossStones;
    if (node != reached) path.push_back(StoneOf(search.nodes[node]));
  } else {
    for (int32_t n = node; n != search.rootIndex && n > 0; n = search.nodes[n].ParentID)
      path.push_back(StoneOf(search.nodes[n]));
    std::reverse(path.begin(), path.end());
  }
  MoveScanState(search, worker, path);
#ifdef KESTROVA_CHECK_INCREMENTAL
  Board board;
  NodeBoard(search, node, board);
  if (board != worker.scanState.board()) {
    std::fprintf(stderr, "the scan state is not on the board of node %d\n", node);
    std::abort();
  }
#endif
  return worker.scanner.FindSPoints(worker.scanState, spoints, search.nodes[node].turn);
}

namespace {

// Reserves count new nodes at the end of the store, or returns -1 when it is full.
int32_t ReserveChildren(Search& search, int32_t count) {
  std::unique_lock<std::mutex> lock(search.growth, std::defer_lock);
  if (search.sharedTree) lock.lock();
  const int32_t last = Load(search.lastNodeIndex);
  if (int64_t(last) + count + 1 > search.maxNodes) {
    Store(search.storeFull, true);
    return -1;
  }
  search.nodes.resize(last + count + 1);
  Store(search.lastNodeIndex, last + count);
  return last + 1;
}

// The listed points that are allowed, best first, then the allowed moves the scan did not
// list, as far as the list has room.
void KeepAllowed(const std::vector<Move>& allowed, int turn, SPointList& spoints) {
  SPointList kept;
  int n = 0;
  auto at = [](const SPoint& p, Move m) { return p.x == m.x && p.y == m.y; };
  for (int k = 1; k <= spoints.count(); ++k)
    if (std::any_of(allowed.begin(), allowed.end(), [&](Move m) { return at(spoints[k], m); }))
      kept.items[++n] = spoints[k];
  const int listed = n;
  for (const Move m : allowed) {
    if (n == kMaxSPoints) break;
    if (std::any_of(kept.items.begin() + 1, kept.items.begin() + listed + 1,
                    [&](const SPoint& p) { return at(p, m); }))
      continue;
    SPoint& p = kept.items[++n];
    p.x = m.x;
    p.y = m.y;
    p.side = turn;
  }
  kept.items[0].score = n;
  spoints = kept;
}

}  // namespace

// On several threads, the node (and so each new child until it is evaluated) is claimed by
// the thread that expands it: the children are published with the count, all at once.
void Expand(Search& search, Worker& worker, int32_t node) {
  SPointList spoints;
  const int turn = search.nodes[node].turn;
  ScanNode(search, worker, node, spoints);
  if (node == search.rootIndex && !search.rootAllowed.empty())
    KeepAllowed(search.rootAllowed, turn, spoints);
  const int32_t count = spoints.count();
  const bool shared = search.sharedTree;
  if (count == 0) {
    Log("Expand returned no childred");
    Store(search.nodes[node].ChildCount, -1, std::memory_order_release);
    if (shared) {
      Store(search.nodes[node].mark, int8_t(0));
      DropVirtualLoss(search, worker);
    }
    return;
  }
  const int32_t first = ReserveChildren(search, count);
  if (first < 0) {
    if (shared) {
      Store(search.nodes[node].mark, int8_t(0));
      DropVirtualLoss(search, worker);
    }
    return;
  }
  const int childTurn = turn == Own ? Opponent : Own;
  TreeNode& parent = search.nodes[node];
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
  if (shared) search.nodes[best].mark = 1;  // evaluated below, by this thread
  parent.FirstChild = first;
  Store(parent.ChildCount, count, std::memory_order_release);
  if (shared) Store(parent.mark, int8_t(0));
  Rollout(search, worker, best);
}

bool TreeComplete(const Search& search, int32_t node) {
  std::vector<int32_t> stack = {node};
  while (!stack.empty()) {
    const TreeNode& n = search.nodes[stack.back()];
    stack.pop_back();
    const int32_t count = Load(n.ChildCount, std::memory_order_acquire);
    if (Load(n.isTerminal) != 0 || count < 0) continue;
    if (count == 0 || Load(n.Visits) == 0) return false;  // unexpanded or unevaluated
    for (int k = 1; k <= count; ++k) stack.push_back(n.child(k));
  }
  return true;
}

void CompactTree(Search& search) {
  NodeStore& nodes = search.nodes;
  const int32_t root = search.rootIndex;
  nodes[root].mark = 1;
  int32_t next = 0;
  // Kept nodes move down in creation order, so siblings stay consecutive and every node
  // lands at or below its old index: nothing unread is overwritten.
  for (int32_t old = root; old <= search.lastNodeIndex; ++old) {
    if (!nodes[old].mark) continue;
    TreeNode n = nodes[old];
    n.mark = 0;
    const int32_t now = next++;
    if (old == root) {
      n.ParentID = 0;
    } else if (nodes[n.ParentID].FirstChild == old) {
      nodes[n.ParentID].FirstChild = now;  // the parent has moved already; ParentID is new
    }
    for (int k = 1; k <= n.ChildCount; ++k) {
      TreeNode& c = nodes[n.child(k)];
      c.mark = 1;
      c.ParentID = now;
    }
    nodes[now] = n;
  }
  search.lastNodeIndex = next - 1;
  search.rootIndex = 0;
  nodes.resize(next);
}

}  // namespace kestrova
