// kestrova tactics --engine: a protocol engine's move on each position, scored against the
// solver's answer.
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "threats/line_index.h"
#include "tools/referee/engine_player.h"
#include "tools/tactics/tactics.h"

namespace kestrova::tactics {
namespace {

using referee::EnginePlayer;
using referee::MoveReply;
using referee::PlayedStone;
using referee::Point;
using referee::Stone;

constexpr std::array<const char*, 5> kBands = {"1-2", "3-5", "6-10", "11-15", "16+"};

int Band(int length) {
  return length <= 2 ? 0 : length <= 5 ? 1 : length <= 10 ? 2 : length <= 15 ? 3 : 4;
}

struct Tally {
  int pass = 0, total = 0, unverified = 0;
  void Add(MoveScore s) {
    if (s == MoveScore::Unverified) {
      ++unverified;
      return;
    }
    ++total;
    pass += s == MoveScore::Pass;
  }
  std::string Text() const {
    if (total == 0 && unverified == 0) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%d/%d %3.0f%%", pass, total,
                  total ? 100.0 * pass / total : 0.0);
    std::string s = text;
    if (unverified) s += " (+" + std::to_string(unverified) + "?)";
    return s;
  }
};

// The stones for BOARD, colours alternating as far as they go and the opponent's last, so an
// engine that reads the last stone as the opponent's move is not misled.
std::vector<PlayedStone> BoardStones(const Board& board, uint8_t toMove) {
  std::vector<Point> ours, theirs;
  const int size = PlayingSize(board);
  for (int x = 1; x <= size; ++x)
    for (int y = 1; y <= size; ++y)
      if (board.at(x, y) != Empty)
        (board.at(x, y) == toMove ? ours : theirs).push_back({x - 1, y - 1});
  std::vector<PlayedStone> stones;
  size_t a = 0, b = 0;
  while (a < ours.size() || b < theirs.size()) {
    // Whichever side has more stones left goes now, ours first on a tie so theirs ends.
    const bool oursNext =
        b >= theirs.size() || (a < ours.size() && ours.size() - a >= theirs.size() - b);
    if (oursNext)
      stones.push_back({ours[a++], Stone::Black});
    else
      stones.push_back({theirs[b++], Stone::White});
  }
  return stones;
}

// Starting a process may take far longer than a move on a loaded machine.
constexpr int64_t kLaunchMs = 10000;

// One engine process for the whole file, a new game (START) for each position; after a
// failure the next position gets a fresh process.
class Seat {
 public:
  explicit Seat(const TacticsOptions& options) : options_(options) {}
  ~Seat() { Stop(); }

  // The engine's move, or false with what went wrong in failure.
  bool Ask(const Board& board, uint8_t toMove, Move& move, std::string& failure) {
    const int64_t waitMs = options_.turnMs + options_.toleranceMs;
    int64_t startMs = waitMs;
    if (!engine_) {
      engine_ = std::make_unique<EnginePlayer>();
      std::string error;
      if (!engine_->Launch(options_.engine, true, error)) {
        failure = "could not be started: " + error;
        engine_.reset();
        return false;
      }
      startMs = std::max(waitMs, kLaunchMs);
    }
    bool ok = engine_->Start(startMs, failure, PlayingSize(board));
    if (ok) {
      engine_->Info("timeout_turn", options_.turnMs);
      engine_->Info("timeout_match", 0);
      engine_->Info("rule", 0);
      const MoveReply reply =
          engine_->Ask(referee::BoardCommand(BoardStones(board, toMove), Stone::Black), waitMs);
      ok = reply.kind == MoveReply::Kind::Move;
      if (ok)
        move = Move{reply.move.x + 1, reply.move.y + 1};
      else if (reply.kind == MoveReply::Kind::Malformed)
        failure = "sent '" + reply.text + "'";
      else if (reply.kind == MoveReply::Kind::Timeout)
        failure = "sent no move within " + std::to_string(waitMs) + " ms";
      else
        failure = "closed its output";
    }
    if (!ok) Stop();
    return ok;
  }

  void Stop() {
    if (!engine_) return;
    engine_->SendEnd();
    engine_->Finish(MonotonicMs() + 1000);
    engine_.reset();
  }

 private:
  const TacticsOptions& options_;
  std::unique_ptr<EnginePlayer> engine_;
};

}  // namespace

int ScoreEngine(const TacticsOptions& options, const std::vector<FilePosition>& positions) {
  SteadyClock clock;
  ThreatSolver solver;
  Seat seat(options);
  Tally win[kBands.size()], defend[kBands.size()], vct, all;
  int skipped = 0;
  for (const FilePosition& p : positions) {
    if (!p.valid) {
      std::printf("%d: invalid: %s\n", p.lineNumber, p.error.c_str());
      ++skipped;
      continue;
    }
    const Answer a = Judge(solver, clock, p.puzzle.board, p.puzzle.toMove, options.judge);
    const Kind kind = a.found.kind;
    if (a.status != Answer::Status::Solved ||
        (kind != Kind::Vcf && kind != Kind::Defend && kind != Kind::Vct)) {
      std::printf("%d: not scored: %s\n", p.lineNumber,
                  DescribeAnswer(a, p.puzzle.toMove, solver.options().maxVctDepth).c_str());
      ++skipped;
      continue;
    }
    Move move;
    std::string failure;
    MoveVerdict v;
    const int64_t start = MonotonicMs();
    if (seat.Ask(p.puzzle.board, p.puzzle.toMove, move, failure))
      v = ScoreMove(solver, clock, p.puzzle.board, p.puzzle.toMove, a, move, options.judge);
    else
      v.reason = "the engine " + failure;
    const int64_t ms = MonotonicMs() - start;
    Tally& band =
        kind == Kind::Vct ? vct : (kind == Kind::Vcf ? win : defend)[Band(a.found.length)];
    band.Add(v.score);
    all.Add(v.score);
    const char* score = v.score == MoveScore::Pass   ? "pass"
                        : v.score == MoveScore::Fail ? "fail"
                                                     : "unverified";
    std::printf("%d: %s engine %s %s%s%s (%" PRId64 " ms)\n", p.lineNumber,
                FormatExpectation(a.found).c_str(), failure.empty() ? MoveText(move).c_str() : "-",
                score, v.reason.empty() ? "" : ": ", v.reason.c_str(), ms);
    std::fflush(stdout);
  }
  std::printf("Pass rate by VCF length (attacker moves, the five included):\n");
  std::printf("  %-6s %-18s %s\n", "band", "win", "defend");
  for (size_t b = 0; b < kBands.size(); ++b)
    std::printf("  %-6s %-18s %s\n", kBands[b], win[b].Text().c_str(), defend[b].Text().c_str());
  std::printf("  %-6s %s\n", "vct", vct.Text().c_str());
  std::printf("  %-6s %s; %d positions not scored\n", "all", all.Text().c_str(), skipped);
  return 0;
}

}  // namespace kestrova::tactics
