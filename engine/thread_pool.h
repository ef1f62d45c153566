#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "engine/worker_thread.h"

// One unit of work: non-zero to go on, 0 to end the thread that called it.
using UnitOfWork = std::function<int()>;

// A worker whose unit of work is one unit of its pool's work.
class CPoolWorkerThread : public CWorkerThread {
  public:
    explicit CPoolWorkerThread(UnitOfWork work) : work_(std::move(work)) {}
    ~CPoolWorkerThread() override = default;
    int RunOnce() override { return work_(); }

  private:
    UnitOfWork work_;
};

// A fixed set of worker threads that all call the unit of work until told to stop.
//
// Threads: every operation is called on the main thread; the pool has no lock of its
// own. The worker list is built before any thread runs and freed only after every thread has
// exited, so worker threads never touch it. The work runs on every worker thread at once: whatever
// it touches, its owner must guard.
class CThreadPool {
  public:
    // A pool whose unit of work is `work`: called by every worker thread, non-zero to go on, 0 to
    // end.
    explicit CThreadPool(UnitOfWork work) : work_(std::move(work)) {}
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;
    // Frees the list; destroy a pool only after CloseWorkers succeeded (or it never started).
    virtual ~CThreadPool() = default;

    // Creates `threadCount` workers, each held at its start, then releases them together.
    // Returns 0 and does nothing on a started pool, else 1 (also when a thread failed).
    int Start(int threadCount);
    void SuspendAll();
    void ResumeAll();
    // Asks every worker that has not exited to stop after its current unit of work.
    void StopAll();
    int HasLiveThreads() const;
    int CountLiveThreads() const;
    // Returns 0 while any worker is live; otherwise releases and destroys every worker, 1.
    int CloseWorkers();

  private:
    UnitOfWork work_;
    std::vector<std::unique_ptr<CPoolWorkerThread>> workers_;
};
