// Threat-space search: wins by continuous fours (VCF) and by fours and open threes (VCT), and
// the defences against them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/board.h"
#include "core/clock.h"
#include "core/game_state.h"
#include "threats/line_index.h"
#include "threats/threat_table.h"

namespace kestrova {

// Win: the line is a proof. NoWin: a completed search found none, also a proof. Unknown: the
// budget ran out first. Invalid: the position cannot be searched (see ThreatResult::error).
enum class Verdict { Win, NoWin, Unknown, Invalid };

struct ThreatResult {
  Verdict verdict = Verdict::Unknown;
  // Attacker and defender moves alternating, from the attacker's first to its five.
  std::vector<Move> line;
  int64_t nodes = 0;
  std::string error;
  // Attacker moves in the line, the five included.
  int length() const { return int(line.size() + 1) / 2; }
};

struct ThreatBudget {
  int64_t maxNodes = 1'000'000;
  int64_t deadlineMs = -1;  // on clock; none when negative or without a clock
  Clock* clock = nullptr;
};

struct DefenceResult {
  // Win: the attacker has a win if it moves now, so the defences matter.
  Verdict threat = Verdict::Unknown;
  std::vector<Move> defences;   // moves after which the attacker has no win (of that kind)
  std::vector<Move> undecided;  // candidates the budget left open
  // When nothing defends: the move after which the attacker's shortest win is longest.
  Move longest{};
  int longestLength = 0;
  int64_t nodes = 0;
  std::string error;
};

// The empty cells where a stone of side would make a winning run that holds cell, taken as
// side's: cell may hold side's stone, or be the empty cell of a move about to be made, whose
// new fives these are. A search that knows where stones were played reads short wins from
// these without loading the solver's working state.
int FiveCellsThrough(const Board& board, int cell, uint8_t side, Rule rule);

struct SolverOptions {
  Rule rule = Rule::Freestyle;
  size_t tableEntries = size_t(1) << 18;
  int maxVctDepth = 8;         // attacker moves a VCT may take
  bool proofNumberVct = true;  // false: iterative deepening instead of proof numbers
};

class ThreatSolver {
 public:
  explicit ThreatSolver(SolverOptions options = {});

  // A win for attacker, to move on board, by fours alone.
  ThreatResult FindVCF(const Board& board, uint8_t attacker, const ThreatBudget& budget);
  // Defender to move: its moves after which the other side has no VCF.
  DefenceResult VCFDefences(const Board& board, uint8_t defender, const ThreatBudget& budget);
  // A win for attacker by fours and open threes, within options.maxVctDepth moves.
  ThreatResult FindVCT(const Board& board, uint8_t attacker, const ThreatBudget& budget);
  // Defender to move: its moves after which the other side has no VCT within the budget.
  DefenceResult VCTDefences(const Board& board, uint8_t defender, const ThreatBudget& budget);

  const SolverOptions& options() const { return options_; }
  // Positions settled under one rule prove nothing under another, so a change forgets them.
  void SetRule(Rule rule) {
    if (rule == options_.rule) return;
    options_.rule = rule;
    table_.Clear();
  }
  // Forgets every settled position (a benchmark's repeated searches start cold).
  void ClearTable() { table_.Clear(); }

 private:
  enum class Kind { Vcf, Vct };
  // Loads board into the working state; false with error set when it cannot be searched.
  bool Prepare(const Board& board, uint8_t attacker, const ThreatBudget& budget,
               std::string& error);
  void Place(int cell, uint8_t side);
  void Remove(int cell);
  uint64_t Key(Kind kind) const;
  bool OutOfBudget();
  // The attacker has a five to make: the line so far and that cell win.
  bool FiveNow(uint8_t attacker);
  // The table already failed this position at depth or more; a failure that was not proven
  // leaves the search cut.
  bool FailedBefore(uint64_t key, int depth);

  // Iterative deepening on the working state, depth-first by kind's attack, up to maxDepth
  // attacker moves; the winning line goes to line.
  Verdict Deepen(Kind kind, uint8_t attacker, int maxDepth, std::vector<Move>& line);
  Verdict SolveVcf(uint8_t attacker, int maxLength, std::vector<Move>& line) {
    return Deepen(Kind::Vcf, attacker, maxLength, line);
  }
  bool VcfAttack(int depth);
  void OrderFours(CellList& moves) const;
  // Whether the line still wins for attacker on the working state (left as it was).
  bool LineHolds(const std::vector<Move>& line, uint8_t attacker);

  Verdict SolveVct(uint8_t attacker, std::vector<Move>& line);
  Verdict SolveVctPns(uint8_t attacker, std::vector<Move>& line);
  bool VctAttack(int depth);
  // Attacker to move: its fours and threes, fours first, or only the block of a defender's
  // four; false when the defender has two fives. threesCut: the depth left no room for threes.
  bool VctMoves(int depth, CellList& moves, bool& threesCut);
  bool VctDefend(int depth);
  enum class Reply { TwoFives, Holds, Cut, Moves };
  // Defender to move after an attacker's move with depth attacker moves in hand (that one
  // included): TwoFives (they are in replies), Holds (the attack is over), Cut (too deep), or
  // Moves: every reply the defender need consider.
  Reply DefenderReplies(int depth, CellList& replies);
  bool DefenderHasVcf();
  // Cells that may refute a VCT whose main line is line: near its moves, and the defender's
  // fours.
  std::vector<int> VctDefenceCandidates(const std::vector<Move>& line, uint8_t defender);

  DefenceResult Defences(const Board& board, uint8_t defender, const ThreatBudget& budget,
                         Kind kind);
  Verdict SolveThreat(Kind kind, uint8_t attacker, std::vector<Move>& line);
  std::vector<int> DefenceCandidates(Kind kind, const std::vector<Move>& line, uint8_t defender);
  // Defender to move: 0 when some move refutes the attacker's win, else the attacker's
  // shortest win after the defender's best move (kUnknownLength when the budget cannot
  // tell); the defences go to out when given. foursLeft bounds the defender's fours in a row.
  int BestDefence(Kind kind, uint8_t defender, int foursLeft, DefenceResult* out);
  int AfterDefence(Kind kind, int d, uint8_t defender, int foursLeft);
  static constexpr int kUnknownLength = 1 << 20;
  static constexpr int kDefenderFours = 6;
  static constexpr size_t kVctShares = 8;

  SolverOptions options_;
  ZobristKeys zobrist_;
  ThreatTable table_;
  LineIndex index_;
  uint64_t hash_ = 0;
  uint8_t attacker_ = Own;
  ThreatBudget budget_;
  int64_t nodes_ = 0;
  bool stopped_ = false;
  bool deadlineHit_ = false;
  bool cut_ = false;       // a depth limit, not the position, ended some line of this iteration
  std::vector<int> path_;  // moves of the current line, both sides
  std::vector<int> winLine_;
};

}  // namespace kestrova
