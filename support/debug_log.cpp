#include "support/debug_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "support/file_helpers.h"

namespace {

#ifdef _WIN32
constexpr const char* kLogOpenMode = "a+t";
#else
constexpr const char* kLogOpenMode = "a+";
#endif

std::mutex g_logMutex;
std::FILE* g_log = nullptr;           // guarded by g_logMutex
std::string g_logPath = "debug.txt";  // guarded by g_logMutex

std::mutex g_hookMutex;
ErrorBoxHook g_errorBoxHook;  // guarded by g_hookMutex

bool OpenLogLocked() {
    // A link that another user planted in a shared folder never steers the log elsewhere.
    std::string target;
    if (g_log == nullptr && ResolveTrustedPath(g_logPath, target).IsOk()) {
        g_log = std::fopen(target.c_str(), kLogOpenMode);
    }
    return g_log != nullptr;
}

}  // namespace

std::uint16_t WriteDebugLog(const char* format, ...) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (!OpenLogLocked()) {
        return 0xFFFF;
    }
    std::fprintf(g_log, "%s\t", LocalTimeText().c_str());
    std::va_list args;
    va_start(args, format);
    std::vfprintf(g_log, format, args);
    va_end(args);
    std::fputs("\n", g_log);
    std::fflush(g_log);
    return 0;
}

std::uint16_t ReportError(const char* message) {
    std::string composed;
    {
        std::lock_guard<std::mutex> lock(g_logMutex);
        if (!OpenLogLocked()) {
            return 0xFFFF;
        }
        composed = FormatText("%s\n(%s)", message ? message : "", LocalTimeText().c_str());
        std::fputs(composed.c_str(), g_log);
        std::fputs("\n", g_log);
        std::fflush(g_log);
    }
    // The box is modal: it must not hold the log lock while the user reads it.
    ShowErrorBox("%s", composed.c_str());
    return 0;
}

int ShowErrorBox(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const std::string text = FormatTextV(format, args);
    va_end(args);
    ErrorBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_errorBoxHook;
    }
    if (hook) {
        return hook("error", text);
    }
    std::fprintf(stderr, "error: %s\n", text.c_str());
    return 1;  // the OK button
}

void SetErrorBoxHook(ErrorBoxHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    g_errorBoxHook = std::move(hook);
}

void SetDebugLogPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_log != nullptr) {
        std::fclose(g_log);
        g_log = nullptr;
    }
    g_logPath = path;
}

void CloseDebugLog() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (g_log != nullptr) {
        std::fclose(g_log);
        g_log = nullptr;
    }
}
