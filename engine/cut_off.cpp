#include "engine/cut_off.h"

#include <algorithm>

namespace {
std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               CCutOff::Clock::now().time_since_epoch())
        .count();
}
}  // namespace

void CCutOff::ArmAfter(std::chrono::milliseconds grace) {
    const std::int64_t wanted = NowMs() + grace.count();
    std::int64_t armed = deadline_.load();
    while (wanted < armed && !deadline_.compare_exchange_weak(armed, wanted)) {
    }
    if (grace.count() <= 0) {
        // The socket stays open until its owner closes it: no other connection can take its
        // number meanwhile, and the owner's next look sees the cut-off.
        std::lock_guard<std::mutex> lock(mutex_);
        for (const net::SocketHandle socket : watched_) {
            net::Shutdown(socket);
        }
    }
}

bool CCutOff::Passed() const {
    return MillisecondsLeft() == 0;
}

long long CCutOff::MillisecondsLeft() const {
    const std::int64_t deadline = deadline_.load();
    if (deadline == kNever) {
        return -1;
    }
    const std::int64_t left = deadline - NowMs();
    return left > 0 ? left : 0;
}

void CCutOff::Watch(net::SocketHandle socket) const {
    std::lock_guard<std::mutex> lock(mutex_);
    watched_.push_back(socket);
}

void CCutOff::Forget(net::SocketHandle socket) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = std::find(watched_.begin(), watched_.end(), socket);
    if (found != watched_.end()) {
        watched_.erase(found);
    }
}
