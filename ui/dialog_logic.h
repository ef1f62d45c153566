#pragma once

#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "run/run_controller.h"
#include "run/run_observer.h"
#include "run/run_request.h"
#include "run/task_settings.h"
#include "ui/main_dialog_template.h"

// What both window layers do alike with the main dialog's controls, without a toolkit.

// An edit box's text as a signed decimal integer: blanks around it and a leading plus allowed;
// anything else, or a value out of range, reads as 0.
inline int DialogInt(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() ? value : 0;
}

// The entries of the main dialog as the user left them.
struct DialogEntries {
    bool bbsTicked = false;
    int bbsDirectory = 0, bbsFile = 0;
    bool documentTicked = false;
    int documentDirectory = 0, documentFile = 0;
    int delay = 0;
};

// What Start hands the run controller: the ticked tasks from their entries, open-ended.
inline RunRequest RequestFrom(const DialogEntries& entries) {
    RunRequest request;
    request.bbs = {entries.bbsTicked, ComposeNumber(entries.bbsDirectory, entries.bbsFile),
                   TaskPlan::Open()};
    request.document = {entries.documentTicked,
                        ComposeNumber(entries.documentDirectory, entries.documentFile),
                        TaskPlan::Open()};
    request.delaySeconds = entries.delay;
    return request;
}

// A control and what it shows: a number box's value, or a check box's state (0 or 1).
using ControlValue = std::pair<int, int>;

// The task check boxes and number boxes as a record shows them.
inline std::array<ControlValue, 6> PlaceOf(const TaskSettings& record) {
    return {{{IDC_BBS_CHECK, record.bbsEnabled != 0 ? 1 : 0},
             {IDC_BBS_DIRECTORY, DirectoryPart(record.bbsNumber)},
             {IDC_BBS_FILE, FilePart(record.bbsNumber)},
             {IDC_DOCUMENT_CHECK, record.documentEnabled != 0 ? 1 : 0},
             {IDC_DOCUMENT_DIRECTORY, DirectoryPart(record.documentNumber)},
             {IDC_DOCUMENT_FILE, FilePart(record.documentNumber)}}};
}

// Which of the five buttons a phase enables (1) or disables (0).
inline std::array<ControlValue, 5> ButtonsFor(RunPhase phase) {
    const bool running = phase != RunPhase::kIdle;
    const bool paused = phase == RunPhase::kPaused;
    return {{{IDC_START, !running},
             {IDC_PAUSE, running && !paused},
             {IDC_RESUME, running && paused},
             {IDC_ABORT, running},
             {IDCANCEL_BUTTON, !running}}};
}

// What a tick of the window's timers asks of the run.
inline void OnRunTimer(CRunController& controller, int timerId) {
    if (timerId == TIMER_GENERATE) {
        controller.GenerateJobs();
    } else if (timerId == TIMER_STATUS) {
        controller.RefreshStatus();
    }
}

// The detail line of a finished job.
inline const char* OutcomeText(JobOutcome outcome) {
    return outcome == JobOutcome::kStored   ? "Success"
           : outcome == JobOutcome::kFailed ? "Fail"
                                            : "Cancelled";
}

// The status line of a task at the end of its series.
inline std::string SeriesEndText(std::int32_t jobKind, std::int32_t number,
                                 std::chrono::milliseconds askAgainEvery) {
    return std::string(jobKind == JOB_BBS ? "BBS" : "Document") + ": end of the series at " +
           std::to_string(number) + ", asking again every " +
           std::to_string(askAgainEvery.count() / 1000) + " s";
}

// The status line of a task whose site does not answer.
inline std::string SiteDownText(std::int32_t jobKind, const std::string& since,
                                std::chrono::milliseconds askAgainEvery) {
    return std::string(jobKind == JOB_BBS ? "BBS" : "Document") + ": site not answering since " +
           since + ", asking again every " + std::to_string(askAgainEvery.count() / 1000) + " s";
}
