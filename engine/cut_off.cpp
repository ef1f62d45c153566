#include "engine/cut_off.h"

namespace {
std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               CCutOff::Clock::now().time_since_epoch())
        .count();
}
}  // namespace

void CCutOff::ArmAfter(std::chrono::milliseconds grace) {
    std::int64_t never = kNever;
    deadline_.compare_exchange_strong(never, NowMs() + grace.count());
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
