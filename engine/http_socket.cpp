#include "engine/http_socket.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <vector>

#include "engine/checkpoint.h"
#include "engine/retry_after.h"
#include "support/decimal.h"
#include "support/output_file.h"

namespace {

bool StartsWithNoCase(const char* text, const char* end, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (text == end || std::tolower(static_cast<unsigned char>(*text)) != *prefix) {
            return false;
        }
    }
    return true;
}

// One body buffer per worker thread, reused by every fetch it makes.
char* BodyBuffer() {
    thread_local std::vector<char> buffer(CHttpSocket::kBodyBlockSize);
    return buffer.data();
}

}  // namespace

int CHttpSocket::ReadHead(std::string& bytes, WaitLimit limit) {
    char* const buffer = BodyBuffer();
    bytes.clear();
    for (;;) {
        int length = static_cast<int>(kBodyBlockSize);
        if (!Receive(buffer, length, limit)) {
            return -1;
        }
        if (length == 0) {
            Fail(bytes.empty() ? FetchError::kClosedBeforeAnswer : FetchError::kNoHeaderEnd);
            return -1;
        }
        // The blank line may straddle two receives: look again from just before the new bytes.
        const std::size_t from = bytes.size() >= 3 ? bytes.size() - 3 : 0;
        bytes.append(buffer, static_cast<std::size_t>(length));
        const std::size_t searched = std::min(bytes.size(), kMaxHeaderBytes);
        if (searched > from) {
            const int end = FindHeaderEnd(bytes.data() + from, static_cast<int>(searched - from));
            if (end >= 0) {
                return static_cast<int>(from) + end;
            }
        }
        if (bytes.size() >= kMaxHeaderBytes) {
            Fail(FetchError::kHeaderTooLong);
            return -1;
        }
    }
}

int CHttpSocket::ReceiveResponse(const char* path, WaitLimit limit) {
    std::string received;
    const int headerEnd = ReadHead(received, limit);
    if (headerEnd < 0) {
        return 0;
    }
    const int status = ParseStatusCode(received.data(), headerEnd);
    if (status < 0) {
        return Fail(FetchError::kBadStatusLine);
    }
    if (status < 200 || status > 300) {
        Fail(FetchError::kStatus, status);
        if (status == 429 || status == 503) {
            NoteRetryAfter(received.data(), headerEnd);
        }
        return 0;
    }
    const std::int64_t expectedLength = ParseContentLength(received.data(), headerEnd);
    if (expectedLength == kBadContentLength) {
        return Fail(FetchError::kBadContentLength);
    }

    // The document takes its name only when it is whole, so that neither a crash nor a failure
    // leaves a truncated file under it, and an older copy stays until a whole one replaces it.
    CWholeFile file;
    if (!file.Create(path)) {
        return Fail(FetchError::kWriteError, file.Error());
    }
    // Bytes past the Content-Length belong to nobody: they are not part of the document.
    auto firstBytes = static_cast<std::int64_t>(received.size()) - headerEnd;
    if (expectedLength >= 0) {
        firstBytes = std::min(firstBytes, expectedLength);
    }
    std::int64_t bodyBytes = firstBytes;
    bool stored = false;
    if (file.Write(received.data() + headerEnd, static_cast<std::size_t>(firstBytes))) {
        stored = ReceiveBody(file, limit, &bodyBytes, expectedLength) == 1;
    } else {
        Fail(FetchError::kWriteError, file.Error());
    }
    if (stored && ClosedWithoutTlsClose() && (expectedLength < 0 || bodyBytes < expectedLength)) {
        // Without the TLS close, only a length that was met says the body is whole.
        stored = false;
        Fail(FetchError::kTlsCut);
    }
    if (stored && expectedLength >= 0 && bodyBytes < expectedLength) {
        stored = false;
        Fail(FetchError::kShortBody);
    }
    if (stored && !file.Commit()) {
        stored = false;
        Fail(FetchError::kWriteError, file.Error());
    }
    if (!stored) {
        file.Discard();
    }
    return stored ? 1 : 0;
}

int CHttpSocket::OpenTunnel(const std::string& authority, const std::string& authorization,
                            WaitLimit limit) {
    std::string request = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    if (!authorization.empty()) {
        request += "Proxy-Authorization: " + authorization + "\r\n";
    }
    request += "\r\n";
    if (!Send(request.data(), static_cast<int>(request.size()), limit)) {
        return 0;
    }
    std::string received;
    const int headerEnd = ReadHead(received, limit);
    if (headerEnd < 0) {
        return 0;
    }
    const int status = ParseStatusCode(received.data(), headerEnd);
    if (status < 200 || status > 299) {
        return Fail(FetchError::kProxyRefused, status);
    }
    // The server speaks first only after our TLS hello: anything here is not from it.
    if (received.size() != static_cast<std::size_t>(headerEnd)) {
        return Fail(FetchError::kProxyRefused, status);
    }
    return 1;
}

void CHttpSocket::NoteRetryAfter(const char* head, int count) {
    const std::optional<std::string_view> value = HeaderValue(head, count, "retry-after");
    if (!value) {
        return;
    }
    if (const std::optional<std::chrono::seconds> wait =
            ParseRetryAfter(*value, std::chrono::system_clock::now())) {
        SetRetryAfter(*wait);
    }
}

template <typename File>
int CHttpSocket::ReceiveBody(File& file, WaitLimit limit, std::int64_t* bytesWritten,
                             std::int64_t length) {
    char* const buffer = BodyBuffer();
    std::int64_t stored = bytesWritten != nullptr ? *bytesWritten : 0;
    for (;;) {
        // A body of known length is complete when it is there, whether or not the server
        // closes: some keep the connection open after it.
        if (length >= 0 && stored >= length) {
            return 1;
        }
        checkpoint::Pass();
        auto capacity = static_cast<std::int64_t>(kBodyBlockSize);
        if (length >= 0) {
            capacity = std::min(capacity, length - stored);
        }
        int received = static_cast<int>(capacity);
        if (!Receive(buffer, received, limit)) {
            return 0;
        }
        if (received == 0) {
            return 1;  // the peer closed the connection: the caller judges what arrived
        }
        if (!file.Write(buffer, static_cast<std::size_t>(received))) {
            return Fail(FetchError::kWriteError, file.Error());
        }
        stored += received;
        if (bytesWritten != nullptr) {
            *bytesWritten += received;
        }
    }
}

int CHttpSocket::ParseStatusCode(const char* bytes, int count) {
    int position = 0;
    while (position < count && bytes[position] != ' ') {
        ++position;
    }
    ++position;  // past the space, or just past the last byte when there was none
    int status = 0;
    for (int taken = 0; taken < 3; ++taken, ++position) {
        if (position >= count || !std::isdigit(static_cast<unsigned char>(bytes[position]))) {
            return -1;
        }
        status = status * 10 + (bytes[position] - '0');
    }
    return status;
}

int CHttpSocket::FindHeaderEnd(const char* bytes, int count) {
    for (int start = 0; start + 4 <= count; ++start) {
        if (std::memcmp(bytes + start, "\r\n\r\n", 4) == 0) {
            return start + 4;
        }
    }
    return -1;
}

template <typename Take>
void CHttpSocket::ForEachHeaderValue(const char* bytes, int count, const char* name, Take take) {
    const char* const end = bytes + count;
    const std::size_t nameLength = std::strlen(name);
    const char* line =
        static_cast<const char*>(std::memchr(bytes, '\n', static_cast<std::size_t>(count)));
    while (line != nullptr && ++line < end) {
        if (StartsWithNoCase(line, end, name) && line + nameLength < end &&
            line[nameLength] == ':') {
            const char* value = line + nameLength + 1;
            while (value < end && (*value == ' ' || *value == '\t')) {
                ++value;
            }
            const char* valueEnd = value;
            while (valueEnd < end && *valueEnd != '\r' && *valueEnd != '\n') {
                ++valueEnd;
            }
            while (valueEnd > value && (valueEnd[-1] == ' ' || valueEnd[-1] == '\t')) {
                --valueEnd;
            }
            if (!take(std::string_view(value, static_cast<std::size_t>(valueEnd - value)))) {
                return;
            }
        }
        line =
            static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
    }
}

std::optional<std::string_view> CHttpSocket::HeaderValue(const char* bytes, int count,
                                                         const char* name) {
    std::optional<std::string_view> first;
    ForEachHeaderValue(bytes, count, name, [&first](std::string_view value) {
        first = value;
        return false;
    });
    return first;
}

std::int64_t CHttpSocket::ParseContentLength(const char* bytes, int count) {
    // A body framed two ways cannot be told whole: every value of every line must agree.
    std::int64_t length = -1;
    ForEachHeaderValue(bytes, count, "content-length", [&length](std::string_view line) {
        for (;;) {
            const std::size_t comma = line.find(',');
            std::string_view element = line.substr(0, comma);
            while (!element.empty() && (element.front() == ' ' || element.front() == '\t')) {
                element.remove_prefix(1);
            }
            while (!element.empty() && (element.back() == ' ' || element.back() == '\t')) {
                element.remove_suffix(1);
            }
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
