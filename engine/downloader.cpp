#include "engine/downloader.h"

#include <chrono>
#include <thread>

CDownloader::~CDownloader() = default;

int CDownloader::Start(int threadCount) {
    if (pool_) {
        return 0;
    }
    queueLock_.Create();
    pool_ = std::make_unique<CDownloaderPool>(this);
    pool_->Start(threadCount);
    return 1;
}

void CDownloader::AddJob(const char* url, const char* path, std::unique_ptr<JobTag> tag) {
    auto job = std::make_unique<DownloadJob>();
    job->url = url != nullptr ? url : "";
    job->path = path != nullptr ? path : "";
    job->tag = std::move(tag);
    queueLock_.Lock();
    queue_.push_back(std::move(job));
    ++queuedCount_;
    queueLock_.Unlock();
}

int CDownloader::ProcessNextJob() {
    std::unique_ptr<DownloadJob> job;
    queueLock_.Lock();
    if (queuedCount_ != 0) {
        job = std::move(queue_.front());
        queue_.pop_front();
        --queuedCount_;
    }
    queueLock_.Unlock();
    if (!job) {
        std::this_thread::sleep_for(std::chrono::milliseconds(idleSleepMs_));
        return 1;
    }
    // The fetcher refuses names that do not fit the system's 260-byte buffers.
    FetchFailure failure;
    const int result = fetcher_.Download(job->url.c_str(), job->path.c_str(), &failure);
    OnJobDone(result, job->url.c_str(), job->path.c_str(), std::move(job->tag), failure);
    return 1;
}

unsigned CDownloader::GetWaitingCount() {
    queueLock_.Lock();
    const unsigned waiting = queuedCount_;
    queueLock_.Unlock();
    return waiting;
}

int CDownloader::GetActiveCount() const {
    return pool_ ? pool_->CountLiveThreads() : 0;
}

void CDownloader::Pause() {
    if (pool_) {
        pool_->SuspendAll();
    }
}

void CDownloader::Resume() {
    if (pool_) {
        pool_->ResumeAll();
    }
}

void CDownloader::StopAll() {
    if (pool_) {
        pool_->StopAll();
    }
}

int CDownloader::HasLiveThreads() const {
    return pool_ ? pool_->HasLiveThreads() : 0;
}

int CDownloader::Drain() {
    if (HasLiveThreads()) {
        return 0;
    }
    // No worker lives and the caller has stopped adding jobs: this thread is the queue's only user.
    while (!queue_.empty()) {
        std::unique_ptr<DownloadJob> job = std::move(queue_.front());
        queue_.pop_front();
        OnJobDone(JOB_CANCELLED, job->url.c_str(), job->path.c_str(), std::move(job->tag),
                  FetchFailure{});
    }
    queuedCount_ = 0;
    return 1;
}

void CDownloader::Teardown() {
    if (HasLiveThreads()) {
        return;
    }
    queue_.clear();
    queuedCount_ = 0;
    if (pool_) {
        pool_->CloseWorkers();
        pool_.reset();
    }
    queueLock_.Close();
}
