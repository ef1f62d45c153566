#pragma once

#include <atomic>
#include <chrono>

#include "run/run_clock.h"

// A clock that moves only when the test says so; read from any thread.
class ManualClock : public CRunClock {
  public:
    TimePoint Now() const override { return TimePoint(std::chrono::milliseconds(now_.load())); }
    void Advance(std::chrono::milliseconds by) { now_ += by.count(); }

  private:
    std::atomic<long long> now_{1'000'000'000};  // far from the clock's start
};
