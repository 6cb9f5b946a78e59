// A scripted protocol engine for the tests of kestrova match and play: plain, predictable
// moves, and one misbehaviour on demand. Arguments are key=value:
//   row=Y        plays the first empty cell from row Y on (default 0)
//   fault=KIND   at its own move number at=N (default 1):
//                  late (answers after ms=MS), silent (never answers, ignores END),
//                  occupied, say (sends text=TEXT instead), flood (MESSAGE lines without
//                  end), crash (aborts), close (closes its output and lingers);
//                or all along:
//                  slow (sleeps ms=MS before every move), chatter (a MESSAGE and a DEBUG
//                  line before every move), refuse-start, ignore-end (lingers after END),
//                  fill (only cells of its colour in a pattern without five, so two of
//                  them fill the board to a draw)
//   log=FILE     appends every line it receives; pid=FILE appends its process id
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>

namespace {

constexpr int kSize = 20;

struct Engine {
  std::map<std::string, std::string> options;
  std::array<std::array<int, kSize>, kSize> cells{};  // [x][y]: 0 empty, 1 own, 2 the other's
  int moves = 0;

  std::string Get(const std::string& key) const {
    const auto it = options.find(key);
    return it == options.end() ? "" : it->second;
  }
  int Number(const std::string& key) const { return std::atoi(Get(key).c_str()); }
};

void Sleep(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Outlasts any wait of the referee, yet leaves nothing behind for long if it fails to kill.
[[noreturn]] void Linger() {
  Sleep(30000);
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

void Move(Engine& e) {
  const std::string fault = e.Get("fault");
  const bool now = ++e.moves == (e.Get("at").empty() ? 1 : e.Number("at"));
  if (fault == "chatter") {
    Reply("MESSAGE thinking");
    Reply("DEBUG 42 nodes");
  }
  if (fault == "slow" || (now && fault == "late")) Sleep(e.Number("ms"));
  if (now && fault == "silent") Linger();
  if (now && fault == "flood")
    for (;;) Reply("MESSAGE still thinking");
  if (now && fault == "crash") {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    std::abort();
  }
  if (now && fault == "close") {
    std::fclose(stdout);
    Linger();
  }
  if (now && fault == "say") return Reply(e.Get("text"));
  const bool occupied = now && fault == "occupied";
  int stones = 0;
  for (const auto& column : e.cells)
    for (int cell : column) stones += cell != 0;
  for (int k = 0; k < kSize * kSize; ++k) {
    const int x = k % kSize, y = (e.Number("row") + k / kSize) % kSize;
    // Black moves on an even count of stones and fills class 0.
    const bool fits =
        occupied ? e.cells[x][y] != 0
                 : e.cells[x][y] == 0 && (fault != "fill" || PatternClass(x, y) == stones % 2);
    if (!fits) continue;
    if (!occupied) e.cells[x][y] = 1;
    return Reply(std::to_string(x) + "," + std::to_string(y));
  }
  Reply("0,0");
}

bool ParseStone(const std::string& text, int& x, int& y, int& who) {
  return std::sscanf(text.c_str(), "%d,%d,%d", &x, &y, &who) >= 2 && x >= 0 && x < kSize &&
         y >= 0 && y < kSize;
}

}  // namespace

int main(int argc, char** argv) {
  Engine e;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    const size_t equals = arg.find('=');
    e.options[arg.substr(0, equals)] = equals == std::string::npos ? "" : arg.substr(equals + 1);
  }
  if (!e.Get("pid").empty()) std::ofstream(e.Get("pid"), std::ios::app) << getpid() << "\n";
  std::ofstream log;
  if (!e.Get("log").empty()) log.open(e.Get("log"), std::ios::app);

  bool inBoard = false;
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (log.is_open()) log << line << std::endl;
    int x = 0, y = 0, who = 0;
    if (line == "ABOUT") {
      Reply("name=\"fake-engine\", version=\"0.1\"");
    } else if (line.rfind("START", 0) == 0) {
      Reply(e.Get("fault") == "refuse-start" ? "ERROR unsupported board size" : "OK");
    } else if (line == "BEGIN" || line == "DONE") {
      inBoard = false;
      Move(e);
    } else if (line == "BOARD") {
      inBoard = true;
      e.cells = {};
    } else if (line.rfind("TURN ", 0) == 0 && ParseStone(line.substr(5), x, y, who)) {
      e.cells[x][y] = 2;
      Move(e);
    } else if (inBoard && ParseStone(line, x, y, who)) {
      e.cells[x][y] = who == 1 ? 1 : 2;
    } else if (line == "END") {
      break;
    } else if (line.rfind("INFO", 0) != 0) {
      Reply("UNKNOWN");
    }
  }
  if (e.Get("fault") == "ignore-end") Linger();
}
