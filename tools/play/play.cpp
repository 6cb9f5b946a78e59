// kestrova play: a person against a protocol engine, the board drawn in the terminal.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tools/args.h"
#include "tools/commands.h"
#include "tools/referee/game_session.h"

namespace kestrova::tools {
namespace {

using namespace kestrova::referee;

constexpr const char* kPlayUsage =
    "usage: kestrova play [--engine CMD] [--first human|engine] [--turn MS] [--size N] [--rule R]\n"
    "  --engine CMD   engine command line (default: pbrain-kestrova beside this tool)\n"
    "  --first WHO    who opens, human or engine (default human)\n"
    "  --turn MS      the engine's time per move (default 3000)\n"
    "  --size N       the board is N x N, 5 to 20 (default 20)\n"
    "  --rule R       0: five or more wins (default); 1: exactly five wins\n"
    "  --no-threats   the default engine without its threat solver (the tree search alone)\n";

std::optional<int> ParseOptions(int argc, char** argv, SessionOptions& options) {
  ArgParser args("kestrova play", kPlayUsage);
  std::string first = "human";
  args.Text("--engine", options.engine);
  args.Choice("--first", {"human", "engine"}, first);
  args.Integer("--turn", 1, INT32_MAX, options.turnMs);
  args.Integer("--size", kMinBoardSize, BoardSize, options.size);
  args.Integer("--rule", kFreestyle, kExactFive, options.rule);
  args.Flag("--no-threats", options.noThreats);
  const auto exit = args.Parse(argc, argv);
  options.humanFirst = first == "human";
  return exit;
}

struct Palette {
  bool on = false;
  std::string Paint(const std::string& text, const char* code) const {
    return on ? std::string("\x1b[") + code + "m" + text + "\x1b[0m" : text;
  }
};

std::string ColumnLetters(int size) {
  std::string line = "    ";
  for (int x = 0; x < size; ++x) line += std::string(" ") + char('a' + x) + " ";
  return line + "\n";
}

// Columns a.. left to right, rows 1.. top to bottom, so h8 is the protocol's 7,7; the last
// move stands in brackets.
std::string DrawBoard(const GameSession& game, const Palette& palette) {
  const Grid& grid = game.grid();
  const bool hasLast = !game.moves().empty();
  const Point last = hasLast ? game.moves().back().at : Point{};
  std::string text = ColumnLetters(grid.size);
  for (int y = 0; y < grid.size; ++y) {
    char label[16];
    std::snprintf(label, sizeof label, "%3d ", y + 1);
    text += label;
    for (int x = 0; x < grid.size; ++x) {
      const Point p{x, y};
      const Stone s = grid.at(p);
      const bool isLast = hasLast && last == p;
      std::string cell = s == Stone::Black   ? palette.Paint("X", "1;31")
                         : s == Stone::White ? palette.Paint("O", "1;36")
                                             : palette.Paint(".", "2");
      text += isLast ? "[" + cell + "]" : " " + cell + " ";
    }
    std::snprintf(label, sizeof label, " %d\n", y + 1);
    text += label;
  }
  return text + ColumnLetters(grid.size);
}

// Asks the engine for its move and shows it; false (after saying why) when the engine fails.
bool EngineMoves(GameSession& game, const Palette& palette) {
  if (!game.EngineMoves()) {
    std::printf("%s\n", game.result().c_str());
    return false;
  }
  const SessionMove& reply = game.moves().back();
  std::fputs(DrawBoard(game, palette).c_str(), stdout);
  std::printf("%s plays %s after %.1f s\n", game.EngineName().c_str(), Describe(reply.at).c_str(),
              double(reply.thinkingMs) / 1000.0);
  if (game.over()) std::printf("%s\n", game.result().c_str());
  return true;
}

}  // namespace

int Play(int argc, char** argv) {
  SessionOptions options;
  if (const auto exit = ParseOptions(argc, argv, options)) return *exit;
  if (options.engine.empty()) {
    options.engine = EngineBesideTool();
    if (!options.engine.empty() && options.noThreats) options.engine += " --no-threats";
  }
  if (options.engine.empty()) {
    std::fprintf(stderr, "kestrova play: no pbrain-kestrova beside this tool; use --engine CMD\n");
    return 2;
  }
  const bool piped = !isatty(STDIN_FILENO);
  const char* term = std::getenv("TERM");
  Palette palette;
  palette.on =
      isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR") && term && std::strcmp(term, "dumb") != 0;

  GameSession game;
  std::string error;
  if (!game.Open(options, error)) {
    std::fprintf(stderr, "kestrova play: %s\n", error.c_str());
    return 1;
  }
  const std::string& name = game.EngineName();
  std::printf(
      "You play %s, %s plays %s. Type moves as h8 or x,y (from 0,0); u takes back "
      "your last move and the answer, q quits.\n",
      game.human() == Stone::Black ? "X" : "O", name.c_str(),
      game.engine() == Stone::Black ? "X" : "O");
  if (!game.EngineToMove()) std::fputs(DrawBoard(game, palette).c_str(), stdout);

  const char lastColumn = char('a' + options.size - 1);
  for (;;) {
    if (game.EngineToMove() && !EngineMoves(game, palette)) return 1;

    std::fputs(game.over() ? "game over: u takes back, q quits> " : "your move> ", stdout);
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::printf("\nend of input%s\n", game.over() ? "" : ": the game is left unfinished");
      break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (piped) std::printf("%s\n", line.c_str());  // keeps a piped session readable

    if (line == "q" || line == "quit") break;
    if (line == "u" || line == "undo") {
      const std::string taken = game.TakeBack();
      if (taken.empty()) {
        std::printf("nothing to take back\n");
      } else {
        std::fputs(DrawBoard(game, palette).c_str(), stdout);
        std::printf("took back %s\n", taken.c_str());
      }
      continue;
    }
    if (game.over()) {
      std::printf("the game is over: u takes back, q quits\n");
      continue;
    }
    const std::optional<Point> move = ParseHumanMove(line);
    if (!move) {
      if (!line.empty()) std::printf("'%s' is not a move: type h8 or 7,7\n", line.c_str());
      continue;
    }
    switch (game.PlayHuman(*move)) {
      case Refusal::OffBoard:
        std::printf("%s is off the board (a..%c, 1..%d; 0..%d as x,y)\n", line.c_str(), lastColumn,
                    options.size, options.size - 1);
        continue;
      case Refusal::Taken:
        std::printf("%s is taken\n", Describe(*move).c_str());
        continue;
      case Refusal::None:
        break;
      case Refusal::OutOfTurn:
      case Refusal::Over:
        continue;  // the loop lets the engine move first and stops at the game's end
    }
    std::printf("you play %s\n", Describe(*move).c_str());
    if (game.over()) {
      std::fputs(DrawBoard(game, palette).c_str(), stdout);
      std::printf("%s\n", game.result().c_str());
    }
  }
  return 0;
}

}  // namespace kestrova::tools
