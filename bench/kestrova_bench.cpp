// Scan speed: the full board scan against the least work any scan must do.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/positions.h"
#include "engine/position_text.h"
#include "patterns/scan.h"

namespace kestrova {
namespace {

std::vector<Board> Positions() {
  std::vector<Board> boards;
  for (const char* text : bench::kPositions) {
    Board board;
    std::string error;
    if (!ParsePosition(text, board, error)) {
      std::fprintf(stderr, "bad bench position: %s\n", error.c_str());
      std::exit(1);
    }
    boards.push_back(board);
  }
  return boards;
}

const Patterns& BuiltPatterns() {
  static const Patterns patterns = [] {
    Patterns p;
    BuildTemplates(p);
    return p;
  }();
  return patterns;
}

void BM_FindSPoints(benchmark::State& state) {
  const std::vector<Board> boards = Positions();
  Scanner scanner(BuiltPatterns());
  SPointList spoints;
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(scanner.FindSPoints(boards[k], spoints, Own));
    benchmark::DoNotOptimize(spoints);
    if (++k == boards.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindSPoints);

// Every one of the 1741 windows: its code rolled along its line (one new cell per
// window) and its PatternLookup entry read; nothing else.
void BM_WindowLookups(benchmark::State& state) {
  const std::vector<Board> boards = Positions();
  const int32_t* lookup = BuiltPatterns().PatternLookup.data();
  size_t k = 0;
  for (auto _ : state) {
    const uint8_t* b = boards[k].cells.data();
    int32_t acc = 0;
    int windows = 0;
    auto roll = [&](int i, int j, int di, int dj, int steps) {
      uint32_t code = 0;
      for (int c = 0; c < 5; ++c) code = (code << 2) | b[(i + c * di) * kGrid + j + c * dj];
      for (int s = 0; s < steps; ++s, i += di, j += dj) {
        code = ((code << 2) | b[(i + 5 * di) * kGrid + j + 5 * dj]) & 0xFFF;
        acc += lookup[code];
        ++windows;
      }
    };
    for (int j = 0; j <= 21; ++j) roll(0, j, 1, 0, 22);  // direction 1, down each column
    for (int i = 0; i <= 21; ++i) roll(i, 0, 0, 1, 22);  // direction 2, along each row
    for (int d = -21; d <= 21; ++d)                       // direction 3, each diagonal
      roll(d < 0 ? -d : 0, d > 0 ? d : 0, 1, 1, 22 - (d < 0 ? -d : d));
    for (int s = 5; s <= 37; ++s) {  // direction 4: starts i >= 5, j <= 16, along i + j = s
      const int i = s < 21 ? s : 21, j = s - i;
      const int last = s - 16 > 5 ? s - 16 : 5;
      if (j <= 16 && i >= last) roll(i, j, -1, 1, i - last + 1);
    }
    benchmark::DoNotOptimize(acc);
    if (windows != 1741) state.SkipWithError("window count is not 1741");
    if (++k == boards.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WindowLookups);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
