// kestrova bench: fixed searches over fixed positions. The lines and the signature depend
// on nothing but the search's behaviour; the speed figures after them are measured.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/positions.h"
#include "search/turn.h"
#include "threats/puzzles.h"
#include "tools/args.h"
#include "tools/commands.h"

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

}  // namespace

int Bench(int argc, char** argv) {
  int64_t iterations = kDefaultIterations;
  int64_t seed = int64_t(kDefaultSeed);
  ArgParser args("kestrova bench",
                 "usage: kestrova bench [--iterations N] [--seed S]\n"
                 "  fixed searches over fixed positions: node counts, signature, speed\n"
                 "  --iterations N  iterations of each search (default 10000)\n"
                 "  --seed S        seed of the searches' tie draws (default 20261206)\n");
  args.Integer("--iterations", 1, 1000000000, iterations);
  args.Integer("--seed", 0, INT64_MAX, seed);
  if (const auto exit = args.Parse(argc, argv)) return *exit;
  const Patterns patterns = BuiltPatterns();
  const std::vector<Board> boards = bench::Boards();

  uint64_t signature = Fnv1a("");
  // A sample of the positions the search scanned, to time the scan alone on them.
  std::vector<std::pair<Board, int>> scanned;
  int64_t nodesSearched = 0, scans = 0, totalIterations = 0;
  const auto start = std::chrono::steady_clock::now();
  for (size_t k = 0; k < boards.size(); ++k) {
    GameState game;
    game.GameBoard = boards[k];
    Search search(patterns, uint64_t(seed) + k);
    const int32_t chosen = SearchFixed(game, search, iterations);
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
  const double searchSeconds = Seconds(std::chrono::steady_clock::now() - start);

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
  return 0;
}

}  // namespace kestrova::tools
