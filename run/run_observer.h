#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "run/task_settings.h"

// Where a run stands, as its buttons show it. A first Abort changes no phase: the run goes on
// until its workers have left and a second Abort ends it.
enum class RunPhase {
    kIdle,     // no run: Start and closing are possible
    kRunning,  // documents are fetched
    kPaused,   // workers wait at their next safe point
};

// The counters of a run as the status refresh reads them.
struct RunCounts {
    int requested = 0;
    int succeeded = 0;
    int failed = 0;
    int waiting = 0;
    int active = 0;
    int pastTheEnd = 0;   // missing numbers held back where a series ends
    int askedToWait = 0;  // numbers the site asked to ask again later
    int slowedTo = 0;     // the slowest task's rate while a 429 or 503 holds it below its own
    int slowedBy = 0;     // the status that slowed it

    // "Requested : … - Active Thread : …", the run's counts line, and, when there are any, the
    // numbers past the end of a series and those the site asked to wait for, and the rate a
    // site's refusals slowed a task to ("slowed to 12/s after 429").
    std::string Line() const;
};

// The outcome of one finished job.
enum class JobOutcome { kStored, kFailed, kCancelled };

// What a front end learns of the controller. Every call comes from the thread that drives the
// controller, except OnJobReport, which worker threads make: a front end with a thread of its
// own carries those to it and applies them in the order of the calls.
class CRunObserver {
  public:
    virtual ~CRunObserver() = default;

    // The settings as they stand before a run: the tasks ticked, their numbers, the delay.
    virtual void OnSettings(const TaskSettings& record) = 0;
    // Each status refresh of a run: its counts, and the place each task has reached.
    virtual void OnStatus(const RunCounts& counts, const TaskSettings& record) = 0;
    // The URL and outcome of one finished job.
    virtual void OnJobReport(const std::string& url, JobOutcome outcome) = 0;
    virtual void OnPhase(RunPhase phase) = 0;
    // Each status refresh while an open task is at the end of its series: the number it asks
    // for again, and how often.
    virtual void OnSeriesEnd(std::int32_t /*jobKind*/, std::int32_t /*number*/,
                             std::chrono::milliseconds /*askAgainEvery*/) {}
    // Each status refresh while a task's site does not answer: since when ("hh:mm"), and how
    // often the task asks again.
    virtual void OnSiteDown(std::int32_t /*jobKind*/, const std::string& /*since*/,
                            std::chrono::milliseconds /*askAgainEvery*/) {}
    // Why a Start did not start: another run holds the folder, or it cannot be written.
    virtual void OnStartRefused(const std::string& reason) = 0;
    // Moments a person at a window is told of and confirms; the call returns when they have.
    // The notice comes before the first document; the wait after an Abort while workers still
    // finish their documents.
    virtual void OnStartNotice() {}
    virtual void OnWaitForWorkers() {}
    // The run ended by itself because it could not go on (the disk is full, every document
    // failed one way, a rule takes every page): why, and where it stopped. Told once the run is
    // over.
    virtual void OnRunStopped(const std::string& /*reason*/) {}
    // The site stands in the way (a login, a bot check): the run was paused, or stopped, and
    // the message says what the user can do.
    virtual void OnSiteWall(const std::string& /*message*/) {}
    // Something worth a word that stops nothing (a cookie file other users can read).
    virtual void OnWarning(const std::string& /*text*/) {}
};
