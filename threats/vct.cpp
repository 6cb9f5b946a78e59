// Search by fours and open threes, depth-first with iterative deepening.
#include "threats/threat_solver.h"

namespace kestrova {

bool ThreatSolver::DefenderHasVcf() {
  // The nested search has its own line and depth bookkeeping.
  const std::vector<int> path = path_, winLine = winLine_;
  const bool cut = cut_;
  std::vector<Move> ignored;
  const Verdict v = SolveVcf(OtherSide(attacker_), kCells, ignored);
  path_ = path;
  winLine_ = winLine;
  cut_ = cut;
  // A VCF the budget could not settle is taken as one: a VCT is only claimed when proven.
  return v != Verdict::NoWin;
}

bool ThreatSolver::VctMoves(int depth, CellList& moves, bool& threesCut) {
  const uint8_t attacker = attacker_, defender = OtherSide(attacker_);
  CellList threats, candidates, threes, fives, near, made;
  moves.cells.clear();
  index_.FiveCells(defender, threats);
  if (threats.size() >= 2) return false;
  if (threats.size() == 1) {
    moves.Add(threats[0]);  // blocked first, threat or not
    return true;
  }
  index_.FourCandidates(attacker, candidates);
  OrderFours(candidates);
  // An open three needs two more moves after it: the open four and the five.
  if (depth >= 3) {
    index_.ThreeCandidates(attacker, threes);
    OrderFours(threes);
    for (int c : threes.cells) candidates.Add(c);
  } else {
    threesCut = true;
  }
  for (int c : candidates.cells) {
    Place(c, attacker);
    index_.FiveCells(attacker, fives);
    bool threat = !fives.empty();
    if (!threat) {
      near.cells.assign(1, c);
      index_.DoubleFiveCells(attacker, near, made);
      threat = !made.empty();
    }
    Remove(c);
    if (threat) moves.Add(c);
  }
  return true;
}

bool ThreatSolver::VctAttack(int depth) {
  if (OutOfBudget()) return false;
  if (FiveNow(attacker_)) return true;
  if (depth < 2) {
    cut_ = true;
    return false;
  }
  const uint64_t key = Key(Kind::Vct);
  if (FailedBefore(key, depth)) return false;
  CellList moves;
  bool threesCut = false;
  if (!VctMoves(depth, moves, threesCut)) {
    table_.StoreFail(key, kProven);
    return false;
  }
  const bool outerCut = cut_;
  cut_ = threesCut;
  bool won = false;
  for (int c : moves.cells) {
    Place(c, attacker_);
    path_.push_back(c);
    won = VctDefend(depth);
    path_.pop_back();
    Remove(c);
    if (won || stopped_) break;
  }
  if (!won && !stopped_) table_.StoreFail(key, cut_ ? depth : kProven);
  cut_ = cut_ || outerCut;
  return won;
}

ThreatSolver::Reply ThreatSolver::DefenderReplies(int depth, CellList& replies) {
  const uint8_t attacker = attacker_, defender = OtherSide(attacker_);
  replies.cells.clear();
  CellList threats;
  index_.FiveCells(defender, threats);
  if (!threats.empty()) return Reply::Holds;
  index_.FiveCells(attacker, replies);
  if (replies.size() >= 2) return Reply::TwoFives;
  if (replies.size() == 1) return Reply::Moves;  // the block is forced
  // No four: the attack stands only if some move would give it two five cells at once.
  CellList open, everywhere;
  index_.DoubleFiveCells(attacker, everywhere, open);
  if (open.empty()) return Reply::Holds;
  if (depth < 3) return Reply::Cut;
  // The defender moves first now: a VCF of its own beats the three.
  if (DefenderHasVcf() || stopped_) return Reply::Holds;
  // Replies: every cell that leaves no such move, and every four of the defender's.
  CellList candidates, left;
  for (int x : open.cells) {
    candidates.Add(x);
    index_.CandidatesThrough(x, attacker, 3, candidates);
  }
  for (int d : candidates.cells) {
    if (index_.board().cells[d] != Empty) continue;
    Place(d, defender);
    index_.DoubleFiveCells(attacker, everywhere, left);
    Remove(d);
    if (left.empty()) replies.Add(d);
  }
  CellList fours;
  index_.FourCandidates(defender, fours);
  for (int d : fours.cells) {
    Place(d, defender);
    index_.FiveCells(defender, threats);
    Remove(d);
    if (!threats.empty()) replies.Add(d);
  }
  // Nothing holds it: any move loses, and the line shows one.
  if (replies.empty()) replies.Add(open[0]);
  return Reply::Moves;
}

bool ThreatSolver::VctDefend(int depth) {
  if (OutOfBudget()) return false;
  CellList replies;
  switch (DefenderReplies(depth, replies)) {
    case Reply::TwoFives:
      winLine_ = path_;
      winLine_.push_back(replies[0]);
      winLine_.push_back(replies[1]);
      return true;
    case Reply::Cut:
      cut_ = true;
      return false;
    case Reply::Holds:
      return false;
    case Reply::Moves:
      break;
  }
  const uint8_t defender = OtherSide(attacker_);
  std::vector<int> firstLine;
  for (int d : replies.cells) {
    Place(d, defender);
    path_.push_back(d);
    const bool won = VctAttack(depth - 1);
    path_.pop_back();
    Remove(d);
    if (!won) return false;
    if (firstLine.empty()) firstLine = winLine_;
  }
  winLine_ = firstLine;
  return true;
}

Verdict ThreatSolver::SolveVct(uint8_t attacker, std::vector<Move>& line) {
  if (options_.proofNumberVct) return SolveVctPns(attacker, line);
  return Deepen(Kind::Vct, attacker, options_.maxVctDepth, line);
}

ThreatResult ThreatSolver::FindVCT(const Board& board, uint8_t attacker,
                                   const ThreatBudget& budget) {
  ThreatResult result;
  if (!Prepare(board, attacker, budget, result.error)) {
    result.verdict = Verdict::Invalid;
    return result;
  }
  result.verdict = SolveVct(attacker, result.line);
  result.nodes = nodes_;
  return result;
}

std::vector<int> ThreatSolver::VctDefenceCandidates(const std::vector<Move>& line,
                                                    uint8_t defender) {
  CellList cells;
  for (Move m : line) {
    const int p = MoveCell(m);
    for (int step : kLineSteps)
      for (int sign : {1, -1})
        for (int k = 0, c = p; k <= 4 && index_.board().cells[c] != Wall; ++k, c += sign * step)
          if (index_.board().cells[c] == Empty) cells.Add(c);
  }
  CellList fours, fives;
  index_.FourCandidates(defender, fours);
  for (int d : fours.cells) {
    Place(d, defender);
    index_.FiveCells(defender, fives);
    Remove(d);
    if (!fives.empty()) cells.Add(d);
  }
  return cells.cells;
}

}  // namespace kestrova
