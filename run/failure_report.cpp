#include "run/failure_report.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "run/task_kind.h"
#include "support/decimal.h"
#include "support/file_helpers.h"
#include "support/file_platform.h"
#include "support/text_format.h"

namespace {

std::string Printable(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += byte < 0x20 || byte == 0x7F ? FormatText("\\x%02x", byte) : std::string(1, c);
    }
    return out;
}

constexpr std::size_t kMaxLineBytes = 4096;

}  // namespace

// What the report and its writer thread share. The thread holds it too, so that a writer left
// behind in a hung file system never touches a report that is gone.
struct CFailureReport::Writer {
    struct Pending {
        std::string line;
        std::int32_t kind;
        std::int32_t number;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Pending> lines;  // guarded by mutex
    bool closing = false;       // guarded by mutex
    bool finished = false;      // guarded by mutex
    bool allWritten = true;     // guarded by mutex
    std::string path;
    // Held while a handler runs; Close empties the handlers under it, so that no handler runs
    // once Close has given up on the writer.
    std::mutex handlerMutex;
    ProblemHandler problemHandler;  // guarded by handlerMutex
    WrittenHandler writtenHandler;  // guarded by handlerMutex
    int descriptor = -1;            // the writer thread's own
    bool lastLineOpen = false;      // the writer thread's own: the file lacks its last line end

    void Run() {
        bool failed = false;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return closing || !lines.empty(); });
            if (lines.empty()) {
                break;
            }
            std::deque<Pending> batch;
            batch.swap(lines);
            lock.unlock();
            for (const Pending& pending : batch) {
                // Told once; the lines after it are not written, and their numbers stay open.
                failed = failed || !Write(pending);
            }
            lock.lock();
            allWritten = allWritten && !failed;
        }
        lock.unlock();
        if (descriptor >= 0) {
            platform::CloseDescriptor(descriptor);
        }
        lock.lock();
        finished = true;
        changed.notify_all();
    }

    // Opens the file for the first line; why not, or the empty text.
    std::string Open(int& error) {
        std::string target;
        if (const Status trusted = ResolveTrustedPath(path, target); !trusted.IsOk()) {
            return trusted.Text();
        }
        if (FileExists(target.c_str()) && !IsRegularFile(target.c_str())) {
            return "it is not a regular file";
        }
        descriptor = platform::OpenAppendWithoutWaiting(target.c_str());
        if (descriptor < 0) {
            error = errno;
            return SystemErrorText(error);
        }
        if (!platform::IsRegularDescriptor(descriptor)) {
            platform::CloseDescriptor(descriptor);
            descriptor = -1;
            return "it is not a regular file";
        }
        const long long size = platform::DescriptorSize(descriptor);
        char last = '\n';
        if (size < 0 || (size > 0 && !platform::ReadByteAt(descriptor, size - 1, last))) {
            error = errno;
            return SystemErrorText(error);
        }
        lastLineOpen = last != '\n';
        return {};
    }

    // Appends the line whole, or cuts the file back to where it began.
    std::string Append(const std::string& line, int& error) {
        const std::string text = lastLineOpen ? "\n" + line : line;
        const long long start = platform::DescriptorSize(descriptor);
        if (start < 0) {
            error = errno;
            return SystemErrorText(error);
        }
        // A short count is no error by itself: the next write of the rest says why it stopped.
        for (std::size_t done = 0; done < text.size();) {
            const long written =
                platform::WriteDescriptor(descriptor, text.data() + done, text.size() - done);
            if (written <= 0) {
                error = written < 0 ? errno : ENOSPC;
                if (done > 0) {
                    static_cast<void>(platform::TruncateDescriptor(descriptor, start));
                }
                return SystemErrorText(error);
            }
            done += static_cast<std::size_t>(written);
        }
        lastLineOpen = false;
        return {};
    }

    bool Write(const Pending& pending) {
        int error = 0;
        std::string problem = descriptor < 0 ? Open(error) : std::string();
        if (problem.empty()) {
            problem = Append(pending.line, error);
        }
        std::lock_guard<std::mutex> calling(handlerMutex);
        if (problem.empty()) {
            if (writtenHandler) {
                writtenHandler(pending.kind, pending.number);
            }
            return true;
        }
        if (problemHandler) {
            problemHandler({FormatText("The list of failed documents %s cannot be written (%s).",
                                       path.c_str(), problem.c_str()),
                            error, pending.kind, pending.number});
        }
        return false;
    }
};

CFailureReport::CFailureReport() = default;

CFailureReport::~CFailureReport() {
    Close();
}

void CFailureReport::SetPath(const std::string& path) {
    Close();
    path_ = path;
}

void CFailureReport::SetHandlers(ProblemHandler problem, WrittenHandler written) {
    Close();
    problemHandler_ = std::move(problem);
    writtenHandler_ = std::move(written);
}

std::string CFailureReport::Line(const std::string& time, std::int32_t kind, std::int32_t number,
                                 const std::string& url, const std::string& reason) {
    std::string line = FormatText("%s\t%s\t%d\t%s\t", time.c_str(), TaskKindOf(kind).reportName,
                                  number, Printable(url).c_str());
    std::string why = Printable(reason);
    // The reason gives way, never the task or the number: a line stays one that a retry reads.
    constexpr std::string_view kCut = "\u2026";
    if (line.size() + why.size() > kMaxLineBytes) {
        std::size_t keep = kMaxLineBytes > line.size() + kCut.size()
                               ? kMaxLineBytes - line.size() - kCut.size()
                               : 0;
        // Whole characters and whole escapes only.
        while (keep > 0 && (static_cast<unsigned char>(why[keep]) & 0xC0) == 0x80) {
            --keep;
        }
        const std::size_t escape = why.rfind("\\x", keep);
        if (escape != std::string::npos && escape + 4 > keep) {
            keep = escape;
        }
        why.resize(keep);
        why += kCut;
    }
    return line + why + "\n";
}

void CFailureReport::Append(std::int32_t kind, std::int32_t number, const std::string& url,
                            const std::string& reason) {
    if (!writer_) {
        writer_ = std::make_shared<Writer>();
        writer_->path = path_;
        writer_->problemHandler = problemHandler_;
        writer_->writtenHandler = writtenHandler_;
        std::thread([writer = writer_] { writer->Run(); }).detach();
    }
    std::lock_guard<std::mutex> lock(writer_->mutex);
    writer_->lines.push_back({Line(LocalTimeText(), kind, number, url, reason), kind, number});
    writer_->changed.notify_all();
}

bool CFailureReport::Close(std::chrono::milliseconds limit) {
    if (!writer_) {
        return true;
    }
    std::shared_ptr<Writer> writer = std::move(writer_);
    std::unique_lock<std::mutex> lock(writer->mutex);
    writer->closing = true;
    writer->changed.notify_all();
    const bool finished =
        writer->changed.wait_for(lock, limit, [&writer] { return writer->finished; });
    const bool allWritten = finished && writer->allWritten;
    lock.unlock();
    if (!finished) {
        std::lock_guard<std::mutex> calling(writer->handlerMutex);
        writer->problemHandler = nullptr;
        writer->writtenHandler = nullptr;
    }
    return allWritten;
}

Status CFailureReport::ReadNumbers(const std::string& path, std::vector<std::int32_t>& bbs,
                                   std::vector<std::int32_t>& documents) {
    // A FIFO would hold the reader before any message: only a regular file is opened.
    std::FILE* in = IsRegularFile(path.c_str()) ? std::fopen(path.c_str(), "rb") : nullptr;
    if (in == nullptr) {
        return Status::Refused("cannot read " + path +
                               (IsRegularFile(path.c_str()) || !FileExists(path.c_str())
                                    ? std::string()
                                    : std::string(": it is not a regular file")));
    }
    std::string error;
    std::unordered_set<std::int64_t> seen;
    std::string pending;
    std::vector<char> block(1 << 20);
    int lineNumber = 0;
    bool ok = true;
    const auto takeLine = [&](std::string_view line) {
        ++lineNumber;
        const auto refuse = [&](const char* why) {
            error = FormatText("%s, line %d, %s", path.c_str(), lineNumber, why);
            ok = false;
        };
        if (line.size() > kMaxLineBytes) {
            return refuse("is longer than 4 KiB");
        }
        const std::size_t first = line.find('\t');
        const std::size_t second =
            first == std::string_view::npos ? first : line.find('\t', first + 1);
        const std::size_t third =
            second == std::string_view::npos ? second : line.find('\t', second + 1);
        if (third == std::string_view::npos) {
            return refuse("is not a line of a failure report");
        }
        const std::string_view task = line.substr(first + 1, second - first - 1);
        const std::string_view number = line.substr(second + 1, third - second - 1);
        const std::optional<std::int32_t> value = ParseDecimal<std::int32_t>(number);
        const TaskKind* kind = TaskKindNamed(task);
        if (kind == nullptr || !value || *value < 0) {
            return refuse("is not a line of a failure report");
        }
        const bool isBbs = kind->jobKind == JOB_BBS;
        if (seen.insert((static_cast<std::int64_t>(isBbs) << 32) | *value).second) {
            (isBbs ? bbs : documents).push_back(*value);
        }
    };
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), in);
        if (got == 0) {
            break;
        }
        std::string_view chunk(block.data(), got);
        for (std::size_t newline; ok && (newline = chunk.find('\n')) != std::string_view::npos;) {
            if (pending.empty()) {
                takeLine(chunk.substr(0, newline));
            } else {
                pending.append(chunk.substr(0, newline));
                takeLine(pending);
                pending.clear();
            }
            chunk.remove_prefix(newline + 1);
        }
        if (!ok) {
            break;
        }
        if (pending.size() + chunk.size() > kMaxLineBytes + 1) {
            ++lineNumber;
            error = FormatText("%s, line %d, is longer than 4 KiB", path.c_str(), lineNumber);
            ok = false;
            break;
        }
        pending.append(chunk);
    }
    if (ok && !pending.empty()) {
        takeLine(pending);
    }
    std::fclose(in);
    return ok ? Status::Ok() : Status::Refused(error);
}

namespace {

// The task and number of a report line (its second and third fields) as one key; -1 for a line
// that is not one of the report's.
std::int64_t LineKey(std::string_view line) {
    const std::size_t a = line.find('\t');
    const std::size_t b = a == std::string_view::npos ? a : line.find('\t', a + 1);
    const std::size_t c = b == std::string_view::npos ? b : line.find('\t', b + 1);
    const std::optional<std::int32_t> number =
        c == std::string_view::npos ? std::nullopt
                                    : ParseDecimal<std::int32_t>(line.substr(b + 1, c - b - 1));
    if (!number) {
        return -1;
    }
    return (static_cast<std::int64_t>(line.substr(a + 1, b - a - 1) ==
                                      TaskKindOf(JOB_BBS).reportName)
            << 32) |
           static_cast<std::uint32_t>(*number);
}

std::int64_t EntryKey(const CFailureReport::Entry& entry) {
    return (static_cast<std::int64_t>(entry.kind == JOB_BBS) << 32) |
           static_cast<std::uint32_t>(entry.number);
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size() - 1) + 1;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end);
    }
    return lines;
}

}  // namespace

Status CFailureReport::Settle(const std::string& path, std::uint64_t runStart,
                              const std::vector<Entry>& stored,
                              const std::vector<Entry>& notTried) {
    std::unordered_set<std::int64_t> gone, renewed, listed;
    for (const Entry& entry : stored) {
        gone.insert(EntryKey(entry));
    }
    std::string all;
    if (FileExists(path.c_str())) {
        std::FILE* in = IsRegularFile(path.c_str()) ? std::fopen(path.c_str(), "rb") : nullptr;
        if (in == nullptr) {
            return Status::Refused("cannot read " + path);
        }
        std::vector<char> block(1 << 20);
        for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), in)) > 0;) {
            all.append(block.data(), got);
        }
        std::fclose(in);
    }
    const std::size_t split = std::min<std::uint64_t>(runStart, all.size());
    const std::vector<std::string_view> older = Lines(std::string_view(all).substr(0, split));
    const std::vector<std::string_view> newer = Lines(std::string_view(all).substr(split));
    for (const std::string_view line : newer) {
        renewed.insert(LineKey(line));
    }
    std::string kept;
    kept.reserve(all.size());
    const auto keep = [&](std::string_view line) {
        listed.insert(LineKey(line));
        kept.append(line);
        if (kept.back() != '\n') {
            kept.push_back('\n');
        }
    };
    for (const std::string_view line : older) {
        const std::int64_t key = LineKey(line);
        if (key < 0 || (gone.count(key) == 0 && renewed.count(key) == 0)) {
            keep(line);
        }
    }
    for (const std::string_view line : newer) {
        if (gone.count(LineKey(line)) == 0) {
            keep(line);
        }
    }
    const std::string now = LocalTimeText();
    for (const Entry& entry : notTried) {
        if (listed.insert(EntryKey(entry)).second) {
            kept += Line(now, entry.kind, entry.number, entry.url, "not tried (stopped)");
        }
    }
    if (kept == all) {
        return Status::Ok();
    }
    if (kept.size() > INT32_MAX) {
        return Status::Refused("cannot write " + path + " (it would be over 2 GiB)");
    }
    const Status written =
        ReplaceWholeFile(path.c_str(), kept.data(), static_cast<int>(kept.size()));
    return written.IsOk() ? written
                          : Status::Refused("cannot write " + path + " (" + written.Text() + ")");
}
