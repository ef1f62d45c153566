#include "run/run_controller.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

#include "engine/page_likeness.h"
#include "run/dlg_downloader.h"
#include "run/extended_settings.h"
#include "run/job_names.h"
#include "run/task_kind.h"
#include "support/debug_log.h"
#include "support/file_helpers.h"
#include "support/file_system.h"
#include "support/text_format.h"

namespace {
std::string FolderOf(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

// Whether a document lies anywhere below the folder (folders alone do not count); stops at the
// first.
bool HoldsAnyFile(const std::string& folder) {
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator entry(folder, error), end;
         !error && entry != end; entry.increment(error)) {
        if (entry->is_regular_file(error)) {
            return true;
        }
    }
    return false;
}

// The wall-clock time, "hh:mm", of a moment on the run's clock that lies before `now`.
std::string ClockText(CRunClock::TimePoint now, CRunClock::TimePoint then) {
    const auto at = std::chrono::system_clock::now() -
                    std::chrono::duration_cast<std::chrono::system_clock::duration>(now - then);
    return LocalTimeText(std::chrono::system_clock::to_time_t(at)).substr(11, 5);
}

}  // namespace

CRunController::CRunController(CRunObserver& observer, std::string appDirectory)
    : observer_(observer), appDirectory_(std::move(appDirectory)) {
    settings_.SetPath(SettingsPathFor(appDirectory_));
    failureReport_.SetPath(appDirectory_ + kFailureReportName);
    // Told from the report's writer thread: kept, and acted on by the front end's thread.
    failureReport_.SetHandlers(
        [this](const CFailureReport::Problem& problem) { OnFailureReportProblem(problem); },
        [this](std::int32_t kind, std::int32_t number) { OnFailureRecorded(kind, number); });
}

CRunController::~CRunController() {
    // A window cannot close while a run exists; should the controller go anyway, it ends the run
    // at once rather than leave workers behind: fetches in progress are cut off now.
    if (downloader_) {
        downloader_->StopAll();
        downloader_->CutOffFetchesAfter(std::chrono::milliseconds(0));
        while (downloader_->HasLiveThreads()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        downloader_->Teardown();
        FinishFiles();
    }
}

void CRunController::Open() {
    CreateDownloadFolders();
    if (const Status loaded = settings_.LoadOrCreateDefaults(); !loaded.IsOk()) {
        ReportError(loaded.Text().c_str());
    }
    observer_.OnSettings(settings_.Record());
    observer_.OnPhase(phase_);
}

void CRunController::Start(const RunRequest& request) {
    if (HasRun() || !PrepareStart(request)) {
        return;  // Start is disabled during a run; Enter must not start a second one
    }
    Launch(request);
}

void CRunController::StartAfterProbe(RunRequest request) {
    if (HasRun() || !PrepareStart(request)) {
        return;
    }
    std::vector<CSeriesProbe::Question> questions = ProbeQuestions(request);
    if (questions.empty()) {
        Launch(request);
        return;
    }
    auto getter = std::make_unique<CHttpGetter>();
    ConfigureFetcher(*getter, request);
    const std::chrono::milliseconds limit = ProbeLimit(request);
    getter->CutOffAfter(limit);  // should the front end's ticks stop, the look still ends
    probeDeadline_ = clock_->Now() + limit;
    probeCancelled_ = false;
    refusedForHiddenEnd_ = false;
    pendingRequest_ = std::move(request);
    probe_.Begin(std::move(getter), std::move(questions));
    generating_ = true;
    SetPhase(RunPhase::kRunning);
}

bool CRunController::PrepareStart(const RunRequest& request) {
    // A template that cannot name every number refuses the run rather than fail each one.
    for (const TaskKind& kind : kTaskKinds) {
        std::string why;
        Task(kind.jobKind).namer =
            CJobNamer::Make(appDirectory_, kind.jobKind, settings_.Record().*kind.url,
                            request.PathTemplate(kind.jobKind), &why);
        if (request.Task(kind.jobKind).enabled && !Task(kind.jobKind).namer) {
            observer_.OnStartRefused(
                FormatText("%s: %s. No run was started.", kind.reportName, why.c_str()));
            return false;
        }
    }
    if (const Status locked = folderLock_.TryLock(appDirectory_); !locked.IsOk()) {
        observer_.OnStartRefused(locked.Text());
        return false;
    }
    if (const Status writable = DownloadFoldersWritable(); !writable.IsOk()) {
        folderLock_.Unlock();
        observer_.OnStartRefused(writable.Text());
        return false;
    }
    if (const Status opened = OpenArchive(request); !opened.IsOk()) {
        ReleaseFolder();
        observer_.OnStartRefused(
            FormatText("The archive in %s cannot be written (%s). No run "
                       "was started.",
                       (appDirectory_ + kArchiveFolder).c_str(), opened.Text().c_str()));
        return false;
    }
    return true;
}

Status CRunController::OpenArchive(const RunRequest& request) {
    if (!request.archive.warc) {
        return Status::Ok();
    }
    CWarcArchive::Settings settings;
    settings.folder = appDirectory_ + kArchiveFolder;
    settings.maxFileBytes = request.archive.maxFileBytes;
    // What shapes the exchanges that follow: the templates and how they are asked for.
    for (const TaskKind& kind : kTaskKinds) {
        if (request.Task(kind.jobKind).enabled) {
            settings.info.emplace_back(std::string(kind.reportName) + "-url",
                                       settings_.Record().*kind.url);
        }
    }
    const auto exchange = [](HttpVersion version) {
        return version == HttpVersion::k11 ? "HTTP/1.1" : "HTTP/1.0";
    };
    settings.info.emplace_back("http-exchange", exchange(request.httpVersion));
    settings.info.emplace_back("https-exchange", exchange(request.httpsVersion));
    settings.info.emplace_back("max-redirects", std::to_string(request.http.maxRedirects));
    for (auto& [name, value] : settings.info) {
        value.erase(std::remove_if(value.begin(), value.end(),
                                   [](char c) { return c == '\r' || c == '\n'; }),
                    value.end());
    }
    archive_ = std::make_unique<CWarcArchive>();
    const Status opened = archive_->Open(std::move(settings));
    if (!opened.IsOk()) {
        archive_.reset();
    }
    return opened;
}

void CRunController::ReleaseFolder() {
    if (archive_) {
        if (const Status closed = archive_->Close(); !closed.IsOk()) {
            WriteDebugLog("archive: the last file was not finished: %s", closed.Text().c_str());
            // A full disk has been told already: the index waits for the next start, which
            // makes it. Anything else is worth a word.
            std::lock_guard<std::mutex> lock(reportLock_);
            if (!IsDiskFull(closed.SystemErrorNumber()) && !diskFull_) {
                reportProblem_ =
                    reportProblem_.value_or("The archive's last file could not be finished (" +
                                            closed.Text() + "); the next start finishes it.");
            }
        }
        archive_.reset();
    }
    folderLock_.Unlock();
}

void CRunController::Launch(const RunRequest& request) {
    // After the probe, whose warnings the notice carries.
    observer_.OnStartNotice();
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        state_ = RunState{};
    }
    SetPhase(RunPhase::kRunning);

    // Where this run's lines in failed.txt begin.
    std::error_code sizeError;
    const std::string& report = failureReport_.GetPath();
    reportStart_ =
        IsRegularFile(report.c_str()) ? std::filesystem::file_size(report, sizeError) : 0;
    listRun_ = request.bbs.plan.isList || request.document.plan.isList;
    downloader_ = std::make_unique<CDlgDownloader>(this);
    ConfigureFetcher(downloader_->GetFetcher(), request);
    for (const TaskKind& kind : kTaskKinds) {
        downloader_->SetPageRules(kind.jobKind, request.Page(kind.jobKind));
    }
    downloader_->SetFetch(fetch_);
    downloader_->SetIdleSleepMs(idleSleepMs_);
    downloader_->Start(kRunThreadCount);
    cutOffAt_.reset();
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        oneOffRun_ = false;
        askAgainEvery_ = request.askAgainEvery;
        const int rate = request.ratePerSecond <= 0
                             ? kGeneratorRate
                             : std::min(request.ratePerSecond, kGeneratorRate);
        siteHeld_ = false;
        siteWall_.reset();
        onSiteWall_ = request.onSiteWall;
        diskFull_.reset();
        reportProblem_.reset();
        for (const TaskKind& kind : kTaskKinds) {
            const TaskRequest& task = request.Task(kind.jobKind);
            BeginTask(kind.jobKind, task, request, rate);
            oneOffRun_ = oneOffRun_ || (task.enabled && Task(kind.jobKind).OneOff());
        }
        stop_.reset();
        // A range or a retry is a one-off: the place the next plain run starts from stays.
        if (!oneOffRun_) {
            TaskSettings& record = settings_.Record();
            for (const TaskKind& kind : kTaskKinds) {
                const TaskRequest& task = request.Task(kind.jobKind);
                record.*kind.enabled = task.enabled ? 1 : 0;
                if (task.enabled) {
                    record.*kind.number = task.first;
                }
            }
            record.timeout = downloader_->GetFetcher().GetTimeout();  // 0 is kept as -1
            recordChanged_ = true;
        }
    }
    {
        std::lock_guard<std::mutex> saving(saveMutex_);
        saveFailureReported_ = false;
    }
    stoppedForDiskFull_ = false;
    stopAskedAtWall_ = stoppedAtWall_ = stopAskedByTask_ = false;
    failureReportWhole_ = true;
    SaveIfDue(true);
    generating_ = true;
}

Status CRunController::ReadExtendedSettings(RunRequest& request) {
    ExtendedSettings settings;
    std::vector<std::string> warnings;
    Status read = ::ReadExtendedSettings(appDirectory_ + kExtendedSettingsName, settings);
    if (read.IsOk()) {
        read = ApplyExtendedSettings(settings, appDirectory_, request, warnings);
    }
    for (const std::string& warning : warnings) {
        observer_.OnWarning(warning);
    }
    return read;
}

void CRunController::StartWithExtendedSettings(RunRequest request) {
    if (HasRun()) {
        return;
    }
    if (const Status read = ReadExtendedSettings(request); !read.IsOk()) {
        observer_.OnStartRefused(read.Text() + ". No run was started.");
        return;
    }
    StartAfterProbe(std::move(request));
}

void CRunController::ConfigureFetcher(CHttpGetter& fetcher, const RunRequest& request) const {
    fetcher.SetTimeout(request.delaySeconds == 0 ? -1 : request.delaySeconds);  // 0: no limit
    if (waitLimit_) {
        fetcher.SetWaitLimit(*waitLimit_);
    }
    fetcher.SetPort(fetchPort_);
    fetcher.SetVersions(request.httpVersion, request.httpsVersion);
    fetcher.SetOptions(request.http);
    fetcher.SetArchive(archive_.get());
}

std::vector<CSeriesProbe::Question> CRunController::ProbeQuestions(
    const RunRequest& request) const {
    std::vector<CSeriesProbe::Question> questions;
    for (const TaskKind& kind : kTaskKinds) {
        const TaskRequest& task = request.Task(kind.jobKind);
        const std::optional<CJobNamer> namer =
            CJobNamer::Make(appDirectory_, kind.jobKind, settings_.Record().*kind.url);
        if (!task.enabled || task.plan.isList || task.plan.last || !namer) {
            continue;
        }
        const auto far = static_cast<std::int32_t>(
            std::min<std::int64_t>(std::int64_t{task.first} + kProbeDistance, INT32_MAX));
        // A second number that differs from the first in every digit, so that where a page
        // names its number stands out whole, however it is written.
        const std::int32_t other =
            far <= INT32_MAX - kProbeSpread ? far + kProbeSpread : far - kProbeSpread;
        questions.push_back(
            {kind.jobKind, {namer->Url(far), namer->Url(other)}, request.Page(kind.jobKind)});
    }
    return questions;
}

std::chrono::milliseconds CRunController::ProbeLimit(const RunRequest& request) {
    return std::max<std::chrono::milliseconds>(std::chrono::seconds(request.delaySeconds),
                                               kShortestProbe);
}

bool CRunController::ProbeTick() {
    if (!probe_.Running()) {
        return false;
    }
    if (!probe_.Finished()) {
        if (clock_->Now() >= probeDeadline_) {
            probe_.Cancel();
        }
        return true;
    }
    RunRequest request = std::move(*pendingRequest_);
    pendingRequest_.reset();
    const bool hidden = TakeProbeAnswers(probe_.Take(), request);
    if (probeCancelled_ || (hidden && request.needsVisibleEnds)) {
        refusedForHiddenEnd_ = !probeCancelled_;
        ReleaseFolder();
        TellFailureReportProblem();
        generating_ = false;
        SetPhase(RunPhase::kIdle);
        return true;
    }
    Launch(request);
    return true;
}

bool CRunController::TakeProbeAnswers(const std::vector<CSeriesProbe::Answer>& answers,
                                      RunRequest& request) {
    bool hidden = false;
    for (const CSeriesProbe::Answer& answer : answers) {
        const std::optional<Url> parsed = ParseUrl(answer.url);
        const std::string site = parsed ? parsed->Authority() : answer.url;
        const std::optional<PageSample>& first = answer.documents.front();
        const std::optional<PageSample>& second = answer.documents.back();
        if (first || second) {
            hidden = true;
            observer_.OnWarning(FormatText(
                "%s answers 200 for numbers it does not have: the end of the series cannot be "
                "seen; set missing_if_body",
                site.c_str()));
            // Until then, a page like those answers is the site's "not found".
            std::optional<CPageLikeness> likeness =
                CPageLikeness::Of(first ? *first : *second, second ? *second : *first);
            if (likeness) {
                (answer.kind == JOB_BBS ? request.bbsPage : request.documentPage).missingIfLike =
                    std::make_shared<const CPageLikeness>(std::move(*likeness));
            }
        } else if (answer.cutOff && !probeCancelled_) {
            observer_.OnWarning(FormatText(
                "%s did not answer within %lld s for a number far past the start: the run goes "
                "on as if the site did not have it",
                site.c_str(), static_cast<long long>(ProbeLimit(request).count() / 1000)));
        }
    }
    return hidden;
}

std::vector<std::string> CRunController::CheckNumber(RunRequest request, std::int32_t number,
                                                     bool& wouldStore) {
    wouldStore = true;
    std::vector<std::string> lines;
    // The look far past the start first, as a run makes it: its likeness marks pages missing.
    std::vector<CSeriesProbe::Question> questions = ProbeQuestions(request);
    if (!questions.empty()) {
        auto getter = std::make_unique<CHttpGetter>();
        ConfigureFetcher(*getter, request);
        getter->CutOffAfter(ProbeLimit(request));
        CSeriesProbe probe;
        probe.Begin(std::move(getter), std::move(questions));
        probeCancelled_ = false;
        TakeProbeAnswers(probe.Take(), request);
    }
    CHttpGetter getter;
    ConfigureFetcher(getter, request);
    for (const TaskKind& kind : kTaskKinds) {
        const std::optional<CJobNamer> namer =
            CJobNamer::Make(appDirectory_, kind.jobKind, settings_.Record().*kind.url,
                            request.PathTemplate(kind.jobKind));
        if (!request.Task(kind.jobKind).enabled || !namer) {
            continue;
        }
        const std::string url = namer->Url(number);
        PageSample page;
        FetchFailure failure;
        const PageRules& rules = request.Page(kind.jobKind);
        // The whole page is read, as far as the document limit, and stored nowhere.
        const bool stored = getter.Sample(url, page, &failure, &rules, SIZE_MAX) == 1;
        CTaskJudge judge;
        CTaskJudge::Settings judged;
        judged.storedBefore = HoldsAnyFile(appDirectory_ + kind.folder);
        judged.onWall = request.onSiteWall;
        judge.Begin(judged, clock_->Now());
        judge.Judge(number, url, stored, failure, clock_->Now());
        std::string said;
        if (stored) {
            said = FormatText("would be stored (%llu bytes, %s)",
                              static_cast<unsigned long long>(page.length),
                              page.type.empty() ? "no Content-Type" : page.type.c_str());
        } else if (judge.TakeWall()) {
            said = "a login wall: " + DescribeFetchFailure(failure);
        } else if (ClassifyFailure(failure) == Answer::kWait) {
            said = "the site asks to wait: " + DescribeFetchFailure(failure);
        } else if (ClassifyFailure(failure) == Answer::kMissing) {
            said = "missing: " + DescribeFetchFailure(failure);
        } else {
            said = "would fail: " + DescribeFetchFailure(failure);
        }
        wouldStore = wouldStore && stored;
        lines.push_back(
            FormatText("%s %d %s: %s", kind.reportName, number, url.c_str(), said.c_str()));
    }
    return lines;
}

void CRunController::GenerateJobs() {
    if (ProbeTick() || !generating_ || !downloader_) {
        return;
    }
    if (ActOnStorageProblems() || ActOnSiteWall() || ActOnTaskStop() || !generating_) {
        return;  // the run stops: the disk is full, the site stands in the way, a task says so
    }
    bool siteAsksToWait;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        siteAsksToWait =
            clock_->Now() < std::max(tasks_[0].judge.SiteFreeAt(), tasks_[1].judge.SiteFreeAt());
    }
    // Until then nothing goes to the site: neither new numbers nor those waiting in the queue.
    if (siteAsksToWait != siteHeld_) {
        siteHeld_ = siteAsksToWait;
        downloader_->Hold(siteAsksToWait);
    }
    if (siteAsksToWait || downloader_->GetWaitingCount() > kMaxWaitingJobs) {
        return;
    }
    for (const TaskKind& kind : kTaskKinds) {
        bool enabled;
        {
            std::lock_guard<std::mutex> lock(reportLock_);
            enabled = Task(kind.jobKind).enabled;
        }
        if (enabled) {
            QueueJob(kind.jobKind);
        }
    }
}

void CRunController::BeginTask(std::int32_t kind, const TaskRequest& request, const RunRequest& run,
                               int rate) {
    TaskRun& task = Task(kind);
    task.plan = request.plan;
    task.enabled = request.enabled;
    task.listIndex = 0;
    task.stored.clear();
    task.tried.clear();
    CTaskJudge::Settings judged;
    judged.open = !task.OneOff();
    judged.first = request.first;
    judged.endAfter = run.endAfter;
    judged.askAgainEvery = run.askAgainEvery;
    judged.rate = rate;
    judged.onWall = run.onSiteWall;
    // Documents stored by an earlier run count: a run that starts at a wall sees it as one.
    judged.storedBefore = HoldsAnyFile(appDirectory_ + TaskKindOf(kind).folder);
    judged.manyNumbers = task.plan.isList ? task.plan.numbers.size() >= CTaskJudge::kStormCount
                         : task.plan.last ? std::int64_t{*task.plan.last} - request.first + 1 >=
                                                CTaskJudge::kStormCount
                                          : true;
    task.judge.Begin(judged, clock_->Now());
    if (!task.enabled) {
        return;
    }
    if (task.plan.isList) {
        task.remaining = static_cast<std::int64_t>(task.plan.numbers.size());
        return;
    }
    const std::int32_t first = request.first;
    task.resume.Begin(first);
    task.remaining =
        !task.plan.last ? -1 : std::max<std::int64_t>(0, std::int64_t{*task.plan.last} - first + 1);
}

bool CRunController::AllJobsReported() {
    std::lock_guard<std::mutex> lock(reportLock_);
    for (const TaskRun& task : tasks_) {
        if (task.enabled && task.remaining != 0) {
            return false;
        }
    }
    return downloader_ && state_.requested == state_.succeeded + state_.failed;
}

void CRunController::QueueJob(std::int32_t kind) {
    std::optional<std::int32_t> next;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        next = TakeNumber(kind);
    }
    if (!next) {
        return;
    }
    const std::int32_t number = *next;
    const JobNames names = Task(kind).namer->Names(number);
    // A name too long for its 260-byte buffer is never cut: the job is queued whole and the
    // fetcher refuses it, so it is counted as failed without any network traffic.
    // A folder that cannot be made needs no word here: the document's write fails, and
    // failed.txt says why; unless the disk is full, when the number stays to be fetched.
    if (FitsPathBuffer(names.folder) && CreateDirsIfAbsent(names.folder) == 0 &&
        IsDiskFull(errno)) {
        std::lock_guard<std::mutex> lock(reportLock_);
        NoteDiskFull(names.folder, kind, number);
        return;
    }
    downloader_->AddJob(names.url.c_str(), names.file.c_str(),
                        std::make_unique<JobTag>(JobTag{number, kind}));
}

std::optional<std::int32_t> CRunController::TakeNumber(std::int32_t kind) {
    TaskRun& task = Task(kind);
    const std::optional<CTaskJudge::Ask> ask =
        task.judge.Take(clock_->Now(), [&task]() -> std::optional<std::int32_t> {
            if (task.remaining == 0) {
                return std::nullopt;
            }
            std::optional<std::int32_t> next;
            if (task.plan.isList) {
                next = task.plan.numbers[task.listIndex++];
            } else if (!(next = task.resume.Generate())) {
                task.remaining = 0;  // past the largest number there is none to fetch
                return std::nullopt;
            }
            if (task.remaining > 0) {
                --task.remaining;
            }
            return next;
        });
    if (!ask) {
        return std::nullopt;
    }
    if (!ask->later) {
        ++state_.requested;  // once, however often the site asks for it to be asked again
    }
    return ask->number;
}

void CRunController::OnJobDone(int result, const char* url, const JobTag& tag,
                               const FetchFailure& failure, const std::string& path) {
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        // Told under the lock so that the window shows URL and result of the same report.
        observer_.OnJobReport(url, result == JOB_STORED   ? JobOutcome::kStored
                                   : result == JOB_FAILED ? JobOutcome::kFailed
                                                          : JobOutcome::kCancelled);
        // A cancelled number is not finished: the next start fetches it.
        if (result == JOB_CANCELLED) {
            return;
        }
        const bool known = tag.kind == JOB_BBS || tag.kind == JOB_DOCUMENT;
        // A document the full disk took is no failure of the site: it stays to be fetched, and
        // the run stops.
        if (known && result == JOB_FAILED && failure.error == FetchError::kWriteError &&
            IsDiskFull(failure.detail)) {
            NoteDiskFull(FolderOf(path), tag.kind, tag.number);
            return;
        }
        if (!known || !Task(tag.kind).enabled) {
            Count(result, tag.kind, tag.number, url,
                  result == JOB_FAILED ? DescribeFetchFailure(failure) : std::string(), path);
            return;
        }
        TaskRun& task = Task(tag.kind);
        const CTaskJudge::Verdict verdict =
            task.judge.Judge(tag.number, url, result == JOB_STORED, failure, clock_->Now());
        if (const std::optional<std::string> wall = task.judge.TakeWall(); wall && !siteWall_) {
            siteWall_ = wall;
        }
        for (const CSeriesEnd::Missing& earlier : verdict.failures) {
            ++state_.failed;  // finished once its line is written
            failureReport_.Append(tag.kind, earlier.number, earlier.url, earlier.reason);
        }
        if (task.plan.isList && verdict.kind != CTaskJudge::Verdict::Kind::kHeld) {
            task.tried.insert(tag.number);
            if (verdict.kind == CTaskJudge::Verdict::Kind::kStored) {
                task.stored.insert(tag.number);
            }
        }
        switch (verdict.kind) {
            case CTaskJudge::Verdict::Kind::kHeld:
                return;  // held back, or asked again later: neither finished nor counted
            case CTaskJudge::Verdict::Kind::kStored:
                if (!task.plan.isList) {
                    FinishNumber(task, tag.kind, tag.number);
                }
                Count(JOB_STORED, tag.kind, tag.number, url, {}, path);
                break;
            case CTaskJudge::Verdict::Kind::kFailed:
                // Finished once failed.txt holds its line (OnFailureRecorded).
                Count(JOB_FAILED, tag.kind, tag.number, url, verdict.reason, path);
                break;
        }
    }
    SaveIfDue(false);
}

void CRunController::Count(int result, std::int32_t kind, std::int32_t number, const char* url,
                           const std::string& reason, const std::string& path) {
    if (result != JOB_FAILED) {
        ++state_.succeeded;
        // Its name must be on the disk before a save counts it.
        // So must the folders made for it this run, at any depth below the data folder.
        for (std::string folder = FolderOf(path);
             !path.empty() && folder.size() > appDirectory_.size(); folder = FolderOf(folder)) {
            unsyncedFolders_.insert(folder);
        }
    } else {
        ++state_.failed;
        failureReport_.Append(kind, number, url, reason);
    }
}

void CRunController::FinishNumber(TaskRun& task, std::int32_t kind, std::int32_t number) {
    task.resume.Finish(number);
    if (!oneOffRun_) {
        settings_.Record().*TaskKindOf(kind).number = task.resume.Lowest();
        recordChanged_ = true;
    }
}

void CRunController::OnFailureRecorded(std::int32_t kind, std::int32_t number) {
    // No save from here: the status tick or the next report makes it, so that the writer never
    // waits for a save, nor for a box that a failed save shows.
    std::lock_guard<std::mutex> lock(reportLock_);
    TaskRun& task = Task(kind);
    if (task.enabled && !task.plan.isList) {
        FinishNumber(task, kind, number);
    }
}

void CRunController::OnFailureReportProblem(const CFailureReport::Problem& problem) {
    std::lock_guard<std::mutex> lock(reportLock_);
    if (IsDiskFull(problem.error)) {
        NoteDiskFull(FolderOf(failureReport_.GetPath()), problem.kind, problem.number);
    } else if (!reportProblem_) {
        reportProblem_ = problem.message;
    }
}

void CRunController::NoteDiskFull(const std::string& folder, std::int32_t kind,
                                  std::int32_t number) {
    if (!diskFull_) {
        diskFull_ = DiskFull{folder, kind, number};
    }
}

bool CRunController::AllTasksAtTheirEnd() {
    std::lock_guard<std::mutex> lock(reportLock_);
    bool any = false;
    for (const TaskRun& task : tasks_) {
        if (!task.enabled) {
            continue;
        }
        if (task.OneOff() || !task.judge.AtItsEnd()) {
            return false;
        }
        any = true;
    }
    return any;
}

std::optional<std::int32_t> CRunController::SeriesEndAt(std::int32_t kind) {
    std::lock_guard<std::mutex> lock(reportLock_);
    const TaskRun& task = Task(kind);
    return task.enabled ? task.judge.EndAt() : std::nullopt;
}

void CRunController::SaveIfDue(bool force) {
    std::unique_lock<std::mutex> saving(saveMutex_, std::defer_lock);
    // A worker never waits for another's save: the one under way, or the next, takes its change.
    if (force) {
        saving.lock();
    } else if (!saving.try_lock()) {
        return;
    }
    TaskSettings record;
    std::set<std::string> folders;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        const CRunClock::TimePoint now = clock_->Now();
        if (!recordChanged_ || (!force && now - lastSave_ < kSaveInterval)) {
            return;
        }
        record = settings_.Record();
        folders.swap(unsyncedFolders_);
        recordChanged_ = false;
        lastSave_ = now;
    }
    // The records of every exchange this record counts come first, as the documents do.
    if (const Status synced = archive_ ? archive_->Sync() : Status::Ok(); !synced.IsOk()) {
        std::lock_guard<std::mutex> lock(reportLock_);
        unsyncedFolders_.insert(folders.begin(), folders.end());
        recordChanged_ = true;
        if (IsDiskFull(synced.SystemErrorNumber())) {
            const std::int32_t kind = Task(JOB_BBS).enabled ? JOB_BBS : JOB_DOCUMENT;
            NoteDiskFull(archive_->Folder(), kind, settings_.Record().*TaskKindOf(kind).number);
        } else if (!reportProblem_) {
            reportProblem_ = "The archive cannot be made durable (" + synced.Text() +
                             "): the place is not saved past what it holds.";
        }
        return;
    }
    // The documents this record counts were made durable before they took their names; now the
    // names are, so that the saved place never stands above a document that a power cut lost.
    // A file system that refuses to make a folder durable (some refuse fsync on folders) still
    // gets its saves: holding them back would lose the place at every stop instead.
    for (const std::string& folder : folders) {
        static_cast<void>(CFileSystem::Current().SyncDirectory(folder));
    }
    if (settings_.Save(record) >= 0) {
        return;
    }
    if (IsDiskFull(settings_.LastSystemError())) {
        std::lock_guard<std::mutex> lock(reportLock_);
        const std::int32_t kind = Task(JOB_BBS).enabled ? JOB_BBS : JOB_DOCUMENT;
        NoteDiskFull(FolderOf(settings_.GetPath()), kind,
                     settings_.Record().*TaskKindOf(kind).number);
        return;
    }
    if (saveFailureReported_ || settings_.SavesWithheld()) {
        return;
    }
    saveFailureReported_ = true;
    saving.unlock();  // the box may wait for the user
    ReportError(
        FormatText("The settings file %s cannot be saved (%s). The run goes on, but the "
                   "next start may not continue where this run stops.",
                   settings_.GetPath().c_str(),
                   settings_.LastError().empty() ? "unknown reason" : settings_.LastError().c_str())
            .c_str());
}

void CRunController::FinishFiles() {
    // The lines written last finish their numbers: the last save comes after them.
    failureReportWhole_ = failureReport_.Close();
    // A number listed again, by a run that began below it, keeps only its new line. A retry's
    // list is settled by its runner, which knows what it stored.
    if (failureReportWhole_ && !listRun_) {
        if (const Status settled =
                CFailureReport::Settle(failureReport_.GetPath(), reportStart_, {}, {});
            !settled.IsOk()) {
            std::lock_guard<std::mutex> lock(reportLock_);
            reportProblem_ = reportProblem_.value_or(settled.Text());
        }
    }
    SaveIfDue(true);
    ReleaseFolder();
    TellFailureReportProblem();
}

void CRunController::SaveNow() {
    SaveIfDue(true);
}

int CRunController::PastTheEnd() {
    std::lock_guard<std::mutex> lock(reportLock_);
    int held = 0;
    for (const TaskRun& task : tasks_) {
        held += task.enabled ? static_cast<int>(task.judge.PastTheEnd()) : 0;
    }
    return held;
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

void CRunController::RefreshStatus() {
    if (ProbeTick() || !downloader_) {
        return;
    }
    CutOffWhenDue();
    if (ActOnStorageProblems() || ActOnSiteWall() || ActOnTaskStop()) {
        return;
    }
    RunCounts counts;
    counts.active = downloader_->GetActiveCount();
    counts.waiting = static_cast<int>(downloader_->GetWaitingCount());
    TaskSettings record;
    std::vector<std::pair<std::int32_t, std::int32_t>> ends;  // task, number asked again
    std::vector<std::pair<std::int32_t, std::string>> down;   // task, since when
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        counts.requested = state_.requested;
        counts.succeeded = state_.succeeded;
        counts.failed = state_.failed;
        record = settings_.Record();
        const CRunClock::TimePoint now = clock_->Now();
        for (const TaskKind& kind : kTaskKinds) {
            TaskRun& task = Task(kind.jobKind);
            if (!task.enabled) {
                continue;
            }
            if (const std::optional<std::int32_t> end = task.judge.EndAt()) {
                ends.emplace_back(kind.jobKind, *end);
            }
            if (const std::optional<CRunClock::TimePoint> since = task.judge.SiteDownSince()) {
                down.emplace_back(kind.jobKind, ClockText(now, *since));
            }
            counts.pastTheEnd += static_cast<int>(task.judge.PastTheEnd());
            counts.askedToWait += static_cast<int>(task.judge.AskedToWait());
            CTaskPace& pace = task.judge.Pace();
            if (pace.SlowedBy(now) != 0 &&
                (counts.slowedTo == 0 || pace.Rate() < counts.slowedTo)) {
                counts.slowedTo = pace.Rate();
                counts.slowedBy = pace.SlowedBy(now);
            }
        }
    }
    observer_.OnStatus(counts, record);
    for (const auto& [kind, number] : ends) {
        observer_.OnSeriesEnd(kind, number, askAgainEvery_);
    }
    for (const auto& [kind, since] : down) {
        observer_.OnSiteDown(kind, since, askAgainEvery_);
    }
    SaveIfDue(false);
}

Status CRunController::DownloadFoldersWritable() {
    CreateDownloadFolders();
    for (const TaskKind& kind : kTaskKinds) {
        const std::string path = appDirectory_ + kind.folder;
        if (const Status writable = CanCreateFilesIn(path); !writable.IsOk()) {
            return Status::Refused(
                FormatText("Documents cannot be stored in the folder %s: %s. No run was started.",
                           path.c_str(), writable.Text().c_str()));
        }
    }
    return Status::Ok();
}

void CRunController::CreateDownloadFolders() {
    for (const TaskKind& kind : kTaskKinds) {
        const std::string path = appDirectory_ + kind.folder + PathSeparator();
        // One that cannot be made is told at Start, which checks that both take files.
        if (!FileExists(path.c_str())) {
            CreateDirIfAbsent(path.c_str());
        }
    }
}

void CRunController::SetPhase(RunPhase phase) {
    phase_ = phase;
    observer_.OnPhase(phase);
}

void CRunController::Pause() {
    if (!downloader_) {
        return;
    }
    SetPhase(RunPhase::kPaused);
    downloader_->Pause();
}

void CRunController::Resume() {
    if (!downloader_) {
        return;
    }
    SetPhase(RunPhase::kRunning);
    downloader_->Resume();
}

void CRunController::Abort() {
    if (probe_.Running()) {
        // No run began yet: the look ends as a fetch does, and the next tick ends the Start.
        probeCancelled_ = true;
        generating_ = false;
        probe_.Cancel();
        ProbeTick();
        return;
    }
    if (!downloader_) {
        return;
    }
    if (downloader_->HasLiveThreads()) {
        AskWorkersToStop();
        observer_.OnWaitForWorkers();
        return;
    }
    EndRun();
}

void CRunController::AskWorkersToStop() {
    generating_ = false;
    downloader_->StopAll();
    // A server that never answers must not hold the run for ever: the grace is timed on the
    // run's clock, and on the fetcher's own should the front end's ticks stop.
    const std::chrono::milliseconds delay(std::int64_t{downloader_->GetFetcher().GetTimeout()} *
                                          1000);
    const std::chrono::milliseconds grace = std::max(delay, kMinimumStopGrace);
    if (!cutOffAt_) {
        cutOffAt_ = clock_->Now() + grace;
    }
    downloader_->CutOffFetchesAfter(grace);
}

void CRunController::CutOffWhenDue() {
    if (cutOffAt_ && clock_->Now() >= *cutOffAt_) {
        downloader_->CutOffFetchesAfter(std::chrono::milliseconds(0));
    }
}

void CRunController::EndRun() {
    SetPhase(RunPhase::kIdle);
    downloader_->Drain();
    {
        // What the judges kept back and is failures after all goes into failed.txt, before it
        // is closed.
        std::lock_guard<std::mutex> lock(reportLock_);
        for (const TaskKind& kind : kTaskKinds) {
            for (const CSeriesEnd::Missing& failure : Task(kind.jobKind).judge.Release()) {
                Count(JOB_FAILED, kind.jobKind, failure.number, failure.url.c_str(), failure.reason,
                      {});
            }
        }
    }
    downloader_->Teardown();
    downloader_.reset();
    FinishFiles();
}

void CRunController::TellFailureReportProblem() {
    std::optional<std::string> problem;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        problem.swap(reportProblem_);
    }
    if (problem) {
        ReportError(problem->c_str());
    }
}

bool CRunController::ActOnSiteWall() {
    std::optional<std::string> wall;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        wall = siteWall_;
    }
    if (!wall) {
        return false;
    }
    if (onSiteWall_ == RunRequest::SiteWall::kStop) {
        if (!StopAndEndWhenIdle(stopAskedAtWall_)) {
            return false;
        }
        stoppedAtWall_ = true;
        observer_.OnSiteWall(*wall);
        return true;
    }
    if (phase_ == RunPhase::kRunning) {
        Pause();
        observer_.OnSiteWall(*wall);
    }
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        siteWall_.reset();  // told once; a wall met again after Resume is told again
    }
    return false;
}

bool CRunController::StopAndEndWhenIdle(bool& asked) {
    if (!asked) {
        asked = true;
        AskWorkersToStop();
    }
    if (downloader_->HasLiveThreads()) {
        return false;
    }
    EndRun();
    return true;
}

bool CRunController::ActOnTaskStop() {
    std::optional<std::string> message;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        for (const TaskKind& kind : kTaskKinds) {
            const TaskRun& task = Task(kind.jobKind);
            if (task.enabled && task.judge.Stopped()) {
                if (!stop_) {
                    stop_ = *task.judge.Stopped();
                    stop_->message = std::string(kind.reportName) + ": " + stop_->message;
                }
            }
        }
        if (stop_) {
            message = stop_->message;
        }
    }
    if (!message || !StopAndEndWhenIdle(stopAskedByTask_)) {
        return false;
    }
    observer_.OnRunStopped(*message);
    return true;
}

bool CRunController::ActOnStorageProblems() {
    TellFailureReportProblem();
    bool diskFull;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        diskFull = diskFull_.has_value();
    }
    if (!diskFull) {
        return false;
    }
    if (!StopAndEndWhenIdle(stoppedForDiskFull_)) {
        return false;
    }
    DiskFull full;
    std::int32_t stoppedAt;
    {
        std::lock_guard<std::mutex> lock(reportLock_);
        full = *diskFull_;
        const TaskRun& task = Task(full.kind);
        stoppedAt = task.enabled && !task.plan.isList ? task.resume.Lowest() : full.number;
    }
    observer_.OnRunStopped(
        FormatText("the disk holding %s is full: the run stopped at %d; nothing was lost",
                   full.folder.c_str(), stoppedAt));
    return true;
}

RunState CRunController::Snapshot() {
    std::lock_guard<std::mutex> lock(reportLock_);
    return state_;
}

std::string RunCounts::Line() const {
    std::string line = FormatText(
        "Requested : %d - Successed : %d - Failed : %d - Waitting : %d - Active Thread : %d",
        requested, succeeded, failed, waiting, active);
    if (pastTheEnd > 0) {
        line += FormatText(" - Past the end : %d", pastTheEnd);
    }
    if (askedToWait > 0) {
        line += FormatText(" - Asked to wait : %d", askedToWait);
    }
    if (slowedTo > 0) {
        line += FormatText(" - slowed to %d/s after %d", slowedTo, slowedBy);
    }
    return line;
}
