// kestrova play: a person against a protocol engine, the board drawn in the terminal.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/engine_player.h"
#include "tools/game_rules.h"

namespace kestrova::tools {
namespace {

using namespace kestrova::referee;

constexpr const char* kPlayUsage =
    "usage: kestrova play [--engine CMD] [--first human|engine] [--turn MS]\n"
    "  --engine CMD   engine command line (default: pbrain-kestrova beside this tool)\n"
    "  --first WHO    who opens, human or engine (default human)\n"
    "  --turn MS      the engine's time per move (default 3000)\n";

// A person is patient, but an engine that stays silent this long past its turn limit is
// not coming back.
constexpr int64_t kPlayToleranceMs = 2000;

struct PlayOptions {
  std::string engine;
  bool humanFirst = true;
  int64_t turnMs = 3000;
};

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The engine installed next to this tool, or "" when there is none.
std::string EngineBesideTool() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "";
  const auto engine = self.parent_path() / "pbrain-kestrova";
  if (!std::filesystem::exists(engine, error)) return "";
  return ShellQuote(engine.string());
}

bool ParseOptions(int argc, char** argv, PlayOptions& options) {
  for (int k = 0; k < argc; ++k) {
    const std::string arg = argv[k];
    if (k + 1 >= argc) {
      std::fprintf(stderr, "kestrova play: bad option '%s'\n%s", arg.c_str(), kPlayUsage);
      return false;
    }
    const std::string value = argv[++k];
    if (arg == "--engine" && !value.empty()) {
      options.engine = value;
    } else if (arg == "--first" && (value == "human" || value == "engine")) {
      options.humanFirst = value == "human";
    } else if (arg == "--turn") {
      char* end = nullptr;
      errno = 0;
      options.turnMs = std::strtoll(value.c_str(), &end, 10);
      if (errno != 0 || *end != '\0' || end == value.c_str() || options.turnMs <= 0) {
        std::fprintf(stderr, "kestrova play: bad value '%s' for --turn\n", value.c_str());
        return false;
      }
    } else {
      std::fprintf(stderr, "kestrova play: bad option '%s %s'\n%s", arg.c_str(), value.c_str(),
                   kPlayUsage);
      return false;
    }
  }
  return true;
}

struct Palette {
  bool on = false;
  std::string Paint(const std::string& text, const char* code) const {
    return on ? std::string("\x1b[") + code + "m" + text + "\x1b[0m" : text;
  }
};

std::string ColumnLetters() {
  std::string line = "    ";
  for (int x = 0; x < BoardSize; ++x) line += std::string(" ") + char('a' + x) + " ";
  return line + "\n";
}

// Columns a.. left to right, rows 1.. top to bottom, so h8 is the protocol's 7,7; the last
// move stands in brackets.
std::string DrawBoard(const std::vector<PlacedStone>& stones, const Palette& palette) {
  Grid grid;
  for (const PlacedStone& s : stones) grid.Put(s.at, s.stone);
  const bool hasLast = !stones.empty();
  const Point last = hasLast ? stones.back().at : Point{};
  std::string text = ColumnLetters();
  for (int y = 0; y < BoardSize; ++y) {
    char label[8];
    std::snprintf(label, sizeof label, "%3d ", y + 1);
    text += label;
    for (int x = 0; x < BoardSize; ++x) {
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
  return text + ColumnLetters();
}

std::string Describe(Point p) {
  return LetterText(p) + " (" + ProtocolText(p) + ")";
}

struct Game {
  std::vector<PlacedStone> stones;
  Grid grid;
  Stone human = Stone::Black;
  bool engineInSync = true;  // the engine's own board matches stones, so TURN will do
  bool over = false;

  void Put(Point p, Stone s) {
    grid.Put(p, s);
    stones.push_back({p, s});
  }
  // Ends the game after the stone just put, if it does; returns the announcement.
  std::string Judge(const std::string& who) {
    const Point p = stones.back().at;
    if (MakesFive(grid, p)) {
      over = true;
      return "five in a row at " + LetterText(p) + ": " + who;
    }
    if (grid.Full()) {
      over = true;
      return "the board is full: a draw";
    }
    return "";
  }
};

// Takes back the human's last move and the engine's answer to it; the moves taken back,
// or "" when the human has nothing on the board.
std::string TakeBack(Game& game) {
  bool humanHasMoved = false;
  for (const PlacedStone& s : game.stones) humanHasMoved = humanHasMoved || s.stone == game.human;
  if (!humanHasMoved) return "";
  std::string taken;
  for (;;) {
    const PlacedStone s = game.stones.back();
    game.stones.pop_back();
    game.grid.Put(s.at, Stone::None);
    taken += (taken.empty() ? "" : " and ") + LetterText(s.at);
    if (s.stone == game.human) break;
  }
  game.engineInSync = false;
  game.over = false;
  return taken;
}

// Asks the engine for its move and plays it; false (after saying why) when the engine fails.
bool EngineMoves(EnginePlayer& engine, const std::string& name, int64_t waitMs,
                 const Palette& palette, Game& game) {
  const Stone engineStone = Other(game.human);
  std::string commands;
  if (!game.engineInSync)
    commands = BoardCommand(game.stones, engineStone);
  else if (game.stones.empty())
    commands = "BEGIN\r\n";
  else
    commands = "TURN " + ProtocolText(game.stones.back().at) + "\r\n";
  const MoveReply reply = engine.Ask(commands, waitMs);
  std::string fault;
  if (reply.kind == MoveReply::Kind::Timeout) {
    fault = "sent no move within " + std::to_string(waitMs) + " ms";
  } else if (reply.kind == MoveReply::Kind::Closed) {
    const std::string exit = engine.DescribeExit();
    fault = "stopped" + (exit.empty() ? "" : " (" + exit + ")");
  } else if (reply.kind == MoveReply::Kind::Malformed) {
    fault = "answered '" + reply.text + "' instead of a move";
  } else if (!OnBoard(reply.move) || game.grid.at(reply.move) != Stone::None) {
    fault = "played " + ProtocolText(reply.move) + ", which is not a legal move";
  }
  if (!fault.empty()) {
    std::printf("%s %s: game over\n", name.c_str(), fault.c_str());
    return false;
  }
  game.engineInSync = true;
  game.Put(reply.move, engineStone);
  std::fputs(DrawBoard(game.stones, palette).c_str(), stdout);
  std::printf("%s plays %s after %.1f s\n", name.c_str(), Describe(reply.move).c_str(),
              double(reply.elapsedMs) / 1000.0);
  const std::string verdict = game.Judge(name + " wins");
  if (!verdict.empty()) std::printf("%s\n", verdict.c_str());
  return true;
}

}  // namespace

int Play(int argc, char** argv) {
  PlayOptions options;
  if (!ParseOptions(argc, argv, options)) return 2;
  if (options.engine.empty()) options.engine = EngineBesideTool();
  if (options.engine.empty()) {
    std::fprintf(stderr, "kestrova play: no pbrain-kestrova beside this tool; use --engine CMD\n");
    return 2;
  }
  const bool piped = !isatty(STDIN_FILENO);
  const char* term = std::getenv("TERM");
  Palette palette;
  palette.on =
      isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR") && term && std::strcmp(term, "dumb") != 0;

  EnginePlayer engine;
  std::string failure;
  // The engine's stderr would scribble over the board.
  if (!engine.Launch(options.engine, true, failure)) {
    std::fprintf(stderr, "kestrova play: cannot start %s: %s\n", options.engine.c_str(),
                 failure.c_str());
    return 1;
  }
  const int64_t waitMs = options.turnMs + kPlayToleranceMs;
  std::string name = engine.About(waitMs);
  if (name.empty()) name = "the engine";
  if (!engine.Start(waitMs, failure)) {
    std::fprintf(stderr, "kestrova play: %s %s\n", name.c_str(), failure.c_str());
    return 1;
  }
  engine.Info("timeout_turn", options.turnMs);
  engine.Info("timeout_match", 0);
  engine.Info("rule", 0);

  Game game;
  game.human = options.humanFirst ? Stone::Black : Stone::White;
  const Stone engineStone = Other(game.human);
  std::printf(
      "You play %s, %s plays %s. Type moves as h8 or x,y (from 0,0); u takes back "
      "your last move and the answer, q quits.\n",
      game.human == Stone::Black ? "X" : "O", name.c_str(),
      engineStone == Stone::Black ? "X" : "O");
  bool engineToMove = !options.humanFirst;
  if (!engineToMove) std::fputs(DrawBoard(game.stones, palette).c_str(), stdout);

  int status = 0;
  for (;;) {
    if (engineToMove && !game.over) {
      if (!EngineMoves(engine, name, waitMs, palette, game)) {
        status = 1;
        break;
      }
      engineToMove = false;
    }

    std::fputs(game.over ? "game over: u takes back, q quits> " : "your move> ", stdout);
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) {
      std::printf("\nend of input%s\n", game.over ? "" : ": the game is left unfinished");
      break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (piped) std::printf("%s\n", line.c_str());  // keeps a piped session readable

    if (line == "q" || line == "quit") break;
    if (line == "u" || line == "undo") {
      const std::string taken = TakeBack(game);
      if (taken.empty()) {
        std::printf("nothing to take back\n");
      } else {
        std::fputs(DrawBoard(game.stones, palette).c_str(), stdout);
        std::printf("took back %s\n", taken.c_str());
        engineToMove = false;  // a takeback always ends on the human's own move
      }
      continue;
    }
    if (game.over) {
      std::printf("the game is over: u takes back, q quits\n");
      continue;
    }
    const std::optional<Point> move = ParseHumanMove(line);
    if (!move) {
      if (!line.empty()) std::printf("'%s' is not a move: type h8 or 7,7\n", line.c_str());
      continue;
    }
    if (!OnBoard(*move)) {
      std::printf("%s is off the board (a..t, 1..20; 0..19 as x,y)\n", line.c_str());
      continue;
    }
    if (game.grid.at(*move) != Stone::None) {
      std::printf("%s is taken\n", Describe(*move).c_str());
      continue;
    }
    game.Put(*move, game.human);
    std::printf("you play %s\n", Describe(*move).c_str());
    const std::string verdict = game.Judge("you win");
    if (!verdict.empty()) {
      std::fputs(DrawBoard(game.stones, palette).c_str(), stdout);
      std::printf("%s\n", verdict.c_str());
    }
    engineToMove = true;
  }
  engine.SendEnd();
  engine.Finish(MonotonicMs() + 1000);
  return status;
}

}  // namespace kestrova::tools
