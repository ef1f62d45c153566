#pragma once

#include <memory>
#include <vector>

#include "engine/worker_thread.h"

class CThreadPool;

// A worker whose unit of work is one unit of its pool's work.
class CPoolWorkerThread : public CWorkerThread {
  public:
    explicit CPoolWorkerThread(CThreadPool* pool) : pool_(pool) {}
    ~CPoolWorkerThread() override = default;
    int RunOnce() override;

  private:
    CThreadPool* pool_;  // not owned
};

// A fixed set of worker threads that all call Work until told to stop.
//
// Threads: every operation but Work is called on the main thread; the pool has no lock of its
// own. The worker list is built before any thread runs and freed only after every thread has
// exited, so worker threads never touch it. Work runs on every worker thread at once: whatever
// it touches, the subclass must guard.
class CThreadPool {
  public:
    CThreadPool() = default;
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;
    // Frees the list; destroy a pool only after CloseWorkers succeeded (or it never started).
    virtual ~CThreadPool() = default;

    // One unit of pool work, called by every worker thread: non-zero to go on, 0 to end.
    virtual int Work() = 0;

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
    std::vector<std::unique_ptr<CPoolWorkerThread>> workers_;
};
