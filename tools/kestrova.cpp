// kestrova: the engine's command line for people.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrova <command> [options]\n"
    "  eval [--to-move 2|3]   scan an n x n position read on stdin\n"
    "  bench                  fixed searches: node counts, signature, speed\n"
    "  think [--ms N]         one timed search on a position read on stdin\n"
    "  match ENGINE_A ENGINE_B  referee games between two protocol engines\n"
    "  match --merge FILE...  the summary of results files of a match's shards\n"
    "  play                   play the engine on a board drawn in the terminal\n"
    "  serve [--port P]       play the engine on a board in the browser\n"
    "  tactics FILE           the threat solver's verdicts, or an engine scored, on puzzles\n"
    "  analyse GAME.sgf       a recorded game move by move: solver, engine, first losing move\n"
    "  features GAME.sgf...   shape counts of recorded positions with the result, for fitting\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrova::tools;
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "eval") == 0) return Eval(argc - 2, argv + 2);
  if (std::strcmp(command, "bench") == 0) return Bench(argc - 2, argv + 2);
  if (std::strcmp(command, "think") == 0) return Think(argc - 2, argv + 2);
  if (std::strcmp(command, "match") == 0) return Match(argc - 2, argv + 2);
  if (std::strcmp(command, "play") == 0) return Play(argc - 2, argv + 2);
  if (std::strcmp(command, "serve") == 0) return Serve(argc - 2, argv + 2);
  if (std::strcmp(command, "tactics") == 0) return Tactics(argc - 2, argv + 2);
  if (std::strcmp(command, "analyse") == 0) return Analyse(argc - 2, argv + 2);
  if (std::strcmp(command, "features") == 0) return Features(argc - 2, argv + 2);
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fprintf(stderr, "kestrova: unknown command '%s'\n%s", command, kUsage);
  return 2;
}
