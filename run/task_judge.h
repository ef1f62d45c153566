#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/fetch_failure.h"
#include "run/run_clock.h"
#include "run/run_request.h"
#include "run/series_end.h"
#include "run/task_pace.h"

// A site that answers 429 or 503 is left alone for the time its Retry-After names, or 30 s when
// it names none, 600 s at most; the number is then asked again, and the fifth such answer fails
// it.
inline constexpr std::chrono::seconds kDefaultSiteWait{30};
inline constexpr std::chrono::seconds kLongestSiteWait{600};
inline constexpr int kTimesAskedBeforeFailing = 5;

// What one task of a run decides after each outcome, and which number it asks for next: the
// judgement of a run, apart from the machinery that fetches, counts, saves and reports. It takes
// outcomes and the run's clock and returns decisions; the run controller carries them out.
//
// - The end of a series (open tasks): numbers the site does not have are held; `endAfter` of
//   them in a row end the series for now, and its first number is asked again every
//   `askAgainEvery`.
// - A site that asks to wait (429, 503, a bot check): the number is asked again when the site
//   allows, and the task's pace slows; the fifth such answer for a number fails it.
// - A login wall (401, 403, a redirect to a login page, a page that wall_if_body marks) once the
//   task has stored a document, or a fifth bot check: the number waits until the user acts.
// - A storm: the first kStormCount numbers of a run all failing for one reason before anything
//   was stored. The run stops with what helps, and the numbers stay to be asked again.
// - A rule that takes all: page rules that mark the first `endAfter` numbers missing before the
//   task ever stored a document end no series: the run stops, and the rule is to be checked.
// - A site down (open tasks): kDownCount failures in a row of the kind a site that does not
//   answer gives, later in a run. The task asks the first of them again every `askAgainEvery`
//   and nothing new until the site answers; then those numbers are asked again, never failed
//   meanwhile.
//
// Not thread-safe: the controller calls it under its report lock.
class CTaskJudge {
  public:
    using TimePoint = CRunClock::TimePoint;
    static constexpr int kStormCount = 20;
    static constexpr int kDownCount = 20;

    struct Settings {
        bool open = true;        // no last number: the end of the series ends the task
        std::int32_t first = 0;  // where the run starts
        int endAfter = CSeriesEnd::kDefaultEndAfter;
        std::chrono::milliseconds askAgainEvery{std::chrono::seconds(60)};
        int rate = kGeneratorRate;
        RunRequest::SiteWall onWall = RunRequest::SiteWall::kPause;
        bool storedBefore = false;  // the task's folder holds documents of earlier runs
        // The run asks for kStormCount numbers or more: a storm can be told.
        bool manyNumbers = true;
    };
    void Begin(const Settings& settings, TimePoint now);

    // What a finished number comes to.
    struct Verdict {
        enum class Kind {
            kStored,  // counted as stored; finished
            kFailed,  // counted as failed and listed with `reason`; finished once listed
            kHeld,    // neither counted nor finished: held back, or to be asked again
        };
        Kind kind = Kind::kHeld;
        std::string reason;
        // Numbers held before that are failures now (gaps in a series, the start of a run that
        // turned out no storm, the failures before a site came back), to be counted and listed.
        std::vector<CSeriesEnd::Missing> failures;
    };
    Verdict Judge(std::int32_t number, const std::string& url, bool stored,
                  const FetchFailure& failure, TimePoint now);

    // The number to ask for now, if any: one the site asked to wait for, once its time has come
    // (`later`: it was asked in this run already and not finished since); else, at the task's
    // pace, the first number of a site that is down or of a series at its end when it is time to
    // ask it again, a number to be asked again, or a new one from `plan` (which gives none when
    // it has none left).
    struct Ask {
        std::int32_t number;
        bool later;
    };
    std::optional<Ask> Take(TimePoint now,
                            const std::function<std::optional<std::int32_t>()>& plan);

    // Why the run is to stop, once it is.
    struct Stop {
        enum class Why { kStorm, kRuleTakesAll };
        Why why;
        std::string message;
    };
    const std::optional<Stop>& Stopped() const { return stop_; }
    // At the end of a run: the failures kept back while it was not known whether they began a
    // storm or an outage, and that turned out neither, to be counted and listed. An outage's and a
    // storm's stay unlisted, to be asked again by the next run.
    std::vector<CSeriesEnd::Missing> Release();
    // A wall met since the last call: what the user is to be told.
    std::optional<std::string> TakeWall();
    // Until when the site asked to be left alone, if it did.
    TimePoint SiteFreeAt() const { return siteFreeAt_; }
    // The first missing number of an open task at the end of its series.
    std::optional<std::int32_t> EndAt() const;
    // Whether the task waits at the end of its series with nothing else to ask.
    bool AtItsEnd() const;
    std::size_t PastTheEnd() const { return settings_.open ? series_.Held() : 0; }
    std::size_t AskedToWait() const { return askLater_.size(); }
    // Since when the site has not answered, while it is down.
    std::optional<TimePoint> SiteDownSince() const;
    CTaskPace& Pace() { return pace_; }

  private:
    // One failure that is kept back while it is not yet known what it comes to.
    struct Kept {
        CSeriesEnd::Missing missing;
        std::string key;  // the kind of failure, without what differs between numbers
    };
    Verdict Wait(std::int32_t number, const std::string& url, const FetchFailure& failure,
                 TimePoint now);
    std::optional<std::string> WallMessage(std::int32_t number, const std::string& url,
                                           const FetchFailure& failure) const;
    Verdict Stored(std::int32_t number);
    Verdict Missing(std::int32_t number, const std::string& url, const FetchFailure& failure,
                    const std::string& reason, TimePoint now);
    Verdict Failed(std::int32_t number, const std::string& url, const FetchFailure& failure,
                   const std::string& reason, TimePoint now);
    // Kept failures that turned out to be no storm and no outage: to be listed.
    void Release(std::vector<Kept>& kept, Verdict& verdict);
    // The site gave an answer: a row of silent failures too short to call it down is listed,
    // and a site that was down is back, so what failed meanwhile is asked again.
    void SiteAnswers(Verdict& verdict);
    // An outcome that no storm has: the failures kept while one could have begun are listed.
    void EndOfStormWatch(Verdict& verdict);

    Settings settings_;
    CSeriesEnd series_;
    CTaskPace pace_;
    TimePoint nextNew_{};    // no new number before then: the task's pace
    TimePoint nextProbe_{};  // when the first number of the series' end is asked again
    std::deque<std::int32_t> askAgain_;
    std::map<std::int32_t, int> timesAsked_;           // the site asked to wait: answers
    std::multimap<TimePoint, std::int32_t> askLater_;  // and when to ask again
    TimePoint siteFreeAt_{};
    std::optional<std::string> wall_;
    std::optional<Stop> stop_;
    bool storedSome_ = false;     // a document of the task stored, in this run or before
    bool storedThisRun_ = false;  // in this run
    // The start of the run while it may be a storm: its failures, all of one kind so far.
    bool stormWatch_ = true;
    std::vector<Kept> storm_;
    // Failures in a row of the kind a site gives that does not answer; the site is down once
    // there are kDownCount of them, since `downSince_`.
    std::vector<Kept> down_;
    std::optional<TimePoint> downSince_;
    TimePoint nextDownProbe_{};
    // What the missing numbers of an open task were missing by, while it has stored nothing.
    int missingByStatus_ = 0;
    std::optional<CSeriesEnd::Missing> firstByRule_;
};
