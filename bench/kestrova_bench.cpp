// Scan speed: the full board scan against the least work any scan must do.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "patterns/scan_state.h"
#include "search/turn.h"
#include "threats/puzzles.h"
#include "threats/threat_solver.h"
#include "tools/inspect/bench_positions.h"

namespace kestrova {
namespace {

const Patterns& SharedPatterns() {
  static const Patterns patterns = BuiltPatterns();
  return patterns;
}

void BM_FindSPoints(benchmark::State& state) {
  const std::vector<Board> boards = bench::Boards();
  Scanner scanner(SharedPatterns());
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

// The same scan on positions the search meets: a few hundred distinct boards sampled
// from fixed searches of the 24 positions. With only 24 boards in a loop the branch
// predictor learns them by heart; this one shows the cost inside a real search.
// A sample of the nodes that fixed searches of the 24 positions evaluated, each with its
// board.
struct SearchedNode {
  Board board;
  int turn;
  TreeNode node;
  std::vector<TreeNode> children;
};

std::vector<SearchedNode> SearchedNodes() {
  std::vector<SearchedNode> nodes;
  for (const Board& root : bench::Boards()) {
    GameState game;
    game.GameBoard = root;
    Search search(SharedPatterns(), 1);
    SearchFixed(game, search, 2000);
    for (int32_t n = 1; n <= search.lastNodeIndex; n += std::max(1, search.lastNodeIndex / 32)) {
      const TreeNode& node = search.nodes[n];
      if (node.Visits == 0) continue;
      SearchedNode s{{}, node.turn, node, {}};
      NodeBoard(search, n, s.board);
      for (int k = 1; k <= node.ChildCount; ++k) s.children.push_back(search.nodes[node.child(k)]);
      nodes.push_back(s);
    }
  }
  return nodes;
}

void BM_FindSPointsSearched(benchmark::State& state) {
  std::vector<std::pair<Board, int>> boards;
  for (const SearchedNode& s : SearchedNodes()) boards.emplace_back(s.board, s.turn);
  Scanner scanner(SharedPatterns());
  SPointList spoints;
  size_t k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(scanner.FindSPoints(boards[k].first, spoints, boards[k].second));
    benchmark::DoNotOptimize(spoints);
    if (++k == boards.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["boards"] = double(boards.size());
}
BENCHMARK(BM_FindSPointsSearched);

// What the search pays per node with the maintained scan: place the child's stone, read
// its candidate list and value, take the stone back, for every child of a searched node
// in turn. Moving the state onto the next searched node is not timed.
void BM_MaintainedScanPerNode(benchmark::State& state) {
  const std::vector<SearchedNode> nodes = SearchedNodes();
  Scanner scanner(SharedPatterns());
  ScanState scanState(scanner);
  SPointList spoints;
  size_t k = 0;
  int64_t children = 0;
  for (auto _ : state) {
    const SearchedNode& s = nodes[k];
    state.PauseTiming();
    scanState.Reset(s.board);
    scanner.FindSPoints(scanState, spoints, s.turn);  // settles what the reset marked
    state.ResumeTiming();
    for (const TreeNode& child : s.children) {
      const int cell = child.x * kGrid + child.y;
      scanState.Set(cell, uint8_t(s.turn));
      benchmark::DoNotOptimize(scanner.FindSPoints(scanState, spoints, child.turn));
      benchmark::DoNotOptimize(spoints);
      scanState.Set(cell, Empty);
    }
    children += int64_t(s.children.size());
    if (++k == nodes.size()) k = 0;
  }
  state.SetItemsProcessed(children);
  state.counters["nodes"] = double(nodes.size());
}
BENCHMARK(BM_MaintainedScanPerNode);

// Every one of the 1741 windows: its code rolled along its line (one new cell per
// window) and its PatternLookup entry read; nothing else.
void BM_WindowLookups(benchmark::State& state) {
  const std::vector<Board> boards = bench::Boards();
  const int32_t* lookup = SharedPatterns().PatternLookup.data();
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
    for (int d = -21; d <= 21; ++d)                      // direction 3, each diagonal
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

// The threat solver's VCF on the puzzle positions, each from a cold table: nodes per second.
void BM_ThreatVcf(benchmark::State& state) {
  std::vector<Board> boards;
  for (const ThreatPuzzle& p : ThreatPuzzles()) {
    Board board;
    std::string error;
    if (ParsePosition(p.text, board, error)) boards.push_back(board);
  }
  ThreatSolver solver(SolverOptions{Rule::Freestyle, size_t(1) << 14});
  int64_t nodes = 0;
  size_t k = 0;
  for (auto _ : state) {
    state.PauseTiming();
    solver.ClearTable();
    state.ResumeTiming();
    const ThreatResult r = solver.FindVCF(boards[k], Own, ThreatBudget{1'000'000, -1, nullptr});
    benchmark::DoNotOptimize(r);
    nodes += r.nodes;
    if (++k == boards.size()) k = 0;
  }
  state.counters["nodes/s"] = benchmark::Counter(double(nodes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThreatVcf);

// The bench command's line: the whole puzzle set, solved and nodes.
void BM_ThreatPuzzles(benchmark::State& state) {
  PuzzleScore score;
  for (auto _ : state) score = SolveThreatPuzzles();
  state.counters["solved"] = score.solved;
  state.counters["total"] = score.total;
  state.counters["nodes"] = double(score.nodes);
  state.counters["nodes/s"] = benchmark::Counter(double(score.nodes) * double(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThreatPuzzles)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
