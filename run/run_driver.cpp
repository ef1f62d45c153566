#include "run/run_driver.h"

#include <algorithm>
#include <chrono>
#include <thread>

void DriveRunToItsEnd(CRunController& controller, const std::function<bool()>& stopWanted,
                      const std::function<void()>& everyTick) {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kGeneratePeriod{kGeneratePeriodMs};
    constexpr std::chrono::milliseconds kStatusPeriod{kStatusPeriodMs};
    auto nextTick = Clock::now();
    auto nextStatus = nextTick;
    bool stopping = false;
    while (controller.HasRun()) {
        if (everyTick) {
            everyTick();
        }
        if (!stopping && stopWanted()) {
            stopping = true;
            controller.Abort();  // the workers are asked to stop
        }
        if (stopping && controller.ActiveThreads() == 0) {
            controller.Abort();  // every worker has left: cancel what waits and end the run
            break;
        }
        const auto now = Clock::now();
        if (controller.Generating()) {
            controller.GenerateJobs();
        }
        if (now >= nextStatus) {
            controller.RefreshStatus();
            nextStatus = now + kStatusPeriod;
        }
        // A tick that came late is not made up: the generator's pace stays at one per period.
        nextTick = std::max(nextTick + kGeneratePeriod, now);
        std::this_thread::sleep_until(nextTick);
    }
}
