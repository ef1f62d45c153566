#include "engine/worker_thread.h"

#include <string>
#include <system_error>

#include "engine/checkpoint.h"
#include "support/debug_log.h"
#include "support/error_text.h"

namespace {
std::atomic<int> g_failingCreations{0};

bool ShouldFailCreation() {
    int left = g_failingCreations.load();
    while (left > 0) {
        if (g_failingCreations.compare_exchange_weak(left, left - 1)) {
            return true;
        }
    }
    return false;
}
}  // namespace

void WorkerThreadProc(CWorkerThread* worker) {
    worker->WaitWhileSuspended();  // created suspended: wait to be released with the others
    WriteDebugLog("Create WorkerThread\n");
    checkpoint::Install(&CWorkerThread::CheckpointHandler, worker);
    while (worker->GetState() != WORKER_STOP_REQUESTED) {
        worker->WaitWhileSuspended();
        // A stop request that arrived while paused must not cost one more unit of work.
        if (worker->GetState() == WORKER_STOP_REQUESTED || worker->Step() == 0) {
            break;
        }
    }
    checkpoint::Install(nullptr, nullptr);
    worker->state_.store(WORKER_EXITED);
    WriteDebugLog("WorkerThread exit\n");
}

CWorkerThread::~CWorkerThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void CWorkerThread::FailThreadCreationsForTest(int count) {
    g_failingCreations.store(count);
}

int CWorkerThread::Start(unsigned creationFlags) {
    state_.store(WORKER_RUNNING);
    {
        std::lock_guard<std::mutex> lock(suspendMutex_);
        suspendCount_ = (creationFlags & kCreateSuspended) ? 1 : 0;
    }
    std::string reason;
    if (ShouldFailCreation()) {
        reason = std::make_error_code(std::errc::resource_unavailable_try_again).message();
    } else if (CreateThread(reason)) {
        threadCreated_ = true;
        return 1;
    }
    ReportError((std::string(GetErrorText(KTERR_CREATE_THREAD)) + ": " + reason).c_str());
    // No thread will ever mark this worker exited; without this a run could never end.
    state_.store(WORKER_EXITED);
    return 0;
}

bool CWorkerThread::CreateThread(std::string& reason) {
    try {
        thread_ = std::thread(WorkerThreadProc, this);
        return true;
    } catch (const std::system_error& error) {
        reason = error.code().message();  // the only way std::thread says the system refused
        return false;
    }
}

std::uint32_t CWorkerThread::Suspend() {
    if (!threadCreated_) {
        return kNoThreadCount;
    }
    std::lock_guard<std::mutex> lock(suspendMutex_);
    return suspendCount_++;
}

std::uint32_t CWorkerThread::ResumeOnce() {
    if (!threadCreated_) {
        return kNoThreadCount;
    }
    std::uint32_t previous;
    {
        std::lock_guard<std::mutex> lock(suspendMutex_);
        previous = suspendCount_;
        if (suspendCount_ > 0) {
            --suspendCount_;
        }
    }
    if (previous == 1) {
        resumed_.notify_all();
    }
    return previous;
}

void CWorkerThread::ResumeFully() {
    std::uint32_t previous;
    do {
        previous = ResumeOnce();
    } while (previous != 0 && previous != kNoThreadCount);
}

int CWorkerThread::CloseThreadHandle() {
    const int state = GetState();
    if (state != WORKER_STOP_REQUESTED && state != WORKER_EXITED) {
        return 0;
    }
    // A thread still finishing its unit of work is joined by the destructor, which runs only
    // once every worker has exited.
    if (state == WORKER_EXITED && thread_.joinable()) {
        thread_.join();
    }
    return 1;
}

int CWorkerThread::RequestStop() {
    Suspend();
    // Only a running worker may be asked to stop: a plain store could overwrite WORKER_EXITED,
    // which its thread has just written, and the pool would count a live worker for ever.
    int running = WORKER_RUNNING;
    state_.compare_exchange_strong(running, WORKER_STOP_REQUESTED);
    ResumeFully();
    return 1;
}

int CWorkerThread::Step() {
    if (RunOnce() == 0) {
        state_.store(WORKER_EXITED);
        return 0;
    }
    return 1;
}

void CWorkerThread::WaitWhileSuspended() {
    std::unique_lock<std::mutex> lock(suspendMutex_);
    resumed_.wait(lock, [this] { return suspendCount_ == 0; });
}

void CWorkerThread::CheckpointHandler(void* worker) {
    static_cast<CWorkerThread*>(worker)->WaitWhileSuspended();
}
