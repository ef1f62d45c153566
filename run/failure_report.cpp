#include "run/failure_report.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "engine/downloader.h"
#include "support/file_helpers.h"
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

void AddOnce(std::vector<std::int32_t>& numbers, std::int32_t number) {
    if (std::find(numbers.begin(), numbers.end(), number) == numbers.end()) {
        numbers.push_back(number);
    }
}

}  // namespace

void CFailureReport::SetPath(const std::string& path) {
    Close();
    path_ = path;
}

bool CFailureReport::Append(std::int32_t kind, std::int32_t number, const std::string& url,
                            const std::string& reason) {
    if (!open_) {
        open_ = file_.Open(path_.c_str(), true);
        if (!open_) {
            return false;
        }
    }
    const std::string line = FormatText("%s\t%s\t%d\t%s\t%s\n", LocalTimeText().c_str(),
                                        kind == JOB_BBS ? "bbs" : "document", number,
                                        Printable(url).c_str(), Printable(reason).c_str());
    return file_.Write(line.data(), line.size());
}

void CFailureReport::Close() {
    if (open_) {
        file_.Close();
        open_ = false;
    }
}

bool CFailureReport::ReadNumbers(const std::string& path, std::vector<std::int32_t>& bbs,
                                 std::vector<std::int32_t>& documents, std::string& error) {
    std::ifstream in(path);
    if (!IsRegularFile(path.c_str()) || !in) {
        error = "cannot read " + path;
        return false;
    }
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNumber;
        std::istringstream fields(line);
        std::string time, task, number;
        std::getline(fields, time, '\t');
        std::getline(fields, task, '\t');
        std::getline(fields, number, '\t');
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(number.c_str(), &end, 10);
        if ((task != "bbs" && task != "document") || number.empty() || *end != '\0' || errno != 0 ||
            value < INT32_MIN || value > INT32_MAX) {
            error = FormatText("%s, line %d, is not a line of a failure report", path.c_str(),
                               lineNumber);
            return false;
        }
        AddOnce(task == "bbs" ? bbs : documents, static_cast<std::int32_t>(value));
    }
    return true;
}
