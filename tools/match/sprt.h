// A sequential probability ratio test of "A is ELO1 stronger than B" against "ELO0 stronger"
// on game pairs, each pair playing one opening with both colours. The model is pentanomial:
// a pair scores 0, 0.5, 1, 1.5 or 2 points for A, which keeps the correlation of the two games
// of an opening out of the variance. Elo is logistic, the scale of the match's Elo estimate.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kestrova::referee {

// Pairs by A's points in them: [0] lost both ... [4] won both, halves counted as they come.
using PairCounts = std::array<int64_t, 5>;

struct Sprt {
  double elo0 = 0;
  double elo1 = 0;
  double alpha = 0.05;  // false acceptance of H1
  double beta = 0.05;   // false acceptance of H0

  double LowerBound() const;  // accept H0 at or below
  double UpperBound() const;  // accept H1 at or above
};

enum class SprtVerdict { Continue, H0, H1 };

// The generalised log-likelihood ratio of H1 against H0: for each hypothesis the pair-result
// distribution nearest to the observed one whose expected score is that hypothesis's, by
// maximum likelihood. Empty cells count as 0.001 pairs, so that results all of one kind
// (a strong engine against a weak one) still give a finite ratio. No pairs: 0.
double PentanomialLlr(const PairCounts& pairs, double elo0, double elo1);

SprtVerdict Judge(const Sprt& sprt, double llr);

// "LLR 1.23 (-2.94, 2.94)"
std::string DescribeLlr(const Sprt& sprt, double llr);

}  // namespace kestrova::referee
