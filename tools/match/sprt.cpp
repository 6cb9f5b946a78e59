#include "tools/match/sprt.h"

#include <cmath>
#include <cstdio>

namespace kestrova::referee {
namespace {

constexpr double kEmptyCell = 1e-3;

double ScoreFromElo(double elo) {
  return 1.0 / (1.0 + std::pow(10.0, -elo / 400.0));
}

// The distribution q nearest p (most likely for the observed pairs) with mean score s:
// q_i = p_i / (1 + lambda (x_i - s)), lambda the root of sum p_i (x_i - s) / (1 + lambda
// (x_i - s)), which falls as lambda grows inside the range that keeps every q_i positive.
std::array<double, 5> NearestWithScore(const std::array<double, 5>& p, double s) {
  double low = -1.0 / (1.0 - s), high = 1.0 / s;
  std::array<double, 5> q{};
  for (int step = 0; step < 200; ++step) {
    const double lambda = 0.5 * (low + high);
    double f = 0;
    for (int i = 0; i < 5; ++i) {
      const double d = i / 4.0 - s;
      f += p[i] * d / (1.0 + lambda * d);
    }
    (f > 0 ? low : high) = lambda;
  }
  const double lambda = 0.5 * (low + high);
  for (int i = 0; i < 5; ++i) q[i] = p[i] / (1.0 + lambda * (i / 4.0 - s));
  return q;
}

}  // namespace

double Sprt::LowerBound() const {
  return std::log(beta / (1.0 - alpha));
}

double Sprt::UpperBound() const {
  return std::log((1.0 - beta) / alpha);
}

double PentanomialLlr(const PairCounts& pairs, double elo0, double elo1) {
  std::array<double, 5> counts{};
  double total = 0;
  int64_t played = 0;
  for (int i = 0; i < 5; ++i) {
    played += pairs[i];
    counts[i] = pairs[i] > 0 ? double(pairs[i]) : kEmptyCell;
    total += counts[i];
  }
  if (played == 0) return 0;
  std::array<double, 5> p{};
  for (int i = 0; i < 5; ++i) p[i] = counts[i] / total;
  const std::array<double, 5> q0 = NearestWithScore(p, ScoreFromElo(elo0));
  const std::array<double, 5> q1 = NearestWithScore(p, ScoreFromElo(elo1));
  double llr = 0;
  for (int i = 0; i < 5; ++i) llr += counts[i] * std::log(q1[i] / q0[i]);
  return llr;
}

SprtVerdict Judge(const Sprt& sprt, double llr) {
  if (llr >= sprt.UpperBound()) return SprtVerdict::H1;
  if (llr <= sprt.LowerBound()) return SprtVerdict::H0;
  return SprtVerdict::Continue;
}

std::string DescribeLlr(const Sprt& sprt, double llr) {
  char text[96];
  std::snprintf(text, sizeof text, "LLR %.2f (%.2f, %.2f)", llr, sprt.LowerBound(),
                sprt.UpperBound());
  return text;
}

}  // namespace kestrova::referee
