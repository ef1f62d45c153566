#pragma once

#include <atomic>
#include <memory>

#include "engine/downloader.h"

namespace bench {

// A downloader whose reports only count: what a benchmark measures is the engine.
class CountingDownloader : public CDownloader {
  public:
    void OnJobDone(int result, const char*, const char*, std::unique_ptr<JobTag>,
                   const FetchFailure&) override {
        (result == 1 ? stored : failed)++;
    }
    int Finished() const { return stored + failed; }
    std::atomic<int> stored{0};
    std::atomic<int> failed{0};
};

}  // namespace bench
