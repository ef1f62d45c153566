#include "engine/http_socket.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/checkpoint.h"
#include "support/file_helpers.h"
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

bool IsAppendMode(const char* mode) {
    return mode != nullptr && std::strchr(mode, 'a') != nullptr;
}

}  // namespace

int CHttpSocket::ReceiveResponse(const char* path, int timeout, const char* /*mode: always anew*/) {
    char block[kBlockSize];
    int length = kBlockSize;
    if (!Receive(block, length, timeout)) {
        return 0;
    }
    const int status = ParseStatusCode(block, length);
    if (status < 200 || status > 300) {
        return Fail(FetchError::kStatus, status);
    }
    // Only the first block is searched: a server whose header runs past it is refused.
    const int headerEnd = FindHeaderEnd(block, length);
    if (headerEnd < 0) {
        return Fail(FetchError::kNoHeaderEnd);
    }
    const std::int64_t expectedLength = ParseContentLength(block, headerEnd);

    // The document takes its name only when it is whole, so that neither a crash nor a failure
    // leaves a truncated file under it, and an older copy stays until a whole one replaces it.
    CWholeFile file;
    if (!file.Create(path)) {
        return Fail(FetchError::kWriteError, file.Error());
    }
    std::int64_t bodyBytes = length - headerEnd;
    bool stored = false;
    if (file.Write(block + headerEnd, static_cast<std::size_t>(length - headerEnd))) {
        stored = ReceiveBody(file, timeout, &bodyBytes) == 1;
    } else {
        Fail(FetchError::kWriteError, file.Error());
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

int CHttpSocket::ReceiveToFile(const char* path, int timeout, const char* mode,
                               std::int64_t* bytesWritten) {
    COutputFile file;
    if (!file.Open(path, IsAppendMode(mode))) {
        return Fail(FetchError::kWriteError, file.Error());
    }
    const int result = ReceiveBody(file, timeout, bytesWritten);
    if (!file.Close() && result == 1) {
        return Fail(FetchError::kWriteError, file.Error());
    }
    return result;
}

template <typename File>
int CHttpSocket::ReceiveBody(File& file, int timeout, std::int64_t* bytesWritten) {
    char* const buffer = BodyBuffer();
    for (;;) {
        checkpoint::Pass();
        int length = static_cast<int>(kBodyBlockSize);
        if (!Receive(buffer, length, timeout)) {
            return 0;
        }
        if (length == 0) {
            return 1;  // the peer closed the connection: the body is complete
        }
        if (!file.Write(buffer, static_cast<std::size_t>(length))) {
            return Fail(FetchError::kWriteError, file.Error());
        }
        if (bytesWritten != nullptr) {
            *bytesWritten += length;
        }
    }
}

int CHttpSocket::ParseStatusCode(const char* bytes, int count) {
    int position = 0;
    while (position < count && bytes[position] != ' ') {
        ++position;
    }
    ++position;  // past the space, or just past the last byte when there was none
    char digits[4] = {0, 0, 0, 0};
    for (int taken = 0; taken < 3 && position < count && bytes[position] != ' ';
         ++taken, ++position) {
        digits[taken] = bytes[position];
    }
    return std::atoi(digits);
}

int CHttpSocket::FindHeaderEnd(const char* bytes, int count) {
    for (int start = 0; start + 4 <= count; ++start) {
        if (std::memcmp(bytes + start, "\r\n\r\n", 4) == 0) {
            return start + 4;
        }
    }
    return -1;
}

std::int64_t CHttpSocket::ParseContentLength(const char* bytes, int count) {
    const char* const end = bytes + count;
    const char* line =
        static_cast<const char*>(std::memchr(bytes, '\n', static_cast<std::size_t>(count)));
    while (line != nullptr && ++line < end) {
        if (StartsWithNoCase(line, end, "content-length:")) {
            const char* p = line + std::strlen("content-length:");
            while (p < end && (*p == ' ' || *p == '\t')) {
                ++p;
            }
            std::int64_t value = 0;
            const char* firstDigit = p;
            for (; p < end && std::isdigit(static_cast<unsigned char>(*p)); ++p) {
                if (value > (INT64_MAX - 9) / 10) {
                    return -1;  // absurd lengths are not worth trusting
                }
                value = value * 10 + (*p - '0');
            }
            return p == firstDigit ? -1 : value;
        }
        line =
            static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
    }
    return -1;
}
