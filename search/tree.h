// The search tree: nodes in one index-addressed store, children of a node consecutive.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "core/board.h"
#include "patterns/scan_state.h"
#include "search/local_stats.h"
#include "threats/threat_solver.h"

namespace kestrova {

// A node does not carry its board: the board is the root's board plus the moves on the
// path up to the root, rebuilt when the node is expanded or evaluated. That keeps a
// node at a few dozen bytes, so the same memory holds a far bigger tree.
struct TreeNode {
  int32_t ParentID;
  float Total;
  int32_t Visits;
  int32_t ChildCount;  // 0 not expanded, -1 dead end, n >= 1 children
  int32_t RolloutScore;
  float UCB1_Score;
  int32_t FirstChild;  // children are FirstChild .. FirstChild + ChildCount - 1
  int16_t S_Score;
  uint8_t x, y;  // location: the cell of the move into this node
  int8_t turn;
  int8_t RootFlag;
  int8_t isTerminal;  // 0 open, 1 a five on the board, kProvenWin or kProvenLoss
  // Set while the store is compacted (a node kept), and during a search on several
  // threads while one of them expands or evaluates the node (a claim).
  int8_t mark;

  // Child number k, counted from 1 as in the child list.
  int32_t child(int k) const { return FirstChild + k - 1; }
};

// Node fields that search threads share are read and written through these. On one thread
// a relaxed atomic load or store is a plain move, so the single-threaded search pays nothing.
template <class T>
T Load(const T& field, std::memory_order order = std::memory_order_relaxed) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(order);
}
template <class T>
void Store(T& field, T value, std::memory_order order = std::memory_order_relaxed) {
  std::atomic_ref<T>(field).store(value, order);
}
template <class T>
void AtomicAdd(T& field, T delta) {
  std::atomic_ref<T>(field).fetch_add(delta, std::memory_order_relaxed);
}

// What a descent on several threads charges each node it passes, taken back when its value
// is backed up: the value of a lost game, so the other threads look elsewhere meanwhile.
constexpr float kVirtualLoss = float(kFiveValue);

// Proofs of the tree probe, for the player who moved into the node. A proven node is a leaf
// of exact value, kFiveValue or -kFiveValue, on every visit.
constexpr int8_t kProvenWin = 2;
constexpr int8_t kProvenLoss = 3;

// A five made by the move into the node wins as surely as a proof.
inline bool ProvenWin(const TreeNode& n) {
  const int8_t terminal = Load(n.isTerminal);
  return terminal == kProvenWin || (terminal == 1 && Load(n.RolloutScore) == kFiveValue);
}

// Blocks of nodes, so growth never moves or copies the nodes already made; the list of
// blocks has room for the largest store from the start, so a search thread reading a node
// never meets the list being moved by another thread that grows it.
class NodeStore {
 public:
  static constexpr int kBlockBits = 15;
  static constexpr int32_t kBlockNodes = 1 << kBlockBits;
  NodeStore();

  TreeNode& operator[](int32_t i) { return blocks_[i >> kBlockBits][i & (kBlockNodes - 1)]; }
  const TreeNode& operator[](int32_t i) const {
    return blocks_[i >> kBlockBits][i & (kBlockNodes - 1)];
  }
  int32_t size() const { return size_; }
  // Grows to n zeroed nodes, or shrinks to n nodes and frees the blocks no longer used.
  void resize(int32_t n);

 private:
  struct FreeBlock {
    void operator()(TreeNode* block) const;
  };
  std::vector<std::unique_ptr<TreeNode[], FreeBlock>> blocks_;
  // Written as the store grows; the list of blocks is read on every node access.
  alignas(64) int32_t size_ = 0;
};

// Uniform integers for the tie draw; the seed is injectable so searches can be replayed.
class Rng {
 public:
  explicit Rng(uint64_t seed) : gen_(seed) {}
  // Uniform in 1..n, without the bias of a plain modulo.
  int32_t Draw(int32_t n);

 private:
  std::mt19937_64 gen_;
};

uint64_t RandomSeed();

// A stone the scan state holds beyond its root board, with what the cell held before.
struct PlacedStone {
  int16_t cell;
  uint8_t code, before;
};

// The stone the move into a node puts on the board.
inline PlacedStone StoneOf(const TreeNode& n) {
  return PlacedStone{int16_t(n.x * kGrid + n.y), uint8_t(5 - n.turn), 0};
}

// What each search thread has of its own: the scan of the node it is at, its random draws,
// its counts. On cache lines of its own: a thread writes here all the time, and another
// thread reading a neighbour of these fields would miss its cache on every read.
struct alignas(64) Worker {
  Worker(const Patterns& patterns, uint64_t seed)
      : scanner(patterns), scanState(scanner), rng(seed) {}

  Scanner scanner;
  // The windows of the last node scanned: scanRoot plus the stones of placed. The next
  // node is reached through the deepest node the two paths share.
  ScanState scanState;
  Board scanRoot{};
  std::vector<PlacedStone> placed;
  std::vector<PlacedStone> pathScratch;
  Rng rng;
  int64_t probes = 0;  // nodes probed, and the proofs found there
  int64_t probeProofs = 0;
  // The nodes this thread's descent has charged a virtual loss, root side first, and the
  // stones of their moves: read as the node is charged, they spare the scan a second walk
  // over the lines near the root that the other threads keep writing.
  std::vector<int32_t> lossPath;
  std::vector<PlacedStone> lossStones;
  // The first localDepth nodes of lossPath are busy ones whose visit this thread holds back in
  // local instead of charging a virtual loss; the root's visits are always held back.
  LocalStats local;
  int localDepth = 0;
  int sincePublished = 0;  // iterations since local was last published
};

// The tree and everything the search threads share; the search's own worker is the first
// thread's, and helpers holds one more for each further thread.
struct Search : Worker {
  Search(const Patterns& patterns, uint64_t seed);

  // Read on every step of every descent: no field that is written during a search may share
  // its cache line, or each thread's writes would make the other miss it.
  alignas(64) NodeStore nodes;
  int32_t rootIndex = 0;
  Board rootBoard{};           // the position of node rootIndex
  bool resetPending = false;   // the next turn must start from a fresh tree
  int64_t lastIterations = 0;  // iterations of the last searched turn, for the speed figures
  int64_t maxNodes = 0;        // the bound of the node store, in nodes
  const Patterns& patterns;
  uint64_t seed;
  // Search threads of a timed search; the fixed-iteration search always runs on one.
  int threads = 1;
  // True while several threads search the tree: statistics are then added atomically and
  // each descent charges its path a virtual loss.
  bool sharedTree = false;
  std::vector<std::unique_ptr<Worker>> helpers;
  // Written on every expansion, so on a line of their own.
  alignas(64) std::mutex growth;  // taken by a thread that adds children to the store
  int32_t lastNodeIndex = 0;
  // Read after every iteration and written about once a search, so off the growth line.
  // Set from outside (END, end of input) to end the search under way at its next pass.
  alignas(64) std::atomic<bool> stopRequested{false};
  bool storeFull = false;  // an expansion was refused: the node store hit its bound
  // Consulted before each searched turn; off, the turn is the tree search alone.
  bool useThreats = true;
  // Threes too, not only fours, at the root and in checks of the leading root move: off, since
  // against the peer engines it scored no better than fours alone (20 and 31 of 80 games at
  // 1 s a move), the VCT's defences being too often undecided within a turn.
  bool useVct = false;
  // With useThreats: each node the timed search evaluates is probed for a win by fours in one
  // or two moves, and the proofs are backed up the tree. The fixed-iteration search never
  // probes.
  bool treeProbe = true;
  bool probing = false;  // the probe is on for the search under way
  // With useThreats: the timed search values its leaves by the shape value fitted to game
  // results, where the scan's value alone foretold the winner barely better than a coin.
  bool shapeValue = true;
  bool shaping = false;        // the shape value is on for the search under way
  bool rootSolved = false;     // a root move is a proven win, or every one a proven loss
  bool rootFiveCell = false;   // either side could make five on the root's board
  bool probeCostOnly = false;  // for measuring: probe, but keep the plain search's tree
  // When not empty: the only moves the root may have as children (the refutations of a
  // forced win of the opponent's), so the whole turn goes into telling them apart.
  std::vector<Move> rootAllowed;
  ThreatSolver solver;
};

// Discards every node and starts a tree of one zeroed node, index 0.
void ResetTree(Search& search);

// Makes the scan, the solver and so the tree count a win by rule; a tree grown under
// another rule is discarded.
void FollowRule(Search& search, Rule rule);

// The number of search threads for a request of n: 0 or less means one per core, and no
// more than the machine has cores.
int ClampThreads(int64_t n);

// The board of a node at or below the current root.
void NodeBoard(const Search& search, int32_t node, Board& board);

// Scans the board of a node at or below the current root, from the worker's maintained
// windows.
int32_t ScanNode(Search& search, Worker& worker, int32_t node, SPointList& spoints);

// Each runs on the given worker's scan; without one, on the search's own (the first thread).
void Expand(Search& search, Worker& worker, int32_t node);
void Rollout(Search& search, Worker& worker, int32_t node);
// False only when the descent gave up on a node another thread holds: nothing was done.
bool Iterate(Search& search, Worker& worker, int32_t node);
inline void Expand(Search& search, int32_t node) {
  Expand(search, search, node);
}
inline void Rollout(Search& search, int32_t node) {
  Rollout(search, search, node);
}
inline bool Iterate(Search& search, int32_t node) {
  return Iterate(search, search, node);
}
void Backpropagate(Search& search, Worker& worker, int32_t node);
// Adds what the worker has held back to the shared nodes.
void PublishLocal(Search& search, Worker& worker);
// On several threads: asks for the lines of the worker's descent path ahead of its backup,
// which would otherwise wait for them one by one as it walks up the parents.
void PrefetchPath(Search& search, const Worker& worker);
// Takes back the virtual loss of a descent that ends without a value to back up.
void DropVirtualLoss(Search& search, Worker& worker);
// Stores the selection score of each of a node's count children, first to last, in scores,
// and on one thread in its UCB1_Score too; every child has been visited.
// With local, the statistics are the shared ones plus what that thread holds back.
void ComputeUCB1(Search& search, int32_t first, int count, float* scores,
                 const LocalStats* local = nullptr);

// Sets the number of threads of the timed search, clamped as ClampThreads does.
void SetThreads(Search& search, int64_t n);
// The same, unclamped (at least one): n threads even on a machine with fewer cores.
void UseThreads(Search& search, int n);

// Proves node, unproven so far, won or lost for the player who moved into it: its value is
// exact from now on.
void MarkProven(TreeNode& n, int8_t proof);

// Turns the probe on for a search from the current root.
void StartProbing(Search& search);
// While search.probing: whether the side to move at the node whose board the scan state holds
// (reached from the root through search.placed) and whose candidates are spoints wins by a
// five now, or by a move that makes two. Both are proofs: nothing the other side does helps.
bool ProbeWins(Search& search, Worker& worker, int turn, const SPointList& spoints);
// Backs up the proof of a node just proven (or just found to hold a five): its parent is lost
// for the player who moved into it when this node is won, and won when every child is lost.
// Stops below the root, whose verdict goes to search.rootSolved.
void BackupProof(Search& search, int32_t node);
// Whether a root move is a proven win, or every root move a proven loss.
bool RootSolved(const Search& search);

// True when nothing below node is left to search: every line ends in a terminal node or
// a dead end.
bool TreeComplete(const Search& search, int32_t node);

// Keeps only the subtree below the root, renumbered from 0 in creation order, in place.
void CompactTree(Search& search);

// Sets the node store's bound from the manager's max_memory (0 = no limit).
void SetMemoryLimit(Search& search, int64_t maxMemoryBytes);

}  // namespace kestrova
