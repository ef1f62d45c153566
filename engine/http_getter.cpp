#include "engine/http_getter.h"

#include <cstring>
#include <string>

#include "engine/http_socket.h"
#include "support/text_format.h"

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

int CHttpGetter::Download(const char* url, const char* path) const {
    switch (GetUrlScheme(url)) {
        case URL_HTTP:
            return HttpDownload(url, path);
        case URL_FTP:
            return 1;  // recognised, but no FTP client is part of this program
        default:
            return 0;
    }
}

int CHttpGetter::HttpDownload(const char* url, const char* path) const {
    if (url == nullptr || path == nullptr || std::strlen(url) >= kPathBufferSize ||
        std::strlen(path) >= kPathBufferSize) {
        return 0;
    }
    char host[kPathBufferSize];
    if (!GetHostFromUrl(url, host, sizeof host)) {
        return 0;
    }
    const std::string request = std::string("GET ") + url + " HTTP/1.0\r\n\r\n";
    CHttpSocket socket;
    int result = 0;
    if (socket.Connect(host, port_) &&
        socket.Send(request.data(), static_cast<int>(request.size()), timeout_)) {
        result = socket.ReceiveResponse(path, timeout_, "wb");
    }
    socket.Close();
    return result;
}
