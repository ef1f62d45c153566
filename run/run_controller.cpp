#include "run/run_controller.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "run/dlg_downloader.h"
#include "run/job_names.h"
#include "support/debug_log.h"
#include "support/file_helpers.h"
#include "support/text_format.h"

CRunController::CRunController(CRunWindow& window, CTaskSettingsFile& settings,
                               std::string appDirectory)
    : window_(window), settings_(settings), appDirectory_(std::move(appDirectory)) {
    failureReport_.SetPath(appDirectory_ + kFailureReportName);
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
    }
}

void CRunController::OnStart() {
    if (state_.downloader) {
        return;  // Start is disabled during a run; Enter must not start a second one
    }
    if (!DownloadFoldersWritable()) {
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
    state_.threadCount = kRunThreadCount;
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
    state_.downloader->Start(state_.threadCount);

    const int bbsTicked = window_.IsChecked(IDC_BBS_CHECK) ? 1 : 0;
    const int documentTicked = window_.IsChecked(IDC_DOCUMENT_CHECK) ? 1 : 0;
    std::string saveError;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        saveFailureReported_ = false;
        reportFailureReported_ = false;
        TaskSettings& record = settings_.Record();
        record.bbsEnabled = bbsTicked;
        if (bbsTicked) {
            const std::int32_t first =
                ComposeNumber(window_.GetInt(IDC_BBS_DIRECTORY), window_.GetInt(IDC_BBS_FILE));
            record.bbsNumber = BeginTask(JOB_BBS, first, record.bbsNumber);
            state_.nextBbsNumber = first;
        }
        record.documentEnabled = documentTicked;
        if (documentTicked) {
            const std::int32_t first = ComposeNumber(window_.GetInt(IDC_DOCUMENT_DIRECTORY),
                                                     window_.GetInt(IDC_DOCUMENT_FILE));
            record.documentNumber = BeginTask(JOB_DOCUMENT, first, record.documentNumber);
            state_.nextDocumentNumber = first;
        }
        record.timeout = delay;
        saveError = SaveLocked();
    }
    if (!saveError.empty()) {
        ReportError(saveError.c_str());
    }
    window_.StartTimer(TIMER_GENERATE, kGeneratePeriodMs);
}

void CRunController::GenerateJobs() {
    if (!state_.downloader || state_.downloader->GetWaitingCount() > kMaxWaitingJobs) {
        return;
    }
    // Only workers write the record during a run, and only its numbers: the flags are stable.
    const TaskSettings& record = settings_.Record();
    if (record.bbsEnabled) {
        QueueJob(JOB_BBS);
    }
    if (record.documentEnabled) {
        QueueJob(JOB_DOCUMENT);
    }
}

std::int32_t CRunController::BeginTask(std::int32_t kind, std::int32_t first,
                                       std::int32_t recorded) {
    TaskRun& task = Task(kind);
    task.listIndex = 0;
    if (task.plan.isList) {
        task.remaining = static_cast<std::int64_t>(task.plan.numbers.size());
        return recorded;  // a retry of old numbers leaves the task's place as it is
    }
    task.resume.Begin(first);
    task.remaining =
        !task.plan.last ? -1 : std::max<std::int64_t>(0, std::int64_t{*task.plan.last} - first + 1);
    return first;
}

void CRunController::SetPlan(std::int32_t kind, TaskPlan plan) {
    std::lock_guard<std::mutex> lock(reportLock_);
    Task(kind).plan = std::move(plan);
}

bool CRunController::AllJobsReported() {
    std::lock_guard<std::mutex> lock(reportLock_);
    const TaskSettings& record = settings_.Record();
    for (const std::int32_t kind : {JOB_BBS, JOB_DOCUMENT}) {
        const bool ticked = kind == JOB_BBS ? record.bbsEnabled : record.documentEnabled;
        if (ticked && Task(kind).remaining != 0) {
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
        number = task.plan.isList ? task.plan.numbers[task.listIndex++] : task.resume.Generate();
        if (task.remaining > 0) {
            --task.remaining;
        }
        (bbs ? state_.nextBbsNumber : state_.nextDocumentNumber) = NextNumber(number);
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
                               const FetchFailure& failure) {
    std::string problems;
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
        TaskSettings& record = settings_.Record();
        const bool ticked = tag.kind == JOB_BBS        ? record.bbsEnabled != 0
                            : tag.kind == JOB_DOCUMENT ? record.documentEnabled != 0
                                                       : false;
        if (ticked && !Task(tag.kind).plan.isList) {
            CResumePoint& resume = Task(tag.kind).resume;
            resume.Finish(tag.number);
            (tag.kind == JOB_BBS ? record.bbsNumber : record.documentNumber) = resume.Lowest();
        }
        if (result != JOB_FAILED) {
            ++state_.succeeded;
        } else {
            ++state_.failed;
            problems = ReportFailureLocked(tag, url, failure);
        }
        const std::string saveProblem = SaveLocked();
        problems += problems.empty() || saveProblem.empty() ? saveProblem : "\n" + saveProblem;
    }
    if (!problems.empty()) {
        ReportError(problems.c_str());
    }
}

std::string CRunController::ReportFailureLocked(const JobTag& tag, const char* url,
                                                const FetchFailure& failure) {
    if (failureReport_.Append(tag.kind, tag.number, url, DescribeFetchFailure(failure)) ||
        reportFailureReported_) {
        return {};
    }
    reportFailureReported_ = true;
    return FormatText("The list of failed documents %s cannot be written (%s).",
                      failureReport_.GetPath().c_str(),
                      SystemErrorText(failureReport_.Error()).c_str());
}

std::string CRunController::SaveLocked() {
    if (settings_.Save() >= 0 || saveFailureReported_ || settings_.SavesWithheld()) {
        return {};
    }
    saveFailureReported_ = true;
    return FormatText(
        "The settings file %s cannot be saved (%s). The run goes on, but the next "
        "start may not continue where this run stops.",
        settings_.GetPath().c_str(),
        settings_.LastError().empty() ? "unknown reason" : settings_.LastError().c_str());
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
}

bool CRunController::DownloadFoldersWritable() {
    CreateDownloadFolders();
    for (const char* folder : {"xml_file", "html_file"}) {
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
    for (const char* folder : {"html_file", "xml_file"}) {
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
    std::lock_guard<std::mutex> lock(reportLock_);
    failureReport_.Close();
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
    copy.threadCount = state_.threadCount;
    return copy;
}
