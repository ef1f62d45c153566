#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

// A worker's life state. A worker is live until it reaches WORKER_EXITED.
enum WorkerState : int {
    WORKER_RUNNING = 0,         // the thread exists (or its creation was attempted)
    WORKER_STOP_REQUESTED = 2,  // leave the loop before the next unit of work
    WORKER_EXITED = 3,          // the thread runs no more work
};

// The creation flag that holds a new thread at its start (the platform's CREATE_SUSPENDED).
inline constexpr unsigned kCreateSuspended = 4;
// What Suspend and ResumeOnce return when there is no thread to address.
inline constexpr std::uint32_t kNoThreadCount = 0xFFFFFFFF;

class CWorkerThread;
// The thread's entry: waits until released, logs "Create WorkerThread\n", steps until a stop is
// requested or the work ends, marks the worker exited and logs "WorkerThread exit\n".
void WorkerThreadProc(CWorkerThread* worker);

// Owns one thread that calls RunOnce again and again.
//
// Threads: everything but RunOnce, Step and WorkerThreadProc is called on the main thread.
// Suspension is cooperative: Suspend raises a count and the thread, at its next safe point
// (before each unit of work, and between the blocks of a fetch), waits while the count is above
// zero. Safe points hold no lock, so a paused worker never blocks the main thread.
class CWorkerThread {
  public:
    CWorkerThread() = default;
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;
    // Joins the thread if it still exists; destroy a worker only after it has exited.
    virtual ~CWorkerThread();

    // One unit of work, on the worker's thread: non-zero to go on, 0 to end the thread.
    virtual int RunOnce() = 0;

    // Sets WORKER_RUNNING and creates the thread, held at its start when `creationFlags` holds
    // kCreateSuspended. Returns 1, or 0 when the thread could not be created: that failure is
    // reported through ReportError and the worker is marked exited so that a run can still end.
    int Start(unsigned creationFlags);
    // Adds one to the suspend count; returns the previous count (kNoThreadCount without thread).
    std::uint32_t Suspend();
    // Takes one from the suspend count; returns the previous count (kNoThreadCount without thread).
    std::uint32_t ResumeOnce();
    // Resumes until the previous count was 0, clearing any number of nested suspensions.
    void ResumeFully();
    int GetState() const { return state_.load(); }
    // 0 while WORKER_RUNNING; otherwise releases the thread (joining it once it has exited) and
    // returns 1.
    int CloseThreadHandle();
    // Suspend, mark WORKER_STOP_REQUESTED, resume fully: a paused worker is released to stop.
    int RequestStop();
    // RunOnce; on 0 marks the worker exited and returns 0, else returns 1. Worker thread only.
    int Step();

    // Makes the next `count` thread creations fail, so tests can reach the failure path.
    static void FailThreadCreationsForTest(int count);

  private:
    friend void WorkerThreadProc(CWorkerThread* worker);
    // false when the system refused the thread.
    // False with the system's reason when it refused the thread.
    bool CreateThread(std::string& reason);
    // Holds the calling (worker) thread while the suspend count is above zero.
    void WaitWhileSuspended();
    static void CheckpointHandler(void* worker);

    std::thread thread_;
    bool threadCreated_ = false;  // main thread only
    std::atomic<int> state_{WORKER_RUNNING};
    std::mutex suspendMutex_;
    std::condition_variable resumed_;
    std::uint32_t suspendCount_ = 0;  // guarded by suspendMutex_
};
