#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

// A moment after which every fetch still in progress gives up. Armed once, on the main thread,
// when a run is asked to stop; read by every worker between and during its waits.
class CCutOff {
  public:
    using Clock = std::chrono::steady_clock;

    // Arms the cut-off `grace` from now; a cut-off already armed stays as it is.
    void ArmAfter(std::chrono::milliseconds grace);
    bool Passed() const;
    // Milliseconds until the cut-off (0 once passed), or -1 while it is not armed.
    long long MillisecondsLeft() const;

  private:
    static constexpr std::int64_t kNever = INT64_MAX;
    std::atomic<std::int64_t> deadline_{kNever};  // Clock ticks since its epoch, in milliseconds
};
