#include "tools/tactics/mine.h"

#include <map>
#include <set>

#include "threats/line_index.h"

namespace kestrova::tactics {
namespace {

struct SgfCursor {
  std::string_view text;
  size_t at = 0;
  bool Done() const { return at >= text.size(); }
  void SkipSpace() {
    while (!Done() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t'))
      ++at;
  }
};

// A property's value, escapes undone; false when it never closes.
bool ReadValue(SgfCursor& c, std::string& value) {
  value.clear();
  for (++c.at; !c.Done(); ++c.at) {
    if (c.text[c.at] == '\\' && c.at + 1 < c.text.size()) {
      value += c.text[++c.at];
    } else if (c.text[c.at] == ']') {
      ++c.at;
      return true;
    } else {
      value += c.text[c.at];
    }
  }
  return false;
}

bool ApplyProperty(const std::string& id, const std::string& value, RecordedGame& game,
                   std::string& error) {
  if (id == "SZ") {
    game.size = 0;
    for (char ch : value) {
      if (ch < '0' || ch > '9' || game.size > BoardSize) game.size = -1;
      if (game.size >= 0) game.size = game.size * 10 + (ch - '0');
    }
    if (game.size < kMinBoardSize || game.size > BoardSize || !game.moves.empty()) {
      error = "bad board size SZ[" + value + "]";
      return false;
    }
  } else if (id == "B" || id == "W") {
    if (value.size() != 2 || value[0] < 'a' || value[1] < 'a' || value[0] >= 'a' + game.size ||
        value[1] >= 'a' + game.size) {
      error = "move " + std::to_string(game.moves.size() + 1) + " '" + value +
              "' is not a cell of the board";
      return false;
    }
    game.moves.push_back(
        {id == "B" ? Own : Opponent, Move{value[0] - 'a' + 1, value[1] - 'a' + 1}});
  } else if (id == "AB" || id == "AW" || id == "AE") {
    error = "setup stones (" + id + ") are not replayed";
    return false;
  }
  return true;
}

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

bool ParseSgf(std::string_view text, std::vector<RecordedGame>& games, std::string& error) {
  SgfCursor c{text};
  for (c.SkipSpace(); !c.Done(); c.SkipSpace()) {
    if (text[c.at] != '(') {
      error = "expected '(' at byte " + std::to_string(c.at);
      return false;
    }
    ++c.at;
    RecordedGame game;
    std::string id, value;
    for (c.SkipSpace(); !c.Done() && text[c.at] != ')'; c.SkipSpace()) {
      const char ch = text[c.at];
      if (ch == ';') {
        ++c.at;
      } else if (ch == '(') {
        error = "game " + std::to_string(games.size() + 1) + ": variations are not replayed";
        return false;
      } else if (ch >= 'A' && ch <= 'Z') {
        id.clear();
        while (!c.Done() && text[c.at] >= 'A' && text[c.at] <= 'Z') id += text[c.at++];
        c.SkipSpace();
        if (c.Done() || text[c.at] != '[') {
          error = "property " + id + " has no value";
          return false;
        }
        while (!c.Done() && text[c.at] == '[') {
          if (!ReadValue(c, value)) {
            error = "property " + id + " never closes";
            return false;
          }
          std::string why;
          if (!ApplyProperty(id, value, game, why)) {
            error = "game " + std::to_string(games.size() + 1) + ": " + why;
            return false;
          }
          c.SkipSpace();
        }
      } else {
        error = "unexpected '" + std::string(1, ch) + "' at byte " + std::to_string(c.at);
        return false;
      }
    }
    if (c.Done()) {
      error = "game " + std::to_string(games.size() + 1) + " never closes";
      return false;
    }
    ++c.at;
    games.push_back(std::move(game));
  }
  return true;
}

std::vector<std::string> Mine(ThreatSolver& solver, Clock& clock,
                              const std::vector<GameSource>& sources, const MineOptions& options,
                              MineCounts& counts) {
  // Ordered by kind, then length: the file reads from the short wins to the long defences.
  std::map<std::pair<int, int>, std::vector<std::string>> buckets;
  std::set<std::string> seen;
  for (const GameSource& source : sources) {
    for (size_t g = 0; g < source.games.size(); ++g) {
      const RecordedGame& game = source.games[g];
      Board board;
      ResetBoard(board, game.size);
      for (size_t ply = 0; ply < game.moves.size(); ++ply) {
        const auto [side, move] = game.moves[ply];
        if (board.at(move.x, move.y) != Empty) break;
        const Answer a = Judge(solver, clock, board, side, options.judge);
        // A five ends the game: nothing after it is a position of play.
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
        board.at(move.x, move.y) = side;
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
