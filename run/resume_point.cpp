#include "run/resume_point.h"

#include "run/task_settings.h"

namespace {
std::uint32_t Distance(std::int32_t from, std::int32_t to) {
    return static_cast<std::uint32_t>(to) - static_cast<std::uint32_t>(from);
}
}  // namespace

void CResumePoint::Begin(std::int32_t first) {
    lowest_ = first;
    finished_.clear();
}

std::int32_t CResumePoint::Generate() {
    finished_.push_back(false);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(lowest_) +
                                     static_cast<std::uint32_t>(finished_.size() - 1));
}

void CResumePoint::Finish(std::int32_t number) {
    const std::uint32_t index = Distance(lowest_, number);
    if (index >= finished_.size()) {
        return;
    }
    finished_[index] = true;
    while (!finished_.empty() && finished_.front()) {
        finished_.pop_front();
        lowest_ = NextNumber(lowest_);
    }
}
