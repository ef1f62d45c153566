#include "run/run_controller.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "run/dlg_downloader.h"
#include "run/job_names.h"
#include "support/debug_log.h"
#include "support/file_helpers.h"
#include "support/file_system.h"
#include "support/text_format.h"

namespace {
std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}
}  // namespace

CRunController::CRunController(CRunWindow& window, CTaskSettingsFile& settings,
                               std::string appDirectory)
    : window_(window), settings_(settings), appDirectory_(std::move(appDirectory)) {
    failureReport_.SetPath(appDirectory_ + kFailureReportName);
    // Told from the report's writer thread; the error box finds its own way to the window.
    failureReport_.SetProblemHandler(
        [](const std::string& message) { ReportError(message.c_str()); });
}

CRunController::~CRunController() {
    // The window cannot close while a run exists; should the controller go anyway, it ends the run
    // at once rather than leave workers behind: fetches in progress are cut off now.
    if (state_.downloader) {
        state_.downloader->StopAll();
        state_.downloader->CutOffFetchesAfter(0);
        while (state_.downloader->HasLiveThreads()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        state_.downloader->Teardown();
        FinishFiles();
    }
}

void CRunController::OnStart() {
    if (state_.downloader) {
        return;  // Start is disabled during a run; Enter must not start a second one
    }
    std::string lockProblem;
    if (!folderLock_.TryLock(appDirectory_, &lockProblem)) {
        window_.ShowMessage(lockProblem);
        return;
    }
    if (!DownloadFoldersWritable()) {
        folderLock_.Unlock();
        return;
    }
    window_.ShowMessage(kStartNotice);
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        state_.requested = 0;
        state_.succeeded = 0;
        state_.failed = 0;
    }
    state_.paused = 0;
    state_.running = 1;
    UpdateButtons();

    int delay = window_.GetInt(IDC_DELAY);
    if (delay == 0) {
        delay = -1;
    }
    state_.downloader = std::make_unique<CDlgDownloader>(this);
    state_.downloader->GetFetcher().SetTimeout(delay);
    state_.downloader->GetFetcher().SetPort(fetchPort_);
    state_.downloader->SetIdleSleepMs(idleSleepMs_);
    state_.downloader->Start(kRunThreadCount);

    const bool bbsTicked = window_.IsChecked(IDC_BBS_CHECK) != 0;
    const bool documentTicked = window_.IsChecked(IDC_DOCUMENT_CHECK) != 0;
    const std::int32_t bbsFirst =
        ComposeNumber(window_.GetInt(IDC_BBS_DIRECTORY), window_.GetInt(IDC_BBS_FILE));
    const std::int32_t documentFirst =
        ComposeNumber(window_.GetInt(IDC_DOCUMENT_DIRECTORY), window_.GetInt(IDC_DOCUMENT_FILE));
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        Task(JOB_BBS).enabled = bbsTicked;
        Task(JOB_DOCUMENT).enabled = documentTicked;
        oneOffRun_ = (bbsTicked && Task(JOB_BBS).OneOff()) ||
                     (documentTicked && Task(JOB_DOCUMENT).OneOff());
        if (bbsTicked) {
            BeginTask(JOB_BBS, bbsFirst);
            state_.nextBbsNumber = bbsFirst;
        }
        if (documentTicked) {
            BeginTask(JOB_DOCUMENT, documentFirst);
            state_.nextDocumentNumber = documentFirst;
        }
        // A range or a retry is a one-off: the place the next plain run starts from stays.
        if (!oneOffRun_) {
            TaskSettings& record = settings_.Record();
            record.bbsEnabled = bbsTicked ? 1 : 0;
            if (bbsTicked) {
                record.bbsNumber = bbsFirst;
            }
            record.documentEnabled = documentTicked ? 1 : 0;
            if (documentTicked) {
                record.documentNumber = documentFirst;
            }
            record.timeout = delay;
            recordChanged_ = true;
        }
    }
    {
        std::lock_guard<std::mutex> saving(saveMutex_);
        saveFailureReported_ = false;
    }
    const std::string saveError = SaveIfDue(true);
    if (!saveError.empty()) {
        ReportError(saveError.c_str());
    }
    window_.StartTimer(TIMER_GENERATE, kGeneratePeriodMs);
}

void CRunController::GenerateJobs() {
    if (!state_.downloader || state_.downloader->GetWaitingCount() > kMaxWaitingJobs) {
        return;
    }
    bool bbs, document;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        bbs = Task(JOB_BBS).enabled;
        document = Task(JOB_DOCUMENT).enabled;
    }
    if (bbs) {
        QueueJob(JOB_BBS);
    }
    if (document) {
        QueueJob(JOB_DOCUMENT);
    }
}

void CRunController::BeginTask(std::int32_t kind, std::int32_t first) {
    TaskRun& task = Task(kind);
    task.listIndex = 0;
    task.stored.clear();
    task.tried.clear();
    if (task.plan.isList) {
        task.remaining = static_cast<std::int64_t>(task.plan.numbers.size());
        return;
    }
    task.resume.Begin(first);
    task.remaining =
        !task.plan.last ? -1 : std::max<std::int64_t>(0, std::int64_t{*task.plan.last} - first + 1);
}

void CRunController::SetPlan(std::int32_t kind, TaskPlan plan) {
    std::lock_guard<std::mutex> lock(reportLock_);
    Task(kind).plan = std::move(plan);
}

bool CRunController::AllJobsReported() {
    std::lock_guard<std::mutex> lock(reportLock_);
    for (const std::int32_t kind : {JOB_BBS, JOB_DOCUMENT}) {
        if (Task(kind).enabled && Task(kind).remaining != 0) {
            return false;
        }
    }
    return state_.downloader && state_.requested == state_.succeeded + state_.failed;
}

void CRunController::QueueJob(std::int32_t kind) {
    const bool bbs = kind == JOB_BBS;
    std::int32_t number;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        TaskRun& task = Task(kind);
        if (task.remaining == 0) {
            return;
        }
        if (task.plan.isList) {
            number = task.plan.numbers[task.listIndex++];
        } else if (const std::optional<std::int32_t> next = task.resume.Generate()) {
            number = *next;
        } else {
            task.remaining = 0;  // past the largest number there is none to fetch
            return;
        }
        if (task.remaining > 0) {
            --task.remaining;
        }
        (bbs ? state_.nextBbsNumber : state_.nextDocumentNumber) =
            number < INT32_MAX ? number + 1 : number;
        ++state_.requested;
    }
    const TaskSettings& record = settings_.Record();
    const JobNames names =
        MakeJobNames(appDirectory_, bbs ? record.bbsUrl : record.documentUrl, number, kind);
    // A name too long for its 260-byte buffer is never cut: the job is queued whole and the
    // fetcher refuses it, so it is counted as failed without any network traffic.
    if (FitsPathBuffer(names.folder)) {
        CreateDirIfAbsent(names.folder.c_str());
    }
    state_.downloader->AddJob(names.url.c_str(), names.file.c_str(),
                              std::make_unique<JobTag>(JobTag{number, kind}));
}

void CRunController::OnJobDone(int result, const char* url, const JobTag& tag,
                               const FetchFailure& failure, const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        // Written under the lock so that the window shows URL and result of the same report.
        window_.SetText(IDC_STATUS, url);
        window_.SetText(IDC_DETAIL, result == JOB_STORED   ? "Success"
                                    : result == JOB_FAILED ? "Fail"
                                                           : "Cancelled");
        // A cancelled number is not finished: the next start fetches it.
        if (result == JOB_CANCELLED) {
            return;
        }
        const bool known = tag.kind == JOB_BBS || tag.kind == JOB_DOCUMENT;
        TaskRun* task = known ? &Task(tag.kind) : nullptr;
        if (task != nullptr && task->enabled && task->plan.isList) {
            task->tried.insert(tag.number);
            if (result == JOB_STORED) {
                task->stored.insert(tag.number);
            }
        } else if (task != nullptr && task->enabled) {
            task->resume.Finish(tag.number);
            if (!oneOffRun_) {
                TaskSettings& record = settings_.Record();
                (tag.kind == JOB_BBS ? record.bbsNumber : record.documentNumber) =
                    task->resume.Lowest();
                recordChanged_ = true;
            }
        }
        if (result != JOB_FAILED) {
            ++state_.succeeded;
            // Its name must be on the disk before a save counts it.
            if (!path.empty()) {
                const std::string folder = FolderOf(path);
                unsyncedFolders_.insert(folder);
                unsyncedFolders_.insert(FolderOf(folder));  // a folder made for it this run
            }
        } else {
            ++state_.failed;
            failureReport_.Append(tag.kind, tag.number, url, DescribeFetchFailure(failure));
        }
    }
    const std::string problem = SaveIfDue(false);
    if (!problem.empty()) {
        ReportError(problem.c_str());
    }
}

std::string CRunController::SaveIfDue(bool force) {
    std::unique_lock<std::mutex> saving(saveMutex_, std::defer_lock);
    // A worker never waits for another's save: the one under way, or the next, takes its change.
    if (force) {
        saving.lock();
    } else if (!saving.try_lock()) {
        return {};
    }
    TaskSettings record;
    std::set<std::string> folders;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        const auto now = std::chrono::steady_clock::now();
        if (!recordChanged_ || (!force && now - lastSave_ < kSaveInterval)) {
            return {};
        }
        record = settings_.Record();
        folders.swap(unsyncedFolders_);
        recordChanged_ = false;
        lastSave_ = now;
    }
    // The documents this record counts were made durable before they took their names; now the
    // names are, so that the saved place never stands above a document that a power cut lost.
    for (const std::string& folder : folders) {
        CFileSystem::Current().SyncDirectory(folder);
    }
    if (settings_.Save(record) >= 0 || saveFailureReported_ || settings_.SavesWithheld()) {
        return {};
    }
    saveFailureReported_ = true;
    return FormatText(
        "The settings file %s cannot be saved (%s). The run goes on, but the next "
        "start may not continue where this run stops.",
        settings_.GetPath().c_str(),
        settings_.LastError().empty() ? "unknown reason" : settings_.LastError().c_str());
}

void CRunController::FinishFiles() {
    const std::string problem = SaveIfDue(true);
    if (!problem.empty()) {
        ReportError(problem.c_str());
    }
    failureReport_.Close();
    folderLock_.Unlock();
}

bool CRunController::FlushFailureReport(std::chrono::milliseconds limit) {
    return failureReport_.Close(limit);
}

std::set<std::int32_t> CRunController::StoredNumbers(std::int32_t kind) {
    std::lock_guard<std::mutex> lock(reportLock_);
    return Task(kind).stored;
}

std::set<std::int32_t> CRunController::TriedNumbers(std::int32_t kind) {
    std::lock_guard<std::mutex> lock(reportLock_);
    return Task(kind).tried;
}

void CRunController::LoadSettings() {
    const std::string problem = settings_.LoadOrCreateDefaults();
    if (!problem.empty()) {
        ReportError(problem.c_str());
    }
}

void CRunController::RefreshStatus() {
    if (!state_.downloader) {
        return;
    }
    const int active = state_.downloader->GetActiveCount();
    const unsigned waiting = state_.downloader->GetWaitingCount();
    int requested, succeeded, failed;
    TaskSettings record;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        requested = state_.requested;
        succeeded = state_.succeeded;
        failed = state_.failed;
        record = settings_.Record();
    }
    window_.SetText(IDC_COUNTS,
                    FormatText("Requested : %d - Successed : %d - Failed : %d - Waitting : %d - "
                               "Active Thread : %d",
                               requested, succeeded, failed, static_cast<int>(waiting), active));
    ShowRecord(record);
    window_.SetProgress(IDC_PROGRESS, 0, succeeded + failed, succeeded);
    const std::string problem = SaveIfDue(false);
    if (!problem.empty()) {
        ReportError(problem.c_str());
    }
}

bool CRunController::DownloadFoldersWritable() {
    CreateDownloadFolders();
    for (const char* folder : {kBbsFolderName, kDocumentFolderName}) {
        const std::string path = appDirectory_ + folder;
        std::string reason;
        if (!CanCreateFilesIn(path, &reason)) {
            window_.ShowMessage(
                FormatText("Documents cannot be stored in the folder %s: %s. No "
                           "run was started.",
                           path.c_str(), reason.c_str()));
            return false;
        }
    }
    return true;
}

void CRunController::CreateDownloadFolders() {
    for (const char* folder : {kDocumentFolderName, kBbsFolderName}) {
        const std::string path = appDirectory_ + folder + PathSeparator();
        if (!FileExists(path.c_str())) {
            CreateDirIfAbsent(path.c_str());
        }
    }
}

void CRunController::ShowSettings() {
    ShowRecord(settings_.Record());
}

void CRunController::ShowRecord(const TaskSettings& record) {
    window_.SetChecked(IDC_BBS_CHECK, record.bbsEnabled ? 1 : 0);
    window_.SetInt(IDC_BBS_DIRECTORY, DirectoryPart(record.bbsNumber));
    window_.SetInt(IDC_BBS_FILE, FilePart(record.bbsNumber));
    window_.SetChecked(IDC_DOCUMENT_CHECK, record.documentEnabled ? 1 : 0);
    window_.SetInt(IDC_DOCUMENT_DIRECTORY, DirectoryPart(record.documentNumber));
    window_.SetInt(IDC_DOCUMENT_FILE, FilePart(record.documentNumber));
}

void CRunController::OnPause() {
    if (!state_.downloader) {
        return;
    }
    state_.paused = 1;
    UpdateButtons();
    state_.downloader->Pause();
}

void CRunController::OnResume() {
    if (!state_.downloader) {
        return;
    }
    state_.paused = 0;
    UpdateButtons();
    state_.downloader->Resume();
}

void CRunController::OnAbort() {
    if (!state_.downloader) {
        return;
    }
    window_.StopTimer(TIMER_GENERATE);
    if (state_.downloader->HasLiveThreads()) {
        state_.downloader->StopAll();
        // A server that never answers must not hold the run for ever.
        state_.downloader->CutOffFetchesAfter(
            std::max(state_.downloader->GetFetcher().GetTimeout(), stopGraceSeconds_));
        window_.ShowMessage(kWaitMessage);
        return;
    }
    state_.running = 0;
    UpdateButtons();
    state_.downloader->Drain();
    state_.downloader->Teardown();
    state_.downloader.reset();
    FinishFiles();
}

void CRunController::OnTimer(int timerId) {
    if (timerId == TIMER_GENERATE) {
        GenerateJobs();
    } else if (timerId == TIMER_STATUS && state_.downloader) {
        RefreshStatus();
    }
}

void CRunController::UpdateButtons() {
    const bool running = state_.running != 0;
    const bool paused = state_.paused != 0;
    window_.EnableButton(IDC_START, !running);
    window_.EnableButton(IDC_PAUSE, running && !paused);
    window_.EnableButton(IDC_RESUME, running && paused);
    window_.EnableButton(IDC_ABORT, running);
    window_.EnableButton(IDCANCEL_BUTTON, !running);
}

RunState CRunController::Snapshot() {
    RunState copy;
    std::lock_guard<std::mutex> lock(reportLock_);
    copy.running = state_.running;
    copy.paused = state_.paused;
    copy.nextBbsNumber = state_.nextBbsNumber;
    copy.nextDocumentNumber = state_.nextDocumentNumber;
    copy.requested = state_.requested;
    copy.succeeded = state_.succeeded;
    copy.failed = state_.failed;
    return copy;
}
