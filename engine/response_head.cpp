#include "engine/response_head.h"

#include <cctype>
#include <cstring>
#include <string>

#include "engine/retry_after.h"
#include "support/decimal.h"

namespace {

bool StartsWithNoCase(std::string_view text, const char* prefix) {
    const std::size_t length = std::strlen(prefix);
    if (text.size() < length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

bool EqualsNoCase(std::string_view text, std::string_view lower) {
    return text.size() == lower.size() && StartsWithNoCase(text, std::string(lower).c_str());
}

int CResponseHead::Status() const {
    const std::size_t space = block_.find(' ');
    // Past the space, or just past the end when there is none.
    const std::size_t first = space == std::string_view::npos ? block_.size() : space + 1;
    if (first + 3 > block_.size()) {
        return -1;
    }
    int status = 0;
    for (std::size_t position = first; position < first + 3; ++position) {
        if (!std::isdigit(static_cast<unsigned char>(block_[position]))) {
            return -1;
        }
        status = status * 10 + (block_[position] - '0');
    }
    return status;
}

template <typename Take>
void CResponseHead::ForEachField(const char* name, Take take) const {
    const std::size_t nameLength = std::strlen(name);
    // The status line is no field: lines start after each LF.
    for (std::size_t newline = block_.find('\n'); newline != std::string_view::npos;) {
        const std::size_t start = newline + 1;
        newline = block_.find('\n', start);
        const std::string_view line = block_.substr(start, newline - start);
        if (line.size() > nameLength && line[nameLength] == ':' && StartsWithNoCase(line, name)) {
            std::string_view value = line.substr(nameLength + 1);
            value = value.substr(0, value.find_first_of("\r\n"));
            if (!take(TrimBlanks(value))) {
                return;
            }
        }
    }
}

std::optional<std::string_view> CResponseHead::Field(const char* name) const {
    std::optional<std::string_view> first;
    ForEachField(name, [&first](std::string_view value) {
        first = value;
        return false;
    });
    return first;
}

std::vector<std::string_view> CResponseHead::Fields(const char* name) const {
    std::vector<std::string_view> values;
    ForEachField(name, [&values](std::string_view value) {
        values.push_back(value);
        return true;
    });
    return values;
}

std::int64_t CResponseHead::ContentLength() const {
    // A body framed two ways cannot be told whole: every value of every line must agree.
    std::int64_t length = -1;
    ForEachField("content-length", [&length](std::string_view line) {
        for (;;) {
            const std::size_t comma = line.find(',');
            const std::string_view element = TrimBlanks(line.substr(0, comma));
            const std::optional<std::int64_t> value =
                element.find_first_not_of("0123456789") == std::string_view::npos
                    ? ParseDecimal<std::int64_t>(element)
                    : std::nullopt;
            if (!value || (length >= 0 && *value != length)) {
                length = kBadContentLength;
                return false;
            }
            length = *value;
            if (comma == std::string_view::npos) {
                return true;
            }
            line.remove_prefix(comma + 1);
        }
    });
    return length;
}

bool CResponseHead::KeepsConnection() const {
    bool close = false;
    bool keepAlive = false;
    ForEachField("connection", [&](std::string_view tokens) {
        for (;;) {
            const std::size_t comma = tokens.find(',');
            const std::string_view token = TrimBlanks(tokens.substr(0, comma));
            close = close || EqualsNoCase(token, "close");
            keepAlive = keepAlive || EqualsNoCase(token, "keep-alive");
            if (comma == std::string_view::npos) {
                return true;
            }
            tokens.remove_prefix(comma + 1);
        }
    });
    if (close) {
        return false;
    }
    return block_.substr(0, 9) == "HTTP/1.1 " || keepAlive;
}

std::optional<std::chrono::seconds> CResponseHead::KeepAliveTimeout() const {
    const std::optional<std::string_view> value = Field("keep-alive");
    if (!value) {
        return std::nullopt;
    }
    const std::size_t at = value->find("timeout=");
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view digits = value->substr(at + 8);
    const std::optional<int> seconds =
        ParseDecimal<int>(digits.substr(0, digits.find_first_not_of("0123456789")));
    return seconds ? std::optional(std::chrono::seconds(*seconds)) : std::nullopt;
}

std::optional<std::chrono::seconds> CResponseHead::RetryAfter(
    std::chrono::system_clock::time_point now) const {
    const std::optional<std::string_view> value = Field("retry-after");
    return value ? ParseRetryAfter(*value, now) : std::nullopt;
}

Answer ClassifyStatus(int status) {
    if (status >= 200 && status <= 300) {
        return Answer::kDocument;
    }
    if (status == 404 || status == 410) {
        return Answer::kMissing;
    }
    return status == 429 || status == 503 ? Answer::kWait : Answer::kFailed;
}

int CResponseHead::FindEnd(const char* bytes, int count) {
    for (int start = 0; start + 4 <= count; ++start) {
        if (std::memcmp(bytes + start, "\r\n\r\n", 4) == 0) {
            return start + 4;
        }
    }
    return -1;
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string LowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}
