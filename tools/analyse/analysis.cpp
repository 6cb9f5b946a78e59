#include "tools/analyse/analysis.h"

#include <cstdio>
#include <memory>

#include "patterns/templates.h"
#include "search/time_bands.h"
#include "search/tree.h"
#include "search/turn.h"
#include "tools/tactics/judge.h"

namespace kestrova::analyse {
namespace {

using tactics::LineText;
using tactics::MoveText;

// The engine always plays Own: the side to move's stones become Own.
Board AsOwn(const Board& board, uint8_t side) {
  if (side == Own) return board;
  Board swapped = board;
  for (uint8_t& cell : swapped.cells)
    if (cell == Own || cell == Opponent) cell = OtherSide(cell);
  return swapped;
}

// One engine per colour, so that each keeps the tree of its last turn where it still fits.
struct Engines {
  explicit Engines(const Patterns& patterns)
      : black(patterns, RandomSeed()), white(patterns, RandomSeed()) {}
  Search black, white;
};

EngineChoice EngineMove(Search& search, const Board& board, uint8_t side, int size, Rule rule,
                        int64_t ms, Clock& clock) {
  GameState game;
  game.GameBoard = AsOwn(board, side);
  game.boardSize = size;
  game.rule = rule;
  // A match clock far away: the search runs for ms, the per-turn limit less its margin.
  game.msMatchTime = 10000000;
  game.msTurnTime = ms;
  while (game.msTurnTime - TurnReserve(game.msTurnTime) < ms) ++game.msTurnTime;
  game.TurnStartTime = clock.NowMs();
  const TurnResult turn = PlayTurn(game, search, clock);
  EngineChoice choice;
  choice.move = Move{turn.x + 1, turn.y + 1};
  const TreeNode& node = search.nodes[search.rootIndex];
  // The root follows the move only when the tree had searched it.
  if (!search.resetPending && node.x == choice.move.x && node.y == choice.move.y &&
      node.Visits > 0) {
    choice.searched = true;
    choice.value = double(node.Total) / node.Visits;
    choice.visits = node.Visits;
    if (ProvenWin(node)) choice.proof = kProvenWin;
    if (node.isTerminal == kProvenLoss) choice.proof = kProvenLoss;
  }
  return choice;
}

// A solver's win is marked only once its line is seen to be legal and to end in a five: a
// faulty line is reported as unknown rather than as a proof.
Verdict Checked(const ThreatResult& r, const Board& board, uint8_t side, Rule rule) {
  if (r.verdict == Verdict::Win && !LineEndsInFive(board, side, r.line, rule))
    return Verdict::Unknown;
  return r.verdict == Verdict::Invalid ? Verdict::Unknown : r.verdict;
}

SideVerdict Solve(ThreatSolver& solver, Clock& clock, const Board& board, uint8_t side,
                  const AnalyseOptions& options) {
  SideVerdict v;
  const ThreatResult vcf = solver.FindVCF(board, side, ThreatBudget{options.vcfNodes, -1, &clock});
  v.vcf = Checked(vcf, board, side, solver.options().rule);
  if (v.vcf == Verdict::Win) {
    v.line = vcf.line;
    return v;
  }
  if (!options.vct || v.vcf != Verdict::NoWin) return v;
  const ThreatResult vct = solver.FindVCT(board, side, ThreatBudget{options.vctNodes, -1, &clock});
  v.vctSearched = true;
  v.vct = Checked(vct, board, side, solver.options().rule);
  if (v.vct == Verdict::Win) v.line = vct.line;
  return v;
}

std::string Describe(const SideVerdict& v, int maxVctDepth) {
  if (v.vcf == Verdict::Win) return "VCF " + LineText(v.line);
  if (v.vct == Verdict::Win) return "VCT " + LineText(v.line);
  if (v.vcf == Verdict::Unknown) return "VCF unknown (budget)";
  if (!v.vctSearched) return "no VCF";
  if (v.vct == Verdict::Unknown) return "no VCF, VCT unknown (budget)";
  return "none (no VCF, no VCT in " + std::to_string(maxVctDepth) + ")";
}

std::string DescribeEngine(const EngineChoice& e) {
  std::string text = "engine " + MoveText(e.move);
  if (e.proof == kProvenWin) return text + " proven win";
  if (e.proof == kProvenLoss) return text + " proven loss";
  if (!e.searched) return text + " (not searched)";
  char value[64];
  std::snprintf(value, sizeof value, " eval %+.1f (%d visits)", e.value, e.visits);
  return text + value;
}

// Whether every move of mover's in the position before the losing move lost too: the opponent
// threatened a win by fours there, and each move that stops it still lets the opponent win.
bool NothingSaved(ThreatSolver& solver, Clock& clock, const Board& before, uint8_t mover,
                  const AnalyseOptions& options) {
  const DefenceResult d =
      solver.VCFDefences(before, mover, ThreatBudget{options.vcfNodes, -1, &clock});
  if (d.threat != Verdict::Win || !d.error.empty()) return false;
  std::vector<Move> stops = d.defences;
  stops.insert(stops.end(), d.undecided.begin(), d.undecided.end());
  for (const Move m : stops) {
    Board after = before;
    after.at(m.x, m.y) = mover;
    if (!Solve(solver, clock, after, OtherSide(mover), options).Wins()) return false;
  }
  return true;
}

}  // namespace

bool LineEndsInFive(const Board& board, uint8_t attacker, const std::vector<Move>& line,
                    Rule rule) {
  if (line.empty() || line.size() % 2 == 0) return false;
  Board b = board;
  const int size = PlayingSize(board);
  uint8_t side = attacker;
  for (size_t k = 0; k < line.size(); ++k, side = OtherSide(side)) {
    const Move m = line[k];
    if (!InPlayingArea(m.x, m.y, size) || b.at(m.x, m.y) != Empty) return false;
    const bool five = MakesFive(b, m.x * kGrid + m.y, side, rule);
    // Only the last move may end the game, and it must be the attacker's five.
    if (five != (k + 1 == line.size())) return false;
    b.at(m.x, m.y) = side;
  }
  return true;
}

bool ForcedBlock(const Board& board, uint8_t side, Move move, Rule rule) {
  int x = 0, y = 0, ownX = 0, ownY = 0;
  return FiveCells(board, OtherSide(side), x, y, rule) == 1 && x == move.x && y == move.y &&
         FiveCells(board, side, ownX, ownY, rule) == 0;
}

std::string SideName(uint8_t side) {
  return side == Own ? "black" : "white";
}

Analysis AnalyseGame(const sgf::RecordedGame& game, const AnalyseOptions& options, Clock& clock,
                     const std::function<void(const PlyReport&)>& report) {
  Analysis analysis;
  SolverOptions solverOptions;
  solverOptions.rule = game.rule;
  ThreatSolver solver(solverOptions);
  std::unique_ptr<Patterns> patterns;
  std::unique_ptr<Engines> engines;
  if (options.engineMs > 0) {
    patterns = std::make_unique<Patterns>(BuiltPatterns());
    engines = std::make_unique<Engines>(*patterns);
  }
  sgf::Replay replay(game);
  while (!replay.AtEnd()) {
    PlyReport ply;
    ply.ply = int(replay.played()) + 1;
    ply.side = game.moves[replay.played()].first;
    ply.move = game.moves[replay.played()].second;
    const Board before = replay.board();
    if (!replay.Next(analysis.error)) break;
    ply.forced = ForcedBlock(before, ply.side, ply.move, game.rule);
    if (engines)
      ply.engine = EngineMove(ply.side == Own ? engines->black : engines->white, before, ply.side,
                              game.size, game.rule, options.engineMs, clock);
    ply.five = replay.Won();
    int x = 0, y = 0;
    ply.full = !ply.five && !FirstEmptyCell(replay.board(), x, y);
    if (!ply.five && !ply.full) {
      const uint8_t next = OtherSide(ply.side);
      ply.toMove = Solve(solver, clock, replay.board(), next, options);
      ply.mover = Solve(solver, clock, replay.board(), ply.side, options);
      if (analysis.losingPly == 0 && ply.toMove.Wins()) {
        ply.losing = true;
        analysis.losingPly = ply.ply;
        ply.nothingSaved = !ply.forced && NothingSaved(solver, clock, before, ply.side, options);
      }
    }
    analysis.plies.push_back(ply);
    if (report) report(ply);
  }
  return analysis;
}

std::string FormatPly(const PlyReport& ply, int maxVctDepth) {
  std::string text = std::to_string(ply.ply) + " " + SideName(ply.side) + " " + MoveText(ply.move);
  if (ply.engine) text += " | " + DescribeEngine(*ply.engine);
  if (ply.five) return text + " | five: " + SideName(ply.side) + " wins";
  if (ply.full) return text + " | the board is full: a draw";
  const uint8_t next = OtherSide(ply.side);
  text += " | " + SideName(next) + " to move: " + Describe(ply.toMove, maxVctDepth);
  text += " | " + SideName(ply.side) + ": " + Describe(ply.mover, maxVctDepth);
  if (!ply.losing) return text;
  return text + " <- first losing move" +
         (ply.forced         ? " (a forced block)"
          : ply.nothingSaved ? " (no move saved it)"
                             : "");
}

std::string FormatSummary(const Analysis& analysis) {
  if (analysis.losingPly == 0) return "no proven losing move";
  const PlyReport& ply = analysis.plies[size_t(analysis.losingPly - 1)];
  const SideVerdict& win = ply.toMove;
  return "first losing move: " + std::to_string(ply.ply) + " (" + SideName(ply.side) + " " +
         MoveText(ply.move) + "): " + SideName(OtherSide(ply.side)) + " wins by " +
         (win.vcf == Verdict::Win ? "VCF " : "VCT ") + LineText(win.line) +
         (ply.forced ? " (the move was the only block of a four: the game was lost before it, "
                       "beyond what the solver's budget proved)"
          : ply.nothingSaved
              ? " (every move there lost: the game was lost before it, beyond what the solver's "
                "budget proved)"
              : "");
}

}  // namespace kestrova::analyse
