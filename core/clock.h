// Time source of the engine; tests inject their own to drive the time bands.
#pragma once

#include <chrono>
#include <cstdint>

namespace kestrova {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since the clock's first reading.
  virtual int64_t NowMs() = 0;
  virtual void SleepMs(int64_t ms) = 0;
};

class SteadyClock final : public Clock {
 public:
  SteadyClock() : start_(std::chrono::steady_clock::now()) {}
  int64_t NowMs() override;
  void SleepMs(int64_t ms) override;

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace kestrova
