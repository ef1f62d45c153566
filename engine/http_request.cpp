#include "engine/http_request.h"

std::string HttpRequest::Bytes() const {
    std::string bytes = method + " " + target + " " + version + "\r\n";
    for (const auto& [name, value] : headers) {
        bytes += name + ": " + value + "\r\n";
    }
    return bytes + "\r\n";
}

HttpRequest DocumentRequest(const std::string& url, const Url& parsed,
                            const std::optional<ProxyServer>& proxy) {
    HttpRequest request;
    if (parsed.scheme == UrlScheme::kHttps) {
        request.target = parsed.path;
        request.Add("Host", parsed.Authority());
        request.Add("User-Agent", "NOVUDownLoad/" NOVU_VERSION);
        return request;
    }
    request.target = url;
    if (proxy && !proxy->authorization.empty()) {
        request.Add("Proxy-Authorization", proxy->authorization);
    }
    return request;
}

HttpRequest TunnelRequest(const std::string& authority, const std::string& authorization) {
    HttpRequest request{"CONNECT", authority, "HTTP/1.1", {}};
    request.Add("Host", authority);
    if (!authorization.empty()) {
        request.Add("Proxy-Authorization", authorization);
    }
    return request;
}
