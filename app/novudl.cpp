// novudl: the downloads of NOVUDownLoad without a window, for servers and scripts. The same run
// controller, workers, settings file and folders as the window; a range or a list of numbers may
// end a run by itself; Ctrl-C stops it as Abort does.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/progress_line.h"
#include "app/service_report.h"
#include "engine/cookie_jar.h"
#include "engine/socket_platform.h"
#include "run/extended_settings.h"
#include "run/run_controller.h"
#include "run/run_driver.h"
#include "run/task_kind.h"
#include "support/data_location.h"
#include "support/debug_log.h"
#include "support/decimal.h"
#include "support/file_helpers.h"
#include "support/file_platform.h"
#include "support/folder_lock.h"
#include "support/text_format.h"

namespace {

enum ExitStatus {
    kAllStored = 0,
    kSomeFailed = 1,
    kBadArguments = 2,
    kStorageUnwritable = 3,
    kStoppedAtSiteWall = 4,
    kEveryDocumentFails = 5,
    kInterrupted = 130,
};

volatile std::sig_atomic_t g_interrupts = 0;

void OnInterrupt(int) {
    // The first Ctrl-C stops the run as Abort does; the second ends the process at once, once
    // the main loop has saved the lowest number not finished (a third does not wait for that).
    // No document is under its final name before it is whole.
    g_interrupts = g_interrupts + 1;
    if (g_interrupts >= 3) {
        std::_Exit(kInterrupted);
    }
}

struct Range {
    std::int32_t first = 0;
    std::int32_t last = 0;
};

// "A-B" (both included) or "A+N" (N numbers from A); false for anything else.
bool ParseRange(const std::string& text, Range& range) {
    const std::size_t mark = text.find_first_of("-+", 1);
    if (mark == std::string::npos || mark + 1 >= text.size() || text[mark + 1] == '-') {
        return false;
    }
    const std::optional<long long> first = ParseDecimal<long long>(text.substr(0, mark));
    const std::optional<long long> value = ParseDecimal<long long>(text.substr(mark + 1));
    if (!first || !value || *first < 0 || *first > INT32_MAX) {
        return false;
    }
    const long long last = text[mark] == '-' ? *value : *first + *value - 1;
    if (last < *first || last > INT32_MAX) {
        return false;
    }
    range = {static_cast<std::int32_t>(*first), static_cast<std::int32_t>(last)};
    return true;
}

// A run on a terminal: the counts go to the progress line, and what keeps a run from starting
// to standard error. Job reports and the notices of the window's way of working are not shown.
class CTerminalObserver : public CRunObserver {
  public:
    // `follow`: the run waits at the end of a series, which is then worth telling.
    CTerminalObserver(CProgressLine& progress, CServiceNotifier& notifier, bool follow)
        : progress_(progress), notifier_(notifier), follow_(follow) {}

    void OnSettings(const TaskSettings&) override {}
    void OnStatus(const RunCounts& counts, const TaskSettings&) override {
        outputGone_ = outputGone_ || platform::OutputGone(stdout);
        if (!outputGone_) {
            progress_.Update(counts.Line(), counts.succeeded + counts.failed);
        }
        notifier_.Status(counts.Line());
    }
    void OnJobReport(const std::string&, JobOutcome) override {}
    void OnPhase(RunPhase) override {}
    void OnStartRefused(const std::string& reason) override { Say(Priority::kError, reason); }
    void OnRunStopped(const std::string& reason) override {
        progress_.Clear();
        Say(Priority::kError, reason);
    }
    void OnSiteWall(const std::string& message) override {
        progress_.Clear();
        Say(Priority::kWarning,
            message + (waitsAtWalls_ ? " (the run is paused; Ctrl-C stops it)" : ""));
    }
    void SetWaitsAtWalls(bool waits) { waitsAtWalls_ = waits; }
    void OnWarning(const std::string& text) override {
        progress_.Clear();
        Say(Priority::kWarning, "warning: " + text);
    }
    // Said once for each new end of a run that follows its series.
    void OnSeriesEnd(std::int32_t jobKind, std::int32_t number,
                     std::chrono::milliseconds askAgainEvery) override {
        std::int32_t& told = jobKind == JOB_BBS ? bbsEndTold_ : documentEndTold_;
        if (!follow_ || told == number || outputGone_) {
            return;
        }
        told = number;
        progress_.Clear();
        Say(Priority::kInfo, FormatText("%s: end of the series at %d, asking again every %lld s",
                                        TaskKindOf(jobKind).reportName, number,
                                        static_cast<long long>(askAgainEvery.count() / 1000)));
    }

    // Said once for each outage of a task's site.
    void OnSiteDown(std::int32_t jobKind, const std::string& since,
                    std::chrono::milliseconds askAgainEvery) override {
        std::string& told = jobKind == JOB_BBS ? bbsDownTold_ : documentDownTold_;
        if (told == since || outputGone_) {
            return;
        }
        told = since;
        progress_.Clear();
        Say(Priority::kWarning,
            FormatText("%s: site not answering since %s, asking again every %lld s",
                       TaskKindOf(jobKind).reportName, since.c_str(),
                       static_cast<long long>(askAgainEvery.count() / 1000)));
    }

    // Standard output went away (a reader that left): the run stops as Ctrl-C stops it.
    bool OutputGone() const { return outputGone_; }

  private:
    CProgressLine& progress_;
    CServiceNotifier& notifier_;
    const bool follow_;
    bool outputGone_ = false;
    bool waitsAtWalls_ = true;
    std::int32_t bbsEndTold_ = -1, documentEndTold_ = -1;
    std::string bbsDownTold_, documentDownTold_;
};

// After a retry, stopped or not: the numbers stored leave failed.txt, and those never tried are
// written there again, so that no number leaves the lists before it is stored.
void SettleRetry(CRunController& controller, const std::string& report, std::uint64_t runStart,
                 const std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>>& lists) {
    std::vector<CFailureReport::Entry> stored, notTried;
    for (const auto& [kind, numbers] : lists) {
        const std::set<std::int32_t> done = controller.StoredNumbers(kind);
        const std::set<std::int32_t> tried = controller.TriedNumbers(kind);
        for (const std::int32_t number : numbers) {
            const std::string url = controller.UrlOf(kind, number);
            if (done.count(number) != 0) {
                stored.push_back({kind, number, url});
            } else if (tried.count(number) == 0) {
                notTried.push_back({kind, number, url});
            }
        }
    }
    if (const Status settled = CFailureReport::Settle(report, runStart, stored, notTried);
        !settled.IsOk()) {
        Say(Priority::kError, settled.Text());
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    // With a standard stream closed, the first file opened would take its place and receive
    // the messages meant for it.
    platform::EnsureStandardStreams();
#ifdef SIGPIPE
    // A reader that goes away must not kill the run: the run stops as Ctrl-C stops it.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    CLI::App app{"Fetches the forum topics and articles of NOVUDownLoad without a window.",
                 "novudl"};
    app.set_version_flag("--version", "novudl 1.0");
    std::string bbsText, documentText, retryPath, dataFolder, userAgent, cookieFile;
    std::vector<std::string> headerLines;
    std::string missingIfBody, missingIfUrl, wallIfBody, expect, onLoginWall = "wait";
    bool saveCookies = false;
    int delay = 0;
    // The window's values: a run without options is the run the window makes.
    const RunRequest defaults;
    int endAfter = defaults.endAfter;
    int pollSeconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::seconds>(defaults.askAgainEvery).count());
    int rate = defaults.ratePerSecond;
    int maxRedirects = defaults.http.maxRedirects;
    int maxDocumentMib = HttpOptions::kDefaultMaxDocumentMib;
    bool follow = false, http11 = false, http10 = false, warc = false;
    std::int32_t fromBbs = -1, fromDocument = -1, check = -1;
    CLI::Option* bbsOption = app.add_option(
        "--bbs", bbsText, "fetch exactly these forum topics: A-B, or A+N (N from A)");
    CLI::Option* documentOption =
        app.add_option("--doc", documentText, "fetch exactly these articles: A-B, or A+N");
    CLI::Option* delayOption = app.add_option(
        "--delay", delay,
        "seconds that each network wait may take; 0: no limit (default: the settings file's)");
    CLI::Option* retryOption =
        app.add_option("--retry", retryPath,
                       "fetch again the numbers listed in a failure report (failed.txt); a "
                       "number leaves failed.txt only once it is stored")
            ->excludes(bbsOption)
            ->excludes(documentOption);
    // A new place for a plain run: never together with a range or a retry.
    const auto addPlace = [&](const char* name, std::int32_t& number, const char* what) {
        app.add_option(name, number,
                       std::string("a plain run whose ") + what +
                           " start at this number (saved as the place to go on from)")
            ->check(CLI::Range(0, INT32_MAX))
            ->excludes(bbsOption)
            ->excludes(documentOption)
            ->excludes(retryOption);
    };
    addPlace("--from-bbs", fromBbs, "forum topics");
    addPlace("--from-doc", fromDocument, "articles");
    app.add_option("--check", check,
                   "fetch number N of each enabled task once, store nothing, and say what a run "
                   "would do with it and why: stored (its size and type), missing (which rule), "
                   "a login wall, a wait, or the failure (exit status 0 when each would be stored)")
        ->check(CLI::Range(0, INT32_MAX))
        ->excludes(bbsOption)
        ->excludes(documentOption)
        ->excludes(retryOption);
    app.add_flag("--follow", follow,
                 "a plain run that reaches the end of its series waits there and asks again, "
                 "until Ctrl-C (without it, the run ends once every task is at its end)")
        ->excludes(bbsOption)
        ->excludes(documentOption)
        ->excludes(retryOption);
    CLI::Option* endAfterOption =
        app.add_option("--end-after", endAfter,
                       "missing numbers in a row that mark the end of a series (default 100)")
            ->check(CLI::Range(1, kMostEndAfter));
    CLI::Option* pollOption =
        app.add_option("--poll", pollSeconds,
                       "seconds between two questions for the first missing number of a series "
                       "at its end (default 60)")
            ->check(CLI::Range(1, kMostPollSeconds));
    CLI::Option* http11Option = app.add_flag(
        "--http1.1", http11,
        "http:// too over HTTP/1.1 and kept connections (https:// always is, unless --http1.0)");
    app.add_flag("--http1.0", http10,
                 "https:// too over HTTP/1.0, one connection per document (as http:// is, unless "
                 "--http1.1)")
        ->excludes(http11Option);
    CLI::Option* rateOption =
        app.add_option("--rate", rate,
                       "new documents asked for per second and task (default and most: 100)")
            ->check(CLI::Range(1, kGeneratorRate));
    app.add_option("--data", dataFolder,
                   "keep the settings, documents, failed.txt, debug.txt and the lock in this "
                   "folder (made when missing) instead of the program's own");
    CLI::Option* userAgentOption =
        app.add_option("--user-agent", userAgent, "the User-Agent sent with every request");
    CLI::Option* headerOption = app.add_option(
        "--header", headerLines, "\"Name: value\" sent with every request (again for more)");
    app.add_option("--cookies", cookieFile,
                   "send the cookies of this cookie file (Netscape format, as curl and the "
                   "browsers' export tools write it)");
    app.add_flag("--save-cookies", saveCookies,
                 "write the cookies back to their file at the end, with those the site set");
    CLI::Option* missingIfBodyOption = app.add_option(
        "--missing-if-body", missingIfBody,
        "a page whose first 64 KiB match this regular expression is missing, as a 404 is "
        "(for sites that answer 200 with \"topic not found\")");
    CLI::Option* missingIfUrlOption = app.add_option(
        "--missing-if-url", missingIfUrl,
        "a page whose URL, after redirects, matches this regular expression is missing");
    CLI::Option* expectOption = app.add_option(
        "--expect", expect,
        "xml, html or any: a page with a Content-Type of another kind is missing; or media "
        "types, comma-separated (text/x-wiki): a page of another type fails, and never replaces "
        "a stored document");
    CLI::Option* wallIfBodyOption = app.add_option(
        "--wall-if-body", wallIfBody,
        "a page whose first 64 KiB match this regular expression is a login page: a login wall, "
        "as a 401 or 403 is (see --on-login-wall)");
    app.add_option("--on-login-wall", onLoginWall,
                   "when a site that gave documents starts asking for a login (401, 403, a "
                   "redirect to a login page) or shows a bot check five times: wait (paused, "
                   "until Ctrl-C; the default), fail (each number as any refusal) or stop (exit "
                   "status 4, the place to go on from saved)")
        ->check(CLI::IsMember({"wait", "fail", "stop"}));
    CLI::Option* redirectsOption =
        app.add_option("--max-redirects", maxRedirects,
                       "redirects on the same site followed over HTTP/1.1 (default 5)")
            ->check(CLI::Range(0, HttpOptions::kMostRedirects));
    app.add_flag("--warc", warc,
                 "keep a web archive too: every request and answer as WARC records in "
                 "archive/NOVUDownLoad-<start>-<serial>.warc.gz, with a CDXJ index beside each "
                 "finished file (as [archive] warc = true in NOVUDownLoad.toml)");
    CLI::Option* documentMibOption =
        app.add_option("--max-document-mib", maxDocumentMib,
                       "the largest document stored, in MiB after decoding (default 256); a "
                       "larger one fails and leaves no file")
            ->check(CLI::Range(1, HttpOptions::kMostDocumentMib));
    app.footer(
        "Without --bbs, --doc or --retry, each task enabled in the settings file continues where "
        "the last run stopped, until the end of its series: 100 numbers in a row that the site "
        "does not have (404 or 410). Those are not failures; the next run starts at the first of "
        "them. Such a run first asks for two numbers far past its start, for 10 s at most (or "
        "the delay), to see whether the site answers 200 for what it does not have. A single "
        "missing number below stored ones is a failure. A site that answers 429 or "
        "503 "
        "is left alone for the time its Retry-After names (30 s without one, 600 s at most) and "
        "the document asked again; the fifth such answer fails it. Ranges and --retry are "
        "one-off runs: they leave the "
        "saved place and the task flags as they are; --from-bbs and --from-doc set a new "
        "place.\nCtrl-C stops the run as Abort does; a second "
        "Ctrl-C saves the place and ends it at once.\nExit status: 0 every document stored, 1 some "
        "failed (listed in "
        "failed.txt), 2 bad arguments (or a page rule that marks every page missing), 3 the "
        "download folders cannot be written, another run uses them, or the disk became full (the "
        "run stops, the place to continue from saved), 4 stopped at a login wall "
        "(--on-login-wall stop), 5 the first 20 documents of a task all failed the same way "
        "before any was stored (the run stops and says what helps), 130 "
        "interrupted (or standard output went away).\nBase URLs may be http:// or "
        "https:// (certificates are checked against the "
        "system's store; SSL_CERT_FILE or SSL_CERT_DIR name a private CA). http:// sends "
        "\"GET <URL> HTTP/1.0\" and a blank line, one connection per document; https:// speaks "
        "HTTP/1.1 and keeps each worker's connection for the next document (--http1.1 and "
        "--http1.0 change either); HTTP/1.1 asks for gzip, and a gzip answer is stored decoded "
        "(over "
        "HTTP/1.0 add --header 'Accept-Encoding: gzip' to ask for it). The environment's "
        "proxy is used: http_proxy for http, https_proxy or HTTPS_PROXY for https, no_proxy or "
        "NO_PROXY for hosts reached directly.\nNOVUDownLoad.toml in the data folder may set "
        "URL and path templates, headers, cookies and the run's pace; these options override "
        "it for one run.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? kAllStored : kBadArguments;
    }
    Range bbsRange, documentRange;
    const bool bbsGiven = !bbsText.empty(), documentGiven = !documentText.empty();
    const std::string* refused = bbsGiven && !ParseRange(bbsText, bbsRange) ? &bbsText
                                 : documentGiven && !ParseRange(documentText, documentRange)
                                     ? &documentText
                                     : nullptr;
    if (refused != nullptr) {
        Say(Priority::kError,
            FormatText("a range is A-B or A+N, with 0 <= A <= B, not \"%s\"", refused->c_str()));
        return kBadArguments;
    }

    net::StartSocketLibrary();
    DataLocation location;
    if (dataFolder.empty()) {
        location = ChooseDataLocationOfThisProgram();
    } else if (const Status chosen = ChooseDataFolder(dataFolder, location); !chosen.IsOk()) {
        Say(Priority::kError, chosen.Text());
        return kStorageUnwritable;
    }
    const bool terminal = platform::IsTerminal(stdout);
    CProgressLine progress(stdout, terminal);
    SetErrorBoxHook([&progress](const std::string&, const std::string& text) {
        progress.Clear();
        Say(Priority::kError, text);
        return 1;
    });
    CServiceNotifier notifier;
    CTerminalObserver observer(progress, notifier, follow);
    CRunController controller(observer, location.directory);
    controller.Open();
    const TaskSettings& record = controller.Settings().Record();
    RunRequest request;
    request.delaySeconds = delayOption->count() > 0 ? delay : record.timeout;
    if (const Status read = controller.ReadExtendedSettings(request); !read.IsOk()) {
        Say(Priority::kError, read.Text());
        return kBadArguments;
    }
    // The options override the extended settings for this run.
    if (endAfterOption->count() > 0) {
        request.endAfter = endAfter;
    }
    if (pollOption->count() > 0) {
        request.askAgainEvery = std::chrono::seconds(pollSeconds);
    }
    if (rateOption->count() > 0) {
        request.ratePerSecond = rate;
    }
    if (http11) {
        request.httpVersion = request.httpsVersion = HttpVersion::k11;
    }
    if (http10) {
        request.httpVersion = request.httpsVersion = HttpVersion::k10;
    }
    if (userAgentOption->count() > 0) {
        request.http.userAgent = userAgent;
    }
    if (redirectsOption->count() > 0) {
        request.http.maxRedirects = maxRedirects;
    }
    if (documentMibOption->count() > 0) {
        request.http.maxDocumentBytes = std::int64_t{maxDocumentMib} << 20;
    }
    request.archive.warc = request.archive.warc || warc;
    if (headerOption->count() > 0) {
        request.http.headers.clear();
        for (const std::string& line : headerLines) {
            std::string why;
            const auto header = ParseHeaderLine(line, &why);
            if (!header) {
                Say(Priority::kError, FormatText("--header \"%s\": %s", line.c_str(), why.c_str()));
                return kBadArguments;
            }
            request.http.headers.push_back(*header);
        }
    }
    if (!cookieFile.empty()) {
        std::vector<std::string> warnings;
        const Status loaded = LoadCookieFile(cookieFile, request.http, warnings);
        for (const std::string& warning : warnings) {
            observer.OnWarning(warning);
        }
        if (!loaded.IsOk()) {
            Say(Priority::kError, loaded.Text());
            return kBadArguments;
        }
    }
    request.onSiteWall = onLoginWall == "fail"   ? RunRequest::SiteWall::kFail
                         : onLoginWall == "stop" ? RunRequest::SiteWall::kStop
                                                 : RunRequest::SiteWall::kPause;
    observer.SetWaitsAtWalls(request.onSiteWall == RunRequest::SiteWall::kPause);
    ExtendedSettings::MissingPage missing;
    if (missingIfBodyOption->count() > 0) {
        missing.ifBody = missingIfBody;
    }
    if (missingIfUrlOption->count() > 0) {
        missing.ifUrl = missingIfUrl;
    }
    if (wallIfBodyOption->count() > 0) {
        missing.wallIfBody = wallIfBody;
    }
    if (expectOption->count() > 0) {
        std::vector<std::string> values;
        for (std::size_t from = 0; from <= expect.size();) {
            const std::size_t comma = std::min(expect.find(',', from), expect.size());
            values.push_back(expect.substr(from, comma - from));
            from = comma + 1;
        }
        missing.expect = std::move(values);
    }
    if (const Status applied = ApplyMissingPageOptions(missing, request); !applied.IsOk()) {
        Say(Priority::kError, applied.Text());
        return kBadArguments;
    }
    if (saveCookies && !request.http.cookies) {
        Say(Priority::kError,
            "--save-cookies needs a cookie file (--cookies, or http.cookies in NOVUDownLoad.toml)");
        return kBadArguments;
    }

    std::vector<std::pair<std::int32_t, std::vector<std::int32_t>>> retryList;
    if (!retryPath.empty()) {
        std::vector<std::int32_t> bbs, documents;
        if (const Status read = CFailureReport::ReadNumbers(retryPath, bbs, documents);
            !read.IsOk()) {
            Say(Priority::kError, read.Text());
            return kBadArguments;
        }
        request.bbs = {!bbs.empty(), 0, TaskPlan::List(bbs)};
        request.document = {!documents.empty(), 0, TaskPlan::List(documents)};
        retryList = {{JOB_BBS, std::move(bbs)}, {JOB_DOCUMENT, std::move(documents)}};
    } else if (bbsGiven || documentGiven) {
        request.bbs = {bbsGiven, bbsRange.first, TaskPlan::UpTo(bbsRange.last)};
        request.document = {documentGiven, documentRange.first, TaskPlan::UpTo(documentRange.last)};
    } else {
        // A plain run goes on from the saved place, or from a new one where it is given; either is
        // what it saves.
        for (const TaskKind& kind : kTaskKinds) {
            const std::int32_t from = kind.jobKind == JOB_BBS ? fromBbs : fromDocument;
            request.Task(kind.jobKind) = {from >= 0 || record.*kind.enabled != 0,
                                          from >= 0 ? from : record.*kind.number, TaskPlan::Open()};
        }
    }

    if (check >= 0) {
        bool wouldStore = false;
        for (const std::string& line : controller.CheckNumber(request, check, wouldStore)) {
            std::printf("%s\n", line.c_str());
        }
        return wouldStore ? kAllStored : kSomeFailed;
    }
    // Where this run's own lines in failed.txt begin.
    const std::string report = location.directory + kFailureReportName;
    std::error_code sizeError;
    const std::uint64_t reportSizeAtStart =
        IsRegularFile(report.c_str()) ? std::filesystem::file_size(report, sizeError) : 0;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    // A plain run first looks far past the start of each series: a site that answers 200 there
    // hides its end, which is said once; a run that would follow such a series for ever does
    // not start.
    if (retryList.empty() && !bbsGiven && !documentGiven) {
        request.needsVisibleEnds = follow;
        controller.StartAfterProbe(request);
    } else {
        controller.Start(request);
    }
    if (!controller.HasRun()) {
        return kStorageUnwritable;
    }
    notifier.Ready();
    const auto endNow = [&] {
        if (g_interrupts >= 2) {
            controller.SaveNow();  // where the next run goes on, as far as the run has come
            std::_Exit(kInterrupted);
        }
    };
    DriveRunToItsEnd(
        controller,
        [&] {
            if (g_interrupts > 0) {
                progress.Clear();
                notifier.Stopping();
                Say(Priority::kNotice,
                    "stopping after the documents in progress (Ctrl-C again to end at once)");
            }
            return g_interrupts > 0 || observer.OutputGone() || controller.AllJobsReported() ||
                   (!follow && controller.AllTasksAtTheirEnd());
        },
        endNow);
    notifier.Stopping();
    progress.Finish();
    if (controller.RefusedForHiddenEnd()) {
        Say(Priority::kError, "--follow would wait for an end it cannot see");
        return kBadArguments;
    }
    if (saveCookies) {
        const std::string cookies = request.http.cookies->Text();
        if (const Status saved = ReplaceWholeFile(request.http.cookieFile.c_str(), cookies.data(),
                                                  static_cast<int>(cookies.size()));
            !saved.IsOk()) {
            Say(Priority::kError,
                FormatText("the cookies cannot be saved to %s: %s", request.http.cookieFile.c_str(),
                           saved.Text().c_str()));
        }
    }

    if (!retryList.empty()) {
        SettleRetry(controller, report, reportSizeAtStart, retryList);
    }
    const RunState state = controller.Snapshot();
    const int pastTheEnd = controller.PastTheEnd();
    std::printf("%d requested, %d stored, %d failed%s\n", state.requested, state.succeeded,
                state.failed,
                pastTheEnd > 0 ? FormatText(", %d past the end", pastTheEnd).c_str() : "");
    // Named only when it holds them: a report that could not be written was told about.
    if (state.failed > 0 && controller.FailureReportWhole()) {
        std::printf("the failed numbers and why: %s\n", report.c_str());
    }
    for (const TaskKind& kind : kTaskKinds) {
        if (const std::optional<std::int32_t> end = controller.SeriesEndAt(kind.jobKind)) {
            std::printf("%s: end of the series at %d (the next run asks for it first)\n",
                        kind.reportName, *end);
        }
    }
    if (controller.StoppedForDiskFull()) {
        return kStorageUnwritable;
    }
    if (controller.StoppedAtSiteWall()) {
        return kStoppedAtSiteWall;
    }
    if (const std::optional<CTaskJudge::Stop::Why> why = controller.StoppedByTask()) {
        // A rule that takes every page is the user's to mend, as a bad argument is.
        return *why == CTaskJudge::Stop::Why::kStorm ? kEveryDocumentFails : kBadArguments;
    }
    if (g_interrupts > 0 || observer.OutputGone()) {
        return kInterrupted;
    }
    return state.failed > 0 ? kSomeFailed : kAllStored;
}
