#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/downloader.h"
#include "run/task_settings.h"

// Everything that differs between the two tasks, in one place: where their documents come from
// and go, and which fields of the settings record are theirs.
struct TaskKind {
    std::int32_t jobKind;       // JOB_BBS or JOB_DOCUMENT, as JobTag carries it
    const char* reportName;     // the task's word in failed.txt
    const char* folder;         // the download folder in the data folder
    const char* urlExtension;   // of the document on the site
    const char* fileExtension;  // of the stored document
    std::string TaskSettings::*url;
    std::int32_t TaskSettings::*enabled;
    std::int32_t TaskSettings::*number;
};

inline constexpr TaskKind kTaskKinds[] = {
    {JOB_BBS, "bbs", "xml_file", ".xml", ".xml", &TaskSettings::bbsUrl, &TaskSettings::bbsEnabled,
     &TaskSettings::bbsNumber},
    {JOB_DOCUMENT, "document", "html_file", ".shtm", ".htm", &TaskSettings::documentUrl,
     &TaskSettings::documentEnabled, &TaskSettings::documentNumber},
};

// The table entry of a job kind; an unknown kind is the Document task's, as a tag that is not
// BBS always was.
inline const TaskKind& TaskKindOf(std::int32_t jobKind) {
    return jobKind == JOB_BBS ? kTaskKinds[0] : kTaskKinds[1];
}

// The table entry of a task's word in failed.txt; null for any other word.
inline const TaskKind* TaskKindNamed(std::string_view reportName) {
    for (const TaskKind& kind : kTaskKinds) {
        if (reportName == kind.reportName) {
            return &kind;
        }
    }
    return nullptr;
}
