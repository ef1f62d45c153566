#include "engine/http_getter.h"

#include <cstring>
#include <string>

#include "engine/http_socket.h"
#include "support/text_format.h"

namespace {
int Refuse(FetchFailure* failure, FetchError error) {
    if (failure != nullptr) {
        *failure = {error, 0};
    }
    return 0;
}
}  // namespace

int GetUrlScheme(const char* url) {
    if (url == nullptr) {
        return URL_NONE;
    }
    if (std::strncmp(url, "http://", 7) == 0) {
        return URL_HTTP;
    }
    if (std::strncmp(url, "ftp://", 6) == 0) {
        return URL_FTP;
    }
    return URL_NONE;
}

int GetHostFromUrl(const char* url, char* host, int hostCapacity) {
    const char* slashes = url != nullptr ? std::strstr(url, "//") : nullptr;
    if (slashes == nullptr || hostCapacity < 1) {
        return 0;
    }
    const char* start = slashes + 2;
    const std::size_t length = std::strcspn(start, "/");
    if (length >= static_cast<std::size_t>(hostCapacity)) {
        return 0;
    }
    std::memcpy(host, start, length);
    host[length] = '\0';
    return 1;
}

bool SplitHostPort(char* host, int& port) {
    char* colon = std::strrchr(host, ':');
    if (colon == nullptr) {
        return true;
    }
    const char* digits = colon + 1;
    long value = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > 65535) {
            return false;
        }
        value = value * 10 + (*p - '0');
    }
    if (*digits == '\0' || value < 1 || value > 65535) {
        return false;
    }
    *colon = '\0';
    port = static_cast<int>(value);
    return true;
}

bool HasUnsafeUrlBytes(const char* url) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(url); *p != 0; ++p) {
        if (*p <= 0x20 || *p == 0x7F) {
            return true;
        }
    }
    return false;
}

int CHttpGetter::Download(const char* url, const char* path, FetchFailure* failure) const {
    switch (GetUrlScheme(url)) {
        case URL_HTTP:
            return HttpDownload(url, path, failure);
        case URL_FTP:
            return 1;  // recognised, but no FTP client is part of this program
        default:
            return Refuse(failure, FetchError::kNotHttp);
    }
}

int CHttpGetter::HttpDownload(const char* url, const char* path, FetchFailure* failure) const {
    if (url == nullptr || path == nullptr) {
        return Refuse(failure, FetchError::kNotHttp);
    }
    if (std::strlen(url) >= kPathBufferSize || std::strlen(path) >= kPathBufferSize) {
        return Refuse(failure, FetchError::kNameTooLong);
    }
    // The URL goes into the request line as it is: a line break in it would add header lines
    // or a second request of the URL's choosing.
    if (HasUnsafeUrlBytes(url)) {
        return Refuse(failure, FetchError::kUnsafeUrl);
    }
    char host[kPathBufferSize];
    if (!GetHostFromUrl(url, host, sizeof host)) {
        return Refuse(failure, FetchError::kNoSuchHost);
    }
    int port = port_;
    if (!SplitHostPort(host, port)) {
        return Refuse(failure, FetchError::kBadPort);
    }
    const std::string request = std::string("GET ") + url + " HTTP/1.0\r\n\r\n";
    CHttpSocket socket;
    socket.SetCutOff(&cutOff_);
    int result = 0;
    if (socket.Connect(host, port) &&
        socket.Send(request.data(), static_cast<int>(request.size()), timeout_)) {
        result = socket.ReceiveResponse(path, timeout_, "wb");
    }
    socket.Close();
    if (failure != nullptr) {
        *failure = result == 1 ? FetchFailure{} : socket.Failure();
    }
    return result;
}
