#include "tools/match/match_results.h"

#include <algorithm>
#include <iterator>
#include <nlohmann/json.hpp>

namespace kestrova::referee {
namespace {

constexpr const char* kEndings[] = {"five", "full", "time", "memory", "forfeit", "stopped"};

// Every field ResultJson writes: a line that lacks one is not a game of ours.
constexpr const char* kFields[] = {
    "settings", "game",   "a",     "b",    "black", "opening",      "result",
    "ending",   "reason", "plies", "a_ms", "b_ms",  "a_peak_bytes", "b_peak_bytes"};

}  // namespace

std::string EndingName(Ending ending) {
  return kEndings[int(ending)];
}

GameOutcome OutcomeOf(int number, bool aIsBlack, const Opening& opening, const GameRecord& game) {
  GameOutcome o;
  o.number = number;
  o.aIsBlack = aIsBlack;
  for (const Point& p : opening) {
    if (!o.opening.empty()) o.opening += ' ';
    o.opening += ProtocolText(p);
  }
  if (o.opening.empty()) o.opening.push_back('-');
  const Stone aStone = aIsBlack ? Stone::Black : Stone::White;
  o.result = game.winner == Stone::None ? '=' : game.winner == aStone ? 'A' : 'B';
  o.ending = game.ending;
  o.reason = game.reason;
  o.plies = int(game.moves.size());
  for (const RecordedMove& m : game.moves)
    if (m.thinkingMs > 0) o.thinkingMs[m.stone.stone == aStone ? 0 : 1] += m.thinkingMs;
  const int aSide = aIsBlack ? 0 : 1;  // index of A in the record's black/white pairs
  o.peakBytes[0] = game.peakBytes[aSide];
  o.peakBytes[1] = game.peakBytes[1 - aSide];
  o.names[0] = aIsBlack ? game.blackName : game.whiteName;
  o.names[1] = aIsBlack ? game.whiteName : game.blackName;
  return o;
}

std::string ResultJson(const std::string& settings, const GameOutcome& g) {
  const nlohmann::ordered_json line = {{"settings", settings},
                                       {"game", g.number},
                                       {"a", g.names[0]},
                                       {"b", g.names[1]},
                                       {"black", g.aIsBlack ? "A" : "B"},
                                       {"opening", g.opening},
                                       {"result", std::string(1, g.result)},
                                       {"ending", EndingName(g.ending)},
                                       {"reason", g.reason},
                                       {"plies", g.plies},
                                       {"a_ms", g.thinkingMs[0]},
                                       {"b_ms", g.thinkingMs[1]},
                                       {"a_peak_bytes", g.peakBytes[0]},
                                       {"b_peak_bytes", g.peakBytes[1]}};
  // Names and reasons come from the engines: bytes that are not UTF-8 are replaced.
  return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool ParseResultJson(const std::string& text, std::string& settings, GameOutcome& g,
                     std::string& error) {
  const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
  if (line.is_discarded() || !line.is_object()) {
    error = "not a JSON object";
    return false;
  }
  for (const char* field : kFields)
    if (!line.contains(field)) {
      error = std::string("no \"") + field + "\" field: not a game of kestrova match";
      return false;
    }
  try {
    settings = line["settings"].get<std::string>();
    g.number = line["game"].get<int>();
    g.names[0] = line["a"].get<std::string>();
    g.names[1] = line["b"].get<std::string>();
    const std::string black = line["black"].get<std::string>();
    g.aIsBlack = black == "A";
    g.opening = line["opening"].get<std::string>();
    const std::string result = line["result"].get<std::string>();
    g.result = result.empty() ? '?' : result[0];
    const std::string ending = line["ending"].get<std::string>();
    const auto known = std::find(std::begin(kEndings), std::end(kEndings), ending);
    g.ending = Ending(known - std::begin(kEndings));
    g.reason = line["reason"].get<std::string>();
    g.plies = line["plies"].get<int>();
    g.thinkingMs[0] = line["a_ms"].get<int64_t>();
    g.thinkingMs[1] = line["b_ms"].get<int64_t>();
    g.peakBytes[0] = line["a_peak_bytes"].get<int64_t>();
    g.peakBytes[1] = line["b_peak_bytes"].get<int64_t>();
    if (g.number < 1 || (black != "A" && black != "B") ||
        (result != "A" && result != "B" && result != "=") || known == std::end(kEndings)) {
      error = "a value out of range: not a game of kestrova match";
      return false;
    }
  } catch (const nlohmann::json::exception& e) {
    error = std::string("a value of the wrong type: ") + e.what();
    return false;
  }
  return true;
}

void MatchTally::Add(const GameOutcome& g) {
  const double points = g.result == 'A' ? 1 : g.result == '=' ? 0.5 : 0;
  (g.result == 'A' ? wins_ : g.result == '=' ? draws_ : losses_) += 1;
  if (IsFault(g.ending)) {
    if (g.result != 'A') ++faults_[0];
    if (g.result != 'B') ++faults_[1];
  }
  for (int k = 0; k < 2; ++k) {
    peakBytes_[k] = std::max(peakBytes_[k], g.peakBytes[k]);
    names_[k] = g.names[k];
  }
  auto& [games, pairPoints] = pairGames_[(g.number + 1) / 2];
  ++games;
  pairPoints += points;
  if (games == 2) ++pairs_[size_t(pairPoints * 2 + 0.5)];
}

double MatchTally::PairPoints(int number) const {
  const auto it = pairGames_.find((number + 1) / 2);
  return it == pairGames_.end() || it->second.first < 2 ? -1 : it->second.second;
}

void MatchTally::PrintSummary(std::FILE* out, const std::optional<Sprt>& sprt) const {
  const int n = games();
  const double scoreA = wins_ + 0.5 * draws_;
  const EloEstimate elo = EstimateElo(wins_, draws_, losses_);
  std::fprintf(out, "A = %s, B = %s\n", names_[0].c_str(), names_[1].c_str());
  std::fprintf(out, "A: %d wins, %d draws, %d losses\n", wins_, draws_, losses_);
  std::fprintf(out, "score: A %g - %g B (%.1f %%)\n", scoreA, n - scoreA,
               n > 0 ? 100.0 * scoreA / n : 0.0);
  std::fprintf(out, "Elo difference A - B: %s (95 %% interval %s .. %s)\n",
               FormatElo(elo.elo).c_str(), FormatElo(elo.low).c_str(), FormatElo(elo.high).c_str());
  std::fprintf(out, "lost by time, memory or forfeit: A %d, B %d; peak memory: A %s, B %s\n",
               faults_[0], faults_[1], FormatMegabytes(peakBytes_[0]).c_str(),
               FormatMegabytes(peakBytes_[1]).c_str());
  if (!sprt) return;
  const double llr = PentanomialLlr(pairs_, sprt->elo0, sprt->elo1);
  const SprtVerdict verdict = Judge(*sprt, llr);
  int64_t pairCount = 0;
  for (int64_t c : pairs_) pairCount += c;
  std::fprintf(out,
               "SPRT elo0 %g elo1 %g alpha %g beta %g: %s after %lld pairs [%lld %lld %lld %lld "
               "%lld]: %s\n",
               sprt->elo0, sprt->elo1, sprt->alpha, sprt->beta, DescribeLlr(*sprt, llr).c_str(),
               (long long)pairCount, (long long)pairs_[0], (long long)pairs_[1],
               (long long)pairs_[2], (long long)pairs_[3], (long long)pairs_[4],
               verdict == SprtVerdict::H1   ? "H1 accepted"
               : verdict == SprtVerdict::H0 ? "H0 accepted"
                                            : "no verdict yet");
}

}  // namespace kestrova::referee
