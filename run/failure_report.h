#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/output_file.h"

inline constexpr const char* kFailureReportName = "failed.txt";

// "failed.txt" beside the downloads: one line for every document that failed,
//   <date time> TAB <bbs|document> TAB <number> TAB <URL> TAB <reason> LF
// appended in one write each and never rewritten, so a line is whole or absent. Control
// characters of a URL are written as \xNN. Not thread-safe: the run controller appends under its
// report lock.
class CFailureReport {
  public:
    void SetPath(const std::string& path);
    const std::string& GetPath() const { return path_; }
    // Opens the file on the first line. False when the line could not be written.
    bool Append(std::int32_t kind, std::int32_t number, const std::string& url,
                const std::string& reason);
    // Closes the file; the next line opens it again.
    void Close();
    // The system's error number of the last line that could not be written.
    int Error() const { return file_.Error(); }

    // The numbers of each task listed in such a file, in their order, each once. False, with the
    // reason in `error`, when the file cannot be read or a line is not one of the report's.
    static bool ReadNumbers(const std::string& path, std::vector<std::int32_t>& bbs,
                            std::vector<std::int32_t>& documents, std::string& error);

  private:
    std::string path_;
    COutputFile file_;
    bool open_ = false;
};
