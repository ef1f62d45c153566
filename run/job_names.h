#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "run/number_template.h"

// Where one document comes from and where it goes.
struct JobNames {
    std::string folder;  // the folder that holds `file`: "<app>xml_file/<n/1000>" by default
    std::string url;     // "<base>/<n/1000>/<n>.xml" or "<base>/<n/1000>/<n>.shtm" by default
    std::string file;    // "<folder>/<n>.xml" or "<folder>/<n>.htm" by default
};

// How one task names its documents. The URL is a base URL, under which documents lie at
// "/<n/1000>/<n>.xml" (".shtm" for articles), or a URL template (see CNumberTemplate). The file
// is "<n/1000>/<n>.xml" (".htm") in the task's download folder, or what a path template below
// that folder says, with '/' between its folders.
class CJobNamer {
  public:
    // The namer of the task `kind` (JOB_BBS or JOB_DOCUMENT); `appDirectory` ends in its
    // separator, and an empty `pathTemplate` is the fixed layout. None, with the reason in
    // `why`, for a template that cannot name every number: a broken URL or path template, a
    // path that leaves the task's folder or is absolute, or, for the path, one that would not fit
    // 259 characters at the largest number.
    static std::optional<CJobNamer> Make(const std::string& appDirectory, std::int32_t kind,
                                         const std::string& url,
                                         const std::string& pathTemplate = {},
                                         std::string* why = nullptr);

    JobNames Names(std::int32_t number) const;
    std::string Url(std::int32_t number) const;

  private:
    CJobNamer() = default;

    std::string base_;                     // the fixed layout's base URL
    std::optional<CNumberTemplate> url_;   // or the URL template
    std::string taskFolder_;               // "<app>xml_file<separator>"
    std::optional<CNumberTemplate> path_;  // none: the fixed layout
    const char* urlExtension_ = "";
    const char* fileExtension_ = "";
};

// Why a path template cannot name the documents of a task, or the empty text: it is absolute,
// climbs out of the task's folder with "..", ends in a separator, or is no template.
std::string PathTemplateProblem(const std::string& pathTemplate);
// Why a URL template cannot be fetched, or the empty text: what the fetcher would refuse, in its
// words, for the URL of the largest number.
std::string UrlTemplateProblem(const std::string& urlTemplate);
