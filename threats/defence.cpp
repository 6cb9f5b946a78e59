// Defences against a threat win: the defender's moves after which the attacker has none.
#include <algorithm>

#include "threats/threat_solver.h"

namespace kestrova {

bool ThreatSolver::LineHolds(const std::vector<Move>& line, uint8_t attacker) {
  const uint8_t defender = OtherSide(attacker);
  std::vector<int> placed;
  CellList fives, threats;
  bool holds = false;
  for (size_t k = 0;; k += 2) {
    index_.FiveCells(attacker, fives);
    if (!fives.empty()) {
      holds = true;
      break;
    }
    if (k >= line.size()) break;
    const int a = MoveCell(line[k]);
    index_.FiveCells(defender, threats);
    if (index_.board().cells[a] != Empty || threats.size() >= 2 ||
        (threats.size() == 1 && threats[0] != a))
      break;
    Place(a, attacker);
    placed.push_back(a);
    index_.FiveCells(attacker, fives);
    if (fives.size() != 1) {
      holds = fives.size() >= 2;
      break;
    }
    // A block elsewhere than the line's own leaves a position the line was not made for.
    if (k + 1 < line.size() && MoveCell(line[k + 1]) != fives[0]) break;
    Place(fives[0], defender);
    placed.push_back(fives[0]);
  }
  for (auto it = placed.rbegin(); it != placed.rend(); ++it) Remove(*it);
  return holds;
}

Verdict ThreatSolver::SolveThreat(Kind kind, uint8_t attacker, std::vector<Move>& line) {
  return kind == Kind::Vcf ? SolveVcf(attacker, kCells, line) : SolveVct(attacker, line);
}

std::vector<int> ThreatSolver::DefenceCandidates(Kind kind, const std::vector<Move>& line,
                                                 uint8_t defender) {
  if (kind == Kind::Vct) return VctDefenceCandidates(line, defender);
  // Only a move that breaks the proof can refute it: elsewhere the same line still wins.
  std::vector<int> candidates;
  const uint8_t attacker = OtherSide(defender);
  for (int i = 1; i <= index_.size(); ++i)
    for (int j = 1; j <= index_.size(); ++j) {
      const int d = i * kGrid + j;
      if (index_.board().cells[d] != Empty) continue;
      Place(d, defender);
      const bool breaks = !LineHolds(line, attacker);
      Remove(d);
      if (breaks) candidates.push_back(d);
    }
  return candidates;
}

int ThreatSolver::AfterDefence(Kind kind, int d, uint8_t defender, int foursLeft) {
  const uint8_t attacker = OtherSide(defender);
  Place(d, defender);
  CellList fives;
  index_.FiveCells(defender, fives);
  int length = kUnknownLength;
  if (fives.size() >= 2) {
    length = 0;  // the attacker blocks one five and loses to the other
  } else if (fives.size() == 1) {
    // A four of the defender's: the attacker blocks, and the defender moves again with the
    // threat still standing.
    if (foursLeft > 0) {
      Place(fives[0], attacker);
      length = BestDefence(kind, defender, foursLeft - 1, nullptr);
      Remove(fives[0]);
    }
  } else {
    std::vector<Move> reply;
    const Verdict v = SolveThreat(kind, attacker, reply);
    // Unknown without a budget stop: nothing within the VCT's depth limit.
    if (v == Verdict::NoWin || (v == Verdict::Unknown && !stopped_ && kind == Kind::Vct))
      length = 0;
    else if (v == Verdict::Win)
      length = int(reply.size() + 1) / 2;
  }
  Remove(d);
  return length;
}

int ThreatSolver::BestDefence(Kind kind, uint8_t defender, int foursLeft, DefenceResult* out) {
  const uint8_t attacker = OtherSide(defender);
  std::vector<Move> line;
  const Verdict threat = SolveThreat(kind, attacker, line);
  if (out) out->threat = threat;
  CellList own;
  index_.FiveCells(defender, own);
  if (!own.empty()) {
    // A five of its own wins for the defender whatever the threat.
    if (out)
      for (int c : own.cells) out->defences.push_back(CellMove(c));
    return 0;
  }
  if (threat == Verdict::NoWin) return 0;
  if (threat != Verdict::Win) return kUnknownLength;
  int best = -1, worst = 0;
  const std::vector<int> candidates = DefenceCandidates(kind, line, defender);
  const int64_t limit = budget_.maxNodes;
  for (size_t k = 0; k < candidates.size(); ++k) {
    const int d = candidates[k];
    if (stopped_) {
      if (out) out->undecided.push_back(CellMove(d));
      continue;
    }
    // A share of what is left, so that one hard candidate leaves the rest their turn. A
    // VCT has a hundred candidates and more, listed nearest its line first: an even share
    // would settle none of them, so the first few get an eighth each.
    const size_t left = candidates.size() - k;
    const size_t shares = kind == Kind::Vct ? std::min<size_t>(left, kVctShares) : left;
    budget_.maxNodes = nodes_ + (limit - nodes_) / int64_t(shares);
    int length = AfterDefence(kind, d, defender, foursLeft);
    budget_.maxNodes = limit;
    if (stopped_ && !deadlineHit_ && nodes_ < limit) {
      stopped_ = false;
      length = kUnknownLength;
    }
    if (length == 0) {
      if (!out) return 0;
      out->defences.push_back(CellMove(d));
      best = 0;
    } else if (length == kUnknownLength) {
      if (out) out->undecided.push_back(CellMove(d));
      worst = kUnknownLength;
    } else if (length > best && best != 0) {
      best = length;
      if (out) {
        out->longest = CellMove(d);
        out->longestLength = length;
      }
    }
  }
  if (best == 0) return 0;
  return worst == kUnknownLength ? kUnknownLength : std::max(best, int(line.size() + 1) / 2);
}

DefenceResult ThreatSolver::Defences(const Board& board, uint8_t defender,
                                     const ThreatBudget& budget, Kind kind) {
  DefenceResult out;
  if (!Prepare(board, OtherSide(defender), budget, out.error)) {
    out.threat = Verdict::Invalid;
    return out;
  }
  BestDefence(kind, defender, kDefenderFours, &out);
  out.nodes = nodes_;
  return out;
}

DefenceResult ThreatSolver::VCFDefences(const Board& board, uint8_t defender,
                                        const ThreatBudget& budget) {
  return Defences(board, defender, budget, Kind::Vcf);
}

DefenceResult ThreatSolver::VCTDefences(const Board& board, uint8_t defender,
                                        const ThreatBudget& budget) {
  return Defences(board, defender, budget, Kind::Vct);
}

}  // namespace kestrova
