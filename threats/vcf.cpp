// The solver's working state and its search by continuous fours.
#include <algorithm>
#include <cstdlib>

#include "threats/threat_solver.h"

namespace kestrova {
namespace {

// Longer than any line on the largest board: a VCF puts two stones down a move.
constexpr int kUnlimited = kCells;

// Why board cannot be searched, or empty when it can.
std::string CheckBoard(const Board& board, uint8_t attacker) {
  if (attacker != Own && attacker != Opponent) return "the attacker must be side 2 or 3";
  const int size = PlayingSize(board);
  if (size < kMinBoardSize) return "the board is smaller than 5x5";
  for (int i = 0; i <= BoardSize + 1; ++i)
    for (int j = 0; j <= BoardSize + 1; ++j) {
      const uint8_t v = board.at(i, j);
      if (InPlayingArea(i, j, size) ? v == Wall || v > Opponent : v != Wall)
        return "the board's walls do not frame a square playing area";
    }
  for (int i = 1; i <= size; ++i)
    for (int j = 1; j <= size; ++j) {
      const uint8_t v = board.at(i, j);
      if (v == Empty) continue;
      for (int step : kLineSteps) {
        int run = 1;
        for (int c = i * kGrid + j + step; board.cells[c] == v; c += step) ++run;
        if (run >= 5) return "the position already holds five or more in a row";
      }
    }
  return {};
}

}  // namespace

int FiveCellsThrough(const Board& board, int cell, uint8_t side, Rule rule) {
  int n = 0;
  for (int step : kLineSteps) {
    // The run through cell ends at lo and hi, the first cells of each side that hold no
    // stone of side's: only those can complete it. Walls hold none, so the walk stays inside.
    int lo = cell - step, hi = cell + step;
    while (board.cells[lo] == side) lo -= step;
    while (board.cells[hi] == side) hi += step;
    const int inner = (hi - lo) / step - 1;
    for (const int e : {lo, hi}) {
      if (board.cells[e] != Empty) continue;
      const int out = e == lo ? -step : step;
      int run = inner + 1;
      for (int c = e + out; board.cells[c] == side; c += out) ++run;
      n += IsFiveRun(run, rule);
    }
  }
  return n;
}

ThreatSolver::ThreatSolver(SolverOptions options)
    : options_(options), table_(options.tableEntries) {}

bool ThreatSolver::Prepare(const Board& board, uint8_t attacker, const ThreatBudget& budget,
                           std::string& error) {
  budget_ = budget;
  nodes_ = 0;
  stopped_ = deadlineHit_ = false;
  path_.clear();
  winLine_.clear();
  error = CheckBoard(board, attacker);
  if (!error.empty()) return false;
  attacker_ = attacker;
  index_.Reset(board, options_.rule);
  hash_ = zobrist_.Hash(board);
  return true;
}

void ThreatSolver::Place(int cell, uint8_t side) {
  index_.Place(cell, side);
  hash_ ^= zobrist_.Key(cell, side);
}

void ThreatSolver::Remove(int cell) {
  hash_ ^= zobrist_.Key(cell, index_.board().cells[cell]);
  index_.Remove(cell);
}

uint64_t ThreatSolver::Key(Kind kind) const {
  // The same stones searched for the other side, or for the other kind of win, are
  // another entry.
  constexpr uint64_t kSalt[2][2] = {{0x243f6a8885a308d3ULL, 0x13198a2e03707344ULL},
                                    {0xa4093822299f31d0ULL, 0x082efa98ec4e6c89ULL}};
  return hash_ ^ kSalt[kind == Kind::Vct][attacker_ == Opponent];
}

bool ThreatSolver::OutOfBudget() {
  if (stopped_) return true;
  ++nodes_;
  if (nodes_ > budget_.maxNodes) stopped_ = true;
  // Reading the clock costs more than a node: once every 1024 nodes.
  if ((nodes_ & 1023) == 0 && budget_.clock && budget_.deadlineMs >= 0 &&
      budget_.clock->NowMs() >= budget_.deadlineMs)
    stopped_ = deadlineHit_ = true;
  return stopped_;
}

bool ThreatSolver::FiveNow(uint8_t attacker) {
  CellList fives;
  index_.FiveCells(attacker, fives);
  if (fives.empty()) return false;
  winLine_ = path_;
  winLine_.push_back(fives[0]);
  return true;
}

bool ThreatSolver::FailedBefore(uint64_t key, int depth) {
  const TableEntry* e = table_.Find(key);
  if (!e || e->failDepth < depth) return false;
  if (e->failDepth != kProven) cut_ = true;
  return true;
}

void ThreatSolver::OrderFours(CellList& moves) const {
  // Fours near the last attack first: that is where the attack's stones are.
  if (path_.size() < 2) return;
  const int last = path_[path_.size() - 2];
  auto distance = [last](int cell) {
    return std::max(std::abs(cell / kGrid - last / kGrid), std::abs(cell % kGrid - last % kGrid));
  };
  std::stable_sort(moves.cells.begin(), moves.cells.end(),
                   [&](int a, int b) { return distance(a) < distance(b); });
}

bool ThreatSolver::VcfAttack(int depth) {
  if (OutOfBudget()) return false;
  const uint8_t attacker = attacker_, defender = OtherSide(attacker_);
  if (FiveNow(attacker)) return true;
  if (depth < 2) {
    if (index_.HasThreeWindow(attacker)) cut_ = true;
    return false;
  }
  const uint64_t key = Key(Kind::Vcf);
  if (FailedBefore(key, depth)) return false;
  CellList threats, moves, fives;
  index_.FiveCells(defender, threats);
  if (threats.size() >= 2) {
    table_.StoreFail(key, kProven);
    return false;
  }
  // A four of the defender's is blocked first, and the block must itself be a four.
  if (threats.size() == 1) {
    moves.Add(threats[0]);
  } else {
    index_.FourCandidates(attacker, moves);
    OrderFours(moves);
  }
  const bool outerCut = cut_;
  cut_ = false;
  bool won = false;
  for (int c : moves.cells) {
    Place(c, attacker);
    index_.FiveCells(attacker, fives);
    if (!fives.empty()) {
      path_.push_back(c);
      if (fives.size() >= 2) {
        winLine_ = path_;
        winLine_.push_back(fives[0]);
        winLine_.push_back(fives[1]);
        won = true;
      } else {
        const int block = fives[0];
        Place(block, defender);
        path_.push_back(block);
        won = VcfAttack(depth - 1);
        path_.pop_back();
        Remove(block);
      }
      path_.pop_back();
    }
    Remove(c);
    if (won || stopped_) break;
  }
  if (!won && !stopped_) table_.StoreFail(key, cut_ ? depth : kProven);
  cut_ = cut_ || outerCut;
  return won;
}

Verdict ThreatSolver::Deepen(Kind kind, uint8_t attacker, int maxDepth, std::vector<Move>& line) {
  const uint8_t outerAttacker = attacker_;
  attacker_ = attacker;
  Verdict verdict = Verdict::Unknown;
  const size_t base = path_.size();
  for (int depth = 1; depth <= maxDepth; ++depth) {
    cut_ = false;
    if (kind == Kind::Vcf ? VcfAttack(depth) : VctAttack(depth)) {
      line.clear();
      for (size_t k = base; k < winLine_.size(); ++k) line.push_back(CellMove(winLine_[k]));
      verdict = Verdict::Win;
      break;
    }
    if (stopped_) break;
    // Nothing cut short by the depth: no deeper search can find a win either.
    if (!cut_) {
      verdict = Verdict::NoWin;
      break;
    }
  }
  attacker_ = outerAttacker;
  return verdict;
}

ThreatResult ThreatSolver::FindVCF(const Board& board, uint8_t attacker,
                                   const ThreatBudget& budget) {
  ThreatResult result;
  if (!Prepare(board, attacker, budget, result.error)) {
    result.verdict = Verdict::Invalid;
    return result;
  }
  result.verdict = SolveVcf(attacker, kUnlimited, result.line);
  result.nodes = nodes_;
  return result;
}

}  // namespace kestrova
