#pragma once

#include <algorithm>
#include <chrono>

#include "run/run_clock.h"

// How many new numbers a task asks for a second. A site that answers 429 or 503 halves it, down
// to one a second; each minute without such an answer gives back a tenth of the task's own rate,
// until it is whole again.
class CTaskPace {
  public:
    static constexpr std::chrono::seconds kCalmStep{60};

    void Begin(int rate, CRunClock::TimePoint now) {
        own_ = rate_ = std::max(rate, 1);
        slowedBy_ = 0;
        calmSince_ = now;
    }
    void SlowDown(int status, CRunClock::TimePoint now) {
        Recover(now);
        rate_ = std::max(rate_ / 2, 1);
        slowedBy_ = status;
        calmSince_ = now;
    }
    // The time between two new numbers now; 0 at the generator's own rate (every tick).
    std::chrono::milliseconds Interval(CRunClock::TimePoint now, int generatorRate) {
        Recover(now);
        return rate_ >= generatorRate ? std::chrono::milliseconds(0)
                                      : std::chrono::milliseconds(1000 / rate_);
    }
    int Rate() const { return rate_; }
    // The status that holds the rate below the task's own, or 0 when it is whole.
    int SlowedBy(CRunClock::TimePoint now) {
        Recover(now);
        return slowedBy_;
    }

  private:
    void Recover(CRunClock::TimePoint now) {
        if (rate_ >= own_) {
            return;
        }
        const auto steps = (now - calmSince_) / kCalmStep;
        if (steps > 0) {
            const long long raised = rate_ + steps * std::max(own_ / 10, 1);
            rate_ = static_cast<int>(std::min<long long>(raised, own_));
            calmSince_ += steps * kCalmStep;
            slowedBy_ = rate_ >= own_ ? 0 : slowedBy_;
        }
    }

    int own_ = 1;
    int rate_ = 1;
    int slowedBy_ = 0;
    CRunClock::TimePoint calmSince_{};
};
