#include "tools/tactics/mine.h"

#include <map>
#include <set>

#include "threats/line_index.h"

namespace kestrova::tactics {
namespace {

// Whether the win must be played now: with the opponent to move instead, some move of its
// would refute it. A position won whatever is played scores even a random mover.
bool MustPlayNow(ThreatSolver& solver, Clock& clock, const Board& board, uint8_t side, Kind kind,
                 const JudgeOptions& options) {
  if (kind == Kind::Defend) return true;
  const ThreatBudget budget{options.maxNodes,
                            options.maxMs >= 0 ? clock.NowMs() + options.maxMs : -1, &clock};
  const uint8_t other = OtherSide(side);
  const DefenceResult d = kind == Kind::Vcf ? solver.VCFDefences(board, other, budget)
                                            : solver.VCTDefences(board, other, budget);
  return !d.defences.empty();
}

}  // namespace

std::vector<std::string> Mine(ThreatSolver& solver, Clock& clock,
                              const std::vector<GameSource>& sources, const MineOptions& options,
                              MineCounts& counts) {
  // Ordered by kind, then length: the file reads from the short wins to the long defences.
  std::map<std::pair<int, int>, std::vector<std::string>> buckets;
  std::set<std::string> seen;
  for (const GameSource& source : sources) {
    for (size_t g = 0; g < source.games.size(); ++g) {
      const RecordedGame& game = source.games[g];
      solver.SetRule(game.rule);
      sgf::Replay replay(game);
      std::string illegal;
      // A five ends the game: nothing after it is a position of play.
      while (!replay.AtEnd() && !replay.Won()) {
        const size_t ply = replay.played();
        const uint8_t side = game.moves[ply].first;
        const Board& board = replay.board();
        const Answer a = Judge(solver, clock, board, side, options.judge);
        if (a.status == Answer::Status::Invalid) break;
        ++counts.positions;
        if (a.status == Answer::Status::Unknown) ++counts.unknown;
        const bool wanted = a.status == Answer::Status::Solved &&
                            (a.found.kind == Kind::Vcf || a.found.kind == Kind::Defend ||
                             a.found.kind == Kind::Vct) &&
                            a.found.length >= options.minLength &&
                            MustPlayNow(solver, clock, board, side, a.found.kind, options.judge);
        if (wanted) {
          ++counts.candidates;
          const std::string key = std::to_string(side) + FormatRows(board);
          if (seen.insert(key).second) {
            buckets[{int(a.found.kind), a.found.length}].push_back(
                FormatPuzzleLine(board, side, a.found,
                                 source.name + " game " + std::to_string(g + 1) + " move " +
                                     std::to_string(ply + 1)));
          } else {
            ++counts.duplicates;
          }
        }
        if (!replay.Next(illegal)) break;
      }
    }
  }
  std::vector<std::string> lines;
  for (const auto& [key, bucket] : buckets) {
    const size_t n = bucket.size(), keep = std::min(n, size_t(options.perLength));
    // Evenly over the games rather than the first ones found.
    for (size_t k = 0; k < keep; ++k) lines.push_back(bucket[k * n / keep]);
  }
  return lines;
}

}  // namespace kestrova::tactics
