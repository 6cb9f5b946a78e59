// A scripted protocol engine for the referee's and the play loop's tests: it plays plain,
// predictable moves and misbehaves on purpose when told to.
//
//   --row Y        plays the first empty cell of row Y (then of the rows below it)
//   --fill         plays only cells of a two-colour pattern without five in a row, so two of
//                  them fill the board to a draw
//   --fault KIND   at its own move number --at N (default 1):
//                    late     answers after --late-ms (default 3000)
//                    silent   never answers and ignores END and end of input
//                    occupied plays a cell that is taken
//                    say      sends --text instead of its move
//                    flood    sends MESSAGE lines without end instead of its move
//                    crash    aborts
//                    close    closes its output and lingers
//                  and from the start:
//                    refuse-start  answers START with an ERROR
//                    ignore-end    plays normally but lingers after END and end of input
//                    chatter       sends a MESSAGE and a DEBUG line before every move
//   --think MS     sleeps before every move
//   --log FILE     appends every line it receives to FILE
//   --pid FILE     appends its process id to FILE
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

namespace {

constexpr int kSize = 20;
// Long enough to outlast any wait of the referee, short enough that nothing is left behind
// for long if the referee fails to kill it.
constexpr int kLingerMs = 30000;

struct Options {
  int row = 0;
  bool fill = false;
  std::string fault;
  int at = 1;
  int lateMs = 3000;
  int thinkMs = 0;
  std::string text;
  std::string logPath;
  std::string pidPath;
};

struct State {
  int cells[kSize][kSize] = {};  // [x][y]: 0 empty, 1 own, 2 opponent's
  int movesMade = 0;
  int fillClass = -1;  // the pattern class this engine fills, fixed at its first move
};

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

[[noreturn]] void Linger() {
  Sleep(kLingerMs);
  std::exit(0);
}

void Reply(const std::string& text) {
  std::fputs((text + "\r\n").c_str(), stdout);
  std::fflush(stdout);
}

// Rows of XXOO shifted by two from row to row: no line of either class is longer than two.
int PatternClass(int x, int y) {
  return (x + 2 * y) % 4 < 2 ? 0 : 1;
}

void ChooseMove(const Options& options, State& state, int& x, int& y) {
  if (options.fill) {
    if (state.fillClass < 0) {
      int stones = 0;
      for (auto& column : state.cells)
        for (int cell : column) stones += cell != 0;
      state.fillClass = stones % 2;  // black, who moves on even counts, fills class 0
    }
    for (y = 0; y < kSize; ++y)
      for (x = 0; x < kSize; ++x)
        if (state.cells[x][y] == 0 && PatternClass(x, y) == state.fillClass) return;
  }
  for (int k = 0; k < kSize; ++k) {
    y = (options.row + k) % kSize;
    for (x = 0; x < kSize; ++x)
      if (state.cells[x][y] == 0) return;
  }
  x = y = 0;
}

void Move(const Options& options, State& state) {
  ++state.movesMade;
  const bool faultNow = state.movesMade == options.at;
  if (faultNow && options.fault == "silent") Linger();
  if (faultNow && options.fault == "flood") {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
    while (std::chrono::steady_clock::now() < end) Reply("MESSAGE still thinking");
    std::exit(0);
  }
  if (options.fault == "chatter") {
    Reply("MESSAGE thinking about move " + std::to_string(state.movesMade));
    Reply("DEBUG 42 nodes");
  }
  if (faultNow && options.fault == "crash") {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    std::abort();
  }
  if (faultNow && options.fault == "close") {
    std::fclose(stdout);
    Linger();
  }
  if (faultNow && options.fault == "say") {
    Reply(options.text);
    return;
  }
  if (faultNow && options.fault == "occupied") {
    for (int x = 0; x < kSize; ++x)
      for (int y = 0; y < kSize; ++y)
        if (state.cells[x][y] != 0) {
          Reply(std::to_string(x) + "," + std::to_string(y));
          return;
        }
  }
  if (faultNow && options.fault == "late") Sleep(options.lateMs);
  if (options.thinkMs > 0) Sleep(options.thinkMs);
  int x = 0, y = 0;
  ChooseMove(options, state, x, y);
  state.cells[x][y] = 1;
  Reply(std::to_string(x) + "," + std::to_string(y));
}

bool ParseStone(const std::string& text, int& x, int& y, int& who) {
  return std::sscanf(text.c_str(), "%d,%d,%d", &x, &y, &who) >= 2 && x >= 0 && x < kSize &&
         y >= 0 && y < kSize;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--fill") {
      options.fill = true;
      continue;
    }
    if (k + 1 == argc) {
      std::fprintf(stderr, "fake engine: %s needs a value\n", arg.c_str());
      return 2;
    }
    const std::string value = argv[++k];
    if (arg == "--row")
      options.row = std::atoi(value.c_str());
    else if (arg == "--fault")
      options.fault = value;
    else if (arg == "--at")
      options.at = std::atoi(value.c_str());
    else if (arg == "--late-ms")
      options.lateMs = std::atoi(value.c_str());
    else if (arg == "--think")
      options.thinkMs = std::atoi(value.c_str());
    else if (arg == "--text")
      options.text = value;
    else if (arg == "--log")
      options.logPath = value;
    else if (arg == "--pid")
      options.pidPath = value;
    else {
      std::fprintf(stderr, "fake engine: unknown option %s\n", arg.c_str());
      return 2;
    }
  }
  if (!options.pidPath.empty()) std::ofstream(options.pidPath, std::ios::app) << getpid() << "\n";
  std::ofstream log;
  if (!options.logPath.empty()) log.open(options.logPath, std::ios::app);

  State state;
  bool inBoard = false;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (log.is_open()) log << line << std::endl;
    int x = 0, y = 0, who = 0;
    if (line == "ABOUT") {
      Reply("name=\"fake-engine\", version=\"0.1\"");
    } else if (line.rfind("START", 0) == 0) {
      if (options.fault == "refuse-start") {
        Reply("ERROR unsupported board size");
      } else {
        state = State{};
        Reply("OK");
      }
    } else if (line.rfind("INFO", 0) == 0) {
    } else if (line == "BEGIN") {
      Move(options, state);
    } else if (line.rfind("TURN ", 0) == 0 && ParseStone(line.substr(5), x, y, who)) {
      state.cells[x][y] = 2;
      Move(options, state);
    } else if (line == "BOARD") {
      inBoard = true;
      for (auto& column : state.cells)
        for (int& cell : column) cell = 0;
    } else if (line == "DONE") {
      inBoard = false;
      Move(options, state);
    } else if (inBoard && ParseStone(line, x, y, who)) {
      state.cells[x][y] = who == 1 ? 1 : 2;
    } else if (line == "END") {
      if (options.fault == "ignore-end") Linger();
      return 0;
    } else {
      Reply("UNKNOWN");
    }
  }
  if (options.fault == "ignore-end") Linger();
  return 0;
}
