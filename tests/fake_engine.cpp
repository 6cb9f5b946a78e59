// A scripted protocol engine for the tests of kestrova match, play and serve: plain,
// predictable moves, and one misbehaviour on demand. Arguments are key=value:
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
//   startup=MS   sleeps MS before it reads anything, as engines under wine do
// It plays on the board size START gives.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

struct Engine {
  std::map<std::string, std::string> options;
  int cells[20][20] = {};  // [x][y]: 0 empty, 1 own, 2 other's
  int size = 20, moves = 0;
  std::vector<char*> held;  // memory asked for by fault=alloc

  std::string Get(const std::string& key) const {
    const auto it = options.find(key);
    return it == options.end() ? "" : it->second;
  }
  int Number(const std::string& key) const { return std::atoi(Get(key).c_str()); }
  // Also the parse of a cell "x,y[,who]": false when off the board.
  bool Cell(const std::string& text, int& x, int& y, int& who) const {
    who = 0;
    return std::sscanf(text.c_str(), "%d,%d,%d", &x, &y, &who) >= 2 && x >= 0 && x < size &&
           y >= 0 && y < size;
  }
};

// Outlasts any wait of the referee, yet leaves nothing behind for long if it fails to kill.
[[noreturn]] void Linger() {
  sleep(30);
  std::exit(0);
}

void Reply(const std::string& text) {
  std::fputs((text + "\r\n").c_str(), stdout);
  std::fflush(stdout);
}

// Touched page by page, so the memory is resident and not just promised; a child signals
// once it holds its share.
void Allocate(Engine& e) {
  const size_t bytes = size_t(e.Number("mb")) << 20;
  int ready[2] = {-1, -1};
  const bool child = !e.Get("child").empty();
  if (child && (pipe(ready) != 0 || fork() != 0)) {
    char byte = 0;
    if (read(ready[0], &byte, 1) != 1) std::exit(1);
    return;
  }
  e.held.push_back(static_cast<char*>(std::malloc(bytes)));
  if (e.held.back()) std::memset(e.held.back(), 1, bytes);
  if (!child) return;
  if (write(ready[1], "1", 1) != 1) _exit(1);
  Linger();
}

void Move(Engine& e) {
  int x = 0, y = 0, who = 0;
  const std::string when = e.Get("when");
  const std::string fault =
      when.empty() || (e.Cell(when, x, y, who) && e.cells[x][y] != 0) ? e.Get("fault") : "";
  const bool now = ++e.moves == (e.Get("at").empty() ? 1 : e.Number("at"));
  if (now && fault == "alloc") Allocate(e);
  if (fault == "chatter") Reply("MESSAGE thinking\r\nDEBUG 42 nodes");
  if (fault == "slow" || (now && fault == "late")) usleep(e.Number("ms") * 1000);
  if (now && fault == "close") std::fclose(stdout);
  if (now && (fault == "silent" || fault == "close")) Linger();
  while (now && fault == "flood") Reply("MESSAGE still thinking");
  if (now && fault == "crash") std::abort();
  if (now && fault == "say") return Reply(e.Get("text"));
  const bool occupied = now && fault == "occupied";
  int stones = 0;
  for (const auto& column : e.cells)
    for (int cell : column) stones += cell != 0;
  for (int k = 0; k < e.size * e.size; ++k) {
    x = k % e.size, y = (e.Number("row") + k / e.size) % e.size;
    // Rows of XXOO shifted by two from row to row: no line of either colour is longer than
    // two. Black moves on an even count of stones and fills the XX cells.
    const bool ownPattern = ((x + 2 * y) % 4 < 2) == (stones % 2 == 0);
    if (occupied ? e.cells[x][y] == 0 : e.cells[x][y] != 0 || (fault == "fill" && !ownPattern))
      continue;
    if (!occupied) e.cells[x][y] = 1;
    return Reply(std::to_string(x) + "," + std::to_string(y));
  }
  Reply("0,0");
}

}  // namespace

int main(int argc, char** argv) {
  Engine e;
  const rlimit noCore{0, 0};  // for fault=crash
  setrlimit(RLIMIT_CORE, &noCore);
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    const size_t equals = arg.find('=');
    e.options[arg.substr(0, equals)] = equals == std::string::npos ? "" : arg.substr(equals + 1);
  }
  if (!e.Get("pid").empty()) std::ofstream(e.Get("pid"), std::ios::app) << getpid() << "\n";
  std::ofstream log(e.Get("log").empty() ? "/dev/null" : e.Get("log"), std::ios::app);
  bool inBoard = false;
  usleep(useconds_t(e.Number("startup")) * 1000);
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    log << line << std::endl;
    int x = 0, y = 0, who = 0;
    if (line == "ABOUT") {
      Reply("name=\"fake-engine\", version=\"0.1\"");
    } else if (line.rfind("START", 0) == 0) {
      e.size = std::max(5, std::min(20, std::atoi(line.c_str() + 5)));
      Reply(e.Get("fault") == "refuse-start" ? "ERROR unsupported board size" : "OK");
    } else if (line == "BEGIN" || line == "DONE") {
      inBoard = false;
      Move(e);
    } else if (line == "BOARD") {
      inBoard = true;
      std::memset(e.cells, 0, sizeof e.cells);
    } else if (line.rfind("TURN ", 0) == 0 && e.Cell(line.substr(5), x, y, who)) {
      e.cells[x][y] = 2;
      Move(e);
    } else if (inBoard && e.Cell(line, x, y, who)) {
      e.cells[x][y] = who == 1 ? 1 : 2;
    } else if (line == "END") {
      break;
    } else if (line.rfind("INFO", 0) != 0) {
      Reply("UNKNOWN");
    }
  }
  if (e.Get("fault") == "ignore-end") Linger();
}
