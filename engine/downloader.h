#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "engine/http_getter.h"
#include "engine/mutex_lock.h"
#include "engine/thread_pool.h"

// Task kinds.
inline constexpr std::int32_t JOB_BBS = 0;
inline constexpr std::int32_t JOB_DOCUMENT = 1;

// What travels with a job: created by the caller of AddJob, carried untouched, handed to
// OnJobDone, which owns it from then on.
struct JobTag {
    std::int32_t number;
    std::int32_t kind;
};

// One queued job. URL and path hold at most 259 characters to be fetched; a longer one is
// carried whole and fails without network traffic.
struct DownloadJob {
    std::string url;
    std::string path;
    std::unique_ptr<JobTag> tag;
};

// How a job's document is fetched: 1 stored, 0 failed with the reason in `failure`. Called on
// every worker at once.
using FetchDocument =
    std::function<int(const std::string& url, const std::string& path, FetchFailure& failure)>;

// Completion results.
inline constexpr int JOB_STORED = 1;
inline constexpr int JOB_FAILED = 0;
inline constexpr int JOB_CANCELLED = -1;

// A FIFO job queue fetched by a pool of worker threads; each result goes to OnJobDone.
//
// Threads: the main thread calls everything but ProcessNextJob, which the workers call. The
// queue lock guards the queue; it is held only for a few list operations, never across a fetch,
// a file operation or OnJobDone. Calling order for one run: set the fetcher's timeout -> Start
// -> AddJob (with the counts, Pause and Resume at any time) -> StopAll while HasLiveThreads ->
// Drain -> Teardown -> destroy. A downloader serves one run.
class CDownloader {
  public:
    CDownloader() = default;
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;
    virtual ~CDownloader();

    // Result 1 stored, 0 failed (on the worker that fetched the job, up to one call per worker
    // at once), -1 cancelled (on the main thread, from Drain). URL and path are valid only during
    // the call; the tag is the callee's. `failure` says why a fetch failed (kNone otherwise).
    virtual void OnJobDone(int result, const char* url, const char* path,
                           std::unique_ptr<JobTag> tag, const FetchFailure& failure) = 0;

    // Creates the lock and a pool of `threadCount` workers. 0 when already started.
    int Start(int threadCount);
    void AddJob(const char* url, const char* path, std::unique_ptr<JobTag> tag);
    // One unit of a worker's work: the oldest job fetched and reported, or, on an empty queue
    // (or while paused), an idle wait that a new job, Resume or a stop ends early. Always 1.
    int ProcessNextJob();
    unsigned GetWaitingCount();
    int GetActiveCount() const;
    void Pause();
    void Resume();
    // While held, no worker takes a waiting job (those under way go on): the site asked for a
    // pause.
    void Hold(bool held);
    void StopAll();
    // Gives every fetch still in progress `grace` more; then its connection is closed and it
    // fails. A later call may bring that moment nearer, never put it off.
    void CutOffFetchesAfter(std::chrono::milliseconds grace) { fetcher_.CutOffAfter(grace); }
    // What marks a page of the task `kind` missing although it came with a 2xx status. Set
    // before Start.
    void SetPageRules(std::int32_t kind, PageRules rules) {
        pageRules_[kind == JOB_BBS ? 0 : 1] = std::move(rules);
    }
    int HasLiveThreads() const;
    // Reports every queued job with -1, oldest first, on this thread. 0 while any worker lives.
    int Drain();
    // Frees what is left of the run (queued jobs and their tags, the workers, the pool, the
    // lock). Does nothing while any worker lives.
    void Teardown();

    CHttpGetter& GetFetcher() { return fetcher_; }
    // Fetches with `fetch` instead of the fetcher (tests that need no network); before Start.
    void SetFetch(FetchDocument fetch) { fetch_ = std::move(fetch); }
    // How long an idle worker waits at most before it looks at the empty queue again.
    static constexpr int kIdleSleepMs = 500;
    void SetIdleSleepMs(int milliseconds) { idleSleepMs_ = milliseconds; }

  private:
    void SetQueueFlag(bool& flag, bool value);

    CHttpGetter fetcher_;
    std::array<PageRules, 2> pageRules_;              // the BBS task's, the Document task's
    FetchDocument fetch_;                             // empty: the fetcher
    std::deque<std::unique_ptr<DownloadJob>> queue_;  // guarded by queueLock_
    unsigned queuedCount_ = 0;                        // guarded by queueLock_
    CMutexLock queueLock_;
    std::condition_variable_any queueChanged_;  // a job came, or pause or stop changed
    bool paused_ = false;                       // guarded by queueLock_
    bool held_ = false;                         // guarded by queueLock_
    bool stopping_ = false;                     // guarded by queueLock_
    std::unique_ptr<CThreadPool> pool_;
    int idleSleepMs_ = kIdleSleepMs;
};
