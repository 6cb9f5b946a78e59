// kestrova analyse: a recorded game replayed with the threat solver's verdicts and the engine's
// own choices, and the first move that lost by force.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/analyse/analysis.h"
#include "tools/args.h"
#include "tools/commands.h"

namespace kestrova::tools {
namespace {

constexpr const char* kAnalyseUsage =
    "usage: kestrova analyse GAME.sgf [options]\n"
    "  replays each game of a record as kestrova match --sgf writes it; for every move:\n"
    "  the engine's choice in the position before it, and the threat solver's verdict after\n"
    "  it for both sides; then the first move after which the opponent had a proven win\n"
    "  --ms N           the engine's search of each position, 0 for none (default 200)\n"
    "  --vct-nodes N    node budget of each VCT search (default 200000)\n"
    "  --no-vct         VCFs only\n";

}  // namespace

int Analyse(int argc, char** argv) {
  analyse::AnalyseOptions options;
  bool noVct = false;
  std::vector<std::string> files;
  ArgParser args("kestrova analyse", kAnalyseUsage);
  args.Integer("--ms", 0, 7000, options.engineMs);
  args.Integer("--vct-nodes", 1, INT64_MAX, options.vctNodes);
  args.Flag("--no-vct", noVct);
  args.Positionals(files);
  if (const auto exit = args.Parse(argc, argv)) return *exit;
  if (files.size() != 1) return args.Refuse("give one SGF file");
  options.vct = !noVct;
  std::vector<sgf::RecordedGame> games;
  std::string error;
  if (!sgf::ReadSgfFile(files[0], games, error)) {
    std::fprintf(stderr, "kestrova analyse: %s: %s\n", files[0].c_str(), error.c_str());
    return 2;
  }
  if (games.empty()) {
    std::fprintf(stderr, "kestrova analyse: %s: no game in it\n", files[0].c_str());
    return 2;
  }
  SteadyClock clock;
  const int maxVctDepth = SolverOptions{}.maxVctDepth;
  for (size_t g = 0; g < games.size(); ++g) {
    if (games.size() > 1) std::printf("game %zu\n", g + 1);
    const analyse::Analysis analysis =
        analyse::AnalyseGame(games[g], options, clock, [&](const analyse::PlyReport& ply) {
          std::printf("%s\n", analyse::FormatPly(ply, maxVctDepth).c_str());
          std::fflush(stdout);
        });
    if (!analysis.error.empty()) {
      std::printf("error: %s\n", analysis.error.c_str());
      std::fprintf(stderr, "kestrova analyse: %s: game %zu: %s\n", files[0].c_str(), g + 1,
                   analysis.error.c_str());
      return 1;
    }
    std::printf("%s\n", analyse::FormatSummary(analysis).c_str());
  }
  return 0;
}

}  // namespace kestrova::tools
