#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// Which numbers a run fetches of one task. The window's runs go on from the start number without
// end; a headless run may stop after a last number, or fetch exactly a list of numbers (a retry
// of failed ones, which leaves the task's saved number as it is).
struct TaskPlan {
    std::optional<std::int32_t> last;   // the last number of a range; none: no end
    std::vector<std::int32_t> numbers;  // used instead of a range when `isList`
    bool isList = false;

    static TaskPlan Open() { return {}; }
    static TaskPlan UpTo(std::int32_t last) { return {last, {}, false}; }
    static TaskPlan List(std::vector<std::int32_t> numbers) {
        return {{}, std::move(numbers), true};
    }
};
