#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_set>

#include "run/dlg_downloader.h"
#include "run/failure_report.h"
#include "run/resume_point.h"
#include "run/run_window.h"
#include "run/task_plan.h"
#include "run/task_settings_file.h"
#include "support/folder_lock.h"

inline constexpr const char* kStartNotice =
    "Notice : To browse these xml and htm files use \"MyNOVU\". ";
inline constexpr const char* kWaitMessage = "Wait for the \"Active Thread\" equal 0, try again.";
inline constexpr int kRunThreadCount = 20;
inline constexpr unsigned kMaxWaitingJobs = 100;
// After the first Abort, a document still in progress gets at most this long, or the Delay when
// that is longer, before its connection is closed.
inline constexpr int kMinimumStopGraceSeconds = 10;
// Settings saves during a run come at most this often; the end of a run always saves.
inline constexpr std::chrono::milliseconds kSaveInterval{200};

// The fields of one run. Counters are guarded by the controller's report lock once workers exist.
struct RunState {
    std::unique_ptr<CDlgDownloader> downloader;  // null while no run exists
    int running = 0;
    int paused = 0;
    int nextBbsNumber = 0;
    int nextDocumentNumber = 0;
    int requested = 0;
    int succeeded = 0;
    int failed = 0;
};

// The logic of the main window's download runs: Start, job generation, accounting of finished
// jobs, Pause, Resume, the two-phase Abort, the status line and the button states. It reaches
// the window only through CRunWindow.
//
// Threads: every operation runs on the window's thread except OnJobDone for results 1 and 0,
// which worker threads call. The report lock serialises each report's record update and
// counting; RefreshStatus reads under it. Saves are made outside it, one at a time, at most
// every 200 ms and at the end of a run; a save counts a document only once the document's bytes
// and its name are on the disk, so that after a power cut the saved place never runs ahead of
// what is there.
//
// One-off runs (a range or a list of numbers) leave the settings file alone: only an open run,
// as the window starts one, moves the saved place and the task flags.
class CRunController {
  public:
    CRunController(CRunWindow& window, CTaskSettingsFile& settings, std::string appDirectory);
    ~CRunController();

    void OnStart();
    void OnPause();
    void OnResume();
    void OnAbort();
    void OnTimer(int timerId);
    void GenerateJobs();
    void RefreshStatus();
    void UpdateButtons();
    // Loads the settings file, or writes the defaults; says through the error report what the
    // user must know (a file left as it is, a file that cannot be written).
    void LoadSettings();
    // Shows the record in the check boxes and the number boxes.
    void ShowSettings();
    // Creates the two download folders in the program's directory where they are missing.
    void CreateDownloadFolders();

    // The completion of one job (CDlgDownloader forwards it here). A stored or failed job moves
    // its task's saved number to the lowest number of the task not finished yet, and saves.
    void OnJobDone(int result, const char* url, const JobTag& tag, const FetchFailure& failure = {},
                   const std::string& path = {});

    bool HasRun() const { return state_.downloader != nullptr; }
    // Which numbers the next runs fetch of a task (JOB_BBS or JOB_DOCUMENT); open-ended unless
    // set.
    void SetPlan(std::int32_t kind, TaskPlan plan);
    // True once every ticked task of the run has handed out all its numbers and every job was
    // reported: a run with an end is then complete. Never true for an open-ended task.
    bool AllJobsReported();
    // Worker threads of the run not yet finished (0 without a run).
    int ActiveThreads() const {
        return state_.downloader ? state_.downloader->GetActiveCount() : 0;
    }
    // Copies of the counters and flags, read under the report lock.
    RunState Snapshot();
    // The numbers of a listed task (a retry) that were stored, and those that were reported at
    // all (stored or failed), in the last run.
    std::set<std::int32_t> StoredNumbers(std::int32_t kind);
    std::set<std::int32_t> TriedNumbers(std::int32_t kind);
    // Waits up to `limit` until failed.txt holds every line of the run; false if it does not.
    bool FlushFailureReport(std::chrono::milliseconds limit);

    // The server port of the run's fetcher; 80 unless tests point it at a loopback server.
    void SetFetchPort(int port) { fetchPort_ = port; }
    // The idle sleep of the run's workers; CDownloader's unless tests shorten it.
    void SetIdleSleepMs(int milliseconds) { idleSleepMs_ = milliseconds; }
    // The least time a document in progress gets after the first Abort; tests shorten it.
    void SetStopGraceSeconds(int seconds) { stopGraceSeconds_ = seconds; }

  private:
    // One task within a run: what it fetches and how far it got.
    struct TaskRun {
        TaskPlan plan;
        bool enabled = false;                  // ticked at Start
        CResumePoint resume;                   // open runs and ranges
        std::size_t listIndex = 0;             // lists
        std::int64_t remaining = -1;           // numbers still to hand out; -1: no end
        std::set<std::int32_t> stored, tried;  // lists
        bool OneOff() const { return plan.isList || plan.last.has_value(); }
    };
    TaskRun& Task(std::int32_t kind) { return tasks_[kind == JOB_BBS ? 0 : 1]; }
    // Prepares a ticked task at Start (report lock held).
    void BeginTask(std::int32_t kind, std::int32_t first);
    void QueueJob(std::int32_t kind);
    // Whether files can be created in both download folders; if not, says so, naming the
    // folder and the system's reason.
    bool DownloadFoldersWritable();
    void ShowRecord(const TaskSettings& record);
    // Saves the record when it changed and the last save is 200 ms old (or at once when
    // `force`), after making the names of the documents it counts durable. Returns what to
    // report, or the empty text when the save succeeded or its failure was told in this run.
    // Never waits for another save unless `force`.
    std::string SaveIfDue(bool force);
    // Ends the run's hold on files: the last save, failed.txt, the folder lock.
    void FinishFiles();

    CRunWindow& window_;
    CTaskSettingsFile& settings_;
    const std::string appDirectory_;
    RunState state_;
    std::mutex reportLock_;
    TaskRun tasks_[2];                       // guarded by reportLock_
    CFailureReport failureReport_;           // Append under reportLock_; the rest main thread
    bool oneOffRun_ = false;                 // set at Start, before any worker reports
    bool recordChanged_ = false;             // guarded by reportLock_
    std::set<std::string> unsyncedFolders_;  // guarded by reportLock_
    std::chrono::steady_clock::time_point lastSave_;  // guarded by reportLock_
    std::mutex saveMutex_;                            // one save at a time
    bool saveFailureReported_ = false;                // guarded by saveMutex_; once per run
    CFolderLock folderLock_;                          // held from Start to the end of the run
    int fetchPort_ = CHttpGetter::kDefaultPort;
    int idleSleepMs_ = CDownloader::kIdleSleepMs;
    int stopGraceSeconds_ = kMinimumStopGraceSeconds;
};
