// kestrova eval: the board scan of one position, for people and scripts.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "core/position_text.h"
#include "patterns/scan.h"
#include "tools/commands.h"

namespace kestrova::tools {

int Eval(int argc, char** argv) {
  int toMove = Own;
  for (int k = 0; k < argc; ++k) {
    if (std::strcmp(argv[k], "--to-move") == 0 && k + 1 < argc &&
        (std::strcmp(argv[k + 1], "2") == 0 || std::strcmp(argv[k + 1], "3") == 0)) {
      toMove = argv[++k][0] - '0';
    } else {
      std::fprintf(stderr, "kestrova eval: bad option '%s' (use --to-move 2|3)\n", argv[k]);
      return 2;
    }
  }
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
