#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/socket_platform.h"

// A moment after which every fetch still in progress gives up. Armed from the thread that runs
// the fetches' owner, when a run is asked to stop (and again, sooner, when it must end now);
// read by every worker between and during its waits.
class CCutOff {
  public:
    using Clock = std::chrono::steady_clock;

    // Arms the cut-off `grace` from now, unless it is armed for an earlier moment already. One
    // that is due at once shuts the watched connections down, so that no wait outlasts it; a
    // wait looks at a later moment within a second and then sleeps to it.
    void ArmAfter(std::chrono::milliseconds grace);
    bool Passed() const;
    // Milliseconds until the cut-off (0 once passed), or -1 while it is not armed.
    long long MillisecondsLeft() const;
    // The connections whose waits the cut-off ends: each from its connect to its close. Any
    // thread may call these.
    void Watch(net::SocketHandle socket) const;
    void Forget(net::SocketHandle socket) const;

  private:
    static constexpr std::int64_t kNever = INT64_MAX;
    std::atomic<std::int64_t> deadline_{kNever};  // Clock ticks since its epoch, in milliseconds
    mutable std::mutex mutex_;
    mutable std::vector<net::SocketHandle> watched_;  // guarded by mutex_
};
