#pragma once

#include <chrono>

// The limit of each single network wait. The Delay gives it in whole seconds (-1: none; above 0:
// that many seconds; anything else fails every wait at once); the engine counts milliseconds, so
// that a limit need not be a whole second.
class WaitLimit {
  public:
    static constexpr WaitLimit None() { return WaitLimit(-1); }
    static constexpr WaitLimit FromDelaySeconds(int seconds) {
        return seconds == -1 ? None() : WaitLimit(seconds > 0 ? seconds * 1000LL : 0);
    }
    static constexpr WaitLimit Of(std::chrono::milliseconds limit) {
        return WaitLimit(limit.count() > 0 ? limit.count() : 0);
    }

    bool IsNone() const { return ms_ < 0; }
    bool FailsAtOnce() const { return ms_ == 0; }
    bool IsBounded() const { return ms_ > 0; }
    // The limit; meaningful only when IsBounded.
    std::chrono::milliseconds Length() const { return std::chrono::milliseconds(ms_); }

  private:
    constexpr explicit WaitLimit(long long ms) : ms_(ms) {}
    long long ms_;
};
