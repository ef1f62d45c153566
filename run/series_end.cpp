#include "run/series_end.h"

#include <algorithm>
#include <iterator>

void CSeriesEnd::Begin(int endAfter) {
    endAfter_ = std::max(1, endAfter);
    held_.clear();
    failed_.clear();
    highestStored_.reset();
    endAt_.reset();
}

bool CSeriesEnd::Hold(Missing missing) {
    const std::int32_t number = missing.number;
    if (highestStored_ && number < *highestStored_) {
        return false;
    }
    held_[number] = std::move(missing);
    CheckEnd(number);
    return true;
}

void CSeriesEnd::Failed(std::int32_t number) {
    if (highestStored_ && number < *highestStored_) {
        return;
    }
    failed_.insert(number);
    if (failed_.size() > kMaxFailuresKept) {
        failed_.erase(failed_.begin());
    }
    CheckEnd(number);
}

void CSeriesEnd::CheckEnd(std::int32_t number) {
    if (endAt_) {
        endAt_ = RunStart(*endAt_);  // a slower answer below the row makes it longer
        return;
    }
    const std::int32_t last = RunEnd(number);
    const auto first = held_.lower_bound(RunBottom(number));
    if (first == held_.end() || first->first > last) {
        return;  // failures alone: no number of the row is missing
    }
    if (std::distance(first, held_.upper_bound(last)) >= endAfter_ || last == INT32_MAX) {
        endAt_ = first->first;
    }
}

CSeriesEnd::Settled CSeriesEnd::Stored(std::int32_t number) {
    highestStored_ = std::max(highestStored_.value_or(number), number);
    Settled settled;
    for (auto it = held_.begin(); it != held_.end() && it->first < number; ++it) {
        settled.gaps.push_back(std::move(it->second));
    }
    held_.erase(held_.begin(), held_.lower_bound(number));
    held_.erase(number);
    failed_.erase(failed_.begin(), failed_.upper_bound(number));
    if (endAt_ && number >= *endAt_) {
        // The series goes on: what was missing past its end may be there now.
        endAt_.reset();
        for (auto it = held_.upper_bound(number); it != held_.end(); ++it) {
            settled.askAgain.push_back(it->first);
        }
        held_.erase(held_.upper_bound(number), held_.end());
    }
    return settled;
}

bool CSeriesEnd::Unstored(std::int32_t number) const {
    return held_.count(number) != 0 || failed_.count(number) != 0;
}

std::int32_t CSeriesEnd::RunBottom(std::int32_t number) const {
    while (number > INT32_MIN && Unstored(number - 1)) {
        --number;
    }
    return number;
}

std::int32_t CSeriesEnd::RunStart(std::int32_t held) const {
    // The series ends at a missing number, not at a failure before it.
    return held_.lower_bound(RunBottom(held))->first;
}

std::int32_t CSeriesEnd::RunEnd(std::int32_t number) const {
    while (number < INT32_MAX && Unstored(number + 1)) {
        ++number;
    }
    return number;
}
