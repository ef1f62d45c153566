#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "run/run_observer.h"

// Keeps what a controller tells its front end, for tests to read back. Thread-safe, since job
// reports come from worker threads. The notice and the wait are kept as "notice" and "wait"
// among the messages, beside the reasons a Start was refused and the warnings ("warning: ...").
class RecordingObserver : public CRunObserver {
  public:
    void OnSettings(const TaskSettings& record) override {
        std::lock_guard<std::mutex> lock(mutex_);
        settings_ = record;
    }
    void OnStatus(const RunCounts& counts, const TaskSettings& record) override {
        std::lock_guard<std::mutex> lock(mutex_);
        counts_ = counts;
        place_ = record;
    }
    void OnJobReport(const std::string& url, JobOutcome outcome) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.emplace_back(url, outcome);
    }
    void OnPhase(RunPhase phase) override {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_ = phase;
    }
    void OnSeriesEnd(std::int32_t jobKind, std::int32_t number,
                     std::chrono::milliseconds) override {
        std::lock_guard<std::mutex> lock(mutex_);
        seriesEnd_ = {jobKind, number};
    }
    void OnStartRefused(const std::string& reason) override { Keep(reason); }
    void OnStartNotice() override { Keep("notice"); }
    void OnWaitForWorkers() override { Keep("wait"); }
    void OnRunStopped(const std::string& reason) override { Keep(reason); }
    void OnSiteWall(const std::string& message) override { Keep(message); }
    void OnWarning(const std::string& text) override { Keep("warning: " + text); }

    TaskSettings Settings() {
        std::lock_guard<std::mutex> lock(mutex_);
        return settings_;
    }
    RunCounts Counts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_;
    }
    // The place the last status showed.
    TaskSettings Place() {
        std::lock_guard<std::mutex> lock(mutex_);
        return place_;
    }
    std::vector<std::pair<std::string, JobOutcome>> Reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    RunPhase Phase() {
        std::lock_guard<std::mutex> lock(mutex_);
        return phase_;
    }
    // The task and number of the last end of a series told.
    std::pair<std::int32_t, std::int32_t> SeriesEnd() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seriesEnd_;
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

  private:
    void Keep(const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(message);
    }

    std::mutex mutex_;
    TaskSettings settings_, place_;
    RunCounts counts_;
    std::vector<std::pair<std::string, JobOutcome>> reports_;
    RunPhase phase_ = RunPhase::kIdle;
    std::vector<std::string> messages_;
    std::pair<std::int32_t, std::int32_t> seriesEnd_{-1, -1};
};
