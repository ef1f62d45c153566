#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "run/dlg_downloader.h"
#include "run/failure_report.h"
#include "run/job_names.h"
#include "run/resume_point.h"
#include "run/run_clock.h"
#include "run/run_observer.h"
#include "run/run_request.h"
#include "run/series_probe.h"
#include "run/task_judge.h"
#include "run/task_pace.h"
#include "run/task_settings_file.h"
#include "support/folder_lock.h"

inline constexpr int kRunThreadCount = 20;
inline constexpr unsigned kMaxWaitingJobs = 100;
// How far past its start an open task asks, once at Start, to see whether its end can be seen.
inline constexpr std::int64_t kProbeDistance = 10000000;
// And asks this much farther (or nearer, near the largest number) a second time.
inline constexpr std::int32_t kProbeSpread = 1111111;
// The rhythm of a run: a front end calls GenerateJobs this often from Start until the first
// Abort, and RefreshStatus this often while it is open.
inline constexpr int kGeneratePeriodMs = 10;
inline constexpr int kStatusPeriodMs = 500;
// After the first Abort, a document still in progress gets at most this long, or the Delay when
// that is longer, before its connection is closed.
inline constexpr std::chrono::milliseconds kMinimumStopGrace{10'000};
// The start's probe of the series' ends takes at most this long, or the Delay when that is
// longer; a site that has not answered by then is taken not to have the number.
inline constexpr std::chrono::milliseconds kShortestProbe{10'000};
// Settings saves during a run come at most this often; the end of a run always saves.
inline constexpr std::chrono::milliseconds kSaveInterval{200};

// The counters and flags of a run, as Snapshot copies them.
struct RunState {
    int requested = 0;
    int succeeded = 0;
    int failed = 0;
};

// The download runs of every front end: Start, job generation, accounting of finished jobs,
// Pause, Resume, the two-step Abort, the counts and the saved place. A front end reads its
// inputs into a RunRequest, drives the two ticks, and learns the rest through a CRunObserver.
//
// Threads: every operation runs on the front end's thread except OnJobDone for results 1 and 0,
// which worker threads call. The report lock serialises each report's record update and
// counting; RefreshStatus reads under it. Saves are made outside it, one at a time, at most
// every 200 ms and at the end of a run; a save counts a document only once the document's bytes
// and its name are on the disk, so that after a power cut the saved place never runs ahead of
// what is there.
//
// One-off runs (a range or a list of numbers) leave the settings file alone: only an open run,
// as the window starts one, moves the saved place and the task flags. At the end of a run (a
// retry aside, whose runner settles its list) a number failed.txt lists again keeps only its new
// line.
class CRunController {
  public:
    CRunController(CRunObserver& observer, std::string appDirectory);
    ~CRunController();

    // The start-up of every front end: the download folders where they are missing, the
    // settings file read (or its defaults written), shown through OnSettings, and the idle phase.
    // What the user must know of the settings file goes to the error report.
    void Open();

    // Puts NOVUDownLoad.toml of the data folder into `request` (see ReadExtendedSettings); a
    // refusal names the file, line, column and reason. Warnings go to the observer.
    Status ReadExtendedSettings(RunRequest& request);
    // The window's Start: the extended settings first (a file they refuse refuses the Start),
    // then StartAfterProbe.
    void StartWithExtendedSettings(RunRequest request);
    // A run, as Start makes it, once each ticked open task was asked, on a thread of the probe's
    // own, for a number far past its start (the start plus 10,000,000, or the largest number).
    // Meanwhile the run exists (HasRun, one active thread) and the ticks finish the probe: within
    // kShortestProbe or the Delay, on the run's clock, a site that has not answered is taken not
    // to have the number, and the observer hears so. A site that answers with a document there,
    // which no rule marks missing, hides the end of its series: the observer hears it, and a
    // page just like that answer counts as missing in the run; a request that needs the ends
    // seen is then refused (RefusedForHiddenEnd). Abort ends the probe and the Start. The answers
    // are neither stored nor counted.
    void StartAfterProbe(RunRequest request);
    // Refused, through OnStartRefused, while another run holds the folder or a download folder
    // takes no files; ignored while a run exists.
    void Start(const RunRequest& request);
    // What a run would do with `number` of each ticked task, and why, a line each ("bbs 295
    // <URL>: would be stored (4312 bytes, text/html)", "... missing: ...", "... a login wall:
    // ...", "... the site asks to wait: ...", "... would fail: ..."), after the look far past the
    // start that a run makes; nothing is stored. `wouldStore` says whether each would be. No run
    // may exist, and none is made.
    std::vector<std::string> CheckNumber(RunRequest request, std::int32_t number, bool& wouldStore);
    void Pause();
    void Resume();
    // The first call ends generation, asks the workers to stop and bounds the documents in
    // progress; a call once the workers have left ends the run.
    void Abort();
    // The generator tick: the next number of each ticked task, while at most 100 jobs wait.
    void GenerateJobs();
    // The status tick: counts and places to the observer, and a save that is due.
    void RefreshStatus();

    RunPhase Phase() const { return phase_; }
    // From Start until the first Abort: the generator tick is wanted.
    bool Generating() const { return generating_; }
    bool HasRun() const { return downloader_ != nullptr || probe_.Running(); }
    // After a StartAfterProbe that did not start: whether the end of a series could not be seen
    // and the request needed it.
    bool RefusedForHiddenEnd() const { return refusedForHiddenEnd_; }

    // The completion of one job (CDlgDownloader forwards it here). A stored job, or a failed one
    // once failed.txt holds its line, moves its task's saved number to the lowest number of the
    // task not finished yet. A document that met a full disk is not finished: the run stops.
    void OnJobDone(int result, const char* url, const JobTag& tag, const FetchFailure& failure = {},
                   const std::string& path = {});

    CTaskSettingsFile& Settings() { return settings_; }
    // True once every ticked task of the run has handed out all its numbers and every job was
    // reported: a run with an end is then complete. Never true for an open-ended task.
    bool AllJobsReported();
    // Worker threads of the run not yet finished (0 without a run), or the probe's before it.
    int ActiveThreads() const {
        return downloader_ ? downloader_->GetActiveCount() : probe_.Running() ? 1 : 0;
    }
    // Whether every ticked task is open-ended and at the end of its series: nothing more to
    // fetch until the site grows.
    bool AllTasksAtTheirEnd();
    // The first missing number of an open task at the end of its series.
    std::optional<std::int32_t> SeriesEndAt(std::int32_t kind);
    // Whether the run ended because the site stood in the way and the request said stop.
    bool StoppedAtSiteWall() const { return stoppedAtWall_; }
    // Why a task stopped the run (every number failing one way, a rule that takes all), if one
    // did.
    std::optional<CTaskJudge::Stop::Why> StoppedByTask() const {
        return stop_ ? std::optional(stop_->why) : std::nullopt;
    }
    // Copies of the counters and flags, read under the report lock.
    RunState Snapshot();
    // The numbers of a listed task (a retry) that were stored, and those that were reported at
    // all (stored or failed), in the last run.
    std::set<std::int32_t> StoredNumbers(std::int32_t kind);
    std::set<std::int32_t> TriedNumbers(std::int32_t kind);
    // The URL a task of the last Start fetches a number from.
    std::string UrlOf(std::int32_t kind, std::int32_t number) {
        return Task(kind).namer ? Task(kind).namer->Url(number) : std::string();
    }
    // Saves the settings record now, whatever its last save: the program is about to end.
    void SaveNow();
    // After a run: the numbers held past the end of their series.
    int PastTheEnd();
    // Waits up to `limit` until failed.txt holds every line of the run; false if it does not.
    bool FlushFailureReport(std::chrono::milliseconds limit);
    // After a run: whether failed.txt took every line of it.
    bool FailureReportWhole() const { return failureReportWhole_; }
    // After a run: whether it stopped because the disk was full.
    bool StoppedForDiskFull() const { return stoppedForDiskFull_; }

    // How the run's workers fetch, instead of over the network: tests of the run's own logic.
    void SetFetch(FetchDocument fetch) { fetch_ = std::move(fetch); }
    // The server port of the run's fetcher; 80 unless tests point it at a loopback server.
    void SetFetchPort(int port) { fetchPort_ = port; }
    // The idle sleep of the run's workers; CDownloader's unless tests shorten it.
    void SetIdleSleepMs(int milliseconds) { idleSleepMs_ = milliseconds; }
    // The clock of the run's own timing; the steady clock unless a test sets one. It must
    // outlive the controller.
    void SetClock(const CRunClock& clock) { clock_ = &clock; }
    // The limit of each network wait instead of the request's Delay; tests shorten it.
    void SetWaitLimit(WaitLimit limit) { waitLimit_ = limit; }

  private:
    // One task within a run: what it fetches and how far it got.
    struct TaskRun {
        TaskPlan plan;
        bool enabled = false;                  // ticked at Start
        CResumePoint resume;                   // open runs and ranges
        std::size_t listIndex = 0;             // lists
        std::int64_t remaining = -1;           // numbers still to hand out; -1: no end
        std::set<std::int32_t> stored, tried;  // lists
        std::optional<CJobNamer> namer;        // the URL and file of each number, made at Start
        CTaskJudge judge;                      // what the task does after each outcome
        bool OneOff() const { return plan.isList || plan.last.has_value(); }
    };
    // The next number to ask for now, if any (report lock held): as the task's judge says, the
    // next of its list, range or series when it is a new one.
    std::optional<std::int32_t> TakeNumber(std::int32_t kind);
    // Counts a finished job (report lock held): a stored document, whose folders a save then
    // makes durable, or a failure, which failed.txt lists with `reason`.
    void Count(int result, std::int32_t kind, std::int32_t number, const char* url,
               const std::string& reason, const std::string& path);
    TaskRun& Task(std::int32_t kind) { return tasks_[kind == JOB_BBS ? 0 : 1]; }
    // The checks of a Start (the templates, the folder lock, the download folders); false,
    // having told why, when the run may not start.
    bool PrepareStart(const RunRequest& request);
    // Shows the notice and starts the run that PrepareStart allowed.
    void Launch(const RunRequest& request);
    // What the probe asks: a number far past the start of each ticked open task.
    std::vector<CSeriesProbe::Question> ProbeQuestions(const RunRequest& request) const;
    static std::chrono::milliseconds ProbeLimit(const RunRequest& request);
    // Puts what the probe learnt into `request` and tells the observer what it found; true when
    // a task's end cannot be seen.
    bool TakeProbeAnswers(const std::vector<CSeriesProbe::Answer>& answers, RunRequest& request);
    // The front end's tick while the probe runs: it ends the probe at its time, and a finished
    // one with the warnings and the run, or with nothing after Abort. True while the probe was
    // there to be ticked.
    bool ProbeTick();
    // Closes the connections of fetches still in progress once the grace after Abort is over.
    void CutOffWhenDue();
    // Prepares a ticked task at Start, to ask `rate` new numbers a second (report lock held).
    void BeginTask(std::int32_t kind, const TaskRequest& request, const RunRequest& run, int rate);
    void QueueJob(std::int32_t kind);
    // Whether files can be created in both download folders; if not, why, naming the folder and
    // the system's reason.
    Status DownloadFoldersWritable();
    // Pauses or stops the run for a wall a worker met; true when the run has ended.
    bool ActOnSiteWall();
    // Stops the run that a task's judge stopped, and ends it once the workers have left; true
    // once it has ended.
    bool ActOnTaskStop();
    // The run's fetcher as the request and the test seams say: the time limit, port, exchange and
    // the user's headers and cookies. The probe of each series' end uses one set up the same way.
    void ConfigureFetcher(CHttpGetter& fetcher, const RunRequest& request) const;
    // Stops the run as Abort does and ends it once the workers have left; true once ended.
    bool StopAndEndWhenIdle(bool& asked);
    void CreateDownloadFolders();
    void SetPhase(RunPhase phase);
    // Saves the record when it changed and the last save is 200 ms old (or at once when
    // `force`), after making the names of the documents it counts durable, and tells a failure
    // once per run. Never waits for another save unless `force`.
    void SaveIfDue(bool force);
    // Ends the run's hold on files: failed.txt, the last save, the archive, the folder lock.
    void FinishFiles();
    // Opens the run's archive when the request keeps one; why not, when it cannot be.
    Status OpenArchive(const RunRequest& request);
    // Closes the archive, when there is one, and lets the data folder go.
    void ReleaseFolder();
    // Abort's first step: no more numbers, the workers asked to stop, documents in progress
    // bounded in time.
    void AskWorkersToStop();
    // Abort's second step, once no worker is live: cancels what waits and ends the run.
    void EndRun();
    // A stored number, or a failed one whose line failed.txt now holds, is finished (report
    // lock held).
    void FinishNumber(TaskRun& task, std::int32_t kind, std::int32_t number);
    // Told from failed.txt's writer thread.
    void OnFailureRecorded(std::int32_t kind, std::int32_t number);
    void OnFailureReportProblem(const CFailureReport::Problem& problem);
    // A write met a full disk: the run is to stop (report lock held; the first one counts).
    void NoteDiskFull(const std::string& folder, std::int32_t kind, std::int32_t number);
    // On the front end's thread: tells what failed.txt could not take, once per run.
    void TellFailureReportProblem();
    // On the front end's thread: tells what failed.txt could not take, and stops the run once
    // the disk is full, ending it when the workers have left. True when it ended the run.
    bool ActOnStorageProblems();

    CRunObserver& observer_;
    CTaskSettingsFile settings_;
    const std::string appDirectory_;
    std::unique_ptr<CDlgDownloader> downloader_;  // null while no run exists
    RunPhase phase_ = RunPhase::kIdle;
    RunState state_;  // guarded by reportLock_ once workers exist
    bool generating_ = false;
    std::mutex reportLock_;
    TaskRun tasks_[2];                       // guarded by reportLock_
    CFailureReport failureReport_;           // Append under reportLock_; the rest main thread
    bool oneOffRun_ = false;                 // set at Start, before any worker reports
    bool recordChanged_ = false;             // guarded by reportLock_
    std::set<std::string> unsyncedFolders_;  // guarded by reportLock_
    // A login wall or bot check met by a worker: the message, acted on by the front end's
    // thread (guarded by reportLock_), and what to do about it.
    std::optional<std::string> siteWall_;
    RunRequest::SiteWall onSiteWall_ = RunRequest::SiteWall::kPause;
    bool stopAskedAtWall_ = false, stoppedAtWall_ = false;
    CRunClock::TimePoint lastSave_;          // guarded by reportLock_
    std::mutex saveMutex_;                   // one save at a time
    bool saveFailureReported_ = false;       // guarded by saveMutex_; once per run
    CFolderLock folderLock_;                 // held from Start to the end of the run
    std::unique_ptr<CWarcArchive> archive_;  // from Start to the end of a run that keeps one
    int fetchPort_ = CHttpGetter::kDefaultPort;
    int idleSleepMs_ = CDownloader::kIdleSleepMs;
    const CRunClock* clock_ = &CRunClock::Steady();
    std::optional<WaitLimit> waitLimit_;
    std::chrono::milliseconds askAgainEvery_{0};  // set at Start
    bool siteHeld_ = false;                       // the downloader holds its queue
    // Why a task stopped the run (guarded by reportLock_), and whether the workers were asked to
    // stop for it.
    std::optional<CTaskJudge::Stop> stop_;
    bool stopAskedByTask_ = false;
    struct DiskFull {
        std::string folder;  // where the write failed
        std::int32_t kind = JOB_BBS;
        std::int32_t number = 0;
    };
    std::optional<DiskFull> diskFull_;          // guarded by reportLock_
    std::optional<std::string> reportProblem_;  // guarded by reportLock_; told once
    bool stoppedForDiskFull_ = false;
    std::uint64_t reportStart_ = 0;  // where the run's lines in failed.txt begin
    bool listRun_ = false;           // a retry of listed numbers
    bool failureReportWhole_ = true;
    FetchDocument fetch_;
    // The start's probe, and the run it comes before.
    CSeriesProbe probe_;
    std::optional<RunRequest> pendingRequest_;
    CRunClock::TimePoint probeDeadline_;
    bool probeCancelled_ = false;
    bool refusedForHiddenEnd_ = false;
    std::optional<CRunClock::TimePoint> cutOffAt_;  // Abort's grace ends then, on the run's clock
};
