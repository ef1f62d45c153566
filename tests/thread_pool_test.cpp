#include "engine/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>

#include "in_temp_directory.h"
#include "support/debug_log.h"
#include "wait_until.h"

namespace {

// Counts units of work; each unit yields the processor once. Ends a worker's loop once
// `unitsBeforeEnd` units were done in all, when set.
class CountingPool : public CThreadPool {
  public:
    CountingPool() : CThreadPool([this] { return Work(); }) {}
    ~CountingPool() override {
        StopAll();
        WaitOrEndTheProgram([this] { return !HasLiveThreads(); }, "the pool's workers stopping");
        CloseWorkers();
    }
    int Work() {
        const int done = ++units;
        if (unitsBeforeEnd > 0 && done >= unitsBeforeEnd) {
            return 0;
        }
        std::this_thread::yield();
        return 1;
    }
    std::atomic<int> units{0};
    int unitsBeforeEnd = 0;
};

TEST(ThreadPoolTest, StartWithZeroThreadsThenWithSome) {
    CountingPool pool;
    EXPECT_EQ(pool.Start(0), 1);
    EXPECT_EQ(pool.CountLiveThreads(), 0);
    EXPECT_EQ(pool.HasLiveThreads(), 0);
    EXPECT_EQ(pool.Start(3), 1);
    EXPECT_EQ(pool.CountLiveThreads(), 3);
    EXPECT_EQ(pool.Start(5), 0);  // already started: nothing more is created
    EXPECT_EQ(pool.CountLiveThreads(), 3);
}

TEST(ThreadPoolTest, EmptyPoolClosesAtOnce) {
    CountingPool pool;
    EXPECT_EQ(pool.CountLiveThreads(), 0);
    EXPECT_EQ(pool.CloseWorkers(), 1);
}

TEST(ThreadPoolTest, StopEndsEveryWorkerAndOnlyThenCloses) {
    CountingPool pool;
    pool.Start(4);
    ASSERT_TRUE(WaitUntil([&] { return pool.units.load() > 8; }));
    pool.StopAll();
    pool.StopAll();  // a repeated request changes nothing
    ASSERT_TRUE(WaitUntil([&] { return pool.CountLiveThreads() == 0; }));
    EXPECT_EQ(pool.CloseWorkers(), 1);
}

TEST(ThreadPoolTest, CloseWorkersRefusedWhileAnyWorkerLives) {
    CountingPool pool;
    pool.Start(2);
    EXPECT_EQ(pool.CloseWorkers(), 0);
    EXPECT_EQ(pool.CountLiveThreads(), 2);  // refused: both still run
}

TEST(ThreadPoolTest, WorkReturningZeroEndsWorkersWithoutStopRequest) {
    CountingPool pool;
    pool.unitsBeforeEnd = 1;
    pool.Start(3);
    ASSERT_TRUE(WaitUntil([&] { return pool.HasLiveThreads() == 0; }));
    EXPECT_EQ(pool.units.load(), 3);  // each worker did exactly the unit that ended it
}

TEST(ThreadPoolTest, StopRequestsRacingWithExitsNeverLeaveALiveWorker) {
    // Workers that end on their own, asked to stop over and over, without a pause, while they
    // leave: a request must never turn an exited worker back into a live one.
    for (int round = 0; round < 100; ++round) {
        CountingPool pool;
        pool.unitsBeforeEnd = 1 + round % 20;
        pool.Start(20);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (pool.HasLiveThreads() && std::chrono::steady_clock::now() < deadline) {
            pool.StopAll();
        }
        ASSERT_FALSE(pool.HasLiveThreads()) << "round " << round << ": " << pool.CountLiveThreads()
                                            << " workers counted live for ever";
    }
}

TEST(ThreadPoolTest, PauseHoldsWorkAndStopWhilePausedEndsEveryWorker) {
    CountingPool pool;
    pool.Start(4);
    ASSERT_TRUE(WaitUntil([&] { return pool.units.load() > 4; }));
    pool.SuspendAll();
    // A held worker gives no sign, so a pool that is not held keeps the time: the units in
    // progress finish while it does a few, and a worker not held would do as many as it does
    // after that.
    CountingPool clock;
    clock.Start(1);
    ASSERT_TRUE(WaitUntil([&] { return clock.units.load() >= 100; }));
    const int held = pool.units.load();
    ASSERT_TRUE(WaitUntil([&] { return clock.units.load() >= 1000; }));
    EXPECT_EQ(pool.units.load(), held);
    EXPECT_EQ(pool.CountLiveThreads(), 4);

    pool.StopAll();  // no ResumeAll: the stop request itself releases them
    ASSERT_TRUE(WaitUntil([&] { return pool.CountLiveThreads() == 0; }));
    EXPECT_LE(pool.units.load(), held);  // released to stop, not to work
}

TEST(ThreadPoolTest, ResumeAfterNestedPausesRestartsWork) {
    CountingPool pool;
    pool.Start(2);
    pool.SuspendAll();
    pool.SuspendAll();
    CountingPool clock;  // keeps the time, as above
    clock.Start(1);
    ASSERT_TRUE(WaitUntil([&] { return clock.units.load() >= 100; }));
    const int held = pool.units.load();
    pool.ResumeAll();
    EXPECT_TRUE(WaitUntil([&] { return pool.units.load() > held + 4; }));
}

class PoolLogTest : public InTempDirectory {
  protected:
    void TearDown() override {
        CWorkerThread::FailThreadCreationsForTest(0);
        InTempDirectory::TearDown();
    }
    int CountLogLines(const std::string& text) {
        std::istringstream log(Log());
        int count = 0;
        for (std::string line; std::getline(log, line);) {
            count += line.size() > text.size() &&
                     line.compare(line.size() - text.size(), text.size(), text) == 0;
        }
        return count;
    }
};

TEST_F(PoolLogTest, EveryWorkerLogsItsStartAndExit) {
    {
        CountingPool pool;
        pool.Start(20);
        ASSERT_TRUE(WaitUntil([&] { return CountLogLines("\tCreate WorkerThread") == 20; }));
        pool.StopAll();
        ASSERT_TRUE(WaitUntil([&] { return !pool.HasLiveThreads(); }));
        ASSERT_EQ(pool.CloseWorkers(), 1);
    }
    EXPECT_EQ(CountLogLines("\tCreate WorkerThread"), 20);
    EXPECT_EQ(CountLogLines("\tWorkerThread exit"), 20);
}

TEST_F(PoolLogTest, FailedThreadCreationIsReportedAndRunCanStillEnd) {
    int boxes = 0;
    std::string shownText;
    SetErrorBoxHook([&](const std::string&, const std::string& text) {
        ++boxes;
        shownText = text;
        return 1;
    });
    CWorkerThread::FailThreadCreationsForTest(2);
    CountingPool pool;
    EXPECT_EQ(pool.Start(5), 1);
    EXPECT_EQ(boxes, 2);
    EXPECT_EQ(shownText.substr(0, shownText.find('\n')),
              "cannot start a worker thread: Resource temporarily unavailable");
    EXPECT_EQ(pool.CountLiveThreads(), 3);
    pool.StopAll();
    ASSERT_TRUE(WaitUntil([&] { return !pool.HasLiveThreads(); }));
    EXPECT_EQ(pool.CloseWorkers(), 1);
}

}  // namespace
