// kestrova think: one timed search on a position, with the search's speed and memory.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/position_text.h"
#include "engine/protocol.h"
#include "search/turn.h"
#include "tools/args.h"
#include "tools/commands.h"

namespace kestrova::tools {

int Think(int argc, char** argv) {
  int64_t ms = 7000, maxMemory = 0, threads = 0;
  bool noThreats = false, noTreeProbe = false, noShapeValue = false;
  ArgParser args("kestrova think",
                 "usage: kestrova think [--ms N] [--max-memory BYTES] [--threads N] < POSITION\n"
                 "  one timed search on a position read on stdin, with its speed and memory\n"
                 "  --ms N              search time, 1 to 7000 (the longest search; default 7000)\n"
                 "  --max-memory BYTES  the engine's memory limit, 0 for none (default 0)\n"
                 "  --no-threats        the tree search alone, without the threat solver\n"
                 "  --no-tree-probe     the solver at the root only, not probing the tree\n"
                 "  --no-shape-value    leaves valued by the scan alone, not the shape value\n"
                 "  --threads N         search threads, 0 for one per core (default 0)\n");
  args.Integer("--ms", 1, 7000, ms);
  args.Integer("--max-memory", 0, int64_t(1) << 50, maxMemory);
  args.Flag("--no-threats", noThreats);
  args.Flag("--no-tree-probe", noTreeProbe);
  args.Flag("--no-shape-value", noShapeValue);
  args.Integer("--threads", 0, 1024, threads);
  if (const auto exit = args.Parse(argc, argv)) return *exit;
  const std::string text((std::istreambuf_iterator<char>(std::cin)),
                         std::istreambuf_iterator<char>());
  GameState game;
  std::string error;
  if (!ParsePosition(text, game.GameBoard, error)) {
    std::fprintf(stderr, "kestrova think: %s\n", error.c_str());
    return 2;
  }
  game.boardSize = PlayingSize(game.GameBoard);
  const Patterns patterns = BuiltPatterns();
  Search search(patterns, RandomSeed());
  SetThreads(search, threads);
  SetMemoryLimit(search, maxMemory);
  search.useThreats = !noThreats;
  search.treeProbe = !noTreeProbe;
  search.shapeValue = !noShapeValue;
  SteadyClock clock;
  // A match clock far away: the search runs until ms, the per-turn limit less its margin.
  game.msMatchTime = 10000000;
  game.msTurnTime = ms;
  while (game.msTurnTime - TurnReserve(game.msTurnTime) < ms) ++game.msTurnTime;
  game.TurnStartTime = clock.NowMs();
  const TurnResult turn = PlayTurn(game, search, clock);
  const std::string reply = MoveReply(turn);
  // A forced move can come within the clock's first millisecond: rates then count it as one.
  const double seconds = std::max<double>(1, double(game.GameRunningTime)) / 1000.0;
  const int64_t nodes = int64_t(search.lastNodeIndex) + 1;
  // The scan alone on positions this search scanned (a sample of the chosen move's
  // subtree): the gap to the search's own rate is the tree's overhead.
  std::vector<std::pair<Board, int>> scanned;
  std::vector<int32_t> stack = {search.rootIndex};
  for (int64_t seen = 0; !stack.empty(); ++seen) {
    const int32_t n = stack.back();
    stack.pop_back();
    const TreeNode& node = search.nodes[n];
    if (seen % 97 == 0 && node.Visits > 0 && scanned.size() < 2000) {
      Board board;
      NodeBoard(search, n, board);
      scanned.emplace_back(board, node.turn);
    }
    for (int k = 1; k <= node.ChildCount; ++k) stack.push_back(node.child(k));
  }
  Scanner scanner(patterns);
  SPointList spoints;
  int64_t bareScans = 0;
  const int64_t bareStart = clock.NowMs();
  while (!scanned.empty() && clock.NowMs() - bareStart < 1000) {
    for (const auto& [board, turn] : scanned) scanner.FindSPoints(board, spoints, turn);
    bareScans += int64_t(scanned.size());
  }
  const double bareSeconds = std::max<double>(1, double(clock.NowMs() - bareStart)) / 1000.0;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("move %s\n", reply.c_str());
  if (!turn.played) {
    std::fprintf(stderr, "kestrova think: %s\n", turn.error.c_str());
    return 1;
  }
  std::printf("threads %d\n", search.threads);
  std::printf("time %.3f s\n", double(game.GameRunningTime) / 1000.0);
  std::printf("iterations %lld (%.0f/s)\n", (long long)search.lastIterations,
              double(search.lastIterations) / seconds);
  std::printf("scans %llu (%.0f/s)\n", (unsigned long long)search.scanner.scans,
              double(search.scanner.scans) / seconds);
  std::printf("nodes %lld (%.0f/s), %zu bytes each\n", (long long)nodes, double(nodes) / seconds,
              sizeof(TreeNode));
  if (bareScans > 0)
    std::printf("scan alone on %zu searched positions: %.0f/s (search: %.2f of it)\n",
                scanned.size(), double(bareScans) / bareSeconds,
                (double(search.scanner.scans) / seconds) / (double(bareScans) / bareSeconds));
  if (search.probes > 0)
    std::printf("tree probe: %lld probes, %lld proofs\n", (long long)search.probes,
                (long long)search.probeProofs);
  std::printf("peak resident memory %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
  return 0;
}

}  // namespace kestrova::tools
