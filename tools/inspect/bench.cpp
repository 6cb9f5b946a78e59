// kestrova bench: fixed searches over fixed positions. The lines and the signature depend
// on nothing but the search's behaviour; the speed figures after them are measured.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "search/turn.h"
#include "threats/puzzles.h"
#include "tools/args.h"
#include "tools/commands.h"
#include "tools/inspect/bench_positions.h"

namespace kestrova::tools {
namespace {

constexpr int64_t kDefaultIterations = 10000;
constexpr uint64_t kDefaultSeed = 20261206;

uint64_t Fnv1a(const std::string& text, uint64_t hash = 14695981039346656037ULL) {
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// The bench's searches without the tree probe, with it, and with its cost alone (the plain
// search's trees), in turns on each position so that all three see the same load on a shared
// machine, each search three times and its fastest run kept. A root the probe solves ends a
// timed search at once: the speeds are those of the positions it leaves to the search.
void ProbeSpeeds(const Patterns& patterns, const std::vector<Board>& boards, int64_t iterations,
                 uint64_t seed) {
  enum Arm { kPlain, kProbe, kCostOnly };
  double seconds[3] = {0, 0, 0};
  int64_t done[3] = {0, 0, 0}, scans[3] = {0, 0, 0}, probes = 0, proofs = 0;
  int solved = 0;
  for (size_t k = 0; k < boards.size(); ++k) {
    double s[3] = {1e9, 1e9, 1e9};
    int64_t n[3], sc[3];
    bool rootSolved = false;
    for (int turn = 0; turn < 9; ++turn) {
      const int arm = (int(k) + turn) % 3;
      GameState game;
      game.GameBoard = boards[k];
      Search search(patterns, seed + k);
      const auto start = std::chrono::steady_clock::now();
      PrepareRoot(game, search);
      if (arm != kPlain) StartProbing(search);
      search.probeCostOnly = arm == kCostOnly;
      for (n[arm] = 0; n[arm] < iterations && !search.storeFull && !search.rootSolved; ++n[arm])
        Iterate(search, search.rootIndex);
      s[arm] = std::min(s[arm], Seconds(std::chrono::steady_clock::now() - start));
      sc[arm] = int64_t(search.scanner.scans);
      if (arm == kProbe && turn < 3) {
        probes += search.probes;
        proofs += search.probeProofs;
        rootSolved = search.rootSolved;
      }
    }
    solved += rootSolved;
    if (rootSolved) continue;
    for (int arm = 0; arm < 3; ++arm) {
      seconds[arm] += s[arm];
      done[arm] += n[arm];
      scans[arm] += sc[arm];
    }
  }
  double rate[3];
  for (int arm = 0; arm < 3; ++arm) rate[arm] = double(done[arm]) / std::max(seconds[arm], 1e-9);
  std::printf("Tree probe: %" PRId64 " probes, %" PRId64 " proofs, %d of %zu roots solved\n",
              probes, proofs, solved, boards.size());
  std::printf(
      "Tree probe on the %zu others: %.0f iterations/s with it, %.3f of the plain search's %.0f "
      "(scans per iteration %.3f with it, %.3f plain); its cost alone %.3f\n",
      boards.size() - size_t(solved), rate[kProbe], rate[kProbe] / rate[kPlain], rate[kPlain],
      double(scans[kProbe]) / double(std::max<int64_t>(done[kProbe], 1)),
      double(scans[kPlain]) / double(std::max<int64_t>(done[kPlain], 1)),
      rate[kCostOnly] / rate[kPlain]);
}

// The bench's searches on 1, 2, ... maxThreads threads sharing one tree, and on as many
// threads each searching a tree of its own (the iterations drawn from one budget): what the
// machine gives independent work, the ceiling of the shared tree. In turns on each position
// so that every arm sees the same load, each three times and its fastest kept.
void ThreadSpeeds(const Patterns& patterns, const std::vector<Board>& boards, int64_t iterations,
                  uint64_t seed, int maxThreads) {
  const size_t arms = size_t(maxThreads) * 2 + 1;  // shared 1..max, separate 2..max
  std::vector<double> seconds(arms, 0);
  std::vector<int64_t> done(arms, 0);
  auto sharedTree = [&](const Board& board, uint64_t s, int threads) {
    GameState game;
    game.GameBoard = board;
    Search search(patterns, s);
    UseThreads(search, threads);
    const auto start = std::chrono::steady_clock::now();
    SearchFixedOnThreads(game, search, iterations);
    return std::make_pair(Seconds(std::chrono::steady_clock::now() - start), search.lastIterations);
  };
  // Each thread searches the position as the single thread does, in a tree of its own of the
  // same size (smaller trees would be cheaper per iteration); the rate is the sum of theirs.
  auto separateTrees = [&](const Board& board, uint64_t s, int threads) {
    std::vector<std::unique_ptr<Search>> searches;
    for (int t = 0; t < threads; ++t) searches.push_back(std::make_unique<Search>(patterns, s + t));
    std::vector<double> took(size_t(threads), 0);
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
      running.emplace_back([&, t] {
        GameState game;
        game.GameBoard = board;
        Search& own = *searches[size_t(t)];
        const auto start = std::chrono::steady_clock::now();
        SearchFixedOnThreads(game, own, iterations);
        took[size_t(t)] = Seconds(std::chrono::steady_clock::now() - start);
      });
    for (std::thread& r : running) r.join();
    double rate = 0;
    for (const double seconds : took) rate += double(iterations) / seconds;
    // As one search of that many iterations at the threads' summed rate.
    return std::make_pair(double(iterations) / rate, iterations);
  };
  for (size_t k = 0; k < boards.size(); ++k) {
    for (size_t arm = 1; arm < arms; ++arm) {
      const int threads = arm <= size_t(maxThreads) ? int(arm) : int(arm) - maxThreads;
      if (threads < 2 && arm > size_t(maxThreads)) continue;  // one separate tree is the shared one
      double fastest = 1e9;
      int64_t made = 0;
      for (int run = 0; run < 3; ++run) {
        const auto [took, n] = arm <= size_t(maxThreads)
                                   ? sharedTree(boards[k], seed + k, threads)
                                   : separateTrees(boards[k], seed + k, threads);
        if (took < fastest) fastest = took, made = n;
      }
      seconds[arm] += fastest;
      done[arm] += made;
    }
  }
  const double one = double(done[1]) / seconds[1];
  for (size_t arm = 1; arm < arms; ++arm) {
    const bool separate = arm > size_t(maxThreads);
    const int threads = separate ? int(arm) - maxThreads : int(arm);
    if (separate && threads < 2) continue;
    const double rate = double(done[arm]) / seconds[arm];
    std::printf("Threads %d, %s: %.0f iterations/s (%.2f of one thread)\n", threads,
                separate ? "a tree each" : "one shared tree", rate, rate / one);
  }
}

}  // namespace

int Bench(int argc, char** argv) {
  int64_t iterations = kDefaultIterations;
  int64_t seed = int64_t(kDefaultSeed);
  ArgParser args("kestrova bench",
                 "usage: kestrova bench [--iterations N] [--seed S] [--tree-probe] [--threads N]\n"
                 "  fixed searches over fixed positions: node counts, signature, speed\n"
                 "  --iterations N  iterations of each search (default 10000)\n"
                 "  --seed S        seed of the searches' tie draws (default 20261206)\n"
                 "  --tree-probe    then the same searches with and without the tree probe,\n"
                 "                  taking turns: their speeds and the probe's proofs\n"
                 "  --threads N     then the same searches on 1 to N threads sharing one tree,\n"
                 "                  taking turns: iterations per second of each count\n");
  bool treeProbe = false;
  int64_t maxThreads = 0;
  args.Integer("--iterations", 1, 1000000000, iterations);
  args.Integer("--seed", 0, INT64_MAX, seed);
  args.Flag("--tree-probe", treeProbe);
  args.Integer("--threads", 1, 1024, maxThreads);
  if (const auto exit = args.Parse(argc, argv)) return *exit;
  const Patterns patterns = BuiltPatterns();
  const std::vector<Board> boards = bench::Boards();

  uint64_t signature = Fnv1a("");
  // A sample of the positions the search scanned, to time the scan alone on them.
  std::vector<std::pair<Board, int>> scanned;
  int64_t nodesSearched = 0, scans = 0, totalIterations = 0;
  // Only the searches are timed: a fresh engine's set-up (its node store, the solver's
  // table) is paid once a game, not once an iteration.
  double searchSeconds = 0;
  for (size_t k = 0; k < boards.size(); ++k) {
    GameState game;
    game.GameBoard = boards[k];
    Search search(patterns, uint64_t(seed) + k);
    const auto start = std::chrono::steady_clock::now();
    const int32_t chosen = SearchFixed(game, search, iterations);
    searchSeconds += Seconds(std::chrono::steady_clock::now() - start);
    const TreeNode& root = search.nodes[search.rootIndex];
    char line[128];
    if (chosen >= 0) {
      const TreeNode& c = search.nodes[chosen];
      std::snprintf(line, sizeof line, "%2zu: move %d,%d nodes %d root visits %d", k + 1, c.x - 1,
                    c.y - 1, search.lastNodeIndex + 1, root.Visits);
    } else {
      std::snprintf(line, sizeof line, "%2zu: no move nodes %d root visits %d", k + 1,
                    search.lastNodeIndex + 1, root.Visits);
    }
    std::printf("%s\n", line);
    std::fflush(stdout);  // into a file too, a stopped bench keeps the lines it finished
    signature = Fnv1a(std::string(line) + "\n", signature);
    nodesSearched += search.lastNodeIndex + 1;
    for (int32_t n = 1; n <= search.lastNodeIndex; n += std::max(1, search.lastNodeIndex / 64)) {
      if (search.nodes[n].Visits == 0) continue;
      Board board;
      NodeBoard(search, n, board);
      scanned.emplace_back(board, search.nodes[n].turn);
    }
    scans += int64_t(search.scanner.scans);
    totalIterations += iterations;
  }

  // The scan alone on positions the search scanned: the search's own overhead shows as the
  // gap between the two rates.
  Scanner scanner(patterns);
  SPointList spoints;
  int64_t bareScans = 0;
  const auto scanStart = std::chrono::steady_clock::now();
  do {
    for (const auto& [board, turn] : scanned) scanner.FindSPoints(board, spoints, turn);
    bareScans += int64_t(scanned.size());
  } while (Seconds(std::chrono::steady_clock::now() - scanStart) < 0.5);
  const double scanSeconds = Seconds(std::chrono::steady_clock::now() - scanStart);

  std::printf("Nodes searched: %" PRId64 "\n", nodesSearched);
  std::printf("Signature: %016" PRIx64 "\n", signature);
  std::printf("Iterations/s: %.0f\n", double(totalIterations) / searchSeconds);
  std::printf("Scans/s: %.0f\n", double(scans) / searchSeconds);
  std::printf("Nodes/s: %.0f\n", double(nodesSearched) / searchSeconds);
  std::printf("Scans/s of the scan alone on searched positions: %.0f (search: %.2f of it)\n",
              double(bareScans) / scanSeconds,
              (double(scans) / searchSeconds) / (double(bareScans) / scanSeconds));

  // The threat solver on its own fixed puzzles: the counts are deterministic, the rate is not.
  const auto solveStart = std::chrono::steady_clock::now();
  const PuzzleScore puzzles = SolveThreatPuzzles();
  const double solveSeconds = Seconds(std::chrono::steady_clock::now() - solveStart);
  std::printf("Threat solver: %d/%d puzzles solved, %" PRId64 " nodes, %.0f nodes/s\n",
              puzzles.solved, puzzles.total, puzzles.nodes,
              double(puzzles.nodes) / std::max(solveSeconds, 1e-9));
  if (treeProbe) ProbeSpeeds(patterns, boards, iterations, uint64_t(seed));
  // No more threads than the machine has cores: more would only take turns on them.
  if (maxThreads > 0)
    ThreadSpeeds(patterns, boards, iterations, uint64_t(seed), ClampThreads(maxThreads));
  return 0;
}

}  // namespace kestrova::tools
