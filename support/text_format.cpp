#include "support/text_format.h"

#include <cstdio>
#include <ctime>
#include <vector>

std::string FormatTextV(const char* format, std::va_list args) {
    std::va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string FormatText(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return text;
}

const char* PathSeparator() {
#ifdef _WIN32
    return "\\";
#else
    return "/";
#endif
}

std::string LocalTimeText(std::time_t at) {
    std::tm t{};
#ifdef _WIN32
    localtime_s(&t, &at);
#else
    localtime_r(&at, &t);
#endif
    return FormatText("%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", t.tm_year + 1900, t.tm_mon + 1,
                      t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}
