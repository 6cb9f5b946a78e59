#include "tools/match_results.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace kestrova::referee {
namespace {

constexpr const char* kEndings[] = {"five", "full", "time", "memory", "forfeit", "stopped"};

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += char(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      json += char(c);
    }
  }
  return json + "\"";
}

// A flat JSON object of strings and numbers, the only kind ResultJson writes.
class FlatJson {
 public:
  explicit FlatJson(const std::string& text) : text_(text) {}

  bool Parse(std::map<std::string, std::string>& fields, std::string& error) {
    if (!Expect('{')) return Fail("not a JSON object", error);
    if (Expect('}')) return true;
    do {
      std::string key, value;
      if (!String(key) || !Expect(':')) return Fail("expected \"key\": value", error);
      Space();
      if (at_ < text_.size() && text_[at_] == '"') {
        if (!String(value)) return Fail("unterminated string", error);
      } else {
        const size_t start = at_;
        while (at_ < text_.size() &&
               std::string_view("+-.0123456789eE").find(text_[at_]) != std::string_view::npos)
          ++at_;
        value = text_.substr(start, at_ - start);
        if (value.empty()) return Fail("expected a string or a number after " + key, error);
      }
      fields[key] = value;
    } while (Expect(','));
    if (!Expect('}')) return Fail("expected , or }", error);
    Space();
    return at_ == text_.size() || Fail("text after the object", error);
  }

 private:
  bool Fail(const std::string& why, std::string& error) {
    error = why + " at column " + std::to_string(at_ + 1);
    return false;
  }
  void Space() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Expect(char c) {
    Space();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool String(std::string& out) {
    if (!Expect('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char e = text_[at_++];
      if (e == 'u') {
        if (at_ + 4 > text_.size()) return false;
        out += char(std::strtol(text_.substr(at_, 4).c_str(), nullptr, 16));
        at_ += 4;
      } else {
        out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
      }
    }
    return false;
  }

  const std::string& text_;
  size_t at_ = 0;
};

bool Number(const std::map<std::string, std::string>& fields, const std::string& key,
            int64_t& value) {
  const auto it = fields.find(key);
  if (it == fields.end()) return false;
  char* end = nullptr;
  value = std::strtoll(it->second.c_str(), &end, 10);
  return end && *end == '\0' && !it->second.empty();
}

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
  auto number = [](int64_t n) { return std::to_string(n); };
  return "{\"settings\": " + JsonString(settings) + ", \"game\": " + number(g.number) +
         ", \"a\": " + JsonString(g.names[0]) + ", \"b\": " + JsonString(g.names[1]) +
         ", \"black\": \"" + (g.aIsBlack ? "A" : "B") +
         "\", \"opening\": " + JsonString(g.opening) + ", \"result\": \"" +
         std::string(1, g.result) + "\", \"ending\": \"" + EndingName(g.ending) +
         "\", \"reason\": " + JsonString(g.reason) + ", \"plies\": " + number(g.plies) +
         ", \"a_ms\": " + number(g.thinkingMs[0]) + ", \"b_ms\": " + number(g.thinkingMs[1]) +
         ", \"a_peak_bytes\": " + number(g.peakBytes[0]) +
         ", \"b_peak_bytes\": " + number(g.peakBytes[1]) + "}";
}

bool ParseResultJson(const std::string& line, std::string& settings, GameOutcome& g,
                     std::string& error) {
  std::map<std::string, std::string> fields;
  if (!FlatJson(line).Parse(fields, error)) return false;
  int64_t number = 0, plies = 0;
  const std::string result = fields["result"], black = fields["black"];
  const auto ending = std::find(std::begin(kEndings), std::end(kEndings), fields["ending"]);
  if (!Number(fields, "game", number) || number < 1 || !Number(fields, "plies", plies) ||
      !Number(fields, "a_ms", g.thinkingMs[0]) || !Number(fields, "b_ms", g.thinkingMs[1]) ||
      !Number(fields, "a_peak_bytes", g.peakBytes[0]) ||
      !Number(fields, "b_peak_bytes", g.peakBytes[1]) || !fields.count("settings") ||
      (result != "A" && result != "B" && result != "=") || (black != "A" && black != "B") ||
      ending == std::end(kEndings)) {
    error = "not a game result of kestrova match";
    return false;
  }
  settings = fields["settings"];
  g.number = int(number);
  g.plies = int(plies);
  g.aIsBlack = black == "A";
  g.result = result[0];
  g.ending = Ending(ending - std::begin(kEndings));
  g.opening = fields["opening"];
  g.reason = fields["reason"];
  g.names[0] = fields["a"];
  g.names[1] = fields["b"];
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
