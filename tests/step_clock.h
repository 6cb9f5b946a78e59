// A clock for tests: every reading advances it by a fixed step; sleeping costs nothing.
#pragma once

#include <cstdint>

#include "core/clock.h"

namespace kestrova::testing {

class StepClock final : public Clock {
 public:
  explicit StepClock(int64_t step) : step_(step) {}
  int64_t NowMs() override { return now_ += step_; }
  void SleepMs(int64_t ms) override {
    now_ += ms;
    slept_ += ms;
  }
  int64_t now() const { return now_; }
  int64_t slept() const { return slept_; }

 private:
  int64_t step_;
  int64_t now_ = 0;
  int64_t slept_ = 0;
};

}  // namespace kestrova::testing
