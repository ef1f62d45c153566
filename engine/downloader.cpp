#include "engine/downloader.h"

#include <chrono>

CDownloader::~CDownloader() = default;

int CDownloader::Start(int threadCount) {
    if (pool_) {
        return 0;
    }
    queueLock_.Create();
    // The pool's unit of work is this downloader's next job.
    pool_ = std::make_unique<CThreadPool>([this] { return ProcessNextJob(); });
    pool_->Start(threadCount);
    return 1;
}

void CDownloader::AddJob(const char* url, const char* path, std::unique_ptr<JobTag> tag) {
    auto job = std::make_unique<DownloadJob>();
    job->url = url != nullptr ? url : "";
    job->path = path != nullptr ? path : "";
    job->tag = std::move(tag);
    {
        std::scoped_lock lock(queueLock_);
        queue_.push_back(std::move(job));
        ++queuedCount_;
    }
    queueChanged_.notify_one();
}

int CDownloader::ProcessNextJob() {
    std::unique_ptr<DownloadJob> job;
    {
        std::unique_lock lock(queueLock_);
        const auto jobReady = [&] { return queuedCount_ != 0 && !paused_ && !held_; };
        // A paused worker takes no job here: it goes on to its safe point, where it waits.
        if (!jobReady() && !stopping_) {
            queueChanged_.wait_for(lock, std::chrono::milliseconds(idleSleepMs_),
                                   [&] { return jobReady() || stopping_; });
        }
        if (jobReady() && !stopping_) {
            job = std::move(queue_.front());
            queue_.pop_front();
            --queuedCount_;
        }
    }
    if (!job) {
        return 1;
    }
    // The fetcher refuses names that do not fit the system's 260-byte buffers.
    FetchFailure failure;
    const PageRules* rules = job->tag ? &pageRules_[job->tag->kind == JOB_BBS ? 0 : 1] : nullptr;
    const int result =
        fetch_ ? fetch_(job->url, job->path, failure)
               : fetcher_.Download(job->url.c_str(), job->path.c_str(), &failure, rules);
    OnJobDone(result, job->url.c_str(), job->path.c_str(), std::move(job->tag), failure);
    return 1;
}

unsigned CDownloader::GetWaitingCount() {
    std::scoped_lock lock(queueLock_);
    return queuedCount_;
}

int CDownloader::GetActiveCount() const {
    return pool_ ? pool_->CountLiveThreads() : 0;
}

void CDownloader::Pause() {
    if (pool_) {
        SetQueueFlag(paused_, true);
        pool_->SuspendAll();
    }
}

void CDownloader::Resume() {
    if (pool_) {
        SetQueueFlag(paused_, false);
        pool_->ResumeAll();
    }
}

void CDownloader::Hold(bool held) {
    if (pool_) {
        SetQueueFlag(held_, held);
    }
}

void CDownloader::StopAll() {
    if (pool_) {
        pool_->StopAll();
        SetQueueFlag(stopping_, true);  // idle workers leave now, not after their wait
    }
}

void CDownloader::SetQueueFlag(bool& flag, bool value) {
    {
        std::scoped_lock lock(queueLock_);
        flag = value;
    }
    queueChanged_.notify_all();
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
