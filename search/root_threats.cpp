#include "search/root_threats.h"

#include <algorithm>

namespace kestrova {
namespace {

constexpr int64_t kMinThreatMs = 20;
// The proof-number search keeps its tree while it runs: this bound keeps it to a few MB,
// inside the part of max_memory the node store leaves to the rest of the process.
constexpr int64_t kMaxVctNodes = 200'000;

}  // namespace

int64_t ThreatDeadline(const GameState& game) {
  const int64_t msRemainingGameTime = game.msMatchTime - game.GameRunningTime;
  // The time bands' longest thought for the game time left.
  int64_t think = 7000;
  if (msRemainingGameTime >= 0 && msRemainingGameTime <= 15000)
    think = 10;
  else if (msRemainingGameTime >= 0 && msRemainingGameTime <= 30000)
    think = 50;
  else if (msRemainingGameTime >= 0 && msRemainingGameTime <= 60000)
    think = 2000;
  if (game.msTurnTime > 0)
    think = std::min(think, game.msTurnTime - std::min<int64_t>(500, game.msTurnTime / 10));
  else
    think = 0;  // "as fast as possible"
  // A few milliseconds settle most short wins even in the fastest bands; a hundredth of
  // the game time left keeps that from ever mattering to the game clock.
  int64_t cap = std::max<int64_t>(think / 4, kMinThreatMs);
  if (msRemainingGameTime >= 0)
    cap = std::min(cap, std::max<int64_t>(1, msRemainingGameTime / 100));
  return game.TurnStartTime + cap;
}

RootThreats ConsultThreats(const Board& board, ThreatSolver& solver, Clock& clock,
                           int64_t deadlineMs) {
  RootThreats out;
  ThreatBudget budget;
  budget.maxNodes = INT64_MAX;
  budget.deadlineMs = deadlineMs;
  budget.clock = &clock;
  auto play = [&out](Move m, const char* why) {
    out.kind = RootThreats::Kind::Play;
    out.move = m;
    out.reason = why;
    return out;
  };

  const ThreatResult ownVcf = solver.FindVCF(board, Own, budget);
  out.nodes += ownVcf.nodes;
  if (ownVcf.verdict == Verdict::Win && !ownVcf.line.empty())
    return play(ownVcf.line[0], "own VCF");
  if (ownVcf.verdict == Verdict::Invalid) return out;

  const DefenceResult vcf = solver.VCFDefences(board, Own, budget);
  out.nodes += vcf.nodes;
  if (vcf.threat == Verdict::Win) {
    if (vcf.defences.empty() && vcf.undecided.empty())
      return play(vcf.longest, "lost to a VCF: its longest refutation");
    out.kind = RootThreats::Kind::Restricted;
    out.allowed = vcf.defences;
    // Moves the deadline left open may refute it too; they stay allowed.
    out.allowed.insert(out.allowed.end(), vcf.undecided.begin(), vcf.undecided.end());
    out.reason = "refuting the opponent's VCF";
    return out;
  }
  if (vcf.threat != Verdict::NoWin || ownVcf.verdict != Verdict::NoWin) return out;

  budget.maxNodes = kMaxVctNodes;
  const ThreatResult ownVct = solver.FindVCT(board, Own, budget);
  out.nodes += ownVct.nodes;
  if (ownVct.verdict == Verdict::Win && !ownVct.line.empty())
    return play(ownVct.line[0], "own VCT");

  const DefenceResult vct = solver.VCTDefences(board, Own, budget);
  out.nodes += vct.nodes;
  if (vct.threat == Verdict::Win) {
    out.allowed = vct.defences;
    out.allowed.insert(out.allowed.end(), vct.undecided.begin(), vct.undecided.end());
    if (out.allowed.empty()) return play(vct.longest, "lost to a VCT: its longest refutation");
    out.kind = RootThreats::Kind::Restricted;
    out.reason = "refuting the opponent's VCT";
  }
  return out;
}

}  // namespace kestrova
