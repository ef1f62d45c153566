#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

// Polls `condition` until it holds or `limit` passes; returns whether it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// For fixtures that must wait before they can let go of threads: a thread that never stops would
// hang the suite in its join, so past the limit the test program ends with a message instead.
inline void WaitOrEndTheProgram(const std::function<bool()>& condition, const char* what) {
    if (!WaitUntil(condition, std::chrono::seconds(10))) {
        std::fprintf(stderr, "FAILED: %s did not happen within 10 s; ending the test program\n",
                     what);
        std::fflush(nullptr);
        std::_Exit(1);
    }
}
