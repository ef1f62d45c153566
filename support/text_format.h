#pragma once

#include <cstdarg>
#include <cstddef>
#include <ctime>
#include <string>

// The system's paths, URLs and folder names are held in buffers of 260 bytes: at most
// 259 characters and the terminator. Anything longer is refused, never cut.
inline constexpr std::size_t kPathBufferSize = 260;

inline bool FitsPathBuffer(const std::string& text) {
    return text.size() < kPathBufferSize;
}

#if defined(__GNUC__)
#define NOVU_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define NOVU_PRINTF(fmt, args)
#endif

// printf-style formatting into a string of whatever length the result needs.
std::string FormatText(const char* format, ...) NOVU_PRINTF(1, 2);
std::string FormatTextV(const char* format, std::va_list args);

// The platform's path separator as a one-character string ("\\" on Windows, "/" elsewhere).
const char* PathSeparator();

// The local time `at` (by default now) as "YYYY-MM-DD hh:mm:ss".
std::string LocalTimeText(std::time_t at = std::time(nullptr));
