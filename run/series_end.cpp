#include "run/series_end.h"

#include <algorithm>

void CSeriesEnd::Begin(int endAfter) {
    endAfter_ = std::max(1, endAfter);
    held_.clear();
    highestStored_.reset();
    endAt_.reset();
}

bool CSeriesEnd::Hold(Missing missing) {
    const std::int32_t number = missing.number;
    if (highestStored_ && number < *highestStored_) {
        return false;
    }
    held_[number] = std::move(missing);
    if (endAt_) {
        endAt_ = RunStart(*endAt_);  // a slower answer below the run makes it longer
        return true;
    }
    const std::int32_t first = RunStart(number);
    if (std::int64_t{RunEnd(number)} - first + 1 >= endAfter_) {
        endAt_ = first;
    }
    return true;
}

CSeriesEnd::Settled CSeriesEnd::Stored(std::int32_t number) {
    highestStored_ = std::max(highestStored_.value_or(number), number);
    Settled settled;
    for (auto it = held_.begin(); it != held_.end() && it->first < number; ++it) {
        settled.gaps.push_back(std::move(it->second));
    }
    held_.erase(held_.begin(), held_.lower_bound(number));
    held_.erase(number);
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

std::int32_t CSeriesEnd::RunStart(std::int32_t number) const {
    while (number > INT32_MIN && held_.count(number - 1) != 0) {
        --number;
    }
    return number;
}

std::int32_t CSeriesEnd::RunEnd(std::int32_t number) const {
    while (number < INT32_MAX && held_.count(number + 1) != 0) {
        ++number;
    }
    return number;
}
