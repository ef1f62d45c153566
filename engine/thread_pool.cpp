#include "engine/thread_pool.h"

int CThreadPool::Start(int threadCount) {
    if (!workers_.empty()) {
        return 0;
    }
    for (int i = 0; i < threadCount; ++i) {
        auto worker = std::make_unique<CPoolWorkerThread>([this] { return work_ ? work_() : 0; });
        worker->Start(kCreateSuspended);
        workers_.push_back(std::move(worker));
    }
    ResumeAll();  // only now does any thread run: the list is complete
    return 1;
}

void CThreadPool::SuspendAll() {
    for (auto& worker : workers_) {
        worker->Suspend();
    }
}

void CThreadPool::ResumeAll() {
    for (auto& worker : workers_) {
        worker->ResumeFully();
    }
}

void CThreadPool::StopAll() {
    for (auto& worker : workers_) {
        if (worker->GetState() != WORKER_EXITED) {
            worker->RequestStop();
        }
    }
}

int CThreadPool::HasLiveThreads() const {
    for (const auto& worker : workers_) {
        if (worker->GetState() != WORKER_EXITED) {
            return 1;
        }
    }
    return 0;
}

int CThreadPool::CountLiveThreads() const {
    int live = 0;
    for (const auto& worker : workers_) {
        if (worker->GetState() != WORKER_EXITED) {
            ++live;
        }
    }
    return live;
}

int CThreadPool::CloseWorkers() {
    if (HasLiveThreads()) {
        return 0;
    }
    for (auto& worker : workers_) {
        worker->CloseThreadHandle();
    }
    workers_.clear();
    return 1;
}
