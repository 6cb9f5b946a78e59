// The solver's answer for a tactics position, and whether a move keeps to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.h"
#include "threats/threat_solver.h"
#include "tools/tactics/puzzle_line.h"

namespace kestrova::tactics {

struct JudgeOptions {
  int64_t maxNodes = 1'000'000;  // each search
  int64_t maxMs = -1;            // each position, none when negative
  bool vct = false;              // also look for a VCT when neither side has a VCF
};

struct Answer {
  enum class Status { Solved, Unknown, Invalid };
  Status status = Status::Unknown;
  Expectation found;           // when Solved
  std::vector<Move> line;      // the win (Vcf, Vct) or the opponent's (Defend, Lost)
  std::vector<Move> defences;  // Defend: the moves that refute the opponent's VCF
  int undecided = 0;           // Defend: candidates the budget left open
  bool vctSearched = false;    // None: a VCT search ran and found none within its depth
  std::string reason;          // Unknown, Invalid: why
  int64_t nodes = 0;
};

// What the position holds for side to move: its VCF, else the opponent's VCF and the defences,
// else (with options.vct) its VCT.
Answer Judge(ThreatSolver& solver, Clock& clock, const Board& board, uint8_t toMove,
             const JudgeOptions& options);

enum class MoveScore { Pass, Fail, Unverified };

struct MoveVerdict {
  MoveScore score = MoveScore::Fail;
  std::string reason;
};

// Whether move, by side toMove, keeps to answer: it still wins (Vcf, Vct), or after it the
// opponent has no VCF (Defend). Decided by solving again after the move.
MoveVerdict ScoreMove(ThreatSolver& solver, Clock& clock, const Board& board, uint8_t toMove,
                      const Answer& answer, Move move, const JudgeOptions& options);

// Protocol coordinates of a board move, "x,y".
std::string MoveText(Move m);
std::string LineText(const std::vector<Move>& line);

}  // namespace kestrova::tactics
