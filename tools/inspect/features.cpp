// kestrova features: the shape counts of every position of recorded games, with who won, for
// fitting the leaf value of the search to game results.
#include <cstdio>
#include <string>
#include <vector>

#include "patterns/scan.h"
#include "patterns/scan_state.h"
#include "tools/args.h"
#include "tools/commands.h"
#include "tools/sgf/sgf.h"

namespace kestrova::tools {

int Features(int argc, char** argv) {
  ArgParser args(
      "kestrova features",
      "usage: kestrova features GAME.sgf...\n"
      "  one line per position of each game won by a five: the side to move, 1 if it\n"
      "  won, the scan's value for it, then its windows and the other side's by bucket\n");
  std::vector<std::string> files;
  args.Positionals(files);
  if (const auto exit = args.Parse(argc, argv)) return *exit;
  if (files.empty()) {
    std::fputs("kestrova features: no game record given (see --help)\n", stderr);
    return 2;
  }
  const Patterns patterns = BuiltPatterns();
  Scanner scanner(patterns);
  ScanState state(scanner);
  for (const std::string& file : files) {
    std::vector<sgf::RecordedGame> games;
    std::string error;
    if (!sgf::ReadSgfFile(file, games, error)) {
      std::fprintf(stderr, "kestrova features: %s: %s\n", file.c_str(), error.c_str());
      return 2;
    }
    for (size_t g = 0; g < games.size(); ++g) {
      const sgf::RecordedGame& game = games[g];
      if (!sgf::Replayable(game, error)) {
        std::fprintf(stderr, "kestrova features: %s: game %zu left out: %s\n", file.c_str(), g + 1,
                     error.c_str());
        continue;
      }
      sgf::Replay replay(game);
      std::vector<Board> boards;
      while (!replay.AtEnd() && replay.Next(error)) boards.push_back(replay.board());
      if (!replay.Won()) continue;
      const uint8_t winner = game.moves.back().first;
      // The opening stones are drawn, not played: positions from the fourth move on.
      for (size_t k = 3; k + 1 < boards.size(); ++k) {
        const int toMove = game.moves[k + 1].first;
        state.Reset(boards[k]);
        SPointList spoints;
        const int32_t value = scanner.FindSPoints(state, spoints, toMove);
        std::printf("%d %d %d", toMove, toMove == winner, toMove == Own ? value : -value);
        for (const int side : {toMove, 5 - toMove})
          for (const int16_t n : state.SideWindows(side)) std::printf(" %d", n);
        std::printf("\n");
      }
    }
  }
  return 0;
}

}  // namespace kestrova::tools
