// kestrova play: a person against a protocol engine, the board drawn in the terminal.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/args.h"
#include "tools/commands.h"
#include "tools/referee/game_session.h"
#include "tools/signals/stop_signals.h"

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
    "  --no-threats   the default engine without its threat solver (the tree search alone)\n"
    "  --threads N    search threads the engine is told to use, 0 for one per core (default 0)\n";

std::optional<int> ParseOptions(int argc, char** argv, SessionOptions& options) {
  ArgParser args("kestrova play", kPlayUsage);
  std::string first = "human";
  args.Text("--engine", options.engine);
  args.Choice("--first", {"human", "engine"}, first);
  args.Integer("--turn", 1, INT32_MAX, options.turnMs);
  args.Integer("--size", kMinBoardSize, BoardSize, options.size);
  args.Integer("--rule", kFreestyle, kExactFive, options.rule);
  args.Flag("--no-threats", options.noThreats);
  args.Integer("--threads", 0, 1024, options.threads);
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

// The person's lines from stdin, given up on as soon as a stop signal comes.
class LineReader {
 public:
  enum class Status { Line, End, Stopped };
  explicit LineReader(int stopFd) : stopFd_(stopFd) {}

  Status Next(std::string& line) {
    for (;;) {
      const size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return Status::Line;
      }
      if (ended_) {
        if (buffer_.empty()) return Status::End;
        line.swap(buffer_);
        buffer_.clear();
        return Status::Line;
      }
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {stopFd_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return Status::End;
      if (fds[1].revents != 0) return Status::Stopped;
      if (fds[0].revents == 0) continue;
      char chunk[4096];
      const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ended_ = true;
      if (n > 0) buffer_.append(chunk, size_t(n));
    }
  }

 private:
  int stopFd_;
  std::string buffer_;
  bool ended_ = false;
};

// Asks the engine for its move and shows it; false (after saying why, unless stopped) when the
// engine fails.
bool EngineMoves(GameSession& game, const Palette& palette, const std::atomic<bool>& stopped) {
  if (!game.EngineMoves()) {
    if (!stopped) std::printf("%s\n", game.result().c_str());
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

  // Ctrl-C ends the engine too, whether it is thinking or waiting for the person's move.
  StopSignals signals;
  const auto interrupted = [&signals](GameSession& game) {
    game.Close(kStopGraceMs);
    std::printf("\ninterrupted: the game is left unfinished and the engine ended\n");
    return signals.ExitStatus();
  };
  GameSession game;
  game.StopWhen(&signals.flag());
  std::string error;
  if (!game.Open(options, error)) {
    if (signals.Stopped()) return interrupted(game);
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
  LineReader input(signals.fd());
  for (;;) {
    if (game.EngineToMove() && !EngineMoves(game, palette, signals.flag()))
      return signals.Stopped() ? interrupted(game) : 1;

    std::fputs(game.over() ? "game over: u takes back, q quits> " : "your move> ", stdout);
    std::fflush(stdout);
    std::string line;
    const LineReader::Status status = input.Next(line);
    if (status == LineReader::Status::Stopped) return interrupted(game);
    if (status == LineReader::Status::End) {
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
