#pragma once

#include <cstdint>
#include <deque>
#include <optional>

// Where one task must continue: the lowest number it generated that is not finished yet, or,
// with nothing outstanding, the next number it would generate. Numbers are generated in rising
// order and finish in any order; a stored or failed report finishes a number, a cancelled one
// does not. The point never moves backwards, every number below it has been reported, and it
// never passes the largest 32-bit number: a task ends there instead of wrapping round to
// negative numbers. Not thread-safe: the run controller guards it.
class CResumePoint {
  public:
    // A run starts at `first`, with nothing outstanding.
    void Begin(std::int32_t first);
    // The next number, handed out; none once the largest number was handed out.
    std::optional<std::int32_t> Generate();
    // A number handed out was reported as stored or failed. Others are ignored.
    void Finish(std::int32_t number);
    std::int32_t Lowest() const { return lowest_; }

  private:
    std::int32_t lowest_ = 0;
    std::deque<bool> finished_;  // finished_[i] is about number lowest_ + i
};
