#include "search/root_threats.h"

#include <algorithm>

#include "core/log.h"
#include "search/time_bands.h"

namespace kestrova {
namespace {

constexpr int64_t kMinThreatMs = 20;
// The proof-number search keeps its tree while it runs: this bound keeps it to a few MB,
// inside the part of max_memory the node store leaves to the rest of the process.
constexpr int64_t kMaxVctNodes = 200'000;

}  // namespace

ThreatDeadlines ThreatDeadline(const GameState& game) {
  const int64_t msRemainingGameTime = RemainingGameTime(game, 0);
  const int64_t msTurnTime = TurnLimit(game);
  // The time band's longest thought, inside the per-turn limit and its reserve; no limit (0)
  // is "as fast as possible".
  const int64_t think = msTurnTime > 0 ? std::min(BandThinkMs(msRemainingGameTime),
                                                  msTurnTime - TurnReserve(msTurnTime))
                                       : 0;
  // A few milliseconds settle most short wins even in the fastest bands; a hundredth of
  // the game time left keeps that from ever mattering to the game clock.
  const int64_t gameCap =
      msRemainingGameTime >= 0 ? std::max<int64_t>(1, msRemainingGameTime / 100) : INT64_MAX;
  const int64_t search = std::min(std::max<int64_t>(think / 4, kMinThreatMs), gameCap);
  const int64_t defence = std::min(std::max<int64_t>(think / 2, kMinThreatMs), gameCap);
  return {game.TurnStartTime + search, game.TurnStartTime + defence,
          game.TurnStartTime + std::min(think, gameCap)};
}

RootThreats ConsultThreats(const Board& board, ThreatSolver& solver, Clock& clock,
                           int64_t deadlineMs, int64_t defenceDeadlineMs, bool withVct) {
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
    if (!withVct) return out;
    budget.deadlineMs = defenceDeadlineMs;
    // A block that still lets the opponent win by threes is no refutation: keep the ones
    // proven safe from a VCT, else those where none was found.
    budget.maxNodes = kMaxVctNodes / int64_t(out.allowed.size());
    std::vector<Move> safe, unknown;
    Board after = board;
    for (const Move m : out.allowed) {
      after.at(m.x, m.y) = Own;
      const ThreatResult vct = solver.FindVCT(after, Opponent, budget);
      after.at(m.x, m.y) = Empty;
      out.nodes += vct.nodes;
      if (vct.verdict == Verdict::NoWin) safe.push_back(m);
      if (vct.verdict == Verdict::Unknown) unknown.push_back(m);
    }
    out.unsettled = safe.empty();
    if (!safe.empty())
      out.allowed = std::move(safe);
    else if (!unknown.empty())
      out.allowed = std::move(unknown);
    return out;
  }
  if (!withVct || vcf.threat != Verdict::NoWin || ownVcf.verdict != Verdict::NoWin) return out;

  budget.maxNodes = kMaxVctNodes;
  const ThreatResult ownVct = solver.FindVCT(board, Own, budget);
  out.nodes += ownVct.nodes;
  if (ownVct.verdict == Verdict::Win && !ownVct.line.empty())
    return play(ownVct.line[0], "own VCT");

  budget.deadlineMs = defenceDeadlineMs;
  const DefenceResult vct = solver.VCTDefences(board, Own, budget);
  out.nodes += vct.nodes;
  out.unsettled =
      vct.threat == Verdict::Unknown || (vct.threat == Verdict::Win && vct.defences.empty());
  if (vct.threat == Verdict::Win) {
    // A proven refutation beats one the budget left open; with none, the open ones are all
    // there is.
    out.allowed = vct.defences.empty() ? vct.undecided : vct.defences;
    if (out.allowed.empty()) return play(vct.longest, "lost to a VCT: its longest refutation");
    out.kind = RootThreats::Kind::Restricted;
    out.reason = "refuting the opponent's VCT";
    Log("VCT refutations ", vct.defences.size(), ", undecided ", vct.undecided.size());
  }
  return out;
}

}  // namespace kestrova
