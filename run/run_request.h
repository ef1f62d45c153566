#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/downloader.h"
#include "engine/warc_archive.h"
#include "run/series_end.h"
#include "run/task_plan.h"

// The most documents a task asks for in a second: one each 10 ms tick of the generator.
inline constexpr int kGeneratorRate = 100;

// The most missing numbers in a row that may end a series, and the longest time between two
// questions at its end.
inline constexpr int kMostEndAfter = 1000000;
inline constexpr int kMostPollSeconds = 86400;

// The web archive's folder in the data folder.
inline constexpr const char* kArchiveFolder = "archive";

// What one task fetches in a run.
struct TaskRequest {
    bool enabled = false;
    std::int32_t first = 0;  // where an open run or a range starts
    TaskPlan plan;           // open-ended unless a range's end or a list is given
};

// Everything a front end tells the controller at Start.
struct RunRequest {
    TaskRequest bbs;
    TaskRequest document;
    int delaySeconds = 0;  // the limit of each network wait; 0 or less: none
    // An open task is at the end of its series after this many missing numbers in a row, and
    // then asks for the first of them again this often.
    int endAfter = CSeriesEnd::kDefaultEndAfter;
    std::chrono::milliseconds askAgainEvery{std::chrono::seconds(60)};
    // New numbers asked for per second and task, at most kGeneratorRate.
    int ratePerSecond = kGeneratorRate;
    // The exchange for http:// and https:// base URLs (see CHttpGetter::SetVersions).
    HttpVersion httpVersion = HttpVersion::k10;
    HttpVersion httpsVersion = HttpVersion::k11;
    HttpOptions http;  // headers, User-Agent, cookies and redirects
    // What a login wall (401, 403 or a redirect to a login page once a task has stored a
    // document) or a fifth bot check does: pause the run until Resume, fail the numbers as any
    // refusal, or stop the run.
    enum class SiteWall { kPause, kFail, kStop };
    SiteWall onSiteWall = SiteWall::kPause;
    // What marks a page of each task missing although it came with a 2xx status.
    PageRules bbsPage, documentPage;
    // A run that waits at the ends of its series (novudl --follow) does not start where the
    // start's probe finds an end that cannot be seen.
    bool needsVisibleEnds = false;

    // Whether the run keeps a web archive of its exchanges, and how large its files grow.
    struct Archive {
        bool warc = false;
        std::int64_t maxFileBytes = std::int64_t{CWarcArchive::kDefaultMaxMib} << 20;
    };
    Archive archive;

    // Where each task's documents go below its folder; empty: "<n/1000>/<n>" and its extension.
    std::string bbsPath, documentPath;

    TaskRequest& Task(std::int32_t jobKind) { return jobKind == JOB_BBS ? bbs : document; }
    const TaskRequest& Task(std::int32_t jobKind) const {
        return jobKind == JOB_BBS ? bbs : document;
    }
    const PageRules& Page(std::int32_t jobKind) const {
        return jobKind == JOB_BBS ? bbsPage : documentPage;
    }
    const std::string& PathTemplate(std::int32_t jobKind) const {
        return jobKind == JOB_BBS ? bbsPath : documentPath;
    }
};
