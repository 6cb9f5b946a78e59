#include "tools/tactics/judge.h"

#include "threats/line_index.h"

namespace kestrova::tactics {
namespace {

ThreatBudget BudgetFrom(Clock& clock, const JudgeOptions& options) {
  return ThreatBudget{options.maxNodes, options.maxMs >= 0 ? clock.NowMs() + options.maxMs : -1,
                      &clock};
}

bool HasEmptyCell(const Board& board) {
  int x = 0, y = 0;
  return FirstEmptyCell(board, x, y);
}

bool OutOfBudget(Clock& clock, const ThreatBudget& budget, int64_t nodes) {
  return nodes >= budget.maxNodes || (budget.deadlineMs >= 0 && clock.NowMs() >= budget.deadlineMs);
}

// Whether, with attacker just moved, the defender to move has no way out of a win of kind.
MoveScore NoDefence(const DefenceResult& d, std::string& reason) {
  if (d.threat == Verdict::Win && d.defences.empty() && d.undecided.empty()) return MoveScore::Pass;
  if (d.threat == Verdict::Unknown || !d.undecided.empty()) {
    reason = "the budget left the defences open";
    return MoveScore::Unverified;
  }
  if (d.threat == Verdict::Win)
    reason = "the opponent refutes it with " + MoveText(d.defences.front());
  else
    reason = "no win left after it";
  return MoveScore::Fail;
}

}  // namespace

std::string MoveText(Move m) {
  return std::to_string(m.x - 1) + "," + std::to_string(m.y - 1);
}

std::string LineText(const std::vector<Move>& line) {
  std::string text;
  for (const Move& m : line) {
    if (!text.empty()) text += ' ';
    text += MoveText(m);
  }
  return text;
}

Answer Judge(ThreatSolver& solver, Clock& clock, const Board& board, uint8_t toMove,
             const JudgeOptions& options) {
  Answer a;
  if (!HasEmptyCell(board)) {
    a.status = Answer::Status::Invalid;
    a.reason = "the board has no empty cell";
    return a;
  }
  const ThreatBudget budget = BudgetFrom(clock, options);
  const uint8_t other = OtherSide(toMove);
  const ThreatResult own = solver.FindVCF(board, toMove, budget);
  a.nodes += own.nodes;
  if (own.verdict == Verdict::Invalid) {
    a.status = Answer::Status::Invalid;
    a.reason = own.error;
    return a;
  }
  if (own.verdict == Verdict::Unknown) {
    a.reason = "the VCF search ran out of budget";
    return a;
  }
  a.status = Answer::Status::Solved;
  if (own.verdict == Verdict::Win) {
    a.found = {Kind::Vcf, own.length()};
    a.line = own.line;
    return a;
  }
  const ThreatResult theirs = solver.FindVCF(board, other, budget);
  a.nodes += theirs.nodes;
  if (theirs.verdict == Verdict::Win) {
    const DefenceResult d = solver.VCFDefences(board, toMove, budget);
    a.nodes += d.nodes;
    a.line = theirs.line;
    a.defences = d.defences;
    a.undecided = int(d.undecided.size());
    if (d.threat == Verdict::Win && !d.defences.empty()) {
      a.found = {Kind::Defend, theirs.length()};
    } else if (d.threat == Verdict::Win && d.undecided.empty()) {
      a.found = {Kind::Lost, theirs.length()};
    } else {
      a.status = Answer::Status::Unknown;
      a.reason = "the defence search ran out of budget";
    }
    return a;
  }
  if (theirs.verdict == Verdict::Unknown) {
    a.status = Answer::Status::Unknown;
    a.reason = "the opponent's VCF search ran out of budget";
    return a;
  }
  a.found = {Kind::None, 0};
  if (!options.vct) return a;
  const ThreatResult vct = solver.FindVCT(board, toMove, budget);
  a.nodes += vct.nodes;
  if (vct.verdict == Verdict::Win) {
    a.found = {Kind::Vct, vct.length()};
    a.line = vct.line;
  } else if (vct.verdict == Verdict::Unknown && OutOfBudget(clock, budget, vct.nodes)) {
    a.status = Answer::Status::Unknown;
    a.reason = "no VCF either side; the VCT search ran out of budget";
  } else {
    a.vctSearched = true;
  }
  return a;
}

MoveVerdict ScoreMove(ThreatSolver& solver, Clock& clock, const Board& board, uint8_t toMove,
                      const Answer& answer, Move move, const JudgeOptions& options) {
  MoveVerdict v;
  if (!InPlayingArea(move.x, move.y, PlayingSize(board))) {
    v.reason = "off the board";
    return v;
  }
  const int cell = MoveCell(move);
  if (board.cells[cell] != Empty) {
    v.reason = "on a taken cell";
    return v;
  }
  if (MakesFive(board, cell, toMove, solver.options().rule)) {
    v.score = MoveScore::Pass;
    return v;
  }
  Board after = board;
  after.cells[cell] = toMove;
  const uint8_t other = OtherSide(toMove);
  const ThreatBudget budget = BudgetFrom(clock, options);
  switch (answer.found.kind) {
    case Kind::Vcf:
    case Kind::Vct: {
      v.score = NoDefence(solver.VCFDefences(after, other, budget), v.reason);
      if (v.score == MoveScore::Pass || !(options.vct || answer.found.kind == Kind::Vct)) return v;
      std::string reason;
      const MoveScore byVct = NoDefence(solver.VCTDefences(after, other, budget), reason);
      if (byVct != MoveScore::Fail || v.score == MoveScore::Fail) v = {byVct, reason};
      return v;
    }
    case Kind::Defend: {
      const ThreatResult r = solver.FindVCF(after, other, budget);
      if (r.verdict == Verdict::NoWin) {
        v.score = MoveScore::Pass;
      } else if (r.verdict == Verdict::Win) {
        v.reason = "the opponent still wins: " + LineText(r.line);
      } else {
        v.score = MoveScore::Unverified;
        v.reason = "the budget left the opponent's VCF open";
      }
      return v;
    }
    default:
      v.score = MoveScore::Unverified;
      v.reason = "no answer to score against";
      return v;
  }
}

}  // namespace kestrova::tactics
