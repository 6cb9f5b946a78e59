// Fuzz target of the command loop: any bytes, cut into any reads, with a real search for
// every move request. After every read the board must still have its wall ring and empty
// margin, and every reply must be one of the protocol's forms.
//
// Input layout: byte 0 picks the longest read (0 = the whole rest in one read), byte 1
// seeds the read lengths, the rest is what the manager sends.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/engine.h"
#include "engine/protocol.h"

namespace kestrova {
namespace {

// Time moves on at every reading, by a step that grows with the readings since the last
// reply, so every search runs a real but short loop of iterations (about ten with the
// 600 ms turn set below, and about a hundred at most, whatever limits the input sets), and
// sleeping costs nothing.
class FakeClock final : public Clock {
 public:
  int64_t NowMs() override { return now_ += kStepMs * (1 + readings_++ / 4); }
  void SleepMs(int64_t ms) override { now_ += ms > 0 ? ms : 0; }
  void Replied() { readings_ = 0; }

 private:
  static constexpr int64_t kStepMs = 5;
  int64_t now_ = 0;
  int64_t readings_ = 0;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "command loop fuzz: %s\n", what.c_str());
  std::abort();
}

bool IsCoordinate(std::string_view s) {
  if (s.empty() || s.size() > 2) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  if (s.size() == 2 && s[0] == '0') return false;
  return std::atoi(std::string(s).c_str()) < BoardSize;
}

// Checks each reply as it is written; a move must land on a cell the opponent does not hold.
class CheckingSink final : public ReplySink {
 public:
  CheckingSink(const Board& board, FakeClock& clock) : board_(board), clock_(clock) {}

  void WriteLine(std::string_view text) override {
    clock_.Replied();
    if (text.find_first_of("\r\n") != std::string_view::npos) Fail("line end inside a reply");
    if (text == "OK" || text == "UNKNOWN") return;
    if (text.starts_with("name=\"Kestrova\"")) return;
    if (text.starts_with("ERROR ") && text.size() > 6) return;
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos || !IsCoordinate(text.substr(0, comma)) ||
        !IsCoordinate(text.substr(comma + 1)))
      Fail("reply is no protocol form: \"" + std::string(text) + "\"");
    const int x = std::atoi(std::string(text.substr(0, comma)).c_str());
    const int y = std::atoi(std::string(text.substr(comma + 1)).c_str());
    const uint8_t cell = board_.at(x + 1, y + 1);
    if (cell != Own && cell != Empty) Fail("move onto a taken cell: " + std::string(text));
  }

 private:
  const Board& board_;
  FakeClock& clock_;
};

void CheckBoard(const Board& board) {
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      const uint8_t cell = board.at(i, j);
      const bool margin = i > BoardSize + 1 || j > BoardSize + 1;
      const bool ring = !margin && !InPlayingArea(i, j);
      if (margin && cell != Empty)
        Fail("margin cell " + std::to_string(i) + "," + std::to_string(j) + " holds " +
             std::to_string(cell));
      if (ring && cell != Wall)
        Fail("ring cell " + std::to_string(i) + "," + std::to_string(j) + " holds " +
             std::to_string(cell));
      if (!margin && !ring && cell != Empty && cell != Own && cell != Opponent)
        Fail("playing cell " + std::to_string(i) + "," + std::to_string(j) + " holds " +
             std::to_string(cell));
    }
}

// Read lengths from a small generator, so one input byte reshapes every cut.
struct ReadCutter {
  uint32_t state;
  size_t longest;
  size_t Next(size_t left) {
    if (longest == 0) return left;
    state = state * 1664525u + 1013904223u;
    const size_t n = 1 + (state >> 16) % longest;
    return n < left ? n : left;
  }
};

}  // namespace
}  // namespace kestrova

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrova;
  if (size < 2) return 0;
  ReadCutter cutter{data[1], data[0]};
  std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  FakeClock clock;
  Engine engine(clock, 1);
  CheckingSink sink(engine.game.GameBoard, clock);
  CommandLoop loop(engine, sink);
  // Without a turn limit a move request would skip the search entirely.
  loop.Feed("INFO timeout_turn 600\r\n");
  CheckBoard(engine.game.GameBoard);
  while (!bytes.empty()) {
    const size_t n = cutter.Next(bytes.size());
    const bool more = loop.Feed(bytes.substr(0, n));
    CheckBoard(engine.game.GameBoard);
    if (!more) break;
    bytes.remove_prefix(n);
  }
  return 0;
}
