#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/http_getter.h"
#include "engine/page_rules.h"

// The start's look far past the start of each open task, at two numbers: a site that answers
// there with a document, which no rule marks missing, hides the end of its series, and what the
// two answers share is how it says "not found". The look runs on a thread
// of its own, so that neither a window nor a terminal waits for a site; each answer is read only
// as far as the part of a page that is compared, and the look ends when its owner cancels it:
// at the end of its time, or at Abort.
//
// Threads: the owner's thread calls everything; the questions are asked on the probe's thread.
class CSeriesProbe {
  public:
    // The numbers of one task to ask for, at their URLs.
    struct Question {
        std::int32_t kind;
        std::vector<std::string> urls;
        PageRules rules;  // a page they mark missing is no document here either
    };
    struct Answer {
        std::int32_t kind;
        std::string url;  // the first asked
        // What the site answered with at each URL, where it was a document.
        std::vector<std::optional<PageSample>> documents;
        bool cutOff = false;  // cancelled before every answer was in
    };

    CSeriesProbe() = default;
    CSeriesProbe(const CSeriesProbe&) = delete;
    CSeriesProbe& operator=(const CSeriesProbe&) = delete;
    // Cancels a look still under way and waits for its thread.
    ~CSeriesProbe();

    // Asks the questions in turn with `getter`, set up as the run's fetcher is.
    void Begin(std::unique_ptr<CHttpGetter> getter, std::vector<Question> questions);
    bool Running() const { return thread_.joinable(); }
    bool Finished() const { return finished_.load(); }
    // Ends the question under way, as Abort ends a fetch, and those not yet asked.
    void Cancel();
    // Once Finished: the answers, in the order of the questions.
    std::vector<Answer> Take();

  private:
    void Ask();

    std::unique_ptr<CHttpGetter> getter_;
    std::vector<Question> questions_;
    std::vector<Answer> answers_;  // the probe's thread's until finished_
    std::atomic<bool> finished_{false};
    std::thread thread_;
};
