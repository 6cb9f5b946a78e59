// kestrova think: one timed search on a position, with the search's speed and memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "engine/position_text.h"
#include "search/turn.h"
#include "tools/commands.h"

namespace kestrova::tools {

int Think(int argc, char** argv) {
  int64_t ms = 7000, maxMemory = 0;
  for (int k = 0; k < argc; ++k) {
    if (std::strcmp(argv[k], "--ms") == 0 && k + 1 < argc) {
      ms = std::strtoll(argv[++k], nullptr, 10);
    } else if (std::strcmp(argv[k], "--max-memory") == 0 && k + 1 < argc) {
      maxMemory = std::strtoll(argv[++k], nullptr, 10);
    } else {
      std::fprintf(stderr, "kestrova think: bad option '%s' (--ms N, --max-memory BYTES)\n",
                   argv[k]);
      return 2;
    }
  }
  if (ms <= 0 || ms > 7000) {
    std::fprintf(stderr, "kestrova think: --ms must be 1..7000 (the longest search)\n");
    return 2;
  }
  const std::string text((std::istreambuf_iterator<char>(std::cin)),
                         std::istreambuf_iterator<char>());
  GameState game;
  std::string error;
  if (!ParsePosition(text, game.GameBoard, error)) {
    std::fprintf(stderr, "kestrova think: %s\n", error.c_str());
    return 2;
  }
  const Patterns patterns = BuiltPatterns();
  Search search(patterns, RandomSeed());
  SetMemoryLimit(search, maxMemory);
  SteadyClock clock;
  // A match clock far away: the search runs until ms, the per-turn limit less its margin.
  game.msMatchTime = 10000000;
  game.msTurnTime = ms + 500;
  game.TurnStartTime = clock.NowMs();
  const std::string reply = PlayTurn(game, search, clock);
  const double seconds = double(game.GameRunningTime) / 1000.0;
  const int64_t nodes = int64_t(search.lastNodeIndex) + 1;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("move %s\n", reply.c_str());
  std::printf("time %.3f s\n", seconds);
  std::printf("iterations %lld (%.0f/s)\n", (long long)search.lastIterations,
              double(search.lastIterations) / seconds);
  std::printf("scans %llu (%.0f/s)\n", (unsigned long long)search.scanner.scans,
              double(search.scanner.scans) / seconds);
  std::printf("nodes %lld (%.0f/s), %zu bytes each\n", (long long)nodes, double(nodes) / seconds,
              sizeof(TreeNode));
  std::printf("peak resident memory %.1f MB\n", double(usage.ru_maxrss) / 1024.0);
  return 0;
}

}  // namespace kestrova::tools
