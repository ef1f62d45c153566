#include "engine/http_socket.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/checkpoint.h"
#include "support/file_helpers.h"

namespace {

// Writes all bytes; false on a short write.
bool WriteBytes(std::FILE* file, const char* bytes, int count) {
    return count <= 0 || std::fwrite(bytes, 1, static_cast<std::size_t>(count), file) ==
                             static_cast<std::size_t>(count);
}

bool StartsWithNoCase(const char* text, const char* end, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (text == end || std::tolower(static_cast<unsigned char>(*text)) != *prefix) {
            return false;
        }
    }
    return true;
}

}  // namespace

int CHttpSocket::ReceiveResponse(const char* path, int timeout, const char* mode) {
    char block[kBlockSize];
    int length = kBlockSize;
    if (!Receive(block, length, timeout)) {
        return 0;
    }
    const int status = ParseStatusCode(block, length);
    if (status < 200 || status > 300) {
        return 0;
    }
    // Only the first block is searched: a server whose header runs past it is refused.
    const int headerEnd = FindHeaderEnd(block, length);
    if (headerEnd < 0) {
        return 0;
    }
    const std::int64_t expectedLength = ParseContentLength(block, headerEnd);

    std::FILE* file = std::fopen(path, mode);
    if (file == nullptr) {
        return 0;
    }
    // The file stays open for the rest of the body: the same bytes land as when it is reopened
    // for appending, at two system calls less per document.
    std::int64_t bodyBytes = length - headerEnd;
    bool stored = false;
    if (WriteBytes(file, block + headerEnd, length - headerEnd)) {
        stored = ReceiveBody(file, timeout, &bodyBytes) == 1;  // closes the file
    } else {
        std::fclose(file);
    }
    if (stored && (expectedLength < 0 || bodyBytes >= expectedLength)) {
        return 1;
    }
    // A document that is not whole must not look stored.
    RemoveFile(path);
    return 0;
}

int CHttpSocket::ReceiveToFile(const char* path, int timeout, const char* mode,
                               std::int64_t* bytesWritten) {
    std::FILE* file = std::fopen(path, mode);
    if (file == nullptr) {
        return 0;
    }
    return ReceiveBody(file, timeout, bytesWritten);
}

int CHttpSocket::ReceiveBody(std::FILE* file, int timeout, std::int64_t* bytesWritten) {
    char block[kBlockSize];
    for (;;) {
        checkpoint::Pass();
        int length = kBlockSize;
        if (!Receive(block, length, timeout)) {
            std::fclose(file);
            return 0;
        }
        if (length == 0) {
            return std::fclose(file) == 0 ? 1 : 0;  // a failed close may have lost buffered bytes
        }
        if (!WriteBytes(file, block, length)) {
            std::fclose(file);
            return 0;
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
