#include "engine/downloader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "temp_dir.h"
#include "tools/server/scripted_server.h"
#include "wait_until.h"

namespace {

struct Report {
    int result;
    std::string url;
    std::string path;
    JobTag tag;
    std::thread::id thread;
    FetchError error;
};

class RecordingDownloader : public CDownloader {
  public:
    RecordingDownloader() { SetIdleSleepMs(5); }
    ~RecordingDownloader() override {
        StopAll();
        Resume();
        WaitOrEndTheProgram([this] { return !HasLiveThreads(); },
                            "the downloader's workers stopping");
        Drain();
        Teardown();
    }
    void OnJobDone(int result, const char* url, const char* path, std::unique_ptr<JobTag> tag,
                   const FetchFailure& failure) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back({result, url, path, *tag, std::this_thread::get_id(), failure.error});
    }
    std::vector<Report> Reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    std::size_t ReportCount() { return Reports().size(); }

  private:
    std::mutex mutex_;
    std::vector<Report> reports_;
};

std::unique_ptr<JobTag> Tag(int number, int kind = JOB_BBS) {
    return std::make_unique<JobTag>(JobTag{number, kind});
}

class DownloaderTest : public ::testing::Test {
  protected:
    void Serve(ScriptedServer::Responder responder) {
        server_ = std::make_unique<ScriptedServer>(std::move(responder));
        ASSERT_TRUE(server_->Start());
        downloader_.GetFetcher().SetPort(server_->Port());
    }
    std::string Url(int n) const { return "http://127.0.0.1/d/" + std::to_string(n); }
    std::string Path(int n) const { return dir_.File(std::to_string(n)); }
    void Add(int n) { downloader_.AddJob(Url(n).c_str(), Path(n).c_str(), Tag(n)); }

    TempDir dir_;
    std::unique_ptr<ScriptedServer> server_;  // outlives the downloader's stalled fetches
    RecordingDownloader downloader_;
};

TEST_F(DownloaderTest, JobsAreTakenOldestFirstAndEachReportedOnce) {
    Serve([](const std::string&) { return ServerScript().Send(HttpResponse(200, "ok")); });
    ASSERT_EQ(downloader_.Start(1), 1);
    downloader_.Pause();
    for (int n = 1; n <= 5; ++n) {
        Add(n);
    }
    downloader_.Resume();
    ASSERT_TRUE(WaitUntil([&] { return downloader_.ReportCount() == 5; }));
    const auto requests = server_->Requests();
    ASSERT_EQ(requests.size(), 5u);
    for (int n = 1; n <= 5; ++n) {
        EXPECT_EQ(requests[n - 1], "GET " + Url(n) + " HTTP/1.0\r\n\r\n");
        EXPECT_EQ(downloader_.Reports()[n - 1].tag.number, n);
        EXPECT_EQ(ReadFileBytes(Path(n)), "ok");
    }
}

TEST_F(DownloaderTest, ManyWorkersReportEveryJobExactlyOnce) {
    Serve([](const std::string& request) {
        const bool odd = request.find("7 HTTP") != std::string::npos;
        return ServerScript().Send(HttpResponse(odd ? 404 : 200, "body"));
    });
    downloader_.Start(20);
    for (int n = 0; n < 200; ++n) {
        Add(n);
    }
    ASSERT_TRUE(WaitUntil([&] { return downloader_.ReportCount() == 200; }));
    std::set<int> numbers;
    for (const Report& report : downloader_.Reports()) {
        numbers.insert(report.tag.number);
        EXPECT_EQ(report.result, report.tag.number % 10 == 7 ? 0 : 1) << report.tag.number;
        EXPECT_NE(report.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(numbers.size(), 200u);
    EXPECT_EQ(downloader_.GetWaitingCount(), 0u);
}

// A report may take long (a box, a slow disk): the queue must stay free meanwhile.
class SlowReportDownloader : public RecordingDownloader {
  public:
    void OnJobDone(int result, const char* url, const char* path, std::unique_ptr<JobTag> tag,
                   const FetchFailure& failure) override {
        reporting = true;
        WaitUntil([this] { return released.load(); }, std::chrono::seconds(5));
        RecordingDownloader::OnJobDone(result, url, path, std::move(tag), failure);
    }
    std::atomic<bool> reporting{false};
    std::atomic<bool> released{false};
};

TEST_F(DownloaderTest, QueueStaysFreeWhileAJobIsReported) {
    Serve([](const std::string&) { return ServerScript().Send(HttpResponse(200, "x")); });
    SlowReportDownloader downloader;
    downloader.GetFetcher().SetPort(server_->Port());
    downloader.Start(1);
    downloader.AddJob(Url(1).c_str(), Path(1).c_str(), Tag(1));
    ASSERT_TRUE(WaitUntil([&] { return downloader.reporting.load(); }));
    auto counted = std::async(std::launch::async, [&] {
        downloader.AddJob(Url(2).c_str(), Path(2).c_str(), Tag(2));
        return downloader.GetWaitingCount();
    });
    const bool free = counted.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    downloader.released = true;
    ASSERT_TRUE(free) << "the queue lock was held during a report";
    EXPECT_EQ(counted.get(), 1u);
}

TEST_F(DownloaderTest, WaitingCountDropsWhenAJobIsTakenBeforeItIsFetched) {
    Serve([](const std::string&) { return ServerScript().Stall(); });
    downloader_.Start(1);
    downloader_.Pause();
    Add(1);
    Add(2);
    EXPECT_EQ(downloader_.GetWaitingCount(), 2u);
    downloader_.Resume();
    ASSERT_TRUE(WaitUntil([&] { return server_->ConnectionCount() == 1; }));
    EXPECT_EQ(downloader_.GetWaitingCount(), 1u);
    EXPECT_EQ(downloader_.ReportCount(), 0u);
    server_->Stop();  // ends the stalled fetch
    EXPECT_TRUE(WaitUntil([&] { return downloader_.ReportCount() == 2; }));
}

TEST_F(DownloaderTest, DrainOnEmptyQueueReportsNothing) {
    EXPECT_EQ(downloader_.Drain(), 1);
    EXPECT_EQ(downloader_.ReportCount(), 0u);
}

TEST_F(DownloaderTest, DrainReportsQueuedJobsCancelledOldestFirstOnCallingThread) {
    downloader_.Start(0);
    Add(1);
    Add(2);
    Add(3);
    EXPECT_EQ(downloader_.Drain(), 1);
    const auto reports = downloader_.Reports();
    ASSERT_EQ(reports.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(reports[i].result, JOB_CANCELLED);
        EXPECT_EQ(reports[i].tag.number, i + 1);
        EXPECT_EQ(reports[i].url, Url(i + 1));
        EXPECT_EQ(reports[i].path, Path(i + 1));
        EXPECT_EQ(reports[i].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(downloader_.GetWaitingCount(), 0u);
}

TEST_F(DownloaderTest, DrainRefusedWhileAWorkerIsLive) {
    Serve([](const std::string&) { return ServerScript().Stall(); });
    downloader_.Start(1);
    Add(1);
    ASSERT_TRUE(WaitUntil([&] { return server_->ConnectionCount() == 1; }));
    Add(2);
    downloader_.StopAll();  // the worker is still finishing its stalled fetch
    EXPECT_EQ(downloader_.HasLiveThreads(), 1);
    EXPECT_EQ(downloader_.Drain(), 0);
    EXPECT_EQ(downloader_.ReportCount(), 0u);
    EXPECT_EQ(downloader_.GetWaitingCount(), 1u);
    server_->Stop();
    ASSERT_TRUE(WaitUntil([&] { return !downloader_.HasLiveThreads(); }));
    EXPECT_EQ(downloader_.Drain(), 1);
    ASSERT_EQ(downloader_.ReportCount(), 2u);
    EXPECT_EQ(downloader_.Reports()[1].result, JOB_CANCELLED);
}

TEST_F(DownloaderTest, PauseHoldsAFetchBetweenBlocksAndResumeFinishesIt) {
    const std::string body(40 * 512, 'b');
    Serve([&](const std::string&) {
        return ServerScript()
            .Send("HTTP/1.0 200 OK\r\n\r\n")
            .Drip(body.substr(0, 10 * 512), 512, 2)
            .Mark()
            .Drip(body.substr(10 * 512), 512, 2)
            .Mark();
    });
    downloader_.Start(1);
    Add(1);
    ASSERT_TRUE(WaitUntil([&] { return server_->MarksPassed() == 1; }));  // some blocks are in
    downloader_.Pause();
    // The whole body is there; a worker not held stores it in moments.
    ASSERT_TRUE(WaitUntil([&] { return server_->MarksPassed() == 2; }));
    EXPECT_FALSE(
        WaitUntil([&] { return downloader_.ReportCount() > 0; }, std::chrono::milliseconds(100)));
    EXPECT_FALSE(std::filesystem::exists(Path(1)));
    downloader_.Resume();
    ASSERT_TRUE(WaitUntil([&] { return downloader_.ReportCount() == 1; }));
    EXPECT_EQ(downloader_.Reports()[0].result, 1);
    EXPECT_EQ(ReadFileBytes(Path(1)), body);
}

TEST_F(DownloaderTest, StopWhilePausedWakesAndEndsEveryWorker) {
    downloader_.Start(20);
    downloader_.Pause();
    downloader_.StopAll();
    EXPECT_TRUE(WaitUntil([&] { return downloader_.GetActiveCount() == 0; }));
    downloader_.StopAll();  // nothing left to stop
    EXPECT_EQ(downloader_.Drain(), 1);
}

TEST_F(DownloaderTest, SecondStartCreatesNoThreads) {
    EXPECT_EQ(downloader_.Start(2), 1);
    EXPECT_EQ(downloader_.Start(2), 0);
    EXPECT_EQ(downloader_.GetActiveCount(), 2);
}

TEST_F(DownloaderTest, NamesOf259CharactersAreCarriedWholeLongerOnesFailOffline) {
    Serve([](const std::string&) { return ServerScript().Send(HttpResponse(200, "x")); });
    const std::string urlBase = "http://127.0.0.1/";
    const std::string url259 = urlBase + std::string(259 - urlBase.size(), 'u');
    const std::string dir = dir_.WithSeparator();
    const std::string path259 = dir + std::string(259 - dir.size(), 'p');
    downloader_.Start(1);
    downloader_.Pause();
    downloader_.AddJob(url259.c_str(), path259.c_str(), Tag(1));
    downloader_.AddJob((url259 + "u").c_str(), path259.c_str(), Tag(2));
    downloader_.AddJob(url259.c_str(), (path259 + "p").c_str(), Tag(3));
    downloader_.Resume();
    ASSERT_TRUE(WaitUntil([&] { return downloader_.ReportCount() == 3; }));
    const auto reports = downloader_.Reports();
    EXPECT_EQ(reports[0].result, 1);
    EXPECT_EQ(reports[0].url, url259);
    EXPECT_EQ(reports[0].path, path259);
    EXPECT_EQ(reports[1].result, 0);
    EXPECT_EQ(reports[1].url, url259 + "u");
    EXPECT_EQ(reports[2].result, 0);
    EXPECT_EQ(server_->ConnectionCount(), 1);
}

TEST(DownloaderTeardownTest, TeardownFreesLeftoverJobsAndTags) {
    RecordingDownloader downloader;
    downloader.Start(0);
    downloader.AddJob("http://127.0.0.1/x", "/nonexistent/x", Tag(1));
    downloader.Teardown();  // under AddressSanitizer a leaked tag would show here
    EXPECT_EQ(downloader.ReportCount(), 0u);
}

}  // namespace

namespace {

// Idle workers wait on the queue, not in a sleep: a job, Resume and a stop reach them at once,
// however long their idle wait; a paused one takes no job.
TEST_F(DownloaderTest, IdleWorkersWakeForAJobAResumeAReleaseAndAStopButNotWhilePausedOrHeld) {
    Serve([](const std::string&) { return ServerScript().Send(HttpResponse(200, "ok")); });
    downloader_.SetIdleSleepMs(60'000);
    ASSERT_EQ(downloader_.Start(2), 1);
    const auto start = std::chrono::steady_clock::now();
    Add(1);
    ASSERT_TRUE(WaitUntil([&] { return downloader_.ReportCount() == 1; }));
    downloader_.Pause();
    Add(2);
    // The workers wait on the queue all along: one not held would take the job in moments.
    EXPECT_FALSE(WaitUntil([&] { return downloader_.GetWaitingCount() == 0; },
                           std::chrono::milliseconds(100)));
    downloader_.Resume();
    ASSERT_TRUE(WaitUntil([&] { return downloader_.ReportCount() == 2; }));
    downloader_.Hold(true);  // the site asked for a pause: the queue gives nothing
    Add(3);
    EXPECT_FALSE(WaitUntil([&] { return downloader_.GetWaitingCount() == 0; },
                           std::chrono::milliseconds(100)));
    downloader_.Hold(false);
    ASSERT_TRUE(WaitUntil([&] { return downloader_.ReportCount() == 3; }));
    downloader_.StopAll();
    ASSERT_TRUE(WaitUntil([&] { return !downloader_.HasLiveThreads(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
