#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/status.h"

inline constexpr const char* kFailureReportName = "failed.txt";

// "failed.txt" beside the downloads: one line for every document that failed,
//   <date time> TAB <bbs|document> TAB <number> TAB <URL> TAB <reason> LF
// appended and never rewritten. A line is whole or absent: one that could be written only in
// part is cut off again, and a file whose last line lacks its end gets one first. Control
// characters of a URL or a reason are written as \xNN. A line holds 4 KiB at most, its end
// aside: a longer reason is cut to fit, and ends in "…".
//
// Lines are written by a writer thread of the report's own, so that neither a worker nor the
// window ever waits for the file: a FIFO or a hung file system at its place holds only the
// writer. The file is opened without blocking and only when it is a regular file; a symbolic link
// is followed only when it belongs to this user or to the folder's owner. Append may be called
// from any thread; the rest from the thread that owns the report.
class CFailureReport {
  public:
    // What cannot be written: told once per writer, from its thread, with the system's error
    // number (0 when the file is refused for what it is) and the line that was not written.
    struct Problem {
        std::string message;
        int error = 0;
        std::int32_t kind = 0;
        std::int32_t number = 0;
    };
    using ProblemHandler = std::function<void(const Problem& problem)>;
    // Told from the writer's thread once a line is in the file: its number is recorded.
    using WrittenHandler = std::function<void(std::int32_t kind, std::int32_t number)>;

    CFailureReport();
    ~CFailureReport();
    CFailureReport(const CFailureReport&) = delete;
    CFailureReport& operator=(const CFailureReport&) = delete;

    void SetPath(const std::string& path);
    const std::string& GetPath() const { return path_; }
    void SetHandlers(ProblemHandler problem, WrittenHandler written);
    // Queues one line; never waits for the file.
    void Append(std::int32_t kind, std::int32_t number, const std::string& url,
                const std::string& reason);
    // Waits up to `limit` until every queued line is written, then lets go of the file; the
    // next line starts a writer anew. A writer stuck in the file system is left behind, and
    // tells nobody anything any more. True when every line was written (or there was none).
    bool Close(std::chrono::milliseconds limit = std::chrono::seconds(2));

    // One line as Append writes it (without its time stamp's freshness: `time` is given).
    static std::string Line(const std::string& time, std::int32_t kind, std::int32_t number,
                            const std::string& url, const std::string& reason);

    // The numbers of each task listed in such a file, in their order, each once. Only a regular
    // file is opened. A line longer than 4 KiB, a number that is negative, has a sign or spaces,
    // or a line that is not one of the report's refuses the file, saying why.
    static Status ReadNumbers(const std::string& path, std::vector<std::int32_t>& bbs,
                              std::vector<std::int32_t>& documents);

    // One number of a listed task.
    struct Entry {
        std::int32_t kind;
        std::int32_t number;
        std::string url;
    };
    // After a retry whose own lines begin at byte `runStart` of the file: drops the lines of
    // the numbers that were stored now, drops older lines of numbers that failed again (their
    // new line says why now), and adds a line with the reason "not tried (stopped)" for every
    // number of the list that was not tried and has no line left. The file is replaced whole,
    // so that a crash leaves it as before or after. A failure says why it cannot be read or
    // written.
    static Status Settle(const std::string& path, std::uint64_t runStart,
                         const std::vector<Entry>& stored, const std::vector<Entry>& notTried);

  private:
    struct Writer;
    std::string path_;
    ProblemHandler problemHandler_;
    WrittenHandler writtenHandler_;
    std::shared_ptr<Writer> writer_;  // while a writer thread runs
};
