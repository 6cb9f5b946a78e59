// Fuzz target of the command loop: any bytes, cut into any reads, with a real search for
// every move request. After every read the board must still have its walls and empty
// margin, and every reply must be one of the protocol's forms, a move onto an empty cell.
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
#include "tests/fuzz/reply_check.h"

namespace kestrova {
namespace {

// Time moves on at every reading, by a step that grows with the readings since the last
// reply, so every search runs a real but short loop of iterations (about ten with the
// 600 ms turn set below, and about a hundred at most, whatever limits the input sets), and
// sleeping costs nothing. A move request reads the clock before it places its stone, and
// other commands read it too (INFO time_left), so the last reading before a reply keeps the
// position the engine was asked about.
class FakeClock final : public Clock {
 public:
  void Watch(const Board& board) { board_ = &board; }
  int64_t NowMs() override {
    asked_ = *board_;
    return now_ += kStepMs * (1 + readings_++ / 4);
  }
  void SleepMs(int64_t ms) override { now_ += ms > 0 ? ms : 0; }
  void Replied() { readings_ = 0; }
  // BEGIN on an empty centre answers before it reads the clock or places its stone.
  const Board& Asked() const { return readings_ > 0 ? asked_ : *board_; }

 private:
  static constexpr int64_t kStepMs = 5;
  const Board* board_ = nullptr;
  Board asked_{};
  int64_t now_ = 0;
  int64_t readings_ = 0;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "command loop fuzz: %s\n", what.c_str());
  std::abort();
}

// Checks each reply as it is written.
class CheckingSink final : public ReplySink {
 public:
  CheckingSink(const GameState& game, FakeClock& clock) : game_(game), clock_(clock) {}

  void WriteLine(std::string_view text) override {
    const std::string problem = testing::ReplyProblem(text, clock_.Asked(), game_.boardSize);
    if (!problem.empty()) Fail(problem);
    clock_.Replied();
  }

 private:
  const GameState& game_;
  FakeClock& clock_;
};

void CheckBoard(const Board& board, int size) {
  for (int i = 0; i < kGrid; ++i)
    for (int j = 0; j < kGrid; ++j) {
      const uint8_t cell = board.at(i, j);
      const bool margin = i > BoardSize + 1 || j > BoardSize + 1;
      const bool ring = !margin && !InPlayingArea(i, j, size);
      const bool stone = cell == Own || cell == Opponent;
      const char* kind = margin ? "margin" : ring ? "wall" : "playing";
      if (margin ? cell != Empty : ring ? cell != Wall : cell != Empty && !stone)
        Fail(std::string(kind) + " cell " + std::to_string(i) + "," + std::to_string(j) +
             " holds " + std::to_string(cell));
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
  clock.Watch(engine.game.GameBoard);
  CheckingSink sink(engine.game, clock);
  CommandLoop loop(engine, sink);
  // Without a turn limit a move request would skip the search entirely.
  loop.Feed("INFO timeout_turn 600\r\n");
  CheckBoard(engine.game.GameBoard, engine.game.boardSize);
  while (!bytes.empty()) {
    const size_t n = cutter.Next(bytes.size());
    const bool more = loop.Feed(bytes.substr(0, n));
    CheckBoard(engine.game.GameBoard, engine.game.boardSize);
    if (!more) break;
    bytes.remove_prefix(n);
  }
  return 0;
}
