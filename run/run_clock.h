#pragma once

#include <chrono>

// Where a run reads the time for what it times itself (the grouping of saves): the steady clock,
// or one a test sets, so that no test of a time limit waits for it.
class CRunClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~CRunClock() = default;
    virtual TimePoint Now() const { return std::chrono::steady_clock::now(); }

    // The steady clock.
    static const CRunClock& Steady() {
        static const CRunClock clock;
        return clock;
    }
};
