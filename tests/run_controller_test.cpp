#include "run/run_controller.h"

#include <gtest/gtest.h>
#include <re2/re2.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <future>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "manual_clock.h"
#include "posix_helpers.h"
#include "recording_file_system.h"
#include "recording_observer.h"
#include "run/job_names.h"
#include "run/series_end.h"
#include "support/debug_log.h"
#include "support/file_helpers.h"
#include "temp_dir.h"
#include "tools/server/scripted_server.h"
#include "wait_until.h"

namespace {

class RunControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        controller_.SetIdleSleepMs(5);
        controller_.Open();
        TaskSettings& record = settings_.Record();
        record.bbsUrl = "http://127.0.0.1/bbs";
        record.documentUrl = "http://127.0.0.1/doc";
        ASSERT_EQ(settings_.Save(), 540);  // other controllers on the folder read these URLs
        // What the window would hand over with its entries as opened.
        request_.bbs = {record.bbsEnabled != 0, record.bbsNumber, TaskPlan::Open()};
        request_.document = {record.documentEnabled != 0, record.documentNumber, TaskPlan::Open()};
        request_.delaySeconds = record.timeout;
    }
    void TearDown() override {
        EndRun();
        WaitOrEndTheProgram([&] { return !controller_.HasRun(); }, "the run ending");
    }

    // Every document has a body naming it; numbers ending in 7, or those `exists` refuses, are
    // missing (404). No network: the workers' fetch writes the body itself.
    // `refuse` may answer for a number instead of the site, with a failure.
    using Refusal = std::function<std::optional<FetchFailure>(long)>;
    void ServeDocuments(
        std::function<bool(long)> exists = [](long) { return true; },
        Refusal refuse = [](long) { return std::nullopt; }) {
        controller_.SetFetch([this, exists, refuse](const std::string& url, const std::string& path,
                                                    FetchFailure& failure) {
            static const RE2 number(R"(/(\d+)\.(?:xml|shtm)$)");
            std::string digits;
            const bool found = RE2::PartialMatch(url, number, &digits);
            {
                std::lock_guard<std::mutex> lock(askedMutex_);
                asked_.push_back(found ? digits : url);
            }
            if (found) {
                if (const std::optional<FetchFailure> refusal = refuse(std::stol(digits))) {
                    failure = *refusal;
                    return 0;
                }
            }
            if (!found || digits.back() == '7' || !exists(std::stol(digits))) {
                failure = missingAnswer_;
                return 0;
            }
            WriteFileBytes(path, "document " + digits);
            return 1;
        });
    }
    // The numbers asked of ServeDocuments, in the order asked.
    std::vector<std::string> Asked() {
        std::lock_guard<std::mutex> lock(askedMutex_);
        return asked_;
    }
    // The same documents from a loopback server, for what only the network shows.
    void ServeDocumentsOverTheNetwork(int port = 0) {
        ServeOverTheNetwork(
            [](const std::string& request) {
                const std::string number = Match(request);
                if (number.empty() || number.back() == '7') {
                    return ServerScript().Send(HttpResponse(404, "missing"));
                }
                return ServerScript().Send(HttpResponse(200, "document " + number));
            },
            port);
    }
    // The run fetches from a loopback server that answers as `responder` says.
    void ServeOverTheNetwork(ScriptedServer::Responder responder, int port = 0) {
        server_ = std::make_unique<ScriptedServer>(std::move(responder));
        ASSERT_TRUE(server_->Start(port));
        controller_.SetFetchPort(server_->Port());
    }
    // The number a request asks for, or the empty text.
    static std::string Match(const std::string& request) {
        static const RE2 number(R"(/(-?\d+)\.(?:xml|shtm) HTTP)");
        std::string digits;
        RE2::PartialMatch(request, number, &digits);
        return digits;
    }
    void Start() { controller_.Start(request_); }
    void Tick(int times = 1) {
        for (int i = 0; i < times; ++i) {
            controller_.GenerateJobs();
        }
    }
    // Once Pause has returned, no worker takes a job queued after it.
    void PauseAndSettle() { controller_.Pause(); }
    // Both phases of Abort, waiting for the workers in between. Paused workers leave without
    // taking a job.
    void EndRun() {
        if (!controller_.HasRun()) {
            return;
        }
        controller_.Abort();
        ASSERT_TRUE(WaitUntil([&] { return controller_.ActiveThreads() == 0; }));
        controller_.Abort();
        ASSERT_FALSE(controller_.HasRun());
    }
    // Once the save interval has passed, the status tick saves, or the save under way in a
    // worker does (a worker that began before the interval passed leaves it to the next tick):
    // true once the saved BBS place is `expected`.
    bool SavesBbsPlace(std::int32_t expected) {
        clock_.Advance(kSaveInterval);
        return WaitUntil([&] {
            controller_.RefreshStatus();
            return SavedRecord().bbsNumber == expected;
        });
    }
    TaskSettings SavedRecord() {
        CTaskSettingsFile saved;
        saved.SetPath(settings_.GetPath());
        EXPECT_EQ(saved.Load(), 540);
        return saved.Record();
    }
    std::string AppFile(const std::string& relative) { return dir_.WithSeparator() + relative; }

    TempDir dir_;
    std::unique_ptr<ScriptedServer> server_;
    std::mutex askedMutex_;
    std::vector<std::string> asked_;  // guarded by askedMutex_
    ManualClock clock_;               // for the tests that set it; outlives the run
    RecordingObserver observer_;
    CRunController controller_{observer_, dir_.WithSeparator()};
    CTaskSettingsFile& settings_ = controller_.Settings();
    RunRequest request_;
    // What ServeDocuments answers for a number the site does not have.
    FetchFailure missingAnswer_{FetchError::kStatus, 404};
};

// A site that says "not found" with a 404, and one that says it with a 200 page a rule marks
// missing: the same series to the run.
class SeriesEndTest : public RunControllerTest,
                      public ::testing::WithParamInterface<FetchFailure> {};

TEST_F(RunControllerTest, OpeningShowsTheRecordAndIdleButtons) {
    const TaskSettings shown = observer_.Settings();
    EXPECT_EQ(shown.bbsEnabled, 1);
    EXPECT_EQ(shown.bbsNumber, 1318001);
    EXPECT_EQ(shown.documentEnabled, 1);
    EXPECT_EQ(shown.documentNumber, 1001);
    EXPECT_EQ(shown.timeout, 10);  // the delay too, which every front end shows
    EXPECT_EQ(observer_.Phase(), RunPhase::kIdle);
}

TEST_F(RunControllerTest, WholeRunStoresDocumentsCountsAndEndsInTwoAborts) {
    ServeDocumentsOverTheNetwork();
    request_.bbs.first = 995;
    request_.document.first = 2000;
    Start();
    EXPECT_EQ(observer_.Messages(), std::vector<std::string>{"notice"});
    EXPECT_EQ(observer_.Phase(), RunPhase::kRunning);
    EXPECT_TRUE(controller_.Generating());
    EXPECT_EQ(SavedRecord().bbsNumber, 995);
    EXPECT_EQ(SavedRecord().documentNumber, 2000);

    Tick(10);  // BBS 995..1004, Document 2000..2009
    ASSERT_TRUE(WaitUntil([&] {
        const RunState state = controller_.Snapshot();
        return state.succeeded + state.failed == 20;
    }));
    const RunState state = controller_.Snapshot();
    EXPECT_EQ(state.requested, 20);
    EXPECT_EQ(state.failed, 2);  // 997 and 2007
    EXPECT_EQ(ReadFileBytes(AppFile("xml_file/0/995.xml")), "document 995");
    EXPECT_EQ(ReadFileBytes(AppFile("xml_file/1/1004.xml")), "document 1004");
    EXPECT_EQ(ReadFileBytes(AppFile("html_file/2/2009.htm")), "document 2009");
    EXPECT_FALSE(std::filesystem::exists(AppFile("xml_file/0/997.xml")));
    const auto requests = server_->Requests();
    for (const char* request : {"GET http://127.0.0.1/bbs/0/995.xml HTTP/1.0\r\n\r\n",
                                "GET http://127.0.0.1/doc/2/2000.shtm HTTP/1.0\r\n\r\n"}) {
        EXPECT_NE(std::find(requests.begin(), requests.end(), request), requests.end()) << request;
    }

    controller_.RefreshStatus();
    EXPECT_EQ(observer_.Counts().Line(),
              "Requested : 20 - Successed : 18 - Failed : 2 - Waitting : 0 - Active Thread : 20");

    controller_.Abort();
    EXPECT_FALSE(controller_.Generating());
    EXPECT_EQ(observer_.Messages().back(), "wait");
    EXPECT_TRUE(controller_.HasRun());
    EXPECT_EQ(observer_.Phase(), RunPhase::kRunning);
    EndRun();
    EXPECT_EQ(observer_.Phase(), RunPhase::kIdle);
    // Every number below the saved ones was reported: the next start goes on from there.
    const TaskSettings saved = SavedRecord();
    EXPECT_EQ(saved.bbsNumber, 1005);
    EXPECT_EQ(saved.documentNumber, 2010);
}

TEST_F(RunControllerTest, RequestedEqualsFinishedPlusCancelledAtTeardown) {
    // Each answer waits for the test, so that the queue still holds some when the run stops.
    ServeOverTheNetwork([](const std::string&) {
        return ServerScript().AwaitRelease().Send(HttpResponse(200, "x"));
    });
    Start();
    controller_.Pause();
    Tick(30);
    controller_.Resume();
    for (int i = 0; i < 4; ++i) {
        server_->Release();
    }
    ASSERT_TRUE(WaitUntil(
        [&] { return controller_.Snapshot().succeeded + controller_.Snapshot().failed > 3; }));
    controller_.Pause();
    controller_.Abort();  // stop request wakes the paused workers
    for (int i = 0; i < 60; ++i) {
        server_->Release();  // the documents in progress end
    }
    ASSERT_TRUE(WaitUntil([&] { return controller_.ActiveThreads() == 0; }));
    const std::size_t reportsBefore = observer_.Reports().size();
    controller_.Abort();
    int cancelled = 0;
    const auto reports = observer_.Reports();
    for (std::size_t i = reportsBefore; i < reports.size(); ++i) {
        cancelled += reports[i].second == JobOutcome::kCancelled;
    }
    const RunState state = controller_.Snapshot();
    EXPECT_GT(cancelled, 0);
    EXPECT_EQ(state.requested, state.succeeded + state.failed + cancelled);
    EXPECT_EQ(state.requested, 60);
}

TEST_F(RunControllerTest, CancelledNumbersAreFetchedByTheNextStart) {
    ServeDocuments();
    request_.document.enabled = false;
    request_.bbs.first = 5000;
    Start();
    PauseAndSettle();
    Tick(3);  // 5000..5002 wait, never fetched
    EndRun();
    EXPECT_EQ(
        observer_.Reports().back(),
        std::make_pair(std::string("http://127.0.0.1/bbs/5/5002.xml"), JobOutcome::kCancelled));
    EXPECT_EQ(settings_.Record().bbsNumber, 5000);
    // A start without the task saves its number as it stands: the first cancelled one.
    request_.bbs.enabled = false;
    request_.document.enabled = true;
    Start();
    EXPECT_EQ(SavedRecord().bbsNumber, 5000);
    EXPECT_TRUE(Asked().empty());
}

TEST_F(RunControllerTest, SavedNumberIsTheLowestNotFinishedWhileJobsFinishOutOfOrder) {
    // Document 101 is held until the others have finished around it.
    std::promise<void> release101;
    std::shared_future<void> released = release101.get_future().share();
    ServeDocuments([released](long n) {
        if (n == 101) {
            released.wait();
        }
        return true;
    });
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    request_.bbs.first = 100;
    Start();
    Tick(5);  // 100..104
    ASSERT_TRUE(WaitUntil([&] { return controller_.Snapshot().succeeded == 4; }));
    EXPECT_TRUE(SavesBbsPlace(101));
    EXPECT_EQ(observer_.Place().bbsNumber, 101);
    release101.set_value();
    ASSERT_TRUE(WaitUntil([&] { return controller_.Snapshot().succeeded == 5; }));
    EXPECT_TRUE(SavesBbsPlace(105));
}

// What a user gets: a document still in progress at Abort has 10 s, however short its Delay,
// and then no more.
TEST_F(RunControllerTest, AbortCutsADocumentThatNeverEndsAfterTenSecondsOrTheDelay) {
    ServeOverTheNetwork(
        [](const std::string&) { return ServerScript().Send("HTTP/1.0 200 OK\r\n\r\n").Stall(); });
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    // No time limit of its own, and one longer than ten seconds.
    for (const int delay : {0, 15}) {
        request_.delaySeconds = delay;
        const int connections = server_->ConnectionCount();
        Start();
        Tick();
        ASSERT_TRUE(WaitUntil([&] { return server_->ConnectionCount() == connections + 1; }));
        controller_.Abort();
        // The idle workers leave at once; the one in the document gets its grace.
        ASSERT_TRUE(WaitUntil([&] { return controller_.ActiveThreads() == 1; }));
        clock_.Advance(std::chrono::seconds(delay == 0 ? 10 : delay) -
                       std::chrono::milliseconds(1));
        controller_.RefreshStatus();
        EXPECT_EQ(controller_.ActiveThreads(), 1) << delay;
        clock_.Advance(std::chrono::milliseconds(1));
        controller_.RefreshStatus();
        ASSERT_TRUE(WaitUntil([&] { return controller_.ActiveThreads() == 0; }));
        controller_.Abort();
        EXPECT_FALSE(controller_.HasRun());
        EXPECT_EQ(controller_.Snapshot().failed, 1);
        EXPECT_TRUE(std::filesystem::is_empty(AppFile("xml_file/1318")));
    }
    server_->Stop();
}

TEST_F(RunControllerTest, ControllerThatGoesDuringARunEndsItAtOnce) {
    server_ = std::make_unique<ScriptedServer>(
        [](const std::string&) { return ServerScript().Send("HTTP/1.0 200 OK\r\n\r\n").Stall(); });
    ASSERT_TRUE(server_->Start());
    RecordingObserver observer;
    request_.document.enabled = false;
    request_.delaySeconds = 0;  // no time limit of its own
    const auto start = std::chrono::steady_clock::now();
    {
        CRunController controller(observer, dir_.WithSeparator());
        controller.Open();
        controller.SetFetchPort(server_->Port());
        controller.Start(request_);
        controller.GenerateJobs();
        ASSERT_TRUE(WaitUntil([&] { return server_->ConnectionCount() == 1; }));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    server_->Stop();
}

TEST_F(RunControllerTest, FailedSaveIsReportedOncePerRunAndTheRunGoesOn) {
    ServeDocuments();
    std::vector<std::string> reports;
    SetErrorBoxHook([&](const std::string&, const std::string& text) {
        reports.push_back(text);
        return 1;
    });
    std::filesystem::create_directory(AppFile("settings-folder"));
    settings_.SetPath(AppFile("settings-folder"));
    request_.document.enabled = false;
    for (int run = 1; run <= 2; ++run) {
        Start();
        Tick(3);
        ASSERT_TRUE(WaitUntil([&] { return controller_.Snapshot().succeeded == 3; }));
        EndRun();
        ASSERT_EQ(reports.size(), static_cast<std::size_t>(run));
    }
    SetErrorBoxHook(nullptr);
    EXPECT_NE(reports[0].find("cannot be saved (it is not a regular file)"), std::string::npos)
        << reports[0];
}

TEST_F(RunControllerTest, TemplatesFromTheExtendedSettingsNameUrlsFilesAndReports) {
    ServeDocuments();
    settings_.Record().bbsUrl = "http://127.0.0.1/t/{n:06}.xml";
    WriteFileBytes(AppFile("NOVUDownLoad.toml"), "[bbs]\npath = \"{n/1000}/{n:06}/topic.xml\"\n");
    request_.document.enabled = false;
    request_.bbs.first = 995;
    request_.bbs.plan = TaskPlan::UpTo(1007);
    controller_.StartWithExtendedSettings(request_);
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        return controller_.AllJobsReported();
    }));
    EndRun();
    const std::string s = PathSeparator();
    EXPECT_EQ(ReadFileBytes(AppFile("xml_file" + s + "1" + s + "001006" + s + "topic.xml")),
              "document 001006");
    EXPECT_TRUE(std::filesystem::exists(AppFile("xml_file" + s + "0" + s + "000995")));
    EXPECT_NE(ReadFileBytes(AppFile("failed.txt")).find("\thttp://127.0.0.1/t/000997.xml\t"),
              std::string::npos);

    // A template that cannot name every number refuses the run, saying which and why.
    WriteFileBytes(AppFile("NOVUDownLoad.toml"), "[bbs]\npath = \"{n/1000}/{id}.xml\"\n");
    controller_.StartWithExtendedSettings(request_);
    EXPECT_FALSE(controller_.HasRun());
    WriteFileBytes(AppFile("NOVUDownLoad.toml"), "");
    settings_.Record().bbsUrl = "http://127.0.0.1/t/{number}";
    controller_.StartWithExtendedSettings(request_);
    EXPECT_FALSE(controller_.HasRun());
    const std::vector<std::string> messages = observer_.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], AppFile("NOVUDownLoad.toml") +
                                                 ":2:8: bbs.path: unknown placeholder {id} (known: "
                                                 "{n}, {n:0W}, {n/1000}). No run was started.");
    EXPECT_EQ(messages.back(),
              "bbs: the URL http://127.0.0.1/t/{number}: unknown placeholder {number} (known: "
              "{n}, {n:0W}, {n/1000}). No run was started.");
}

// A wiki answers a revision it does not have with a 200 page that names the number and a
// request's id, never twice the same. Without any rule such pages are missing and real
// revisions never are, even one that differs from that page in a short line: the run stores
// exactly the revisions, lists the two deleted ones, and ends at the real end.
TEST_F(RunControllerTest, ANotFoundPageThatNamesItsNumberIsMissingAndNoRevisionIs) {
    std::atomic<int> requests{0};
    const auto notFound = [&](const std::string& number) {
        return "<html><head><script>RLCONF={\"wgRequestId\":\"Zx" +
               std::to_string(1000003 * ++requests) +
               "kQ\"};</script></head><body><p>The "
               "revision #" +
               number +
               " of the page named \"Main Page\" does not exist.</p>"
               "<!-- Served in 0." +
               std::to_string(requests * 37 % 1000) + " secs --></body></html>";
    };
    ServeOverTheNetwork([&](const std::string& request) {
        const std::size_t at = request.find("oldid=");
        const std::string number =
            at == std::string::npos ? "" : request.substr(at + 6, request.find(' ', at) - at - 6);
        const long n = number.empty() ? 0 : std::stol(number);
        std::string page = notFound(number);
        if (n == 20) {
            page.insert(page.find("<!--"), "<p>Hi</p>");  // a revision that says little
        } else if (n >= 1 && n <= 30 && n != 12 && n != 13) {
            page = "<html><body><h1>Revision " + number + "</h1><p>Text of " + number +
                   "</p></body></html>";
        }
        return ServerScript().Send(HttpResponse(200, page));
    });
    settings_.Record().bbsUrl = "http://127.0.0.1/w/index.php?oldid={n}";
    request_.document.enabled = false;
    request_.bbs.first = 1;
    request_.endAfter = 10;
    controller_.StartAfterProbe(request_);
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        return controller_.AllTasksAtTheirEnd();
    }));
    EXPECT_EQ(controller_.SeriesEndAt(JOB_BBS), 31);
    EndRun();
    int stored = 0;
    for (int n = 1; n <= 40; ++n) {
        stored += std::filesystem::exists(AppFile("xml_file/0/" + std::to_string(n) + ".xml"));
    }
    EXPECT_EQ(stored, 28);
    EXPECT_TRUE(std::filesystem::exists(AppFile("xml_file/0/20.xml")));
    EXPECT_EQ(SavedRecord().bbsNumber, 31);
    std::istringstream lines(ReadFileBytes(AppFile("failed.txt")));
    std::vector<std::string> listed;
    for (std::string line; std::getline(lines, line);) {
        listed.push_back(line.substr(line.find("\tbbs\t") + 5, 2));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"12", "13"}));

    // What a run would do with one number, and why, without storing it.
    std::filesystem::remove_all(AppFile("xml_file/0"));
    for (const auto& [number, said] : std::initializer_list<std::pair<int, std::string>>{
             {5, "would be stored (61 bytes, application/octet-stream)"},
             {12,
              "missing: status 200, a missing page (the same as the page for a number the "
              "site does not have)"}}) {
        bool wouldStore = false;
        const std::vector<std::string> lines =
            controller_.CheckNumber(request_, number, wouldStore);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], "bbs " + std::to_string(number) +
                                " http://127.0.0.1/w/index.php?oldid=" + std::to_string(number) +
                                ": " + said);
        EXPECT_EQ(wouldStore, number == 5);
    }
    EXPECT_FALSE(std::filesystem::exists(AppFile("xml_file/0")));
}

// Every number failing one way before anything was stored stops the run by itself, with what
// helps; the numbers are not listed, and the next run starts at the first of them again.
TEST_F(RunControllerTest, AStormOfOneFailureStopsTheRunAndKeepsThePlace) {
    ServeDocuments([](long) { return true; },
                   [](long) { return FetchFailure(FetchError::kStatus, 301, "http://x/"); });
    request_.document.enabled = false;
    request_.bbs.first = 5000;
    Start();
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        controller_.RefreshStatus();
        return !controller_.HasRun();
    }));
    EXPECT_EQ(controller_.StoppedByTask(), CTaskJudge::Stop::Why::kStorm);
    EXPECT_EQ(observer_.Messages().back().substr(0, 61),
              "bbs: every document is moved (301): --http1.1 follows redirec");
    EXPECT_EQ(controller_.Snapshot().failed, 0);
    EXPECT_FALSE(std::filesystem::exists(AppFile("failed.txt")) &&
                 !ReadFileBytes(AppFile("failed.txt")).empty());
    EXPECT_EQ(SavedRecord().bbsNumber, 5000);
}

TEST_F(RunControllerTest, RangeEndsWithExactCountsAndListsEveryFailureWithItsReason) {
    ServeDocuments();
    // A line of an earlier run for a number this run lists again: only the new one stays.
    WriteFileBytes(AppFile("failed.txt"),
                   "2020-01-01 00:00:00\tbbs\t997\thttp://127.0.0.1/bbs/0/997.xml\told\n");
    const std::string savedBefore = ReadFileBytes(settings_.GetPath());
    request_.document.enabled = false;
    request_.bbs.first = 990;
    request_.bbs.plan = TaskPlan::UpTo(1009);
    Start();
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        return controller_.AllJobsReported();
    }));
    Tick(5);  // nothing more to hand out
    const RunState state = controller_.Snapshot();
    EXPECT_EQ(state.requested, 20);
    EXPECT_EQ(state.failed, 2);
    // A one-off run leaves the saved place and the task flags as they were.
    EndRun();
    EXPECT_EQ(ReadFileBytes(settings_.GetPath()), savedBefore);
    EXPECT_EQ(settings_.Record().documentEnabled, 1);
    const RE2 line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\tbbs\t(997|1007)\t)"
                   R"(http://127\.0\.0\.1/bbs/[01]/(\d+)\.xml\tstatus 404\n)");
    std::istringstream lines(ReadFileBytes(AppFile("failed.txt")));
    int listed = 0;
    for (std::string text; std::getline(lines, text);) {
        std::string number, inUrl;
        EXPECT_TRUE(RE2::FullMatch(text + "\n", line, &number, &inUrl) && number == inUrl) << text;
        ++listed;
    }
    EXPECT_EQ(listed, 2);
}

TEST_F(RunControllerTest, SecondRunOnTheSameFolderIsRefused) {
    ServeDocuments();
    Start();
    ASSERT_TRUE(controller_.HasRun());
    RecordingObserver observer;
    CRunController other(observer, dir_.WithSeparator());
    other.Open();
    other.Start(request_);
    EXPECT_FALSE(other.HasRun());
    EXPECT_EQ(observer.Messages(),
              (std::vector<std::string>{"another run is using " + dir_.WithSeparator()}));
    EndRun();
    other.Start(request_);  // the folder is free once the first run has ended
    EXPECT_TRUE(other.HasRun());
    other.Abort();
    ASSERT_TRUE(WaitUntil([&] { return other.ActiveThreads() == 0; }));
    other.Abort();
}

TEST_F(RunControllerTest, TaskStopsAtTheLargestNumberAndNeverSavesANegativeOne) {
    ServeDocuments();
    request_.document.enabled = false;
    request_.bbs.first = 2147483645;
    Start();
    Tick(5);
    ASSERT_TRUE(WaitUntil([&] {
        const RunState state = controller_.Snapshot();
        // ...647 is missing on the site: held back as where the series ends for now.
        return state.succeeded == 2;
    }));
    Tick(5);
    EXPECT_EQ(controller_.Snapshot().requested, 3);
    // The last number there is ends the series as surely as 100 missing ones: a plain run ends.
    EXPECT_TRUE(WaitUntil([&] { return controller_.AllTasksAtTheirEnd(); }));
    EXPECT_EQ(controller_.SeriesEndAt(JOB_BBS), INT32_MAX);
    EndRun();
    EXPECT_EQ(ReadFileBytes(AppFile("xml_file/2147483/2147483646.xml")), "document 2147483646");
    EXPECT_EQ(SavedRecord().bbsNumber, INT32_MAX);
    EXPECT_FALSE(std::filesystem::exists(AppFile("xml_file/-2147483")));
}

// A failure among missing numbers is no stored document: the end told, the end shown and the end
// saved are the first missing number, and the next run starts there.
TEST_F(RunControllerTest, FailureAmongMissingNumbersMovesNeitherTheEndNorThePlace) {
    ServeDocuments([](long n) { return n < 1100; },
                   [](long n) -> std::optional<FetchFailure> {
                       return n == 1199 ? std::optional(FetchFailure(FetchError::kStatus, 500))
                                        : std::nullopt;
                   });
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    request_.bbs.first = 1090;
    Start();
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        return controller_.AllTasksAtTheirEnd();
    }));
    EXPECT_EQ(controller_.SeriesEndAt(JOB_BBS), 1100);
    EXPECT_TRUE(SavesBbsPlace(1100));
    EXPECT_EQ(observer_.Place().bbsNumber, 1100);
}

// After a power cut the saved place must not stand above a document whose name was lost: every
// document a save counts was made durable and named, and its folder synced, before that save's
// record took the settings file's place; and the record itself was synced before. So was the
// archive, after the document's records went into it.
TEST_F(RunControllerTest, SaveCountsOnlyDocumentsWhoseNamesAreOnTheDisk) {
    ServeDocumentsOverTheNetwork();
    RecordingFileSystem recorder;
    controller_.SetClock(clock_);
    request_.archive.warc = true;
    request_.document.enabled = false;
    request_.bbs.first = 3990;
    Start();
    for (int round = 0; round < 3; ++round) {
        Tick(10);
        ASSERT_TRUE(WaitUntil([&] {
            const RunState state = controller_.Snapshot();
            return state.succeeded + state.failed == state.requested;
        }));
        clock_.Advance(kSaveInterval);
        controller_.RefreshStatus();
    }
    EndRun();
    const auto calls = recorder.Calls();
    std::map<int, std::size_t> syncedAt;             // descriptor: index of its sync
    std::map<std::int32_t, std::size_t> namedAt;     // document: index of its name
    std::map<std::int32_t, std::string> folderOf;    // document: its folder
    std::map<std::string, std::size_t> lastSyncDir;  // folder: index of its last sync
    std::optional<std::size_t> archiveSynced;        // the archive's last sync
    int saves = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const auto& call = calls[i];
        if (call.what == "sync-data" && call.path.ends_with(".warc.gz")) {
            archiveSynced = i;
        } else if (call.what == "sync-data") {
            syncedAt[call.descriptor] = i;
        } else if (call.what == "name" && call.path.ends_with(".xml")) {
            ASSERT_TRUE(syncedAt.count(call.descriptor)) << call.path << " named before synced";
            const int n = std::stoi(std::filesystem::path(call.path).stem().string());
            namedAt[n] = i;
            folderOf[n] = std::filesystem::path(call.path).parent_path().string();
        } else if (call.what == "rename" && call.path.ends_with(".xml")) {
            // Where files cannot be written unnamed, a document is renamed from "<n>.xml.part".
            ASSERT_FALSE(syncedAt.empty()) << call.path << " named before synced";
            const int n = std::stoi(std::filesystem::path(call.path).stem().string());
            namedAt[n] = i;
            folderOf[n] = std::filesystem::path(call.path).parent_path().string();
        } else if (call.what == "sync-dir") {
            lastSyncDir[call.path] = i;
        } else if (call.what == "rename" && call.path == settings_.GetPath()) {
            ++saves;
            TaskSettings::Bytes bytes{};
            ASSERT_EQ(call.bytes.size(), bytes.size());
            std::copy(call.bytes.begin(), call.bytes.end(), bytes.begin());
            const std::int32_t saved = TaskSettings::FromBytes(bytes).bbsNumber;
            EXPECT_TRUE(syncedAt.size() > 0);
            for (std::int32_t n = 3990; n < saved; ++n) {
                if (n % 10 == 7) {
                    continue;  // missing on the server: failed, no file
                }
                ASSERT_TRUE(namedAt.count(n) && namedAt[n] < i) << n << " below " << saved;
                const std::string& folder = folderOf[n];
                ASSERT_TRUE(lastSyncDir.count(folder) && lastSyncDir[folder] > namedAt[n] &&
                            lastSyncDir[folder] < i)
                    << folder << " not synced before the save of " << saved;
#ifndef _WIN32  // where the recorder can tell the archive's descriptor from the others
                ASSERT_TRUE(archiveSynced && *archiveSynced > namedAt[n] && *archiveSynced < i)
                    << "the archive not synced after " << n << " before the save of " << saved;
#endif
            }
        }
    }
    EXPECT_GE(saves, 3);  // Start, the rounds, the end: grouped, not one per document
    EXPECT_LT(saves, 30);
    EXPECT_EQ(SavedRecord().bbsNumber, 4020);
}

// A live series: missing numbers in a row mark its end for now, where the task waits, asks for
// the first of them again now and then, and goes on once the site has more; a single missing
// number below stored ones stays a failure.
TEST_P(SeriesEndTest, TaskStopsAtTheEndOfItsSeriesAndFetchesOnlyWhatAppearsLater) {
    missingAnswer_ = GetParam();
    std::atomic<long> last{1049};
    ServeDocuments([&](long n) { return n <= last.load(); });  // and 1007, 1017, ... missing
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    request_.bbs.first = 1000;
    request_.endAfter = 10;
    Start();
    // Until the task waits at `end` with every request answered. Waiting for that exact end, not
    // for any end, keeps a later check from passing on the state before the site grew.
    const auto settleAt = [&](std::int32_t end) {
        return WaitUntil([&] {
            Tick();
            return controller_.SeriesEndAt(JOB_BBS) == end && controller_.ActiveThreads() == 20 &&
                   controller_.Snapshot().requested == static_cast<int>(Asked().size());
        });
    };
    ASSERT_TRUE(settleAt(1050)) << controller_.SeriesEndAt(JOB_BBS).value_or(-1);
    // Within the run of 10 and what waited or was under way when it was complete.
    const std::size_t askedAtEnd = Asked().size();
    EXPECT_LE(askedAtEnd, 50u + 10u + kMaxWaitingJobs + 2 + kRunThreadCount);
    EXPECT_EQ(controller_.Snapshot().failed, 5);  // 1007 ... 1047: gaps, not the end
    Tick(20);
    EXPECT_EQ(Asked().size(), askedAtEnd);  // it waits at its end
    EXPECT_TRUE(SavesBbsPlace(1050));
    EXPECT_EQ(observer_.SeriesEnd(), std::make_pair(JOB_BBS, 1050));

    last = 1055;  // the site grows
    // 60 s after the end was seen, the save above included.
    clock_.Advance(std::chrono::seconds(60) - kSaveInterval - std::chrono::milliseconds(1));
    const int requestedAtEnd = controller_.Snapshot().requested;
    Tick();
    EXPECT_EQ(controller_.Snapshot().requested, requestedAtEnd);  // not yet time to ask again
    clock_.Advance(std::chrono::milliseconds(1));
    Tick();
    EXPECT_EQ(controller_.Snapshot().requested, requestedAtEnd + 1);  // the first missing one
    const auto isAsked = [&](long from, long to) {
        const std::vector<std::string> asked = Asked();
        return std::any_of(
            asked.begin() + static_cast<long>(askedAtEnd), asked.end(),
            [&](const std::string& n) { return std::stol(n) >= from && std::stol(n) <= to; });
    };
    ASSERT_TRUE(settleAt(1056)) << controller_.SeriesEndAt(JOB_BBS).value_or(-1);
    EXPECT_EQ(ReadFileBytes(AppFile("xml_file/1/1055.xml")), "document 1055");
    EXPECT_FALSE(isAsked(1000, 1049));  // only what is new, and what was missing past the end
    EXPECT_EQ(controller_.Snapshot().failed, 5);  // 1057 is past the end, not a gap
    EndRun();  // Abort at the end: the saved number is exactly the first missing one
    EXPECT_EQ(SavedRecord().bbsNumber, 1056);
    std::istringstream lines(ReadFileBytes(AppFile("failed.txt")));
    int listed = 0;
    for (std::string line; std::getline(lines, line); ++listed) {
        EXPECT_NE(line.find("7\thttp://"), std::string::npos) << line;  // only the gaps
    }
    EXPECT_EQ(listed, 5);
}

INSTANTIATE_TEST_SUITE_P(Answers, SeriesEndTest,
                         ::testing::Values(FetchFailure(FetchError::kStatus, 404),
                                           FetchFailure(FetchError::kMissingPage, 200,
                                                        "missing_if_body")));

// A site that answers 429 or 503 is left alone for the time it names, 30 s when it names none,
// 600 s at most; nothing goes to it meanwhile, the number is asked again then (and requested
// once), and the fifth such answer fails it.
TEST_F(RunControllerTest, SiteThatAsksToWaitIsLeftAloneThatLongAndAskedAgain) {
    const auto asking = [](int status, std::optional<int> seconds) {
        FetchFailure failure(FetchError::kStatus, status);
        if (seconds) {
            failure.retryAfter = std::chrono::seconds(*seconds);
        }
        return failure;
    };
    std::mutex answersMutex;
    std::map<long, std::deque<FetchFailure>> answers = {
        {1001, {asking(429, 2)}},
        {1002,
         {asking(503, std::nullopt), asking(429, 100000), asking(429, 1), asking(429, 1),
          asking(429, 1)}}};
    ServeDocuments([](long) { return true; },
                   [&](long n) -> std::optional<FetchFailure> {
                       std::lock_guard<std::mutex> lock(answersMutex);
                       std::deque<FetchFailure>& queue = answers[n];
                       if (queue.empty()) {
                           return std::nullopt;
                       }
                       const FetchFailure answer = queue.front();
                       queue.pop_front();
                       return answer;
                   });
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    request_.bbs.first = 1000;
    Start();
    const auto waitingFor = [&](std::size_t asked, int askedToWait) {
        return WaitUntil([&] {
            controller_.RefreshStatus();
            return Asked().size() == asked && observer_.Counts().askedToWait == askedToWait &&
                   controller_.Snapshot().requested == controller_.Snapshot().succeeded +
                                                           controller_.Snapshot().failed +
                                                           askedToWait;
        });
    };
    const auto lastAsked = [&] { return Asked().back(); };
    PauseAndSettle();  // all three queued before the first answer holds the site
    Tick(3);           // 1000 stored; 1001 and 1002 asked to wait
    controller_.Resume();
    ASSERT_TRUE(waitingFor(3, 2));
    EXPECT_NE(observer_.Counts().Line().find(" - Asked to wait : 2"), std::string::npos);
    // Two refusals halved the task's rate twice.
    EXPECT_NE(observer_.Counts().Line().find(" - slowed to 25/s after "), std::string::npos)
        << observer_.Counts().Line();
    Tick(5);
    EXPECT_EQ(Asked().size(), 3u);  // nothing goes to the site
    clock_.Advance(std::chrono::milliseconds(1999));
    Tick();
    EXPECT_EQ(Asked().size(), 3u);
    clock_.Advance(std::chrono::milliseconds(1));
    Tick();  // 1001's two seconds are over, but 1002's 30 still hold the site
    EXPECT_EQ(Asked().size(), 3u);
    clock_.Advance(std::chrono::milliseconds(27999));
    Tick();
    EXPECT_EQ(Asked().size(), 3u);
    clock_.Advance(std::chrono::milliseconds(1));
    Tick();  // 30 s: 1001 again, stored
    ASSERT_TRUE(waitingFor(4, 1));
    EXPECT_EQ(lastAsked(), "1001");
    Tick();  // and 1002 again, told to wait 600 s, not 100000
    ASSERT_TRUE(waitingFor(5, 1));
    EXPECT_EQ(lastAsked(), "1002");
    clock_.Advance(std::chrono::milliseconds(599999));
    Tick();
    EXPECT_EQ(Asked().size(), 5u);
    for (std::size_t asked = 6; asked <= 7; ++asked) {  // its third and fourth answers
        clock_.Advance(std::chrono::milliseconds(asked == 6 ? 1 : 1000));
        Tick();
        ASSERT_TRUE(waitingFor(asked, 1)) << asked;
        EXPECT_EQ(controller_.Snapshot().failed, 0);
    }
    clock_.Advance(std::chrono::seconds(1));
    Tick();  // the fifth answer for 1002
    ASSERT_TRUE(waitingFor(8, 0));
    EXPECT_EQ(controller_.Snapshot().failed, 1);
    EXPECT_EQ(controller_.Snapshot().requested, 3);  // each number once, however often asked
    Tick();
    ASSERT_TRUE(WaitUntil([&] { return Asked().size() == 9; }));
    EXPECT_EQ(lastAsked(), "1003");  // and new numbers go on
    EndRun();
    ASSERT_TRUE(controller_.FlushFailureReport(std::chrono::seconds(5)));
    EXPECT_NE(ReadFileBytes(AppFile("failed.txt")).find("\t1002\t"), std::string::npos);
    EXPECT_NE(ReadFileBytes(AppFile("failed.txt")).find("\tstatus 429 (asked 5 times)\n"),
              std::string::npos)
        << ReadFileBytes(AppFile("failed.txt"));
}

// A 429 or 503 halves a task's rate, down to one a second; each calm minute gives back a tenth of
// its own rate.
TEST(TaskPaceTest, RefusalsHalveTheRateAndCalmMinutesGiveItBack) {
    const CRunClock::TimePoint start{};
    const auto at = [&](int seconds) { return start + std::chrono::seconds(seconds); };
    CTaskPace pace;
    pace.Begin(100, start);
    EXPECT_EQ(pace.Interval(start, kGeneratorRate).count(), 0);  // every tick
    pace.SlowDown(429, start);
    pace.SlowDown(503, start);
    EXPECT_EQ(pace.Rate(), 25);
    EXPECT_EQ(pace.Interval(at(59), kGeneratorRate).count(), 40);
    EXPECT_EQ(pace.SlowedBy(at(59)), 503);
    EXPECT_EQ(pace.Interval(at(60), kGeneratorRate).count(), 1000 / 35);
    EXPECT_EQ(pace.SlowedBy(at(60 * 7)), 503);  // 25 and seven tenths: 95
    EXPECT_EQ(pace.Rate(), 95);
    EXPECT_EQ(pace.SlowedBy(at(60 * 8)), 0);  // whole again, never above its own
    EXPECT_EQ(pace.Rate(), 100);
    pace.Begin(7, start);
    for (int i = 0; i < 4; ++i) {
        pace.SlowDown(429, start);
    }
    EXPECT_EQ(pace.Rate(), 1);                                      // never below one a second
    EXPECT_EQ(pace.Interval(at(60), kGeneratorRate).count(), 500);  // a tenth of 7 is still one
}

// A login wall once documents came pauses the run with one message, failing nothing; the
// numbers it held are asked again after Resume. Before any document, a 403 is a refusal.
TEST_F(RunControllerTest, LoginWallPausesTheRunAndBotChecksPauseItAfterFiveAnswers) {
    std::atomic<bool> challenged{false};
    ServeDocuments([](long) { return true; },
                   [&](long n) -> std::optional<FetchFailure> {
                       if (n == 999 || (!challenged && n >= 1003)) {
                           return FetchFailure(FetchError::kStatus, 403);
                       }
                       if (n >= 1003) {
                           FetchFailure check(FetchError::kStatus, 403);
                           check.challenge = true;
                           return check;
                       }
                       return std::nullopt;
                   });
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    request_.bbs.first = 999;
    request_.bbs.plan = TaskPlan::UpTo(1003);
    PauseAndSettle();
    Start();
    Tick();  // 999 first: refused before any document, an ordinary failure
    controller_.Resume();
    ASSERT_TRUE(WaitUntil([&] { return controller_.Snapshot().failed == 1; }));
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        controller_.RefreshStatus();
        return observer_.Phase() == RunPhase::kPaused;
    }));
    EXPECT_EQ(controller_.Snapshot().failed, 1);
    const auto walls = [&] {
        const std::vector<std::string> messages = observer_.Messages();
        return std::count(messages.begin(), messages.end(),
                          "127.0.0.1 now asks for a login (status 403): add its cookies "
                          "(http.cookies) and press Resume");
    };
    EXPECT_EQ(walls(), 1);
    challenged = true;  // the cookies came, and then a bot check, five times
    controller_.Resume();
    for (int answer = 1; answer < 5; ++answer) {
        ASSERT_TRUE(WaitUntil([&] {
            Tick();
            controller_.RefreshStatus();
            return observer_.Counts().askedToWait == 1 && Asked().size() == 5u + answer;
        })) << answer;
        clock_.Advance(std::chrono::seconds(30));
    }
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        controller_.RefreshStatus();
        return observer_.Phase() == RunPhase::kPaused;
    }));
    EXPECT_EQ(observer_.Messages().back(),
              "127.0.0.1 shows a browser challenge: export its cookies (cf_clearance) and the "
              "browser's User-Agent");
    EXPECT_EQ(walls(), 1);
    EXPECT_EQ(controller_.Snapshot().failed, 1);  // still only 999
    EXPECT_EQ(controller_.Snapshot().requested, 5);
}

// The probe asks each open task once, 10,000,000 past its start or at the largest number; a
// page there hides the series' end, and a page just like it counts as missing.
// The start's probe asks each open task once for a number far past its start, before the run
// and on a thread of its own. A site that gives a document there is told of, and a page just
// like that one is then missing; a range has its own end and needs no probe.
TEST_F(RunControllerTest, ProbeAsksFarPastTheStartOfEachOpenTaskBeforeTheRun) {
    std::atomic<bool> endless{false};
    ServeOverTheNetwork([&](const std::string& request) {
        const std::string number = Match(request);
        const bool far = number.size() >= 8;
        // The document task's far numbers are never there: its end can be seen.
        if ((far && !endless) || number.size() >= 10 || number.empty() || number.back() == '7') {
            return ServerScript().Send(HttpResponse(404, "missing"));
        }
        // The site's "not found" page, for far numbers and for 1003.
        return ServerScript().Send(
            HttpResponse(200, far || number == "1003" ? "no such topic" : "document " + number));
    });
    request_.bbs.first = 1000;
    request_.document.first = INT32_MAX - 5;
    const auto run = [&](std::size_t requestsBefore) {
        controller_.StartAfterProbe(request_);
        EXPECT_TRUE(controller_.HasRun());
        EXPECT_TRUE(WaitUntil([&] {
            Tick();
            return std::filesystem::exists(AppFile("xml_file/1/1004.xml"));
        }));
        EndRun();
        const std::vector<std::string> requests = server_->Requests();
        return std::vector<std::string>(requests.begin() + requestsBefore,
                                        requests.begin() + requestsBefore + 4);
    };
    const auto warnings = [&] {
        const std::vector<std::string> messages = observer_.Messages();
        return std::count_if(messages.begin(), messages.end(),
                             [](const std::string& m) { return m.starts_with("warning: "); });
    };
    std::vector<std::string> probed = run(0);
    EXPECT_EQ(Match(probed[0]), "10001000");
    EXPECT_EQ(Match(probed[1]), "11112111");  // different in every digit
    EXPECT_EQ(Match(probed[2]), "2147483647");
    EXPECT_EQ(Match(probed[3]), "2146372536");
    EXPECT_EQ(warnings(), 0);
    EXPECT_TRUE(std::filesystem::exists(AppFile("xml_file/1/1003.xml")));

    endless = true;
    std::filesystem::remove_all(AppFile("xml_file/1"));
    request_.bbs.first = 1000;
    request_.document.first = INT32_MAX - 5;
    probed = run(server_->Requests().size());
    EXPECT_EQ(Match(probed[0]), "10001000");
    EXPECT_EQ(warnings(), 1);
    const std::vector<std::string> messages = observer_.Messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "warning: 127.0.0.1 answers 200 for numbers it does not have: the end "
                        "of the series cannot be seen; set missing_if_body"),
              messages.end());
    EXPECT_FALSE(std::filesystem::exists(AppFile("xml_file/1/1003.xml")));

    request_.bbs.plan = TaskPlan::UpTo(1010);
    request_.document.enabled = false;
    const std::size_t before = server_->Requests().size();
    Start();
    Tick();
    ASSERT_TRUE(WaitUntil([&] { return server_->Requests().size() > before; }));
    EXPECT_EQ(Match(server_->Requests()[before]), "1000");
}

// A site that never answers the probe holds the start for 10 s of the run's clock, or the Delay
// when that is longer, and then the run goes on as if the site had no such number; Abort ends
// the probe at once, and the Start with it.
TEST_F(RunControllerTest, ProbeWithoutAnAnswerEndsAtItsTimeOrAtAbort) {
    ServeOverTheNetwork([](const std::string& request) {
        return Match(request).size() >= 8 ? ServerScript().Stall()
                                          : ServerScript().Send(HttpResponse(200, "document"));
    });
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    for (const int delay : {0, 15}) {
        request_.delaySeconds = delay;
        const int connections = server_->ConnectionCount();
        controller_.StartAfterProbe(request_);
        ASSERT_TRUE(WaitUntil([&] { return server_->ConnectionCount() == connections + 1; }));
        clock_.Advance(std::chrono::seconds(delay == 0 ? 10 : delay) -
                       std::chrono::milliseconds(1));
        Tick();
        controller_.RefreshStatus();
        EXPECT_EQ(controller_.ActiveThreads(), 1) << delay;  // the probe's, and no run's yet
        clock_.Advance(std::chrono::milliseconds(1));
        EXPECT_TRUE(WaitUntil([&] {
            Tick();
            return controller_.ActiveThreads() == kRunThreadCount;
        })) << delay;
        EndRun();
        const std::vector<std::string> messages = observer_.Messages();
        EXPECT_NE(std::find(messages.begin(), messages.end(),
                            FormatText("warning: 127.0.0.1 did not answer within %d s for a "
                                       "number far past the start: the run goes on as if the "
                                       "site did not have it",
                                       delay == 0 ? 10 : delay)),
                  messages.end());
    }
    const int connections = server_->ConnectionCount();
    controller_.StartAfterProbe(request_);
    ASSERT_TRUE(WaitUntil([&] { return server_->ConnectionCount() == connections + 1; }));
    const std::size_t messages = observer_.Messages().size();
    controller_.Abort();
    EXPECT_TRUE(WaitUntil([&] {
        controller_.RefreshStatus();
        return !controller_.HasRun();
    }));
    EXPECT_EQ(observer_.Messages().size(), messages);  // nothing to tell: the user ended it
    EXPECT_EQ(observer_.Phase(), RunPhase::kIdle);
    Start();  // the folder is free again
    EXPECT_TRUE(controller_.HasRun());
}

// A rate below the generator's spaces a task's new numbers: 20 a second, one each 50 ms.
TEST_F(RunControllerTest, RateSpacesNewNumbers) {
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    request_.ratePerSecond = 20;
    Start();
    PauseAndSettle();
    Tick(10);
    EXPECT_EQ(controller_.Snapshot().requested, 1);
    clock_.Advance(std::chrono::milliseconds(49));
    Tick();
    EXPECT_EQ(controller_.Snapshot().requested, 1);
    clock_.Advance(std::chrono::milliseconds(1));
    Tick(10);
    EXPECT_EQ(controller_.Snapshot().requested, 2);
}

// Abort while the site asks to wait ends the run at once, the waiting number unfinished.
TEST_F(RunControllerTest, AbortWhileTheSiteAsksToWaitEndsTheRunAtOnce) {
    ServeDocuments([](long) { return true; },
                   [](long n) -> std::optional<FetchFailure> {
                       FetchFailure failure(FetchError::kStatus, 429);
                       failure.retryAfter = std::chrono::seconds(600);
                       return n == 1001 ? std::optional(failure) : std::nullopt;
                   });
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    request_.bbs.first = 1000;
    Start();
    PauseAndSettle();  // all three queued before 1001's answer holds the site
    Tick(3);
    controller_.Resume();
    ASSERT_TRUE(WaitUntil([&] { return controller_.Snapshot().succeeded == 2; }));
    const auto start = std::chrono::steady_clock::now();
    EndRun();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(SavedRecord().bbsNumber, 1001);
}

// Saves during a run come at most every 200 ms: a change 199 ms after the last save waits for
// the next status refresh that finds it due; at 200 ms it is saved.
TEST_F(RunControllerTest, SavesDuringARunComeAtMostEvery200Ms) {
    controller_.SetClock(clock_);
    request_.document.enabled = false;
    request_.bbs.first = 500;
    Start();  // saves 500 at once
    PauseAndSettle();
    Tick();  // 500 waits
    controller_.OnJobDone(JOB_STORED, "http://127.0.0.1/bbs/0/500.xml", JobTag{500, JOB_BBS});
    EXPECT_EQ(SavedRecord().bbsNumber, 500);
    clock_.Advance(std::chrono::milliseconds(199));
    controller_.RefreshStatus();
    EXPECT_EQ(SavedRecord().bbsNumber, 500);
    clock_.Advance(std::chrono::milliseconds(1));
    controller_.RefreshStatus();
    EXPECT_EQ(SavedRecord().bbsNumber, 501);
}

// A FIFO (or a hung file system) at failed.txt must never hold a worker or the window, and a
// failed.txt that cannot be written is told once per run.
TEST_F(RunControllerTest, FailureListThatIsNoRegularFileNeverHoldsTheRunAndIsToldOnce) {
    ServeDocuments();
    std::atomic<int> reports{0};
    std::string told;
    std::mutex toldMutex;
    SetErrorBoxHook([&](const std::string&, const std::string& text) {
        std::lock_guard<std::mutex> lock(toldMutex);
        told = text;
        ++reports;
        return 1;
    });
    request_.document.enabled = false;
    for (const bool fifo : {false, true}) {
        if (fifo) {
#ifdef _WIN32
            break;  // no FIFOs
#endif
            std::filesystem::remove(AppFile("failed.txt"));
            ASSERT_TRUE(MakeFifo(AppFile("failed.txt")));
        } else {
            std::filesystem::create_directory(AppFile("failed.txt"));
        }
        reports = 0;
        request_.bbs.first = 990;
        Start();
        Tick(20);  // 997 and 1007 fail
        ASSERT_TRUE(WaitUntil([&] {
            const RunState state = controller_.Snapshot();
            return state.succeeded == 18 && state.failed == 2;
        }));
        EndRun();
        // A failure is finished only once its line is written: the place stays at the first.
        EXPECT_EQ(SavedRecord().bbsNumber, 997);
        EXPECT_EQ(reports.load(), 1);
        std::lock_guard<std::mutex> lock(toldMutex);
        EXPECT_EQ(told.substr(0, told.find('\n')),
                  "The list of failed documents " + AppFile("failed.txt") +
                      " cannot be written (it is not a regular file).");
    }
    SetErrorBoxHook(nullptr);
}

// A full disk is no failure of the site: the run stops by itself, as Abort stops it, the number
// the disk took stays to be fetched, and nothing goes to failed.txt.
TEST_F(RunControllerTest, FullDiskStopsTheRunAtTheNumberItTookAndLosesNothing) {
    ServeDocuments([](long) { return true; },
                   [](long n) -> std::optional<FetchFailure> {
                       return n >= 1003
                                  ? std::optional(FetchFailure(FetchError::kWriteError, ENOSPC))
                                  : std::nullopt;
                   });
    request_.document.enabled = false;
    request_.bbs.first = 1000;
    Start();
    Tick(10);
    ASSERT_TRUE(WaitUntil([&] {
        controller_.RefreshStatus();
        return !controller_.HasRun();
    }));
    EXPECT_TRUE(controller_.StoppedForDiskFull());
    EXPECT_EQ(observer_.Messages().back(),
              "the disk holding " + AppFile(std::string("xml_file") + PathSeparator() + "1") +
                  " is full: the run stopped at 1003; nothing was lost");
    EXPECT_EQ(SavedRecord().bbsNumber, 1003);
    EXPECT_EQ(controller_.Snapshot().failed, 0);
    EXPECT_FALSE(std::filesystem::exists(AppFile("failed.txt")));
}

TEST_F(RunControllerTest, ListFetchesExactlyItsNumbersAndKeepsTheSavedPlace) {
    ServeDocuments();
    request_.document.enabled = false;
    const int savedBefore = settings_.Record().bbsNumber;
    request_.bbs.plan = TaskPlan::List({2005, 1999, 2017});
    Start();
    ASSERT_TRUE(WaitUntil([&] {
        Tick();
        return controller_.AllJobsReported();
    }));
    std::vector<std::string> asked = Asked();
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{"1999", "2005", "2017"}));
    EXPECT_EQ(controller_.Snapshot().failed, 1);
    EXPECT_EQ(SavedRecord().bbsNumber, savedBefore);
}

TEST_F(RunControllerTest, EachTickQueuesBbsBeforeDocument) {
    Start();
    PauseAndSettle();
    Tick(3);
    EndRun();  // the drain reports the queue oldest first
    std::vector<std::string> order;
    for (const auto& [url, outcome] : observer_.Reports()) {
        order.push_back(url.substr(0, url.rfind('/')));
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"http://127.0.0.1/bbs/1318", "http://127.0.0.1/doc/1",
                                        "http://127.0.0.1/bbs/1318", "http://127.0.0.1/doc/1",
                                        "http://127.0.0.1/bbs/1318", "http://127.0.0.1/doc/1"}));
}

TEST_F(RunControllerTest, ConcurrentReportsLoseNoCountAndTearNoSave) {
    request_.document.enabled = false;
    Start();
    controller_.Pause();
    std::vector<std::thread> workers;
    for (int t = 0; t < 20; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                controller_.OnJobDone(i % 2, "http://x/", JobTag{t * 1000 + i, JOB_BBS});
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    const RunState state = controller_.Snapshot();
    EXPECT_EQ(state.succeeded, 2000);
    EXPECT_EQ(state.failed, 2000);
    EndRun();  // failures finish as failed.txt takes them: the end of the run waits for it
    EXPECT_EQ(SavedRecord(), settings_.Record());
}

TEST_F(RunControllerTest, StartRefusesADownloadFolderThatTakesNoFiles) {
    std::filesystem::remove(AppFile("html_file"));
    WriteFileBytes(AppFile("html_file"), "a file where the folder should be");
    Start();
    EXPECT_FALSE(controller_.HasRun());
    EXPECT_EQ(observer_.Phase(), RunPhase::kIdle);
    ASSERT_EQ(observer_.Messages().size(), 1u);  // no notice: the reason instead
    const std::string message = observer_.Messages()[0];
    const std::string start = "Documents cannot be stored in the folder " + AppFile("html_file");
    EXPECT_EQ(message.substr(0, start.size() + 2), start + ": ") << message;
    EXPECT_TRUE(message.ends_with(". No run was started.")) << message;
}

TEST_F(RunControllerTest, StartWithNeitherTaskGeneratesNothing) {
    request_.bbs.enabled = false;
    request_.document.enabled = false;
    const int bbsBefore = settings_.Record().bbsNumber;
    request_.bbs.first = 9009;
    Start();
    Tick(5);
    controller_.RefreshStatus();
    EXPECT_EQ(observer_.Counts().Line(),
              "Requested : 0 - Successed : 0 - Failed : 0 - Waitting : 0 - Active Thread : 20");
    EXPECT_EQ(SavedRecord().bbsEnabled, 0);
    EXPECT_EQ(SavedRecord().bbsNumber, bbsBefore);  // an unticked task keeps its number
    controller_.Abort();
    EXPECT_TRUE(controller_.HasRun());
    ASSERT_TRUE(WaitUntil([&] { return controller_.ActiveThreads() == 0; }));
    controller_.Abort();
    EXPECT_FALSE(controller_.HasRun());
    EXPECT_EQ(observer_.Messages().size(), 2u);  // the notice and one wait message
}

TEST_F(RunControllerTest, GeneratorStopsAbove100WaitingJobs) {
    Start();
    PauseAndSettle();
    Tick(50);
    controller_.RefreshStatus();
    EXPECT_NE(observer_.Counts().Line().find("Waitting : 100 "), std::string::npos);
    Tick();  // exactly 100 waiting: one more job per task
    Tick();  // 102 waiting: nothing
    EXPECT_EQ(controller_.Snapshot().requested, 102);

    EndRun();
    request_.document.enabled = false;
    Start();
    PauseAndSettle();
    Tick(101);
    Tick(3);
    EXPECT_EQ(controller_.Snapshot().requested, 101);
}

TEST_F(RunControllerTest, AbortWhilePausedThenNewStartBeginsUnpaused) {
    Start();
    controller_.Pause();
    EXPECT_EQ(observer_.Phase(), RunPhase::kPaused);
    controller_.Abort();
    ASSERT_TRUE(WaitUntil([&] { return controller_.ActiveThreads() == 0; }));
    EXPECT_EQ(observer_.Phase(), RunPhase::kPaused);  // the buttons stay until the run is torn down
    controller_.Abort();
    EXPECT_EQ(observer_.Phase(), RunPhase::kIdle);
    Start();
    EXPECT_EQ(observer_.Phase(), RunPhase::kRunning);
}

class DelayTest : public RunControllerTest,
                  public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(DelayTest, DelayEntryBecomesStoredTimeout) {
    const auto [given, stored] = GetParam();
    request_.delaySeconds = given;
    Start();
    EXPECT_EQ(SavedRecord().timeout, stored);
}

INSTANTIATE_TEST_SUITE_P(Entries, DelayTest,
                         ::testing::Values(std::make_pair(0, -1), std::make_pair(7, 7),
                                           std::make_pair(-1, -1), std::make_pair(-5, -5)));

TEST_F(RunControllerTest, DelayBelowMinusOneFailsEveryFetch) {
    ServeDocumentsOverTheNetwork();
    request_.delaySeconds = -5;
    request_.bbs.plan = TaskPlan::UpTo(request_.bbs.first + 2);
    request_.document.plan = TaskPlan::UpTo(request_.document.first + 2);
    Start();
    Tick(3);
    ASSERT_TRUE(WaitUntil([&] { return controller_.Snapshot().failed == 6; }));
    EXPECT_EQ(controller_.Snapshot().succeeded, 0);
    EXPECT_EQ(observer_.Reports().back().second, JobOutcome::kFailed);
}

TEST_F(RunControllerTest, ProgressShowsSuccessesAmongFinishedJobs) {
    request_.bbs.enabled = false;
    request_.document.enabled = false;
    Start();
    for (int i = 0; i < 40; ++i) {
        controller_.OnJobDone(i < 30 ? 1 : 0, "http://x/", JobTag{i, JOB_BBS});
    }
    controller_.RefreshStatus();
    EXPECT_EQ(observer_.Counts().succeeded, 30);
    EXPECT_EQ(observer_.Counts().failed, 10);
}

TEST_F(RunControllerTest, OverlongNamesFailWithoutNetwork) {
    ServeDocumentsOverTheNetwork();
    settings_.Record().bbsUrl = "http://127.0.0.1/" + std::string(250, 'u');
    request_.document.enabled = false;
    request_.bbs.plan = TaskPlan::UpTo(request_.bbs.first + 1);
    Start();
    Tick(2);
    ASSERT_TRUE(WaitUntil([&] { return controller_.Snapshot().failed == 2; }));
    EXPECT_EQ(server_->ConnectionCount(), 0);
}

TEST_F(RunControllerTest, PauseAndResumeWithoutRunDoNothing) {
    controller_.Pause();
    controller_.Resume();
    controller_.Abort();
    EXPECT_EQ(observer_.Phase(), RunPhase::kIdle);
    EXPECT_TRUE(observer_.Messages().empty());
}

TEST(JobNamesTest, FoldersUrlsAndFilesPerTask) {
    const std::string s = PathSeparator();  // paths take the platform's separator, URLs "/"
    const JobNames bbs =
        CJobNamer::Make("/app" + s, JOB_BBS, "http://h/Expert/topic")->Names(1318001);
    EXPECT_EQ(bbs.folder, "/app" + s + "xml_file" + s + "1318");
    EXPECT_EQ(bbs.url, "http://h/Expert/topic/1318/1318001.xml");
    EXPECT_EQ(bbs.file, "/app" + s + "xml_file" + s + "1318" + s + "1318001.xml");
    const JobNames doc =
        CJobNamer::Make("/app" + s, JOB_DOCUMENT, "http://h/develop/article")->Names(1001);
    EXPECT_EQ(doc.folder, "/app" + s + "html_file" + s + "1");
    EXPECT_EQ(doc.url, "http://h/develop/article/1/1001.shtm");
    EXPECT_EQ(doc.file, "/app" + s + "html_file" + s + "1" + s + "1001.htm");
}

}  // namespace

namespace {

TEST(FailureReportTest, EveryByteThatWouldBreakALineIsEscaped) {
    EXPECT_EQ(CFailureReport::Line("T", JOB_DOCUMENT, 7, "http://h/\t\n",
                                   "a\rb\x7f\x01\x08"
                                   "c d"),
              "T\tdocument\t7\thttp://h/\\x09\\x0a\ta\\x0db\\x7f\\x01\\x08c d\n");
}

#ifndef _WIN32
// A line is whole or absent: a write that the file takes only in part is cut back off, and a
// line that an earlier crash left without its end is ended before the next one.
TEST(FailureReportTest, LinesAreWholeEvenAfterAShortWriteOrAnOpenLastLine) {
    TempDir dir;
    const std::string path = dir.File("failed.txt");
    const std::string open = "2026-12-08 07:27:09\tbbs\t758\thttp://h/0/758.xml\tstat";
    WriteFileBytes(path, open);
    std::vector<CFailureReport::Problem> problems;
    std::vector<std::int32_t> written;
    CFailureReport report;
    report.SetPath(path);
    report.SetHandlers([&](const CFailureReport::Problem& problem) { problems.push_back(problem); },
                       [&](std::int32_t, std::int32_t number) { written.push_back(number); });
    {
        const FileSizeLimit small(open.size() + 20);  // the next line fits only in part
        report.Append(JOB_BBS, 900000, "http://h/900/900000.xml", "status 500");
        EXPECT_FALSE(report.Close());
    }
    EXPECT_EQ(ReadFileBytes(path), open);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].error, EFBIG);
    EXPECT_EQ(problems[0].number, 900000);
    EXPECT_TRUE(written.empty());  // its number stays open

    report.Append(JOB_BBS, 900000, "http://h/900/900000.xml", "status 500");
    EXPECT_TRUE(report.Close());
    EXPECT_EQ(written, std::vector<std::int32_t>{900000});
    std::vector<std::int32_t> bbs, documents;
    ASSERT_TRUE(CFailureReport::ReadNumbers(path, bbs, documents).IsOk());
    EXPECT_EQ(bbs, (std::vector<std::int32_t>{758, 900000}));
}

// Root runs in a sticky folder that everyone may write to, where another user planted the run's
// files as links to root's own files: none of them is written through.
TEST(PlantedLinkTest, NoFileOfTheRunIsWrittenThroughAnotherUsersLink) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "planting a link as another user needs root";
    }
    namespace fs = std::filesystem;
    TempDir dir;
    const fs::path shared = dir.Path() / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    const std::string folder = shared.string() + "/";
    const auto plant = [&](const std::string& name) {
        const std::string victim = dir.File(name + ".victim");
        WriteFileBytes(victim, "root's own");
        fs::permissions(victim, fs::perms::owner_read);
        fs::create_symlink(victim, folder + name);
        EXPECT_EQ(::lchown((folder + name).c_str(), 65534, 65534), 0);
        return victim;
    };
    const std::string report = plant("failed.txt");
    const std::string log = plant("debug.txt");
    const std::string lock = plant(kLockFileName);

    CFailureReport failures;
    std::string told;
    failures.SetPath(folder + "failed.txt");
    failures.SetHandlers([&](const CFailureReport::Problem& problem) { told = problem.message; },
                         nullptr);
    failures.Append(JOB_BBS, 1, "http://h/0/1.xml", "status 500");
    EXPECT_FALSE(failures.Close());
    EXPECT_NE(told.find("it is a symbolic link that belongs to another user"), std::string::npos);
    SetDebugLogPath(folder + "debug.txt");
    EXPECT_EQ(WriteDebugLog("entry"), 0xFFFF);
    SetDebugLogPath("debug.txt");
    CFolderLock folderLock;
    EXPECT_EQ(folderLock.TryLock(folder).Code(), StatusCode::kRefused);
    for (const std::string& victim : {report, log, lock}) {
        EXPECT_EQ(ReadFileBytes(victim), "root's own") << victim;
    }
    // The folder owner's link is followed, as the kernel would.
    EXPECT_EQ(::lchown((folder + "failed.txt").c_str(), 0, 0), 0);
    failures.Append(JOB_BBS, 1, "http://h/0/1.xml", "status 500");
    EXPECT_TRUE(failures.Close());
    EXPECT_NE(ReadFileBytes(report), "root's own");
}
#endif

TEST(FailureReportTest, ReadsALongListQuicklyOnceEachAndCapsALineAt4KiB) {
    TempDir dir;
    const std::string path = dir.File("failed.txt");
    {
        std::string lines;
        for (int n = 0; n < 400000; ++n) {
            lines += "2026-01-01 00:00:00\tbbs\t" + std::to_string(n % 399999) + "\turl\tr\n";
        }
        WriteFileBytes(path, lines);
    }
    std::vector<std::int32_t> bbs, documents;
    const auto start = std::chrono::steady_clock::now();
    const Status read = CFailureReport::ReadNumbers(path, bbs, documents);
    ASSERT_TRUE(read.IsOk()) << read.Text();
    // A search per line took minutes for lists of this size; a set takes well under a second.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(bbs.size(), 399999u);  // the last line repeats the first number
    EXPECT_EQ(bbs.back(), 399998);

    const std::string head = "2026-01-01 00:00:00\tdocument\t7\turl\t";
    Status longest;
    for (const std::size_t length : {4096u, 4097u}) {
        WriteFileBytes(path, head + std::string(length - head.size(), 'r') + "\n");
        bbs.clear();
        documents.clear();
        longest = CFailureReport::ReadNumbers(path, bbs, documents);
        EXPECT_EQ(longest.IsOk(), length <= 4096) << length;
    }
    EXPECT_EQ(longest.Text(), path + ", line 1, is longer than 4 KiB");

    // A reason as long as a site likes (a 60 KB Location) is cut to fit: the line stays one that
    // a retry reads, with its task and number. One that fits is written whole.
    const std::string url = "http://h/t/7";
    const std::string lineStart = "2026-01-01 00:00:00\tdocument\t7\t" + url + "\t";
    const std::size_t room = 4096 - lineStart.size();
    EXPECT_EQ(
        CFailureReport::Line("2026-01-01 00:00:00", JOB_DOCUMENT, 7, url, std::string(room, 'r')),
        lineStart + std::string(room, 'r') + "\n");
    // What is kept of each: whole escapes and whole characters, "…" in place of the rest.
    for (const auto& [reason, kept] : std::initializer_list<std::pair<std::string, std::string>>{
             {std::string(room + 1, 'r'), std::string(room - 3, 'r')},
             {"status 301 (moved to " + std::string(60000, 'l') + ")",
              "status 301 (moved to " + std::string(room - 3 - 21, 'l')},
             {std::string(room - 5, 'r') + "\x01\x02", std::string(room - 5, 'r')},
             {std::string(room - 4, 'r') + "\xc3\xa9\xc3\xa9\xc3\xa9",
              std::string(room - 4, 'r')}}) {
        const std::string line =
            CFailureReport::Line("2026-01-01 00:00:00", JOB_DOCUMENT, 7, url, reason);
        EXPECT_EQ(line, lineStart + kept + "\u2026\n");
        WriteFileBytes(path, line);
        bbs.clear();
        documents.clear();
        ASSERT_TRUE(CFailureReport::ReadNumbers(path, bbs, documents).IsOk());
        EXPECT_EQ(documents, std::vector<std::int32_t>{7});
    }
}

}  // namespace

namespace {

TEST(SeriesEndTest, EndsAfterExactlyKMissingInARowAndTellsGapsFromTheEnd) {
    CSeriesEnd series;
    series.Begin(3);
    const auto missing = [](std::int32_t n) { return CSeriesEnd::Missing{n, "u", "status 404"}; };
    EXPECT_TRUE(series.Hold(missing(11)));
    EXPECT_TRUE(series.Hold(missing(12)));
    EXPECT_FALSE(series.EndAt());  // two in a row
    EXPECT_TRUE(series.Hold(missing(15)));
    EXPECT_FALSE(series.EndAt());  // three, but not in a row
    EXPECT_TRUE(series.Hold(missing(13)));
    EXPECT_EQ(series.EndAt(), 11);
    EXPECT_TRUE(series.Hold(missing(10)));  // a slower answer below the run
    EXPECT_EQ(series.EndAt(), 10);

    CSeriesEnd::Settled settled = series.Stored(9);
    EXPECT_TRUE(settled.gaps.empty());
    EXPECT_EQ(series.EndAt(), 10);
    EXPECT_FALSE(series.Hold(missing(8)));  // below a stored number: a gap at once

    settled = series.Stored(10);  // asked again, and there now
    EXPECT_FALSE(series.EndAt());
    EXPECT_EQ(settled.askAgain, (std::vector<std::int32_t>{11, 12, 13, 15}));

    EXPECT_TRUE(series.Hold(missing(20)));
    EXPECT_TRUE(series.Hold(missing(21)));
    settled = series.Stored(22);
    ASSERT_EQ(settled.gaps.size(), 2u);
    EXPECT_EQ(settled.gaps[0].number, 20);
    EXPECT_EQ(settled.gaps[1].reason, "status 404");
    EXPECT_FALSE(series.EndAt());
}

TEST(SeriesEndTest, FailuresNeitherBreakNorCountNorStartTheRowThatEndsASeries) {
    CSeriesEnd series;
    series.Begin(2);
    series.Failed(99);
    EXPECT_TRUE(series.Hold({100, "u", "status 404"}));
    series.Failed(101);
    EXPECT_FALSE(series.EndAt());  // one missing number, and failures
    EXPECT_TRUE(series.Hold({102, "u", "status 404"}));
    EXPECT_EQ(series.EndAt(), 100);
}

}  // namespace
