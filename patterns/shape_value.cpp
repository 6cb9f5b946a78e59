#include "patterns/shape_value.h"

#include <cmath>

namespace kestrova {
namespace {

// A logistic fit of who won, over positions of games between the peer engines and of this
// engine against them: the constant, the scan's value in hundreds, then the square roots of the
// window counts of the side to move by bucket and those of the other side. The roots fitted
// better than the counts, capped or not: a tenth shape of a kind adds less than the second.
constexpr double kBias = 0.7090;
constexpr double kScanWeight = 0.4134;
constexpr double kMoverWeights[ScanState::kMaxBuckets] = {0.3189, 2.6684, 1.6661, 0.6481,
                                                          0.4466, 0.5369, 0.6180, 0.3717};
constexpr double kOtherWeights[ScanState::kMaxBuckets] = {-3.0333, -0.6131, -0.8873, -0.5808,
                                                          -0.4684, -0.5165, -0.6318, -0.3734};
// A sure win is worth nearly a five, so a proof still outweighs every estimate.
constexpr double kScale = 200.0;

}  // namespace

int32_t ShapeValue(const ScanState& state, int sideToMove, int32_t scanValue) {
  const double moverScan = sideToMove == Own ? scanValue : -scanValue;
  double z = kBias + kScanWeight * moverScan / 100.0;
  const auto& mover = state.SideWindows(sideToMove);
  const auto& other = state.SideWindows(5 - sideToMove);
  for (int b = 0; b < ScanState::kMaxBuckets; ++b) {
    z += kMoverWeights[b] * std::sqrt(double(mover[b]));
    z += kOtherWeights[b] * std::sqrt(double(other[b]));
  }
  const auto value = int32_t(std::lround(kScale * std::tanh(z / 2.0)));
  return sideToMove == Own ? value : -value;
}

}  // namespace kestrova
