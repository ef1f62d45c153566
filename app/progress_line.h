#pragma once

#include <chrono>
#include <cstdio>
#include <string>

// How a headless run shows its progress: on a terminal, one line drawn over itself at most twice
// a second; elsewhere (a file, a pipe, a log), the counts line as a plain line every 10 seconds
// when they changed.
class CProgressLine {
  public:
    using Clock = std::chrono::steady_clock;

    CProgressLine(std::FILE* out, bool terminal);
    // The counts line and the documents finished so far; draws when it is time to.
    void Update(const std::string& counts, int finished);
    // Ends the live line, so that what follows starts on a line of its own.
    void Finish();
    // Clears the live line for a message.
    void Clear();

  private:
    std::string Text(const std::string& counts, int finished) const;

    std::FILE* out_;
    bool terminal_;
    Clock::time_point start_;
    Clock::time_point lastDrawn_;
    std::string lastCounts_;
    bool drawn_ = false;
};
