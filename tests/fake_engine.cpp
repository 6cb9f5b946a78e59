// A scripted protocol engine for the tests of kestrova match and play: plain, predictable
// moves, and one misbehaviour on demand. Arguments are key=value:
//   row=Y        plays the first empty cell from row Y on (default 0)
//   fault=KIND   at its own move number at=N (default 1):
//                  late (answers after ms=MS), silent (never answers, ignores END),
//                  occupied, say (sends text=TEXT instead), flood (MESSAGE lines without
//                  end), crash (aborts), close (closes its output and lingers), alloc
//                  (holds mb=MB more memory from then on, in a child process with child=1);
//                or all along:
//                  slow (sleeps ms=MS before every move), chatter (a MESSAGE and a DEBUG
//                  line before every move), refuse-start, ignore-end (lingers after END),
//                  fill (only cells of its colour in a pattern without five, so two of
//                  them fill the board to a draw)
//   when=X,Y     the fault only in games where cell X,Y is taken when it comes due
//   log=FILE     appends every line it receives; pid=FILE appends its process id
// It plays on the board size START gives.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kMaxSize = 20;

struct Engine {
  std::map<std::string, std::string> options;
  std::array<std::array<int, kMaxSize>, kMaxSize> cells{};  // [x][y]: 0 empty, 1 own, 2 other's
  int size = kMaxSize;
  int moves = 0;
  std::vector<char*> held;  // memory asked for by fault=alloc

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

// Touched page by page, so the memory is resident and not just promised.
char* Hold(int64_t bytes) {
  char* block = static_cast<char*>(std::malloc(size_t(bytes)));
  if (block) std::memset(block, 1, size_t(bytes));
  return block;
}

void Allocate(Engine& e) {
  const int64_t bytes = int64_t(e.Number("mb")) << 20;
  if (e.Get("child").empty()) {
    e.held.push_back(Hold(bytes));
    return;
  }
  int ready[2];
  if (pipe(ready) != 0) return;
  if (fork() == 0) {
    Hold(bytes);
    char byte = 1;
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    Linger();
  }
  char byte = 0;
  if (read(ready[0], &byte, 1) != 1) std::exit(1);
}

bool Taken(const Engine& e, const std::string& cell) {
  int x = -1, y = -1;
  return std::sscanf(cell.c_str(), "%d,%d", &x, &y) == 2 && x >= 0 && x < e.size && y >= 0 &&
         y < e.size && e.cells[x][y] != 0;
}

void Move(Engine& e) {
  const std::string when = e.Get("when");
  const std::string fault = when.empty() || Taken(e, when) ? e.Get("fault") : "";
  const bool now = ++e.moves == (e.Get("at").empty() ? 1 : e.Number("at"));
  if (now && fault == "alloc") Allocate(e);
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
  for (int k = 0; k < e.size * e.size; ++k) {
    const int x = k % e.size, y = (e.Number("row") + k / e.size) % e.size;
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

bool ParseStone(const Engine& e, const std::string& text, int& x, int& y, int& who) {
  return std::sscanf(text.c_str(), "%d,%d,%d", &x, &y, &who) >= 2 && x >= 0 && x < e.size &&
         y >= 0 && y < e.size;
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
      e.size = std::max(5, std::min(kMaxSize, std::atoi(line.c_str() + 5)));
      Reply(e.Get("fault") == "refuse-start" ? "ERROR unsupported board size" : "OK");
    } else if (line == "BEGIN" || line == "DONE") {
      inBoard = false;
      Move(e);
    } else if (line == "BOARD") {
      inBoard = true;
      e.cells = {};
    } else if (line.rfind("TURN ", 0) == 0 && ParseStone(e, line.substr(5), x, y, who)) {
      e.cells[x][y] = 2;
      Move(e);
    } else if (inBoard && ParseStone(e, line, x, y, who)) {
      e.cells[x][y] = who == 1 ? 1 : 2;
    } else if (line == "END") {
      break;
    } else if (line.rfind("INFO", 0) != 0) {
      Reply("UNKNOWN");
    }
  }
  if (e.Get("fault") == "ignore-end") Linger();
}
