#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

// Small helpers shared by the benchmark programs.
namespace bench {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident memory of this process so far, in MiB.
inline double PeakMemoryMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

inline bool ToolInstalled(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command and returns its wall time in seconds, or -1 when it failed.
inline double TimeCommand(const std::string& command) {
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    return status == 0 ? SecondsSince(start) : -1.0;
}

// A curl config file that fetches every URL to /dev/null.
inline std::string WriteCurlConfig(const std::vector<std::string>& urls, const std::string& path) {
    std::ofstream config(path);
    for (const std::string& url : urls) {
        config << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    }
    return path;
}

inline std::string TempPath(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name;
}

}  // namespace bench
