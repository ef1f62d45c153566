#include "run/resume_point.h"

void CResumePoint::Begin(std::int32_t first) {
    lowest_ = first;
    finished_.clear();
}

std::optional<std::int32_t> CResumePoint::Generate() {
    const std::int64_t next = std::int64_t{lowest_} + static_cast<std::int64_t>(finished_.size());
    if (next > INT32_MAX) {
        return std::nullopt;
    }
    finished_.push_back(false);
    return static_cast<std::int32_t>(next);
}

void CResumePoint::Finish(std::int32_t number) {
    const std::int64_t index = std::int64_t{number} - lowest_;
    if (index < 0 || index >= static_cast<std::int64_t>(finished_.size())) {
        return;
    }
    finished_[static_cast<std::size_t>(index)] = true;
    while (!finished_.empty() && finished_.front()) {
        finished_.pop_front();
        // At the largest number the task is over; the point stays on it rather than wrap.
        if (lowest_ < INT32_MAX) {
            ++lowest_;
        }
    }
}
