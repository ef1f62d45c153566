#include "app/progress_line.h"

#include "support/text_format.h"

namespace {
constexpr auto kTerminalPeriod = std::chrono::milliseconds(500);
constexpr auto kPlainPeriod = std::chrono::seconds(10);
}  // namespace

CProgressLine::CProgressLine(std::FILE* out, bool terminal)
    : out_(out), terminal_(terminal), start_(Clock::now()), lastDrawn_(start_) {}

std::string CProgressLine::Text(const std::string& counts, int finished) const {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const long whole = static_cast<long>(seconds);
    return FormatText("%s | %.1f documents/s | %ld:%02ld:%02ld", counts.c_str(),
                      seconds > 0 ? finished / seconds : 0.0, whole / 3600, whole / 60 % 60,
                      whole % 60);
}

void CProgressLine::Update(const std::string& counts, int finished) {
    const auto now = Clock::now();
    if (counts.empty() || now - lastDrawn_ < (terminal_ ? kTerminalPeriod : kPlainPeriod)) {
        return;
    }
    // A log (a follower's journal) gets no line while a run waits with nothing new to say.
    if (!terminal_ && counts == lastCounts_) {
        return;
    }
    lastDrawn_ = now;
    lastCounts_ = counts;
    if (terminal_) {
        std::fprintf(out_, "\r\x1b[K%s", Text(counts, finished).c_str());
        drawn_ = true;
    } else {
        std::fprintf(out_, "%s\n", Text(counts, finished).c_str());
    }
    std::fflush(out_);
}

void CProgressLine::Clear() {
    if (drawn_) {
        std::fprintf(out_, "\r\x1b[K");
        std::fflush(out_);
        drawn_ = false;
    }
}

void CProgressLine::Finish() {
    if (drawn_) {
        std::fprintf(out_, "\n");
        std::fflush(out_);
        drawn_ = false;
    }
}
