// kestrova eval: the board scan of one position, for people and scripts.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "core/position_text.h"
#include "patterns/scan.h"
#include "tools/args.h"
#include "tools/commands.h"

namespace kestrova::tools {

int Eval(int argc, char** argv) {
  int toMove = Own;
  ArgParser args("kestrova eval",
                 "usage: kestrova eval [--to-move 2|3] < POSITION\n"
                 "  the board scan of an n x n position ('.' empty, 'X' side 2, 'O' side 3)\n"
                 "  --to-move S   the side to move, 2 or 3 (default 2)\n");
  args.Integer("--to-move", Own, Opponent, toMove);
  if (const auto exit = args.Parse(argc, argv)) return *exit;
  const std::string text((std::istreambuf_iterator<char>(std::cin)),
                         std::istreambuf_iterator<char>());
  Board board;
  std::string error;
  if (!ParsePosition(text, board, error)) {
    std::fprintf(stderr, "kestrova eval: %s\n", error.c_str());
    return 2;
  }
  const Patterns patterns = BuiltPatterns();
  Scanner scanner(patterns);
  SPointList spoints;
  const int32_t value = scanner.FindSPoints(board, spoints, toMove);
  std::printf("value %d\n", value);
  for (int k = 1; k <= spoints.count(); ++k) {
    const SPoint& p = spoints[k];
    std::printf("%d,%d %d %d %d %d\n", p.x - 1, p.y - 1, p.score, p.side, p.bonusKind, p.ofMover);
  }
  return 0;
}

}  // namespace kestrova::tools
