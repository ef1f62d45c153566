#pragma once

#include <cstdint>
#include <string>

// Where one document comes from and where it goes.
struct JobNames {
    std::string folder;  // "<app>xml_file/<n/1000>" or "<app>html_file/<n/1000>"
    std::string url;     // "<base>/<n/1000>/<n>.xml" or "<base>/<n/1000>/<n>.shtm"
    std::string file;    // "<folder>/<n>.xml" or "<folder>/<n>.htm"
};

// The names of document `number` of the task `kind` (JOB_BBS or JOB_DOCUMENT), with the
// platform's path separator. `appDirectory` ends in its separator.
JobNames MakeJobNames(const std::string& appDirectory, const std::string& baseUrl,
                      std::int32_t number, std::int32_t kind);
